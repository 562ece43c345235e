#include "apps/orbabt/net/client.h"

#include <fmt/format.h>
#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <filesystem>
#include <iostream>
#include <thread>

#include "apps/orbabt/host_setup.h"
#include "apps/orbabt/net/answer_text.h"
#include "apps/orbabt/net/client_guard.h"
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

// One request to the service, and the answer of its current try: a list goes to the file as
// it arrives; other answers, and the text of a refusal, are kept (a refusal of a list only in
// part, for its message).
struct ServiceClient::Call {
    Call(const std::string& url, const std::string& path, bool has_body, const std::filesystem::path* answer_file,
         uint64_t list_mb)
        : url(url), path(path), has_body(has_body), answer_file(answer_file), list{list_mb, "--max-list-mb"} {}

    const std::string& url;
    const std::string& path;
    const bool has_body;
    std::string packed;  // a text body compressed, once for every try
    const std::filesystem::path* answer_file;
    // A list is held to its own limit; every other answer, and a refusal, to the input limit.
    const AnswerLimit small{InputLimitMb(), "--max-input-mb"};
    const AnswerLimit list;

    std::optional<SpoolFile> answer;
    std::string text;
    uint64_t taken = 0;  // bytes of text the answer held so far, once inflated
    bool to_file = false;
    const AnswerLimit* passed = nullptr;  // the limit the answer's text passed
    // The limit the wire is held to: a list's until the status line says it is no list.
    const AnswerLimit* wire_limit = &small;
    std::optional<Error> not_written;
    std::optional<Error> not_read;

    // Before each try: nothing of an answer yet.
    void NewTry() {
        if (answer_file) answer.emplace(*answer_file);
        text.clear();
        taken = 0;
        to_file = false;
        passed = nullptr;
        wire_limit = answer_file ? &list : &small;
    }

    // The status line has come: only a list's answer goes to the file, and a refusal is held to
    // the smaller limit from its first byte.
    void Head(int status, Guard& guard) {
        to_file = answer_file && status == 200;
        if (!to_file) {
            wire_limit = &small;
            guard.wire_limit = small.WireBytes();
        }
    }

    // The text as it arrives, inflated already when it came compressed: counted here, and
    // refused as soon as it passes its limit, whatever the wire carried.
    bool Take(const char* data, size_t size) {
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
    }

    Error TooLarge(const AnswerLimit& limit, bool on_wire) const {
        return Error(ErrorCode::kIoError,
                     fmt::format("The answer of the service {} to {} is larger than {} MB, the {} of this command{}: "
                                 "it was refused as soon as it passed that, and nothing of it was kept. Raise {} if "
                                 "the service is meant to answer this much",
                                 url, path, limit.mb, limit.option, on_wire ? " (counted as it came over the wire)" : "",
                                 limit.option));
    }
};

namespace {

constexpr const char* kJson = "application/json";

// Shows how far a long answer (a list of many bills) has come.
bool ShowProgress(uint64_t& shown, uint64_t current, uint64_t total) {
    constexpr uint64_t kMb = 1u << 20;
    if (total >= 4 * kMb && (current - shown >= kMb || current == total)) {
        shown = current;
        std::cerr << fmt::format("\r  received {:.1f} of {:.1f} MB", double(current) / kMb, double(total) / kMb)
                  << (current == total ? "\n" : "") << std::flush;
    }
    return true;
}

// What is sent goes gzip-compressed: every service of this program takes that.
httplib::Headers RequestHeaders(bool has_body, bool compress) {
    httplib::Headers headers{{"Accept-Encoding", "gzip"}};
    if (has_body && compress) headers.emplace("Content-Encoding", "gzip");
    return headers;
}

}  // namespace

std::string ServiceClient::Post(const std::string& path, const std::string& body) {
    Call call(url_, path, true, nullptr, max_list_mb_);
    return Send(call, [&] { return SendText("POST", call, &body); });
}

void ServiceClient::PostToFile(const std::string& path, const std::string& body, const std::filesystem::path& answer) {
    Call call(url_, path, true, &answer, max_list_mb_);
    Send(call, [&] { return SendText("POST", call, &body); });
}

std::string ServiceClient::PostFile(const std::string& path, const std::filesystem::path& body) {
    Call call(url_, path, true, nullptr, max_list_mb_);
    return Send(call, [&] { return SendFile(call, body); });
}

