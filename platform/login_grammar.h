// The grammar of the login property string: "key=value" pairs split by ";", a value in braces
// when it holds ";" or "=". The one reading of that string, for the library's parser and for
// the host kit's components, so the two never disagree about what a string says.
#pragma once

#include <optional>
#include <string_view>

namespace orba::platform {

// The text before the first `delimiter`, or all of it when there is none (or the delimiter is
// empty); `text` keeps what follows the delimiter.
std::string_view TakeUntil(std::string_view& text, std::string_view delimiter) noexcept;

// The value that `text` starts with (its blanks already gone), untrimmed: between "{" and the
// first "}", or to the end when none closes it, dropping what stands between the "}" and the
// next ";"; otherwise up to the next ";". `text` keeps what follows that ";".
std::string_view TakeLoginValue(std::string_view& text) noexcept;

struct LoginPair {
    std::string_view key;    // trimmed
    std::string_view value;  // trimmed, without its braces
    bool assigned = false;   // false when no "=" was left: the key is then all the rest
};

// The next pair of `text`, consumed from it; empty when the text is. `blanks` are trimmed
// around keys and values (the library trims spaces only, the host kit spaces and tabs).
std::optional<LoginPair> NextLoginPair(std::string_view& text, std::string_view blanks) noexcept;

}  // namespace orba::platform
