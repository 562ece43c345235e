// Texts compare and decimals are bounded as on the account database server: the collation
// itself, the schema it is applied to, and databases made before it, brought up to date on
// their first read-write open.
#include "hostkit/db/sqlite/text_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "hostkit/schema/erp_schema.h"
#include "hostkit/db/database_rules.h"
#include "hostkit/db/sqlite/sqlite_db.h"
#include "platform/error.h"
#include "support/erp_test_db.h"
#include "support/error_of.h"

namespace orba::hostkit {
namespace {

using orba::testing::ErrorOf;

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(ServerText, ComparesWithoutLetterCaseOrTrailingBlanks) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"t101", "T101", 0},
        {"PO-1  ", "po-1", 0},
        {"", "   ", 0},
        {" PO-1", "PO-1", -1},          // a leading blank counts
        {"PO 1", "PO  1", 1},           // so does an inner one
        {"Äpfel", "äPFEL", 0},          // Latin-1 letters
        {"ДОСТАВКА", "доставка", 0},    // Cyrillic
        {"ΟΔΟΣ", "οδος", 0},            // Greek, final sigma folds with sigma
        {"ＡＢＣ", "ａｂｃ", 0},        // full-width Latin
        {"上海锦程", "上海锦程 ", 0},   // no case, trailing blank
        {"a", "b", -1},
        {"B", "a", 1},
        {"ab", "abc", -1},
        {"\xff", "\xfe", 1},            // bytes that are not UTF-8 still order
        {"\xe4\xb8", "\xe4\xb8", 0},    // a cut-off sequence equals itself
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " | " + c.b);
        EXPECT_EQ(Sign(CompareServerText(c.a, c.b)), c.order);
        EXPECT_EQ(Sign(CompareServerText(c.b, c.a)), -c.order);
    }
}

// The length check of a text column, as the rules write it.
std::string Holds(const std::string& column, int n) {
    const std::string limit = std::to_string(n);
    return " CONSTRAINT \"" + column + " holds at most " + limit + " characters\" CHECK (length(" + column + ") <= " +
           limit + " OR length(rtrim(" + column + ")) <= " + limit + ")";
}

TEST(ServerText, ColumnRulesAreAddedOnceAndNamedForTheOverflowMessage) {
    const std::string plain =
        "CREATE TABLE t (FNo VARCHAR(50) NOT NULL, FName nvarchar(80), FCode CHAR(2), FAmt DECIMAL(20, 2) DEFAULT 0, "
        "FRate DECIMAL(19,6), FText DECIMAL_TEXT, FCast INTEGER CHECK (CAST(FCast AS CHAR(4)) <> CAST(1 AS "
        "decimal(5,1))))";
    const std::string ruled = WithServerColumnRules(plain);
    EXPECT_EQ(ruled,
              "CREATE TABLE t (FNo VARCHAR(50) COLLATE ERPTEXT" + Holds("FNo", 50) +
                  " NOT NULL, FName nvarchar(80) COLLATE ERPTEXT" + Holds("FName", 80) +
                  ", FCode CHAR(2) COLLATE ERPTEXT" + Holds("FCode", 2) +
                  ", FAmt DECIMAL(20,2) CONSTRAINT \"range FAmt (20,2)\" CHECK "
                  "(abs(FAmt) < 1e18) DEFAULT 0, FRate DECIMAL(19,6) CONSTRAINT \"range FRate (19,6)\" CHECK "
                  "(abs(FRate) < 1e13), FText DECIMAL_TEXT, FCast INTEGER CHECK (CAST(FCast AS CHAR(4)) <> CAST(1 AS "
                  "decimal(5,1))))");
    EXPECT_EQ(WithServerColumnRules(ruled), ruled);
    // Blanks, line breaks and letter case around a type; a type in a comment, in a quoted
    // default or without its size stays as written. A column that has a collation (a
    // database made before the length checks) gets the check after it.
    const std::pair<std::string, std::string> more[] = {
        {"CREATE TABLE u (a\n  varchar ( 5 ), b decimal( 10 ,\t2 ))",
         "CREATE TABLE u (a\n  varchar ( 5 ) COLLATE ERPTEXT" + Holds("a", 5) +
             ", b DECIMAL(10,2) CONSTRAINT \"range b (10,2)\" CHECK (abs(b) < 1e8))"},
        {"CREATE TABLE u (a INTEGER, -- was b CHAR(3)\n c TEXT DEFAULT 'd DECIMAL(5,2)', e VARCHAR, f NCHAR(1)NOT NULL)",
         "CREATE TABLE u (a INTEGER, -- was b CHAR(3)\n c TEXT DEFAULT 'd DECIMAL(5,2)', e VARCHAR, f NCHAR(1) "
         "COLLATE ERPTEXT" + Holds("f", 1) + " NOT NULL)"},
        {"CREATE TABLE v (a VARCHAR(5) COLLATE ERPTEXT NOT NULL, b CHAR(2) COLLATE NOCASE)",
         "CREATE TABLE v (a VARCHAR(5) COLLATE ERPTEXT" + Holds("a", 5) + " NOT NULL, b CHAR(2) COLLATE NOCASE" +
             Holds("b", 2) + ")"},
    };
    for (const auto& [in, out] : more) {
        EXPECT_EQ(WithServerColumnRules(in), out) << in;
        EXPECT_EQ(WithServerColumnRules(out), out) << out;
    }
    EXPECT_EQ(OverflowMessage("CHECK constraint failed: range FAmt (20,2)"),
              "Arithmetic overflow error converting numeric to data type numeric (column FAmt, DECIMAL(20,2))");
    EXPECT_EQ(OverflowMessage("CHECK constraint failed: other"), "");
}

