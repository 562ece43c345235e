// What the command-line host does before it drives the library: register the components, put
// the login properties of the chosen account database in place, and show the library's
// message boxes and progress on the terminal.
#pragma once

#include <memory>
#include <string>

#include "exchange/library.h"
#include "platform/ui_services.h"

namespace orba::hostkit {
class Database;
}

namespace orba::apps {

// Registers the host kit's components and the library's two classes.
void InitHost();

// Opens, once for a command, the account database that `location` names (a file's path or a
// server URI) and points the library's connection in this process at it. A file must exist.
std::unique_ptr<hostkit::Database> UseDatabase(const std::string& location);
// The same for a command that reads or writes bills: an Error unless it is a branch's account
// database (not an empty file or another program's database), before anything is read from
// or written to it. The connection returned may write.
std::unique_ptr<hostkit::Database> UseBranchDatabase(const std::string& location);
// Points the library's connection in this process at `db`; a command that works on two
// databases turns from one to the other.
void UseDatabase(const hostkit::Database& db);

// Prints message boxes on standard error as "title: text", made safe for a terminal.
class TerminalConsoleUi : public platform::ConsoleUiService {
public:
    platform::MessageResult ShowMessage(std::string_view text, std::string_view title, platform::MessageIcon icon,
                                        platform::MessageButtons buttons) override;
};

// Shows a long step's progress as "what: done/total" on one line of standard error, when it is
// a terminal, and clears the line when the step ends.
exchange::ProgressListener TerminalProgress();

// True when standard error is a terminal (progress is shown only there).
bool ProgressVisible();

}  // namespace orba::apps
