// Gzip streams, both ways, piece by piece: transport files and request bodies may be
// compressed, and neither side ever needs the whole text or the whole compressed form at
// once.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace orba::exchange {

// Text compressed to gzip piece by piece, as it is written or sent.
class GzipPieces {
public:
    GzipPieces();
    ~GzipPieces();
    GzipPieces(const GzipPieces&) = delete;
    GzipPieces& operator=(const GzipPieces&) = delete;

    // The compressed bytes that `size` more bytes of text make ready; `last` ends the text
    // and gives the rest.
    std::string Add(const char* text, size_t size, bool last);

private:
    std::shared_ptr<void> stream_;
};

// `text` gzip-compressed, as a compressed file holds it.
std::string GzipText(std::string_view text);

// True when `bytes` begin as every gzip stream does.
bool StartsAsGzip(std::string_view bytes);

// The text that gzip bytes hold, made piece by piece as the bytes come. Members joined one
// after another (as files joined together) read as one text.
class GunzipPieces {
public:
    // `name` names the source in errors ("'list.json.gz' is not a readable gzip file").
    explicit GunzipPieces(std::string name);
    ~GunzipPieces();
    GunzipPieces(const GunzipPieces&) = delete;
    GunzipPieces& operator=(const GunzipPieces&) = delete;

    // Up to `size` bytes of text into `out` from the front of `in`, which loses what was
    // used; may give 0 while `in` is used up. Raises an Error for damaged data.
    size_t Take(std::string_view& in, char* out, size_t size);
    // True when the last member ended with the bytes taken so far: the text may end here.
    bool Ended() const { return ended_; }

private:
    std::string name_;
    std::shared_ptr<void> stream_;
    bool ended_ = false;
};

}  // namespace orba::exchange
