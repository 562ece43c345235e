// The smaller host-kit components: the function library's null substitution, the shared
// property store, registration of the kit, and reading the login property string.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "hostkit/app_connection.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/components/pub_func.h"
#include "hostkit/save_data.h"
#include "hostkit/components/share_props.h"
#include "hostkit/sys_info.h"
#include "platform/error.h"
#include "platform/recordset.h"
#include "platform/registry.h"
#include "support/error_of.h"
#include "support/variant_print.h"

namespace orba::hostkit {
namespace {

using platform::Call;
using platform::CreateObject;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;

using orba::testing::ErrorOf;

// ---- null substitution -------------------------------------------------------------------

TEST(PubFuncIsNull, GivesTheDefaultForNullOnly) {
    RegisterHostKit();
    auto library = CreateObject(kPubFuncProgId);
    struct Case {
        Variant value, fallback, expected;
    };
    const Case cases[] = {
        {Variant::Null(), Variant(""), Variant("")},
        {Variant::Null(), Variant(int32_t{0}), Variant(int32_t{0})},
        {Variant::Null(), Variant::Null(), Variant::Null()},
        {Variant("text"), Variant(""), Variant("text")},
        {Variant(""), Variant("x"), Variant("")},                          // empty text is a value
        {Variant(int32_t{0}), Variant(int32_t{5}), Variant(int32_t{0})},   // so is zero
        {Variant(), Variant("x"), Variant()},                              // and Empty
        {Variant(platform::Decimal::Parse("2.50")), Variant(int32_t{0}), Variant(platform::Decimal::Parse("2.5"))},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Call(library, "IsNull", {c.value, c.fallback}), c.expected)
            << c.value.TypeName() << " / " << c.fallback.TypeName();
    }
    EXPECT_EQ(ErrorOf([&] { Call(library, "IsNull", {Variant::Null()}); }).Code(), ErrorCode::kWrongArgumentCount);
}

// The library hands it record fields: the field's value counts, not the field object.
TEST(PubFuncIsNull, ReadsARecordFieldsValue) {
    RegisterHostKit();
    auto rows = MakeRef<platform::RecordSet>(
        std::vector<platform::FieldInfo>{{"FNote"}, {"FQty"}},
        std::vector<Variant>{Variant::Null(), Variant(int32_t{3}), Variant("urgent"), Variant::Null()});
    auto library = CreateObject(kPubFuncProgId);
    auto field = [&](const char* name) { return platform::GetProperty(rows, "Fields", {Variant(name)}); };

    EXPECT_EQ(Call(library, "IsNull", {field("FNote"), Variant("")}), Variant(""));
    EXPECT_EQ(Call(library, "IsNull", {field("FQty"), Variant(int32_t{0})}), Variant(int32_t{3}));
    rows->MoveNext();
    EXPECT_EQ(Call(library, "IsNull", {field("FNote"), Variant("")}), Variant("urgent"));
    EXPECT_EQ(Call(library, "IsNull", {field("FQty"), Variant(int32_t{0})}), Variant(int32_t{0}));
}

// ---- shared property store ---------------------------------------------------------------

class SharePropsTest : public ::testing::Test {
protected:
    // Process ids no real process of this test has.
    static constexpr int32_t kHost = 2000000001;
    static constexpr int32_t kOther = 2000000002;

