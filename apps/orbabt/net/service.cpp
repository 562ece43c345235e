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
#include "exchange/steps.h"
#include "apps/orbabt/host_setup.h"
#include "exchange/mark.h"
#include "apps/orbabt/net/exchange_log.h"
#include "apps/orbabt/net/https_front.h"
#include "apps/orbabt/net/request_body.h"
#include "apps/orbabt/net/peers.h"
#include "apps/orbabt/net/spool.h"
#include "apps/orbabt/net/status.h"
#include "data/bill_types.h"
#include "exchange/safe_file.h"
#include "exchange/transport.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "host/variant_vector.h"
#include "hostkit/db/database.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
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

void LogRefused(const std::string& fingerprint, const std::string& why) {
    std::cerr << fmt::format("orbabt serve: refused a client: {} (certificate sha256:{})\n", why, fingerprint)
              << std::flush;
}

// One branch's service: its database, its peers, and the one exchange that runs at a time.
class Service {
public:
    Service(const ServeOptions& options)
        : db_(UseBranchDatabase(options.db)),
          own_(OwnBranch(*db_)),
          peers_(ReadPeersFile(options.peers)),
          folder_(ExchangeFolderOf(*db_)) {
        check_.pins = PinsOf(peers_);
        check_.on_refused = &LogRefused;
        for (const Peer& peer : peers_) {
            auto rows = db_->Query("SELECT FName FROM t_SonCompany WHERE FNumber=?", {Variant(peer.branch)});
            if (rows->Eof() || peer.branch == own_.number) {
                throw Error(ErrorCode::kBadInput,
                            fmt::format("The peers file '{}' names branch {}, which is not a related branch of {} "
                                        "in the account {}",
                                        options.peers, peer.branch, own_.number, db_->Name()));
            }
            names_[peer.branch] = rows->Value(0).ToText();
        }
        last_exchange_ = LastExchanges(own_.number, folder_);
    }

    const Branch& Own() const { return own_; }
    const PinCheck& Check() const { return check_; }

    // Runs `answer` for the branch whose certificate `req` came with, one exchange at a time;
    // it puts its answer into `res`, and its failures become a JSON error a person can act on.
    void Answer(const httplib::Request& req, httplib::Response& res,
                const std::function<void(const Branch& caller, ExchangeRecord& record, httplib::Response& res)>& answer) {
        const std::string number = PinnedPeer(req.ssl, check_.pins);
        if (number.empty()) {
            res.status = 403;
            res.set_content(ErrorJson("The client's certificate is not one of this branch's peers"), kJson);
            return;
        }
        std::lock_guard<std::mutex> one_at_a_time(exchange_);
        ExchangeRecord record;
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

    // A download request: every requested bill addressed to the caller and not yet sent,
    // written to a file as the bills are extracted, so that the list is never held whole. The
    // file is given open, its folder already gone: it ends when the answer has been sent, or
    // when the service does.
    std::shared_ptr<FILE> Package(const Branch& caller, const std::string& body, ExchangeRecord& record) {
        record.direction = "served request";
        RequestFile request = ReadRequestFile(body, fmt::format("the download request of branch {}", caller.number));
        // A type this branch does not know gets no empty package of that type: the caller is told.
        for (int32_t i = 1; i <= request.requests->UpperBound(); ++i) {
            const auto item = platform::ObjectAs<host::VariantDictionary>(request.requests->Item(i));
            const int64_t bill_type = item && item->Find("BillType") ? item->Value("BillType").ToLong() : 0;
            if (!IsKnownBillType(static_cast<int32_t>(bill_type))) {
                throw Error(ErrorCode::kBadInput,
                            fmt::format("The download request of branch {} asks for bill type {}, which this "
                                        "service does not send ({})",
                                        caller.number, bill_type, data::BillTypeCodesText()));
            }
        }
        const SpoolFolder spool;
        const std::filesystem::path path = spool / "list.json";
        const std::vector<PackageCount> counts =
            PackageToFile(*db_, request.requests, ListFile{own_, caller, platform::Date::Now(), {}}, path);
        record.list_sha256 = Sha256OfFile(path);
        std::shared_ptr<FILE> list(std::fopen(path.c_str(), "rb"), &std::fclose);
        if (!list) {
            throw Error(ErrorCode::kIoError, fmt::format("The list made for branch {} cannot be read back: {}",
                                                         caller.number, std::strerror(errno)));
        }
        for (const PackageCount& c : counts) record.counts[c.bill_type].sent += c.own_bills;
        return list;
    }

    // A receipt of the caller for a list made here: marks what it proves, as orbabt mark does.
    std::string Mark(const Branch& caller, const std::string& body, ExchangeRecord& record) {
        record.direction = "served receipt";
        const std::string name = fmt::format("the receipt of branch {}", caller.number);
        ReceiptFile receipt = ReadReceiptFile(body, name);
        record.list_sha256 = receipt.list_sha256;
        CountReceipt(receipt, record);
        if (receipt.sender.number != caller.number) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("{} says it was written by branch {}; a branch sends its own receipts only",
                                    name, receipt.sender.number));
        }
        RequireBranch(receipt.receiver, own_, name, "receiver", *db_);
        RequireBranch(receipt.list_sender, own_, name, "answered list's sender", *db_);
        const MarkResult result = MarkAcknowledged(*db_, receipt, name, own_);
        // Per bill type, what this receipt marked, and what it acknowledges that was marked
        // already (the same receipt delivered again).
        const auto per_type = [](const std::vector<std::pair<int32_t, int>>& counts) {
            auto dictionary = MakeRef<host::VariantDictionary>();
            for (const auto& [bill_type, count] : counts) {
                const std::string key = std::to_string(bill_type);
                const Variant* before = dictionary->Find(key);
                dictionary->Let(key, Variant(int32_t(count + (before ? before->ToLong() : 0))));
            }
            return dictionary;
        };
        for (const auto& [bill_type, count] : result.marked) record.counts[bill_type].marked += count;
        auto answer = MakeRef<host::VariantDictionary>();
        answer->Let("ok", Variant(result.ok));
        answer->Let("changed", Variant(int32_t(result.changed)));
        answer->Let("superseded", Variant(int32_t(result.superseded)));
        answer->Set("marked", per_type(result.marked));
        answer->Set("already", per_type(result.already));
        return host::ToJson(Variant(answer), -1);
    }

    // A list the caller chose to send, kept in the file `body`: saved here as unpackage saves
    // one, reading the file in pieces, and answered with the receipt.
    std::string Save(const Branch& caller, const std::filesystem::path& body, ExchangeRecord& record) {
        record.direction = "served list";
        const std::string name = fmt::format("the list of branch {}", caller.number);
        // The reader takes the SHA-256 as it checks the file; a file it refuses is hashed for
        // the log alone.
        std::optional<ListFileReader> opened;
        try {
            opened.emplace(body, ListFileReader::BillObserver{}, name);
        } catch (...) {
            record.list_sha256 = Sha256OfFile(body);
            throw;
        }
        ListFileReader& reader = *opened;
        record.list_sha256 = reader.Sha256();
        const ListFile& file = reader.Header();
        if (file.sender.number != caller.number) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("{} says it was made by branch {}; a branch sends its own lists only", name,
                                    file.sender.number));
        }
        RequireBranch(file.receiver, own_, name, "receiver", *db_);
        const UnpackageResult saved = Unpackage(*db_, reader);
        const ReceiptFile receipt = ReceiptFor(own_, file, record.list_sha256, saved.packages);
        CountReceipt(receipt, record);
        return WriteReceiptFile(receipt);
    }

    // How this branch stands with `caller`: its row alone. The other branches' certificates,
    // bills and exchanges are theirs; the whole table is for this branch's administrators
    // (orbabt status --db).
    BranchStatus Status(const Branch& caller) {
        return BranchStatus{own_, {PeerStatusOf(*db_, caller, peers_, last_exchange_)}};
    }

    // Remembers when `branch` last exchanged bills here.
    void Exchanged(const std::string& branch) { last_exchange_[branch] = platform::Date::Now().ToString(); }

