// What the service's front hands a worker: a connection whose request head has been read, and
// the stream through which the worker reads the rest of the request and writes its answer.
// Internal to the front (https_front.cpp, front_worker.cpp).
#pragma once

#include <httplib.h>
#include <openssl/ssl.h>
#include <poll.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace orba::apps::net::front {

using Clock = std::chrono::steady_clock;

// Requests one connection may carry before it is closed.
inline constexpr int kMaxRequestsPerConnection = 100;

// The address of the socket `fd` (its own, or its `peer`'s) as text and port; empty and 0 when
// it has none.
void AddressOf(int fd, bool peer, std::string& ip, int& port);

// A connection the front holds: its socket, its TLS session and what has been read of it.
struct Connection {
    enum class Phase { kHandshake, kHead, kRefusing, kDraining };

    ~Connection();

    int fd = -1;
    SSL* ssl = nullptr;
    std::string address;
    uint64_t age = 0;  // the order it came in (or came back from a worker)
    Phase phase = Phase::kHandshake;
    Clock::time_point deadline;
    uint32_t watched = 0;  // the events it waits for
    std::string buffer;    // read and not yet taken: the head, and what followed it
    std::string answer;    // an early answer being written
    size_t written = 0;
    size_t drained = 0;
    int requests = 0;
};

// A connection's bytes as a worker reads and writes them: first what the front has read
// already, then the TLS session, each wait bounded by the silence time-out.
class WorkerStream : public httplib::Stream {
public:
    WorkerStream(Connection& connection, int silence_s) : c_(connection), silence_ms_(silence_s * 1000) {}

    bool is_readable() const override;
    bool is_writable() const override { return Wait(POLLOUT); }
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override { AddressOf(c_.fd, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { AddressOf(c_.fd, false, ip, port); }
    socket_t socket() const override { return c_.fd; }

    // What was read ahead of the request answered: the start of the next one.
    void KeepRest() { c_.buffer.erase(0, taken_); }

private:
    bool Wait(short events) const;

    Connection& c_;
    int silence_ms_;
    size_t taken_ = 0;
};

}  // namespace orba::apps::net::front
