// The front of the service: it takes connections, runs their TLS handshakes and reads each
// request's head in one thread that waits on all of them at once, each step under a short
// deadline of its own, and hands a request to a worker only once its head is complete. A
// connection that never starts TLS, stalls in its handshake or sends its head a byte at a time
// therefore holds no worker, and the requests of a related branch are answered beside
// hundreds of them. Requests the head alone refuses (a wrong method, no length, an encoding
// this service does not read) are answered by the front at once.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "apps/orbabt/net/request_head.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace orba::apps::net {

struct FrontLimits {
    int silence_s = 30;      // a worker's wait for the next bytes of a request, or to send an answer
    int handshake_s = 10;    // from the connection to the end of its TLS handshake
    int head_s = 10;         // from then (or from the last answer) to the end of the request's head
    int keep_alive_s = 5;    // an idle connection between requests
    size_t workers = 16;     // requests answered at once
    size_t max_open = 4096;  // connections not yet handed to a worker
    size_t max_open_per_address = 256;
    uint64_t body_limit = 0;  // bytes a body's Content-Length may say
};

// The routing half: the handlers the service registers (Get, Post of httplib's server), run on
// a request read from any stream. The fuzz target drives it without a network.
class Router : public httplib::Server {
public:
    Router();
    // Answers one request read from `stream`; `ssl` is the connection's (the handlers learn the
    // peer from it). False when the connection must end: it broke, or the answer says so.
    bool AnswerOne(httplib::Stream& stream, SSL* ssl, bool last);
    // The HTTP library takes a server without its own listening socket for one shutting down,
    // and stops streamed answers; the front, which listens itself, names its socket here.
    void ListensOn(int fd) { svr_sock_ = fd; }
};

class HttpsFront {
public:
    // `ctx` (the service's certificate, key and peer check) and `router` must outlive the front.
    HttpsFront(SSL_CTX& ctx, Router& router, FrontLimits limits, std::vector<Route> routes);
    ~HttpsFront();
    HttpsFront(const HttpsFront&) = delete;
    HttpsFront& operator=(const HttpsFront&) = delete;

    // Binds the listening socket; the port bound (any free one for 0), or -1 with errno set.
    int Bind(const std::string& host, int port);
    // Serves until Stop; the requests in hand are finished first. False when waiting failed.
    bool Run();
    // Ends Run; may be called from any thread.
    void Stop();

private:
    struct Loop;
    std::unique_ptr<Loop> loop_;
};

}  // namespace orba::apps::net
