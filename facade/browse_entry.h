// The two process-wide values the browse window shares with the facade (the browse mode
// and the selection result), and the hand-over through which the facade opens the window
// without knowing its widgets: the window registers how it is shown when the library loads.
#pragma once

#include <cstdint>
#include <functional>

#include "host/variant_vector.h"

namespace orba::facade {

// 0 send mode, any other value download mode (1 with the download tree). Starts at 0.
int32_t BrowseMode();
void SetBrowseMode(int32_t mode);

// What the last browse window command left: a send or download vector, or Nothing.
platform::Ref<host::VariantVector> SelectionResult();
void SetSelectionResult(platform::Ref<host::VariantVector> result);

// Creates, loads and shows the browse window modally, then unloads it.
using BrowseWindowRunner = std::function<void()>;
// Installs the runner and returns the one it replaces (tests install their own).
BrowseWindowRunner SetBrowseWindowRunner(BrowseWindowRunner runner);
// Runs the installed runner; raises an Error when no window can be shown in this process.
void RunBrowseWindow();

}  // namespace orba::facade
