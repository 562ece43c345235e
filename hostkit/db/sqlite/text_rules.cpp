#include "hostkit/db/sqlite/text_rules.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "hostkit/dialect/sql_tokenizer.h"
#include "hostkit/db/sqlite/sqlite_db.h"
#include "hostkit/db/database_rules.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;

namespace {

constexpr std::string_view kRangePrefix = "range ";
// A length check is named "<column> holds at most <n> characters", as on the server.
constexpr std::string_view kLengthInfix = " holds at most ";
constexpr std::string_view kLengthSuffix = " characters";

// Table definitions found to follow the rules already. Every read-write open checks the
// definitions, and a process opens the same database several times: each definition is
// matched against the rules once per process, not once per open.
class RuledDefinitions {
public:
    bool Contains(const std::string& sql) {
        std::lock_guard lock(mutex_);
        return known_.contains(sql);
    }
    void Add(const std::string& sql) {
        std::lock_guard lock(mutex_);
        if (known_.size() < kMaxKept) known_.insert(sql);
    }

private:
    static constexpr size_t kMaxKept = 4096;  // far more tables than a schema has
    std::mutex mutex_;
    std::unordered_set<std::string> known_;
};

RuledDefinitions& Ruled() {
    static RuledDefinitions ruled;
    return ruled;
}

int Collate(void*, int a_size, const void* a, int b_size, const void* b) {
    return CompareServerText(std::string_view(static_cast<const char*>(a), static_cast<size_t>(a_size)),
                             std::string_view(static_cast<const char*>(b), static_cast<size_t>(b_size)));
}

void Run(sqlite3* db, const char* sql, std::string_view path) {
    char* message = nullptr;
    if (const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message); rc != SQLITE_OK) {
        std::string m = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        if (IsLockedOut(rc)) throw Error(ErrorCode::kDatabaseError, LockedMessage(db, path, m));
        throw Error(ErrorCode::kDatabaseError,
                    fmt::format("The account database '{}' could not be brought up to date: {}", path, m));
    }
}

}  // namespace

void RegisterServerRules(sqlite3* db) {
    const std::string name(kTextCollation);
    sqlite3_create_collation_v2(db, name.c_str(), SQLITE_UTF8, nullptr, Collate, nullptr);
}

namespace {

// Writes a CREATE TABLE script again with the rules added to its text and decimal columns.
class ColumnRuleWriter {
public:
    explicit ColumnRuleWriter(std::string_view sql) : tokens_(TokenizeSql(sql)) { out_.reserve(sql.size() + 256); }

    std::string Write() {
        for (size_t i = 0; i < tokens_.size(); ++i) {
            const SqlToken& t = tokens_[i];
            if (t.IsTrivia()) {
                out_ += t.text;
                continue;
            }
            if (const size_t end = RuledType(i); end != kNoType) {
                i = end;
                column_ = tokens_.size();
                continue;
            }
            column_ = t.kind == SqlTokenKind::kWord ? i : tokens_.size();
            out_ += t.text;
        }
        return std::move(out_);
    }

private:
    static constexpr size_t kNoType = static_cast<size_t>(-1);

    // The next token that is not a blank or a comment after `i` (tokens_.size() at the end).
    size_t Next(size_t i) const {
        do ++i;
        while (i < tokens_.size() && tokens_[i].IsTrivia());
        return i;
    }
    bool Is(size_t i, std::string_view symbol) const { return i < tokens_.size() && tokens_[i].IsSymbol(symbol); }
    bool Digits(size_t i) const {
        return i < tokens_.size() && tokens_[i].kind == SqlTokenKind::kNumber &&
               tokens_[i].text.find_first_not_of("0123456789") == std::string_view::npos;
    }
    bool Word(size_t i, std::string_view keyword) const {
        return i < tokens_.size() && tokens_[i].kind == SqlTokenKind::kWord && tokens_[i].IsKeyword(keyword);
    }
    bool TextType(size_t i) const { return Word(i, "CHAR") || Word(i, "NCHAR") || Word(i, "VARCHAR") || Word(i, "NVARCHAR"); }

