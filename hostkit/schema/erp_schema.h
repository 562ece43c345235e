// What the host kit's own parts know of the ERP schema beyond what programs see
// (hostkit/schema.h): the server types of its type words, and how its names are spelt.
#pragma once

#include <string_view>
#include <utility>

#include "hostkit/dialect/sql_dialect_pg.h"
#include "hostkit/schema.h"

namespace orba::hostkit {

// The server types of the schema's type words.
extern const std::pair<std::string_view, std::string_view> kErpServerTypes[2];

// How the schema spells each of its names, for giving a server's folded result column names
// back their spelling (FieldNamesAsWritten).
const NameSpellings& ErpSchemaNames();

}  // namespace orba::hostkit
