// A thin owner of one SQLite database handle and its prepared statements, raising the
// runtime's Error with SQLite's own message and the file's path. A file that another
// process keeps locked longer than the busy timeout is reported as locked, in those words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

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
    int ColumnCount() const;
    int64_t ColumnInt(int column) const;
    bool ColumnIsNull(int column) const;

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
    // A connection someone else opened and keeps; it is not closed here.
    SqliteDatabase(sqlite3* borrowed, std::string path) : db_(borrowed), path_(std::move(path)), owned_(false) {}
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
    bool owned_ = true;
};

// Rolls back the write that a process stopped in the middle of (killed, or the power lost)
// left on the file `path`, saying so once on standard error; a read-only connection could not
// read the file until then. Nothing is done when no such write is left. An Error, saying so,
// when this user cannot write the file or its folder to roll it back.
void RecoverInterruptedWrite(const std::string& path);

// True when a result code says another connection's lock outlasted the busy timeout.
bool IsLockedOut(int rc);
// "The account database '<path>' is locked by another process (waited N ms): <message>",
// with the handle's own busy timeout; an empty `path` stands for the handle's file.
std::string LockedMessage(sqlite3* db, std::string_view path, std::string_view message);

// A transaction on one file, or with a name a savepoint inside one, that is rolled back
// when it ends without having been committed. A commit that fails (a busy database, a
// deferred constraint) leaves nothing open either.
class SqliteTransaction {
public:
    // BEGIN IMMEDIATE takes the write lock at once, so a writer that waits does so before
    // it has done anything.
    explicit SqliteTransaction(SqliteDatabase& db, std::string savepoint = {});
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;
    void Commit();

private:
    SqliteDatabase& db_;
    std::string savepoint_;
    bool open_ = true;
};

// True while a transaction is open on the handle.
bool InTransaction(const SqliteDatabase& db);

}  // namespace orba::hostkit
