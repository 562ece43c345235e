#include "apps/orbabt/net/transfer.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>

#include "apps/orbabt/commands.h"
#include "exchange/steps.h"
#include "apps/orbabt/exchange_summary.h"
#include "apps/orbabt/host_setup.h"
#include "exchange/mark.h"
#include "apps/orbabt/net/answering_peer.h"
#include "apps/orbabt/net/command_options.h"
#include "apps/orbabt/net/exchange_log.h"
#include "apps/orbabt/net/peers.h"
#include "apps/orbabt/net/spool.h"
#include "apps/orbabt/net/status.h"
#include "exchange/output_file.h"
#include "exchange/transport.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "hostkit/database.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::Error;
using platform::ErrorCode;
namespace fs = std::filesystem;

namespace {

// Prints what the service marked from a receipt and counts it in `record`; false when the
// service reported a failure. The service's words are shown with control characters escaped;
// only a whole bill type with a whole count is counted.
bool PrintMarked(const std::string& answer_text, const Branch& at, ExchangeRecord& record) {
    const auto answer = platform::ObjectAs<host::VariantDictionary>(host::FromJson(answer_text));
    if (!answer) return false;
    if (const platform::Variant* marked = answer->Find("marked")) {
        if (auto per_type = platform::ObjectAs<host::VariantDictionary>(*marked)) {
            for (size_t i = 0; i < per_type->Size(); ++i) {
                const std::string key = per_type->KeyAt(i);
                const platform::Variant& value = per_type->ValueAt(i);
                std::string count = "?";
                std::optional<int64_t> whole;
                try {
                    count = value.ToText();
                    if (value.Type() == platform::VarType::kLong || value.Type() == platform::VarType::kInteger) {
                        whole = value.ToLong();
                    }
                } catch (const Error&) {
                    // Shown as "?" and not counted.
                }
                int bill_type = 0;
                const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), bill_type);
                std::cout << platform::ForTerminal(fmt::format("  {} bills marked transmitted at {}: {}\n",
                                                               platform::EscapeControls(key),
                                                               platform::EscapeControls(at.number),
                                                               platform::EscapeControls(count)));
                if (error == std::errc() && end == key.data() + key.size() && whole) {
                    record.counts[bill_type].marked += static_cast<int>(*whole);
                }
            }
        }
    }
    const platform::Variant* ok = answer->Find("ok");
    try {
        return ok && ok->ToBoolean();
    } catch (const Error&) {
        return false;  // an "ok" that is no truth value reports no success
    }
}

// Where a receipt of branch `own` that could not be delivered to the service with the
// certificate `fingerprint` waits for the next pull: one file per list, named after the
// branch, the service's certificate and the list, so that branches sharing a folder never
// deliver each other's receipts.
std::string KeptPrefix(const std::string& own, const std::string& fingerprint) {
    return fmt::format("{}-{}-", own, fingerprint.substr(0, 16));
}
fs::path KeptReceiptPath(const fs::path& folder, const std::string& own, const std::string& fingerprint,
                         const std::string& list_sha256) {
    return folder / (KeptPrefix(own, fingerprint) + list_sha256.substr(0, 16) + ".json");
}

// Keeps `receipt_text` as `kept`, readable by its owner alone, in a folder only its owner may
// enter; so is the exchange log's folder `exchange_folder` above it, when it waits there.
void KeepReceipt(const fs::path& kept, std::string_view receipt_text, const fs::path& exchange_folder) {
    if (!exchange_folder.empty()) MakePrivateFolder(exchange_folder);
    MakePrivateFolder(kept.parent_path());
    WritePrivateFile(kept, receipt_text);
}

