// What a monitoring system reads from a running service: exchanges by peer, direction and
// result, bills by type and outcome, each peer's last success and failure, request durations,
// and the certificates' and kept receipts' gauges, in the Prometheus text format.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "apps/orbabt/net/exchange_log.h"

namespace orba::apps::net {

// A certificate the service knows the end of, for the expiry gauge.
struct CertificateEnd {
    std::string role;  // "service", or the branch number it is pinned for
    std::string file;
    std::chrono::system_clock::time_point not_after;
};

class ServiceMetrics {
public:
    // Counts one exchange the service answered (record.error set: it failed) at `at`.
    void Exchanged(const ExchangeRecord& record, std::chrono::system_clock::time_point at);
    // Counts one request to `path` that took `seconds` to answer.
    void Answered(std::string_view path, double seconds);

    // The metrics as text, with the gauges read now: `kept_receipts` receipts waiting to be
    // delivered, and the ends of `certificates`.
    std::string Text(int kept_receipts, const std::vector<CertificateEnd>& certificates) const;

private:
    struct Durations {
        std::vector<int64_t> buckets;  // per upper bound of kDurationBounds, cumulative when written
        double sum = 0;
        int64_t count = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::tuple<std::string, std::string, std::string>, int64_t> exchanges_;  // peer, direction, result
    std::map<std::pair<int32_t, std::string>, int64_t> bills_;                      // type, outcome
    std::map<std::string, double> last_success_, last_failure_;                      // per peer, Unix seconds
    std::map<std::string, Durations> durations_;                                     // per path
};

// A label value as the text format writes it: backslash, double quote and line feed escaped.
std::string LabelValue(std::string_view text);

}  // namespace orba::apps::net
