#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <string>

#include "platform/error.h"
#include "platform/json_codec.h"
#include "platform/json_limits.h"
#include "platform/utf8.h"

namespace orba::platform {
namespace {

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
        if (depth >= kMaxJsonNesting) {
            throw Error(ErrorCode::kInvalidProcedureCall,
                        fmt::format("Cannot write JSON: {} (does a container hold itself?)",
                                    fmt::format(kJsonTooDeep, kMaxJsonNesting)));
        }
        // Records first: they are most of a list's objects, and each cast that fails costs.
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
        if (auto* stream = dynamic_cast<ListStream*>(o.Get())) {
            // Written as the list of the same items would be; the text of each item goes out
            // before the next one is made.
            Variant item;
            bool first = true;
            while (stream->Next(item)) {
                out_.push_back(first ? '[' : ',');
                first = false;
                NewLine(depth + 1);
                Write(item, depth + 1);
                item = Variant();
                if (sink_ && out_.size() >= kChunk) Flush();
            }
            if (first) {
                out_ += "[]";
                return;
            }
            NewLine(depth);
            out_.push_back(']');
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

}  // namespace orba::platform
