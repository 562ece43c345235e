#include "apps/orbabt/net/spool.h"

#include <fmt/format.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace orba::apps::net {

using platform::Error;
using platform::ErrorCode;
namespace fs = std::filesystem;

SpoolFolder::SpoolFolder() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    // mkdtemp makes the folder for this user alone (mode 0700), under a name no one chose.
    std::string pattern = (base / "orbabt-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw Error(ErrorCode::kIoError, fmt::format("No temporary folder can be made in '{}' for the list: {}",
                                                     base.string(), std::strerror(errno)));
    }
    path_ = pattern;
}

SpoolFolder::~SpoolFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

SpoolFile::SpoolFile(const fs::path& path) : path_(path), file_(std::fopen(path.c_str(), "wb"), &std::fclose) {
    if (!file_) {
        throw Error(ErrorCode::kIoError,
                    fmt::format("'{}' cannot be written: {}", path_.string(), std::strerror(errno)));
    }
}

void SpoolFile::Write(const char* bytes, size_t size) {
    if (size > 0 && std::fwrite(bytes, 1, size, file_.get()) != size) {
        throw Error(ErrorCode::kIoError,
                    fmt::format("'{}' cannot be written: {}", path_.string(), std::strerror(errno)));
    }
}

void SpoolFile::Close() {
    if (!file_) return;
    const bool flushed = std::fflush(file_.get()) == 0;
    const int error = errno;
    const bool closed = std::fclose(file_.release()) == 0;
    if (!flushed || !closed) {
        throw Error(ErrorCode::kIoError,
                    fmt::format("'{}' cannot be written: {}", path_.string(), std::strerror(flushed ? errno : error)));
    }
}

std::string Sha256OfFile(const fs::path& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool ok = file && ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
    char buffer[1 << 16];
    for (size_t n; ok && (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
        ok = EVP_DigestUpdate(ctx.get(), buffer, n) == 1;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    ok = ok && !std::ferror(file.get()) && EVP_DigestFinal_ex(ctx.get(), digest, &length) == 1;
    if (!ok) {
        throw Error(ErrorCode::kIoError, fmt::format("The SHA-256 of '{}' cannot be computed", path.string()));
    }
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) hex += fmt::format("{:02x}", digest[i]);
    return hex;
}

}  // namespace orba::apps::net
