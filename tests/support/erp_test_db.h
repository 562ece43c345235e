// Small helpers for tests that work on a real SQLite database made from the ERP schema:
// an owned connection, one-value queries and a full content dump for comparisons.
#pragma once

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "hostkit/server_rules.h"

namespace orba::hostkit::testing {

class TestDb {
public:
    explicit TestDb(const std::string& path = ":memory:") {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
            ADD_FAILURE() << "cannot open " << path << ": " << sqlite3_errmsg(db_);
        }
        hostkit::RegisterServerRules(db_);
    }
    ~TestDb() { sqlite3_close(db_); }
    TestDb(const TestDb&) = delete;
    TestDb& operator=(const TestDb&) = delete;

    sqlite3* get() const { return db_; }

    void Exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            ADD_FAILURE() << sql << "\n-> " << (message ? message : "?");
        }
        sqlite3_free(message);
    }

    // True when the statement runs through without error.
    bool Runs(const std::string& sql) {
        return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    // All rows of a query, each column as text ("NULL" for a null).
    std::vector<std::vector<std::string>> Rows(const std::string& sql) {
        std::vector<std::vector<std::string>> rows;
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
    sqlite3* db_ = nullptr;
};

}  // namespace orba::hostkit::testing
