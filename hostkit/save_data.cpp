#include "hostkit/save_data.h"

#include <fmt/format.h>

#include <charconv>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "hostkit/app_connection.h"
#include "hostkit/bill_fingerprint.h"
#include "hostkit/erp_schema.h"
#include "hostkit/login_string.h"
#include "hostkit/pg_db.h"
#include "hostkit/pg_schema.h"
#include "hostkit/server_rules.h"
#include "hostkit/sql_dialect_pg.h"
#include "hostkit/sqlite_db.h"
#include "platform/containers.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;
using platform::ListContainer;
using platform::MapContainer;
using platform::VarType;
using platform::Variant;

// Exact amounts are kept as text ("DECIMAL_TEXT" reads back as a decimal and, having text
// affinity, loses no digit), so a received amount is the very number that was sent. A held
// bill keeps the fingerprint of the copy it holds and when the list it came in was made.
const std::string_view kReceivedSchema = R"sql(
CREATE TABLE IF NOT EXISTS t_RcvBill (
    FRcvID            INTEGER PRIMARY KEY AUTOINCREMENT,
    FKind             VARCHAR(10)  NOT NULL,
    FSendBrNumber     VARCHAR(80)  NOT NULL,
    FSendBrName       VARCHAR(255),
    FBillNo           VARCHAR(255) NOT NULL,
    FTranType         INTEGER,
    FTranStatus       INTEGER,
    FBillInterID      INTEGER,
    FYear             INTEGER,
    FPeriod           INTEGER,
    FDate             DATETIME,
    FOrderID          VARCHAR(255),
    FCustomerName     VARCHAR(255), FCustomerNumber  VARCHAR(80),
    FDeptName         VARCHAR(255), FDeptNumber      VARCHAR(80),
    FSupplyBrName     VARCHAR(255), FSupplyBrNumber  VARCHAR(80),
    FBrIDRsvName      VARCHAR(255), FBrIDRsvNumber   VARCHAR(80),
    FBrIDName         VARCHAR(255), FBrIDNumber      VARCHAR(80),
    FCurrencyName     VARCHAR(255), FCurrencyNumber  VARCHAR(80),
    FDoerName         VARCHAR(255), FDoerNumber      VARCHAR(80),
    FOrderBrName      VARCHAR(255), FOrderBrNumber   VARCHAR(80),
    FDirectorName     VARCHAR(255), FDirectorNumber  VARCHAR(80),
    FSaleTypeName     VARCHAR(255),
    FSettleTypeName   VARCHAR(255),
    FExchangeRate     DECIMAL_TEXT,
    FPreparer         VARCHAR(255),
    FReceivedAt       DATETIME NOT NULL,
    FRevision         INTEGER NOT NULL DEFAULT 1,
    FRevisedAt        DATETIME,
    FFingerprint      TEXT,
    FListCreated      DATETIME,
    UNIQUE (FKind, FSendBrNumber, FTranType, FBillNo)
);
CREATE INDEX IF NOT EXISTS ix_RcvBill_Bill ON t_RcvBill (FKind, FSendBrNumber, FTranType, FBillInterID);
CREATE TABLE IF NOT EXISTS t_RcvBillEntry (
    FRcvID            INTEGER NOT NULL REFERENCES t_RcvBill(FRcvID) ON DELETE CASCADE,
    FIndex            INTEGER NOT NULL,
    FEntryID          INTEGER,
    FBillNo           VARCHAR(255),
    FItemName         VARCHAR(255), FItemNumber VARCHAR(80), FItemModel VARCHAR(255),
    FUnitName         VARCHAR(255), FUnitNumber VARCHAR(80),
    FUnitGroupName    VARCHAR(255), FUnitGroupNumber VARCHAR(80),
    FSourceEntryID    DECIMAL_TEXT,
    FQty              DECIMAL_TEXT,
    FQtyBase          DECIMAL_TEXT,
    FPrice            DECIMAL_TEXT,
    FPriceRef         DECIMAL_TEXT,
    FTaxRate          DECIMAL_TEXT,
    FTaxPrice         DECIMAL_TEXT,
    FDiscountRate     DECIMAL_TEXT,
    FAmtFor           DECIMAL_TEXT,
    FAmt              DECIMAL_TEXT,
    FTaxFor           DECIMAL_TEXT,
    FTax              DECIMAL_TEXT,
    FAmtTotalFor      DECIMAL_TEXT,
    FAmtTotal         DECIMAL_TEXT,
    FAmtDiscountFor   DECIMAL_TEXT,
    FAmtDiscount      DECIMAL_TEXT,
    FAmtRef           DECIMAL_TEXT,
    FDate             DATETIME,
    FTranDate         DATETIME,
    FNote             VARCHAR(255),
    PRIMARY KEY (FRcvID, FIndex)
);
)sql";

