// request, package, unpackage, mark and demo: the steps of an exchange between two branch
// databases, each through the library's facade, with transport files between them.
#include <fmt/format.h>

#include <filesystem>
#include <iostream>
#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/exchange.h"
#include "apps/orbabt/host_setup.h"
#include "apps/orbabt/safe_file.h"
#include "apps/orbabt/transport.h"
#include "hostkit/sample_data.h"
#include "hostkit/account_db.h"
#include "hostkit/pg_db.h"
#include "hostkit/pg_schema.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps {

using platform::Error;
using platform::ErrorCode;
using platform::Ref;
using platform::Variant;

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

const char* BillTable(int32_t bill_type) { return bill_type == 501 ? "POOrder" : "SEOutStock"; }

// Reads `columns` (after FInterID) of the bills `ids` of a bill type: a few statements of
// many numbers each rather than one per bill, so that a receipt of thousands of bills costs
// a few reads. Calls `row` with each bill found; numbers not found are left out.
template <class OnRow>
void ReadBills(hostkit::AccountDatabase& db, int32_t bill_type, std::string_view columns,
               const std::vector<int32_t>& ids, OnRow row) {
    constexpr size_t kIdsPerStatement = 500;
    for (size_t start = 0; start < ids.size(); start += kIdsPerStatement) {
        const size_t end = std::min(ids.size(), start + kIdsPerStatement);
        // Internal numbers are integers, written here by this program.
        std::string sql = fmt::format("SELECT FInterID, {} FROM {} WHERE FInterID IN (", columns, BillTable(bill_type));
        for (size_t i = start; i < end; ++i) fmt::format_to(std::back_inserter(sql), "{}{}", i > start ? "," : "", ids[i]);
        sql += ')';
        for (Ref<platform::RecordSet> rows = db.Query(sql); !rows->Eof(); rows->MoveNext()) {
            row(static_cast<int32_t>(rows->Value(0).ToLong()), *rows);
        }
    }
}

// Of the bills `ids` of a bill type, those the supplying branch has marked transmitted.
int CountMarkedIds(hostkit::AccountDatabase& db, int32_t bill_type, const std::vector<int32_t>& ids) {
    std::unordered_set<int32_t> transmitted;
    ReadBills(db, bill_type, "FTranStatus", ids, [&](int32_t id, platform::RecordSet& rows) {
        if (!rows.Value(1).IsNull() && rows.Value(1).ToLong() == 1) transmitted.insert(id);
    });
    int marked = 0;
    for (int32_t id : ids) marked += transmitted.count(id) ? 1 : 0;
    return marked;
}

// Bills of one package that the supplying branch has marked transmitted.
int CountMarked(hostkit::AccountDatabase& db, const PackageCount& package) {
    return CountMarkedIds(db, package.bill_type, package.inter_ids);
}


struct OutcomeCounts {
    int saved = 0, updated = 0, held = 0, not_saved = 0;
};

// The outcomes of a package's bills; with `only`, of the bills with those numbers alone.
OutcomeCounts CountOutcomes(const ReceiptPackage& p, const std::vector<std::string>* only = nullptr) {
    OutcomeCounts c;
    for (const ReceiptBill& b : p.bills) {
        if (only && std::find(only->begin(), only->end(), b.bill_no) == only->end()) continue;
        switch (b.outcome) {
            case hostkit::SaveOutcomeKind::kSaved: ++c.saved; break;
            case hostkit::SaveOutcomeKind::kUpdated: ++c.updated; break;
            case hostkit::SaveOutcomeKind::kAlreadyHeld: ++c.held; break;
            case hostkit::SaveOutcomeKind::kNotSaved: ++c.not_saved; break;
        }
    }
    return c;
}

void PrintReceipt(const ReceiptFile& receipt) {
    // Branch numbers and names come from the other branch's file: shown with control
    // characters escaped.
    std::cout << platform::ForTerminal(fmt::format("Receipt of {} ({}) for the list {} made on {}:",
                                                   platform::EscapeControls(receipt.sender.number),
                                                   platform::EscapeControls(receipt.sender.name),
                                                   platform::EscapeControls(receipt.list_sender.number),
                                                   receipt.list_created.ToString()))
              << "\n";
    for (const ReceiptPackage& p : receipt.packages) {
        const OutcomeCounts c = CountOutcomes(p);
        std::cout << fmt::format("  {} {:<17} saved {}, updated {}, already held {}, not saved {}\n", p.bill_type,
                                 BillTypeName(p.bill_type), c.saved, c.updated, c.held, c.not_saved);
    }
}

