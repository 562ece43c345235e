#include "support/hostile_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <tuple>

namespace orba::testing {

namespace {

enum class Kind { kIdle, kStalledHandshake, kSlowHead };

// A TCP connection to 127.0.0.1:`port` from the loopback address `from`; -1 when refused.
int Connect(int port, const char* from) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

SSL_CTX* ClientContext(const std::string& cert, const std::string& key) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        throw std::runtime_error("the hostile peer cannot use " + cert);
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    return ctx;
}

// The first bytes of a ClientHello: a handshake record that says 512 bytes follow, and a few.
constexpr char kHelloStart[] = "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\x11\x22\x33\x44";

}  // namespace

struct HostilePeers::Connection {
    ~Connection() { Close(); }
    void Close() {
        if (ssl) SSL_free(ssl);
        if (fd >= 0) close(fd);
        ssl = nullptr;
        fd = -1;
    }
    Kind kind = Kind::kIdle;
    const char* from = "";
    int fd = -1;
    SSL* ssl = nullptr;
    size_t sent = 0;
};

HostilePeers::HostilePeers(int port, std::string cert, std::string key)
    : port_(port), cert_(std::move(cert)), key_(std::move(key)) {
    signal(SIGPIPE, SIG_IGN);  // a write to a connection the service closed fails instead
}

HostilePeers::~HostilePeers() {
    stop_ = true;
    if (keeper_.joinable()) keeper_.join();
    connections_.clear();
    if (ctx_) SSL_CTX_free(ctx_);
}

void HostilePeers::Reopen(Connection& c) {
    if (!ctx_) ctx_ = ClientContext(cert_, key_);
    c.Close();
    c.sent = 0;
    c.fd = Connect(port_, c.from);
    if (c.fd < 0) return;
    if (c.kind == Kind::kStalledHandshake) {
        if (send(c.fd, kHelloStart, sizeof kHelloStart - 1, MSG_NOSIGNAL) < 0) c.Close();
    } else if (c.kind == Kind::kSlowHead) {
        c.ssl = SSL_new(ctx_);
        SSL_set_fd(c.ssl, c.fd);
        if (SSL_connect(c.ssl) != 1) c.Close();
        ERR_clear_error();
    }
}

void HostilePeers::Open(int idle, int stalled_handshakes, int slow_heads) {
    for (const auto& [kind, count, from] : {std::tuple{Kind::kIdle, idle, "127.0.0.2"},
                                            std::tuple{Kind::kStalledHandshake, stalled_handshakes, "127.0.0.3"},
                                            std::tuple{Kind::kSlowHead, slow_heads, "127.0.0.4"}}) {
        for (int i = 0; i < count; ++i) {
            auto c = std::make_unique<Connection>();
            c->kind = kind;
            c->from = from;
            Reopen(*c);
            connections_.push_back(std::move(c));
        }
    }
    keeper_ = std::thread([this] { Keep(); });
}

// Every 100 ms: a byte more of each slow head, and a connection the service closed opened again.
void HostilePeers::Keep() {
    static const std::string kHead = "POST /v1/requests HTTP/1.1\r\nHost: branch\r\nX-Padding: ";
    while (!stop_) {
        for (auto& c : connections_) {
            if (stop_) return;
            bool closed = c->fd < 0;
            if (!closed && c->kind != Kind::kSlowHead) {
                pollfd p{c->fd, POLLIN, 0};
                char byte;
                closed = poll(&p, 1, 0) > 0 && recv(c->fd, &byte, 1, MSG_DONTWAIT) <= 0;
            } else if (!closed) {
                const char byte = c->sent < kHead.size() ? kHead[c->sent] : 'x';
                closed = SSL_write(c->ssl, &byte, 1) != 1;
                ERR_clear_error();
                ++c->sent;
            }
            if (closed) {
                ++reopened_;
                Reopen(*c);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::string HostilePeers::Exchange(int port, const std::string& cert, const std::string& key,
                                   const std::string& request, int wait_s) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(ClientContext(cert, key), &SSL_CTX_free);
    const int fd = Connect(port, "127.0.0.1");
    if (fd < 0) return "(no connection)";
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), &SSL_free);
    SSL_set_fd(ssl.get(), fd);
    std::string answer;
    if (SSL_connect(ssl.get()) == 1 && SSL_write(ssl.get(), request.data(), static_cast<int>(request.size())) > 0) {
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (SSL_pending(ssl.get()) == 0 && poll(&p, 1, wait_s * 1000) <= 0) {
                answer += "(silent)";
                break;
            }
            char piece[4096];
            const int n = SSL_read(ssl.get(), piece, sizeof piece);
            if (n <= 0) break;
            answer.append(piece, static_cast<size_t>(n));
        }
    }
    ERR_clear_error();
    close(fd);
    return answer;
}

}  // namespace orba::testing
