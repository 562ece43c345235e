#include "exchange/safe_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <zlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <set>

#include "data/bill_records.h"
#include "host/variant_dictionary.h"
#include "platform/error.h"

namespace orba::exchange {

using platform::Error;
using platform::ErrorCode;
namespace fs = std::filesystem;

namespace {

std::atomic<uint64_t> g_input_limit_mb{kDefaultInputLimitMb};
thread_local bool t_compress_output = false;
thread_local bool t_private_output = false;  // within WritePrivateFile

constexpr int kMostLinksFollowed = 40;

std::string SystemReason(int error) { return std::strerror(error); }

[[noreturn]] void CannotWrite(const fs::path& path, std::string_view why) {
    throw Error(ErrorCode::kIoError, fmt::format("The file '{}' cannot be written: {}", path.string(), why));
}

// Follows symbolic links to the name that is finally written, even when the last link
// points to a file that does not exist yet.
fs::path FinalTarget(const fs::path& path) {
    fs::path target = path;
    for (int i = 0; i < kMostLinksFollowed; ++i) {
        struct stat st {};
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
        std::error_code ec;
        fs::path next = fs::read_symlink(target, ec);
        if (ec) CannotWrite(path, ec.message());
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    CannotWrite(path, SystemReason(ELOOP));
}

// Writes everything to an open descriptor; false with errno set on failure.
bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

using Producer = std::function<void(const TextSink&)>;

// Runs `produce`, writing each piece to `fd`; false with errno set when a write failed.
bool WriteProduced(int fd, const Producer& produce) {
    bool written = true;
    int error = 0;
    produce([&](std::string_view piece) {
        if (written && !WriteAll(fd, piece)) {
            written = false;
            error = errno;
        }
    });
    errno = error;
    return written;
}

void WriteStraight(const fs::path& path, const fs::path& target, const Producer& produce) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) CannotWrite(path, SystemReason(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (!WriteProduced(fd, produce)) CannotWrite(path, SystemReason(errno));
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

void WriteThroughTemporary(const fs::path& path, const fs::path& target, const Producer& produce,
                           const struct stat* existing) {
    std::string name = target.string() + ".XXXXXX.part";
    const int fd = ::mkstemps(name.data(), 5);
    if (fd < 0) CannotWrite(path, SystemReason(errno));
    const fs::path temporary = name;
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temporary.c_str());
        CannotWrite(path, SystemReason(error));
    };
    const mode_t mode = t_private_output ? 0600 : existing ? existing->st_mode & 07777 : NewFileMode();
    if (::fchmod(fd, mode) != 0) fail(errno);
    bool written = false;
    try {
        written = WriteProduced(fd, produce);
    } catch (...) {
        // The text could not be made (a value that has no written form): nothing is left.
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    if (!written) fail(errno);
    // The content is on the disk before the name points to it, so a crash leaves either the
    // old file or the new one.
    if (::fsync(fd) != 0) fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        CannotWrite(path, SystemReason(error));
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        CannotWrite(path, SystemReason(error));
    }
}

}  // namespace

void SetInputLimitMb(uint64_t megabytes) { g_input_limit_mb = megabytes; }
uint64_t InputLimitMb() { return g_input_limit_mb; }

InputFile::InputFile(const fs::path& path, bool bounded)
    : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)), bounded_(bounded) {
    if (fd_ < 0) {
        throw Error(errno == ENOENT ? ErrorCode::kFileNotFound : ErrorCode::kIoError,
                    fmt::format("The file '{}' cannot be read: {}", path.string(), SystemReason(errno)));
    }
    try {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
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
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

InputFile::~InputFile() { ::close(fd_); }

size_t InputFile::ReadRaw(char* buffer, size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Error(ErrorCode::kIoError,
                        fmt::format("The file '{}' cannot be read: {}", path_.string(), SystemReason(errno)));
        }
        return static_cast<size_t>(n);
    }
}

