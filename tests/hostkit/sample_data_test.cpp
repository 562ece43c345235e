#include "hostkit/sample/sample_writer.h"
#include "hostkit/sample_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "support/bill_statements.h"
#include "support/erp_test_db.h"
#include "hostkit/schema/erp_schema.h"
#include "platform/error.h"

namespace orba::hostkit {
namespace {

using platform::Error;
using platform::ErrorCode;
using testing::PlainJoins;
using testing::TestDb;

// A decimal text such as "37.05" or "50" as an integer count of 10^-scale; fails the test
// when the text carries more decimals than that.
int64_t Scaled(const std::string& text, int scale) {
    const size_t dot = text.find('.');
    std::string digits = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (fraction.size() > static_cast<size_t>(scale)) {
        ADD_FAILURE() << text << " has more than " << scale << " decimals";
        fraction.resize(static_cast<size_t>(scale));
    }
    fraction.append(static_cast<size_t>(scale) - fraction.size(), '0');
    return std::stoll(digits + fraction);
}

void Populate(TestDb& db, const SampleOptions& options) {
    CreateErpSchema(*db.Seam());
    PopulateSampleData(*db.Seam(), options);
}

class SampleDataTest : public ::testing::Test {
protected:
    void SetUp() override { Populate(db_, options_); }

