// The watch a client keeps over each request to a related branch's service: its deadline, and
// the bytes that come over the wire for it. Internal to the client (client.cpp).
#pragma once

#include <openssl/ssl.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "apps/orbabt/net/client.h"

namespace orba::apps::net {

// Ends a request at its deadline, and counts what comes over the wire for it. The deadline is
// watched by a thread of its own, which cuts the request's connection (a shutdown of its
// socket: the only thing that may be done to it from another thread) once the deadline has
// passed, however the service keeps it open; the wire is counted by TLS itself, record by
// record as they are read, header lines, framing and compressed bytes alike, and the
// connection is cut as soon as the count passes its limit.
struct ServiceClient::Guard {
    std::mutex mutex;
    std::condition_variable changed;
    std::thread watching;
    bool ending = false;
    bool armed = false;  // a request is in hand
    std::chrono::steady_clock::time_point deadline;
    bool deadline_passed = false;
    int socket = -1;  // the connection of the request in hand, once TLS has used it
    // Written and read on the requesting thread only (TLS calls back on it).
    uint64_t wire = 0;
    uint64_t wire_limit = UINT64_MAX;
    bool wire_over = false;

    ~Guard() {
        {
            std::lock_guard lock(mutex);
            ending = true;
        }
        changed.notify_all();
        if (watching.joinable()) watching.join();
    }

    void Arm(int deadline_s) {
        std::lock_guard lock(mutex);
        if (!watching.joinable()) watching = std::thread([this] { Watch(); });
        armed = true;
        deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadline_s);
        deadline_passed = false;
        socket = -1;
        changed.notify_all();
    }
    void Disarm() {
        std::lock_guard lock(mutex);
        armed = false;
        socket = -1;
    }
    // Before each try: a new connection, counted from nothing.
    void NewTry(uint64_t limit) {
        {
            std::lock_guard lock(mutex);
            socket = -1;
        }
        wire = 0;
        wire_limit = limit;
        wire_over = false;
    }
    bool DeadlinePassed() {
        std::lock_guard lock(mutex);
        return deadline_passed || std::chrono::steady_clock::now() >= deadline;
    }
    std::chrono::steady_clock::time_point Deadline() {
        std::lock_guard lock(mutex);
        return deadline;
    }

    void Watch() {
        std::unique_lock lock(mutex);
        while (!ending) {
            if (!armed || deadline_passed) {
                changed.wait(lock);
            } else if (changed.wait_until(lock, deadline) == std::cv_status::timeout && armed && !deadline_passed &&
                       std::chrono::steady_clock::now() >= deadline) {
                deadline_passed = true;
                if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
            }
        }
    }

    // TLS's message callback: learns the connection in use, and counts each record read.
    static void OnRecord(int write_p, int, int content_type, const void* bytes, size_t size, SSL* ssl, void* arg) {
        if (content_type != SSL3_RT_HEADER) return;
        auto* guard = static_cast<Guard*>(arg);
        const int fd = SSL_get_fd(ssl);
        {
            std::lock_guard lock(guard->mutex);
            if (guard->armed && guard->socket != fd) {
                guard->socket = fd;
                // A deadline that passed before the connection was known cuts it now.
                if (guard->deadline_passed && fd >= 0) ::shutdown(fd, SHUT_RDWR);
            }
        }
        if (write_p || size < 5) return;
        const auto* header = static_cast<const unsigned char*>(bytes);
        guard->wire += 5 + ((uint64_t{header[3]} << 8) | header[4]);
        if (guard->wire > guard->wire_limit && !guard->wire_over) {
            guard->wire_over = true;
            if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
        }
    }
};

}  // namespace orba::apps::net
