#include "apps/orbabt/host_setup.h"

#include <fmt/format.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "facade/registration.h"
#include "hostkit/erp_schema.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/pg_db.h"
#include "hostkit/sqlite_db.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps {

namespace {
std::shared_ptr<CountingConsoleUi> g_console = std::make_shared<CountingConsoleUi>();
}

platform::MessageResult CountingConsoleUi::ShowMessage(std::string_view text, std::string_view title,
                                                       platform::MessageIcon icon, platform::MessageButtons buttons) {
    ++count_;
    // The text may carry bill numbers and names from another branch: no escape codes or
    // stray carriage returns reach the terminal.
    return ConsoleUiService::ShowMessage(platform::ForTerminal(text), platform::ForTerminal(title), icon, buttons);
}

CountingConsoleUi& ConsoleUi() { return *g_console; }

void InitHost() {
    platform::InstallUiService(g_console);
    hostkit::RegisterHostKit();
    if (OrbaBillTransmitRegister() != 0) {
        throw platform::Error(platform::ErrorCode::kCannotCreateObject, "The library's classes cannot be registered");
    }
}

std::string UseDatabase(const std::string& path) {
    // A server database's URI goes into the login properties as it is; the connection
    // reports a server or database it cannot reach.
    if (hostkit::IsServerDatabaseUri(path)) {
        hostkit::SetLoginProperties(hostkit::MakeLoginProperties(path));
        return path;
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw platform::Error(platform::ErrorCode::kFileNotFound,
                              fmt::format("The account database '{}' does not exist", path));
    }
    std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
    hostkit::SetLoginProperties(hostkit::MakeLoginProperties(absolute));
    return absolute;
}

void RequireBranchDatabase(const std::string& path) {
    if (hostkit::IsServerDatabaseUri(path)) {
        hostkit::PgDatabase db(path);
        hostkit::CheckBranchDatabase(db);
        return;
    }
    hostkit::SqliteDatabase db(path, hostkit::SqliteDatabase::Mode::kReadOnly);
    hostkit::CheckBranchDatabase(db.Handle(), path);
}

bool ProgressVisible() { return isatty(STDERR_FILENO) != 0; }

}  // namespace orba::apps
