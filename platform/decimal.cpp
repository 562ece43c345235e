#include "platform/decimal.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/error.h"

extern "C" {
#include <bid_conf.h>
#include <bid_functions.h>
}

namespace orba::platform {
namespace {

BID_UINT128 Raw(const uint64_t (&w)[2]) {
    BID_UINT128 r;
    std::memcpy(&r, w, sizeof r);
    return r;
}

Decimal Wrap(BID_UINT128 raw) {
    Decimal d;
    static_assert(sizeof(Decimal) == sizeof(BID_UINT128));
    std::memcpy(static_cast<void*>(&d), &raw, sizeof raw);
    return d;
}

void CheckFinite(BID_UINT128 r) {
    if (!bid128_isFinite(r)) throw Error(ErrorCode::kOverflow, "Overflow: decimal result out of range");
}

// Decimal digits of the text form "[-]coefficient E exponent" that the library prints.
struct Parts {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

bool UnpackSmall(const BID_UINT128& r, Parts& p);

Parts Split(BID_UINT128 r) {
    Parts p;
    if (UnpackSmall(r, p)) return p;
    char buf[128];
    _IDEC_flags flags = 0;
    bid128_to_string(buf, r, &flags);
    const char* s = buf;
    if (*s == '-' || *s == '+') p.negative = (*s++ == '-');
    while (*s >= '0' && *s <= '9') p.digits.push_back(*s++);
    if (*s == 'E' || *s == 'e') p.exponent = std::atoi(s + 1);
    return p;
}

// Exact arithmetic on coefficients that fit in 64 bits, the common case for amounts, rates
// and quantities: the same results the arithmetic library gives (an exact result takes the
// exponent the decimal standard prefers), without its general 34-digit algorithms. Each
// returns false when the operands or the result are outside that case.
namespace fast {

__extension__ typedef unsigned __int128 u128;

constexpr uint64_t kSteering = 0x6000000000000000ull;  // both set: a special or wide form
constexpr uint64_t kSign = 0x8000000000000000ull;
constexpr int kExponentShift = 49;
constexpr uint64_t kExponentMask = 0x3FFF;
constexpr uint64_t kCoefficientHigh = 0x0001FFFFFFFFFFFFull;
constexpr int kMaxBiasedExponent = 12287;
constexpr int kBias = 6176;

constexpr u128 Pow10(int n) {
    u128 r = 1;
    while (n-- > 0) r *= 10;
    return r;
}
constexpr u128 kCoefficientLimit = Pow10(34);

struct Unpacked {
    bool negative;
    int exponent;  // biased
    uint64_t coefficient;
};

// The value's parts when it is finite and its coefficient fits in 64 bits.
bool Unpack(const BID_UINT128& r, Unpacked& out) {
    const uint64_t high = r.w[1];
    if ((high & kSteering) == kSteering || (high & kCoefficientHigh) != 0) return false;
    out.negative = (high & kSign) != 0;
    out.exponent = static_cast<int>((high >> kExponentShift) & kExponentMask);
    out.coefficient = r.w[0];
    return true;
}

bool Pack(bool negative, int exponent, u128 coefficient, BID_UINT128& out) {
    if (coefficient >= kCoefficientLimit || exponent < 0 || exponent > kMaxBiasedExponent) return false;
    out.w[0] = static_cast<uint64_t>(coefficient);
    out.w[1] = (negative ? kSign : 0) | (static_cast<uint64_t>(exponent) << kExponentShift) |
               static_cast<uint64_t>(coefficient >> 64);
    return true;
}

bool Multiply(const BID_UINT128& a, const BID_UINT128& b, BID_UINT128& out) {
    Unpacked x, y;
    if (!Unpack(a, x) || !Unpack(b, y)) return false;
    return Pack(x.negative != y.negative, x.exponent + y.exponent - kBias,
                static_cast<u128>(x.coefficient) * y.coefficient, out);
}

bool Add(const BID_UINT128& a, const BID_UINT128& b, bool subtract, BID_UINT128& out) {
    Unpacked x, y;
    if (!Unpack(a, x) || !Unpack(b, y)) return false;
    if (subtract) y.negative = !y.negative;
    // Both coefficients at the smaller exponent, which is the result's.
    if (x.exponent < y.exponent) std::swap(x, y);
    const int shift = x.exponent - y.exponent;
    if (shift > 19) return false;
    const u128 cx = static_cast<u128>(x.coefficient) * static_cast<uint64_t>(Pow10(shift));
    const u128 cy = y.coefficient;
    if (x.negative == y.negative) return Pack(x.negative, y.exponent, cx + cy, out);
    if (cx == cy) return Pack(false, y.exponent, 0, out);  // x - x is +0 when rounding to nearest
    return cx > cy ? Pack(x.negative, y.exponent, cx - cy, out) : Pack(y.negative, y.exponent, cy - cx, out);
}

// An exact quotient only; one that needs rounding is left to the library.
bool Divide(const BID_UINT128& a, const BID_UINT128& b, BID_UINT128& out) {
    Unpacked x, y;
    if (!Unpack(a, x) || !Unpack(b, y) || y.coefficient == 0) return false;
    // The exponent closest to the preferred one (x's less y's) at which the quotient is exact.
    u128 dividend = x.coefficient;
    for (int extra = 0; extra <= 19; ++extra, dividend *= 10) {
        if (dividend % y.coefficient == 0) {
            return Pack(x.negative != y.negative, x.exponent - y.exponent + kBias - extra,
                        dividend / y.coefficient, out);
        }
    }
    return false;
}

}  // namespace fast

// The digits of a value whose coefficient fits in 64 bits, without the library's text form.
bool UnpackSmall(const BID_UINT128& r, Parts& p) {
    fast::Unpacked u;
    if (!fast::Unpack(r, u)) return false;
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, u.coefficient).ptr;
    p.negative = u.negative;
    p.digits.assign(digits, end);
    p.exponent = u.exponent - fast::kBias;
    return true;
}

// Reads the text as TryParse describes; with `exact`, a value the library would round (too
// many digits, or beyond the exponent's range) is refused instead.
std::optional<Decimal> ReadDecimal(std::string_view text, bool exact) noexcept {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    std::string_view t = text.substr(b, e - b);
    // Validate the grammar ourselves: the library's reader accepts words like "Inf".
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t int_digits = 0, frac_digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++int_digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++frac_digits;
    }
    if (int_digits + frac_digits == 0) return std::nullopt;
    const bool exponent = i < t.size() && (t[i] == 'e' || t[i] == 'E');
    if (exponent) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        size_t exp_digits = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++exp_digits;
        if (exp_digits == 0 || exp_digits > 5) return std::nullopt;
    }
    if (i != t.size()) return std::nullopt;
    if (!exponent && int_digits + frac_digits <= 19) {
        // No exponent and at most 19 digits: the digits are the coefficient, exactly.
        uint64_t coefficient = 0;
        for (char c : t) {
            if (c >= '0' && c <= '9') coefficient = coefficient * 10 + static_cast<uint64_t>(c - '0');
        }
        BID_UINT128 r;
        if (fast::Pack(t[0] == '-', fast::kBias - static_cast<int>(frac_digits), coefficient, r)) return Wrap(r);
    }
    std::string copy(t);
    _IDEC_flags flags = 0;
    BID_UINT128 r = bid128_from_string(copy.data(), BID_ROUNDING_TO_NEAREST, &flags);
    if (!bid128_isFinite(r) || (exact && (flags & BID_INEXACT_EXCEPTION))) return std::nullopt;
    return Wrap(r);
}

}  // namespace

