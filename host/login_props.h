// The login property string (key=value; pairs, values optionally in braces) that the host
// application keeps in its shared property store, and the parsed view of it. Every outside
// data component takes the string as its first argument.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/variant.h"

namespace orba::host {

inline constexpr std::string_view kSharePropsProgId = "Halvern.ShareProps";
inline constexpr std::string_view kSysInfoProgId = "Varnick.SysInfo";
inline constexpr std::string_view kPropsStringName = "PropsString";

// One property of this process's group in the shared store (an object stays an object).
platform::Variant GetShareProp(std::string_view name);
// The login property string, fetched afresh on every call.
std::string GetPropsString();

// Token helpers; each consumes from `text` what it read.
std::string TakeToken(std::string& text, std::string_view delimiter);
std::string TakeKey(std::string& text);
std::string TakeValue(std::string& text);

// Replaces the process's parsed properties with those of `props`. A key given twice (keys
// ignore case) raises an Error; the pairs before it stay parsed.
bool ParseProps(std::string_view props);
// The parsed value under `key`; raises an Error before any ParseProps or for an unknown key.
std::string GetProp(std::string_view key);
std::string GetUserName();
int16_t GetUserID();  // raises a conversion Error when "UserID" is not a number

// A system option through the system-information component; `fallback` when anything fails.
std::string GetSysOption(std::string_view category, std::string_view key, std::string_view fallback);

}  // namespace orba::host
