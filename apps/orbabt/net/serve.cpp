#include "apps/orbabt/net/service.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <httplib.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/net/admin.h"
#include "apps/orbabt/net/certificate_dates.h"
#include "apps/orbabt/host_setup.h"
#include "apps/orbabt/net/exchange_log.h"
#include "apps/orbabt/net/https_front.h"
#include "apps/orbabt/net/request_body.h"
#include "apps/orbabt/net/service_calls.h"
#include "apps/orbabt/net/peers.h"
#include "apps/orbabt/net/spool.h"
#include "apps/orbabt/net/status.h"
#include "exchange/input_file.h"
#include "exchange/output_guard.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "hostkit/database.h"
#include "platform/error.h"
#include "platform/printable_text.h"
#include "platform/scope_exit.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::Error;
using platform::ErrorCode;
using platform::Variant;

namespace {

constexpr const char* kJson = "application/json";

std::pair<std::string, int> HostAndPort(const std::string& listen) {
    const size_t colon = listen.rfind(':');
    int port = -1;
    if (colon != std::string::npos) {
        const char* end = listen.data() + listen.size();
        auto [at, error] = std::from_chars(listen.data() + colon + 1, end, port);
        if (error != std::errc() || at != end) port = -1;
    }
    if (colon == std::string::npos || colon == 0 || port < 0 || port > 65535) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("--listen '{}' is not HOST:PORT (for example 0.0.0.0:8443)", listen));
    }
    return {listen.substr(0, colon), port};
}

// Sends the open file `list` as the answer, in pieces as the connection takes them; they go
// gzip-compressed to a client that accepts it (the HTTP library compresses an answer sent in
// chunks, as it does a whole one).
void AnswerWithFile(httplib::Response& res, std::shared_ptr<FILE> list) {
    res.set_chunked_content_provider(kJson, [list](size_t, httplib::DataSink& sink) {
        std::vector<char> buffer(1 << 16);
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), list.get());
        if (n > 0) return sink.write(buffer.data(), n);
        if (std::ferror(list.get())) return false;  // the client sees the answer cut off
        sink.done();
        return true;
    });
}

}  // namespace

void Service::Answer(const httplib::Request& req, httplib::Response& res,
            const std::function<void(const Branch& caller, ExchangeRecord& record, httplib::Response& res)>& answer) {
    const std::string number = PinnedPeer(req.ssl, check_.pins);
    if (number.empty()) {
        res.status = 403;
        res.set_content(ErrorJson("The client's certificate is not one of this branch's peers"), kJson);
        return;
    }
    std::lock_guard<std::mutex> one_at_a_time(exchange_);
    const auto started = std::chrono::steady_clock::now();
    ExchangeRecord record;
    // Counted for the monitors however the answer ends.
    const platform::ScopeExit counted([&] {
        metrics_.Answered(req.path, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        if (!record.direction.empty()) metrics_.Exchanged(record, std::chrono::system_clock::now());
    });
    record.branch = own_.number;
    record.peer = number;
    for (const auto& [fingerprint, branch] : check_.pins) {
        if (branch == number) record.certificate = fingerprint;
    }
    try {
        answer(Branch{number, names_[number]}, record, res);
        if (req.method == "POST") Exchanged(number);
    } catch (const Error& e) {
        res.status = e.Code() == ErrorCode::kBadInput ? 400 : 500;
        res.set_content(ErrorJson(e.Description()), kJson);
        record.error = e.Description();
        std::cerr << platform::ForTerminal(fmt::format("orbabt serve: {} {} for {}: {}\n", req.method, req.path,
                                                       number, e.Description()));
    }
    if (!record.direction.empty()) AppendExchangeLog(record, folder_);
}

namespace {

// The service's TLS side: its certificate and key, and the peer check; nullptr with the
// reason in `why` when they cannot be used.
std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ServiceContext(const ServeOptions& options) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_server_method()), &SSL_CTX_free);
    const bool usable = ctx && SSL_CTX_use_certificate_chain_file(ctx.get(), options.cert.c_str()) == 1 &&
                        SSL_CTX_use_PrivateKey_file(ctx.get(), options.key.c_str(), SSL_FILETYPE_PEM) == 1 &&
                        SSL_CTX_check_private_key(ctx.get()) == 1;
    ERR_clear_error();
    if (!usable) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The service's certificate '{}' and key '{}' cannot be used (missing, unreadable, "
                                "or not a pair)",
                                options.cert, options.key));
    }
    SSL_CTX_set_options(ctx.get(), SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    return ctx;
}

