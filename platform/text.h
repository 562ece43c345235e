// Trimming text, one rule for every reader of keys, values and numbers typed by people: each
// caller names the characters it treats as blanks, so each keeps what it has always accepted.
#pragma once

#include <string_view>

namespace orba::platform {

// ASCII white space: what the C library counts as space in the "C" locale.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// `s` without the characters of `blanks` at its end. Inline: numbers read from text pass
// here one by one, and a call would cost more than the trim.
constexpr std::string_view TrimEnd(std::string_view s, std::string_view blanks = kWhiteSpace) noexcept {
    size_t e = s.size();
    while (e > 0 && blanks.find(s[e - 1]) != std::string_view::npos) --e;
    return s.substr(0, e);
}

// `s` without the characters of `blanks` at either end.
constexpr std::string_view Trim(std::string_view s, std::string_view blanks = kWhiteSpace) noexcept {
    size_t b = 0;
    while (b < s.size() && blanks.find(s[b]) != std::string_view::npos) ++b;
    return TrimEnd(s.substr(b), blanks);
}

}  // namespace orba::platform
