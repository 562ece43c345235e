// The statement texts of bill data access, joined from fixed fragments in the host's SQL
// dialect, and the checks that make values safe to paste into them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data/bill_types.h"

namespace orba::data {

inline constexpr std::string_view kCrLf = "\r\n";

// The extraction statement up to and including its joins, before the selection.
const std::string& ExtractionHead(BillKind kind);

// " AND v1.FInterID IN ( " + list + ")"; the list must be internal numbers (see below).
std::string ListSelection(std::string_view inter_id_list);
// The look-up of the applying branch by its number and name (blanks already trimmed).
std::string BranchLookup(std::string_view number, std::string_view name);
// The selection of untransmitted bills, in an allowed status, for the branch `branch_id`.
std::string DownloadSelection(int32_t branch_id);
inline constexpr std::string_view kExtractionOrder = " Order by v1.FInterID,u1.FEntryID ";

// The one-row summary of a bill; empty for a transaction type other than 71, 82, 83.
std::optional<std::string> BillInfoStatement(int32_t tran_type, int32_t inter_id);

// The count of the bills of `type` waiting to go to the related branch whose number is the
// statement's one parameter: approved, addressed to it and not yet sent. Plain SQL with a
// parameter, run on the branch database itself rather than through the host's connection.
std::string WaitingCountStatement(const BillType& type);

std::string OrdTranStatusStatement(std::string_view inter_id_list);
std::string NoticeTranStatusStatement(std::string_view inter_id_list);
// One statement of an order batch: set the transmission flag to 0, or the confirmation flag.
std::string UnSetOrdTranStatusStatement(std::string_view bill_no);
std::string OrderAffirmStatement(int flag, std::string_view bill_no);
std::string AffirmEntryStatement(std::string_view bill_no, std::string_view entry_id, std::string_view qty);

// --- Making values safe ---------------------------------------------------------------

// A text value for use between single quotes: each quote doubled.
std::string QuoteText(std::string_view text);

// Checks that `list` is internal numbers (whole numbers) separated by commas, with blanks
// allowed around them, and returns it unchanged; raises an Error that shows the list and
// what is wrong with it.
std::string_view CheckInterIdList(std::string_view list);

}  // namespace orba::data
