#include "platform/utf8.h"

#include <cstdint>
#include <cstring>

namespace orba::platform {
namespace {

// The character at s[i] when it is well-formed; length 0 otherwise.
CodePoint Decode(std::string_view s, size_t i) noexcept {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return {c, 1};
    size_t n;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, cp = c & 0x07;
    } else {
        return {c, 0};
    }
    if (n > s.size() - i) return {c, 0};
    for (size_t k = 1; k < n; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return {c, 0};
        cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not well-formed.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return {c, 0};
    }
    return {cp, n};
}

}  // namespace

size_t Utf8SequenceLength(std::string_view s, size_t i) noexcept { return Decode(s, i).length; }

bool IsUtf8(std::string_view s) noexcept {
    size_t i = 0;
    while (i < s.size()) {
        // Plain ASCII, eight bytes at a time: most text from a database is.
        uint64_t word;
        while (i + sizeof word <= s.size() &&
               (std::memcpy(&word, s.data() + i, sizeof word), (word & 0x8080808080808080ull) == 0)) {
            i += sizeof word;
        }
        if (i >= s.size()) break;
        const size_t n = Decode(s, i).length;
        if (n == 0) return false;
        i += n;
    }
    return true;
}

size_t Utf8CharacterStart(std::string_view s, size_t i) noexcept {
    while (i > 0 && IsUtf8Continuation(s[i])) --i;
    return i;
}

CodePoint DecodeUtf8(std::string_view s, size_t i) noexcept {
    const CodePoint cp = Decode(s, i);
    return cp.length == 0 ? CodePoint{static_cast<unsigned char>(s[i]), 1} : cp;
}

CodePoint DecodeUtf8Loose(std::string_view s, size_t i) noexcept {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    const size_t length = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
    if (length <= 1 || length > s.size() - i) return {b0, 1};
    char32_t c = b0 & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if (!IsUtf8Continuation(static_cast<char>(byte(i + k)))) return {b0, 1};
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    return {c, length};
}

}  // namespace orba::platform
