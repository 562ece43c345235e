#include "apps/orbabt/net/front_worker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "apps/orbabt/net/https_front.h"

namespace orba::apps::net {

namespace front {

void AddressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ip.clear();
    port = 0;
    if ((peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
              : getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length)) != 0) {
        return;
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        port = ntohs(v6->sin6_port);
    }
    ip = text;
}

Connection::~Connection() {
    if (ssl) SSL_free(ssl);
    if (fd >= 0) ::close(fd);
}

bool WorkerStream::is_readable() const {
    return taken_ < c_.buffer.size() || SSL_pending(c_.ssl) > 0 || Wait(POLLIN);
}

ssize_t WorkerStream::read(char* ptr, size_t size) {
    if (taken_ < c_.buffer.size()) {
        const size_t n = std::min(size, c_.buffer.size() - taken_);
        std::memcpy(ptr, c_.buffer.data() + taken_, n);
        taken_ += n;
        return static_cast<ssize_t>(n);
    }
    for (;;) {
        const int n = SSL_read(c_.ssl, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
        if (n > 0) return n;
        const int error = SSL_get_error(c_.ssl, n);
        ERR_clear_error();
        if (error == SSL_ERROR_WANT_READ && Wait(POLLIN)) continue;
        if (error == SSL_ERROR_WANT_WRITE && Wait(POLLOUT)) continue;
        return error == SSL_ERROR_ZERO_RETURN ? 0 : -1;
    }
}

ssize_t WorkerStream::write(const char* ptr, size_t size) {
    for (;;) {
        const int n = SSL_write(c_.ssl, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
        if (n > 0) return n;
        const int error = SSL_get_error(c_.ssl, n);
        ERR_clear_error();
        if (error == SSL_ERROR_WANT_WRITE && Wait(POLLOUT)) continue;
        if (error == SSL_ERROR_WANT_READ && Wait(POLLIN)) continue;
        return -1;
    }
}

bool WorkerStream::Wait(short events) const {
    pollfd p{c_.fd, events, 0};
    int n;
    do {
        n = ::poll(&p, 1, silence_ms_);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

}  // namespace front

namespace {

// Whether the answer the router just wrote ends its connection (a refused body is left unread).
thread_local bool t_answer_closes = false;

}  // namespace

Router::Router() {
    // What the answers' Keep-Alive header says; the front keeps to it.
    set_keep_alive_max_count(front::kMaxRequestsPerConnection);
    set_keep_alive_timeout(FrontLimits{}.keep_alive_s);
    set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
        t_answer_closes = res.get_header_value("Connection") == "close";
    });
}

bool Router::AnswerOne(httplib::Stream& stream, SSL* ssl, bool last) {
    bool closed = false;
    t_answer_closes = false;
    const bool answered = process_request(stream, last, closed, [ssl](httplib::Request& req) { req.ssl = ssl; });
    return answered && !closed && !last && !t_answer_closes;
}

}  // namespace orba::apps::net
