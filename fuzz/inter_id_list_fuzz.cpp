// The internal-number list check: what it lets into a statement is digits, blanks, signs
// and commas only, so no text can reach the SQL through a list.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/sql_text.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view list(reinterpret_cast<const char*>(data), size);
    try {
        const std::string_view checked = orba::data::CheckInterIdList(list);
        for (char c : checked) {
            const bool allowed = (c >= '0' && c <= '9') || c == ',' || c == ' ' || c == '\t' || c == '-';
            if (!allowed) __builtin_trap();
        }
        (void)orba::data::OrdTranStatusStatement(list);
    } catch (const orba::platform::Error&) {
    }
    return 0;
}