namespace {

std::mutex g_progress_mutex;
std::function<void(int, int)> g_progress;
std::function<void(const SaveOutcome&)> g_outcomes;
std::optional<ReceivedList> g_received_list;

constexpr int32_t kPurchaseOrderType = 71;
constexpr int32_t kDeliveryNoticeType = 83;
constexpr int32_t kReturnNoticeType = 82;

// What a key of a received record must hold.
enum class Shape { kNumber, kNumberOrNull, kText, kTextOrNull, kDate, kDateOrNull, kReference, kClassReference, kList };

struct KeyRule {
    std::string_view key;
    Shape shape;
    std::string_view column;  // header/line column; reference records use it as a prefix
};

// Header keys in store order, with the column each one is saved in.
constexpr KeyRule kOrderHeader[] = {
    {"BillType", Shape::kNumber, "FTranType"},       {"TranStatus", Shape::kNumberOrNull, "FTranStatus"},
    {"BillInterID", Shape::kNumber, "FBillInterID"}, {"Year", Shape::kNumber, "FYear"},
    {"Period", Shape::kNumber, "FPeriod"},           {"Date", Shape::kDateOrNull, "FDate"},
    {"BillID", Shape::kText, "FBillNo"},             {"Customer", Shape::kReference, "FCustomer"},
    {"Dept", Shape::kReference, "FDept"},            {"BrIDRsv", Shape::kReference, "FBrIDRsv"},
    {"BrID", Shape::kReference, "FBrID"},            {"Currency", Shape::kReference, "FCurrency"},
    {"Doer", Shape::kReference, "FDoer"},            {"OrderBrID", Shape::kReference, "FOrderBr"},
    {"Director", Shape::kReference, "FDirector"},    {"ExchangeRate", Shape::kNumberOrNull, "FExchangeRate"},
    {"Preparer", Shape::kTextOrNull, "FPreparer"},   {"ReqEntry", Shape::kList, ""},
};

constexpr KeyRule kNoticeHeader[] = {
    {"BillType", Shape::kNumber, "FTranType"},          {"TranStatus", Shape::kNumberOrNull, "FTranStatus"},
    {"BillInterID", Shape::kNumber, "FBillInterID"},    {"Year", Shape::kNumber, "FYear"},
    {"Period", Shape::kNumber, "FPeriod"},              {"Date", Shape::kDateOrNull, "FDate"},
    {"BillID", Shape::kText, "FBillNo"},                {"OrderID", Shape::kText, "FOrderID"},
    {"Customer", Shape::kReference, "FCustomer"},       {"Dept", Shape::kReference, "FDept"},
    {"SupplyBr", Shape::kReference, "FSupplyBr"},       {"Currency", Shape::kReference, "FCurrency"},
    {"Doer", Shape::kReference, "FDoer"},               {"BrIDRsv", Shape::kReference, "FBrIDRsv"},
    {"BrID", Shape::kReference, "FBrID"},               {"Director", Shape::kReference, "FDirector"},
    {"SaleType", Shape::kClassReference, "FSaleType"},  {"SettleType", Shape::kClassReference, "FSettleType"},
    {"ExchangeRate", Shape::kNumberOrNull, "FExchangeRate"}, {"Preparer", Shape::kTextOrNull, "FPreparer"},
    {"NoticeEntry", Shape::kList, ""},
};

// Line keys; Item and MeasureUnit are checked and saved on their own.
constexpr KeyRule kOrderLine[] = {
    {"BillID", Shape::kTextOrNull, "FBillNo"},           {"EntryID", Shape::kNumber, "FEntryID"},
    {"Qty", Shape::kNumberOrNull, "FQty"},               {"QtyBase", Shape::kNumberOrNull, "FQtyBase"},
    {"Price", Shape::kNumberOrNull, "FPrice"},           {"TaxRate", Shape::kNumberOrNull, "FTaxRate"},
    {"TaxPrice", Shape::kNumberOrNull, "FTaxPrice"},     {"DiscountRate", Shape::kNumberOrNull, "FDiscountRate"},
    {"AmtFor", Shape::kNumberOrNull, "FAmtFor"},         {"Amt", Shape::kNumberOrNull, "FAmt"},
    {"TaxFor", Shape::kNumberOrNull, "FTaxFor"},         {"Tax", Shape::kNumberOrNull, "FTax"},
    {"AmtTotalFor", Shape::kNumberOrNull, "FAmtTotalFor"}, {"AmtTotal", Shape::kNumberOrNull, "FAmtTotal"},
    {"AmtDiscountFor", Shape::kNumberOrNull, "FAmtDiscountFor"}, {"AmtDiscount", Shape::kNumberOrNull, "FAmtDiscount"},
    {"Date", Shape::kDateOrNull, "FDate"},               {"Note", Shape::kTextOrNull, "FNote"},
    {"TranDate", Shape::kDateOrNull, "FTranDate"},
};

// Delivery-notice lines carry SourceEntryID; return-notice lines do not.
constexpr KeyRule kNoticeLine[] = {
    {"BillID", Shape::kTextOrNull, "FBillNo"},    {"EntryID", Shape::kNumber, "FEntryID"},
    {"Qty", Shape::kNumberOrNull, "FQty"},        {"QtyBase", Shape::kNumberOrNull, "FQtyBase"},
    {"PriceRef", Shape::kNumberOrNull, "FPriceRef"}, {"AmtRef", Shape::kNumberOrNull, "FAmtRef"},
    {"Note", Shape::kTextOrNull, "FNote"},
};

std::string_view ShapeText(Shape s) {
    switch (s) {
        case Shape::kNumber: return "a number";
        case Shape::kNumberOrNull: return "a number or null";
        case Shape::kText: return "a text";
        case Shape::kTextOrNull: return "a text or null";
        case Shape::kDate: return "a date";
        case Shape::kDateOrNull: return "a date or null";
        case Shape::kReference: return "a record with Name and Number";
        case Shape::kClassReference: return "a record with Name and ClassID";
        case Shape::kList: return "a list of line records";
    }
    return "?";
}

const MapContainer* AsMap(const Variant& v) {
    return v.IsObject() ? dynamic_cast<const MapContainer*>(v.AsObject().Get()) : nullptr;
}
const ListContainer* AsList(const Variant& v) {
    return v.IsObject() ? dynamic_cast<const ListContainer*>(v.AsObject().Get()) : nullptr;
}

const Variant* Lookup(const MapContainer& map, std::string_view key) {
    for (size_t i = 0; i < map.Size(); ++i) {
        if (map.KeyAt(i) == key) return &map.ValueAt(i);
    }
    return nullptr;
}

bool Fits(const Variant& v, Shape shape) {
    switch (shape) {
        case Shape::kNumberOrNull: return v.IsNull() || v.IsNumeric();
        case Shape::kNumber: return v.IsNumeric();
        case Shape::kTextOrNull: return v.IsNull() || v.IsString();
        case Shape::kText: return v.IsString();
        case Shape::kDateOrNull: return v.IsNull() || v.Type() == VarType::kDate;
        case Shape::kDate: return v.Type() == VarType::kDate;
        case Shape::kList: return AsList(v) != nullptr;
        case Shape::kReference:
        case Shape::kClassReference: {
            const MapContainer* m = AsMap(v);
            if (!m) return false;
            const Variant* name = Lookup(*m, "Name");
            const Variant* second = Lookup(*m, shape == Shape::kReference ? "Number" : "ClassID");
            return name && second && Fits(*name, Shape::kTextOrNull) &&
                   Fits(*second, shape == Shape::kReference ? Shape::kTextOrNull : Shape::kNumber);
        }
    }
    return false;
}

// Where in the package a record stands, for error messages.
struct Place {
    int bill;
    std::string bill_no;
    int line = 0;
    std::string Describe() const {
        std::string s = fmt::format("bill {}", bill);
        if (!bill_no.empty()) s += fmt::format(" ('{}')", bill_no);
        if (line) s += fmt::format(", line {}", line);
        return s;
    }
};

const Variant& Require(const MapContainer& map, const KeyRule& rule, const Place& place) {
    const Variant* v = Lookup(map, rule.key);
    if (!v) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The received {} has no key \"{}\"", place.Describe(), rule.key));
    }
    if (!Fits(*v, rule.shape)) {
        throw Error(ErrorCode::kBadInput, fmt::format("The received {} has \"{}\" as a {} where {} is expected",
                                                      place.Describe(), rule.key, v->TypeName(), ShapeText(rule.shape)));
    }
    return *v;
}

struct Column {
    std::string name;
    const Variant* value;
};

