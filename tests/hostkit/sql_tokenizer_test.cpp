#include "hostkit/dialect/sql_tokenizer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/error.h"

namespace orba::hostkit {
namespace {

using Kind = SqlTokenKind;

struct Expected {
    Kind kind;
    std::string text;
};

std::vector<Expected> Significant(std::string_view sql) {
    std::vector<Expected> out;
    for (const SqlToken& t : TokenizeSql(sql)) {
        if (!t.IsTrivia()) out.push_back({t.kind, std::string(t.text)});
    }
    return out;
}

struct TokenCase {
    std::string sql;
    std::vector<Expected> tokens;
};

void PrintTo(const TokenCase& c, std::ostream* os) {
    *os << c.sql;
}

class TokenizerCases : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenizerCases, SplitsIntoTheExpectedTokens) {
    const auto actual = Significant(GetParam().sql);
    const auto& expected = GetParam().tokens;
    ASSERT_EQ(actual.size(), expected.size()) << GetParam().sql;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].kind, expected[i].kind) << "token " << i << " of " << GetParam().sql;
        EXPECT_EQ(actual[i].text, expected[i].text) << "token " << i << " of " << GetParam().sql;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tokenizer, TokenizerCases,
    ::testing::Values(
        TokenCase{"v1.FRelateBrID*=t10_1.FItemID",
                  {{Kind::kWord, "v1"},
                   {Kind::kSymbol, "."},
                   {Kind::kWord, "FRelateBrID"},
                   {Kind::kSymbol, "*="},
                   {Kind::kWord, "t10_1"},
                   {Kind::kSymbol, "."},
                   {Kind::kWord, "FItemID"}}},
        TokenCase{"a.x =*b.y",
                  {{Kind::kWord, "a"},
                   {Kind::kSymbol, "."},
                   {Kind::kWord, "x"},
                   {Kind::kSymbol, "=*"},
                   {Kind::kWord, "b"},
                   {Kind::kSymbol, "."},
                   {Kind::kWord, "y"}}},
        // Quotes doubled inside a literal, and operators or keywords inside it, stay one literal.
        TokenCase{"'it''s *= Update'N'x'",
                  {{Kind::kString, "'it''s *= Update'"}, {Kind::kString, "N'x'"}}},
        TokenCase{"[a]]b] \"c\"\"d\"",
                  {{Kind::kQuotedName, "[a]]b]"}, {Kind::kQuotedName, "\"c\"\"d\""}}},
        TokenCase{"x--*= Update\r\ny/* a /* nested */ *= */z",
                  {{Kind::kWord, "x"}, {Kind::kWord, "y"}, {Kind::kWord, "z"}}},
        TokenCase{"COUNT(*)>=1.5e3 <> @p",
                  {{Kind::kWord, "COUNT"},
                   {Kind::kSymbol, "("},
                   {Kind::kSymbol, "*"},
                   {Kind::kSymbol, ")"},
                   {Kind::kSymbol, ">="},
                   {Kind::kNumber, "1.5e3"},
                   {Kind::kSymbol, "<>"},
                   {Kind::kWord, "@p"}}},
        TokenCase{"'A1'Update", {{Kind::kString, "'A1'"}, {Kind::kWord, "Update"}}},
        TokenCase{"名称,\t0x1F",
                  {{Kind::kWord, "名称"}, {Kind::kSymbol, ","}, {Kind::kNumber, "0x1F"}}}));

TEST(Tokenizer, TokensReproduceTheTextExactly) {
    const std::string sql = " SELECT [a b],'x''y'--c\r\n\t/* d */FROM t\r\nWHERE a*=b ";
    std::string joined;
    std::size_t offset = 0;
    for (const SqlToken& t : TokenizeSql(sql)) {
        EXPECT_EQ(t.offset, offset);
        offset += t.text.size();
        joined += t.text;
    }
    EXPECT_EQ(joined, sql);
}

TEST(Tokenizer, NormalizedNamesIgnoreQuotesAndCase) {
    const auto tokens = TokenizeSql("T10_1 [t10_1] \"T10_1\" [a]]B]");
    std::vector<std::string> names;
    for (const SqlToken& t : tokens) {
        if (!t.IsTrivia()) names.push_back(NormalizedName(t));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"t10_1", "t10_1", "t10_1", "a]b"}));
}

TEST(Tokenizer, RefusesUnterminatedConstructs) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"SELECT 'abc", "unterminated string literal"},
        {"SELECT [abc", "unterminated quoted name"},
        {"SELECT \"abc", "unterminated quoted name"},
        {"SELECT 1 /* a /* b */", "unterminated block comment"},
    };
    for (const auto& [sql, construct] : cases) {
        try {
            TokenizeSql(sql);
            ADD_FAILURE() << "accepted " << sql;
        } catch (const platform::Error& e) {
            EXPECT_EQ(e.Code(), platform::ErrorCode::kSqlNotTranslatable);
            EXPECT_NE(e.Description().find(construct), std::string::npos) << e.Description();
        }
    }
}

}  // namespace
}  // namespace orba::hostkit
