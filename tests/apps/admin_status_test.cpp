// The administration page's reading of a browser's language and of the exchange log.
#include <gtest/gtest.h>

#include <fstream>

#include "apps/orbabt/net/admin_status.h"
#include "support/branch_env.h"

namespace orba::apps::net {
namespace {

TEST(AdminStatusTest, ChineseOnlyWhenTheBrowserPutsItFirst) {
    const struct {
        const char* header;
        bool chinese;
    } cases[] = {{"", false},
                 {"zh-CN,zh;q=0.9,en;q=0.8", true},
                 {"en-US,en;q=0.9,zh-CN;q=0.8", false},
                 {"en;q=0.5, zh-TW;q=0.7", true},
                 {"de, zh", false},
                 {"ZH", true}};
    for (const auto& c : cases) EXPECT_EQ(PrefersChinese(c.header), c.chinese) << c.header;
}

TEST(AdminStatusTest, HistoryKeepsEachPeersLastSuccessAndFailureAndTheNewestExchanges) {
    orba::testing::TempDir dir;
    std::ofstream(dir.Path() / "exchanges.1.jsonl")
        << R"({"time":"2026-12-01 10:00:00","branch":"01.001","peer":"01.002","direction":"served request","error":""})"
        << "\n";
    std::ofstream(dir.Path() / "exchanges.jsonl")
        << R"({"time":"2026-12-02 10:00:00","branch":"01.001","peer":"01.002","direction":"served receipt","error":"refused"})"
        << "\n"
        << R"({"time":"2026-12-03 10:00:00","branch":"01.009","peer":"01.002","direction":"pull","error":""})" << "\n"
        << R"({"time":"2026-12-04 10:00:00","branch":"01.001","peer":"01.003","direction":"served list","er)";
    const ExchangeHistory history = ReadExchangeHistory("01.001", dir.Path(), 1);
    ASSERT_EQ(history.peers.size(), 1u);  // another branch's line and a line cut short are passed over
    const PeerHistory& b = history.peers.at("01.002");
    EXPECT_EQ(b.last_success.time, "2026-12-01 10:00:00");
    EXPECT_EQ(b.last_failure.error, "refused");
    EXPECT_EQ(b.refused_receipts, 1);
    ASSERT_EQ(history.recent.size(), 1u);
    EXPECT_EQ(history.recent[0].direction, "served receipt");
}

}  // namespace
}  // namespace orba::apps::net