    // When a sized text or decimal type right after a column's name ("AS CHAR(10)" is the
    // type of a CAST) lacks a rule, writes it with the rule and gives the last token it took;
    // kNoType otherwise.
    size_t RuledType(size_t i) {
        const bool after_name = column_ < tokens_.size() && column_ + 1 < i && Next(column_) == i &&
                                tokens_[column_ + 1].kind == SqlTokenKind::kBlank && !Word(column_, "AS");
        if (!after_name) return kNoType;
        if (TextType(i)) return RuledText(i);
        if (Word(i, "DECIMAL")) return RuledDecimal(i);
        return kNoType;
    }

    // A text column (n): the collation and a length check named as on the server.
    size_t RuledText(size_t i) {
        const size_t open = Next(i), first = Next(open), close = Next(first);
        if (!(Is(open, "(") && Digits(first) && Is(close, ")"))) return kNoType;
        const size_t after = Next(close);
        // A collation given to the column ends its type; the length check follows it.
        const bool collated = Word(after, "COLLATE") && Next(after) < tokens_.size();
        const size_t end = collated ? Next(after) : close;
        const std::string_view name = tokens_[column_].text;
        const std::string_view limit = tokens_[first].text;
        const std::string check = fmt::format("\"{}{}{}{}\"", name, kLengthInfix, limit, kLengthSuffix);
        const size_t following = Next(end);
        const bool checked = Word(following, "CONSTRAINT") && Next(following) < tokens_.size() &&
                             tokens_[Next(following)].text == check;
        if (collated && checked) return kNoType;
        for (size_t k = i; k <= end; ++k) out_ += tokens_[k].text;
        if (!collated) out_ += fmt::format(" COLLATE {}", kTextCollation);
        // As the server's blank-padded text counts it: characters before any trailing blanks.
        // Most values are within the limit with their blanks, which spares them the copy
        // rtrim makes.
        if (!checked) {
            out_ += fmt::format(" CONSTRAINT {} CHECK (length({}) <= {} OR length(rtrim({})) <= {})", check, name, limit,
                                name, limit);
        }
        // "VARCHAR(5)NOT NULL" is valid; what is added must not run into NOT.
        if (end + 1 < tokens_.size() && tokens_[end + 1].kind == SqlTokenKind::kWord) out_ += ' ';
        return end;
    }

    // A decimal column (p,s): a range check named after the column and its type, so a
    // failure can be reported as the server reports it.
    size_t RuledDecimal(size_t i) {
        const size_t open = Next(i), first = Next(open), comma = Next(first), second = Next(comma), close = Next(second);
        if (!(Is(open, "(") && Digits(first) && Is(comma, ",") && Digits(second) && Is(close, ")"))) return kNoType;
        const size_t after = Next(close);
        const std::string range_name = fmt::format("\"{}", kRangePrefix);
        if (Word(after, "CONSTRAINT") && Next(after) < tokens_.size() && tokens_[Next(after)].text.starts_with(range_name)) {
            return kNoType;
        }
        const std::string name(tokens_[column_].text);
        const int precision = std::stoi(std::string(tokens_[first].text));
        const int scale = std::stoi(std::string(tokens_[second].text));
        // A value must have fewer than 10^(p-s) in its integer part.
        out_ += fmt::format("DECIMAL({},{}) CONSTRAINT \"{}{} ({},{})\" CHECK (abs({}) < 1e{})", precision, scale,
                            kRangePrefix, name, precision, scale, name, precision - scale);
        return close;
    }

    const std::vector<SqlToken> tokens_;
    std::string out_;
    size_t column_ = static_cast<size_t>(-1);  // the last word, which names the column when a type follows
};

}  // namespace

std::string WithServerColumnRules(std::string_view create_sql) { return ColumnRuleWriter(create_sql).Write(); }

