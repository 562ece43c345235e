// The command-line host as a user runs it: the built program in a folder of its own, with
// its exit status, standard output and standard error.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "exchange/transport.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "host/variant_vector.h"
#include "hostkit/sample_data.h"
#include "hostkit/save_data.h"
#include "hostkit/schema.h"
#include "support/branch_env.h"
#include "support/erp_test_db.h"
#include "support/exchange_records.h"
#include "support/pg_server.h"

namespace orba::apps {

using namespace orba::exchange;
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

    // Runs the program beside this test program (or `program`), in the test's folder.
    Outcome Run(const std::vector<std::string>& args, fs::path program = {}) {
        if (program.empty()) program = fs::read_symlink("/proc/self/exe").parent_path() / "orbabt";
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

    // An input file above the size limit is refused unless the limit is raised.
    { std::ofstream(dir_ / "r.json", std::ios::app) << std::string(1024 * 1024, ' '); }
    const std::vector<std::string> package = {"package", "--db", "a.db", "--requests", "r.json", "--to",
                                              std::string(kBranchBNumber), "--to-name", std::string(kBranchBName),
                                              "-o", "l.json"};
    std::vector<std::string> limited = package;
    limited.insert(limited.end(), {"--max-input-mb", "1"});
    Outcome refused = Run(limited);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Contains(refused.err, "more than the limit of 1 MB")) << refused.err;
    limited.back() = "2";
    EXPECT_EQ(Run(limited).status, 0);
}

// A list and a receipt written as .gz are compressed and read back as they are; a cut-off
// file and one whose text outgrows the input limit are refused, saying which.
TEST_F(OrbabtTest, ListsAndReceiptsNamedGzAreCompressedAndReadEitherWay) {
    MakeBranch("a.db", 1);
    MakeBranch("b.db", 2);
    ASSERT_EQ(Run({"request", "--types", "501", "502", "503", "-o", "r.json"}).status, 0);
    const std::vector<std::string> package{"package", "--db", "a.db", "--requests", "r.json", "--to", "01.002",
                                           "--to-name", "苏州锦程精密机械有限公司", "-o"};
    auto with = [](std::vector<std::string> args, const std::string& last) {
        args.push_back(last);
        return args;
    };
    ASSERT_EQ(Run(with(package, "list.json")).status, 0);
    ASSERT_EQ(Run(with(package, "list.json.gz")).status, 0);
    const std::string compressed = ReadFile(dir_ / "list.json.gz");
    ASSERT_GE(compressed.size(), 2u);
    EXPECT_EQ(compressed.substr(0, 2), "\x1f\x8b");
    EXPECT_LT(compressed.size() * 4, fs::file_size(dir_ / "list.json"));
    const Outcome saved = Run({"unpackage", "--db", "b.db", "list.json.gz", "-o", "receipt.json.gz"});
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_TRUE(Contains(saved.out, "saved")) << saved.out;
    const Outcome marked = Run({"mark", "--db", "a.db", "receipt.json.gz"});
    EXPECT_EQ(marked.status, 0) << marked.err;
    EXPECT_TRUE(Contains(marked.out, "acknowledged bills marked transmitted")) << marked.out;

    std::ofstream(dir_ / "cut.json.gz", std::ios::binary) << compressed.substr(0, compressed.size() / 2);
    const Outcome cut = Run({"unpackage", "--db", "b.db", "cut.json.gz", "-o", "x.json"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_TRUE(Contains(cut.err, "is a gzip file that ends before its text does")) << cut.err;
    // Two megabytes of blanks compress to a few kilobytes: the limit counts the text.
    std::ofstream(dir_ / "blanks.json", std::ios::binary) << std::string(2u << 20, ' ');
    ASSERT_EQ(std::system(("gzip -f '" + (dir_ / "blanks.json").string() + "'").c_str()), 0);
    const Outcome big = Run({"unpackage", "--db", "b.db", "blanks.json.gz", "-o", "x.json", "--max-input-mb", "1"});
    EXPECT_EQ(big.status, 1);
    EXPECT_TRUE(Contains(big.err, "holds more than 1 MB of text in one bill, or before its first bill")) << big.err;
}

// --compress writes gzip whatever the name; a receipt named after a .json.gz list is compressed
// too. Either form is read back by unpackage and mark.
TEST_F(OrbabtTest, CompressWritesGzipWhateverTheNameAndADefaultReceiptFollowsItsList) {
    MakeBranch("a.db", 1);
    MakeBranch("b.db", 2);
    ASSERT_EQ(Run({"request", "--types", "501", "502", "503", "-o", "r.json"}).status, 0);
    struct Case {
        std::string list;
        bool compress_list, compress_receipt;
        std::string receipt;  // the name unpackage chooses
        bool receipt_gzip;
    } cases[] = {{"l1.json", true, false, "l1.receipt.json", false},
                 {"l2.json.gz", false, false, "l2.receipt.json.gz", true},
                 {"l3.json", false, true, "l3.receipt.json", true},
                 {"l4.list", true, true, "l4.list.receipt.json", true}};
    const auto gzip = [&](const std::string& name) { return ReadFile(dir_ / name).substr(0, 2) == "\x1f\x8b"; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        std::vector<std::string> package{"package", "--db", "a.db", "--requests", "r.json", "--to", "01.002",
                                         "--to-name", "苏州锦程精密机械有限公司", "-o", c.list};
        if (c.compress_list) package.push_back("--compress");
        ASSERT_EQ(Run(package).status, 0);
        EXPECT_EQ(gzip(c.list), c.compress_list || c.list.ends_with(".gz"));
        std::vector<std::string> unpackage{"unpackage", "--db", "b.db", c.list};
        if (c.compress_receipt) unpackage.push_back("--compress");
        const Outcome saved = Run(unpackage);
        ASSERT_EQ(saved.status, 0) << saved.err;
        EXPECT_EQ(gzip(c.receipt), c.receipt_gzip);
        const Outcome marked = Run({"mark", "--db", "a.db", c.receipt});
        EXPECT_EQ(marked.status, 0) << marked.out << marked.err;
    }
}

TEST_F(OrbabtTest, VersionIsPrintedWithoutACommandWhichIsOtherwiseRequired) {
    Outcome version = Run({"--version"});
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, std::string("orbabt ") + ORBA_VERSION + "\n");

    Outcome none = Run({});
    EXPECT_NE(none.status, 0);
    EXPECT_TRUE(Contains(none.err, "subcommand")) << none.err;
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

    // --explain shows what the database would be given, and runs nothing.
    Outcome explained = Run({"sql", "--db", "a.db", "--explain",
                             "SELECT a.FBillNo, b.FName FROM POOrder a, t_Supplier b WHERE a.FSupplyID *= b.FItemID; "
                             "DELETE FROM POOrder"});
    EXPECT_EQ(explained.status, 0) << explained.err;
    EXPECT_EQ(explained.out, "SELECT a.FBillNo, b.FName FROM POOrder a LEFT JOIN t_Supplier b ON a.FSupplyID = "
                             "b.FItemID\n;\nDELETE FROM POOrder\n;\n");
    EXPECT_NE(Run({"sql", "--db", "a.db", "SELECT count(*) FROM POOrder"}).out.find("\n16"), std::string::npos);

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

// Each command names its own database and input files, so that the trace is never appended
// to one of them, whichever command it is given to.
TEST_F(OrbabtTest, TraceSqlIsRefusedOnEveryCommandsDatabaseAndInput) {
    MakeBranch("a.db", 1);
    ASSERT_EQ(Run({"request", "--types", "501", "-o", "r.json"}).status, 0);
    const std::string db = "is the account database 'a.db' itself";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"sql", "--db", "a.db", "SELECT 1", "--trace-sql", "a.db"}, db},
        {{"invoke", "No.Such", "Member", "--db", "a.db", "--trace-sql", "a.db"}, db},
        {{"package", "--db", "a.db", "--requests", "r.json", "--to", "9", "--to-name", "N", "-o", "l.json",
          "--trace-sql", "r.json"},
         "is the download request 'r.json' itself"},
        {{"unpackage", "--db", "a.db", "r.json", "--trace-sql", "r.json"}, "is the input file 'r.json' itself"},
        {{"mark", "--db", "a.db", "r.json", "--trace-sql", "r.json"}, "is the input file 'r.json' itself"},
        {{"browse", "--db", "a.db", "--mode", "send", "--trace-sql", "a.db"}, db},
        {{"demo", "--a", "a.db", "--b", "b.db", "--trace-sql", "a.db"}, "is branch A's database 'a.db' itself"},
        {{"demo", "--a", "b.db", "--b", "a.db", "--trace-sql", "a.db"}, "is branch B's database 'a.db' itself"},
    };
    const std::string before = ReadFile(dir_ / "a.db") + ReadFile(dir_ / "r.json");
    for (const auto& [args, says] : cases) {
        SCOPED_TRACE(args[0] + " " + args[2]);
        Outcome o = Run(args);
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(Contains(o.err, "--trace-sql '" + args.back() + "' " + says)) << o.err;
        EXPECT_EQ(ReadFile(dir_ / "a.db") + ReadFile(dir_ / "r.json"), before);
    }
}

