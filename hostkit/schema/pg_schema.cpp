#include "hostkit/schema.h"

#include "hostkit/db/postgres/pg_db.h"
#include "hostkit/dialect/sql_dialect_pg.h"
#include "hostkit/schema/erp_schema.h"

namespace orba::hostkit {

std::string ErpSchemaForPostgres() {
    return std::string(kServerSchemaPrologue) + ScriptInServerTypes(kErpSchemaSql, kErpServerTypes, kServerTextCollation);
}

}  // namespace orba::hostkit
