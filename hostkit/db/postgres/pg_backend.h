// The account database on a PostgreSQL server, behind the one database seam.
#pragma once

#include <memory>
#include <string>

#include "hostkit/database.h"

namespace orba::hostkit {

// Connects to the server database `uri` names; the database must exist (OpenMode::kCreate
// creates no server database).
std::unique_ptr<Database> OpenServerDatabase(const std::string& uri, OpenMode mode);

}  // namespace orba::hostkit