    SampleOptions options_;  // the defaults: branch 1, 20 orders, 20 notices, 10 returns, 5 lines
    TestDb db_;
};

// Bill counts as asked; each bill has lines numbered 1..n without gaps, n from 1 to the
// lines option, and master data is written even when no bill is.
TEST(SampleDataCountsTest, WritesTheAskedBillsEachWithOneToLinesLines) {
    struct Case {
        SampleOptions options;
        bool varied_lines;  // expect some bill with more than one line
    };
    const Case cases[] = {
        {{}, true},
        {{.branch = 2, .orders = 7, .notices = 3, .returns = 2, .lines = 1, .seed = 5}, false},
        {{.branch = 4, .orders = 0, .notices = 0, .returns = 4, .lines = 2, .seed = 9}, true},
        {{.branch = 3, .orders = 0, .notices = 0, .returns = 0, .lines = 3}, false},
    };
    for (const Case& c : cases) {
        TestDb db;
        Populate(db, c.options);
        const std::pair<std::string, int> kinds[] = {{"POOrder WHERE FTranType=71", c.options.orders},
                                                     {"SEOutStock WHERE FTranType=83", c.options.notices},
                                                     {"SEOutStock WHERE FTranType=82", c.options.returns}};
        for (const auto& [bills, expected] : kinds) {
            EXPECT_EQ(db.Int("SELECT COUNT(*) FROM " + bills), expected) << bills;
        }
        const std::string per_bill =
            "SELECT COUNT(*) AS n, MIN(FEntryID) AS lo, MAX(FEntryID) AS hi FROM POOrderEntry GROUP BY FInterID "
            "UNION ALL SELECT COUNT(*), MIN(FEntryID), MAX(FEntryID) FROM SEOutStockEntry GROUP BY FInterID";
        EXPECT_EQ(db.Int("SELECT COUNT(*) FROM (" + per_bill + ")"),
                  c.options.orders + c.options.notices + c.options.returns)
            << "a bill without lines";
        EXPECT_EQ(db.Int("SELECT COUNT(*) FROM (" + per_bill + ") WHERE lo <> 1 OR hi <> n OR n > " +
                         std::to_string(c.options.lines)),
                  0);
        EXPECT_EQ(db.Int("SELECT COUNT(*) FROM (" + per_bill + ") WHERE n > 1") > 0, c.varied_lines);
        EXPECT_EQ(db.Int("SELECT COUNT(*) FROM t_SonCompany"), 4);
        EXPECT_GT(db.Int("SELECT COUNT(*) FROM t_ICItem"), 0);
    }
}

// Every value the bill statements treat specially turns up, both present and missing.
TEST_F(SampleDataTest, MixesStatusesAndMissingValues) {
    std::vector<std::string> conditions;
    for (const char* table : {"POOrder", "SEOutStock"}) {
        const std::string t = table;
        for (int status = 0; status <= 3; ++status) {
            conditions.push_back(t + " WHERE FStatus=" + std::to_string(status));
        }
        for (const char* c : {"FTranStatus IS NULL", "FTranStatus=0", "FTranStatus=1", "FRelateBrID IS NULL",
                              "FRelateBrID IS NOT NULL", "FExchangeRate IS NULL", "FExchangeRate IS NOT NULL",
                              "FCheckDate IS NULL", "FCheckDate IS NOT NULL", "FExplanation IS NULL"}) {
            conditions.push_back(t + " WHERE " + c);
        }
    }
    for (const char* c : {"FSalType IS NULL", "FSalType IS NOT NULL", "FSettleID IS NULL", "FSettleID IS NOT NULL",
                          "FCnnInterID = 0", "FCnnInterID <> 0", "FTranType=82 AND FCnnInterID <> 0",
                          "FCurrencyID <> 1"}) {
        conditions.push_back(std::string("SEOutStock WHERE ") + c);
    }
    for (const char* c : {"POOrderEntry WHERE FNote IS NULL", "POOrderEntry WHERE FNote IS NOT NULL",
                          "SEOutStockEntry WHERE FNote IS NULL", "SEOutStockEntry WHERE FNote IS NOT NULL",
                          "SEOutStockEntry WHERE FSourceEntryID = 0", "SEOutStockEntry WHERE FSourceEntryID <> 0",
                          "SEOrder WHERE FPOOrdBillNo IS NULL", "SEOrder WHERE FPOOrdBillNo IS NOT NULL",
                          "POOrderEntry WHERE FTaxRate <> 0", "POOrderEntry WHERE FCess <> 13",
                          "t_ICItem WHERE FModel IS NULL", "t_ICItem WHERE FModel IS NOT NULL"}) {
        conditions.push_back(c);
    }
    for (const std::string& condition : conditions) {
        EXPECT_GT(db_.Int("SELECT COUNT(*) FROM " + condition), 0) << condition;
    }
}

// Bills go to the other branches of the group, each of them, through that branch's own
// supplier or customer record; bills without a related branch go to outside partners.
TEST_F(SampleDataTest, AddressesBillsToTheOtherBranches) {
    struct Kind {
        const char* header;
        const char* partner_table;
        const char* partner_column;
    };
    for (const Kind& kind : {Kind{"POOrder", "t_Supplier", "FSupplyID"}, Kind{"SEOutStock", "t_Organization", "FCustID"}}) {
        const std::string h = kind.header;
        EXPECT_EQ(db_.Int("SELECT COUNT(*) FROM " + h + " WHERE FRelateBrID = " + std::to_string(options_.branch)), 0);
        for (const BranchInfo& branch : SampleGroupBranches()) {
            if (branch.item_id == options_.branch) continue;
            EXPECT_GT(db_.Int("SELECT COUNT(*) FROM " + h + " WHERE FRelateBrID = " + std::to_string(branch.item_id)), 0)
                << h << " to branch " << branch.item_id;
        }
        const std::string mismatched =
            "SELECT COUNT(*) FROM " + h + " v JOIN " + kind.partner_table + " p ON p.FItemID = v." +
            kind.partner_column +
            " LEFT JOIN t_SonCompany b ON b.FItemID = v.FRelateBrID WHERE (v.FRelateBrID IS NOT NULL AND "
            "(b.FItemID IS NULL OR b.FNumber <> p.FNumber OR b.FName <> p.FName)) OR (v.FRelateBrID IS NULL AND "
            "p.FName IN (SELECT FName FROM t_SonCompany))";
        EXPECT_EQ(db_.Int(mismatched), 0) << h;
    }
}

// Every reference points at an existing row, so inner joins of the bill statements lose
// no bill; and a line's unit belongs to its item's unit group.
TEST_F(SampleDataTest, ReferencesPointAtExistingRows) {
    struct Reference {
        const char* table;
        const char* column;
        const char* target;
        const char* key;
        bool zero_is_none = false;  // 0 stands for "no reference" in this column
    };
    const Reference references[] = {
        {"POOrder", "FSupplyID", "t_Supplier", "FItemID"},       {"POOrder", "FDeptID", "t_Department", "FItemID"},
        {"POOrder", "FEmpID", "t_Emp", "FItemID"},               {"POOrder", "FMangerID", "t_Emp", "FItemID"},
        {"POOrder", "FBillerID", "t_User", "FUserID"},           {"POOrder", "FCheckerID", "t_User", "FUserID"},
        {"POOrder", "FCurrencyID", "t_Currency", "FCurrencyID"}, {"POOrder", "FRelateBrID", "t_SonCompany", "FItemID"},
        {"POOrder", "FPOStyle", "t_SubMessage", "FInterID"},     {"POOrderEntry", "FInterID", "POOrder", "FInterID"},
        {"POOrderEntry", "FItemID", "t_ICItem", "FItemID"},      {"POOrderEntry", "FUnitID", "t_MeasureUnit", "FItemID"},
        {"SEOutStock", "FCustID", "t_Organization", "FItemID"},  {"SEOutStock", "FDeptID", "t_Department", "FItemID"},
        {"SEOutStock", "FEmpID", "t_Emp", "FItemID"},            {"SEOutStock", "FManagerID", "t_Emp", "FItemID"},
        {"SEOutStock", "FBillerID", "t_User", "FUserID"},        {"SEOutStock", "FCheckerID", "t_User", "FUserID"},
        {"SEOutStock", "FCurrencyID", "t_Currency", "FCurrencyID"},
        {"SEOutStock", "FRelateBrID", "t_SonCompany", "FItemID"},
        {"SEOutStock", "FSalType", "t_SubMessage", "FInterID"},  {"SEOutStock", "FSettleID", "t_Settle", "FItemID"},
        {"SEOutStock", "FCnnInterID", "SEOrder", "FInterID", true},
        {"SEOutStockEntry", "FInterID", "SEOutStock", "FInterID"},
        {"SEOutStockEntry", "FItemID", "t_ICItem", "FItemID"},
        {"SEOutStockEntry", "FUnitID", "t_MeasureUnit", "FItemID"},
        {"SEOrder", "FCustID", "t_Organization", "FItemID"},     {"SEOrder", "FCurrencyID", "t_Currency", "FCurrencyID"},
        {"SEOrderEntry", "FInterID", "SEOrder", "FInterID"},     {"SEOrderEntry", "FItemID", "t_ICItem", "FItemID"},
        {"SEOrderEntry", "FUnitID", "t_MeasureUnit", "FItemID"},
        {"t_MeasureUnit", "FUnitGroupID", "t_Item", "FItemID"},  {"t_ICItem", "FUnitID", "t_MeasureUnit", "FItemID"},
        {"t_Emp", "FDepartmentID", "t_Department", "FItemID"},   {"t_User", "FEmpID", "t_Emp", "FItemID"},
    };
    for (const Reference& r : references) {
        const std::string sql = std::string("SELECT COUNT(*) FROM ") + r.table + " c WHERE c." + r.column +
                                " IS NOT NULL" + (r.zero_is_none ? std::string(" AND c.") + r.column + " <> 0" : "") +
                                " AND NOT EXISTS (SELECT 1 FROM " + r.target + " p WHERE p." + r.key +
                                " = c." + r.column + ")";
        EXPECT_EQ(db_.Int(sql), 0) << r.table << "." << r.column << " -> " << r.target;
    }
    for (const char* line : {"POOrderEntry", "SEOutStockEntry", "SEOrderEntry"}) {
        EXPECT_EQ(db_.Int(std::string("SELECT COUNT(*) FROM ") + line +
                          " u JOIN t_ICItem i ON i.FItemID = u.FItemID JOIN t_MeasureUnit m ON m.FItemID = u.FUnitID "
                          "WHERE m.FUnitGroupID <> i.FUnitGroupID"),
                  0)
            << line;
    }
}

// Amount = unit price x quantity rounded to the currency's decimals, base quantity =
// quantity x unit coefficient, unit price = base price x coefficient; checked in exact
// decimal arithmetic on the stored values.
TEST_F(SampleDataTest, AmountsAndBaseQuantitiesAreConsistent) {
    int checked_scale_0 = 0;
    for (const auto& [line, header] : {std::pair{"POOrderEntry", "POOrder"}, std::pair{"SEOutStockEntry", "SEOutStock"},
                                       std::pair{"SEOrderEntry", "SEOrder"}}) {
        const auto rows = db_.Rows(std::string("SELECT u.FAuxQty, u.FQty, u.FAuxPrice, u.FPrice, u.FAmount, c.FScale, "
                                               "m.FCoefficient FROM ") + line + " u JOIN " + header +
                                   " v ON v.FInterID = u.FInterID JOIN t_Currency c ON c.FCurrencyID = v.FCurrencyID "
                                   "JOIN t_MeasureUnit m ON m.FItemID = u.FUnitID");
        ASSERT_FALSE(rows.empty()) << line;
        for (const auto& row : rows) {
            const int64_t aux_qty = Scaled(row[0], 3);
            const int64_t qty = Scaled(row[1], 3);
            const int64_t aux_price = Scaled(row[2], 2);
            const int64_t price = Scaled(row[3], 2);
            const int scale = std::stoi(row[5]);
            const int64_t amount = Scaled(row[4], scale);
            const int64_t coefficient = std::stoll(row[6]);
            const int64_t divisor = scale == 2 ? 1000 : 100000;  // from 5 decimals to the currency's
            EXPECT_EQ((aux_price * aux_qty + divisor / 2) / divisor, amount)
                << line << ": " << row[2] << " x " << row[0] << " -> " << row[4] << " at scale " << scale;
            EXPECT_EQ(aux_qty * coefficient, qty) << line;
            EXPECT_EQ(price * coefficient, aux_price) << line;
            EXPECT_GT(aux_qty, 0) << line;
            EXPECT_GT(price, 0) << line;
            checked_scale_0 += scale == 0;
        }
    }
    EXPECT_GT(checked_scale_0, 0) << "no bill in a currency without decimals";
}

TEST_F(SampleDataTest, DatesAreValidIsoDatesIn2026) {
    const std::pair<const char*, const char*> dates[] = {
        {"POOrder", "FDate"},    {"POOrderEntry", "FDate"},    {"POOrder", "FCheckDate"}, {"SEOutStock", "FDate"},
        {"SEOutStock", "FCheckDate"}, {"SEOrder", "FDate"},    {"SEOrderEntry", "FDate"},
    };
    for (const auto& [table, column] : dates) {
        const std::string c = column;
        // Written back through SQLite's own date functions, a valid date comes out unchanged.
        EXPECT_EQ(db_.Int(std::string("SELECT COUNT(*) FROM ") + table + " WHERE " + c + " IS NOT NULL AND (NOT (" + c +
                          " = date(" + c + ") OR " + c + " = strftime('%Y-%m-%dT%H:%M:%S', " + c + ")) OR " + c +
                          " NOT LIKE '2026-%' OR typeof(" + c + ") <> 'text')"),
                  0)
            << table << "." << column;
    }
    EXPECT_EQ(db_.Int("SELECT COUNT(*) FROM POOrderEntry u JOIN POOrder v ON v.FInterID = u.FInterID "
                      "WHERE u.FDate < v.FDate"),
              0)
        << "delivery before the order date";
    EXPECT_EQ(db_.Int("SELECT COUNT(*) FROM SEOrder o JOIN SEOutStock n ON n.FCnnInterID = o.FInterID "
                      "WHERE o.FDate > n.FDate"),
              0)
        << "sales order after its notice";
}

TEST(SampleDataNumbersTest, BillNumbersAreUniqueAndCarryTheBranch) {
    for (int branch : {1, 3}) {
        TestDb db;
        Populate(db, {.branch = branch});
        char digits[8];
        std::snprintf(digits, sizeof digits, "%02d", branch);
        const std::string six = "[0-9][0-9][0-9][0-9][0-9][0-9]";
        const std::pair<std::string, std::string> patterns[] = {
            {"POOrder", std::string("POOR") + digits + "-" + six},
            {"SEOutStock WHERE FTranType=83", std::string("SEOUT") + digits + "-" + six},
            {"SEOutStock WHERE FTranType=82", std::string("SERTN") + digits + "-" + six},
            {"SEOrder", std::string("SEORD") + digits + "-" + six},
        };
        for (const auto& [bills, pattern] : patterns) {
            const std::string from = "SELECT FBillNo FROM " + bills;
            EXPECT_GT(db.Int("SELECT COUNT(*) FROM (" + from + ")"), 0) << bills;
            EXPECT_EQ(db.Int("SELECT COUNT(*) FROM (" + from + ") WHERE FBillNo NOT GLOB '" + pattern + "'"), 0)
                << bills << " vs " << pattern;
        }
        EXPECT_EQ(db.Int("SELECT COUNT(DISTINCT FBillNo) FROM SEOutStock"), db.Int("SELECT COUNT(*) FROM SEOutStock"));
    }
}

// The branch's own name and number come from a sub-select that compares the text branch id
// with the integer branch key; every branch database must find itself.
TEST(SampleDataBranchTest, EachBranchDatabaseFindsItsOwnNameAndNumber) {
    const std::string own =
        "(SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID')";
    std::set<std::string> group_lists;
    for (const BranchInfo& branch : SampleGroupBranches()) {
        TestDb db;
        Populate(db, {.branch = branch.item_id});
        EXPECT_EQ(db.Text("SELECT " + own), std::to_string(branch.item_id));
        EXPECT_EQ(db.Text(std::string("SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='") +
                          kTaxInPriceKey + "'"),
                  "False");
        EXPECT_EQ(db.Text(std::string("SELECT FValue FROM t_Systemprofile WHERE FCategory='") +
                          std::string(kPeriodCategory) + "' AND FKey='" + std::string(kPeriodStartKey) + "'"),
                  "2026-01-01");
        EXPECT_EQ(db.Text("SELECT (SELECT FName FROM t_SonCompany WHERE FItemID= " + own + ")"), branch.name);
        EXPECT_EQ(db.Text("SELECT (SELECT FNumber FROM t_SonCompany WHERE FItemID= " + own + ")"), branch.number);
        // Another branch finds this one by its number and name.
        EXPECT_EQ(db.Int(testing::kBranchLookup + branch.number + "' AND FName='" + branch.name + "'"), branch.item_id);
        std::string list;
        for (const auto& row : db.Rows("SELECT * FROM t_SonCompany ORDER BY FItemID")) list += row[0] + row[1] + row[2];
        group_lists.insert(list);
    }
    EXPECT_EQ(group_lists.size(), 1u) << "the group's branch list differs between databases";
    EXPECT_GE(SampleGroupBranches().size(), 3u);
}

// The notice statement finds a line's source through the sales order that shares the
// notice's internal number: lines drawn from an order find it, the others find nothing.
TEST_F(SampleDataTest, SourceLineSubSelectFindsDrawnLinesOnly) {
    const auto rows = db_.Rows("SELECT u1.FSourceInterID, u1.FSourceEntryID, " + testing::kNoticeSourceLine +
                               " (SELECT FPOOrdBillNo FROM SEOrder WHERE FInterID=v1.FCnnInterID) as FPOOrdBillNo, "
                               " v1.FCnnInterID FROM SEOutStock v1, SEOutStockEntry u1 WHERE v1.FInterID=u1.FInterID");
    int found = 0, not_found = 0, with_order_no = 0, without_order_no = 0;
    for (const auto& row : rows) {
        const bool drawn = row[0] != "0";
        const bool source_found = row[2] != "NULL";
        EXPECT_EQ(source_found, drawn) << "line from order " << row[0] << " entry " << row[1];
        (source_found ? found : not_found) += 1;
        if (row[4] != "0") (row[3] != "NULL" ? with_order_no : without_order_no) += 1;
    }
    EXPECT_GT(found, 0);
    EXPECT_GT(not_found, 0);
    EXPECT_GT(with_order_no, 0);
    EXPECT_GT(without_order_no, 0);
}

// Run against the sample data, the extraction statements return every line of the bills
// they select: no reference is missing that an inner join would need.
TEST_F(SampleDataTest, ExtractionStatementsReturnEveryLineOfTheSelectedBills) {
    int download_rows = 0;
    for (const BranchInfo& branch : SampleGroupBranches()) {
        if (branch.item_id == options_.branch) continue;
        const std::string id = std::to_string(branch.item_id);
        const auto rows = db_.Rows(PlainJoins(testing::kPurchaseOrderHead) + testing::kDownloadSelection + id +
                                   testing::kBillOrder);
        EXPECT_EQ(static_cast<long long>(rows.size()),
                  db_.Int("SELECT COUNT(*) FROM POOrderEntry u JOIN POOrder v ON v.FInterID = u.FInterID WHERE "
                          "v.FRelateBrID = " + id + " AND (v.FTranStatus = 0 OR v.FTranStatus IS NULL) AND "
                          "v.FStatus IN (1, 2)"))
            << "orders for branch " << id;
        download_rows += static_cast<int>(rows.size());
    }
    EXPECT_GT(download_rows, 0);

    // Outer-joined columns are plain joins here, so only bills that have all of them count.
    const std::string all_notices = "(SELECT FInterID FROM SEOutStock WHERE FRelateBrID IS NOT NULL AND FSalType IS "
                                    "NOT NULL AND FSettleID IS NOT NULL)";
    const std::string notice_ids =
        db_.Text("SELECT group_concat(FInterID) FROM " + all_notices).value_or("0");
    for (const std::string& head : {testing::kDeliveryNoticeHead, testing::kReturnNoticeHead}) {
        const auto rows = db_.Rows(PlainJoins(head) + testing::kListSelection + notice_ids + ")" + testing::kBillOrder);
        EXPECT_GT(rows.size(), 0u);
        EXPECT_EQ(static_cast<long long>(rows.size()),
                  db_.Int("SELECT COUNT(*) FROM SEOutStockEntry WHERE FInterID IN " + all_notices));
    }
}

TEST(SampleDataDeterminismTest, SameOptionsSameContentOtherSeedOrBranchOtherContent) {
    const SampleOptions base{.branch = 2, .orders = 15, .notices = 12, .returns = 6, .lines = 4, .seed = 42};
    TestDb first, second, other_seed, other_branch;
    Populate(first, base);
    Populate(second, base);
    SampleOptions seeded = base;
    seeded.seed = 43;
    Populate(other_seed, seeded);
    SampleOptions moved = base;
    moved.branch = 3;
    Populate(other_branch, moved);
    const std::string dump = first.Dump();
    EXPECT_GT(dump.size(), 1000u);
    EXPECT_EQ(dump, second.Dump());
    EXPECT_NE(dump, other_seed.Dump());
    EXPECT_NE(dump, other_branch.Dump());
    // Master data does not depend on the seed; the bills do.
    EXPECT_EQ(first.Rows("SELECT * FROM t_ICItem"), other_seed.Rows("SELECT * FROM t_ICItem"));
    EXPECT_NE(first.Rows("SELECT * FROM POOrderEntry"), other_seed.Rows("SELECT * FROM POOrderEntry"));
}

TEST(SampleDataOptionsTest, RefusesUnusableOptionsAndWritesNothing) {
    struct Case {
        SampleOptions options;
        const char* named;
    };
    const Case cases[] = {
        {{.branch = 0}, "branch 0"},      {{.branch = 5}, "branch 5"},       {{.orders = -1}, "orders"},
        {{.notices = -3}, "notices"},     {{.returns = 1000000}, "returns"}, {{.lines = 0}, "lines"},
    };
    for (const Case& c : cases) {
        TestDb db;
        CreateErpSchema(*db.Seam());
        try {
            PopulateSampleData(*db.Seam(), c.options);
            ADD_FAILURE() << "accepted " << c.named;
        } catch (const Error& error) {
            EXPECT_EQ(error.Code(), ErrorCode::kBadInput) << c.named;
            EXPECT_NE(error.Description().find(c.named), std::string::npos) << error.Description();
        }
        EXPECT_EQ(db.Int("SELECT COUNT(*) FROM t_SonCompany"), 0) << c.named;
    }
}

TEST(SampleDataFailureTest, FailureLeavesNothingBehind) {
    {
        TestDb db;  // no schema
        try {
            PopulateSampleData(*db.Seam(), {});
            ADD_FAILURE() << "filled a database without the schema";
        } catch (const Error& error) {
            EXPECT_EQ(error.Code(), ErrorCode::kDatabaseError);
            EXPECT_NE(error.Description().find("no such table"), std::string::npos) << error.Description();
        }
        EXPECT_NE(sqlite3_get_autocommit(db.get()), 0);
    }
    {
        TestDb db;
        Populate(db, {});
        const std::string before = db.Dump();
        EXPECT_THROW(PopulateSampleData(*db.Seam(), {.seed = 7}), Error);  // keys already taken
        EXPECT_EQ(db.Dump(), before);
        EXPECT_NE(sqlite3_get_autocommit(db.get()), 0);
    }
    {
        // Inside a caller's transaction the fill is part of it.
        TestDb db;
        CreateErpSchema(*db.Seam());
        db.Exec("BEGIN");
        PopulateSampleData(*db.Seam(), {});
        db.Exec("ROLLBACK");
        EXPECT_EQ(db.Int("SELECT COUNT(*) FROM POOrder"), 0);
    }
}

class SampleFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::path(::testing::TempDir()) /
               ("orba_sample_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static std::string Contents(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path dir_;
};

// The file holds what filling a database directly gives, and the same options give the
// same file, byte for byte.
TEST_F(SampleFileTest, CreatesTheSameFileForTheSameOptions) {
    const SampleOptions options{.branch = 3, .orders = 9, .notices = 8, .returns = 3, .lines = 3, .seed = 11};
    CreateSampleDatabase((dir_ / "one.db").string(), options);
    CreateSampleDatabase((dir_ / "two.db").string(), options);
    const std::string one = Contents(dir_ / "one.db");
    EXPECT_GT(one.size(), 4096u);
    EXPECT_TRUE(one == Contents(dir_ / "two.db"));
    TestDb from_file((dir_ / "one.db").string());
    TestDb in_memory;
    Populate(in_memory, options);
    EXPECT_EQ(from_file.Dump(), in_memory.Dump());
}

TEST_F(SampleFileTest, RefusesToOverwriteAnExistingFile) {
    const auto path = dir_ / "existing.db";
    std::ofstream(path) << "keep me";
    try {
        CreateSampleDatabase(path.string(), {});
        FAIL() << "overwrote an existing file";
    } catch (const Error& error) {
        EXPECT_EQ(error.Code(), ErrorCode::kFileAlreadyExists);
        EXPECT_NE(error.Description().find(path.string()), std::string::npos) << error.Description();
    }
    EXPECT_EQ(Contents(path), "keep me");
}

// Names SQLite would otherwise read as an in-memory database or a URI still end up in the
// file that was created, not in memory with an empty file left behind.
TEST_F(SampleFileTest, SpecialLookingNamesAreOrdinaryFiles) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    for (const char* name : {":memory:", "file:branch.db?mode=memory"}) {
        EXPECT_NO_THROW(CreateSampleDatabase(name, {.orders = 3})) << name;
    }
    std::filesystem::current_path(previous);
    for (const char* name : {":memory:", "file:branch.db?mode=memory"}) {
        TestDb db((dir_ / name).string());
        EXPECT_EQ(db.Int("SELECT COUNT(*) FROM POOrder"), 3) << name;
    }
}

TEST_F(SampleFileTest, LeavesNoFileWhenItCannotFinish) {
    const auto bad_options = dir_ / "bad-options.db";
    EXPECT_THROW(CreateSampleDatabase(bad_options.string(), {.branch = 9}), Error);
    EXPECT_FALSE(std::filesystem::exists(bad_options));

    const auto no_folder = dir_ / "missing" / "branch.db";
    try {
        CreateSampleDatabase(no_folder.string(), {});
        FAIL() << "created a file in a missing folder";
    } catch (const Error& error) {
        EXPECT_EQ(error.Code(), ErrorCode::kIoError);
        EXPECT_NE(error.Description().find(no_folder.string()), std::string::npos) << error.Description();
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

}  // namespace
}  // namespace orba::hostkit
