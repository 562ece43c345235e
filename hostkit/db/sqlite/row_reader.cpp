#include "hostkit/db/sqlite/row_reader.h"

#include <fmt/format.h>
#include <sqlite3.h>
#include <strings.h>

#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "hostkit/db/sqlite/sqlite_db.h"
#include "platform/error.h"
#include "platform/utf8.h"

namespace orba::hostkit {

using platform::Decimal;
using platform::Error;
using platform::ErrorCode;
using platform::FieldInfo;
using platform::FieldType;
using platform::Variant;
using platform::VarType;

namespace {

// What a column's declared type says about the values it holds.
enum class ColumnKind { kPlain, kDecimal, kDate, kText };

bool ContainsWord(const std::string& upper, const char* word) { return upper.find(word) != std::string::npos; }

ColumnKind KindOf(const char* decltype_text, FieldType& field_type) {
    field_type = FieldType::kVariant;
    if (!decltype_text) return ColumnKind::kPlain;
    std::string upper(decltype_text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (ContainsWord(upper, "DEC") || ContainsWord(upper, "NUMERIC") || ContainsWord(upper, "MONEY")) {
        field_type = FieldType::kDecimal;
        return ColumnKind::kDecimal;
    }
    if (ContainsWord(upper, "DATE") || ContainsWord(upper, "TIME")) {
        field_type = FieldType::kTimestamp;
        return ColumnKind::kDate;
    }
    if (ContainsWord(upper, "CHAR") || ContainsWord(upper, "TEXT")) {
        field_type = FieldType::kVarWChar;
        return ColumnKind::kText;
    }
    if (ContainsWord(upper, "INT")) field_type = FieldType::kInteger;
    return ColumnKind::kPlain;
}

Variant IntegerValue(sqlite3_int64 v, ColumnKind kind) {
    if (kind == ColumnKind::kDecimal || v < INT32_MIN || v > INT32_MAX) return Variant(Decimal(v));
    return Variant(static_cast<int32_t>(v));
}

Variant ReadValue(sqlite3_stmt* stmt, int column, ColumnKind kind) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_NULL: return Variant::Null();
        case SQLITE_INTEGER: return IntegerValue(sqlite3_column_int64(stmt, column), kind);
        case SQLITE_FLOAT: {
            double d = sqlite3_column_double(stmt, column);
            // A decimal column's value is held as a double with up to 15 significant digits;
            // reading it back to 15 digits restores the exact decimal that was stored.
            if (kind == ColumnKind::kDecimal) return Variant(Decimal::FromDouble(d));
            return Variant(d);
        }
        default: {
            const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
            const std::string_view s(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
            if (kind == ColumnKind::kDate) {
                if (auto d = platform::Date::TryParse(s)) return Variant(*d);
            } else if (kind == ColumnKind::kDecimal) {
                if (auto d = Decimal::TryParse(s)) return Variant(*d);
            }
            return Variant(s);
        }
    }
}


// Text that is not UTF-8 cannot be passed on as text: copied out it would turn into
// replacement characters, and two different bill numbers could become one. The error says
// where the bytes are: table, column and the row's bill (its FInterID, when selected).
[[noreturn]] void RefuseText(sqlite3_stmt* stmt, int column, const std::vector<FieldInfo>& fields,
                             const std::vector<Variant>& values, size_t row_start, int64_t row) {
    const char* table = sqlite3_column_table_name(stmt, column);
    const char* origin = sqlite3_column_origin_name(stmt, column);
    const std::string& alias = fields[static_cast<size_t>(column)].name;
    std::string where = table && origin ? fmt::format("column {} of table {}", origin, table)
                                        : fmt::format("column {} of the result", alias);
    if (table && origin && alias != origin) where += fmt::format(" (selected as {})", alias);
    std::string bill = fmt::format("row {} of the result", row);
    for (size_t f = 0; f < fields.size(); ++f) {
        if (row_start + f >= values.size()) break;
        const Variant& id = values[row_start + f];
        if (strcasecmp(fields[f].name.c_str(), "FInterID") == 0 && id.IsNumeric()) {
            bill = fmt::format("the bill with FInterID {}", id.ToText());
            break;
        }
    }
    throw Error(ErrorCode::kBadInput,
                fmt::format("The text in {} for {} is not valid UTF-8; correct it in the account database",
                            where, bill));
}

// ROUND(x[, places]) on the decimal value: SQLite's own works on the binary double, where
// 2.675 is a little less than 2.675 and would round down to 2.67.
void DecimalRound(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || (argc > 1 && sqlite3_value_type(argv[1]) == SQLITE_NULL)) {
        sqlite3_result_null(context);
        return;
    }
    const int places = argc > 1 ? sqlite3_value_int(argv[1]) : 0;
    std::optional<Decimal> value;
    switch (sqlite3_value_type(argv[0])) {
        case SQLITE_INTEGER: value = Decimal(static_cast<int64_t>(sqlite3_value_int64(argv[0]))); break;
        case SQLITE_FLOAT: {
            const double d = sqlite3_value_double(argv[0]);
            if (std::isfinite(d)) value = Decimal::FromDouble(d);
            break;
        }
        default: {
            const char* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
            value = Decimal::TryParse(text ? text : "");
            if (!value) value = Decimal(int64_t{0});  // as SQLite reads text that is not a number
            break;
        }
    }
    if (!value || places < -30 || places > 30) {
        sqlite3_result_double(context, sqlite3_value_double(argv[0]));
        return;
    }
    sqlite3_result_double(context, value->Round(places).ToDouble());
}

}  // namespace

