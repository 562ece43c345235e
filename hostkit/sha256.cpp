#include "hostkit/sha256.h"

#include <fmt/format.h>
#include <openssl/evp.h>

#include "platform/error.h"

namespace orba::hostkit {

std::string HexOf(const unsigned char* bytes, size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(2 * size, '0');
    for (size_t i = 0; i < size; ++i) {
        hex[2 * i] = kDigits[bytes[i] >> 4];
        hex[2 * i + 1] = kDigits[bytes[i] & 0x0f];
    }
    return hex;
}

Sha256::Sha256(std::string_view what) : what_(what), ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) Fail();
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::Add(const void* bytes, size_t size) {
    if (EVP_DigestUpdate(ctx_, bytes, size) != 1) Fail();
}

std::string Sha256::Hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_, digest, &length) != 1) Fail();
    return HexOf(digest, length);
}

void Sha256::Fail() const {
    throw platform::Error(platform::ErrorCode::kIoError, fmt::format("The SHA-256 of {} cannot be computed", what_));
}

std::string Sha256Hex(std::string_view bytes) {
    Sha256 digest;
    digest.Add(bytes);
    return digest.Hex();
}

}  // namespace orba::hostkit