// The account database the bills are saved into, on either backend: statements written with
// ? marks, each prepared once per run and run many times with its values; the new row's key;
// the run's transaction with a savepoint per bill; the received tables; the check that the
// database is a branch's.
class ReceivingDb {
public:
    virtual ~ReceivingDb() = default;
    virtual void CheckBranch() = 0;
    virtual void EnsureTables() = 0;
    virtual void Begin() = 0;
    // Savepoints and their release; raises an Error when the database refuses.
    virtual void Exec(const char* sql) = 0;
    // Undoing after a failure: a refusal then is not the failure to report.
    virtual void ExecQuietly(const char* sql) noexcept = 0;
    virtual bool InTransaction() const = 0;
    virtual void Commit() = 0;
    // Prepares `sql` once; the number to run it by.
    virtual size_t Prepare(const std::string& sql) = 0;
    // Runs a prepared statement with `values` in the order of its marks; true when it
    // yielded a row, whose columns IsNull and Int then read.
    virtual bool Run(size_t statement, const std::vector<const Variant*>& values) = 0;
    virtual bool IsNull(int column) const = 0;
    virtual int64_t Int(int column) const = 0;
    virtual std::string Text(int column) const = 0;
    // What an INSERT ends with for InsertedKey to give the new row's `key` afterwards.
    virtual std::string Returning(std::string_view key) const = 0;
    virtual int64_t InsertedKey() const = 0;
};

// Binds a value as the received tables keep it: numbers other than whole Longs as exact
// decimal text, dates as ISO text.
void BindValue(SqliteStatement& stmt, int index, const Variant& v) {
    switch (v.Type()) {
        case VarType::kNull:
        case VarType::kEmpty: stmt.BindNull(index); break;
        case VarType::kBoolean: stmt.Bind(index, int64_t{v.AsBoolean() ? 1 : 0}); break;
        case VarType::kInteger:
        case VarType::kLong: stmt.Bind(index, int64_t{v.ToLong()}); break;
        case VarType::kDouble:
        case VarType::kDecimal: stmt.Bind(index, v.ToDecimal().ToString()); break;
        default: stmt.Bind(index, v.ToText()); break;
    }
}

class SqliteReceivingDb final : public ReceivingDb {
public:
    explicit SqliteReceivingDb(const std::string& path) : db_(path, SqliteDatabase::Mode::kReadWrite) {}

    void CheckBranch() override { CheckBranchDatabase(db_.Handle(), db_.Path()); }
    void EnsureTables() override { EnsureReceivedTables(db_); }
    void Begin() override { db_.Exec("BEGIN IMMEDIATE"); }
    void Exec(const char* sql) override { db_.Exec(sql); }
    void ExecQuietly(const char* sql) noexcept override { sqlite3_exec(db_.Handle(), sql, nullptr, nullptr, nullptr); }
    bool InTransaction() const override { return !sqlite3_get_autocommit(db_.Handle()); }
    void Commit() override { db_.Exec("COMMIT"); }
    size_t Prepare(const std::string& sql) override {
        TraceSql(sql);
        statements_.push_back(std::make_unique<SqliteStatement>(db_.Handle(), sql));
        return statements_.size() - 1;
    }
    bool Run(size_t statement, const std::vector<const Variant*>& values) override {
        SqliteStatement& stmt = *statements_[statement];
        stmt.Reset();
        for (size_t i = 0; i < values.size(); ++i) BindValue(stmt, static_cast<int>(i + 1), *values[i]);
        last_ = &stmt;
        return stmt.Step();
    }
    bool IsNull(int column) const override { return last_->ColumnIsNull(column); }
    int64_t Int(int column) const override { return last_->ColumnInt(column); }
    std::string Text(int column) const override { return last_->ColumnText(column); }
    std::string Returning(std::string_view) const override { return {}; }
    int64_t InsertedKey() const override { return sqlite3_last_insert_rowid(db_.Handle()); }

private:
    SqliteDatabase db_;
    std::vector<std::unique_ptr<SqliteStatement>> statements_;  // finalized before the handle closes
    SqliteStatement* last_ = nullptr;
};

// A value as the server takes it into the received tables, as a file keeps it: truth values
// as 1 and 0, numbers other than whole Longs as exact decimal text.
std::optional<std::string> ServerValue(const Variant& v) {
    switch (v.Type()) {
        case VarType::kBoolean: return std::string(v.AsBoolean() ? "1" : "0");
        case VarType::kInteger:
        case VarType::kLong: return std::to_string(v.ToLong());
        case VarType::kDouble:
        case VarType::kDecimal: return v.ToDecimal().ToString();
        default: return PgParameterText(v);
    }
}

// A statement written with ? marks as the server reads it: $1, $2 ... in their order, and
// the null-safe comparison "IS ?" as IS NOT DISTINCT FROM. The statements are this file's
// own, with no quoted text, so every ? is a mark.
std::string NumberedMarks(std::string_view sql) {
    std::string out;
    out.reserve(sql.size() + sql.size() / 4);
    int n = 0;
    for (char c : sql) {
        if (c != '?') {
            out += c;
            continue;
        }
        if (out.size() >= 3 && out.compare(out.size() - 3, 3, "IS ") == 0) out += "NOT DISTINCT FROM ";
        out += fmt::format("${}", ++n);
    }
    return out;
}

class ServerReceivingDb final : public ReceivingDb {
public:
    explicit ServerReceivingDb(const std::string& uri) : db_(uri) {}

    void CheckBranch() override { CheckBranchDatabase(db_); }
    void EnsureTables() override { EnsureReceivedTables(db_); }
    // One saving run at a time, as a file's write lock gives: two clerks saving the same
    // bill at once would otherwise both find it new, and the second would fail on the key.
    // Reading the received bills is not held up.
    void Begin() override { db_.Exec("BEGIN; LOCK TABLE t_RcvBill IN SHARE ROW EXCLUSIVE MODE"); }
    void Exec(const char* sql) override { db_.Exec(sql); }
    void ExecQuietly(const char* sql) noexcept override {
        try {
            db_.Exec(sql);
        } catch (...) {
        }
    }
    bool InTransaction() const override { return db_.InTransaction(); }
    void Commit() override {
        // A COMMIT of a transaction with a failed statement would roll it back and answer
        // as if it had succeeded.
        if (db_.TransactionFailed()) {
            throw Error(ErrorCode::kDatabaseError,
                        fmt::format("The {} had refused a statement of the transaction", db_.Description()));
        }
        db_.Exec("COMMIT");
    }
    size_t Prepare(const std::string& sql) override {
        const std::string numbered = NumberedMarks(sql);
        TraceSql(numbered);
        const std::string name = fmt::format("orba_save_{}", names_.size() + 1);
        db_.Prepare(name, numbered);
        names_.push_back(name);
        return names_.size() - 1;
    }
    bool Run(size_t statement, const std::vector<const Variant*>& values) override {
        params_.clear();
        for (const Variant* v : values) params_.push_back(ServerValue(*v));
        last_.reset();
        last_ = std::make_unique<PgResult>(db_.RunPrepared(names_[statement], params_));
        return last_->Rows() > 0;
    }
    bool IsNull(int column) const override { return last_->IsNull(0, column); }
    int64_t Int(int column) const override {
        const std::string_view text = last_->Text(0, column);
        int64_t v = 0;
        std::from_chars(text.data(), text.data() + text.size(), v);
        return v;
    }
    std::string Text(int column) const override { return std::string(last_->Text(0, column)); }
    std::string Returning(std::string_view key) const override { return fmt::format(" RETURNING {}", key); }
    int64_t InsertedKey() const override { return Int(0); }

private:
    PgDatabase db_;
    std::vector<std::string> names_;
    std::vector<std::optional<std::string>> params_;
    std::unique_ptr<PgResult> last_;
};

