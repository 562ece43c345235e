#include "apps/orbabt/net/spool.h"

#include <fmt/format.h>
#include <stdlib.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "hostkit/sha256.h"
#include "platform/error.h"

namespace orba::apps::net {

using platform::Error;
using platform::ErrorCode;
namespace fs = std::filesystem;

namespace {

// The spool folders that exist now: what the signal thread removes.
std::mutex g_folders_mutex;
std::vector<fs::path>& Folders() {
    static std::vector<fs::path> folders;
    return folders;
}

void RemoveSpoolFolders() {
    std::lock_guard lock(g_folders_mutex);
    for (const fs::path& folder : Folders()) {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    Folders().clear();
}

// The signals that end a command run from a terminal, a service manager or a timer.
constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

// What SpoolSignals installed: the pipe its handler writes the signal's number to, the
// thread that reads it, and the actions in force before.
struct Installed {
    std::mutex mutex;
    int depth = 0;
    int pipe[2] = {-1, -1};
    std::thread thread;
    struct sigaction before[std::size(kEndSignals)] = {};
};
Installed g_installed;
// The handler's copy of the pipe's writing end: a plain value it may read at any moment.
volatile sig_atomic_t g_signal_pipe = -1;

// Only what may be done in a signal handler: one byte, the signal's number, into the pipe.
extern "C" void HandOverSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signal_pipe, &number, 1);
    errno = saved;
}

// The signal thread: on a signal's number, removes the spool folders and ends the process as
// the signal does by default; on 0 (the object ends) or a closed pipe, returns.
void TakeSignals(int read_end) {
    for (;;) {
        unsigned char number = 0;
        const ssize_t n = ::read(read_end, &number, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || number == 0) return;
        RemoveSpoolFolders();
        const int signal = number;
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signal, &fallback, nullptr);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        // Sent to this thread, whose mask lets it through: the default action ends the
        // whole process, with the status that tells which signal ended it.
        ::raise(signal);
        ::_exit(128 + signal);
    }
}

}  // namespace

SpoolSignals::SpoolSignals() {
    std::lock_guard lock(g_installed.mutex);
    if (g_installed.depth++ > 0) return;
    if (::pipe2(g_installed.pipe, O_CLOEXEC) != 0) {
        --g_installed.depth;
        throw Error(ErrorCode::kIoError,
                    fmt::format("The command cannot watch for signals to stop it: {}", std::strerror(errno)));
    }
    g_signal_pipe = g_installed.pipe[1];
    g_installed.thread = std::thread(TakeSignals, g_installed.pipe[0]);
    for (size_t i = 0; i < std::size(kEndSignals); ++i) {
        ::sigaction(kEndSignals[i], nullptr, &g_installed.before[i]);
        // A signal the command was started to ignore (nohup, a background job) stays ignored.
        if (g_installed.before[i].sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = HandOverSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(kEndSignals[i], &action, nullptr);
    }
    installed_ = true;
}

SpoolSignals::~SpoolSignals() {
    std::lock_guard lock(g_installed.mutex);
    --g_installed.depth;
    if (!installed_) return;
    for (size_t i = 0; i < std::size(kEndSignals); ++i) ::sigaction(kEndSignals[i], &g_installed.before[i], nullptr);
    // A signal that came before is handled first: its byte is ahead of this one.
    const unsigned char stop = 0;
    [[maybe_unused]] const ssize_t written = ::write(g_installed.pipe[1], &stop, 1);
    g_installed.thread.join();
    g_signal_pipe = -1;
    ::close(g_installed.pipe[0]);
    ::close(g_installed.pipe[1]);
    g_installed.pipe[0] = g_installed.pipe[1] = -1;
}

SpoolFolder::SpoolFolder() {
    // Made and listed at once, so that a signal meanwhile finds it listed.
    std::lock_guard lock(g_folders_mutex);
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
    Folders().push_back(path_);
}

SpoolFolder::~SpoolFolder() {
    std::lock_guard lock(g_folders_mutex);
    std::error_code ec;
    fs::remove_all(path_, ec);
    std::erase(Folders(), path_);
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
    const std::string what = fmt::format("'{}'", path.string());
    hostkit::Sha256 digest(what);
    char buffer[1 << 16];
    for (size_t n; file && (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) digest.Add(buffer, n);
    if (!file || std::ferror(file.get())) {
        throw Error(ErrorCode::kIoError, fmt::format("The SHA-256 of {} cannot be computed: it cannot be read", what));
    }
    return digest.Hex();
}

}  // namespace orba::apps::net
