// The head of a request the service is sent (its first line and headers): read, and checked
// against the service's routes and limits before any worker is given the request, so that what
// the head alone refuses is answered at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orba::apps::net {

// A request's first line and headers, as the front reads them.
struct RequestHead {
    std::string method;
    std::string target;  // as sent, query included
    std::string path;    // without the query
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case

    // The values of every header named `name` (lower case), in order.
    std::vector<std::string> Values(std::string_view name) const;
};

// Parses a head up to and including its empty line; nullopt when it is not HTTP/1.x.
std::optional<RequestHead> ParseRequestHead(std::string_view text);

// A path this service answers and the methods it takes there.
struct Route {
    std::string path;
    std::vector<std::string> methods;
};

// An answer the front gives itself, without a worker.
struct EarlyAnswer {
    int status = 400;
    std::string why;    // for the client and the service's log
    std::string allow;  // the Allow header of a 405
};

// What the head of a request alone decides: a path no route has (404), a method its route does
// not take (405), a body without a length (411), a length that is no number or two lengths at
// odds (400), a length over `body_limit` bytes (413), a transfer coding other than chunked
// (501), an encoding other than one gzip layer (415). nullopt: the request goes on to a worker.
std::optional<EarlyAnswer> CheckRequestHead(const RequestHead& head, const std::vector<Route>& routes,
                                            uint64_t body_limit);

// The whole HTTP answer for `answer`, a JSON error the connection ends with.
std::string EarlyAnswerText(const EarlyAnswer& answer);

}  // namespace orba::apps::net
