// Translates the host dialect's SQL (Transact-SQL with the old *= / =* outer joins and
// UPDATE alias ... FROM) into statements SQLite runs with the same meaning, or refuses.
//
// What it guarantees: a statement it returns means in SQLite what the source means on the
// account database server, for the constructs it rewrites (outer-join operators, UPDATE
// alias ... FROM, N'...' literals, [names]) and for those it passes through unchanged;
// where the two dialects read the same text differently and the layer cannot tell which
// meaning applies (+ next to a text literal, an empty IN list, outer joins it cannot
// place), or the nesting is deeper than 200 parentheses or sub-selects, it refuses with an
// Error instead of passing the text on. Texts compare as on the server through the
// connection's collation, not through a rewrite here.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/translated_statement.h"

namespace orba::hostkit {

// Splits a batch into statements (at ';' and where a new statement begins without any
// separator) and translates each one. Throws platform::Error with
// ErrorCode::kSqlNotTranslatable, naming the construct and quoting a short excerpt, for what
// it cannot translate faithfully. Empty statements are dropped.
//
// With a catalogue (the column names of a table, as the database holds them; none for a table
// it does not know), a column written without its table beside classic outer joins is given
// the one table of the FROM list that has it; a name found in two tables is refused as the
// server refuses it ("ambiguous column name"), naming both.
using ColumnCatalogue = std::function<std::vector<std::string>(const std::string& table)>;
std::vector<TranslatedStatement> TranslateBatch(std::string_view batch, const ColumnCatalogue& catalogue = {});

}  // namespace orba::hostkit
