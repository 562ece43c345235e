// What the bill viewer reads, apart from its dialog: the bills a list record set names, and
// each bill's header and lines from the account database, as the viewer shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/windows/bill_list.h"
#include "platform/recordset.h"

namespace orba::hostkit {

class AppConnection;

struct BillLine {
    std::string entry, item_number, item_name, unit, qty, price, amount;
};

// One bill as the viewer shows it.
struct BillDocument {
    std::string kind_name;  // 采购订单, 发货通知单, 退货通知单
    std::string partner_caption;
    BillListRow header;
    std::string explanation;
    std::vector<BillLine> lines;
};

// Reads a bill from the account database; raises an Error (kNotFound) naming the bill by its
// number (`bill_no`, as the list showed it; the internal number when there is none) when it
// is gone.
BillDocument ReadBillDocument(AppConnection& connection, int32_t tran_type, int32_t inter_id,
                              const std::string& bill_no = {});

// The bills of a list record set, from its first record, and the index (0-based) of the
// record that was current; the record set is left on that record again.
struct ListedBill {
    int32_t inter_id;
    int32_t tran_type;
    std::string bill_no;  // as the list showed it, when it has the column
};
std::vector<ListedBill> ListedBills(platform::RecordSet& rows, size_t& current);

}  // namespace orba::hostkit
