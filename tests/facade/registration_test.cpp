// The library as a host process finds it: loaded from its file with dlopen, its entry
// points looked up by name, its classes registered, created by identifier and called by name.
#include "facade/registration.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "data/data_trans.h"
#include "facade/bill_trans.h"
#include "host/library_objects.h"
#include "platform/dispatch.h"
#include "platform/module_dir.h"
#include "platform/registry.h"
#include "support/branch_env.h"
#include "support/exchange_records.h"

namespace orba::facade {
namespace {

using platform::ClassRegistry;
using platform::Object;
using platform::Ref;
using platform::Variant;

using RegisterFn = int32_t (*)();
using GetClassObjectFn = int32_t (*)(const char*, Object**);

class LoadedLibrary {
public:
    LoadedLibrary() {
        const std::filesystem::path dir =
            platform::ModuleDirectory(reinterpret_cast<const void*>(&OrbaBillTransmitCanUnloadNow));
        path_ = dir / "libOrbaBillTransmit.so";
        handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ~LoadedLibrary() {
        if (handle_) dlclose(handle_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    void* Handle() const { return handle_; }
    const std::filesystem::path& Path() const { return path_; }
    template <class Fn>
    Fn Find(const char* name) const {
        return reinterpret_cast<Fn>(dlsym(handle_, name));
    }

private:
    std::filesystem::path path_;
    void* handle_ = nullptr;
};

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library_.Handle()) << library_.Path() << ": " << dlerror();
        register_ = library_.Find<RegisterFn>("OrbaBillTransmitRegister");
        unregister_ = library_.Find<RegisterFn>("OrbaBillTransmitUnregister");
        get_class_object_ = library_.Find<GetClassObjectFn>("OrbaBillTransmitGetClassObject");
        can_unload_ = library_.Find<RegisterFn>("OrbaBillTransmitCanUnloadNow");
        ASSERT_TRUE(register_ && unregister_ && get_class_object_ && can_unload_) << "an entry point is missing";
    }
    void TearDown() override { register_(); }  // leave the classes registered for other tests

    testing::BranchEnv env_;  // host kit, a database and login properties for the connection
    LoadedLibrary library_;
    RegisterFn register_ = nullptr;
    RegisterFn unregister_ = nullptr;
    GetClassObjectFn get_class_object_ = nullptr;
    RegisterFn can_unload_ = nullptr;
};

TEST_F(RegistrationTest, RegisteredClassesAreCreatedByIdentifierAndCalledByName) {
    ASSERT_EQ(unregister_(), 0);
    EXPECT_FALSE(ClassRegistry::Instance().IsRegistered(kBillTransProgId));
    EXPECT_FALSE(ClassRegistry::Instance().IsRegistered(data::kDataTransProgId));
    EXPECT_THROW(platform::CreateObject(kBillTransProgId), platform::Error);

    ASSERT_EQ(register_(), 0);
    ASSERT_EQ(can_unload_(), 0);
    {
        Ref<Object> trans = platform::CreateObject("orbabilltransmit.billtrans");  // identifiers ignore case
        ASSERT_TRUE(trans);
        EXPECT_EQ(trans->ClassName(), "BillTrans");
        EXPECT_EQ(can_unload_(), 1);
        Variant list = platform::Call(trans, "PackageBills", {Variant(Ref<Object>(testing::Requests({}))),
                                                              Variant(Ref<Object>(testing::BranchRecord("01.002", "B")))});
        ASSERT_TRUE(list.IsObject());
        EXPECT_EQ(platform::GetProperty(list.AsObject(), "UpperBound").ToLong(), 0);
        Variant answer = platform::Call(trans, "UnPackageBills", {Variant(Ref<Object>(testing::List({})))});
        EXPECT_EQ(platform::GetProperty(answer.AsObject(), "Value", {Variant("RtnMsg")}).ToText(), "\r\n");

        Ref<Object> data = platform::CreateObject(data::kDataTransProgId);
        EXPECT_EQ(data->ClassName(), "DataTrans");
        // A transaction type with no summary gives Nothing without touching the database.
        EXPECT_TRUE(platform::Call(data, "GetBillInfo", {Variant(int32_t{70}), Variant(int32_t{1})}).IsNothing());
        EXPECT_THROW(platform::Call(data, "NoSuchMember"), platform::Error);
    }
    EXPECT_EQ(can_unload_(), 0);
}

TEST_F(RegistrationTest, ClassObjectsAreHandedOutForTheLibrarysIdentifiersOnly) {
    ASSERT_EQ(can_unload_(), 0);
    for (std::string_view id : {kBillTransProgId, data::kDataTransProgId}) {
        SCOPED_TRACE(id);
        Object* raw = nullptr;
        ASSERT_EQ(get_class_object_(std::string(id).c_str(), &raw), 0);
        ASSERT_NE(raw, nullptr);
        Ref<Object> factory(raw);
        raw->Release();  // the entry point handed over its own reference
        EXPECT_EQ(can_unload_(), 1);  // a class object keeps the library loaded
        Variant made = platform::Call(factory, "CreateInstance");
        ASSERT_TRUE(made.IsObject());
        ASSERT_TRUE(made.AsObject());
        EXPECT_EQ(made.AsObject()->ClassName(), id.substr(id.find('.') + 1));
        factory.Reset();
        EXPECT_EQ(can_unload_(), 1);  // the object made still lives
        made = Variant();
        EXPECT_EQ(can_unload_(), 0);
    }

    Object* untouched = reinterpret_cast<Object*>(0x1);
    EXPECT_EQ(get_class_object_("OrbaBillTransmit.NoSuchClass", &untouched), 1);
    EXPECT_EQ(untouched, reinterpret_cast<Object*>(0x1));
    EXPECT_EQ(get_class_object_(nullptr, &untouched), 1);
    EXPECT_EQ(get_class_object_(std::string(kBillTransProgId).c_str(), nullptr), 1);
    EXPECT_EQ(can_unload_(), 0);
}

// A host that asks whether the library may go, hears yes and unloads it must not be left
// with identifiers that lead into code that is gone. A second copy of the library file is
// loaded, so that closing it really unmaps it while this program keeps its own copy.
TEST_F(RegistrationTest, UnloadingTheLibraryTakesItsClassesOutOfTheRegistry) {
    testing::TempDir dir;
    const std::filesystem::path copy = dir / "libOrbaBillTransmit.so";
    std::filesystem::copy_file(library_.Path(), copy);
    EXPECT_EXIT(
        {
            void* handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) _exit(10);
            auto reg = reinterpret_cast<RegisterFn>(dlsym(handle, "OrbaBillTransmitRegister"));
            auto can_unload = reinterpret_cast<RegisterFn>(dlsym(handle, "OrbaBillTransmitCanUnloadNow"));
            if (!reg || !can_unload || reg() != 0) _exit(11);
            { Ref<Object> made = platform::CreateObject(data::kDataTransProgId); }
            if (can_unload() != 0) _exit(12);
            dlclose(handle);
            try {
                platform::CreateObject(data::kDataTransProgId);
                _exit(13);  // made by code that is no longer there
            } catch (const platform::Error& e) {
                _exit(e.Code() == platform::ErrorCode::kCannotCreateObject &&
                              !ClassRegistry::Instance().IsRegistered(kBillTransProgId)
                          ? 0
                          : 14);
            }
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace orba::facade
