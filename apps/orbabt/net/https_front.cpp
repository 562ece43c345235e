#include "apps/orbabt/net/https_front.h"

#include <fmt/format.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "apps/orbabt/net/front_worker.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using front::AddressOf;
using front::Clock;
using front::Connection;
using front::kMaxRequestsPerConnection;
using front::WorkerStream;

namespace {

// A request's head may not be longer; a longer one is answered 431.
constexpr size_t kMaxHead = 16 << 10;
// What the front reads and lets go of after refusing a request's body, so that a client that
// sends a body whole before it reads the answer sees the refusal instead of a cut connection.
constexpr size_t kMaxDrained = size_t{64} << 20;

}  // namespace

// The thread that waits on every connection not in a worker's hands, and the workers.
struct HttpsFront::Loop {
    Loop(SSL_CTX& c, Router& r, FrontLimits l, std::vector<Route> rs)
        : ctx(c), router(r), limits(l), routes(std::move(rs)), wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
          events(epoll_create1(EPOLL_CLOEXEC)) {}

    ~Loop() {
        for (int fd : {listener, wake, events}) {
            if (fd >= 0) ::close(fd);
        }
    }

    bool Run();
    void Accept();
    void Admit(int fd, std::string address);
    void Step(Connection& c);
    void ReadHead(Connection& c);
    void HeadComplete(Connection& c, size_t head_size);
    void Refuse(Connection& c, const EarlyAnswer& answer, std::string_view method, std::string_view path);
    void WriteRefusal(Connection& c);
    void Drain(Connection& c);
    void Watch(Connection& c, uint32_t what);
    void WaitOrClose(Connection& c, int result);
    void SetDeadline(Connection& c, Clock::time_point at);
    std::unique_ptr<Connection> Release(int fd);
    void Close(int fd);
    void Work(Connection* c);
    void TakeBack();

    SSL_CTX& ctx;
    Router& router;
    FrontLimits limits;
    std::vector<Route> routes;
    int listener = -1;
    int wake = -1;
    int events = -1;
    std::atomic<bool> stopping{false};
    uint64_t next_age = 0;
    std::map<int, std::unique_ptr<Connection>> open;
    std::set<std::pair<Clock::time_point, int>> deadlines;
    std::set<std::pair<uint64_t, int>> by_age;
    std::map<std::string, std::set<std::pair<uint64_t, int>>> by_address;
    std::unique_ptr<httplib::ThreadPool> workers;
    std::mutex back_mutex;
    std::vector<Connection*> back;  // handed back by workers for their next request
    bool closed_for_workers = false;
};

void HttpsFront::Loop::Watch(Connection& c, uint32_t what) {
    if (c.watched == what) return;
    epoll_event event{};
    event.events = what;
    event.data.fd = c.fd;
    epoll_ctl(events, c.watched == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, c.fd, &event);
    c.watched = what;
}

// After a TLS call on `c` that returned `result` without finishing: waits for what it wants
// (to read, or to write), or ends the connection on a failure or the peer's close.
void HttpsFront::Loop::WaitOrClose(Connection& c, int result) {
    const int error = SSL_get_error(c.ssl, result);
    ERR_clear_error();
    if (error == SSL_ERROR_WANT_READ) {
        Watch(c, EPOLLIN);
    } else if (error == SSL_ERROR_WANT_WRITE) {
        Watch(c, EPOLLOUT);
    } else {
        Close(c.fd);
    }
}

void HttpsFront::Loop::SetDeadline(Connection& c, Clock::time_point at) {
    deadlines.erase({c.deadline, c.fd});
    c.deadline = at;
    deadlines.insert({at, c.fd});
}

// Takes the connection `fd` out of the front's hands (its indexes and the waiting); null when
// the front does not hold it.
std::unique_ptr<Connection> HttpsFront::Loop::Release(int fd) {
    const auto found = open.find(fd);
    if (found == open.end()) return nullptr;
    std::unique_ptr<Connection> c = std::move(found->second);
    open.erase(found);
    deadlines.erase({c->deadline, fd});
    by_age.erase({c->age, fd});
    auto address = by_address.find(c->address);
    if (address != by_address.end()) {
        address->second.erase({c->age, fd});
        if (address->second.empty()) by_address.erase(address);
    }
    if (c->watched) epoll_ctl(events, EPOLL_CTL_DEL, fd, nullptr);
    c->watched = 0;
    return c;
}

// Forgets the connection `fd` and ends it (the session is freed and the socket closed).
void HttpsFront::Loop::Close(int fd) { Release(fd); }

