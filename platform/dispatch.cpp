#include "platform/dispatch.h"

#include <fmt/format.h>

#include <cctype>

namespace orba::platform {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
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

Variant CallByName(const Ref<Object>& target, std::string_view name, CallKind kind, std::span<Variant> args) {
    if (!target) {
        throw Error(ErrorCode::kObjectRequired,
                    fmt::format("Object required: '{}' was called on Nothing", name));
    }
    return target->Invoke(name, kind, args);
}

Variant Call(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args) {
    std::vector<Variant> copy(args);
    return CallByName(target, name, CallKind::kMethod, copy);
}

Variant GetProperty(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args) {
    std::vector<Variant> copy(args);
    return CallByName(target, name, CallKind::kGet, copy);
}

void LetProperty(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args,
                 Variant value) {
    std::vector<Variant> copy(args);
    copy.push_back(std::move(value));
    CallByName(target, name, CallKind::kLet, copy);
}

void SetProperty(const Ref<Object>& target, std::string_view name, std::initializer_list<Variant> args,
                 Ref<Object> value) {
    std::vector<Variant> copy(args);
    copy.emplace_back(std::move(value));
    CallByName(target, name, CallKind::kSet, copy);
}

}  // namespace orba::platform
