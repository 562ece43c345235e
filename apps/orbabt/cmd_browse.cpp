// browse: the browse window over a branch database; what the user chose is written by
// WriteBrowseResult in the form the other commands take.
#include "apps/orbabt/cmd_browse.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>

#include "apps/orbabt/browse_result.h"
#include "apps/orbabt/commands.h"
#include "exchange/steps.h"
#include "apps/orbabt/host_setup.h"
#include "apps/orbabt/net/transfer.h"
#include "exchange/output_guard.h"
#include "facade/bill_trans.h"
#include "facade/browse_entry.h"
#include "data/bill_records.h"
#include "host/variant_dictionary.h"
#include "hostkit/database.h"
#include "hostkit/hostkit.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps {

using namespace orba::exchange;

using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::Ref;

namespace {

bool HasDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

int RunBrowse(const BrowseOptions& options) {
    const bool download = options.mode != "send";
    // What would refuse the clerk's work at the end is refused before the window opens: a
    // database that is not a branch's, an output file that cannot be written.
    if (!options.output.empty()) {
        RequireSeparateOutput(options.output, "-o", {{"the account database", options.db}});
        RequireWritableTarget(options.output);
    }
    std::unique_ptr<hostkit::Database> database = UseBranchDatabase(options.db);
    if (!options.for_branch.empty()) {
        if (download) throw Error(ErrorCode::kBadInput, "--for chooses the branch of the bills to send: use it with --mode send");
        auto rows = database->Query("SELECT FName FROM t_SonCompany WHERE FNumber=?", {platform::Variant(options.for_branch)});
        if (rows->Eof() || options.for_branch == OwnBranch(*database).number) {
            throw Error(ErrorCode::kBadInput, fmt::format("--for {}: there is no related branch with that number in the "
                                                          "account {}",
                                                          options.for_branch, database->Name()));
        }
        hostkit::SetListReceiver({options.for_branch, rows->Value(0).ToText()});
    }
    if (!options.service.url.empty()) {
        // Whose service the address is taken for, and that the key is this branch's alone, are
        // checked before the window opens too.
        net::RequirePrivateKey(options.service.key, options.service.allow_shared_key);
        const std::map<std::string, Branch> related = net::RelatedPeers(
            *database, OwnBranch(*database), net::ClientPeers(options.service), options.service);
        if (!options.for_branch.empty() && !related.contains(options.for_branch)) {
            std::string pinned;
            for (const auto& [number, branch] : related) pinned += (pinned.empty() ? "" : ", ") + number;
            throw Error(ErrorCode::kBadInput,
                        fmt::format("--for {} chooses bills for branch {}, but the service {} is taken for branch {}; "
                                    "the bills would not be sent there",
                                    options.for_branch, options.for_branch, options.service.url, pinned));
        }
    }
    if (!HasDisplay()) {
        throw Error(ErrorCode::kBadInput,
                    "The browse window needs a display: DISPLAY is not set (run it under xvfb-run, or set "
                    "QT_QPA_PLATFORM=offscreen)");
    }
    // The window module starts the window application; the other commands never load it.
    Ref<VariantVector> result;
    facade::SetBillsNotFound({});
    facade::RunInWindowApplication([&] {
        auto trans = platform::MakeRef<facade::BillTrans>();
        facade::BillTrans::ShowType(download ? 1 : 0);
        trans->Show();
        result = facade::BillTrans::VectTransmitBill();
    });
    for (const std::string& bill : facade::BillsNotFound()) {
        std::cerr << platform::ForTerminal(
            fmt::format("orbabt: {} was chosen but is no longer in the database; it was not sent\n", bill));
    }
    const OutputForm form{.compress = options.compress};
    if (options.service.url.empty()) return WriteBrowseResult(result, download, *database, options.output, form);
    if (!result || result->UpperBound() == 0) return WriteBrowseResult(result, download, *database, "");
    if (download) {
        database.reset();  // the exchange opens the database itself
        net::PullOptions pull{options.db, options.service, {}, {}};
        for (int32_t i = 1; i <= result->UpperBound(); ++i) {
            auto request = platform::ObjectAs<host::VariantDictionary>(result->Item(i));
            pull.types.push_back(static_cast<int>(request->Value(data::key::kBillType).ToLong()));
        }
        return net::RunPull(pull);
    }
    const std::vector<ListFile> lists = BrowseLists(result, *database);
    if (lists.size() > 1) {
        // A service answers for its own branch only: the lists are kept as files instead,
        // and nothing the clerk chose is lost.
        WriteBrowseResult(result, false, *database, options.output, form);
        throw Error(ErrorCode::kBadInput, fmt::format("The chosen bills go to {} branches, and {} answers for one: "
                                                      "the lists were written as above; push each to its branch's "
                                                      "service (orbabt push), or choose with --for",
                                                      lists.size(), options.service.url));
    }
    net::PushOptions push{options.db, options.service, {}, {}};
    push.list_text = PackageChosen(*database, lists.front());
    database.reset();  // the exchange opens the database itself
    return net::RunPush(push);
}

void AddBrowseCommand(CLI::App& app, CommandContext& context) {
    auto browse = std::make_shared<BrowseOptions>();
    auto* command = app.add_subcommand("browse", "Open the browse window and write what was chosen");
    command->add_option("--db", browse->db, "Account database of this branch")->required();
    command->add_option("--mode", browse->mode, "send: choose bills to send; download: choose bill types to fetch")
        ->required()
        ->check(CLI::IsMember({"send", "download"}));
    command->add_option("-o,--output", browse->output,
                        "File to write (a send list for unpackage, or a download request for package); "
                        "standard output when not given");
    command->add_flag("--compress", browse->compress, "Write the file(s) gzip-compressed, whatever their names");
    command->add_option("--for", browse->for_branch,
                        "Send mode: list only the bills addressed to this related branch (its number)");
    command->add_option("--to,--from", browse->service.url,
                        "Send the chosen bills to (send mode), or fetch the checked types from (download mode), "
                        "this related branch's service: https://HOST:PORT");
    command->add_option("--cert", browse->service.cert, "With --to/--from: this branch's certificate (PEM)");
    command->add_option("--key", browse->service.key, "With --to/--from: its private key (PEM)");
    AddAllowSharedKeyFlag(*command, browse->service.allow_shared_key);
    net::AddPeerOptions(*command, browse->service);
    net::AddListLimitOption(*command, browse->service);
    context.AddTraceOption(*command);
    command->callback([&context, browse] {
        if (!browse->service.url.empty() && (browse->service.cert.empty() || browse->service.key.empty())) {
            throw CLI::ValidationError("--to/--from", "needs --cert, --key and --peer BRANCH=CERT (or --peers FILE)");
        }
        context.Choose([browse] { return RunBrowse(*browse); }, {{"the account database", browse->db}});
    });
}

}  // namespace orba::apps
