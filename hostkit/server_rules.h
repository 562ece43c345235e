// Makes the embedded store compare texts and bound decimals as the account database server
// does: texts ignore letter case and trailing blanks, and a DECIMAL(p,s) column refuses a
// value with more than p-s integer digits instead of storing it.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace orba::hostkit {

// The collation every text column of the schema uses; registered on each connection.
inline constexpr std::string_view kTextCollation = "ERPTEXT";

// The server's answer to a value beyond a decimal column's precision.
inline constexpr std::string_view kArithmeticOverflow =
    "Arithmetic overflow error converting numeric to data type numeric";

// Compares two UTF-8 texts as the collation does: letter case of any script and trailing
// blanks make no difference. Bytes that are not valid UTF-8 compare as themselves.
int CompareServerText(std::string_view a, std::string_view b);

// Registers the collation on an open connection.
void RegisterServerRules(sqlite3* db);

// Gives each VARCHAR/NVARCHAR/CHAR column of a CREATE TABLE script the collation and each
// DECIMAL(p,s) column a named range check. Columns that already have the collation are
// left as they are.
std::string WithServerColumnRules(std::string_view create_sql);

// Brings tables made before the rules existed up to them, in one transaction: their stored
// definitions get the collation and the checks, and every index is rebuilt in the new
// order. Returns the number of tables changed. Raises an Error when two rows of a unique
// index become equal under the collation (the message names the index), and changes
// nothing then.
int UpgradeToServerRules(sqlite3* db, std::string_view path);

// When a failed statement broke one of the range checks, the server's overflow message
// naming the column; otherwise an empty text.
std::string OverflowMessage(std::string_view sqlite_message);

}  // namespace orba::hostkit
