// The service one branch runs for its related branches: over TLS with pinned certificates,
// it packages what a related branch asks for, marks what that branch's receipt acknowledges,
// and says how things stand. The caller's branch is the one its certificate belongs to.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "exchange/input_file.h"

namespace CLI {
class App;
}

namespace orba::apps {
class CommandContext;
}

namespace orba::apps::net {

struct ServeOptions {
    std::string db;
    std::string listen = "0.0.0.0:8443";  // HOST:PORT; port 0 takes any free port
    std::string cert;
    std::string key;
    std::string peers;
    int timeout_s = 30;  // and write time-out
    // Requests answered at once; more wait for one of them to end. A connection waits for no
    // place while it makes its handshake or sends its request's head.
    int max_connections = 16;
    // Takes a key that its group or others may read (RequirePrivateKey).
    bool allow_shared_key = false;
    // Largest request body, and input, taken (--max-input-mb): in force on each worker thread
    // for the request it answers.
    uint64_t max_input_mb = exchange::kDefaultInputLimitMb;
    // Days before the service's certificate ends from which it warns, once a day.
    int expiry_warning_days = 30;
    // [HOST:]PORT of the administration address (health, metrics); none when empty.
    std::string admin_listen;
};

// Serves until SIGTERM or SIGINT, finishing the exchange in hand; returns the exit status.
int RunServe(const ServeOptions& options);

void AddServeCommand(CLI::App& app, CommandContext& context);

}  // namespace orba::apps::net
