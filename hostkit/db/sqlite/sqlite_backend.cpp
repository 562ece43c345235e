#include "hostkit/db/sqlite/sqlite_backend.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "hostkit/db/sqlite/row_reader.h"
#include "hostkit/db/sqlite/sqlite_db.h"
#include "hostkit/db/sqlite/text_rules.h"
#include "hostkit/dialect/sql_dialect.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::MakeRef;
using platform::Ref;
using platform::RecordSet;
using platform::Variant;

namespace {

SqliteDatabase::Mode FileMode(OpenMode mode) {
    switch (mode) {
        case OpenMode::kReadOnly: return SqliteDatabase::Mode::kReadOnly;
        case OpenMode::kCreate: return SqliteDatabase::Mode::kCreate;
        case OpenMode::kReadWrite:
        case OpenMode::kCreateNew: break;
    }
    return SqliteDatabase::Mode::kReadWrite;
}

// Creates the file exclusively: an existing file is never opened, let alone changed, even
// if it appears between a check and the creation.
void CreateNewFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wx");
    if (file == nullptr) {
        const int error = errno;
        if (error == EEXIST) {
            throw platform::Error(platform::ErrorCode::kFileAlreadyExists,
                                  fmt::format("The account database '{}' already exists; it is left untouched", path));
        }
        throw platform::Error(platform::ErrorCode::kIoError,
                              fmt::format("The account database '{}' cannot be created: {}", path, std::strerror(error)));
    }
    std::fclose(file);
}

std::vector<const Variant*> Pointers(const std::vector<Variant>& values) {
    std::vector<const Variant*> pointers;
    pointers.reserve(values.size());
    for (const Variant& v : values) pointers.push_back(&v);
    return pointers;
}

// A statement run for its first row at most: the row is read out and the statement reset
// at once, so no statement stays open in the file (a commit waits for none).
class FileStatement final : public Statement {
public:
    FileStatement(SqliteDatabase& db, std::string_view sql) : sql_(sql), stmt_(db.Handle(), sql) {}
    bool Run(const std::vector<const Variant*>& values) override {
        stmt_.Reset();
        for (size_t i = 0; i < values.size(); ++i) BindValue(stmt_, static_cast<int>(i + 1), *values[i]);
        cells_.clear();
        const bool row = stmt_.Step();
        if (row) {
            for (int c = 0, n = stmt_.ColumnCount(); c < n; ++c) {
                cells_.push_back({stmt_.ColumnIsNull(c), stmt_.ColumnInt(c), stmt_.ColumnText(c)});
            }
        }
        stmt_.Reset();
        return row;
    }
    bool IsNull(int column) const override { return Cell(column).null; }
    int64_t Int(int column) const override { return Cell(column).number; }
    std::string Text(int column) const override { return Cell(column).text; }
    const std::string& Sql() const override { return sql_; }

private:
    struct Value {
        bool null;
        int64_t number;
        std::string text;
    };
    const Value& Cell(int column) const { return cells_.at(static_cast<size_t>(column)); }

    std::string sql_;
    SqliteStatement stmt_;
    std::vector<Value> cells_;
};

class FileDatabase final : public Database {
public:
    // A new file is opened by its absolute path, so a name such as ":memory:" or "file:..."
    // reaches the file just created instead of being read as a special name.
    FileDatabase(const std::string& path, OpenMode mode)
        : Database(path, path, fmt::format("database '{}'", path)),
          db_(mode == OpenMode::kCreateNew ? std::filesystem::absolute(path).string() : path, FileMode(mode)),
          created_(mode == OpenMode::kCreateNew), read_only_(mode == OpenMode::kReadOnly) {
        RegisterDecimalFunctions(db_);
        ::stat(path.c_str(), &opened_);
    }
    FileDatabase(sqlite3* borrowed, const std::string& name)
        : Database(name, name, fmt::format("database '{}'", name)), db_(borrowed, name) {}

    // The column names of the tables a statement names are read once per table and connection,
    // for columns written without their table.
    std::vector<TranslatedStatement> Translate(std::string_view batch) const override {
        return TranslateBatch(batch, [this](const std::string& table) {
            auto [known, added] = columns_.try_emplace(table);
            if (added) {
                SqliteStatement stmt(const_cast<SqliteDatabase&>(db_).Handle(), "SELECT name FROM pragma_table_info(?)");
                stmt.Bind(1, table);
                while (stmt.Step()) known->second.push_back(stmt.ColumnText(0));
            }
            return known->second;
        });
    }
    void Exec(std::string_view script) override { db_.Exec(script); }

