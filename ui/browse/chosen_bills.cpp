#include "ui/browse/chosen_bills.h"

#include <fmt/format.h>

#include <array>

#include "platform/error.h"

namespace orba::ui {
namespace {

constexpr std::array<std::string ChosenBill::*, kChosenBillColumns> kCells{
    &ChosenBill::tran_type, &ChosenBill::inter_id, &ChosenBill::bill_no,
    &ChosenBill::date,      &ChosenBill::branch,   &ChosenBill::partner};

std::string ChosenBill::*CellMember(int32_t column) {
    if (column < 0 || column >= kChosenBillColumns) {
        throw platform::Error(platform::ErrorCode::kSubscriptOutOfRange,
                              fmt::format("A listed bill has no column {}", column));
    }
    return kCells[static_cast<size_t>(column)];
}

}  // namespace

const std::string& CellOf(const ChosenBill& bill, int32_t column) { return bill.*CellMember(column); }
std::string& CellOf(ChosenBill& bill, int32_t column) { return bill.*CellMember(column); }

void ChosenBills::SetCaptions(std::vector<std::string> captions) {
    captions_ = std::move(captions);
    if (listener_) listener_->CaptionsChanged();
}

void ChosenBills::Append(ChosenBill bill) {
    if (listener_) listener_->BeginInsert(bills_.size(), bills_.size());
    bills_.push_back(std::move(bill));
    if (listener_) listener_->EndInsert();
}

void ChosenBills::Replace(size_t row, ChosenBill bill) {
    bills_.at(row) = std::move(bill);
    if (listener_) listener_->RowChanged(row);
}

void ChosenBills::Resize(size_t count) {
    const size_t before = bills_.size();
    if (count < before) {
        if (listener_) listener_->BeginRemove(count, before - 1);
        bills_.resize(count);
        if (listener_) listener_->EndRemove();
    } else if (count > before) {
        if (listener_) listener_->BeginInsert(before, count - 1);
        bills_.resize(count);
        if (listener_) listener_->EndInsert();
    }
}

std::string ChosenBills::IdList() const {
    std::string ids;
    for (const ChosenBill& b : bills_) ids += b.inter_id + ",";
    if (!ids.empty()) ids.pop_back();
    return ids;
}

platform::Ref<platform::RecordSet> ChosenBills::ListRecordSet(int32_t offset) const {
    auto rs = platform::MakeRef<platform::RecordSet>();
    rs->AppendField("FInterID", platform::FieldType::kInteger, 0, -1);
    rs->AppendField("FTranType", platform::FieldType::kInteger, 0, -1);
    rs->Open();
    for (const ChosenBill& b : bills_) {
        rs->AddNew();
        rs->SetValue("FInterID", platform::Variant(b.inter_id));
        rs->SetValue("FTranType", platform::Variant(b.tran_type));
        rs->Update();
    }
    if (rs->RecordCount() > 0) {
        rs->MoveFirst();
        rs->Move(offset);
    }
    return rs;
}

}  // namespace orba::ui