Decimal::Decimal() noexcept : Decimal(int64_t{0}) {}

Decimal::Decimal(int64_t value) noexcept {
    BID_UINT128 r = bid128_from_int64(value);
    std::memcpy(w_, &r, sizeof r);
}

std::optional<Decimal> Decimal::TryParse(std::string_view text) noexcept {
    return ReadDecimal(text, false);
}

std::optional<Decimal> Decimal::TryParseExact(std::string_view text) noexcept {
    return ReadDecimal(text, true);
}

Decimal Decimal::Parse(std::string_view text) {
    if (auto d = TryParse(text)) return *d;
    throw Error(ErrorCode::kTypeMismatch, fmt::format("Type mismatch: '{}' is not a number", text));
}

Decimal Decimal::FromDouble(double value) {
    if (!std::isfinite(value)) throw Error(ErrorCode::kOverflow, "Overflow: the number is not finite");
    // Most values read from a database have a few decimals: when value x 10^k is a whole
    // number below 10^15, that number with k decimals is the value's 15-digit form, found
    // without printing and parsing text.
    constexpr double kLimit = 1e15;
    double scale = 1;
    for (int k = 0; k <= 15 && std::fabs(value) * scale < kLimit; ++k, scale *= 10) {
        const double scaled = value * scale;
        if (scaled == std::nearbyint(scaled)) {
            _IDEC_flags flags = 0;
            BID_UINT128 whole = bid128_from_int64(static_cast<int64_t>(scaled));
            return Wrap(bid128_scalbn(whole, -k, BID_ROUNDING_TO_NEAREST, &flags));
        }
    }
    return Parse(fmt::format("{:.15g}", value));
}