class OldDatabase : public ::testing::Test {
protected:
    // A branch database as made before the rules: the plain schema, two orders.
    void SetUp() override {
        std::filesystem::remove(path_);
        testing::TestDb db(path_);
        db.Exec(std::string(kErpSchemaSql));
        db.Exec("INSERT INTO POOrder (FInterID, FBillNo, FDate, FSupplyID, FDeptID, FEmpID, FMangerID, FBillerID, "
                "FCurrencyID) VALUES (1, 'PO-1', '2026-01-02', 1, 1, 1, 1, 1, 1), "
                "(2, 'po-2', '2026-01-02', 1, 1, 1, 1, 1, 1)");
        db.Exec("INSERT INTO POOrderEntry (FInterID, FEntryID, FItemID, FUnitID, FAuxQty) VALUES (1, 1, 1, 1, 5)");
    }
    void TearDown() override { std::filesystem::remove(path_); }

    const std::string path_ = (std::filesystem::temp_directory_path() / "orba_old_schema.db").string();
};

TEST_F(OldDatabase, IsBroughtUpToDateOnItsFirstReadWriteOpen) {
    {
        SqliteDatabase db(path_, SqliteDatabase::Mode::kReadWrite);
        EXPECT_EQ(UpgradeToServerRules(db), 0) << "already done on open";
    }
    testing::TestDb db(path_);
    EXPECT_EQ(db.Rows("SELECT FInterID FROM POOrder WHERE FBillNo='po-1  ' OR FBillNo='PO-2' ORDER BY 1"),
              (std::vector<std::vector<std::string>>{{"1"}, {"2"}}));
    EXPECT_EQ(db.Rows("PRAGMA integrity_check"), (std::vector<std::vector<std::string>>{{"ok"}}));
    EXPECT_FALSE(db.Runs("INSERT INTO POOrder (FInterID, FBillNo, FDate, FSupplyID, FDeptID, FEmpID, FMangerID, "
                         "FBillerID, FCurrencyID) VALUES (3, 'PO-2 ', '2026-01-02', 1, 1, 1, 1, 1, 1)"))
        << "the unique bill number now holds without case";
    EXPECT_FALSE(db.Runs("UPDATE POOrderEntry SET FAuxQty=1e300"));
}

TEST_F(OldDatabase, ThatCannotTakeTheRulesIsLeftUntouchedWithAClearMessage) {
    {
        testing::TestDb db(path_);
        db.Exec("UPDATE POOrder SET FBillNo='Po-1' WHERE FInterID=2");
    }
    const auto e = ErrorOf([&] { SqliteDatabase db(path_, SqliteDatabase::Mode::kReadWrite); });
    EXPECT_NE(e.Description().find("could not be brought up to date"), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("POOrder.FBillNo (two values there differ only in letter case"), std::string::npos) << e.Description();
    testing::TestDb db(path_);
    EXPECT_EQ(db.Rows("SELECT count(*) FROM sqlite_master WHERE sql LIKE '%ERPTEXT%'")[0][0], "0");
    EXPECT_EQ(db.Rows("PRAGMA integrity_check"), (std::vector<std::vector<std::string>>{{"ok"}}));
}

// A value longer than its column, kept before the columns had length checks, stays as it
// is through the upgrade and rows holding it can still change; a new value that long can not.
TEST_F(OldDatabase, KeepsAValueAlreadyTooLongAndTakesNoNewOne) {
    const std::string long_no(60, 'L');  // FBillNo is VARCHAR(50)
    testing::TestDb(path_).Exec("UPDATE POOrder SET FBillNo='" + long_no + "' WHERE FInterID=1");
    SqliteDatabase db(path_, SqliteDatabase::Mode::kReadWrite);
    db.Exec("UPDATE POOrder SET FStatus=1");
    EXPECT_EQ(testing::TestDb(path_).Text("SELECT FBillNo FROM POOrder WHERE FInterID=1"), long_no);
    const auto e = ErrorOf([&] { db.Exec("UPDATE POOrder SET FBillNo='x" + long_no + "' WHERE FInterID=2"); });
    EXPECT_NE(e.Description().find("check constraint \"FBillNo holds at most 50 characters\""), std::string::npos);
}

TEST_F(OldDatabase, LockedByAnotherConnectionIsReportedAsLockedNotAsSomethingElse) {
    SqliteDatabase(path_, SqliteDatabase::Mode::kReadWrite);
    testing::TestDb holder(path_);
    holder.Exec("BEGIN EXCLUSIVE; UPDATE POOrder SET FStatus=1");
    SetDatabaseBusyTimeout(50);
    const auto e = ErrorOf([&] { SqliteDatabase db(path_, SqliteDatabase::Mode::kReadWrite); });
    SetDatabaseBusyTimeout(10000);
    EXPECT_NE(e.Description().find("is locked by another process"), std::string::npos) << e.Description();
    EXPECT_EQ(e.Description().find("not an account database"), std::string::npos) << e.Description();
    holder.Exec("ROLLBACK");
}

}  // namespace
}  // namespace orba::hostkit
