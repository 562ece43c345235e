#include "apps/orbabt/net/client.h"

#include <fmt/format.h>
#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "apps/orbabt/host_setup.h"
#include "apps/orbabt/net/spool.h"
#include "apps/orbabt/safe_file.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "platform/error.h"

namespace orba::apps::net {

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
      retry_wait_s_(options.retry_wait_s) {
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
    return Send(path, &body, nullptr, nullptr);
}

void ServiceClient::PostToFile(const std::string& path, const std::string& body, const std::filesystem::path& answer) {
    Send(path, &body, nullptr, &answer);
}

std::string ServiceClient::PostFile(const std::string& path, const std::filesystem::path& body) {
    return Send(path, nullptr, &body, nullptr);
}

std::string ServiceClient::Send(const std::string& path, const std::string* body,
                                const std::filesystem::path* body_file, const std::filesystem::path* answer_file) {
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
    // An answer that goes to a file: the text of a refusal is kept for its message instead.
    std::optional<SpoolFile> answer;
    std::string refusal;
    bool accepted = false;
    std::optional<Error> not_written;
    const auto send = [&](httplib::Request& request) {
        if (answer_file) {
            answer.emplace(*answer_file);
            refusal.clear();
        }
        httplib::Result result = client_->send(request);
        if (not_written) throw *not_written;
        if (not_read) throw *not_read;
        if (result && answer_file) {
            if (accepted) {
                answer->Close();
            } else {
                result->body = std::move(refusal);
            }
        }
        return result;
    };
    return Answer(path, [&] {
        httplib::Request request;
        request.method = "POST";
        request.path = path;
        request.set_header("Content-Type", "application/json");
        request.set_header("Accept-Encoding", "gzip");
        if (compress_) request.set_header("Content-Encoding", "gzip");
        if (body_file) {
            provide(request);
        } else {
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
        if (answer_file) {
            request.response_handler = [&](const httplib::Response& response) {
                accepted = response.status == 200;
                return true;
            };
            request.content_receiver = [&](const char* data, size_t size, uint64_t, uint64_t) {
                constexpr size_t kRefusalKept = 64 << 10;
                if (!accepted) {
                    refusal.append(data, std::min(size, kRefusalKept - std::min(kRefusalKept, refusal.size())));
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
        }
        httplib::Result result = send(request);
        if (compress_ && result && result->status == 415) {
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

std::string ServiceClient::Get(const std::string& path) {
    return Answer(path, [&] { return client_->Get(path.c_str(), {{"Accept-Encoding", "gzip"}}); });
}

std::string ServiceClient::Answer(const std::string& path, const std::function<httplib::Result()>& send) {
    httplib::Result result = send();
    double wait_s = retry_wait_s_;
    for (int retry = 1; !result && retry <= retries_; ++retry, wait_s *= 2) {
        std::cerr << fmt::format("orbabt: {} gave no answer to {} ({}); trying again in {:g} s ({} of {})\n", url_,
                                 path, httplib::to_string(result.error()), wait_s, retry, retries_)
                  << std::flush;
        std::this_thread::sleep_for(std::chrono::duration<double>(wait_s));
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
