#include "platform/json_codec.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <clocale>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/error.h"

namespace orba::platform {
namespace {

// Containers nested deeper than this are refused on reading and writing. Exchange records
// are a handful of levels deep; the limit keeps hostile input, or a container that holds
// itself, from exhausting the stack.
constexpr int kMaxNesting = 256;
constexpr const char* kTooDeep = "containers nested more than {} levels deep";

// A text is refused once the tree read from it would take more memory than kMemoryPerByte
// bytes for each byte read so far, plus kMemoryFloor. Exchange lists take about two bytes
// for each byte of their text; what goes past the bound is text made of many tiny values,
// such as a list of empty records, where each 3 bytes of text make a record of a hundred.
// Looked at every few values as they start, so such a text is refused early, not once
// memory runs out, and reading any text costs memory within a fixed multiple of its size.
constexpr size_t kMemoryPerByte = 10;
constexpr size_t kMemoryFloor = size_t{1} << 20;

// Records held open by the reader keep up to this many entries' room for the next record at
// their depth; a larger room is let go when its record closes.
constexpr size_t kKeptEntries = 256;

// The length of the well-formed UTF-8 sequence starting at s[i], or 0.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not well-formed.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return n;
}

constexpr std::string_view kTagsExpected = "one of the tags $int16, $decimal, $date, $empty, $nothing, $dict";

[[noreturn]] void Fail(const std::string& path, std::string_view expected) {
    throw Error(ErrorCode::kSyntaxError,
                fmt::format("Unexpected JSON value at {}: expected {}", path.empty() ? "/" : path, expected));
}

// Builds the variant tree straight from the parser's events: no document tree in between,
// and the path to a value is only spelled out when a value is refused. A whole number too
// long for 64 bits is refused rather than quietly made a Double, and the builder stops at
// kMaxNesting before the tree grows too deep to walk.
//
// An object whose first key starts with "$" may be a tagged value; its first entry is held
// back until the object turns out to have a second key (a plain record) or to end (a tag).
class VariantBuilder {
public:
    explicit VariantBuilder(const ContainerFactory& factory) : factory_(factory) {}

    Variant Take() { return std::move(root_); }

    // What the tree made so far takes in memory, by the factory's measures, with the entries
    // of the records still open.
    size_t Bytes() const { return bytes_; }

    void Null() { Put(Variant::Null()); }
    void Boolean(bool b) { Put(Variant(b)); }
    // A whole number; `fits` is false for one beyond 64 bits.
    void Whole(int64_t v, bool fits) { PutWhole(v, !fits || v < INT32_MIN || v > INT32_MAX); }
    void Fraction(double v) { Put(Variant(v)); }
    void String(std::string&& s) {
        bytes_ += s.size();
        Put(Variant(std::move(s)));
    }
    void StartObject() { Open(Frame::kObject); }
    void Key(std::string&& k) {
        bytes_ += k.size();
        Frame& f = open_.back();
        if (f.keys == 1) Unhold(f);
        ++f.keys;
        f.key = std::move(k);
        f.held = f.keys == 1 && !f.raw && !f.key.empty() && f.key[0] == '$';
    }
    void EndObject() { Close(); }
    void StartArray() { Open(Frame::kArray); }
    void EndArray() { Close(); }

private:
    struct Frame {
        enum Kind { kArray, kObject } kind = kArray;
        bool raw = false;          // the object inside {"$dict": ...}: its keys are never tags
        bool held = false;         // the first entry is held back as a possible tag
        int32_t items = 0;         // items of an array so far
        int32_t keys = 0;          // keys of an object so far
        std::string key;           // the key just read
        Variant first;             // the held-back first value
        bool first_raw = false;    // the held-back first value is an object read raw
        Ref<ListContainer> list;
    };

    // The path to the value being placed in the open frames below `depth` ("/1/q").
    std::string PathTo(size_t depth) const {
        std::string path;
        for (size_t i = 0; i < depth; ++i) {
            const Frame& f = open_[i];
            path += '/';
            path += f.kind == Frame::kArray ? std::to_string(f.items) : f.key;
        }
        return path;
    }

    // A whole number: a Long, or refused with its path when it does not fit 32 bits.
    bool PutWhole(int64_t v, bool too_big) {
        if (too_big) {
            const bool tag = !open_.empty() && open_.back().held && open_.back().key == "$int16";
            Fail(PathTo(open_.size()), tag ? "an Integer (a whole number that fits 32 bits)"
                                           : "a Long (a whole number that fits 32 bits)");
        }
        return Put(Variant(static_cast<int32_t>(v)));
    }

