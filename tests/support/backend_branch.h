// A branch database on either backend (a SQLite file or a database on the test program's
// PostgreSQL server) with the ERP schema, and sample data when asked, so one test can run on
// both: the host kit and the library registered, the login properties pointing at it, a
// recording UI, and statements run through the host connection.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "hostkit/sample_data.h"
#include "platform/recordset.h"
#include "platform/ui_services.h"
#include "support/branch_env.h"

namespace orba::testing {

enum class Backend { kSqlite, kPostgres };
// Test names show the backend by name.
void PrintTo(Backend backend, std::ostream* os);
inline const Backend kBothBackends[] = {Backend::kSqlite, Backend::kPostgres};

class BackendBranch {
public:
    explicit BackendBranch(Backend backend, const hostkit::SampleOptions* sample = nullptr);
    ~BackendBranch();
    BackendBranch(const BackendBranch&) = delete;
    BackendBranch& operator=(const BackendBranch&) = delete;

    // The file path or the server URI the login properties carry.
    const std::string& Location() const { return location_; }
    Backend Kind() const { return backend_; }
    platform::RecordingUiService& Ui() { return *ui_; }
    // Points this process's login properties at this database again.
    void Activate();
    // Runs a batch through a new host connection on this database.
    platform::Ref<platform::RecordSet> Sql(const std::string& batch);
    // Every row of a query, each value in the runtime's JSON form, one row a line.
    std::string Rows(const std::string& query);

private:
    Backend backend_;
    TempDir dir_;
    std::string location_;
    std::shared_ptr<platform::RecordingUiService> ui_;
    std::shared_ptr<platform::UiService> previous_ui_;
};

}  // namespace orba::testing
