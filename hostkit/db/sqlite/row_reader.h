// Reads the rows of a query on a file as the account database server gives them: each
// column's declared type decides the value's kind (decimals exact, dates as dates), and a
// text that is not UTF-8 is refused, naming where it stands.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "platform/recordset.h"

namespace orba::hostkit {

class SqliteDatabase;

// One query, stepped as its rows are read. It holds `keep_alive` while it is open, so a
// reader may outlive the caller's reference to the connection.
class SqliteRowFeed : public platform::RowFeed {
public:
    SqliteRowFeed(SqliteDatabase& db, std::string_view sql, const std::vector<const platform::Variant*>& values,
                  platform::Ref<platform::Object> keep_alive = {});
    ~SqliteRowFeed() override;

    std::vector<platform::FieldInfo>& Fields();
    bool Next(std::vector<platform::Variant>& row) override;
    // Appends the next row to `values`; false after the last.
    bool Append(std::vector<platform::Variant>& values);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Binds a value to a statement's ? mark `index` as a file keeps it: numbers other than whole
// Longs as exact decimal text, dates as ISO text, Null and Empty as NULL. Raises an Error for
// an object, and for a text holding a NUL character.
class SqliteStatement;
void BindValue(SqliteStatement& statement, int index, const platform::Variant& value);

// Makes ROUND compute as the account database does on decimals (half away from zero on the
// decimal value), on an open handle.
void RegisterDecimalFunctions(SqliteDatabase& db);

}  // namespace orba::hostkit