std::unique_ptr<ReceivingDb> OpenReceivingDb(const std::string& location) {
    if (IsServerDatabaseUri(location)) return std::make_unique<ServerReceivingDb>(location);
    return std::make_unique<SqliteReceivingDb>(location);
}

// The statements of one saving run, each prepared once: every line of a package has the
// same columns, so a package of thousands of lines prepares a handful of statements. The
// statements made from a column list are found again by comparing their table and column
// names, so a line's statement text is not written anew for each line.
class Statements {
public:
    explicit Statements(ReceivingDb& db) : db_(db) {}

    // Runs `sql` with `values` bound in order; true when it yielded a row.
    bool Run(const std::string& sql, const std::vector<const Variant*>& values) {
        auto [at, added] = fixed_.try_emplace(sql, 0);
        if (added) {
            try {
                at->second = db_.Prepare(sql);
            } catch (...) {
                fixed_.erase(at);
                throw;
            }
        }
        return db_.Run(at->second, values);
    }
    ReceivingDb& Db() { return db_; }

    // Inserts a row of `columns` followed by `extra`; with `key` named, gives the new row's
    // value of it.
    int64_t Insert(std::string_view table, const std::vector<Column>& columns, std::initializer_list<Column> extra,
                   std::string_view key = {}) {
        values_.clear();
        for (const Column& c : columns) values_.push_back(c.value);
        for (const Column& c : extra) values_.push_back(c.value);
        const size_t statement = Cached(Op::kInsert, table, {}, columns, extra, [&] {
            std::string names, marks;
            auto add = [&](const Column& c) {
                names += (names.empty() ? "" : ",") + c.name;
                marks += marks.empty() ? "?" : ",?";
            };
            for (const Column& c : columns) add(c);
            for (const Column& c : extra) add(c);
            std::string sql = fmt::format("INSERT INTO {} ({}) VALUES ({})", table, names, marks);
            if (!key.empty()) sql += db_.Returning(key);
            return sql;
        });
        db_.Run(statement, values_);
        return key.empty() ? 0 : db_.InsertedKey();
    }

    // True when the row of `table` picked by `key` (column = value, all of them) holds
    // exactly `columns`. A value is compared as the insert would have stored it.
    bool Holds(std::string_view table, std::initializer_list<Column> key, const std::vector<Column>& columns) {
        values_.clear();
        for (const Column& c : key) values_.push_back(c.value);
        for (const Column& c : columns) values_.push_back(c.value);
        const size_t statement = Cached(Op::kHolds, table, key, columns, {}, [&] {
            std::string sql = fmt::format("SELECT 1 FROM {} WHERE ", table);
            bool first = true;
            for (const Column& c : key) {
                sql += fmt::format("{}{}=?", first ? "" : " AND ", c.name);
                first = false;
            }
            for (const Column& c : columns) sql += fmt::format(" AND {} IS ?", c.name);
            return sql;
        });
        return db_.Run(statement, values_);
    }

    // Sets `columns` followed by `extra` on the row of `table` picked by `key`.
    void Update(std::string_view table, const std::vector<Column>& columns, std::initializer_list<Column> extra,
                const Column& key) {
        values_.clear();
        for (const Column& c : columns) values_.push_back(c.value);
        for (const Column& c : extra) values_.push_back(c.value);
        values_.push_back(key.value);
        const size_t statement = Cached(Op::kUpdate, table, {key}, columns, extra, [&] {
            std::string sql = fmt::format("UPDATE {} SET ", table);
            bool first = true;
            auto add = [&](const Column& c) {
                sql += fmt::format("{}{}=?", first ? "" : ",", c.name);
                first = false;
            };
            for (const Column& c : columns) add(c);
            for (const Column& c : extra) add(c);
            return sql + fmt::format(" WHERE {}=?", key.name);
        });
        db_.Run(statement, values_);
    }

private:
    enum class Op { kInsert, kHolds, kUpdate };
    struct Made {
        Op op;
        std::string table;
        std::vector<std::string> names;
        size_t statement;
    };

    // The statement of `op` on `table` for these columns, made by `make` the first time.
    template <class Make>
    size_t Cached(Op op, std::string_view table, std::initializer_list<Column> key, const std::vector<Column>& columns,
                  std::initializer_list<Column> extra, Make&& make) {
        const size_t count = key.size() + columns.size() + extra.size();
        auto same = [&](const Made& m) {
            if (m.op != op || m.table != table || m.names.size() != count) return false;
            size_t i = 0;
            for (const Column& c : key) if (m.names[i++] != c.name) return false;
            for (const Column& c : columns) if (m.names[i++] != c.name) return false;
            for (const Column& c : extra) if (m.names[i++] != c.name) return false;
            return true;
        };
        for (const Made& m : made_) {
            if (same(m)) return m.statement;
        }
        Made m{op, std::string(table), {}, db_.Prepare(make())};
        m.names.reserve(count);
        for (const Column& c : key) m.names.push_back(c.name);
        for (const Column& c : columns) m.names.push_back(c.name);
        for (const Column& c : extra) m.names.push_back(c.name);
        made_.push_back(std::move(m));
        return made_.back().statement;
    }

    ReceivingDb& db_;
    std::map<std::string, size_t, std::less<>> fixed_;
    std::vector<Made> made_;
    std::vector<const Variant*> values_;
};

const Variant kNull = Variant::Null();

// Adds the columns of one checked key; a reference record becomes <prefix>Name and
// <prefix>Number (or <prefix>Name alone for sale type and settlement).
void AddColumns(std::vector<Column>& columns, const KeyRule& rule, const Variant& value) {
    if (rule.shape == Shape::kList) return;
    if (rule.shape == Shape::kReference || rule.shape == Shape::kClassReference) {
        const MapContainer& ref = *AsMap(value);
        columns.push_back({std::string(rule.column) + "Name", Lookup(ref, "Name")});
        if (rule.shape == Shape::kReference) columns.push_back({std::string(rule.column) + "Number", Lookup(ref, "Number")});
        return;
    }
    columns.push_back({std::string(rule.column), &value});
}

struct CheckedLine {
    std::vector<Column> columns;
};

struct CheckedBill {
    std::string bill_no;
    int32_t inter_id = 0;
    std::string send_number;
    std::string send_name;
    std::optional<std::string> receiver_number;  // of BrIDRsv; none when it names no branch
    std::string fingerprint;
    Variant tran_type;
    std::vector<Column> columns;
    std::vector<CheckedLine> lines;
    bool delivery_form = false;
};

