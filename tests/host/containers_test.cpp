// The two containers that carry bills: the 1-based list and the keyed record, directly and
// through the member names that callers dispatch to.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "platform/error.h"
#include "platform/recordset.h"
#include "support/error_of.h"

namespace orba::host {
namespace {

using platform::Call;
using platform::Error;
using platform::ErrorCode;
using platform::GetProperty;
using platform::LetProperty;
using platform::MakeRef;
using platform::Object;
using platform::SetProperty;

using orba::testing::CodeOf;

TEST(VariantVector, IsOneBasedWithAgreeingBounds) {
    auto v = MakeRef<VariantVector>();
    EXPECT_EQ(v->LowerBound(), 1);
    EXPECT_EQ(v->UpperBound(), 0);  // so a loop from 1 does not run
    EXPECT_EQ(v->Add(Variant("a")), 1);
    EXPECT_EQ(v->Add(Variant(int32_t{2})), 2);
    EXPECT_EQ(v->UpperBound(), 2);
    EXPECT_EQ(v->Item(1), Variant("a"));
    EXPECT_EQ(v->Item(2), Variant(int32_t{2}));
    std::string why;
    for (int32_t bad : {0, 3, -1}) {
        EXPECT_EQ(CodeOf([&] { v->Item(bad); }, &why), ErrorCode::kSubscriptOutOfRange) << bad;
        EXPECT_NE(why.find(std::to_string(bad)), std::string::npos) << why;
    }
}

TEST(VariantVector, HoldsObjectsByReference) {
    auto outer = MakeRef<VariantVector>();
    auto record = MakeRef<VariantDictionary>();
    outer->Add(Variant(record));
    record->Let("Qty", Variant(int32_t{5}));  // changed after it was added
    auto seen = platform::RefCast<VariantDictionary>(outer->Item(1).AsObject());
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen.Get(), record.Get());
    EXPECT_EQ(seen->Value("Qty"), Variant(int32_t{5}));

    // A plain value is copied: changing the caller's variable later changes nothing inside.
    Variant plain("before");
    outer->Add(plain);
    plain = Variant("after");
    EXPECT_EQ(outer->Item(2), Variant("before"));
}

TEST(VariantVector, AnswersByMemberName) {
    Ref<Object> v = MakeRef<VariantVector>();
    Ref<Object> record = MakeRef<VariantDictionary>();
    EXPECT_EQ(Call(v, "Add", {Variant(record)}), Variant(int32_t{1}));
    EXPECT_EQ(Call(v, "ADD", {Variant("x")}), Variant(int32_t{2}));
    EXPECT_EQ(GetProperty(v, "LowerBound"), Variant(int32_t{1}));
    EXPECT_EQ(GetProperty(v, "upperbound"), Variant(int32_t{2}));
    EXPECT_EQ(GetProperty(v, "Item", {Variant(int16_t{1})}).AsObject(), record);
    EXPECT_EQ(GetProperty(v, "", {Variant("2")}), Variant("x"));
    EXPECT_EQ(CodeOf([&] { GetProperty(v, "Item", {Variant(int32_t{3})}); }),
              ErrorCode::kSubscriptOutOfRange);
    EXPECT_EQ(CodeOf([&] { GetProperty(v, "Item"); }), ErrorCode::kWrongArgumentCount);
}

TEST(VariantDictionary, KeepsStoreOrderAndReplacesOnLet) {
    auto d = MakeRef<VariantDictionary>();
    d->Let("BillNo", Variant("PO-1"));
    d->Let("Qty", Variant(int32_t{1}));
    d->Let("Amount", Variant(platform::Decimal(10)));
    d->Let("Qty", Variant(int32_t{2}));
    ASSERT_EQ(d->Size(), 3u);
    EXPECT_EQ(d->KeyAt(0), "BillNo");
    EXPECT_EQ(d->KeyAt(1), "Qty");
    EXPECT_EQ(d->KeyAt(2), "Amount");
    EXPECT_EQ(d->Value("Qty"), Variant(int32_t{2}));
    EXPECT_EQ(d->ValueOrDefault("BillInterID", Variant(int16_t{0})), Variant(int16_t{0}));
    EXPECT_EQ(d->ValueOrDefault("BillNo", Variant(int16_t{0})), Variant("PO-1"));
    std::string why;
    EXPECT_EQ(CodeOf([&] { d->Value("Missing"); }, &why), ErrorCode::kItemNotFound);
    EXPECT_NE(why.find("Missing"), std::string::npos) << why;
}

// Keys are shared between records, up to a limit; past it (distinct keys by the ten
// thousand, from outside) each record keeps its own, and every key still reads back.
TEST(VariantDictionary, KeysBeyondTheSharedTableStillReadBack) {
    std::vector<Ref<VariantDictionary>> records;
    for (int r = 0; r < 20; ++r) {
        auto record = MakeRef<VariantDictionary>();
        for (int k = 0; k < 1000; ++k) record->Let(fmt::format("key-{}-{}", r, k), Variant(r * 1000 + k));
        records.push_back(record);
    }
    for (int r = 0; r < 20; ++r) {
        ASSERT_EQ(records[r]->Size(), 1000u);
        for (int k = 0; k < 1000; k += 97) {
            EXPECT_EQ(records[r]->KeyAt(static_cast<size_t>(k)), fmt::format("key-{}-{}", r, k));
            EXPECT_EQ(records[r]->Value(fmt::format("key-{}-{}", r, k)), Variant(r * 1000 + k));
        }
    }
}

// Around the size where a record starts indexing its keys, and past it: keys a builder gives
// (shared) and keys given as text, added, replaced and looked up in any mix.
TEST(VariantDictionary, ARecordFindsEveryKeyAtAnySize) {
    for (size_t n : {VariantDictionary::kIndexFrom, VariantDictionary::kIndexFrom + 1, size_t{300}}) {
        auto record = MakeRef<VariantDictionary>();
        auto key = [](size_t i) { return fmt::format("Field{}", i); };
        for (size_t i = 0; i < n; ++i) {
            i % 2 ? record->Append(RecordKey(key(i)), Variant(int32_t(i))) : record->Let(key(i), Variant(int32_t(i)));
        }
        for (size_t i = 0; i < n; i += 3) record->Put(RecordKey(key(i)), Variant("again"));
        ASSERT_EQ(record->Size(), n);
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(record->KeyAt(i), key(i));
            EXPECT_EQ(record->Value(key(i)), i % 3 ? Variant(int32_t(i)) : Variant("again")) << i;
        }
        EXPECT_FALSE(record->Exists("Field"));
    }
}

