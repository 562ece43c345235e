#include "hostkit/dialect/sql_dialect.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "support/bill_statements.h"

namespace orba::hostkit {
namespace {

using testing::AffirmPurchaseOrderBatch;
using testing::UnSetOrdTranStatusBatch;

std::vector<std::string> Sources(std::string_view batch) {
    std::vector<std::string> out;
    for (const TranslatedStatement& s : TranslateBatch(batch)) out.push_back(s.source);
    return out;
}

std::string TranslateOne(std::string_view sql) {
    const auto statements = TranslateBatch(sql);
    EXPECT_EQ(statements.size(), 1u) << sql;
    return statements.empty() ? std::string() : statements.front().sqlite;
}

struct SplitCase {
    std::string batch;
    std::vector<std::string> statements;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.batch;
}

class BatchSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(BatchSplitting, FindsEachStatement) {
    EXPECT_EQ(Sources(GetParam().batch), GetParam().statements);
}

INSTANTIATE_TEST_SUITE_P(
    Dialect, BatchSplitting,
    ::testing::Values(
        SplitCase{"SELECT 1; SELECT 2;", {"SELECT 1", "SELECT 2"}},
        // Separators inside literals and names, and statements of nothing but a comment.
        SplitCase{"SELECT 'x;y' ; -- only a comment\r\n ; SELECT [a;b] FROM t",
                  {"SELECT 'x;y'", "SELECT [a;b] FROM t"}},
        SplitCase{"UPDATE t SET a=1 WHERE b='A1'Update t SET a=2",
                  {"UPDATE t SET a=1 WHERE b='A1'", "Update t SET a=2"}},
        SplitCase{"INSERT INTO t (a) SELECT 1 UNION ALL SELECT 2 INSERT INTO t VALUES (1) SELECT 5",
                  {"INSERT INTO t (a) SELECT 1 UNION ALL SELECT 2", "INSERT INTO t VALUES (1)",
                   "SELECT 5"}},
        SplitCase{
            "SELECT a FROM t WHERE a IN (SELECT b FROM u) DELETE FROM t WHERE a=(SELECT 1)",
            {"SELECT a FROM t WHERE a IN (SELECT b FROM u)", "DELETE FROM t WHERE a=(SELECT 1)"}},
        SplitCase{"SELECT 1 UNION SELECT 2 EXCEPT SELECT 3 INTERSECT SELECT 4",
                  {"SELECT 1 UNION SELECT 2 EXCEPT SELECT 3 INTERSECT SELECT 4"}},
        SplitCase{"CREATE VIEW v AS SELECT 1 DELETE FROM t",
                  {"CREATE VIEW v AS SELECT 1", "DELETE FROM t"}},
        SplitCase{"WITH c AS (SELECT 1 AS x) SELECT x FROM c UPDATE t SET a=1",
                  {"WITH c AS (SELECT 1 AS x) SELECT x FROM c", "UPDATE t SET a=1"}},
        SplitCase{"CREATE TRIGGER g AFTER UPDATE ON t BEGIN UPDATE u SET a=1; DELETE FROM w; END; "
                  "SELECT 1",
                  {"CREATE TRIGGER g AFTER UPDATE ON t BEGIN UPDATE u SET a=1; DELETE FROM w; END",
                   "SELECT 1"}},
        SplitCase{" \r\n\t;; ", {}}));

struct RewriteCase {
    std::string name;
    std::string sql;
    std::string sqlite;
};

void PrintTo(const RewriteCase& c, std::ostream* os) {
    *os << c.sql;
}

class Rewrites : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(Rewrites, TranslatesFaithfully) {
    EXPECT_EQ(TranslateOne(GetParam().sql), GetParam().sqlite);
}

INSTANTIATE_TEST_SUITE_P(
    Dialect, Rewrites,
    ::testing::Values(
        RewriteCase{"PlainLeftJoinsPassThrough",
                    "SELECT v1.FTranType,t8.FName as FCompanyName FROM POOrder v1 left join "
                    "t_Supplier t8 ON "
                    "v1.FSupplyID=t8.FItemID \r\n Left Join t_SonCompany t10 ON "
                    "v1.FRelateBrID=t10.FItemID  Where "
                    "v1.FInterID= 7",
                    "SELECT v1.FTranType,t8.FName as FCompanyName FROM POOrder v1 left join "
                    "t_Supplier t8 ON "
                    "v1.FSupplyID=t8.FItemID \r\n Left Join t_SonCompany t10 ON "
                    "v1.FRelateBrID=t10.FItemID  Where "
                    "v1.FInterID= 7"},
        RewriteCase{"PlainUpdatePassesThrough",
                    " Update POOrder SET FTranStatus=1 WHERE FInterID In (1,2)",
                    "Update POOrder SET FTranStatus=1 WHERE FInterID In (1,2)"},
        RewriteCase{
            "LiteralsAndCommentsUntouched",
            "SELECT 'a*=b', [x*=y] FROM t WHERE c = 'Update v1' -- a*=b\r\n/* Update */ AND d=1",
            "SELECT 'a*=b', [x*=y] FROM t WHERE c = 'Update v1' -- a*=b\r\n/* Update */ AND d=1"},
        RewriteCase{"OuterJoinBecomesLeftJoin",
                    "SELECT a.x, b.y FROM A a, B b WHERE a.id*=b.id AND a.k = 1",
                    "SELECT a.x, b.y FROM A a LEFT JOIN B b ON a.id=b.id WHERE a.k = 1"},
        RewriteCase{"MirrorOperatorKeepsTheRightSide",
                    "SELECT a.x FROM A a, B b WHERE a.id =* b.id",
                    "SELECT a.x FROM B b LEFT JOIN A a ON a.id = b.id"},
        RewriteCase{"SeveralPredicatesOfOneTableShareItsOn",
                    "SELECT a.x FROM A a, B b WHERE a.k=1 AND a.i*=b.i AND a.j*=b.j",
                    "SELECT a.x FROM A a LEFT JOIN B b ON a.i=b.i AND a.j=b.j WHERE a.k=1"},
        RewriteCase{"ParenthesisedAndGroupIsFlattened",
                    "SELECT a.x FROM A a, B b, C c WHERE a.id *= b.id AND (b.k *= c.k AND a.q = 1) "
                    "ORDER BY a.x",
                    "SELECT a.x FROM A a LEFT JOIN B b ON a.id = b.id LEFT JOIN C c ON b.k = c.k "
                    "WHERE ( a.q = 1) "
                    "ORDER BY a.x"},
        RewriteCase{"SameTableJoinedInnerAndOuterUnderTwoAliases",
                    "SELECT e1.FName, e2.FName FROM t_Emp e1, POOrder v1, t_Emp e2 WHERE "
                    "v1.FEmpID=e1.FItemID AND "
                    "v1.FMangerID*=e2.FItemID",
                    "SELECT e1.FName, e2.FName FROM t_Emp e1, POOrder v1 LEFT JOIN t_Emp e2 ON "
                    "v1.FMangerID=e2.FItemID WHERE v1.FEmpID=e1.FItemID"},
        RewriteCase{"OptionalTableListedFirstMovesBehind",
                    "SELECT s.FName, v1.FBillNo FROM t_Settle s, SEOutStock v1 WHERE v1.FSettleID "
                    "*= s.FItemID",
                    "SELECT s.FName, v1.FBillNo FROM SEOutStock v1 LEFT JOIN t_Settle s ON "
                    "v1.FSettleID = s.FItemID"},
        RewriteCase{"OtherConditionsStayWithBetweenAndCase",
                    "SELECT a.x FROM A a, B b WHERE a.x BETWEEN 1 AND 2 AND a.id*=b.id AND CASE "
                    "WHEN a.y=1 AND "
                    "a.z=2 THEN 1 ELSE 0 END = 1 AND (a.s=0 OR a.s IS NULL)",
                    "SELECT a.x FROM A a LEFT JOIN B b ON a.id=b.id WHERE a.x BETWEEN 1 AND 2 AND "
                    "CASE WHEN a.y=1 "
                    "AND a.z=2 THEN 1 ELSE 0 END = 1 AND (a.s=0 OR a.s IS NULL)"},
        RewriteCase{"SubSelectsTranslateOnTheirOwn",
                    "SELECT a.x, (SELECT c.n FROM C c, D d WHERE c.k *= d.k AND c.id = a.id) FROM "
                    "A a WHERE a.id IN "
                    "(SELECT b.id FROM B b, E e WHERE b.q=*e.q) UNION ALL SELECT f.x FROM F f, G g "
                    "WHERE f.i*=g.i",
                    "SELECT a.x, (SELECT c.n FROM C c LEFT JOIN D d ON c.k = d.k WHERE c.id = "
                    "a.id) FROM A a WHERE "
                    "a.id IN (SELECT b.id FROM E e LEFT JOIN B b ON b.q=e.q) UNION ALL SELECT f.x "
                    "FROM F f LEFT JOIN "
                    "G g ON f.i=g.i"},
        RewriteCase{"UnicodeLiteralsBracketEscapesAndNestedComments",
                    "SELECT N'名称', [a]]b] FROM t /* x /* y */ z */",
                    "SELECT '名称', \"a]b\" FROM t /* x / * y * / z */"},
        RewriteCase{"UpdateWithoutOtherTablesDropsFrom",
                    "Update v1 SET v1.FTranStatus=0 \r\nFROM POOrder v1 \r\nWHERE v1.FBillNo='A1'",
                    "Update POOrder AS v1 SET FTranStatus=0 \r\nWHERE v1.FBillNo='A1'"},
        RewriteCase{
            "UpdateTargetFirstInJoinChain",
            "UPDATE v1 SET v1.FAmount = u1.FAmount FROM POOrder v1 INNER JOIN POOrderEntry u1 ON "
            "v1.FInterID=u1.FInterID INNER JOIN t_Currency t2 ON u1.FCur=t2.FCurrencyID",
            "UPDATE POOrder AS v1 SET FAmount = u1.FAmount FROM POOrderEntry u1 INNER JOIN "
            "t_Currency t2 ON "
            "u1.FCur=t2.FCurrencyID WHERE (v1.FInterID=u1.FInterID)"},
        RewriteCase{"UpdateConditionsNamingTheTargetMoveToWhere",
                    "UPDATE a SET a.x = b.x, y = c.z FROM A a JOIN B b ON a.i=b.i JOIN C c ON "
                    "c.k=a.k AND c.z=b.z "
                    "WHERE a.q=1 OR a.r=2",
                    "UPDATE A AS a SET x = b.x, y = c.z FROM B b JOIN C c WHERE (a.i=b.i) AND "
                    "(c.k=a.k AND c.z=b.z) "
                    "AND (a.q=1 OR a.r=2)"},
        RewriteCase{"UpdateCommaJoinedTarget", "UPDATE b SET b.x = a.x FROM A a, B b WHERE a.i=b.i",
                    "UPDATE B AS b SET x = a.x FROM A a WHERE a.i=b.i"}),
    [](const ::testing::TestParamInfo<RewriteCase>& info) { return info.param.name; });

struct RefusalCase {
    std::string sql;
    std::string construct;
    std::string excerpt;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.sql;
}

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, NameTheConstructAndQuoteIt) {
    try {
        TranslateBatch(GetParam().sql);
        ADD_FAILURE() << "translated " << GetParam().sql;
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.Code(), platform::ErrorCode::kSqlNotTranslatable);
        EXPECT_NE(e.Description().find(GetParam().construct), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find(GetParam().excerpt), std::string::npos) << e.Description();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dialect, Refusals,
    ::testing::Values(
        RefusalCase{"SELECT a.x FROM A a, B b WHERE a.id *= b.id OR a.z = 1", "under OR",
                    "a.id *= b.id OR a.z = 1"},
        RefusalCase{"SELECT a.x FROM A a, B b WHERE a.k=1 AND (a.id *= b.id OR a.z=1)", "under OR",
                    "a.id *= b.id OR"},
        RefusalCase{"SELECT a.x FROM A a, B b WHERE NOT a.id *= b.id", "under NOT",
                    "NOT a.id *= b.id"},
        RefusalCase{"SELECT a.x FROM A a, B b, C c WHERE a.id *= b.id AND c.id *= b.id",
                    "two different preserved tables", "c.id *= b.id"},
        RefusalCase{"SELECT a.x FROM A a, B b WHERE a.id *= b.id AND a.k =* b.k",
                    "optional to each other", "a.k =* b.k"},
        RefusalCase{"SELECT a.x FROM A a, B b WHERE a.id *= 5",
                    "not columns of two different tables", "a.id *= 5"},
        RefusalCase{"SELECT a.x FROM A a, B b WHERE a.id *= a.y",
                    "not columns of two different tables", "a.id *= a.y"},
        RefusalCase{"SELECT a.x FROM A a, B b WHERE a.id *= x.id",
                    "not columns of two different tables", "x.id"},
        RefusalCase{"SELECT a.x FROM A a, B b WHERE ISNULL(a.id, 0) *= b.id", "not columns",
                    "ISNULL(a.id, 0) *= b.id"},
        // The optional table may take part in nothing but its outer join.
        RefusalCase{"SELECT a.x FROM A a, B b WHERE a.id *= b.id AND (b.z IS NULL OR a.y = 1)", "optional",
                    "b.z IS NULL OR a.y = 1"},
        RefusalCase{"SELECT a.x FROM A a, B b, C c WHERE a.id *= b.id AND a.id *= c.id AND b.k = c.k", "optional",
                    "b.k = c.k"},
        RefusalCase{"SELECT a.x FROM A a, B b WHERE a.id *= b.id AND z = 1",
                    "column without table name", "z = 1"},
        RefusalCase{
            "SELECT a.x FROM A a, B b WHERE a.id *= b.id AND a.d < CURRENT_TIMESTAMP AND [z] = 1",
            "column without table name", "[z] = 1"},
        RefusalCase{"SELECT * FROM B b, A a WHERE a.id *= b.id", "SELECT *", "SELECT * FROM B b"},
        RefusalCase{"SELECT a.x FROM A a JOIN C c ON a.i=c.i, B b WHERE a.id *= b.id",
                    "JOIN syntax", "JOIN C c"},
        RefusalCase{"SELECT a.x FROM A a, B b WHERE a.id = b.id HAVING a.x *= b.x",
                    "outside the WHERE", "*="},
        RefusalCase{"DELETE FROM A WHERE A.x *= B.y", "outside the WHERE", "*="},
        RefusalCase{"SELECT a.x FROM A a, A a WHERE a.id *= a.id", "same name", "A a, A a"},
        RefusalCase{"SELECT a.x FROM A a WITH (NOLOCK), B b WHERE a.id *= b.id", "table source",
                    "WITH (NOLOCK)"},
        RefusalCase{"UPDATE t SET t.x = 1 FROM A a WHERE a.x = 1", "does not occur in its FROM",
                    "UPDATE t SET"},
        RefusalCase{"UPDATE a SET a.x = 1 FROM A a LEFT JOIN B b ON a.i=b.i",
                    "outer join in an UPDATE", "LEFT JOIN B b"},
        RefusalCase{"UPDATE a SET x = 1 FROM A a, B b WHERE a.i *= b.i", "outer join in an UPDATE",
                    "a.i *= b.i"},
        RefusalCase{"UPDATE a SET b.x = 1 FROM A a JOIN B b ON a.i=b.i",
                    "other than the UPDATE target", "b.x = 1"},
        RefusalCase{"UPDATE a SET x += 1 FROM A a", "not 'column = value'", "x += 1"},
        RefusalCase{"UPDATE d SET d.x = 1 FROM (SELECT 1 AS x) d", "derived table",
                    "(SELECT 1 AS x) d"},
        RefusalCase{" Update POOrder SET FTranStatus=1 WHERE FInterID In ()", "empty IN () list",
                    "FInterID In ()"},
        RefusalCase{"SELECT (1 FROM t", "unbalanced parenthesis", "SELECT (1 FROM t"},
        RefusalCase{"SELECT 1) FROM t", "unbalanced parenthesis", ") FROM t"},
        RefusalCase{"SELECT 'PO' + '-12'", "+ next to a text literal", "'PO' + '-12'"},
        RefusalCase{"SELECT FBillNo FROM POOrder WHERE FBillNo = N'PO-' + FNote", "+ next to a text literal",
                    "N'PO-' + FNote"},
        RefusalCase{"UPDATE t SET x = '1' + 1", "+ next to a text literal", "'1' + 1"},
        RefusalCase{"SELECT " + std::string(201, '(') + "1" + std::string(201, ')'), "more than 200 nested",
                    "((((("},
        RefusalCase{"SELECT 1 WHERE 1 IN " + [] {
                        std::string s;
                        for (int i = 0; i < 40000; ++i) s += "(SELECT 1 WHERE 1 IN ";
                        return s + "(1)" + std::string(40000, ')');
                    }(),
                    "more than 200 nested", "(SELECT 1 WHERE 1 IN (SELECT"}));

// What the layer accepts at its limits still translates: 200 levels, + between numbers.
TEST(Dialect, AcceptsNestingUpToTheLimitAndPlusBetweenNumbers) {
    EXPECT_NO_THROW(TranslateBatch("SELECT " + std::string(200, '(') + "1" + std::string(200, ')')));
    EXPECT_EQ(TranslateBatch("SELECT a.x + 1, +2, a.y+a.z FROM A a").at(0).sqlite, "SELECT a.x + 1, +2, a.y+a.z FROM A a");
}

TEST(Dialect, OnlySelectsAreQueries) {
    const auto statements = TranslateBatch(
        "SELECT 1; (SELECT 2) UNION (SELECT 3); WITH c AS (SELECT 1 AS x) SELECT x FROM c; UPDATE "
        "t SET a=1; "
        "INSERT INTO t SELECT 1; DELETE FROM t");
    std::vector<bool> queries;
    for (const auto& s : statements) queries.push_back(s.is_query);
    EXPECT_EQ(queries, (std::vector<bool>{true, true, true, false, false, false}));
}

TEST(Dialect, UnSetOrdTranStatusBatchOfTwoOrders) {
    const auto statements = TranslateBatch(UnSetOrdTranStatusBatch({"A1", "A2"}));
    ASSERT_EQ(statements.size(), 2u);
    for (const char* no : {"A1", "A2"}) {
        const auto& s = statements[no[1] - '1'];
        EXPECT_EQ(s.source,
                  std::string(
                      "Update v1 SET v1.FTranStatus=0 \r\nFROM POOrder v1 \r\nWHERE v1.FBillNo='") +
                      no + "'");
        EXPECT_EQ(s.sqlite,
                  std::string("Update POOrder AS v1 SET FTranStatus=0 \r\nWHERE v1.FBillNo='") +
                      no + "'");
        EXPECT_FALSE(s.is_query);
    }
}

TEST(Dialect, AffirmPurchaseOrderBatch) {
    const auto statements =
        TranslateBatch(AffirmPurchaseOrderBatch({{"A1", "1", "3"}, {"A2", "2", "4.5"}}));
    ASSERT_EQ(statements.size(), 2u);
    EXPECT_EQ(statements[0].sqlite,
              "UPDATE POOrderEntry AS u1 SET FAmount=ROUND(u1.FAuxPrice*3,t2.FScale), \r\n"
              "          FAuxQty = 3\r\n"
              "FROM POOrder v1\r\n"
              "INNER JOIN t_Currency t2 ON v1.FCurrencyID=t2.FCurrencyID\r\n"
              "WHERE (v1.FInterID=u1.FInterID) AND (v1.FBillNo ='A1' AND u1.FEntryID=1)");
    EXPECT_NE(statements[1].sqlite.find("FAuxQty = 4.5"), std::string::npos);
    EXPECT_NE(statements[1].sqlite.find("(v1.FBillNo ='A2' AND u1.FEntryID=2)"), std::string::npos);
}

TEST(Dialect, PurchaseOrderStatementKeepsEverythingButTheOuterJoin) {
    const std::string sql =
        testing::PurchaseOrderHead() + testing::kSelectFirstTwo + testing::kOrderByBillAndLine;
    const std::string out = TranslateOne(sql);
    EXPECT_EQ(out.find("*="), std::string::npos);
    EXPECT_NE(out.find("t_Department t2,  t_Currency t12"), std::string::npos) << out;
    EXPECT_NE(
        out.find(
            "t_User tu LEFT JOIN t_SonCompany t10_1 ON v1.FRelateBrID=t10_1.FItemID \r\n WHERE"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("v1.FDeptID=t2.FItemID AND v1.FCurrencyID=t12.FCurrencyID"),
              std::string::npos)
        << out;
    // Everything before FROM, the sub-selects included, is the original text.
    const std::string head = testing::PurchaseOrderHead();
    const std::string select_list = head.substr(1, head.find(" FROM POOrder") - 1);
    EXPECT_EQ(out.substr(0, select_list.size()), select_list);
}

TEST(Dialect, DeliveryNoticeStatementJoinsThreeOptionalTablesInOrder) {
    const std::string out =
        TranslateOne(testing::DeliveryNoticeHead() + testing::kOrderByBillAndLine);
    EXPECT_NE(out.find("t_User tu LEFT JOIN t_SonCompany t10_1 ON v1.FRelateBrID=t10_1.FItemID "
                       "LEFT JOIN t_SubMessage "
                       "ts1 ON v1.FSalType=ts1.FInterID LEFT JOIN t_Settle ts2 ON "
                       "v1.FSettleID=ts2.FItemID \r\n WHERE"),
              std::string::npos)
        << out;
    // The correlated source-line sub-select has no outer join of its own and stays as it was.
    EXPECT_NE(
        out.find("(SELECT s2.FSourceEntryID FROM SEOrder s1,SEOrderEntry s2 WHERE "
                 "s1.FInterID=s2.FInterID  AND "
                 "s1.FInterID=v1.FInterID AND s2.FEntryID=u1.FSourceEntryID ) as FSourceEntryID"),
        std::string::npos);
    EXPECT_EQ(out.find("*="), std::string::npos);
}

}  // namespace
}  // namespace orba::hostkit
