#include "hostkit/db/sqlite/sqlite_db.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <set>

#include "hostkit/db/sqlite/text_rules.h"
#include "hostkit/db/database_rules.h"
#include "platform/error.h"
#include "platform/scope_exit.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;

namespace {

// The Error for SQL that failed on a file: locked when another connection's lock outlasted
// the wait, else `doing` with the database's message, in the server's words where a column
// rule was broken.
[[noreturn]] void ThrowFailure(sqlite3* db, int rc, std::string message, std::string_view path,
                               std::string_view doing) {
    if (IsLockedOut(rc)) throw Error(ErrorCode::kDatabaseError, LockedMessage(db, path, message));
    if ((rc & 0xFF) == SQLITE_READONLY) {
        // The file, its folder or the connection does not allow writing: not a fault of the
        // statement, and not one of reading.
        const char* file = path.empty() ? sqlite3_db_filename(db, "main") : nullptr;
        throw Error(ErrorCode::kDatabaseError, fmt::format("The account database '{}' cannot be written: {}",
                                                           file ? std::string_view(file) : path, message));
    }
    if (std::string rule = ServerRuleMessage(message); !rule.empty()) message = std::move(rule);
    throw Error(ErrorCode::kDatabaseError, fmt::format("{}: {}", doing, message));
}
// Reads the schema, which is what tells a database apart from any other file; the result
// code of that read.
int ReadSchema(sqlite3* db) {
    return sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
}

// Opens `path` for the recovery below, with the caller's flags; the handle or an Error.
sqlite3* OpenForRecovery(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw Error(ErrorCode::kDatabaseError,
                    fmt::format("The account database '{}' cannot be opened: {}", path, message));
    }
    sqlite3_busy_timeout(db, DatabaseBusyTimeout());
    sqlite3_extended_result_codes(db, 1);
    return db;
}

// The files whose interrupted write this process rolled back, so that each is reported once.
bool FirstRecoveryOf(const std::string& path) {
    static std::mutex guard;
    static std::set<std::string> reported;
    std::lock_guard<std::mutex> lock(guard);
    return reported.insert(std::filesystem::absolute(path).lexically_normal().string()).second;
}

}  // namespace

void RecoverInterruptedWrite(const std::string& path) {
    // A writer that stopped in the middle of a transaction (killed, or the machine lost power)
    // leaves its rollback journal beside the file. Only a journal that no live writer holds
    // needs rolling back; a read-only connection is refused exactly then, and cannot do it
    // itself. A read-write connection rolls it back on its first read.
    std::error_code ec;
    const uintmax_t journal = std::filesystem::file_size(path + "-journal", ec);
    if (ec || journal == 0) return;
    sqlite3* probe = OpenForRecovery(path, SQLITE_OPEN_READONLY);
    const int probed = ReadSchema(probe);
    sqlite3_close(probe);
    if (probed != SQLITE_READONLY_ROLLBACK) return;
    sqlite3* writer = OpenForRecovery(path, SQLITE_OPEN_READWRITE);
    const int rc = ReadSchema(writer);
    const std::string reason = sqlite3_errmsg(writer);
    if (rc != SQLITE_OK) {
        std::string message =
            IsLockedOut(rc)
                ? LockedMessage(writer, path, reason)
                : fmt::format("The account database '{}' was left half-written by a process that stopped, and the "
                              "unfinished write cannot be rolled back: the file or its folder cannot be written by "
                              "this user ({}). Nothing of that write is kept, but until a user who may write both "
                              "opens the database once (any orbabt command), it cannot be used",
                              path, reason);
        sqlite3_close(writer);
        throw Error(ErrorCode::kDatabaseError, std::move(message));
    }
    sqlite3_close(writer);
    if (FirstRecoveryOf(path)) {
        std::cerr << fmt::format("The account database '{}' was left half-written by a process that stopped; the "
                                 "unfinished write was rolled back, and nothing of it was kept.\n",
                                 path)
                  << std::flush;
    }
}

bool IsLockedOut(int rc) { return (rc & 0xFF) == SQLITE_BUSY || rc == SQLITE_LOCKED_SHAREDCACHE; }

