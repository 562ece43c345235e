// An exchange between a branch on the PostgreSQL server and a branch in a SQLite file, run by
// the command-line host: every bill moves once, is marked once, and a 20-digit amount
// arrives exact.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "hostkit/account_db.h"
#include "hostkit/pg_schema.h"
#include "platform/decimal.h"
#include "support/branch_env.h"
#include "support/pg_server.h"

namespace orba::apps {
namespace {

namespace fs = std::filesystem;
using orba::testing::PgServer;
using orba::testing::TempDir;
using platform::Decimal;
using platform::Variant;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs orbabt from beside this test program; its standard output, and the exit status.
std::pair<int, std::string> Orbabt(const TempDir& dir, const std::vector<std::string>& args) {
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "orbabt";
    std::string command = Quoted(program.string());
    for (const std::string& a : args) command += " " + Quoted(a);
    command += " </dev/null >" + Quoted((dir / "out.txt").string()) + " 2>&1";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(dir / "out.txt")};
}

// The log the demo wrote is removed again.
void RemoveLog(const std::string& out) {
    const std::string marker = "Transmission log: ";
    const size_t at = out.find(marker);
    if (at == std::string::npos) return;
    const size_t start = at + marker.size();
    const std::string path = out.substr(start, out.find('\n', start) - start);
    if (!path.empty() && path[0] == '/') fs::remove(path);
}

TEST(MixedExchange, ServerBranchToFileBranchMovesEveryBillOnceWithExactAmounts) {
    TempDir dir;
    const std::string a = PgServer::Shared().NewDatabase("demo_a");
    hostkit::SampleOptions sample;  // what the demo makes for branch A with these counts
    sample.branch = 1;
    sample.orders = 12;
    sample.notices = 8;
    sample.returns = 6;
    sample.lines = 4;
    sample.seed = 1;
    hostkit::CreateSampleDatabaseOnServer(a, sample);
    {
        hostkit::AccountDatabase db(a);
        // An amount of 20 digits, which only a NUMERIC column keeps; exchange rate 1, so the
        // line's "Amt" is the stored amount itself.
        db.Query("UPDATE POOrder SET FExchangeRate=1 WHERE FRelateBrID=2");
        db.Query("UPDATE POOrderEntry SET FAmount=123456789012345678.91 WHERE FEntryID=1 AND FInterID IN "
                 "(SELECT FInterID FROM POOrder WHERE FRelateBrID=2)");
    }
    const std::vector<std::string> demo = {"demo", "--dir", dir.Path().string(), "--a", a, "--orders", "12",
                                           "--notices", "8", "--returns", "6", "--lines", "4"};
    auto [status, out] = Orbabt(dir, demo);
    RemoveLog(out);
    ASSERT_EQ(status, 0) << out;
    // Each row: bills and lines packaged at A; saved, updated, already held and not saved
    // at B; marked at A. Every bill is saved once and marked once.
    int rows = 0;
    for (const char* type : {"501 purchase orders", "502 delivery notices", "503 return notices"}) {
        const size_t at = out.find(type);
        ASSERT_NE(at, std::string::npos) << out;
        std::istringstream line(out.substr(at + std::string(type).size(), out.find('\n', at) - at));
        int bills = -1, lines = -1, saved = -1, updated = -1, held = -1, not_saved = -1, marked = -1;
        line >> bills >> lines >> saved >> updated >> held >> not_saved >> marked;
        EXPECT_GT(bills, 0) << type;
        EXPECT_GT(lines, 0) << type;
        EXPECT_EQ(saved, bills) << type;
        EXPECT_EQ(updated + held + not_saved, 0) << type;
        EXPECT_EQ(marked, bills) << type;
        ++rows;
    }
    EXPECT_EQ(rows, 3);
    fs::copy_file(dir / "list.json", dir / "sent.json");

    hostkit::AccountDatabase b((dir / "branch-b.db").string());
    auto amounts = b.Query("SELECT count(*), min(e.FAmt), max(e.FAmt) FROM t_RcvBillEntry e, t_RcvBill h "
                           "WHERE e.FRcvID=h.FRcvID AND h.FTranType=71 AND e.FEntryID=1");
    EXPECT_GT(amounts->Value(0).ToLong(), 0);
    EXPECT_EQ(Decimal::Parse(amounts->Value(1).ToText()), Decimal::Parse("123456789012345678.91"));
    EXPECT_EQ(Decimal::Parse(amounts->Value(2).ToText()), Decimal::Parse("123456789012345678.91"));

    // Run again: everything was marked at A, nothing is sent twice.
    auto [again, out_again] = Orbabt(dir, demo);
    RemoveLog(out_again);
    EXPECT_EQ(again, 0) << out_again;
    EXPECT_NE(out_again.find("Nothing new to send"), std::string::npos) << out_again;

    // A list that is not for the server branch is refused, naming its database without the
    // password the URI carries, and nothing is written there.
    std::string with_password = a;
    with_password.insert(std::string("postgresql://").size(), "postgres:hunter2@");
    auto [refused, why] = Orbabt(dir, {"unpackage", "--db", with_password, (dir / "sent.json").string()});
    RemoveLog(why);
    EXPECT_EQ(refused, 1) << why;
    EXPECT_NE(why.find("postgresql://postgres@/orba_tests"), std::string::npos) << why;
    EXPECT_EQ(why.find("hunter2"), std::string::npos) << why;
    hostkit::AccountDatabase server(a);
    EXPECT_EQ(server.Query("SELECT count(*) FROM pg_catalog.pg_tables WHERE tablename='t_rcvbill'")->Value(0),
              Variant(int32_t{0}));
}

}  // namespace
}  // namespace orba::apps
