#include "exchange/gzip.h"

#include <fmt/format.h>
#include <zlib.h>

#include <algorithm>

#include "platform/error.h"

namespace orba::exchange {

using platform::Error;
using platform::ErrorCode;

// Pieces of at most 1 GiB go to zlib at a time: it counts a piece's bytes in 32 bits.
constexpr size_t kMostAtOnce = size_t{1} << 30;

GzipPieces::GzipPieces() {
    auto stream = std::make_shared<z_stream>();
    if (deflateInit2(stream.get(), 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw Error(ErrorCode::kIoError, "The text cannot be compressed");
    }
    stream_ = std::shared_ptr<void>(stream.get(), [stream](void*) { deflateEnd(stream.get()); });
}

GzipPieces::~GzipPieces() = default;

std::string GzipPieces::Add(const char* text, size_t size, bool last) {
    z_stream& stream = *static_cast<z_stream*>(stream_.get());
    std::string packed;
    char out[1 << 16];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text));
    stream.avail_in = static_cast<uInt>(size);
    const int flush = last ? Z_FINISH : Z_NO_FLUSH;
    int status = Z_OK;
    do {
        stream.next_out = reinterpret_cast<Bytef*>(out);
        stream.avail_out = sizeof out;
        status = deflate(&stream, flush);
        if (status == Z_STREAM_ERROR) throw Error(ErrorCode::kIoError, "The text cannot be compressed");
        packed.append(out, sizeof out - stream.avail_out);
    } while (stream.avail_out == 0 || (last && status != Z_STREAM_END));
    return packed;
}

std::string GzipText(std::string_view text) {
    GzipPieces gzip;
    std::string packed;
    for (size_t at = 0; at < text.size(); at += kMostAtOnce) {
        const std::string_view part = text.substr(at, kMostAtOnce);
        packed += gzip.Add(part.data(), part.size(), false);
    }
    return packed + gzip.Add(nullptr, 0, true);
}

bool StartsAsGzip(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
           static_cast<unsigned char>(bytes[1]) == 0x8b;
}

GunzipPieces::GunzipPieces(std::string name) : name_(std::move(name)) {
    auto* stream = new z_stream{};
    stream_ = std::shared_ptr<void>(stream, [](void* p) {
        inflateEnd(static_cast<z_stream*>(p));
        delete static_cast<z_stream*>(p);
    });
    if (inflateInit2(stream, 15 + 16) != Z_OK) {
        throw Error(ErrorCode::kIoError, fmt::format("'{}' cannot be decompressed", name_));
    }
}

GunzipPieces::~GunzipPieces() = default;

size_t GunzipPieces::Take(std::string_view& in, char* out, size_t size) {
    auto* stream = static_cast<z_stream*>(stream_.get());
    const uInt room = static_cast<uInt>(std::min(size, kMostAtOnce));
    ended_ = false;
    stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream->avail_in = static_cast<uInt>(std::min(in.size(), kMostAtOnce));
    stream->next_out = reinterpret_cast<Bytef*>(out);
    stream->avail_out = room;
    const size_t offered = stream->avail_in;
    const int rc = inflate(stream, Z_NO_FLUSH);
    in.remove_prefix(offered - stream->avail_in);
    if (rc == Z_STREAM_END) {
        // Another gzip member may follow, as in files joined together.
        ended_ = true;
        inflateReset(stream);
    } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' is not a readable gzip file: {}", name_, stream->msg ? stream->msg : "damaged data"));
    }
    return room - stream->avail_out;
}

}  // namespace orba::exchange
