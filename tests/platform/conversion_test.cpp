// Conversions of Variant to text, numbers, Boolean and Date, and the leading-number reader.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/variant.h"

namespace orba::platform {
namespace {

Decimal Dec(std::string_view text) {
    return Decimal::Parse(text);
}

// Runs `convert` and returns the error number it raised, or nothing when it succeeded.
template <class F>
std::optional<int32_t> ErrorOf(F convert) {
    try {
        convert();
    } catch (const Error& e) {
        return e.Number();
    }
    return std::nullopt;
}

constexpr int32_t kOverflow = static_cast<int32_t>(ErrorCode::kOverflow);
constexpr int32_t kMismatch = static_cast<int32_t>(ErrorCode::kTypeMismatch);
constexpr int32_t kNull = static_cast<int32_t>(ErrorCode::kInvalidUseOfNull);

struct TextCase {
    Variant value;
    std::string text;
};

TEST(ToText, GivesPlainForms) {
    const std::vector<TextCase> cases = {
        {Variant(), ""},
        {Variant(true), "True"},
        {Variant(false), "False"},
        {Variant(int16_t{-501}), "-501"},
        {Variant(int32_t{2147483647}), "2147483647"},
        {Variant(2.0), "2"},
        {Variant(0.1 + 0.2), "0.3"},
        {Variant(-1234.5), "-1234.5"},
        {Variant(1e20), "100000000000000000000"},
        {Variant(1.5e-7), "0.00000015"},
        {Variant(Dec("117.00")), "117"},
        {Variant(Dec("1E+3")), "1000"},
        {Variant(Dec("-0.000123")), "-0.000123"},
        {Variant(Dec("0")), "0"},
        {Variant(Date::FromParts(2003, 5, 12)), "2003-05-12"},
        {Variant(Date::FromParts(2003, 5, 12, 10, 20, 30)), "2003-05-12T10:20:30"},
        {Variant("as is "), "as is "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.ToText(), c.text) << c.value.TypeName();
    }
}

TEST(ToText, NullIsInvalidUse) {
    EXPECT_EQ(ErrorOf([] { Variant::Null().ToText(); }), kNull);
}

struct WholeCase {
    Variant value;
    std::optional<int32_t> result;  // empty when an error is expected
    int32_t error = 0;
};

TEST(ToLong, RoundsHalfToEvenAndChecksRange) {
    const std::vector<WholeCase> cases = {
        {Variant(2.5), 2},
        {Variant(3.5), 4},
        {Variant(-2.5), -2},
        {Variant(-3.5), -4},
        {Variant(2.4999), 2},
        {Variant(Dec("2.5")), 2},
        {Variant(Dec("3.5")), 4},
        {Variant("2.5"), 2},
        {Variant(" 3.5 "), 4},
        {Variant("-12"), -12},
        {Variant("1e3"), 1000},
        {Variant(true), -1},
        {Variant(false), 0},
        {Variant(), 0},
        {Variant(int16_t{-7}), -7},
        {Variant(Date::FromParts(1900, 1, 1, 18, 0, 0)), 3},  // serial 2.75
        {Variant(2147483647.0), 2147483647},
        {Variant(-2147483648.0), INT32_MIN},
        {Variant(2147483647.5), std::nullopt, kOverflow},
        {Variant(1e10), std::nullopt, kOverflow},
        {Variant(Dec("-2147483649")), std::nullopt, kOverflow},
        {Variant("99999999999"), std::nullopt, kOverflow},
        {Variant(std::nan("")), std::nullopt, kOverflow},
        {Variant("12abc"), std::nullopt, kMismatch},
        {Variant(""), std::nullopt, kMismatch},
        {Variant("abc"), std::nullopt, kMismatch},
        {Variant::Null(), std::nullopt, kNull},
    };
    for (const auto& c : cases) {
        const std::string shown = c.value.IsNull() ? "Null" : c.value.ToText();
        if (c.result) {
            EXPECT_EQ(c.value.ToLong(), *c.result) << shown;
        } else {
            EXPECT_EQ(ErrorOf([&] { c.value.ToLong(); }), c.error) << shown;
        }
    }
}

TEST(ToInteger, RoundsHalfToEvenAndChecksRange) {
    const std::vector<WholeCase> cases = {
        {Variant(2.5), 2},
        {Variant(-2.5), -2},
        {Variant(32767.0), 32767},
        {Variant(-32768.5), -32768},  // the even neighbour is still in range
        {Variant(int32_t{-32768}), -32768},
        {Variant("501"), 501},
        {Variant(true), -1},
        {Variant(32767.5), std::nullopt, kOverflow},
        {Variant(int32_t{32768}), std::nullopt, kOverflow},
        {Variant(int32_t{-32769}), std::nullopt, kOverflow},
        {Variant(Dec("40000")), std::nullopt, kOverflow},
        {Variant("x1"), std::nullopt, kMismatch},
        {Variant::Null(), std::nullopt, kNull},
    };
    for (const auto& c : cases) {
        const std::string shown = c.value.IsNull() ? "Null" : c.value.ToText();
        if (c.result) {
            EXPECT_EQ(c.value.ToInteger(), *c.result) << shown;
        } else {
            EXPECT_EQ(ErrorOf([&] { c.value.ToInteger(); }), c.error) << shown;
        }
    }
}

TEST(ToBoolean, ReadsWordsAndNumbers) {
    struct Case {
        Variant value;
        std::optional<bool> result;
    };
    const std::vector<Case> cases = {
        {Variant("true"), true},
        {Variant("FALSE"), false},
        {Variant(" True "), true},
        {Variant("0"), false},
        {Variant("1.5"), true},
        {Variant("-1"), true},
        {Variant(int16_t{0}), false},
        {Variant(0.25), true},
        {Variant(Dec("0.00")), false},
        {Variant(), false},
        {Variant("abc"), {}},
        {Variant("yes"), {}},
        {Variant(""), {}},
    };
    for (const auto& c : cases) {
        if (c.result) {
            EXPECT_EQ(c.value.ToBoolean(), *c.result) << c.value.ToText();
        } else {
            EXPECT_EQ(ErrorOf([&] { c.value.ToBoolean(); }), kMismatch) << c.value.ToText();
        }
    }
    EXPECT_EQ(ErrorOf([] { Variant::Null().ToBoolean(); }), kNull);
}

TEST(ToDouble, ConvertsEveryNumericKind) {
    EXPECT_EQ(Variant(int16_t{-3}).ToDouble(), -3.0);
    EXPECT_EQ(Variant(int32_t{70000}).ToDouble(), 70000.0);
    EXPECT_EQ(Variant(Dec("0.1")).ToDouble(), 0.1);
    EXPECT_EQ(Variant(" -2.5e2 ").ToDouble(), -250.0);
    EXPECT_EQ(Variant(true).ToDouble(), -1.0);
    EXPECT_EQ(Variant().ToDouble(), 0.0);
    EXPECT_EQ(Variant(Date::FromParts(1900, 1, 1, 6, 0, 0)).ToDouble(), 2.25);
    EXPECT_EQ(ErrorOf([] { Variant("1,5").ToDouble(); }), kMismatch);
    EXPECT_EQ(ErrorOf([] { Variant::Null().ToDouble(); }), kNull);
}

TEST(ToDouble, TextBeyondTheRangeOfADoubleOverflows) {
    EXPECT_EQ(ErrorOf([] { Variant("1e400").ToDouble(); }), kOverflow);
    EXPECT_EQ(ErrorOf([] { Variant("-1e400").ToDouble(); }), kOverflow);
    EXPECT_EQ(ErrorOf([] { Add(Variant("1e400"), Variant(1.0)); }), kOverflow);
}

TEST(ToDecimal, KeepsDecimalDigitsExactly) {
    EXPECT_EQ(Variant("0.1").ToDecimal(), Dec("0.1"));
    EXPECT_EQ(Variant(0.1).ToDecimal().ToString(), "0.1");  // the double's 15 reliable digits
    EXPECT_EQ(Variant(int32_t{-42}).ToDecimal(), Decimal(-42));
    EXPECT_EQ(Variant(true).ToDecimal(), Decimal(-1));
    EXPECT_EQ(Variant("12345678901234567890.123456789").ToDecimal().ToString(),
              "12345678901234567890.123456789");
    EXPECT_EQ(ErrorOf([] { Variant("12 kg").ToDecimal(); }), kMismatch);
    EXPECT_EQ(ErrorOf([] { Variant::Null().ToDecimal(); }), kNull);
    EXPECT_EQ(ErrorOf([] { Variant(std::nan("")).ToDecimal(); }), kOverflow);
}

TEST(ToDate, ReadsTextAndSerials) {
    EXPECT_EQ(Variant("2003-05-12").ToDate(), Date::FromParts(2003, 5, 12));
    EXPECT_EQ(Variant("2003-05-12 10:20:30").ToDate(), Date::FromParts(2003, 5, 12, 10, 20, 30));
    EXPECT_EQ(Variant(1.5).ToDate(), Date::FromParts(1899, 12, 31, 12, 0, 0));
    EXPECT_EQ(Variant(int32_t{2}).ToDate(), Date::FromParts(1900, 1, 1));
    EXPECT_EQ(Variant().ToDate(), Date::FromParts(1899, 12, 30));
    EXPECT_EQ(ErrorOf([] { Variant("12/05/2003x").ToDate(); }), kMismatch);
    EXPECT_EQ(ErrorOf([] { Variant(true).ToDate(); }), kMismatch);
    EXPECT_EQ(ErrorOf([] { Variant::Null().ToDate(); }), kNull);
}

TEST(ToObject, OnlyObjectsAndNothingConvert) {
    EXPECT_TRUE(Variant::Nothing().ToObject().IsNothing());
    EXPECT_EQ(ErrorOf([] { Variant(int32_t{1}).ToObject(); }),
              static_cast<int32_t>(ErrorCode::kObjectRequired));
}

TEST(Val, ReadsTheLeadingNumber) {
    struct Case {
        const char* text;
        double value;
    };
    const std::vector<Case> cases = {
        {"12.5kg", 12.5}, {"abc", 0}, {"  -3e2x", -300}, {"", 0},     {"7", 7},   {".5", 0.5},
        {"-", 0},         {"1e", 1},  {"2E+2", 200},     {"3d1", 30}, {"+4.", 4},
    };
    for (const auto& c : cases) EXPECT_EQ(Val(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace orba::platform
