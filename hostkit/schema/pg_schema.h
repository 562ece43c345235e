// The ERP schema on a PostgreSQL server: the same tables, keys and indexes as on a file with
// the server's own types (NUMERIC(p,s), so the server refuses values out of a column's
// range), and text compared without regard to case.
#pragma once

#include <string>
#include <string_view>

namespace orba::hostkit {

// The schema script in the server's types: DECIMAL as NUMERIC, DATETIME as TIMESTAMP(0),
// every VARCHAR and NVARCHAR column under a case-insensitive collation, after the prologue.
std::string ErpSchemaForPostgres();

// What a server database needs before the host kit's tables: the text collation, and the
// comparisons of an integer with text that the bill statements make (a branch id kept as
// text in the system profile against an integer key), which the server otherwise refuses.
extern const std::string_view kServerSchemaPrologue;

}  // namespace orba::hostkit
