// The host kit's window components (list control, bill viewer, the assistant's box) live in a
// module of their own, loaded from beside the host kit when a process first needs one, so a
// process that never opens a window never loads the window toolkit.
#pragma once

#include <string_view>

#include "platform/object.h"

namespace orba::hostkit {

inline constexpr std::string_view kListControlProgId = "OrbaList.Rilvo";
inline constexpr std::string_view kBillViewerProgId = "OrbaBills.Bills";

struct AssistantNote;

// What the module hands the host kit when it is loaded.
struct HostKitWindowEntries {
    // A new object of one of the module's classes; Nothing for any other identifier.
    platform::Ref<platform::Object> (*create)(std::string_view prog_id);
    // Shows the notice as a non-modal box when a window application runs; false otherwise.
    bool (*present_note)(const AssistantNote& note);
};

// The module's file name, and the C name of its entry point, which returns its entries.
const char* HostKitWindowModuleFileName();
inline constexpr const char* kHostKitWindowsEntry = "OrbaHostKitWindowEntries";
using HostKitWindowsEntryFn = const HostKitWindowEntries* (*)();

// Creates one of the window components; raises an Error when the module cannot be loaded.
platform::Ref<platform::Object> CreateWindowComponent(std::string_view prog_id);

// Shows the notice in a window when this process runs a window application and returns
// true; returns false otherwise, without loading the module when no window toolkit is loaded.
bool PresentNoteInWindow(const AssistantNote& note);

}  // namespace orba::hostkit