CheckedLine CheckLine(const Variant& value, ReceivedKind kind, bool delivery, Place place) {
    const MapContainer* line = AsMap(value);
    if (!line) {
        throw Error(ErrorCode::kBadInput, fmt::format("The received {} is a {}, not a line record", place.Describe(),
                                                      value.TypeName()));
    }
    CheckedLine checked;
    const KeyRule item{"Item", Shape::kReference, "FItem"};
    const MapContainer& item_ref = *AsMap(Require(*line, item, place));
    const Variant* model = Lookup(item_ref, "Model");
    checked.columns.push_back({"FItemName", Lookup(item_ref, "Name")});
    checked.columns.push_back({"FItemNumber", Lookup(item_ref, "Number")});
    checked.columns.push_back({"FItemModel", model ? model : &kNull});
    const KeyRule unit{"MeasureUnit", Shape::kReference, "FUnit"};
    const MapContainer& unit_ref = *AsMap(Require(*line, unit, place));
    const Variant* group_name = Lookup(unit_ref, "GroupName");
    const Variant* group_number = Lookup(unit_ref, "GroupNumber");
    checked.columns.push_back({"FUnitName", Lookup(unit_ref, "Name")});
    checked.columns.push_back({"FUnitNumber", Lookup(unit_ref, "Number")});
    checked.columns.push_back({"FUnitGroupName", group_name ? group_name : &kNull});
    checked.columns.push_back({"FUnitGroupNumber", group_number ? group_number : &kNull});
    if (kind == ReceivedKind::kOrder) {
        for (const KeyRule& rule : kOrderLine) AddColumns(checked.columns, rule, Require(*line, rule, place));
    } else {
        for (const KeyRule& rule : kNoticeLine) AddColumns(checked.columns, rule, Require(*line, rule, place));
        if (delivery) {
            const KeyRule source{"SourceEntryID", Shape::kNumber, "FSourceEntryID"};
            AddColumns(checked.columns, source, Require(*line, source, place));
        }
    }
    return checked;
}

CheckedBill CheckBill(const Variant& value, ReceivedKind kind, int index) {
    Place place{index, {}};
    const MapContainer* bill = AsMap(value);
    if (!bill) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The received {} is a {}, not a bill record", place.Describe(), value.TypeName()));
    }
    if (const Variant* no = Lookup(*bill, "BillID"); no && no->IsString()) place.bill_no = no->AsString();

    CheckedBill checked;
    const Variant* lines = nullptr;
    auto check = [&](const KeyRule& rule) {
        const Variant& v = Require(*bill, rule, place);
        if (rule.shape == Shape::kList) lines = &v;
        AddColumns(checked.columns, rule, v);
    };
    if (kind == ReceivedKind::kOrder) {
        for (const KeyRule& rule : kOrderHeader) check(rule);
    } else {
        for (const KeyRule& rule : kNoticeHeader) check(rule);
    }
    checked.bill_no = place.bill_no;
    checked.tran_type = *Lookup(*bill, "BillType");
    checked.inter_id = Lookup(*bill, "BillInterID")->ToLong();
    // The sending branch is the one the bill names as its own.
    const MapContainer& sender = *AsMap(*Lookup(*bill, "BrID"));
    const Variant& send_number = *Lookup(sender, "Number");
    if (!send_number.IsString() || send_number.AsString().empty()) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The received {} does not name its sending branch (\"BrID\" has no Number)",
                                place.Describe()));
    }
    checked.send_number = send_number.AsString();
    const Variant& send_name = *Lookup(sender, "Name");
    checked.send_name = send_name.IsString() ? send_name.AsString() : std::string();
    const Variant& receiver_number = *Lookup(*AsMap(*Lookup(*bill, "BrIDRsv")), "Number");
    if (receiver_number.IsString() && !receiver_number.AsString().empty()) {
        checked.receiver_number = std::string(receiver_number.AsString());
    }
    checked.fingerprint = BillFingerprint(value);

    // Delivery-notice records carry the source line of each line; return-notice records, with
    // their quantities negated, do not. The form is told by the lines themselves.
    const ListContainer& list = *AsList(*lines);
    const MapContainer* first_line = list.Count() > 0 ? AsMap(list.At(1)) : nullptr;
    const bool delivery = kind == ReceivedKind::kNotice &&
                          (first_line ? Lookup(*first_line, "SourceEntryID") != nullptr
                                      : checked.tran_type.ToLong() != kReturnNoticeType);
    checked.delivery_form = delivery;
    for (int32_t i = 1; i <= list.Count(); ++i) {
        Place line_place = place;
        line_place.line = i;
        checked.lines.push_back(CheckLine(list.At(i), kind, delivery, line_place));
    }
    return checked;
}

std::string_view KindCode(ReceivedKind kind) { return kind == ReceivedKind::kOrder ? "ORDER" : "NOTICE"; }

std::string_view KindName(ReceivedKind kind, const Variant& tran_type) {
    if (kind == ReceivedKind::kOrder) return "Purchase order";
    return tran_type.ToLong() == kReturnNoticeType ? "Return notice" : "Delivery notice";
}

// The sending branch selects notices for a package of delivery notices and for one of return
// notices without regard to their own type, so each notice arrives twice: once in the
// delivery form (quantities as stored, source lines) and once in the return form
// (quantities negated). Only the form that matches the notice's own type is saved;
// saving the other would keep a delivery notice with negated quantities, or a return
// notice with the delivery sign.
bool InItsOwnForm(ReceivedKind kind, const CheckedBill& bill) {
    if (kind == ReceivedKind::kOrder) return true;
    return bill.delivery_form == (bill.tran_type.ToLong() != kReturnNoticeType);
}

std::string_view OutcomeLine(SaveOutcomeKind kind) {
    switch (kind) {
        case SaveOutcomeKind::kSaved: return "saved";
        case SaveOutcomeKind::kUpdated: return "updated, the received copy replaced";
        case SaveOutcomeKind::kAlreadyHeld: return "already held (identical), not saved again";
        case SaveOutcomeKind::kNotSaved: return "not saved";
    }
    return "?";
}

struct BillResult {
    SaveOutcomeKind kind = SaveOutcomeKind::kNotSaved;
    int32_t revision = 0;
    std::string reason;
};

// The lines of a received bill as the entry table keeps them, numbered from 1.
void InsertLines(Statements& statements, const CheckedBill& bill, const Variant& rcv_id) {
    int32_t index = 0;
    for (const CheckedLine& line : bill.lines) {
        const Variant position{++index};
        statements.Insert("t_RcvBillEntry", line.columns, {{"FRcvID", &rcv_id}, {"FIndex", &position}});
    }
}

// True when the held copy `rcv_id` has the header and lines of `bill`, its transmission
// flag aside: how a copy held from before fingerprints were kept is compared.
bool HoldsSameCopy(Statements& statements, const CheckedBill& bill, const Variant& rcv_id) {
    std::vector<Column> header;
    header.reserve(bill.columns.size());
    for (const Column& c : bill.columns) {
        if (c.name != "FTranStatus") header.push_back(c);
    }
    if (!statements.Holds("t_RcvBill", {{"FRcvID", &rcv_id}}, header)) return false;
    statements.Run("SELECT count(*) FROM t_RcvBillEntry WHERE FRcvID=?", {&rcv_id});
    if (statements.Db().Int(0) != static_cast<int64_t>(bill.lines.size())) return false;
    int32_t index = 0;
    for (const CheckedLine& line : bill.lines) {
        const Variant position{++index};
        if (!statements.Holds("t_RcvBillEntry", {{"FRcvID", &rcv_id}, {"FIndex", &position}}, line.columns)) {
            return false;
        }
    }
    return true;
}

