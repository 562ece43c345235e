// The whole command line of orbabt in one place: the program parses it, and the manual pages
// and the shell completion are written from it, so that what they say cannot drift from what
// the program takes.
#pragma once

#include "apps/orbabt/commands.h"

namespace orba::apps {

// What `orbabt --help` says the program is for.
inline constexpr const char* kProgramSummary = "orbabt: moves bills between the account databases of related branches";

// Adds every command to `app` (made with kProgramSummary), in the order `orbabt --help` lists
// them, and the program's own options.
void DefineCommandLine(CLI::App& app, CommandContext& context);

}  // namespace orba::apps
