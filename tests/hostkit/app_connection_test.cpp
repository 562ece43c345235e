// The host connection against real branch databases: finding the database from the login
// properties, value kinds, row counts, all-or-nothing batches, the bill statements on
// generated data, decimal rounding, the trace file and late-bound use.
#include "hostkit/app_connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/sample_data.h"
#include "platform/error.h"
#include "platform/recordset.h"
#include "platform/registry.h"
#include "support/error_of.h"
#include "support/bill_statements.h"
#include "support/branch_env.h"
#include "support/variant_print.h"

namespace orba::hostkit {
namespace {

using platform::Date;
using platform::Decimal;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Ref;
using platform::RecordSet;
using platform::Variant;
using platform::VarType;
using orba::testing::BranchEnv;
using orba::testing::TempDir;

using orba::testing::ErrorOf;

Ref<RecordSet> ExecuteOnce(const std::string& sql) { return MakeRef<AppConnection>()->Execute(sql); }

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// ---- finding the account database --------------------------------------------------------

TEST(AppConnectionOpen, UnusableLoginPropertiesAreClearErrorsNamingWhatIsWrong) {
    BranchEnv env;  // registers the components and restores a usable UI afterwards
    TempDir dir;
    WriteFile(dir / "notes.txt", "These are meeting notes, not a database.\n");
    std::filesystem::create_directories(dir / "folder.db");
    const std::string missing = (dir / "missing.db").string();
    struct Case {
        std::string props;
        ErrorCode code;
        std::string named;  // the description names this
    };
    const Case cases[] = {
        {"UserName=Li;UserID=12", ErrorCode::kNotFound, "AcctDB"},
        {"AcctDB={Provider=Jet};UserName=Li", ErrorCode::kNotFound, "Data Source"},
        {"AcctDB={Data Source=};UserName=Li", ErrorCode::kNotFound, "Data Source"},
        {MakeLoginProperties(missing), ErrorCode::kFileNotFound, missing},
        {MakeLoginProperties((dir / "folder.db").string()), ErrorCode::kFileNotFound, (dir / "folder.db").string()},
        {MakeLoginProperties((dir / "notes.txt").string()), ErrorCode::kDatabaseError, (dir / "notes.txt").string()},
    };
    for (const Case& c : cases) {
        SetLoginProperties(c.props);
        const Error e = ErrorOf([] { ExecuteOnce("SELECT 1 AS one"); });
        EXPECT_EQ(e.Code(), c.code) << c.props << " -> " << e.Description();
        EXPECT_NE(e.Description().find(c.named), std::string::npos) << c.props << " -> " << e.Description();
    }
    // Looking for a missing database must not leave an empty one behind.
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(ReadFile(dir / "notes.txt"), "These are meeting notes, not a database.\n");
}

TEST(AppConnectionOpen, FindsTheDatabaseAndKeepsItOnceOpen) {
    BranchEnv first(nullptr, "first.db");
    BranchEnv second(nullptr, "second.db");
    first.Db().Exec("INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ('IC', 'BrID', '1')");
    second.Db().Exec("INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ('IC', 'BrID', '2')");
    const std::string query = "SELECT FValue FROM t_Systemprofile WHERE FCategory='IC' AND FKey='BrID'";

    first.Activate();
    auto connection = MakeRef<AppConnection>();
    EXPECT_EQ(connection->Execute(query)->Value("FValue"), Variant("1"));
    EXPECT_EQ(connection->DatabasePath(), first.DbPath());
    // The connection stays with its database when the login properties change later, as an
    // open connection does; a new connection follows the new properties.
    second.Activate();
    EXPECT_EQ(connection->Execute(query)->Value("FValue"), Variant("1"));
    EXPECT_EQ(MakeRef<AppConnection>()->Execute(query)->Value("FValue"), Variant("2"));
}

// A file name holding ';' cannot be put into the login properties: read back, the path would
// stop at the ';' and the connection would open whatever database has the shorter name.
TEST(AppConnectionOpen, FileNameTheLoginPropertiesCannotCarryIsRefusedNotMistaken) {
    BranchEnv shorter(nullptr, "branch");
    const std::string meant = (shorter.Dir() / "branch;2025.db").string();
    std::filesystem::copy_file(shorter.DbPath(), meant);
    shorter.Db().Exec("INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ('IC', 'BrID', 'shorter')");
    testing::TestDb(meant).Exec("INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ('IC', 'BrID', 'meant')");
    const Error e = ErrorOf([&] {
        SetLoginProperties(MakeLoginProperties(meant));
        ExecuteOnce("SELECT FValue FROM t_Systemprofile WHERE FKey='BrID'");
    });
    EXPECT_EQ(e.Code(), ErrorCode::kBadInput) << e.Description();
    EXPECT_NE(e.Description().find(meant), std::string::npos) << e.Description();
}

// ---- values and row counts ---------------------------------------------------------------

class AppConnectionValues : public ::testing::Test {
protected:
    void SetUp() override {
        env_.Db().Exec("PRAGMA synchronous=OFF");  // many small writes; durability is not under test
        env_.Db().Exec(
            "CREATE TABLE kinds (id INTEGER PRIMARY KEY, n INTEGER, t NVARCHAR(50), d DATETIME, "
            "m DECIMAL(28,10), r NUMERIC(19,6), x)");
    }

