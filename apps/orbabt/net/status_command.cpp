// The status command: this branch's own table of its related branches, or what a related
// branch's service shows this branch.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <filesystem>
#include <iostream>
#include <map>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/host_setup.h"
#include "apps/orbabt/net/answering_peer.h"
#include "apps/orbabt/net/command_options.h"
#include "apps/orbabt/net/exchange_log.h"
#include "apps/orbabt/net/peers.h"
#include "apps/orbabt/net/pinning.h"
#include "apps/orbabt/net/status.h"
#include "apps/orbabt/net/transfer.h"
#include "exchange/steps.h"
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

// The whole table of this branch's related branches, from its database and exchange log.
int PrintOwnStatus(const StatusOptions& options) {
    const ClientOptions& asked = options.service;
    if (!asked.cert.empty() || !asked.key.empty() || !asked.peer.empty() || !asked.peer_cert.empty()) {
        throw Error(ErrorCode::kBadInput,
                    "--cert, --key and --peer are for asking a related branch's service: give --from "
                    "https://HOST:PORT with them, or leave them out to show this branch's own table from --db");
    }
    if (options.db.empty()) {
        throw Error(ErrorCode::kBadInput,
                    "Say whose status to show: --db DB for this branch's table of its related branches, or --from "
                    "https://HOST:PORT (with --cert, --key and --peer) for what a related branch's service shows "
                    "this branch");
    }
    const std::unique_ptr<hostkit::Database> database = UseBranchDatabase(options.db);
    const std::vector<Peer> pinned = asked.peers_file.empty() ? std::vector<Peer>{} : ReadPeersFile(asked.peers_file);
    const BranchStatus status =
        FullStatus(*database, OwnBranch(*database), pinned, PeersNamedBy(asked), ExchangeFolderOf(*database));
    if (options.json) {
        std::cout << host::ToJson(platform::Variant(StatusDictionary(status)), -1) << '\n';
    } else {
        std::cout << StatusTable(status);
    }
    return 0;
}

}  // namespace

int RunStatus(const StatusOptions& options) {
    if (options.service.url.empty()) return PrintOwnStatus(options);
    if (options.service.cert.empty() || options.service.key.empty()) {
        throw Error(ErrorCode::kBadInput, fmt::format("--from {} needs this branch's certificate and key: --cert "
                                                      "FILE --key FILE",
                                                      options.service.url));
    }
    ServiceClient service(options.service);
    std::unique_ptr<hostkit::Database> database;
    std::map<std::string, Branch> related;
    if (!options.db.empty()) {
        database = UseBranchDatabase(options.db);
        related = RelatedPeers(*database, OwnBranch(*database), service.Peers(), options.service);
    }
    const std::string text = service.Get("/v1/status");
    const std::string what = fmt::format("the status from {}", service.Url());
    Branch named;
    platform::Ref<host::VariantDictionary> status;
    try {
        status = platform::ObjectAs<host::VariantDictionary>(host::FromJson(text));
        const platform::Variant* branch = status ? status->Find("branch") : nullptr;
        if (const auto fields = branch ? platform::ObjectAs<host::VariantDictionary>(*branch) : nullptr) {
            named.number = fields->ValueOrDefault("number", platform::Variant("")).ToText();
            named.name = fields->ValueOrDefault("name", platform::Variant("")).ToText();
        }
    } catch (const Error&) {
        // Named below as a status that names no branch.
    }
    if (named.number.empty()) {
        throw Error(ErrorCode::kBadInput, fmt::format("{} names no branch: it is not the status of a branch's service "
                                                      "of this program",
                                                      what));
    }
    RequireFromPeer(database.get(), named, AnsweringBranch(service, related), what, "branch", "shown");
    // A service answers a branch with its own row; rows of other branches are not this
    // branch's to see, and are not shown even when a service sends them.
    const std::string own = database ? OwnBranch(*database).number : std::string();
    const std::string fingerprint = PinnedFingerprint(options.service.cert, fs::current_path(), "--cert");
    const std::vector<std::string> left_out = KeepOwnRow(*status, own, fingerprint);
    if (!left_out.empty()) {
        std::string branches;
        for (const std::string& branch : left_out) branches += (branches.empty() ? "" : ", ") + branch;
        std::cerr << platform::ForTerminal(fmt::format(
            "orbabt: {} holds rows of other branches than this one ({}); they are not this branch's to see and are "
            "left out\n",
            what, branches));
    }
    std::cout << host::ToJson(platform::Variant(status), -1) << '\n';
    return 0;
}

void AddStatusCommand(CLI::App& app, CommandContext& context) {
    auto status = std::make_shared<StatusOptions>();
    auto* command = app.add_subcommand(
        "status", "Show how this branch stands with each related branch: the bills waiting for it and the last "
                  "exchange (--db), or what a related branch's service shows this branch (--from, JSON)");
    AddServiceOptions(*command, status->service, "--from",
                      "The related branch's service: https://HOST:PORT (without it: this branch's own table, from "
                      "--db)");
    for (const char* asking : {"--from", "--cert", "--key"}) command->get_option(asking)->required(false);
    command->add_option("--db", status->db,
                        "Account database of this branch. Without --from: the table of its related branches, read "
                        "from it and its exchange log (--peers adds the branches of a peers file, with their "
                        "certificates). With --from: the service's branch must be one of its related branches");
    command->add_flag("--json", status->json, "Without --from: print the table as JSON, in the service's form");
    context.AddInputLimitOption(*command);
    command->callback([&context, status] {
        context.Choose([status] { return RunStatus(*status); });
    });
}

}  // namespace orba::apps::net
