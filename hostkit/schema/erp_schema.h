// The branch account database's tables, as the bill statements of this system read and
// write them, with the keys and indexes a real installation has. Used to make working
// branch databases (sample data, tests, the command-line host) on embedded SQLite.
#pragma once

#include <string_view>
#include <utility>

namespace orba::hostkit {

class Database;

// The whole schema as one SQL script: bill headers and lines (purchase orders, delivery and
// return notices, sales orders), the master data they join to, and the system profile.
//
// Column types follow the account database: integers INTEGER, texts VARCHAR/NVARCHAR,
// money, quantities, prices and rates DECIMAL(p,s) (SQLite gives them numeric affinity and
// the connection returns them as exact decimals), dates DATETIME holding ISO text
// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS". There are no foreign-key constraints: as in the
// account database, the client application keeps the references consistent. The tables are
// created with the server's text collation and decimal range checks (db/sqlite/text_rules.h).
extern const std::string_view kErpSchemaSql;

// The server types of the schema's type words.
extern const std::pair<std::string_view, std::string_view> kErpServerTypes[2];

// True when the database already holds the schema.
bool HasErpSchema(Database& db);

// Creates every table and index, in the database's own types, as one unit: inside the
// caller's transaction as a savepoint, or in a transaction of its own. On failure (a table
// that exists already among them) nothing is left behind and an Error (kDatabaseError)
// names what the database refused.
void CreateErpSchema(Database& db);

}  // namespace orba::hostkit
