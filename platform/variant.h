// The one value type that crosses component boundaries: Empty, Null, Boolean, Integer
// (16-bit), Long (32-bit), Double, Decimal, Date, String (UTF-8) or Object, with the
// conversion and arithmetic rules that the host language gives its variants.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

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

// 24 bytes: a 22-byte payload, the length of a short text, and the kind. Decimal, Date and
// the numbers sit in the payload; a text of up to 22 bytes is kept in it too, and a longer
// one in a shared block that copies of the value point at, so the records of a large list
// stay small and copying a value never copies its text.
class Variant {
public:
    struct NullValue {};

    Variant() noexcept = default;  // Empty
    Variant(NullValue) noexcept : type_(VarType::kNull) {}
    Variant(bool b) noexcept : type_(VarType::kBoolean) { Put(b); }
    Variant(int16_t i) noexcept : type_(VarType::kInteger) { Put(i); }
    Variant(int32_t l) noexcept : type_(VarType::kLong) { Put(l); }
    Variant(double d) noexcept : type_(VarType::kDouble) { Put(d); }
    Variant(const Decimal& d) noexcept : type_(VarType::kDecimal) { Put(d); }
    Variant(const Date& d) noexcept : type_(VarType::kDate) { Put(d); }
    Variant(const std::string& s) : Variant(std::string_view(s)) {}
    Variant(std::string_view s) : type_(VarType::kString) { SetText(s); }
    Variant(const char* s) : Variant(std::string_view(s)) {}
    Variant(Ref<Object> o) noexcept : type_(VarType::kObject) { new (raw_) Ref<Object>(std::move(o)); }
    template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
    Variant(Ref<T> o) noexcept : Variant(Ref<Object>(std::move(o))) {}
    // Not a value: catch accidental 64-bit integers and pointers at compile time.
    Variant(int64_t) = delete;
    Variant(const void*) = delete;

    Variant(const Variant& other) noexcept : Variant(other, Copying{}) {}
    Variant(Variant&& other) noexcept {
        std::memcpy(static_cast<void*>(this), &other, sizeof *this);
        other.type_ = VarType::kEmpty;
    }
    Variant& operator=(const Variant& other) noexcept {
        Variant copy(other);
        return *this = std::move(copy);
    }
    Variant& operator=(Variant&& other) noexcept {
        // Taken out of `other` before this value lets go of what it holds, which may own `other`.
        alignas(8) unsigned char taken[sizeof *this];
        std::memcpy(taken, static_cast<const void*>(&other), sizeof *this);
        other.type_ = VarType::kEmpty;
        Release();
        std::memcpy(static_cast<void*>(this), taken, sizeof *this);
        return *this;
    }
    ~Variant() { Release(); }

    static Variant Null() noexcept { return Variant(NullValue{}); }
    static Variant Nothing() noexcept { return Variant(Ref<Object>()); }

    VarType Type() const noexcept { return type_; }
    std::string_view TypeName() const { return VarTypeName(Type()); }
    bool IsEmpty() const noexcept { return Type() == VarType::kEmpty; }
    bool IsNull() const noexcept { return Type() == VarType::kNull; }
    bool IsObject() const noexcept { return Type() == VarType::kObject; }
    bool IsNothing() const noexcept { return IsObject() && !AsObject(); }
    bool IsString() const noexcept { return Type() == VarType::kString; }
    bool IsNumeric() const noexcept;  // Integer, Long, Double or Decimal

    // Direct access to the stored kind; the caller has checked Type() (a wrong kind raises
    // a type-mismatch Error rather than reading another kind's bytes).
    bool AsBoolean() const { return Get<bool>(VarType::kBoolean); }
    int16_t AsInteger() const { return Get<int16_t>(VarType::kInteger); }
    int32_t AsLong() const { return Get<int32_t>(VarType::kLong); }
    double AsDouble() const { return Get<double>(VarType::kDouble); }
    const Decimal& AsDecimal() const { return Stored<Decimal>(VarType::kDecimal); }
    const Date& AsDate() const { return Stored<Date>(VarType::kDate); }
    std::string_view AsString() const {
        Check(VarType::kString);
        if (text_size_ != kLongText) return {reinterpret_cast<const char*>(raw_), text_size_};
        const LongText* t = Long();
        return {t->Chars(), t->size};
    }
    const Ref<Object>& AsObject() const { return Stored<Ref<Object>>(VarType::kObject); }

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
    struct Copying {};
    // A text longer than the payload: one block, shared by the copies of a value.
    // The text's bytes (and a closing zero) follow the block.
    struct LongText {
        std::atomic<uint32_t> refs;
        size_t size;
        const char* Chars() const noexcept { return reinterpret_cast<const char*>(this + 1); }
    };
    static constexpr size_t kPayload = 22;
    static constexpr uint8_t kLongText = 0xFF;

    Variant(const Variant& other, Copying) noexcept {
        std::memcpy(static_cast<void*>(this), &other, sizeof *this);
        if (type_ == VarType::kString && text_size_ == kLongText) {
            Long()->refs.fetch_add(1, std::memory_order_relaxed);
        } else if (type_ == VarType::kObject) {
            if (Object* o = AsObject().Get()) o->AddRef();
        }
    }

    template <class T>
    void Put(const T& value) noexcept {
        static_assert(sizeof(T) <= 16 && std::is_trivially_copyable_v<T>);
        new (raw_) T(value);
    }
    template <class T>
    const T& Stored(VarType kind) const {
        Check(kind);
        return *std::launder(reinterpret_cast<const T*>(raw_));
    }
    template <class T>
    T Get(VarType kind) const {
        return Stored<T>(kind);
    }
    void Check(VarType kind) const {
        if (type_ != kind) WrongKind(kind);
    }
    [[noreturn]] void WrongKind(VarType wanted) const;
    LongText* Long() const noexcept {
        LongText* t;
        std::memcpy(&t, raw_, sizeof t);
        return t;
    }
    void SetText(std::string_view s);
    void Release() noexcept {
        if (type_ == VarType::kString) {
            if (text_size_ == kLongText) ReleaseText(Long());
        } else if (type_ == VarType::kObject) {
            std::launder(reinterpret_cast<Ref<Object>*>(raw_))->~Ref<Object>();
        }
    }
    static void ReleaseText(LongText* t) noexcept;

    alignas(8) unsigned char raw_[kPayload];
    uint8_t text_size_ = 0;  // a short text's length, or kLongText
    VarType type_ = VarType::kEmpty;
};

static_assert(sizeof(Variant) == 24);

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
