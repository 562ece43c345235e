// The two ways bills move between a branch and a related branch's service: pull (ask for what
// the service holds for this branch, save it here, send the receipt back so that the service
// marks what was saved) and push (send a list made here, get the receipt, mark from it here).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "apps/orbabt/net/client.h"
#include "data/bill_types.h"

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
    std::vector<int> types = data::AllBillTypeCodes();
    std::string kept;  // folder of receipts not yet delivered; empty: the default one
};

struct PushOptions {
    std::string db;
    ClientOptions service;
    std::string list_file;
    std::string list_text;  // the list itself, when there is no file (the browse window's)
};

// status: without a service's address, the table of `db`'s related branches (those of
// `service.peers_file` among them); with one, the service's status as it answers it, and with
// `db` the branches the options name for the service must be related branches of it.
struct StatusOptions {
    std::string db;
    ClientOptions service;
    bool json = false;  // the table as JSON
};

// sync: the sync file, and the limits of its pulls that the command line sets (the file sets
// the rest of `service` for each pull).
struct SyncOptions {
    std::string config;
    ClientOptions service;
};

struct ExchangeRecord;

// Each writes its line of the exchange log of its branch database, failed or not. What the
// service sends is taken only from the related branch whose certificate it showed, and only
// when it names that branch as its sender; push sends a list only to the branch it is
// addressed to.
int RunPull(const PullOptions& options);
int RunPush(const PushOptions& options);
// Prints the table of the branch database, or the service's status when it is that of the
// branch whose certificate it showed, with this branch's row alone.
int RunStatus(const StatusOptions& options);
// The pulls of a sync file, each logged; 1 when any failed (the others still run).
// `options.service.allow_shared_key` takes the file's key even when others may read it
// (RequirePrivateKey).
int RunSync(const SyncOptions& options);
// The exchanges themselves, counting what moved in `record`.
int Pull(const PullOptions& options, ServiceClient& service, ExchangeRecord& record);
int Push(const PushOptions& options, ServiceClient& service, ExchangeRecord& record);

// The branches `peers` (those the options name for a service), by number, each checked to be
// a related branch of `db` and not its own branch `own`, before anything is asked of the
// service; an Error naming where the options name it otherwise.
std::map<std::string, Branch> RelatedPeers(hostkit::Database& db, const Branch& own, const std::vector<Peer>& peers,
                                           const ClientOptions& options);

// --peer BRANCH=CERTIFICATE and --peers FILE, which say whose the service is (and the
// --peer-cert of earlier versions, which is refused with what to give instead).
void AddPeerOptions(CLI::App& command, ClientOptions& service);
// --deadline SECONDS: how long one request to the service may take in all.
void AddDeadlineOption(CLI::App& command, ClientOptions& service);
// --max-list-mb N: the largest list taken from the service, for the commands that fetch one.
void AddListLimitOption(CLI::App& command, ClientOptions& service);

void AddPullCommand(CLI::App& app, CommandContext& context);
void AddPushCommand(CLI::App& app, CommandContext& context);
void AddSyncCommand(CLI::App& app, CommandContext& context);
void AddStatusCommand(CLI::App& app, CommandContext& context);

}  // namespace orba::apps::net
