#include "exchange/output_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "exchange/gzip.h"
#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/file_descriptor.h"

namespace orba::exchange {

using platform::Error;
using platform::ErrorCode;
namespace fs = std::filesystem;

namespace {

constexpr int kMostLinksFollowed = 40;

std::string SystemReason(int error) { return std::strerror(error); }

using Producer = std::function<void(const TextSink&)>;

// Runs `produce`, writing each piece to `fd`; false with errno set when a write failed. The
// text is made to its end even then, and the first failure reported after.
bool WriteProduced(int fd, const Producer& produce) {
    bool written = true;
    int error = 0;
    produce([&](std::string_view piece) {
        if (written && !platform::WriteAll(fd, piece)) {
            written = false;
            error = errno;
        }
    });
    errno = error;
    return written;
}

void WriteStraight(const fs::path& path, const fs::path& target, const Producer& produce) {
    const platform::FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd.IsOpen()) CannotWrite(path, SystemReason(errno));
    if (!WriteProduced(fd.Get(), produce)) CannotWrite(path, SystemReason(errno));
}

// Writes through a temporary file beside `target`; `existing` is the target's state when it
// exists. The temporary file goes with `file` on every way out that does not rename it.
void WriteThroughTemporary(const fs::path& path, const fs::path& target, const Producer& produce,
                           const struct stat* existing, bool owner_only) {
    platform::AtomicFile file(target, owner_only ? 0600 : 0666,
                              [&path](platform::AtomicFile::Stage, std::string_view reason) {
                                  return fmt::format("The file '{}' cannot be written: {}", path.string(), reason);
                              });
    if (owner_only) {
        file.SetMode(0600);
    } else if (existing) {
        file.SetMode(existing->st_mode & 07777);
    }
    if (!WriteProduced(file.Descriptor(), produce)) file.Fail(errno);
    file.Commit();
}

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

void CannotWrite(const fs::path& path, std::string_view why) {
    throw Error(ErrorCode::kIoError, fmt::format("The file '{}' cannot be written: {}", path.string(), why));
}

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

void WriteOutputFile(const fs::path& path, std::string_view text, OutputForm form) {
    WriteOutputFile(path, [text](const TextSink& put) { put(text); }, form);
}

void WriteOutputFile(const fs::path& path, const Producer& plain, OutputForm form) {
    if (path.empty()) CannotWrite(path, "no file name was given");
    const Producer text = form.compress || path.extension() == ".gz" ? Compressed(plain) : plain;
    const fs::path target = FinalTarget(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) CannotWrite(path, SystemReason(errno));
        WriteThroughTemporary(path, target, text, nullptr, form.owner_only);
        return;
    }
    if (S_ISREG(st.st_mode)) {
        WriteThroughTemporary(path, target, text, &st, form.owner_only);
    } else if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
        WriteStraight(path, target, text);
    } else if (S_ISDIR(st.st_mode)) {
        CannotWrite(path, "it is a folder; give a file name");
    } else {
        CannotWrite(path, "it is neither a regular file nor a character device");
    }
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

}  // namespace orba::exchange
