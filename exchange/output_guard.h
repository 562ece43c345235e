// Checks a command makes before it changes anything, so that its output can neither destroy
// what it reads nor turn out unwritable once the work is done.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace orba::exchange {

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

}  // namespace orba::exchange