// What would refuse the clerk's work at the end is refused before the window opens (here
// without a display, which is checked last: a check that let these through would say so).
TEST_F(OrbabtTest, BrowseRefusesBeforeTheWindowWhatWouldFailAfterIt) {
    MakeBranch("a.db", 1);
    std::fclose(std::fopen((dir_ / "empty.db").c_str(), "w"));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--db", "empty.db", "--mode", "send"}, "empty.db"},
        {{"--db", "a.db", "--mode", "send", "-o", "nowhere/send.json"}, "its folder 'nowhere' cannot be used"},
        {{"--db", "a.db", "--mode", "send", "--for", "09.999"}, "--for 09.999: there is no related branch"},
        {{"--db", "a.db", "--mode", "download", "--for", "01.002"}, "use it with --mode send"},
    };
    for (const auto& [args, says] : cases) {
        SCOPED_TRACE(says);
        std::vector<std::string> command{"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                                         (fs::read_symlink("/proc/self/exe").parent_path() / "orbabt").string(),
                                         "browse"};
        command.insert(command.end(), args.begin(), args.end());
        const Outcome o = Run(command, "/usr/bin/env");
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(Contains(o.err, says)) << o.err;
        EXPECT_FALSE(Contains(o.err, "needs a display")) << o.err;
    }
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

