#include "platform/variant.h"

#include <fmt/format.h>

#include <cctype>
#include <cstddef>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/error.h"
#include "platform/text.h"

namespace orba::platform {
namespace {

[[noreturn]] void ThrowNull() { throw Error(ErrorCode::kInvalidUseOfNull, "Invalid use of Null"); }

[[noreturn]] void ThrowMismatch(const Variant& v, std::string_view target) {
    std::string shown;
    if (v.IsString()) {
        shown = fmt::format(" '{}'", v.AsString());
    } else if (!v.IsObject() && !v.IsEmpty()) {
        shown = fmt::format(" {}", v.ToText());
    }
    throw Error(ErrorCode::kTypeMismatch,
                fmt::format("Type mismatch: cannot convert {}{} to {}", v.TypeName(), shown, target));
}

[[noreturn]] void ThrowOverflow(std::string_view target) {
    throw Error(ErrorCode::kOverflow, fmt::format("Overflow: the value does not fit in {}", target));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Text that is a whole number in plain or exponent form; used for String to number.
bool ParseNumberText(std::string_view text, double& out) {
    std::string_view t = Trim(text);
    if (t.empty()) return false;
    auto dec = Decimal::TryParse(t);
    if (!dec) return false;
    out = std::strtod(std::string(t).c_str(), nullptr);
    return true;
}

// Plain text of a double: up to 15 significant digits (what a double holds reliably) and
// never an exponent, so that amounts read the way a user writes them.
std::string DoubleText(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    if (d == 0) return "0";
    return Decimal::FromDouble(d).ToString();
}

int64_t RoundHalfEven(double d, std::string_view target, int64_t lo, int64_t hi) {
    if (!std::isfinite(d)) ThrowOverflow(target);
    double r = std::nearbyint(d);  // the default rounding mode rounds half to even
    if (r < static_cast<double>(lo) || r > static_cast<double>(hi)) ThrowOverflow(target);
    return static_cast<int64_t>(r);
}

int64_t ToInt64InRange(const Variant& v, std::string_view target, int64_t lo, int64_t hi) {
    switch (v.Type()) {
        case VarType::kEmpty: return 0;
        case VarType::kNull: ThrowNull();
        case VarType::kBoolean: return v.AsBoolean() ? -1 : 0;
        case VarType::kInteger: return v.AsInteger();
        case VarType::kLong:
            if (v.AsLong() < lo || v.AsLong() > hi) ThrowOverflow(target);
            return v.AsLong();
        case VarType::kDouble: return RoundHalfEven(v.AsDouble(), target, lo, hi);
        case VarType::kDecimal: {
            auto r = v.AsDecimal().ToInt64();
            if (!r || *r < lo || *r > hi) ThrowOverflow(target);
            return *r;
        }
        case VarType::kDate: return RoundHalfEven(v.AsDate().ToSerial(), target, lo, hi);
        case VarType::kString: {
            auto dec = Decimal::TryParse(Trim(v.AsString()));
            if (!dec) ThrowMismatch(v, target);
            auto r = dec->ToInt64();
            if (!r || *r < lo || *r > hi) ThrowOverflow(target);
            return *r;
        }
        case VarType::kObject: return ToInt64InRange(v.Resolved(), target, lo, hi);
    }
    ThrowMismatch(v, target);
}

// The kind an arithmetic result takes from its two operands.
enum class Rank { kInteger, kLong, kDouble, kDecimal };

Rank RankOf(const Variant& v) {
    switch (v.Type()) {
        case VarType::kEmpty:
        case VarType::kBoolean:
        case VarType::kInteger: return Rank::kInteger;
        case VarType::kLong: return Rank::kLong;
        case VarType::kDecimal: return Rank::kDecimal;
        default: return Rank::kDouble;  // Double, Date, numeric String
    }
}

Variant FromInt64(int64_t r, Rank rank) {
    if (rank == Rank::kInteger && r >= INT16_MIN && r <= INT16_MAX) return Variant(static_cast<int16_t>(r));
    if (r >= INT32_MIN && r <= INT32_MAX) return Variant(static_cast<int32_t>(r));
    return Variant(static_cast<double>(r));
}

enum class Op { kAdd, kSub, kMul, kDiv };

Variant Arith(const Variant& a0, const Variant& b0, Op op) {
    if (a0.Type() == VarType::kDecimal && b0.Type() == VarType::kDecimal) {
        // Amounts and rates read from the database: no conversion to decide on.
        const Decimal& x = a0.AsDecimal();
        const Decimal& y = b0.AsDecimal();
        switch (op) {
            case Op::kAdd: return Variant(x + y);
            case Op::kSub: return Variant(x - y);
            case Op::kMul: return Variant(x * y);
            case Op::kDiv: return Variant(x / y);
        }
    }
    const Variant a = a0.Resolved();
    const Variant b = b0.Resolved();
    if (a.IsNull() || b.IsNull()) return Variant::Null();
    if (op == Op::kAdd && a.IsString() && b.IsString()) return Variant(std::string(a.AsString()).append(b.AsString()));
    for (const Variant* v : {&a, &b}) {
        if (v->IsObject()) throw Error(ErrorCode::kTypeMismatch, "Type mismatch: an object is not a number");
        if (v->IsString()) {
            double ignored;
            if (!ParseNumberText(v->AsString(), ignored)) ThrowMismatch(*v, "a number");
        }
    }
    Rank rank = std::max(RankOf(a), RankOf(b));
    if (rank == Rank::kDecimal) {
        Decimal x = a.ToDecimal(), y = b.ToDecimal();
        switch (op) {
            case Op::kAdd: return Variant(x + y);
            case Op::kSub: return Variant(x - y);
            case Op::kMul: return Variant(x * y);
            case Op::kDiv: return Variant(x / y);
        }
    }
    if (rank == Rank::kDouble || op == Op::kDiv) {
        double x = a.ToDouble(), y = b.ToDouble();
        switch (op) {
            case Op::kAdd: return Variant(x + y);
            case Op::kSub: return Variant(x - y);
            case Op::kMul: return Variant(x * y);
            case Op::kDiv:
                if (y == 0) throw Error(ErrorCode::kDivisionByZero, "Division by zero");
                return Variant(x / y);
        }
    }
    int64_t x = a.ToLong(), y = b.ToLong();
    switch (op) {
        case Op::kAdd: return FromInt64(x + y, rank);
        case Op::kSub: return FromInt64(x - y, rank);
        case Op::kMul: return FromInt64(x * y, rank);
        case Op::kDiv: break;
    }
    return Variant();
}

}  // namespace

std::string_view VarTypeName(VarType type) {
    switch (type) {
        case VarType::kEmpty: return "Empty";
        case VarType::kNull: return "Null";
        case VarType::kBoolean: return "Boolean";
        case VarType::kInteger: return "Integer";
        case VarType::kLong: return "Long";
        case VarType::kDouble: return "Double";
        case VarType::kDecimal: return "Decimal";
        case VarType::kDate: return "Date";
        case VarType::kString: return "String";
        case VarType::kObject: return "Object";
    }
    return "?";
}

bool Variant::IsNumeric() const noexcept {
    switch (Type()) {
        case VarType::kInteger:
        case VarType::kLong:
        case VarType::kDouble:
        case VarType::kDecimal: return true;
        default: return false;
    }
}

Variant Variant::Resolved() const {
    if (!IsObject()) return *this;
    const Ref<Object>& o = AsObject();
    if (!o) throw Error(ErrorCode::kObjectRequired, "Object required: the object variable is Nothing");
    Variant r = o->Invoke("", CallKind::kGet, {});
    if (r.IsObject()) {
        throw Error(ErrorCode::kTypeMismatch,
                    fmt::format("Type mismatch: {} has no plain default value", o->ClassName()));
    }
    return r;
}

std::string Variant::ToText() const {
    switch (Type()) {
        case VarType::kEmpty: return {};
        case VarType::kNull: ThrowNull();
        case VarType::kBoolean: return AsBoolean() ? "True" : "False";
        case VarType::kInteger: return std::to_string(AsInteger());
        case VarType::kLong: return std::to_string(AsLong());
        case VarType::kDouble: return DoubleText(AsDouble());
        case VarType::kDecimal: return AsDecimal().ToString();
        case VarType::kDate: return AsDate().ToString();
        case VarType::kString: return std::string(AsString());
        case VarType::kObject: return Resolved().ToText();
    }
    return {};
}

int32_t Variant::ToLong() const {
    return static_cast<int32_t>(ToInt64InRange(*this, "a Long", INT32_MIN, INT32_MAX));
}

int16_t Variant::ToInteger() const {
    return static_cast<int16_t>(ToInt64InRange(*this, "an Integer", INT16_MIN, INT16_MAX));
}

bool Variant::ToBoolean() const {
    switch (Type()) {
        case VarType::kEmpty: return false;
        case VarType::kNull: ThrowNull();
        case VarType::kBoolean: return AsBoolean();
        case VarType::kInteger: return AsInteger() != 0;
        case VarType::kLong: return AsLong() != 0;
        case VarType::kDouble: return AsDouble() != 0;
        case VarType::kDecimal: return !AsDecimal().IsZero();
        case VarType::kDate: return AsDate().ToSerial() != 0;
        case VarType::kString: {
            std::string_view t = Trim(AsString());
            if (EqualsNoCase(t, "True")) return true;
            if (EqualsNoCase(t, "False")) return false;
            double d;
            if (ParseNumberText(t, d)) return d != 0;
            ThrowMismatch(*this, "a Boolean");
        }
        case VarType::kObject: return Resolved().ToBoolean();
    }
    return false;
}

double Variant::ToDouble() const {
    switch (Type()) {
        case VarType::kEmpty: return 0;
        case VarType::kNull: ThrowNull();
        case VarType::kBoolean: return AsBoolean() ? -1 : 0;
        case VarType::kInteger: return AsInteger();
        case VarType::kLong: return AsLong();
        case VarType::kDouble: return AsDouble();
        case VarType::kDecimal: return AsDecimal().ToDouble();
        case VarType::kDate: return AsDate().ToSerial();
        case VarType::kString: {
            double d;
            if (!ParseNumberText(AsString(), d)) ThrowMismatch(*this, "a Double");
            // Text such as "1e400" is a number, but none that a Double can hold.
            if (!std::isfinite(d)) ThrowOverflow("a Double");
            return d;
        }
        case VarType::kObject: return Resolved().ToDouble();
    }
    return 0;
}

Decimal Variant::ToDecimal() const {
    switch (Type()) {
        case VarType::kEmpty: return Decimal();
        case VarType::kNull: ThrowNull();
        case VarType::kBoolean: return Decimal(AsBoolean() ? -1 : 0);
        case VarType::kInteger: return Decimal(AsInteger());
        case VarType::kLong: return Decimal(AsLong());
        case VarType::kDouble: return Decimal::FromDouble(AsDouble());
        case VarType::kDecimal: return AsDecimal();
        case VarType::kDate: return Decimal::FromDouble(AsDate().ToSerial());
        case VarType::kString: {
            auto d = Decimal::TryParse(AsString());
            if (!d) ThrowMismatch(*this, "a Decimal");
            return *d;
        }
        case VarType::kObject: return Resolved().ToDecimal();
    }
    return Decimal();
}

Date Variant::ToDate() const {
    switch (Type()) {
        case VarType::kNull: ThrowNull();
        case VarType::kDate: return AsDate();
        case VarType::kEmpty: return Date();
        case VarType::kInteger:
        case VarType::kLong:
        case VarType::kDouble:
        case VarType::kDecimal: return Date::FromSerial(ToDouble());
        case VarType::kString: {
            auto d = Date::TryParse(AsString());
            if (!d) ThrowMismatch(*this, "a Date");
            return *d;
        }
        case VarType::kObject: return Resolved().ToDate();
        default: ThrowMismatch(*this, "a Date");
    }
}

Ref<Object> Variant::ToObject() const {
    if (!IsObject()) {
        throw Error(ErrorCode::kObjectRequired,
                    fmt::format("Object required: found a {} instead of an object", TypeName()));
    }
    return AsObject();
}

void Variant::SetText(std::string_view s) {
    if (s.size() <= kPayload) {
        if (!s.empty()) std::memcpy(raw_, s.data(), s.size());
        text_size_ = static_cast<uint8_t>(s.size());
        return;
    }
    void* block = ::operator new(sizeof(LongText) + s.size() + 1);
    auto* t = new (block) LongText{{1}, s.size()};
    char* chars = static_cast<char*>(block) + sizeof(LongText);
    std::memcpy(chars, s.data(), s.size());
    chars[s.size()] = '\0';
    std::memcpy(raw_, &t, sizeof t);
    text_size_ = kLongText;
}

void Variant::ReleaseText(LongText* t) noexcept {
    if (t->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        t->~LongText();
        ::operator delete(t);
    }
}

void Variant::WrongKind(VarType wanted) const {
    throw Error(ErrorCode::kTypeMismatch,
                fmt::format("Type mismatch: a {} value read as a {}", TypeName(), VarTypeName(wanted)));
}

bool operator==(const Variant& a, const Variant& b) {
    if (a.Type() != b.Type()) return false;
    switch (a.Type()) {
        case VarType::kEmpty:
        case VarType::kNull: return true;
        case VarType::kBoolean: return a.AsBoolean() == b.AsBoolean();
        case VarType::kInteger: return a.AsInteger() == b.AsInteger();
        case VarType::kLong: return a.AsLong() == b.AsLong();
        case VarType::kDouble: return a.AsDouble() == b.AsDouble();
        case VarType::kDecimal: return a.AsDecimal() == b.AsDecimal();
        case VarType::kDate: return a.AsDate() == b.AsDate();
        case VarType::kString: return a.AsString() == b.AsString();
        case VarType::kObject: return a.AsObject() == b.AsObject();
    }
    return false;
}

Variant Add(const Variant& a, const Variant& b) { return Arith(a, b, Op::kAdd); }
Variant Subtract(const Variant& a, const Variant& b) { return Arith(a, b, Op::kSub); }
Variant Multiply(const Variant& a, const Variant& b) { return Arith(a, b, Op::kMul); }
Variant Divide(const Variant& a, const Variant& b) { return Arith(a, b, Op::kDiv); }

Variant Negate(const Variant& a0) {
    const Variant a = a0.Resolved();
    switch (a.Type()) {
        case VarType::kNull: return a;
        case VarType::kEmpty: return Variant(int16_t{0});
        case VarType::kBoolean:
        case VarType::kInteger: return FromInt64(-int64_t{a.ToInteger()}, Rank::kInteger);
        case VarType::kLong: return FromInt64(-int64_t{a.AsLong()}, Rank::kLong);
        case VarType::kDecimal: return Variant(-a.AsDecimal());
        default: return Variant(-a.ToDouble());
    }
}

double Val(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.push_back(text[i++]);
    bool digits = false;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) number.push_back(text[i++]), digits = true;
    if (i < text.size() && text[i] == '.') {
        number.push_back(text[i++]);
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) number.push_back(text[i++]), digits = true;
    }
    if (!digits) return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent.push_back(text[j++]);
        size_t start = j;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) exponent.push_back(text[j++]);
        if (j > start) number += exponent;
    }
    return std::strtod(number.c_str(), nullptr);
}

}  // namespace orba::platform
