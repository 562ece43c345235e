// The bills the browse window lists for one kind: the column captions and, per bill, its
// transaction type and internal number (for the program) and what the user reads. The window
// owns one per kind; its grid shows it, and send and the viewer hand-off read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/recordset.h"

namespace orba::ui {

// Columns of a listed bill, in grid order (0-based).
inline constexpr int32_t kChosenBillColumns = 6;

// One listed bill as the grid holds it. The numbers stay the text they were listed with:
// the extraction checks that they are numbers.
struct ChosenBill {
    std::string tran_type;
    std::string inter_id;
    std::string bill_no;
    std::string date;
    std::string branch;   // the related branch
    std::string partner;  // supplier or customer
    friend bool operator==(const ChosenBill&, const ChosenBill&) = default;
};

// The cell of column `column` (0 to 5) of a bill.
const std::string& CellOf(const ChosenBill& bill, int32_t column);
std::string& CellOf(ChosenBill& bill, int32_t column);

class ChosenBills {
public:
    // A view that follows the list: told before and after every change of the rows, as a Qt
    // item model must be.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void BeginInsert(size_t first, size_t last) = 0;
        virtual void EndInsert() = 0;
        virtual void BeginRemove(size_t first, size_t last) = 0;
        virtual void EndRemove() = 0;
        virtual void RowChanged(size_t row) = 0;
        virtual void CaptionsChanged() = 0;
    };

    ChosenBills() = default;
    ChosenBills(const ChosenBills&) = delete;
    ChosenBills& operator=(const ChosenBills&) = delete;

    // One listener at a time; nullptr removes it.
    void SetListener(Listener* listener) { listener_ = listener; }

    const std::vector<std::string>& Captions() const { return captions_; }
    void SetCaptions(std::vector<std::string> captions);

    size_t Count() const { return bills_.size(); }
    bool Empty() const { return bills_.empty(); }
    const ChosenBill& At(size_t row) const { return bills_.at(row); }
    const std::vector<ChosenBill>& Bills() const { return bills_; }

    void Append(ChosenBill bill);
    void Replace(size_t row, ChosenBill bill);
    // Drops bills from the end or adds empty ones.
    void Resize(size_t count);
    void Clear() { Resize(0); }

    // The internal numbers in list order, joined by "," as the extraction takes them.
    std::string IdList() const;
    // What the bill viewer is handed: FInterID and FTranType of every bill, standing
    // `offset` records after the first (-1: before it, on no record).
    platform::Ref<platform::RecordSet> ListRecordSet(int32_t offset) const;

private:
    std::vector<std::string> captions_;
    std::vector<ChosenBill> bills_;
    Listener* listener_ = nullptr;
};

}  // namespace orba::ui
