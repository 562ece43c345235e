// The two ways bills move between a branch and a related branch's service: pull (ask for what
// the service holds for this branch, save it here, send the receipt back so that the service
// marks what was saved) and push (send a list made here, get the receipt, mark from it here).
#pragma once

#include <string>
#include <vector>

#include "apps/orbabt/net/client.h"

namespace CLI {
class App;
}

namespace orba::apps {
class CommandContext;
}

namespace orba::apps::net {

struct PullOptions {
    std::string db;
    ClientOptions service;
    std::vector<int> types{501, 502, 503};
    std::string kept;  // folder of receipts not yet delivered; empty: the default one
};

struct PushOptions {
    std::string db;
    ClientOptions service;
    std::string list_file;
    std::string list_text;  // the list itself, when there is no file (the browse window's)
};

struct ExchangeRecord;

// Each writes its line of the exchange log, failed or not.
int RunPull(const PullOptions& options);
int RunPush(const PushOptions& options);
// The pulls of a sync file, each logged; 1 when any failed (the others still run).
int RunSync(const std::string& config_file);
// The exchanges themselves, counting what moved in `record`.
int Pull(const PullOptions& options, ServiceClient& service, ExchangeRecord& record);
int Push(const PushOptions& options, ServiceClient& service, ExchangeRecord& record);

void AddPullCommand(CLI::App& app, CommandContext& context);
void AddPushCommand(CLI::App& app, CommandContext& context);
void AddSyncCommand(CLI::App& app, CommandContext& context);
void AddStatusCommand(CLI::App& app, CommandContext& context);

}  // namespace orba::apps::net
