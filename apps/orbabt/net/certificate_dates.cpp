#include "apps/orbabt/net/certificate_dates.h"

#include <fmt/format.h>
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <ctime>
#include <memory>

#include "platform/error.h"

namespace orba::apps::net {

using platform::Error;
using platform::ErrorCode;

namespace {

Clock::time_point TimeOf(const ASN1_TIME* time) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) return {};
    return Clock::from_time_t(timegm(&tm));
}

// "2027-01-31 23:59:59 UTC": how a certificate's dates are shown to people.
std::string Shown(Clock::time_point at) {
    const std::time_t t = Clock::to_time_t(at);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

}  // namespace

CertificateDates ReadCertificateDates(const std::filesystem::path& path, std::string_view what) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
    ERR_clear_error();
    if (!certificate) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} '{}' cannot be read as a PEM certificate", what, path.string()));
    }
    return {TimeOf(X509_get0_notBefore(certificate.get())), TimeOf(X509_get0_notAfter(certificate.get()))};
}

int64_t DaysLeft(const CertificateDates& dates, Clock::time_point now) {
    const auto left = std::chrono::floor<std::chrono::days>(dates.not_after - now);
    return left.count();
}

std::optional<std::string> ExpiryWarning(std::string_view what, const std::filesystem::path& path,
                                         const CertificateDates& dates, Clock::time_point now, int warn_days) {
    if (now >= dates.not_after) return std::nullopt;
    const int64_t days = DaysLeft(dates, now);
    if (days >= warn_days) return std::nullopt;
    return fmt::format("{} '{}' ends on {} ({}): make a new key and certificate, give the certificate to the "
                       "related branches to pin beside the old one, and switch to it before then",
                       what, path.string(), Shown(dates.not_after),
                       days == 0 ? std::string("within a day") : fmt::format("in {} days", days));
}

void RequireInForce(std::string_view what, const std::filesystem::path& path, const CertificateDates& dates,
                    Clock::time_point now) {
    if (now >= dates.not_after) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} '{}' ended on {}: the related branches refuse it. Make a new key and "
                                "certificate, give the certificate to the related branches, and start with it",
                                what, path.string(), Shown(dates.not_after)));
    }
    if (now < dates.not_before) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} '{}' is in force only from {}: the related branches refuse it until then "
                                "(is this machine's clock right?)",
                                what, path.string(), Shown(dates.not_before)));
    }
}

}  // namespace orba::apps::net
