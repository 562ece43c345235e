// Classic outer joins (*= and =*) answered as the server answers them, on a small database of
// authors, publishers, titles and sales, on SQLite and on PostgreSQL: a restriction of the
// inner (optional) table beside the outer join restricts it before the join, so the outer
// table's row is kept with NULLs when no inner row passes. What stays ambiguous is refused.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "hostkit/database.h"
#include "support/branch_env.h"
#include "support/pg_server.h"

namespace orba::hostkit {
namespace {

// The rows of a result as "a|b;a|b", NULL for a null.
std::string RowsOf(Database& db, const std::string& classic) {
    const std::vector<TranslatedStatement> statements = db.Translate(classic);
    auto rows = db.Query(statements.at(0).sqlite);
    std::string text;
    for (; !rows->Eof(); rows->MoveNext()) {
        if (!text.empty()) text += ';';
        for (size_t c = 0; c < rows->FieldCount(); ++c) {
            if (c > 0) text += '|';
            text += rows->Value(c).IsNull() ? "NULL" : rows->Value(c).ToText();
        }
    }
    return text;
}

void MakeBookshop(Database& db) {
    db.Exec("CREATE TABLE authors (au_id INT, city VARCHAR(20));"
            "CREATE TABLE publishers (pub_id INT, city VARCHAR(20));"
            "CREATE TABLE titles (title_id INT, pub_id INT, price INT);"
            "CREATE TABLE sales (title_id INT, qty INT);"
            "INSERT INTO authors VALUES (1, 'Oakland'), (2, 'Berkeley'), (3, 'Paris');"
            "INSERT INTO publishers VALUES (10, 'Berkeley'), (11, 'Boston');"
            "INSERT INTO titles VALUES (100, 10, 20), (101, 10, 5), (102, 11, 30);"
            "INSERT INTO sales VALUES (100, 5), (100, 20), (102, 50);");
}

TEST(OuterJoinMeaning, ClassicStatementsGiveTheServersResultsOnBothBackends) {
    struct Case {
        const char* what;
        const char* sql;
        const char* rows;  // worked out by hand from the server's documented meaning
    };
    const Case cases[] = {
        {"plain *=", "SELECT a.au_id, p.pub_id FROM authors a, publishers p WHERE a.city *= p.city ORDER BY a.au_id",
         "1|NULL;2|10;3|NULL"},
        {"restriction of the inner table",
         "SELECT t.title_id, s.qty FROM titles t, sales s WHERE t.title_id *= s.title_id AND s.qty > 10 "
         "ORDER BY t.title_id",
         "100|20;101|NULL;102|50"},
        {"=* with a restriction of the inner table",
         "SELECT t.title_id, s.qty FROM sales s, titles t WHERE s.title_id =* t.title_id AND s.qty > 30 "
         "ORDER BY t.title_id",
         "100|NULL;101|NULL;102|50"},
        {"restriction of the outer table stays a filter",
         "SELECT t.title_id, s.qty FROM titles t, sales s WHERE t.title_id *= s.title_id AND t.price > 10 "
         "ORDER BY t.title_id, s.qty",
         "100|5;100|20;102|50"},
        {"IS NULL on the inner table restricts it before the join",
         "SELECT t.title_id, s.qty FROM titles t, sales s WHERE t.title_id *= s.title_id AND s.qty IS NULL "
         "ORDER BY t.title_id",
         "100|NULL;101|NULL;102|NULL"},
        {"IN, BETWEEN and a column of the outer table",
         "SELECT t.title_id, s.qty FROM titles t, sales s WHERE t.title_id *= s.title_id AND s.qty IN (5, 50) "
         "AND s.qty BETWEEN 1 AND t.price ORDER BY t.title_id",
         "100|5;101|NULL;102|NULL"},
        {"a restriction naming another preserved table",
         "SELECT a.au_id, t.title_id, s.qty FROM authors a, titles t, sales s WHERE t.title_id *= s.title_id "
         "AND s.qty > a.au_id * 10 AND a.au_id = 2 AND t.title_id < 102 ORDER BY t.title_id",
         "2|100|NULL;2|101|NULL"},
        {"columns without their table, found in the catalogue",
         "SELECT t.title_id, s.qty FROM titles t, sales s WHERE t.title_id *= s.title_id AND qty > 10 AND price > 10 "
         "ORDER BY t.title_id",
         "100|20;102|50"},
        {"two outer joins, each restricted",
         "SELECT p.pub_id, t.title_id, s.qty FROM publishers p, titles t, sales s WHERE p.pub_id *= t.pub_id "
         "AND t.price >= 20 AND t.title_id *= s.title_id AND s.qty < 10 ORDER BY p.pub_id, t.title_id",
         "10|100|5;11|102|NULL"},
    };
    const struct {
        const char* name;
        std::string location;
    } backends[] = {{"SQLite", ""}, {"PostgreSQL", orba::testing::PgServer::Shared().NewDatabase("bookshop")}};
    orba::testing::TempDir dir;
    for (const auto& backend : backends) {
        SCOPED_TRACE(backend.name);
        const std::unique_ptr<Database> db =
            OpenDatabase(backend.location.empty() ? (dir / "bookshop.db").string() : backend.location, OpenMode::kCreate);
        MakeBookshop(*db);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            EXPECT_EQ(RowsOf(*db, c.sql), c.rows);
        }
    }
}

TEST(OuterJoinMeaning, AmbiguousRestrictionsAreRefusedSayingWhy) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT t.title_id FROM titles t, sales s WHERE t.title_id *= s.title_id AND (s.qty > 1 OR t.price > 1)",
         "in an OR with other tables"},
        {"SELECT p.pub_id FROM publishers p, titles t, sales s WHERE p.pub_id *= t.pub_id AND t.title_id *= "
         "s.title_id AND t.price = s.qty",
         "names two outer-joined (optional) tables"},
        {"SELECT t.title_id FROM titles t, sales s WHERE t.title_id *= s.title_id AND s.qty IN (SELECT qty FROM "
         "sales)",
         "with a sub-select"},
        {"SELECT t.title_id FROM titles t, sales s WHERE t.title_id *= s.title_id AND s.qty > nonesuch",
         "column without table name"},
        {"SELECT t.title_id FROM titles t, sales s WHERE t.title_id *= s.title_id AND title_id > 100",
         "ambiguous column name 'title_id' (in t and s)"},
    };
    orba::testing::TempDir dir;
    const std::unique_ptr<Database> db = OpenDatabase((dir / "bookshop.db").string(), OpenMode::kCreate);
    MakeBookshop(*db);
    for (const auto& [sql, says] : cases) {
        SCOPED_TRACE(sql);
        try {
            db->Translate(sql);
            ADD_FAILURE() << "translated";
        } catch (const platform::Error& e) {
            EXPECT_NE(e.Description().find(says), std::string::npos) << e.Description();
        }
    }
}

}  // namespace
}  // namespace orba::hostkit
