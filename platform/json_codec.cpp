#include "platform/json_codec.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "platform/error.h"

namespace orba::platform {
namespace {

// Containers nested deeper than this are refused on reading and writing. Exchange records
// are a handful of levels deep; the limit keeps hostile input, or a container that holds
// itself, from exhausting the stack.
constexpr int kMaxNesting = 256;
constexpr const char* kTooDeep = "containers nested more than {} levels deep";

constexpr std::string_view kTagsExpected = "one of the tags $int16, $decimal, $date, $empty, $nothing, $dict";

[[noreturn]] void Fail(const std::string& path, std::string_view expected) {
    throw Error(ErrorCode::kSyntaxError,
                fmt::format("Unexpected JSON value at {}: expected {}", path.empty() ? "/" : path, expected));
}

// Builds the variant tree straight from the parser's events: no document tree in between,
// and the path to a value is only spelled out when a value is refused. Sees each number's
// text, so a whole number too long for 64 bits is refused rather than quietly made a Double,
// and stops at kMaxNesting before the tree grows too deep to walk.
//
// An object whose first key starts with "$" may be a tagged value; its first entry is held
// back until the object turns out to have a second key (a plain record) or to end (a tag).
class VariantBuilder : public nlohmann::json_sax<nlohmann::json> {
public:
    VariantBuilder(std::string_view text, const ContainerFactory& factory) : text_(text), factory_(factory) {}

    Variant Take() { return std::move(root_); }

    bool null() override { return Put(Variant::Null()); }
    bool boolean(bool b) override { return Put(Variant(b)); }
    bool number_integer(number_integer_t v) override { return PutWhole(v, v < INT32_MIN || v > INT32_MAX); }
    bool number_unsigned(number_unsigned_t v) override {
        return PutWhole(static_cast<int64_t>(std::min<uint64_t>(v, INT32_MAX + 1ULL)), v > INT32_MAX);
    }
    bool number_float(number_float_t v, const string_t& text) override {
        // A whole number beyond 64 bits arrives here too; it does not fit a Long either.
        if (text.find_first_of(".eE") == string_t::npos) return PutWhole(0, true);
        return Put(Variant(v));
    }
    bool string(string_t& s) override { return Put(Variant(std::move(s))); }
    bool binary(binary_t&) override { return true; }  // JSON text holds no binary values
    bool start_object(std::size_t) override { return Open(Frame::kObject); }
    bool key(string_t& k) override {
        Frame& f = open_.back();
        if (f.keys == 1) Unhold(f);
        ++f.keys;
        f.key = std::move(k);
        f.held = f.keys == 1 && !f.raw && !f.key.empty() && f.key[0] == '$';
        return true;
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(Frame::kArray); }
    bool end_array() override { return Close(); }

    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) override {
        // The library's message reads "[json.exception.parse_error.101] parse error at line
        // L, column C: ..."; keep the part a user can act on.
        std::string what = e.what();
        auto pos = what.find("] ");
        if (pos != std::string::npos) what = what.substr(pos + 2);
        // A number too large for a Double comes without a position of its own.
        if (what.find("line ") == std::string::npos) what = fmt::format("{} at {}", what, Where(position));
        throw Error(ErrorCode::kSyntaxError, "Malformed JSON: " + what);
    }

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
        Ref<MapContainer> map;     // made when the object turns out to be a plain record
    };

