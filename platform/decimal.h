// Exact decimal number for money, quantities, prices and rates: 34 significant digits,
// so that amounts computed from database values never show binary floating-point noise.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orba::platform {

class Decimal {
public:
    Decimal() noexcept;  // zero
    Decimal(int64_t value) noexcept;  // NOLINT: integers convert implicitly and exactly

    // Reads "[+-]digits[.digits][(e|E)[+-]digits]" with optional surrounding blanks.
    static std::optional<Decimal> TryParse(std::string_view text) noexcept;
    // As TryParse, but raises a type-mismatch Error that quotes the text.
    static Decimal Parse(std::string_view text);
    // The significant digits a Decimal holds, counted from the first to the last non-zero
    // digit: zeros that only place the point ("1500000", "0.0012", "1.500") cost none.
    static constexpr int kDigits = 34;
    // As TryParse, but for a value that must arrive with every digit it was sent with: empty,
    // never rounded, for a value with more than kDigits significant digits or one too large
    // or too small for a Decimal.
    static std::optional<Decimal> TryParseExact(std::string_view text) noexcept;
    // The decimal value of a double taken to 15 significant digits, the precision a double
    // carries reliably; raises an overflow Error for infinities and NaN.
    static Decimal FromDouble(double value);

    // Plain text: no exponent, no trailing zeros after the point, "-" for negatives.
    std::string ToString() const;
    double ToDouble() const noexcept;
    // Rounds half to even; empty when the result does not fit in 64 bits.
    std::optional<int64_t> ToInt64() const noexcept;

    bool IsZero() const noexcept;
    bool IsNegative() const noexcept;

    Decimal operator-() const noexcept;
    Decimal operator+(const Decimal& other) const;
    Decimal operator-(const Decimal& other) const;
    Decimal operator*(const Decimal& other) const;
    // Raises a division-by-zero Error when `other` is zero.
    Decimal operator/(const Decimal& other) const;

    // Rounds to `places` digits after the point, half away from zero (the database's ROUND).
    Decimal Round(int places) const;

    bool operator==(const Decimal& other) const noexcept;
    std::partial_ordering operator<=>(const Decimal& other) const noexcept;

private:
    // The 128-bit decimal encoding, kept opaque so that users of this header need not see
    // the arithmetic library's own headers.
    uint64_t w_[2];
};

}  // namespace orba::platform