int UpgradeToServerRules(SqliteDatabase& database) {
    sqlite3* db = database.Handle();
    const std::string_view path = database.Path();
    std::vector<std::pair<std::string, std::string>> changes;
    {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(db, "SELECT name, sql FROM sqlite_master WHERE type='table' AND sql IS NOT NULL",
                                    -1, &stmt, nullptr);
        while (rc == SQLITE_OK || rc == SQLITE_ROW) {
            if ((rc = sqlite3_step(stmt)) != SQLITE_ROW) break;
            std::string name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            std::string sql = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
            if (Ruled().Contains(sql)) continue;
            std::string upgraded = WithServerColumnRules(sql);
            if (upgraded != sql) {
                changes.emplace_back(std::move(name), std::move(upgraded));
            } else {
                Ruled().Add(sql);
            }
        }
        const std::string message = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(db);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) {
            if (IsLockedOut(rc)) throw Error(ErrorCode::kDatabaseError, LockedMessage(db, path, message));
            throw Error(ErrorCode::kDatabaseError,
                        fmt::format("The account database '{}' cannot be read: {}", path, message));
        }
    }
    if (changes.empty()) return 0;

    // The stored table definitions are rewritten in place: a collation or a CHECK does not
    // change how rows are stored, only the order of index entries, which REINDEX rebuilds.
    SqliteTransaction transaction(database);
    // Writing the schema table is allowed only while it is needed, also when this fails.
    struct WritableSchema {
        sqlite3* db;
        std::string_view path;
        explicit WritableSchema(sqlite3* d, std::string_view p) : db(d), path(p) { Run(db, "PRAGMA writable_schema=ON", path); }
        ~WritableSchema() { sqlite3_exec(db, "PRAGMA writable_schema=OFF", nullptr, nullptr, nullptr); }
    };
    {
        sqlite3_stmt* version = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA schema_version", -1, &version, nullptr);
        const int64_t schema_version = sqlite3_step(version) == SQLITE_ROW ? sqlite3_column_int64(version, 0) : 0;
        sqlite3_finalize(version);
        const WritableSchema writable(db, path);
        sqlite3_stmt* update = nullptr;
        sqlite3_prepare_v2(db, "UPDATE sqlite_master SET sql=?1 WHERE type='table' AND name=?2", -1, &update, nullptr);
        for (const auto& [name, sql] : changes) {
            sqlite3_bind_text(update, 1, sql.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(update, 2, name.c_str(), -1, SQLITE_TRANSIENT);
            const int rc = sqlite3_step(update);
            sqlite3_reset(update);
            if (rc != SQLITE_DONE) {
                sqlite3_finalize(update);
                throw Error(ErrorCode::kDatabaseError,
                            fmt::format("The account database '{}' could not be brought up to date: {}", path,
                                        sqlite3_errmsg(db)));
            }
        }
        sqlite3_finalize(update);
        Run(db, fmt::format("PRAGMA schema_version={}", schema_version + 1).c_str(), path);
    }
    {
        try {
            Run(db, "REINDEX", path);
        } catch (const Error& e) {
            throw Error(e.Number(), fmt::format("{} (two values there differ only in letter case or trailing "
                                                "blanks, which the account database treats as equal; make them "
                                                "differ and open the database again)",
                                                e.Description()));
        }
    }
    transaction.Commit();
    return static_cast<int>(changes.size());
}

std::string ServerRuleMessage(std::string_view sqlite_message) {
    if (std::string overflow = OverflowMessage(sqlite_message); !overflow.empty()) return overflow;
    constexpr std::string_view kCheckFailed = "CHECK constraint failed: ";
    const size_t at = sqlite_message.find(kCheckFailed);
    if (at == std::string_view::npos) return {};
    const std::string_view name = sqlite_message.substr(at + kCheckFailed.size());
    if (name.find(kLengthInfix) == std::string_view::npos || !name.ends_with(kLengthSuffix)) return {};
    // The server names the table too; SQLite does not say which row's table failed.
    return fmt::format("new row violates check constraint \"{}\"", name);
}

std::string OverflowMessage(std::string_view sqlite_message) {
    const std::string marker = fmt::format("CHECK constraint failed: {}", kRangePrefix);
    const size_t at = sqlite_message.find(marker);
    if (at == std::string_view::npos) return {};
    std::string_view what = sqlite_message.substr(at + marker.size());
    const size_t space = what.find(' ');
    if (space == std::string_view::npos) return std::string(kArithmeticOverflow);
    return fmt::format("{} (column {}, DECIMAL{})", kArithmeticOverflow, what.substr(0, space),
                       what.substr(space + 1));
}

}  // namespace orba::hostkit