std::string LockedMessage(sqlite3* db, std::string_view path, std::string_view message) {
    int waited_ms = 0;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA busy_timeout", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        waited_ms = sqlite3_column_int(stmt, 0);
    }
    sqlite3_finalize(stmt);
    const char* file = path.empty() ? sqlite3_db_filename(db, "main") : nullptr;
    return fmt::format("The account database '{}' is locked by another process (waited {} ms): {}",
                       file ? std::string_view(file) : path, waited_ms, message);
}

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
    RefuseNulCharacter(sql, "statement");
    const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = sqlite3_errmsg(db);
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        ThrowFailure(db, rc, std::move(message), {}, "The database refused the statement");
    }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

bool SqliteStatement::Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    ThrowFailure(db_, rc, sqlite3_errmsg(db_), {}, "The database failed");
}

void SqliteStatement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

void SqliteStatement::Bind(int index, std::string_view text) {
    RefuseNulCharacter(text);
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
    RecoverInterruptedWrite(path);
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
    // The handle is closed when opening fails from here on: a constructor that throws runs no
    // destructor.
    platform::ScopeExit close_on_failure([this] {
        sqlite3_close(db_);
        db_ = nullptr;
    });
    sqlite3_busy_timeout(db_, DatabaseBusyTimeout());
    sqlite3_extended_result_codes(db_, 1);
    RegisterServerRules(db_);
    // Opening succeeds on any file; reading the schema is what tells a database apart. A
    // database that another process keeps locked cannot be read either, and says so.
    sqlite3_exec(db_, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
    int rc = ReadSchema(db_);
    if (rc == SQLITE_READONLY_ROLLBACK) {
        // A writer was killed between the check above and this read.
        RecoverInterruptedWrite(path);
        rc = ReadSchema(db_);
    }
    if (rc != SQLITE_OK) {
        // Only a file that is no database at all is called so; a file that cannot be read
        // (no right to, a failing disk) or is damaged is reported with its reason.
        const std::string reason = sqlite3_errmsg(db_);
        const std::string message =
            IsLockedOut(rc)                  ? LockedMessage(db_, path, reason)
            : (rc & 0xFF) == SQLITE_NOTADB ? fmt::format("'{}' is not an account database: {}", path, reason)
                                           : fmt::format("The account database '{}' cannot be read: {}", path, reason);
        throw Error(ErrorCode::kDatabaseError, message);
    }
    // Databases made before texts compared and decimals were bounded as on the server get
    // those rules on their first read-write open.
    if (mode == Mode::kReadWrite) UpgradeToServerRules(*this);
    close_on_failure.Dismiss();
}

// A statement still open would keep a plain close from closing; the connection then goes as
// soon as its last statement does.
SqliteDatabase::~SqliteDatabase() {
    if (owned_) sqlite3_close_v2(db_);
}

void SqliteDatabase::Exec(std::string_view sql) {
    RefuseNulCharacter(sql, "statement");
    std::string text(sql);
    char* message = nullptr;
    if (const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message); rc != SQLITE_OK) {
        std::string m = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        ThrowFailure(db_, rc, std::move(m), path_, fmt::format("The database '{}' failed", path_));
    }
}

std::string SqliteDatabase::LastError() const { return sqlite3_errmsg(db_); }

int SqliteStatement::ColumnCount() const { return sqlite3_column_count(stmt_); }
int64_t SqliteStatement::ColumnInt(int column) const { return sqlite3_column_int64(stmt_, column); }
bool SqliteStatement::ColumnIsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

bool InTransaction(const SqliteDatabase& db) { return !sqlite3_get_autocommit(db.Handle()); }

SqliteTransaction::SqliteTransaction(SqliteDatabase& db, std::string savepoint)
    : db_(db), savepoint_(std::move(savepoint)) {
    db_.Exec(savepoint_.empty() ? std::string("BEGIN IMMEDIATE") : "SAVEPOINT " + savepoint_);
}

SqliteTransaction::~SqliteTransaction() {
    if (!open_) return;
    if (!savepoint_.empty()) {
        const std::string undo = fmt::format("ROLLBACK TO {0}; RELEASE {0}", savepoint_);
        sqlite3_exec(db_.Handle(), undo.c_str(), nullptr, nullptr, nullptr);
    } else if (InTransaction(db_)) {
        sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void SqliteTransaction::Commit() {
    db_.Exec(savepoint_.empty() ? std::string("COMMIT") : "RELEASE " + savepoint_);
    open_ = false;
}

}  // namespace orba::hostkit
