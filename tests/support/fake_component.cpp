#include "tests/support/fake_component.h"

#include "platform/dispatch.h"

namespace orba::testing {

using platform::Variant;

FakeComponent& FakeComponent::On(std::string_view member, Handler handler) {
    members_.emplace_back(std::string(member), std::move(handler));
    return *this;
}

Variant FakeComponent::Invoke(std::string_view name, platform::CallKind kind,
                              std::span<Variant> args) {
    for (auto& [member, handler] : members_) {
        if (!platform::EqualsIgnoreCase(member, name)) continue;
        calls_.push_back(CallRecord{member, kind, std::vector<Variant>(args.begin(), args.end())});
        return handler(args);
    }
    platform::ThrowMemberNotFound(class_name_, name);
}

ScopedFakeComponent::ScopedFakeComponent(std::string_view prog_id,
                                         platform::Ref<FakeComponent> component)
    : component_(std::move(component)),
      registration_(prog_id, [c = component_] { return platform::Ref<platform::Object>(c); }) {}

}  // namespace orba::testing
