// Variant arithmetic: Null propagation, the kind of each result, widening and errors.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/variant.h"

namespace orba::platform {
namespace {

using BinaryOp = std::function<Variant(const Variant&, const Variant&)>;

Decimal Dec(std::string_view text) {
    return Decimal::Parse(text);
}

struct NamedOp {
    const char* name;
    BinaryOp op;
};

const std::vector<NamedOp>& AllOps() {
    static const std::vector<NamedOp> ops = {
        {"Add", Add}, {"Subtract", Subtract}, {"Multiply", Multiply}, {"Divide", Divide}};
    return ops;
}

TEST(Arithmetic, NullOperandGivesNull) {
    const std::vector<Variant> others = {Variant(int16_t{1}), Variant(2.5), Variant(Dec("3")),
                                         Variant("4"),        Variant(),    Variant::Null(),
                                         Variant(int32_t{0})};
    for (const auto& [name, op] : AllOps()) {
        for (const Variant& other : others) {
            EXPECT_TRUE(op(Variant::Null(), other).IsNull())
                << name << " Null, " << other.TypeName();
            EXPECT_TRUE(op(other, Variant::Null()).IsNull())
                << name << " " << other.TypeName() << ", Null";
        }
    }
    EXPECT_TRUE(Negate(Variant::Null()).IsNull());
}

TEST(Arithmetic, ResultKindFollowsTheOperands) {
    struct Case {
        Variant result;
        VarType type;
        std::string text;
    };
    const std::vector<Case> cases = {
        {Add(Variant(int16_t{2}), Variant(int16_t{3})), VarType::kInteger, "5"},
        {Add(Variant(int16_t{32767}), Variant(int16_t{1})), VarType::kLong, "32768"},
        {Multiply(Variant(int16_t{300}), Variant(int16_t{300})), VarType::kLong, "90000"},
        {Subtract(Variant(int16_t{-32768}), Variant(int16_t{1})), VarType::kLong, "-32769"},
        {Add(Variant(int32_t{2147483647}), Variant(int32_t{1})), VarType::kDouble, "2147483648"},
        {Multiply(Variant(int32_t{100000}), Variant(int32_t{100000})), VarType::kDouble,
         "10000000000"},
        {Add(Variant(int16_t{1}), Variant(int32_t{1})), VarType::kLong, "2"},
        {Add(Variant(1.5), Variant(int32_t{1})), VarType::kDouble, "2.5"},
        {Add(Variant(0.1), Variant(Dec("0.2"))), VarType::kDecimal, "0.3"},
        {Multiply(Variant(Dec("1.17")), Variant(100.0)), VarType::kDecimal, "117"},
        {Divide(Variant(int16_t{7}), Variant(int16_t{2})), VarType::kDouble, "3.5"},
        {Divide(Variant(Dec("7")), Variant(int16_t{2})), VarType::kDecimal, "3.5"},
        {Add(Variant(), Variant(int16_t{4})), VarType::kInteger, "4"},
        {Add(Variant(), Variant()), VarType::kInteger, "0"},
        {Multiply(Variant(), Variant(Dec("9.5"))), VarType::kDecimal, "0"},
        {Add(Variant(true), Variant(true)), VarType::kInteger, "-2"},
        {Add(Variant("12"), Variant(int16_t{1})), VarType::kDouble, "13"},
        {Add(Variant("ab"), Variant("cd")), VarType::kString, "abcd"},
        {Add(Variant("1"), Variant("2")), VarType::kString, "12"},
        {Subtract(Variant("5"), Variant("2")), VarType::kDouble, "3"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(cases[i].result.Type(), cases[i].type)
            << "case " << i << ": " << cases[i].result.TypeName();
        EXPECT_EQ(cases[i].result.ToText(), cases[i].text) << "case " << i;
    }
}

TEST(Arithmetic, ExtractionFormulasStayExactWithDecimals) {
    // Price including tax from a database price and a rate in percent.
    const Variant price = Variant(Dec("100"));
    const Variant rate = Variant(Dec("17"));
    const Variant with_tax =
        Multiply(price, Add(Divide(rate, Variant(int16_t{100})), Variant(int16_t{1})));
    EXPECT_EQ(with_tax.Type(), VarType::kDecimal);
    EXPECT_EQ(with_tax.AsDecimal(), Decimal(117));
    const Variant net =
        Divide(Variant(Dec("1250")),
               Add(Divide(Variant(Dec("25")), Variant(int16_t{100})), Variant(int16_t{1})));
    EXPECT_EQ(net.ToText(), "1000");
}

TEST(Arithmetic, DivisionByZeroIsAnError) {
    const std::vector<std::pair<Variant, Variant>> cases = {
        {Variant(1.0), Variant(0.0)},
        {Variant(int16_t{1}), Variant(int16_t{0})},
        {Variant(int16_t{0}), Variant(int32_t{0})},
        {Variant(Dec("1")), Variant(Dec("0.00"))},
        {Variant(2.5), Variant(Dec("0"))},
        {Variant(int32_t{3}), Variant()},
    };
    for (const auto& [a, b] : cases) {
        try {
            Divide(a, b);
            ADD_FAILURE() << a.TypeName() << " / " << b.TypeName() << " did not fail";
        } catch (const Error& e) {
            EXPECT_EQ(e.Code(), ErrorCode::kDivisionByZero)
                << a.TypeName() << " / " << b.TypeName();
        }
    }
}

TEST(Arithmetic, NonNumbersAreTypeMismatches) {
    const std::vector<std::pair<Variant, Variant>> cases = {
        {Variant("abc"), Variant(int16_t{1})},
        {Variant(1.0), Variant("x")},
        {Variant::Nothing(), Variant(int16_t{1})},
    };
    for (const auto& [a, b] : cases) {
        for (const auto& [name, op] : AllOps()) {
            try {
                op(a, b);
                ADD_FAILURE() << name << " accepted " << a.TypeName() << ", " << b.TypeName();
            } catch (const Error& e) {
                EXPECT_TRUE(e.Code() == ErrorCode::kTypeMismatch ||
                            e.Code() == ErrorCode::kObjectRequired)
                    << name << ": " << e.Description();
            }
        }
    }
}

TEST(Negate, KeepsOrWidensTheKind) {
    struct Case {
        Variant result;
        VarType type;
        std::string text;
    };
    const std::vector<Case> cases = {
        {Negate(Variant(int16_t{5})), VarType::kInteger, "-5"},
        {Negate(Variant(int16_t{-32768})), VarType::kLong, "32768"},
        {Negate(Variant(int32_t{-2147483647 - 1})), VarType::kDouble, "2147483648"},
        {Negate(Variant(Dec("1.50"))), VarType::kDecimal, "-1.5"},
        {Negate(Variant(2.5)), VarType::kDouble, "-2.5"},
        {Negate(Variant(true)), VarType::kInteger, "1"},
        {Negate(Variant()), VarType::kInteger, "0"},
        {Negate(Variant("3")), VarType::kDouble, "-3"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(cases[i].result.Type(), cases[i].type) << "case " << i;
        EXPECT_EQ(cases[i].result.ToText(), cases[i].text) << "case " << i;
    }
}

}  // namespace
}  // namespace orba::platform
