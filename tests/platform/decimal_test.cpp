// Exact decimal arithmetic for money and quantities, its text form, rounding and parsing.
#include "platform/decimal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"

namespace orba::platform {
namespace {

Decimal Dec(std::string_view text) {
    return Decimal::Parse(text);
}

TEST(Decimal, TaxFormulasComeOutExact) {
    // Price with 17% tax, and a gross amount taken back to net at 25%.
    const Decimal rate = Dec("17") / Decimal(100) + Decimal(1);
    EXPECT_EQ(Decimal(100) * rate, Decimal(117));
    EXPECT_EQ((Decimal(100) * rate).ToString(), "117");
    const Decimal back = Decimal(1250) / (Dec("25") / Decimal(100) + Decimal(1));
    EXPECT_EQ(back, Decimal(1000));
    EXPECT_EQ(back.ToString(), "1000");
    EXPECT_EQ((Dec("0.1") + Dec("0.2")).ToString(), "0.3");
    EXPECT_EQ(Dec("0.1") * Decimal(3), Dec("0.3"));
}

TEST(Decimal, DivisionCarriesAtLeast28Digits) {
    const std::string q = (Decimal(100) / Dec("1.17")).ToString();
    const std::string expected = "85.47008547008547008547008547";  // 28 significant digits
    ASSERT_GE(q.size(), expected.size()) << q;
    EXPECT_EQ(q.substr(0, expected.size()), expected);
    EXPECT_EQ((Decimal(1) / Decimal(3)).ToString().substr(0, 30), "0.3333333333333333333333333333");
}

TEST(Decimal, ToStringIsPlain) {
    struct Case {
        const char* in;
        const char* out;
    };
    const std::vector<Case> cases = {
        {"1E+3", "1000"},
        {"-0.000123", "-0.000123"},
        {"117.500", "117.5"},
        {"100.00", "100"},
        {"0.0", "0"},
        {"-0", "0"},
        {"1e-12", "0.000000000001"},
        {"+42", "42"},
        {"  7.25 ", "7.25"},
        {"123456789012345678901234567890.1234", "123456789012345678901234567890.1234"},
        {"1.5E+30", "1500000000000000000000000000000"},
    };
    for (const auto& c : cases) EXPECT_EQ(Dec(c.in).ToString(), c.out) << c.in;
}

TEST(Decimal, RoundsHalfAwayFromZero) {
    struct Case {
        const char* in;
        int places;
        const char* out;
    };
    const std::vector<Case> cases = {
        {"2.345", 2, "2.35"}, {"-2.345", 2, "-2.35"}, {"7.5", 0, "8"},      {"-7.5", 0, "-8"},
        {"6.5", 0, "7"},      {"2.344", 2, "2.34"},   {"1.005", 2, "1.01"}, {"117", 2, "117"},
        {"0.0049", 2, "0"},   {"1250", -2, "1300"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Dec(c.in).Round(c.places).ToString(), c.out) << c.in << " to " << c.places;
    }
}

TEST(Decimal, ParseRejectsWhatIsNotANumber) {
    for (const char* bad : {"Inf", "-Infinity", "NaN", "1e", "1e+", "", ".", "-", "1.2.3", "0x10",
                            "1 2", "12kg", "e5"}) {
        EXPECT_FALSE(Decimal::TryParse(bad).has_value()) << bad;
        try {
            Decimal::Parse(bad);
            ADD_FAILURE() << "parsed " << bad;
        } catch (const Error& e) {
            EXPECT_EQ(e.Code(), ErrorCode::kTypeMismatch) << bad;
        }
    }
    for (const char* good : {".5", "5.", "-0.5e-3", "1E10"}) {
        EXPECT_TRUE(Decimal::TryParse(good).has_value()) << good;
    }
}

TEST(Decimal, ComparesByValueNotByScale) {
    EXPECT_EQ(Dec("1.50"), Dec("1.5"));
    EXPECT_LT(Dec("-3"), Dec("2.9"));
    EXPECT_GT(Dec("0.0001"), Decimal());
    EXPECT_TRUE(Dec("0.000").IsZero());
    EXPECT_TRUE(Dec("-0.1").IsNegative());
    EXPECT_FALSE(Dec("-0").IsNegative());
}

TEST(Decimal, ConvertsToWholeNumbersHalfToEven) {
    EXPECT_EQ(Dec("2.5").ToInt64(), 2);
    EXPECT_EQ(Dec("3.5").ToInt64(), 4);
    EXPECT_EQ(Dec("-2.5").ToInt64(), -2);
    EXPECT_EQ(Dec("9223372036854775807").ToInt64(), INT64_MAX);
    EXPECT_FALSE(Dec("1e30").ToInt64().has_value());
}

TEST(Decimal, FailuresRaiseTheirErrors) {
    try {
        Decimal(1) / Decimal();
        ADD_FAILURE() << "divided by zero";
    } catch (const Error& e) {
        EXPECT_EQ(e.Code(), ErrorCode::kDivisionByZero);
    }
    try {
        Dec("1e6000") * Dec("1e6000");
        ADD_FAILURE() << "no overflow";
    } catch (const Error& e) {
        EXPECT_EQ(e.Code(), ErrorCode::kOverflow);
    }
}

TEST(Decimal, ExactParseKeepsEveryDigitOrRefuses) {
    const struct {
        const char* text;
        const char* kept;  // nullptr: refused
    } cases[] = {
        {"1234567890123456789012345678901234", "1234567890123456789012345678901234"},
        {"-0.001234567890123456789012345678901234", "-0.001234567890123456789012345678901234"},
        {"12345678901234567890123456789012340", "12345678901234567890123456789012340"},
        {"1.000000000000000000000000000000000000000", "1"},
        {"98765400000000000000000000000000000000000000", "98765400000000000000000000000000000000000000"},
        {"1.5E+40", "15000000000000000000000000000000000000000"},
        {"12345678901234567890123456789012345", nullptr},
        {"0.12345678901234567890123456789012345", nullptr},
        {"1E-7000", nullptr},
        {"1,5", nullptr},
    };
    for (const auto& c : cases) {
        const auto d = Decimal::TryParseExact(c.text);
        EXPECT_EQ(d ? d->ToString() : "refused", c.kept ? c.kept : "refused") << c.text;
    }
    // The lenient parse, which values from SQL go through, still rounds.
    EXPECT_EQ(Dec("12345678901234567890123456789012345").ToString(), "12345678901234567890123456789012340");
}

}  // namespace
}  // namespace orba::platform
