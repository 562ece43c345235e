// The quick paths of decimal arithmetic give, bit for bit, what the arithmetic library gives:
// the same value with the same exponent, for sums, differences, products and quotients; and
// the plain text of a value reads back as that value.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/decimal.h"

extern "C" {
#include <bid_conf.h>
#include <bid_functions.h>
}

namespace orba::platform {
namespace {

BID_UINT128 Bits(const Decimal& d) {
    BID_UINT128 r;
    std::memcpy(&r, &d, sizeof r);
    return r;
}

// A decimal of `digits` random digits, a random sign and `places` decimals.
std::string RandomText(std::mt19937_64& random, int digits, int places) {
    std::string text = random() % 2 ? "-" : "";
    std::string coefficient;
    for (int i = 0; i < digits; ++i) coefficient.push_back(static_cast<char>('0' + random() % 10));
    text += coefficient;
    if (places > 0) text += "e-" + std::to_string(places);
    return text;
}

TEST(DecimalQuickPaths, TextReadsAsTheArithmeticLibraryReadsIt) {
    std::mt19937_64 random(5);
    std::vector<std::string> texts = {"0", "-0", "+0", "0.00", "-0.0", ".5", "5.", "-.25", "+7.50", "007.50",
                                      "18446744073709551615", "9999999999999999999", "99999999999999999999",
                                      "1234567890.123456789", "12345678901.23456789", "1e3", "-2.5E-4", " 42 "};
    for (int i = 0; i < 5000; ++i) {
        std::string digits;
        for (int n = static_cast<int>(random() % 22); n >= 0; --n) digits.push_back(static_cast<char>('0' + random() % 10));
        const size_t point = random() % (digits.size() + 2);
        if (point <= digits.size()) digits.insert(point, ".");
        const int sign = static_cast<int>(random() % 3);
        texts.push_back((sign == 0 ? "" : sign == 1 ? "-" : "+") + digits);
    }
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const auto ours = Decimal::TryParse(text);
        std::string trimmed(text);
        trimmed.erase(0, trimmed.find_first_not_of(' '));
        trimmed.erase(trimmed.find_last_not_of(' ') + 1);
        _IDEC_flags flags = 0;
        const BID_UINT128 library = bid128_from_string(trimmed.data(), BID_ROUNDING_TO_NEAREST, &flags);
        if (trimmed == "." || trimmed == "-." || trimmed == "+.") {
            EXPECT_FALSE(ours);
            continue;
        }
        ASSERT_TRUE(ours);
        const BID_UINT128 bits = Bits(*ours);
        EXPECT_TRUE(bits.w[0] == library.w[0] && bits.w[1] == library.w[1]);
    }
}

TEST(DecimalQuickPaths, MatchTheArithmeticLibraryBitForBit) {
    std::mt19937_64 random(12);
    for (int i = 0; i < 20000; ++i) {
        // From one digit up to past 64 bits of coefficient, exponents apart by up to 24.
        const std::string ta = RandomText(random, 1 + static_cast<int>(random() % 21), static_cast<int>(random() % 25));
        const std::string tb = RandomText(random, 1 + static_cast<int>(random() % 21), static_cast<int>(random() % 25));
        const Decimal a = Decimal::Parse(ta), b = Decimal::Parse(tb);
        SCOPED_TRACE(ta + " and " + tb);
        _IDEC_flags flags = 0;
        auto same = [](const Decimal& ours, BID_UINT128 library) {
            const BID_UINT128 bits = Bits(ours);
            return bits.w[0] == library.w[0] && bits.w[1] == library.w[1];
        };
        ASSERT_TRUE(same(a + b, bid128_add(Bits(a), Bits(b), BID_ROUNDING_TO_NEAREST, &flags))) << "sum";
        ASSERT_TRUE(same(a - b, bid128_sub(Bits(a), Bits(b), BID_ROUNDING_TO_NEAREST, &flags))) << "difference";
        ASSERT_TRUE(same(a - a, bid128_sub(Bits(a), Bits(a), BID_ROUNDING_TO_NEAREST, &flags))) << "x - x";
        ASSERT_TRUE(same(a * b, bid128_mul(Bits(a), Bits(b), BID_ROUNDING_TO_NEAREST, &flags))) << "product";
        // The plain text reads back as the same value, with no exponent and no trailing zero.
        for (const Decimal& d : {a, a * b, a - b}) {
            const std::string text = d.ToString();
            ASSERT_EQ(Decimal::Parse(text), d) << text;
            ASSERT_EQ(text.find_first_of("eE+"), std::string::npos) << text;
            if (text.find('.') != std::string::npos) {
                ASSERT_NE(text.back(), '0') << text;
            }
        }
        if (!b.IsZero()) {
            ASSERT_TRUE(same(a / b, bid128_div(Bits(a), Bits(b), BID_ROUNDING_TO_NEAREST, &flags))) << "quotient";
            const Decimal hundred(100);
            ASSERT_TRUE(same(a / hundred, bid128_div(Bits(a), Bits(hundred), BID_ROUNDING_TO_NEAREST, &flags)));
            ASSERT_TRUE(same((a * b) / b, bid128_div(Bits(a * b), Bits(b), BID_ROUNDING_TO_NEAREST, &flags)));
        }
    }
}

}  // namespace
}  // namespace orba::platform