// Takes `fd` in. When the connections waiting here are as many as allowed, from its address or
// from all, the one that has waited longest makes room: a client that opens connections and
// leaves them idle only ever crowds out its own.
void HttpsFront::Loop::Admit(int fd, std::string address) {
    if (const auto of_address = by_address.find(address);
        of_address != by_address.end() && of_address->second.size() >= limits.max_open_per_address) {
        Close(of_address->second.begin()->second);
    }
    if (open.size() >= limits.max_open && !by_age.empty()) Close(by_age.begin()->second);
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->address = std::move(address);
    c->ssl = SSL_new(&ctx);
    if (!c->ssl || SSL_set_fd(c->ssl, fd) != 1) {
        ERR_clear_error();
        return;  // the connection is closed with `c`
    }
    SSL_set_mode(c->ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_set_accept_state(c->ssl);
    c->age = next_age++;
    Connection& added = *c;
    open.emplace(fd, std::move(c));
    by_age.insert({added.age, fd});
    by_address[added.address].insert({added.age, fd});
    SetDeadline(added, Clock::now() + std::chrono::seconds(limits.handshake_s));
    Watch(added, EPOLLIN);
}

void HttpsFront::Loop::Accept() {
    for (;;) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&from), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if ((errno == EMFILE || errno == ENFILE) && !by_age.empty()) {
                // Out of descriptors: the connection that has waited longest gives its own up.
                Close(by_age.begin()->second);
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Every descriptor is with a worker: wait a moment rather than spin.
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            return;
        }
        std::string ip;
        int port = 0;
        AddressOf(fd, true, ip, port);
        Admit(fd, std::move(ip));
    }
}

void HttpsFront::Loop::Step(Connection& c) {
    switch (c.phase) {
        case Connection::Phase::kHandshake: {
            const int done = SSL_do_handshake(c.ssl);
            if (done == 1) {
                c.phase = Connection::Phase::kHead;
                SetDeadline(c, Clock::now() + std::chrono::seconds(limits.head_s));
                ReadHead(c);
                return;
            }
            WaitOrClose(c, done);  // a failure: not TLS, or a certificate that is not pinned
            return;
        }
        case Connection::Phase::kHead: ReadHead(c); return;
        case Connection::Phase::kRefusing: WriteRefusal(c); return;
        case Connection::Phase::kDraining: Drain(c); return;
    }
}

void HttpsFront::Loop::ReadHead(Connection& c) {
    char piece[16 << 10];
    for (;;) {
        const size_t end = c.buffer.find("\r\n\r\n");
        if (end != std::string::npos && end + 4 <= kMaxHead) {
            HeadComplete(c, end + 4);
            return;
        }
        if (std::min(end, c.buffer.size()) > kMaxHead) {
            Refuse(c, EarlyAnswer{431, fmt::format("the request's head is longer than {} bytes", kMaxHead), {}}, "",
                   "");
            return;
        }
        const int n = SSL_read(c.ssl, piece, sizeof piece);
        if (n > 0) {
            c.buffer.append(piece, static_cast<size_t>(n));
            continue;
        }
        WaitOrClose(c, n);
        return;
    }
}

void HttpsFront::Loop::HeadComplete(Connection& c, size_t head_size) {
    const std::optional<RequestHead> head = ParseRequestHead(std::string_view(c.buffer).substr(0, head_size));
    if (!head) {
        Refuse(c, EarlyAnswer{400, "the request's head is not HTTP/1.1", {}}, "", "");
        return;
    }
    if (const std::optional<EarlyAnswer> answer = CheckRequestHead(*head, routes, limits.body_limit)) {
        Refuse(c, *answer, head->method, head->path);
        return;
    }
    // To a worker: the front lets go of it until the answer has been written.
    Connection* handed = Release(c.fd).release();
    workers->enqueue([this, handed] { Work(handed); });
}

void HttpsFront::Loop::Refuse(Connection& c, const EarlyAnswer& answer, std::string_view method,
                              std::string_view path) {
    if (answer.status != 404) {
        std::cerr << platform::ForTerminal(fmt::format("orbabt serve: {} {}: refused ({}): {}\n", method, path,
                                                       answer.status, answer.why))
                  << std::flush;
    }
    c.answer = EarlyAnswerText(answer);
    c.written = 0;
    c.phase = Connection::Phase::kRefusing;
    SetDeadline(c, Clock::now() + std::chrono::seconds(limits.silence_s));
    WriteRefusal(c);
}

void HttpsFront::Loop::WriteRefusal(Connection& c) {
    while (c.written < c.answer.size()) {
        const int n = SSL_write(c.ssl, c.answer.data() + c.written, static_cast<int>(c.answer.size() - c.written));
        if (n > 0) {
            c.written += static_cast<size_t>(n);
            continue;
        }
        WaitOrClose(c, n);
        return;
    }
    // The answer is whole: the client is told no more comes, and what it still sends is let go.
    SSL_shutdown(c.ssl);
    ERR_clear_error();
    ::shutdown(c.fd, SHUT_WR);
    c.phase = Connection::Phase::kDraining;
    c.buffer.clear();
    Drain(c);
}

