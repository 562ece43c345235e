// PackageBills and SetTranStatus against real branch databases: what each request yields,
// which statements reach the database, and what a failure leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/bill_records.h"
#include "data/data_trans.h"
#include "facade/bill_trans.h"
#include "host/shared_connection.h"
#include "host/user_messages.h"
#include "support/bill_statements.h"
#include "support/branch_env.h"
#include "support/exchange_records.h"

namespace orba::facade {
namespace {

using host::VariantDictionary;
using host::VariantVector;
using platform::MakeRef;
using platform::MessageIcon;
using platform::Ref;
using platform::Variant;
using platform::VarType;
using testing::BillsOf;
using testing::BranchEnv;
using testing::BranchRecord;
using testing::List;
using testing::Package;
using testing::Record;
using testing::Requests;
using testing::SqlTrace;
namespace key = data::key;
namespace sql = hostkit::testing;

// The sample group's second branch, to which the first branch addresses part of its bills.
constexpr std::string_view kBranchBNumber = "01.002";
constexpr std::string_view kBranchBName = "苏州锦程精密机械有限公司";
constexpr int kBranchBId = 2;

std::vector<int> InterIdsOf(const Ref<VariantVector>& bills) {
    std::vector<int> ids;
    if (!bills) return ids;
    for (int32_t i = 1; i <= bills->UpperBound(); ++i) {
        auto bill = platform::RefCast<VariantDictionary>(bills->Item(i).AsObject());
        ids.push_back(bill->Value(key::kBillInterID).ToLong());
    }
    return ids;
}

bool StartsWith(const std::string& s, std::string_view head) { return s.rfind(head, 0) == 0; }

class PackageBillsTest : public ::testing::Test {
protected:
    static hostkit::SampleOptions Options() {
        hostkit::SampleOptions o;
        o.branch = 1;
        o.orders = 14;
        o.notices = 10;
        o.returns = 8;
        o.lines = 3;
        return o;
    }

    // Bills of a table awaiting transmission to branch B, read straight from the database.
    std::vector<int> Awaiting(std::string_view table) {
        std::vector<int> ids;
        for (const auto& row : env_.Db().Rows(
                 "SELECT FInterID FROM " + std::string(table) + " WHERE FRelateBrID=" + std::to_string(kBranchBId) +
                 " AND (FTranStatus=0 OR FTranStatus IS NULL) AND FStatus IN (1,2) ORDER BY FInterID")) {
            ids.push_back(std::stoi(row[0]));
        }
        return ids;
    }

    hostkit::SampleOptions options_ = Options();
    BranchEnv env_{&options_};
    Ref<BillTrans> trans_ = MakeRef<BillTrans>();
    Ref<VariantDictionary> branch_b_ = BranchRecord(kBranchBNumber, kBranchBName);
};

TEST_F(PackageBillsTest, OnePackagePerRequestInRequestOrderWithTheTypeAsGiven) {
    const std::vector<int> orders = Awaiting("POOrder");
    const std::vector<int> notices = Awaiting("SEOutStock");
    ASSERT_FALSE(orders.empty());
    ASSERT_FALSE(notices.empty());

    auto requests = Requests({Variant(int16_t{503}), Variant(int32_t{501}), Variant(int32_t{504}), Variant(502.0)});
    Ref<VariantVector> list = trans_->PackageBills(requests, branch_b_);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->UpperBound(), 4);
    EXPECT_TRUE(env_.Ui().Messages().empty());

