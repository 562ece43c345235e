#include "apps/orbabt/net/client.h"

#include <fmt/format.h>
#include <httplib.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "apps/orbabt/host_setup.h"
#include "apps/orbabt/net/spool.h"
#include "exchange/gzip.h"
#include "exchange/input_file.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::Error;
using platform::ErrorCode;

namespace {

struct Address {
    std::string host;
    int port = 443;
};

Address ServiceAddress(const std::string& url) {
    constexpr std::string_view kScheme = "https://";
    std::string_view rest(url);
    if (!rest.starts_with(kScheme)) {
        throw Error(ErrorCode::kBadInput, fmt::format("'{}' is not an https:// address of a branch's service", url));
    }
    rest.remove_prefix(kScheme.size());
    if (rest.ends_with('/')) rest.remove_suffix(1);
    Address address{std::string(rest), 443};
    if (const size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
        address.host = std::string(rest.substr(0, colon));
        const std::string_view digits = rest.substr(colon + 1);
        auto [at, error] = std::from_chars(digits.data(), digits.data() + digits.size(), address.port);
        if (error != std::errc() || at != digits.data() + digits.size() || address.port <= 0 || address.port > 65535) {
            throw Error(ErrorCode::kBadInput, fmt::format("'{}' names no port from 1 to 65535", url));
        }
    }
    if (address.host.empty() || address.host.find('/') != std::string::npos) {
        throw Error(ErrorCode::kBadInput, fmt::format("'{}' is not https://HOST:PORT", url));
    }
    return address;
}

}  // namespace

namespace {

// How much of an answer is taken: the text it holds (inflated), in MB, and the option that
// sets it, for messages.
struct AnswerLimit {
    uint64_t mb;
    const char* option;
    uint64_t Bytes() const { return mb << 20; }
    // What may come over the wire for that text: a plain answer is the text, a compressed one
    // less; the rest is room for the header lines, the chunks' framing and TLS's own records.
    uint64_t WireBytes() const { return Bytes() + Bytes() / 16 + (1u << 20); }
};

// The service's own words (an error it answered) in a message: control characters escaped,
// so that it can neither forge lines nor drive the terminal, and cut short.
std::string ServiceText(std::string_view text) {
    constexpr size_t kShown = 2000;
    std::string shown = platform::EscapeControls(text.substr(0, kShown));
    if (text.size() > kShown) {
        // Not in the middle of a character.
        while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80) shown.pop_back();
        if (!shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xC0) shown.pop_back();
        shown += "...";
    }
    return shown;
}

}  // namespace

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

std::vector<Peer> ClientPeers(const ClientOptions& options) {
    if (!options.peer_cert.empty()) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("--peer-cert {} names a certificate but not whose it is: name the related branch "
                                "with its service's certificate, --peer BRANCH={} (BRANCH as in t_SonCompany.FNumber, "
                                "e.g. --peer 01.001={}), or give the peers file, --peers FILE",
                                options.peer_cert, options.peer_cert, options.peer_cert));
    }
    if (!options.peer.empty() && !options.peers_file.empty()) {
        throw Error(ErrorCode::kBadInput, "Give either --peer BRANCH=CERTIFICATE or --peers FILE, not both");
    }
    if (!options.peers_file.empty()) return ReadPeersFile(options.peers_file);
    if (options.peer.empty()) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("Say which related branch's service {} is: --peer BRANCH=CERTIFICATE (e.g. --peer "
                                "01.001=a.pem, or --peer 01.001=sha256:<hex>), or --peers FILE",
                                options.url.empty() ? std::string("the service") : options.url));
    }
    return {ParsePeer(options.peer, std::filesystem::current_path(), "--peer")};
}

ServiceClient::ServiceClient(const ClientOptions& options)
    : url_(options.url), peers_(ClientPeers(options)), retries_(options.retries),
      retry_wait_s_(options.retry_wait_s), deadline_s_(options.deadline_s), max_list_mb_(options.max_list_mb),
      guard_(std::make_unique<Guard>()) {
    if (deadline_s_ <= 0 || max_list_mb_ == 0) {
        throw Error(ErrorCode::kBadInput, "The deadline and the largest list taken must be more than 0");
    }
    const Address address = ServiceAddress(options.url);
    RequirePrivateKey(options.key, options.allow_shared_key);
    check_.pins = PinsOf(peers_);
    check_.accepted = &shown_;
    if (check_.pins.size() == 1) shown_ = check_.pins.begin()->first;
    client_ = std::make_unique<httplib::SSLClient>(address.host, address.port, options.cert, options.key);
    if (!client_->is_valid()) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("This branch's certificate '{}' and key '{}' cannot be used (missing, unreadable, or "
                                "not a pair)",
                                options.cert, options.key));
    }
    // The service is known by its pinned certificate, not by a certificate authority.
    client_->enable_server_certificate_verification(false);
    RequirePinnedPeer(*client_->ssl_context(), check_);
    client_->set_connection_timeout(options.timeout_s);
    client_->set_read_timeout(options.timeout_s);
    client_->set_write_timeout(options.timeout_s);
    // Each answer is counted as TLS reads it, and the deadline's thread learns from TLS which
    // connection to cut.
    SSL_CTX_set_msg_callback(client_->ssl_context(), &Guard::OnRecord);
    SSL_CTX_set_msg_callback_arg(client_->ssl_context(), guard_.get());
}