TEST(VariantDictionary, SetKeepsTheSameObject) {
    auto d = MakeRef<VariantDictionary>();
    auto entries = MakeRef<VariantVector>();
    d->Set("Entries", entries);
    entries->Add(Variant("line 1"));
    auto read = platform::RefCast<VariantVector>(d->Value("Entries").AsObject());
    ASSERT_EQ(read.Get(), entries.Get());
    EXPECT_EQ(read->UpperBound(), 1);
}

TEST(VariantDictionary, LetWithAFieldStoresItsValueAtThatMoment) {
    auto rs = MakeRef<platform::RecordSet>();
    rs->AppendField("FQty", platform::FieldType::kInteger);
    rs->Open();
    for (int16_t q : {7, 8}) {
        rs->AddNew();
        rs->SetValue("FQty", Variant(q));
    }
    rs->MoveFirst();
    Ref<Object> field = GetProperty(rs, "Fields", {Variant("FQty")}).ToObject();

    auto d = MakeRef<VariantDictionary>();
    d->Let("Qty", Variant(field));
    LetProperty(d, "Value", {Variant("QtyByName")}, Variant(field));
    rs->MoveNext();
    rs->Close();  // the record set moves on and is closed; the record keeps its values
    EXPECT_EQ(d->Value("Qty"), Variant(int32_t{7}));
    EXPECT_FALSE(d->Value("Qty").IsObject());
    EXPECT_EQ(d->Value("QtyByName"), Variant(int32_t{7}));
}

TEST(VariantDictionary, AnswersValueByMemberName) {
    Ref<Object> d = MakeRef<VariantDictionary>();
    Ref<Object> nested = MakeRef<VariantVector>();
    LetProperty(d, "Value", {Variant("FInterID")}, Variant(int32_t{1001}));
    LetProperty(d, "VALUE", {Variant("FTranType")}, Variant(int16_t{71}));
    SetProperty(d, "Value", {Variant("BillsData")}, nested);
    LetProperty(d, "", {Variant("FInterID")}, Variant(int32_t{1002}));  // default member, replaces

    EXPECT_EQ(GetProperty(d, "Value", {Variant("FInterID")}), Variant(int32_t{1002}));
    EXPECT_EQ(GetProperty(d, "value", {Variant("FTranType")}), Variant(int16_t{71}));
    EXPECT_EQ(GetProperty(d, "Value", {Variant("BillsData")}).AsObject(), nested);
    EXPECT_EQ(GetProperty(d, "", {Variant("FTranType")}), Variant(int16_t{71}));
    EXPECT_EQ(Call(d, "ValueOrDefault", {Variant("BillInterID"), Variant(int16_t{0})}),
              Variant(int16_t{0}));
    EXPECT_EQ(Call(d, "ValueOrDefault", {Variant("FInterID"), Variant(int16_t{0})}),
              Variant(int32_t{1002}));
    EXPECT_EQ(GetProperty(d, "Count"), Variant(int32_t{3}));

    EXPECT_EQ(CodeOf([&] { GetProperty(d, "Value", {Variant("Nope")}); }),
              ErrorCode::kItemNotFound);
    SetProperty(d, "Value", {Variant("Released")}, Ref<Object>());
    EXPECT_TRUE(GetProperty(d, "Value", {Variant("Released")}).IsNothing());
    std::vector<Variant> plain{Variant("K"), Variant(int32_t{1})};
    EXPECT_EQ(CodeOf([&] { platform::CallByName(d, "Value", platform::CallKind::kSet, plain); }),
              ErrorCode::kObjectRequired)
        << "a set needs an object";
}

}  // namespace
}  // namespace orba::host
