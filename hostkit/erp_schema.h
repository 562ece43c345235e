// The branch account database's tables, as the bill statements of this system read and
// write them, with the keys and indexes a real installation has. Used to make working
// branch databases (sample data, tests, the command-line host) on embedded SQLite.
#pragma once

#include <string_view>

struct sqlite3;

namespace orba::hostkit {

class PgDatabase;

// The whole schema as one SQL script: bill headers and lines (purchase orders, delivery and
// return notices, sales orders), the master data they join to, and the system profile.
//
// Column types follow the account database: integers INTEGER, texts VARCHAR/NVARCHAR,
// money, quantities, prices and rates DECIMAL(p,s) (SQLite gives them numeric affinity and
// the connection returns them as exact decimals), dates DATETIME holding ISO text
// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS". There are no foreign-key constraints: as in the
// account database, the client application keeps the references consistent. The tables are
// created with the server's text collation and decimal range checks (server_rules.h).
extern const std::string_view kErpSchemaSql;

// Creates every table and index on an open database that has none of them yet. Runs as one
// unit: either the whole schema is created or, on failure, nothing is left behind and an
// orba::platform::Error (kDatabaseError) names what the database refused.
void CreateErpSchema(sqlite3* db);

// Raises an Error (kBadInput) naming `path` unless the open database is a branch's account
// database: it has the bill tables and says which branch it is (system option IC/BrID
// naming a row of t_SonCompany). An empty file or another program's database is refused.
// A database the check cannot read (locked by another process, no right to read a table,
// damaged) raises an Error (kDatabaseError) with the database's own reason instead.
void CheckBranchDatabase(sqlite3* db, std::string_view path);
// The same check of a database on a PostgreSQL server; the message names the server and the
// database.
void CheckBranchDatabase(PgDatabase& db);

}  // namespace orba::hostkit
