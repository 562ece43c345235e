// Reference-counted objects that answer late-bound member access by name, the way the host
// application and its components call each other: create by identifier, call by name.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

namespace orba::platform {

class Variant;

class RefCounted {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    void AddRef() const noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
    void Release() const noexcept {
        if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    int32_t RefCount() const noexcept { return count_.load(std::memory_order_relaxed); }

protected:
    virtual ~RefCounted() = default;

private:
    mutable std::atomic<int32_t> count_{0};
};

// Owning reference; an empty Ref is "Nothing".
template <class T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}  // NOLINT
    explicit Ref(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    Ref(const Ref& o) noexcept : Ref(o.p_) {}
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(const Ref<U>& o) noexcept : Ref(static_cast<T*>(o.Get())) {}  // NOLINT
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(Ref<U>&& o) noexcept : p_(o.Detach()) {}  // NOLINT
    ~Ref() {
        if (p_) p_->Release();
    }
    Ref& operator=(Ref o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    bool IsNothing() const noexcept { return p_ == nullptr; }
    T* Detach() noexcept { return std::exchange(p_, nullptr); }
    void Reset() noexcept { Ref().swap(*this); }
    void swap(Ref& o) noexcept { std::swap(p_, o.p_); }

    friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }

private:
    T* p_ = nullptr;
};

template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
    return Ref<T>(new T(std::forward<Args>(args)...));
}

// Checked down-cast; Nothing when the object is not a T.
template <class T, class U>
Ref<T> RefCast(const Ref<U>& r) noexcept {
    return Ref<T>(dynamic_cast<T*>(r.Get()));
}

// How a member is reached. A method call and a property read are interchangeable for the
// caller (both return a value); a property write stores a plain value (let) or an object
// reference (set).
enum class CallKind : uint8_t { kMethod = 1, kGet = 2, kLet = 4, kSet = 8 };

class Object : public RefCounted {
public:
    // Calls the member `name` (case-insensitive). `args` are the arguments in order; a
    // callee may write to them, which the caller sees (arguments by reference). For kLet and
    // kSet the value being assigned is the last element. Raises an Error naming the member
    // when it is unknown, or when the count or a kind of its arguments is wrong.
    virtual Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) = 0;

    // The name shown in error messages.
    virtual std::string_view ClassName() const = 0;
};

}  // namespace orba::platform
