// The transmission log: a copy of what the saving component reported for one unpacking,
// kept in a folder "TransmitLog" beside the component (or, for a library installed where it
// cannot write, in the user's data folder), one file per unpacking, named by date and
// sequence number (20030512_1.log, 20030512_2.log, ...).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/date.h"

namespace orba::facade {

inline constexpr std::string_view kLogFolderName = "TransmitLog";
// The folder under the user's data folder that holds the log of an installed library.
inline constexpr std::string_view kUserDataFolderName = "OrbaBillTransmit";

// The log folder of this library: see ChooseLogDirectory.
std::filesystem::path LogDirectory();

// Where the log folder of a library in `module_dir` goes:
// - "TransmitLog" beside the library when it can be written there: the folder exists and
//   is writable, or it is missing and the library's folder is writable (a build tree, or a
//   private install a user owns);
// - otherwise, and always for a library in the system's own software folders (/usr, /lib),
//   which hold no changing data even when the process could write there,
//   $XDG_DATA_HOME/OrbaBillTransmit/TransmitLog, by default
//   ~/.local/share/OrbaBillTransmit/TransmitLog; its parent folders are made here, so that
//   writing the log only has to make the last one.
// `writable` and `getenv` are the process's own by default; tests put in their own.
std::filesystem::path ChooseLogDirectory(
    const std::filesystem::path& module_dir,
    const std::function<bool(const std::filesystem::path&)>& writable = {},
    const std::function<const char*(const char*)>& getenv = {});

// "YYYYMMDD_n.log".
std::string LogFileName(const platform::Date& day, int sequence);

// Writes `text` as a new log file in `directory`, creating the folder (one level) when it is
// missing. The file is created exclusively: an existing log is never replaced, not even by
// another process racing for the same name; the next sequence number is taken instead.
// The text is converted to the code page of the environment's locale. Returns the path;
// raises an Error when the folder or file cannot be made or written.
std::filesystem::path WriteTransmitLog(const std::filesystem::path& directory, std::string_view text,
                                       const std::function<platform::Date()>& today = platform::Date::Today);

// UTF-8 text converted to the environment locale's code page (unchanged for UTF-8 and
// plain ASCII locales, where converting would lose every non-ASCII character).
std::string ToLocaleCodePage(std::string_view utf8);

}  // namespace orba::facade
