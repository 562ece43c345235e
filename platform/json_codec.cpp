#include "platform/json_codec.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/error.h"

namespace orba::platform {
namespace {

using Json = nlohmann::ordered_json;

// Containers nested deeper than this are refused on reading and writing. Exchange records
// are a handful of levels deep; the limit keeps hostile input, or a container that holds
// itself, from exhausting the stack.
constexpr int kMaxNesting = 256;
constexpr const char* kTooDeep = "containers nested more than {} levels deep";

// Builds the document tree from the parser's events. Unlike the library's own builder it
// sees each number's text, so a whole number too long for 64 bits is not quietly turned
// into a Double, and it stops at kMaxNesting before the tree grows too deep to walk.
class TreeBuilder : public nlohmann::json_sax<Json> {
public:
    explicit TreeBuilder(std::string_view text) : text_(text) {}

    Json Take() { return std::move(root_); }

    bool null() override { return Put(nullptr); }
    bool boolean(bool b) override { return Put(b); }
    bool number_integer(number_integer_t v) override { return Put(v); }
    bool number_unsigned(number_unsigned_t v) override { return Put(v); }
    bool number_float(number_float_t v, const string_t& text) override {
        if (text.find_first_of(".eE") != string_t::npos) return Put(v);
        // A whole number beyond 64 bits. Keep it as the extreme whole number of its sign, so
        // that the reader refuses it, with its path, as one that does not fit a Long.
        if (!text.empty() && text[0] == '-') return Put(std::numeric_limits<int64_t>::min());
        return Put(std::numeric_limits<uint64_t>::max());
    }
    bool string(string_t& s) override { return Put(std::move(s)); }
    bool binary(binary_t&) override { return true; }  // JSON text holds no binary values
    bool start_object(std::size_t) override { return Open(Json::value_t::object); }
    bool key(string_t& k) override {
        slot_ = &(*open_.back())[k];
        return true;
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(Json::value_t::array); }
    bool end_array() override { return Close(); }

    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& e) override {
        // The library's message reads "[json.exception.parse_error.101] parse error at line
        // L, column C: ..."; keep the part a user can act on.
        std::string what = e.what();
        auto pos = what.find("] ");
        if (pos != std::string::npos) what = what.substr(pos + 2);
        // A number too large for a Double comes without a position of its own.
        if (what.find("line ") == std::string::npos) {
            what = fmt::format("{} at {}", what, Where(position));
        }
        throw Error(ErrorCode::kSyntaxError, "Malformed JSON: " + what);
    }

private:
    // "line L, column C" of a byte position, counted as the parser counts them.
    std::string Where(std::size_t position) const {
        position = std::min(position, text_.size());
        size_t line = 1, line_start = 0;
        for (size_t i = 0; i < position; ++i) {
            if (text_[i] == '\n') ++line, line_start = i + 1;
        }
        return fmt::format("line {}, column {}", line, position - line_start);
    }

    // Places a value where the document is: the root, the next item of the open list, or
    // the value of the key just read. Leaves the placed value in `placed_`.
    template <class V>
    bool Put(V&& v) {
        if (open_.empty()) {
            root_ = Json(std::forward<V>(v));
            placed_ = &root_;
        } else if (Json& parent = *open_.back(); parent.is_array()) {
            parent.push_back(Json(std::forward<V>(v)));
            placed_ = &parent.back();
        } else {
            *slot_ = Json(std::forward<V>(v));
            placed_ = slot_;
        }
        return true;
    }

    bool Open(Json::value_t type) {
        if (open_.size() >= static_cast<size_t>(kMaxNesting)) {
            throw Error(ErrorCode::kSyntaxError,
                        "Malformed JSON: " + fmt::format(kTooDeep, kMaxNesting));
        }
        Put(Json(type));
        open_.push_back(placed_);
        return true;
    }

    bool Close() {
        open_.pop_back();
        return true;
    }

    std::string_view text_;
    Json root_;
    std::vector<Json*> open_;  // the containers not yet closed, innermost last
    Json* slot_ = nullptr;     // where the value of the key just read goes
    Json* placed_ = nullptr;   // the value placed last
};

class Writer {
public:
    explicit Writer(int indent) : indent_(indent) {}

    void Write(const Variant& v, int depth) {
        switch (v.Type()) {
            case VarType::kEmpty: out_ += R"({"$empty": null})"; return;
            case VarType::kNull: out_ += "null"; return;
            case VarType::kBoolean: out_ += v.AsBoolean() ? "true" : "false"; return;
            case VarType::kInteger: out_ += fmt::format(R"({{"$int16": {}}})", v.AsInteger()); return;
            case VarType::kLong: out_ += std::to_string(v.AsLong()); return;
            case VarType::kDouble: WriteDouble(v.AsDouble()); return;
            case VarType::kDecimal: out_ += fmt::format(R"({{"$decimal": "{}"}})", v.AsDecimal().ToString()); return;
            case VarType::kDate: out_ += fmt::format(R"({{"$date": "{}"}})", v.AsDate().ToString()); return;
            case VarType::kString: WriteString(v.AsString()); return;
            case VarType::kObject: WriteObject(v.AsObject(), depth); return;
        }
    }

