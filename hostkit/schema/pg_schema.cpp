#include "hostkit/schema/pg_schema.h"

#include "hostkit/db/postgres/pg_db.h"
#include "hostkit/dialect/sql_dialect_pg.h"
#include "hostkit/schema/erp_schema.h"

namespace orba::hostkit {

namespace {

// Text compares as the account database compares it: without regard to case. A
// nondeterministic collation lets equal-but-differently-cased values meet in comparisons,
// unique indexes, grouping and joins alike.
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

}  // namespace

const std::string_view kServerSchemaPrologue = kServerPrologue;

std::string ErpSchemaForPostgres() {
    return std::string(kServerPrologue) + ScriptInServerTypes(kErpSchemaSql, kErpServerTypes, kServerTextCollation);
}

}  // namespace orba::hostkit
