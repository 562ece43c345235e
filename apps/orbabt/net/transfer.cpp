#include "apps/orbabt/net/transfer.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/exchange.h"
#include "apps/orbabt/exchange_summary.h"
#include "apps/orbabt/host_setup.h"
#include "apps/orbabt/mark.h"
#include "apps/orbabt/net/exchange_log.h"
#include "apps/orbabt/net/peers.h"
#include "apps/orbabt/net/spool.h"
#include "apps/orbabt/safe_file.h"
#include "apps/orbabt/transport.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "hostkit/db/database.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using platform::Error;
using platform::ErrorCode;
namespace fs = std::filesystem;

namespace {

// Prints what the service marked from a receipt and counts it in `record`; false when the
// service reported a failure.
bool PrintMarked(const std::string& answer_text, const Branch& at, ExchangeRecord& record) {
    const auto answer = platform::ObjectAs<host::VariantDictionary>(host::FromJson(answer_text));
    if (!answer) return false;
    if (const platform::Variant* marked = answer->Find("marked")) {
        if (auto per_type = platform::ObjectAs<host::VariantDictionary>(*marked)) {
            for (size_t i = 0; i < per_type->Size(); ++i) {
                std::cout << fmt::format("  {} bills marked transmitted at {}: {}\n", per_type->KeyAt(i), at.number,
                                         per_type->ValueAt(i).ToText());
                record.counts[std::stoi(per_type->KeyAt(i))].marked += static_cast<int>(per_type->ValueAt(i).ToLong());
            }
        }
    }
    return answer->Find("ok") && answer->Value("ok").ToBoolean();
}

// Where a receipt of branch `own` that could not be delivered to `service` waits for the next
// pull: one file per list, named after the branch, the service's certificate and the list, so
// that branches sharing the folder never deliver each other's receipts.
std::string KeptPrefix(const std::string& own, const ServiceClient& service) {
    return fmt::format("{}-{}-", own, service.PeerFingerprint().substr(0, 16));
}
fs::path KeptReceiptPath(const fs::path& folder, const std::string& own, const ServiceClient& service,
                         const std::string& list_sha256) {
    return folder / (KeptPrefix(own, service) + list_sha256.substr(0, 16) + ".json");
}

// Delivers the receipts kept for `service` by earlier pulls, oldest first. A receipt delivered
// is removed; one the service refuses (it will never take it) is renamed to *.refused and
// named on standard error, so that nothing is lost and the next pull is not stopped by it.
// Raises the Error when the service does not answer: the pull cannot go on without it.
bool DeliverKeptReceipts(ServiceClient& service, const fs::path& folder, const std::string& own,
                         ExchangeRecord& record) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return true;
    const std::string prefix = KeptPrefix(own, service);
    std::vector<fs::path> kept;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix) && name.ends_with(".json")) kept.push_back(entry.path());
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
            fs::rename(path, fs::path(path).replace_extension(".refused"));
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

void AddServiceOptions(CLI::App& command, ClientOptions& service, const char* url_option, const char* url_help) {
    command.add_option(url_option, service.url, url_help)->required();
    command.add_option("--cert", service.cert, "This branch's certificate (PEM)")->required();
    command.add_option("--key", service.key, "This branch's private key (PEM)")->required();
    command.add_option("--peer-cert", service.peer_cert, "The service's certificate (PEM) or sha256:<hex>")
        ->required();
    command.add_option("--timeout", service.timeout_s, "Seconds to wait for the service")->capture_default_str();
    command.add_option("--retries", service.retries, "Tries again when no answer comes, this many times")
        ->capture_default_str();
    command.add_option("--retry-wait", service.retry_wait_s, "Seconds before the first retry (doubled each time)")
        ->capture_default_str();
}

// Runs `exchange` and writes its line of the exchange log, with the error when it failed.
int Logged(ExchangeRecord& record, const std::function<int()>& exchange) {
    try {
        const int status = exchange();
        AppendExchangeLog(record);
        return status;
    } catch (const Error& e) {
        record.error = e.Description();
        AppendExchangeLog(record);
        throw;
    }
}

}  // namespace

