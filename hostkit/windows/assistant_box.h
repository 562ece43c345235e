// The help assistant's notice as a window: a non-modal message box, shown when the process
// runs a window application. Part of the window module; the assistant itself is not.
#pragma once

#include "hostkit/windows/assistant.h"

namespace orba::hostkit {

// Shows the notice and returns true, without waiting for the user; false when this
// process runs no window application.
bool PresentNoteInBox(const AssistantNote& note);

}  // namespace orba::hostkit
