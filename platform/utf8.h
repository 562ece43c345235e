// UTF-8, the program's text encoding: whether bytes are well-formed, where a character starts,
// and one character decoded. One set of rules for every reader of text from outside (JSON,
// database text, messages), so that they all agree on what counts as text.
#pragma once

#include <cstddef>
#include <string_view>

namespace orba::platform {

// A byte that continues a multi-byte character (10xxxxxx): a text may not be cut before it.
constexpr bool IsUtf8Continuation(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// A byte of a multi-byte character, lead or continuation: anything but ASCII.
constexpr bool IsNonAscii(char c) noexcept { return static_cast<unsigned char>(c) >= 0x80; }

// The length of the well-formed character that starts at s[i] (1 for ASCII), or 0 when the
// bytes there are no well-formed character: a stray continuation byte, a cut-off sequence, an
// overlong form, a surrogate, or a code point past U+10FFFF.
size_t Utf8SequenceLength(std::string_view s, size_t i) noexcept;

// Whether all of `s` is well-formed UTF-8.
bool IsUtf8(std::string_view s) noexcept;

// The start of the character that holds s[i]: `i` moved back over continuation bytes, to 0
// at most. Cutting a text there never splits a character.
size_t Utf8CharacterStart(std::string_view s, size_t i) noexcept;

struct CodePoint {
    char32_t value;
    size_t length;  // the bytes it took
};

// The well-formed character at s[i]; a byte that starts none stands for itself, one byte long.
CodePoint DecodeUtf8(std::string_view s, size_t i) noexcept;

// The character at s[i] by the pattern of its lead and continuation bytes only: overlong forms,
// surrogates and values up to 0x1FFFFF decode as they are written. A byte that starts no such
// pattern stands for itself. For orders that must stay as they were made over any bytes.
CodePoint DecodeUtf8Loose(std::string_view s, size_t i) noexcept;

}  // namespace orba::platform
