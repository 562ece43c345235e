// How the command-line host reads and writes its files without harm: input must be a
// regular file of bounded size, and output never replaces a device, a folder or a symbolic
// link, never leaves a half-written file behind and says why it failed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/variant_vector.h"

namespace orba::exchange {

// Largest input file read unless raised (--max-input-mb).
inline constexpr uint64_t kDefaultInputLimitMb = 256;

void SetInputLimitMb(uint64_t megabytes);
uint64_t InputLimitMb();

// Reads a whole regular file (a symbolic link is followed). Refuses devices, pipes and
// folders, and files above the input limit, with an Error naming the file and the reason.
std::string ReadInputFile(const std::filesystem::path& path);

// The same file read piece by piece, for input too large to hold whole beside what is made
// from it. Opening refuses what ReadInputFile refuses; Read raises its errors too.
class InputFile {
public:
    // A file read `bounded` is held to the input limit; one read unbounded is not (its
    // reader must not hold it whole).
    explicit InputFile(const std::filesystem::path& path, bool bounded = true);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Up to `size` further bytes into `buffer`; 0 at the end of the file. A gzip-compressed
    // file (known by its first bytes) is read as the text it holds; the input limit counts
    // that text.
    size_t Read(char* buffer, size_t size);
    // Back to the first byte, to read the same file (the same inode, whatever its name
    // points to now) again.
    void Rewind();

private:
    size_t ReadRaw(char* buffer, size_t size);
    size_t Inflate(char* buffer, size_t size);

    std::filesystem::path path_;
    int fd_;
    bool bounded_;
    uint64_t read_ = 0;
    bool started_ = false;
    std::string raw_;  // bytes read from the file and not yet handed on (or inflated)
    size_t raw_at_ = 0;
    std::shared_ptr<void> gzip_;  // the inflate stream of a compressed file
    bool gzip_done_ = false;      // its last member ended with the bytes read so far
};

// Writes `text` to `path` (gzip-compressed when its name ends in ".gz", or while a
// CompressedOutput is in force):
// - a regular file or a new name: through a temporary file beside it, renamed over the
//   target only when complete, so a reader never sees half a file and an existing file
//   survives a failed write; the temporary file is removed on every failure;
// - a symbolic link: the file it points to is written, the link stays;
// - a character device or a pipe (/dev/null, /dev/stdout): written straight into;
// - a folder or a block device: refused.
// Errors name the file and the system's reason ("No space left on device").
void WriteOutputFile(const std::filesystem::path& path, std::string_view text);

// The same for text made piece by piece: `produce` hands each piece to the sink it is given,
// and the pieces go to the file as they come. A failure while producing (an Error thrown by
// `produce`) leaves the target as it was and no temporary file behind.
using TextSink = std::function<void(std::string_view)>;
void WriteOutputFile(const std::filesystem::path& path, const std::function<void(const TextSink&)>& produce);

// Writes as WriteOutputFile does, the file readable and writable by its owner alone (mode 600)
// whatever mode it had: for what others on the machine must not read (receipts kept for a
// later delivery).
void WritePrivateFile(const std::filesystem::path& path, std::string_view text);

// Makes `folder` (its missing parents as usual) a folder only its owner may enter: a new one
// with mode 700; one that lets its group or others in is narrowed to its owner's rights, and
// standard error says so (or that it could not be, when it is another user's). Raises an
// Error naming the folder when it cannot be made.
void MakePrivateFolder(const std::filesystem::path& folder);

// While one is in force (`on`), what this thread writes with WriteOutputFile is
// gzip-compressed whatever its name: a command's --compress. Every reader of the files takes
// either form.
class CompressedOutput {
public:
    explicit CompressedOutput(bool on);
    ~CompressedOutput();
    CompressedOutput(const CompressedOutput&) = delete;
    CompressedOutput& operator=(const CompressedOutput&) = delete;

private:
    bool before_;
};

// Text compressed to gzip piece by piece, as it is written or sent.
class GzipPieces {
public:
    GzipPieces();
    ~GzipPieces();
    GzipPieces(const GzipPieces&) = delete;
    GzipPieces& operator=(const GzipPieces&) = delete;

    // The compressed bytes that `size` more bytes of text make ready; `last` ends the text
    // and gives the rest.
    std::string Add(const char* text, size_t size, bool last);

private:
    std::shared_ptr<void> stream_;
};

// `text` gzip-compressed, as a compressed file holds it.
std::string GzipText(std::string_view text);

// A file a command reads (or its database), named by the role it plays in messages.
struct CommandInput {
    std::string_view role;  // "the account database", "the transmission list", ...
    std::string location;   // a path; a server database's URI is passed over
};

// Refuses, before any work, an output that would destroy what the command reads: the same
// file (device and inode, through links) as one of `inputs`, or an SQLite database. The
// Error names the option, both files and what to do.
void RequireSeparateOutput(const std::filesystem::path& output, std::string_view option,
                           const std::vector<CommandInput>& inputs);

// Raises an Error unless `path` could be written now: its folder exists and may be written
// into, and it is not a folder itself. Lets a command find out before it changes anything
// that its answer could not be written afterwards.
void RequireWritableTarget(const std::filesystem::path& path);

// The request items with each bill type kept once, at its first place: a type asked for
// several times is packaged once.
platform::Ref<host::VariantVector> DistinctRequests(const host::VariantVector& requests);

}  // namespace orba::exchange
