#include "host/user_messages.h"

#include "platform/error.h"
#include "platform/ui_services.h"

namespace orba::host {

std::string FailureDescription(const std::exception& e) {
    if (const auto* error = dynamic_cast<const platform::Error*>(&e)) return error->Description();
    return e.what();
}

void ReportFailure(std::string_view fixed_message, const std::exception& e) {
    platform::ShowInfoMessage(std::string(fixed_message) + FailureDescription(e), kMessageTitle);
}

}  // namespace orba::host
