#include "hostkit/account_db.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include "hostkit/pg_db.h"
#include "hostkit/sqlite_db.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::FieldInfo;
using platform::FieldType;
using platform::Ref;
using platform::RecordSet;
using platform::Variant;
using platform::VarType;

namespace {

// Binds each "$k" of the statement to params[k-1], by name: SQLite numbers named
// parameters in the order they first appear, which need not be k.
void BindAll(SqliteStatement& stmt, const std::vector<Variant>& params) {
    for (size_t k = 0; k < params.size(); ++k) {
        const int index = sqlite3_bind_parameter_index(stmt.Get(), fmt::format("${}", k + 1).c_str());
        if (index == 0) continue;  // the statement does not use it
        const Variant& v = params[k];
        switch (v.Type()) {
            case VarType::kEmpty:
            case VarType::kNull: stmt.BindNull(index); break;
            case VarType::kBoolean: stmt.Bind(index, int64_t{v.AsBoolean() ? 1 : 0}); break;
            case VarType::kInteger:
            case VarType::kLong: stmt.Bind(index, int64_t{v.ToLong()}); break;
            case VarType::kDouble: stmt.BindDouble(index, v.AsDouble()); break;
            case VarType::kObject:
                throw platform::Error(platform::ErrorCode::kBadInput, "An object cannot be a statement value");
            default: {
                std::optional<std::string> text = PgParameterText(v);
                stmt.Bind(index, *text);
                break;
            }
        }
    }
}

Variant SqliteValue(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_NULL: return Variant::Null();
        case SQLITE_INTEGER: {
            const sqlite3_int64 v = sqlite3_column_int64(stmt, column);
            if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
            return Variant(platform::Decimal(static_cast<int64_t>(v)));
        }
        case SQLITE_FLOAT: return Variant(sqlite3_column_double(stmt, column));
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
            return Variant(std::string(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(stmt, column))));
        }
    }
}

}  // namespace

AccountDatabase::AccountDatabase(const std::string& location) {
    if (IsServerDatabaseUri(location)) {
        pg_ = std::make_unique<PgDatabase>(location);
        name_ = pg_->Description();
    } else {
        sqlite_ = std::make_unique<SqliteDatabase>(location, SqliteDatabase::Mode::kReadWrite);
        name_ = location;
    }
}

AccountDatabase::~AccountDatabase() = default;

Ref<RecordSet> AccountDatabase::Query(std::string_view sql, const std::vector<Variant>& params) {
    if (pg_) return PgRecordSet(pg_->Query(sql, params));
    SqliteStatement stmt(sqlite_->Handle(), sql);
    BindAll(stmt, params);
    const int columns = sqlite3_column_count(stmt.Get());
    std::vector<FieldInfo> fields(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) fields[static_cast<size_t>(c)].name = sqlite3_column_name(stmt.Get(), c);
    std::vector<Variant> values;
    while (stmt.Step()) {
        for (int c = 0; c < columns; ++c) values.push_back(SqliteValue(stmt.Get(), c));
    }
    if (columns == 0) return platform::MakeRef<RecordSet>();
    return platform::MakeRef<RecordSet>(std::move(fields), std::move(values));
}

}  // namespace orba::hostkit
