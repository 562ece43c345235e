#include "hostkit/db/postgres/pg_db.h"

#include <fmt/format.h>
#include <dlfcn.h>
#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "hostkit/db/database_rules.h"
#include "platform/error.h"
#include "platform/module_dir.h"

namespace orba::hostkit {

using platform::Date;
using platform::Decimal;
using platform::Error;
using platform::ErrorCode;
using platform::FieldInfo;
using platform::FieldType;
using platform::Ref;
using platform::RecordSet;
using platform::Variant;
using platform::VarType;

namespace {

// The server's client library is loaded the first time a server database is used, not with
// the host kit: it brings some twenty libraries of its own (Kerberos, LDAP, TLS), which cost
// every process that only opens files a few milliseconds and megabytes. Each function of it
// used here is looked up once.
#define ORBA_LIBPQ_FUNCTIONS(X) \
    X(PQclear) \
    X(PQconnectdb) \
    X(PQconninfoFree) \
    X(PQconninfoParse) \
    X(PQerrorMessage) \
    X(PQexec) \
    X(PQexecParams) \
    X(PQexecPrepared) \
    X(PQfinish) \
    X(PQfname) \
    X(PQfreemem) \
    X(PQftype) \
    X(PQgetisnull) \
    X(PQgetlength) \
    X(PQgetvalue) \
    X(PQnfields) \
    X(PQntuples) \
    X(PQprepare) \
    X(PQresultErrorField) \
    X(PQresultErrorMessage) \
    X(PQresultStatus) \
    X(PQsetNoticeProcessor) \
    X(PQstatus) \
    X(PQtransactionStatus)

// The client library's file, by its binary interface's name.
constexpr const char* kLibpqFile = "libpq.so.5";

struct Libpq {
#define ORBA_LIBPQ_MEMBER(name) decltype(&::name) name = nullptr;
    ORBA_LIBPQ_FUNCTIONS(ORBA_LIBPQ_MEMBER)
#undef ORBA_LIBPQ_MEMBER
};

Libpq LoadLibpq() {
    std::string reason;
    void* handle = platform::OpenSharedLibrary(kLibpqFile, reason);
    if (handle == nullptr) {
        throw Error(ErrorCode::kDatabaseError,
                    fmt::format("The PostgreSQL client library '{}' cannot be loaded ({}); a server database needs "
                                "it installed (Debian package libpq5)",
                                kLibpqFile, reason));
    }
    Libpq lib;
#define ORBA_LIBPQ_LOOKUP(name)                                                                             \
    lib.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                                   \
    if (lib.name == nullptr) {                                                                              \
        throw Error(ErrorCode::kDatabaseError,                                                              \
                    fmt::format("The PostgreSQL client library '{}' lacks the function {}", kLibpqFile, #name)); \
    }
    ORBA_LIBPQ_FUNCTIONS(ORBA_LIBPQ_LOOKUP)
#undef ORBA_LIBPQ_LOOKUP
    return lib;
}

// The loaded client library; raises the loader's Error until it can be loaded.
const Libpq& Pq() {
    static const Libpq lib = LoadLibpq();
    return lib;
}

// Type identifiers of the server's built-in types (fixed in its catalog).
enum TypeOid : unsigned {
    kBool = 16,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kOid = 26,
    kFloat4 = 700,
    kFloat8 = 701,
    kDateOid = 1082,
    kTimestamp = 1114,
    kTimestampTz = 1184,
    kNumeric = 1700,
};

// The client library's message on one line: its trailing line break dropped, a line break
// inside made a "; " before a line that starts a sentence (a hint such as "Is the server
// running ...?") and a blank before one that goes on with the sentence before.
std::string Trimmed(const char* message) {
    std::string m;
    bool line_break = false;
    for (const char* c = message ? message : ""; *c; ++c) {
        if (*c == '\n' || *c == '\r') {
            line_break = true;
            continue;
        }
        if (line_break && (*c == ' ' || *c == '\t')) continue;
        if (line_break && !m.empty()) m += std::isupper(static_cast<unsigned char>(*c)) ? "; " : " ";
        line_break = false;
        m += *c;
    }
    while (!m.empty() && m.back() == ' ') m.pop_back();
    return m;
}

// The server's code for a number beyond a column's precision.
constexpr std::string_view kNumericOutOfRange = "22003";
// The server's code for a lock that was not granted within lock_timeout.
constexpr std::string_view kLockNotAvailable = "55P03";

std::string ResultError(const PGresult* result, PGconn* conn) {
    // The server's primary message alone reads like the other databases' messages.
    if (result) {
        if (const char* primary = Pq().PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)) {
            // A value beyond a column's precision is reported as the account database words
            // it, whichever backend holds the branch.
            const char* state = Pq().PQresultErrorField(result, PG_DIAG_SQLSTATE);
            if (state && std::string_view(state) == kNumericOutOfRange) {
                return fmt::format("{} ({})", kArithmeticOverflow, primary);
            }
            return primary;
        }
    }
    std::string m = Trimmed(result ? Pq().PQresultErrorMessage(result) : Pq().PQerrorMessage(conn));
    return m.empty() ? Trimmed(Pq().PQerrorMessage(conn)) : m;
}

}  // namespace

std::optional<ServerAddress> ParseServerUri(std::string_view uri, std::string* error) {
    char* reason = nullptr;
    const std::string text(uri);
    PQconninfoOption* options = Pq().PQconninfoParse(text.c_str(), &reason);
    if (!options) {
        if (error) *error = Trimmed(reason);
        Pq().PQfreemem(reason);
        return std::nullopt;
    }
    ServerAddress address;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val) continue;
        const std::string_view key = o->keyword;
        if (key == "dbname") address.dbname = o->val;
        else if (key == "host") address.host = o->val;
        else if (key == "hostaddr") address.hostaddr = o->val;
        else if (key == "port") address.port = o->val;
        else if (key == "user") address.user = o->val;
        else if (key == "options") address.options = o->val;
    }
    Pq().PQconninfoFree(options);
    return address;
}

