// What every backend of an account database holds to alike, so that a file and a server
// answer the same way: no NUL character in a text, how long a lock of another process is
// waited for, and the words for a value beyond a decimal column's precision.
#pragma once

#include <string_view>

namespace orba::hostkit {

// Raises an Error (kBadInput) when `text` holds a NUL character: the server keeps no such
// text, and both databases read a statement only up to one, dropping the rest without a
// word. `what` names the text in the message ("text", "statement").
void RefuseNulCharacter(std::string_view text, std::string_view what = "text");

// How long a connection opened from now on, to a file or to a server database, waits for
// another process's lock before it reports the database as locked (10 s unless changed).
void SetDatabaseBusyTimeout(int milliseconds);
int DatabaseBusyTimeout();

// The server's answer to a value beyond a decimal column's precision; a file answers alike.
inline constexpr std::string_view kArithmeticOverflow =
    "Arithmetic overflow error converting numeric to data type numeric";

}  // namespace orba::hostkit