int RunPull(const PullOptions& options) {
    ServiceClient service(options.service);
    ExchangeRecord record{service.Url(), service.PeerFingerprint(), "pull", {}, {}, {}, {}};
    return Logged(record, [&] { return Pull(options, service, record); });
}

int Pull(const PullOptions& options, ServiceClient& service, ExchangeRecord& record) {
    const std::unique_ptr<hostkit::Database> database = UseBranchDatabase(options.db);
    const Branch own = OwnBranch(*database);
    record.branch = own.number;
    const fs::path kept_folder = options.kept.empty() ? ExchangeFolder() / "undelivered" : fs::path(options.kept);
    bool ok = DeliverKeptReceipts(service, kept_folder, own.number, record);
    // The list goes to a file as it arrives and is read from there twice in pieces (checked
    // and counted, then saved a batch at a time): however long it is, it is never held whole.
    const SpoolFolder spool;
    const fs::path list_path = spool / "list.json";
    service.PostToFile("/v1/requests",
                       WriteRequestFile(RequestFile{platform::Date::Now(), MakeRequests(options.types)}), list_path);
    const std::string list_name = fmt::format("the list from {}", service.Url());
    PackageCounter counter;
    ListFileReader reader(
        list_path, [&](size_t package, const platform::Variant& bill) { counter.Add(package, bill); }, list_name);
    const ListFile& file = reader.Header();
    record.peer = file.sender.number;
    record.list_sha256 = reader.Sha256();
    RequireBranch(file.receiver, own, list_name, "receiver", *database);
    const std::vector<PackageCount> counts = counter.Counts(*file.list);
    for (const PackageCount& c : counts) record.counts[c.bill_type].sent += c.own_bills;
    std::cout << fmt::format("Received from {} ({}) for {} ({}):\n", file.sender.number, file.sender.name,
                             own.number, own.name);
    PrintPackages(counts);

    UnpackageResult saved = Unpackage(*database, reader);
    const ReceiptFile receipt{own, file.sender, platform::Date::Now(), file.sender, file.created,
                              record.list_sha256, saved.packages};
    PrintReceipt(receipt);
    CountReceipt(receipt, record);
    // The bills are saved here; until the service has the receipt they stay unmarked there.
    // A receipt that does not get through is kept and delivered first by the next pull.
    const std::string receipt_text = WriteReceiptFile(receipt);
    try {
        ok = PrintMarked(service.Post("/v1/receipts", receipt_text), file.sender, record) && ok;
    } catch (const Error& e) {
        if (e.Code() != ErrorCode::kIoError) throw;
        const fs::path kept = KeptReceiptPath(kept_folder, own.number, service, record.list_sha256);
        fs::create_directories(kept_folder);
        WriteOutputFile(kept, receipt_text);
        throw Error(ErrorCode::kIoError,
                    fmt::format("The bills are saved at {}, but {} has not had the receipt: {}. The receipt is "
                                "kept as '{}'; the next pull from {} delivers it first",
                                own.number, file.sender.number, e.Description(), kept.string(), service.Url()));
    }
    return saved.failed || !ok ? 1 : 0;
}

int RunPush(const PushOptions& options) {
    ServiceClient service(options.service);
    ExchangeRecord record{service.Url(), service.PeerFingerprint(), "push", {}, {}, {}, {}};
    return Logged(record, [&] { return Push(options, service, record); });
}

