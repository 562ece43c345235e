// An exchange between a branch on the PostgreSQL server and a branch in a SQLite file, run by
// the command-line host: every bill moves once, is marked once, and a 20-digit amount
// arrives exact.
#include <sys/wait.h>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "hostkit/database.h"
#include "hostkit/schema/erp_schema.h"
#include "hostkit/schema.h"
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

// The logs the demo wrote are removed again.
void RemoveLog(const std::string& out) {
    const std::string marker = "Transmission log: ";
    for (size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1)) {
        const size_t start = at + marker.size();
        const std::string path = out.substr(start, out.find('\n', start) - start);
        if (!path.empty() && path[0] == '/') fs::remove(path);
    }
}

// Checks one direction's table of the demo's output, the one after `heading`: every bill
// packaged is saved once and marked once.
void ExpectEveryBillSavedAndMarkedOnce(const std::string& out, const std::string& heading) {
    const size_t section = out.find(heading);
    ASSERT_NE(section, std::string::npos) << out;
    int total = 0;
    std::vector<int> packaged, left;  // per type, in the order below
    for (const char* type : {"501 purchase orders", "502 delivery notices", "503 return notices"}) {
        SCOPED_TRACE(heading + type);
        const size_t at = out.find(type, section);
        ASSERT_NE(at, std::string::npos) << out;
        // Bills and lines packaged; saved, updated, already held, not saved and left to the
        // other notice package; marked.
        std::istringstream line(out.substr(at + std::string(type).size(), out.find('\n', at) - at));
        int bills = -1, lines = -1, saved = -1, updated = -1, held = -1, not_saved = -1, other = -1, marked = -1;
        line >> bills >> lines >> saved >> updated >> held >> not_saved >> other >> marked;
        EXPECT_EQ(lines > 0, bills > 0);
        EXPECT_EQ(saved, bills);
        EXPECT_EQ(updated + held + not_saved, 0);
        EXPECT_EQ(marked, bills);
        total += bills;
        packaged.push_back(bills);
        left.push_back(other);
    }
    EXPECT_GT(total, 0) << heading;
    // Every notice also travels in the other notice package, and is left to its own there.
    EXPECT_EQ(left, (std::vector<int>{0, packaged[2], packaged[1]})) << out;
}

// The received bills of a database, a row a line: bill, line and its exact amounts.
std::vector<std::string> Received(const std::string& location) {
    const auto db = hostkit::OpenDatabase(location);
    auto rows = db->Query(
        "SELECT h.FKind, h.FBillNo, e.FIndex, e.FItemNumber, e.FQty, e.FPrice, e.FAmt, e.FAmtTotal, e.FAmtRef "
        "FROM t_RcvBill h, t_RcvBillEntry e WHERE e.FRcvID=h.FRcvID ORDER BY h.FKind, h.FBillNo, e.FIndex");
    std::vector<std::string> out;
    for (; !rows->Eof(); rows->MoveNext()) {
        std::string row;
        for (int c = 0; c < static_cast<int>(rows->FieldCount()); ++c) {
            const Variant v = rows->Value(c);
            // Amounts compared as numbers: a file keeps them as text, the server as NUMERIC.
            row += (v.IsNull() ? "NULL" : c >= 4 ? Decimal::Parse(v.ToText()).ToString() : v.ToText()) + "|";
        }
        out.push_back(row);
    }
    return out;
}

