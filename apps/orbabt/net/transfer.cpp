#include "apps/orbabt/net/transfer.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <iostream>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/exchange.h"
#include "apps/orbabt/exchange_summary.h"
#include "apps/orbabt/host_setup.h"
#include "apps/orbabt/mark.h"
#include "apps/orbabt/net/exchange_log.h"
#include "apps/orbabt/transport.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "hostkit/db/database.h"
#include "platform/error.h"

namespace orba::apps::net {

using platform::Error;
using platform::ErrorCode;

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

void AddServiceOptions(CLI::App& command, ClientOptions& service, const char* url_option, const char* url_help) {
    command.add_option(url_option, service.url, url_help)->required();
    command.add_option("--cert", service.cert, "This branch's certificate (PEM)")->required();
    command.add_option("--key", service.key, "This branch's private key (PEM)")->required();
    command.add_option("--peer-cert", service.peer_cert, "The service's certificate (PEM) or sha256:<hex>")
        ->required();
    command.add_option("--timeout", service.timeout_s, "Seconds to wait for the service")->capture_default_str();
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
    ExchangeRecord record{service.Url(), service.PeerFingerprint(), "pull", {}, {}, {}};
    return Logged(record, [&] { return Pull(options, service, record); });
}

int Pull(const PullOptions& options, ServiceClient& service, ExchangeRecord& record) {
    const std::unique_ptr<hostkit::Database> database = UseBranchDatabase(options.db);
    const Branch own = OwnBranch(*database);
    const std::string list_text = service.Post(
        "/v1/requests", WriteRequestFile(RequestFile{platform::Date::Now(), MakeRequests(options.types)}));
    const std::string list_name = fmt::format("the list from {}", service.Url());
    const ListFile file = ReadListFile(list_text, list_name);
    record.peer = file.sender.number;
    record.list_sha256 = Sha256Hex(list_text);
    RequireBranch(file.receiver, own, list_name, "receiver", *database);
    for (const PackageCount& c : CountPackages(*file.list)) record.counts[c.bill_type].sent += c.own_bills;
    std::cout << fmt::format("Received from {} ({}) for {} ({}):\n", file.sender.number, file.sender.name,
                             own.number, own.name);
    PrintPackages(CountPackages(*file.list));

    UnpackageResult saved = Unpackage(*database, file);
    const ReceiptFile receipt{own, file.sender, platform::Date::Now(), file.sender, file.created,
                              record.list_sha256, saved.packages};
    PrintReceipt(receipt);
    CountReceipt(receipt, record);
    const bool marked_ok = PrintMarked(service.Post("/v1/receipts", WriteReceiptFile(receipt)), file.sender, record);
    return saved.failed || !marked_ok ? 1 : 0;
}

int RunPush(const PushOptions& options) {
    ServiceClient service(options.service);
    ExchangeRecord record{service.Url(), service.PeerFingerprint(), "push", {}, {}, {}};
    return Logged(record, [&] { return Push(options, service, record); });
}

int Push(const PushOptions& options, ServiceClient& service, ExchangeRecord& record) {
    const std::unique_ptr<hostkit::Database> database = UseBranchDatabase(options.db);
    const Branch own = OwnBranch(*database);
    const std::string list_text = ReadTextFile(options.list_file);
    const ListFile file = ReadListFile(list_text, options.list_file);
    record.peer = file.receiver.number;
    RequireBranch(file.sender, own, options.list_file, "sender", *database);
    const std::string sent = WriteListFile(file);
    record.list_sha256 = Sha256Hex(sent);
    for (const PackageCount& c : CountPackages(*file.list)) record.counts[c.bill_type].sent += c.own_bills;
    const std::string receipt_name = fmt::format("the receipt from {}", service.Url());
    const ReceiptFile receipt =
        ReadReceiptFile(service.Post("/v1/lists", sent), receipt_name);
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
    command->add_option("--types", pull->types, "Bill types to fetch")->delimiter(',')->capture_default_str();
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