int Push(const PushOptions& options, ServiceClient& service, ExchangeRecord& record) {
    const std::unique_ptr<hostkit::Database> database = UseBranchDatabase(options.db);
    const Branch own = OwnBranch(*database);
    record.branch = own.number;
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
    record.peer = file.receiver.number;
    RequireBranch(file.sender, own, list_name, "sender", *database);
    record.list_sha256 = reader.Sha256();
    for (const PackageCount& c : counter.Counts(*file.list)) record.counts[c.bill_type].sent += c.own_bills;
    const std::string receipt_name = fmt::format("the receipt from {}", service.Url());
    const ReceiptFile receipt = ReadReceiptFile(service.PostFile("/v1/lists", list_path), receipt_name);
    RequireBranch(receipt.receiver, own, receipt_name, "receiver", *database);
    RequireBranch(receipt.list_sender, own, receipt_name, "answered list's sender", *database);
    PrintReceipt(receipt);
    CountReceipt(receipt, record);
    const MarkResult result = MarkAcknowledged(*database, receipt, receipt_name, own);
    for (const auto& [bill_type, count] : result.marked) {
        record.counts[bill_type].marked += count;
        std::cout << fmt::format("  {} {:<17} {:>6} acknowledged bills marked transmitted\n", bill_type,
                                 BillTypeName(bill_type), count);
    }
    return result.ok ? 0 : 1;
}

void AddPullCommand(CLI::App& app, CommandContext& context) {
    auto pull = std::make_shared<PullOptions>();
    auto* command =
        app.add_subcommand("pull", "Fetch, save and acknowledge what a related branch's service holds for this one");
    command->add_option("--db", pull->db, "Account database of this branch")->required();
    AddServiceOptions(*command, pull->service, "--from", "The related branch's service: https://HOST:PORT");
    command->add_option("--kept", pull->kept,
                        "Folder of receipts not yet delivered (default: ExchangeLog/undelivered beside the "
                        "transmission logs)");
    command->add_option("--types", pull->types, "Bill types to fetch")->delimiter(',')->capture_default_str();
    context.AddTraceOption(*command);
    context.AddInputLimitOption(*command);
    command->callback([&context, pull] {
        context.Choose([pull] { return RunPull(*pull); }, {{"the account database", pull->db}});
    });
}

int RunSync(const std::string& config_file) {
    const SyncConfig config = ReadSyncFile(config_file);
    int failed = 0;
    for (const SyncPull& entry : config.pulls) {
        std::cout << fmt::format("Pulling from {}\n", entry.from) << std::flush;
        PullOptions pull;
        pull.db = config.db;
        pull.types = entry.types;
        pull.service = ClientOptions{entry.from, config.cert, config.key, entry.certificate, config.timeout_s,
                                     config.retries, 1};
        try {
            if (RunPull(pull) != 0) ++failed;
        } catch (const Error& e) {
            // One service that cannot be reached does not keep the others from their pulls.
            std::cerr << platform::ForTerminal(fmt::format("orbabt sync: {}: {}\n", entry.from, e.Description()));
            ++failed;
        }
    }
    std::cout << fmt::format("{} of {} pulls completed\n", config.pulls.size() - failed, config.pulls.size());
    return failed == 0 ? 0 : 1;
}

void AddSyncCommand(CLI::App& app, CommandContext& context) {
    auto config = std::make_shared<std::string>();
    auto* command =
        app.add_subcommand("sync", "Run the pulls a sync file names, one related branch after the other (for a timer)");
    command->add_option("--config", *config, "The sync file: this branch's database, certificate and key, and the "
                                             "services to pull from")
        ->required();
    context.AddTraceOption(*command);
    context.AddInputLimitOption(*command);
    command->callback([&context, config] {
        context.Choose([config] { return RunSync(*config); }, {{"the sync file", *config}});
    });
}

void AddStatusCommand(CLI::App& app, CommandContext& context) {
    auto status = std::make_shared<ClientOptions>();
    auto* command = app.add_subcommand("status", "Show a related branch's service: its branch, its peers and the "
                                                 "bills waiting for each (JSON)");
    AddServiceOptions(*command, *status, "--from", "The related branch's service: https://HOST:PORT");
    command->callback([&context, status] {
        context.Choose([status] {
            std::cout << ServiceClient(*status).Get("/v1/status") << '\n';
            return 0;
        });
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
