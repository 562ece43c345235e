// The account database in a SQLite file, behind the one database seam.
#pragma once

#include <memory>
#include <string>

#include "hostkit/database.h"

struct sqlite3;

namespace orba::hostkit {

// Opens the file at `path` (which must exist unless `mode` creates it), with the server's
// text and number rules and its ROUND.
std::unique_ptr<Database> OpenFileDatabase(const std::string& path, OpenMode mode);

// The database behind a connection someone else opened and keeps (a test's own, say), for
// running the host kit's writers on it; `name` is how messages name it.
std::unique_ptr<Database> BorrowFileDatabase(sqlite3* handle, const std::string& name);

// True for a file opened with OpenMode::kReadOnly: a connection never to be written on.
bool IsReadOnlyFile(const Database& db);

}  // namespace orba::hostkit