private:
    std::unique_ptr<hostkit::Database> db_;
    Branch own_;
    std::vector<Peer> peers_;
    std::filesystem::path folder_;  // this database's exchange log
    std::map<std::string, std::string> names_;
    std::map<std::string, std::string> last_exchange_;
    PinCheck check_;
    std::mutex exchange_;
};

}  // namespace

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

// What the service answers at each of its paths.
void AddRoutes(Router& server, Service& service) {
    server.Post("/v1/requests", [&](const httplib::Request& req, httplib::Response& res,
                                const httplib::ContentReader& reader) {
        const std::optional<std::string> body = ReadBody(req, res, reader);
        if (!body) return;
        service.Answer(req, res, [&](const Branch& caller, ExchangeRecord& record, httplib::Response& answer) {
            AnswerWithFile(answer, service.Package(caller, *body, record));
        });
    });
    server.Post("/v1/receipts", [&](const httplib::Request& req, httplib::Response& res,
                                const httplib::ContentReader& reader) {
        const std::optional<std::string> body = ReadBody(req, res, reader);
        if (!body) return;
        service.Answer(req, res, [&](const Branch& caller, ExchangeRecord& record, httplib::Response& answer) {
            answer.set_content(service.Mark(caller, *body, record), kJson);
        });
    });
    server.Post("/v1/lists", [&](const httplib::Request& req, httplib::Response& res,
                                const httplib::ContentReader& reader) {
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
    RequirePinnedPeer(*ctx, service.Check());
    Router server;
    // A body whose length says it is over the limit is refused before it is read; one sent in
    // chunks, or compressed, is bounded as it is read (ReadBody). JSON answers go
    // gzip-compressed to a client that accepts it (the HTTP library does that).
    const uint64_t body_limit = InputLimitMb() << 20;
    server.set_payload_max_length(static_cast<size_t>(body_limit));
    AddRoutes(server, service);

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
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stop_signals, &signal);
        front.Stop();
    });
    std::cout << fmt::format("Serving branch {} ({}) on https://{}:{}\n", service.Own().number, service.Own().name,
                             host, bound)
              << std::flush;
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
    context.AddTraceOption(*command);
    context.AddInputLimitOption(*command);
    command->callback([&context, serve] {
        context.Choose([serve] { return RunServe(*serve); }, {{"the account database", serve->db}});
    });
}

}  // namespace orba::apps::net