    // Places a value where the document is: the root, the next item of the open array, or
    // the value of the key just read.
    bool Put(Variant v, bool raw = false) {
        if (open_.empty()) {
            root_ = std::move(v);
            return true;
        }
        Frame& f = open_.back();
        if (f.kind == Frame::kArray) {
            bytes_ += factory_.item_bytes;
            f.list->Append(std::move(v));
            ++f.items;
        } else if (f.keys == 1) {
            f.first = std::move(v);  // placed when the object's form is known
            f.first_raw = raw;
        } else {
            Hold(std::move(f.key), std::move(v));
        }
        return true;
    }

    // The entries of the innermost open object, gathered until it closes so that its record
    // is made at its final size. One list per depth, kept for the next object there.
    std::vector<std::pair<std::string, Variant>>& Entries() { return entries_[open_.size() - 1]; }

    // Adds an entry to the innermost open object; its room counts as the tree's until the
    // room is let go.
    void Hold(std::string&& key, Variant&& value) {
        auto& entries = Entries();
        if (entries.size() == entries.capacity()) MakeRoom(entries);
        entries.emplace_back(std::move(key), std::move(value));
    }

    void MakeRoom(std::vector<std::pair<std::string, Variant>>& entries) {
        const size_t room = std::max<size_t>(16, entries.capacity() * 2);
        bytes_ += (room - entries.capacity()) * kPendingBytes;
        entries.reserve(room);
    }

    bool Open(Frame::Kind kind) {
        if (open_.size() >= static_cast<size_t>(kMaxNesting)) {
            throw Error(ErrorCode::kSyntaxError, "Malformed JSON: " + fmt::format(kTooDeep, kMaxNesting));
        }
        const bool raw = kind == Frame::kObject && !open_.empty() && open_.back().held && open_.back().key == "$dict";
        Frame& f = open_.emplace_back();
        if (entries_.size() < open_.size()) entries_.resize(open_.size());
        f.kind = kind;
        f.raw = raw;
        if (kind == Frame::kArray) {
            bytes_ += factory_.list_bytes;
            f.list = factory_.make_list();
        }
        return true;
    }

    // The object has a second key: its first entry is a plain one after all.
    void Unhold(Frame& f) {
        // A record read raw because it stood under a "$dict" key is an ordinary value here.
        if (f.first_raw) f.first = Retag(f.first, open_.size());
        Hold(std::move(f.key), std::move(f.first));
        f.held = false;
    }

    bool Close() {
        Frame& f = open_.back();
        if (f.kind == Frame::kArray) {
            Ref<ListContainer> list = std::move(f.list);
            open_.pop_back();
            return Put(Variant(std::move(list)));
        }
        Variant value;
        bool raw = false;
        if (f.keys == 1 && f.held) {
            value = Tagged(f.key, std::move(f.first), open_.size() - 1);
        } else {
            auto& entries = Entries();
            // A one-key record whose key is no tag.
            if (f.keys == 1) Hold(std::move(f.key), std::move(f.first));
            bytes_ += factory_.map_bytes(entries.size());
            Ref<MapContainer> map = factory_.make_map(entries.size());
            for (auto& [key, v] : entries) map->Put(std::move(key), std::move(v));
            entries.clear();
            if (entries.capacity() > kKeptEntries) {
                bytes_ -= entries.capacity() * kPendingBytes;
                std::vector<std::pair<std::string, Variant>>().swap(entries);
            }
            value = Variant(std::move(map));
            raw = f.raw;
        }
        open_.pop_back();
        return Put(std::move(value), raw);
    }

    // A record read raw as the value of a first "$dict" key of an object that then had more
    // keys: read as any record is, so a single "$" key of its own is a tag.
    Variant Retag(const Variant& v, size_t depth) const {
        auto map = ObjectAs<MapContainer>(v);
        if (!map || map->Size() != 1 || map->KeyAt(0).empty() || map->KeyAt(0)[0] != '$') return v;
        return Tagged(map->KeyAt(0), map->ValueAt(0), depth);
    }