// Raises an Error, with nothing marked, unless `receipt` can be what the related branch that
// saved the bills wrote for this branch: its sender is one of this database's related
// branches, it acknowledges each bill once, and each with the fingerprint of the copy held
// there. Returns the sender's internal number here (t_SonCompany.FItemID).
int64_t RequireSoundReceipt(hostkit::AccountDatabase& database, const ReceiptFile& receipt,
                            std::string_view file_name, const Branch& own) {
    if (receipt.sender.number == own.number) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' names this branch {} ({}) as the branch that saved the bills; a receipt comes "
                                "from the branch the list went to. Nothing was marked",
                                file_name, own.number, own.name));
    }
    Ref<platform::RecordSet> related =
        database.Query("SELECT FItemID FROM t_SonCompany WHERE FNumber=$1", {Variant(receipt.sender.number)});
    if (related->Eof()) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' was written by branch {} ({}), which is not a related branch in the account "
                                "database {}; nothing was marked",
                                file_name, receipt.sender.number, receipt.sender.name,
                                hostkit::ShownLocation(database.Name())));
    }
    const int64_t sender_id = related->Value(0).ToLong();
    std::set<std::pair<bool, int32_t>> seen;  // (an order, internal number): orders and notices are numbered apart
    const ReceiptBill* without_fingerprint = nullptr;
    size_t acknowledged = 0;
    size_t fingerprinted = 0;
    for (const ReceiptPackage& p : receipt.packages) {
        for (const ReceiptBill& b : p.bills) {
            if (!b.Acknowledged() || !IsKnownBillType(p.bill_type)) continue;
            ++acknowledged;
            if (!b.fingerprint.empty()) {
                ++fingerprinted;
            } else if (!without_fingerprint) {
                without_fingerprint = &b;
            }
            if (!seen.emplace(p.bill_type == 501, *b.bill_inter_id).second) {
                throw Error(ErrorCode::kBadInput,
                            fmt::format("'{}' acknowledges bill {} (internal number {}) more than once; a receipt "
                                        "names each bill it holds once. Nothing was marked",
                                        file_name, platform::EscapeControls(b.bill_no), *b.bill_inter_id));
            }
        }
    }
    if (acknowledged > 0 && fingerprinted == 0) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' was written by an earlier version of orbabt: it does not say which copy of each "
                                "bill branch {} holds, so it cannot show that the bills are unchanged since. Nothing "
                                "was marked. Save the same list again at {} (orbabt unpackage): its bills are held "
                                "there already, nothing is saved twice, and the new receipt can be marked",
                                file_name, receipt.sender.number, receipt.sender.number));
    }
    if (without_fingerprint) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' acknowledges bill {} without the fingerprint of the copy branch {} holds; a "
                                "receipt written by orbabt unpackage gives it for every bill it acknowledges. Nothing "
                                "was marked",
                                file_name, platform::EscapeControls(without_fingerprint->bill_no),
                                receipt.sender.number));
    }
    return sender_id;
}

struct MarkResult {
    bool ok = true;                               // nothing was refused or failed
    std::vector<std::pair<int32_t, int>> marked;  // bills marked, per package of the receipt
    int changed = 0;                              // acknowledged, but changed here since they were packaged
};

