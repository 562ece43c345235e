// SHA-256 as this program uses it everywhere: bytes in, 64 lowercase hexadecimal digits out,
// whether the bytes come at once or piece by piece (a list as it is written or read).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace orba::hostkit {

// Bytes as lowercase hexadecimal digits, two per byte.
std::string HexOf(const unsigned char* bytes, size_t size);

// The SHA-256 of bytes handed over piece by piece. Raises an Error (ErrorCode::kIoError)
// naming `what` when the digest cannot be computed.
class Sha256 {
public:
    explicit Sha256(std::string_view what = "the data");
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Add(const void* bytes, size_t size);
    void Add(std::string_view text) { Add(text.data(), text.size()); }
    // The digest of everything added; the object is spent.
    std::string Hex();

private:
    [[noreturn]] void Fail() const;
    std::string what_;
    EVP_MD_CTX* ctx_;
};

// The SHA-256 of `bytes` as 64 lowercase hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace orba::hostkit
