#include "hostkit/sample_data.h"

#include <fmt/format.h>

#include <string>
#include <utility>

#include "hostkit/database.h"
#include "hostkit/sample/master_data.h"
#include "hostkit/sample/sample_writer.h"
#include "hostkit/schema/erp_schema.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;
using namespace sample;

namespace {

void ValidateOptions(const SampleOptions& options) {
    bool known_branch = false;
    for (const CodeName& branch : kGroupBranches) known_branch |= branch.id == options.branch;
    if (!known_branch) {
        throw Error(ErrorCode::kBadInput, "Sample data: branch " + std::to_string(options.branch) +
                                              " is not one of the group's branches (1 to " +
                                              std::to_string(std::size(kGroupBranches)) + ")");
    }
    const std::pair<const char*, int> counts[] = {
        {"orders", options.orders}, {"notices", options.notices}, {"returns", options.returns}};
    for (const auto& [name, value] : counts) {
        if (value < 0 || value > kMaxBills) {
            throw Error(ErrorCode::kBadInput, std::string("Sample data: ") + name + " is " +
                                                  std::to_string(value) + ", it must be 0 to " +
                                                  std::to_string(kMaxBills));
        }
    }
    if (options.lines < 1 || options.lines > kMaxLines) {
        throw Error(ErrorCode::kBadInput, "Sample data: lines is " + std::to_string(options.lines) +
                                              ", it must be 1 to " + std::to_string(kMaxLines));
    }
}

// ---------------------------------------------------------------------------------------
// The generator.

}  // namespace

std::vector<BranchInfo> SampleGroupBranches() {
    std::vector<BranchInfo> branches;
    for (const CodeName& branch : kGroupBranches) branches.push_back({branch.id, branch.number, branch.name});
    return branches;
}

void PopulateSampleData(Database& db, const SampleOptions& options) {
    ValidateOptions(options);
    AsOneUnit(db, [&] { WriteSampleData(db, options); });
}

std::string CreateSampleDatabase(const std::string& location, const SampleOptions& options) {
    ValidateOptions(options);
    const std::unique_ptr<Database> db = OpenDatabase(location, OpenMode::kCreateNew);
    // A half-made file goes; a server keeps nothing of the rolled-back transaction.
    struct Unfinished {
        Database& db;
        bool done = false;
        ~Unfinished() {
            if (!done) db.Abandon();
        }
    } unfinished{*db};
    if (HasErpSchema(*db)) {
        throw Error(ErrorCode::kFileAlreadyExists,
                    fmt::format("The account {} already holds the ERP schema; it is left as it is", db->Name()));
    }
    InTransaction(*db, [&] {
        CreateErpSchema(*db);
        PopulateSampleData(*db, options);
    });
    unfinished.done = true;
    return db->Label();
}

}  // namespace orba::hostkit
