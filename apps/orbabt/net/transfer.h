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
};

struct PushOptions {
    std::string db;
    ClientOptions service;
    std::string list_file;
};

struct ExchangeRecord;

// Each writes its line of the exchange log, failed or not.
int RunPull(const PullOptions& options);
int RunPush(const PushOptions& options);
// The exchanges themselves, counting what moved in `record`.
int Pull(const PullOptions& options, ServiceClient& service, ExchangeRecord& record);
int Push(const PushOptions& options, ServiceClient& service, ExchangeRecord& record);

void AddPullCommand(CLI::App& app, CommandContext& context);
void AddPushCommand(CLI::App& app, CommandContext& context);

}  // namespace orba::apps::net