// What the service answers at each of its paths. Each request is answered on a worker
// thread, under the service's input limit (`input_limit_mb`).
void AddRoutes(Router& server, Service& service, uint64_t input_limit_mb) {
    server.Post("/v1/requests", [&, input_limit_mb](const httplib::Request& req, httplib::Response& res,
                                                    const httplib::ContentReader& reader) {
        const InputLimitScope limit(input_limit_mb);
        const std::optional<std::string> body = ReadBody(req, res, reader);
        if (!body) return;
        service.Answer(req, res, [&](const Branch& caller, ExchangeRecord& record, httplib::Response& answer) {
            AnswerWithFile(answer, service.Package(caller, *body, record));
        });
    });
    server.Post("/v1/receipts", [&, input_limit_mb](const httplib::Request& req, httplib::Response& res,
                                                    const httplib::ContentReader& reader) {
        const InputLimitScope limit(input_limit_mb);
        const std::optional<std::string> body = ReadBody(req, res, reader);
        if (!body) return;
        service.Answer(req, res, [&](const Branch& caller, ExchangeRecord& record, httplib::Response& answer) {
            answer.set_content(service.Mark(caller, *body, record), kJson);
        });
    });
    server.Post("/v1/lists", [&, input_limit_mb](const httplib::Request& req, httplib::Response& res,
                                                 const httplib::ContentReader& reader) {
        const InputLimitScope limit(input_limit_mb);
        // The list goes to a file as it arrives and is read from there in pieces: however many
        // bills it holds, they are never in memory together. The input limit now bounds what
        // a body may take on disk here; a body past it is refused as before.
        std::optional<SpoolFolder> spool;
        std::optional<SpoolFile> list;
        try {
            spool.emplace();
            list.emplace(*spool / "list.json");
        } catch (const Error& e) {
            res.status = 500;
            res.set_content(ErrorJson(e.Description()), kJson);
            std::cerr << fmt::format("orbabt serve: {} {}: {}\n", req.method, req.path, e.Description()) << std::flush;
            return;
        }
        if (!ReadBody(req, res, reader, [&](const char* data, size_t size) { list->Write(data, size); })) return;
        service.Answer(req, res, [&](const Branch& caller, ExchangeRecord& record, httplib::Response& answer) {
            list->Close();
            answer.set_content(service.Save(caller, *spool / "list.json", record), kJson);
        });
    });
    server.Get("/v1/status", [&](const httplib::Request& req, httplib::Response& res) {
        // A person with a browser gets the same as a page.
        if (req.get_header_value("Accept").find("text/html") != std::string::npos) {
            service.Answer(req, res, [&](const Branch& caller, ExchangeRecord&, httplib::Response& answer) {
                answer.set_content(StatusPage(service.Status(caller)), "text/html; charset=utf-8");
            });
        } else {
            service.Answer(req, res, [&](const Branch& caller, ExchangeRecord&, httplib::Response& answer) {
                answer.set_content(host::ToJson(Variant(StatusDictionary(service.Status(caller))), -1), kJson);
            });
        }
    });
}

// Says on standard error (the service's journal) when the service's certificate ends within
// the days the administrator asked to be warned.
void WarnOfExpiry(const ServeOptions& options, const CertificateDates& own) {
    if (auto warning = ExpiryWarning("The service's certificate", options.cert, own, Clock::now(),
                                     options.expiry_warning_days)) {
        std::cerr << platform::ForTerminal("orbabt serve: warning: " + *warning) << std::endl;
    }
}

// The administration address, when asked for: health and metrics for the machine's monitors.
std::unique_ptr<AdminServer> StartAdmin(const ServeOptions& options, Service& service, const CertificateDates& own) {
    if (options.admin_listen.empty()) return nullptr;
    AdminCalls calls;
    calls.unhealthy = [&service, &options, own]() -> std::optional<std::string> {
        try {
            RequireInForce("The service's certificate", options.cert, own, Clock::now());
        } catch (const Error& e) {
            return e.Description();
        }
        return service.DatabaseUnusable(std::chrono::milliseconds(2000));
    };
    calls.branch = [&service] { return service.Own().number; };
    calls.certificate_days_left = [own] { return DaysLeft(own, Clock::now()); };
    const std::vector<CertificateEnd> certificates{{"service", options.cert, own.not_after}};
    calls.metrics = [&service, certificates] { return service.Metrics().Text(service.KeptReceipts(), certificates); };
    calls.status = [&service, certificates](bool json, bool chinese) {
        const AdminStatus status = service.AdminView(certificates);
        return json ? AdminStatusJson(status) : AdminStatusPage(status, chinese);
    };
    auto admin = std::make_unique<AdminServer>(options.admin_listen, std::move(calls));
    std::cout << fmt::format("Administration on http://{}:{} (/v1/health, /metrics, /v1/status)\n", admin->Host(), admin->Port())
              << std::flush;
    return admin;
}

}  // namespace