// The windows are modules loaded only when a window is needed, and the server's client
// library only when a server database is: the command-line steps on a file load neither, a
// window component made by name loads the window toolkit, a step on a server database the
// client library; a program whose window modules are missing says which file it could not
// load.
TEST_F(OrbabtTest, WindowModulesAndTheServerClientAreLoadedOnlyWhenNeeded) {
    MakeBranch("a.db", 1);
    const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool loads_toolkit;
        bool loads_client = false;
    };
    const Case cases[] = {
        {"version", {"--version"}, false},
        {"a database step", {"sql", "--db", "a.db", "SELECT count(*) FROM POOrder"}, false},
        {"a list control made by name", {"invoke", "OrbaList.Rilvo", "CanConfirm"}, true},
        {"a server database step", {"sql", "--db", orba::testing::PgServer::Shared().NewDatabase("x"), "SELECT 1"},
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"LD_DEBUG=libs", (bin / "orbabt").string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome o = Run(args, "/usr/bin/env");
        EXPECT_EQ(o.status, 0) << o.err;
        ASSERT_TRUE(Contains(o.err, "liborba_hostkit")) << "the loader's trace is missing";
        EXPECT_EQ(Contains(o.err, "libQt6Widgets"), c.loads_toolkit);
        EXPECT_EQ(Contains(o.err, "libpq.so"), c.loads_client);
    }

    // The program and its libraries alone, without the window modules.
    fs::create_directory(dir_ / "alone");
    for (const fs::directory_entry& entry : fs::directory_iterator(bin)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("lib") && Contains(name, ".so.") && !Contains(name, "indows")) {
            fs::copy_file(entry.path(), dir_ / "alone" / name);
        }
    }
    fs::copy_file(bin / "orbabt", dir_ / "alone" / "orbabt");
    const Case missing[] = {
        {"liborba_hostkit_windows.so", {"invoke", "OrbaList.Rilvo", "CanConfirm"}, false},
        {"libOrbaBillTransmitWindows.so", {"invoke", "OrbaBillTransmit.BillTrans", "Show"}, false},
    };
    for (const Case& c : missing) {
        SCOPED_TRACE(c.name);
        Outcome o = Run(c.args, dir_ / "alone" / "orbabt");
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(Contains(o.err, "window module cannot be loaded")) << o.err;
        EXPECT_TRUE(Contains(o.err, "alone/" + std::string(c.name))) << o.err;
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

    EXPECT_TRUE(fs::exists(dir_ / "list.receipt.json")) << unpackage.out;
    // The list was read in pieces; the receipt still names the SHA-256 of its bytes.
    EXPECT_EQ(ReadReceiptFile(ReadFile(dir_ / "list.receipt.json"), "list.receipt.json").list_sha256,
              Sha256Hex(ReadFile(dir_ / "list.json")));
    Outcome mark = Run({"mark", "--db", "a.db", "list.receipt.json"});
    ASSERT_EQ(mark.status, 0) << mark.err;
    EXPECT_TRUE(Contains(mark.out, "501 purchase orders        " + std::to_string(awaiting_orders) +
                                       " acknowledged bills marked transmitted"))
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
    EXPECT_EQ(logs_.size(), 2u) << "one for each way" << first.out;
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
    EXPECT_EQ(logs_.size(), 2u);
}


// Bills at branch 1 addressed to branch 2 and not yet sent, of one transaction type.
constexpr std::string_view kAwaiting =
    " WHERE FRelateBrID=2 AND (FTranStatus=0 OR FTranStatus IS NULL) AND FStatus IN (1,2)";

long long Awaiting(hostkit::testing::TestDb& a, std::string_view table, int tran_type) {
    return a.Int("SELECT count(*) FROM " + std::string(table) + std::string(kAwaiting) +
                 " AND FTranType=" + std::to_string(tran_type));
}

// The outcomes a receipt gives, per bill number, over all its packages.
std::map<std::string, std::string> OutcomesOf(const std::string& receipt_text) {
    std::map<std::string, std::string> outcomes;
    ReceiptFile receipt = ReadReceiptFile(receipt_text, "receipt");
    for (const ReceiptPackage& p : receipt.packages) {
        for (const ReceiptBill& b : p.bills) {
            std::string& o = outcomes[b.bill_no];
            if (o.empty() || b.Acknowledged()) o = std::string(hostkit::OutcomeWord(b.outcome));
        }
    }
    return outcomes;
}

