#include "facade/registration.h"

#include "data/data_trans.h"
#include "facade/bill_trans.h"
#include "host/library_objects.h"
#include "platform/dispatch.h"
#include "platform/registry.h"

namespace orba::facade {
namespace {

using platform::MakeRef;
using platform::Object;
using platform::Ref;

using MakeFn = Ref<Object> (*)();

Ref<Object> MakeBillTrans() { return Ref<Object>(MakeRef<BillTrans>()); }
Ref<Object> MakeDataTrans() { return Ref<Object>(MakeRef<data::DataTrans>()); }

MakeFn MakerFor(std::string_view prog_id) {
    if (platform::EqualsIgnoreCase(prog_id, kBillTransProgId)) return &MakeBillTrans;
    if (platform::EqualsIgnoreCase(prog_id, data::kDataTransProgId)) return &MakeDataTrans;
    return nullptr;
}

platform::ClassFactory FactoryFor(std::string_view prog_id) {
    MakeFn make = MakerFor(prog_id);
    return make ? platform::ClassFactory(make) : platform::ClassFactory();
}

// The registry outlives this library when a host unloads it: registrations that still lead
// into this library's code are taken out as it goes, so that a later request for one of its
// identifiers fails as "cannot create" instead of jumping into unmapped code. Registrations
// of anyone else under the same identifiers stay.
struct UnregisterOnUnload {
    ~UnregisterOnUnload() {
        for (auto id : {kBillTransProgId, data::kDataTransProgId}) {
            platform::ClassFactory current = platform::ClassRegistry::Instance().Factory(id);
            const MakeFn* target = current.target<MakeFn>();
            if (target && *target == MakerFor(id)) platform::ClassRegistry::Instance().Unregister(id);
        }
    }
};
const UnregisterOnUnload g_unregister_on_unload;

// The class factory a host asks for: CreateInstance makes a new object of its class.
class ClassFactoryObject : public platform::Dispatchable<ClassFactoryObject>, private host::LibraryObject {
public:
    explicit ClassFactoryObject(platform::ClassFactory make) : make_(std::move(make)) {}
    static const platform::MemberTable<ClassFactoryObject>& Members() {
        static const platform::MemberTable<ClassFactoryObject> table = [] {
            platform::MemberTable<ClassFactoryObject> t("ClassFactory");
            t.Method("CreateInstance", 0, 0,
                     [](ClassFactoryObject& f, platform::CallArgs&) { return platform::Variant(f.make_()); });
            return t;
        }();
        return table;
    }

private:
    platform::ClassFactory make_;
};

}  // namespace
}  // namespace orba::facade

using namespace orba;

int32_t OrbaBillTransmitRegister() {
    try {
        for (auto id : {facade::kBillTransProgId, data::kDataTransProgId}) {
            platform::ClassRegistry::Instance().Register(id, facade::FactoryFor(id));
        }
        return 0;
    } catch (...) {
        // The C interface: nothing may pass it; a failure is its return value.
        return 1;
    }
}

int32_t OrbaBillTransmitUnregister() {
    platform::ClassRegistry::Instance().Unregister(facade::kBillTransProgId);
    platform::ClassRegistry::Instance().Unregister(data::kDataTransProgId);
    return 0;
}

int32_t OrbaBillTransmitGetClassObject(const char* prog_id, platform::Object** factory) {
    if (prog_id == nullptr || factory == nullptr) return 1;
    auto make = facade::FactoryFor(prog_id);
    if (!make) return 1;
    *factory = platform::MakeRef<facade::ClassFactoryObject>(std::move(make)).Detach();
    return 0;
}

int32_t OrbaBillTransmitCanUnloadNow() { return host::LibraryObjectCount() == 0 ? 0 : 1; }