    // The value of a one-key object {"$tag": value} found under the open frames below
    // `depth`.
    Variant Tagged(const std::string& tag, Variant value, size_t depth) const {
        auto path = [&] { return PathTo(depth); };
        auto inner = [&] { return PathTo(depth) + "/" + tag; };
        if (tag == "$int16") {
            if (value.Type() != VarType::kLong) Fail(inner(), "an Integer (a whole number)");
            const int32_t v = value.AsLong();
            if (v < INT16_MIN || v > INT16_MAX) Fail(inner(), "an Integer from -32768 to 32767");
            return Variant(static_cast<int16_t>(v));
        }
        if (tag == "$decimal") {
            // Every digit sent is kept or the value is refused: a rounded quantity or amount
            // would pass on as if it were the one sent.
            if (value.IsString()) {
                const std::string_view text = value.AsString();
                if (auto d = Decimal::TryParseExact(text)) return Variant(*d);
                if (Decimal::TryParse(text)) {
                    Fail(inner(), fmt::format("a decimal number of at most {} significant digits, which are "
                                              "all kept; \"{}\" would be rounded",
                                              Decimal::kDigits, Shortened(text)));
                }
            }
            Fail(inner(), "a decimal number written as a string, like \"117.5\"");
        }
        if (tag == "$date") {
            auto d = value.IsString() ? Date::TryParse(value.AsString()) : std::nullopt;
            if (!d) Fail(inner(), "a date string \"YYYY-MM-DD\" or \"YYYY-MM-DDTHH:MM:SS\"");
            return Variant(*d);
        }
        if (tag == "$empty") return Variant();
        if (tag == "$nothing") return Variant::Nothing();
        if (tag == "$dict") {
            if (!ObjectAs<MapContainer>(value)) Fail(inner(), "an object");
            return value;
        }
        Fail(path(), fmt::format("{}, not '{}'", kTagsExpected, tag));
    }

    // A text quoted in a message: its start when it is long.
    static std::string Shortened(std::string_view text) {
        constexpr size_t kShown = 80;
        if (text.size() <= kShown) return std::string(text);
        return fmt::format("{}... ({} characters)", text.substr(0, kShown), text.size());
    }

    // An entry of an open record, held until the record closes.
    static constexpr size_t kPendingBytes = sizeof(std::pair<std::string, Variant>);

    const ContainerFactory& factory_;
    size_t bytes_ = 0;
    Variant root_;
    std::vector<Frame> open_;  // the containers not yet closed, innermost last
    std::vector<std::vector<std::pair<std::string, Variant>>> entries_;  // by depth
};

// Reads JSON text and hands each value to the builder as it is met. It is strict JSON: one
// value, UTF-8 strings, no comments, no trailing commas. A fault is reported with its line
// and column (1-based, the column counted in bytes).
class Parser {
public:
    Parser(std::string_view text, VariantBuilder& builder) : text_(text), builder_(builder) {}
    // Reads the text in pieces from `read`, holding only the piece being parsed.
    Parser(const JsonSource& read, VariantBuilder& builder) : builder_(builder), read_(&read) {}

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
    VariantBuilder& builder_;
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

class Writer {
public:
    // With a sink, the text goes out in pieces of about kChunk bytes as it is produced, so a
    // large tree never stands in memory a second time as one string.
    explicit Writer(int indent, const std::function<void(std::string_view)>* sink = nullptr)
        : indent_(indent), sink_(sink) {}

    void Flush() {
        if (!sink_ || out_.empty()) return;
        (*sink_)(out_);
        out_.clear();
    }

    void Write(const Variant& v, int depth) {
        switch (v.Type()) {
            case VarType::kEmpty: Tag("$empty", "null"); return;
            case VarType::kNull: out_ += "null"; return;
            case VarType::kBoolean: out_ += v.AsBoolean() ? "true" : "false"; return;
            case VarType::kInteger: Tag("$int16", Number(v.AsInteger())); return;
            case VarType::kLong: out_ += Number(v.AsLong()); return;
            case VarType::kDouble: WriteDouble(v.AsDouble()); return;
            case VarType::kDecimal:
                out_ += R"({"$decimal": ")";
                out_ += v.AsDecimal().ToString();
                out_ += "\"}";
                return;
            case VarType::kDate: Tag("$date", '"' + v.AsDate().ToString() + '"'); return;
            case VarType::kString: WriteString(v.AsString()); return;
            case VarType::kObject: WriteObject(v.AsObject(), depth); return;
        }
    }

    std::string Take() { return std::move(out_); }

private:
    // The key separator: a space after the colon for people, none in the compact form.
    std::string_view Colon() const { return indent_ < 0 ? ":" : ": "; }

    // A whole number's digits, in a buffer of the writer's own.
    std::string_view Number(int32_t n) {
        const auto end = std::to_chars(digits_, digits_ + sizeof digits_, n).ptr;
        return {digits_, static_cast<size_t>(end - digits_)};
    }

    // A one-key tagged object such as {"$int16": 501}, written alike in both forms.
    void Tag(std::string_view tag, std::string_view value) {
        out_ += "{\"";
        out_ += tag;
        out_ += "\": ";
        out_ += value;
        out_ += '}';
    }

    void WriteDouble(double d) {
        if (!std::isfinite(d)) {
            throw Error(ErrorCode::kInvalidProcedureCall, "A Double that is not a finite number cannot be written as JSON");
        }
        std::string s = fmt::format("{}", d);
        // Keep a fraction or exponent, so the number reads back as a Double, not a Long.
        if (s.find_first_of(".eE") == std::string::npos) s += ".0";
        out_ += s;
    }

