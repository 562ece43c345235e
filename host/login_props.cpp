#include "host/login_props.h"

#include <fmt/format.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <optional>

#include "platform/dispatch.h"
#include "platform/error.h"
#include "platform/registry.h"

namespace orba::host {

using platform::Error;
using platform::ErrorCode;
using platform::Variant;

namespace {

// Keys are compared without regard to case.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
        });
    }
};

using PropertyMap = std::map<std::string, std::string, NoCaseLess>;

// The parsed properties of this process; absent until the first ParseProps.
std::optional<PropertyMap>& ParsedProps() {
    static std::optional<PropertyMap> props;
    return props;
}

std::string TrimSpaces(std::string_view s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(' ');
    return std::string(s.substr(b, e - b + 1));
}

}  // namespace

Variant GetShareProp(std::string_view name) {
    auto store = platform::CreateObject(kSharePropsProgId);
    std::vector<Variant> args{Variant(static_cast<int32_t>(getpid())), Variant(name)};
    return platform::CallByName(store, "GetProperty", platform::CallKind::kMethod, args);
}

std::string GetPropsString() { return GetShareProp(kPropsStringName).ToText(); }

std::string TakeToken(std::string& text, std::string_view delimiter) {
    if (text.empty()) return {};
    size_t pos = delimiter.empty() ? std::string::npos : text.find(delimiter);
    if (pos == std::string::npos) return std::exchange(text, std::string());
    std::string token = text.substr(0, pos);
    text.erase(0, pos + delimiter.size());
    return token;
}

std::string TakeKey(std::string& text) { return TrimSpaces(TakeToken(text, "=")); }

std::string TakeValue(std::string& text) {
    text = TrimSpaces(text);
    std::string value;
    if (!text.empty() && text.front() == '{') {
        text.erase(0, 1);
        value = TakeToken(text, "}");
        TakeToken(text, ";");  // whatever stands between the closing brace and the next ";"
    } else {
        value = TakeToken(text, ";");
    }
    return TrimSpaces(value);
}

bool ParseProps(std::string_view props) {
    auto& parsed = ParsedProps();
    parsed.emplace();
    std::string text(props);
    for (;;) {
        std::string key = TakeKey(text);
        std::string value = TakeValue(text);
        if (key.empty()) break;
        if (!parsed->emplace(key, std::move(value)).second) {
            throw Error(ErrorCode::kInvalidProcedureCall,
                        fmt::format("The login properties name the key '{}' twice", key));
        }
    }
    return true;
}

std::string GetProp(std::string_view key) {
    const auto& parsed = ParsedProps();
    if (!parsed) {
        throw Error(ErrorCode::kObjectRequired, "The login properties have not been parsed yet");
    }
    auto it = parsed->find(std::string(key));
    if (it == parsed->end()) {
        throw Error(ErrorCode::kItemNotFound, fmt::format("The login properties have no key '{}'", key));
    }
    return it->second;
}

std::string GetUserName() { return GetProp("UserName"); }

int16_t GetUserID() { return Variant(GetProp("UserID")).ToInteger(); }

std::string GetSysOption(std::string_view category, std::string_view key, std::string_view fallback) {
    try {
        auto info = platform::CreateObject(kSysInfoProgId);
        std::vector<Variant> args{Variant(GetPropsString()), Variant(category), Variant(key)};
        return platform::CallByName(info, "GetSysValue", platform::CallKind::kMethod, args).ToText();
    } catch (const std::exception&) {
        return std::string(fallback);
    }
}

}  // namespace orba::host
