#include "facade/transmit_log.h"

#include <fmt/format.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/atomic_file.h"
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

bool WritableByProcess(const std::filesystem::path& dir) { return ::access(dir.c_str(), W_OK | X_OK) == 0; }

// The system's own software trees: a library there was installed by a package manager or an
// administrator, and a log written beside it would be left behind when it is removed.
bool InSystemSoftwareTree(const std::filesystem::path& dir) {
    const std::filesystem::path normal = dir.lexically_normal();
    auto it = normal.begin();
    if (it == normal.end() || *it != "/" || ++it == normal.end()) return false;
    const std::string top = it->string();
    return top == "usr" || top == "lib" || top == "lib32" || top == "lib64" || top == "libx32";
}

std::filesystem::path UserHome(const std::function<const char*(const char*)>& getenv) {
    if (const char* home = getenv("HOME"); home != nullptr && home[0] == '/') return home;
    struct passwd pwd {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &pwd, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

std::filesystem::path ChooseLogDirectory(const std::filesystem::path& module_dir,
                                         const std::function<bool(const std::filesystem::path&)>& writable,
                                         const std::function<const char*(const char*)>& getenv) {
    const auto can_write = writable ? writable : WritableByProcess;
    const auto env = getenv ? getenv : [](const char* name) -> const char* { return std::getenv(name); };
    const std::filesystem::path beside = module_dir / kLogFolderName;
    if (!InSystemSoftwareTree(module_dir)) {
        std::error_code ec;
        if (std::filesystem::is_directory(beside, ec) ? can_write(beside) : can_write(module_dir)) return beside;
    }
    // XDG_DATA_HOME counts only when absolute; a relative one is ignored, as the base
    // directory convention asks.
    std::filesystem::path data_home;
    if (const char* xdg = env("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        data_home = xdg;
    } else if (std::filesystem::path home = UserHome(env); !home.empty()) {
        data_home = home / ".local" / "share";
    } else {
        return beside;  // no user folder to fall back on: writing will say why it failed
    }
    const std::filesystem::path per_user = data_home / kUserDataFolderName / kLogFolderName;
    std::error_code ec;
    std::filesystem::create_directories(per_user.parent_path(), ec);  // a failure shows when the log is written
    return per_user;
}

std::filesystem::path LogDirectory() {
    return ChooseLogDirectory(platform::ModuleDirectory(reinterpret_cast<const void*>(&LogDirectory)));
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
    // The log is written whole under a temporary name and only then takes the first free name
    // of the day: an empty or cut-off log would read as a record of what was received. A name
    // taken by anything (a log, a folder, a link that must not be followed) is passed over.
    int sequence = 1;
    struct stat taken {};
    while (::lstat((directory / LogFileName(today(), sequence)).c_str(), &taken) == 0) ++sequence;
    std::filesystem::path path = directory / LogFileName(today(), sequence);
    platform::AtomicFile file(path, 0644, [&path](platform::AtomicFile::Stage stage, std::string_view reason) {
        return fmt::format("The log '{}' cannot be {}: {}", path.string(),
                           stage == platform::AtomicFile::Stage::kCreate ? "created" : "written", reason);
    });
    file.Write(bytes);
    // Another writer may take the name meanwhile: the next free one is taken then.
    while (!file.CommitAsNew(path)) path = directory / LogFileName(today(), ++sequence);
    return path;
}

}  // namespace orba::facade
