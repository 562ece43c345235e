// Finding and opening the local system database, and the help assistant's notices.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "host/modpub.h"
#include "hostkit/windows/assistant.h"
#include "hostkit/hostkit.h"
#include "hostkit/components/local_system_db.h"
#include "platform/db_connection.h"
#include "platform/error.h"
#include "support/error_of.h"
#include "support/fake_component.h"

namespace orba::host {
namespace {

namespace fs = std::filesystem;
using platform::ErrorCode;
using platform::Variant;
using testing::ErrorOf;
using testing::FakeComponent;
using testing::ScopedFakeComponent;

void MakeDatabase(const fs::path& path) {
    fs::create_directories(path.parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t_Setting (FKey TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

class LocalCnnTest : public ::testing::Test {
protected:
    void SetUp() override {
        hostkit::RegisterHostKit();
        dir_ = fs::temp_directory_path() / ("orba_localcnn_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        auto app = platform::MakeRef<FakeComponent>("Application");
        const std::string search = dir_.string() + "/";
        app->On("GetSystemDir", [search](std::span<Variant>) { return Variant(search); });
        utility_.emplace(kUtilityAppProgId, app);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    std::optional<ScopedFakeComponent> utility_;
    hostkit::ScopedAssistantRecorder notices_;
};

std::string Expected40(const fs::path& file) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=" + file.string() + ";Mode=Share Deny None";
}

TEST_F(LocalCnnTest, SearchesTheSystemDirectoryThenItsErpSystemFolder) {
    struct Case {
        const char* name;
        bool in_dir;           // a database file right in the system directory
        bool dir_is_folder;    // a folder of that name instead (not a plain file)
        bool in_erp_system;
        const char* expected;  // "dir", "erp" or "" for none
    };
    const Case cases[] = {
        {"only the first", true, false, false, "dir"},
        {"only erpSystem", false, false, true, "erp"},
        {"both: the first wins", true, false, true, "dir"},
        {"a folder is no candidate", false, true, true, "erp"},
        {"neither", false, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const fs::path first = dir_ / "Drovane.sss";
        const fs::path erp = dir_ / "erpSystem" / "Drovane.sss";
        if (c.in_dir) MakeDatabase(first);
        if (c.dir_is_folder) fs::create_directories(first);
        if (c.in_erp_system) MakeDatabase(erp);
        const std::string want = std::string(c.expected) == "dir"   ? Expected40(first)
                                 : std::string(c.expected) == "erp" ? Expected40(erp)
                                                                    : std::string();
        EXPECT_EQ(GetLocalCnn(), want);
    }
    EXPECT_TRUE(notices_.Notes().empty()) << "a missing file is no failure to report";
}

TEST_F(LocalCnnTest, ReadOnlyFileIsMadeWritableBeforeItOpens) {
    const fs::path file = dir_ / "Drovane.sss";
    MakeDatabase(file);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read, fs::perm_options::replace);
    ASSERT_TRUE(IsReadOnlyFile(file));
    EXPECT_EQ(GetLocalCnn(Variant(file.string())), Expected40(file));
    EXPECT_FALSE(IsReadOnlyFile(file));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::group_read, fs::perms::group_read) << "other bits stay";
}

TEST_F(LocalCnnTest, FileNoProviderOpensGivesEmptyTextAndTheNotice) {
    const fs::path file = dir_ / "erpSystem" / "Drovane.sss";
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "not a database, only text that looks nothing like one\n";
    EXPECT_EQ(GetLocalCnn(), "");
    ASSERT_EQ(notices_.Notes().size(), 1u);
    const hostkit::AssistantNote& note = notices_.Notes()[0];
    EXPECT_EQ(note.heading, "Zelto提示");
    EXPECT_EQ(note.description, "系统初始化失败。");
    ASSERT_EQ(note.lines.size(), 2u);
    EXPECT_EQ(note.lines[0], "由于你的ODBC有误，系统不能与文件:'" + file.string() + "'建立连接。");
    EXPECT_EQ(note.lines[1], "你可以在系统安装目录中找到文件'Mdac_typ.exe',运行它进行ODBC的重新安装。");
}

TEST_F(LocalCnnTest, TheOlderProviderIsTriedFirstWhenInstalled) {
    const fs::path file = dir_ / "Drovane.sss";
    MakeDatabase(file);
    std::string seen;
    platform::ScopedConnectionProvider older("Microsoft.Jet.OLEDB.3.51", [&](const platform::ConnectionRequest& r) {
        seen = r.properties.Get("Data Source");
        return std::string("Provider=Microsoft.Jet.OLEDB.3.51;Data Source=") + seen;
    });
    EXPECT_EQ(OpenLocalCnn(file.string()), "Provider=Microsoft.Jet.OLEDB.3.51;Data Source=" + file.string());
    EXPECT_EQ(seen, file.string());
}

TEST_F(LocalCnnTest, FailuresThatReachTheCaller) {
    EXPECT_EQ(ErrorOf([&] { GetLocalCnn(Variant((dir_ / "missing.sss").string())); }).Code(), ErrorCode::kFileNotFound);
    // The host kit's own utility library refuses a directory that does not exist.
    utility_.reset();
    EXPECT_EQ(ErrorOf([] { hostkit::SystemDirectoryFor("/no/such/directory"); }).Code(), ErrorCode::kPathNotFound);
    EXPECT_EQ(hostkit::SystemDirectoryFor(dir_.string()), dir_.string() + "/");
    platform::ScopedClassRegistration none(kUtilityAppProgId, [] { return platform::Ref<platform::Object>(); });
    EXPECT_EQ(ErrorOf([] { GetLocalCnn(); }).Code(), ErrorCode::kCannotCreateObject);
}

TEST_F(LocalCnnTest, AssistantNoteCarriesTheTextUnderTheAssistantsOwnHeading) {
    ShowAssistantNote("无法打开单据");
    ASSERT_EQ(notices_.Notes().size(), 1u);
    EXPECT_EQ(notices_.Notes()[0].description, "无法打开单据");
    EXPECT_EQ(notices_.Notes()[0].heading, hostkit::kAssistantDefaultHeading);
    EXPECT_TRUE(notices_.Notes()[0].lines.empty());
    platform::ScopedClassRegistration none(kAssistantProgId, [] { return platform::Ref<platform::Object>(); });
    EXPECT_EQ(ErrorOf([] { ShowAssistantNote("x"); }).Code(), ErrorCode::kCannotCreateObject);
}

TEST(ConnectionString, ParsesAndOpensOnlyThroughInstalledProviders) {
    auto p = platform::ConnectionProperties::Parse(R"(PROVIDER=X.Y;Data Source="a;b""c.sss";  Mode = Read ;)");
    EXPECT_EQ(p.Get("provider"), "X.Y");
    EXPECT_EQ(p.Get("data source"), "a;b\"c.sss");
    EXPECT_EQ(p.Get("Mode"), "Read");
    EXPECT_EQ(ErrorOf([] { platform::ConnectionProperties::Parse("Provider=X;junk;"); }).Code(), ErrorCode::kBadInput);

    auto connection = platform::MakeRef<platform::DbConnection>();
    EXPECT_EQ(ErrorOf([&] { connection->Open("PROVIDER=Nobody.Here;Data Source=x;"); }).Number(),
              platform::kProviderNotFound);
    EXPECT_EQ(ErrorOf([&] { connection->Open("Data Source=x;"); }).Number(), platform::kProviderNotFound);
    EXPECT_FALSE(connection->IsOpen());
}

}  // namespace
}  // namespace orba::host

namespace orba::host {
namespace {

// The command-line host has no windows: a notice goes to standard error, heading first.
TEST(AssistantWithoutWindows, NoticeGoesToStandardError) {
    hostkit::RegisterHostKit();
    ::testing::internal::CaptureStderr();
    ShowAssistantNote("无法打开单据: 连接已断开");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "提示: 无法打开单据: 连接已断开\n");
}

}  // namespace
}  // namespace orba::host
