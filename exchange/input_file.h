// How the command-line host reads its input files without harm: only a regular file, of
// bounded size, plain or gzip-compressed; the bound is the command's (or the service's) own
// setting for the thread that reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/file_descriptor.h"

namespace orba::exchange {

class GunzipPieces;

// Largest input file read unless raised (--max-input-mb).
inline constexpr uint64_t kDefaultInputLimitMb = 256;

// While it lasts, the input limit of the thread that made it (a command's --max-input-mb, the
// service's for one request); the limit in force before comes back when it ends. Threads
// never see each other's limits.
class InputLimitScope {
public:
    explicit InputLimitScope(uint64_t megabytes);
    ~InputLimitScope();
    InputLimitScope(const InputLimitScope&) = delete;
    InputLimitScope& operator=(const InputLimitScope&) = delete;

private:
    uint64_t megabytes_;
    const InputLimitScope* outer_;

    friend uint64_t InputLimitMb();
};

// The limit of this thread's innermost InputLimitScope, or kDefaultInputLimitMb without one.
uint64_t InputLimitMb();

// Reads a whole regular file (a symbolic link is followed). Refuses devices, pipes and
// folders, and files above the input limit, with an Error naming the file and the reason.
std::string ReadInputFile(const std::filesystem::path& path);

// The same file read piece by piece, for input too large to hold whole beside what is made
// from it. Opening refuses what ReadInputFile refuses; Read raises its errors too.
class InputFile {
public:
    // A file read `bounded` is held to the input limit; one read unbounded is not (its
    // reader must not hold it whole).
    explicit InputFile(const std::filesystem::path& path, bool bounded = true);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Up to `size` further bytes into `buffer`; 0 at the end of the file. A gzip-compressed
    // file (known by its first bytes) is read as the text it holds; the input limit counts
    // that text.
    size_t Read(char* buffer, size_t size);
    // Back to the first byte, to read the same file (the same inode, whatever its name
    // points to now) again.
    void Rewind();

private:
    size_t ReadRaw(char* buffer, size_t size);
    size_t Inflate(char* buffer, size_t size);

    std::filesystem::path path_;
    platform::FileDescriptor fd_;
    bool bounded_;
    uint64_t read_ = 0;
    bool started_ = false;
    std::string raw_;  // bytes read from the file and not yet handed on (or inflated)
    size_t raw_at_ = 0;
    std::unique_ptr<GunzipPieces> gzip_;  // the text of a compressed file
};

}  // namespace orba::exchange
