// A branch's account database, whichever backend keeps it: a SQLite file or a database on a
// PostgreSQL server. Everything in the host kit that reads or writes an account database
// goes through this one seam; OpenDatabase is the only place that asks which backend a
// location names, and each backend answers for itself where the two differ.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hostkit/translated_statement.h"
#include "platform/recordset.h"
#include "platform/variant.h"

namespace orba::hostkit {

enum class OpenMode {
    kReadWrite,  // an existing database, brought up to the current column rules if need be
    kReadOnly,   // an existing database, never written
    kCreate,     // a file that may not exist yet (a server database must exist already)
    kCreateNew,  // a new file, refusing one that exists (a server database must exist already)
};

// A statement prepared once and run many times, its values bound to its ? marks in order.
// "IS ?" compares with Null as with any value, on either backend.
class Statement {
public:
    virtual ~Statement() = default;
    // Runs it; true when it yielded a row, whose columns the readers below then give.
    virtual bool Run(const std::vector<const platform::Variant*>& values) = 0;
    bool Run(std::initializer_list<const platform::Variant*> values) { return Run(std::vector(values)); }
    virtual bool IsNull(int column) const = 0;
    virtual int64_t Int(int column) const = 0;
    virtual std::string Text(int column) const = 0;
    // The statement as the database was given it.
    virtual const std::string& Sql() const = 0;
};

// Server types of a table script's type words, e.g. {"DATETIME", "TIMESTAMP(0)"}.
using ServerTypes = std::span<const std::pair<std::string_view, std::string_view>>;

// Lets a caller name a result's fields before the set is made (a server folds unquoted
// names to lower case; the caller knows how the statement wrote them).
using NameFields = std::function<void(std::vector<platform::FieldInfo>& fields)>;

class Database {
public:
    virtual ~Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Where it was opened from (a path or a URI); the same as messages may show it (a
    // server URI without its password); and how messages name it: "database 'path'" for a
    // file, "database 'x' on server 'y'" for a server database.
    const std::string& Location() const { return location_; }
    const std::string& ShownLocation() const { return shown_; }
    const std::string& Name() const { return name_; }
    // How a sentence about it begins: "'path'" for a file, "The database 'x' on server 'y'"
    // for a server database.
    virtual std::string Subject() const = 0;
    // How a summary names it: a file by its path, a server database as "database 'x' on
    // server 'y'".
    virtual std::string Label() const = 0;
    // A location that names the same database from any working directory: a file by its
    // absolute path.
    virtual std::string AbsoluteLocation() const = 0;

    // How the host's Transact-SQL becomes statements this database runs.
    virtual std::vector<TranslatedStatement> Translate(std::string_view batch) const = 0;

    // Runs a script of one or more statements that take no values.
    virtual void Exec(std::string_view script) = 0;
    // Runs one statement with `values` bound to its ? marks, and gives all its rows (a
    // closed set for a statement without rows): integers as Long (beyond as Decimal),
    // decimals as exact Decimals, dates as Date, text as String, NULL as Null. Text that is
    // not UTF-8 is refused, naming where it stands.
    virtual platform::Ref<platform::RecordSet> Query(std::string_view sql,
                                                     const std::vector<platform::Variant>& values = {},
                                                     const NameFields& name_fields = {}) = 0;
    // The same for a reader that passes over the rows once: the set reads each row as it
    // moves on where the backend allows. `keep_alive` is held while the set is open.
    virtual platform::Ref<platform::RecordSet> QueryForward(std::string_view sql, const NameFields& name_fields,
                                                            platform::Ref<platform::Object> keep_alive) = 0;
    virtual std::unique_ptr<Statement> Prepare(std::string_view sql) = 0;

    // A writing transaction; Transaction and Savepoint below are how callers use these.
    virtual void Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() noexcept = 0;
    virtual bool InTransaction() const = 0;
    // Keeps other writers of `table` out until the transaction ends, readers not (a file's
    // write lock does so for every table already).
    virtual void HoldAgainstWriters(std::string_view table) = 0;
    // Keeps other sessions from changing the schema under the name `what` until the
    // transaction ends, so that two of them do not make the same tables at once.
    virtual void HoldForSchemaChange(std::string_view what) = 0;

    // What a database needs before the host kit's tables can be made in it (on a server,
    // the text collation and the comparisons of an integer with text); empty for a file.
    virtual std::string SchemaPrologue() const = 0;
    virtual bool HasTable(std::string_view table) = 0;
    virtual bool HasColumn(std::string_view table, std::string_view column) = 0;
    // A table script written for files in this database's own types; a server takes each
    // type word of `server_types` as given there.
    virtual std::string TableScript(std::string_view script, ServerTypes server_types) const = 0;
    // Whether the location still names what this connection was opened on, unchanged: a
    // file replaced at its path is another database, and one written since is read anew.
    virtual bool StillCurrent() const = 0;
    // Gives up a database opened with kCreateNew that could not be completed: the new file is
    // removed; on a server, what the open transaction did is undone.
    virtual void Abandon() noexcept = 0;

protected:
    Database(std::string location, std::string shown, std::string name)
        : location_(std::move(location)), shown_(std::move(shown)), name_(std::move(name)) {}

private:
    std::string location_;
    std::string shown_;
    std::string name_;
};

// A location as messages may show it: a server URI without its password (in the user part
// or as a "password" parameter); any other text as it is.
std::string WithoutPassword(std::string_view location);

// What a server URI names, as the server's client library reads it (percent-encoding undone,
// several hosts and ports joined with ","); a part the URI leaves out is empty.
struct ServerAddress {
    std::string host, hostaddr, port, dbname, user, options;
};
// Nothing when the client library cannot read the URI; `error` (when given) then says why.
std::optional<ServerAddress> ParseServerUri(std::string_view uri, std::string* error = nullptr);

// True when a location is a server URI ("postgresql://..." or "postgres://...") rather than
// a database file's path. OpenDatabase is the one place that asks.
bool IsServerDatabaseUri(std::string_view location);

// Opens the file, or connects to the server database, that `location` names: a value that
// starts with "postgresql://" or "postgres://" is a server database, anything else a file.
// Raises an Error naming it when that fails.
std::unique_ptr<Database> OpenDatabase(const std::string& location, OpenMode mode = OpenMode::kReadWrite);

// A transaction that is rolled back unless it was committed before it ends.
class Transaction {
public:
    explicit Transaction(Database& db) : db_(db) { db_.Begin(); }
    ~Transaction() {
        if (db_.InTransaction()) db_.Rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    // A commit that fails leaves nothing open: the transaction is rolled back.
    void Commit() { db_.Commit(); }

private:
    Database& db_;
};

// A savepoint inside the caller's transaction: what was done after it is undone unless it
// was released.
class Savepoint {
public:
    Savepoint(Database& db, std::string name);
    ~Savepoint();
    Savepoint(const Savepoint&) = delete;
    Savepoint& operator=(const Savepoint&) = delete;
    void Release();

private:
    Database& db_;
    std::string name_;
    bool open_ = true;
};

// Runs `body` in one transaction: committed when it returns, rolled back when it throws.
template <class Body>
void InTransaction(Database& db, Body&& body) {
    Transaction transaction(db);
    body();
    transaction.Commit();
}

// Runs `body` as one unit: inside the caller's transaction as a savepoint, undone alone
// when it throws; or, outside any, in a transaction of its own.
template <class Body>
void AsOneUnit(Database& db, Body&& body) {
    if (!db.InTransaction()) {
        InTransaction(db, body);
        return;
    }
    Savepoint unit(db, "orba_unit");
    body();
    unit.Release();
}

}  // namespace orba::hostkit