    std::string Take() { return std::move(out_); }

private:
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
            out_ += R"({"$nothing": null})";
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
                out_ += indent_ < 0 ? ":" : ": ";
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

    int indent_;
    std::string out_;
};

class Reader {
public:
    explicit Reader(const ContainerFactory& factory) : factory_(factory) {}

    Variant Read(const Json& j, const std::string& path) {
        switch (j.type()) {
            case Json::value_t::null: return Variant::Null();
            case Json::value_t::boolean: return Variant(j.get<bool>());
            case Json::value_t::number_integer:
            case Json::value_t::number_unsigned: return Variant(LongOf(j, path, "a Long"));
            case Json::value_t::number_float: return Variant(j.get<double>());
            case Json::value_t::string: return Variant(j.get<std::string>());
            case Json::value_t::array: {
                Ref<ListContainer> list = factory_.make_list();
                size_t i = 0;
                for (const Json& item : j) list->Append(Read(item, fmt::format("{}/{}", path, i++)));
                return Variant(list);
            }
            case Json::value_t::object: return ReadObject(j, path);
            default: Fail(path, "a JSON value");
        }
    }

private:
    [[noreturn]] static void Fail(const std::string& path, std::string_view expected) {
        throw Error(ErrorCode::kSyntaxError,
                    fmt::format("Unexpected JSON value at {}: expected {}", path.empty() ? "/" : path, expected));
    }

    static int32_t LongOf(const Json& j, const std::string& path, std::string_view what) {
        if (j.is_number_unsigned()) {
            auto u = j.get<uint64_t>();
            if (u > static_cast<uint64_t>(INT32_MAX)) Fail(path, fmt::format("{} (a whole number that fits 32 bits)", what));
            return static_cast<int32_t>(u);
        }
        if (!j.is_number_integer()) Fail(path, fmt::format("{} (a whole number)", what));
        auto v = j.get<int64_t>();
        if (v < INT32_MIN || v > INT32_MAX) Fail(path, fmt::format("{} (a whole number that fits 32 bits)", what));
        return static_cast<int32_t>(v);
    }

    Variant ReadObject(const Json& j, const std::string& path) {
        if (j.size() == 1 && !j.begin().key().empty() && j.begin().key()[0] == '$') {
            const std::string& tag = j.begin().key();
            const Json& value = j.begin().value();
            const std::string inner = path + "/" + tag;
            if (tag == "$int16") {
                int32_t v = LongOf(value, inner, "an Integer");
                if (v < INT16_MIN || v > INT16_MAX) Fail(inner, "an Integer from -32768 to 32767");
                return Variant(static_cast<int16_t>(v));
            }
            if (tag == "$decimal") {
                if (!value.is_string()) Fail(inner, "a decimal number written as a string, like \"117.5\"");
                auto d = Decimal::TryParse(value.get_ref<const std::string&>());
                if (!d) Fail(inner, "a decimal number written as a string, like \"117.5\"");
                return Variant(*d);
            }
            if (tag == "$date") {
                if (!value.is_string()) Fail(inner, "a date string \"YYYY-MM-DD\" or \"YYYY-MM-DDTHH:MM:SS\"");
                auto d = Date::TryParse(value.get_ref<const std::string&>());
                if (!d) Fail(inner, "a date string \"YYYY-MM-DD\" or \"YYYY-MM-DDTHH:MM:SS\"");
                return Variant(*d);
            }
            if (tag == "$empty") return Variant();
            if (tag == "$nothing") return Variant::Nothing();
            if (tag == "$dict") {
                if (!value.is_object()) Fail(inner, "an object");
                return ReadMap(value, inner);
            }
            Fail(path, fmt::format("one of the tags $int16, $decimal, $date, $empty, $nothing, $dict, not '{}'", tag));
        }
        return ReadMap(j, path);
    }

    Variant ReadMap(const Json& j, const std::string& path) {
        Ref<MapContainer> map = factory_.make_map();
        for (auto it = j.begin(); it != j.end(); ++it) {
            map->Put(it.key(), Read(it.value(), path + "/" + it.key()));
        }
        return Variant(map);
    }

    const ContainerFactory& factory_;
};

}  // namespace

std::string WriteJson(const Variant& value, int indent) {
    Writer w(indent);
    w.Write(value, 0);
    return w.Take();
}

Variant ReadJson(std::string_view text, const ContainerFactory& factory) {
    TreeBuilder builder(text);
    Json::sax_parse(text.begin(), text.end(), &builder);
    return Reader(factory).Read(builder.Take(), "");
}

}  // namespace orba::platform
