#include "hostkit/schema/erp_schema.h"

#include <gtest/gtest.h>

#include "support/bill_statements.h"
#include "support/erp_test_db.h"
#include "platform/error.h"

namespace orba::hostkit {
namespace {

using testing::PlainJoins;
using testing::TestDb;

class ErpSchemaTest : public ::testing::Test {
protected:
    void SetUp() override { CreateErpSchema(*db_.Seam()); }

    // Checks that SQLite accepts a statement against the schema: every table and column
    // it names exists.
    void ExpectPrepares(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db_.get()) << "\nin: " << sql;
        sqlite3_finalize(stmt);
    }

    TestDb db_;
};

TEST_F(ErpSchemaTest, EveryStatementOfTheBillLayerPrepares) {
    const std::string statements[] = {
        PlainJoins(testing::kPurchaseOrderHead) + testing::kListSelection + "1,2)" + testing::kBillOrder,
        PlainJoins(testing::kPurchaseOrderHead) + testing::kDownloadSelection + "2" + testing::kBillOrder,
        PlainJoins(testing::kDeliveryNoticeHead) + testing::kListSelection + "1,2)" + testing::kBillOrder,
        PlainJoins(testing::kDeliveryNoticeHead) + testing::kDownloadSelection + "2" + testing::kBillOrder,
        PlainJoins(testing::kReturnNoticeHead) + testing::kDownloadSelection + "2" + testing::kBillOrder,
        testing::kBranchLookup + "01.002' AND FName='x'",
        testing::kOrderSummary + "1",
        testing::kNoticeSummary + "1",
        testing::kOrderTransmitted,
        testing::kNoticeTransmitted,
        testing::kOrderNotTransmitted,
        testing::kOrderAffirmed,
        testing::kOrderLineAffirmed,
    };
    for (const std::string& sql : statements) ExpectPrepares(sql);
}

// The connection hands columns declared DECIMAL out as exact decimals and the statements
// compare and round them as numbers, while dates must stay the text they were given.
TEST_F(ErpSchemaTest, DecimalsAreStoredAsNumbersAndDatesStayText) {
    db_.Exec("INSERT INTO POOrderEntry (FInterID, FEntryID, FItemID, FUnitID, FAuxQty, FAmount, FDate) "
             "VALUES (1, 1, 1, 1, '9.5', '37.05', '2026-03-05'), (1, 2, 1, 1, '10', '12345678.91', "
             "'2026-03-05T14:20:00')");
    // Text handed in becomes a number, so comparisons are numeric, not alphabetical.
    EXPECT_EQ(db_.Int("SELECT COUNT(*) FROM POOrderEntry WHERE FAuxQty > 9.9"), 1);
    EXPECT_EQ(db_.Int("SELECT COUNT(*) FROM POOrderEntry WHERE typeof(FAmount) = 'text'"), 0);
    EXPECT_EQ(db_.Text("SELECT FAmount FROM POOrderEntry WHERE FEntryID = 1"), "37.05");
    EXPECT_EQ(db_.Text("SELECT FAmount FROM POOrderEntry WHERE FEntryID = 2"), "12345678.91");
    EXPECT_EQ(db_.Text("SELECT FDate FROM POOrderEntry WHERE FEntryID = 2"), "2026-03-05T14:20:00");
    EXPECT_EQ(db_.Int("SELECT COUNT(*) FROM POOrderEntry WHERE typeof(FDate) <> 'text'"), 0);
}

// The branch id is kept as text in the system profile and compared with an INTEGER key; with
// ids 2 and 12 an alphabetical comparison or a failed conversion would find the wrong branch
// or none.
TEST_F(ErpSchemaTest, BranchIdKeptAsTextFindsItsIntegerBranch) {
    db_.Exec("INSERT INTO t_SonCompany VALUES (2, '01.002', 'Two'), (12, '01.012', 'Twelve')");
    const char* kName =
        "SELECT (SELECT FName FROM t_SonCompany WHERE FItemID= (SELECT FValue FROM t_Systemprofile "
        "WHERE FCategory='IC' AND FKey='BrID'))";
    for (const auto& [value, name] : {std::pair{"12", "Twelve"}, std::pair{"2", "Two"}}) {
        db_.Exec(std::string("DELETE FROM t_Systemprofile; INSERT INTO t_Systemprofile (FCategory, FKey, "
                             "FValue) VALUES ('IC', 'BrID', '") + value + "')");
        EXPECT_EQ(db_.Text(kName), name) << "BrID " << value;
        EXPECT_EQ(db_.Text("SELECT typeof(FValue) FROM t_Systemprofile"), "text");
    }
}

// Each statement is inserted twice; the second time a key must refuse it.
TEST_F(ErpSchemaTest, KeysRefuseDuplicates) {
    const std::string header = "(FBillNo, FDate, FCustID, FDeptID, FEmpID, FManagerID, FBillerID, FCurrencyID, FInterID)";
    const std::string inserts[] = {
        "INSERT INTO SEOrder " + header + " VALUES ('S1', '2026-01-01', 1, 1, 1, 1, 1, 1, ",
        "INSERT INTO SEOutStock (FTranType, " + header.substr(1) + " VALUES (83, 'N1', '2026-01-01', 1, 1, 1, 1, 1, 1, ",
        "INSERT INTO POOrder (FBillNo, FDate, FSupplyID, FDeptID, FEmpID, FMangerID, FBillerID, FCurrencyID, "
        "FInterID) VALUES ('A1', '2026-01-01', 1, 1, 1, 1, 1, 1, ",
    };
    for (const std::string& insert : inserts) {
        db_.Exec(insert + "1)");
        EXPECT_FALSE(db_.Runs(insert + "2)")) << "bill number taken twice: " << insert;
    }
    for (const char* insert : {"INSERT INTO POOrderEntry (FInterID, FEntryID, FItemID, FUnitID) VALUES (1, 1, 1, 1)",
                               "INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ('IC', 'BrID', '1')",
                               "INSERT INTO t_Currency (FCurrencyID, FNumber, FName) VALUES (1, 'RMB', 'Yuan')"}) {
        db_.Exec(insert);
        EXPECT_FALSE(db_.Runs(insert)) << insert;
    }
}

// The look-ups a branch database answers most often go through an index, not a table scan.
TEST_F(ErpSchemaTest, FrequentLookupsUseAnIndex) {
    const char* queries[] = {
        "SELECT FInterID FROM POOrder WHERE FRelateBrID=2 AND (FTranStatus=0 OR FTranStatus IS NULL) "
        "AND FStatus IN (1,2)",
        "SELECT FInterID FROM SEOutStock WHERE FRelateBrID=2 AND (FTranStatus=0 OR FTranStatus IS NULL) "
        "AND FStatus IN (1,2)",
        "SELECT FInterID FROM POOrder WHERE FBillNo='A1'",
        "SELECT FInterID FROM SEOutStock WHERE FBillNo='A1'",
        "SELECT FInterID FROM SEOrder WHERE FBillNo='A1'",
        "SELECT FItemID FROM t_SonCompany WHERE FNumber='01.002' AND FName='x'",
        "SELECT FAuxQty FROM POOrderEntry WHERE FInterID=1 AND FEntryID=2",
        "SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'",
    };
    for (const char* query : queries) {
        std::string plan;
        for (const auto& row : db_.Rows(std::string("EXPLAIN QUERY PLAN ") + query)) plan += row.back() + "; ";
        EXPECT_NE(plan.find("SEARCH"), std::string::npos) << query << "\nplan: " << plan;
        EXPECT_EQ(plan.find("SCAN"), std::string::npos) << query << "\nplan: " << plan;
    }
}

TEST_F(ErpSchemaTest, SecondCreationFailsAndLeavesTheDatabaseAsItWas) {
    db_.Exec("INSERT INTO t_Currency (FCurrencyID, FNumber, FName) VALUES (1, 'RMB', 'Yuan')");
    try {
        CreateErpSchema(*db_.Seam());
        FAIL() << "creating the schema twice succeeded";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.Code(), platform::ErrorCode::kDatabaseError);
        EXPECT_NE(error.Description().find("already exists"), std::string::npos) << error.Description();
    }
    EXPECT_EQ(db_.Int("SELECT COUNT(*) FROM t_Currency"), 1);
    EXPECT_NE(sqlite3_get_autocommit(db_.get()), 0) << "left a transaction open";
}

// A failure half-way leaves none of the tables created before it.
TEST(ErpSchemaPartialTest, FailureHalfWayUndoesTheTablesAlreadyMade) {
    TestDb db;
    db.Exec("CREATE TABLE SEOrderEntry (x)");
    EXPECT_THROW(CreateErpSchema(*db.Seam()), platform::Error);
    EXPECT_EQ(db.Int("SELECT COUNT(*) FROM sqlite_master"), 1);
}

TEST(ErpSchemaInTransactionTest, CreationInsideACallersTransactionIsUndoneWithIt) {
    TestDb db;
    db.Exec("BEGIN");
    CreateErpSchema(*db.Seam());
    db.Exec("ROLLBACK");
    EXPECT_EQ(db.Int("SELECT COUNT(*) FROM sqlite_master"), 0);
}

}  // namespace
}  // namespace orba::hostkit
