#include "apps/orbabt/net/pinning.h"

#include <fmt/format.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <memory>

#include "hostkit/sha256.h"
#include "platform/error.h"

namespace orba::apps::net {

using platform::Error;
using platform::ErrorCode;

namespace {

constexpr std::string_view kShaPrefix = "sha256:";

bool IsFingerprint(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

int g_check_index = -1;

int VerifyPinned(int, X509_STORE_CTX* store) {
    // Only the certificate the other side presents is looked at; a chain above it is not
    // needed when that very certificate is pinned.
    if (X509_STORE_CTX_get_error_depth(store) != 0) return 1;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    const auto* check = static_cast<const PinCheck*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), g_check_index));
    X509* certificate = X509_STORE_CTX_get_current_cert(store);
    if (!check || !certificate) return 0;
    const std::string fingerprint = CertificateFingerprint(certificate);
    std::string why;
    if (!check->pins.count(fingerprint)) {
        why = "the certificate is not one of the pinned ones";
    } else if (X509_cmp_current_time(X509_get0_notAfter(certificate)) < 0) {
        why = "the certificate has expired";
    } else if (X509_cmp_current_time(X509_get0_notBefore(certificate)) > 0) {
        why = "the certificate is not valid yet";
    }
    if (why.empty()) {
        if (check->accepted) *check->accepted = fingerprint;
        return 1;
    }
    if (check->on_refused) check->on_refused(fingerprint, why);
    return 0;
}

}  // namespace

std::string CertificateFingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
    return hostkit::HexOf(digest, length);
}

std::string PinnedFingerprint(std::string_view certificate, const std::filesystem::path& base,
                              std::string_view what) {
    if (certificate.starts_with(kShaPrefix)) {
        std::string hex(certificate.substr(kShaPrefix.size()));
        for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!IsFingerprint(hex)) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("{}: '{}' is no SHA-256 fingerprint (sha256: and 64 hex digits)", what,
                                    certificate));
        }
        return hex;
    }
    std::filesystem::path path(certificate);
    if (path.is_relative()) path = base / path;
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "r"), &std::fclose);
    if (!file) {
        throw Error(ErrorCode::kFileNotFound, fmt::format("{}: the certificate file '{}' cannot be read", what,
                                                          path.string()));
    }
    std::unique_ptr<X509, decltype(&X509_free)> x509(PEM_read_X509(file.get(), nullptr, nullptr, nullptr),
                                                     &X509_free);
    if (!x509) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{}: '{}' holds no PEM certificate", what, path.string()));
    }
    return CertificateFingerprint(x509.get());
}

void RequirePrivateKey(const std::filesystem::path& key, bool allow_shared) {
    struct stat st {};
    if (allow_shared || key.empty() || ::stat(key.c_str(), &st) != 0) return;
    if ((st.st_mode & (S_IRGRP | S_IROTH)) == 0) return;
    // The name as a shell takes it whatever it holds: in single quotes, each quote closed,
    // escaped and opened again.
    std::string quoted = "'";
    for (const char c : key.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    throw Error(ErrorCode::kBadInput,
                fmt::format("The private key '{}' may be read by {} (mode {:03o}): a key others can read is no "
                            "longer this branch's alone. Make it readable by its owner only: chmod 600 {} (and make "
                            "a new key and certificate if others may have read it). --allow-shared-key takes it as "
                            "it is: for a key that systemd hands over as a credential only",
                            key.string(), (st.st_mode & S_IROTH) ? "anyone on this machine" : "its group",
                            st.st_mode & 0777, quoted));
}

void RequirePinnedPeer(SSL_CTX& ctx, const PinCheck& check) {
    if (g_check_index < 0) g_check_index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    SSL_CTX_set_ex_data(&ctx, g_check_index, const_cast<PinCheck*>(&check));
    SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(&ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, &VerifyPinned);
}

std::string PinnedPeer(const SSL* ssl, const Pins& pins) {
    if (!ssl) return {};
    std::unique_ptr<X509, decltype(&X509_free)> certificate(SSL_get_peer_certificate(ssl), &X509_free);
    if (!certificate) return {};
    auto found = pins.find(CertificateFingerprint(certificate.get()));
    return found == pins.end() ? std::string() : found->second;
}

}  // namespace orba::apps::net
