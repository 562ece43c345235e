// Where the network commands keep a list while it travels: a list may be far larger than
// memory should hold, so it goes through a file of a private folder, read and written in
// pieces, instead of a string.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace orba::apps::net {

// A folder of the system's temporary folder that only this user may enter, removed with all
// it holds when the object ends (also when an exchange fails on the way), and by SpoolSignals
// when a signal ends the process meanwhile.
class SpoolFolder {
public:
    // Raises an Error (ErrorCode::kIoError) when the folder cannot be made.
    SpoolFolder();
    ~SpoolFolder();
    SpoolFolder(const SpoolFolder&) = delete;
    SpoolFolder& operator=(const SpoolFolder&) = delete;

    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// While one is in force, SIGTERM, SIGINT and SIGHUP do not end the process at once: their
// handler only hands the signal to a thread of this object, which removes every SpoolFolder
// that exists at that moment and then ends the process as the signal would have (its default
// action, so the exit status is the conventional one). Commands that spool install one for
// their run; one installed inside another's run leaves that one in force.
class SpoolSignals {
public:
    SpoolSignals();
    ~SpoolSignals();
    SpoolSignals(const SpoolSignals&) = delete;
    SpoolSignals& operator=(const SpoolSignals&) = delete;

private:
    bool installed_ = false;
};

// A file written piece by piece; Write raises an Error naming the file and the system's
// reason (a full disk) when a piece cannot be written.
class SpoolFile {
public:
    explicit SpoolFile(const std::filesystem::path& path);
    void Write(const char* bytes, size_t size);
    // Writes what is buffered; raises the Error Write raises.
    void Close();

private:
    std::filesystem::path path_;
    std::unique_ptr<FILE, int (*)(FILE*)> file_;
};

// The SHA-256 of a file's bytes as 64 lowercase hexadecimal digits, read in pieces.
std::string Sha256OfFile(const std::filesystem::path& path);

}  // namespace orba::apps::net
