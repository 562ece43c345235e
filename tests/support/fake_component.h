// A stand-in for an outside component: a test gives it the members it needs on the spot
// and afterwards reads which calls reached it, with the arguments as they arrived.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/object.h"
#include "platform/registry.h"
#include "platform/variant.h"

namespace orba::testing {

class FakeComponent : public platform::Object {
  public:
    // Receives the call's arguments as the caller passed them; writing to one writes back
    // to the caller, as an argument by reference does.
    using Handler = std::function<platform::Variant(std::span<platform::Variant> args)>;

    struct CallRecord {
        std::string member;
        platform::CallKind kind;
        std::vector<platform::Variant> args;  // as they arrived, before the handler ran
    };

    explicit FakeComponent(std::string class_name = "FakeComponent")
        : class_name_(std::move(class_name)) {}

    // Answers `member` (any case, any call kind) with `handler`.
    FakeComponent& On(std::string_view member, Handler handler);
    const std::vector<CallRecord>& Calls() const { return calls_; }

    platform::Variant Invoke(std::string_view name, platform::CallKind kind,
                             std::span<platform::Variant> args) override;
    std::string_view ClassName() const override { return class_name_; }

  private:
    std::string class_name_;
    std::vector<std::pair<std::string, Handler>> members_;
    std::vector<CallRecord> calls_;
};

// Puts `component` behind `prog_id` for the guard's lifetime: every creation hands out
// that same object, so the test can look at its calls afterwards.
class ScopedFakeComponent {
  public:
    ScopedFakeComponent(std::string_view prog_id, platform::Ref<FakeComponent> component);
    FakeComponent& operator*() const { return *component_; }
    FakeComponent* operator->() const { return component_.Get(); }

  private:
    platform::Ref<FakeComponent> component_;
    platform::ScopedClassRegistration registration_;
};

}  // namespace orba::testing
