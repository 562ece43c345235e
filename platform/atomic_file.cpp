#include "platform/atomic_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/error.h"

namespace orba::platform {

namespace {

constexpr int kNamesTried = 100;

// Six letters or digits that no other writer is likely to pick at the same moment.
std::string RandomPart() {
    static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}() ^ (uint64_t(::getpid()) << 32)};
    std::string part(6, ' ');
    for (char& c : part) c = kLetters[random() % kLetters.size()];
    return part;
}

}  // namespace

AtomicFile::AtomicFile(const std::filesystem::path& target, mode_t mode, Describe describe)
    : target_(target), describe_(std::move(describe)) {
    // The system applies the umask (and a folder's default access list) as it creates the
    // file; no other thread's file is made under a changed umask.
    for (int i = 0; i < kNamesTried && !fd_.IsOpen(); ++i) {
        temporary_ = target.string() + "." + RandomPart() + ".part";
        fd_ = FileDescriptor(::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (!fd_.IsOpen() && errno != EEXIST) break;
    }
    if (!fd_.IsOpen()) {
        throw Error(ErrorCode::kIoError, describe_(Stage::kCreate, std::strerror(errno)));
    }
}

AtomicFile::~AtomicFile() {
    if (committed_) return;
    fd_.Close();
    ::unlink(temporary_.c_str());
}

void AtomicFile::SetMode(mode_t mode) {
    if (::fchmod(fd_.Get(), mode) != 0) Fail(errno);
}

void AtomicFile::Write(std::string_view bytes) {
    if (!WriteAll(fd_.Get(), bytes)) Fail(errno);
}

void AtomicFile::Fail(int error) const {
    throw Error(ErrorCode::kIoError, describe_(Stage::kWrite, std::strerror(error)));
}

void AtomicFile::Finish() {
    if (finished_) return;
    // The content is on the disk before a name points to it.
    if (::fsync(fd_.Get()) != 0) Fail(errno);
    if (!fd_.Close()) Fail(errno);
    finished_ = true;
}

void AtomicFile::Commit() {
    Finish();
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) Fail(errno);
    committed_ = true;
}

bool AtomicFile::CommitAsNew(const std::filesystem::path& name) {
    Finish();
    if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
        committed_ = true;
        return true;
    }
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS) Fail(errno);
    // A file system that cannot rename without replacing: a second link takes a name only
    // while it is free, and the temporary name is let go after it.
    if (::link(temporary_.c_str(), name.c_str()) != 0) {
        if (errno == EEXIST) return false;
        Fail(errno);
    }
    committed_ = true;
    ::unlink(temporary_.c_str());
    return true;
}

}  // namespace orba::platform
