// What the command-line host does before it drives the library: register the components,
// put the login properties of the chosen account database in place, and watch for the
// message boxes the library shows, so that a failure gives a non-zero exit status.
#pragma once

#include <string>

#include "platform/ui_services.h"

namespace orba::apps {

// Registers the host kit's components and the library's two classes.
void InitHost();

// Makes `path` the account database of this process: it must exist. Returns its absolute path.
std::string UseDatabase(const std::string& path);

// Prints message boxes on standard error as "title: text" and counts them.
class CountingConsoleUi : public platform::ConsoleUiService {
public:
    platform::MessageResult ShowMessage(std::string_view text, std::string_view title, platform::MessageIcon icon,
                                        platform::MessageButtons buttons) override;
    int Count() const { return count_; }

private:
    int count_ = 0;
};

// The console service installed by InitHost.
CountingConsoleUi& ConsoleUi();

// True when standard error is a terminal (progress is shown only there).
// Raises an Error unless `path` is a branch's account database (not an empty file or
// another program's database), before anything is read from or written to it.
void RequireBranchDatabase(const std::string& path);

bool ProgressVisible();

}  // namespace orba::apps
