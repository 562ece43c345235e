// The account database at a location the login properties name, on whichever backend it
// lives (a SQLite file or a PostgreSQL server database): statements the host kit builds
// itself, written in the SQL both backends read, with their values as $1, $2 ... parameters.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/recordset.h"
#include "platform/variant.h"

namespace orba::hostkit {

class SqliteDatabase;
class PgDatabase;

class AccountDatabase {
public:
    // Opens the file (which must exist) or connects to the server database. Raises an Error
    // naming the file, or the server and database, when that fails.
    explicit AccountDatabase(const std::string& location);
    ~AccountDatabase();
    AccountDatabase(const AccountDatabase&) = delete;
    AccountDatabase& operator=(const AccountDatabase&) = delete;

    bool OnServer() const { return pg_ != nullptr; }
    // The file's path, or "database 'x' on server 'y'" (never a password).
    const std::string& Name() const { return name_; }

    // Runs one statement; its rows (a closed set for a statement without rows). Integers come
    // back as Long, decimals of a server database as Decimal, text as String, NULL as Null.
    platform::Ref<platform::RecordSet> Query(std::string_view sql, const std::vector<platform::Variant>& params = {});

private:
    std::string name_;
    std::unique_ptr<SqliteDatabase> sqlite_;
    std::unique_ptr<PgDatabase> pg_;
};

}  // namespace orba::hostkit