    struct Expected {
        int code;
        VarType stored_as;
        std::vector<int> ids;
        std::string_view entry_key;
    };
    const Expected expected[] = {
        {503, VarType::kInteger, notices, key::kNoticeEntry},
        {501, VarType::kLong, orders, key::kReqEntry},
        {504, VarType::kLong, {}, ""},
        {502, VarType::kDouble, notices, key::kNoticeEntry},
    };
    for (int32_t i = 1; i <= 4; ++i) {
        const Expected& e = expected[i - 1];
        SCOPED_TRACE(e.code);
        auto package = platform::RefCast<VariantDictionary>(list->Item(i).AsObject());
        ASSERT_TRUE(package);
        EXPECT_FALSE(package->Exists(key::kBillName));
        EXPECT_EQ(package->Value(key::kBillType).Type(), e.stored_as);
        EXPECT_EQ(package->Value(key::kBillType).ToLong(), e.code);
        if (e.code == 504) {
            EXPECT_FALSE(package->Exists(key::kBillsData));
            continue;
        }
        Ref<VariantVector> bills = BillsOf(list->Item(i));
        EXPECT_EQ(InterIdsOf(bills), e.ids);
        auto first = platform::RefCast<VariantDictionary>(bills->Item(1).AsObject());
        EXPECT_TRUE(first->Exists(e.entry_key));
        EXPECT_FALSE(first->Exists(e.entry_key == key::kReqEntry ? key::kNoticeEntry : key::kReqEntry));
    }
}

TEST_F(PackageBillsTest, DuplicateRequestsGiveTwoPackagesWithTheSameBills) {
    Ref<VariantVector> list = trans_->PackageBills(Requests({501, 501}), branch_b_);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->UpperBound(), 2);
    const std::vector<int> first = InterIdsOf(BillsOf(list->Item(1)));
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, InterIdsOf(BillsOf(list->Item(2))));
    EXPECT_EQ(first, Awaiting("POOrder"));
}

TEST_F(PackageBillsTest, AnEmptyRequestGivesAnEmptyListWithoutTouchingTheDatabase) {
    SqlTrace trace;
    Ref<VariantVector> list = trans_->PackageBills(MakeRef<VariantVector>(), branch_b_);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->UpperBound(), 0);
    EXPECT_TRUE(trace.Texts().empty());
    EXPECT_TRUE(env_.Ui().Messages().empty());
}

TEST_F(PackageBillsTest, EachKnownRequestSendsOneBranchLookupAndOneExtraction) {
    SqlTrace trace;
    Ref<VariantVector> list = trans_->PackageBills(Requests({501, 504, 503}), branch_b_);
    ASSERT_TRUE(list);
    const std::vector<std::string> texts = trace.Texts();
    ASSERT_EQ(texts.size(), 4u);
    const std::string lookup = sql::kBranchLookup + std::string(kBranchBNumber) + "' AND FName='" +
                               std::string(kBranchBName) + "'";
    const std::string selection = sql::kDownloadSelection + std::to_string(kBranchBId) + sql::kBillOrder;
    EXPECT_EQ(texts[0], lookup);
    EXPECT_EQ(texts[1], sql::kPurchaseOrderHead + selection);
    EXPECT_EQ(texts[2], lookup);
    EXPECT_EQ(texts[3], sql::kReturnNoticeHead + selection);
}

TEST_F(PackageBillsTest, ATypeWithNothingAwaitingHoldsNoObjectUnderBillsData) {
    env_.Db().Exec("UPDATE POOrder SET FTranStatus=1");
    Ref<VariantVector> list = trans_->PackageBills(Requests({501}), branch_b_);
    ASSERT_TRUE(list);
    auto package = platform::RefCast<VariantDictionary>(list->Item(1).AsObject());
    ASSERT_TRUE(package->Exists(key::kBillsData));
    EXPECT_TRUE(package->Value(key::kBillsData).IsNothing());
}

