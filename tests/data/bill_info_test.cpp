// The one-row summary of a bill read from a real branch database.
#include <gtest/gtest.h>

#include "data/data_fixtures.h"
#include "host/shared_connection.h"

namespace orba::data::testing {
namespace {

using platform::MakeRef;
using platform::RecordSet;

class BillInfo : public ::testing::Test {
protected:
    void SetUp() override {
        AddOrder(env_.Db(), {.inter_id = 12, .bill_no = "PO-12", .supplier = 2});
        AddOrder(env_.Db(), {.inter_id = 13, .bill_no = "PO-13", .relate_br = "NULL"});
        AddNotice(env_.Db(), {.inter_id = 21, .bill_no = "DN-21", .tran_type = 83});
        AddNotice(env_.Db(), {.inter_id = 22, .bill_no = "RN-22", .tran_type = 82, .relate_br = "4"});
    }

    Ref<RecordSet> Info(int32_t tran_type, int32_t inter_id) {
        Ref<platform::Object> result = data_->GetBillInfo(tran_type, inter_id);
        auto set = platform::RefCast<RecordSet>(result);
        EXPECT_TRUE(set) << "a record set";
        return set;
    }

    DataEnv env_;
    Ref<DataTrans> data_ = MakeRef<DataTrans>();
};

TEST_F(BillInfo, SummaryRowNamesThePartnerAndTheRelatedBranch) {
    struct Case {
        int32_t tran_type;
        int32_t inter_id;
        int32_t stored_type;
        const char* bill_no;
        const char* company;
        const char* branch;  // nullptr: Null
    };
    const Case cases[] = {
        {71, 12, 71, "PO-12", "Supplier Two", "Branch Two"},
        {71, 13, 71, "PO-13", "Supplier One", nullptr},
        {83, 21, 83, "DN-21", "Customer One", "Branch Two"},
        {82, 22, 82, "RN-22", "Customer One", "North  Side"},
        // The notice statement serves both notice types: the type given only picks the table.
        {82, 21, 83, "DN-21", "Customer One", "Branch Two"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bill_no);
        auto set = Info(c.tran_type, c.inter_id);
        ASSERT_TRUE(set);
        ASSERT_EQ(set->RecordCount(), 1);
        ASSERT_FALSE(set->Eof());
        std::vector<std::string> names;
        for (size_t i = 0; i < set->FieldCount(); ++i) names.push_back(set->Field(i).name);
        EXPECT_EQ(names, (std::vector<std::string>{"FTranType", "FInterID", "FDate", "FBillNo", "FCompanyName",
                                                   "FRelateBrName"}));
        EXPECT_EQ(set->Value("FTranType"), Variant(c.stored_type));
        EXPECT_EQ(set->Value("FInterID"), Variant(c.inter_id));
        EXPECT_EQ(set->Value("FDate"), Variant(platform::Date::FromParts(2024, 3, 5)));
        EXPECT_EQ(set->Value("FBillNo"), Variant(c.bill_no));
        EXPECT_EQ(set->Value("FCompanyName"), Variant(c.company));
        EXPECT_EQ(set->Value("FRelateBrName"), c.branch ? Variant(c.branch) : Variant::Null());
    }
}

TEST_F(BillInfo, MissingBillGivesAnEmptyRecordSet) {
    for (auto [type, id] : std::initializer_list<std::pair<int32_t, int32_t>>{{71, 999}, {71, 21}, {83, 12}}) {
        auto set = Info(type, id);
        ASSERT_TRUE(set);
        EXPECT_EQ(set->RecordCount(), 0);
        EXPECT_TRUE(set->Eof());
    }
}

TEST_F(BillInfo, OtherTransactionTypesGiveNothingWithoutTouchingTheDatabase) {
    // Without a shared connection any statement would fail; these run none.
    host::SetSharedConnection({});
    for (int32_t type : {81, 84, 0, 501, 72, -83}) {
        EXPECT_TRUE(data_->GetBillInfo(type, 12).IsNothing()) << type;
    }
    EXPECT_EQ(ErrorOf([&] { data_->GetBillInfo(71, 12); }).Code(), platform::ErrorCode::kObjectRequired);
}

}  // namespace
}  // namespace orba::data::testing

namespace orba::data::testing {
namespace {

TEST(BillInfoConnection, AnAnswerThatIsNoRecordSetIsAnErrorNotNothing) {
    DataEnv env;
    for (Variant answer : {Variant(), Variant::Nothing(), Variant(int32_t{0})}) {
        SCOPED_TRACE(answer.TypeName());
        // A host connection whose Execute hands back a plain value, or no object.
        platform::ScopedClassRegistration plain{host::kAppConnectionProgId, [answer] {
                                                    return MakeScriptedObject(
                                                        "PlainConnection",
                                                        [answer](std::string_view, platform::CallKind, std::span<Variant>) {
                                                            return answer;
                                                        });
                                                }};
        host::SetSharedConnection(platform::CreateObject(host::kAppConnectionProgId));
        const platform::Error e = ErrorOf([] { MakeRef<DataTrans>()->GetBillInfo(71, 12); });
        EXPECT_NE(e.Description().find("instead of a record set"), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find("bill 12"), std::string::npos) << e.Description();
        host::SetSharedConnection({});
    }
}

}  // namespace
}  // namespace orba::data::testing
