#include "platform/json_tree_builder.h"

#include <string_view>

namespace orba::platform {
namespace {

constexpr std::string_view kTagsExpected = "one of the tags $int16, $decimal, $date, $empty, $nothing, $dict";

[[noreturn]] void Fail(const std::string& path, std::string_view expected) {
    throw Error(ErrorCode::kSyntaxError,
                fmt::format("Unexpected JSON value at {}: expected {}", path.empty() ? "/" : path, expected));
}

}  // namespace

void JsonTreeBuilder::RefuseWhole() const {
    const bool tag = !open_.empty() && open_.back().held && open_.back().key == "$int16";
    Fail(PathTo(open_.size()), tag ? "an Integer (a whole number that fits 32 bits)"
                                   : "a Long (a whole number that fits 32 bits)");
}

std::string JsonTreeBuilder::PathTo(size_t depth) const {
    std::string path;
    for (size_t i = 0; i < depth; ++i) {
        const Frame& f = open_[i];
        path += '/';
        path += f.kind == Frame::kArray ? std::to_string(f.items) : f.key;
    }
    return path;
}

void JsonTreeBuilder::MakeRoom(std::vector<std::pair<std::string, Variant>>& entries) {
    const size_t room = std::max<size_t>(16, entries.capacity() * 2);
    bytes_ += (room - entries.capacity()) * kPendingBytes;
    entries.reserve(room);
}

void JsonTreeBuilder::Unhold(Frame& f) {
    // A record read raw because it stood under a "$dict" key is an ordinary value here.
    if (f.first_raw) f.first = Retag(f.first, open_.size());
    Hold(std::move(f.key), std::move(f.first));
    f.held = false;
}

Variant JsonTreeBuilder::Retag(const Variant& v, size_t depth) const {
    auto map = ObjectAs<MapContainer>(v);
    if (!map || map->Size() != 1 || map->KeyAt(0).empty() || map->KeyAt(0)[0] != '$') return v;
    return Tagged(map->KeyAt(0), map->ValueAt(0), depth);
}

Variant JsonTreeBuilder::Tagged(const std::string& tag, Variant value, size_t depth) const {
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

std::string JsonTreeBuilder::Shortened(std::string_view text) {
    constexpr size_t kShown = 80;
    if (text.size() <= kShown) return std::string(text);
    return fmt::format("{}... ({} characters)", text.substr(0, kShown), text.size());
}

}  // namespace orba::platform
