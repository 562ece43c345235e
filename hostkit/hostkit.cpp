#include "hostkit/hostkit.h"

#include "hostkit/app_connection.h"
#include "hostkit/windows/assistant.h"
#include "hostkit/components/local_system_db.h"
#include "hostkit/components/pub_func.h"
#include "hostkit/save_data.h"
#include "hostkit/components/share_props.h"
#include "hostkit/sys_info.h"
#include "hostkit/windows/window_components.h"
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

constexpr std::string_view kProgIds[] = {kSharePropsProgId, kAppConnectionProgId, kSysInfoProgId, kPubFuncProgId, kSaveDataProgId,
                                         kAssistantProgId, kUtilityAppProgId, kListControlProgId,
                                         kBillViewerProgId};

// The window components are made by their module, loaded when the first one is created.
void RegisterWindowClass(std::string_view prog_id) {
    ClassRegistry::Instance().Register(prog_id, [prog_id] { return CreateWindowComponent(prog_id); });
}

}  // namespace

void RegisterHostKit() {
    RegisterClass<ShareProps>(kSharePropsProgId);
    RegisterClass<AppConnection>(kAppConnectionProgId);
    RegisterClass<SysInfo>(kSysInfoProgId);
    RegisterClass<PubFunc>(kPubFuncProgId);
    RegisterClass<SaveData>(kSaveDataProgId);
    RegisterClass<Assistant>(kAssistantProgId);
    RegisterClass<UtilityApp>(kUtilityAppProgId);
    RegisterWindowClass(kListControlProgId);
    RegisterWindowClass(kBillViewerProgId);
    RegisterLocalDatabaseProvider();
}

void UnregisterHostKit() {
    for (auto id : kProgIds) ClassRegistry::Instance().Unregister(id);
    UnregisterLocalDatabaseProvider();
}

void SetLoginProperties(std::string_view props) {
    SharedPropertyStore::Instance().SetOwn("PropsString", platform::Variant(props));
}

struct LoginScope::Value {
    SharedPropertyStore::ThreadValue value;
};

LoginScope::LoginScope(std::string_view props)
    : value_(new Value{SharedPropertyStore::ThreadValue("PropsString", platform::Variant(props))}) {}

LoginScope::~LoginScope() = default;

}  // namespace orba::hostkit
