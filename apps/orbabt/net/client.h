// A connection to a related branch's service, which is known by its pinned certificate; this
// branch shows its own certificate. Shared by pull and push.
#pragma once

#include <memory>
#include <string>

#include "apps/orbabt/net/pinning.h"

namespace httplib {
class SSLClient;
}

namespace orba::apps::net {

struct ClientOptions {
    std::string url;        // https://HOST:PORT
    std::string cert;       // this branch's certificate (PEM)
    std::string key;        // its private key (PEM)
    std::string peer_cert;  // the service's certificate (PEM) or "sha256:<hex>"
    int timeout_s = 60;
};

class ServiceClient {
public:
    // Raises an Error for an address that is not https://HOST[:PORT], or certificates that
    // cannot be read.
    explicit ServiceClient(const ClientOptions& options);
    ~ServiceClient();
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;

    // Posts `body` (JSON) to `path` and gives the answer; a refusal or a lost connection is an
    // Error saying what the service answered, or why nothing came.
    std::string Post(const std::string& path, const std::string& body);
    const std::string& Url() const { return url_; }
    // The SHA-256 of the service's pinned certificate.
    const std::string& PeerFingerprint() const { return check_.pins.begin()->first; }

private:
    std::string url_;
    PinCheck check_;
    std::unique_ptr<httplib::SSLClient> client_;
};

}  // namespace orba::apps::net
