// The SQLite extension: a branch database opened by SQLite alone, as the SQLite shell opens
// it, cannot compare its texts until the extension is loaded, and then compares them as the
// host kit's own connection does.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "hostkit/database.h"
#include "hostkit/sample_data.h"
#include "support/branch_env.h"

namespace orba::hostkit {
namespace {

namespace fs = std::filesystem;

// The single value of `sql` on a plain SQLite connection, or the error's text.
std::string Ask(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return sqlite3_errmsg(db);
    std::string value = sqlite3_step(stmt) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))
                                                         : sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    return value;
}

TEST(SqliteExtension, TheSqliteLibraryComparesTextsAsTheHostKitOnceItIsLoaded) {
    orba::testing::TempDir dir;
    const std::string path = (dir / "branch.db").string();
    SampleOptions options;
    options.orders = 20;
    CreateSampleDatabase(path, options);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    const std::string number = Ask(db, "SELECT FBillNo FROM POOrder ORDER BY FInterID LIMIT 1");
    EXPECT_NE(Ask(db, "SELECT count(*) FROM POOrder WHERE FBillNo='x'").find("no such collation sequence: ERPTEXT"),
              std::string::npos);

    const fs::path extension = fs::read_symlink("/proc/self/exe").parent_path() / "orba_sqlite_ext";
    sqlite3_enable_load_extension(db, 1);
    char* error = nullptr;
    ASSERT_EQ(sqlite3_load_extension(db, extension.c_str(), nullptr, &error), SQLITE_OK) << (error ? error : "");
    std::string lower = number;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string queries[] = {
        "SELECT count(*) FROM POOrder WHERE FBillNo='" + lower + "   '",
        "SELECT count(*) FROM t_Supplier WHERE FName > '宁波'",
        "SELECT group_concat(FNumber, ',') FROM (SELECT FNumber FROM t_ICItem ORDER BY FName, FNumber)",
        "SELECT count(DISTINCT FName) FROM t_ICItem",
    };
    const std::unique_ptr<Database> kit = OpenDatabase(path);
    for (const std::string& sql : queries) {
        SCOPED_TRACE(sql);
        EXPECT_EQ(Ask(db, sql), kit->Query(sql)->Value(0).ToText());
    }
    EXPECT_EQ(Ask(db, queries[0]), "1");
    sqlite3_close(db);
}

}  // namespace
}  // namespace orba::hostkit
