// The program's open connection shared with the host kit's components: they work inside the
// program's transaction on it, a file opened read-only is never written through, and a
// sharing is seen only for its location, on its own thread, while its scope lives.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "hostkit/app_connection.h"
#include "hostkit/database.h"
#include "hostkit/db/shared_database.h"
#include "hostkit/login_string.h"
#include "hostkit/shared_database.h"
#include "hostkit/sys_info.h"
#include "support/backend_branch.h"

namespace orba::hostkit {
namespace {

using orba::testing::Backend;
using orba::testing::BackendBranch;
namespace fs = std::filesystem;

int32_t ProbeRows(Database& db) {
    return db.Query("SELECT COUNT(*) FROM t_Systemprofile WHERE FKey='SharedProbe'")->Value(0).ToLong();
}

class SharingTheProgramsDatabase : public ::testing::TestWithParam<Backend> {};

TEST_P(SharingTheProgramsDatabase, ComponentsWorkInsideTheProgramsOpenTransaction) {
    BackendBranch branch(GetParam());
    const std::unique_ptr<Database> db = OpenDatabase(branch.Location());
    {
        Transaction transaction(*db);
        db->Exec("INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ('IC', 'SharedProbe', 'seen')");
        SharedDatabaseScope sharing(*db);
        // What the program wrote and has not committed is what the components see.
        EXPECT_EQ(SysInfo::GetSysValue(CurrentLoginProperties(), "IC", "SharedProbe"), "seen");
        const auto connection = platform::MakeRef<AppConnection>();
        connection->Execute("UPDATE t_Systemprofile SET FValue='changed' WHERE FKey='SharedProbe'");
        // The batch was a savepoint of the program's transaction, which stays open.
        EXPECT_TRUE(db->InTransaction());
        EXPECT_EQ(db->Query("SELECT FValue FROM t_Systemprofile WHERE FKey='SharedProbe'")->Value(0).ToText(),
                  "changed");
    }
    // Rolled back with the program's transaction: nothing was committed on the side.
    EXPECT_EQ(ProbeRows(*OpenDatabase(branch.Location())), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, SharingTheProgramsDatabase, ::testing::ValuesIn(orba::testing::kBothBackends),
                         ::testing::PrintToStringParamName());

TEST(SharingAFile, OneOpenedReadOnlyIsNotWrittenThrough) {
    BackendBranch branch(Backend::kSqlite);
    const std::unique_ptr<Database> reader = OpenDatabase(branch.Location(), OpenMode::kReadOnly);
    SharedDatabaseScope sharing(*reader);
    const auto connection = platform::MakeRef<AppConnection>();
    connection->Execute("INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ('IC', 'SharedProbe', 'x')");
    EXPECT_EQ(ProbeRows(*reader), 1);
}

TEST(SharingAFile, FoundForItsLocationOnItsThreadWhileTheScopeLives) {
    BackendBranch branch(Backend::kSqlite);
    const std::unique_ptr<Database> db = OpenDatabase(branch.Location());
    const fs::path path = fs::absolute(branch.Location());
    {
        SharedDatabaseScope sharing(*db);
        struct Case {
            std::string location;
            bool found;
        };
        const Case cases[] = {
            {path.string(), true},
            {(path.parent_path() / "." / path.filename()).string(), true},
            {(path.parent_path() / "elsewhere" / ".." / path.filename()).string(), true},
            {path.string() + "-other", false},
            {(path.parent_path() / "elsewhere" / path.filename()).string(), false},
        };
        for (const Case& c : cases) {
            EXPECT_EQ(FindSharedDatabase(c.location, true) != nullptr, c.found) << c.location;
        }
        SharedDatabase* seen_elsewhere = nullptr;
        std::thread([&] { seen_elsewhere = FindSharedDatabase(path.string(), false); }).join();
        EXPECT_EQ(seen_elsewhere, nullptr);
    }
    EXPECT_EQ(FindSharedDatabase(path.string(), false), nullptr);
}

}  // namespace
}  // namespace orba::hostkit