// After a refusal, what the client still sends is read and let go of until it stops sending,
// is silent for the silence time-out, or has sent as much as a body may hold.
void HttpsFront::Loop::Drain(Connection& c) {
    char piece[16 << 10];
    for (;;) {
        const int n = SSL_read(c.ssl, piece, sizeof piece);
        if (n > 0) {
            c.drained += static_cast<size_t>(n);
            if (c.drained > kMaxDrained) {
                Close(c.fd);
                return;
            }
            SetDeadline(c, Clock::now() + std::chrono::seconds(limits.silence_s));
            continue;
        }
        WaitOrClose(c, n);
        return;
    }
}

// A worker answers the request whose head `c` holds, and hands the connection back for the
// next one, or ends it.
void HttpsFront::Loop::Work(Connection* c) {
    std::unique_ptr<Connection> held(c);
    WorkerStream stream(*c, limits.silence_s);
    ++c->requests;
    const bool keep = router.AnswerOne(stream, c->ssl, c->requests >= kMaxRequestsPerConnection);
    if (!keep) {
        SSL_shutdown(c->ssl);
        ERR_clear_error();
        return;
    }
    stream.KeepRest();
    std::lock_guard<std::mutex> lock(back_mutex);
    if (closed_for_workers) return;
    back.push_back(held.release());
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
}

void HttpsFront::Loop::TakeBack() {
    std::vector<Connection*> taken;
    {
        std::lock_guard<std::mutex> lock(back_mutex);
        taken.swap(back);
    }
    for (Connection* raw : taken) {
        std::unique_ptr<Connection> c(raw);
        const int fd = c->fd;
        c->age = next_age++;
        c->phase = Connection::Phase::kHead;
        Connection& added = *c;
        open.emplace(fd, std::move(c));
        by_age.insert({added.age, fd});
        by_address[added.address].insert({added.age, fd});
        SetDeadline(added, Clock::now() + std::chrono::seconds(added.buffer.empty() ? limits.keep_alive_s
                                                                                    : limits.head_s));
        Watch(added, EPOLLIN);
        // The next request may be here already, read ahead or held in the session.
        ReadHead(added);
    }
}

bool HttpsFront::Loop::Run() {
    // Each connection takes a descriptor: as many as the system lets this process have.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (wake < 0 || events < 0 || listener < 0) return false;
    for (int fd : {listener, wake}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(events, EPOLL_CTL_ADD, fd, &event);
    }
    workers = std::make_unique<httplib::ThreadPool>(limits.workers);
    bool ok = true;
    epoll_event ready[256];
    while (!stopping) {
        int wait_ms = -1;
        if (!deadlines.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadlines.begin()->first - Clock::now());
            wait_ms = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 60000));
        }
        const int n = epoll_wait(events, ready, 256, wait_ms);
        if (n < 0 && errno != EINTR) {
            ok = false;
            break;
        }
        for (int i = 0; i < n; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == listener) {
                Accept();
            } else if (fd == wake) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t got = ::read(wake, &count, sizeof count);
                TakeBack();
            } else if (const auto found = open.find(fd); found != open.end()) {
                Step(*found->second);
            }
        }
        const auto now = Clock::now();
        while (!deadlines.empty() && deadlines.begin()->first <= now) Close(deadlines.begin()->second);
    }
    ::close(listener);
    listener = -1;
    while (!open.empty()) Close(open.begin()->first);
    // The requests in hand are answered; their connections then end.
    {
        std::lock_guard<std::mutex> lock(back_mutex);
        closed_for_workers = true;
    }
    workers->shutdown();
    for (Connection* c : back) delete c;
    back.clear();
    return ok;
}

HttpsFront::HttpsFront(SSL_CTX& ctx, Router& router, FrontLimits limits, std::vector<Route> routes)
    : loop_(std::make_unique<Loop>(ctx, router, limits, std::move(routes))) {}

HttpsFront::~HttpsFront() = default;

int HttpsFront::Bind(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        errno = EADDRNOTAVAIL;
        return -1;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, &freeaddrinfo);
    int error = 0;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        // The port is this service's alone: without SO_REUSEPORT a second service is refused
        // it. SO_REUSEADDR lets a service restarted at once bind while connections of the one
        // stopped still linger.
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
            loop_->listener = fd;
            loop_->router.ListensOn(fd);
            std::string ip;
            int bound = 0;
            AddressOf(fd, false, ip, bound);
            return bound;
        }
        error = errno;
        ::close(fd);
    }
    errno = error;
    return -1;
}

bool HttpsFront::Run() { return loop_->Run(); }

void HttpsFront::Stop() {
    loop_->stopping = true;
    if (loop_->wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(loop_->wake, &one, sizeof one);
    }
}

}  // namespace orba::apps::net
