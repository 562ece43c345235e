// Certificates pinned by their SHA-256 fingerprint: branches exchange over TLS with
// self-signed certificates, each side knowing the other's certificate beforehand, so no
// certificate authority is needed. Both the service and its clients use this.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct x509_st X509;
typedef struct ssl_st SSL;

namespace orba::apps::net {

// The SHA-256 of a certificate's DER form, as lower-case hex.
std::string CertificateFingerprint(X509* certificate);

// The fingerprint a peers entry or an option names: "sha256:<64 hex digits>" as it is, or a
// PEM certificate file (relative paths from `base`). Raises an Error naming `what` and the file
// when it cannot be read or holds no certificate.
std::string PinnedFingerprint(std::string_view certificate, const std::filesystem::path& base,
                              std::string_view what);

// Who may connect: fingerprint -> a name for messages (the branch number).
using Pins = std::map<std::string, std::string>;

// Makes `ctx` speak TLS 1.2 or later and take the other side only when it presents a
// certificate whose fingerprint is one of `pins` and that is within its dates; any other is
// refused during the handshake, and `on_refused` (when set) is told its fingerprint and why.
// `pins` must outlive `ctx`. A client that pins several certificates learns from `accepted`
// (when set) which one the other side showed in its last handshake.
struct PinCheck {
    Pins pins;
    void (*on_refused)(const std::string& fingerprint, const std::string& why) = nullptr;
    std::string* accepted = nullptr;
};
void RequirePinnedPeer(SSL_CTX& ctx, const PinCheck& check);

// Raises an Error when the private key file `key` lets its group or others read it (its mode
// shows more than 600), naming the file and the command that makes it private: a key others
// can read is no longer this branch's alone. `allow_shared` takes it all the same, for a key
// that systemd hands over as a credential: systemd grants the service's user access to it
// through an access control list, which shows as group read in the mode, and keeps it in a
// folder only that service may enter. A file that cannot be looked at is left for the TLS
// library to report as the key that cannot be used.
void RequirePrivateKey(const std::filesystem::path& key, bool allow_shared);

// The name `pins` gives the certificate of the other side of `ssl`, or empty when there is
// none or it is not pinned.
std::string PinnedPeer(const SSL* ssl, const Pins& pins);

}  // namespace orba::apps::net
