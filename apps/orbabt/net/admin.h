// The service's administration address: plain HTTP for the machine's own monitoring, bound to
// loopback unless told otherwise, apart from the address the related branches reach.
//   GET /v1/health  200 {"status": "ok", ...} while the database answers and the service's
//                   certificate is in force; 503 {"status": "unavailable", "reason": ...}
//   GET /metrics    the service's metrics in the Prometheus text format
//   GET /v1/status  every related branch's status, as a page (in Chinese for a browser that
//                   prefers it) or, for a client that asks for JSON, as JSON
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace orba::apps::net {

struct AdminCalls {
    // Why the service cannot exchange now (the database does not answer, a certificate is out
    // of force), or nullopt when it can; "branch" and the certificate's days left for the answer.
    std::function<std::optional<std::string>()> unhealthy;
    std::function<std::string()> branch;
    std::function<int64_t()> certificate_days_left;
    std::function<std::string()> metrics;
    std::function<std::string(bool json, bool chinese)> status;
};

class AdminServer {
public:
    // Listens on `listen`: "PORT" or "HOST:PORT" (the host 127.0.0.1 when left out; port 0 takes
    // any free port). Raises an Error when it cannot.
    AdminServer(const std::string& listen, AdminCalls calls);
    ~AdminServer();  // stops answering and waits for the answering thread
    AdminServer(const AdminServer&) = delete;
    AdminServer& operator=(const AdminServer&) = delete;

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }

private:
    std::unique_ptr<httplib::Server> server_;
    std::string host_;
    int port_ = 0;
    std::thread thread_;
};

// Runs `probe` (a read of the database) on a thread of its own and waits at most `patience`
// for it: a database locked by another process makes the probe wait its busy time-out, longer
// than a monitor waits for an answer. Returns why the database is not usable, or nullopt. One
// probe at a time: while an earlier one still waits, the answer is that it does.
std::optional<std::string> ProbeDatabase(const std::function<void()>& probe, std::chrono::milliseconds patience);

}  // namespace orba::apps::net
