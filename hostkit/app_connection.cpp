#include "hostkit/app_connection.h"

#include <fmt/format.h>

#include <cmath>
#include <cstring>
#include <strings.h>
#include <fstream>
#include <mutex>
#include <new>
#include <optional>

#include "hostkit/login_string.h"
#include "hostkit/pg_db.h"
#include "hostkit/server_rules.h"
#include "hostkit/sql_dialect.h"
#include "hostkit/sql_dialect_pg.h"
#include "hostkit/sqlite_db.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::Decimal;
using platform::Error;
using platform::ErrorCode;
using platform::FieldInfo;
using platform::FieldType;
using platform::MakeRef;
using platform::Ref;
using platform::RecordSet;
using platform::Variant;

namespace {

std::mutex g_trace_mutex;
std::string g_trace_path;

void Trace(std::string_view sql) {
    std::lock_guard lock(g_trace_mutex);
    if (g_trace_path.empty()) return;
    std::ofstream out(g_trace_path, std::ios::binary | std::ios::app);
    out << sql;
    if (sql.empty() || sql.back() != '\n') out << '\n';
    out << "GO\n";
}

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

std::string Excerpt(const std::string& statement) {
    std::string flat;
    for (char c : statement) {
        if (c == '\r') continue;
        flat.push_back(c == '\n' || c == '\t' ? ' ' : c);
    }
    if (flat.size() > 160) {
        // Cut before the first byte of a character, so the message stays valid UTF-8.
        size_t cut = 157;
        while (cut > 0 && (static_cast<unsigned char>(flat[cut]) & 0xC0) == 0x80) --cut;
        flat = flat.substr(0, cut) + "...";
    }
    return flat;
}

// Whether `s` is well-formed UTF-8: no stray continuation byte, no overlong form, no
// surrogate, nothing beyond U+10FFFF.
bool IsUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        // Plain ASCII, eight bytes at a time.
        uint64_t word;
        while (i + sizeof word <= s.size() && (std::memcpy(&word, s.data() + i, sizeof word), (word & 0x8080808080808080ull) == 0)) {
            i += sizeof word;
        }
        if (i >= s.size()) break;
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07u;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0u) != 0x80u) return false;
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += n + 1;
    }
    return true;
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

// Steps a query and reads each row as it comes. It keeps its connection alive while the
// statement is open, so a reader may outlive the caller's reference to the connection.
class QueryFeed : public platform::RowFeed {
public:
    QueryFeed(sqlite3* db, const TranslatedStatement& s, Ref<platform::Object> keep_alive = {})
        : keep_alive_(std::move(keep_alive)), stmt_(db, s.sqlite) {
        const int columns = sqlite3_column_count(stmt_.Get());
        fields_.resize(static_cast<size_t>(columns));
        kinds_.resize(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            fields_[static_cast<size_t>(c)].name = sqlite3_column_name(stmt_.Get(), c);
            kinds_[static_cast<size_t>(c)] = KindOf(sqlite3_column_decltype(stmt_.Get(), c), fields_[static_cast<size_t>(c)].type);
        }
    }

    const std::vector<FieldInfo>& Fields() const { return fields_; }

    bool Next(std::vector<Variant>& row) override {
        if (!stmt_.Step()) return false;
        ++row_;
        Read(row, 0);
        return true;
    }

    // Appends the next row to `values`; false after the last.
    bool Append(std::vector<Variant>& values) {
        if (!stmt_.Step()) return false;
        ++row_;
        const size_t row_start = values.size();
        values.resize(row_start + fields_.size());
        Read(values, row_start);
        return true;
    }

private:
    void Read(std::vector<Variant>& values, size_t row_start) {
        int bad_text = -1;
        for (size_t c = 0; c < fields_.size(); ++c) {
            Variant& v = values[row_start + c];
            // The value is made in its slot rather than moved there: moving a value just made
            // stalls on reading back what was written a few bytes at a time. The slot is
            // emptied first, so it holds nothing that would need letting go.
            v = Variant();
            new (&v) Variant(ReadValue(stmt_.Get(), static_cast<int>(c), kinds_[c]));
            if (bad_text < 0 && v.IsString() && !IsUtf8(v.AsString())) bad_text = static_cast<int>(c);
        }
        if (bad_text >= 0) RefuseText(stmt_.Get(), bad_text, fields_, values, row_start, row_);
    }

    Ref<platform::Object> keep_alive_;
    SqliteStatement stmt_;
    std::vector<FieldInfo> fields_;
    std::vector<ColumnKind> kinds_;
    int64_t row_ = 0;
};

Ref<RecordSet> RunQuery(sqlite3* db, const TranslatedStatement& s) {
    QueryFeed feed(db, s);
    std::vector<Variant> values;
    while (feed.Append(values)) {
    }
    return MakeRef<RecordSet>(feed.Fields(), std::move(values));
}

void RunChange(sqlite3* db, const TranslatedStatement& s) {
    SqliteStatement stmt(db, s.sqlite);
    while (stmt.Step()) {
    }
}

// ROUND(x[, places]) as the account database computes it on decimals: half away from zero
// on the decimal value. SQLite's own ROUND works on the binary double, where 2.675 is a
// little less than 2.675 and would round down to 2.67.
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

void RegisterDecimalFunctions(sqlite3* db) {
    for (int argc : {1, 2}) {
        sqlite3_create_function_v2(db, "ROUND", argc, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, DecimalRound,
                                   nullptr, nullptr, nullptr);
    }
}

}  // namespace

void TraceSql(std::string_view sql) { Trace(sql); }

void SetSqlTraceFile(const std::string& path) {
    std::lock_guard lock(g_trace_mutex);
    g_trace_path = path;
}