// Why a record cannot be the bill it claims to be in this package, sent by this list to this
// branch; empty when it can. Such a record would be held beside the real bill, or under
// another branch's name.
std::string Contradiction(ReceivedKind kind, const CheckedBill& bill, const std::optional<ReceivedList>& list,
                          const std::string& own_number) {
    const int32_t type = bill.tran_type.ToLong();
    if (kind == ReceivedKind::kOrder && type != kPurchaseOrderType) {
        return fmt::format("its own bill type {} is not that of a purchase order ({})", type, kPurchaseOrderType);
    }
    if (kind == ReceivedKind::kNotice && type != kDeliveryNoticeType && type != kReturnNoticeType) {
        return fmt::format("its own bill type {} is that of neither a delivery notice ({}) nor a return notice ({})",
                           type, kDeliveryNoticeType, kReturnNoticeType);
    }
    if (list && CompareServerText(bill.send_number, list->sender_number) != 0) {
        return fmt::format("it names branch {} as its own (BrID), but the list was sent by branch {}",
                           bill.send_number, list->sender_number);
    }
    if (!bill.receiver_number) {
        return fmt::format("it is addressed to no branch (BrIDRsv), not to this branch {}", own_number);
    }
    if (CompareServerText(*bill.receiver_number, own_number) != 0) {
        return fmt::format("it is addressed to branch {} (BrIDRsv), not to this branch {}", *bill.receiver_number,
                           own_number);
    }
    return {};
}

// The held copy of a bill: the row of the same sending branch, transaction type and internal
// number (or, for a row kept before internal numbers were, the same bill number), and
// whether it came in a list made after the one being saved.
constexpr const char* kHeldCopyQuery =
    "SELECT FRcvID, FBillNo, FRevision, FFingerprint, CASE WHEN FListCreated > ? THEN 1 ELSE 0 END "
    "FROM t_RcvBill WHERE FKind=? AND FSendBrNumber=? AND FTranType=? "
    "AND (FBillInterID=? OR (FBillInterID IS NULL AND FBillNo=?)) ORDER BY FRcvID DESC LIMIT 1";

// Saves one checked bill inside the caller's transaction. A new bill is inserted. A bill held
// already from the same branch is left alone when its fingerprint is the same, and replaced,
// header and lines, when it differs, also when it was renumbered; never by a copy from an
// older list, and never under a number that another bill of that branch holds.
BillResult SaveReceivedBill(Statements& statements, ReceivedKind kind, const CheckedBill& bill,
                            const std::optional<ReceivedList>& list) {
    const Variant kind_code{KindCode(kind)};
    const Variant send_number{bill.send_number};
    const Variant send_name{bill.send_name};
    const Variant tran_type{bill.tran_type.ToLong()};
    const Variant bill_no{bill.bill_no};
    const Variant inter_id{bill.inter_id};
    const Variant fingerprint{bill.fingerprint};
    const Variant list_created = list ? Variant(list->created) : Variant::Null();
    const Variant now{platform::Date::Now()};
    BillResult result;
    // The internal number of another held bill of the sending branch under `number`, but for
    // the row `except`.
    auto number_held_by_another = [&](const Variant& number, const Variant& except) -> std::optional<int64_t> {
        if (!statements.Run("SELECT FBillInterID FROM t_RcvBill WHERE FKind=? AND FSendBrNumber=? AND FTranType=? "
                            "AND FBillNo=? AND FRcvID<>?",
                            {&kind_code, &send_number, &tran_type, &number, &except})) {
            return std::nullopt;
        }
        return statements.Db().IsNull(0) ? int64_t{0} : statements.Db().Int(0);
    };
    auto another_bill = [&](int64_t held_inter_id) {
        return fmt::format(
            "another bill of branch {} with this number (internal number {}) is held already; this one has "
            "internal number {}",
            bill.send_number, held_inter_id, bill.inter_id);
    };

    if (!statements.Run(kHeldCopyQuery, {&list_created, &kind_code, &send_number, &tran_type, &inter_id, &bill_no})) {
        if (auto other = number_held_by_another(bill_no, Variant(int32_t{0}))) {
            result.reason = another_bill(*other);
            return result;
        }
        const int64_t key = statements.Insert("t_RcvBill", bill.columns,
                                              {{"FKind", &kind_code},
                                               {"FSendBrNumber", &send_number},
                                               {"FSendBrName", &send_name},
                                               {"FReceivedAt", &now},
                                               {"FFingerprint", &fingerprint},
                                               {"FListCreated", &list_created}},
                                              "FRcvID");
        const Variant rcv_id{static_cast<int32_t>(key)};
        InsertLines(statements, bill, rcv_id);
        result.kind = SaveOutcomeKind::kSaved;
        result.revision = 1;
        return result;
    }
    ReceivingDb& found = statements.Db();
    const Variant rcv_id{static_cast<int32_t>(found.Int(0))};
    const std::string held_no = found.Text(1);
    const int32_t revision = static_cast<int32_t>(found.Int(2));
    const std::string held_fingerprint = found.IsNull(3) ? std::string() : found.Text(3);
    const bool held_is_newer = found.Int(4) == 1;

    const bool same = held_fingerprint.empty() ? HoldsSameCopy(statements, bill, rcv_id)
                                               : held_fingerprint == bill.fingerprint;
    if (same) {
        // The copy held is this bill as sent; it now carries this list's date unless a later
        // list brought it.
        if (list && !held_is_newer) {
            statements.Run("UPDATE t_RcvBill SET FFingerprint=?, FListCreated=? WHERE FRcvID=?",
                           {&fingerprint, &list_created, &rcv_id});
        } else if (held_fingerprint.empty()) {
            statements.Run("UPDATE t_RcvBill SET FFingerprint=? WHERE FRcvID=?", {&fingerprint, &rcv_id});
        }
        result.kind = SaveOutcomeKind::kAlreadyHeld;
        result.revision = revision;
        return result;
    }
    if (held_is_newer) {
        result.reason = fmt::format(
            "a newer copy of this bill, from a list made after this one ({}), is held already; the older copy does "
            "not replace it",
            list->created.ToString());
        return result;
    }
    const bool renumbered = held_no != bill.bill_no;
    if (renumbered) {
        if (auto other = number_held_by_another(bill_no, rcv_id)) {
            result.reason = another_bill(*other);
            return result;
        }
        result.reason = fmt::format("it was held as {} before", held_no);
    }
    const Variant next_revision{revision + 1};
    statements.Run("DELETE FROM t_RcvBillEntry WHERE FRcvID=?", {&rcv_id});
    statements.Update("t_RcvBill", bill.columns,
                      {{"FSendBrName", &send_name},
                       {"FRevision", &next_revision},
                       {"FRevisedAt", &now},
                       {"FFingerprint", &fingerprint},
                       {"FListCreated", &list_created}},
                      {"FRcvID", &rcv_id});
    InsertLines(statements, bill, rcv_id);
    result.kind = SaveOutcomeKind::kUpdated;
    result.revision = revision + 1;
    return result;
}

