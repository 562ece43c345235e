// What a host-kit component is handed when the program shares its open connection to the
// database the component is asked for (SharedDatabaseScope): that connection, and statements
// prepared on it that last as long as the sharing.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "hostkit/database.h"
#include "hostkit/shared_database.h"

namespace orba::hostkit {

class SharedDatabase {
public:
    explicit SharedDatabase(Database& db) : db_(db) {}
    Database& Db() const { return db_; }
    // `sql` prepared once on the shared connection; kept until the sharing ends.
    Statement& Prepared(std::string_view sql);

private:
    Database& db_;
    std::map<std::string, std::unique_ptr<Statement>, std::less<>> prepared_;
};

// The connection the program shares for `location` (a file's path, relative or not, or a
// server URI) on the calling thread; nullptr when it shares none. With `for_writing`, a file
// opened read-only is not handed out.
SharedDatabase* FindSharedDatabase(std::string_view location, bool for_writing);

}  // namespace orba::hostkit
