// demo: a full exchange between two sample branch databases, from A to B and back, each way
// through every step the exchange commands take one at a time.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <filesystem>
#include <iostream>
#include <memory>

#include "apps/orbabt/commands.h"
#include "exchange/steps.h"
#include "apps/orbabt/exchange_summary.h"
#include "apps/orbabt/host_setup.h"
#include "data/bill_types.h"
#include "exchange/mark.h"
#include "exchange/output_guard.h"
#include "exchange/transport.h"
#include "hostkit/database.h"
#include "hostkit/sample_data.h"
#include "platform/error.h"

namespace orba::apps {

using namespace orba::exchange;

using platform::Error;
using platform::ErrorCode;
using platform::Ref;

namespace {

constexpr int kDemoBranchA = 1;
constexpr int kDemoBranchB = 2;

// Each sample branch addresses its bills to the three other branches of the group, in a
// mix of statuses, so about a sixth of them is ready to go from A to B.
struct DemoOptions {
    std::string dir = "demo";
    // The two branch databases (a file path or a server URI); by default two files in dir.
    std::string a;
    std::string b;
    int orders = 60;
    int notices = 40;
    int returns = 30;
    int lines = 8;
};

int TotalBills(const std::vector<PackageCount>& counts) {
    int n = 0;
    for (const auto& c : counts) n += c.bills;
    return n;
}

// Makes a demo branch database unless it is there: a file that exists already, or a server
// database that holds the schema already, is used as it is.
void EnsureDemoDatabase(const std::string& location, int branch, const DemoOptions& options) {
    hostkit::SampleOptions sample;
    sample.branch = branch;
    sample.orders = options.orders;
    sample.notices = options.notices;
    sample.returns = options.returns;
    sample.lines = options.lines;
    sample.seed = static_cast<uint64_t>(branch);
    try {
        hostkit::CreateSampleDatabase(location, sample);
    } catch (const Error& e) {
        if (e.Code() == ErrorCode::kFileAlreadyExists) return;
        throw;
    }
    std::cout << fmt::format("Created sample branch database {}\n", hostkit::WithoutPassword(location));
}

// One branch of the demo: its database and who it is.
struct DemoBranch {
    hostkit::Database& db;
    Branch branch;
    char letter;  // how the demo's text names it: A or B
};

enum class OneWay { kNothingNew, kDone, kFailed };

// The table of one direction: per package, the bills and lines packaged at `f`, what `t`
// did with them, and the bills marked at `f`.
void PrintOneWay(char f, char t, const std::vector<PackageCount>& packaged, const ReceiptFile& receipt,
                 const std::vector<std::pair<int32_t, int>>& marked) {
    std::cout << fmt::format("{:<22} {:>16} {:>32} {:>12}\n", "", fmt::format("packaged at {}", f),
                             fmt::format("at {}", t), fmt::format("marked at {}", f));
    std::cout << fmt::format("{:<22} {:>7} {:>8} {:>6} {:>8} {:>5} {:>5} {:>5} {:>12}\n", "", "bills", "lines",
                             "saved", "updated", "held", "not", "other", "bills");
    for (size_t i = 0; i < packaged.size(); ++i) {
        const PackageCount& c = packaged[i];
        const OutcomeCounts outcome = i < receipt.packages.size() ? CountOutcomes(receipt.packages[i]) : OutcomeCounts{};
        std::cout << fmt::format("{} {:<18} {:>7} {:>8} {:>6} {:>8} {:>5} {:>5} {:>5} {:>12}\n", c.bill_type,
                                 BillTypeName(c.bill_type), c.own_bills, c.own_lines, outcome.saved, outcome.updated,
                                 outcome.held, outcome.not_saved, outcome.in_other_package,
                                 i < marked.size() ? marked[i].second : 0);
    }
    std::cout << fmt::format(
        "\n(Each notice package also carries the notices of the other type; every notice is saved\n"
        "from the package of its own type and acknowledged there. \"other\": notices of the other\n"
        "type, left to their own package. \"not\": not saved at {}, so not marked at {}; those bills\n"
        "are sent again next time.)\n",
        t, f);
}

// One direction of the demo: `to` asks `from` for every kind of bill, `from` packages what
// is addressed to `to` and not yet sent, `to` saves it from the file as it arrived and writes
// its receipt, and `from` marks what the receipt acknowledges. The files are named with
// `suffix`, the steps numbered from `first_step`.
OneWay ExchangeOneWay(const DemoBranch& from, const DemoBranch& to, const std::filesystem::path& dir,
                      std::string_view suffix, int first_step) {
    const char f = from.letter;
    const char t = to.letter;
    int step = first_step;
    const auto file = [&](std::string_view name) { return dir / fmt::format("{}{}.json", name, suffix); };

    const std::filesystem::path requests_file = file("requests");
    WriteTextFile(requests_file,
                  WriteRequestFile(RequestFile{platform::Date::Now(), MakeRequests(data::AllBillTypeCodes())}));
    std::cout << fmt::format("{}. {} requests purchase orders, delivery notices and return notices from {}: {}\n",
                             step++, t, f, requests_file.string());

    RequestFile request = ReadRequestFile(ReadTextFile(requests_file), requests_file.string());
    const std::filesystem::path list_file = file("list");
    const auto packaged =
        PackageToFile(from.db, request.requests, ListFile{from.branch, to.branch, platform::Date::Now(), {}}, list_file);
    std::cout << fmt::format("{}. {} packages the bills for {}: {}\n", step++, f, t, list_file.string());
    if (TotalBills(packaged) == 0) {
        std::cout << fmt::format("\nNothing new to send: every bill at {} addressed to {} has been sent already.\n\n",
                                 from.branch.number, to.branch.number);
        return OneWay::kNothingNew;
    }

    ListFileReader arrived(list_file);
    const Accepted accepted = AcceptList(to.db, to.branch, arrived, list_file.string());
    const UnpackageResult& saved = accepted.saved;
    const std::filesystem::path receipt_file = file("receipt");
    SaveReceiptFile(receipt_file, accepted.receipt);
    std::cout << fmt::format("{}. {} saves the bills{} and writes its receipt: {}\n", step++, t,
                             saved.failed ? " (with a failure, see above)" : "", receipt_file.string());
    const ReceiptFile receipt = ReadReceiptFile(ReadTextFile(receipt_file), receipt_file.string());
    const MarkResult mark = AcceptReceipt(from.db, from.branch, receipt, receipt_file.string());
    const bool marked_ok = mark.ok;
    std::cout << fmt::format("{}. {} marks the bills the receipt acknowledges{}\n\n", step++, f,
                             marked_ok ? "" : " (with a failure, see above)");

    PrintOneWay(f, t, packaged, receipt, mark.marked);
    std::cout << "\nTransmission log: " << (saved.log.empty() ? std::string("(none)") : saved.log.string()) << "\n";
    if (!saved.log_error.empty()) std::cout << "The transmission log could not be written: " << saved.log_error << "\n";
    std::cout << "\n";
    return saved.failed || !marked_ok ? OneWay::kFailed : OneWay::kDone;
}

int RunDemo(const DemoOptions& options) {
    namespace fs = std::filesystem;
    fs::create_directories(options.dir);
    const fs::path dir(options.dir);
    const std::string a_db = options.a.empty() ? (dir / "branch-a.db").string() : options.a;
    const std::string b_db = options.b.empty() ? (dir / "branch-b.db").string() : options.b;
    if (a_db == b_db) throw Error(ErrorCode::kBadInput, "Branch A and branch B must be two different databases");
    EnsureDemoDatabase(a_db, kDemoBranchA, options);
    EnsureDemoDatabase(b_db, kDemoBranchB, options);
    // The transport files are written into the folder: never over either branch's database.
    for (std::string_view name : {"requests", "list", "receipt", "requests-back", "list-back", "receipt-back"}) {
        RequireSeparateOutput(dir / fmt::format("{}.json", name), "The demo's file",
                              {{"branch A's database", a_db}, {"branch B's database", b_db}});
    }
    const std::unique_ptr<hostkit::Database> a_database = UseBranchDatabase(a_db);
    const std::unique_ptr<hostkit::Database> b_database = UseBranchDatabase(b_db);
    const DemoBranch a{*a_database, OwnBranch(*a_database), 'A'};
    const DemoBranch b{*b_database, OwnBranch(*b_database), 'B'};
    std::cout << fmt::format("Branch A: {} {} ({})\nBranch B: {} {} ({})\n\n", a.branch.number, a.branch.name,
                             a.db.Label(), b.branch.number, b.branch.name, b.db.Label());

    // A's bills to B, and then B's bills back to A. After a failure the way back is not
    // taken, so the failure is the last thing shown.
    std::cout << "From A to B:\n";
    if (ExchangeOneWay(a, b, dir, "", 1) == OneWay::kFailed) return 1;
    std::cout << "From B back to A:\n";
    return ExchangeOneWay(b, a, dir, "-back", 5) == OneWay::kFailed ? 1 : 0;
}

}  // namespace

void AddDemoCommand(CLI::App& app, CommandContext& context) {
    auto demo = std::make_shared<DemoOptions>();
    auto* command = app.add_subcommand("demo", "A full exchange between two sample branch databases");
    command->add_option("--dir", demo->dir, "Folder of the two databases and the transport files");
    command->add_option("--a", demo->a, "Branch A's database: a file or a postgresql:// URI (default DIR/branch-a.db)");
    command->add_option("--b", demo->b, "Branch B's database: a file or a postgresql:// URI (default DIR/branch-b.db)");
    command->add_option("--orders", demo->orders, "Purchase orders per branch database")->check(CLI::NonNegativeNumber);
    command->add_option("--notices", demo->notices, "Delivery notices per branch database")
        ->check(CLI::NonNegativeNumber);
    command->add_option("--returns", demo->returns, "Return notices per branch database")->check(CLI::NonNegativeNumber);
    command->add_option("--lines", demo->lines, "Most lines per bill")->check(CLI::PositiveNumber);
    context.AddTraceOption(*command);
    command->callback([&context, demo] {
        context.Choose([demo] { return RunDemo(*demo); },
                       {{"branch A's database", demo->a}, {"branch B's database", demo->b}});
    });
}

}  // namespace orba::apps
