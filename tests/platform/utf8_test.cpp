// The UTF-8 rules every reader of outside text shares: what is well-formed, where characters
// start, and what a character decodes to, strictly and by its byte pattern alone.
#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace orba::platform {
namespace {

TEST(Utf8, WellFormedAndDecodedAtTheEdgesOfEachForm) {
    struct Case {
        std::string bytes;
        bool well_formed;
        char32_t strict;  // DecodeUtf8 at 0 (the first byte itself when ill-formed)
        char32_t loose;   // DecodeUtf8Loose at 0
        size_t length;    // Utf8SequenceLength at 0
    };
    const Case cases[] = {
        {"A", true, U'A', U'A', 1},
        {"\xC2\x80", true, 0x80, 0x80, 2},
        {"\xDF\xBF", true, 0x7FF, 0x7FF, 2},
        {"\xE0\xA0\x80", true, 0x800, 0x800, 3},
        {"\xEF\xBF\xBF", true, 0xFFFF, 0xFFFF, 3},
        {"\xF0\x90\x80\x80", true, 0x10000, 0x10000, 4},
        {"\xF4\x8F\xBF\xBF", true, 0x10FFFF, 0x10FFFF, 4},
        {"\xC0\xAF", false, 0xC0, 0x2F, 0},             // overlong
        {"\xE0\x9F\xBF", false, 0xE0, 0x7FF, 0},        // overlong
        {"\xED\xA0\x80", false, 0xED, 0xD800, 0},       // surrogate
        {"\xF4\x90\x80\x80", false, 0xF4, 0x110000, 0}, // past U+10FFFF
        {"\xF8\x88\x80\x80", false, 0xF8, 0xF8, 0},     // no such lead
        {"\x80", false, 0x80, 0x80, 0},                 // stray continuation
        {"\xE4\xB8", false, 0xE4, 0xE4, 0},             // cut off
        {"\xE4" "A\x80", false, 0xE4, 0xE4, 0},         // broken by ASCII
        {"plain ascii text, longer than a word", true, U'p', U'p', 1},
        {"ascii text for eight\xFF", false, U'a', U'a', 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        EXPECT_EQ(IsUtf8(c.bytes), c.well_formed);
        EXPECT_EQ(DecodeUtf8(c.bytes, 0).value, c.strict);
        EXPECT_EQ(DecodeUtf8Loose(c.bytes, 0).value, c.loose);
        EXPECT_EQ(Utf8SequenceLength(c.bytes, 0), c.length);
    }
    const std::string text = "a中b";
    EXPECT_EQ(Utf8CharacterStart(text, 3), 1u);
    EXPECT_EQ(Utf8CharacterStart(text, 4), 4u);
    EXPECT_EQ(Utf8CharacterStart("\x80\x80", 1), 0u);
}

}  // namespace
}  // namespace orba::platform
