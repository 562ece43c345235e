#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/error.h"
#include "platform/json_codec.h"
#include "platform/json_tree_builder.h"
#include "platform/utf8.h"

namespace orba::platform {
namespace {

// A text is refused once the tree read from it would take more memory than kMemoryPerByte
// bytes for each byte read so far, plus kMemoryFloor. Exchange lists take about two bytes
// for each byte of their text; what goes past the bound is text made of many tiny values,
// such as a list of empty records, where each 3 bytes of text make a record of a hundred.
// Looked at every few values as they start, so such a text is refused early, not once
// memory runs out, and reading any text costs memory within a fixed multiple of its size.
constexpr size_t kMemoryPerByte = 10;
constexpr size_t kMemoryFloor = size_t{1} << 20;

// Reads JSON text and hands each value to the builder as it is met. It is strict JSON: one
// value, UTF-8 strings, no comments, no trailing commas. A fault is reported with its line
// and column (1-based, the column counted in bytes). Written by hand rather than on a JSON
// library's event interface: on a large transmission list that interface took more than twice
// the instructions to feed the same builder, and it reports a fault after the token, not at
// the character where it is.
class Parser {
public:
    Parser(std::string_view text, JsonTreeBuilder& builder) : text_(text), builder_(builder) {}
    // Reads the text in pieces from `read`, holding only the piece being parsed.
    Parser(const JsonSource& read, JsonTreeBuilder& builder) : builder_(builder), read_(&read) {}

    void Parse() {
        SkipBlanks();
        Value();
        SkipBlanks();
        if (Have(1)) Fault("unexpected text after the value");
    }

private:
    [[noreturn]] void Fault(std::string_view what) { FaultAt(base_ + pos_, what); }

    // `position` counts from the start of the whole text.
    [[noreturn]] void FaultAt(size_t position, std::string_view what) {
        // The character found there may be in the next piece.
        if (read_ && position >= base_ + text_.size() && position >= base_ + pos_) Refill(position - base_ + 1);
        const bool in_text = position >= base_ && position - base_ < text_.size();
        std::string found =
            in_text ? fmt::format("'{}'", Printable(text_[position - base_])) : "the end of the text";
        throw Error(ErrorCode::kSyntaxError, fmt::format("Malformed JSON: parse error at {}: {} (found {})",
                                                         LineAndColumn(position), what, found));
    }

    // "line L, column C" of a position in the piece in view or at its end.
    std::string LineAndColumn(size_t position) const {
        size_t line = lines_before_, line_start = line_start_;
        for (size_t i = 0; i < std::min(position - base_, text_.size()); ++i) {
            if (text_[i] == '\n') ++line, line_start = base_ + i + 1;
        }
        return fmt::format("line {}, column {}", line, position - line_start + 1);
    }

    // Refuses the text when the tree read so far outgrows what the text's size allows. Looked
    // at every kCheckEvery values, which cannot outgrow it by much in between.
    void CheckMemory() {
        if (--until_check_ != 0) return;
        until_check_ = kCheckEvery;
        const size_t read = base_ + pos_;
        if (builder_.Bytes() <= kMemoryPerByte * read + kMemoryFloor) return;
        throw Error(ErrorCode::kSyntaxError,
                    fmt::format("JSON refused at {}: the text holds more values than its size allows "
                                "(in memory they would take more than {} times the size of the text)",
                                LineAndColumn(read), kMemoryPerByte));
    }

    // True when `n` more bytes from the current position are there, reading the next piece
    // when the text comes from a source.
    bool Have(size_t n) { return pos_ + n <= text_.size() || (read_ && Refill(pos_ + n)); }

