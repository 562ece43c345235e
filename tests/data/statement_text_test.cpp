// The exact texts bill data access hands to the host connection, CR LF included, and which
// connection each one goes to: the shared one, or one made for the call.
#include <gtest/gtest.h>

#include <functional>

#include "data/data_fixtures.h"
#include "host/shared_connection.h"
#include "platform/ui_services.h"
#include "support/bill_statements.h"

namespace orba::data::testing {
namespace {

namespace stmt = hostkit::testing;
using platform::MakeRef;
using Calls = std::vector<std::pair<int, std::string>>;

constexpr int kShared = 1;  // the connection set up as the shared one
constexpr int kFresh = 2;   // the first connection made by the method itself

class StatementText : public ::testing::Test {
protected:
    void SetUp() override {
        connection_.Log().answer = [this](const std::string& sql) -> Ref<platform::Object> {
            if (sql.rfind("SELECT FItemID", 0) == 0) return MakeRows({"FItemID"}, {{{"FItemID", Variant(int32_t{7})}}});
            return MakeRows(ExtractionColumns(kind_), {});
        };
    }

    Calls Recorded() {
        Calls calls;
        for (const auto& c : connection_.Log().calls) calls.emplace_back(c.instance, c.sql);
        return calls;
    }

    // The real components first, so the stand-ins below replace them for this test only.
    bool registered_ = (orba::testing::RegisterEverything(), true);
    std::shared_ptr<platform::RecordingUiService> ui_ = std::make_shared<platform::RecordingUiService>();
    platform::ScopedUiService ui_scope_{ui_};
    FakeSysInfo sys_info_;
    RecordingConnection connection_;
    BillKind kind_ = BillKind::kPurchaseOrder;
    Ref<DataTrans> data_ = MakeRef<DataTrans>();
};

struct ExtractionCase {
    const char* name;
    BillKind kind;
    const std::string* head;
    friend void PrintTo(const ExtractionCase& c, std::ostream* os) { *os << c.name; }
};

const ExtractionCase kExtractions[] = {
    {"PurchaseOrders", BillKind::kPurchaseOrder, &stmt::kPurchaseOrderHead},
    {"DeliveryNotices", BillKind::kDeliveryNotice, &stmt::kDeliveryNoticeHead},
    {"ReturnNotices", BillKind::kReturnNotice, &stmt::kReturnNoticeHead},
};

class ExtractionText : public StatementText, public ::testing::WithParamInterface<ExtractionCase> {};

TEST_P(ExtractionText, ListedBillsAreSelectedByTheirInternalNumbers) {
    kind_ = GetParam().kind;
    auto bills = Extract(*data_, kind_, "12,15", false, {});
    EXPECT_TRUE(bills.IsNothing());
    EXPECT_EQ(Recorded(), (Calls{{kShared, *GetParam().head + " AND v1.FInterID IN ( 12,15)" + stmt::kBillOrder}}));
    EXPECT_EQ(connection_.Log().instances, 1);
}

TEST_P(ExtractionText, DownloadLooksUpTheBranchFirstThenSelectsWhatAwaitsIt) {
    kind_ = GetParam().kind;
    // The list is ignored when the bills are for download.
    auto bills = Extract(*data_, kind_, "99", true, Branch("BR02", "Branch Two"));
    EXPECT_TRUE(bills.IsNothing());
    EXPECT_EQ(Recorded(),
              (Calls{{kShared, "SELECT FItemID FROM t_SonCompany WHERE FNumber='BR02' AND FName='Branch Two'"},
                     {kShared, *GetParam().head +
                                   " AND (v1.FTranStatus=0 OR v1.FTranStatus is NULL) and v1.FStatus IN (1,2) AND "
                                   "v1.FRelateBrID=7" +
                                   stmt::kBillOrder}}));
    EXPECT_EQ(connection_.Log().instances, 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExtractionText, ::testing::ValuesIn(kExtractions),
                         [](const auto& info) { return std::string(info.param.name); });

struct BillInfoCase {
    int32_t tran_type;
    int32_t inter_id;
    std::optional<std::string> text;
};

TEST_F(StatementText, BillInfoChoosesTheTableByTransactionTypeAndRunsNothingForOthers) {
    const BillInfoCase cases[] = {
        {71, 15, stmt::kOrderSummary + "15"},
        {82, 7, stmt::kNoticeSummary + "7"},
        {83, 2147483647, stmt::kNoticeSummary + "2147483647"},
        {71, -5, stmt::kOrderSummary + "-5"},
        {81, 15, std::nullopt},
        {84, 15, std::nullopt},
        {0, 15, std::nullopt},
        {501, 15, std::nullopt},
        {-71, 15, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tran_type);
        connection_.Log().calls.clear();
        auto canned = MakeRows({"FInterID"}, {});
        connection_.Log().answer = [canned](const std::string&) { return Ref<platform::Object>(canned); };
        Ref<platform::Object> result = data_->GetBillInfo(c.tran_type, c.inter_id);
        if (c.text) {
            EXPECT_EQ(Recorded(), (Calls{{kShared, *c.text}}));
            EXPECT_EQ(result.Get(), canned.Get()) << "the connection's own record set is handed back";
        } else {
            EXPECT_TRUE(Recorded().empty());
            EXPECT_TRUE(result.IsNothing());
        }
    }
}

struct UpdateCase {
    const char* name;
    std::function<void(DataTrans&)> call;
    Calls expected;
    friend void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.name; }
};

// Written out by hand: the second statement starts right after the first one's closing quote.
const std::string kTwoOrderUnset =
    "Update v1 SET v1.FTranStatus=0 \r\nFROM POOrder v1 \r\nWHERE v1.FBillNo='A1'"
    "Update v1 SET v1.FTranStatus=0 \r\nFROM POOrder v1 \r\nWHERE v1.FBillNo='A2'";

std::string AffirmStatusText(char flag) {
    const std::string one = std::string("Update v1 SET v1.FOrderAffirm=") + flag + "\r\nFROM POOrder v1 \r\nWHERE v1.FBillNo='";
    return one + "A1'" + one + "A2'";
}

Ref<host::VariantVector> TwoOrders() {
    return MakeList({Variant(MakeDict({{"BillID", Variant("A1")}})), Variant(MakeDict({{"BillID", Variant("A2")}}))});
}

const UpdateCase kUpdates[] = {
    {"SetOrdTranStatus", [](DataTrans& d) { d.SetOrdTranStatus("12,15"); },
     {{kShared, " Update POOrder SET FTranStatus=1 WHERE FInterID In (12,15)"}}},
    {"SetNoticeTranStatus", [](DataTrans& d) { d.SetNoticeTranStatus("12,15"); },
     {{kShared, " Update SEOutStock SET FTranStatus=1 WHERE FInterID In (12,15)"}}},
    {"UnSetOrdTranStatusTwoOrders", [](DataTrans& d) { d.UnSetOrdTranStatus(TwoOrders()); },
     {{kFresh, kTwoOrderUnset}}},
    {"SetOrderAffirmStatusNonZeroWritesOne", [](DataTrans& d) { d.SetOrderAffirmStatus(TwoOrders(), 5); },
     {{kFresh, AffirmStatusText('1')}}},
    {"SetOrderAffirmStatusNegativeWritesOne", [](DataTrans& d) { d.SetOrderAffirmStatus(TwoOrders(), -1); },
     {{kFresh, AffirmStatusText('1')}}},
    {"SetOrderAffirmStatusZeroWritesTwo", [](DataTrans& d) { d.SetOrderAffirmStatus(TwoOrders(), 0); },
     {{kFresh, AffirmStatusText('2')}}},
    {"AffirmPurchaseOrderTwoLines",
     [](DataTrans& d) {
         d.AffirmPurchaseOrder(MakeList(
             {Variant(MakeDict({{"BillID", Variant("A1")}, {"EntryID", Variant(int32_t{1})}, {"Qty", Variant(int32_t{3})}})),
              Variant(MakeDict({{"BillID", Variant("A2")}, {"EntryID", Variant(int32_t{2})}, {"Qty", Dec("2.5")}}))}));
     },
     {{kFresh, stmt::AffirmPurchaseOrderBatch({{"A1", "1", "3"}, {"A2", "2", "2.5"}})}}},
};

class UpdateText : public StatementText, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateText, WholeBatchGoesInOneExecuteOnTheRightConnection) {
    GetParam().call(*data_);
    EXPECT_EQ(Recorded(), GetParam().expected);
    EXPECT_TRUE(ui_->Messages().empty()) << ui_->Messages().front().text;
}

INSTANTIATE_TEST_SUITE_P(Updates, UpdateText, ::testing::ValuesIn(kUpdates),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatementText, EmptyVectorMakesNoConnectionAndRunsNothing) {
    const std::function<void(DataTrans&)> calls[] = {
        [](DataTrans& d) { d.UnSetOrdTranStatus(MakeList({})); },
        [](DataTrans& d) { d.SetOrderAffirmStatus(MakeList({}), 1); },
        [](DataTrans& d) { d.AffirmPurchaseOrder(MakeList({})); },
    };
    for (const auto& call : calls) call(*data_);
    EXPECT_TRUE(Recorded().empty());
    EXPECT_EQ(connection_.Log().instances, 1) << "only the shared connection was ever made";
    EXPECT_TRUE(ui_->Messages().empty());
}

TEST_F(StatementText, EachFreshCallMakesItsOwnConnectionAndNeedsNoSharedOne) {
    host::SetSharedConnection({});
    data_->UnSetOrdTranStatus(TwoOrders());
    data_->SetOrderAffirmStatus(TwoOrders(), 1);
    data_->AffirmPurchaseOrder(MakeList({Variant(
        MakeDict({{"BillID", Variant("A1")}, {"EntryID", Variant(int32_t{1})}, {"Qty", Variant(int32_t{1})}}))}));
    std::vector<int> instances;
    for (const auto& c : connection_.Log().calls) instances.push_back(c.instance);
    EXPECT_EQ(instances, (std::vector<int>{2, 3, 4}));
    EXPECT_TRUE(ui_->Messages().empty());
}

TEST_F(StatementText, SharedConnectionUpdatesFailVisiblyWithoutOne) {
    host::SetSharedConnection({});
    data_->SetOrdTranStatus("1");
    data_->SetNoticeTranStatus("1");
    EXPECT_TRUE(Recorded().empty());
    ASSERT_EQ(ui_->Messages().size(), 2u);
    EXPECT_EQ(ui_->Messages()[0].text.rfind("更新订单传输标志失败。Object required", 0), 0u) << ui_->Messages()[0].text;
    EXPECT_EQ(ui_->Messages()[1].text.rfind("更新通知单传输标志失败。Object required", 0), 0u) << ui_->Messages()[1].text;
}

}  // namespace
}  // namespace orba::data::testing
