// The statements of one saving run, each prepared once: every line of a package has the
// same columns, so a package of thousands of lines prepares a handful of statements. The
// statements made from a column list are found again by comparing their table and column
// names, so a line's statement text is not written anew for each line.
#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/database.h"
#include "hostkit/saving/record_checks.h"

namespace orba::hostkit {

class StatementCache {
public:
    explicit StatementCache(Database& db) : db_(db) {}

    // Runs `sql` with `values` bound in order; true when it yielded a row, which Last() reads.
    bool Run(const std::string& sql, const std::vector<const platform::Variant*>& values);
    // The statement run last, to read the row it yielded.
    const Statement& Last() const { return *last_; }

    // Inserts a row of `columns` followed by `extra`; with `key` named, gives the new row's
    // value of it.
    int64_t Insert(std::string_view table, const std::vector<Column>& columns, std::initializer_list<Column> extra,
                   std::string_view key = {});
    // True when the row of `table` picked by `key` (column = value, all of them) holds
    // exactly `columns`. A value is compared as the insert would have stored it.
    bool Holds(std::string_view table, std::initializer_list<Column> key, const std::vector<Column>& columns);
    // Sets `columns` followed by `extra` on the row of `table` picked by `key`.
    void Update(std::string_view table, const std::vector<Column>& columns, std::initializer_list<Column> extra,
                const Column& key);

private:
    enum class Op { kInsert, kHolds, kUpdate };
    struct Made {
        Op op;
        std::string table;
        std::vector<std::string> names;
        Statement* statement;
    };

    // Prepares `sql` and keeps it for the run; the saving component's statements are traced.
    Statement& Prepare(const std::string& sql);
    // The statement of `op` on `table` for these columns, made by `make` the first time.
    Statement& Cached(Op op, std::string_view table, std::initializer_list<Column> key, const std::vector<Column>& columns,
                      std::initializer_list<Column> extra, const std::function<std::string()>& make);
    bool RunKept(Statement& statement);

    Database& db_;
    std::vector<std::unique_ptr<Statement>> prepared_;
    std::map<std::string, Statement*, std::less<>> fixed_;
    std::vector<Made> made_;
    std::vector<const platform::Variant*> values_;
    Statement* last_ = nullptr;
};

}  // namespace orba::hostkit