// Marks at `db` the bills `receipt` acknowledges that can be shown to be the bill B holds, as
// it stands here now: the bill is this internal number's bill here, addressed to the
// receipt's sender, in a status that may be sent, and its fingerprint is the one B
// acknowledged. A bill changed since it was packaged is left for the next package; any other
// bill left unmarked is an error.
MarkResult MarkAcknowledged(const std::string& db, const ReceiptFile& receipt, std::string_view file_name,
                            const Branch& own) {
    MarkResult result;
    ReceiptFile checked = receipt;
    hostkit::AccountDatabase database(db);
    const int64_t sender_id = RequireSoundReceipt(database, receipt, file_name, own);
    auto refuse = [&](ReceiptBill& b, std::string_view why) {
        std::cerr << platform::ForTerminal(fmt::format("orbabt: the receipt acknowledges bill {} (internal number {}), "
                                                       "which {}; it is left unmarked\n",
                                                       platform::EscapeControls(b.bill_no), *b.bill_inter_id, why));
        b.outcome = hostkit::SaveOutcomeKind::kNotSaved;
        result.ok = false;
    };
    for (ReceiptPackage& p : checked.packages) {
        if (!IsKnownBillType(p.bill_type)) continue;
        std::vector<int32_t> ids;
        for (const ReceiptBill& b : p.bills) {
            if (b.Acknowledged()) ids.push_back(*b.bill_inter_id);
        }
        struct Here {
            std::string bill_no;
            Variant status;
            Variant branch;
        };
        std::unordered_map<int32_t, Here> here;
        ReadBills(database, p.bill_type, "FBillNo, FStatus, FRelateBrID", ids, [&](int32_t id, platform::RecordSet& rows) {
            here.emplace(id, Here{rows.Value(1).IsNull() ? std::string() : rows.Value(1).ToText(), rows.Value(2),
                                  rows.Value(3)});
        });
        std::vector<int32_t> provable;
        for (ReceiptBill& b : p.bills) {
            if (!b.Acknowledged()) continue;
            auto found = here.find(*b.bill_inter_id);
            if (found == here.end() || found->second.bill_no != b.bill_no) {
                refuse(b, "is not that bill here");
            } else if (found->second.branch.IsNull() || found->second.branch.ToLong() != sender_id) {
                refuse(b, fmt::format("is not addressed to branch {} here", platform::EscapeControls(receipt.sender.number)));
            } else if (found->second.status.IsNull() || (found->second.status.ToLong() != 1 && found->second.status.ToLong() != 2)) {
                refuse(b, fmt::format("is in status {} here, in which a bill is not sent", found->second.status.ToText()));
            } else {
                provable.push_back(*b.bill_inter_id);
            }
        }
        const auto now = CurrentFingerprints(db, p.bill_type, provable);
        for (ReceiptBill& b : p.bills) {
            if (!b.Acknowledged()) continue;
            auto current = now.find(*b.bill_inter_id);
            if (current != now.end() && current->second == b.fingerprint) continue;
            std::cout << platform::ForTerminal(fmt::format(
                "  {} {} changed at {} after it was packaged ({} holds the copy it received): left untransmitted, it "
                "goes with the next package\n",
                BillTypeName(p.bill_type), platform::EscapeControls(b.bill_no), own.number,
                platform::EscapeControls(receipt.sender.number)));
            b.outcome = hostkit::SaveOutcomeKind::kNotSaved;
            ++result.changed;
        }
    }
    Ref<host::VariantVector> list = AcknowledgedList(checked);
    if (list->UpperBound() > 0 && !Mark(db, list)) result.ok = false;
    for (const ReceiptPackage& p : checked.packages) {
        std::vector<int32_t> ids;
        for (const ReceiptBill& b : p.bills) {
            if (b.Acknowledged()) ids.push_back(*b.bill_inter_id);
        }
        result.marked.emplace_back(p.bill_type, CountMarkedIds(database, p.bill_type, ids));
    }
    return result;
}

}  // namespace

int RunRequest(const std::vector<int>& types, const std::string& output) {
    for (int type : types) {
        if (type < INT16_MIN || type > INT16_MAX) {
            throw Error(ErrorCode::kBadInput, fmt::format("The bill type {} is not a bill type code", type));
        }
    }
    RequireSeparateOutput(output, "-o", {});
    WriteTextFile(output, WriteRequestFile(RequestFile{platform::Date::Now(), MakeRequests(types)}));
    std::cout << fmt::format("Wrote a download request for {} bill type(s) to {}\n", types.size(), output);
    return 0;
}

