#include "apps/orbabt/net/metrics.h"

#include <fmt/format.h>

#include <array>
#include <iterator>

namespace orba::apps::net {

namespace {

// Upper bounds of the request-duration buckets, in seconds: from a status answer to the
// package of a large list.
constexpr std::array<double, 8> kDurationBounds{0.05, 0.1, 0.25, 0.5, 1, 2.5, 10, 60};

double UnixSeconds(std::chrono::system_clock::time_point at) {
    return std::chrono::duration<double>(at.time_since_epoch()).count();
}

void Family(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
    fmt::format_to(std::back_inserter(out), "# HELP {} {}\n# TYPE {} {}\n", name, help, name, type);
}

}  // namespace

std::string LabelValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

void ServiceMetrics::Exchanged(const ExchangeRecord& record, std::chrono::system_clock::time_point at) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool failed = !record.error.empty();
    ++exchanges_[{record.peer, record.direction, failed ? "failed" : "ok"}];
    (failed ? last_failure_ : last_success_)[record.peer] = UnixSeconds(at);
    for (const auto& [type, c] : record.counts) {
        for (const auto& [outcome, n] : {std::pair<const char*, int>{"sent", c.sent}, {"saved", c.saved},
                                         {"updated", c.updated}, {"already held", c.held},
                                         {"not saved", c.not_saved}, {"in other package", c.in_other_package},
                                         {"marked", c.marked}}) {
            if (n > 0) bills_[{type, outcome}] += n;
        }
    }
}

void ServiceMetrics::Answered(std::string_view path, double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    Durations& d = durations_[std::string(path)];
    d.buckets.resize(kDurationBounds.size());
    for (size_t i = 0; i < kDurationBounds.size(); ++i) {
        if (seconds <= kDurationBounds[i]) ++d.buckets[i];
    }
    d.sum += seconds;
    ++d.count;
}

std::string ServiceMetrics::Text(int kept_receipts, const std::vector<CertificateEnd>& certificates) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    auto line = [&out](std::string_view name, std::string_view labels, double value) {
        fmt::format_to(std::back_inserter(out), "{}{}{}{} {}\n", name, labels.empty() ? "" : "{", labels,
                       labels.empty() ? "" : "}", value);
    };
    Family(out, "orbabt_exchanges_total", "counter", "Exchanges answered, by peer branch, direction and result.");
    for (const auto& [key, n] : exchanges_) {
        const auto& [peer, direction, result] = key;
        line("orbabt_exchanges_total",
             fmt::format("peer=\"{}\",direction=\"{}\",result=\"{}\"", LabelValue(peer), LabelValue(direction), result),
             static_cast<double>(n));
    }
    Family(out, "orbabt_bills_total", "counter", "Bills in the exchanges answered, by bill type and outcome.");
    for (const auto& [key, n] : bills_) {
        line("orbabt_bills_total", fmt::format("type=\"{}\",outcome=\"{}\"", key.first, key.second),
             static_cast<double>(n));
    }
    Family(out, "orbabt_last_success_timestamp_seconds", "gauge", "When each peer's last exchange succeeded.");
    for (const auto& [peer, at] : last_success_) line("orbabt_last_success_timestamp_seconds", fmt::format("peer=\"{}\"", LabelValue(peer)), at);
    Family(out, "orbabt_last_failure_timestamp_seconds", "gauge", "When each peer's last exchange failed.");
    for (const auto& [peer, at] : last_failure_) line("orbabt_last_failure_timestamp_seconds", fmt::format("peer=\"{}\"", LabelValue(peer)), at);
    Family(out, "orbabt_kept_receipts", "gauge", "Receipts kept here until a pull can deliver them.");
    line("orbabt_kept_receipts", "", kept_receipts);
    Family(out, "orbabt_certificate_expiry_timestamp_seconds", "gauge",
           "When the service's certificate and each pinned certificate end.");
    for (const CertificateEnd& c : certificates) {
        line("orbabt_certificate_expiry_timestamp_seconds",
             fmt::format("role=\"{}\",file=\"{}\"", LabelValue(c.role), LabelValue(c.file)), UnixSeconds(c.not_after));
    }
    Family(out, "orbabt_request_duration_seconds", "histogram", "Time taken to answer a request, by path.");
    for (const auto& [path, d] : durations_) {
        const std::string at = fmt::format("path=\"{}\"", LabelValue(path));
        for (size_t i = 0; i < kDurationBounds.size(); ++i) {
            line("orbabt_request_duration_seconds_bucket", fmt::format("{},le=\"{}\"", at, kDurationBounds[i]),
                 static_cast<double>(d.buckets[i]));
        }
        line("orbabt_request_duration_seconds_bucket", at + ",le=\"+Inf\"", static_cast<double>(d.count));
        line("orbabt_request_duration_seconds_sum", at, d.sum);
        line("orbabt_request_duration_seconds_count", at, static_cast<double>(d.count));
    }
    return out;
}

}  // namespace orba::apps::net