TEST_F(OrbabtTest, AFailedSaveMarksNothingAndTheNextRunSendsThoseBills) {
    fs::create_directories(dir_ / "demo");
    MakeBranch("demo/branch-a.db", 1);
    MakeBranch("demo/branch-b.db", 2);
    hostkit::testing::TestDb a((dir_ / "demo" / "branch-a.db").string());
    hostkit::testing::TestDb b((dir_ / "demo" / "branch-b.db").string());
    b.Exec(std::string(hostkit::kReceivedSchema));
    b.Exec("CREATE TRIGGER broken BEFORE INSERT ON t_RcvBillEntry BEGIN SELECT RAISE(ABORT, 'the disk is full'); END");
    const std::string a_before = a.Dump();

    Outcome failed = Run({"demo", "--dir", "demo"});
    EXPECT_EQ(failed.status, 1) << failed.out;
    EXPECT_TRUE(Contains(failed.out, "marked at A")) << failed.out;
    EXPECT_TRUE(Contains(failed.err, "the disk is full")) << failed.err;
    // A records the list it sent, and marks nothing B did not save.
    a.Exec("DROP TABLE t_SentBill");
    EXPECT_EQ(a.Dump(), a_before) << "nothing may be marked that B did not save";
    EXPECT_EQ(b.Int("SELECT count(*) FROM t_RcvBill"), 0);

    b.Exec("DROP TRIGGER broken");
    const long long orders = Awaiting(a, "POOrder", 71);
    ASSERT_GT(orders, 0);
    Outcome repaired = Run({"demo", "--dir", "demo"});
    EXPECT_EQ(repaired.status, 0) << repaired.out << repaired.err;
    EXPECT_EQ(b.Int("SELECT count(*) FROM t_RcvBill WHERE FTranType=71"), orders);
    EXPECT_EQ(a.Int("SELECT count(*) FROM POOrder" + std::string(kAwaiting)) +
                  a.Int("SELECT count(*) FROM SEOutStock" + std::string(kAwaiting)),
              0);

    Outcome again = Run({"demo", "--dir", "demo"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(Contains(again.out, "Nothing new to send")) << again.out;
}

TEST_F(OrbabtTest, ARequestForOneNoticeTypeMarksOnlyWhatWasSavedAndTheOtherTypeFollowsLater) {
    MakeBranch("a.db", 1);
    MakeBranch("b.db", 2);
    hostkit::testing::TestDb a((dir_ / "a.db").string());
    hostkit::testing::TestDb b((dir_ / "b.db").string());
    const long long deliveries = Awaiting(a, "SEOutStock", 83);
    const long long returns = Awaiting(a, "SEOutStock", 82);
    ASSERT_GT(deliveries, 0);
    ASSERT_GT(returns, 0);
    const std::string awaiting_ids =
        a.Text("SELECT group_concat(FInterID) FROM SEOutStock" + std::string(kAwaiting)).value_or("");
    struct Step {
        const char* type;
        long long deliveries_left;
        long long returns_left;
        std::string counts;  // the package's line of the receipt
    };
    const auto line = [](std::string_view head, long long saved, std::string_view other, long long left) {
        return fmt::format("  {}saved {}, updated 0, already held 0, not saved 0, left to the {} package {}\n", head,
                           saved, other, left);
    };
    for (const Step& step : {Step{"502", 0, returns, line("502 delivery notices  ", deliveries, "return-notice", returns)},
                             Step{"503", 0, 0, line("503 return notices    ", returns, "delivery-notice", 0)}}) {
        SCOPED_TRACE(step.type);
        ASSERT_EQ(Run({"request", "--types", step.type, "-o", "r.json"}).status, 0);
        Outcome package = Run({"package", "--db", "a.db", "--requests", "r.json", "--to", std::string(kBranchBNumber),
                               "--to-name", std::string(kBranchBName), "-o", "list.json"});
        ASSERT_EQ(package.status, 0) << package.err;
        Outcome unpackage = Run({"unpackage", "--db", "b.db", "list.json", "-o", "answer.json"});
        ASSERT_EQ(unpackage.status, 0) << unpackage.err;
        EXPECT_TRUE(Contains(unpackage.out, step.counts)) << unpackage.out;
        // A receipt of an earlier version answers the notices of the other type "not saved": it
        // marks what it marked then, and the receipt of today marks nothing more.
        ReceiptFile older = ReadReceiptFile(ReadFile(dir_ / "answer.json"), "answer.json");
        for (ReceiptBill& b : older.packages.at(0).bills) {
            if (b.outcome == hostkit::SaveOutcomeKind::kInOtherPackage) b.outcome = hostkit::SaveOutcomeKind::kNotSaved;
        }
        WriteTextFile(dir_ / "older.json", WriteReceiptFile(older));
        Outcome mark = Run({"mark", "--db", "a.db", "older.json"});
        ASSERT_EQ(mark.status, 0) << mark.err;
        EXPECT_EQ(Awaiting(a, "SEOutStock", 83), step.deliveries_left);
        EXPECT_EQ(Awaiting(a, "SEOutStock", 82), step.returns_left);
        mark = Run({"mark", "--db", "a.db", "answer.json"});
        ASSERT_EQ(mark.status, 0) << mark.err;
        EXPECT_EQ(Awaiting(a, "SEOutStock", 83), step.deliveries_left);
        EXPECT_EQ(Awaiting(a, "SEOutStock", 82), step.returns_left);
        // Every notice marked at A is held at B, and only those.
        const auto marked = a.Rows("SELECT FBillNo FROM SEOutStock WHERE FTranStatus=1 AND FInterID IN (" +
                                   awaiting_ids + ") ORDER BY FBillNo");
        EXPECT_EQ(marked, b.Rows("SELECT FBillNo FROM t_RcvBill WHERE FTranType IN (82,83) ORDER BY FBillNo"));
    }
    EXPECT_EQ(b.Int("SELECT count(*) FROM t_RcvBill WHERE FTranType=82"), returns);
    EXPECT_EQ(b.Int("SELECT count(*) FROM t_RcvBill WHERE FTranType=83"), deliveries);
}

TEST_F(OrbabtTest, AListOrReceiptAtTheWrongBranchIsRefusedWithNothingChanged) {
    MakeBranch("a.db", 1);
    MakeBranch("b.db", 2);
    MakeBranch("c.db", 3);
    ASSERT_EQ(Run({"request", "--types", "501,502,503", "-o", "r.json"}).status, 0);
    ASSERT_EQ(Run({"package", "--db", "a.db", "--requests", "r.json", "--to", std::string(kBranchBNumber), "--to-name",
                   std::string(kBranchBName), "-o", "list.json"})
                  .status,
              0);
    hostkit::testing::TestDb a((dir_ / "a.db").string());
    hostkit::testing::TestDb b((dir_ / "b.db").string());
    hostkit::testing::TestDb c((dir_ / "c.db").string());
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string_view> says;
    };
    const Case before_receipt[] = {
        {"a list unpackaged at a third branch", {"unpackage", "--db", "c.db", "list.json"}, {"01.002", "01.003"}},
        {"a list unpackaged at its sender", {"unpackage", "--db", "a.db", "list.json"}, {"01.002", "01.001"}},
        {"a list where the receipt belongs", {"mark", "--db", "a.db", "list.json"}, {"not a receipt", "--without-receipt"}},
        {"a list marked at the receiver", {"mark", "--db", "b.db", "--without-receipt", "list.json"}, {"01.001", "01.002"}},
        {"a list packaged for its own branch",
         {"package", "--db", "a.db", "--requests", "r.json", "--to", "01.001", "--to-name", "A", "-o", "self.json"},
         {"01.001", "itself"}},
    };
    const Case after_receipt[] = {
        {"a receipt marked at the branch that wrote it", {"mark", "--db", "b.db", "list.receipt.json"}, {"01.001", "01.002"}},
        {"a receipt marked at a third branch", {"mark", "--db", "c.db", "list.receipt.json"}, {"01.001", "01.003"}},
    };
    auto refuse = [&](const Case& k) {
        SCOPED_TRACE(k.name);
        const std::string dumps = a.Dump() + b.Dump() + c.Dump();
        Outcome o = Run(k.args);
        EXPECT_EQ(o.status, 1) << o.out;
        for (std::string_view part : k.says) EXPECT_TRUE(Contains(o.err, part)) << o.err;
        EXPECT_EQ(a.Dump() + b.Dump() + c.Dump(), dumps);
    };
    for (const Case& k : before_receipt) refuse(k);
    EXPECT_FALSE(fs::exists(dir_ / "list.receipt.json"));
    EXPECT_FALSE(fs::exists(dir_ / "self.json"));
    ASSERT_EQ(Run({"unpackage", "--db", "b.db", "list.json"}).status, 0);
    for (const Case& k : after_receipt) refuse(k);

    // A host without receipts may still mark the whole list, and is told so.
    Outcome whole = Run({"mark", "--db", "a.db", "--without-receipt", "list.json"});
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_TRUE(Contains(whole.out, "Without a receipt")) << whole.out;
    EXPECT_EQ(a.Int("SELECT count(*) FROM POOrder" + std::string(kAwaiting)), 0);
}

TEST_F(OrbabtTest, ACorrectedOrderReSentAfterUnsettingArrivesWithItsNewQuantities) {
    MakeBranch("a.db", 1);
    MakeBranch("b.db", 2);
    hostkit::testing::TestDb a((dir_ / "a.db").string());
    hostkit::testing::TestDb b((dir_ / "b.db").string());
    auto exchange = [&] {
        EXPECT_EQ(Run({"request", "--types", "501", "-o", "r.json"}).status, 0);
        EXPECT_EQ(Run({"package", "--db", "a.db", "--requests", "r.json", "--to", std::string(kBranchBNumber),
                       "--to-name", std::string(kBranchBName), "-o", "list.json"})
                      .status,
                  0);
        Outcome unpackage = Run({"unpackage", "--db", "b.db", "list.json"});
        EXPECT_EQ(unpackage.status, 0) << unpackage.err;
        EXPECT_EQ(Run({"mark", "--db", "a.db", "list.receipt.json"}).status, 0);
        return unpackage;
    };
    exchange();
    const auto sent = a.Rows("SELECT v.FInterID, v.FBillNo FROM POOrder v WHERE v.FRelateBrID=2 AND v.FTranStatus=1 "
                             "AND v.FStatus IN (1,2) ORDER BY v.FInterID LIMIT 1");
    ASSERT_EQ(sent.size(), 1u);
    const std::string bill_no = sent[0][1];
    a.Exec("UPDATE POOrderEntry SET FAuxQty=4321.5 WHERE FInterID=" + sent[0][0] +
           " AND FEntryID=(SELECT min(FEntryID) FROM POOrderEntry WHERE FInterID=" + sent[0][0] + ")");
    ASSERT_EQ(Run({"invoke", "OrbaBillTransmit.DataTrans", "UnSetOrdTranStatus", "[{\"BillID\": \"" + bill_no + "\"}]",
                   "--db", "a.db"})
                  .status,
              0);

    Outcome resent = exchange();
    EXPECT_TRUE(Contains(resent.out, bill_no + " from branch 01.001: updated")) << resent.out;
    EXPECT_EQ(OutcomesOf(ReadFile(dir_ / "list.receipt.json")), (std::map<std::string, std::string>{{bill_no, "updated"}}));
    EXPECT_EQ(b.Text("SELECT e.FQty FROM t_RcvBillEntry e JOIN t_RcvBill r ON r.FRcvID=e.FRcvID WHERE r.FBillNo='" +
                     bill_no + "' AND e.FIndex=1"),
              "4321.5");
    EXPECT_EQ(b.Int("SELECT FRevision FROM t_RcvBill WHERE FBillNo='" + bill_no + "'"), 2);
    EXPECT_EQ(a.Int("SELECT FTranStatus FROM POOrder WHERE FInterID=" + sent[0][0]), 1);
}

TEST_F(OrbabtTest, ABillNumberThatIsNotTextStopsPackagingAndIsNamed) {
    MakeBranch("a.db", 1);
    hostkit::testing::TestDb a((dir_ / "a.db").string());
    const std::string id = a.Text("SELECT min(FInterID) FROM POOrder" + std::string(kAwaiting)).value_or("");
    ASSERT_FALSE(id.empty());
    a.Exec("UPDATE POOrder SET FBillNo=FBillNo||X'FF' WHERE FInterID=" + id);
    ASSERT_EQ(Run({"request", "--types", "501", "-o", "r.json"}).status, 0);
    Outcome o = Run({"package", "--db", "a.db", "--requests", "r.json", "--to", std::string(kBranchBNumber), "--to-name",
                     std::string(kBranchBName), "-o", "list.json"});
    EXPECT_EQ(o.status, 1);
    const std::string named_bill = "FInterID " + id;
    for (std::string_view part : {std::string_view("column FBillNo of table POOrder"), std::string_view(named_bill),
                                  std::string_view("not valid UTF-8")}) {
        EXPECT_TRUE(Contains(o.err, part)) << o.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "list.json"));
}


