#include "apps/orbabt/host_setup.h"

#include <fmt/format.h>
#include <unistd.h>

#include <iostream>

#include "facade/registration.h"
#include "hostkit/database.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/schema.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps {

platform::MessageResult TerminalConsoleUi::ShowMessage(std::string_view text, std::string_view title,
                                                       platform::MessageIcon icon, platform::MessageButtons buttons) {
    // The text may carry bill numbers and names from another branch: no escape codes or
    // stray carriage returns reach the terminal.
    return ConsoleUiService::ShowMessage(platform::ForTerminal(text), platform::ForTerminal(title), icon, buttons);
}

exchange::ProgressListener TerminalProgress() {
    if (!ProgressVisible()) return {};
    return {[](std::string_view what, int done, int total) {
                std::cerr << fmt::format("\r{}: {}/{}", what, done, total) << std::flush;
            },
            [] { std::cerr << "\r\033[K" << std::flush; }};
}

void InitHost() {
    platform::InstallUiService(std::make_shared<TerminalConsoleUi>());
    hostkit::RegisterHostKit();
    if (OrbaBillTransmitRegister() != 0) {
        throw platform::Error(platform::ErrorCode::kCannotCreateObject, "The library's classes cannot be registered");
    }
}

void UseDatabase(const hostkit::Database& db) {
    hostkit::SetLoginProperties(hostkit::MakeLoginProperties(db.AbsoluteLocation()));
}

std::unique_ptr<hostkit::Database> UseDatabase(const std::string& location) {
    // Only read here; the library's connection writes through a connection of its own.
    std::unique_ptr<hostkit::Database> db = hostkit::OpenDatabase(location, hostkit::OpenMode::kReadOnly);
    UseDatabase(*db);
    return db;
}

std::unique_ptr<hostkit::Database> UseBranchDatabase(const std::string& location) {
    // The check reads only, so that a file that is no branch's database is left untouched; the
    // connection the command goes on with may write (its marking and the record of what it
    // sent are checked and written on it in one transaction).
    std::unique_ptr<hostkit::Database> db = hostkit::OpenDatabase(location, hostkit::OpenMode::kReadOnly);
    hostkit::CheckBranchDatabase(*db);
    if (!hostkit::IsServerDatabaseUri(location)) {
        db.reset();
        db = hostkit::OpenDatabase(location, hostkit::OpenMode::kReadWrite);
    }
    UseDatabase(*db);
    return db;
}

bool ProgressVisible() { return isatty(STDERR_FILENO) != 0; }

}  // namespace orba::apps