std::string DescribeServerDatabase(std::string_view uri) {
    std::string error;
    const std::optional<ServerAddress> address = ParseServerUri(uri, &error);
    // The text may hold a password; only the client library's reason is repeated.
    if (!address) return fmt::format("a server database whose address cannot be read ({})", error);
    std::string host = address->host.empty() ? std::string("localhost") : address->host;
    if (!address->port.empty()) host += fmt::format(":{}", address->port);
    const std::string db =
        !address->dbname.empty() ? address->dbname : address->user.empty() ? std::string("(default)") : address->user;
    return fmt::format("database '{}' on server '{}'", db, host);
}

PgResult::~PgResult() { Pq().PQclear(result_); }
int PgResult::Rows() const { return Pq().PQntuples(result_); }
int PgResult::Columns() const { return Pq().PQnfields(result_); }
bool PgResult::IsNull(int row, int column) const { return Pq().PQgetisnull(result_, row, column) != 0; }
std::string_view PgResult::Text(int row, int column) const {
    return {Pq().PQgetvalue(result_, row, column), static_cast<size_t>(Pq().PQgetlength(result_, row, column))};
}
unsigned PgResult::ColumnType(int column) const { return Pq().PQftype(result_, column); }
std::string PgResult::ColumnName(int column) const { return Pq().PQfname(result_, column); }
Variant PgResult::Value(int row, int column) const {
    if (IsNull(row, column)) return Variant::Null();
    return PgCellValue(ColumnType(column), Text(row, column));
}

