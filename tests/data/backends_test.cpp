// The bill statements on both backends: from the same sample data a SQLite branch and a
// PostgreSQL branch extract the very same records (old-style outer joins, sub-selects, exact
// amounts), and the status updates (UPDATE alias ... FROM, ROUND to the currency's scale)
// leave the very same rows.
#include <gtest/gtest.h>

#include <functional>

#include "data/data_fixtures.h"
#include "host/shared_connection.h"
#include "support/backend_branch.h"

namespace orba::data::testing {
namespace {

using orba::testing::Backend;
using orba::testing::BackendBranch;
using platform::MakeRef;

hostkit::SampleOptions Sample() {
    hostkit::SampleOptions o;
    o.branch = 1;
    o.orders = 8;
    o.notices = 6;
    o.returns = 4;
    o.lines = 4;
    o.seed = 11;
    return o;
}

// What one branch gives back: every extraction, then the tables after the status updates.
std::string Exchange(Backend backend) {
    const hostkit::SampleOptions sample = Sample();
    BackendBranch branch(backend, &sample);
    host::SetSharedConnection(platform::CreateObject(host::kAppConnectionProgId));
    auto data = MakeRef<DataTrans>();
    const hostkit::BranchInfo to = hostkit::SampleGroupBranches().at(1);
    std::string out;
    for (BillKind kind : {BillKind::kPurchaseOrder, BillKind::kDeliveryNotice, BillKind::kReturnNotice}) {
        out += Json(Variant(Extract(*data, kind, "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18"))) + "\n";
        out += Json(Variant(Extract(*data, kind, "", true, Branch(to.number, to.name)))) + "\n";
    }
    data->SetOrdTranStatus("1,3");
    data->SetNoticeTranStatus("2");
    data->AffirmPurchaseOrder(MakeList({Variant(MakeDict({{"BillID", Variant("POOR01-000002")},
                                                          {"EntryID", Variant(int32_t{1})},
                                                          {"Qty", Dec("2.675")}}))}));
    data->SetOrderAffirmStatus(MakeList({Variant(MakeDict({{"BillID", Variant("POOR01-000004")}}))}), 1);
    data->UnSetOrdTranStatus(MakeList({Variant(MakeDict({{"BillID", Variant("POOR01-000003")}}))}));
    out += branch.Rows("SELECT FInterID, FTranStatus, FOrderAffirm FROM POOrder ORDER BY FInterID");
    out += branch.Rows("SELECT FInterID, FEntryID, FAuxQty, FAmount FROM POOrderEntry ORDER BY FInterID, FEntryID");
    out += branch.Rows("SELECT FInterID, FTranStatus FROM SEOutStock ORDER BY FInterID");
    for (const auto& m : branch.Ui().Messages()) ADD_FAILURE() << "message: " << m.text;
    return out;
}

TEST(BillStatementsOnBothBackends, ExtractAndUpdateAlike) {
    const std::string file = Exchange(Backend::kSqlite);
    EXPECT_NE(file.find("POOR01-000001"), std::string::npos);
    EXPECT_EQ(Exchange(Backend::kPostgres), file);
}

}  // namespace
}  // namespace orba::data::testing
