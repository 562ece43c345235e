#include "hostkit/db/database_rules.h"

#include <fmt/format.h>

#include <atomic>

#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::hostkit {

namespace {
std::atomic<int> g_busy_timeout_ms{10000};
}

void RefuseNulCharacter(std::string_view text, std::string_view what) {
    if (text.find('\0') == std::string_view::npos) return;
    throw platform::Error(platform::ErrorCode::kBadInput,
                          fmt::format("The {} \"{}\" holds a NUL character, which the database cannot keep", what,
                                      platform::EscapeControls(text)));
}

void SetDatabaseBusyTimeout(int milliseconds) { g_busy_timeout_ms = milliseconds; }
int DatabaseBusyTimeout() { return g_busy_timeout_ms; }

}  // namespace orba::hostkit
