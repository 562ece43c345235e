#include "hostkit/database.h"

#include <strings.h>

#include "hostkit/db/postgres/pg_backend.h"
#include "hostkit/db/sqlite/sqlite_backend.h"

namespace orba::hostkit {

namespace {

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

}  // namespace

bool IsServerDatabaseUri(std::string_view location) {
    return StartsWithIgnoreCase(location, "postgresql://") || StartsWithIgnoreCase(location, "postgres://");
}

std::string WithoutPassword(std::string_view location) {
    std::string uri(location);
    if (uri.find("://") == std::string::npos) return uri;
    const size_t authority = uri.find("://") + 3;
    const size_t authority_end = uri.find_first_of("/?", authority);
    const size_t at = uri.rfind('@', authority_end == std::string::npos ? uri.size() : authority_end);
    if (at != std::string::npos && at >= authority) {
        const size_t colon = uri.find(':', authority);
        if (colon != std::string::npos && colon < at) uri.erase(colon, at - colon);
    }
    // A "password=..." parameter of the query, wherever it stands.
    const size_t query = uri.find('?');
    if (query == std::string::npos) return uri;
    std::string kept;
    std::string_view rest = std::string_view(uri).substr(query + 1);
    while (!rest.empty()) {
        const size_t amp = rest.find('&');
        const std::string_view param = rest.substr(0, amp);
        if (!StartsWithIgnoreCase(param, "password=")) {
            kept += kept.empty() ? "" : "&";
            kept += param;
        }
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    }
    uri = uri.substr(0, query) + (kept.empty() ? "" : "?" + kept);
    return uri;
}

std::unique_ptr<Database> OpenDatabase(const std::string& location, OpenMode mode) {
    if (IsServerDatabaseUri(location)) return OpenServerDatabase(location, mode);
    return OpenFileDatabase(location, mode);
}

Savepoint::Savepoint(Database& db, std::string name) : db_(db), name_(std::move(name)) { db_.Exec("SAVEPOINT " + name_); }

Savepoint::~Savepoint() {
    if (!open_) return;
    try {
        db_.Exec("ROLLBACK TO " + name_ + "; RELEASE " + name_);
    } catch (const platform::Error&) {
        // Undoing after a failure: a refusal now (a connection gone) is not the failure the
        // caller reports, and the transaction around it is rolled back anyway.
    }
}

void Savepoint::Release() {
    db_.Exec("RELEASE " + name_);
    open_ = false;
}

}  // namespace orba::hostkit