    // The one value of column `column` in the row with id 1.
    Variant ValueOf(const std::string& column) {
        Ref<RecordSet> rows = connection_->Execute("SELECT " + column + " FROM kinds WHERE id=1");
        EXPECT_EQ(rows->RecordCount(), 1);
        return rows->Value(0);
    }

    BranchEnv env_;
    Ref<AppConnection> connection_ = MakeRef<AppConnection>();
};

TEST_F(AppConnectionValues, EachColumnKindComesBackAsItsValueKind) {
    struct Case {
        std::string column;
        std::string stored;  // SQL literal
        Variant expected;
    };
    const Case cases[] = {
        {"n", "42", Variant(int32_t{42})},
        {"n", "-2147483648", Variant(int32_t{INT32_MIN})},
        {"n", "2147483647", Variant(int32_t{INT32_MAX})},
        {"n", "2147483648", Variant(Decimal(int64_t{2147483648}))},
        {"n", "-9000000000000000000", Variant(Decimal(int64_t{-9000000000000000000}))},
        {"n", "NULL", Variant::Null()},
        {"t", "'Li Wei'", Variant("Li Wei")},
        {"t", "'0012'", Variant("0012")},  // text that looks like a number stays text
        {"t", "''", Variant("")},
        {"t", "NULL", Variant::Null()},
        {"d", "'2026-03-31'", Variant(Date::FromParts(2026, 3, 31))},
        {"d", "'2026-03-31 08:15:30'", Variant(Date::FromParts(2026, 3, 31, 8, 15, 30))},
        {"d", "'2026-03-31T08:15:30'", Variant(Date::FromParts(2026, 3, 31, 8, 15, 30))},
        {"d", "NULL", Variant::Null()},
        {"m", "8", Variant(Decimal(int64_t{8}))},  // a whole amount is still a Decimal
        {"m", "NULL", Variant::Null()},
        {"r", "0", Variant(Decimal(int64_t{0}))},
        {"x", "7", Variant(int32_t{7})},  // no declared type: the stored kind decides
        {"x", "'seven'", Variant("seven")},
    };
    for (const Case& c : cases) {
        env_.Db().Exec("DELETE FROM kinds");
        env_.Db().Exec("INSERT INTO kinds (id, " + c.column + ") VALUES (1, " + c.stored + ")");
        const Variant got = ValueOf(c.column);
        EXPECT_EQ(got.Type(), c.expected.Type()) << c.column << " = " << c.stored << " came back as " << got.TypeName();
        EXPECT_EQ(got, c.expected) << c.column << " = " << c.stored;
    }
}

// Values of up to 15 significant digits in DECIMAL and NUMERIC columns come back exactly,
// whether they were written as numbers, as text or through the connection itself.
TEST_F(AppConnectionValues, DecimalColumnsAreExactUpToFifteenDigits) {
    const char* const values[] = {"0.1",  "7.5",   "123456789012.345", "-0.000001", "99999999999999.9",
                                  "0.3",  "2.675", "1.005",            "-1234.5678", "0.000000000000001",
                                  "33.33", "999999999999999"};
    for (const char* value : values) {
        for (const char* column : {"m", "r"}) {
            for (const std::string& literal : {std::string(value), "'" + std::string(value) + "'"}) {
                env_.Db().Exec("DELETE FROM kinds");
                env_.Db().Exec("INSERT INTO kinds (id, " + std::string(column) + ") VALUES (1, " + literal + ")");
                const Variant got = ValueOf(column);
                ASSERT_EQ(got.Type(), VarType::kDecimal) << column << " = " << literal;
                EXPECT_EQ(got.AsDecimal(), Decimal::Parse(value)) << column << " = " << literal;
                EXPECT_EQ(got.AsDecimal().ToString(), value) << column << " = " << literal;
            }
        }
        // Written by the connection itself.
        connection_->Execute("DELETE FROM kinds");
        connection_->Execute(std::string("INSERT INTO kinds (id, m) VALUES (1, ") + value + ")");
        EXPECT_EQ(ValueOf("m"), Variant(Decimal::Parse(value))) << value;
    }
}

TEST_F(AppConnectionValues, RecordCountIsTheRealRowCount) {
    for (int rows : {0, 1, 2, 37, 500}) {
        env_.Db().Exec("DELETE FROM kinds");
        env_.Db().Exec("WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " +
                       std::to_string(rows) + ") INSERT INTO kinds (id, n) SELECT i, i * 10 FROM k WHERE " +
                       std::to_string(rows) + " > 0");
        Ref<RecordSet> set = connection_->Execute("SELECT id, n FROM kinds ORDER BY id");
        EXPECT_EQ(set->RecordCount(), rows);
        // Read to the end, as the extractions do before they look at the count.
        int seen = 0;
        for (; !set->Eof(); set->MoveNext()) {
            ++seen;
            EXPECT_EQ(set->Value("n"), Variant(int32_t{seen * 10}));
        }
        EXPECT_EQ(seen, rows);
        EXPECT_EQ(set->RecordCount(), rows);
    }
}

TEST_F(AppConnectionValues, BatchWithoutRowsGivesAClosedSetAndARowBatchItsFirstRows) {
    Ref<RecordSet> none = connection_->Execute("INSERT INTO kinds (id, n) VALUES (1, 5)");
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->IsOpen());

