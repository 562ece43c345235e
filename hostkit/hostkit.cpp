#include "hostkit/hostkit.h"

#include "hostkit/app_connection.h"
#include "hostkit/assistant.h"
#include "hostkit/bill_viewer.h"
#include "hostkit/list_control.h"
#include "hostkit/local_system_db.h"
#include "hostkit/pub_func.h"
#include "hostkit/save_data.h"
#include "hostkit/share_props.h"
#include "hostkit/sys_info.h"
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

}  // namespace

void RegisterHostKit() {
    RegisterClass<ShareProps>(kSharePropsProgId);
    RegisterClass<AppConnection>(kAppConnectionProgId);
    RegisterClass<SysInfo>(kSysInfoProgId);
    RegisterClass<PubFunc>(kPubFuncProgId);
    RegisterClass<SaveData>(kSaveDataProgId);
    RegisterClass<Assistant>(kAssistantProgId);
    RegisterClass<UtilityApp>(kUtilityAppProgId);
    RegisterClass<ListControl>(kListControlProgId);
    RegisterClass<BillViewer>(kBillViewerProgId);
    RegisterLocalDatabaseProvider();
}

void UnregisterHostKit() {
    for (auto id : kProgIds) ClassRegistry::Instance().Unregister(id);
    UnregisterLocalDatabaseProvider();
}

void SetLoginProperties(std::string_view props) {
    SharedPropertyStore::Instance().SetOwn("PropsString", platform::Variant(props));
}

}  // namespace orba::hostkit
