#include "hostkit/hostkit.h"

#include "hostkit/share_props.h"
#include "platform/registry.h"

namespace orba::hostkit {

using platform::ClassRegistry;
using platform::MakeRef;
using platform::Object;
using platform::Ref;

namespace {

template <class T>
void RegisterClass(std::string_view prog_id) {
    ClassRegistry::Instance().Register(prog_id, [] { return Ref<Object>(MakeRef<T>()); });
}

constexpr std::string_view kProgIds[] = {kSharePropsProgId};

}  // namespace

void RegisterHostKit() { RegisterClass<ShareProps>(kSharePropsProgId); }

void UnregisterHostKit() {
    for (auto id : kProgIds) ClassRegistry::Instance().Unregister(id);
}

void SetLoginProperties(std::string_view props) {
    SharedPropertyStore::Instance().SetOwn("PropsString", platform::Variant(props));
}

}  // namespace orba::hostkit
