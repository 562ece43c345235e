#include "platform/printable_text.h"

#include <fmt/format.h>

#include "platform/utf8.h"

namespace orba::platform {

namespace {

// A C1 control character (U+0080 to U+009F) starts at text[i]: UTF-8 writes each in two bytes.
bool IsC1Control(std::string_view text, size_t i) {
    const CodePoint cp = DecodeUtf8(text, i);
    return cp.length == 2 && cp.value <= 0x9F;
}

std::string Escape(std::string_view text, bool keep_lines) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (keep_lines && (c == '\n' || c == '\t')) {
            out.push_back(static_cast<char>(c));
        } else if (keep_lines && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // CR LF becomes the terminal's line break
        } else if (c < 0x20 || c == 0x7F) {
            out += fmt::format("\\x{:02X}", c);
        } else if (c >= 0x80 && IsC1Control(text, i)) {
            out += fmt::format("\\u{:04x}", static_cast<unsigned>(DecodeUtf8(text, i).value));
            ++i;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

}  // namespace

std::string EscapeControls(std::string_view text) { return Escape(text, false); }

std::string ForTerminal(std::string_view text) { return Escape(text, true); }

}  // namespace orba::platform
