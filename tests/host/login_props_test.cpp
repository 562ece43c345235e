// The login property string: parsing it, reading parsed values, fetching it from the shared
// property store, and reading a system option with its fallback.
#include "host/login_props.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "hostkit/hostkit.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "tests/support/fake_component.h"
#include "support/error_of.h"

namespace orba::host {
namespace {

using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Variant;
using testing::FakeComponent;
using testing::ScopedFakeComponent;

using orba::testing::CodeOf;

// Takes a class out of the registry for the guard's lifetime, putting it back afterwards.
class ScopedAbsentClass {
  public:
    explicit ScopedAbsentClass(std::string_view prog_id)
        : prog_id_(prog_id), previous_(platform::ClassRegistry::Instance().Factory(prog_id)) {
        platform::ClassRegistry::Instance().Unregister(prog_id);
    }
    ~ScopedAbsentClass() {
        if (previous_) platform::ClassRegistry::Instance().Register(prog_id_, previous_);
    }

  private:
    std::string prog_id_;
    platform::ClassFactory previous_;
};

// Each expected pair as key and value; `absent` lists keys that must not be there.
struct ParseCase {
    const char* props;
    std::vector<std::pair<const char*, const char*>> pairs;
    std::vector<const char*> absent;
};

TEST(ParseProps, ReadsPairsBracesAndOddEndings) {
    const std::vector<ParseCase> cases = {
        {"UserName= Li ;UserID=12;DB={a;b};",
         {{"UserName", "Li"}, {"UserID", "12"}, {"DB", "a;b"}},
         {}},
        {" AcctDB = {Data Source=branch-a.db; Mode=rw} ; UserName=Li",
         {{"AcctDB", "Data Source=branch-a.db; Mode=rw"}, {"UserName", "Li"}},
         {}},
        {"A=1;B", {{"A", "1"}, {"B", ""}}, {}},
        {"=x;B=2", {}, {"B", ""}},
        {"K={v}junk;L=3", {{"K", "v"}, {"L", "3"}}, {"junk"}},
        {"K={abc", {{"K", "abc"}}, {}},
        {"K={ padded }", {{"K", "padded"}}, {}},
        {"A=x=y;B=", {{"A", "x=y"}, {"B", ""}}, {}},
        {"", {}, {"", "A"}},
        {"   ", {}, {""}},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(ParseProps(c.props)) << c.props;
        for (const auto& [key, value] : c.pairs) {
            EXPECT_EQ(GetProp(key), value) << c.props << " key " << key;
        }
        for (const char* key : c.absent) {
            EXPECT_EQ(CodeOf([&] { GetProp(key); }), ErrorCode::kItemNotFound)
                << c.props << " key " << key;
        }
    }
}

TEST(ParseProps, KeysIgnoreCase) {
    ParseProps("UserName=Li;AcctDB={x}");
    EXPECT_EQ(GetProp("username"), "Li");
    EXPECT_EQ(GetProp("ACCTDB"), "x");
}

TEST(ParseProps, AKeyGivenTwiceInAnotherCaseIsRefused) {
    std::string why;
    EXPECT_EQ(CodeOf([&] { ParseProps("UserID=1;userid=2;After=3"); }, &why),
              ErrorCode::kInvalidProcedureCall);
    EXPECT_NE(why.find("userid"), std::string::npos) << why;
    // The parse stopped at the duplicate: what came before it stays, what followed is absent.
    EXPECT_EQ(GetProp("UserID"), "1");
    EXPECT_EQ(CodeOf([&] { GetProp("After"); }), ErrorCode::kItemNotFound);
}

TEST(ParseProps, EachParseReplacesTheLast) {
    ParseProps("Old=1");
    ParseProps("New=2");
    EXPECT_EQ(GetProp("New"), "2");
    std::string why;
    EXPECT_EQ(CodeOf([&] { GetProp("Old"); }, &why), ErrorCode::kItemNotFound);
    EXPECT_NE(why.find("Old"), std::string::npos) << why;
}

TEST(LoginProps, UserIdentity) {
    ParseProps("UserName=Li Wei;UserID= 12 ");
    EXPECT_EQ(GetUserName(), "Li Wei");
    EXPECT_EQ(GetUserID(), 12);
    ParseProps("UserName=Li;UserID=twelve");
    EXPECT_EQ(CodeOf([] { GetUserID(); }), ErrorCode::kTypeMismatch);
    ParseProps("UserID=70000");
    EXPECT_EQ(CodeOf([] { GetUserID(); }), ErrorCode::kOverflow);
    ParseProps("UserName=Li");
    EXPECT_EQ(CodeOf([] { GetUserID(); }), ErrorCode::kItemNotFound);
}

// GetProp needs a parse first; a fresh process is the only place where none happened yet.
TEST(LoginPropsDeathTest, GetPropBeforeAnyParseFails) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            try {
                GetProp("UserName");
            } catch (const Error& e) {
                std::exit(e.Code() == ErrorCode::kObjectRequired ? 0 : 2);
            }
            std::exit(1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(LoginProps, PropsStringComesFromTheSharedStore) {
    hostkit::RegisterHostKit();
    hostkit::SetLoginProperties("AcctDB={Data Source=branch-a.db};UserName=Li;UserID=12");
    EXPECT_EQ(GetPropsString(), "AcctDB={Data Source=branch-a.db};UserName=Li;UserID=12");
    // Never cached: a new login shows at once.
    hostkit::SetLoginProperties("UserName=Wang");
    EXPECT_EQ(GetPropsString(), "UserName=Wang");
    EXPECT_EQ(GetShareProp("propsstring"), Variant("UserName=Wang"));
    EXPECT_EQ(CodeOf([] { GetShareProp("NoSuchProperty"); }), ErrorCode::kNotFound);
}

TEST(LoginProps, SharedStoreIsAskedForThisProcess) {
    auto store = MakeRef<FakeComponent>("ShareProps");
    store->On("GetProperty", [](std::span<Variant>) { return Variant("UserName=Fake"); });
    ScopedFakeComponent scope(kSharePropsProgId, store);
    EXPECT_EQ(GetPropsString(), "UserName=Fake");
    ASSERT_EQ(scope->Calls().size(), 1u);
    const auto& args = scope->Calls()[0].args;
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[0].Type(), platform::VarType::kLong);
    EXPECT_EQ(args[0].AsLong(), static_cast<int32_t>(getpid()));
    EXPECT_EQ(args[1], Variant("PropsString"));
}

TEST(GetSysOption, ReturnsTheComponentsValueAsText) {
    hostkit::RegisterHostKit();
    hostkit::SetLoginProperties("UserName=Li;UserID=12");
    auto info = MakeRef<FakeComponent>("SysInfo");
    info->On("GetSysValue", [](std::span<Variant>) { return Variant(true); });
    ScopedFakeComponent scope(kSysInfoProgId, info);
    EXPECT_EQ(GetSysOption("IC", "POOrderTaxInPrice", "False"), "True");
    ASSERT_EQ(scope->Calls().size(), 1u);
    const auto& args = scope->Calls()[0].args;
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[0], Variant("UserName=Li;UserID=12"));
    EXPECT_EQ(args[1], Variant("IC"));
    EXPECT_EQ(args[2], Variant("POOrderTaxInPrice"));
}

TEST(GetSysOption, FallsBackWhenAnythingFails) {
    hostkit::RegisterHostKit();
    hostkit::SetLoginProperties("UserName=Li");
    {
        ScopedAbsentClass absent(kSysInfoProgId);
        EXPECT_EQ(GetSysOption("IC", "POOrderTaxInPrice", "False"), "False");
    }
    struct Case {
        const char* what;
        FakeComponent::Handler handler;
    };
    const std::vector<Case> cases = {
        {"raises",
         [](std::span<Variant>) -> Variant {
             throw Error(ErrorCode::kNotFound, "no such option");
         }},
        {"answers Null", [](std::span<Variant>) { return Variant::Null(); }},
        {"answers an object",
         [](std::span<Variant>) {
             return Variant(platform::Ref<platform::Object>(MakeRef<FakeComponent>()));
         }},
    };
    for (const auto& c : cases) {
        auto info = MakeRef<FakeComponent>("SysInfo");
        info->On("GetSysValue", c.handler);
        ScopedFakeComponent scope(kSysInfoProgId, info);
        EXPECT_EQ(GetSysOption("IC", "BrID", "7"), "7") << c.what;
    }
    {
        // A component without the member is a failure like any other.
        ScopedFakeComponent scope(kSysInfoProgId, MakeRef<FakeComponent>("SysInfo"));
        EXPECT_EQ(GetSysOption("IC", "BrID", "7"), "7");
    }
    {
        // Without a login property string there is nothing to ask with.
        auto info = MakeRef<FakeComponent>("SysInfo");
        info->On("GetSysValue", [](std::span<Variant>) { return Variant("1"); });
        ScopedFakeComponent sys(kSysInfoProgId, info);
        ScopedAbsentClass no_store(kSharePropsProgId);
        EXPECT_EQ(GetSysOption("IC", "BrID", "7"), "7");
        EXPECT_TRUE(sys->Calls().empty());
    }
}

}  // namespace
}  // namespace orba::host
