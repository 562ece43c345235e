// The message box that every user-facing operation shows when it fails: information icon,
// OK button, the system's title, and a fixed message followed directly by the failure's
// description.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace orba::host {

inline constexpr std::string_view kMessageTitle = "Zelto提示";

// The description of a caught failure: the runtime Error's description, or what() of
// any other exception.
std::string FailureDescription(const std::exception& e);

// Shows `fixed_message` + the description of `e`.
void ReportFailure(std::string_view fixed_message, const std::exception& e);

}  // namespace orba::host