    Ref<RecordSet> rows = connection_->Execute(
        "UPDATE kinds SET n = 6 WHERE id = 1\r\nSELECT n AS after_update FROM kinds\r\nSELECT 99 AS second");
    ASSERT_TRUE(rows->IsOpen());
    EXPECT_EQ(rows->Field(0).name, "after_update");
    EXPECT_EQ(rows->Value(0), Variant(int32_t{6}));
}

// ---- batches run all or nothing ----------------------------------------------------------

class AppConnectionBatch : public ::testing::Test {
protected:
    static hostkit::SampleOptions Small() {
        return {.branch = 1, .orders = 6, .notices = 4, .returns = 2, .lines = 3, .seed = 7};
    }
    std::string BillNo(int inter_id) {
        return *env_.Db().Text("SELECT FBillNo FROM POOrder WHERE FInterID=" + std::to_string(inter_id));
    }

    hostkit::SampleOptions options_ = Small();
    BranchEnv env_{&options_};
    Ref<AppConnection> connection_ = MakeRef<AppConnection>();
};

// The excerpt of a failing statement in the message is cut between characters, wherever the
// cut falls in a run of three-byte characters.
TEST_F(AppConnectionBatch, ExcerptOfAFailingStatementIsCutBetweenCharacters) {
    std::string names;
    for (int i = 0; i < 80; ++i) names += "锦";
    for (const std::string pad : {"", "x", "xy"}) {
        SCOPED_TRACE(pad.size());
        const Error e = ErrorOf([&] { connection_->Execute("SELECT * FROM NoSuchTable" + pad + " WHERE x='" + names + "'"); });
        const std::string& d = e.Description();
        ASSERT_NE(d.find("..."), std::string::npos) << d;
        const std::string cut = d.substr(0, d.find("..."));
        EXPECT_EQ((cut.size() - cut.find("WHERE x='") - 9) % 3, 0u) << "the excerpt ends inside a character: " << d;
    }
}

TEST_F(AppConnectionBatch, FailingStatementLeavesTheDatabaseExactlyAsBefore) {
    const std::string a1 = BillNo(1), a2 = BillNo(2);
    struct Case {
        std::string batch;
        std::string failing;  // "statement N of M"
        std::string quoted;   // a piece of the failing statement the description quotes
    };
    const Case cases[] = {
        {"UPDATE POOrder SET FTranStatus=1 WHERE FInterID=1\r\nUPDATE NoSuchTable SET FTranStatus=1",
         "statement 2 of 2", "NoSuchTable"},
        // Fails while running, not while being prepared: the bill number is unique.
        {"DELETE FROM POOrderEntry WHERE FInterID=1; UPDATE POOrder SET FBillNo='" + a1 + "' WHERE FInterID=2",
         "statement 2 of 2", "WHERE FInterID=2"},
        {"UPDATE POOrder SET FTranStatus=1; DELETE FROM POOrderEntry; UPDATE POOrder SET FBillNo=NULL WHERE "
         "FInterID=3",
         "statement 3 of 3", "FBillNo=NULL"},
        // The host dialect's form, statements back to back without a separator.
        {testing::UnSetOrdTranStatusBatch({a1}) + "Update v1 SET v1.FDate=NULL \r\nFROM POOrder v1 \r\nWHERE "
                                                  "v1.FBillNo='" + a2 + "'",
         "statement 2 of 2", "v1.FDate=NULL"},
        // A query after the changes fails: the changes are undone too.
        {"UPDATE POOrder SET FTranStatus=1\r\nSELECT FNoSuchColumn FROM POOrder", "statement 2 of 2",
         "FNoSuchColumn"},
    };
    env_.Db().Exec("UPDATE POOrder SET FTranStatus=1 WHERE FInterID IN (1,2)");
    for (const Case& c : cases) {
        const std::string before = env_.Db().Dump();
        const Error e = ErrorOf([&] { connection_->Execute(c.batch); });
        EXPECT_EQ(e.Code(), ErrorCode::kDatabaseError) << c.batch;
        EXPECT_NE(e.Description().find(c.failing), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find(c.quoted), std::string::npos) << e.Description();
        EXPECT_EQ(env_.Db().Dump(), before) << c.batch;
    }
    // The failures left no transaction open: the same connection changes data again.
    connection_->Execute("UPDATE POOrder SET FTranStatus=0 WHERE FInterID=1; UPDATE POOrder SET FTranStatus=0 "
                         "WHERE FInterID=2");
    EXPECT_EQ(env_.Db().Int("SELECT COUNT(*) FROM POOrder WHERE FInterID IN (1,2) AND FTranStatus=0"), 2);
}

// A batch can fail at its very end, when it is committed (here a deferred reference check).
// The connection must not stay inside the half-done transaction: its own later reads would
// see changes that never happened, its later batches could not start, and it would keep
// other writers out.
TEST_F(AppConnectionBatch, BatchThatCannotBeCommittedIsUndoneAndTheConnectionGoesOn) {
    env_.Db().Exec("CREATE TABLE parent (id INTEGER PRIMARY KEY)");
    env_.Db().Exec("CREATE TABLE child (parent_id INTEGER REFERENCES parent (id) DEFERRABLE INITIALLY DEFERRED)");
    const std::string before = env_.Db().Dump();

    const Error e = ErrorOf([&] {
        connection_->Execute("UPDATE POOrder SET FTranStatus=1; INSERT INTO child (parent_id) VALUES (99)");
    });
    EXPECT_EQ(e.Code(), ErrorCode::kDatabaseError) << e.Description();
    EXPECT_NE(e.Description().find("when the batch of 2 statements was committed"), std::string::npos)
        << e.Description();
    EXPECT_EQ(env_.Db().Dump(), before);
    EXPECT_EQ(connection_->Execute("SELECT COUNT(*) AS n FROM child")->Value("n"), Variant(int32_t{0}));
    EXPECT_TRUE(env_.Db().Runs("INSERT INTO parent (id) VALUES (1)")) << "another writer is still locked out";
    connection_->Execute("INSERT INTO child (parent_id) VALUES (1); UPDATE POOrder SET FTranStatus=0");
    EXPECT_EQ(env_.Db().Int("SELECT COUNT(*) FROM child"), 1);
}

TEST_F(AppConnectionBatch, SingleFailingStatementQuotesItself) {
    const Error e = ErrorOf([&] { connection_->Execute("SELECT FNoSuchColumn\r\nFROM POOrder"); });
    EXPECT_EQ(e.Code(), ErrorCode::kDatabaseError);
    EXPECT_NE(e.Description().find("no such column"), std::string::npos) << e.Description();
    // The quoted statement is on one line, so a message box or a log shows it whole.
    EXPECT_NE(e.Description().find("SELECT FNoSuchColumn FROM POOrder"), std::string::npos) << e.Description();
}

TEST_F(AppConnectionBatch, EveryStatementOfASuccessfulBatchTakesEffect) {
    const std::string a1 = BillNo(1), a2 = BillNo(2), a3 = BillNo(3);
    env_.Db().Exec("UPDATE POOrder SET FTranStatus=1");
    env_.Db().Exec("UPDATE t_Currency SET FScale=2");
    env_.Db().Exec("UPDATE POOrderEntry SET FAuxPrice=1.115 WHERE FInterID=2 AND FEntryID=1");
    connection_->Execute(testing::UnSetOrdTranStatusBatch({a1, a3}) +
                         testing::AffirmPurchaseOrderBatch({{a2, "1", "3"}}));
    EXPECT_EQ(env_.Db().Rows("SELECT FInterID, FTranStatus FROM POOrder WHERE FInterID <= 4 ORDER BY FInterID"),
              (std::vector<std::vector<std::string>>{{"1", "0"}, {"2", "1"}, {"3", "0"}, {"4", "1"}}));
    // 1.115 * 3 is 3.345, a hair below it in binary; the amount rounds on the decimal value.
    EXPECT_EQ(env_.Db().Rows("SELECT FAuxQty, FAmount FROM POOrderEntry WHERE FInterID=2 AND FEntryID=1"),
              (std::vector<std::vector<std::string>>{{"3", "3.35"}}));
}

// A statement the dialect layer refuses stops the whole batch before anything runs.
TEST_F(AppConnectionBatch, DialectRefusalRunsNothing) {
    const std::string before = env_.Db().Dump();
    const std::string refused[] = {
        "UPDATE POOrder SET FTranStatus=1\r\nSELECT * FROM POOrder v1 WHERE v1.FInterID IN ( )",
        "DELETE FROM POOrderEntry; SELECT v1.FBillNo FROM POOrder v1, t_SonCompany t WHERE v1.FRelateBrID*=t.FItemID "
        "OR v1.FStatus=1",
        "UPDATE POOrder SET FTranStatus=1 WHERE (FInterID=1",
    };
    for (const std::string& batch : refused) {
        const Error e = ErrorOf([&] { connection_->Execute(batch); });
        EXPECT_EQ(e.Code(), ErrorCode::kSqlNotTranslatable) << batch << " -> " << e.Description();
        EXPECT_EQ(env_.Db().Dump(), before) << batch;
    }
}

// ---- the bill statements on a generated branch database ----------------------------------

// One branch database and a comparison of what the connection returns for a bill statement
// with what a hand-written ANSI query of the same columns returns directly from SQLite.
class AppConnectionBillStatements : public ::testing::Test {
protected:
    // The select list of a statement: everything before its own FROM.
    static std::string SelectList(const std::string& head, const std::string& from) {
        const size_t at = head.find(from);
        EXPECT_NE(at, std::string::npos);
        return head.substr(0, at);
    }

