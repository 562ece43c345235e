// The database work an exchange step cannot avoid, done straight through the SQLite C API in
// a process of its own, so the summary can set each orbabt step against it, whole process
// against whole process.
//
//   bench_raw read   DB SQLFILE         steps the statement in SQLFILE, every column read
//   bench_raw insert DB SOURCE          copies every row of the received-bill tables of the
//                                       database SOURCE into DB, in one transaction
//   bench_raw update DB SQLFILE         runs the statement in SQLFILE in one transaction
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "hostkit/db/sqlite/text_rules.h"

namespace {

int Fail(sqlite3* db, const char* what) {
    std::fprintf(stderr, "bench_raw: %s: %s\n", what, db ? sqlite3_errmsg(db) : "cannot open");
    return 1;
}

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int Read(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
        return Fail(db, "prepare");
    }
    const int columns = sqlite3_column_count(stmt);
    long rows = 0;
    unsigned long sink = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        ++rows;
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_INTEGER: sink += static_cast<unsigned long>(sqlite3_column_int64(stmt, c)); break;
                case SQLITE_FLOAT: sink += static_cast<unsigned long>(sqlite3_column_double(stmt, c)); break;
                case SQLITE_NULL: break;
                default: sink += std::strlen(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c))); break;
            }
        }
    }
    sqlite3_finalize(stmt);
    std::printf("%ld rows %lu\n", rows, sink);
    return 0;
}

// Copies one table row by row: one prepared insert, every value bound and stepped.
int CopyTable(sqlite3* db, const char* table) {
    const std::string select = std::string("SELECT * FROM src.") + table;
    sqlite3_stmt* from = nullptr;
    if (sqlite3_prepare_v2(db, select.c_str(), -1, &from, nullptr) != SQLITE_OK) return 0;  // no such table
    const int columns = sqlite3_column_count(from);
    std::string insert = std::string("INSERT INTO main.") + table + " (";
    std::string marks;
    for (int c = 0; c < columns; ++c) {
        insert += (c ? "," : "") + std::string(sqlite3_column_name(from, c));
        marks += c ? ",?" : "?";
    }
    insert += ") VALUES (" + marks + ")";
    sqlite3_stmt* to = nullptr;
    if (sqlite3_prepare_v2(db, insert.c_str(), -1, &to, nullptr) != SQLITE_OK) {
        sqlite3_finalize(from);
        return Fail(db, "prepare insert");
    }
    while (sqlite3_step(from) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) sqlite3_bind_value(to, c + 1, sqlite3_column_value(from, c));
        if (sqlite3_step(to) != SQLITE_DONE) return Fail(db, "insert");
        sqlite3_reset(to);
    }
    sqlite3_finalize(to);
    sqlite3_finalize(from);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_raw read|insert|update DB FILE\n");
        return 2;
    }
    const std::string mode = argv[1];
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[2], &db, mode == "read" ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        return Fail(db, argv[2]);
    }
    // The account database's text columns compare by their own collation.
    orba::hostkit::RegisterServerRules(db);
    int rc = 0;
    if (mode == "read") {
        rc = Read(db, ReadFile(argv[3]));
    } else if (mode == "update") {
        const std::string sql = "BEGIN;" + ReadFile(argv[3]) + ";COMMIT;";
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) rc = Fail(db, "update");
    } else if (mode == "insert") {
        const std::string attach = std::string("ATTACH DATABASE '") + argv[3] + "' AS src";
        if (sqlite3_exec(db, attach.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return Fail(db, "attach");
        // The source's own definitions, so the target has the tables whatever their columns.
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* defs = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT sql FROM src.sqlite_master WHERE type='table' AND name IN "
                           "('t_RcvBill','t_RcvBillEntry') ORDER BY name",
                           -1, &defs, nullptr);
        while (sqlite3_step(defs) == SQLITE_ROW) {
            std::string def = reinterpret_cast<const char*>(sqlite3_column_text(defs, 0));
            def.insert(std::strlen("CREATE TABLE "), "IF NOT EXISTS ");
            sqlite3_exec(db, def.c_str(), nullptr, nullptr, nullptr);
        }
        sqlite3_finalize(defs);
        rc = CopyTable(db, "t_RcvBill");
        if (rc == 0) rc = CopyTable(db, "t_RcvBillEntry");
        if (rc == 0 && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) rc = Fail(db, "commit");
    } else {
        std::fprintf(stderr, "bench_raw: unknown mode %s\n", argv[1]);
        rc = 2;
    }
    sqlite3_close(db);
    return rc;
}