// Mark reads the receipt's bills at A a few hundred to a statement: a bill whose number does
// not match, wherever it stands, is left alone and every other one is marked.
TEST_F(OrbabtTest, AReceiptThatNamesAnotherBillUnderAnInternalNumberDoesNotMarkIt) {
    hostkit::CreateSampleDatabase((dir_ / "a.db").string(),
                                  {.branch = 1, .orders = 1201, .notices = 0, .returns = 0, .lines = 1, .seed = 3});
    MakeBranch("b.db", 2);
    hostkit::testing::TestDb a((dir_ / "a.db").string());
    a.Exec("UPDATE POOrder SET FRelateBrID=2, FStatus=1, FTranStatus=0");
    ASSERT_EQ(Run({"request", "--types", "501", "-o", "r.json"}).status, 0);
    ASSERT_EQ(Run({"package", "--db", "a.db", "--requests", "r.json", "--to", std::string(kBranchBNumber), "--to-name",
                   std::string(kBranchBName), "-o", "list.json"})
                  .status,
              0);
    ASSERT_EQ(Run({"unpackage", "--db", "b.db", "list.json"}).status, 0);
    const std::string receipt = ReadFile(dir_ / "list.receipt.json");
    fs::copy_file(dir_ / "a.db", dir_ / "a-before.db");
    // The n-th acknowledged order's number no longer matches its internal number at A.
    for (int wrong : {1, 500, 501, 1201}) {
        SCOPED_TRACE(wrong);
        fs::copy_file(dir_ / "a-before.db", dir_ / "a.db", fs::copy_options::overwrite_existing);
        std::string changed = receipt;
        size_t at = std::string::npos;
        for (int n = 0; n < wrong; ++n) at = changed.find("\"BillNo\": \"", at + 1);
        ASSERT_NE(at, std::string::npos);
        changed.insert(at + 11, "X");
        WriteTextFile(dir_ / "changed.receipt.json", changed);

        Outcome mark = Run({"mark", "--db", "a.db", "changed.receipt.json"});
        EXPECT_EQ(mark.status, 1);
        EXPECT_TRUE(Contains(mark.err, "is not that bill here; it is left unmarked")) << mark.err;
        EXPECT_TRUE(Contains(mark.out, "1200 acknowledged bills marked transmitted")) << mark.out;
        hostkit::testing::TestDb marked((dir_ / "a.db").string());
        EXPECT_EQ(Awaiting(marked, "POOrder", 71), 1);
    }
}