    std::string Ids(const std::string& where) {
        return env_.Db().Text("SELECT group_concat(FInterID) FROM (SELECT FInterID FROM " + where +
                              " ORDER BY FInterID)")
            .value_or("0");
    }

    // Compares every value of every row; returns the rows for further checks.
    Ref<RecordSet> ExpectSameRows(const std::string& statement, const std::string& reference) {
        Ref<RecordSet> got = connection_->Execute(statement);
        const auto expected = env_.Db().Rows(reference);
        EXPECT_EQ(got->RecordCount(), static_cast<int32_t>(expected.size()));
        size_t row = 0;
        for (; !got->Eof() && row < expected.size(); got->MoveNext(), ++row) {
            EXPECT_EQ(got->FieldCount(), expected[row].size());
            if (got->FieldCount() != expected[row].size()) break;
            for (size_t c = 0; c < got->FieldCount(); ++c) {
                ExpectSameValue(got->Value(c), expected[row][c], got->Field(c).name, row);
            }
        }
        EXPECT_EQ(row, expected.size());
        got->MoveFirst();
        return got;
    }

    static void ExpectSameValue(const Variant& v, const std::string& text, const std::string& column, size_t row) {
        SCOPED_TRACE(column + " in row " + std::to_string(row));
        switch (v.Type()) {
            case VarType::kNull: EXPECT_EQ(text, "NULL"); break;
            case VarType::kLong: EXPECT_EQ(std::to_string(v.AsLong()), text); break;
            case VarType::kDecimal: EXPECT_EQ(v.AsDecimal(), Decimal::Parse(text)); break;
            case VarType::kDate: EXPECT_EQ(v.AsDate(), Date::Parse(text)); break;
            case VarType::kString: EXPECT_EQ(v.AsString(), text); break;
            default: ADD_FAILURE() << "unexpected kind " << v.TypeName(); break;
        }
    }

