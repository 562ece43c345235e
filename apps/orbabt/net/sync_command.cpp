// The sync command: the pulls a sync file names, one related branch after the other.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <iostream>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/net/peers.h"
#include "apps/orbabt/net/pinning.h"
#include "apps/orbabt/net/spool.h"
#include "apps/orbabt/net/transfer.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::Error;
using platform::ErrorCode;

int RunSync(const SyncOptions& options) {
    const SpoolSignals signals;
    const SyncConfig config = ReadSyncFile(options.config);
    // Every pull shows the same key: one that others may read stops them all at once.
    RequirePrivateKey(config.key, options.service.allow_shared_key);
    int failed = 0;
    for (const SyncPull& entry : config.pulls) {
        std::cout << fmt::format("Pulling from {}\n", entry.from) << std::flush;
        PullOptions pull;
        pull.db = config.db;
        pull.types = entry.types;
        pull.service.url = entry.from;
        pull.service.cert = config.cert;
        pull.service.key = config.key;
        pull.service.allow_shared_key = options.service.allow_shared_key;
        pull.service.peer = entry.branch + "=" + entry.certificate;
        pull.service.timeout_s = config.timeout_s;
        pull.service.retries = config.retries;
        pull.service.deadline_s = options.service.deadline_s;
        pull.service.max_list_mb = options.service.max_list_mb;
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
    auto sync = std::make_shared<SyncOptions>();
    auto* command =
        app.add_subcommand("sync", "Run the pulls a sync file names, one related branch after the other (for a timer)");
    command->add_option("--config", sync->config, "The sync file: this branch's database, certificate and key, and "
                                                  "the services to pull from")
        ->required();
    AddAllowSharedKeyFlag(*command, sync->service.allow_shared_key);
    AddDeadlineOption(*command, sync->service);
    AddListLimitOption(*command, sync->service);
    context.AddTraceOption(*command);
    context.AddInputLimitOption(*command);
    command->callback([&context, sync] {
        context.Choose([sync] { return RunSync(*sync); }, {{"the sync file", sync->config}});
    });
}

}  // namespace orba::apps::net
