// Runs translated statements on a real SQLite database and checks that they select and
// change the rows the host dialect's statements would.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hostkit/dialect/sql_dialect.h"
#include "support/bill_statements.h"

namespace orba::hostkit {
namespace {

using Row = std::map<std::string, std::optional<std::string>>;

// The few tables and columns the bill statements touch, with one set of master data.
constexpr const char* kSchema = R"(
CREATE TABLE t_Systemprofile (FCategory TEXT, FKey TEXT, FValue TEXT);
CREATE TABLE t_SonCompany (FItemID INTEGER, FName TEXT, FNumber TEXT);
CREATE TABLE t_Supplier (FItemID INTEGER, FName TEXT, FNumber TEXT);
CREATE TABLE t_Organization (FItemID INTEGER, FName TEXT, FNumber TEXT);
CREATE TABLE t_Department (FItemID INTEGER, FName TEXT, FNumber TEXT);
CREATE TABLE t_Currency (FCurrencyID INTEGER, FName TEXT, FNumber TEXT, FScale INTEGER);
CREATE TABLE t_Emp (FItemID INTEGER, FName TEXT, FNumber TEXT);
CREATE TABLE t_ICItem (FItemID INTEGER, FName TEXT, FNumber TEXT, FModel TEXT);
CREATE TABLE t_MeasureUnit (FItemID INTEGER, FName TEXT, FNumber TEXT, FUnitGroupID INTEGER);
CREATE TABLE t_Item (FItemID INTEGER, FName TEXT, FNumber TEXT);
CREATE TABLE t_User (FUserID INTEGER, FName TEXT);
CREATE TABLE t_SubMessage (FInterID INTEGER, FID TEXT, FName TEXT);
CREATE TABLE t_Settle (FItemID INTEGER, FName TEXT, FNumber TEXT);
CREATE TABLE POOrder (FInterID INTEGER, FBillNo TEXT, FTranType INTEGER, FTranStatus INTEGER, FStatus INTEGER,
  FDate TEXT, FExchangeRate REAL, FSupplyID INTEGER, FDeptID INTEGER, FRelateBrID INTEGER, FCurrencyID INTEGER,
  FEmpID INTEGER, FMangerID INTEGER, FBillerID INTEGER, FPoStyle INTEGER);
CREATE TABLE POOrderEntry (FInterID INTEGER, FEntryID INTEGER, FItemID INTEGER, FUnitID INTEGER, FAuxQty REAL,
  FQty REAL, FAuxPrice REAL, FPrice REAL, FTaxRate REAL, FCess REAL, FAmount REAL, FDate TEXT, FNote TEXT);
CREATE TABLE SEOutStock (FInterID INTEGER, FBillNo TEXT, FTranType INTEGER, FTranStatus INTEGER, FStatus INTEGER,
  FDate TEXT, FExchangeRate REAL, FCustID INTEGER, FDeptID INTEGER, FRelateBrID INTEGER, FCurrencyID INTEGER,
  FSalType INTEGER, FSettleID INTEGER, FEmpID INTEGER, FManagerID INTEGER, FBillerID INTEGER, FCnnInterID INTEGER);
CREATE TABLE SEOutStockEntry (FInterID INTEGER, FEntryID INTEGER, FItemID INTEGER, FUnitID INTEGER, FAuxQty REAL,
  FQty REAL, FAuxPrice REAL, FPrice REAL, FAmount REAL, FNote TEXT, FSourceEntryID INTEGER);
CREATE TABLE SEOrder (FInterID INTEGER, FPOOrdBillNo TEXT);
CREATE TABLE SEOrderEntry (FInterID INTEGER, FEntryID INTEGER, FSourceEntryID INTEGER);

INSERT INTO t_Systemprofile VALUES ('IC', 'BrID', '1');
INSERT INTO t_SonCompany VALUES (1, 'Branch A', 'BR-A'), (2, 'Branch B', 'BR-B');
INSERT INTO t_Supplier VALUES (10, 'Supplier', 'S01');
INSERT INTO t_Organization VALUES (11, 'Customer', 'C01');
INSERT INTO t_Department VALUES (20, 'Purchasing', 'D01');
INSERT INTO t_Currency VALUES (1, 'Yuan', 'RMB', 2), (2, 'Yen', 'JPY', 0);
INSERT INTO t_Emp VALUES (30, 'Clerk', 'E01'), (31, 'Manager', 'E02');
INSERT INTO t_ICItem VALUES (40, 'Bolt', 'I01', 'M8');
INSERT INTO t_MeasureUnit VALUES (50, 'Piece', 'PCS', 60);
INSERT INTO t_Item VALUES (60, 'Count', 'G01');
INSERT INTO t_User VALUES (70, 'Li');
INSERT INTO t_SubMessage VALUES (5, 'SS1', 'Cash sale');
INSERT INTO t_Settle VALUES (6, 'Cash', 'ST1');
)";

constexpr const char* kOrders = R"(
INSERT INTO POOrder VALUES (1, 'A1', 71, 0, 1, '2024-03-01', 1, 10, 20, 2, 1, 30, 31, 70, 0);
INSERT INTO POOrder VALUES (2, 'A2', 71, 1, 1, '2024-03-02', 1, 10, 20, NULL, 2, 30, 31, 70, 0);
INSERT INTO POOrder VALUES (3, 'A3', 71, 1, 1, '2024-03-03', 1, 10, 20, 2, 1, 30, 31, 70, 0);
INSERT INTO POOrderEntry VALUES (1, 1, 40, 50, 1, 1, 2.5, 2.5, 0, 17, 2.5, '2024-04-01', NULL);
INSERT INTO POOrderEntry VALUES (1, 2, 40, 50, 2, 2, 2.5, 2.5, 0, 17, 5, '2024-04-01', NULL);
INSERT INTO POOrderEntry VALUES (2, 1, 40, 50, 1, 1, 2.5, 2.5, 0, 17, 2.5, '2024-04-02', NULL);
INSERT INTO POOrderEntry VALUES (3, 1, 40, 50, 1, 1, 2.5, 2.5, 0, 17, 2.5, '2024-04-03', NULL);
)";