Variant PgCellValue(unsigned type_oid, std::string_view text) {
    switch (type_oid) {
        case kBool: return Variant(text == "t");
        case kInt2:
        case kInt4:
        case kInt8:
        case kOid: {
            int64_t v = 0;
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
            if (ec == std::errc() && end == text.data() + text.size() && v >= INT32_MIN && v <= INT32_MAX) {
                return Variant(static_cast<int32_t>(v));
            }
            if (auto d = Decimal::TryParse(text)) return Variant(*d);
            break;
        }
        case kNumeric:
            if (auto d = Decimal::TryParse(text)) return Variant(*d);
            break;  // "NaN" stays text: no decimal holds it
        case kFloat4:
        case kFloat8: {
            const std::string s(text);
            char* end = nullptr;
            const double d = std::strtod(s.c_str(), &end);
            if (end == s.c_str() + s.size()) return Variant(d);
            break;
        }
        case kDateOid:
        case kTimestamp:
        case kTimestampTz:
            // A zone offset ("+08") follows the time of a timestamptz; the local time is kept.
            if (type_oid == kTimestampTz && text.size() > 19) {
                const size_t sign = text.find_first_of("+-", 19);
                if (sign != std::string_view::npos) text = text.substr(0, sign);
            }
            if (auto d = Date::TryParse(text)) return Variant(*d);
            break;
        default: break;
    }
    return Variant(std::string(text));
}

FieldType PgFieldType(unsigned type_oid) {
    switch (type_oid) {
        case kBool: return FieldType::kBoolean;
        case kInt2: return FieldType::kSmallInt;
        case kInt4:
        case kInt8:
        case kOid: return FieldType::kInteger;
        case kNumeric: return FieldType::kDecimal;
        case kFloat4:
        case kFloat8: return FieldType::kDouble;
        case kDateOid:
        case kTimestamp:
        case kTimestampTz: return FieldType::kTimestamp;
        default: return FieldType::kVarWChar;
    }
}

std::optional<std::string> PgParameterText(const Variant& value) {
    switch (value.Type()) {
        case VarType::kEmpty:
        case VarType::kNull: return std::nullopt;
        case VarType::kBoolean: return std::string(value.AsBoolean() ? "true" : "false");
        case VarType::kDouble:
            if (!std::isfinite(value.AsDouble())) {
                throw Error(ErrorCode::kBadInput, "A number that is not finite cannot be stored in the database");
            }
            return fmt::format("{}", value.AsDouble());
        case VarType::kDate: return value.AsDate().ToString();
        case VarType::kObject:
            throw Error(ErrorCode::kBadInput, "An object cannot be stored in the database as a value");
        default: {
            // The server's text holds no NUL character, and the client library would cut the
            // value short at one: such a text is refused rather than stored changed.
            std::string text = value.ToText();
            RefuseNulCharacter(text);
            return text;
        }
    }
}

PgDatabase::PgDatabase(const std::string& uri) : uri_(uri), description_(DescribeServerDatabase(uri)) {
    conn_ = Pq().PQconnectdb(uri.c_str());
    if (!conn_ || Pq().PQstatus(conn_) != CONNECTION_OK) {
        std::string reason = conn_ ? Trimmed(Pq().PQerrorMessage(conn_)) : "out of memory";
        Pq().PQfinish(conn_);
        conn_ = nullptr;
        throw Error(ErrorCode::kDatabaseError,
                    fmt::format("The account {} cannot be opened: {}", description_, reason));
    }
    // Messages of the server in a fixed form; dates printed as ISO text; no notices on stderr.
    Pq().PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
    // Another session's lock is waited for as long as a file's; a wait of 0, which the server
    // takes as no limit at all, becomes one millisecond.
    lock_timeout_ms_ = std::max(DatabaseBusyTimeout(), 1);
    Exec(fmt::format("SET client_encoding = 'UTF8'; SET DateStyle = 'ISO, YMD'; SET extra_float_digits = 0; "
                     "SET lock_timeout = {}",
                     lock_timeout_ms_));
}

PgDatabase::~PgDatabase() { Pq().PQfinish(conn_); }

void PgDatabase::Exec(std::string_view sql) {
    RefuseNulCharacter(sql, "statement");
    const std::string text(sql);
    PGresult* result = Pq().PQexec(conn_, text.c_str());
    const ExecStatusType status = Pq().PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY) {
        throw Failure(result, "failed");
    }
    Pq().PQclear(result);
}

