// The command-line host as a user runs it: the built program in a folder of its own, with
// its exit status, standard output and standard error.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "apps/orbabt/transport.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "host/variant_vector.h"
#include "hostkit/sample_data.h"
#include "support/branch_env.h"
#include "support/erp_test_db.h"
#include "support/exchange_records.h"

namespace orba::apps {
namespace {

namespace fs = std::filesystem;
using host::VariantDictionary;
using host::VariantVector;
using platform::Variant;
using testing::ReadFile;

constexpr std::string_view kBranchBNumber = "01.002";
constexpr std::string_view kBranchBName = "苏州锦程精密机械有限公司";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool Contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

class OrbabtTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const fs::path& p : logs_) fs::remove(p);
    }

    // Runs the program beside this test program, in the test's folder.
    Outcome Run(const std::vector<std::string>& args) {
        const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "orbabt";
        std::string command = "cd " + Quoted(dir_.Path().string()) + " && " + Quoted(program.string());
        for (const std::string& a : args) command += " " + Quoted(a);
        command += " </dev/null >" + Quoted((dir_ / "out.txt").string()) + " 2>" + Quoted((dir_ / "err.txt").string());
        const int raw = std::system(command.c_str());
        Outcome o;
        o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        o.out = ReadFile(dir_ / "out.txt");
        o.err = ReadFile(dir_ / "err.txt");
        // A log the program wrote is taken away again after the test.
        const std::string marker = "Transmission log: ";
        for (size_t at = o.out.find(marker); at != std::string::npos; at = o.out.find(marker, at + 1)) {
            const size_t start = at + marker.size();
            const std::string path = o.out.substr(start, o.out.find('\n', start) - start);
            if (!path.empty() && path[0] == '/') logs_.push_back(path);
        }
        return o;
    }

    void MakeBranch(const std::string& file, int branch) {
        hostkit::SampleOptions o;
        o.branch = branch;
        o.orders = 16;
        o.notices = 12;
        o.returns = 12;
        o.lines = 3;
        o.seed = static_cast<uint64_t>(branch);
        hostkit::CreateSampleDatabase((dir_ / file).string(), o);
    }

    testing::TempDir dir_;
    std::vector<fs::path> logs_;
};

