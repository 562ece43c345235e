// What the bill viewer reads, without its dialog: each kind of bill with its header and lines
// from a generated branch database, and a bill that is gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostkit/app_connection.h"
#include "hostkit/windows/bill_reader.h"
#include "support/branch_env.h"
#include "support/error_of.h"

namespace orba::hostkit {
namespace {

using platform::ErrorCode;

TEST(BillViewerReading, EachKindWithItsHeaderAndLinesInEntryOrder) {
    const SampleOptions sample{.orders = 3, .notices = 3, .returns = 3};
    orba::testing::BranchEnv env(&sample);
    auto connection = platform::MakeRef<AppConnection>(env.DbPath());
    const std::tuple<int32_t, std::string, std::string, const char*, const char*> cases[] = {
        {71, "POOrder", "POOrderEntry", "采购订单", "供应商"},
        {83, "SEOutStock", "SEOutStockEntry", "发货通知单", "客户"},
        {82, "SEOutStock", "SEOutStockEntry", "退货通知单", "客户"}};
    for (const auto& [tran_type, main, entries, kind_name, partner_caption] : cases) {
        SCOPED_TRACE(tran_type);
        const auto bill = env.Db().Rows("SELECT FInterID, FBillNo, COALESCE(FExplanation, '') FROM " + main +
                                        " WHERE FTranType=" + std::to_string(tran_type) + " ORDER BY FInterID DESC");
        ASSERT_FALSE(bill.empty());
        const BillDocument doc = ReadBillDocument(*connection, tran_type, std::stoi(bill[0][0]));
        EXPECT_EQ(doc.kind_name, kind_name);
        EXPECT_EQ(doc.partner_caption, partner_caption);
        EXPECT_EQ((std::vector{std::to_string(doc.header.inter_id), doc.header.bill_no, doc.explanation}), bill[0]);
        std::vector<std::vector<std::string>> read_entries;
        for (const BillLine& l : doc.lines) read_entries.push_back({l.entry});
        EXPECT_EQ(read_entries, env.Db().Rows("SELECT FEntryID FROM " + entries + " WHERE FInterID=" + bill[0][0] +
                                              " ORDER BY FEntryID"));
    }
    std::string gone;
    EXPECT_EQ(orba::testing::CodeOf([&] { ReadBillDocument(*connection, 71, 999999); }, &gone), ErrorCode::kNotFound);
    EXPECT_NE(gone.find("999999"), std::string::npos) << gone;
    EXPECT_EQ(orba::testing::CodeOf([&] { ReadBillDocument(*connection, 99, 1); }), ErrorCode::kBadInput);
}

}  // namespace
}  // namespace orba::hostkit
