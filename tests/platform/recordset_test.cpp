// Record sets: building an in-memory set, moving through it, reading values, and the same
// through the member names that late-bound callers use.
#include "platform/recordset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "support/error_of.h"

namespace orba::platform {
namespace {

using orba::testing::CodeOf;

// Three rows: (FInterID Long, FBillNo text, FQty decimal).
Ref<RecordSet> ThreeBills() {
    auto rs = MakeRef<RecordSet>();
    rs->AppendField("FInterID", FieldType::kInteger);
    rs->AppendField("FBillNo", FieldType::kVarChar, 50);
    rs->AppendField("FQty", FieldType::kDecimal);
    rs->Open();
    const char* numbers[] = {"PO-1", "PO-2", "PO-3"};
    for (int i = 0; i < 3; ++i) {
        rs->AddNew();
        rs->SetValue("FInterID", Variant(int16_t(i + 1)));
        rs->SetValue("FBillNo", Variant(numbers[i]));
        rs->SetValue("FQty", Variant("2.50"));
        rs->Update();
    }
    rs->MoveFirst();
    return rs;
}

TEST(RecordSet, StoresValuesInTheFieldsKinds) {
    auto rs = MakeRef<RecordSet>();
    rs->AppendField("Qty", FieldType::kInteger);
    rs->AppendField("Small", FieldType::kSmallInt);
    rs->AppendField("Price", FieldType::kNumeric);
    rs->AppendField("When", FieldType::kDate);
    rs->AppendField("Note", FieldType::kVarWChar);
    rs->AppendField("Flag", FieldType::kBoolean);
    rs->AppendField("Any", FieldType::kVariant);
    rs->Open();
    rs->AddNew();
    rs->SetValue("Qty", Variant("12"));
    rs->SetValue("Small", Variant(3.0));
    rs->SetValue("Price", Variant("19.90"));
    rs->SetValue("When", Variant("2003-05-12"));
    rs->SetValue("Note", Variant(int32_t{7}));
    rs->SetValue("Flag", Variant("true"));
    rs->SetValue("Any", Variant(int16_t{5}));
    rs->Update();
    EXPECT_EQ(rs->Value("Qty"), Variant(int32_t{12}));
    EXPECT_EQ(rs->Value("Small"), Variant(int16_t{3}));
    EXPECT_EQ(rs->Value("Price"), Variant(Decimal::Parse("19.9")));
    EXPECT_EQ(rs->Value("When"), Variant(Date::FromParts(2003, 5, 12)));
    EXPECT_EQ(rs->Value("Note"), Variant("7"));
    EXPECT_EQ(rs->Value("Flag"), Variant(true));
    EXPECT_EQ(rs->Value("Any"), Variant(int16_t{5}));
    // Null and Empty stay what they are in any field.
    rs->SetValue("Qty", Variant::Null());
    EXPECT_TRUE(rs->Value("Qty").IsNull());

    std::string why;
    EXPECT_EQ(CodeOf([&] { rs->SetValue("Qty", Variant("twelve")); }, &why),
              ErrorCode::kTypeMismatch);
    EXPECT_NE(why.find("Qty"), std::string::npos) << why;
    EXPECT_EQ(CodeOf([&] { rs->SetValue("Small", Variant(int32_t{70000})); }),
              ErrorCode::kOverflow);
}

TEST(RecordSet, MovesBetweenBofAndEof) {
    auto rs = ThreeBills();
    EXPECT_EQ(rs->RecordCount(), 3);
    EXPECT_FALSE(rs->Bof());
    std::vector<std::string> seen;
    while (!rs->Eof()) {
        seen.push_back(rs->Value("fbillno").ToText());
        rs->MoveNext();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"PO-1", "PO-2", "PO-3"}));
    EXPECT_EQ(CodeOf([&] { rs->MoveNext(); }), ErrorCode::kNoCurrentRecord);
    EXPECT_EQ(CodeOf([&] { rs->Value("FBillNo"); }), ErrorCode::kNoCurrentRecord);

    rs->MoveFirst();
    rs->Move(2);
    EXPECT_EQ(rs->Value("FInterID"), Variant(int32_t{3}));
    rs->Move(10);  // past the end stops at EOF
    EXPECT_TRUE(rs->Eof());
    rs->MoveLast();
    EXPECT_EQ(rs->Value("FInterID"), Variant(int32_t{3}));
    rs->Move(-5);  // past the start stops at BOF
    EXPECT_TRUE(rs->Bof());
    EXPECT_EQ(CodeOf([&] { rs->MovePrevious(); }), ErrorCode::kNoCurrentRecord);
    rs->MoveNext();
    EXPECT_EQ(rs->Value("FInterID"), Variant(int32_t{1}));
}

TEST(RecordSet, AnEmptySetIsAtBothEnds) {
    auto rs = MakeRef<RecordSet>();
    rs->AppendField("A", FieldType::kInteger);
    rs->Open();
    EXPECT_TRUE(rs->Eof());
    EXPECT_TRUE(rs->Bof());
    EXPECT_EQ(rs->RecordCount(), 0);
    EXPECT_EQ(CodeOf([&] { rs->SetValue("A", Variant(int16_t{1})); }), ErrorCode::kNoCurrentRecord);
}

TEST(RecordSet, ResultSetsStartOnTheFirstRow) {
    RecordSet rs({FieldInfo{"FName"}, FieldInfo{"FNumber"}},
                 {Variant("a"), Variant(int32_t{1}), Variant("b"), Variant(int32_t{2})});
    EXPECT_EQ(rs.RecordCount(), 2);
    EXPECT_EQ(rs.Value(size_t{0}), Variant("a"));
    EXPECT_EQ(rs.TakeValue(1), Variant(int32_t{1}));
    rs.MoveNext();
    EXPECT_EQ(rs.Value("FNUMBER"), Variant(int32_t{2}));
}

