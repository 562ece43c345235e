// The transmission log: a copy of what the saving component reported for one unpacking,
// kept in a folder "TransmitLog" beside the component, one file per unpacking, named by
// date and sequence number (20030512_1.log, 20030512_2.log, ...).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/date.h"

namespace orba::facade {

inline constexpr std::string_view kLogFolderName = "TransmitLog";

// The log folder beside this library.
std::filesystem::path LogDirectory();

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
