#include "exchange/output_guard.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "exchange/output_file.h"
#include "platform/error.h"
#include "platform/file_descriptor.h"

namespace orba::exchange {

using platform::Error;
using platform::ErrorCode;
namespace fs = std::filesystem;

namespace {

// True when the file at `path` (links followed) starts as every SQLite database does.
bool IsSqliteDatabase(const fs::path& path) {
    static constexpr std::string_view kHeader{"SQLite format 3\0", 16};
    const platform::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.IsOpen()) return false;
    char header[16];
    const ssize_t n = ::read(fd.Get(), header, sizeof header);
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
        CannotWrite(path, fmt::format("its folder '{}' cannot be used: {}", folder.string(), std::strerror(errno)));
    }
    if (!S_ISDIR(dir.st_mode)) CannotWrite(path, fmt::format("'{}' is not a folder", folder.string()));
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        CannotWrite(path, fmt::format("its folder '{}' cannot be written into: {}", folder.string(),
                                      std::strerror(errno)));
    }
}

}  // namespace orba::exchange
