// The requests the service answers: their paths, and the reading of their bodies, bounded by
// the input limit as the text they hold, however they came (compressed, chunked), and refused
// with an answer a person can act on.
#pragma once

#include <httplib.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/orbabt/net/https_front.h"

namespace orba::apps::net {

// The paths the service answers, each with the methods it takes there.
std::vector<Route> ServiceRoutes();

// {"error": message}, the body of every refusal.
std::string ErrorJson(std::string_view message);

// The body of a POST as the text it holds, handed to `take` piece by piece as it is read:
// the HTTP library inflates a gzip-compressed body as it reads it. The input limit bounds
// that text, not only what came over the wire, so a small compressed body that would inflate
// to gigabytes is refused as soon as its text passes the limit, with the answer a body over
// the limit gets. False when refused; `res` then holds the refusal.
bool ReadBody(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader,
              const std::function<void(const char* data, size_t size)>& take);

// A small body (a request, a receipt) whole.
std::optional<std::string> ReadBody(const httplib::Request& req, httplib::Response& res,
                                    const httplib::ContentReader& reader);

}  // namespace orba::apps::net
