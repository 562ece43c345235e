// A file that appears whole or not at all: its bytes go into a temporary file beside it, are
// put on the disk, and only then take the file's name. Until then the temporary file is
// removed and its descriptor closed whichever way the writer leaves, an exception's
// included, so a failure leaves neither a half-written file nor a stray temporary one.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace orba::platform {

class AtomicFile {
public:
    // Where a failure happened: making the temporary file, or writing it and naming it.
    enum class Stage { kCreate, kWrite };
    // The description of the Error raised for a failure at `stage`, for the system's `reason`
    // ("No space left on device"): each writer names its file in its own words.
    using Describe = std::function<std::string(Stage stage, std::string_view reason)>;

    // Makes a new temporary file beside `target` (TARGET.XXXXXX.part) with `mode` less the
    // process's umask, as the system gives a new file.
    AtomicFile(const std::filesystem::path& target, mode_t mode, Describe describe);
    // Removes the temporary file unless it took its name.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    int Descriptor() const { return fd_.Get(); }
    // Gives the file exactly `mode` (an existing file's, or the owner's alone), whatever the umask.
    void SetMode(mode_t mode);
    void Write(std::string_view bytes);
    // Raises the Error for a write that failed with the system's `error` (the temporary file
    // goes as the exception leaves).
    [[noreturn]] void Fail(int error) const;

    // Puts the bytes on the disk and renames the temporary file over the target, so that a
    // reader sees the old file or the new one, and a crash leaves one of them.
    void Commit();
    // The same under `name`, but only when nothing (a file, a link, a folder) has that name
    // yet; false when something has, and the file waits for another name.
    bool CommitAsNew(const std::filesystem::path& name);

private:
    void Finish();

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    Describe describe_;
    FileDescriptor fd_;
    bool finished_ = false;   // on the disk and closed
    bool committed_ = false;  // the temporary file has its name
};

}  // namespace orba::platform
