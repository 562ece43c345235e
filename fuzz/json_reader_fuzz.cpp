// The runtime's JSON reader: any text becomes a variant tree or raises the runtime's Error;
// a tree it read is written and read back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/variant_json.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    orba::platform::Variant value;
    try {
        value = orba::host::FromJson(text);
    } catch (const orba::platform::Error&) {
        return 0;
    }
    std::string written;
    try {
        written = orba::host::ToJson(value, 0);
    } catch (const orba::platform::Error&) {
        return 0;  // e.g. a tree the writer refuses; reading it was still safe
    }
    if (orba::host::ToJson(orba::host::FromJson(written), 0) != written) __builtin_trap();
    return 0;
}