std::string ServiceClient::Get(const std::string& path) {
    Call call(url_, path, false, nullptr, max_list_mb_);
    return Send(call, [&] { return SendText("GET", call, nullptr); });
}

// A request whose body (if any) is a text: its answer is taken as it arrives.
httplib::Result ServiceClient::SendText(const char* method, Call& call, const std::string* body) {
    httplib::Request request;
    request.method = method;
    request.path = call.path;
    request.headers = RequestHeaders(body != nullptr, compress_);
    if (body) {
        request.set_header("Content-Type", kJson);
        if (compress_ && call.packed.empty()) call.packed = GzipText(*body);
        request.body = compress_ ? call.packed : *body;
    }
    if (ProgressVisible()) {
        request.progress = [shown = uint64_t{0}](uint64_t current, uint64_t total) mutable {
            return ShowProgress(shown, current, total);
        };
    }
    request.response_handler = [&](const httplib::Response& response) {
        call.Head(response.status, *guard_);
        return true;
    };
    request.content_receiver = [&](const char* data, size_t size, uint64_t, uint64_t) { return call.Take(data, size); };
    httplib::Result result = client_->send(request);
    if (result) result->body = std::move(call.text);
    return result;
}

// A request whose body is the text of a file, sent in chunks as it is read (and compressed),
// so that a long list is never held whole. The library's call for a streamed body takes no
// receiver of the answer, and would inflate a compressed answer without a bound: the answer (a
// receipt, or a refusal) is taken as it came, held to the wire limit, and inflated here under
// the input limit.
httplib::Result ServiceClient::SendFile(Call& call, const std::filesystem::path& body) {
    auto input = std::make_shared<InputFile>(body, false);
    auto gzip = compress_ ? std::make_shared<GzipPieces>() : nullptr;
    const auto provide = [input, gzip, &call](size_t, httplib::DataSink& sink) {
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
            call.not_read = e;
            return false;
        }
        if (n == 0) sink.done();
        return true;
    };
    client_->set_decompress(false);
    struct Inflating {
        httplib::SSLClient& client;
        ~Inflating() { client.set_decompress(true); }
    } inflating{*client_};
    httplib::Result result = client_->Post(call.path, RequestHeaders(true, compress_), provide, kJson);
    if (!result) return result;
    call.Head(result->status, *guard_);
    std::optional<std::string> text;
    try {
        text = AnswerText(std::move(result->body), result->get_header_value("Content-Encoding"), call.small.Bytes());
    } catch (const Error&) {
        // As the library takes an answer it cannot inflate: as none, which may be asked again.
        return httplib::Result(nullptr, httplib::Error::Read);
    }
    if (!text) {
        call.passed = &call.small;
        return result;
    }
    result->body = std::move(*text);
    return result;
}

// One try of `call` by `send`, with what went wrong in it raised.
httplib::Result ServiceClient::Try(Call& call, const std::function<httplib::Result()>& send) {
    call.NewTry();
    guard_->NewTry(call.wire_limit->WireBytes());
    httplib::Result result = send();
    if (call.not_written) throw *call.not_written;
    if (call.not_read) throw *call.not_read;
    if (call.passed) throw call.TooLarge(*call.passed, false);
    if (guard_->wire_over) throw call.TooLarge(*call.wire_limit, true);
    if (!result && guard_->DeadlinePassed()) {
        throw Error(ErrorCode::kIoError,
                    fmt::format("The service {} did not answer {} within {} s, the --deadline of this command: "
                                "the request was given up at its deadline ({}). Raise --deadline if the "
                                "service is meant to take this long",
                                url_, call.path, deadline_s_, httplib::to_string(result.error())));
    }
    if (result && call.to_file) call.answer->Close();
    return result;
}

std::string ServiceClient::Send(Call& call, const std::function<httplib::Result()>& send) {
    guard_->Arm(deadline_s_);
    struct Disarm {
        Guard& guard;
        ~Disarm() { guard.Disarm(); }
    } disarm{*guard_};
    return Answer(call.path, [&] {
        const bool compressed = compress_;
        httplib::Result result = Try(call, send);
        // A service that answers 415 cannot read the encoding: it gets the plain text instead,
        // from then on.
        if (compressed && call.has_body && result && result->status == 415) {
            compress_ = false;
            result = Try(call, send);
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
