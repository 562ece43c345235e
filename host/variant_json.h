// The runtime's JSON form for trees of this library's containers.
#pragma once

#include <string>
#include <string_view>

#include "platform/json_codec.h"

namespace orba::host {

// Makes VariantVector and VariantDictionary objects for the JSON reader.
const platform::ContainerFactory& HostContainers();

platform::Variant FromJson(std::string_view text);
// Reads the text in pieces from `read` (a large file need not be held whole).
platform::Variant FromJson(const platform::JsonSource& read);
inline std::string ToJson(const platform::Variant& value, int indent = 2) {
    return platform::WriteJson(value, indent);
}

}  // namespace orba::host