// Delivers the receipts kept in `folders` for `service` by earlier pulls, oldest first. A
// receipt delivered is removed; one the service refuses (it will never take it) is renamed to
// *.refused and named on standard error, so that nothing is lost and the next pull is not
// stopped by it. Raises the Error when the service does not answer: the pull cannot go on
// without it.
bool DeliverKeptReceipts(ServiceClient& service, const std::vector<fs::path>& folders, const std::string& own,
                         ExchangeRecord& record) {
    const std::string prefix = KeptPrefix(own, service.PeerFingerprint());
    std::vector<fs::path> kept;
    for (const fs::path& folder : folders) {
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(prefix) && name.ends_with(".json")) kept.push_back(entry.path());
        }
    }
    std::sort(kept.begin(), kept.end(), [](const fs::path& a, const fs::path& b) {
        return fs::last_write_time(a) < fs::last_write_time(b);
    });
    bool ok = true;
    for (const fs::path& path : kept) {
        const std::string text = ReadTextFile(path);
        const ReceiptFile receipt = ReadReceiptFile(text, path.string());
        std::cout << fmt::format("Delivering the receipt kept from an earlier pull ({}):\n", path.filename().string());
        try {
            ok = PrintMarked(service.Post("/v1/receipts", text), receipt.receiver, record) && ok;
        } catch (const Error& e) {
            if (e.Code() == ErrorCode::kIoError) throw;
            const fs::path refused = fs::path(path).replace_extension(".refused");
            fs::rename(path, refused);
            // Kept by an earlier version maybe, readable by others: its owner's alone now.
            std::error_code ec;
            fs::permissions(refused, fs::perms::owner_read | fs::perms::owner_write, ec);
            std::cerr << platform::ForTerminal(fmt::format("orbabt: {} was refused and is kept as {}: {}\n",
                                                           path.string(), path.stem().string() + ".refused",
                                                           e.Description()));
            ok = false;
            continue;
        }
        fs::remove(path);
    }
    return ok;
}

// Runs `exchange` and writes its line of the exchange log of the branch database, with the
// error when it failed (a database that could not be opened has no log to write to).
int Logged(ExchangeRecord& record, const std::function<int()>& exchange) {
    try {
        const int status = exchange();
        if (!record.folder.empty()) AppendExchangeLog(record, record.folder);
        return status;
    } catch (const Error& e) {
        record.error = e.Description();
        if (!record.folder.empty()) AppendExchangeLog(record, record.folder);
        throw;
    }
}

// A record of an exchange with `service` in `direction`, its peer as far as it is known yet.
ExchangeRecord NewRecord(const ServiceClient& service, std::string direction) {
    ExchangeRecord record;
    record.peer = service.PeerBranch();
    record.certificate = service.PeerFingerprint();
    record.direction = std::move(direction);
    return record;
}

}  // namespace

int RunPull(const PullOptions& options) {
    // The list in transit is removed when a signal ends the pull too.
    const SpoolSignals signals;
    ServiceClient service(options.service);
    ExchangeRecord record = NewRecord(service, "pull");
    return Logged(record, [&] { return Pull(options, service, record); });
}