void ReportProgress(int done, int total) {
    std::function<void(int, int)> progress;
    {
        std::lock_guard lock(g_progress_mutex);
        progress = g_progress;
    }
    if (progress) progress(done, total);
}

void ReportOutcome(const SaveOutcome& outcome) {
    std::function<void(const SaveOutcome&)> listener;
    {
        std::lock_guard lock(g_progress_mutex);
        listener = g_outcomes;
    }
    if (listener) listener(outcome);
}

// What can be told of a bill record that failed its checks, for its outcome.
SaveOutcome OutcomeOfUnchecked(const Variant& value) {
    SaveOutcome outcome;
    if (const MapContainer* bill = AsMap(value)) {
        if (const Variant* id = Lookup(*bill, "BillInterID")) outcome.bill_inter_id = *id;
        if (const Variant* no = Lookup(*bill, "BillID"); no && no->IsString()) outcome.bill_no = no->AsString();
        if (const Variant* type = Lookup(*bill, "BillType"); type && type->IsNumeric()) {
            try {
                outcome.tran_type = type->ToLong();
            } catch (const Error&) {
            }
        }
    }
    return outcome;
}

}  // namespace

std::string_view OutcomeWord(SaveOutcomeKind kind) {
    switch (kind) {
        case SaveOutcomeKind::kSaved: return "saved";
        case SaveOutcomeKind::kUpdated: return "updated";
        case SaveOutcomeKind::kAlreadyHeld: return "already held";
        case SaveOutcomeKind::kNotSaved: return "not saved";
    }
    return "?";
}

bool OutcomeFromWord(std::string_view word, SaveOutcomeKind& kind) {
    for (SaveOutcomeKind k : {SaveOutcomeKind::kSaved, SaveOutcomeKind::kUpdated, SaveOutcomeKind::kAlreadyHeld,
                              SaveOutcomeKind::kNotSaved}) {
        if (OutcomeWord(k) == word) {
            kind = k;
            return true;
        }
    }
    return false;
}

void SetSaveProgress(std::function<void(int done, int total)> progress) {
    std::lock_guard lock(g_progress_mutex);
    g_progress = std::move(progress);
}

void SetSaveOutcomes(std::function<void(const SaveOutcome&)> listener) {
    std::lock_guard lock(g_progress_mutex);
    g_outcomes = std::move(listener);
}

void SetReceivedList(std::optional<ReceivedList> list) {
    std::lock_guard lock(g_progress_mutex);
    g_received_list = std::move(list);
}

void EnsureReceivedTables(SqliteDatabase& db) {
    const std::string schema = WithServerColumnRules(kReceivedSchema);
    TraceSql(schema);
    db.Exec(schema);
    // Tables made before received bills could be corrected lack the revision columns.
    SqliteStatement columns(db.Handle(), "SELECT count(*) FROM pragma_table_info('t_RcvBill') WHERE name='FRevision'");
    columns.Step();
    if (columns.ColumnInt(0) == 0) {
        db.Exec("ALTER TABLE t_RcvBill ADD COLUMN FRevision INTEGER NOT NULL DEFAULT 1;"
                "ALTER TABLE t_RcvBill ADD COLUMN FRevisedAt DATETIME;");
    }
    // Tables made before held copies were known by their fingerprint and list.
    SqliteStatement fingerprint(db.Handle(),
                                "SELECT count(*) FROM pragma_table_info('t_RcvBill') WHERE name='FFingerprint'");
    fingerprint.Step();
    if (fingerprint.ColumnInt(0) == 0) {
        db.Exec("ALTER TABLE t_RcvBill ADD COLUMN FFingerprint TEXT;"
                "ALTER TABLE t_RcvBill ADD COLUMN FListCreated DATETIME;");
    }
}

std::string ReceivedSchemaForServer(std::string_view script) {
    // Received decimals keep every digit that was sent: NUMERIC without a scale.
    return ScriptInServerTypes(script,
                               {{"DATETIME", "TIMESTAMP"},
                                {"DECIMAL_TEXT", "NUMERIC"},
                                {"AUTOINCREMENT", "GENERATED BY DEFAULT AS IDENTITY"}},
                               kServerTextCollation);
}

void EnsureReceivedTables(PgDatabase& db) {
    const std::vector<std::optional<std::string>> none;
    // Two savings that make the tables at the same moment would collide in the server's
    // catalog, so the tables are checked and made under a lock that only this takes.
    InTransaction(db, [&] {
        db.Query("SELECT pg_advisory_xact_lock(hashtext('orba received tables'))", none);
        // The server checks the right to create tables even for tables that exist already,
        // so the tables are made only when missing: an account that may not create tables
        // saves into tables a database administrator made.
        const bool there = db.Query("SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname=current_schema() "
                                    "AND tablename IN ('t_rcvbill','t_rcvbillentry')",
                                    none)
                               .Text(0, 0) == "2";
        if (!there) {
            const std::string schema = ReceivedSchemaForServer(kReceivedSchema);
            TraceSql(schema);
            db.Exec(schema);
        }
        // Tables made before received bills could be corrected lack the revision columns.
        if (db.Query("SELECT 1 FROM information_schema.columns WHERE table_schema=current_schema() AND "
                     "table_name='t_rcvbill' AND column_name='frevision'",
                     none)
                .Rows() == 0) {
            db.Exec("ALTER TABLE t_RcvBill ADD COLUMN FRevision INTEGER NOT NULL DEFAULT 1, "
                    "ADD COLUMN FRevisedAt TIMESTAMP");
        }
        if (db.Query("SELECT 1 FROM information_schema.columns WHERE table_schema=current_schema() AND "
                     "table_name='t_rcvbill' AND column_name='ffingerprint'",
                     none)
                .Rows() == 0) {
            db.Exec("ALTER TABLE t_RcvBill ADD COLUMN FFingerprint TEXT, ADD COLUMN FListCreated TIMESTAMP; "
                    "CREATE INDEX IF NOT EXISTS ix_RcvBill_Bill ON t_RcvBill (FKind, FSendBrNumber, FTranType, "
                    "FBillInterID)");
        }
    });
}

namespace {

// One saving run in one transaction, each bill inside a savepoint of its own: a bill that
// fails is rolled back alone, and the bills before it are kept. The outcomes and message
// lines of the run are held back until the run is committed, so that nothing is told
// saved that a failed commit has lost; if the commit fails, every bill of the run is
// told not saved, with the reason.
class SavingRun {
public:
    SavingRun(ReceivingDb& db, std::string& messages) : db_(db), messages_(messages) { db_.Begin(); }
    ~SavingRun() {
        if (db_.InTransaction()) db_.ExecQuietly("ROLLBACK");
    }

