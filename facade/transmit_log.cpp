#include "facade/transmit_log.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/module_dir.h"

namespace orba::facade {

using platform::Error;
using platform::ErrorCode;

namespace {

// The code set of the locale the environment asks for, without touching the process's own
// locale (a component must not change its host's locale).
std::string EnvironmentCodeSet() {
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return "UTF-8";
    std::string codeset = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    return codeset;
}

bool KeepsUtf8(const std::string& codeset) {
    return codeset.empty() || codeset == "UTF-8" || codeset == "utf8" || codeset == "ANSI_X3.4-1968" ||
           codeset == "ASCII";
}

void WriteAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Error(ErrorCode::kIoError, fmt::format("The log '{}' cannot be written: {}", path.string(),
                                                         std::strerror(errno)));
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

}  // namespace

std::filesystem::path LogDirectory() {
    return platform::ModuleDirectory(reinterpret_cast<const void*>(&LogDirectory)) / kLogFolderName;
}

std::string LogFileName(const platform::Date& day, int sequence) {
    return fmt::format("{:04}{:02}{:02}_{}.log", day.Year(), day.Month(), day.Day(), sequence);
}

std::string ToLocaleCodePage(std::string_view utf8) {
    const std::string codeset = EnvironmentCodeSet();
    if (KeepsUtf8(codeset)) return std::string(utf8);
    iconv_t cd = iconv_open((codeset + "//TRANSLIT").c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(utf8);
    std::string out(utf8.size() * 4 + 16, '\0');
    char* in_ptr = const_cast<char*>(utf8.data());
    size_t in_left = utf8.size();
    char* out_ptr = out.data();
    size_t out_left = out.size();
    while (in_left > 0) {
        if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1)) {
            if (errno == EILSEQ || errno == EINVAL) {
                // A byte that is not UTF-8, or a character the code page lacks: keep a marker.
                *out_ptr++ = '?';
                --out_left;
                ++in_ptr;
                --in_left;
                continue;
            }
            break;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

std::filesystem::path WriteTransmitLog(const std::filesystem::path& directory, std::string_view text,
                                       const std::function<platform::Date()>& today) {
    std::error_code ec;
    if (!std::filesystem::is_directory(directory, ec)) {
        // One level only: the folder's parent, the component's own folder, must exist.
        if (!std::filesystem::create_directory(directory, ec) && !std::filesystem::is_directory(directory)) {
            throw Error(ErrorCode::kPathNotFound, fmt::format("The log folder '{}' cannot be created: {}",
                                                              directory.string(), ec.message()));
        }
    }
    const std::string bytes = ToLocaleCodePage(text);
    for (int sequence = 1;; ++sequence) {
        const std::filesystem::path path = directory / LogFileName(today(), sequence);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            throw Error(ErrorCode::kIoError,
                        fmt::format("The log '{}' cannot be created: {}", path.string(), std::strerror(errno)));
        }
        // A log that could not be written whole is removed: an empty or cut-off log would
        // read as a record of what was received.
        try {
            WriteAll(fd, bytes, path);
        } catch (...) {
            ::close(fd);
            ::unlink(path.c_str());
            throw;
        }
        if (::close(fd) != 0) {
            const int error = errno;
            ::unlink(path.c_str());
            throw Error(ErrorCode::kIoError,
                        fmt::format("The log '{}' cannot be written: {}", path.string(), std::strerror(error)));
        }
        return path;
    }
}

}  // namespace orba::facade
