// The host's bill viewer: shown a list record set of bills (FInterID, FTranType), it reads
// each bill's header and lines from the account database and shows them one at a time,
// starting on the record set's current record, with previous and next.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/bill_list.h"
#include "hostkit/window_components.h"
#include "platform/dispatch.h"
#include "platform/recordset.h"

class QLabel;
class QPushButton;
class QTableWidget;

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

// Reads a bill from the account database; raises an Error naming the bill when it is gone.
BillDocument ReadBillDocument(AppConnection& connection, int32_t tran_type, int32_t inter_id);

// The bills of a list record set, from its first record, and the index (0-based) of the
// record that was current; the record set is left on that record again.
struct ListedBill {
    int32_t inter_id;
    int32_t tran_type;
};
std::vector<ListedBill> ListedBills(platform::RecordSet& rows, size_t& current);

// Shows bills one at a time; reads a bill the first time it is shown.
class BillViewerDialog : public QDialog {
public:
    BillViewerDialog(std::vector<ListedBill> bills, size_t current, std::function<BillDocument(const ListedBill&)> read,
                     QWidget* parent = nullptr);
    size_t Current() const { return current_; }
    void ShowBill(size_t index);
    const BillDocument* Shown() const { return shown_ ? &*shown_ : nullptr; }
    QPushButton* PreviousButton() const { return previous_; }
    QPushButton* NextButton() const { return next_; }

private:
    std::vector<ListedBill> bills_;
    std::function<BillDocument(const ListedBill&)> read_;
    size_t current_ = 0;
    std::optional<BillDocument> shown_;
    QLabel* title_;
    QLabel* header_;
    QLabel* position_;
    QLabel* error_;
    QTableWidget* lines_;
    QPushButton* previous_;
    QPushButton* next_;
};

// LocalCnn, ListRecordset, NewBillTransType, SystemName, ListRSFieldVect, ShowForModeExt,
// SetOpt(user ID, user name), TheSaleMode, Show(show code, show mode). Show opens the viewer
// modally in a window application and raises an Error elsewhere.
class BillViewer : public platform::Dispatchable<BillViewer> {
public:
    static const platform::MemberTable<BillViewer>& Members();
    void Show();

private:
    std::string local_cnn_, tran_type_text_, system_name_, user_name_;
    platform::Ref<platform::Object> list_, field_vector_;
    int16_t show_mode_ext_ = 0, sale_mode_ = 0, user_id_ = 0;
};

}  // namespace orba::hostkit