int RunServe(const ServeOptions& options) {
    RequirePrivateKey(options.key, options.allow_shared_key);
    const auto [host, port] = HostAndPort(options.listen);
    Service service(options);
    // SIGTERM and SIGINT are taken by one thread, which stops the server; the threads that
    // answer requests never see them, so the exchange in hand finishes.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    // A client gone before its answer is written ends that answer, not the service.
    signal(SIGPIPE, SIG_IGN);

    const auto ctx = ServiceContext(options);
    const CertificateDates own_dates = ReadCertificateDates(options.cert, "The service's certificate");
    RequireInForce("The service's certificate", options.cert, own_dates, Clock::now());
    WarnOfExpiry(options, own_dates);
    RequirePinnedPeer(*ctx, service.Check());
    Router server;
    // A body whose length says it is over the limit is refused before it is read; one sent in
    // chunks, or compressed, is bounded as it is read (ReadBody). JSON answers go
    // gzip-compressed to a client that accepts it (the HTTP library does that).
    const uint64_t body_limit = options.max_input_mb << 20;
    server.set_payload_max_length(static_cast<size_t>(body_limit));
    AddRoutes(server, service, options.max_input_mb);

    // Handshakes and request heads get a short time of their own, whatever --timeout says: a
    // peer that needs longer for a few hundred bytes is not one to wait for.
    FrontLimits limits;
    limits.silence_s = options.timeout_s;
    limits.handshake_s = std::min(options.timeout_s, 10);
    limits.head_s = std::min(options.timeout_s, 10);
    limits.workers = static_cast<size_t>(options.max_connections);
    limits.body_limit = body_limit;
    HttpsFront front(*ctx, server, limits, ServiceRoutes());
    errno = 0;
    const int bound = front.Bind(host, port);
    if (bound < 0) {
        const int error = errno;
        std::string why;
        if (error == EADDRINUSE) {
            why = ": the port is in use (another service, or another program, listens on it)";
        } else if (error != 0) {
            why = fmt::format(": {}", std::strerror(error));
        }
        throw Error(ErrorCode::kIoError, fmt::format("The service cannot listen on {}:{}{}", host, port, why));
    }
    // The same thread warns once a day while the certificate's end draws near.
    std::thread stopper([&] {
        const timespec one_day{24 * 60 * 60, 0};
        while (sigtimedwait(&stop_signals, nullptr, &one_day) < 0) {
            if (errno == EAGAIN) WarnOfExpiry(options, own_dates);
        }
        front.Stop();
    });
    std::cout << fmt::format("Serving branch {} ({}) on https://{}:{}\n", service.Own().number, service.Own().name,
                             host, bound)
              << std::flush;
    const std::unique_ptr<AdminServer> admin = StartAdmin(options, service, own_dates);
    const bool ok = front.Run();
    // Serving ended by itself (not by a signal): the stopper is woken to end too.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    std::cout << "Stopped.\n";
    return ok ? 0 : 1;
}

void AddServeCommand(CLI::App& app, CommandContext& context) {
    auto serve = std::make_shared<ServeOptions>();
    auto* command = app.add_subcommand("serve", "Answer the related branches over HTTPS (pinned certificates)");
    command->add_option("--db", serve->db, "Account database of this branch")->required();
    command->add_option("--listen", serve->listen, "HOST:PORT to listen on (port 0: any free port)")
        ->capture_default_str();
    command->add_option("--cert", serve->cert, "This branch's certificate (PEM)")->required();
    command->add_option("--key", serve->key, "This branch's private key (PEM)")->required();
    AddAllowSharedKeyFlag(*command, serve->allow_shared_key);
    command->add_option("--peers", serve->peers, "The peers file: each related branch and its certificate")
        ->required();
    command->add_option("--max-connections", serve->max_connections, "Requests answered at once")
        ->check(CLI::Range(1, 1024))
        ->capture_default_str();
    command->add_option("--timeout", serve->timeout_s, "Seconds a client may be silent before it is dropped")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    command->add_option("--admin-listen", serve->admin_listen,
                        "[HOST:]PORT for the machine's monitors, plain HTTP (host 127.0.0.1 when left out): "
                        "GET /v1/health, GET /metrics and GET /v1/status (every related branch)");
    command->add_option("--expiry-warning-days", serve->expiry_warning_days,
                        "Days before this branch's certificate ends from which the service warns, once a day")
        ->check(CLI::Range(1, 3650))
        ->capture_default_str();
    context.AddTraceOption(*command);
    context.AddInputLimitOption(*command);
    command->callback([&context, serve] {
        serve->max_input_mb = context.MaxInputMb();
        context.Choose([serve] { return RunServe(*serve); }, {{"the account database", serve->db}});
    });
}

}  // namespace orba::apps::net
