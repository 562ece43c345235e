// request, package, unpackage, mark and demo: the steps of an exchange between two branch
// databases, each through the library's facade, with transport files between them.
#include <fmt/format.h>

#include <filesystem>
#include <iostream>
#include <map>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/exchange.h"
#include "apps/orbabt/host_setup.h"
#include "hostkit/sample_data.h"
#include "hostkit/sqlite_db.h"
#include "platform/error.h"

namespace orba::apps {

using platform::Error;
using platform::ErrorCode;
using platform::Ref;

namespace {

constexpr int kDemoBranchA = 1;
constexpr int kDemoBranchB = 2;
const std::vector<int> kAllBillTypes = {501, 502, 503};

void PrintPackages(const std::vector<PackageCount>& counts) {
    for (const PackageCount& c : counts) {
        std::cout << fmt::format("  {} {:<17} {:>6} bills {:>7} lines ({} of its own type)\n", c.bill_type,
                                 BillTypeName(c.bill_type), c.bills, c.lines, c.own_bills);
    }
}

int TotalBills(const std::vector<PackageCount>& counts) {
    int n = 0;
    for (const auto& c : counts) n += c.bills;
    return n;
}

// Bills of one package found saved at the receiving branch, and their lines.
std::pair<int, int> CountSaved(const std::string& database, const Branch& sender, const PackageCount& package) {
    if (package.bill_numbers.empty()) return {0, 0};
    hostkit::SqliteDatabase db(database, hostkit::SqliteDatabase::Mode::kReadOnly);
    hostkit::SqliteStatement bills(db.Handle(),
                                   "SELECT count(*), (SELECT count(*) FROM t_RcvBillEntry e WHERE e.FRcvID IN "
                                   "(SELECT FRcvID FROM t_RcvBill WHERE FSendBrNumber=?1 AND FTranType=?2 AND FBillNo=?3)) "
                                   "FROM t_RcvBill WHERE FSendBrNumber=?1 AND FTranType=?2 AND FBillNo=?3");
    int saved = 0, lines = 0;
    for (const std::string& number : package.bill_numbers) {
        bills.Reset();
        bills.Bind(1, sender.number);
        bills.Bind(2, int64_t{TranTypeOf(package.bill_type)});
        bills.Bind(3, number);
        if (bills.Step()) {
            saved += static_cast<int>(bills.ColumnInt(0));
            lines += static_cast<int>(bills.ColumnInt(1));
        }
    }
    return {saved, lines};
}

// Bills of one package that the supplying branch has marked transmitted.
int CountMarked(const std::string& database, const PackageCount& package) {
    if (package.inter_ids.empty()) return 0;
    hostkit::SqliteDatabase db(database, hostkit::SqliteDatabase::Mode::kReadOnly);
    const char* table = package.bill_type == 501 ? "POOrder" : "SEOutStock";
    hostkit::SqliteStatement stmt(db.Handle(), fmt::format("SELECT FTranStatus FROM {} WHERE FInterID=?1", table));
    int marked = 0;
    for (int32_t id : package.inter_ids) {
        stmt.Reset();
        stmt.Bind(1, int64_t{id});
        if (stmt.Step() && !stmt.ColumnIsNull(0) && stmt.ColumnInt(0) == 1) ++marked;
    }
    return marked;
}

ListFile ReadList(const std::string& file) { return ReadListFile(ReadTextFile(file), file); }

}  // namespace

int RunRequest(const std::vector<int>& types, const std::string& output) {
    for (int type : types) {
        if (type < INT16_MIN || type > INT16_MAX) {
            throw Error(ErrorCode::kBadInput, fmt::format("The bill type {} is not a bill type code", type));
        }
    }
    WriteTextFile(output, WriteRequestFile(RequestFile{platform::Date::Now(), MakeRequests(types)}));
    std::cout << fmt::format("Wrote a download request for {} bill type(s) to {}\n", types.size(), output);
    return 0;
}

int RunPackage(const std::string& db, const std::string& requests_file, const std::string& to_number,
               const std::string& to_name, const std::string& output, bool pretty) {
    RequestFile request = ReadRequestFile(ReadTextFile(requests_file), requests_file);
    const Branch sender = OwnBranch(db);
    const Branch receiver{to_number, to_name};
    Ref<host::VariantVector> list = Package(db, *request.requests, receiver);
    SaveListFile(output, ListFile{sender, receiver, platform::Date::Now(), list}, pretty);
    const auto counts = CountPackages(*list);
    std::cout << fmt::format("Packaged at {} ({}) for {} ({}):\n", sender.number, sender.name, receiver.number,
                             receiver.name);
    PrintPackages(counts);
    std::cout << fmt::format("Wrote the transmission list to {}\n", output);
    return 0;
}

int RunUnpackage(const std::string& db, const std::string& list_file) {
    ListFile file = ReadList(list_file);
    UnpackageResult result = Unpackage(db, file.list);
    std::cout << "RtnMsg:\n" << result.message << "\n";
    if (result.log.empty()) {
        std::cout << "No transmission log was written (no messages).\n";
    } else {
        std::cout << "Transmission log: " << result.log.string() << "\n";
    }
    return result.failed ? 1 : 0;
}

int RunMark(const std::string& db, const std::string& list_file) {
    ListFile file = ReadList(list_file);
    const bool ok = Mark(db, file.list);
    for (const PackageCount& c : CountPackages(*file.list)) {
        std::cout << fmt::format("  {} {:<17} {:>6} of {} bills of its own type marked transmitted\n", c.bill_type,
                                 BillTypeName(c.bill_type), CountMarked(db, c), c.own_bills);
    }
    return ok ? 0 : 1;
}

int RunDemo(const DemoOptions& options) {
    namespace fs = std::filesystem;
    fs::create_directories(options.dir);
    const fs::path dir(options.dir);
    const std::string a_db = (dir / "branch-a.db").string();
    const std::string b_db = (dir / "branch-b.db").string();
    for (auto [path, branch] : {std::pair{a_db, kDemoBranchA}, std::pair{b_db, kDemoBranchB}}) {
        if (fs::exists(path)) continue;
        hostkit::SampleOptions sample;
        sample.branch = branch;
        sample.orders = options.orders;
        sample.notices = options.notices;
        sample.returns = options.returns;
        sample.lines = options.lines;
        sample.seed = static_cast<uint64_t>(branch);
        hostkit::CreateSampleDatabase(path, sample);
        std::cout << fmt::format("Created sample branch database {}\n", path);
    }
    const Branch a = OwnBranch(a_db);
    const Branch b = OwnBranch(b_db);
    std::cout << fmt::format("Branch A: {} {} ({})\nBranch B: {} {} ({})\n\n", a.number, a.name, a_db, b.number,
                             b.name, b_db);

    // 1. B asks A for every kind of bill.
    const fs::path requests_file = dir / "requests.json";
    WriteTextFile(requests_file, WriteRequestFile(RequestFile{platform::Date::Now(), MakeRequests(kAllBillTypes)}));
    std::cout << "1. B requests purchase orders, delivery notices and return notices: " << requests_file.string() << "\n";

    // 2. A packages what is addressed to B and not yet sent.
    RequestFile request = ReadRequestFile(ReadTextFile(requests_file), requests_file.string());
    Ref<host::VariantVector> list = Package(a_db, *request.requests, b);
    const fs::path list_file = dir / "list.json";
    SaveListFile(list_file, ListFile{a, b, platform::Date::Now(), list});
    const auto packaged = CountPackages(*list);
    std::cout << "2. A packages the bills for B: " << list_file.string() << "\n";
    if (TotalBills(packaged) == 0) {
        std::cout << fmt::format("\nNothing new to send: every bill at {} addressed to {} has been sent already.\n",
                                 a.number, b.number);
        return 0;
    }

    // 3. B saves them from the file, as it arrived; 4. A marks what it sent.
    ListFile arrived = ReadList(list_file.string());
    UnpackageResult saved = Unpackage(b_db, arrived.list);
    std::cout << "3. B saves the bills" << (saved.failed ? " (with a failure, see above)" : "") << "\n";
    const bool marked_ok = Mark(a_db, arrived.list);
    std::cout << "4. A marks the bills transmitted" << (marked_ok ? "" : " (with a failure, see above)") << "\n\n";

    std::cout << fmt::format("{:<22} {:>16} {:>16} {:>12}\n", "", "packaged at A", "saved at B", "marked at A");
    std::cout << fmt::format("{:<22} {:>7} {:>8} {:>7} {:>8} {:>12}\n", "", "bills", "lines", "bills", "lines", "bills");
    for (const PackageCount& c : packaged) {
        auto [saved_bills, saved_lines] = CountSaved(b_db, a, c);
        std::cout << fmt::format("{} {:<18} {:>7} {:>8} {:>7} {:>8} {:>12}\n", c.bill_type, BillTypeName(c.bill_type),
                                 c.own_bills, c.own_lines, saved_bills, saved_lines, CountMarked(a_db, c));
    }
    std::cout << "\n(Each notice package also carries the notices of the other type; every notice is saved\n"
                 "from the package of its own type.)\n";
    std::cout << "\nTransmission log: " << (saved.log.empty() ? std::string("(none)") : saved.log.string()) << "\n";
    return saved.failed || !marked_ok ? 1 : 0;
}

}  // namespace orba::apps