int RunPackage(const std::string& db, const std::string& requests_file, const std::string& to_number,
               const std::string& to_name, const std::string& output, bool pretty) {
    RequireSeparateOutput(output, "-o", {{"the account database", db}, {"the download request", requests_file}});
    RequireBranchDatabase(db);
    RequestFile request = ReadRequestFile(ReadTextFile(requests_file), requests_file);
    const Branch sender = OwnBranch(db);
    const Branch receiver{to_number, to_name};
    if (receiver.number == sender.number) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The account database '{}' belongs to branch {} ({}) itself; bills are packaged for "
                                "a related branch (--to)",
                                hostkit::ShownLocation(db), sender.number, sender.name));
    }
    Ref<host::VariantVector> list = Package(db, *request.requests, receiver);
    SaveListFile(output, ListFile{sender, receiver, platform::Date::Now(), list}, pretty);
    const auto counts = CountPackages(*list);
    std::cout << fmt::format("Packaged at {} ({}) for {} ({}):\n", sender.number, sender.name, receiver.number,
                             receiver.name);
    PrintPackages(counts);
    std::cout << fmt::format("Wrote the transmission list to {}\n", output);
    return 0;
}

std::string DefaultReceiptName(const std::string& list_file) {
    std::filesystem::path path(list_file);
    if (path.extension() == ".json") path.replace_extension();
    path += ".receipt.json";
    return path.string();
}

int RunUnpackage(const std::string& db, const std::string& list_file, const std::string& receipt_file) {
    const std::string receipt_path = receipt_file.empty() ? DefaultReceiptName(list_file) : receipt_file;
    RequireSeparateOutput(receipt_path, receipt_file.empty() ? "The receipt" : "-o",
                          {{"the account database", db}, {"the transmission list", list_file}});
    RequireBranchDatabase(db);
    // The file is read and fingerprinted piece by piece: its text never stands whole in
    // memory beside the list made from it.
    std::string list_sha256;
    const ListFile file = ReadListFileInPieces(list_file, list_sha256);
    const Branch own = OwnBranch(db);
    RequireBranch(file.receiver, own, list_file, "receiver", db);
    if (file.sender.number == own.number) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' was made by branch {} ({}) itself; its bills are not saved into their own "
                                "branch's database '{}'",
                                list_file, own.number, own.name, hostkit::ShownLocation(db)));
    }
    // A receipt that could not be written after saving would leave the sender without an
    // answer; what can be found out beforehand is found out before anything is saved.
    RequireWritableTarget(receipt_path);
    UnpackageResult result = Unpackage(db, file);
    ReceiptFile receipt{own, file.sender, platform::Date::Now(), file.sender, file.created, list_sha256,
                        result.packages};
    std::string receipt_error;
    try {
        WriteTextFile(receipt_path, WriteReceiptFile(receipt));
    } catch (const Error& e) {
        receipt_error = e.Description();
    }

    std::cout << "RtnMsg:\n" << platform::ForTerminal(result.message) << "\n";
    for (size_t i = 0; i < receipt.packages.size(); ++i) {
        const ReceiptPackage& p = receipt.packages[i];
        if (IsKnownBillType(p.bill_type)) continue;
        std::cout << fmt::format("Package {} is of bill type {}, which this branch does not take (501, 502, 503): its "
                                 "{} bill(s) were not saved and are not acknowledged.\n",
                                 i + 1, p.bill_type, p.bills.size());
    }
    if (!result.log_error.empty()) {
        std::cout << "The transmission log could not be written: " << result.log_error << "\n";
    } else if (result.log.empty()) {
        std::cout << "No transmission log was written (no messages).\n";
    } else {
        std::cout << "Transmission log: " << result.log.string() << "\n";
    }
    PrintReceipt(receipt);
    if (!receipt_error.empty()) {
        std::cerr << platform::ForTerminal(fmt::format(
            "orbabt: the bills above were saved at {}, but the receipt could not be written: {}. Run the same "
            "command again once it can be: the bills are held already, nothing is saved twice, and the receipt is "
            "written then.\n",
            own.number, receipt_error));
        return 1;
    }
    std::cout << fmt::format("Wrote the receipt for {} to {}; take it back to branch {} and run orbabt mark with it.\n",
                             file.sender.number, receipt_path, file.sender.number);
    return result.failed ? 1 : 0;
}

