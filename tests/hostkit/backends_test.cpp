// The host connection and the sample database on both backends: the same statements give the
// same values, kinds and field names on a SQLite file and on a PostgreSQL server database,
// a batch is all or nothing on both, and the server keeps what a file cannot (20-digit
// amounts) and refuses what does not fit its columns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/variant_vector.h"
#include "hostkit/login_string.h"
#include "hostkit/db/postgres/pg_db.h"
#include "hostkit/database.h"
#include "hostkit/schema/erp_schema.h"
#include "hostkit/schema.h"
#include "hostkit/save_data.h"
#include "hostkit/dialect/sql_dialect_pg.h"
#include "platform/error.h"
#include "support/backend_branch.h"
#include "support/error_of.h"
#include "support/pg_server.h"

namespace orba::hostkit {
namespace {

using orba::testing::Backend;
using orba::testing::BackendBranch;
using orba::testing::ErrorOf;
using platform::Date;
using platform::Decimal;
using platform::ErrorCode;
using platform::Variant;
using platform::VarType;

SampleOptions SmallSample(int branch = 1) {
    SampleOptions o;
    o.branch = branch;
    o.orders = 6;
    o.notices = 5;
    o.returns = 3;
    o.lines = 4;
    o.seed = 7;
    return o;
}

class OnBothBackends : public ::testing::TestWithParam<Backend> {};

TEST_P(OnBothBackends, ValuesComeBackWithTheirKindsAndFieldNamesAsWritten) {
    const SampleOptions sample = SmallSample();
    BackendBranch branch(GetParam(), &sample);
    auto rows = branch.Sql(
        "SELECT v1.FInterID, v1.FBillNo AS MyBillNo, v1.FDate, u1.FAmount, NULL AS FNothing "
        "FROM POOrder v1, POOrderEntry u1 WHERE v1.FInterID=u1.FInterID AND v1.FInterID=1 AND u1.FEntryID=1");
    ASSERT_EQ(rows->RecordCount(), 1);
    const std::vector<std::string> names = {"FInterID", "MyBillNo", "FDate", "FAmount", "FNothing"};
    const std::vector<VarType> kinds = {VarType::kLong, VarType::kString, VarType::kDate, VarType::kDecimal,
                                        VarType::kNull};
    ASSERT_EQ(rows->FieldCount(), names.size());
    for (size_t c = 0; c < names.size(); ++c) {
        EXPECT_EQ(rows->Field(c).name, names[c]);
        EXPECT_EQ(rows->Value(c).Type(), kinds[c]) << names[c];
    }
    // SELECT * names columns as the schema writes them.
    EXPECT_EQ(branch.Sql("SELECT * FROM t_Currency")->Field(1).name, "FNumber");
}

TEST_P(OnBothBackends, RoundIsHalfAwayFromZeroOnTheDecimalValue) {
    BackendBranch branch(GetParam());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ROUND(2.675, 2)", "2.68"}, {"ROUND(-2.675, 2)", "-2.68"}, {"ROUND(2.665, 2)", "2.67"},
        {"ROUND(0.5, 0)", "1"},      {"ROUND(1.005, 2)", "1.01"},   {"ROUND(125, -1)", "130"},
    };
    for (const auto& [expression, expected] : cases) {
        auto rows = branch.Sql("SELECT " + expression + " AS r");
        EXPECT_EQ(rows->Value(0).ToDecimal(), Decimal::Parse(expected)) << expression;
    }
}

TEST_P(OnBothBackends, ABatchThatFailsPartWayAppliesNothingAndNamesTheStatement) {
    const SampleOptions sample = SmallSample();
    BackendBranch branch(GetParam(), &sample);
    const std::string before = branch.Rows("SELECT FInterID, FTranStatus FROM POOrder ORDER BY FInterID");
    const platform::Error e = ErrorOf([&] {
        branch.Sql("UPDATE POOrder SET FTranStatus=1 WHERE FInterID=1; UPDATE POOrder SET FNoSuchColumn=1");
    });
    EXPECT_EQ(e.Code(), ErrorCode::kDatabaseError);
    EXPECT_NE(e.Description().find("statement 2 of 2 (nothing of the batch was applied)"), std::string::npos)
        << e.Description();
    EXPECT_EQ(branch.Rows("SELECT FInterID, FTranStatus FROM POOrder ORDER BY FInterID"), before);
}

// LIKE ignores letter case on both backends; the server's text collation, which ignores case
// too, is one its LIKE refuses, so the pattern is matched there without it.
TEST_P(OnBothBackends, LikeMatchesTextWithoutRegardToCase) {
    const SampleOptions sample = SmallSample();
    BackendBranch branch(GetParam(), &sample);
    const struct {
        std::string condition;
        int64_t count;
    } cases[] = {
        {"FBillNo LIKE 'poor01-%'", sample.orders},
        {"v1.FBillNo LIKE 'POOR01-00000_'", sample.orders},
        {"FBillNo NOT LIKE 'poor%'", 0},
        {"FBillNo LIKE 'x!%%' ESCAPE '!'", 0},
        // Patterns that are not literals: a column, an expression, a function of a column.
        {"FBillNo LIKE v1.FBillNo", sample.orders},
        {"FBillNo LIKE (v1.FBillNo)", sample.orders},
        {"UPPER(FBillNo) LIKE lower(v1.FBillNo) ESCAPE '!'", sample.orders},
    };
    for (const auto& c : cases) {
        auto rows = branch.Sql("SELECT count(*) AS n FROM POOrder v1 WHERE " + c.condition);
        EXPECT_EQ(rows->Value(0).ToLong(), c.count) << c.condition;
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, OnBothBackends, ::testing::ValuesIn(orba::testing::kBothBackends),
                         ::testing::PrintToStringParamName());

// Every table of the sample schema, in a fixed row order.
const char* const kSampleTables[] = {
    "t_SonCompany", "t_Systemprofile", "t_Currency", "t_Department", "t_Emp",     "t_User",
    "t_Supplier",   "t_Organization",  "t_Item",     "t_MeasureUnit", "t_ICItem", "t_SubMessage",
    "t_Settle",     "POOrder",         "POOrderEntry", "SEOrder",  "SEOrderEntry", "SEOutStock", "SEOutStockEntry",
};

TEST(ServerSampleDatabase, HoldsTheSameRowsAsTheFileFromTheSameSeedAndIsMadeOnce) {
    const SampleOptions sample = SmallSample(2);
    BackendBranch file(Backend::kSqlite, &sample);
    BackendBranch server(Backend::kPostgres, &sample);
    for (const char* table : kSampleTables) {
        const std::string query = std::string("SELECT * FROM ") + table + " ORDER BY 1, 2";
        const std::string rows = file.Rows(query);
        EXPECT_FALSE(rows.empty()) << table;
        EXPECT_EQ(server.Rows(query), rows) << table;
    }
    const platform::Error e = ErrorOf([&] { CreateSampleDatabase(server.Location(), sample); });
    EXPECT_EQ(e.Code(), ErrorCode::kFileAlreadyExists);
    EXPECT_NE(e.Description().find("already holds the ERP schema"), std::string::npos) << e.Description();
}

TEST(ServerDatabase, KeepsATwentyDigitAmountAndRefusesOneBeyondTheColumn) {
    const SampleOptions sample = SmallSample();
    BackendBranch server(Backend::kPostgres, &sample);
    server.Sql("UPDATE POOrderEntry SET FAmount=123456789012345678.91 WHERE FInterID=1 AND FEntryID=1");
    EXPECT_EQ(server.Sql("SELECT FAmount FROM POOrderEntry WHERE FInterID=1 AND FEntryID=1")->Value(0),
              Variant(Decimal::Parse("123456789012345678.91")));
    // FAmount is NUMERIC(20,2): 19 digits before the point do not fit, and the server says so.
    const platform::Error e = ErrorOf(
        [&] { server.Sql("UPDATE POOrderEntry SET FAmount=1234567890123456789.5 WHERE FInterID=1 AND FEntryID=1"); });
    EXPECT_NE(e.Description().find("numeric field overflow"), std::string::npos) << e.Description();
}

TEST(ServerDatabase, TextComparesWithoutRegardToCaseOrTrailingBlanksYetKeepsThem) {
    const SampleOptions sample = SmallSample();
    BackendBranch server(Backend::kPostgres, &sample);
    server.Sql("UPDATE t_SonCompany SET FNumber='Br 01  ' WHERE FItemID=2");
    struct Case {
        const char* value;
        bool found;
    } cases[] = {{"br 01", true}, {"BR 01     ", true}, {"Br 01  ", true}, {" Br 01", false}, {"Br01", false}};
    for (const Case& c : cases) {
        const auto rows = server.Sql(std::string("SELECT FNumber FROM t_SonCompany WHERE FNumber='") + c.value + "'");
        ASSERT_EQ(rows->RecordCount(), c.found ? 1 : 0) << "'" << c.value << "'";
        if (c.found) {
            EXPECT_EQ(rows->Value(0), Variant("Br 01  "));
        }
    }
    // The length limit counts what is not a trailing blank, and a breach names the column.
    const std::string eighty(80, 'x');
    server.Sql("UPDATE t_SonCompany SET FNumber='" + eighty + "   ' WHERE FItemID=2");
    const platform::Error e =
        ErrorOf([&] { server.Sql("UPDATE t_SonCompany SET FNumber='" + eighty + "y' WHERE FItemID=2"); });
    EXPECT_NE(e.Description().find("FNumber holds at most 80 characters"), std::string::npos) << e.Description();

    EXPECT_EQ(server.Sql("SELECT FValue FROM t_Systemprofile WHERE FCategory='ic' AND FKey='brid'")->Value(0),
              Variant("1"));
    // The statements' branch lookup: an integer key against the branch id kept as text.
    EXPECT_EQ(server.Sql("SELECT FNumber FROM t_SonCompany WHERE FItemID=(SELECT FValue FROM t_Systemprofile "
                         "WHERE FCategory='IC' AND FKey='BrID')")
                  ->Value(0),
              Variant("01.001"));
}

// Received bills go only into a branch's database on the server too: one without the bill
// tables, or one that does not say which branch it is, is refused by name (never with the
// password of its URI) and gains no table.
TEST(ServerDatabase, SavingIntoADatabaseThatIsNoBranchIsRefusedNamingItWithoutThePassword) {
    struct Case {
        const char* name;
        bool schema;
        std::string_view says;
    };
    for (const Case& c : {Case{"no bill tables", false, "it lacks the bill tables"},
                          Case{"no branch named", true, "it does not say which branch it is"}}) {
        SCOPED_TRACE(c.name);
        std::string uri = orba::testing::PgServer::Shared().NewDatabase("nobranch");
        if (c.schema) CreateErpSchema(*OpenDatabase(uri));
        uri.insert(std::string("postgresql://").size(), "postgres:hunter2@");
        std::string messages;
        const platform::Error e = ErrorOf([&] {
            SaveData::Save(MakeLoginProperties(uri), Variant(platform::MakeRef<host::VariantVector>()),
                           ReceivedKind::kOrder, messages);
        });
        EXPECT_EQ(e.Code(), ErrorCode::kBadInput);
        EXPECT_NE(e.Description().find("The database 'orba_tests' on server"), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find(c.says), std::string::npos) << e.Description();
        EXPECT_EQ(e.Description().find("hunter2"), std::string::npos) << e.Description();
        PgDatabase db(uri);
        EXPECT_EQ(db.Query("SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname=current_schema() AND "
                           "tablename='t_rcvbill'")
                      .Text(0, 0),
                  "0");
    }
}

TEST(PostgresRendering, CommasBeforeAJoinBecomeCrossJoinsAndQuotedNamesFold) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"SELECT a.x FROM A a, B b LEFT JOIN C c ON a.x=c.x WHERE a.y=b.y",
         "SELECT a.x FROM A a CROSS JOIN B b LEFT JOIN C c ON a.x=c.x WHERE a.y=b.y"},
        // A FROM list without JOIN keeps its commas; so do select lists and sub-selects.
        {"SELECT a.x, b.y FROM A a, B b WHERE a.y IN (SELECT z FROM D, E)",
         "SELECT a.x, b.y FROM A a, B b WHERE a.y IN (SELECT z FROM D, E)"},
        {"SELECT (SELECT q FROM P p, Q q2 LEFT JOIN R r ON p.k=r.k) AS v FROM A, B",
         "SELECT (SELECT q FROM P p CROSS JOIN Q q2 LEFT JOIN R r ON p.k=r.k) AS v FROM A, B"},
        {"UPDATE T AS t SET v=1 FROM A a, B b INNER JOIN C c ON a.k=c.k WHERE t.k=a.k",
         "UPDATE T AS t SET v=1 FROM A a CROSS JOIN B b INNER JOIN C c ON a.k=c.k WHERE t.k=a.k"},
        {"SELECT [FInterID], \"FBill\"\"No\" FROM [POOrder]", "SELECT \"finterid\", \"fbill\"\"no\" FROM \"poorder\""},
        {"SELECT 'a, b JOIN c' FROM A", "SELECT 'a, b JOIN c' FROM A"},
        // LIKE matches under the default collation whatever its pattern; nothing else moves.
        {"SELECT 1 FROM A WHERE x LIKE 'p%' ESCAPE '!'",
         "SELECT 1 FROM A WHERE x ILIKE 'p%' COLLATE \"default\" ESCAPE '!'"},
        {"SELECT 1 FROM A WHERE x NOT LIKE b.[Pat] AND y=1",
         "SELECT 1 FROM A WHERE x NOT ILIKE b.\"pat\" COLLATE \"default\" AND y=1"},
        {"SELECT 1 FROM A WHERE x LIKE lower(f(y, 'z')) OR x LIKE (y)",
         "SELECT 1 FROM A WHERE x ILIKE lower(f(y, 'z')) COLLATE \"default\" OR x ILIKE (y) COLLATE \"default\""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(RenderForPostgres(in), out) << in;
    // Text columns of a table script: blank-padded, under the collation, their length a
    // named check; a length that is no number (MAX) or a quoted name gets no check.
    EXPECT_EQ(ScriptInServerTypes("CREATE TABLE t (FNo VARCHAR (20) NOT NULL, FName NVARCHAR(MAX)NULL, [Q] VARCHAR(5), "
                                  "FAt DATETIME)",
                                  {{"DATETIME", "TIMESTAMP"}}, "c"),
              "CREATE TABLE t (FNo BPCHAR COLLATE c CONSTRAINT \"FNo holds at most 20 characters\" CHECK "
              "(length(FNo) <= 20) NOT NULL, FName BPCHAR COLLATE c NULL, [Q] BPCHAR COLLATE c, FAt TIMESTAMP)");
    EXPECT_EQ(FieldNamesAsWritten({"finterid", "mybillno", "fnumber", "count"},
                                  "SELECT FInterID, FBillNo as MyBillNo, count(*) FROM POOrder", ErpSchemaNames()),
              (std::vector<std::string>{"FInterID", "MyBillNo", "FNumber", "count"}));
}

}  // namespace
}  // namespace orba::hostkit