    // "line L, column C" of a byte position, counted as the parser counts them.
    std::string Where(std::size_t position) const {
        position = std::min(position, text_.size());
        size_t line = 1, line_start = 0;
        for (size_t i = 0; i < position; ++i) {
            if (text_[i] == '\n') ++line, line_start = i + 1;
        }
        return fmt::format("line {}, column {}", line, position - line_start);
    }

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
            f.list->Append(std::move(v));
            ++f.items;
        } else if (f.keys == 1) {
            f.first = std::move(v);  // placed when the object's form is known
            f.first_raw = raw;
        } else {
            f.map->Put(std::move(f.key), std::move(v));
        }
        return true;
    }

    bool Open(Frame::Kind kind) {
        if (open_.size() >= static_cast<size_t>(kMaxNesting)) {
            throw Error(ErrorCode::kSyntaxError, "Malformed JSON: " + fmt::format(kTooDeep, kMaxNesting));
        }
        const bool raw = kind == Frame::kObject && !open_.empty() && open_.back().held && open_.back().key == "$dict";
        Frame& f = open_.emplace_back();
        f.kind = kind;
        f.raw = raw;
        if (kind == Frame::kArray) f.list = factory_.make_list();
        return true;
    }

    // The object has a second key: its first entry is a plain one after all.
    void Unhold(Frame& f) {
        f.map = factory_.make_map();
        // A record read raw because it stood under a "$dict" key is an ordinary value here.
        if (f.first_raw) f.first = Retag(f.first, open_.size());
        f.map->Put(std::move(f.key), std::move(f.first));
        f.held = false;
    }

    bool Close() {
        Frame f = std::move(open_.back());
        if (f.kind == Frame::kArray) {
            open_.pop_back();
            return Put(Variant(f.list));
        }
        Variant value;
        bool raw = false;
        if (f.keys == 1 && f.held) {
            value = Tagged(f.key, std::move(f.first), PathTo(open_.size() - 1));
        } else {
            if (f.keys == 1) {
                // A one-key record whose key is no tag.
                f.map = factory_.make_map();
                f.map->Put(std::move(f.key), std::move(f.first));
            } else if (f.keys == 0) {
                f.map = factory_.make_map();
            }
            value = Variant(f.map);
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
        return Tagged(map->KeyAt(0), map->ValueAt(0), PathTo(depth));
    }

    // The value of a one-key object {"$tag": value} found at `path`.
    static Variant Tagged(const std::string& tag, Variant value, const std::string& path) {
        const std::string inner = path + "/" + tag;
        if (tag == "$int16") {
            if (value.Type() != VarType::kLong) Fail(inner, "an Integer (a whole number)");
            const int32_t v = value.AsLong();
            if (v < INT16_MIN || v > INT16_MAX) Fail(inner, "an Integer from -32768 to 32767");
            return Variant(static_cast<int16_t>(v));
        }
        if (tag == "$decimal") {
            auto d = value.IsString() ? Decimal::TryParse(value.AsString()) : std::nullopt;
            if (!d) Fail(inner, "a decimal number written as a string, like \"117.5\"");
            return Variant(*d);
        }
        if (tag == "$date") {
            auto d = value.IsString() ? Date::TryParse(value.AsString()) : std::nullopt;
            if (!d) Fail(inner, "a date string \"YYYY-MM-DD\" or \"YYYY-MM-DDTHH:MM:SS\"");
            return Variant(*d);
        }
        if (tag == "$empty") return Variant();
        if (tag == "$nothing") return Variant::Nothing();
        if (tag == "$dict") {
            if (!ObjectAs<MapContainer>(value)) Fail(inner, "an object");
            return value;
        }
        Fail(path, fmt::format("{}, not '{}'", kTagsExpected, tag));
    }

    std::string_view text_;
    const ContainerFactory& factory_;
    Variant root_;
    std::vector<Frame> open_;  // the containers not yet closed, innermost last
};

class Writer {
public:
    // With a sink, the text goes out in pieces of about kChunk bytes as it is produced, so a
    // large tree never stands in memory a second time as one string.
    explicit Writer(int indent, std::ostream* sink = nullptr) : indent_(indent), sink_(sink) {}

    void Flush() {
        if (!sink_ || out_.empty()) return;
        sink_->write(out_.data(), static_cast<std::streamsize>(out_.size()));
        out_.clear();
    }

    void Write(const Variant& v, int depth) {
        switch (v.Type()) {
            case VarType::kEmpty: Tag("$empty", "null"); return;
            case VarType::kNull: out_ += "null"; return;
            case VarType::kBoolean: out_ += v.AsBoolean() ? "true" : "false"; return;
            case VarType::kInteger: Tag("$int16", fmt::format("{}", v.AsInteger())); return;
            case VarType::kLong: out_ += std::to_string(v.AsLong()); return;
            case VarType::kDouble: WriteDouble(v.AsDouble()); return;
            case VarType::kDecimal: Tag("$decimal", '"' + v.AsDecimal().ToString() + '"'); return;
            case VarType::kDate: Tag("$date", '"' + v.AsDate().ToString() + '"'); return;
            case VarType::kString: WriteString(v.AsString()); return;
            case VarType::kObject: WriteObject(v.AsObject(), depth); return;
        }
    }

    std::string Take() { return std::move(out_); }

private:
    // The key separator: a space after the colon for people, none in the compact form.
    std::string_view Colon() const { return indent_ < 0 ? ":" : ": "; }

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

    // The length of the well-formed UTF-8 sequence starting at s[i], or 0.
    static size_t Utf8SequenceLength(std::string_view s, size_t i) {
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
    std::ostream* sink_;
    std::string out_;
};

}  // namespace

std::string WriteJson(const Variant& value, int indent) {
    Writer w(indent);
    w.Write(value, 0);
    return w.Take();
}

void WriteJson(const Variant& value, std::ostream& out, int indent) {
    Writer w(indent, &out);
    w.Write(value, 0);
    w.Flush();
}

Variant ReadJson(std::string_view text, const ContainerFactory& factory) {
    VariantBuilder builder(text, factory);
    nlohmann::json::sax_parse(text.begin(), text.end(), &builder);
    return builder.Take();
}

}  // namespace orba::platform
