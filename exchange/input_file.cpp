#include "exchange/input_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "exchange/gzip.h"
#include "platform/error.h"

namespace orba::exchange {

using platform::Error;
using platform::ErrorCode;
namespace fs = std::filesystem;

namespace {

thread_local const InputLimitScope* t_input_limit = nullptr;

constexpr size_t kRawPiece = 65536;

std::string SystemReason(int error) { return std::strerror(error); }

}  // namespace

InputLimitScope::InputLimitScope(uint64_t megabytes) : megabytes_(megabytes), outer_(t_input_limit) {
    t_input_limit = this;
}

InputLimitScope::~InputLimitScope() { t_input_limit = outer_; }

uint64_t InputLimitMb() { return t_input_limit ? t_input_limit->megabytes_ : kDefaultInputLimitMb; }

InputFile::InputFile(const fs::path& path, bool bounded)
    : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)), bounded_(bounded) {
    if (!fd_.IsOpen()) {
        throw Error(errno == ENOENT ? ErrorCode::kFileNotFound : ErrorCode::kIoError,
                    fmt::format("The file '{}' cannot be read: {}", path.string(), SystemReason(errno)));
    }
    struct stat st {};
    if (::fstat(fd_.Get(), &st) != 0) {
        throw Error(ErrorCode::kIoError,
                    fmt::format("The file '{}' cannot be read: {}", path.string(), SystemReason(errno)));
    }
    if (!S_ISREG(st.st_mode)) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' is not a regular file ({}); give the file itself", path.string(),
                                S_ISDIR(st.st_mode) ? "a folder" : S_ISFIFO(st.st_mode) ? "a pipe" : "a device"));
    }
    if (bounded_ && static_cast<uint64_t>(st.st_size) > InputLimitMb() * 1024 * 1024) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' holds {} bytes, more than the limit of {} MB for an input file; raise the "
                                "limit with --max-input-mb if the file is meant to be this large",
                                path.string(), st.st_size, InputLimitMb()));
    }
}

InputFile::~InputFile() = default;

size_t InputFile::ReadRaw(char* buffer, size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd_.Get(), buffer, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Error(ErrorCode::kIoError,
                        fmt::format("The file '{}' cannot be read: {}", path_.string(), SystemReason(errno)));
        }
        return static_cast<size_t>(n);
    }
}

size_t InputFile::Inflate(char* buffer, size_t size) {
    size_t produced = 0;
    while (produced == 0) {
        if (raw_at_ == raw_.size()) {
            raw_.resize(kRawPiece);
            raw_.resize(ReadRaw(raw_.data(), raw_.size()));
            raw_at_ = 0;
            if (raw_.empty()) {
                if (gzip_->Ended()) return 0;
                throw Error(ErrorCode::kBadInput,
                            fmt::format("'{}' is a gzip file that ends before its text does", path_.string()));
            }
        }
        std::string_view in = std::string_view(raw_).substr(raw_at_);
        produced = gzip_->Take(in, buffer, size);
        raw_at_ = raw_.size() - in.size();
    }
    return produced;
}

size_t InputFile::Read(char* buffer, size_t size) {
    if (!started_) {
        started_ = true;
        raw_.resize(kRawPiece);
        raw_.resize(ReadRaw(raw_.data(), raw_.size()));
        if (StartsAsGzip(raw_)) gzip_ = std::make_unique<GunzipPieces>(path_.string());
    }
    size_t n = 0;
    if (gzip_) {
        n = Inflate(buffer, size);
    } else if (raw_at_ < raw_.size()) {
        n = std::min(size, raw_.size() - raw_at_);
        std::memcpy(buffer, raw_.data() + raw_at_, n);
        raw_at_ += n;
    } else {
        n = ReadRaw(buffer, size);
    }
    // The size is checked again while reading: a file that grows meanwhile, or a compressed
    // one whose text is larger, is cut off at the limit and refused rather than read without
    // end.
    read_ += n;
    if (bounded_ && read_ > InputLimitMb() * 1024 * 1024) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' {} beyond the limit of {} MB for an input file while it was read",
                                path_.string(), gzip_ ? "holds a text that grows" : "grew", InputLimitMb()));
    }
    return n;
}

void InputFile::Rewind() {
    if (::lseek(fd_.Get(), 0, SEEK_SET) != 0) {
        throw Error(ErrorCode::kIoError,
                    fmt::format("The file '{}' cannot be read again: {}", path_.string(), SystemReason(errno)));
    }
    read_ = 0;
    started_ = false;
    raw_.clear();
    raw_at_ = 0;
    gzip_.reset();
}

std::string ReadInputFile(const fs::path& path) {
    InputFile file(path);
    std::string text;
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (!ec) text.reserve(static_cast<size_t>(size));
    char buffer[65536];
    while (const size_t n = file.Read(buffer, sizeof buffer)) text.append(buffer, n);
    return text;
}

}  // namespace orba::exchange
