// Deterministic sample data for one branch of a small company group: master data and
// purchase orders, delivery notices and return notices addressed to the other branches,
// so that bills can be packaged in one branch database and received in another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/sys_info.h"

struct sqlite3;

namespace orba::hostkit {

// One branch of the company group as every branch database lists it in t_SonCompany.
struct BranchInfo {
    int item_id;
    std::string number;
    std::string name;
};

// The group's branches, the same in every database.
std::vector<BranchInfo> SampleGroupBranches();

struct SampleOptions {
    int branch = 1;  // FItemID of this branch in the group
    int orders = 20;   // purchase orders (POOrder, FTranType 71)
    int notices = 20;  // delivery notices (SEOutStock, FTranType 83)
    int returns = 10;  // return notices (SEOutStock, FTranType 82)
    int lines = 5;     // each bill gets between 1 and this many lines
    uint64_t seed = 1;
};

// System-profile options the generator writes, besides the branch id.
inline constexpr const char* kIcCategory = "IC";
inline constexpr const char* kBranchIdKey = "BrID";
inline constexpr const char* kTaxInPriceKey = "POOrderTaxInPrice";
// It also writes the first day of the accounting calendar under the system-information
// component's own category and key (kPeriodCategory, kPeriodStartKey).

// Fills a database that has the ERP schema and no data yet. The same options give the same
// content, row for row. Runs as one unit: on failure nothing is left behind and an
// orba::platform::Error says what went wrong (kBadInput for unusable options,
// kDatabaseError for a refused statement).
void PopulateSampleData(sqlite3* db, const SampleOptions& options);

// Creates a new database file holding the schema and the sample data, in one transaction.
// Refuses to touch an existing file (kFileAlreadyExists, naming the path); on any other
// failure the new file is removed again.
void CreateSampleDatabase(const std::string& path, const SampleOptions& options);

}  // namespace orba::hostkit
