#include "support/branch_env.h"

#include "hostkit/database.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "facade/registration.h"
#include "host/shared_connection.h"
#include "hostkit/schema/erp_schema.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/db/postgres/pg_db.h"
#include "hostkit/schema.h"
#include "support/pg_server.h"
#include "platform/registry.h"

namespace orba::testing {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("orba-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool ServerBackendRequested() {
    const char* backend = std::getenv(kTestBackendVariable);
    return backend && std::string_view(backend) == "postgresql";
}

void RegisterEverything() {
    hostkit::RegisterHostKit();
    OrbaBillTransmitRegister();
}

BranchEnv::BranchEnv(const hostkit::SampleOptions* sample, std::string file_name)
    : db_path_((dir_ / file_name).string()), ui_(std::make_shared<platform::RecordingUiService>()) {
    RegisterEverything();
    if (ServerBackendRequested()) {
        if (sample) {
            db_path_ = PgServer::Shared().NewDatabase("branch");
            hostkit::CreateSampleDatabase(db_path_, *sample);
        } else {
            db_path_ = PgServer::Shared().TakeErpDatabase();
            recycle_ = true;
        }
        db_ = std::make_unique<hostkit::testing::TestDb>(db_path_);
    } else if (sample) {
        hostkit::CreateSampleDatabase(db_path_, *sample);
        db_ = std::make_unique<hostkit::testing::TestDb>(db_path_);
    } else {
        hostkit::CreateErpSchema(*hostkit::OpenDatabase(db_path_, hostkit::OpenMode::kCreate));
        db_ = std::make_unique<hostkit::testing::TestDb>(db_path_);
    }
    previous_ui_ = platform::InstallUiService(ui_);
    Activate();
}

BranchEnv::~BranchEnv() {
    host::SetSharedConnection({});
    platform::InstallUiService(previous_ui_);
    if (recycle_) {
        db_.reset();
        PgServer::Shared().ReturnErpDatabase(db_path_);
    }
}

void BranchEnv::Activate() { hostkit::SetLoginProperties(hostkit::MakeLoginProperties(db_path_)); }

void BranchEnv::OpenSharedConnection() {
    Activate();
    host::SetSharedConnection(platform::CreateObject(host::kAppConnectionProgId));
}

}  // namespace orba::testing