ServiceClient::~ServiceClient() = default;

void ServiceClient::OnlyBranch(const std::string& branch, std::string_view what) {
    std::erase_if(check_.pins, [&](const auto& pin) { return pin.second != branch; });
    if (check_.pins.empty()) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} is addressed to branch {}, but no certificate of that branch is pinned for {} "
                                "(--peer, --peers)",
                                what, branch, url_));
    }
    if (check_.pins.size() == 1) shown_ = check_.pins.begin()->first;
    // A connection made with another certificate is not used again.
    if (!check_.pins.count(shown_)) {
        shown_.clear();
        client_->stop();
    }
}

std::string ServiceClient::PeerBranch() const {
    const auto pin = check_.pins.find(shown_);
    return pin == check_.pins.end() ? std::string() : pin->second;
}

std::string ServiceClient::Post(const std::string& path, const std::string& body) {
    return Send("POST", path, &body, nullptr, nullptr);
}

void ServiceClient::PostToFile(const std::string& path, const std::string& body, const std::filesystem::path& answer) {
    Send("POST", path, &body, nullptr, &answer);
}

std::string ServiceClient::PostFile(const std::string& path, const std::filesystem::path& body) {
    return Send("POST", path, nullptr, &body, nullptr);
}

std::string ServiceClient::Get(const std::string& path) { return Send("GET", path, nullptr, nullptr, nullptr); }

std::string ServiceClient::Send(const char* method, const std::string& path, const std::string* body,
                                const std::filesystem::path* body_file, const std::filesystem::path* answer_file) {
    // A list is held to its own limit; every other answer, and a refusal, to the input limit.
    const AnswerLimit small{InputLimitMb(), "--max-input-mb"};
    const AnswerLimit list{max_list_mb_, "--max-list-mb"};
    // What is sent goes gzip-compressed: every service of this program takes that. One that
    // answers 415 (it cannot read the encoding) gets the plain text instead, from then on.
    std::string packed = compress_ && body ? GzipText(*body) : std::string();
    // A file is sent in chunks as it is read (and compressed), each try from its start.
    std::optional<Error> not_read;
    const auto provide = [&](httplib::Request& request) {
        request.body.clear();
        auto input = std::make_shared<InputFile>(*body_file, false);
        auto gzip = compress_ ? std::make_shared<GzipPieces>() : nullptr;
        request.content_provider_ = [input, gzip, &not_read](size_t, size_t, httplib::DataSink& sink) {
            std::vector<char> text(1 << 16);
            size_t n = 0;
            try {
                n = input->Read(text.data(), text.size());
                if (gzip) {
                    const std::string packed_piece = gzip->Add(text.data(), n, n == 0);
                    if (!packed_piece.empty() && !sink.write(packed_piece.data(), packed_piece.size())) return false;
                } else if (n > 0 && !sink.write(text.data(), n)) {
                    return false;
                }
            } catch (const Error& e) {
                not_read = e;
                return false;
            }
            if (n == 0) sink.done();
            return true;
        };
        request.is_chunked_content_provider_ = true;
        request.set_header("Transfer-Encoding", "chunked");
    };
    // The answer of one try: a list goes to the file as it arrives; other answers, and the
    // text of a refusal, are kept (a refusal of a list only in part, for its message).
    std::optional<SpoolFile> answer;
    std::string text;
    uint64_t taken = 0;  // bytes of text the answer held so far, once inflated
    bool to_file = false;
    const AnswerLimit* passed = nullptr;  // the limit the answer's text passed
    // The limit the wire is held to: a list's until the status line says it is no list.
    const AnswerLimit* wire_limit = &small;
    std::optional<Error> not_written;
    const auto too_large = [&](const AnswerLimit& limit, bool on_wire) {
        return Error(ErrorCode::kIoError,
                     fmt::format("The answer of the service {} to {} is larger than {} MB, the {} of this command{}: "
                                 "it was refused as soon as it passed that, and nothing of it was kept. Raise {} if "
                                 "the service is meant to answer this much",
                                 url_, path, limit.mb, limit.option, on_wire ? " (counted as it came over the wire)" : "",
                                 limit.option));
    };
    const auto send = [&](httplib::Request& request) {
        if (answer_file) answer.emplace(*answer_file);
        text.clear();
        taken = 0;
        to_file = false;
        passed = nullptr;
        wire_limit = answer_file ? &list : &small;
        guard_->NewTry(wire_limit->WireBytes());
        httplib::Result result = client_->send(request);
        if (not_written) throw *not_written;
        if (not_read) throw *not_read;
        if (passed) throw too_large(*passed, false);
        if (guard_->wire_over) throw too_large(*wire_limit, true);
        if (!result && guard_->DeadlinePassed()) {
            throw Error(ErrorCode::kIoError,
                        fmt::format("The service {} did not answer {} within {} s, the --deadline of this command: "
                                    "the request was given up at its deadline ({}). Raise --deadline if the "
                                    "service is meant to take this long",
                                    url_, path, deadline_s_, httplib::to_string(result.error())));
        }
        if (result) {
            if (to_file) answer->Close();
            result->body = std::move(text);
        }
        return result;
    };
    guard_->Arm(deadline_s_);
    struct Disarm {
        Guard& guard;
        ~Disarm() { guard.Disarm(); }
    } disarm{*guard_};
    return Answer(path, [&] {
        httplib::Request request;
        request.method = method;
        request.path = path;
        request.set_header("Accept-Encoding", "gzip");
        const bool has_body = body || body_file;
        if (has_body) {
            request.set_header("Content-Type", "application/json");
            if (compress_) request.set_header("Content-Encoding", "gzip");
        }
        if (body_file) {
            provide(request);
        } else if (body) {
            request.body = compress_ ? packed : *body;
        }
        if (ProgressVisible()) {
            // A long answer (a list of many bills) shows how far it has come.
            request.progress = [shown = uint64_t{0}](uint64_t current, uint64_t total) mutable {
                constexpr uint64_t kMb = 1u << 20;
                if (total >= 4 * kMb && (current - shown >= kMb || current == total)) {
                    shown = current;
                    std::cerr << fmt::format("\r  received {:.1f} of {:.1f} MB", double(current) / kMb,
                                             double(total) / kMb)
                              << (current == total ? "\n" : "") << std::flush;
                }
                return true;
            };
        }
        request.response_handler = [&](const httplib::Response& response) {
            to_file = answer_file && response.status == 200;
            // A refusal is held to the smaller limit from its first byte.
            if (!to_file) {
                wire_limit = &small;
                guard_->wire_limit = small.WireBytes();
            }
            return true;
        };
        // The text as it arrives, inflated already when it came compressed: counted here, and
        // refused as soon as it passes its limit, whatever the wire carried.
        request.content_receiver = [&](const char* data, size_t size, uint64_t, uint64_t) {
            const AnswerLimit& limit = to_file ? list : small;
            taken += size;
            if (taken > limit.Bytes()) {
                passed = &limit;
                return false;
            }
            if (!to_file) {
                constexpr size_t kRefusalKept = 64 << 10;
                const size_t room = answer_file ? kRefusalKept - std::min(kRefusalKept, text.size()) : size;
                text.append(data, std::min(size, room));
                return true;
            }
            try {
                answer->Write(data, size);
            } catch (const Error& e) {
                not_written = e;
                return false;
            }
            return true;
        };
        httplib::Result result = send(request);
        if (compress_ && has_body && result && result->status == 415) {
            compress_ = false;
            request.headers.erase("Content-Encoding");
            if (body_file) {
                provide(request);
            } else {
                request.body = *body;
            }
            result = send(request);
        }
        return result;
    });
}