int RunMark(const std::string& db, const std::string& file_name, bool without_receipt) {
    RequireBranchDatabase(db);
    const std::string bytes = ReadTextFile(file_name);
    const std::string format = FormatOf(bytes);
    const Branch own = OwnBranch(db);
    if (format == kListFormat) {
        ListFile file = ReadListFile(bytes, file_name);
        if (!without_receipt) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("'{}' is a transmission list, not a receipt: pass the receipt that orbabt "
                                    "unpackage wrote at branch {}, so that only the bills saved there are marked "
                                    "(or add --without-receipt to mark every bill of the list)",
                                    file_name, file.receiver.number));
        }
        RequireBranch(file.sender, own, file_name, "sender", db);
        std::cout << fmt::format("Without a receipt: marking every bill of the list transmitted at {}, whether or not "
                                 "{} saved it.\n",
                                 own.number, file.receiver.number);
        const bool ok = Mark(db, file.list);
        hostkit::AccountDatabase database(db);
        for (const PackageCount& c : CountPackages(*file.list)) {
            std::cout << fmt::format("  {} {:<17} {:>6} of {} bills of its own type marked transmitted\n", c.bill_type,
                                     BillTypeName(c.bill_type), CountMarked(database, c), c.own_bills);
        }
        return ok ? 0 : 1;
    }
    ReceiptFile receipt = ReadReceiptFile(bytes, file_name);
    RequireBranch(receipt.receiver, own, file_name, "receiver", db);
    RequireBranch(receipt.list_sender, own, file_name, "answered list's sender", db);
    const MarkResult result = MarkAcknowledged(db, receipt, file_name, own);
    PrintReceipt(receipt);
    for (const auto& [bill_type, count] : result.marked) {
        std::cout << fmt::format("  {} {:<17} {:>6} acknowledged bills marked transmitted\n", bill_type,
                                 BillTypeName(bill_type), count);
    }
    if (result.changed > 0) {
        std::cout << fmt::format("{} acknowledged bill(s) changed here after they were packaged and were left "
                                 "untransmitted (named above); the next package sends them again and {} saves them as "
                                 "updated.\n",
                                 result.changed, receipt.sender.number);
    }
    return result.ok ? 0 : 1;
}

namespace {

// Makes a demo branch database unless it is there: a file that does not exist yet, or a
// server database that does not hold the schema yet.
void EnsureDemoDatabase(const std::string& location, int branch, const DemoOptions& options) {
    hostkit::SampleOptions sample;
    sample.branch = branch;
    sample.orders = options.orders;
    sample.notices = options.notices;
    sample.returns = options.returns;
    sample.lines = options.lines;
    sample.seed = static_cast<uint64_t>(branch);
    if (hostkit::IsServerDatabaseUri(location)) {
        {
            hostkit::PgDatabase db(location);
            if (hostkit::HasErpSchema(db)) return;
        }
        hostkit::CreateSampleDatabaseOnServer(location, sample);
        std::cout << fmt::format("Created the sample branch in the {}\n", hostkit::DescribeServerDatabase(location));
        return;
    }
    if (std::filesystem::exists(location)) return;
    hostkit::CreateSampleDatabase(location, sample);
    std::cout << fmt::format("Created sample branch database {}\n", location);
}

// How the demo's summary names a branch database: a file by its path, a server database by
// server and name.
std::string Shown(const std::string& location) {
    return hostkit::IsServerDatabaseUri(location) ? hostkit::DescribeServerDatabase(location) : location;
}

}  // namespace

namespace {

// One branch of the demo: its database and who it is.
struct DemoBranch {
    std::string db;
    Branch branch;
    char letter;  // how the demo's text names it: A or B
};

enum class OneWay { kNothingNew, kDone, kFailed };

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
    WriteTextFile(requests_file, WriteRequestFile(RequestFile{platform::Date::Now(), MakeRequests(kAllBillTypes)}));
    std::cout << fmt::format("{}. {} requests purchase orders, delivery notices and return notices from {}: {}\n",
                             step++, t, f, requests_file.string());