TEST(RecordSet, FieldErrorsNameTheField) {
    auto rs = ThreeBills();
    std::string why;
    EXPECT_EQ(CodeOf([&] { rs->Value("FNoSuch"); }, &why), ErrorCode::kItemNotFound);
    EXPECT_NE(why.find("FNoSuch"), std::string::npos) << why;
    EXPECT_EQ(CodeOf([&] { rs->AppendField("X", FieldType::kInteger); }),
              ErrorCode::kInvalidProcedureCall);
}

TEST(RecordSet, FieldPositionsOutOfRangeAreRefused) {
    auto rs = ThreeBills();
    rs->MoveNext();
    const Variant before = rs->Value(size_t{0});
    EXPECT_EQ(CodeOf([&] { rs->Value(size_t{3}); }), ErrorCode::kItemNotFound);
    EXPECT_EQ(CodeOf([&] { rs->SetValue(size_t{3}, Variant(int32_t{99})); }),
              ErrorCode::kItemNotFound);
    EXPECT_EQ(CodeOf([&] { rs->TakeValue(size_t{7}); }), ErrorCode::kItemNotFound);
    // Nothing spilled into the next row.
    rs->MoveNext();
    EXPECT_EQ(rs->Value(size_t{0}), Variant(int32_t{3}));
    rs->MovePrevious();
    EXPECT_EQ(rs->Value(size_t{0}), before);
}

TEST(RecordSet, ClosedSetsRefuseReading) {
    auto rs = ThreeBills();
    rs->Close();
    EXPECT_FALSE(rs->IsOpen());
    EXPECT_EQ(CodeOf([&] { rs->Eof(); }), ErrorCode::kInvalidProcedureCall);
    EXPECT_EQ(CodeOf([&] { rs->RecordCount(); }), ErrorCode::kInvalidProcedureCall);
}

// The same set driven only by member names, the way outside components use it.
TEST(RecordSet, AnswersLateBoundCalls) {
    Ref<Object> rs = MakeRef<RecordSet>();
    Ref<Object> fields = GetProperty(rs, "Fields").ToObject();
    Call(fields, "Append", {Variant("FName"), Variant(int32_t{200}), Variant(int32_t{80})});
    Call(fields, "Append", {Variant("FQty"), Variant(int32_t{3})});
    EXPECT_EQ(GetProperty(fields, "Count"), Variant(int32_t{2}));
    Call(rs, "Open");
    Call(rs, "AddNew");
    LetProperty(GetProperty(rs, "Fields", {Variant("fname")}).ToObject(), "Value", {},
                Variant("bolt"));
    LetProperty(GetProperty(rs, "Fields", {Variant("FQty")}).ToObject(), "Value", {},
                Variant("12"));
    Call(rs, "Update");
    Call(rs, "AddNew");
    LetProperty(GetProperty(rs, "", {Variant("FName")}).ToObject(), "", {}, Variant("nut"));
    Call(rs, "Update");
    Call(rs, "MoveFirst");

    EXPECT_EQ(GetProperty(rs, "RecordCount"), Variant(int32_t{2}));
    EXPECT_EQ(GetProperty(rs, "eof"), Variant(false));
    Ref<Object> name = GetProperty(rs, "Fields", {Variant("FName")}).ToObject();
    EXPECT_EQ(GetProperty(name, "Value"), Variant("bolt"));
    EXPECT_EQ(GetProperty(name, "Name"), Variant("FName"));
    EXPECT_EQ(GetProperty(name, "DefinedSize"), Variant(int32_t{80}));
    EXPECT_EQ(GetProperty(GetProperty(rs, "Fields", {Variant("FQty")}).ToObject(), "Value"),
              Variant(int32_t{12}));
    EXPECT_EQ(GetProperty(GetProperty(rs, "Fields", {Variant(int32_t{1})}).ToObject(), "Name"),
              Variant("FQty"));
    Call(rs, "MoveNext");
    // A field object reads the row that is current when it is read, not when it was made.
    EXPECT_EQ(GetProperty(name, "Value"), Variant("nut"));
    EXPECT_TRUE(
        GetProperty(GetProperty(rs, "Fields", {Variant("FQty")}).ToObject(), "Value").IsEmpty());
    Call(rs, "MoveNext");
    EXPECT_EQ(GetProperty(rs, "EOF"), Variant(true));

    std::string why;
    EXPECT_EQ(CodeOf([&] { Call(rs, "MoveNext"); }), ErrorCode::kNoCurrentRecord);
    EXPECT_EQ(CodeOf([&] { GetProperty(rs, "Fields", {Variant("FPrice")}); }, &why),
              ErrorCode::kItemNotFound);
    EXPECT_NE(why.find("FPrice"), std::string::npos) << why;
    EXPECT_EQ(CodeOf([&] { GetProperty(rs, "Fields", {Variant(int32_t{2})}); }),
              ErrorCode::kItemNotFound);
    EXPECT_EQ(CodeOf([&] { LetProperty(rs, "EOF", {}, Variant(true)); }),
              ErrorCode::kWrongArgumentCount);
    EXPECT_EQ(CodeOf([&] { Call(rs, "Requery"); }, &why), ErrorCode::kMemberNotFound);
    EXPECT_NE(why.find("Requery"), std::string::npos) << why;
}

}  // namespace
}  // namespace orba::platform
