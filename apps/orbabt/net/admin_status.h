// The status page of the administration address: every related branch with its last
// success and last failure (and why), what its last exchange moved and in which direction,
// receipts refused or kept, the certificates' ends, and the last exchanges, read from the
// exchange log; with the time it was made (and its zone), the version and the uptime. In
// Chinese for a browser that prefers Chinese, in English otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "apps/orbabt/net/exchange_log.h"
#include "apps/orbabt/net/metrics.h"
#include "apps/orbabt/net/status.h"

namespace orba::apps::net {

// One line of the exchange log.
struct LoggedExchange {
    std::string time;  // empty: none
    std::string peer, direction, error;
    std::map<int32_t, TypeCounts> counts;
};

struct PeerHistory {
    LoggedExchange last_success, last_failure;
    int refused_receipts = 0;  // receipts of this peer the service refused
};

struct ExchangeHistory {
    std::map<std::string, PeerHistory> peers;
    std::vector<LoggedExchange> recent;  // newest first
};

// What the exchange log in `folder` (and the one moved aside before it) tells of `branch`'s
// exchanges, with the last `recent` of them. Lines cut short by a crash are passed over.
ExchangeHistory ReadExchangeHistory(const std::string& branch, const std::filesystem::path& folder,
                                    size_t recent = 20);

struct AdminStatus {
    BranchStatus branch;  // every related branch, with the bills waiting for it
    ExchangeHistory history;
    int kept_receipts = 0;
    std::vector<CertificateEnd> certificates;
    std::string version;
    std::chrono::seconds uptime{0};
    std::chrono::system_clock::time_point made;
};

// Whether a browser's Accept-Language puts Chinese first (by its weights, then its order).
bool PrefersChinese(std::string_view accept_language);

// The page (refreshed every 30 seconds, fitting a window 1,024 pixels wide) and the same as JSON.
std::string AdminStatusPage(const AdminStatus& status, bool chinese);
std::string AdminStatusJson(const AdminStatus& status);

}  // namespace orba::apps::net
