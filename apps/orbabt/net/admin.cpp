#include "apps/orbabt/net/admin.h"

#include <fmt/format.h>
#include <httplib.h>

#include <atomic>
#include <charconv>
#include <future>

#include <nlohmann/json.hpp>

#include "apps/orbabt/net/admin_status.h"
#include "platform/error.h"

namespace orba::apps::net {

using platform::Error;
using platform::ErrorCode;

namespace {

std::pair<std::string, int> AdminHostAndPort(const std::string& listen) {
    const size_t colon = listen.rfind(':');
    const std::string host = colon == std::string::npos ? "127.0.0.1" : listen.substr(0, colon);
    const std::string digits = colon == std::string::npos ? listen : listen.substr(colon + 1);
    int port = -1;
    auto [at, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (host.empty() || digits.empty() || error != std::errc() || at != digits.data() + digits.size() || port < 0 ||
        port > 65535) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("--admin-listen '{}' is not PORT or HOST:PORT (for example 127.0.0.1:8444)", listen));
    }
    return {host, port};
}

}  // namespace

std::optional<std::string> ProbeDatabase(const std::function<void()>& probe, std::chrono::milliseconds patience) {
    static std::atomic<bool> probing{false};
    if (probing.exchange(true)) return "the database has not answered an earlier check yet (is it locked?)";
    auto outcome = std::make_shared<std::promise<std::optional<std::string>>>();
    std::future<std::optional<std::string>> answer = outcome->get_future();
    std::thread([probe, outcome] {
        std::optional<std::string> why;
        try {
            probe();
        } catch (const Error& e) {
            why = "the database does not answer: " + e.Description();
        } catch (const std::exception& e) {
            why = std::string("the database does not answer: ") + e.what();
        }
        probing = false;
        outcome->set_value(why);
    }).detach();
    if (answer.wait_for(patience) != std::future_status::ready) {
        return fmt::format("the database has not answered within {} ms (is it locked?)", patience.count());
    }
    return answer.get();
}

AdminServer::AdminServer(const std::string& listen, AdminCalls calls) : server_(std::make_unique<httplib::Server>()) {
    const auto [host, port] = AdminHostAndPort(listen);
    host_ = host;
    server_->Get("/v1/health", [calls](const httplib::Request&, httplib::Response& res) {
        if (const std::optional<std::string> why = calls.unhealthy()) {
            res.status = 503;
            res.set_content(nlohmann::json{{"status", "unavailable"}, {"reason", *why}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                            "application/json");
            return;
        }
        res.set_content(nlohmann::json{{"status", "ok"},
                                       {"branch", calls.branch()},
                                       {"certificate_days_left", calls.certificate_days_left()}}
                            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                        "application/json");
    });
    server_->Get("/metrics", [calls](const httplib::Request&, httplib::Response& res) {
        res.set_content(calls.metrics(), "text/plain; version=0.0.4; charset=utf-8");
    });
    server_->Get("/v1/status", [calls](const httplib::Request& req, httplib::Response& res) {
        const bool json = req.get_header_value("Accept").find("application/json") != std::string::npos;
        try {
            res.set_content(calls.status(json, PrefersChinese(req.get_header_value("Accept-Language"))),
                            json ? "application/json" : "text/html; charset=utf-8");
        } catch (const Error& e) {
            res.status = 503;
            res.set_content(nlohmann::json{{"status", "unavailable"}, {"reason", e.Description()}}.dump(
                                -1, ' ', false, nlohmann::json::error_handler_t::replace),
                            "application/json");
        }
    });
    port_ = port == 0 ? server_->bind_to_any_port(host) : (server_->bind_to_port(host, port) ? port : -1);
    if (port_ < 0) {
        throw Error(ErrorCode::kIoError, fmt::format("The service cannot listen on {}:{} for administration", host, port));
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

AdminServer::~AdminServer() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace orba::apps::net
