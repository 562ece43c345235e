// The transport envelope: any text is accepted as a request file, a transmission list or a
// receipt (its outcome words among it), or refused with the runtime's Error naming the file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "exchange/transport.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        auto request = orba::exchange::ReadRequestFile(text, "fuzz.json");
        (void)orba::exchange::WriteRequestFile(request);
    } catch (const orba::platform::Error&) {
    }
    try {
        auto list = orba::exchange::ReadListFile(text, "fuzz.json");
        (void)orba::exchange::WriteListFile(list);
    } catch (const orba::platform::Error&) {
    }
    try {
        auto receipt = orba::exchange::ReadReceiptFile(text, "fuzz.json");
        (void)orba::exchange::WriteReceiptFile(receipt);
    } catch (const orba::platform::Error&) {
    }
    return 0;
}