std::string ServiceClient::Answer(const std::string& path, const std::function<httplib::Result()>& send) {
    httplib::Result result = send();
    double wait_s = retry_wait_s_;
    for (int retry = 1; !result && retry <= retries_; ++retry, wait_s *= 2) {
        // No try is begun that could not end before the deadline.
        const auto wait = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(wait_s));
        if (std::chrono::steady_clock::now() + wait >= guard_->Deadline()) {
            throw Error(ErrorCode::kIoError,
                        fmt::format("The service {} did not answer {} ({}), and its next try would have begun after "
                                    "{} s, the --deadline of this command: no more tries were made ({} of {} "
                                    "retries made). Raise --deadline if the service is meant to take this long",
                                    url_, path, httplib::to_string(result.error()), deadline_s_, retry - 1,
                                    retries_));
        }
        std::cerr << fmt::format("orbabt: {} gave no answer to {} ({}); trying again in {:g} s ({} of {})\n", url_,
                                 path, httplib::to_string(result.error()), wait_s, retry, retries_)
                  << std::flush;
        std::this_thread::sleep_for(wait);
        result = send();
    }
    if (!result) {
        throw Error(ErrorCode::kIoError,
                    fmt::format("The service {} did not answer {}: {} (is it running, does it pin this branch's "
                                "certificate, and is its certificate the one --peer or --peers pins?)",
                                url_, path, httplib::to_string(result.error())));
    }
    if (result->status != 200) {
        std::string message = result->body;
        try {
            auto answer = platform::ObjectAs<host::VariantDictionary>(host::FromJson(result->body));
            if (answer && answer->Find("error")) message = answer->Value("error").ToText();
        } catch (const Error&) {
            // Not the service's JSON: its text is shown as it came.
        }
        message = ServiceText(message);
        if (result->status == 413) {
            message = "what was sent is larger than the service takes (its --max-input-mb); send fewer bills at "
                      "a time, or have the service's limit raised";
        }
        // A failure of the service itself (its database locked or down) may pass; a refusal
        // of what was sent will not.
        throw Error(result->status >= 500 ? ErrorCode::kIoError : ErrorCode::kBadInput,
                    fmt::format("The service {} refused {} ({}): {}", url_, path, result->status, message));
    }
    return result->body;
}

}  // namespace orba::apps::net