AppConnection::AppConnection() = default;
AppConnection::AppConnection(std::string database_path) : database_path_(std::move(database_path)) {}
AppConnection::~AppConnection() = default;

void AppConnection::Open() {
    if (db_ || pg_) return;
    location_ = database_path_.empty() ? AccountDatabasePath(CurrentLoginProperties()) : database_path_;
    if (IsServerDatabaseUri(location_)) {
        pg_ = std::make_unique<PgDatabase>(location_);
    } else {
        db_ = std::make_unique<SqliteDatabase>(location_, SqliteDatabase::Mode::kReadWrite);
        RegisterDecimalFunctions(db_->Handle());
    }
}

const std::string& AppConnection::DatabasePath() {
    Open();
    return location_;
}

namespace {

// The names of a server result's columns as the statement wrote them.
std::vector<std::string> NamesAsWritten(const PgResult& result, const TranslatedStatement& s) {
    std::vector<std::string> folded;
    for (int c = 0; c < result.Columns(); ++c) folded.push_back(result.ColumnName(c));
    return FieldNamesAsWritten(folded, s.source);
}

Ref<RecordSet> RunQueryOnServer(PgDatabase& db, const TranslatedStatement& s) {
    PgResult result = db.Query(s.sqlite);
    return PgRecordSet(result, NamesAsWritten(result, s));
}

}  // namespace

Ref<RecordSet> AppConnection::Execute(const std::string& sql) {
    Trace(sql);
    // Both databases read a statement only up to a NUL character and would run what stands
    // before it; such a text is no statement of the library's.
    RefuseNulCharacter(sql, "statement");
    Open();
    std::vector<TranslatedStatement> statements = pg_ ? TranslateBatchForPostgres(sql) : TranslateBatch(sql);
    if (statements.empty()) {
        throw Error(ErrorCode::kDatabaseError, "The database was given no statement to run");
    }

    const bool read_only = statements.size() == 1 && statements.front().is_query;
    Ref<RecordSet> result;
    size_t index = 0;
    bool begun = false;
    auto run_all = [&] {
        begun = true;
        for (index = 0; index < statements.size(); ++index) {
            const TranslatedStatement& s = statements[index];
            if (s.is_query) {
                Ref<RecordSet> rows = pg_ ? RunQueryOnServer(*pg_, s) : RunQuery(db_->Handle(), s);
                if (!result) result = std::move(rows);
            } else if (pg_) {
                pg_->Query(s.sqlite);
            } else {
                RunChange(db_->Handle(), s);
            }
        }
    };
    try {
        if (read_only) {
            run_all();
        } else if (pg_) {
            InTransaction(*pg_, run_all);
        } else {
            InTransaction(*db_, run_all);
        }
    } catch (const Error& e) {
        if (statements.size() == 1) throw Error(e.Number(), fmt::format("{} in: {}", e.Description(), Excerpt(statements[0].source)));
        // The transaction could not be begun (a file another process keeps locked).
        if (!begun) {
            throw Error(e.Number(), fmt::format("{} before the batch of {} statements began (nothing of the batch "
                                                "was applied)",
                                                e.Description(), statements.size()));
        }
        // Every statement ran; the batch failed as a whole when it was committed.
        if (index >= statements.size()) {
            throw Error(e.Number(), fmt::format("{} when the batch of {} statements was committed (nothing of "
                                                "the batch was applied), the last being: {}",
                                                e.Description(), statements.size(),
                                                Excerpt(statements.back().source)));
        }
        throw Error(e.Number(), fmt::format("{} in statement {} of {} (nothing of the batch was applied): {}",
                                            e.Description(), index + 1, statements.size(),
                                            Excerpt(statements[index].source)));
    }
    if (!result) result = MakeRef<RecordSet>();  // closed: the batch yields no rows
    return result;
}

Ref<RecordSet> AppConnection::ExecuteForward(const std::string& sql) {
    // A batch that changes data, or holds several statements, runs as Execute runs it. On a
    // server database the rows come back whole, and are given their values as they are read.
    RefuseNulCharacter(sql, "statement");
    Open();
    std::vector<TranslatedStatement> statements = pg_ ? TranslateBatchForPostgres(sql) : TranslateBatch(sql);
    if (statements.size() != 1 || !statements.front().is_query) return Execute(sql);
    Trace(sql);
    try {
        if (pg_) {
            PgResult result = pg_->Query(statements.front().sqlite);
            std::vector<std::string> names = NamesAsWritten(result, statements.front());
            return PgForwardRecordSet(std::move(result), names);
        }
        auto feed = std::make_unique<QueryFeed>(db_->Handle(), statements.front(), Ref<platform::Object>(this));
        std::vector<FieldInfo> fields = feed->Fields();
        return MakeRef<RecordSet>(std::move(fields), std::unique_ptr<platform::RowFeed>(std::move(feed)));
    } catch (const Error& e) {
        throw Error(e.Number(), fmt::format("{} in: {}", e.Description(), Excerpt(statements.front().source)));
    }
}

const platform::MemberTable<AppConnection>& AppConnection::Members() {
    static const platform::MemberTable<AppConnection> table = [] {
        platform::MemberTable<AppConnection> t("AppConnection");
        t.Method("Execute", 1, 1,
                 [](AppConnection& c, platform::CallArgs& a) { return Variant(c.Execute(a.Text(0))); })
            .Method("ExecuteForward", 1, 1,
                    [](AppConnection& c, platform::CallArgs& a) { return Variant(c.ExecuteForward(a.Text(0))); })
            .Get("DatabasePath", 0, 0, [](AppConnection& c, platform::CallArgs&) { return Variant(c.DatabasePath()); });
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit
