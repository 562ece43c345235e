// The exchange's own tables in a branch's account database: the bills it received from its
// related branches, and the list that last carried each bill it sent. Made on first use and
// brought up to date when an earlier version made them; the ERP's bill tables stay as they are.
#pragma once

#include <string>
#include <string_view>

namespace orba::hostkit {

class Database;

// The tables as a script for files; a server takes them in its own types (below).
extern const std::string_view kReceivedSchema;

// Makes the tables of received bills, and brings those of an older version up to date. The
// tables are made only when missing, so an account that may not create tables saves into
// tables a database administrator made.
void EnsureReceivedTables(Database& db);

// The table of sendings, as a script for files: for each bill packaged here, the list that
// carried it last (the SHA-256 of the list's text), for which branch and when. A receipt marks
// a bill only when it answers that list.
extern const std::string_view kSentSchema;

// Makes the table of sendings when it is missing (see EnsureReceivedTables).
void EnsureSentTable(Database& db);

// A script of received tables (kReceivedSchema, or an older version of it) in the server's
// types: exact decimals as NUMERIC without a scale, so every digit sent is kept; texts under
// the server's text collation, so the unique key compares them as the server does.
std::string ReceivedSchemaForServer(std::string_view script);

}  // namespace orba::hostkit
