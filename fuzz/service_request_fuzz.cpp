// What the service does with the bytes of one request before its database is asked anything:
// the front reads and judges the head (path, method, lengths, encodings), the router parses it
// again and reads the body as the service's handlers do (bounded, inflated when gzip), and the
// body goes to the transport reader of its path. Any input is answered or refused; none may
// crash, hang or read past what was sent.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "apps/orbabt/net/https_front.h"
#include "apps/orbabt/net/request_body.h"
#include "exchange/input_file.h"
#include "exchange/transport.h"
#include "platform/error.h"

namespace {

using namespace orba::apps;
using namespace orba::exchange;

// The request's bytes to read; what is written is let go.
class BytesStream : public httplib::Stream {
public:
    explicit BytesStream(std::string_view bytes) : bytes_(bytes) {}
    bool is_readable() const override { return at_ < bytes_.size(); }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override {
        const size_t n = std::min(size, bytes_.size() - at_);
        std::memcpy(ptr, bytes_.data() + at_, n);
        at_ += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char*, size_t size) override { return static_cast<ssize_t>(size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 1;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 2;
    }
    socket_t socket() const override { return 0; }

private:
    std::string_view bytes_;
    size_t at_ = 0;
};

template <typename Read>
void AnswerWith(net::Router& router, const char* path, Read read) {
    router.Post(path, [read](const httplib::Request& req, httplib::Response& res,
                             const httplib::ContentReader& reader) {
        const std::optional<std::string> body = net::ReadBody(req, res, reader);
        if (!body) return;
        try {
            read(*body);
            res.set_content("{}", "application/json");
        } catch (const orba::platform::Error& e) {
            res.status = 400;
            res.set_content(net::ErrorJson(e.Description()), "application/json");
        }
    });
}

net::Router& FuzzRouter() {
    static net::Router* router = [] {
        auto* r = new net::Router;
        r->ListensOn(0);
        r->set_payload_max_length(1 << 20);
        AnswerWith(*r, "/v1/requests", [](const std::string& body) { (void)ReadRequestFile(body, "request"); });
        AnswerWith(*r, "/v1/receipts", [](const std::string& body) { (void)ReadReceiptFile(body, "receipt"); });
        AnswerWith(*r, "/v1/lists", [](const std::string& body) { (void)ReadListFile(body, "list"); });
        r->Get("/v1/status", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("{}", "application/json");
        });
        return r;
    }();
    return *router;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const size_t end = bytes.find("\r\n\r\n");
    if (end == std::string_view::npos || end + 4 > (16 << 10)) return 0;
    const std::optional<net::RequestHead> head = net::ParseRequestHead(bytes.substr(0, end + 4));
    if (!head) return 0;
    if (const auto early = net::CheckRequestHead(*head, net::ServiceRoutes(), 1 << 20)) {
        (void)net::EarlyAnswerText(*early);
        return 0;
    }
    BytesStream stream(bytes);
    const InputLimitScope limit(1);  // as a service started with --max-input-mb 1
    (void)FuzzRouter().AnswerOne(stream, nullptr, false);
    return 0;
}
