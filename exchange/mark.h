// The mark step at the supplying branch: it marks transmitted only the bills a receipt
// acknowledges and that can be shown to be unchanged since the receiving branch saved them,
// after checking that the receipt is that branch's answer to this one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "exchange/steps.h"
#include "exchange/transport.h"

namespace orba::hostkit {
class Database;
}

namespace orba::exchange {

// Bills of one package that the supplying branch has marked transmitted.
int CountMarked(hostkit::Database& db, const PackageCount& package);

struct MarkResult {
    bool ok = true;                               // nothing was refused or failed
    // Per package of the receipt, the bills this receipt marked, and those it acknowledges
    // that were marked already (by an earlier delivery of the same receipt, say): a receipt
    // replayed marks nothing and says so.
    std::vector<std::pair<int32_t, int>> marked;
    std::vector<std::pair<int32_t, int>> already;
    int changed = 0;                              // acknowledged, but changed here since they were packaged
    int superseded = 0;                           // acknowledged from a list older than the bill's latest one
};

// Marks at `db` the bills `receipt` acknowledges that can be shown to be the bill B holds, as
// it stands here now: the bill is this internal number's bill here, addressed to the
// receipt's sender, in a status that may be sent, its fingerprint is the one B acknowledged,
// and the list the receipt answers is the latest that carried it. The comparison and the
// marking are one transaction that keeps other writers of the bills out. A bill changed since
// it was packaged, or sent again in a later list, is left for the next receipt; any other bill
// left unmarked is an error. `before_marking`, when given, runs after the comparison and
// before the marking (tests put an edit there).
MarkResult MarkAcknowledged(hostkit::Database& db, const ReceiptFile& receipt, std::string_view file_name,
                            const Branch& own, const std::function<void()>& before_marking = {});

// The step "accept a receipt": checks that `receipt` (named `name` in messages) answers a list
// of `own`, the branch of `db`, and is addressed to it, then marks what it proves
// (MarkAcknowledged); `once_checked`, when given, runs between the check and the marking.
MarkResult AcceptReceipt(hostkit::Database& db, const Branch& own, const ReceiptFile& receipt, std::string_view name,
                         const std::function<void()>& once_checked = {});

// Marks every bill of the list `file`, made by `own`, transmitted without a receipt; false when
// the library reported a failure.
bool MarkWithoutReceipt(hostkit::Database& db, const Branch& own, const ListFile& file, std::string_view name);

}  // namespace orba::exchange
