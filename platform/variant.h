// The one value type that crosses component boundaries: Empty, Null, Boolean, Integer
// (16-bit), Long (32-bit), Double, Decimal, Date, String (UTF-8) or Object, with the
// conversion and arithmetic rules that the host language gives its variants.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "platform/date.h"
#include "platform/decimal.h"
#include "platform/object.h"

namespace orba::platform {

enum class VarType : uint8_t {
    kEmpty,
    kNull,
    kBoolean,
    kInteger,
    kLong,
    kDouble,
    kDecimal,
    kDate,
    kString,
    kObject,
};

// The type's name as error messages and the JSON codec show it ("Long", "String", ...).
std::string_view VarTypeName(VarType type);

class Variant {
public:
    struct NullValue {};

    Variant() noexcept = default;  // Empty
    Variant(NullValue) noexcept : v_(NullValue{}) {}
    Variant(bool b) noexcept : v_(b) {}
    Variant(int16_t i) noexcept : v_(i) {}
    Variant(int32_t l) noexcept : v_(l) {}
    Variant(double d) noexcept : v_(d) {}
    Variant(const Decimal& d) noexcept : v_(d) {}
    Variant(const Date& d) noexcept : v_(d) {}
    Variant(std::string s) noexcept : v_(std::move(s)) {}
    Variant(std::string_view s) : v_(std::string(s)) {}
    Variant(const char* s) : v_(std::string(s)) {}
    Variant(Ref<Object> o) noexcept : v_(std::move(o)) {}
    template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
    Variant(Ref<T> o) noexcept : v_(Ref<Object>(std::move(o))) {}
    // Not a value: catch accidental 64-bit integers and pointers at compile time.
    Variant(int64_t) = delete;
    Variant(const void*) = delete;

    static Variant Null() noexcept { return Variant(NullValue{}); }
    static Variant Nothing() noexcept { return Variant(Ref<Object>()); }

    VarType Type() const noexcept { return static_cast<VarType>(v_.index()); }
    std::string_view TypeName() const { return VarTypeName(Type()); }
    bool IsEmpty() const noexcept { return Type() == VarType::kEmpty; }
    bool IsNull() const noexcept { return Type() == VarType::kNull; }
    bool IsObject() const noexcept { return Type() == VarType::kObject; }
    bool IsNothing() const noexcept { return IsObject() && !AsObject(); }
    bool IsString() const noexcept { return Type() == VarType::kString; }
    bool IsNumeric() const noexcept;  // Integer, Long, Double or Decimal

    // Direct access to the stored kind; the caller has checked Type().
    bool AsBoolean() const { return std::get<bool>(v_); }
    int16_t AsInteger() const { return std::get<int16_t>(v_); }
    int32_t AsLong() const { return std::get<int32_t>(v_); }
    double AsDouble() const { return std::get<double>(v_); }
    const Decimal& AsDecimal() const { return std::get<Decimal>(v_); }
    const Date& AsDate() const { return std::get<Date>(v_); }
    const std::string& AsString() const { return std::get<std::string>(v_); }
    std::string& AsString() { return std::get<std::string>(v_); }
    const Ref<Object>& AsObject() const { return std::get<Ref<Object>>(v_); }

    // Conversions. Null raises "Invalid use of Null" except where a rule says otherwise; an
    // Object converts through its default member; what cannot convert raises a type
    // mismatch, and what does not fit raises an overflow.
    std::string ToText() const;       // plain numbers, Decimal without exponent or trailing zeros
    int32_t ToLong() const;           // rounds half to even
    int16_t ToInteger() const;        // rounds half to even
    bool ToBoolean() const;           // "True"/"False" in any case, numbers true when not zero
    double ToDouble() const;
    Decimal ToDecimal() const;
    Date ToDate() const;
    Ref<Object> ToObject() const;     // "Object required" unless this holds an object (or Nothing)

    // The plain value: for an Object, its default member's value; otherwise itself.
    Variant Resolved() const;

    // Same kind and same value (objects: same object). Used by tests and containers.
    friend bool operator==(const Variant& a, const Variant& b);

private:
    std::variant<std::monostate, NullValue, bool, int16_t, int32_t, double, Decimal, Date,
                 std::string, Ref<Object>>
        v_;
};

inline bool operator==(const Variant::NullValue&, const Variant::NullValue&) { return true; }

// The object a variant holds, as a T; Nothing when it holds no object or one of another class.
template <class T>
Ref<T> ObjectAs(const Variant& value) {
    return value.IsObject() ? RefCast<T>(value.AsObject()) : Ref<T>();
}

// Arithmetic with the host language's rules: a Null operand gives Null; Empty counts as 0;
// Decimal wins over Double, Double over the integers; integer results widen from Integer to
// Long to Double instead of overflowing; Divide always gives Double (Decimal when one side
// is Decimal); dividing by zero raises an Error. Add of two Strings concatenates.
Variant Add(const Variant& a, const Variant& b);
Variant Subtract(const Variant& a, const Variant& b);
Variant Multiply(const Variant& a, const Variant& b);
Variant Divide(const Variant& a, const Variant& b);
Variant Negate(const Variant& a);

// The leading numeric part of a text ("12.5kg" gives 12.5), 0 when there is none.
double Val(std::string_view text);

}  // namespace orba::platform
