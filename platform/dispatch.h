// Late binding made practical: a per-class table of members reachable by name, checked
// argument access with errors that name the member, and short calls by name for callers.
#pragma once

#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/variant.h"

namespace orba::platform {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept;

// The arguments of one late-bound call, as the callee sees them. Converting accessors
// raise an Error that names the argument's position and the member.
class CallArgs {
public:
    CallArgs(std::string_view member, CallKind kind, std::span<Variant> args, size_t positional)
        : member_(member), kind_(kind), args_(args), positional_(positional) {}

    std::string_view Member() const { return member_; }
    CallKind Kind() const { return kind_; }
    // Positional arguments, not counting the value being assigned by a let or set.
    size_t Count() const { return positional_; }
    bool Has(size_t i) const { return i < positional_; }

    // The argument slot itself: writing to it writes back to the caller (by reference).
    Variant& operator[](size_t i) const { return args_[i]; }
    // The value being assigned by a property let or set.
    Variant& Assigned() const { return args_.back(); }

    Variant Value(size_t i) const;  // the plain value (an object's default value)
    std::string Text(size_t i) const;
    int32_t Long(size_t i) const;
    int16_t Integer(size_t i) const;
    bool Boolean(size_t i) const;
    double Double(size_t i) const;
    Ref<orba::platform::Object> Obj(size_t i) const;  // Nothing is allowed

    template <class T>
    Ref<T> ObjectAs(size_t i, std::string_view expected) const {
        Ref<orba::platform::Object> o = Obj(i);
        if (!o) return {};
        Ref<T> t = RefCast<T>(o);
        if (!t) ThrowWrongObject(i, expected, o->ClassName());
        return t;
    }

    // Wraps a conversion failure of argument i in an Error naming the argument and member.
    [[noreturn]] void Rethrow(size_t i, const Error& e) const;

private:
    [[noreturn]] void ThrowWrongObject(size_t i, std::string_view expected, std::string_view got) const;

    std::string_view member_;
    CallKind kind_;
    std::span<Variant> args_;
    size_t positional_;
};

// The members of one class, looked up by name without regard to case.
template <class T>
class MemberTable {
public:
    using Handler = std::function<Variant(T&, CallArgs&)>;

    explicit MemberTable(std::string_view class_name) : class_name_(class_name) {}

    // A method, also readable as a property (the caller cannot tell the two apart).
    MemberTable& Method(std::string_view name, size_t min_args, size_t max_args, Handler h) {
        return Add(name, kMethodOrGet, min_args, max_args, std::move(h));
    }
    MemberTable& Get(std::string_view name, size_t min_args, size_t max_args, Handler h) {
        return Add(name, kMethodOrGet, min_args, max_args, std::move(h));
    }
    // Assignments: the handler finds the new value in CallArgs::Assigned().
    MemberTable& Let(std::string_view name, size_t min_args, size_t max_args, Handler h) {
        return Add(name, static_cast<uint8_t>(CallKind::kLet), min_args, max_args, std::move(h));
    }
    MemberTable& Set(std::string_view name, size_t min_args, size_t max_args, Handler h) {
        return Add(name, static_cast<uint8_t>(CallKind::kSet), min_args, max_args, std::move(h));
    }

    Variant Invoke(T& self, std::string_view name, CallKind kind, std::span<Variant> args) const {
        const bool assigning = kind == CallKind::kLet || kind == CallKind::kSet;
        if (assigning && args.empty()) ThrowWrongCount(name);
        const size_t positional = assigning ? args.size() - 1 : args.size();
        bool known = false;
        for (const Entry& e : entries_) {
            if (!EqualsIgnoreCase(e.name, name)) continue;
            known = true;
            if (!(e.kinds & static_cast<uint8_t>(kind))) continue;
            if (positional < e.min_args || positional > e.max_args) ThrowWrongCount(e.name);
            CallArgs call(e.name, kind, args, positional);
            return e.handler(self, call);
        }
        if (known) ThrowWrongKind(name, kind);
        ThrowUnknown(class_name_, name);
    }

    std::string_view ClassName() const { return class_name_; }

private:
    static constexpr uint8_t kMethodOrGet =
        static_cast<uint8_t>(CallKind::kMethod) | static_cast<uint8_t>(CallKind::kGet);

    struct Entry {
        std::string name;
        uint8_t kinds;
        size_t min_args;
        size_t max_args;
        Handler handler;
    };

    MemberTable& Add(std::string_view name, uint8_t kinds, size_t min_args, size_t max_args, Handler h) {
        entries_.push_back(Entry{std::string(name), kinds, min_args, max_args, std::move(h)});
        return *this;
    }

    [[noreturn]] void ThrowWrongCount(std::string_view name) const;
    [[noreturn]] void ThrowWrongKind(std::string_view name, CallKind kind) const;
    [[noreturn]] static void ThrowUnknown(std::string_view class_name, std::string_view name);

    std::string class_name_;
    std::vector<Entry> entries_;
};

[[noreturn]] void ThrowWrongArgumentCount(std::string_view class_name, std::string_view member);
[[noreturn]] void ThrowWrongCallKind(std::string_view class_name, std::string_view member, CallKind kind);
[[noreturn]] void ThrowMemberNotFound(std::string_view class_name, std::string_view member);

template <class T>
void MemberTable<T>::ThrowWrongCount(std::string_view name) const {
    ThrowWrongArgumentCount(class_name_, name);
}
template <class T>
void MemberTable<T>::ThrowWrongKind(std::string_view name, CallKind kind) const {
    ThrowWrongCallKind(class_name_, name, kind);
}
template <class T>
void MemberTable<T>::ThrowUnknown(std::string_view class_name, std::string_view name) {
    ThrowMemberNotFound(class_name, name);
}

// Convenience base: a class with a static MemberTable only implements Members(). `Base` is
// Object or an interface derived from it.
template <class Derived, class Base = Object>
class Dispatchable : public Base {
public:
    Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) override {
        return Derived::Members().Invoke(static_cast<Derived&>(*this), name, kind, args);
    }
    std::string_view ClassName() const override { return Derived::Members().ClassName(); }
};

// Calls by name from the caller's side. Calling through Nothing raises "Object required".
// Arguments passed in a span are by reference: the callee's writes are visible afterwards.
Variant CallByName(const Ref<Object>& target, std::string_view name, CallKind kind, std::span<Variant> args);
Variant Call(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args = {});
Variant GetProperty(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args = {});
void LetProperty(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args, Variant value);
void SetProperty(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args, Ref<Object> value);

}  // namespace orba::platform
