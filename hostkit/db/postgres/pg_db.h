// One connection to a branch's account database on a PostgreSQL server, through the server's
// client library: statements with their values as parameters, results read back with their
// kinds (exact decimals, dates, integers, text, Null), errors that name the server and the
// database but never a password.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/database.h"
#include "hostkit/db/database_rules.h"
#include "platform/recordset.h"
#include "platform/variant.h"

struct pg_conn;
struct pg_result;

namespace orba::hostkit {

// "database 'x' on server 'y'" for a URI, as messages show it: never the password.
std::string DescribeServerDatabase(std::string_view uri);

// The collation every text column of a server branch database compares under.
inline constexpr std::string_view kServerTextCollation = "orba_text";

// What a server database needs before the host kit's tables: the text collation (text
// compares without regard to case, as on the account database) and the comparisons of an
// integer with text that the bill statements make.
inline constexpr std::string_view kServerSchemaPrologue = R"sql(
CREATE COLLATION IF NOT EXISTS orba_text (provider = icu, locale = 'und-u-ks-level2', deterministic = false);

-- The bill statements compare an integer key with a number kept as text in the system
-- profile (t_SonCompany.FItemID = (SELECT FValue ...)); the account database converts the
-- text to a number for that, and so do these comparisons. They take text, not varchar, so
-- that a text column compared with a quoted literal keeps the ordinary text comparison.
CREATE FUNCTION orba_int_eq_text(integer, text) RETURNS boolean
    LANGUAGE sql IMMUTABLE AS 'SELECT $1 = CAST(trim($2) AS integer)';
CREATE FUNCTION orba_text_eq_int(text, integer) RETURNS boolean
    LANGUAGE sql IMMUTABLE AS 'SELECT CAST(trim($1) AS integer) = $2';
CREATE OPERATOR = (LEFTARG = integer, RIGHTARG = text, FUNCTION = orba_int_eq_text, COMMUTATOR = =);
CREATE OPERATOR = (LEFTARG = text, RIGHTARG = integer, FUNCTION = orba_text_eq_int, COMMUTATOR = =);
)sql";

// A result owned until destruction.
class PgResult {
public:
    explicit PgResult(pg_result* result) : result_(result) {}
    ~PgResult();
    PgResult(PgResult&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
    PgResult& operator=(PgResult&&) = delete;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    int Rows() const;
    int Columns() const;
    bool IsNull(int row, int column) const;
    std::string_view Text(int row, int column) const;
    unsigned ColumnType(int column) const;
    std::string ColumnName(int column) const;
    // The value of one cell with the kind its column type gives it.
    platform::Variant Value(int row, int column) const;

private:
    pg_result* result_;
};

// The value of a cell as the server printed it, by the column's type: NUMERIC as an exact
// Decimal with all its digits, timestamps and dates as Date, integers as Long (a bigint
// beyond a Long's range as Decimal), floating point as Double, booleans as Boolean, text
// as String.
platform::Variant PgCellValue(unsigned type_oid, std::string_view text);

// The record-set field type for a column type.
platform::FieldType PgFieldType(unsigned type_oid);

// A statement parameter as text for the server, or nothing for Null. Raises an Error
// (kBadInput) for values that have no database form (objects, texts holding a NUL character;
// Empty stays Null).
std::optional<std::string> PgParameterText(const platform::Variant& value);

class PgDatabase {
public:
    // Connects to the server and database the URI names. Raises an Error (kDatabaseError)
    // naming both, with the server's reason, when that fails. A statement waits for another
    // session's lock as long as a file waits (SetDatabaseBusyTimeout), then fails with an
    // Error saying the database is locked by another process; a long statement that waits
    // for no lock is not cut short.
    explicit PgDatabase(const std::string& uri);
    ~PgDatabase();
    PgDatabase(const PgDatabase&) = delete;
    PgDatabase& operator=(const PgDatabase&) = delete;

    // The URI it was opened with, and how messages name it.
    const std::string& Uri() const { return uri_; }
    const std::string& Description() const { return description_; }

    // Runs a script of one or more statements without parameters.
    void Exec(std::string_view sql);
    // Runs one statement with $1, $2 ... bound to `params` (nullopt is Null).
    PgResult Query(std::string_view sql, const std::vector<std::optional<std::string>>& params = {});
    PgResult Query(std::string_view sql, const std::vector<platform::Variant>& params);
    // Prepares one statement with $1, $2 ... under `name`, for running many times on this
    // connection with RunPrepared.
    void Prepare(const std::string& name, std::string_view sql);
    PgResult RunPrepared(const std::string& name, const std::vector<std::optional<std::string>>& params);
    // True while a transaction is open on the connection.
    bool InTransaction() const;
    // True when a statement of the open transaction failed: the server then ignores every
    // statement up to a rollback, and a COMMIT rolls back instead.
    bool TransactionFailed() const;
    // The server's code (SQLSTATE) for the last statement that failed; empty when the
    // connection failed without one.
    const std::string& LastErrorState() const { return last_error_state_; }

private:
    // The result of a statement, or an Error naming this database with the server's reason
    // when the statement failed (the result is then freed).
    PgResult Checked(pg_result* result) const;
    // The Error for a failed result, which it frees: locked when a lock outlasted the wait,
    // else "The <database> <doing>: <reason>".
    platform::Error Failure(pg_result* result, std::string_view doing) const;

    pg_conn* conn_ = nullptr;
    std::string uri_;
    std::string description_;
    int lock_timeout_ms_ = 0;
    mutable std::string last_error_state_;
};

// A record set of every row of a result. Field names are taken from `names` where given
// (the server folds unquoted names to lower case; the caller knows how the statement wrote
// them), from the server otherwise.
platform::Ref<platform::RecordSet> PgRecordSet(const PgResult& result,
                                               const std::vector<std::string>& names = {});
// The same as a forward-only set that gives each row its values as it moves on to it.
platform::Ref<platform::RecordSet> PgForwardRecordSet(PgResult result, const std::vector<std::string>& names);

}  // namespace orba::hostkit
