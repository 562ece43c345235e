// A connection to a related branch's service, which is known by its branch and that branch's
// pinned certificate; this branch shows its own certificate. Shared by pull, push, status and
// the browse window.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "apps/orbabt/net/peers.h"
#include "apps/orbabt/net/pinning.h"

namespace httplib {
class SSLClient;
class Result;
}

namespace orba::apps::net {

struct ClientOptions {
    std::string url;        // https://HOST:PORT
    std::string cert;       // this branch's certificate (PEM)
    std::string key;        // its private key (PEM)
    // Whose service it is: "BRANCH=CERTIFICATE" (a PEM file or "sha256:<hex>"), or a peers
    // file, every certificate of which is pinned; the service's branch is then the one whose
    // certificate it shows.
    std::string peer;
    std::string peers_file;
    // The certificate alone, as earlier versions took it: refused, since it does not say
    // which branch the service is.
    std::string peer_cert;
    int timeout_s = 60;
    // A request that got no answer (no connection, or one lost before the answer came) is
    // sent again this many times, after retry_wait_s seconds and twice as long each time.
    // Every request of the exchange may be sent twice: the service answers a repeated one
    // as it answered the first.
    int retries = 3;
    double retry_wait_s = 1;
    // Takes a key that its group or others may read (RequirePrivateKey).
    bool allow_shared_key = false;
    // The longest one request to the service may take, from its first try to the last byte of
    // its answer, the retries and the waits before them included: --timeout bounds a silence,
    // this the whole, so that a service that sends a byte now and then cannot keep it open.
    int deadline_s = 600;
    // The largest list the service may answer (pull's), in MB, on the wire and as the text it
    // holds once inflated; each of its bills is held to the input limit as it is read. Every
    // other answer (a receipt's, a status, the receipt a push gets, a refusal) is held whole to
    // the input limit (--max-input-mb).
    uint64_t max_list_mb = 1024;
};

// The related branches `options` take the service for, each with its pinned certificate.
// Raises an Error saying what to give when they name none, name it twice, or take the
// certificate alone.
std::vector<Peer> ClientPeers(const ClientOptions& options);

class ServiceClient {
public:
    // Raises an Error for an address that is not https://HOST[:PORT], certificates that
    // cannot be read, a key others may read (RequirePrivateKey), or peers as ClientPeers
    // raises it. Connects only when asked something.
    explicit ServiceClient(const ClientOptions& options);
    ~ServiceClient();
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;

    // Posts `body` (JSON, sent gzip-compressed) to `path` and gives the answer (asked for
    // gzip-compressed, and given as the text), trying again as the options say
    // when no answer comes; a refusal, or no answer after the last try, is an Error saying
    // what the service answered or why nothing came (ErrorCode::kIoError: nothing came).
    // An answer larger than the input limit, on the wire or once inflated, is cut off as soon
    // as it passes it, and a request that passes the deadline ends there: both are Errors
    // (ErrorCode::kIoError) naming the limit and the option that sets it, and neither is
    // tried again.
    std::string Post(const std::string& path, const std::string& body);
    // The same with the answer written to the file `answer` as it arrives (each try starts
    // the file anew), so that a long answer is never held whole; it is held to the options'
    // max_list_mb instead of the input limit. A refusal is raised as Post raises it, and a file
    // that cannot be written is an Error too.
    void PostToFile(const std::string& path, const std::string& body, const std::filesystem::path& answer);
    // Posts the text of the file `body` as it is read from the file, in chunks (a compressed
    // file is sent as the text it holds), so that a long list is never held whole.
    std::string PostFile(const std::string& path, const std::filesystem::path& body);
    std::string Get(const std::string& path);
    const std::string& Url() const { return url_; }
    // The branches the options name for the service, with their certificates.
    const std::vector<Peer>& Peers() const { return peers_; }
    // From now on takes the service only with the certificate of `branch`: a service that
    // shows another is refused in the handshake. Raises an Error, naming `what` (the thing
    // addressed to that branch), when no certificate of that branch is pinned.
    void OnlyBranch(const std::string& branch, std::string_view what);
    // The SHA-256 of the certificate the service showed, and its branch: known from the
    // start when one certificate is pinned, else once the service has answered; empty until
    // then.
    const std::string& PeerFingerprint() const { return shown_; }
    std::string PeerBranch() const;

    // Watches the deadline and counts what comes over the wire; defined in client_guard.h.
    struct Guard;

private:
    // One request and the answer of its current try; defined in client.cpp.
    struct Call;

    // Sends `call` by `send` under its deadline, tried again as the options say; the answer's
    // text, or an Error.
    std::string Send(Call& call, const std::function<httplib::Result()>& send);
    // One try, with what went wrong in it (an answer over its limit, a deadline passed, a file
    // not read or not written) raised.
    httplib::Result Try(Call& call, const std::function<httplib::Result()>& send);
    httplib::Result SendText(const char* method, Call& call, const std::string* body);
    httplib::Result SendFile(Call& call, const std::filesystem::path& body);
    std::string Answer(const std::string& path, const std::function<httplib::Result()>& send);

    std::string url_;
    std::vector<Peer> peers_;
    std::string shown_;  // written by the handshake (PinCheck::accepted)
    PinCheck check_;
    int retries_ = 0;
    double retry_wait_s_ = 0;
    int deadline_s_ = 0;
    uint64_t max_list_mb_ = 0;
    bool compress_ = true;  // until the service says it cannot read compressed bodies
    // Its thread cuts the connection only while a request is in hand.
    std::unique_ptr<Guard> guard_;
    std::unique_ptr<httplib::SSLClient> client_;
};

}  // namespace orba::apps::net