Error PgDatabase::Failure(pg_result* result, std::string_view doing) const {
    const std::string reason = ResultError(result, conn_);
    const char* state = result ? Pq().PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    last_error_state_ = state ? state : "";
    Pq().PQclear(result);
    if (last_error_state_ == kLockNotAvailable) {
        return Error(ErrorCode::kDatabaseError,
                     fmt::format("The account {} is locked by another process (waited {} ms): {}", description_,
                                 lock_timeout_ms_, reason));
    }
    return Error(ErrorCode::kDatabaseError, fmt::format("The {} {}: {}", description_, doing, reason));
}

PgResult PgDatabase::Query(std::string_view sql, const std::vector<std::optional<std::string>>& params) {
    RefuseNulCharacter(sql, "statement");
    const std::string text(sql);
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
    return Checked(Pq().PQexecParams(conn_, text.c_str(), static_cast<int>(values.size()), nullptr,
                                     values.empty() ? nullptr : values.data(), nullptr, nullptr, 0));
}

PgResult PgDatabase::Checked(pg_result* result) const {
    const ExecStatusType status = Pq().PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw Failure(result, "refused the statement");
    return PgResult(result);
}

PgResult PgDatabase::Query(std::string_view sql, const std::vector<Variant>& params) {
    std::vector<std::optional<std::string>> texts;
    texts.reserve(params.size());
    for (const Variant& v : params) texts.push_back(PgParameterText(v));
    return Query(sql, texts);
}

void PgDatabase::Prepare(const std::string& name, std::string_view sql) {
    RefuseNulCharacter(sql, "statement");
    const std::string text(sql);
    Checked(Pq().PQprepare(conn_, name.c_str(), text.c_str(), 0, nullptr));
}

PgResult PgDatabase::RunPrepared(const std::string& name, const std::vector<std::optional<std::string>>& params) {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
    return Checked(Pq().PQexecPrepared(conn_, name.c_str(), static_cast<int>(values.size()),
                                       values.empty() ? nullptr : values.data(), nullptr, nullptr, 0));
}

bool PgDatabase::InTransaction() const { return Pq().PQtransactionStatus(conn_) != PQTRANS_IDLE; }
bool PgDatabase::TransactionFailed() const { return Pq().PQtransactionStatus(conn_) == PQTRANS_INERROR; }

namespace {

std::vector<FieldInfo> PgFields(const PgResult& result, const std::vector<std::string>& names) {
    std::vector<FieldInfo> fields(static_cast<size_t>(result.Columns()));
    for (size_t c = 0; c < fields.size(); ++c) {
        FieldInfo& f = fields[c];
        const int column = static_cast<int>(c);
        f.name = c < names.size() && !names[c].empty() ? names[c] : result.ColumnName(column);
        f.type = PgFieldType(result.ColumnType(column));
    }
    return fields;
}

// The rows of a result handed out one at a time, each cell given its kind as it is reached,
// so the rows never stand in memory a second time as values.
class PgResultFeed : public platform::RowFeed {
public:
    explicit PgResultFeed(PgResult result) : result_(std::move(result)) {}

    bool Next(std::vector<Variant>& row) override {
        if (row_ >= result_.Rows()) return false;
        for (size_t c = 0; c < row.size(); ++c) row[c] = result_.Value(row_, static_cast<int>(c));
        ++row_;
        return true;
    }

private:
    PgResult result_;
    int row_ = 0;
};

}  // namespace

Ref<RecordSet> PgRecordSet(const PgResult& result, const std::vector<std::string>& names) {
    const int columns = result.Columns();
    const int rows = result.Rows();
    std::vector<Variant> values;
    values.reserve(static_cast<size_t>(rows) * static_cast<size_t>(columns));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) values.push_back(result.Value(r, c));
    }
    return platform::MakeRef<RecordSet>(PgFields(result, names), std::move(values));
}

Ref<RecordSet> PgForwardRecordSet(PgResult result, const std::vector<std::string>& names) {
    std::vector<FieldInfo> fields = PgFields(result, names);
    return platform::MakeRef<RecordSet>(std::move(fields),
                                        std::make_unique<PgResultFeed>(std::move(result)));
}

}  // namespace orba::hostkit
