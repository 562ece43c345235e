// Small helpers for tests that work on a real database made from the ERP schema (a SQLite
// file, or a PostgreSQL server database given by its URI): an owned connection, one-value
// queries and a full content dump for comparisons. Values of a server database are shown as
// SQLite shows them (decimals without trailing zeros, dates as ISO text), so the same test
// reads the same text on either.
#pragma once

#include <libpq-fe.h>
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostkit/database.h"
#include "hostkit/db/sqlite/sqlite_backend.h"
#include "hostkit/db/postgres/pg_db.h"
#include "platform/variant.h"
#include "hostkit/db/sqlite/text_rules.h"

namespace orba::hostkit::testing {

class TestDb {
public:
    explicit TestDb(const std::string& path = ":memory:") {
        if (IsServerDatabaseUri(path)) {
            pg_ = PQconnectdb(path.c_str());
            if (PQstatus(pg_) != CONNECTION_OK) ADD_FAILURE() << "cannot connect to " << path << ": " << PQerrorMessage(pg_);
            PQsetNoticeProcessor(pg_, [](void*, const char*) {}, nullptr);
            return;
        }
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
            ADD_FAILURE() << "cannot open " << path << ": " << sqlite3_errmsg(db_);
        }
        hostkit::RegisterServerRules(db_);
    }
    ~TestDb() {
        sqlite3_close(db_);
        if (pg_) PQfinish(pg_);
    }
    TestDb(const TestDb&) = delete;
    TestDb& operator=(const TestDb&) = delete;

    // The SQLite handle; null for a server database.
    sqlite3* get() const { return db_; }
    // The same connection as the host kit's writers take it.
    std::unique_ptr<Database> Seam() const { return BorrowFileDatabase(db_, ":memory:"); }
    bool OnServer() const { return pg_ != nullptr; }

    void Exec(const std::string& sql) {
        if (pg_) {
            if (sql.rfind("PRAGMA", 0) == 0) return;  // SQLite's own settings mean nothing here
            std::string error;
            if (!PgRun(sql, &error)) ADD_FAILURE() << sql << "\n-> " << error;
            return;
        }
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            ADD_FAILURE() << sql << "\n-> " << (message ? message : "?");
        }
        sqlite3_free(message);
    }

    // True when the statement runs through without error.
    bool Runs(const std::string& sql) {
        if (pg_) return PgRun(sql, nullptr);
        return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    // All rows of a query, each column as text ("NULL" for a null).
    std::vector<std::vector<std::string>> Rows(const std::string& sql) {
        std::vector<std::vector<std::string>> rows;
        if (pg_) {
            PGresult* r = PQexec(pg_, sql.c_str());
            if (PQresultStatus(r) != PGRES_TUPLES_OK) {
                ADD_FAILURE() << sql << "\n-> " << PQresultErrorMessage(r);
            } else {
                for (int i = 0; i < PQntuples(r); ++i) {
                    std::vector<std::string> row;
                    for (int c = 0; c < PQnfields(r); ++c) row.push_back(PgCellText(r, i, c));
                    rows.push_back(std::move(row));
                }
            }
            PQclear(r);
            return rows;
        }
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sql << "\n-> " << sqlite3_errmsg(db_);
            return rows;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const auto* text = sqlite3_column_text(stmt, i);
                row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
            }
            rows.push_back(std::move(row));
        }
        sqlite3_finalize(stmt);
        return rows;
    }

    std::optional<std::string> Text(const std::string& sql) {
        auto rows = Rows(sql);
        if (rows.empty() || rows[0].empty() || rows[0][0] == "NULL") return std::nullopt;
        return rows[0][0];
    }

    long long Int(const std::string& sql) {
        auto value = Text(sql);
        return value ? std::stoll(*value) : -1;
    }

    // Every row of every table, with storage classes, in a fixed order: equal dumps mean
    // equal content.
    std::string Dump() {
        std::string out;
        if (pg_) return PgDump();
        for (const auto& table : Rows("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
            out += "## " + table[0] + "\n";
            sqlite3_stmt* stmt = nullptr;
            const std::string sql = "SELECT * FROM " + table[0] + " ORDER BY rowid";
            if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
                ADD_FAILURE() << sql;
                continue;
            }
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                    const auto* text = sqlite3_column_text(stmt, i);
                    out += std::to_string(sqlite3_column_type(stmt, i)) + ":" +
                           (text ? reinterpret_cast<const char*>(text) : "") + "|";
                }
                out += "\n";
            }
            sqlite3_finalize(stmt);
        }
        return out;
    }

private:
    bool PgRun(const std::string& sql, std::string* error) {
        PGresult* r = PQexec(pg_, sql.c_str());
        const ExecStatusType status = PQresultStatus(r);
        const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY;
        if (!ok && error) *error = PQresultErrorMessage(r);
        PQclear(r);
        return ok;
    }

    // A cell as SQLite would show the same value: "NULL" for a null, decimals without
    // trailing zeros, dates as ISO text, truth values as 1 and 0.
    static std::string PgCellText(const PGresult* r, int row, int column) {
        if (PQgetisnull(r, row, column)) return "NULL";
        const platform::Variant v = PgCellValue(PQftype(r, column), PQgetvalue(r, row, column));
        if (v.Type() == platform::VarType::kBoolean) return v.AsBoolean() ? "1" : "0";
        return v.ToText();
    }

    // Every row of every table in a fixed order, each cell with a storage-class code.
    std::string PgDump() {
        std::string out;
        for (const auto& table : Rows("SELECT tablename FROM pg_catalog.pg_tables WHERE schemaname = current_schema() "
                                      "ORDER BY tablename")) {
            out += "## " + table[0] + "\n";
            PGresult* head = PQexec(pg_, ("SELECT * FROM " + table[0] + " LIMIT 0").c_str());
            std::string order;
            for (int c = 1; c <= PQnfields(head); ++c) order += (c > 1 ? "," : "") + std::to_string(c);
            PQclear(head);
            PGresult* r = PQexec(pg_, ("SELECT * FROM " + table[0] + " ORDER BY " + order).c_str());
            for (int i = 0; i < PQntuples(r); ++i) {
                for (int c = 0; c < PQnfields(r); ++c) {
                    out += (PQgetisnull(r, i, c) ? std::string("5") : std::to_string(PQftype(r, c))) + ":" +
                           (PQgetisnull(r, i, c) ? std::string() : PgCellText(r, i, c)) + "|";
                }
                out += "\n";
            }
            PQclear(r);
        }
        return out;
    }

    sqlite3* db_ = nullptr;
    PGconn* pg_ = nullptr;
};

}  // namespace orba::hostkit::testing
