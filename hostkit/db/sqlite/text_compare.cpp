#include "hostkit/db/sqlite/text_compare.h"

#include <locale.h>
#include <wctype.h>

#include "platform/utf8.h"

namespace orba::hostkit {
namespace {

// One code point from UTF-8 at `i`, advancing `i`. A byte that does not start a valid
// sequence stands for itself, so any byte string has a definite order.
char32_t NextCodePoint(std::string_view s, size_t& i) {
    const platform::CodePoint cp = platform::DecodeUtf8Loose(s, i);
    i += cp.length;
    return cp.value;
}

// Letter case is dropped through the Unicode tables of the C.UTF-8 locale, whatever
// locale the process runs in; upper then lower maps variant forms (final sigma, long s)
// onto one letter.
char32_t FoldCase(char32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!utf8) return c;
    return static_cast<char32_t>(towlower_l(towupper_l(static_cast<wint_t>(c), utf8), utf8));
}

std::string_view WithoutTrailingBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

int CompareServerText(std::string_view a, std::string_view b) {
    a = WithoutTrailingBlanks(a);
    b = WithoutTrailingBlanks(b);
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = FoldCase(NextCodePoint(a, i));
        const char32_t y = FoldCase(NextCodePoint(b, j));
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

}  // namespace orba::hostkit
