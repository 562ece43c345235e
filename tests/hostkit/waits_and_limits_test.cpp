// The same on a SQLite file and on a server database: a lock held by another session ends the
// step within the wait with nothing done, a branch check that cannot read the database says
// why, and a text holding a NUL character or longer than its column is refused in one wording.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/variant_vector.h"
#include "hostkit/app_connection.h"
#include "hostkit/schema/erp_schema.h"
#include "hostkit/login_string.h"
#include "hostkit/database.h"
#include "hostkit/db/database_rules.h"
#include "hostkit/db/sqlite/sqlite_db.h"
#include "hostkit/save_data.h"
#include "hostkit/schema.h"
#include "support/backend_branch.h"
#include "support/erp_test_db.h"
#include "support/error_of.h"

namespace orba::hostkit {
namespace {

using orba::testing::ErrorOf;
using platform::Variant;

constexpr std::string_view kLocked = "locked by another process";
constexpr std::string_view kNul = "holds a NUL character, which the database cannot keep";
constexpr const char* kOrders = "SELECT FInterID, FTranStatus FROM POOrder ORDER BY FInterID";

class WaitsAndLimits : public ::testing::TestWithParam<orba::testing::Backend> {
protected:
    void SetUp() override { SetDatabaseBusyTimeout(300); }
    void TearDown() override { SetDatabaseBusyTimeout(10000); }
    // Another session keeps `lock` in its open transaction; the server ends it after 20 s, so
    // that a wait without a bound fails the test instead of hanging it.
    void Hold(const std::string& lock) {
        holder_.emplace(at_);
        holder_->Exec(server_ ? "SET idle_in_transaction_session_timeout='20s'; BEGIN; " + lock : lock);
    }
    void ExpectSays(const platform::Error& e, std::string_view says, bool naming_the_database = true) {
        EXPECT_NE(e.Description().find(says), std::string::npos) << e.Description().substr(0, 300);
        if (!naming_the_database) return;
        EXPECT_NE(e.Description().find(server_ ? "database 'orba_tests' on server" : at_), std::string::npos);
    }