    // Runs `body` inside a savepoint; on an Error the bill's own writes are undone.
    template <class Body>
    void InSavepoint(Body&& body) {
        db_.Exec("SAVEPOINT bill");
        try {
            body();
        } catch (...) {
            db_.ExecQuietly("ROLLBACK TO bill; RELEASE bill");
            throw;
        }
        db_.Exec("RELEASE bill");
    }

    // A bill's outcome and message line, told once the run is committed.
    void Tell(SaveOutcome outcome, std::string line) { told_.push_back({std::move(outcome), std::move(line)}); }

    // Commits the bills saved so far and tells their outcomes. When the commit fails, tells
    // each of them not saved and raises the failure.
    void Finish() {
        std::optional<Error> failure;
        try {
            db_.Commit();
        } catch (const Error& e) {
            failure = Error(e.Code(), "the received bills could not be committed, none of them is saved: " +
                                          e.Description());
        }
        for (auto& [outcome, line] : told_) {
            // A bill held from an earlier run is held still; one written by this run is not.
            const bool written = outcome.kind == SaveOutcomeKind::kSaved || outcome.kind == SaveOutcomeKind::kUpdated;
            if (failure && written) {
                outcome.kind = SaveOutcomeKind::kNotSaved;
                outcome.reason = failure->Description();
                line = fmt::format("{}: not saved: {}", line.substr(0, line.rfind(": ")),
                                   platform::EscapeControls(failure->Description()));
            }
            messages_ += line + "\r\n";
            ReportOutcome(outcome);
        }
        told_.clear();
        if (failure) throw *failure;
    }

private:
    struct Told {
        SaveOutcome outcome;
        std::string line;
    };
    ReceivingDb& db_;
    std::string& messages_;
    std::vector<Told> told_;
};

}  // namespace

void SaveData::Save(std::string_view props, const Variant& bills, ReceivedKind kind, std::string& messages) {
    if (bills.IsNothing() || bills.IsEmpty() || bills.IsNull()) return;  // the sender found no bill of this type
    const ListContainer* list = AsList(bills);
    if (!list) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The received bills are a {}, not a list of bill records", bills.TypeName()));
    }
    std::optional<ReceivedList> from;
    {
        std::lock_guard lock(g_progress_mutex);
        from = g_received_list;
    }
    const std::unique_ptr<ReceivingDb> db = OpenReceivingDb(AccountDatabasePath(props));
    // Received bills go only into a branch's account database, never into some other file.
    db->CheckBranch();
    db->EnsureTables();
    Statements statements(*db);
    // The branch the bills must be addressed to: this one (the check above found it).
    if (!statements.Run("SELECT FNumber FROM t_SonCompany WHERE FItemID=(SELECT FValue FROM t_Systemprofile "
                        "WHERE FCategory='IC' AND FKey='BrID')",
                        {})) {
        throw Error(ErrorCode::kNotFound, "The account database does not say which branch it is");
    }
    const std::string own_number = db->Text(0);
    SavingRun run(*db, messages);
    const int total = list->Count();
    for (int32_t i = 1; i <= total; ++i) {
        SaveOutcome outcome;
        CheckedBill bill;
        try {
            bill = CheckBill(list->At(i), kind, i);
        } catch (const Error& e) {
            // The bills before this one stay saved.
            run.Finish();
            outcome = OutcomeOfUnchecked(list->At(i));
            outcome.bills = list;
            outcome.index = i;
            outcome.reason = e.Description();
            ReportOutcome(outcome);
            throw;
        }
        outcome.bills = list;
        outcome.index = i;
        outcome.bill_inter_id = Variant(bill.inter_id);
        outcome.bill_no = bill.bill_no;
        outcome.tran_type = bill.tran_type.ToLong();
        outcome.fingerprint = bill.fingerprint;
        const std::string_view name = KindName(kind, bill.tran_type);
        if (std::string contradiction = Contradiction(kind, bill, from, own_number); !contradiction.empty()) {
            std::string line = fmt::format("{} {} from branch {}: not saved: {}", name,
                                           platform::EscapeControls(bill.bill_no),
                                           platform::EscapeControls(bill.send_number),
                                           platform::EscapeControls(contradiction));
            outcome.reason = std::move(contradiction);
            run.Tell(std::move(outcome), std::move(line));
            ReportProgress(i, total);
            continue;
        }
        if (!InItsOwnForm(kind, bill)) {
            const std::string_view form = bill.delivery_form ? "delivery-notice" : "return-notice";
            outcome.reason = fmt::format("came in the {} form; it is saved from the package of its own type", form);
            run.Tell(std::move(outcome), fmt::format("{} {} from branch {}: came in the {} form, not saved from it",
                                                     name, platform::EscapeControls(bill.bill_no),
                                                     platform::EscapeControls(bill.send_number), form));
            ReportProgress(i, total);
            continue;
        }
        BillResult result;
        try {
            run.InSavepoint([&] { result = SaveReceivedBill(statements, kind, bill, from); });
        } catch (const Error& e) {
            outcome.reason = e.Description();
            run.Tell(std::move(outcome),
                     fmt::format("{} {} from branch {}: not saved: {}", name, platform::EscapeControls(bill.bill_no),
                                 platform::EscapeControls(bill.send_number), platform::EscapeControls(e.Description())));
            run.Finish();
            throw;
        }
        outcome.kind = result.kind;
        outcome.reason = result.reason;
        outcome.revision = result.revision;
        // A bill number or branch holding CR LF or escape codes must not make lines of its own.
        std::string line = fmt::format("{} {} from branch {}: {}", name, platform::EscapeControls(bill.bill_no),
                                       platform::EscapeControls(bill.send_number), OutcomeLine(result.kind));
        if (result.kind == SaveOutcomeKind::kUpdated) {
            line += result.reason.empty() ? fmt::format(" (revision {})", result.revision)
                                          : fmt::format(" (revision {}; {})", result.revision,
                                                        platform::EscapeControls(result.reason));
        }
        if (result.kind == SaveOutcomeKind::kNotSaved) line += ": " + platform::EscapeControls(result.reason);
        run.Tell(std::move(outcome), std::move(line));
        ReportProgress(i, total);
    }
    run.Finish();
}

const platform::MemberTable<SaveData>& SaveData::Members() {
    static const platform::MemberTable<SaveData> table = [] {
        platform::MemberTable<SaveData> t("SaveData");
        auto saver = [](ReceivedKind kind) {
            return [kind](SaveData&, platform::CallArgs& a) {
                std::string messages = a[2].IsNull() || a[2].IsEmpty() ? std::string() : a.Text(2);
                // Lines written before a failure stay in the caller's text.
                try {
                    Save(a.Text(0), a[1], kind, messages);
                } catch (...) {
                    a[2] = Variant(std::move(messages));
                    throw;
                }
                a[2] = Variant(std::move(messages));
                return Variant();
            };
        };
        t.Method("UnPackageOrd", 3, 3, saver(ReceivedKind::kOrder))
            .Method("UnPackageNotice", 3, 3, saver(ReceivedKind::kNotice));
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit
