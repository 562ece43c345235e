#include "apps/orbabt/net/answer_text.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "platform/error.h"

namespace orba::apps::net {

using platform::Error;
using platform::ErrorCode;

namespace {

struct Inflater {
    z_stream stream{};
    bool open = false;
    Inflater() { open = inflateInit2(&stream, 32 + MAX_WBITS) == Z_OK; }  // gzip or zlib, known by its header
    ~Inflater() {
        if (open) inflateEnd(&stream);
    }
};

Error NotInflated() {
    return Error(ErrorCode::kIoError, "The service's compressed answer cannot be inflated (cut short or corrupt)");
}

}  // namespace

std::optional<std::string> AnswerText(std::string body, std::string_view encoding, uint64_t limit) {
    if (encoding != "gzip" && encoding != "deflate") {
        if (body.size() > limit) return std::nullopt;
        return body;
    }
    Inflater inflater;
    if (!inflater.open) throw NotInflated();
    z_stream& z = inflater.stream;
    std::string text;
    char piece[1 << 16];
    size_t at = 0;
    bool ended = body.empty();
    for (;;) {
        if (ended) {
            if (at == body.size()) break;
            // One layer of gzip may hold several members one after the other.
            if (inflateReset(&z) != Z_OK) throw NotInflated();
        }
        z.next_in = reinterpret_cast<Bytef*>(body.data() + at);
        z.avail_in = static_cast<uInt>(std::min<size_t>(body.size() - at, UINT_MAX));
        z.next_out = reinterpret_cast<Bytef*>(piece);
        z.avail_out = sizeof piece;
        const int status = inflate(&z, Z_NO_FLUSH);
        const size_t used = static_cast<size_t>(reinterpret_cast<char*>(z.next_in) - (body.data() + at));
        const size_t made = sizeof piece - z.avail_out;
        at += used;
        // No progress at all: the compressed text is cut short.
        if ((status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) || (used == 0 && made == 0)) {
            throw NotInflated();
        }
        if (text.size() + made > limit) return std::nullopt;
        text.append(piece, made);
        ended = status == Z_STREAM_END;
    }
    return text;
}

}  // namespace orba::apps::net