struct SqliteRowFeed::State {
    State(SqliteDatabase& db, std::string_view sql, platform::Ref<platform::Object> keep)
        : keep_alive(std::move(keep)), stmt(db.Handle(), sql) {}
    platform::Ref<platform::Object> keep_alive;
    SqliteStatement stmt;
    std::vector<FieldInfo> fields;
    std::vector<ColumnKind> kinds;
    int64_t row = 0;

    void Read(std::vector<Variant>& values, size_t row_start) {
        int bad_text = -1;
        for (size_t c = 0; c < fields.size(); ++c) {
            Variant& v = values[row_start + c];
            // The value is made in its slot rather than moved there: moving a value just made
            // stalls on reading back what was written a few bytes at a time. The slot is
            // emptied first, so it holds nothing that would need letting go.
            v = Variant();
            new (&v) Variant(ReadValue(stmt.Get(), static_cast<int>(c), kinds[c]));
            if (bad_text < 0 && v.IsString() && !platform::IsUtf8(v.AsString())) bad_text = static_cast<int>(c);
        }
        if (bad_text >= 0) RefuseText(stmt.Get(), bad_text, fields, values, row_start, row);
    }
};

SqliteRowFeed::SqliteRowFeed(SqliteDatabase& db, std::string_view sql, const std::vector<const Variant*>& values,
                             platform::Ref<platform::Object> keep_alive)
    : state_(std::make_unique<State>(db, sql, std::move(keep_alive))) {
    for (size_t i = 0; i < values.size(); ++i) BindValue(state_->stmt, static_cast<int>(i + 1), *values[i]);
    sqlite3_stmt* stmt = state_->stmt.Get();
    const int columns = sqlite3_column_count(stmt);
    state_->fields.resize(static_cast<size_t>(columns));
    state_->kinds.resize(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) {
        const auto at = static_cast<size_t>(c);
        state_->fields[at].name = sqlite3_column_name(stmt, c);
        state_->kinds[at] = KindOf(sqlite3_column_decltype(stmt, c), state_->fields[at].type);
    }
}

SqliteRowFeed::~SqliteRowFeed() = default;

std::vector<FieldInfo>& SqliteRowFeed::Fields() { return state_->fields; }

bool SqliteRowFeed::Next(std::vector<Variant>& row) {
    if (!state_->stmt.Step()) return false;
    ++state_->row;
    state_->Read(row, 0);
    return true;
}

bool SqliteRowFeed::Append(std::vector<Variant>& values) {
    if (!state_->stmt.Step()) return false;
    ++state_->row;
    const size_t row_start = values.size();
    values.resize(row_start + state_->fields.size());
    state_->Read(values, row_start);
    return true;
}

void BindValue(SqliteStatement& stmt, int index, const Variant& v) {
    switch (v.Type()) {
        case VarType::kNull:
        case VarType::kEmpty: stmt.BindNull(index); break;
        case VarType::kBoolean: stmt.Bind(index, int64_t{v.AsBoolean() ? 1 : 0}); break;
        case VarType::kInteger:
        case VarType::kLong: stmt.Bind(index, int64_t{v.ToLong()}); break;
        case VarType::kDouble:
        case VarType::kDecimal: stmt.Bind(index, v.ToDecimal().ToString()); break;
        case VarType::kObject: throw Error(ErrorCode::kBadInput, "An object cannot be a statement value");
        default: stmt.Bind(index, v.ToText()); break;
    }
}

void RegisterDecimalFunctions(SqliteDatabase& db) {
    for (int argc : {1, 2}) {
        sqlite3_create_function_v2(db.Handle(), "ROUND", argc, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   DecimalRound, nullptr, nullptr, nullptr);
    }
}

}  // namespace orba::hostkit