std::string Decimal::ToString() const {
    Parts p = Split(Raw(w_));
    // Drop trailing zeros of the coefficient; they only record the scale it was made with.
    while (p.digits.size() > 1 && p.digits.back() == '0') {
        p.digits.pop_back();
        ++p.exponent;
    }
    if (p.digits.empty() || p.digits == "0") return "0";
    std::string out;
    if (p.negative) out.push_back('-');
    const int n = static_cast<int>(p.digits.size());
    if (p.exponent >= 0) {
        out += p.digits;
        out.append(static_cast<size_t>(p.exponent), '0');
    } else if (-p.exponent < n) {
        out.append(p.digits, 0, static_cast<size_t>(n + p.exponent));
        out.push_back('.');
        out.append(p.digits, static_cast<size_t>(n + p.exponent), std::string::npos);
    } else {
        out += "0.";
        out.append(static_cast<size_t>(-p.exponent - n), '0');
        out += p.digits;
    }
    return out;
}

double Decimal::ToDouble() const noexcept {
    _IDEC_flags flags = 0;
    return bid128_to_binary64(Raw(w_), BID_ROUNDING_TO_NEAREST, &flags);
}

std::optional<int64_t> Decimal::ToInt64() const noexcept {
    _IDEC_flags flags = 0;
    BID_SINT64 v = bid128_to_int64_rnint(Raw(w_), &flags);
    if (flags & BID_INVALID_EXCEPTION) return std::nullopt;
    return v;
}

bool Decimal::IsZero() const noexcept { return bid128_isZero(Raw(w_)); }
bool Decimal::IsNegative() const noexcept { return bid128_isSigned(Raw(w_)) && !IsZero(); }

Decimal Decimal::operator-() const noexcept { return Wrap(bid128_negate(Raw(w_))); }

Decimal Decimal::operator+(const Decimal& o) const {
    const BID_UINT128 x = Raw(w_), y = Raw(o.w_);
    BID_UINT128 r;
    if (fast::Add(x, y, false, r)) return Wrap(r);
    _IDEC_flags flags = 0;
    r = bid128_add(x, y, BID_ROUNDING_TO_NEAREST, &flags);
    CheckFinite(r);
    return Wrap(r);
}

Decimal Decimal::operator-(const Decimal& o) const {
    const BID_UINT128 x = Raw(w_), y = Raw(o.w_);
    BID_UINT128 r;
    if (fast::Add(x, y, true, r)) return Wrap(r);
    _IDEC_flags flags = 0;
    r = bid128_sub(x, y, BID_ROUNDING_TO_NEAREST, &flags);
    CheckFinite(r);
    return Wrap(r);
}

Decimal Decimal::operator*(const Decimal& o) const {
    const BID_UINT128 x = Raw(w_), y = Raw(o.w_);
    BID_UINT128 r;
    if (fast::Multiply(x, y, r)) return Wrap(r);
    _IDEC_flags flags = 0;
    r = bid128_mul(x, y, BID_ROUNDING_TO_NEAREST, &flags);
    CheckFinite(r);
    return Wrap(r);
}

Decimal Decimal::operator/(const Decimal& o) const {
    if (o.IsZero()) throw Error(ErrorCode::kDivisionByZero, "Division by zero");
    const BID_UINT128 x = Raw(w_), y = Raw(o.w_);
    BID_UINT128 r;
    if (fast::Divide(x, y, r)) return Wrap(r);
    _IDEC_flags flags = 0;
    r = bid128_div(x, y, BID_ROUNDING_TO_NEAREST, &flags);
    CheckFinite(r);
    return Wrap(r);
}

Decimal Decimal::Round(int places) const {
    _IDEC_flags flags = 0;
    BID_UINT128 x = Raw(w_);
    BID_UINT128 scaled = bid128_scalbn(x, places, BID_ROUNDING_TO_NEAREST, &flags);
    BID_UINT128 rounded = bid128_round_integral_nearest_away(scaled, &flags);
    BID_UINT128 r = bid128_scalbn(rounded, -places, BID_ROUNDING_TO_NEAREST, &flags);
    CheckFinite(r);
    return Wrap(r);
}

bool Decimal::operator==(const Decimal& o) const noexcept {
    _IDEC_flags flags = 0;
    return bid128_quiet_equal(Raw(w_), Raw(o.w_), &flags);
}

std::partial_ordering Decimal::operator<=>(const Decimal& o) const noexcept {
    _IDEC_flags flags = 0;
    if (bid128_quiet_equal(Raw(w_), Raw(o.w_), &flags)) return std::partial_ordering::equivalent;
    if (bid128_quiet_less(Raw(w_), Raw(o.w_), &flags)) return std::partial_ordering::less;
    if (bid128_quiet_greater(Raw(w_), Raw(o.w_), &flags)) return std::partial_ordering::greater;
    return std::partial_ordering::unordered;
}

}  // namespace orba::platform