    const bool server_ = GetParam() == orba::testing::Backend::kPostgres;
    const SampleOptions sample_;
    orba::testing::BackendBranch branch_{GetParam(), &sample_};
    const std::string at_ = branch_.Location();
    std::optional<testing::TestDb> holder_;
};

TEST_P(WaitsAndLimits, ALockHeldElsewhereEndsTheStepWithinTheWaitAndNothingIsDone) {
    if (server_) EnsureReceivedTables(*OpenDatabase(at_));
    auto connection = platform::MakeRef<AppConnection>(at_);
    connection->DatabasePath();  // open before the lock is taken
    const std::string before = branch_.Rows(kOrders);
    std::string messages;
    const std::pair<const char*, std::function<void()>> cases[] = {
        // A clerk's open transaction on a bill: the batch that reaches it is undone whole.
        {server_ ? "UPDATE POOrder SET FStatus=1 WHERE FInterID=1" : "BEGIN IMMEDIATE",
         [&] { connection->Execute("UPDATE POOrder SET FTranStatus=1 WHERE FInterID IN (2,3); "
                                   "UPDATE POOrder SET FTranStatus=1 WHERE FInterID=1"); }},
        {server_ ? "LOCK TABLE POOrder" : "BEGIN EXCLUSIVE", [&] { connection->Execute(kOrders); }},
        // Another saving run; on the file the received tables are still to be made.
        {server_ ? "LOCK TABLE t_RcvBill" : "BEGIN IMMEDIATE", [&] {
             SaveData::Save(MakeLoginProperties(at_), Variant(platform::MakeRef<host::VariantVector>()),
                            ReceivedKind::kOrder, messages);
         }},
    };
    for (const auto& [lock, step] : cases) {
        Hold(lock);
        ExpectSays(ErrorOf(step), kLocked);
        holder_.reset();
    }
    EXPECT_EQ(branch_.Rows(kOrders), before);
    EXPECT_EQ(branch_.Rows(server_ ? "SELECT count(*) FROM t_RcvBill"
                                   : "SELECT count(*) FROM sqlite_master WHERE name='t_RcvBill'"),
              "0\n");
}

TEST_P(WaitsAndLimits, ABranchCheckThatCannotReadTheDatabaseSaysWhyNotThatItIsNoBranch) {
    auto check = [&](const std::string& location, const char* lock) {
        const platform::Error e = ErrorOf([&] {
            const std::unique_ptr<Database> db = OpenDatabase(location, OpenMode::kReadOnly);
            if (lock) Hold(lock);
            CheckBranchDatabase(*db);
        });
        EXPECT_EQ(e.Description().find("not a branch account database"), std::string::npos) << e.Description();
        return e;
    };
    ExpectSays(check(at_, server_ ? "LOCK TABLE t_SonCompany" : "BEGIN EXCLUSIVE"), kLocked);
    holder_.reset();
    // The table of branches unreadable: on the server to an account without the right to
    // read it, on a file through a damaged page.
    testing::TestDb db(at_);
    if (server_) {
        const std::string schema = *db.Text("SELECT current_schema()"), reader = "reader_" + schema;
        db.Exec("CREATE ROLE " + reader + " LOGIN; GRANT USAGE ON SCHEMA " + schema + " TO " + reader +
                "; GRANT SELECT ON t_Systemprofile TO " + reader);
        ExpectSays(check(std::string(at_).replace(at_.find("user=postgres"), 13, "user=" + reader), nullptr),
                   "permission denied for table t_soncompany");
    } else {
        const long long page = db.Int("SELECT rootpage FROM sqlite_master WHERE name='t_SonCompany'");
        const long long size = db.Int("PRAGMA page_size");
        std::fstream(at_, std::ios::in | std::ios::out | std::ios::binary).seekp((page - 1) * size)
            << std::string(static_cast<size_t>(size), '\xff');
        ExpectSays(check(at_, nullptr), "database disk image is malformed");
    }
}

TEST_P(WaitsAndLimits, ATextWithANulOrLongerThanItsColumnIsRefusedInTheSameWords) {
    std::string cjk_80;
    for (int i = 0; i < 80; ++i) cjk_80 += "锦";
    const std::string number = "violates check constraint \"FNumber holds at most 80 characters\"";
    const std::string bill_no = "violates check constraint \"FBillNo holds at most 255 characters\"";
    // A branch number through the host connection, a received bill number as the saving
    // component binds it (refused: empty when kept); characters before trailing blanks count.
    const struct {
        bool received;
        std::string text;
        std::string_view refused;
    } cases[] = {{false, std::string(80, 'x') + "  ", ""}, {false, std::string(81, 'x'), number},
                 {false, cjk_80 + "锦", number}, {false, std::string("01\0x", 4), kNul}, {false, cjk_80, ""},
                 {true, std::string(100000, '9'), bill_no}, {true, std::string("PO\0-1", 5), kNul}};
    const std::string insert = "INSERT INTO t_RcvBill (FKind, FSendBrNumber, FBillNo, FReceivedAt) "
                               "VALUES ('order', '01.002', ?, '2026-01-02')";
    for (const auto& c : cases) {
        auto write = [&] {
            if (!c.received) {
                branch_.Sql("UPDATE t_SonCompany SET FNumber='" + c.text + "' WHERE FItemID=1");
            } else {
                const std::unique_ptr<Database> db = OpenDatabase(at_);
                EnsureReceivedTables(*db);
                db->Query(insert, {Variant(c.text)});
            }
        };
        c.refused.empty() ? write() : ExpectSays(ErrorOf(write), c.refused, false);
    }
    EXPECT_EQ(branch_.Sql("SELECT FNumber FROM t_SonCompany WHERE FItemID=1")->Value(0), Variant(cjk_80));
    EXPECT_EQ(branch_.Rows("SELECT count(*) FROM t_RcvBill"), "0\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, WaitsAndLimits, ::testing::ValuesIn(orba::testing::kBothBackends),
                         ::testing::PrintToStringParamName());

// What a writer killed in the middle of a transaction leaves: the file at `from` copied, with
// its rollback journal, while a transaction that changed orders and spilled pages into the
// file is open, so that the copy at `to` holds a write no process will finish.
void LeaveHalfWritten(const std::string& from, const std::string& to) {
    testing::TestDb writer(from);
    writer.Exec("PRAGMA cache_size=2; BEGIN; UPDATE POOrder SET FTranStatus=7; CREATE TABLE filler(x); "
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<500) "
                "INSERT INTO filler SELECT randomblob(1000) FROM n");
    ASSERT_GT(std::filesystem::file_size(from + "-journal"), 0u);
    std::filesystem::copy_file(from, to);
    std::filesystem::copy_file(from + "-journal", to + "-journal");
    writer.Exec("ROLLBACK");
}

// Every opening, read-only or not, rolls back what a killed writer left, says so once on
// standard error, and reads the database as it stood before that write.
TEST(InterruptedWrite, EveryOpeningRollsBackWhatAKilledWriterLeftAndSaysSoOnce) {
    const SampleOptions sample;
    orba::testing::BackendBranch branch(orba::testing::Backend::kSqlite, &sample);
    for (OpenMode mode : {OpenMode::kReadOnly, OpenMode::kReadWrite}) {
        SCOPED_TRACE(mode == OpenMode::kReadOnly ? "read-only" : "read-write");
        const std::string copy = branch.Location() + (mode == OpenMode::kReadOnly ? ".ro.db" : ".rw.db");
        LeaveHalfWritten(branch.Location(), copy);
        ::testing::internal::CaptureStderr();
        std::unique_ptr<Database> first, second;
        EXPECT_NO_THROW(first = OpenDatabase(copy, mode));
        EXPECT_NO_THROW(second = OpenDatabase(copy, mode));
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("'" + copy + "' was left half-written by a process that stopped; the unfinished write "
                            "was rolled back"),
                  std::string::npos)
            << said;
        EXPECT_EQ(said.find("half-written"), said.rfind("half-written")) << "said more than once: " << said;
        ASSERT_TRUE(first);
        EXPECT_EQ(first->Query("SELECT count(*) FROM POOrder WHERE FTranStatus=7")->Value(0).ToLong(), 0);
        EXPECT_FALSE(first->HasTable("filler"));
    }
}

// A write left behind that this user may not roll back is reported as a file that cannot be
// written, never as one that cannot be read.
TEST(InterruptedWrite, AFileThatCannotBeWrittenIsReportedAsSuch) {
    if (geteuid() == 0) GTEST_SKIP() << "the file's permissions do not hold for root";
    const SampleOptions sample;
    orba::testing::BackendBranch branch(orba::testing::Backend::kSqlite, &sample);
    const std::string copy = branch.Location() + ".locked-away.db";
    LeaveHalfWritten(branch.Location(), copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_read);
    const platform::Error e = ErrorOf([&] { OpenDatabase(copy, OpenMode::kReadOnly); });
    EXPECT_NE(e.Description().find("cannot be written by this user"), std::string::npos) << e.Description();
    EXPECT_EQ(e.Description().find("cannot be read"), std::string::npos) << e.Description();
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
}

}  // namespace
}  // namespace orba::hostkit
