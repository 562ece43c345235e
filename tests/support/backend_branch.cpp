#include "support/backend_branch.h"

#include "host/shared_connection.h"
#include "host/variant_json.h"
#include "hostkit/app_connection.h"
#include "hostkit/schema/erp_schema.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/database.h"
#include "hostkit/schema.h"
#include "support/erp_test_db.h"
#include "support/pg_server.h"

namespace orba::testing {

void PrintTo(Backend backend, std::ostream* os) { *os << (backend == Backend::kSqlite ? "SQLite" : "PostgreSQL"); }

BackendBranch::BackendBranch(Backend backend, const hostkit::SampleOptions* sample)
    : backend_(backend), ui_(std::make_shared<platform::RecordingUiService>()) {
    RegisterEverything();
    if (backend == Backend::kPostgres) {
        location_ = PgServer::Shared().NewDatabase("branch");
    } else {
        location_ = (dir_ / "branch.db").string();
    }
    if (sample) {
        hostkit::CreateSampleDatabase(location_, *sample);
    } else {
        hostkit::CreateErpSchema(*hostkit::OpenDatabase(location_, hostkit::OpenMode::kCreate));
    }
    previous_ui_ = platform::InstallUiService(ui_);
    Activate();
}

BackendBranch::~BackendBranch() {
    host::SetSharedConnection({});
    platform::InstallUiService(previous_ui_);
}

void BackendBranch::Activate() { hostkit::SetLoginProperties(hostkit::MakeLoginProperties(location_)); }

platform::Ref<platform::RecordSet> BackendBranch::Sql(const std::string& batch) {
    Activate();
    return platform::MakeRef<hostkit::AppConnection>()->Execute(batch);
}

std::string BackendBranch::Rows(const std::string& query) {
    auto rows = Sql(query);
    std::string out;
    for (; rows->IsOpen() && !rows->Eof(); rows->MoveNext()) {
        for (size_t c = 0; c < rows->FieldCount(); ++c) {
            out += (c ? "|" : "") + host::ToJson(rows->Value(c), -1);
        }
        out += "\n";
    }
    return out;
}

}  // namespace orba::testing