    bool Refill(size_t needed) {
        // What the parser has passed is let go, except a number being read.
        const size_t keep = std::min(pos_, hold_ == kNone ? pos_ : hold_ - base_);
        const char* first = buffer_.data();
        if (const void* last = memrchr(first, '\n', keep)) {
            lines_before_ += static_cast<size_t>(std::count(first, first + keep, '\n'));
            line_start_ = base_ + static_cast<size_t>(static_cast<const char*>(last) - first) + 1;
        }
        buffer_.erase(0, keep);
        base_ += keep;
        pos_ -= keep;
        needed -= keep;
        while (buffer_.size() < needed && !ended_) {
            const size_t old = buffer_.size();
            buffer_.resize(old + kPiece);
            const size_t got = (*read_)(buffer_.data() + old, kPiece);
            buffer_.resize(old + got);
            ended_ = got == 0;
        }
        text_ = buffer_;
        return buffer_.size() >= needed;
    }

    static std::string Printable(char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u < 0x7F ? std::string(1, c) : fmt::format("\\x{:02x}", u);
    }

    void SkipBlanks() {
        while (Have(1)) {
            const char c = text_[pos_];
            if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
            ++pos_;
        }
    }

    char Peek() { return Have(1) ? text_[pos_] : '\0'; }

    void Value() {
        CheckMemory();
        switch (Peek()) {
            case '{': return Object();
            case '[': return Array();
            case '"': {
                std::string s;
                String(s);
                return builder_.String(std::move(s));
            }
            case 't': Literal("true"); return builder_.Boolean(true);
            case 'f': Literal("false"); return builder_.Boolean(false);
            case 'n': Literal("null"); return builder_.Null();
            default:
                if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) return Number();
                Fault("a value is expected");
        }
    }

    void Literal(std::string_view word) {
        if (!Have(word.size()) || text_.substr(pos_, word.size()) != word) {
            Fault(fmt::format("'{}' is misspelt", word));
        }
        pos_ += word.size();
    }

    void Object() {
        builder_.StartObject();
        ++pos_;
        SkipBlanks();
        if (Peek() == '}') {
            ++pos_;
            return builder_.EndObject();
        }
        for (;;) {
            if (Peek() != '"') Fault("a key in quotes is expected");
            std::string key;
            String(key);
            builder_.Key(std::move(key));
            SkipBlanks();
            if (Peek() != ':') Fault("':' is expected after a key");
            ++pos_;
            SkipBlanks();
            Value();
            SkipBlanks();
            if (Peek() == ',') {
                ++pos_;
                SkipBlanks();
                continue;
            }
            if (Peek() == '}') {
                ++pos_;
                return builder_.EndObject();
            }
            Fault("',' or '}' is expected");
        }
    }

    void Array() {
        builder_.StartArray();
        ++pos_;
        SkipBlanks();
        if (Peek() == ']') {
            ++pos_;
            return builder_.EndArray();
        }
        for (;;) {
            Value();
            SkipBlanks();
            if (Peek() == ',') {
                ++pos_;
                SkipBlanks();
                continue;
            }
            if (Peek() == ']') {
                ++pos_;
                return builder_.EndArray();
            }
            Fault("',' or ']' is expected");
        }
    }

    void Number() {
        hold_ = base_ + pos_;
        bool whole = true;
        if (Peek() == '-') ++pos_;
        if (Peek() == '0') {
            ++pos_;
        } else if (Peek() >= '1' && Peek() <= '9') {
            while (std::isdigit(static_cast<unsigned char>(Peek()))) ++pos_;
        } else {
            Fault("a digit is expected");
        }
        if (Peek() == '.') {
            whole = false;
            ++pos_;
            if (!std::isdigit(static_cast<unsigned char>(Peek()))) Fault("a digit is expected after '.'");
            while (std::isdigit(static_cast<unsigned char>(Peek()))) ++pos_;
        }
        if (Peek() == 'e' || Peek() == 'E') {
            whole = false;
            ++pos_;
            if (Peek() == '+' || Peek() == '-') ++pos_;
            if (!std::isdigit(static_cast<unsigned char>(Peek()))) Fault("a digit is expected in the exponent");
            while (std::isdigit(static_cast<unsigned char>(Peek()))) ++pos_;
        }
        const size_t start = hold_;
        hold_ = kNone;
        const char* first = text_.data() + (start - base_);
        const char* last = text_.data() + pos_;
        if (whole) {
            int64_t v = 0;
            const auto [end, ec] = std::from_chars(first, last, v);
            return builder_.Whole(v, ec == std::errc() && end == last);
        }
        double d = 0;
        if (std::from_chars(first, last, d).ec == std::errc::result_out_of_range) {
            // Too large or too small for a Double: the C library tells which (a number too
            // small to tell from zero reads as zero, as it does everywhere else).
            static const locale_t c_numbers = newlocale(LC_ALL_MASK, "C", nullptr);
            d = strtod_l(std::string(first, last).c_str(), nullptr, c_numbers);
            if (!std::isfinite(d)) FaultAt(start, "the number is too large for a Double");
        }
        builder_.Fraction(d);
    }

