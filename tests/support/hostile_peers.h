// Connections a hostile network keeps open to a service on this machine, to see that the
// service still answers its related branches beside them: connections that never start TLS,
// handshakes that stall after their first bytes, and pinned peers that send a request's head
// a byte at a time and never finish it. Each comes from a loopback address of its own kind
// (127.0.0.x), and one the service closes is opened again, so that as many stay open as asked.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace orba::testing {

class HostilePeers {
public:
    // Against the service on 127.0.0.1:`port`; `cert` and `key` are a pinned peer's (the slow
    // heads need a finished handshake to get that far).
    HostilePeers(int port, std::string cert, std::string key);
    ~HostilePeers();
    HostilePeers(const HostilePeers&) = delete;
    HostilePeers& operator=(const HostilePeers&) = delete;

    // Opens `n` connections of each kind, from 127.0.0.2, 127.0.0.3 and 127.0.0.4, and keeps
    // them open (and the heads trickling) until the object ends.
    void Open(int idle, int stalled_handshakes, int slow_heads);
    // How many connections the service has closed so far (each was opened again).
    int Reopened() const { return reopened_; }

    // Sends `request` (its bytes as they stand) over a connection made with the pinned
    // certificate, and gives what the service answered until it closed the connection or was
    // silent for `wait_s` seconds.
    static std::string Exchange(int port, const std::string& cert, const std::string& key,
                                const std::string& request, int wait_s = 10);

private:
    struct Connection;
    void Keep();
    void Reopen(Connection& c);

    int port_;
    std::string cert_;
    std::string key_;
    SSL_CTX* ctx_ = nullptr;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::atomic<bool> stop_{false};
    std::atomic<int> reopened_{0};
    std::thread keeper_;
};

}  // namespace orba::testing