    RequestFile request = ReadRequestFile(ReadTextFile(requests_file), requests_file.string());
    Ref<host::VariantVector> list = Package(from.db, *request.requests, to.branch);
    const std::filesystem::path list_file = file("list");
    SaveListFile(list_file, ListFile{from.branch, to.branch, platform::Date::Now(), list});
    const auto packaged = CountPackages(*list);
    std::cout << fmt::format("{}. {} packages the bills for {}: {}\n", step++, f, t, list_file.string());
    if (TotalBills(packaged) == 0) {
        std::cout << fmt::format("\nNothing new to send: every bill at {} addressed to {} has been sent already.\n\n",
                                 from.branch.number, to.branch.number);
        return OneWay::kNothingNew;
    }

    const std::string list_bytes = ReadTextFile(list_file);
    ListFile arrived = ReadListFile(list_bytes, list_file.string());
    UnpackageResult saved = Unpackage(to.db, arrived);
    const std::filesystem::path receipt_file = file("receipt");
    WriteTextFile(receipt_file, WriteReceiptFile(ReceiptFile{to.branch, from.branch, platform::Date::Now(),
                                                             arrived.sender, arrived.created, Sha256Hex(list_bytes),
                                                             saved.packages}));
    std::cout << fmt::format("{}. {} saves the bills{} and writes its receipt: {}\n", step++, t,
                             saved.failed ? " (with a failure, see above)" : "", receipt_file.string());
    const ReceiptFile receipt = ReadReceiptFile(ReadTextFile(receipt_file), receipt_file.string());
    const MarkResult mark = MarkAcknowledged(from.db, receipt, receipt_file.string(), from.branch);
    const bool marked_ok = mark.ok;
    const auto& marked = mark.marked;
    std::cout << fmt::format("{}. {} marks the bills the receipt acknowledges{}\n\n", step++, f,
                             marked_ok ? "" : " (with a failure, see above)");

    std::cout << fmt::format("{:<22} {:>16} {:>26} {:>12}\n", "", fmt::format("packaged at {}", f),
                             fmt::format("at {}", t), fmt::format("marked at {}", f));
    std::cout << fmt::format("{:<22} {:>7} {:>8} {:>6} {:>8} {:>5} {:>5} {:>12}\n", "", "bills", "lines", "saved",
                             "updated", "held", "not", "bills");
    for (size_t i = 0; i < packaged.size(); ++i) {
        const PackageCount& c = packaged[i];
        OutcomeCounts outcome;
        // Notices of the other type are counted in the package they are saved from.
        if (i < receipt.packages.size()) outcome = CountOutcomes(receipt.packages[i], &c.bill_numbers);
        std::cout << fmt::format("{} {:<18} {:>7} {:>8} {:>6} {:>8} {:>5} {:>5} {:>12}\n", c.bill_type,
                                 BillTypeName(c.bill_type), c.own_bills, c.own_lines, outcome.saved, outcome.updated,
                                 outcome.held, outcome.not_saved,
                                 i < marked.size() ? marked[i].second : 0);
    }
    std::cout << fmt::format(
        "\n(Each notice package also carries the notices of the other type; every notice is saved\n"
        "from the package of its own type and acknowledged there. \"not\": not saved at {}, so not\n"
        "marked at {}; those bills are sent again next time.)\n",
        t, f);
    std::cout << "\nTransmission log: " << (saved.log.empty() ? std::string("(none)") : saved.log.string()) << "\n";
    if (!saved.log_error.empty()) std::cout << "The transmission log could not be written: " << saved.log_error << "\n";
    std::cout << "\n";
    return saved.failed || !marked_ok ? OneWay::kFailed : OneWay::kDone;
}

}  // namespace

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
    const DemoBranch a{a_db, OwnBranch(a_db), 'A'};
    const DemoBranch b{b_db, OwnBranch(b_db), 'B'};
    std::cout << fmt::format("Branch A: {} {} ({})\nBranch B: {} {} ({})\n\n", a.branch.number, a.branch.name,
                             Shown(a_db), b.branch.number, b.branch.name, Shown(b_db));

    // A's bills to B, and then B's bills back to A. After a failure the way back is not
    // taken, so the failure is the last thing shown.
    std::cout << "From A to B:\n";
    if (ExchangeOneWay(a, b, dir, "", 1) == OneWay::kFailed) return 1;
    std::cout << "From B back to A:\n";
    return ExchangeOneWay(b, a, dir, "-back", 5) == OneWay::kFailed ? 1 : 0;
}

}  // namespace orba::apps