class TranslatedOnSqlite : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        Exec(kSchema);
    }
    void TearDown() override { sqlite3_close(db_); }

    void Exec(const char* sql) {
        char* error = nullptr;
        ASSERT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, &error), SQLITE_OK)
            << (error ? error : "");
    }

    // Runs every statement of a host-dialect batch; returns the rows of the last query.
    std::vector<Row> Run(const std::string& batch) {
        std::vector<Row> rows;
        for (const TranslatedStatement& s : TranslateBatch(batch)) {
            sqlite3_stmt* stmt = nullptr;
            const int prepared = sqlite3_prepare_v2(db_, s.sqlite.c_str(), -1, &stmt, nullptr);
            EXPECT_EQ(prepared, SQLITE_OK) << sqlite3_errmsg(db_) << "\n" << s.sqlite;
            if (prepared != SQLITE_OK) return rows;
            if (s.is_query) rows.clear();
            int rc;
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
                Row row;
                for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
                    row[sqlite3_column_name(stmt, c)] =
                        text ? std::optional<std::string>(text) : std::nullopt;
                }
                rows.push_back(std::move(row));
            }
            EXPECT_EQ(rc, SQLITE_DONE) << sqlite3_errmsg(db_);
            sqlite3_finalize(stmt);
        }
        return rows;
    }

    std::vector<Row> Query(const char* sql) { return Run(sql); }

    sqlite3* db_ = nullptr;
};

TEST_F(TranslatedOnSqlite, OrderWithoutRelatedBranchStillComesBack) {
    Exec(kOrders);
    const auto rows =
        Run(testing::PurchaseOrderHead() + testing::kSelectFirstTwo + testing::kOrderByBillAndLine);
    ASSERT_EQ(rows.size(), 3u);
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"1", "1"}, {"1", "2"}, {"2", "1"}};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].at("FInterID"), keys[i].first);
        EXPECT_EQ(rows[i].at("FEntryID"), keys[i].second);
        EXPECT_EQ(rows[i].at("FBrName"), "Branch A");
        EXPECT_EQ(rows[i].at("FManagerName"), "Manager");
    }
    EXPECT_EQ(rows[0].at("FRelateBrName"), "Branch B");
    EXPECT_EQ(rows[0].at("FRelateBrNumber"), "BR-B");
    EXPECT_EQ(rows[2].at("FRelateBrName"), std::nullopt);
    EXPECT_EQ(rows[2].at("FRelateBrNumber"), std::nullopt);
    EXPECT_EQ(rows[2].at("FCurrencyName"), "Yen");
}