// A typo in -o must never destroy a branch's database or a file the command reads.
TEST_F(OrbabtTest, NoOutputIsWrittenOverTheDatabaseOrAFileTheCommandReads) {
    MakeBranch("a.db", 1);
    MakeBranch("b.db", 2);
    MakeBranch("c.db", 3);
    ASSERT_EQ(Run({"request", "--types", "501", "-o", "r.json"}).status, 0);
    const std::vector<std::string> package = {"package", "--db", "a.db", "--requests", "r.json", "--to",
                                              std::string(kBranchBNumber), "--to-name", std::string(kBranchBName)};
    auto with = [](std::vector<std::string> args, std::initializer_list<std::string> more) {
        args.insert(args.end(), more);
        return args;
    };
    ASSERT_EQ(Run(with(package, {"-o", "list.json"})).status, 0);
    fs::create_symlink("a.db", dir_ / "link-to-a.db");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string_view says;
    };
    const Case cases[] = {
        {"package over its database", with(package, {"-o", "a.db"}), "is the account database 'a.db' itself"},
        {"package over its database through a link", with(package, {"-o", "link-to-a.db"}), "the account database"},
        {"package over its request", with(package, {"-o", "r.json"}), "the download request 'r.json' itself"},
        {"unpackage over its database", {"unpackage", "--db", "b.db", "list.json", "-o", "b.db"}, "'b.db' itself"},
        {"unpackage over its list", {"unpackage", "--db", "b.db", "list.json", "-o", "list.json"},
         "the transmission list 'list.json' itself"},
        {"a request over another branch's database", {"request", "--types", "501", "-o", "c.db"},
         "is an SQLite database"},
        {"a trace appended to the database", {"unpackage", "--db", "b.db", "list.json", "--trace-sql", "b.db"},
         "--trace-sql 'b.db'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = ReadFile(dir_ / "a.db") + ReadFile(dir_ / "b.db") + ReadFile(dir_ / "c.db") +
                                   ReadFile(dir_ / "list.json") + ReadFile(dir_ / "r.json");
        Outcome o = Run(c.args);
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(Contains(o.err, c.says)) << o.err;
        EXPECT_TRUE(Contains(o.err, "Nothing was done")) << o.err;
        EXPECT_EQ(ReadFile(dir_ / "a.db") + ReadFile(dir_ / "b.db") + ReadFile(dir_ / "c.db") +
                      ReadFile(dir_ / "list.json") + ReadFile(dir_ / "r.json"),
                  before);
    }
    // A receipt that could not be written is found out before anything is saved.
    Outcome o = Run({"unpackage", "--db", "b.db", "list.json", "-o", "missing/answer.json"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "missing")) << o.err;
    hostkit::testing::TestDb b((dir_ / "b.db").string());
    EXPECT_EQ(b.Int("SELECT count(*) FROM sqlite_master WHERE name='t_RcvBill'"), 0);
}

// Packages and saves purchase orders from a.db to b.db; the list is list.json and its receipt
// list.receipt.json.
class ReceiptProofTest : public OrbabtTest {
protected:
    void SetUp() override {
        MakeBranch("a.db", 1);
        MakeBranch("b.db", 2);
        a_.emplace((dir_ / "a.db").string());
        b_.emplace((dir_ / "b.db").string());
        ASSERT_EQ(Run({"request", "--types", "501", "-o", "r.json"}).status, 0);
    }
    Outcome PackageAtA(const std::string& list = "list.json") {
        return Run({"package", "--db", "a.db", "--requests", "r.json", "--to", std::string(kBranchBNumber), "--to-name",
                    std::string(kBranchBName), "-o", list});
    }
    // The first order awaiting B at A: its internal number and bill number.
    std::vector<std::string> FirstAwaiting() {
        auto rows = a_->Rows("SELECT FInterID, FBillNo FROM POOrder" + std::string(kAwaiting) + " ORDER BY FInterID LIMIT 1");
        return rows.empty() ? std::vector<std::string>{} : rows[0];
    }
    void ChangeQuantity(const std::string& inter_id, std::string_view qty) {
        a_->Exec("UPDATE POOrderEntry SET FAuxQty=" + std::string(qty) + " WHERE FInterID=" + inter_id);
    }
    long long MarkedAtA(const std::string& inter_id) {
        return a_->Int("SELECT count(*) FROM POOrder WHERE FTranStatus=1 AND FInterID=" + inter_id);
    }
    std::optional<hostkit::testing::TestDb> a_;
    std::optional<hostkit::testing::TestDb> b_;
};

