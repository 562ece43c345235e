// Control characters from outside texts are made visible in messages and on a terminal.
#include "platform/printable_text.h"

#include <gtest/gtest.h>

namespace orba::platform {
namespace {

TEST(PrintableText, ControlCharactersAreShownNotActedOn) {
    struct Case {
        std::string text;
        std::string escaped;
        std::string terminal;
    };
    const Case cases[] = {
        {"PO-1", "PO-1", "PO-1"},
        {"上海锦程 C:\\x", "上海锦程 C:\\x", "上海锦程 C:\\x"},
        {"a\r\nb", "a\\x0D\\x0Ab", "a\nb"},
        {"a\rb", "a\\x0Db", "a\\x0Db"},
        {"a\tb\n", "a\\x09b\\x0A", "a\tb\n"},
        {"\x1b[2Kok\x7f", "\\x1B[2Kok\\x7F", "\\x1B[2Kok\\x7F"},
        {std::string("x\0y", 3), "x\\x00y", "x\\x00y"},
        {"\xc2\x85line\xc2\x9b", "\\u0085line\\u009b", "\\u0085line\\u009b"},  // C1 controls
        {"\xc2\xa0\xc2", "\xc2\xa0\xc2", "\xc2\xa0\xc2"},                     // no-break space, cut-off byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.escaped);
        EXPECT_EQ(EscapeControls(c.text), c.escaped);
        EXPECT_EQ(ForTerminal(c.text), c.terminal);
    }
}

}  // namespace
}  // namespace orba::platform
