// A program that has its branch database open lets the host kit's components use that
// connection instead of opening the database again on every call: the saving component,
// system information and the library's connection, asked (through the login properties) for
// the same location on the same thread, work on it while the scope lives.
#pragma once

#include <cstdint>

namespace orba::hostkit {

class Database;

// Shares `db` until it ends; it must end before `db` is closed. A file opened read-only is
// only read through, never written. A component that writes keeps its own transaction rules
// on it: inside a transaction the program holds open, its work is a savepoint of it.
class SharedDatabaseScope {
public:
    explicit SharedDatabaseScope(Database& db);
    ~SharedDatabaseScope();
    SharedDatabaseScope(const SharedDatabaseScope&) = delete;
    SharedDatabaseScope& operator=(const SharedDatabaseScope&) = delete;

private:
    uint64_t id_ = 0;
};

}  // namespace orba::hostkit
