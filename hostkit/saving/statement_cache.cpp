#include "hostkit/saving/statement_cache.h"

#include <fmt/format.h>

#include "hostkit/sql_trace.h"

namespace orba::hostkit {

using platform::Variant;

Statement& StatementCache::Prepare(const std::string& sql) {
    prepared_.push_back(db_.Prepare(sql));
    TraceSql(prepared_.back()->Sql());
    return *prepared_.back();
}

bool StatementCache::RunKept(Statement& statement) {
    last_ = &statement;
    return statement.Run(values_);
}

bool StatementCache::Run(const std::string& sql, const std::vector<const Variant*>& values) {
    auto at = fixed_.find(sql);
    if (at == fixed_.end()) at = fixed_.emplace(sql, &Prepare(sql)).first;
    last_ = at->second;
    return at->second->Run(values);
}

int64_t StatementCache::Insert(std::string_view table, const std::vector<Column>& columns,
                               std::initializer_list<Column> extra, std::string_view key) {
    values_.clear();
    for (const Column& c : columns) values_.push_back(c.value);
    for (const Column& c : extra) values_.push_back(c.value);
    Statement& statement = Cached(Op::kInsert, table, {}, columns, extra, [&] {
        std::string names, marks;
        auto add = [&](const Column& c) {
            names += (names.empty() ? "" : ",") + c.name;
            marks += marks.empty() ? "?" : ",?";
        };
        for (const Column& c : columns) add(c);
        for (const Column& c : extra) add(c);
        std::string sql = fmt::format("INSERT INTO {} ({}) VALUES ({})", table, names, marks);
        if (!key.empty()) sql += fmt::format(" RETURNING {}", key);
        return sql;
    });
    const bool row = RunKept(statement);
    return key.empty() || !row ? 0 : statement.Int(0);
}

bool StatementCache::Holds(std::string_view table, std::initializer_list<Column> key, const std::vector<Column>& columns) {
    values_.clear();
    for (const Column& c : key) values_.push_back(c.value);
    for (const Column& c : columns) values_.push_back(c.value);
    Statement& statement = Cached(Op::kHolds, table, key, columns, {}, [&] {
        std::string sql = fmt::format("SELECT 1 FROM {} WHERE ", table);
        bool first = true;
        for (const Column& c : key) {
            sql += fmt::format("{}{}=?", first ? "" : " AND ", c.name);
            first = false;
        }
        for (const Column& c : columns) sql += fmt::format(" AND {} IS ?", c.name);
        return sql;
    });
    return RunKept(statement);
}

void StatementCache::Update(std::string_view table, const std::vector<Column>& columns,
                            std::initializer_list<Column> extra, const Column& key) {
    values_.clear();
    for (const Column& c : columns) values_.push_back(c.value);
    for (const Column& c : extra) values_.push_back(c.value);
    values_.push_back(key.value);
    Statement& statement = Cached(Op::kUpdate, table, {key}, columns, extra, [&] {
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
    RunKept(statement);
}

Statement& StatementCache::Cached(Op op, std::string_view table, std::initializer_list<Column> key,
                                  const std::vector<Column>& columns, std::initializer_list<Column> extra,
                                  const std::function<std::string()>& make) {
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
        if (same(m)) return *m.statement;
    }
    Made m{op, std::string(table), {}, &Prepare(make())};
    m.names.reserve(count);
    for (const Column& c : key) m.names.push_back(c.name);
    for (const Column& c : columns) m.names.push_back(c.name);
    for (const Column& c : extra) m.names.push_back(c.name);
    made_.push_back(std::move(m));
    return *made_.back().statement;
}

}  // namespace orba::hostkit