int Pull(const PullOptions& options, ServiceClient& service, ExchangeRecord& record) {
    const std::unique_ptr<hostkit::Database> database = UseBranchDatabase(options.db);
    const Branch own = OwnBranch(*database);
    record.branch = own.number;
    record.folder = ExchangeFolderOf(*database);
    const std::map<std::string, Branch> related = RelatedPeers(*database, own, service.Peers(), options.service);
    // Receipts not delivered wait in the database's own folder; those an earlier version kept
    // in the one folder it shared between databases are delivered from there too.
    std::vector<fs::path> kept_folders{options.kept.empty() ? record.folder / "undelivered" : fs::path(options.kept)};
    if (options.kept.empty()) kept_folders.push_back(SharedExchangeFolder() / "undelivered");
    // Kept receipts go before anything new is asked for, as soon as it is known which
    // service this is: at once with one certificate pinned, else once it has answered.
    bool ok = true;
    const bool delivered_first = !service.PeerFingerprint().empty();
    if (delivered_first) ok = DeliverKeptReceipts(service, kept_folders, own.number, record);
    // The list goes to a file as it arrives and is read from there twice in pieces (checked
    // and counted, then saved a batch at a time): however long it is, it is never held whole.
    const SpoolFolder spool;
    const fs::path list_path = spool / "list.json";
    service.PostToFile("/v1/requests",
                       WriteRequestFile(RequestFile{platform::Date::Now(), MakeRequests(options.types)}), list_path);
    const Branch peer = AnsweringBranch(service, related);
    const std::string list_name = fmt::format("the list from {}", service.Url());
    // The rest of the exchange is with that branch's service alone.
    service.OnlyBranch(peer.number, list_name);
    record.peer = peer.number;
    record.certificate = service.PeerFingerprint();
    if (!delivered_first) ok = DeliverKeptReceipts(service, kept_folders, own.number, record);
    PackageCounter counter;
    ListFileReader reader(
        list_path, [&](size_t package, const platform::Variant& bill) { counter.Add(package, bill); }, list_name);
    const ListFile& file = reader.Header();
    record.list_sha256 = reader.Sha256();
    RequireFromPeer(database.get(), file.sender, peer, list_name, "sender", "saved");
    const Accepted accepted = AcceptList(*database, own, reader, list_name, [&](const ListFile&) {
        const std::vector<PackageCount> counts = counter.Counts(*file.list);
        for (const PackageCount& c : counts) record.counts[c.bill_type].sent += c.own_bills;
        std::cout << platform::ForTerminal(fmt::format("Received from {} for {}:\n", Named(file.sender), Named(own)));
        PrintPackages(counts);
    });
    const UnpackageResult& saved = accepted.saved;
    const ReceiptFile& receipt = accepted.receipt;
    PrintReceipt(receipt, saved.not_reached);
    CountReceipt(receipt, record);
    // The bills are saved here; until the service has the receipt they stay unmarked there.
    // A receipt that does not get through is kept and delivered first by the next pull.
    const std::string receipt_text = WriteReceiptFile(receipt);
    try {
        ok = PrintMarked(service.Post("/v1/receipts", receipt_text), file.sender, record) && ok;
    } catch (const Error& e) {
        if (e.Code() != ErrorCode::kIoError) throw;
        const fs::path kept =
            KeptReceiptPath(kept_folders.front(), own.number, service.PeerFingerprint(), record.list_sha256);
        KeepReceipt(kept, receipt_text, options.kept.empty() ? record.folder : fs::path());
        throw Error(ErrorCode::kIoError,
                    fmt::format("The bills are saved at {}, but {} has not had the receipt: {}. The receipt is "
                                "kept as '{}'; the next pull from {} delivers it first",
                                own.number, file.sender.number, e.Description(), kept.string(), service.Url()));
    }
    return saved.failed || !ok ? 1 : 0;
}

int RunPush(const PushOptions& options) {
    const SpoolSignals signals;
    ServiceClient service(options.service);
    ExchangeRecord record = NewRecord(service, "push");
    return Logged(record, [&] { return Push(options, service, record); });
}

