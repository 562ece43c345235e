// The tables of a branch's account database: the ERP's own (bill headers and lines, master
// data, system profile), as the bill statements of this system read and write them, and the
// exchange's own (received bills, sendings); and the check that a database is a branch's.
#pragma once

#include <string>
#include <string_view>

namespace orba::hostkit {

class Database;

// The whole ERP schema as one SQL script: bill headers and lines (purchase orders, delivery
// and return notices, sales orders), the master data they join to, and the system profile.
//
// Column types follow the account database: integers INTEGER, texts VARCHAR/NVARCHAR,
// money, quantities, prices and rates DECIMAL(p,s) (SQLite gives them numeric affinity and
// the connection returns them as exact decimals), dates DATETIME holding ISO text
// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS". There are no foreign-key constraints: as in the
// account database, the client application keeps the references consistent. The tables are
// created with the server's text collation and decimal range checks.
extern const std::string_view kErpSchemaSql;

// True when the database already holds the schema.
bool HasErpSchema(Database& db);

// Creates every table and index, in the database's own types, as one unit: inside the
// caller's transaction as a savepoint, or in a transaction of its own. On failure (a table
// that exists already among them) nothing is left behind and an Error (kDatabaseError)
// names what the database refused.
void CreateErpSchema(Database& db);

// The schema script for a PostgreSQL server: what the server needs first (the text
// collation, the comparisons of an integer with text), then the tables in the server's own
// types: DECIMAL as NUMERIC, DATETIME as TIMESTAMP(0), every VARCHAR and NVARCHAR column
// under a case-insensitive collation.
std::string ErpSchemaForPostgres();

// The exchange's tables of received bills, as a script for files; a server takes them in
// its own types (ReceivedSchemaForServer). Made on first use and brought up to date when an
// earlier version made them; the ERP's bill tables stay as they are.
extern const std::string_view kReceivedSchema;

// Makes the tables of received bills, and brings those of an older version up to date. The
// tables are made only when missing, so an account that may not create tables saves into
// tables a database administrator made.
void EnsureReceivedTables(Database& db);

// The table of sendings, as a script for files: for each bill packaged here, the list that
// carried it last (the SHA-256 of the list's text), for which branch and when. A receipt marks
// a bill only when it answers that list.
extern const std::string_view kSentSchema;

// Makes the table of sendings when it is missing (see EnsureReceivedTables).
void EnsureSentTable(Database& db);

// A script of received tables (kReceivedSchema, or an older version of it) in the server's
// types: exact decimals as NUMERIC without a scale, so every digit sent is kept; texts under
// the server's text collation, so the unique key compares them as the server does.
std::string ReceivedSchemaForServer(std::string_view script);

// The check every step makes before it touches a database: raises an Error (kBadInput)
// naming the database unless it has the bill tables and says which branch it is (system
// option IC/BrID naming a row of t_SonCompany), so that an empty file or another program's
// database given by mistake is never read or written as a branch's. A database the check
// cannot read (locked by another process, no right to read a table, damaged, a server going
// away) raises that failure, with the database's own reason, instead.
void CheckBranchDatabase(Database& db);

}  // namespace orba::hostkit