    static std::string PurchaseOrderReference(const std::string& selection) {
        return SelectList(testing::kPurchaseOrderHead, " FROM POOrder v1") +
               " FROM POOrder v1 JOIN POOrderEntry u1 ON v1.FInterID=u1.FInterID"
               " JOIN t_ICItem t4 ON u1.FItemID=t4.FItemID JOIN t_MeasureUnit t7 ON u1.FUnitID=t7.FItemID"
               " JOIN t_Item ti ON t7.FUnitGroupID=ti.FItemID JOIN t_Supplier t8 ON v1.FSupplyID=t8.FItemID"
               " JOIN t_Department t2 ON v1.FDeptID=t2.FItemID"
               " LEFT JOIN t_SonCompany t10_1 ON v1.FRelateBrID=t10_1.FItemID"
               " JOIN t_Currency t12 ON v1.FCurrencyID=t12.FCurrencyID JOIN t_Emp t3_1 ON v1.FEmpID=t3_1.FItemID"
               " JOIN t_Emp t3_2 ON v1.FMangerID=t3_2.FItemID JOIN t_User tu ON v1.FBillerID=tu.FUserID"
               " WHERE 1=1" + selection + testing::kBillOrder;
    }

    static std::string NoticeReference(const std::string& head, const std::string& selection) {
        return SelectList(head, " FROM SEOutStock v1") +
               " FROM SEOutStock v1 JOIN SEOutStockEntry u1 ON v1.FInterID=u1.FInterID"
               " JOIN t_ICItem t4 ON u1.FItemID=t4.FItemID JOIN t_MeasureUnit t7 ON u1.FUnitID=t7.FItemID"
               " JOIN t_Item ti ON t7.FUnitGroupID=ti.FItemID JOIN t_Organization t1 ON v1.FCustID=t1.FItemID"
               " JOIN t_Department t2 ON v1.FDeptID=t2.FItemID"
               " LEFT JOIN t_SonCompany t10_1 ON v1.FRelateBrID=t10_1.FItemID"
               " JOIN t_Currency t12 ON v1.FCurrencyID=t12.FCurrencyID"
               " LEFT JOIN t_SubMessage ts1 ON v1.FSalType=ts1.FInterID"
               " LEFT JOIN t_Settle ts2 ON v1.FSettleID=ts2.FItemID"
               " JOIN t_Emp t3_1 ON v1.FEmpID=t3_1.FItemID JOIN t_Emp t3_2 ON v1.FManagerID=t3_2.FItemID"
               " JOIN t_User tu ON v1.FBillerID=tu.FUserID WHERE 1=1" + selection + testing::kBillOrder;
    }

