// The check every step makes before it touches a database: that it is a branch's account
// database (the bill tables, and the system option saying which branch it is), not an empty
// file or another program's database given by mistake.
#pragma once

namespace orba::hostkit {

class Database;

// Raises an Error (kBadInput) naming the database unless it has the bill tables and says
// which branch it is (system option IC/BrID naming a row of t_SonCompany). A database the
// check cannot read (locked by another process, no right to read a table, damaged, a server
// going away) raises that failure, with the database's own reason, instead.
void CheckBranchDatabase(Database& db);

}  // namespace orba::hostkit