    Ref<RecordSet> Query(std::string_view sql, const std::vector<Variant>& values,
                         const NameFields& name_fields) override {
        SqliteRowFeed feed(db_, sql, Pointers(values));
        std::vector<Variant> rows;
        while (feed.Append(rows)) {
        }
        if (feed.Fields().empty()) return MakeRef<RecordSet>();  // closed: the statement yields no rows
        if (name_fields) name_fields(feed.Fields());
        return MakeRef<RecordSet>(std::move(feed.Fields()), std::move(rows));
    }

    Ref<RecordSet> QueryForward(std::string_view sql, const NameFields& name_fields,
                                Ref<platform::Object> keep_alive) override {
        auto feed = std::make_unique<SqliteRowFeed>(db_, sql, std::vector<const Variant*>{}, std::move(keep_alive));
        if (name_fields) name_fields(feed->Fields());
        std::vector<platform::FieldInfo> fields = feed->Fields();
        return MakeRef<RecordSet>(std::move(fields), std::unique_ptr<platform::RowFeed>(std::move(feed)));
    }

    std::unique_ptr<Statement> Prepare(std::string_view sql) override {
        return std::make_unique<FileStatement>(db_, sql);
    }

    // BEGIN IMMEDIATE takes the write lock at once, so a writer that has to wait does so
    // before it has done anything.
    void Begin() override { db_.Exec("BEGIN IMMEDIATE"); }
    void Commit() override {
        try {
            db_.Exec("COMMIT");
        } catch (const platform::Error&) {
            // A commit that failed (a busy database, a deferred constraint) leaves the
            // transaction open; nothing of it is kept.
            Rollback();
            throw;
        }
    }
    void Rollback() noexcept override {
        if (InTransaction()) {
            try {
                db_.Exec("ROLLBACK");
            } catch (const platform::Error&) {
            }
        }
    }
    bool InTransaction() const override { return hostkit::InTransaction(db_); }
    // The write lock of the transaction keeps every other writer out already.
    void HoldAgainstWriters(std::string_view) override {}
    void HoldForSchemaChange(std::string_view) override {}

    bool HasTable(std::string_view table) override {
        return Count("SELECT count(*) FROM sqlite_master WHERE type='table' AND name=? COLLATE NOCASE", table) > 0;
    }
    bool HasColumn(std::string_view table, std::string_view column) override {
        SqliteStatement stmt(db_.Handle(), "SELECT count(*) FROM pragma_table_info(?) WHERE name=? COLLATE NOCASE");
        stmt.Bind(1, table);
        stmt.Bind(2, column);
        return stmt.Step() && stmt.ColumnInt(0) > 0;
    }
    std::string TableScript(std::string_view script, ServerTypes) const override {
        return WithServerColumnRules(script);
    }
    std::string SchemaPrologue() const override { return {}; }
    bool ReadOnly() const { return read_only_; }
    std::string Subject() const override { return fmt::format("'{}'", Location()); }
    std::string Label() const override { return Location(); }
    std::string AbsoluteLocation() const override {
        return std::filesystem::absolute(Location()).lexically_normal().string();
    }
    // The same file, not written since: a file deleted and made anew may get the same
    // inode number, but not the same time of its last change as well.
    bool StillCurrent() const override {
        struct stat st {};
        return ::stat(Location().c_str(), &st) == 0 && st.st_dev == opened_.st_dev && st.st_ino == opened_.st_ino &&
               st.st_mtim.tv_sec == opened_.st_mtim.tv_sec && st.st_mtim.tv_nsec == opened_.st_mtim.tv_nsec &&
               st.st_size == opened_.st_size;
    }
    void Abandon() noexcept override {
        Rollback();
        if (!created_) return;
        std::error_code ignored;
        std::filesystem::remove(Location(), ignored);
    }

private:
    int64_t Count(const char* sql, std::string_view value) {
        SqliteStatement stmt(db_.Handle(), sql);
        stmt.Bind(1, value);
        return stmt.Step() ? stmt.ColumnInt(0) : 0;
    }

    SqliteDatabase db_;
    mutable std::map<std::string, std::vector<std::string>> columns_;
    bool created_ = false;
    bool read_only_ = false;
    struct stat opened_ {};
};

}  // namespace

std::unique_ptr<Database> BorrowFileDatabase(sqlite3* handle, const std::string& name) {
    return std::make_unique<FileDatabase>(handle, name);
}

bool IsReadOnlyFile(const Database& db) {
    const auto* file = dynamic_cast<const FileDatabase*>(&db);
    return file && file->ReadOnly();
}

std::unique_ptr<Database> OpenFileDatabase(const std::string& path, OpenMode mode) {
    if (mode == OpenMode::kCreateNew) CreateNewFile(path);
    try {
        return std::make_unique<FileDatabase>(path, mode);
    } catch (const platform::Error&) {
        if (mode == OpenMode::kCreateNew) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
        throw;
    }
}


}  // namespace orba::hostkit
