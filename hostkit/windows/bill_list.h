// What the list control lists: the bill kinds it knows (by transaction type and list ID),
// the query that reads one kind's bills under the caller's condition on alias v1, and how a
// listed bill is shown. Kept apart from the widget so it tests without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/recordset.h"

namespace orba::hostkit {

struct BillListKind {
    int32_t tran_type;
    int32_t list_id;
    std::string_view name;          // the list's name, e.g. "采购订单"
    std::string_view main_table;    // the bill's main table, read under alias v1
    std::string_view entry_table;   // its lines, summed for the amount
    std::string_view partner_table; // supplier or customer
    std::string_view partner_column;
    std::string_view partner_caption;
};

// Purchase orders (71, list 26), delivery notices (83, list 34), return notices (82, list 33).
const std::vector<BillListKind>& BillListKinds();
// The kind of a transaction type; a list ID of 0 means "not given", otherwise it must match.
std::optional<BillListKind> FindBillListKind(int32_t tran_type, int32_t list_id);

// The query, in the account database's dialect: one row per bill with FInterID, FTranType,
// FBillNo, FDate, FCompanyName, FRelateBrName, FStatus, FTranStatus and FAmount, in date
// and number order. A non-blank condition is applied in parentheses, as given.
std::string BillListSql(const BillListKind& kind, std::string_view condition);

// One listed bill, ready to show.
struct BillListRow {
    int32_t inter_id = 0;
    int32_t tran_type = 0;
    std::string bill_no;
    std::string date;          // YYYY-MM-DD
    std::string partner;
    std::string related_branch;
    std::string status;        // 未审核, 已审核, 部分执行, 已关闭
    std::string transmitted;   // 已传输 or 未传输
    std::string amount;        // two places, thousands separated
    double amount_value = 0;   // for sorting
};

// Reads the rows of a record set returned for BillListSql.
std::vector<BillListRow> ReadBillListRows(platform::RecordSet& rows);

std::string BillStatusText(const platform::Variant& status);
std::string TransmittedText(const platform::Variant& tran_status);
// "1,234.50" from an exact amount; Null shows as "0.00".
std::string AmountText(const platform::Variant& amount);

// The column captions of the list, in display order.
std::vector<std::string> BillListCaptions(const BillListKind& kind);

}  // namespace orba::hostkit