int Push(const PushOptions& options, ServiceClient& service, ExchangeRecord& record) {
    const std::unique_ptr<hostkit::Database> database = UseBranchDatabase(options.db);
    const Branch own = OwnBranch(*database);
    record.branch = own.number;
    record.folder = ExchangeFolderOf(*database);
    const std::map<std::string, Branch> related = RelatedPeers(*database, own, service.Peers(), options.service);
    const std::string list_name = options.list_file.empty() ? "the chosen bills" : options.list_file;
    // The list is checked and counted in one reading of its file and sent as its text is read
    // again, so that it is never held whole; the browse window's list is written to a file
    // first. The service answers with the SHA-256 of the text it received: the text read here.
    std::optional<SpoolFolder> spool;
    fs::path list_path = options.list_file;
    if (list_path.empty()) {
        spool.emplace();
        list_path = *spool / "list.json";
        WriteTextFile(list_path, options.list_text);
    }
    PackageCounter counter;
    ListFileReader reader(
        list_path, [&](size_t package, const platform::Variant& bill) { counter.Add(package, bill); }, list_name);
    const ListFile& file = reader.Header();
    RequireBranch(file.sender, own, list_name, "sender", *database);
    // The list goes to the branch it is addressed to and to no other: the service is taken
    // only with that branch's certificate.
    const auto receiver = related.find(file.receiver.number);
    if (receiver == related.end()) {
        std::string pinned;
        for (const auto& [number, branch] : related) pinned += (pinned.empty() ? "" : ", ") + Named(branch);
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' is addressed to branch {}, but the service {} is taken for branch {} ({}); "
                                "expected a list for that branch. Nothing was sent",
                                list_name, Named(file.receiver), service.Url(), pinned,
                                options.service.peers_file.empty() ? "--peer" : "--peers"));
    }
    const Branch& peer = receiver->second;
    service.OnlyBranch(peer.number, list_name);
    record.peer = peer.number;
    record.certificate = service.PeerFingerprint();
    record.list_sha256 = reader.Sha256();
    const std::vector<PackageCount> counts = counter.Counts(*file.list);
    for (const PackageCount& c : counts) record.counts[c.bill_type].sent += c.own_bills;
    const std::string receipt_name = fmt::format("the receipt from {}", service.Url());
    const ReceiptFile receipt = ReadReceiptFile(service.PostFile("/v1/lists", list_path), receipt_name);
    RequireFromPeer(database.get(), receipt.sender, peer, receipt_name, "sender", "marked");
    // A receipt answers, package by package, the bills the service's saving took in hand: those
    // of the list it does not answer were not reached (a failure there ended the saving).
    std::vector<int> not_reached;
    int unanswered = 0;
    if (receipt.packages.size() == counts.size()) {
        for (size_t i = 0; i < counts.size(); ++i) {
            not_reached.push_back(std::max(0, counts[i].bills - static_cast<int>(receipt.packages[i].bills.size())));
            unanswered += not_reached.back();
        }
    }
    const MarkResult result = AcceptReceipt(*database, own, receipt, receipt_name, [&] {
        PrintReceipt(receipt, not_reached);
        CountReceipt(receipt, record);
    });
    for (const auto& [bill_type, count] : result.marked) {
        record.counts[bill_type].marked += count;
        std::cout << fmt::format("  {} {:<17} {:>6} acknowledged bills marked transmitted\n", bill_type,
                                 BillTypeName(bill_type), count);
    }
    if (unanswered > 0) {
        std::cerr << fmt::format("orbabt: {} did not reach {} of the bills sent (a failure ended its saving): they "
                                 "stay unmarked here and go with the next list\n",
                                 service.Url(), unanswered);
    }
    return result.ok && unanswered == 0 ? 0 : 1;
}

void AddPullCommand(CLI::App& app, CommandContext& context) {
    auto pull = std::make_shared<PullOptions>();
    auto* command =
        app.add_subcommand("pull", "Fetch, save and acknowledge what a related branch's service holds for this one");
    command->add_option("--db", pull->db, "Account database of this branch")->required();
    AddServiceOptions(*command, pull->service, "--from", "The related branch's service: https://HOST:PORT");
    command->add_option("--kept", pull->kept,
                        "Folder of receipts not yet delivered (default: undelivered in the database's exchange "
                        "log folder, e.g. b.db.exchanges/undelivered)");
    command->add_option("--types", pull->types, "Bill types to fetch")->delimiter(',')->capture_default_str();
    AddListLimitOption(*command, pull->service);
    context.AddTraceOption(*command);
    context.AddInputLimitOption(*command);
    command->callback([&context, pull] {
        context.Choose([pull] { return RunPull(*pull); }, {{"the account database", pull->db}});
    });
}

void AddPushCommand(CLI::App& app, CommandContext& context) {
    auto push = std::make_shared<PushOptions>();
    auto* command = app.add_subcommand("push", "Send a transmission list to a related branch's service and mark "
                                               "what its receipt acknowledges");
    command->add_option("--db", push->db, "Account database of this branch")->required();
    AddServiceOptions(*command, push->service, "--to", "The related branch's service: https://HOST:PORT");
    command->add_option("list", push->list_file, "The transmission list (from package or browse)")->required();
    context.AddTraceOption(*command);
    context.AddInputLimitOption(*command);
    command->callback([&context, push] {
        context.Choose([push] { return RunPush(*push); },
                       {{"the account database", push->db}, {"the transmission list", push->list_file}});
    });
}

}  // namespace orba::apps::net
