// Texts from outside (bill numbers, names, file contents) shown in messages, logs and on a
// terminal with their control characters made visible, so a sender cannot forge lines or
// drive the terminal with escape codes.
#pragma once

#include <string>
#include <string_view>

namespace orba::platform {

// Every control character (C0 including CR, LF and TAB, DEL, and C1) written as \xNN (C1 as
// \u0080 to \u009f); everything else, backslashes included, unchanged.
std::string EscapeControls(std::string_view text);

// For a terminal: line breaks (LF, CR LF) and tabs stay, every other control character is
// written as EscapeControls writes it.
std::string ForTerminal(std::string_view text);

}  // namespace orba::platform
