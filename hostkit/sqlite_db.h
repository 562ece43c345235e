// A thin owner of one SQLite database handle and its prepared statements, raising the
// runtime's Error with SQLite's own message and the file's path. A file that another
// process keeps locked longer than the busy timeout is reported as locked, in those words.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace orba::hostkit {

class SqliteStatement {
public:
    SqliteStatement(sqlite3* db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    sqlite3_stmt* Get() const { return stmt_; }
    // True while a row is available; raises an Error when stepping fails.
    bool Step();
    void Reset();
    // Raises an Error (kBadInput) for a text holding a NUL character, as the server does.
    void Bind(int index, std::string_view text);
    void Bind(int index, int64_t value);
    void BindDouble(int index, double value);
    void BindNull(int index);
    std::string ColumnText(int column) const;
    int64_t ColumnInt(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool ColumnIsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDatabase {
public:
    enum class Mode { kReadWrite, kReadOnly, kCreate };

    // Opens an existing database file (kReadWrite, kReadOnly) or creates one (kCreate).
    // Raises an Error naming the path when the file is missing or is not a database.
    SqliteDatabase(const std::string& path, Mode mode);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    sqlite3* Handle() const { return db_; }
    const std::string& Path() const { return path_; }
    void Exec(std::string_view sql);
    // The database's message for its last failure.
    std::string LastError() const;

private:
    sqlite3* db_ = nullptr;
    std::string path_;
};

// How long a connection opened from now on, to a file or to a server database, waits for
// another process's lock before it reports the database as locked (10 s unless changed).
void SetDatabaseBusyTimeout(int milliseconds);
int DatabaseBusyTimeout();

// True when a result code says another connection's lock outlasted the busy timeout.
bool IsLockedOut(int rc);
// "The account database '<path>' is locked by another process (waited N ms): <message>",
// with the handle's own busy timeout; an empty `path` stands for the handle's file.
std::string LockedMessage(sqlite3* db, std::string_view path, std::string_view message);

// Runs `body` inside one transaction: commits when it returns, rolls back when it or the
// commit throws. A commit can fail and leave the transaction open (a busy database, a
// deferred constraint); it is rolled back then, so the handle is never left inside it.
template <class Body>
void InTransaction(SqliteDatabase& db, Body&& body) {
    db.Exec("BEGIN IMMEDIATE");
    try {
        body();
        db.Exec("COMMIT");
    } catch (...) {
        if (!sqlite3_get_autocommit(db.Handle())) sqlite3_exec(db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

}  // namespace orba::hostkit
