// How the command-line host writes its output files without harm: never over a device's
// place, a folder or a symbolic link itself, never half a file, and with errors that say
// why. Whether a file is compressed, and whether others may read it, is the caller's word.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace orba::exchange {

// How an output file is written.
struct OutputForm {
    // Gzip-compressed whatever its name (a command's --compress). A name ending in ".gz" is
    // compressed either way; every reader of the files takes both forms.
    bool compress = false;
    // Readable and writable by its owner alone (mode 600) whatever mode it had: for what
    // others on the machine must not read (receipts kept for a later delivery).
    bool owner_only = false;
};

// Writes `text` to `path`, as `form` says:
// - a regular file or a new name: through a temporary file beside it, renamed over the
//   target only when complete, so a reader never sees half a file and an existing file
//   (whose mode the new one keeps) survives a failed write; the temporary file is removed on
//   every failure;
// - a symbolic link: the file it points to is written, the link stays;
// - a character device or a pipe (/dev/null, /dev/stdout): written straight into;
// - a folder or a block device: refused.
// Errors name the file and the system's reason ("No space left on device").
void WriteOutputFile(const std::filesystem::path& path, std::string_view text, OutputForm form = {});

// The same for text made piece by piece: `produce` hands each piece to the sink it is given,
// and the pieces go to the file as they come. A failure while producing (an Error thrown by
// `produce`) leaves the target as it was and no temporary file behind.
using TextSink = std::function<void(std::string_view)>;
void WriteOutputFile(const std::filesystem::path& path, const std::function<void(const TextSink&)>& produce,
                     OutputForm form = {});

// WriteOutputFile for a file its owner alone may read.
inline void WritePrivateFile(const std::filesystem::path& path, std::string_view text) {
    WriteOutputFile(path, text, OutputForm{.owner_only = true});
}

// The name that writing `path` finally writes: symbolic links followed, even when the last
// one points to a file that does not exist yet. Raises the Error WriteOutputFile would for a
// link that cannot be read or a loop.
std::filesystem::path FinalTarget(const std::filesystem::path& path);

// Raises the Error "The file 'PATH' cannot be written: WHY".
[[noreturn]] void CannotWrite(const std::filesystem::path& path, std::string_view why);

// Makes `folder` (its missing parents as usual) a folder only its owner may enter: a new one
// with mode 700; one that lets its group or others in is narrowed to its owner's rights, and
// standard error says so (or that it could not be, when it is another user's). Raises an
// Error naming the folder when it cannot be made.
void MakePrivateFolder(const std::filesystem::path& folder);

}  // namespace orba::exchange
