// The login property string's grammar as the library's parser (spaces) and the host kit's
// reader (spaces and tabs) take it: keys, values in braces, and what is left unread.
#include "platform/login_grammar.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace orba::platform {
namespace {

// Each pair as key=value|, "!" marking a key without "=".
std::string Pairs(std::string_view text, std::string_view blanks) {
    std::string out;
    while (auto pair = NextLoginPair(text, blanks)) {
        out.append(pair->key).append(pair->assigned ? "=" : "!").append(pair->value).append("|");
    }
    return out;
}

TEST(LoginGrammar, PairsBracesAndBlanks) {
    const struct {
        const char* text;
        const char* spaces;  // read trimming spaces only
        const char* blanks;  // read trimming spaces and tabs
    } cases[] = {
        {"A=1;B={x;y=z} ; C = 3 ", "A=1|B=x;y=z|C=3|", "A=1|B=x;y=z|C=3|"},
        {"K={v}junk;L", "K=v|L!|", "K=v|L!|"},
        {"K={open;L=1", "K=open;L=1|", "K=open;L=1|"},
        {"=x;\tT\t=\t{ a }\t", "=x|\tT\t=\t{ a }\t|", "=x|T=a|"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Pairs(c.text, " "), c.spaces) << c.text;
        EXPECT_EQ(Pairs(c.text, " \t"), c.blanks) << c.text;
    }
    EXPECT_EQ(Trim(" \t\r\nx y\v\f "), "x y");
    EXPECT_EQ(TrimEnd("  x  ", " "), "  x");
    EXPECT_EQ(Trim("\t", " "), "\t");
}

}  // namespace
}  // namespace orba::platform
