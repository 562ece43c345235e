#include "host/login_props.h"

#include <fmt/format.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <optional>

#include "platform/dispatch.h"
#include "platform/error.h"
#include "platform/login_grammar.h"
#include "platform/registry.h"
#include "platform/text.h"

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

// The library trims spaces only around keys and values; a tab is part of them.
constexpr std::string_view kBlanks = " ";

}  // namespace

Variant GetShareProp(std::string_view name) {
    auto store = platform::CreateObject(kSharePropsProgId);
    std::vector<Variant> args{Variant(static_cast<int32_t>(getpid())), Variant(name)};
    return platform::CallByName(store, "GetProperty", platform::CallKind::kMethod, args);
}

std::string GetPropsString() { return GetShareProp(kPropsStringName).ToText(); }

std::string TakeToken(std::string& text, std::string_view delimiter) {
    std::string_view rest = text;
    std::string token(platform::TakeUntil(rest, delimiter));
    text.erase(0, text.size() - rest.size());
    return token;
}

std::string TakeKey(std::string& text) { return std::string(platform::Trim(TakeToken(text, "="), kBlanks)); }

std::string TakeValue(std::string& text) {
    text = std::string(platform::Trim(text, kBlanks));
    std::string_view rest = text;
    std::string value(platform::Trim(platform::TakeLoginValue(rest), kBlanks));
    text.erase(0, text.size() - rest.size());
    return value;
}

bool ParseProps(std::string_view props) {
    auto& parsed = ParsedProps();
    parsed.emplace();
    while (auto pair = platform::NextLoginPair(props, kBlanks)) {
        if (pair->key.empty()) break;
        if (!parsed->emplace(std::string(pair->key), std::string(pair->value)).second) {
            throw Error(ErrorCode::kInvalidProcedureCall,
                        fmt::format("The login properties name the key '{}' twice", pair->key));
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
