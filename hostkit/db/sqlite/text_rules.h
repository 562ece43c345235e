// Makes the embedded store compare texts and bound values as the account database server
// does: texts ignore letter case and trailing blanks, a text column refuses a value longer
// than its length, a DECIMAL(p,s) column refuses a value with more than p-s integer digits
// instead of storing it, and no text holds a NUL character.
#pragma once

#include <string>
#include <string_view>

#include "hostkit/db/sqlite/text_compare.h"

struct sqlite3;

namespace orba::hostkit {

class SqliteDatabase;

// Registers the collation on an open connection.
void RegisterServerRules(sqlite3* db);

// Gives each VARCHAR/NVARCHAR/CHAR(n) column of a CREATE TABLE script the collation and a
// length check named as on the server ("FNumber holds at most 80 characters": characters,
// not bytes, before any trailing blanks), and each DECIMAL(p,s) column a named range check.
// A column keeps a collation it already has; a rule it already has is not added again.
std::string WithServerColumnRules(std::string_view create_sql);

// Brings tables made before the rules existed up to them, in one transaction: their stored
// definitions get the collation and the checks, and every index is rebuilt in the new
// order. Returns the number of tables changed. Raises an Error when two rows of a unique
// index become equal under the collation (the message names the index), and changes
// nothing then. A value already longer than its column's new length check stays as it is:
// the check holds for every value of that column written from then on.
int UpgradeToServerRules(SqliteDatabase& db);

// When a failed statement broke one of the range checks, the server's overflow message
// naming the column; otherwise an empty text.
std::string OverflowMessage(std::string_view sqlite_message);

// When a failed statement broke a range or a length check, the server's words for it
// ('new row violates check constraint "FNumber holds at most 80 characters"'); otherwise
// an empty text.
std::string ServerRuleMessage(std::string_view sqlite_message);

}  // namespace orba::hostkit
