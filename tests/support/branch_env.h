// Test environment for code that runs against a branch's account database: a fresh SQLite
// file with the ERP schema (and sample data when asked), the host kit and the library's
// classes registered, the login properties pointing at the file, and a recording UI so no
// message box waits for anyone.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "hostkit/sample_data.h"
#include "platform/ui_services.h"
#include "support/erp_test_db.h"

namespace orba::testing {

// A temporary folder removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// When the environment variable ORBA_TEST_BACKEND is "postgresql", every branch database of
// a test program is made on the program's own PostgreSQL server instead of in a SQLite file,
// so a whole suite runs on the server unchanged.
inline constexpr const char* kTestBackendVariable = "ORBA_TEST_BACKEND";
bool ServerBackendRequested();

// Registers the host kit and the library's two classes (once per process).
void RegisterEverything();

class BranchEnv {
public:
    // An empty schema, for tests that insert their own rows; `sample` fills it with the
    // generator's data instead.
    explicit BranchEnv(const hostkit::SampleOptions* sample = nullptr, std::string file_name = "branch.db");
    ~BranchEnv();

    // The file's path, or the server database's URI.
    const std::string& DbPath() const { return db_path_; }
    // A direct connection for arranging rows and checking results.
    hostkit::testing::TestDb& Db() { return *db_; }
    platform::RecordingUiService& Ui() { return *ui_; }
    // Points this process's login properties at this database again (after another
    // environment took them).
    void Activate();
    // Sets the shared account-database connection as a BillTrans object would.
    void OpenSharedConnection();
    const TempDir& Dir() const { return dir_; }

private:
    TempDir dir_;
    std::string db_path_;
    std::unique_ptr<hostkit::testing::TestDb> db_;
    bool recycle_ = false;  // a server database handed back for the next test
    std::shared_ptr<platform::RecordingUiService> ui_;
    std::shared_ptr<platform::UiService> previous_ui_;
};

}  // namespace orba::testing
