// Deterministic sample data for one branch of a small company group: master data and
// purchase orders, delivery notices and return notices addressed to the other branches,
// so that bills can be packaged in one branch database and received in another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/sys_info.h"

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

// Creates a branch database holding the ERP schema and the sample data, all in one
// transaction: a new file (an existing one is refused, kFileAlreadyExists, and left
// untouched), or a server database given by its URI, which must exist and not hold the
// schema yet. On any other failure a new file is removed again and a server database keeps
// nothing. The same options give the same rows on either.
// Returns how a summary names the database made: a file by its path, a server database by
// its name and server.
std::string CreateSampleDatabase(const std::string& location, const SampleOptions& options);

}  // namespace orba::hostkit
