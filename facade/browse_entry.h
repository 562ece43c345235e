// The two process-wide values the browse window shares with the facade (the browse mode
// and the selection result), and the hand-over through which the facade opens the window
// without knowing its widgets. The windows live in a module of their own, loaded from beside
// this library the first time a window is needed, so a process that never opens one never
// loads the window toolkit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/variant_vector.h"

namespace orba::facade {

// 0 send mode, any other value download mode (1 with the download tree). Starts at 0.
int32_t BrowseMode();
void SetBrowseMode(int32_t mode);

// What the last browse window command left: a send or download vector, or Nothing.
platform::Ref<host::VariantVector> SelectionResult();
void SetSelectionResult(platform::Ref<host::VariantVector> result);

// The bills chosen for the last send that were not found when it was made (deleted since
// they were listed), as the window listed them ("采购订单 POOR01-000022"); the host names
// them, since they were not sent.
std::vector<std::string> BillsNotFound();
void SetBillsNotFound(std::vector<std::string> bills);

// Creates, loads and shows the browse window modally, then unloads it.
using BrowseWindowRunner = std::function<void()>;
// Installs the runner and returns the one it replaces (tests install their own); while none
// is installed, the window module's own is used.
BrowseWindowRunner SetBrowseWindowRunner(BrowseWindowRunner runner);
// Runs the installed runner; raises an Error when no window can be shown in this process
// (no window application, or the window module cannot be loaded).
void RunBrowseWindow();

// Runs `body` inside a window application: the window module starts one unless the process
// already runs one, and routes the library's message boxes and mouse pointer to it meanwhile.
// For a host without windows of its own, such as the command-line host's browse command.
void RunInWindowApplication(const std::function<void()>& body);

// What the window module hands the facade when it is loaded.
struct WindowModuleEntries {
    void (*show_browse_window)();
    void (*run_in_window_application)(const std::function<void()>& body);
};

// The window module's file name and the C name of its entry point, which returns a pointer
// to its WindowModuleEntries.
inline constexpr const char* kWindowModuleEntry = "OrbaBillTransmitWindowEntries";
using WindowModuleEntryFn = const WindowModuleEntries* (*)();
const char* WindowModuleFileName();

}  // namespace orba::facade