size_t InputFile::Inflate(char* buffer, size_t size) {
    auto* stream = static_cast<z_stream*>(gzip_.get());
    const uInt room = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    size_t produced = 0;
    while (produced == 0) {
        if (raw_at_ == raw_.size()) {
            raw_.resize(65536);
            raw_.resize(ReadRaw(raw_.data(), raw_.size()));
            raw_at_ = 0;
            if (raw_.empty()) {
                if (gzip_done_) return 0;
                throw Error(ErrorCode::kBadInput,
                            fmt::format("'{}' is a gzip file that ends before its text does", path_.string()));
            }
        }
        gzip_done_ = false;
        stream->next_in = reinterpret_cast<Bytef*>(raw_.data() + raw_at_);
        stream->avail_in = static_cast<uInt>(raw_.size() - raw_at_);
        stream->next_out = reinterpret_cast<Bytef*>(buffer);
        stream->avail_out = room;
        const int rc = inflate(stream, Z_NO_FLUSH);
        raw_at_ = raw_.size() - stream->avail_in;
        produced = room - stream->avail_out;
        if (rc == Z_STREAM_END) {
            // Another gzip member may follow, as in files joined together.
            gzip_done_ = true;
            inflateReset(stream);
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            throw Error(ErrorCode::kBadInput, fmt::format("'{}' is not a readable gzip file: {}", path_.string(),
                                                          stream->msg ? stream->msg : "damaged data"));
        }
    }
    return produced;
}

size_t InputFile::Read(char* buffer, size_t size) {
    if (!started_) {
        started_ = true;
        raw_.resize(65536);
        raw_.resize(ReadRaw(raw_.data(), raw_.size()));
        if (raw_.size() >= 2 && static_cast<unsigned char>(raw_[0]) == 0x1f &&
            static_cast<unsigned char>(raw_[1]) == 0x8b) {
            auto* stream = new z_stream{};
            gzip_ = std::shared_ptr<void>(stream, [](void* p) {
                inflateEnd(static_cast<z_stream*>(p));
                delete static_cast<z_stream*>(p);
            });
            if (inflateInit2(stream, 15 + 16) != Z_OK) {
                throw Error(ErrorCode::kIoError, fmt::format("'{}' cannot be decompressed", path_.string()));
            }
        }
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
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        throw Error(ErrorCode::kIoError,
                    fmt::format("The file '{}' cannot be read again: {}", path_.string(), SystemReason(errno)));
    }
    read_ = 0;
    started_ = false;
    raw_.clear();
    raw_at_ = 0;
    gzip_.reset();
    gzip_done_ = false;
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

void WriteOutputFile(const fs::path& path, std::string_view text) {
    WriteOutputFile(path, [text](const TextSink& put) { put(text); });
}

namespace {

// `text` gzip-compressed, for a file whose name ends in ".gz" or a command's --compress.
Producer Compressed(const Producer& text) {
    return [text](const TextSink& put) {
        GzipPieces gzip;
        text([&](std::string_view piece) {
            // Pieces of at most 1 GiB: zlib counts a piece's bytes in 32 bits.
            for (size_t at = 0; at < piece.size(); at += 1u << 30) {
                const std::string_view part = piece.substr(at, 1u << 30);
                put(gzip.Add(part.data(), part.size(), false));
            }
        });
        put(gzip.Add(nullptr, 0, true));
    };
}

}  // namespace

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

CompressedOutput::CompressedOutput(bool on) : before_(t_compress_output) { t_compress_output = before_ || on; }
CompressedOutput::~CompressedOutput() { t_compress_output = before_; }

std::string GzipText(std::string_view text) {
    std::string packed;
    Compressed([text](const TextSink& put) { put(text); })([&](std::string_view piece) { packed += piece; });
    return packed;
}

void WriteOutputFile(const fs::path& path, const Producer& plain) {
    if (path.empty()) CannotWrite(path, "no file name was given");
    const Producer text = t_compress_output || path.extension() == ".gz" ? Compressed(plain) : plain;
    const fs::path target = FinalTarget(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) CannotWrite(path, SystemReason(errno));
        WriteThroughTemporary(path, target, text, nullptr);
        return;
    }
    if (S_ISREG(st.st_mode)) {
        WriteThroughTemporary(path, target, text, &st);
    } else if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
        WriteStraight(path, target, text);
    } else if (S_ISDIR(st.st_mode)) {
        CannotWrite(path, "it is a folder; give a file name");
    } else {
        CannotWrite(path, "it is neither a regular file nor a character device");
    }
}

void WritePrivateFile(const fs::path& path, std::string_view text) {
    struct Private {
        bool before = t_private_output;
        Private() { t_private_output = true; }
        ~Private() { t_private_output = before; }
    } in_force;
    WriteOutputFile(path, text);
}