    void SetUp() override { RegisterHostKit(); }
    void TearDown() override {
        SharedPropertyStore::Instance().Clear(kHost);
        SharedPropertyStore::Instance().Clear(kOther);
    }
    Ref<platform::Object> store_ = (RegisterHostKit(), CreateObject(kSharePropsProgId));
};

TEST_F(SharePropsTest, PropertiesBelongToTheirProcess) {
    Call(store_, "SetProperty", {Variant(kHost), Variant("PropsString"), Variant("AcctDB={Data Source=a.db}")});
    Call(store_, "SetProperty", {Variant(kOther), Variant("PropsString"), Variant("AcctDB={Data Source=b.db}")});
    EXPECT_EQ(Call(store_, "GetProperty", {Variant(kHost), Variant("PropsString")}),
              Variant("AcctDB={Data Source=a.db}"));
    EXPECT_EQ(Call(store_, "GetProperty", {Variant(kOther), Variant("propsstring")}),  // names ignore case
              Variant("AcctDB={Data Source=b.db}"));
    // A process id as text, as a host may hold it.
    EXPECT_EQ(Call(store_, "GetProperty", {Variant(std::to_string(kHost)), Variant("PROPSSTRING")}),
              Variant("AcctDB={Data Source=a.db}"));

    // Setting again replaces; the value keeps its kind.
    Call(store_, "SetProperty", {Variant(kHost), Variant("propsString"), Variant(int32_t{12})});
    EXPECT_EQ(Call(store_, "GetProperty", {Variant(kHost), Variant("PropsString")}), Variant(int32_t{12}));

    // An object is kept as that object.
    auto held = MakeRef<platform::RecordSet>();
    Call(store_, "SetProperty", {Variant(kHost), Variant("Connection"), Variant(held)});
    const Variant back = Call(store_, "GetProperty", {Variant(kHost), Variant("Connection")});
    ASSERT_TRUE(back.IsObject());
    EXPECT_EQ(back.AsObject().Get(), held.Get());
}

TEST_F(SharePropsTest, UnknownPropertyIsAnErrorNamingIt) {
    Call(store_, "SetProperty", {Variant(kHost), Variant("PropsString"), Variant("x")});
    struct Case {
        int32_t process;
        const char* name;
    };
    for (const Case& c : {Case{kHost, "UserName"}, Case{kOther, "PropsString"}}) {
        const Error e = ErrorOf([&] { Call(store_, "GetProperty", {Variant(c.process), Variant(c.name)}); });
        EXPECT_EQ(e.Code(), ErrorCode::kNotFound);
        EXPECT_NE(e.Description().find(std::string("'") + c.name + "'"), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find(std::to_string(c.process)), std::string::npos) << e.Description();
    }
    SharedPropertyStore::Instance().Clear(kHost);
    EXPECT_EQ(ErrorOf([&] { Call(store_, "GetProperty", {Variant(kHost), Variant("PropsString")}); }).Code(),
              ErrorCode::kNotFound);
}

TEST_F(SharePropsTest, LoginPropertiesOfThisProcessAreWhatComponentsRead) {
    const int32_t own = SharedPropertyStore::CurrentProcessId();
    const std::string props = MakeLoginProperties("/data/branch-a.db", "Li", 12);
    SetLoginProperties(props);
    EXPECT_EQ(Call(store_, "GetProperty", {Variant(own), Variant("PropsString")}), Variant(props));
    EXPECT_EQ(CurrentLoginProperties(), props);
    EXPECT_EQ(AccountDatabasePath(CurrentLoginProperties()), "/data/branch-a.db");
}

// ---- registration ------------------------------------------------------------------------

TEST(HostKitRegistration, RegistersEachComponentAndRemovesThemAgain) {
    struct Component {
        std::string_view prog_id;
        std::string_view class_name;
    };
    const Component components[] = {{kAppConnectionProgId, "AppConnection"},
                                    {kSysInfoProgId, "SysInfo"},
                                    {kPubFuncProgId, "PubFunc"},
                                    {kSharePropsProgId, "ShareProps"},
                                    {kSaveDataProgId, "SaveData"}};
    auto& registry = platform::ClassRegistry::Instance();
    // Whatever happens below, later tests find the kit registered.
    struct Restore {
        ~Restore() { RegisterHostKit(); }
    } restore;
    const std::string_view bystander = "Orba.Test.Bystander";
    platform::ScopedClassRegistration other(bystander, [] { return Ref<platform::Object>(MakeRef<PubFunc>()); });

    RegisterHostKit();
    RegisterHostKit();  // a second time changes nothing
    for (const Component& c : components) {
        ASSERT_TRUE(registry.IsRegistered(c.prog_id)) << c.prog_id;
        EXPECT_EQ(CreateObject(c.prog_id)->ClassName(), c.class_name);
        // Identifiers ignore case.
        std::string lower(c.prog_id);
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_EQ(CreateObject(lower)->ClassName(), c.class_name);
    }

    UnregisterHostKit();
    for (const Component& c : components) {
        EXPECT_FALSE(registry.IsRegistered(c.prog_id)) << c.prog_id;
        const Error e = ErrorOf([&] { CreateObject(c.prog_id); });
        EXPECT_EQ(e.Code(), ErrorCode::kCannotCreateObject);
        EXPECT_NE(e.Description().find(c.prog_id), std::string::npos) << e.Description();
    }
    EXPECT_TRUE(registry.IsRegistered(bystander)) << "only the kit's own identifiers are removed";

    RegisterHostKit();
    for (const Component& c : components) EXPECT_EQ(CreateObject(c.prog_id)->ClassName(), c.class_name);
}

// ---- the login property string -----------------------------------------------------------

TEST(LoginString, FindsValuesByKey) {
    const std::string props = "AcctDB={Data Source=/data/a b.db};UserName=Li;UserID=12";
    struct Case {
        std::string props;
        std::string key;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {props, "AcctDB", "Data Source=/data/a b.db"},
        {props, "acctdb", "Data Source=/data/a b.db"},
        {props, "USERNAME", "Li"},
        {props, "Password", std::nullopt},
        {props, "Name", std::nullopt},  // not a part of a longer key
        {props, "Li", std::nullopt},    // nor a value
        {"A={x;y=z};B=2", "A", "x;y=z"},  // braces keep ';' and '=' in the value
        {"A={x;y=z};B=2", "B", "2"},
        {"A={x;B=9};B=2", "B", "2"},  // a key inside braces is not a key
        {"A=1=2;B=3", "A", "1=2"},
        {"  Key One = some value ; B = 2 ", "key one", "some value"},
        {"A={ padded };B=2", "A", "padded"},
        {"A=;B=2", "A", ""},
        {"", "A", std::nullopt},
        {"no pairs at all", "no pairs at all", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindLoginValue(c.props, c.key), c.expected) << "'" << c.key << "' in '" << c.props << "'";
    }
}

TEST(LoginString, AccountDatabasePathOrAMessageSayingWhatIsMissing) {
    EXPECT_EQ(AccountDatabasePath("AcctDB={Data Source=/data/a.db};UserName=Li"), "/data/a.db");
    EXPECT_EQ(AccountDatabasePath("UserName=Li; acctdb = { data source = /data/a b.db } "), "/data/a b.db");
    EXPECT_EQ(AccountDatabasePath("AcctDB={Provider=x;Data Source=/data/a.db;Mode=Share}"), "/data/a.db");

    struct Case {
        std::string props;
        std::vector<std::string> named;
    };
    const Case cases[] = {
        {"UserName=Li;UserID=12", {"AcctDB", "missing"}},
        {"", {"AcctDB"}},
        {"AcctDB={Provider=Jet};UserName=Li", {"AcctDB={Provider=Jet}", "Data Source="}},
        {"AcctDB={Data Source=};UserName=Li", {"Data Source="}},
        {"AcctDB=;UserName=Li", {"Data Source="}},
    };
    for (const Case& c : cases) {
        const Error e = ErrorOf([&] { AccountDatabasePath(c.props); });
        EXPECT_EQ(e.Code(), ErrorCode::kNotFound) << c.props;
        for (const std::string& word : c.named) {
            EXPECT_NE(e.Description().find(word), std::string::npos) << c.props << " -> " << e.Description();
        }
    }
}

TEST(LoginString, PropertiesMadeForADatabaseLeadBackToIt) {
    for (const std::string path : {"/data/branch-a.db", "/data/with space/b.db", "relative/c.db", "/data/x=y.db",
                                    "C:\\Acct\\d.db", "/data/分支机构.db"}) {
        const std::string props = MakeLoginProperties(path, "Wang", 7);
        EXPECT_EQ(AccountDatabasePath(props), path) << props;
        EXPECT_EQ(FindLoginValue(props, "UserName"), "Wang");
        EXPECT_EQ(FindLoginValue(props, "UserID"), "7");
    }
}

// A path whose ';', braces or outer blanks would end or trim the value is refused: read back,
// it would name another file, and a connection would open that one instead.
TEST(LoginString, PathsTheStringCannotCarryAreRefused) {
    for (const std::string path : {"/data/branch;old.db", "/data/a}b.db", "/data/{a}.db", " /data/lead.db",
                                   "/data/trail.db ", "/data/tab.db\t"}) {
        const Error e = ErrorOf([&] { MakeLoginProperties(path); });
        EXPECT_EQ(e.Code(), ErrorCode::kBadInput) << path;
        EXPECT_NE(e.Description().find("'" + path + "'"), std::string::npos) << e.Description();
    }
}

}  // namespace
}  // namespace orba::hostkit
