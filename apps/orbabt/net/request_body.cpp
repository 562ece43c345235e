#include "apps/orbabt/net/request_body.h"

#include <fmt/format.h>

#include <iostream>

#include "exchange/input_file.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using namespace orba::exchange;

using platform::Error;
using platform::MakeRef;
using platform::Variant;

namespace {
constexpr const char* kJson = "application/json";
}  // namespace

std::vector<Route> ServiceRoutes() {
    return {{"/v1/requests", {"POST"}}, {"/v1/receipts", {"POST"}}, {"/v1/lists", {"POST"}}, {"/v1/status", {"GET"}}};
}

std::string ErrorJson(std::string_view message) {
    auto body = MakeRef<host::VariantDictionary>();
    body->Let("error", Variant(std::string(message)));
    return host::ToJson(Variant(body), -1);
}

bool ReadBody(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader,
              const std::function<void(const char* data, size_t size)>& take) {
    const size_t limit = static_cast<size_t>(InputLimitMb()) << 20;
    // A body over the limit is still read, and let go, for a while: a client that sends it
    // in one piece reads the answer only once it has sent everything, and would otherwise
    // see the connection cut instead of the refusal and its reason.
    constexpr size_t kDrained = size_t{64} << 20;
    size_t taken = 0;
    size_t drained = 0;
    bool too_large = false;
    std::optional<Error> not_kept;
    const bool read = !req.is_multipart_form_data() && reader([&](const char* data, size_t size) {
        if (too_large || size > limit - taken) {
            too_large = true;
            drained += size;
            return drained <= kDrained;
        }
        taken += size;
        try {
            take(data, size);
        } catch (const Error& e) {
            not_kept = e;
            return false;
        }
        return true;
    });
    if (read && !too_large) return true;
    std::string why;
    if (not_kept) {
        res.status = 500;
        why = "the request could not be kept for reading: " + not_kept->Description();
    } else if (too_large || res.status == 413) {
        res.status = 413;
        why = fmt::format("the request is larger than this service takes ({} MB, its --max-input-mb)", InputLimitMb());
    } else if (res.status == 415 || req.is_multipart_form_data()) {
        res.status = 415;
        why = "the request's Content-Encoding or Content-Type is not one this service reads (JSON, plain or gzip)";
    } else {
        res.status = 400;
        why = "the request's body could not be read (cut off, or not the gzip it says it is)";
    }
    res.set_content(ErrorJson(why), kJson);
    // Anything left of the body is not read: the connection ends with this answer.
    res.set_header("Connection", "close");
    std::cerr << platform::ForTerminal(fmt::format("orbabt serve: {} {}: refused: {}\n", req.method, req.path, why))
              << std::flush;
    return false;
}

std::optional<std::string> ReadBody(const httplib::Request& req, httplib::Response& res,
                                    const httplib::ContentReader& reader) {
    std::string body;
    if (!ReadBody(req, res, reader, [&](const char* data, size_t size) { body.append(data, size); })) {
        return std::nullopt;
    }
    return body;
}

}  // namespace orba::apps::net
