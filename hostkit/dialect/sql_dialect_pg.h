// The PostgreSQL rendering of the host dialect. The dialect layer's analysis (outer joins to
// LEFT JOIN, UPDATE alias ... FROM to the target-table form) already yields text both SQLite
// and PostgreSQL read the same way; this finishes it for PostgreSQL and gives result columns
// back the names the statement wrote, which the server folds to lower case.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hostkit/dialect/sql_dialect.h"

namespace orba::hostkit {

// Translates a batch for PostgreSQL; each statement's rendered text is in `sqlite`'s place
// of the returned statements, ready for the server. Refuses what TranslateBatch refuses.
std::vector<TranslatedStatement> TranslateBatchForPostgres(std::string_view batch,
                                                           const ColumnCatalogue& catalogue = {});

// Finishes one statement rendered by the dialect layer for PostgreSQL: the commas of a FROM
// list that also has JOINs become CROSS JOIN (so an ON may name any table before it, as it
// may in SQLite), and quoted names ([name] or "name") are passed on in lower case, as the
// host database compares names without regard to case and the server folds unquoted ones.
std::string RenderForPostgres(std::string_view translated);

// How the names of a script are spelt: lower-case name -> its first spelling there. The
// caller builds one from what it knows the tables are (the schema script), since a
// "SELECT *" writes no column name of its own.
class NameSpellings {
public:
    NameSpellings() = default;
    explicit NameSpellings(std::string_view script);
    // The spelling of `folded`, or nothing.
    const std::string* Find(const std::string& folded) const;

private:
    std::unordered_map<std::string, std::string> names_;
};

// The names of result columns as `statement` wrote them: a folded name the statement (or,
// for "SELECT *", `known`) writes in another case gets that spelling back.
std::vector<std::string> FieldNamesAsWritten(const std::vector<std::string>& folded, std::string_view statement,
                                             const NameSpellings& known);

// A table script in the server's types: each type word listed in `types` (written in upper
// case) becomes its server type, and every VARCHAR or NVARCHAR column is blank-padded text
// (BPCHAR, which compares without trailing blanks yet keeps them) under `collation`, its
// length a named check on the length without trailing blanks. The rest passes as written.
using TypeNames = std::span<const std::pair<std::string_view, std::string_view>>;
std::string ScriptInServerTypes(std::string_view script, TypeNames types, std::string_view collation);
std::string ScriptInServerTypes(std::string_view script,
                                std::initializer_list<std::pair<std::string_view, std::string_view>> types,
                                std::string_view collation);

}  // namespace orba::hostkit