    // A JSON string: quotes, backslashes and control characters escaped, UTF-8 kept as it
    // is; a byte that is not part of valid UTF-8 becomes U+FFFD, so the output stays JSON.
    void WriteString(std::string_view s) {
        out_.reserve(out_.size() + s.size() + 2);
        out_.push_back('"');
        for (size_t i = 0; i < s.size();) {
            // Runs of characters that need no escape go out in one piece.
            size_t run = i;
            while (run < s.size()) {
                const auto r = static_cast<unsigned char>(s[run]);
                if (r < 0x20 || r >= 0x80 || r == '"' || r == '\\') break;
                ++run;
            }
            if (run > i) {
                out_.append(s.data() + i, run - i);
                i = run;
                continue;
            }
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c >= 0x80) {
                const size_t n = Utf8SequenceLength(s, i);
                if (n == 0) {
                    out_ += "\xEF\xBF\xBD";
                    ++i;
                } else {
                    out_.append(s.substr(i, n));
                    i += n;
                }
                continue;
            }
            switch (c) {
                case '"': out_ += "\\\""; break;
                case '\\': out_ += "\\\\"; break;
                case '\n': out_ += "\\n"; break;
                case '\r': out_ += "\\r"; break;
                case '\t': out_ += "\\t"; break;
                case '\b': out_ += "\\b"; break;
                case '\f': out_ += "\\f"; break;
                default:
                    if (c < 0x20) {
                        out_ += fmt::format("\\u{:04x}", c);
                    } else {
                        out_.push_back(static_cast<char>(c));
                    }
            }
            ++i;
        }
        out_.push_back('"');
    }

    void NewLine(int depth) {
        if (indent_ < 0) return;
        out_.push_back('\n');
        out_.append(static_cast<size_t>(depth * indent_), ' ');
    }

    void WriteObject(const Ref<Object>& o, int depth) {
        if (!o) {
            Tag("$nothing", "null");
            return;
        }
        if (depth >= kMaxNesting) {
            throw Error(ErrorCode::kInvalidProcedureCall,
                        fmt::format("Cannot write JSON: {} (does a container hold itself?)",
                                    fmt::format(kTooDeep, kMaxNesting)));
        }
        if (auto* list = dynamic_cast<ListContainer*>(o.Get())) {
            const int32_t n = list->Count();
            if (n == 0) {
                out_ += "[]";
                return;
            }
            out_.push_back('[');
            for (int32_t i = 1; i <= n; ++i) {
                NewLine(depth + 1);
                Write(list->At(i), depth + 1);
                if (i < n) out_.push_back(',');
                if (sink_ && out_.size() >= kChunk) Flush();
            }
            NewLine(depth);
            out_.push_back(']');
            return;
        }
        if (auto* map = dynamic_cast<MapContainer*>(o.Get())) {
            const size_t n = map->Size();
            if (n == 0) {
                out_ += "{}";
                return;
            }
            // A lone key that starts with "$" would read back as a tag.
            const bool wrap = n == 1 && !map->KeyAt(0).empty() && map->KeyAt(0)[0] == '$';
            if (wrap) {
                out_ += R"({"$dict": )";
                ++depth;
            }
            out_.push_back('{');
            for (size_t i = 0; i < n; ++i) {
                NewLine(depth + 1);
                WriteString(map->KeyAt(i));
                out_ += Colon();
                Write(map->ValueAt(i), depth + 1);
                if (i + 1 < n) out_.push_back(',');
            }
            NewLine(depth);
            out_.push_back('}');
            if (wrap) out_.push_back('}');
            return;
        }
        throw Error(ErrorCode::kTypeMismatch,
                    fmt::format("An object of class {} cannot be written as JSON", o->ClassName()));
    }

    static constexpr size_t kChunk = 1 << 16;

    int indent_;
    const std::function<void(std::string_view)>* sink_;
    std::string out_;
    char digits_[16];
};

}  // namespace

std::string WriteJson(const Variant& value, int indent) {
    Writer w(indent);
    w.Write(value, 0);
    return w.Take();
}

void WriteJson(const Variant& value, const std::function<void(std::string_view)>& sink, int indent) {
    Writer w(indent, &sink);
    w.Write(value, 0);
    w.Flush();
}

Variant ReadJson(std::string_view text, const ContainerFactory& factory) {
    VariantBuilder builder(factory);
    Parser(text, builder).Parse();
    return builder.Take();
}

Variant ReadJson(const JsonSource& read, const ContainerFactory& factory) {
    VariantBuilder builder(factory);
    Parser(read, builder).Parse();
    return builder.Take();
}

}  // namespace orba::platform