// A receipt marks only what it can prove: a bill addressed to its sender, in a status that
// may be sent, unchanged since B received it.
TEST_F(ReceiptProofTest, AnEditedOrForeignReceiptMarksNothingItCannotProve) {
    ASSERT_EQ(PackageAtA().status, 0);
    ASSERT_EQ(Run({"unpackage", "--db", "b.db", "list.json"}).status, 0);
    const ReceiptFile good = ReadReceiptFile(ReadFile(dir_ / "list.receipt.json"), "receipt");
    ASSERT_GE(good.packages.at(0).bills.size(), 2u);
    // A bill addressed to B that may not be sent yet.
    a_->Exec("UPDATE POOrder SET FRelateBrID=2, FStatus=0 WHERE FInterID=(SELECT min(FInterID) FROM POOrder WHERE "
             "FRelateBrID=4)");
    fs::copy_file(dir_ / "a.db", dir_ / "a-before.db");
    // Bills at A that must not be marked from B's receipt, each put in place of the first
    // acknowledged bill with its own number.
    auto bill_where = [&](std::string_view condition) {
        auto rows = a_->Rows("SELECT FInterID, FBillNo FROM POOrder WHERE " + std::string(condition) + " LIMIT 1");
        EXPECT_EQ(rows.size(), 1u) << condition;
        return rows.empty() ? std::vector<std::string>{"0", "?"} : rows[0];
    };
    auto naming = [&](const std::vector<std::string>& bill) {
        ReceiptFile edited = good;
        edited.packages[0].bills[0].bill_inter_id = std::stoi(bill[0]);
        edited.packages[0].bills[0].bill_no = bill[1];
        return edited;
    };
    ReceiptFile from_stranger = good;
    from_stranger.sender.number = "09.999";
    ReceiptFile twice = good;
    twice.packages[0].bills.push_back(good.packages[0].bills[0]);
    ReceiptFile flipped = good;
    flipped.packages[0].bills[0].fingerprint.clear();  // what "not saved" edited to "saved" looks like
    ReceiptFile old = good;
    for (ReceiptBill& b : old.packages[0].bills) b.fingerprint.clear();
    struct Case {
        const char* name;
        ReceiptFile receipt;
        bool whole_refused;
        std::string_view says;
    };
    const Case cases[] = {
        {"a bill addressed to another branch", naming(bill_where("FRelateBrID=3 AND FStatus IN (1,2)")), false,
         "is not addressed to branch 01.002 here"},
        {"a bill addressed to no branch", naming(bill_where("FRelateBrID IS NULL AND FStatus IN (1,2)")), false,
         "is not addressed to branch 01.002 here"},
        {"a bill not approved", naming(bill_where("FRelateBrID=2 AND FStatus=0")), false, "is in status 0 here"},
        {"a sender that is no related branch", from_stranger, true, "which is not a related branch"},
        {"a bill acknowledged twice", twice, true, "more than once"},
        {"an acknowledgement without its fingerprint", flipped, true, "without the fingerprint"},
        {"a receipt of the earlier version", old, true, "Save the same list again at 01.002"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::copy_file(dir_ / "a-before.db", dir_ / "a.db", fs::copy_options::overwrite_existing);
        WriteTextFile(dir_ / "edited.json", WriteReceiptFile(c.receipt));
        const std::string before = a_->Dump();
        Outcome mark = Run({"mark", "--db", "a.db", "edited.json"});
        EXPECT_EQ(mark.status, 1) << mark.out;
        EXPECT_TRUE(Contains(mark.err, c.says)) << mark.err;
        if (c.whole_refused) {
            EXPECT_EQ(a_->Dump(), before);
        } else {
            EXPECT_EQ(MarkedAtA(std::to_string(*c.receipt.packages[0].bills[0].bill_inter_id)), 0);
            EXPECT_EQ(MarkedAtA(std::to_string(*c.receipt.packages[0].bills[1].bill_inter_id)), 1);
        }
    }
}

// A bill edited at A after it was packaged is not marked from the receipt of its old copy,
// however the receipt arrives; the next package sends it again.
TEST_F(ReceiptProofTest, ABillEditedAfterPackagingIsNotMarkedAndGoesAgain) {
    const std::vector<std::string> bill = FirstAwaiting();
    ASSERT_EQ(bill.size(), 2u);
    ASSERT_EQ(PackageAtA().status, 0);
    ChangeQuantity(bill[0], "777.5");
    ASSERT_EQ(Run({"unpackage", "--db", "b.db", "list.json"}).status, 0);
    fs::copy_file(dir_ / "list.receipt.json", dir_ / "first.receipt.json");
    Outcome mark = Run({"mark", "--db", "a.db", "list.receipt.json"});
    EXPECT_EQ(mark.status, 0) << mark.err;
    EXPECT_TRUE(Contains(mark.out, bill[1] + " changed at 01.001 after it was packaged")) << mark.out;
    EXPECT_EQ(MarkedAtA(bill[0]), 0);
    EXPECT_EQ(Awaiting(*a_, "POOrder", 71), 1);

    // The next package carries it; B replaces its copy and that receipt marks it.
    ASSERT_EQ(PackageAtA().status, 0);
    Outcome resent = Run({"unpackage", "--db", "b.db", "list.json"});
    EXPECT_TRUE(Contains(resent.out, bill[1] + " from branch 01.001: updated")) << resent.out;
    ASSERT_EQ(Run({"mark", "--db", "a.db", "list.receipt.json"}).status, 0);
    EXPECT_EQ(MarkedAtA(bill[0]), 1);
    EXPECT_EQ(b_->Text("SELECT e.FQty FROM t_RcvBillEntry e JOIN t_RcvBill r ON r.FRcvID=e.FRcvID WHERE r.FBillNo='" +
                      bill[1] + "' AND e.FIndex=1"),
              "777.5");

    // Un-sent and edited again: the old receipt, replayed, marks nothing.
    ASSERT_EQ(Run({"invoke", "OrbaBillTransmit.DataTrans", "UnSetOrdTranStatus", "[{\"BillID\": \"" + bill[1] + "\"}]",
                   "--db", "a.db"})
                  .status,
              0);
    ChangeQuantity(bill[0], "888");
    EXPECT_EQ(Run({"mark", "--db", "a.db", "first.receipt.json"}).status, 0);
    EXPECT_EQ(MarkedAtA(bill[0]), 0);
}

// Two lists saved at B in the wrong order: B keeps the newer copy, and only the newer list's
// receipt marks the bill.
TEST_F(ReceiptProofTest, ListsSavedInTheWrongOrderKeepTheNewestCopy) {
    const std::vector<std::string> bill = FirstAwaiting();
    ASSERT_EQ(bill.size(), 2u);
    ASSERT_EQ(PackageAtA("older.json").status, 0);
    ChangeQuantity(bill[0], "4321");
    ASSERT_EQ(PackageAtA("newer.json").status, 0);
    // The lists are made within a second: the older one is dated a day back.
    std::string older = ReadFile(dir_ / "older.json");
    const size_t at = older.find("\"created\":{\"$date\": \"");
    ASSERT_NE(at, std::string::npos);
    older.replace(at + 21, 4, "2025");
    WriteTextFile(dir_ / "older.json", older);

    ASSERT_EQ(Run({"unpackage", "--db", "b.db", "newer.json"}).status, 0);
    Outcome late = Run({"unpackage", "--db", "b.db", "older.json"});
    EXPECT_EQ(late.status, 0) << late.err;
    EXPECT_TRUE(Contains(late.out, "a newer copy of this bill")) << late.out;
    EXPECT_EQ(OutcomesOf(ReadFile(dir_ / "older.receipt.json"))[bill[1]], "not saved");
    EXPECT_EQ(b_->Text("SELECT e.FQty FROM t_RcvBillEntry e JOIN t_RcvBill r ON r.FRcvID=e.FRcvID WHERE r.FBillNo='" +
                      bill[1] + "' AND e.FIndex=1"),
              "4321");

    ASSERT_EQ(Run({"mark", "--db", "a.db", "older.receipt.json"}).status, 0);
    EXPECT_EQ(MarkedAtA(bill[0]), 0);
    ASSERT_EQ(Run({"mark", "--db", "a.db", "newer.receipt.json"}).status, 0);
    EXPECT_EQ(MarkedAtA(bill[0]), 1);
    EXPECT_EQ(Awaiting(*a_, "POOrder", 71), 0);
}

// A package of a type the branch does not take is named, and its bills answered not saved.
TEST_F(ReceiptProofTest, APackageOfAnUnknownTypeIsNamedAndItsBillsAnsweredNotSaved) {
    ASSERT_EQ(PackageAtA().status, 0);
    std::string list = ReadFile(dir_ / "list.json");
    const size_t at = list.find("{\"$int16\": 501}");
    ASSERT_NE(at, std::string::npos);
    list.replace(at, 15, "{\"$int16\": 504}");
    WriteTextFile(dir_ / "list.json", list);
    Outcome o = Run({"unpackage", "--db", "b.db", "list.json"});
    EXPECT_TRUE(Contains(o.out, "Package 1 is of bill type 504, which this branch does not take")) << o.out;
    const ReceiptFile receipt = ReadReceiptFile(ReadFile(dir_ / "list.receipt.json"), "receipt");
    ASSERT_EQ(receipt.packages.size(), 1u);
    EXPECT_EQ(static_cast<long long>(receipt.packages[0].bills.size()), Awaiting(*a_, "POOrder", 71));
    for (const ReceiptBill& b : receipt.packages[0].bills) EXPECT_FALSE(b.Acknowledged());
}

TEST_F(OrbabtTest, ALogThatCannotBeWrittenIsReportedWithTheMessagesAndTheReceiptIsStillWritten) {
    // A copy of the program whose log folder is taken by a file, so no log can be made.
    const fs::path here = fs::read_symlink("/proc/self/exe").parent_path();
    fs::create_directories(dir_ / "bin");
    fs::copy_file(here / "orbabt", dir_ / "bin" / "orbabt");
    // Every name of the shared libraries: the program loads them by their versioned names.
    for (const auto& entry : fs::directory_iterator(here)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("lib", 0) == 0 && name.find(".so") != std::string::npos) {
            fs::copy_file(entry.path(), dir_ / "bin" / name);
        }
    }
    WriteTextFile(dir_ / "bin" / "TransmitLog", "not a folder");
    const fs::path program = dir_ / "bin" / "orbabt";
    MakeBranch("a.db", 1);
    MakeBranch("b.db", 2);
    ASSERT_EQ(Run({"request", "--types", "501", "-o", "r.json"}).status, 0);
    ASSERT_EQ(Run({"package", "--db", "a.db", "--requests", "r.json", "--to", std::string(kBranchBNumber), "--to-name",
                   std::string(kBranchBName), "-o", "list.json", "--pretty"})
                  .status,
              0);
    std::string broken = ReadFile(dir_ / "list.json");
    const size_t at = broken.find("\"BillInterID\": ");
    ASSERT_NE(at, std::string::npos);
    broken.insert(at + 15, "\"x\", \"Was\": ");
    WriteTextFile(dir_ / "broken.json", broken);
    struct Case {
        const char* name;
        const char* list;
        int status;
        std::string_view says;
    };
    for (const Case& c : {Case{"the saving failed", "broken.json", 1, "\"BillInterID\""},
                          Case{"the saving succeeded", "list.json", 0, ": saved"}}) {
        SCOPED_TRACE(c.name);
        Outcome o = Run({"unpackage", "--db", "b.db", c.list, "-o", "answer.json"}, program);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_TRUE(Contains(o.out, c.says)) << o.out;
        EXPECT_TRUE(Contains(o.out, "The transmission log could not be written: ")) << o.out;
        EXPECT_FALSE(Contains(o.out, "no messages")) << o.out;
        EXPECT_TRUE(fs::exists(dir_ / "answer.json"));
        fs::remove(dir_ / "answer.json");
    }
}

}  // namespace
}  // namespace orba::apps