TEST_F(PackageBillsTest, AFailureIsShownAndGivesNothing) {
    struct Case {
        const char* name;
        Ref<platform::Object> branch;
        std::string_view in_description;
    };
    const Case cases[] = {
        {"unknown branch", BranchRecord("09.999", "Nobody"), "09.999"},
        {"no branch at all", {}, "Object required"},
        // A quote in the name stays inside the text: it must not widen the lookup to every branch.
        {"a quote in the name", BranchRecord(kBranchBNumber, "x' OR '1'='1"), "is not one of"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        env_.Ui().Clear();
        Ref<VariantVector> list = trans_->PackageBills(Requests({502, 501}), c.branch);
        EXPECT_FALSE(list);
        const auto messages = env_.Ui().Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(StartsWith(messages[0].text, kPackageFailed)) << messages[0].text;
        EXPECT_NE(messages[0].text.find(c.in_description), std::string::npos) << messages[0].text;
        EXPECT_EQ(messages[0].title, host::kMessageTitle);
        EXPECT_EQ(messages[0].icon, MessageIcon::kInformation);
    }
}

TEST(BillTransLifeTest, TheObjectSpansTheSharedConnection) {
    BranchEnv env;
    EXPECT_FALSE(host::SharedConnection());
    auto first = MakeRef<BillTrans>();
    Ref<platform::Object> first_connection = host::SharedConnection();
    EXPECT_TRUE(first_connection);
    auto second = MakeRef<BillTrans>();
    EXPECT_TRUE(host::SharedConnection());
    EXPECT_FALSE(host::SharedConnection() == first_connection);  // replaced by the newest
    first.Reset();
    EXPECT_FALSE(host::SharedConnection());  // the end of any object clears it
}

// SetTranStatus on a database with hand-made bills, so that internal numbers are known.
class SetTranStatusTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int id : {12, 13, 15, 20}) {
            env_.Db().Exec("INSERT INTO POOrder (FInterID, FBillNo, FDate, FSupplyID, FDeptID, FEmpID, FMangerID, "
                           "FBillerID, FCurrencyID, FStatus, FTranStatus) VALUES (" +
                           std::to_string(id) + ", 'PO" + std::to_string(id) + "', '2003-05-12', 1, 1, 1, 1, 1, 1, 1, 0)");
        }
        for (int id : {31, 32, 33}) {
            env_.Db().Exec("INSERT INTO SEOutStock (FInterID, FBillNo, FTranType, FDate, FCustID, FDeptID, FEmpID, "
                           "FManagerID, FBillerID, FCurrencyID, FStatus, FTranStatus) VALUES (" +
                           std::to_string(id) + ", 'SE" + std::to_string(id) + "', " + (id == 33 ? "82" : "83") +
                           ", '2003-05-12', 1, 1, 1, 1, 1, 1, 1, NULL)");
        }
    }

    // Internal numbers whose transmitted flag is 1.
    std::string Marked(std::string_view table) {
        std::string ids;
        for (const auto& row : env_.Db().Rows("SELECT FInterID FROM " + std::string(table) +
                                              " WHERE FTranStatus=1 ORDER BY FInterID")) {
            ids += (ids.empty() ? "" : ",") + row[0];
        }
        return ids;
    }

    static Variant Bill(Variant id) { return Variant(Record({{key::kBillID, Variant("X")}, {key::kBillInterID, id}})); }
    static Variant BillWithoutId() { return Variant(Record({{key::kBillID, Variant("X")}})); }

    BranchEnv env_;
    Ref<BillTrans> trans_ = MakeRef<BillTrans>();
};

TEST_F(SetTranStatusTest, OnePurchaseOrderPackageIsOneStatementOverAllItsBills) {
    SqlTrace trace;
    trans_->SetTranStatus(List({Variant(Package(501, Variant(List({Bill(12), Bill(15), Bill(20)}))))}));
    const auto texts = trace.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], " Update POOrder SET FTranStatus=1 WHERE FInterID In (12,15,20)");
    EXPECT_EQ(Marked("POOrder"), "12,15,20");
    EXPECT_EQ(Marked("SEOutStock"), "");
    EXPECT_TRUE(env_.Ui().Messages().empty());
}