TEST_F(TranslatedOnSqlite, DownloadSelectionKeepsItsParenthesisedOr) {
    Exec(kOrders);
    const auto rows =
        Run(testing::PurchaseOrderHead() +
            " AND (v1.FTranStatus=0 OR v1.FTranStatus is NULL) and v1.FStatus IN (1,2) AND "
            "v1.FRelateBrID=2" +
            testing::kOrderByBillAndLine);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("FBillNo"), "A1");
    EXPECT_EQ(rows[1].at("FBillNo"), "A1");
}

TEST_F(TranslatedOnSqlite, NoticeWithoutSaleStyleOrSettlementStillComesBack) {
    Exec(R"(
INSERT INTO SEOrder VALUES (100, 'PO-77'), (1, NULL);
INSERT INTO SEOrderEntry VALUES (1, 1, 9);
INSERT INTO SEOutStock VALUES (1, 'N1', 83, 0, 1, '2024-03-01', 1, 11, 20, 2, 1, 5, 6, 30, 31, 70, 100);
INSERT INTO SEOutStock VALUES (2, 'N2', 83, 0, 1, '2024-03-02', 1, 11, 20, NULL, 1, NULL, NULL, 30, 31, 70, NULL);
INSERT INTO SEOutStockEntry VALUES (1, 1, 40, 50, 5, 5, 10, 10, 50, NULL, 1);
INSERT INTO SEOutStockEntry VALUES (2, 1, 40, 50, 5, 5, 10, 10, 50, NULL, 3);
)");
    const auto rows = Run(testing::DeliveryNoticeHead() + testing::kSelectFirstTwo +
                          testing::kOrderByBillAndLine);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("FBillNo"), "N1");
    EXPECT_EQ(rows[0].at("FSaleStyleName"), "Cash sale");
    EXPECT_EQ(rows[0].at("FSettleName"), "Cash");
    EXPECT_EQ(rows[0].at("FRelateBrName"), "Branch B");
    EXPECT_EQ(rows[0].at("FPOOrdBillNo"), "PO-77");
    EXPECT_EQ(rows[0].at("FSourceEntryID"), "9");
    EXPECT_EQ(rows[1].at("FBillNo"), "N2");
    EXPECT_EQ(rows[1].at("FCustName"), "Customer");
    for (const char* column :
         {"FSaleStyleName", "FSettleName", "FRelateBrName", "FPOOrdBillNo", "FSourceEntryID"}) {
        EXPECT_EQ(rows[1].at(column), std::nullopt) << column;
    }
}

TEST_F(TranslatedOnSqlite, UnSetOrdTranStatusBatchUpdatesBothOrdersOnly) {
    Exec(kOrders);
    Exec("UPDATE POOrder SET FTranStatus = 1");
    Run(testing::UnSetOrdTranStatusBatch({"A1", "A2"}));
    const auto rows =
        Query("SELECT v1.FBillNo, v1.FTranStatus FROM POOrder v1 ORDER BY v1.FInterID");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].at("FTranStatus"), "0");
    EXPECT_EQ(rows[1].at("FTranStatus"), "0");
    EXPECT_EQ(rows[2].at("FTranStatus"), "1");
}

TEST_F(TranslatedOnSqlite, AffirmPurchaseOrderRoundsToTheCurrencysDecimals) {
    Exec(kOrders);
    // A1 is in a currency with 2 decimals, A2 in one with none: 2.5 * 3 is 7.5 and 8.
    Run(testing::AffirmPurchaseOrderBatch({{"A1", "2", "3"}, {"A2", "1", "3"}}));
    const auto rows = Query(
        "SELECT u1.FInterID, u1.FEntryID, u1.FAuxQty, u1.FQty, u1.FAmount FROM POOrderEntry u1 "
        "ORDER BY u1.FInterID, u1.FEntryID");
    ASSERT_EQ(rows.size(), 4u);
    const std::vector<std::vector<std::string>> expected = {
        {"1", "1", "1.0", "1.0", "2.5"},  // untouched line of A1
        {"1", "2", "3.0", "2.0", "7.5"},
        {"2", "1", "3.0", "1.0", "8.0"},
        {"3", "1", "1.0", "1.0", "2.5"},  // another order
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        EXPECT_EQ((std::vector<std::string>{*r.at("FInterID"), *r.at("FEntryID"), *r.at("FAuxQty"),
                                            *r.at("FQty"), *r.at("FAmount")}),
                  expected[i])
            << "row " << i;
    }
}

}  // namespace
}  // namespace orba::hostkit
