#include "hostkit/pg_schema.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <optional>
#include <vector>

#include "hostkit/erp_schema.h"
#include "hostkit/pg_db.h"
#include "hostkit/sql_dialect_pg.h"
#include "hostkit/sqlite_db.h"
#include "platform/decimal.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::Decimal;
using platform::Error;
using platform::ErrorCode;

namespace {

// Text compares as the account database compares it: without regard to case. A
// nondeterministic collation lets equal-but-differently-cased values meet in comparisons,
// unique indexes, grouping and joins alike.
constexpr std::string_view kTextCollation = kServerTextCollation;
constexpr std::string_view kServerPrologue = R"sql(
CREATE COLLATION IF NOT EXISTS orba_text (provider = icu, locale = 'und-u-ks-level2', deterministic = false);

-- The bill statements compare an integer key with a number kept as text in the system
-- profile (t_SonCompany.FItemID = (SELECT FValue ...)); the account database converts the
-- text to a number for that, and so do these comparisons. They take text, not varchar, so
-- that a text column compared with a quoted literal keeps the ordinary text comparison.
CREATE FUNCTION orba_int_eq_text(integer, text) RETURNS boolean
    LANGUAGE sql IMMUTABLE AS 'SELECT $1 = CAST(trim($2) AS integer)';
CREATE FUNCTION orba_text_eq_int(text, integer) RETURNS boolean
    LANGUAGE sql IMMUTABLE AS 'SELECT CAST(trim($1) AS integer) = $2';
CREATE OPERATOR = (LEFTARG = integer, RIGHTARG = text, FUNCTION = orba_int_eq_text, COMMUTATOR = =);
CREATE OPERATOR = (LEFTARG = text, RIGHTARG = integer, FUNCTION = orba_text_eq_int, COMMUTATOR = =);
)sql";

// The first table of the schema: its presence means the schema is there.
constexpr std::string_view kSchemaMarkerTable = "t_soncompany";

}  // namespace

std::string ErpSchemaForPostgres() {
    return std::string(kServerPrologue) +
           ScriptInServerTypes(kErpSchemaSql, {{"DATETIME", "TIMESTAMP(0)"}, {"DECIMAL", "NUMERIC"}}, kTextCollation);
}

bool HasErpSchema(PgDatabase& db) {
    return db.Query("SELECT 1 FROM pg_catalog.pg_tables WHERE schemaname = current_schema() AND tablename = $1",
                    std::vector<std::optional<std::string>>{std::string(kSchemaMarkerTable)})
               .Rows() > 0;
}

void CreateErpSchema(PgDatabase& db) {
    if (HasErpSchema(db)) {
        throw Error(ErrorCode::kFileAlreadyExists,
                    fmt::format("The {} already holds the ERP schema; it is left as it is", db.Description()));
    }
    InTransaction(db, [&] { db.Exec(ErpSchemaForPostgres()); });
}

void CopyErpTables(sqlite3* source, PgDatabase& target) {
    std::vector<std::string> tables;
    {
        SqliteStatement list(source, "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite%' ORDER BY name");
        while (list.Step()) tables.push_back(list.ColumnText(0));
    }
    for (const std::string& table : tables) {
        SqliteStatement rows(source, fmt::format("SELECT * FROM \"{}\"", table));
        const int columns = sqlite3_column_count(rows.Get());
        std::vector<bool> decimal(static_cast<size_t>(columns));
        std::string names, marks;
        for (int c = 0; c < columns; ++c) {
            const char* type = sqlite3_column_decltype(rows.Get(), c);
            decimal[static_cast<size_t>(c)] = type && std::string_view(type).starts_with("DECIMAL");
            names += fmt::format("{}{}", c ? ", " : "", sqlite3_column_name(rows.Get(), c));
            marks += fmt::format("{}${}", c ? ", " : "", c + 1);
        }
        const std::string insert = fmt::format("INSERT INTO {} ({}) VALUES ({})", table, names, marks);
        std::vector<std::optional<std::string>> values(static_cast<size_t>(columns));
        while (rows.Step()) {
            for (int c = 0; c < columns; ++c) {
                auto& v = values[static_cast<size_t>(c)];
                switch (sqlite3_column_type(rows.Get(), c)) {
                    case SQLITE_NULL: v.reset(); break;
                    case SQLITE_FLOAT: {
                        // A decimal column holds its value as a double of up to 15 digits;
                        // read back as the connection reads it, it is the decimal stored.
                        const double d = sqlite3_column_double(rows.Get(), c);
                        v = decimal[static_cast<size_t>(c)] ? Decimal::FromDouble(d).ToString() : fmt::format("{}", d);
                        break;
                    }
                    default: v = rows.ColumnText(c); break;
                }
            }
            target.Query(insert, values);
        }
    }
}

void CreateSampleDatabaseOnServer(const std::string& uri, const SampleOptions& options) {
    PgDatabase target(uri);
    if (HasErpSchema(target)) {
        throw Error(ErrorCode::kFileAlreadyExists,
                    fmt::format("The {} already holds the ERP schema; it is left as it is", target.Description()));
    }
    // The generator writes to a private in-memory database first, so the server receives the
    // very rows a sample file gets for the same options.
    SqliteDatabase scratch(":memory:", SqliteDatabase::Mode::kCreate);
    CreateErpSchema(scratch.Handle());
    PopulateSampleData(scratch.Handle(), options);
    InTransaction(target, [&] {
        target.Exec(ErpSchemaForPostgres());
        CopyErpTables(scratch.Handle(), target);
    });
}

}  // namespace orba::hostkit