// A server branch A exchanges with a branch B both ways (A's bills to B, then B's back to A),
// once with B in a file and once with B on the server too. Every bill moves once and is
// marked once, a 20-digit amount of A arrives exact, the bills B sends are kept at A exactly
// as a file branch keeps the same list, and a second run moves nothing.
TEST(MixedExchange, BothWaysEveryBillMovesOnceWithExactAmounts) {
    for (const bool b_on_server : {false, true}) {
        SCOPED_TRACE(b_on_server ? "B on the server" : "B in a file");
        TempDir dir;
        const std::string a = PgServer::Shared().NewDatabase("demo_a");
        hostkit::SampleOptions sample;  // what the demo makes for branch A with these counts
        sample.branch = 1;
        sample.orders = 12;
        sample.notices = 8;
        sample.returns = 6;
        sample.lines = 4;
        sample.seed = 1;
        hostkit::CreateSampleDatabase(a, sample);
        {
            const auto db = hostkit::OpenDatabase(a);
            // An amount of 20 digits, which only a NUMERIC column keeps; exchange rate 1, so
            // the line's "Amt" is the stored amount itself.
            db->Query("UPDATE POOrder SET FExchangeRate=1 WHERE FRelateBrID=2");
            db->Query("UPDATE POOrderEntry SET FAmount=123456789012345678.91 WHERE FEntryID=1 AND FInterID IN "
                     "(SELECT FInterID FROM POOrder WHERE FRelateBrID=2)");
        }
        const std::string b =
            b_on_server ? PgServer::Shared().NewDatabase("demo_b") : (dir / "branch-b.db").string();
        const std::vector<std::string> demo = {"demo",      "--dir", dir.Path().string(), "--a", a, "--b", b,
                                               "--orders",  "12",    "--notices", "8",    "--returns", "6",
                                               "--lines",   "4"};
        auto [status, out] = Orbabt(dir, demo);
        RemoveLog(out);
        ASSERT_EQ(status, 0) << out;
        ExpectEveryBillSavedAndMarkedOnce(out, "From A to B:");
        ExpectEveryBillSavedAndMarkedOnce(out, "From B back to A:");
        fs::copy_file(dir / "list.json", dir / "sent.json");

        const auto at_b = hostkit::OpenDatabase(b);
        auto amounts = at_b->Query("SELECT count(*), min(e.FAmt), max(e.FAmt) FROM t_RcvBillEntry e, t_RcvBill h "
                                  "WHERE e.FRcvID=h.FRcvID AND h.FTranType=71 AND e.FEntryID=1");
        EXPECT_GT(amounts->Value(0).ToLong(), 0);
        EXPECT_EQ(Decimal::Parse(amounts->Value(1).ToText()), Decimal::Parse("123456789012345678.91"));
        EXPECT_EQ(Decimal::Parse(amounts->Value(2).ToText()), Decimal::Parse("123456789012345678.91"));

        // What B sent back, saved into a file branch of A's number, is what the server holds.
        auto [made, made_out] = Orbabt(dir, {"init-db", (dir / "copy-a.db").string(), "--branch", "1"});
        ASSERT_EQ(made, 0) << made_out;
        auto [copied, copied_out] =
            Orbabt(dir, {"unpackage", "--db", (dir / "copy-a.db").string(), (dir / "list-back.json").string()});
        RemoveLog(copied_out);
        ASSERT_EQ(copied, 0) << copied_out;
        const std::vector<std::string> at_a = Received(a);
        EXPECT_FALSE(at_a.empty());
        EXPECT_EQ(at_a, Received((dir / "copy-a.db").string()));

        // Run again: everything was marked on both sides, nothing is sent twice.
        auto [again, out_again] = Orbabt(dir, demo);
        RemoveLog(out_again);
        EXPECT_EQ(again, 0) << out_again;
        const size_t first = out_again.find("Nothing new to send");
        ASSERT_NE(first, std::string::npos) << out_again;
        EXPECT_NE(out_again.find("Nothing new to send", first + 1), std::string::npos) << out_again;
        EXPECT_EQ(Received(a), at_a);

        if (b_on_server) {
            // Two clerks save the same list into one server branch at the same moment: one
            // saving waits for the other, and each bill is held once.
            const std::string c = PgServer::Shared().NewDatabase("demo_c");
            hostkit::SampleOptions c_sample = sample;
            c_sample.branch = 2;
            c_sample.seed = 2;
            hostkit::CreateSampleDatabase(c, c_sample);
            const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "orbabt";
            std::string both;
            for (const char* clerk : {"1", "2"}) {
                const std::string out = (dir / (std::string("clerk") + clerk)).string();
                both += fmt::format("({} unpackage --db {} {} -o {} >{} 2>&1; echo $? >>{}) & ", Quoted(program.string()),
                                    Quoted(c), Quoted((dir / "sent.json").string()), Quoted(out + ".json"),
                                    Quoted(out + ".txt"), Quoted(out + ".txt"));
            }
            ASSERT_EQ(std::system((both + "wait").c_str()), 0);
            for (const char* clerk : {"clerk1.txt", "clerk2.txt"}) {
                const std::string out = ReadAll(dir / clerk);
                RemoveLog(out);
                EXPECT_NE(out.find("\n0\n"), std::string::npos) << out;
            }
            const auto at_c = hostkit::OpenDatabase(c);
            EXPECT_EQ(at_c->Query("SELECT count(*) FROM t_RcvBill")->Value(0),
                      at_b->Query("SELECT count(*) FROM t_RcvBill")->Value(0));
            continue;
        }
        // A list that is not for the server branch is refused, naming its database without
        // the password the URI carries, and nothing is written there.
        std::string with_password = a;
        with_password.insert(std::string("postgresql://").size(), "postgres:hunter2@");
        auto [refused, why] = Orbabt(dir, {"unpackage", "--db", with_password, (dir / "sent.json").string()});
        RemoveLog(why);
        EXPECT_EQ(refused, 1) << why;
        EXPECT_NE(why.find("postgresql://postgres@/orba_tests"), std::string::npos) << why;
        EXPECT_EQ(why.find("hunter2"), std::string::npos) << why;
        EXPECT_EQ(Received(a), at_a);
    }
}

// The script `orbabt schema --postgresql` prints makes, on an empty server database, a
// database with the ERP schema and the tables of received bills. Until it says which branch
// it is, the exchange commands refuse it, as they refuse such a file.
TEST(MixedExchange, TheServerSchemaScriptMakesTheBillAndReceivedTables) {
    TempDir dir;
    auto [status, script] = Orbabt(dir, {"schema", "--postgresql"});
    ASSERT_EQ(status, 0) << script;
    const std::string uri = PgServer::Shared().NewDatabase("schema");
    const auto db = hostkit::OpenDatabase(uri);
    db->Exec(script);
    EXPECT_TRUE(hostkit::HasErpSchema(*db));
    EXPECT_EQ(db->Query("SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname=current_schema() AND "
                        "tablename IN ('t_rcvbill','t_rcvbillentry')")
                  ->Value(0)
                  .ToLong(),
              2);
    auto [refused, why] = Orbabt(dir, {"mark", "--db", uri, (dir / "list.json").string()});
    EXPECT_EQ(refused, 1);
    EXPECT_NE(why.find("does not say which branch it is"), std::string::npos) << why;
}

}  // namespace
}  // namespace orba::apps