void MakePrivateFolder(const fs::path& folder) {
    if (folder.has_parent_path()) {
        std::error_code ec;
        fs::create_directories(folder.parent_path(), ec);  // a failure is reported below, for the folder itself
    }
    if (::mkdir(folder.c_str(), 0700) == 0) return;
    const int error = errno;
    struct stat st {};
    if (error != EEXIST || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        throw Error(ErrorCode::kIoError,
                    fmt::format("The folder '{}' cannot be made: {}", folder.string(),
                                error == EEXIST ? "something that is no folder has its name" : SystemReason(error)));
    }
    if ((st.st_mode & 077) == 0) return;
    // A folder of earlier versions, or made by hand: what it holds is its owner's alone, so is
    // the folder. One that cannot be changed (another user's) still takes the files, each
    // readable by its owner alone.
    if (::chmod(folder.c_str(), st.st_mode & 0700) != 0) {
        std::cerr << fmt::format("orbabt: the folder '{}' may be entered by others than its owner (mode {:03o}) and "
                                 "cannot be made private: {}; its owner can run chmod 700 on it\n",
                                 folder.string(), st.st_mode & 0777, SystemReason(errno));
        return;
    }
    std::cerr << fmt::format("orbabt: the folder '{}' could be entered by others than its owner (mode {:03o}); it "
                             "is now its owner's alone (mode {:03o})\n",
                             folder.string(), st.st_mode & 0777, st.st_mode & 0700);
}

namespace {

// True when the file at `path` (links followed) starts as every SQLite database does.
bool IsSqliteDatabase(const fs::path& path) {
    static constexpr std::string_view kHeader{"SQLite format 3\0", 16};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    char header[16];
    const ssize_t n = ::read(fd, header, sizeof header);
    ::close(fd);
    return n == static_cast<ssize_t>(sizeof header) && std::string_view(header, sizeof header) == kHeader;
}

}  // namespace

void RequireSeparateOutput(const fs::path& output, std::string_view option, const std::vector<CommandInput>& inputs) {
    struct stat out {};
    if (output.empty() || ::stat(output.c_str(), &out) != 0 || !S_ISREG(out.st_mode)) return;
    for (const CommandInput& input : inputs) {
        struct stat in {};
        // A server URI names no file here: stat finds nothing.
        if (input.location.empty() || ::stat(input.location.c_str(), &in) != 0) continue;
        if (in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("{} '{}' is {} '{}' itself: writing it would destroy what this command reads; "
                                    "name another file. Nothing was done",
                                    option, output.string(), input.role, input.location));
        }
    }
    if (IsSqliteDatabase(output)) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("{} '{}' is an SQLite database, perhaps a branch's account database: it is never "
                                "written over; name another file. Nothing was done",
                                option, output.string()));
    }
}

void RequireWritableTarget(const fs::path& path) {
    if (path.empty()) CannotWrite(path, "no file name was given");
    const fs::path target = FinalTarget(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) CannotWrite(path, "it is a folder; give a file name");
        // A device or a pipe is written straight into; a regular file is replaced through a
        // temporary file beside it, which needs its folder.
        if (!S_ISREG(st.st_mode)) return;
    }
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    struct stat dir {};
    if (::stat(folder.c_str(), &dir) != 0) {
        CannotWrite(path, fmt::format("its folder '{}' cannot be used: {}", folder.string(), SystemReason(errno)));
    }
    if (!S_ISDIR(dir.st_mode)) CannotWrite(path, fmt::format("'{}' is not a folder", folder.string()));
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        CannotWrite(path, fmt::format("its folder '{}' cannot be written into: {}", folder.string(),
                                      SystemReason(errno)));
    }
}

platform::Ref<host::VariantVector> DistinctRequests(const host::VariantVector& requests) {
    auto distinct = platform::MakeRef<host::VariantVector>();
    std::set<int32_t> seen;
    for (int32_t i = 1; i <= requests.UpperBound(); ++i) {
        const platform::Variant& item = requests.Item(i);
        auto record = platform::ObjectAs<host::VariantDictionary>(item);
        const platform::Variant* type = record ? record->Find(data::key::kBillType) : nullptr;
        if (type && type->IsNumeric() && !seen.insert(type->ToLong()).second) continue;
        distinct->Add(item);
    }
    return distinct;
}

}  // namespace orba::exchange
