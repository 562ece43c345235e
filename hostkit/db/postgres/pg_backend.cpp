#include "hostkit/db/postgres/pg_backend.h"

#include <fmt/format.h>

#include <charconv>
#include <map>
#include <optional>

#include "hostkit/db/postgres/pg_db.h"
#include "hostkit/dialect/sql_dialect_pg.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;
using platform::FieldInfo;
using platform::MakeRef;
using platform::Ref;
using platform::RecordSet;
using platform::Variant;
using platform::VarType;

namespace {

// A value as the server takes it, as a file keeps it: truth values as 1 and 0, numbers other
// than whole Longs as exact decimal text.
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

// A statement written with ? marks as the server reads it: $1, $2 ... in their order, and the
// null-safe comparison "IS ?" as IS NOT DISTINCT FROM. A ? inside a quoted text is text.
std::string NumberedMarks(std::string_view sql) {
    std::string out;
    out.reserve(sql.size() + sql.size() / 4);
    int n = 0;
    bool quoted = false;
    for (char c : sql) {
        if (c == '\'') quoted = !quoted;
        if (c != '?' || quoted) {
            out += c;
            continue;
        }
        if (out.size() >= 3 && out.compare(out.size() - 3, 3, "IS ") == 0) out += "NOT DISTINCT FROM ";
        out += fmt::format("${}", ++n);
    }
    return out;
}

std::vector<std::optional<std::string>> ServerValues(const std::vector<const Variant*>& values) {
    std::vector<std::optional<std::string>> texts;
    texts.reserve(values.size());
    for (const Variant* v : values) texts.push_back(ServerValue(*v));
    return texts;
}

// The names a result's fields take: the server's, unless the caller names them.
std::vector<std::string> FieldNames(const PgResult& result, const NameFields& name_fields) {
    std::vector<FieldInfo> fields(static_cast<size_t>(result.Columns()));
    for (size_t c = 0; c < fields.size(); ++c) fields[c].name = result.ColumnName(static_cast<int>(c));
    if (name_fields) name_fields(fields);
    std::vector<std::string> names;
    names.reserve(fields.size());
    for (FieldInfo& f : fields) names.push_back(std::move(f.name));
    return names;
}

class ServerStatement final : public Statement {
public:
    ServerStatement(PgDatabase& db, std::string name, std::string_view sql)
        : db_(db), name_(std::move(name)), sql_(NumberedMarks(sql)) {
        db_.Prepare(name_, sql_);
    }
    bool Run(const std::vector<const Variant*>& values) override {
        last_.reset();
        last_ = std::make_unique<PgResult>(db_.RunPrepared(name_, ServerValues(values)));
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
    const std::string& Sql() const override { return sql_; }

private:
    PgDatabase& db_;
    std::string name_;
    std::string sql_;
    std::unique_ptr<PgResult> last_;
};

class ServerDatabase final : public Database {
public:
    explicit ServerDatabase(const std::string& uri)
        : Database(uri, WithoutPassword(uri), DescribeServerDatabase(uri)), db_(uri) {}

    // The column names of the tables a statement names are read once per table and connection,
    // for columns written without their table.
    std::vector<TranslatedStatement> Translate(std::string_view batch) const override {
        return TranslateBatchForPostgres(batch, [this](const std::string& table) {
            auto [known, added] = columns_.try_emplace(table);
            if (added) {
                auto& db = const_cast<PgDatabase&>(db_);
                const auto result = db.Query("SELECT column_name FROM information_schema.columns WHERE "
                                             "table_schema=current_schema() AND table_name=lower($1)",
                                             std::vector<std::optional<std::string>>{table});
                for (int r = 0; r < result.Rows(); ++r) known->second.emplace_back(result.Text(r, 0));
            }
            return known->second;
        });
    }
    void Exec(std::string_view script) override { db_.Exec(script); }

    Ref<RecordSet> Query(std::string_view sql, const std::vector<Variant>& values,
                         const NameFields& name_fields) override {
        std::vector<const Variant*> pointers;
        for (const Variant& v : values) pointers.push_back(&v);
        PgResult result = values.empty() ? db_.Query(sql) : db_.Query(NumberedMarks(sql), ServerValues(pointers));
        if (result.Columns() == 0) return MakeRef<RecordSet>();  // closed: the statement yields no rows
        return PgRecordSet(result, FieldNames(result, name_fields));
    }

    // The server hands the rows over whole; the set gives them their values as it reads on.
    Ref<RecordSet> QueryForward(std::string_view sql, const NameFields& name_fields,
                                Ref<platform::Object>) override {
        PgResult result = db_.Query(sql);
        std::vector<std::string> names = FieldNames(result, name_fields);
        return PgForwardRecordSet(std::move(result), names);
    }

    std::unique_ptr<Statement> Prepare(std::string_view sql) override {
        return std::make_unique<ServerStatement>(db_, fmt::format("orba_{}", ++prepared_), sql);
    }

    void Begin() override { db_.Exec("BEGIN"); }
    void Commit() override {
        // A COMMIT of a transaction with a failed statement would roll it back and answer
        // as if it had succeeded.
        if (db_.TransactionFailed()) {
            Rollback();
            throw Error(ErrorCode::kDatabaseError,
                        fmt::format("The {} had refused a statement of the transaction", db_.Description()));
        }
        try {
            db_.Exec("COMMIT");
        } catch (const Error&) {
            Rollback();
            throw;
        }
    }
    void Rollback() noexcept override {
        if (!db_.InTransaction()) return;
        try {
            db_.Exec("ROLLBACK");
        } catch (const Error&) {
            // A connection gone has no transaction left to undo.
        }
    }
    bool InTransaction() const override { return db_.InTransaction(); }
    void HoldAgainstWriters(std::string_view table) override {
        db_.Exec(fmt::format("LOCK TABLE {} IN SHARE ROW EXCLUSIVE MODE", table));
    }
    void HoldForSchemaChange(std::string_view what) override {
        db_.Query("SELECT pg_advisory_xact_lock(hashtext($1))", std::vector<std::optional<std::string>>{std::string(what)});
    }

    // The server keeps unquoted names in lower case.
    bool HasTable(std::string_view table) override {
        return db_.Query("SELECT 1 FROM pg_catalog.pg_tables WHERE schemaname=current_schema() AND tablename=lower($1)",
                         std::vector<std::optional<std::string>>{std::string(table)})
                   .Rows() > 0;
    }
    bool HasColumn(std::string_view table, std::string_view column) override {
        return db_.Query("SELECT 1 FROM information_schema.columns WHERE table_schema=current_schema() AND "
                         "table_name=lower($1) AND column_name=lower($2)",
                         std::vector<std::optional<std::string>>{std::string(table), std::string(column)})
                   .Rows() > 0;
    }
    std::string TableScript(std::string_view script, ServerTypes server_types) const override {
        return ScriptInServerTypes(script, server_types, kServerTextCollation);
    }
    std::string Subject() const override { return "The " + Name(); }
    std::string Label() const override { return Name(); }
    std::string AbsoluteLocation() const override { return Location(); }
    std::string SchemaPrologue() const override { return std::string(kServerSchemaPrologue); }
    bool StillCurrent() const override { return true; }
    void Abandon() noexcept override { Rollback(); }

private:
    PgDatabase db_;
    mutable std::map<std::string, std::vector<std::string>> columns_;
    int prepared_ = 0;
};

}  // namespace

std::unique_ptr<Database> OpenServerDatabase(const std::string& uri, OpenMode) {
    return std::make_unique<ServerDatabase>(uri);
}

}  // namespace orba::hostkit