    // A string in quotes, escapes resolved; the text must be well-formed UTF-8.
    void String(std::string& out) {
        ++pos_;  // the opening quote
        for (;;) {
            const size_t run = pos_;
            while (pos_ < text_.size()) {
                const auto c = static_cast<unsigned char>(text_[pos_]);
                if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
                ++pos_;
            }
            out.append(text_.data() + run, pos_ - run);
            if (!Have(1)) Fault("the string is not closed");
            const auto c = static_cast<unsigned char>(text_[pos_]);
            if (c != '"' && c != '\\' && c >= 0x20 && c < 0x80) continue;  // the run goes on in the next piece
            if (c == '"') {
                ++pos_;
                return;
            }
            if (c < 0x20) Fault("a control character must be escaped in a string");
            if (c >= 0x80) {
                Have(4);  // a whole sequence in view when the text goes on
                const size_t n = Utf8SequenceLength(text_, pos_);
                if (n == 0) Fault("the string is not well-formed UTF-8");
                out.append(text_.data() + pos_, n);
                pos_ += n;
                continue;
            }
            Escape(out);
        }
    }

    void Escape(std::string& out) {
        ++pos_;  // the backslash
        const char c = Peek();
        switch (c) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                ++pos_;
                uint32_t cp = Hex4();
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (!Have(2) || text_.substr(pos_, 2) != "\\u") Fault("a high surrogate must be followed by a low one");
                    pos_ += 2;
                    const uint32_t low = Hex4();
                    if (low < 0xDC00 || low > 0xDFFF) Fault("a high surrogate must be followed by a low one");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    Fault("a low surrogate without a high one");
                }
                AppendUtf8(out, cp);
                return;
            }
            default: Fault("an unknown escape in a string");
        }
        ++pos_;
    }

    uint32_t Hex4() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = Peek();
            v <<= 4;
            if (c >= '0' && c <= '9') {
                v |= static_cast<uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                v |= static_cast<uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                v |= static_cast<uint32_t>(c - 'A' + 10);
            } else {
                Fault("four hexadecimal digits are expected after \\u");
            }
            ++pos_;
        }
        return v;
    }

    static void AppendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    static constexpr size_t kNone = static_cast<size_t>(-1);
    static constexpr size_t kPiece = 1 << 16;
    static constexpr int kCheckEvery = 16;

    std::string_view text_;  // the whole text, or the piece of it in `buffer_`
    JsonTreeBuilder& builder_;
    size_t pos_ = 0;  // in text_
    // Reading from a source: the piece in view starts at `base_` of the whole text; what was
    // let go held `lines_before_ - 1` line ends, the last one before `line_start_`.
    const JsonSource* read_ = nullptr;
    std::string buffer_;
    size_t base_ = 0;
    size_t lines_before_ = 1;
    size_t line_start_ = 0;
    size_t hold_ = kNone;  // the start of a number being read, in the whole text
    bool ended_ = false;
    int until_check_ = 1;  // values until the memory the tree takes is looked at
};

}  // namespace

Variant ReadJson(std::string_view text, const ContainerFactory& factory) {
    JsonTreeBuilder builder(factory);
    Parser(text, builder).Parse();
    return builder.Take();
}

Variant ReadJson(const JsonSource& read, const ContainerFactory& factory) {
    JsonTreeBuilder builder(factory);
    Parser(read, builder).Parse();
    return builder.Take();
}

}  // namespace orba::platform
