// When a certificate is in force, and the warnings an administrator needs weeks before it
// ends: a service whose certificate has run out is refused by every related branch at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orba::apps::net {

using Clock = std::chrono::system_clock;

struct CertificateDates {
    Clock::time_point not_before;
    Clock::time_point not_after;
};

// The dates of the first certificate in the PEM file `path`. Raises an Error naming `what` and
// the file when it cannot be read or holds no certificate.
CertificateDates ReadCertificateDates(const std::filesystem::path& path, std::string_view what);

// Whole days from `now` to the end of `dates` (0 on its last day, negative once it has ended).
int64_t DaysLeft(const CertificateDates& dates, Clock::time_point now);

// The warning for the certificate `what` (in `path`) when it ends within `warn_days` of `now`,
// saying when and what to do; nullopt while it has longer, or once it has ended (that is an
// error, not a warning).
std::optional<std::string> ExpiryWarning(std::string_view what, const std::filesystem::path& path,
                                         const CertificateDates& dates, Clock::time_point now, int warn_days);

// Raises an Error naming the certificate `what` (in `path`) when it has ended or is not yet in
// force at `now`, saying which and what to do.
void RequireInForce(std::string_view what, const std::filesystem::path& path, const CertificateDates& dates,
                    Clock::time_point now);

}  // namespace orba::apps::net
