#include "apps/orbabt/net/request_head.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace orba::apps::net {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool IsToken(std::string_view text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        if (c <= 32 || c >= 127 || std::strchr("\"(),/:;<=>?@[\\]{}", c)) return false;
    }
    return true;
}

// The comma-separated items of every `values`, trimmed and in lower case; empty items dropped.
std::vector<std::string> ListItems(const std::vector<std::string>& values) {
    std::vector<std::string> items;
    for (const std::string& value : values) {
        std::string_view rest(value);
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            const std::string_view item = Trim(rest.substr(0, comma));
            if (!item.empty()) items.push_back(Lower(item));
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    return items;
}

std::string_view Reason(int status) {
    switch (status) {
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 411: return "Length Required";
        case 413: return "Payload Too Large";
        case 415: return "Unsupported Media Type";
        case 431: return "Request Header Fields Too Large";
        case 501: return "Not Implemented";
        default: return "Error";
    }
}

std::string JsonText(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            out += fmt::format("\\u{:04x}", c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

std::vector<std::string> RequestHead::Values(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers) {
        if (key == name) values.push_back(value);
    }
    return values;
}

std::optional<RequestHead> ParseRequestHead(std::string_view text) {
    RequestHead head;
    size_t end = text.find("\r\n");
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, end);
    const size_t first = line.find(' ');
    const size_t last = line.rfind(' ');
    if (first == std::string_view::npos || first == last) return std::nullopt;
    head.method = std::string(line.substr(0, first));
    head.target = std::string(line.substr(first + 1, last - first - 1));
    head.version = std::string(line.substr(last + 1));
    if (!IsToken(head.method) || head.target.empty() || head.target.find(' ') != std::string::npos ||
        (head.version != "HTTP/1.1" && head.version != "HTTP/1.0")) {
        return std::nullopt;
    }
    head.path = head.target.substr(0, head.target.find('?'));
    for (size_t at = end + 2;;) {
        end = text.find("\r\n", at);
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view field = text.substr(at, end - at);
        if (field.empty()) break;
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos || !IsToken(field.substr(0, colon))) return std::nullopt;
        const std::string_view value = Trim(field.substr(colon + 1));
        for (unsigned char c : value) {
            if ((c < 0x20 && c != '\t') || c == 0x7f) return std::nullopt;
        }
        head.headers.emplace_back(Lower(field.substr(0, colon)), std::string(value));
        at = end + 2;
    }
    return head;
}

std::optional<EarlyAnswer> CheckRequestHead(const RequestHead& head, const std::vector<Route>& routes,
                                            uint64_t body_limit) {
    const auto route = std::find_if(routes.begin(), routes.end(), [&](const Route& r) { return r.path == head.path; });
    if (route == routes.end()) return EarlyAnswer{404, "this service has nothing at " + head.path, {}};
    std::vector<std::string> allowed = route->methods;
    if (std::find(allowed.begin(), allowed.end(), "GET") != allowed.end()) allowed.push_back("HEAD");
    if (std::find(allowed.begin(), allowed.end(), head.method) == allowed.end()) {
        std::string allow;
        for (const std::string& method : allowed) allow += (allow.empty() ? "" : ", ") + method;
        return EarlyAnswer{405, fmt::format("{} takes {} only", head.path, allow), allow};
    }
    const std::vector<std::string> codings = ListItems(head.Values("transfer-encoding"));
    const std::vector<std::string> lengths = head.Values("content-length");
    if (!codings.empty() && !lengths.empty()) {
        return EarlyAnswer{400, "the request gives both a Content-Length and a Transfer-Encoding", {}};
    }
    if (!codings.empty() && codings != std::vector<std::string>{"chunked"}) {
        return EarlyAnswer{501, "the request's Transfer-Encoding is not one this service reads (chunked)", {}};
    }
    std::optional<uint64_t> length;
    for (const std::string& text : ListItems(lengths)) {
        uint64_t value = 0;
        const bool number = !text.empty() && text.size() <= 18 &&
                            std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (number) value = std::stoull(text);
        if (!number || (length && *length != value)) {
            return EarlyAnswer{400, "the request's Content-Length is not one number of bytes", {}};
        }
        length = value;
    }
    if (!lengths.empty() && !length) {
        return EarlyAnswer{400, "the request's Content-Length is not one number of bytes", {}};
    }
    const bool takes_body = head.method == "POST" || head.method == "PUT" || head.method == "PATCH";
    if (takes_body && codings.empty() && !length) {
        return EarlyAnswer{411, "the request must say how long its body is (Content-Length) or send it chunked", {}};
    }
    if (length && *length > body_limit) {
        return EarlyAnswer{
            413, fmt::format("the request is larger than this service takes ({} MB, its --max-input-mb)", body_limit >> 20),
            {}};
    }
    std::vector<std::string> encodings = ListItems(head.Values("content-encoding"));
    std::erase(encodings, "identity");
    if (!encodings.empty() && encodings != std::vector<std::string>{"gzip"}) {
        return EarlyAnswer{415,
                           "the request's Content-Encoding is not one this service reads (gzip, one layer at most)", {}};
    }
    return std::nullopt;
}

std::string EarlyAnswerText(const EarlyAnswer& answer) {
    const std::string body = "{\"error\":" + JsonText(answer.why) + "}";
    std::string text = fmt::format("HTTP/1.1 {} {}\r\nContent-Type: application/json\r\nContent-Length: {}\r\n"
                                   "Connection: close\r\n",
                                   answer.status, Reason(answer.status), body.size());
    if (!answer.allow.empty()) text += "Allow: " + answer.allow + "\r\n";
    return text + "\r\n" + body;
}

}  // namespace orba::apps::net
