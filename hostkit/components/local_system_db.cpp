#include "hostkit/components/local_system_db.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <filesystem>

#include "platform/error.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;

namespace {

// A value that holds ";" or a quote is written quoted, so the string reads back unchanged.
std::string ConnectionValue(const std::string& value) {
    if (value.find_first_of(";\"") == std::string::npos) return value;
    std::string out = "\"";
    for (char c : value) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

}  // namespace

std::string OpenLocalSystemDatabase(const platform::ConnectionRequest& request) {
    const std::string path = request.properties.Get("Data Source");
    if (path.empty()) throw Error(ErrorCode::kBadInput, "The connection string names no data source");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw Error(ErrorCode::kFileNotFound, fmt::format("Could not find file '{}'", path));
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) {
        // Opening is lazy: reading the schema is what tells a database from any other file.
        rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    std::string message = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    if (rc != SQLITE_OK) {
        throw Error(ErrorCode::kDatabaseError, fmt::format("Cannot open database '{}': {}", path, message));
    }
    const std::string user = request.user.empty() ? "Admin" : request.user;
    return fmt::format("Provider={};User ID={};Data Source={};Mode=Share Deny None", kLocalDbProviderName,
                       ConnectionValue(user), ConnectionValue(path));
}

void RegisterLocalDatabaseProvider() {
    platform::RegisterConnectionProvider(kLocalDbProviderName, &OpenLocalSystemDatabase);
}

void UnregisterLocalDatabaseProvider() { platform::UnregisterConnectionProvider(kLocalDbProviderName); }

std::string SystemDirectoryFor(std::string_view component_dir) {
    std::error_code ec;
    if (component_dir.empty() || !std::filesystem::is_directory(component_dir, ec)) {
        throw Error(ErrorCode::kPathNotFound, fmt::format("Path not found: '{}'", component_dir));
    }
    std::string dir(component_dir);
    if (dir.back() != '/') dir += '/';
    return dir;
}

const platform::MemberTable<UtilityApp>& UtilityApp::Members() {
    static const platform::MemberTable<UtilityApp> table = [] {
        platform::MemberTable<UtilityApp> t("Application");
        t.Method("GetSystemDir", 1, 1, [](UtilityApp&, platform::CallArgs& a) {
            return platform::Variant(SystemDirectoryFor(a.Text(0)));
        });
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit
