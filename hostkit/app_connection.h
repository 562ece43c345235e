// The host's connection to the branch's account database: runs Transact-SQL batches, as the
// library writes them, against the database named in the login properties (a SQLite file,
// or a PostgreSQL server database given by its URI), and returns record sets that know their
// row count.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "hostkit/sql_trace.h"
#include "platform/dispatch.h"
#include "platform/recordset.h"

namespace orba::hostkit {

inline constexpr std::string_view kAppConnectionProgId = "OrbaConnection.AppConnection";

class Database;

class AppConnection : public platform::Dispatchable<AppConnection> {
public:
    AppConnection();
    // A connection to a given database (a file path or a server URI) instead of the one the
    // login properties name.
    explicit AppConnection(std::string database_path);
    // A connection that runs its batches on `db`, which its caller opened and keeps open for
    // longer than this object: inside a transaction the caller holds on `db`, a batch that
    // changes data is part of it (a savepoint of its own), so that what the library reads and
    // writes through this connection is checked and written at once.
    explicit AppConnection(Database& db);
    ~AppConnection() override;
    static const platform::MemberTable<AppConnection>& Members();

    // Runs one batch. A batch that changes data runs in one transaction: all its statements
    // take effect or none does, and an error names the failing statement. The record set of
    // the first statement that yields rows is returned; a batch without one returns a
    // closed, empty set.
    platform::Ref<platform::RecordSet> Execute(const std::string& sql);
    // The same for a reader that passes over the rows once: a single query comes back as a
    // forward-only set that steps the statement as it moves on, never holding all its rows.
    // Anything else runs as Execute runs it.
    platform::Ref<platform::RecordSet> ExecuteForward(const std::string& sql);

    // The database's file path, or its server URI.
    const std::string& DatabasePath();

private:
    // The database to run on: the caller's; else, for the location of the login properties
    // (read on first use), the program's connection when it shares one on this thread; else
    // one opened here on first use.
    Database& Connection();

    std::unique_ptr<Database> owned_;
    Database* given_ = nullptr;  // the caller's database
    std::string database_path_;  // empty: the login properties' account database
    std::string location_;       // what the connection is for, once known
};

}  // namespace orba::hostkit
