// The login property string parser: any text either parses or raises the runtime's Error,
// and every key it found can be read back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/login_props.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        orba::host::ParseProps(text);
    } catch (const orba::platform::Error&) {
        return 0;
    }
    for (std::string_view key : {"AcctDB", "UserName", "UserID", "DBMS Name"}) {
        try {
            (void)orba::host::GetProp(key);
            (void)orba::host::GetUserID();
        } catch (const orba::platform::Error&) {
        }
    }
    std::string rest(text);
    while (!rest.empty()) {
        const size_t before = rest.size();
        (void)orba::host::TakeKey(rest);
        (void)orba::host::TakeValue(rest);
        if (rest.size() == before) __builtin_trap();  // no progress would loop for ever
    }
    return 0;
}