TEST_F(SetTranStatusTest, WhatEachPackageSends) {
    struct Case {
        const char* name;
        Ref<VariantVector> list;
        std::vector<std::string> texts;
        std::string orders_marked;
        std::string notices_marked;
    };
    const std::string order_update = " Update POOrder SET FTranStatus=1 WHERE FInterID In (";
    const std::string notice_update = " Update SEOutStock SET FTranStatus=1 WHERE FInterID In (";
    const Case cases[] = {
        {"bills without an id, with id 0 or a Null id are left out",
         List({Variant(Package(501, Variant(List({BillWithoutId(), Bill(12), Bill(int16_t{0}), Bill(0.0),
                                                  Bill(Variant::Null()), Bill(13)}))))}),
         {order_update + "12,13)"}, "12,13", ""},
        {"a package with no bill left sends nothing",
         List({Variant(Package(501, Variant(List({BillWithoutId(), Bill(0)}))))}), {}, "", ""},
        {"return notices go through the notice update",
         List({Variant(Package(int16_t{503}, Variant(List({Bill(33)}))))}), {notice_update + "33)"}, "", "33"},
        {"one statement per package, in list order",
         List({Variant(Package(502, Variant(List({Bill(31), Bill(32)})))), Variant(Package(501, Variant(List({Bill(15)})))),
               Variant(Package(503, Variant(List({Bill(33)}))))}),
         {notice_update + "31,32)", order_update + "15)", notice_update + "33)"}, "15", "31,32,33"},
        {"another type, no bill list or an empty one sends nothing",
         List({Variant(Package(504, Variant(List({Bill(12)})))), Variant(Package(501, Variant::Nothing())),
               Variant(Record({{key::kBillType, Variant(501)}})), Variant(Package(502, Variant(List({}))))}),
         {}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        env_.Db().Exec("UPDATE POOrder SET FTranStatus=0; UPDATE SEOutStock SET FTranStatus=NULL");
        SqlTrace trace;
        trans_->SetTranStatus(c.list);
        EXPECT_EQ(trace.Texts(), c.texts);
        EXPECT_EQ(Marked("POOrder"), c.orders_marked);
        EXPECT_EQ(Marked("SEOutStock"), c.notices_marked);
        EXPECT_TRUE(env_.Ui().Messages().empty());
    }
}

TEST_F(SetTranStatusTest, AnUnreadablePackageStopsTheRestWithOneMessage) {
    SqlTrace trace;
    trans_->SetTranStatus(List({Variant(Package(501, Variant(List({Bill(12)})))),
                                Variant(Record({{key::kBillsData, Variant(List({Bill(13)}))}})),  // no BillType
                                Variant(Package(502, Variant(List({Bill(31)}))))}));
    EXPECT_EQ(trace.Texts().size(), 1u);
    EXPECT_EQ(Marked("POOrder"), "12");
    EXPECT_EQ(Marked("SEOutStock"), "");
    const auto messages = env_.Ui().Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(StartsWith(messages[0].text, kTranStatusFailed)) << messages[0].text;
    EXPECT_NE(messages[0].text.find("BillType"), std::string::npos) << messages[0].text;
}

TEST_F(SetTranStatusTest, AFailedUpdateIsShownByItselfAndTheNextPackageStillRuns) {
    env_.Db().Exec("ALTER TABLE POOrder RENAME TO POOrderAway");
    trans_->SetTranStatus(List({Variant(Package(501, Variant(List({Bill(12)})))),
                                Variant(Package(502, Variant(List({Bill(31)}))))}));
    EXPECT_EQ(Marked("SEOutStock"), "31");
    const auto messages = env_.Ui().Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(StartsWith(messages[0].text, data::kOrdTranStatusFailed)) << messages[0].text;
}

}  // namespace
}  // namespace orba::facade

namespace orba::facade {
namespace {

TEST_F(PackageBillsTest, ATypeIsComparedByItsValueSoAFractionOrNullIsNoKnownType) {
    struct Case {
        const char* name;
        Variant type;
        bool packaged;
    };
    const Case cases[] = {
        {"501.4", Variant(501.4), false},
        {"500.6", Variant(500.6), false},
        {"Null", Variant::Null(), false},
        {"Empty", Variant(), false},
        {"501 as a Decimal", Variant(platform::Decimal::Parse("501.0")), true},
        {"\"502\" as text", Variant("502"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        env_.Ui().Clear();
        Ref<VariantVector> list = trans_->PackageBills(Requests({c.type}), branch_b_);
        ASSERT_TRUE(list);
        EXPECT_TRUE(env_.Ui().Messages().empty());
        auto package = platform::RefCast<VariantDictionary>(list->Item(1).AsObject());
        EXPECT_EQ(package->Exists(key::kBillsData), c.packaged);
    }
}

}  // namespace
}  // namespace orba::facade
