// The checks a received bill record passes before it is saved: every key the saving
// component reads is there and of its kind, and the record is the bill its package, list
// and this branch say it is. What passes is laid out as the columns it is saved in.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/save_data.h"
#include "platform/containers.h"
#include "platform/variant.h"

namespace orba::hostkit {

inline constexpr int32_t kPurchaseOrderType = 71;
inline constexpr int32_t kDeliveryNoticeType = 83;
inline constexpr int32_t kReturnNoticeType = 82;

// One column of a received table and the value it is saved with (owned by the record).
struct Column {
    std::string name;
    const platform::Variant* value;
};

struct CheckedLine {
    std::vector<Column> columns;
};

struct CheckedBill {
    std::string bill_no;
    int32_t inter_id = 0;
    std::string send_number;
    std::string send_name;
    std::optional<std::string> receiver_number;  // of BrIDRsv; none when it names no branch
    std::string fingerprint;
    platform::Variant tran_type;
    std::vector<Column> columns;
    std::vector<CheckedLine> lines;
    bool delivery_form = false;
};


// The list container a value holds, or nullptr.
const platform::ListContainer* AsList(const platform::Variant& v);

// Checks bill record `index` (1-based) of a package of `kind`; raises an Error naming the
// bill, the key and what was expected when a key is missing or of another kind.
CheckedBill CheckBill(const platform::Variant& value, ReceivedKind kind, int index);

// "ORDER" or "NOTICE": how the received tables tell the two kinds apart.
std::string_view KindCode(ReceivedKind kind);
// "Purchase order", "Delivery notice" or "Return notice", for message lines.
std::string_view KindName(ReceivedKind kind, const platform::Variant& tran_type);

// The sending branch selects notices for a package of delivery notices and for one of return
// notices without regard to their own type, so each notice arrives twice: once in the
// delivery form (quantities as stored, source lines) and once in the return form
// (quantities negated). Only the form that matches the notice's own type is saved.
bool InItsOwnForm(ReceivedKind kind, const CheckedBill& bill);

// Why a record cannot be the bill it claims to be in this package, sent by this list to
// branch `own_number`; empty when it can. Such a record would be held beside the real bill,
// or under another branch's name.
std::string Contradiction(ReceivedKind kind, const CheckedBill& bill, const std::optional<ReceivedList>& list,
                          const std::string& own_number);

// What can be told of a bill record that failed its checks, for its outcome.
SaveOutcome OutcomeOfUnchecked(const platform::Variant& value);

}  // namespace orba::hostkit
