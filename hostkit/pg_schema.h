// The ERP schema and the sample data on a PostgreSQL server: the same tables, keys and
// indexes as on SQLite with the server's own types (NUMERIC(p,s), so the server refuses
// values out of a column's range), text compared without regard to case, and the same
// sample rows from the same seed.
#pragma once

#include <string>
#include <string_view>

#include "hostkit/sample_data.h"

struct sqlite3;

namespace orba::hostkit {

class PgDatabase;

// The schema script in the server's types: DECIMAL as NUMERIC, DATETIME as TIMESTAMP(0),
// every VARCHAR and NVARCHAR column under a case-insensitive collation. It also defines the
// comparisons of an integer with text that the bill statements make (a branch id kept as
// text in the system profile against an integer key), which the server otherwise refuses.
std::string ErpSchemaForPostgres();

// True when the database already holds the ERP schema.
bool HasErpSchema(PgDatabase& db);

// The collation every text column of a server branch database compares under.
inline constexpr std::string_view kServerTextCollation = "orba_text";

// Creates the schema in one transaction; refuses (kFileAlreadyExists, naming the database)
// a database that already holds it.
void CreateErpSchema(PgDatabase& db);

// Copies every row of every ERP table of `source` into the same, empty tables of `target`,
// value for value (decimals exactly, dates as dates), inside the caller's transaction.
void CopyErpTables(sqlite3* source, PgDatabase& target);

// Creates the schema and the sample data on the server database `uri`, the same rows as
// CreateSampleDatabase writes to a file for the same options, all in one transaction.
void CreateSampleDatabaseOnServer(const std::string& uri, const SampleOptions& options);

}  // namespace orba::hostkit