    // Counts the rows of a set whose column `column` is Null.
    static int NullRows(const Ref<RecordSet>& rows, const char* column) {
        int n = 0;
        for (rows->MoveFirst(); !rows->Eof(); rows->MoveNext()) n += rows->Value(column).IsNull() ? 1 : 0;
        rows->MoveFirst();
        return n;
    }

    hostkit::SampleOptions options_{.branch = 1, .orders = 30, .notices = 24, .returns = 12, .lines = 4, .seed = 3};
    BranchEnv env_{&options_};
    Ref<AppConnection> connection_ = MakeRef<AppConnection>();
};

TEST_F(AppConnectionBillStatements, PurchaseOrdersOfAListIncludingThoseWithoutABranch) {
    const std::string selection = testing::kListSelection + Ids("POOrder") + ")";
    Ref<RecordSet> rows =
        ExpectSameRows(testing::kPurchaseOrderHead + selection + testing::kBillOrder, PurchaseOrderReference(selection));
    EXPECT_EQ(rows->RecordCount(), env_.Db().Int("SELECT COUNT(*) FROM POOrderEntry"));
    // Orders without a related branch are there, with Null branch columns.
    const long long unrelated_lines = env_.Db().Int(
        "SELECT COUNT(*) FROM POOrderEntry u JOIN POOrder v ON v.FInterID=u.FInterID WHERE v.FRelateBrID IS NULL");
    ASSERT_GT(unrelated_lines, 0) << "the sample has no order without a related branch";
    EXPECT_EQ(NullRows(rows, "FRelateBrName"), unrelated_lines);
    EXPECT_EQ(NullRows(rows, "FRelateBrNumber"), unrelated_lines);
    // Kinds the bill records are built from.
    EXPECT_EQ(rows->Value("FInterID").Type(), VarType::kLong);
    EXPECT_EQ(rows->Value("FDate").Type(), VarType::kDate);
    EXPECT_EQ(rows->Value("FFetchDate").Type(), VarType::kDate);
    EXPECT_EQ(rows->Value("FQty").Type(), VarType::kDecimal);
    EXPECT_EQ(rows->Value("FAmount").Type(), VarType::kDecimal);
    EXPECT_EQ(rows->Value("FBillNo").Type(), VarType::kString);
    EXPECT_EQ(rows->Value("FBrID"), Variant("1"));
}

// A forward-only result holds the same rows, read as the statement is stepped, even after
// the caller has let go of the connection; it refuses to move back, and anything but a
// single query runs as Execute runs it.
TEST_F(AppConnectionBillStatements, AForwardOnlyResultHoldsTheSameRowsAndCannotMoveBack) {
    const std::string sql = testing::kPurchaseOrderHead + testing::kListSelection + Ids("POOrder") + ")" +
                            testing::kBillOrder;
    Ref<RecordSet> whole = connection_->Execute(sql);
    Ref<RecordSet> forward = MakeRef<AppConnection>()->ExecuteForward(sql);  // its connection released
    ASSERT_EQ(forward->FieldCount(), whole->FieldCount());
    int32_t rows = 0;
    for (; !whole->Eof(); whole->MoveNext(), forward->MoveNext(), ++rows) {
        ASSERT_FALSE(forward->Eof()) << "row " << rows + 1;
        for (size_t f = 0; f < whole->FieldCount(); ++f) {
            ASSERT_EQ(forward->Value(f), whole->Value(f)) << whole->Field(f).name << " of row " << rows + 1;
        }
        EXPECT_EQ(forward->RecordCount(), rows + 1);
    }
    EXPECT_TRUE(forward->Eof());
    EXPECT_EQ(forward->RecordCount(), whole->RecordCount());
    for (auto back : std::vector<std::function<void()>>{[&] { forward->MovePrevious(); }, [&] { forward->MoveFirst(); },
                                                         [&] { forward->MoveLast(); }, [&] { forward->Move(-1); },
                                                         [&] { forward->AddNew(); }}) {
        EXPECT_EQ(ErrorOf(back).Code(), ErrorCode::kInvalidProcedureCall);
    }
    // A change goes through, in its transaction.
    connection_->ExecuteForward("UPDATE POOrder SET FTranStatus=7 WHERE FInterID=1");
    EXPECT_EQ(env_.Db().Int("SELECT FTranStatus FROM POOrder WHERE FInterID=1"), 7);
    EXPECT_EQ(connection_->ExecuteForward("SELECT FInterID FROM POOrder WHERE FInterID<0")->Eof(), true);
}

TEST_F(AppConnectionBillStatements, NoticesOfAListIncludingThoseWithoutSaleStyleOrSettlement) {
    struct Case {
        const std::string& head;
        int tran_type;
    };
    for (const Case& c : {Case{testing::kDeliveryNoticeHead, 83}, Case{testing::kReturnNoticeHead, 82}}) {
        SCOPED_TRACE(c.tran_type);
        const std::string type = std::to_string(c.tran_type);
        const std::string selection = testing::kListSelection + Ids("SEOutStock WHERE FTranType=" + type) + ")";
        Ref<RecordSet> rows = ExpectSameRows(c.head + selection + testing::kBillOrder, NoticeReference(c.head, selection));
        EXPECT_EQ(rows->RecordCount(),
                  env_.Db().Int("SELECT COUNT(*) FROM SEOutStockEntry u JOIN SEOutStock v ON v.FInterID=u.FInterID "
                                "WHERE v.FTranType=" + type));
        for (const auto& [column, condition] : {std::pair{"FSaleStyleName", "FSalType IS NULL"},
                                                std::pair{"FSettleName", "FSettleID IS NULL"},
                                                std::pair{"FRelateBrName", "FRelateBrID IS NULL"}}) {
            const long long lines =
                env_.Db().Int(std::string("SELECT COUNT(*) FROM SEOutStockEntry u JOIN SEOutStock v ON "
                                          "v.FInterID=u.FInterID WHERE v.FTranType=") + type + " AND v." + condition);
            EXPECT_EQ(NullRows(rows, column), lines) << column;
        }
    }
    // The sample has each kind of missing value among the delivery notices.
    EXPECT_GT(env_.Db().Int("SELECT COUNT(*) FROM SEOutStock WHERE FTranType=83 AND FSalType IS NULL"), 0);
    EXPECT_GT(env_.Db().Int("SELECT COUNT(*) FROM SEOutStock WHERE FTranType=83 AND FSettleID IS NULL"), 0);
}

TEST_F(AppConnectionBillStatements, DownloadSelectionFindsWhatAwaitsEachBranch) {
    int total = 0;
    for (const BranchInfo& branch : SampleGroupBranches()) {
        if (branch.item_id == options_.branch) continue;
        SCOPED_TRACE(branch.number);
        const std::string selection = testing::kDownloadSelection + std::to_string(branch.item_id);
        total += ExpectSameRows(testing::kPurchaseOrderHead + selection + testing::kBillOrder,
                                PurchaseOrderReference(selection))
                     ->RecordCount();
        total += ExpectSameRows(testing::kDeliveryNoticeHead + selection + testing::kBillOrder,
                                NoticeReference(testing::kDeliveryNoticeHead, selection))
                     ->RecordCount();
    }
    EXPECT_GT(total, 0);
}

// ---- ROUND on decimal values -------------------------------------------------------------

TEST(AppConnectionRound, RoundsHalfAwayFromZeroOnTheDecimalValue) {
    BranchEnv env;
    struct Case {
        const char* expression;
        Variant expected;
    };
    const Case cases[] = {
        {"ROUND(2.675, 2)", Variant(2.68)},  // 2.67499999... in binary
        {"ROUND(1.005, 2)", Variant(1.01)},
        {"ROUND(-2.675, 2)", Variant(-2.68)},
        {"ROUND(-2.5, 0)", Variant(-3.0)},
        {"ROUND(-2.5)", Variant(-3.0)},
        {"ROUND(2.5)", Variant(3.0)},
        {"ROUND(0.125, 2)", Variant(0.13)},
        {"ROUND(2.4, 0)", Variant(2.0)},
        {"ROUND(1234.5, -2)", Variant(1200.0)},
        {"ROUND(7, 2)", Variant(7.0)},
        {"ROUND('2.675', 2)", Variant(2.68)},
        {"ROUND(1.115 * 3, 2)", Variant(3.35)},
        {"ROUND(NULL, 2)", Variant::Null()},
        {"ROUND(2.675, NULL)", Variant::Null()},
        {"round(2.675, 2)", Variant(2.68)},
    };
    for (const Case& c : cases) {
        Ref<RecordSet> rows = ExecuteOnce(std::string("SELECT ") + c.expression + " AS r");
        EXPECT_EQ(rows->Value("r"), c.expected) << c.expression << " gave " << rows->Value("r").TypeName() << " "
                                               << (rows->Value("r").IsNull() ? "" : rows->Value("r").ToText());
    }
}

TEST(AppConnectionRound, RoundsADecimalColumnToTheCurrencysScale) {
    BranchEnv env;
    env.Db().Exec("CREATE TABLE prices (id INTEGER PRIMARY KEY, price DECIMAL(28,10), scale INTEGER)");
    env.Db().Exec("INSERT INTO prices VALUES (1, 2.675, 2), (2, 0.5, 0), (3, -0.5, 0), (4, 1.23456, 4), (5, NULL, 2)");
    Ref<RecordSet> rows = ExecuteOnce("SELECT ROUND(price, scale) AS r FROM prices ORDER BY id");
    std::vector<Variant> got;
    for (; !rows->Eof(); rows->MoveNext()) got.push_back(rows->Value("r"));
    EXPECT_EQ(got, (std::vector<Variant>{Variant(2.68), Variant(1.0), Variant(-1.0), Variant(1.2346), Variant::Null()}));
}

// ---- the trace file ----------------------------------------------------------------------

class AppConnectionTrace : public ::testing::Test {
protected:
    void TearDown() override { SetSqlTraceFile(""); }
    BranchEnv env_;
    TempDir dir_;
};

TEST_F(AppConnectionTrace, AppendsEachTextAsGivenFollowedByGo) {
    const std::filesystem::path trace = dir_ / "trace.sql";
    WriteFile(trace, "-- earlier\nGO\n");
    SetSqlTraceFile(trace.string());
    const std::string host_dialect = testing::UnSetOrdTranStatusBatch({"A1", "A2"});  // CR LF inside and at the end
    const std::string plain = "SELECT 1 AS one";
    const std::string refused = "SELECT * FROM POOrder WHERE FInterID IN ()";
    auto connection = MakeRef<AppConnection>();
    connection->Execute(host_dialect);
    connection->Execute(plain);
    EXPECT_THROW(connection->Execute(refused), Error);
    connection->Execute("SELECT 2 AS two\r\n");
    EXPECT_EQ(ReadFile(trace), "-- earlier\nGO\n" + host_dialect + "\nGO\n" + plain + "\nGO\n" + refused +
                                   "\nGO\nSELECT 2 AS two\r\nGO\n");

    // An empty path stops tracing.
    SetSqlTraceFile("");
    const std::string before = ReadFile(trace);
    connection->Execute(plain);
    EXPECT_EQ(ReadFile(trace), before);
}

// ---- late binding ------------------------------------------------------------------------

TEST(AppConnectionLateBound, ExecuteByNameTakesTheTextByReference) {
    BranchEnv env;
    env.Db().Exec("INSERT INTO t_User (FUserID, FName) VALUES (7, 'Li'), (8, 'Wang')");
    Ref<platform::Object> connection = platform::CreateObject(kAppConnectionProgId);
    EXPECT_EQ(connection->ClassName(), "AppConnection");

    std::vector<Variant> args{Variant("SELECT FUserID, FName FROM t_User ORDER BY FUserID")};
    const Variant result = platform::CallByName(connection, "execute", platform::CallKind::kMethod, args);
    EXPECT_EQ(args[0], Variant("SELECT FUserID, FName FROM t_User ORDER BY FUserID"));  // left as it was
    ASSERT_TRUE(result.IsObject());
    const Ref<platform::Object>& rows = result.AsObject();
    // The four members the library reads a result with.
    EXPECT_EQ(platform::GetProperty(rows, "RecordCount"), Variant(int32_t{2}));
    std::vector<std::string> names;
    while (!platform::GetProperty(rows, "EOF").ToBoolean()) {
        Variant field = platform::GetProperty(rows, "Fields", {Variant("FName")});
        names.push_back(platform::GetProperty(field.AsObject(), "Value").ToText());
        platform::Call(rows, "MoveNext");
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Li", "Wang"}));

    EXPECT_EQ(ErrorOf([&] { platform::Call(connection, "Execute"); }).Code(), ErrorCode::kWrongArgumentCount);
    EXPECT_EQ(ErrorOf([&] { platform::Call(connection, "Query", {Variant("SELECT 1")}); }).Code(),
              ErrorCode::kMemberNotFound);
    const Error refused = ErrorOf([&] { platform::Call(connection, "Execute", {Variant("UPDATE t_User SET x")}); });
    EXPECT_EQ(refused.Code(), ErrorCode::kDatabaseError);
    EXPECT_NE(refused.Description().find("UPDATE t_User SET x"), std::string::npos) << refused.Description();
}

}  // namespace
}  // namespace orba::hostkit
