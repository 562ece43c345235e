#include "apps/orbabt/net/client.h"

#include <fmt/format.h>
#include <httplib.h>

#include <charconv>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "apps/orbabt/host_setup.h"
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

ServiceClient::ServiceClient(const ClientOptions& options)
    : url_(options.url), retries_(options.retries), retry_wait_s_(options.retry_wait_s) {
    const Address address = ServiceAddress(options.url);
    check_.pins.emplace(PinnedFingerprint(options.peer_cert, std::filesystem::current_path(), "--peer-cert"),
                        options.url);
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

std::string ServiceClient::Post(const std::string& path, const std::string& body) {
    // What is sent goes gzip-compressed: every service of this program takes that. One that
    // answers 415 (it cannot read the encoding) gets the plain text instead, from then on.
    std::string packed = compress_ ? GzipText(body) : std::string();
    return Answer(path, [&] {
        httplib::Request request;
        request.method = "POST";
        request.path = path;
        request.set_header("Content-Type", "application/json");
        request.set_header("Accept-Encoding", "gzip");
        if (compress_) {
            request.body = packed;
            request.set_header("Content-Encoding", "gzip");
        } else {
            request.body = body;
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
        httplib::Result result = client_->send(request);
        if (compress_ && result && result->status == 415) {
            compress_ = false;
            request.headers.erase("Content-Encoding");
            request.body = body;
            result = client_->send(request);
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
                                "certificate, and is its certificate the one --peer-cert names?)",
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
