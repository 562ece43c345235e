#include "platform/dispatch.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

#include "platform/containers.h"

namespace orba::platform {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    // Member names are ASCII; folding by hand spares a locale look-up per character, which
    // every call by name pays for each member it passes over.
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

void CallArgs::Rethrow(size_t i, const Error& e) const {
    throw Error(e.Number(), fmt::format("{} (argument {} of '{}')", e.Description(), i + 1, member_));
}

void CallArgs::ThrowWrongObject(size_t i, std::string_view expected, std::string_view got) const {
    throw Error(ErrorCode::kTypeMismatch,
                fmt::format("Type mismatch: argument {} of '{}' must be a {}, not a {}", i + 1, member_,
                            expected, got));
}

#define ORBA_CONVERT_ARG(expr)      \
    try {                           \
        return expr;                \
    } catch (const Error& e) {      \
        Rethrow(i, e);              \
    }

Variant CallArgs::Value(size_t i) const { ORBA_CONVERT_ARG(args_[i].Resolved()) }
std::string CallArgs::Text(size_t i) const { ORBA_CONVERT_ARG(args_[i].ToText()) }
int32_t CallArgs::Long(size_t i) const { ORBA_CONVERT_ARG(args_[i].ToLong()) }
int16_t CallArgs::Integer(size_t i) const { ORBA_CONVERT_ARG(args_[i].ToInteger()) }
bool CallArgs::Boolean(size_t i) const { ORBA_CONVERT_ARG(args_[i].ToBoolean()) }
double CallArgs::Double(size_t i) const { ORBA_CONVERT_ARG(args_[i].ToDouble()) }
Ref<Object> CallArgs::Obj(size_t i) const { ORBA_CONVERT_ARG(args_[i].ToObject()) }

#undef ORBA_CONVERT_ARG

void ThrowWrongArgumentCount(std::string_view class_name, std::string_view member) {
    throw Error(ErrorCode::kWrongArgumentCount,
                fmt::format("Wrong number of arguments or invalid property assignment: '{}' of {}",
                            member, class_name));
}

void ThrowWrongCallKind(std::string_view class_name, std::string_view member, CallKind kind) {
    std::string_view what = kind == CallKind::kLet   ? "assigned a value"
                            : kind == CallKind::kSet ? "assigned an object"
                                                     : "read or called";
    throw Error(ErrorCode::kWrongArgumentCount,
                fmt::format("Invalid property assignment: '{}' of {} cannot be {}", member, class_name, what));
}

void ThrowMemberNotFound(std::string_view class_name, std::string_view member) {
    throw Error(ErrorCode::kMemberNotFound,
                fmt::format("Object doesn't support this property or method: {} has no member '{}'",
                            class_name, member));
}

Variant ListStream::Invoke(std::string_view name, CallKind, std::span<Variant>) {
    ThrowMemberNotFound(ClassName(), name);
}

Variant CallByName(const Ref<Object>& target, std::string_view name, CallKind kind, std::span<Variant> args) {
    if (!target) {
        throw Error(ErrorCode::kObjectRequired,
                    fmt::format("Object required: '{}' was called on Nothing", name));
    }
    return target->Invoke(name, kind, args);
}

namespace {

// The arguments of a call by name, copied so that the callee may write to them: on the
// stack for the few arguments nearly every call has, on the heap beyond that.
class ArgumentCopy {
public:
    ArgumentCopy(std::initializer_list<Variant> args, size_t extra) : size_(args.size() + extra) {
        if (size_ > kInline) heap_.resize(size_);
        std::copy(args.begin(), args.end(), Data());
    }
    Variant* Data() { return size_ > kInline ? heap_.data() : inline_.data(); }
    Variant& Last() { return Data()[size_ - 1]; }
    std::span<Variant> Span() { return {Data(), size_}; }

private:
    static constexpr size_t kInline = 4;
    size_t size_;
    std::array<Variant, kInline> inline_;
    std::vector<Variant> heap_;
};

}  // namespace

Variant Call(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args) {
    ArgumentCopy copy(args, 0);
    return CallByName(target, name, CallKind::kMethod, copy.Span());
}

Variant GetProperty(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args) {
    ArgumentCopy copy(args, 0);
    return CallByName(target, name, CallKind::kGet, copy.Span());
}

void LetProperty(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args,
                 Variant value) {
    ArgumentCopy copy(args, 1);
    copy.Last() = std::move(value);
    CallByName(target, name, CallKind::kLet, copy.Span());
}

void SetProperty(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args,
                 Ref<Object> value) {
    ArgumentCopy copy(args, 1);
    copy.Last() = Variant(std::move(value));
    CallByName(target, name, CallKind::kSet, copy.Span());
}

}  // namespace orba::platform
