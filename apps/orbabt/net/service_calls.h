// One branch's service as the calls of the exchange core it answers with: its database, its
// peers, and the one exchange that runs at a time. The HTTP side (serve.cpp) reads what a
// related branch sends, hands it to these calls, and sends back what they give.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "apps/orbabt/net/admin_status.h"
#include "apps/orbabt/net/exchange_log.h"
#include "apps/orbabt/net/metrics.h"
#include "apps/orbabt/net/peers.h"
#include "apps/orbabt/net/pinning.h"
#include "apps/orbabt/net/service.h"
#include "apps/orbabt/net/status.h"
#include "exchange/transport.h"
#include "hostkit/database.h"

namespace httplib {
struct Request;
struct Response;
}

namespace orba::apps::net {

using exchange::Branch;

// One branch's service: its database, its peers, and the one exchange that runs at a time.
class Service {
public:
    // Opens the branch database and reads the peers file; raises an Error when the file names
    // a branch that is not a related branch of it.
    explicit Service(const ServeOptions& options);

    const Branch& Own() const { return own_; }
    const PinCheck& Check() const { return check_; }

    // Runs `answer` for the branch whose certificate `req` came with, one exchange at a time;
    // it puts its answer into `res`, and its failures become a JSON error a person can act on.
    // Defined with the HTTP side (serve.cpp).
    void Answer(const httplib::Request& req, httplib::Response& res,
                const std::function<void(const Branch& caller, ExchangeRecord& record, httplib::Response& res)>& answer);

    // A download request: every requested bill addressed to the caller and not yet sent,
    // written to a file as the bills are extracted, so that the list is never held whole. The
    // file is given open, its folder already gone: it ends when the answer has been sent, or
    // when the service does.
    std::shared_ptr<FILE> Package(const Branch& caller, const std::string& body, ExchangeRecord& record);

    // A receipt of the caller for a list made here: marks what it proves, as orbabt mark does.
    std::string Mark(const Branch& caller, const std::string& body, ExchangeRecord& record);

    // A list the caller chose to send, kept in the file `body`: saved here as unpackage saves
    // one, reading the file in pieces, and answered with the receipt.
    std::string Save(const Branch& caller, const std::filesystem::path& body, ExchangeRecord& record);

    // How this branch stands with `caller`: its row alone. The other branches' certificates,
    // bills and exchanges are theirs; the whole table is for this branch's administrators
    // (orbabt status --db).
    BranchStatus Status(const Branch& caller);

    // What the administration address reports: the service's counts, and why it cannot
    // exchange now (its database does not answer within `patience`), or nullopt.
    ServiceMetrics& Metrics() { return metrics_; }
    std::optional<std::string> DatabaseUnusable(std::chrono::milliseconds patience) const;
    // Every related branch's status, for the branch's administrators: read on a connection of
    // its own, with `certificates` and their ends.
    AdminStatus AdminView(const std::vector<CertificateEnd>& certificates) const;
    // Receipts of pulls by this branch waiting in its exchange log's folder to be delivered.
    int KeptReceipts() const;

    // Remembers when `branch` last exchanged bills here.
    void Exchanged(const std::string& branch) { last_exchange_[branch] = platform::Date::Now().ToString(); }

private:
    std::string location_;  // of the database, to open apart for a health check
    std::string peers_file_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::unique_ptr<hostkit::Database> db_;
    Branch own_;
    std::vector<Peer> peers_;
    std::filesystem::path folder_;  // this database's exchange log
    std::map<std::string, std::string> names_;
    std::map<std::string, std::string> last_exchange_;
    PinCheck check_;
    std::mutex exchange_;
    ServiceMetrics metrics_;
};

}  // namespace orba::apps::net
