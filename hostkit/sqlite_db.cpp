#include "hostkit/sqlite_db.h"

#include <fmt/format.h>

#include <filesystem>

#include "platform/error.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
        std::string message = sqlite3_errmsg(db);
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        throw Error(ErrorCode::kDatabaseError, fmt::format("The database refused the statement: {}", message));
    }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

bool SqliteStatement::Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw Error(ErrorCode::kDatabaseError, fmt::format("The database failed: {}", sqlite3_errmsg(db_)));
}

void SqliteStatement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

void SqliteStatement::Bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}
void SqliteStatement::Bind(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
void SqliteStatement::BindDouble(int index, double value) { sqlite3_bind_double(stmt_, index, value); }
void SqliteStatement::BindNull(int index) { sqlite3_bind_null(stmt_, index); }

std::string SqliteStatement::ColumnText(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
}

SqliteDatabase::SqliteDatabase(const std::string& path, Mode mode) : path_(path) {
    if (mode != Mode::kCreate && !std::filesystem::is_regular_file(path)) {
        throw Error(ErrorCode::kFileNotFound, fmt::format("The account database '{}' does not exist", path));
    }
    // One connection is used by one thread at a time; SQLite need not lock around every call.
    int flags = SQLITE_OPEN_NOMUTEX;
    flags |= mode == Mode::kReadOnly ? SQLITE_OPEN_READONLY
                : mode == Mode::kCreate ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                        : SQLITE_OPEN_READWRITE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw Error(ErrorCode::kDatabaseError, fmt::format("The account database '{}' cannot be opened: {}", path, message));
    }
    sqlite3_busy_timeout(db_, 10000);
    sqlite3_extended_result_codes(db_, 1);
    // Opening succeeds on any file; reading the schema is what tells a database apart.
    if (sqlite3_exec(db_, "PRAGMA foreign_keys=ON; SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
        std::string message = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        db_ = nullptr;
        throw Error(ErrorCode::kDatabaseError, fmt::format("'{}' is not an account database: {}", path, message));
    }
}

SqliteDatabase::~SqliteDatabase() { sqlite3_close(db_); }

void SqliteDatabase::Exec(std::string_view sql) {
    std::string text(sql);
    char* message = nullptr;
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string m = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw Error(ErrorCode::kDatabaseError, fmt::format("The database '{}' failed: {}", path_, m));
    }
}

std::string SqliteDatabase::LastError() const { return sqlite3_errmsg(db_); }

}  // namespace orba::hostkit