TEST_F(OrbabtTest, InitDbCreatesOnceAndThenRefuses) {
    Outcome first = Run({"init-db", "a.db", "--branch", "1", "--orders", "3", "--notices", "2", "--returns", "1"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(Contains(first.out, "Created a.db for branch 1: 3 purchase orders")) << first.out;
    hostkit::testing::TestDb db((dir_ / "a.db").string());
    EXPECT_EQ(db.Int("SELECT count(*) FROM POOrder"), 3);
    const std::string content = db.Dump();

    Outcome again = Run({"init-db", "a.db", "--branch", "2"});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(Contains(again.err, "'a.db' already exists")) << again.err;
    EXPECT_EQ(db.Dump(), content);
}

// The exchange commands touch only a branch's account database: an empty file given by
// mistake is refused with a message saying so and stays empty. A request file that repeats
// a type is packaged once per type.
TEST_F(OrbabtTest, ExchangeCommandsRefuseAnEmptyDatabaseFileAndPackageARepeatedTypeOnce) {
    { std::ofstream(dir_ / "empty.db"); }
    const std::vector<std::vector<std::string>> commands = {
        {"unpackage", "--db", "empty.db", "list.json"},
        {"mark", "--db", "empty.db", "list.json"},
        {"package", "--db", "empty.db", "--requests", "r.json", "--to", "01.002", "--to-name", "B", "-o", "l.json"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command[0]);
        Outcome o = Run(command);
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(Contains(o.err, "'empty.db' is not a branch account database")) << o.err;
        EXPECT_EQ(fs::file_size(dir_ / "empty.db"), 0u);
    }

    MakeBranch("a.db", 1);
    ASSERT_EQ(Run({"request", "--types", "501,502,501,501", "-o", "r.json"}).status, 0);
    Outcome packaged = Run({"package", "--db", "a.db", "--requests", "r.json", "--to", std::string(kBranchBNumber),
                            "--to-name", std::string(kBranchBName), "-o", "l.json"});
    ASSERT_EQ(packaged.status, 0) << packaged.err;
    const ListFile list = ReadListFile(ReadFile(dir_ / "l.json"), "l.json");
    ASSERT_EQ(list.list->UpperBound(), 2);
}

TEST_F(OrbabtTest, SqlPrintsATableOrJsonLinesAndNamesAMissingDatabase) {
    MakeBranch("a.db", 1);
    const std::string query = "SELECT FItemID, FNumber FROM t_SonCompany WHERE FItemID<3 ORDER BY FItemID";
    Outcome table = Run({"sql", "--db", "a.db", query});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out,
              "FItemID | FNumber\n"
              "--------+--------\n"
              "1       | 01.001\n"
              "2       | 01.002\n"
              "(2 rows)\n");

    Outcome json = Run({"sql", "--db", "a.db", "--json", query});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, "{\"FItemID\":1,\"FNumber\":\"01.001\"}\n{\"FItemID\":2,\"FNumber\":\"01.002\"}\n");

    Outcome update = Run({"sql", "--db", "a.db", "UPDATE POOrder SET FTranStatus=1 WHERE FInterID=-1"});
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_EQ(update.out, "Done.\n");

    Outcome missing = Run({"sql", "--db", "nowhere/absent.db", "SELECT 1"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(Contains(missing.err, "'nowhere/absent.db' does not exist")) << missing.err;
    EXPECT_FALSE(fs::exists(dir_ / "nowhere"));

    Outcome refused = Run({"sql", "--db", "a.db", "SELECT * FROM NoSuchTable"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Contains(refused.err, "NoSuchTable")) << refused.err;
}

TEST_F(OrbabtTest, TraceSqlWritesEachTextFollowedByGo) {
    MakeBranch("a.db", 1);
    Outcome o = Run({"sql", "--db", "a.db", "--trace-sql", "trace.sql", "SELECT 1 AS One"});
    EXPECT_EQ(o.status, 0) << o.err;
    Outcome again = Run({"sql", "--db", "a.db", "--trace-sql", "trace.sql", "SELECT 2 AS Two\r\nSELECT 3"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadFile(dir_ / "trace.sql"), "SELECT 1 AS One\nGO\nSELECT 2 AS Two\r\nSELECT 3\nGO\n");
}

TEST_F(OrbabtTest, InvokeExplainsWhatIsWrong) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string_view> says;
    };
    const Case cases[] = {
        {"unknown identifier", {"invoke", "Nobody.Nothing", "Run"}, {"Cannot create object", "'Nobody.Nothing'"}},
        {"unknown member", {"invoke", "OrbaBillTransmit.DataTrans", "Fly"}, {"DataTrans has no member 'Fly'"}},
        {"broken JSON argument",
         {"invoke", "OrbaBillTransmit.DataTrans", "GetBillInfo", "71", "{\"a\": tru}"},
         {"Argument 2", "line 1, column"}},
        {"wrong argument count", {"invoke", "OrbaBillTransmit.DataTrans", "GetBillInfo", "71"}, {"GetBillInfo"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome o = Run(c.args);
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(o.out.empty()) << o.out;
        for (std::string_view part : c.says) EXPECT_TRUE(Contains(o.err, part)) << o.err;
    }
}

TEST_F(OrbabtTest, InvokeCallsAComponentByNameAndPrintsItsResultAsJson) {
    MakeBranch("a.db", 1);
    hostkit::testing::TestDb db((dir_ / "a.db").string());
    const auto ids = db.Rows("SELECT FInterID, FBillNo FROM POOrder ORDER BY FInterID LIMIT 2");
    ASSERT_EQ(ids.size(), 2u);
    Outcome o = Run({"invoke", "OrbaBillTransmit.DataTrans", "GetPOOrdVect", "\"" + ids[0][0] + "," + ids[1][0] + "\"",
                     "false", "--db", "a.db"});
    ASSERT_EQ(o.status, 0) << o.err;
    Variant result = host::FromJson(o.out);
    auto orders = platform::RefCast<VariantVector>(result.AsObject());
    ASSERT_TRUE(orders);
    ASSERT_EQ(orders->UpperBound(), 2);
    for (int32_t i = 1; i <= 2; ++i) {
        auto order = platform::RefCast<VariantDictionary>(orders->Item(i).AsObject());
        EXPECT_EQ(order->Value("BillInterID").ToText(), ids[i - 1][0]);
        EXPECT_EQ(order->Value("BillID").ToText(), ids[i - 1][1]);
        EXPECT_TRUE(order->Exists("ReqEntry"));
    }

    // A by-reference argument shows what the callee wrote into it.
    Outcome by_ref = Run({"invoke", "Varnick.SysInfo", "GetPeriodFromDate", "\"AcctDB={Data Source=a.db}\"",
                          "{\"$date\": \"2003-05-12\"}", "0", "--show-args"});
    ASSERT_EQ(by_ref.status, 0) << by_ref.err;
    EXPECT_TRUE(Contains(by_ref.out, "arg 2: {\"$date\": \"2003-05-12\"}\narg 3: 2003\n")) << by_ref.out;
}

TEST_F(OrbabtTest, InvokeTakesAListArgumentWhole) {
    MakeBranch("a.db", 1);
    hostkit::testing::TestDb db((dir_ / "a.db").string());
    db.Exec("UPDATE POOrder SET FTranStatus=1");
    const auto bills = db.Rows("SELECT FBillNo FROM POOrder ORDER BY FInterID LIMIT 2");
    ASSERT_EQ(bills.size(), 2u);
    // The commas inside the list belong to the JSON text, not to the command line.
    Outcome o = Run({"invoke", "OrbaBillTransmit.DataTrans", "UnSetOrdTranStatus",
                     "[{\"BillID\": \"" + bills[0][0] + "\"}, {\"BillID\": \"" + bills[1][0] + "\"}]", "--db", "a.db"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(db.Int("SELECT count(*) FROM POOrder WHERE FTranStatus=0"), 2);
    EXPECT_EQ(db.Text("SELECT group_concat(FBillNo) FROM POOrder WHERE FTranStatus=0 ORDER BY FInterID"),
              bills[0][0] + "," + bills[1][0]);
}

TEST_F(OrbabtTest, TheExchangeStepsOverFiles) {
    MakeBranch("a.db", 1);
    MakeBranch("b.db", 2);
    Outcome request = Run({"request", "--types", "501,502,503", "-o", "requests.json"});
    ASSERT_EQ(request.status, 0) << request.err;

    Outcome package = Run({"package", "--db", "a.db", "--requests", "requests.json", "--to", std::string(kBranchBNumber),
                           "--to-name", std::string(kBranchBName), "-o", "list.json"});
    ASSERT_EQ(package.status, 0) << package.err;
    EXPECT_TRUE(Contains(package.out, "Packaged at 01.001")) << package.out;

    // What the list file holds is what the database has for branch B.
    hostkit::testing::TestDb a((dir_ / "a.db").string());
    const long long awaiting_orders = a.Int(
        "SELECT count(*) FROM POOrder WHERE FRelateBrID=2 AND (FTranStatus=0 OR FTranStatus IS NULL) AND FStatus IN (1,2)");
    ASSERT_GT(awaiting_orders, 0);
    Variant file = host::FromJson(ReadFile(dir_ / "list.json"));
    auto envelope = platform::RefCast<VariantDictionary>(file.AsObject());
    ASSERT_TRUE(envelope);
    auto list = platform::RefCast<VariantVector>(envelope->Value("list").AsObject());
    ASSERT_EQ(list->UpperBound(), 3);
    EXPECT_EQ(testing::BillsOf(list->Item(1))->UpperBound(), awaiting_orders);

    Outcome unpackage = Run({"unpackage", "--db", "b.db", "list.json"});
    ASSERT_EQ(unpackage.status, 0) << unpackage.err;
    EXPECT_TRUE(Contains(unpackage.out, "RtnMsg:\n")) << unpackage.out;
    EXPECT_TRUE(Contains(unpackage.out, ": saved")) << unpackage.out;
    ASSERT_EQ(logs_.size(), 1u) << unpackage.out;
    EXPECT_TRUE(fs::exists(logs_[0]));
    hostkit::testing::TestDb b((dir_ / "b.db").string());
    EXPECT_EQ(b.Int("SELECT count(*) FROM t_RcvBill WHERE FTranType=71"), awaiting_orders);

    Outcome mark = Run({"mark", "--db", "a.db", "list.json"});
    ASSERT_EQ(mark.status, 0) << mark.err;
    EXPECT_TRUE(Contains(mark.out, "501 purchase orders        " + std::to_string(awaiting_orders) + " of " +
                                       std::to_string(awaiting_orders) + " bills of its own type marked transmitted"))
        << mark.out;
    EXPECT_EQ(a.Int("SELECT count(*) FROM POOrder WHERE FRelateBrID=2 AND (FTranStatus=0 OR FTranStatus IS NULL) "
                    "AND FStatus IN (1,2)"),
              0);

    // The same list again: nothing is saved twice.
    Outcome again = Run({"unpackage", "--db", "b.db", "list.json"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_FALSE(Contains(again.out, ": saved\n")) << again.out;
    EXPECT_EQ(b.Int("SELECT count(*) FROM t_RcvBill WHERE FTranType=71"), awaiting_orders);
}

TEST_F(OrbabtTest, AnUnusableFileIsRefusedWithItsName) {
    MakeBranch("a.db", 1);
    WriteTextFile(dir_ / "broken.json", "{\"format\": \"OrbaBillTransmit.TransmissionList\", ");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string_view says;
    };
    Outcome request = Run({"request", "--types", "501", "-o", "requests.json"});
    ASSERT_EQ(request.status, 0) << request.err;
    const Case cases[] = {
        {"a request where a list belongs", {"mark", "--db", "a.db", "requests.json"}, "'requests.json'"},
        {"broken JSON", {"unpackage", "--db", "a.db", "broken.json"}, "'broken.json'"},
        {"a missing file", {"package", "--db", "a.db", "--requests", "none.json", "--to", "01.002", "--to-name", "B", "-o",
                            "list.json"},
         "none.json"},
        {"a list where a request belongs", {"package", "--db", "a.db", "--requests", "broken.json", "--to", "01.002",
                                            "--to-name", "B", "-o", "list.json"},
         "'broken.json'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome o = Run(c.args);
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(Contains(o.err, c.says)) << o.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "list.json"));
}

TEST_F(OrbabtTest, DemoRunTwiceFindsNothingNewTheSecondTime) {
    const std::vector<std::string> args = {"demo", "--dir", "demo", "--orders", "12", "--notices", "8",
                                           "--returns", "8", "--lines", "2"};
    Outcome first = Run(args);
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_TRUE(Contains(first.out, "Created sample branch database")) << first.out;
    EXPECT_TRUE(Contains(first.out, "packaged at A")) << first.out;
    EXPECT_TRUE(Contains(first.out, "501 purchase orders")) << first.out;
    EXPECT_EQ(logs_.size(), 1u) << first.out;
    EXPECT_TRUE(fs::exists(dir_ / "demo" / "list.json"));

    // The summary's counts: packaged bills of each type were all saved and marked.
    hostkit::testing::TestDb b((dir_ / "demo" / "branch-b.db").string());
    hostkit::testing::TestDb a((dir_ / "demo" / "branch-a.db").string());
    const long long saved = b.Int("SELECT count(*) FROM t_RcvBill");
    EXPECT_GT(saved, 0);
    a.Exec("ATTACH DATABASE '" + (dir_ / "demo" / "branch-b.db").string() + "' AS b");
    EXPECT_EQ(a.Int("SELECT count(*) FROM b.t_RcvBill r WHERE NOT EXISTS (SELECT 1 FROM POOrder v WHERE "
                    "v.FBillNo=r.FBillNo AND v.FTranType=r.FTranType AND v.FTranStatus=1) AND NOT EXISTS (SELECT 1 "
                    "FROM SEOutStock v WHERE v.FBillNo=r.FBillNo AND v.FTranType=r.FTranType AND v.FTranStatus=1)"),
              0);
    a.Exec("DETACH DATABASE b");
    for (const char* table : {"POOrder", "SEOutStock"}) {
        EXPECT_EQ(a.Int(std::string("SELECT count(*) FROM ") + table +
                        " WHERE FRelateBrID=2 AND (FTranStatus=0 OR FTranStatus IS NULL) AND FStatus IN (1,2)"),
                  0)
            << table;
    }

    Outcome second = Run(args);
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_FALSE(Contains(second.out, "Created sample branch database")) << second.out;
    EXPECT_TRUE(Contains(second.out, "Nothing new to send")) << second.out;
    EXPECT_EQ(b.Int("SELECT count(*) FROM t_RcvBill"), saved);
    EXPECT_EQ(logs_.size(), 1u);
}

}  // namespace
}  // namespace orba::apps
