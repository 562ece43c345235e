// Writes one checked bill into the received tables, inside the caller's transaction: a new
// bill is inserted; a bill held already from the same branch is left alone when its copy is
// the same and replaced when it differs, but never by a copy from an older list.
#pragma once

#include <optional>
#include <string>

#include "hostkit/save_data.h"
#include "hostkit/saving/record_checks.h"
#include "hostkit/saving/statement_cache.h"

namespace orba::hostkit {

struct BillResult {
    SaveOutcomeKind kind = SaveOutcomeKind::kNotSaved;
    int32_t revision = 0;
    std::string reason;
};

// Saves one checked bill inside the caller's transaction. A new bill is inserted. A bill held
// already from the same branch (the same internal number) is left alone when its fingerprint
// is the same, and replaced, header and lines, when it differs, also when it was renumbered;
// never by a copy from an older list, and never under a number another bill of that branch
// holds.
BillResult SaveReceivedBill(StatementCache& statements, ReceivedKind kind, const CheckedBill& bill,
                            const std::optional<ReceivedList>& list);

}  // namespace orba::hostkit
