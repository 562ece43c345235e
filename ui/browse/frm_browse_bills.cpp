#include "ui/browse/frm_browse_base.h"

#include <set>

#include <fmt/format.h>

#include "data/bill_records.h"
#include "facade/browse_entry.h"
#include "host/login_props.h"
#include "host/modpub.h"
#include "host/user_messages.h"
#include "host/variant_dictionary.h"
#include "platform/error.h"
#include "platform/scope_exit.h"
#include "platform/registry.h"
#include "platform/ui_services.h"
#include "ui/browse/bill_kinds.h"
#include "ui/list/frm_list.h"

namespace orba::ui {

using host::VariantDictionary;
using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Object;
using platform::Ref;
using platform::Variant;
namespace key = data::key;

namespace {

constexpr int16_t kShowForModeExt = 2;
constexpr int16_t kTheSaleMode = 0;
constexpr int16_t kShowMode = 2;

size_t Index(int kind) { return static_cast<size_t>(kind); }

// Rows and fields of objects that are reached by name, as every outside object is.
int32_t UpperBound(const Ref<Object>& vector) { return platform::GetProperty(vector, "UpperBound").ToLong(); }
Ref<Object> ItemAt(const Ref<Object>& vector, int32_t i) {
    return platform::GetProperty(vector, "Item", {Variant(i)}).ToObject();
}
Variant RecordValue(const Ref<Object>& record, std::string_view name) {
    return platform::GetProperty(record, "Value", {Variant(name)});
}
Variant FieldValue(const Ref<Object>& record_set, std::string_view name) {
    return platform::GetProperty(record_set, "Fields", {Variant(name)}).Resolved();
}
// A Null joins a row's text as nothing.
std::string TextOf(const Variant& v) { return v.IsNull() ? std::string() : v.ToText(); }
std::string DateTextOf(const Variant& v) {
    if (v.IsNull()) return {};
    const platform::Date d = v.ToDate();
    return fmt::format("{:04}-{:02}-{:02}", d.Year(), d.Month(), d.Day());
}

// A listed bill as the account database describes it (FTranType, FBillNo, FDate,
// FRelateBrName, FCompanyName of its bill information).
ChosenBill BillFromInfo(const Ref<Object>& info, int32_t inter_id) {
    return ChosenBill{TextOf(FieldValue(info, "FTranType")),     std::to_string(inter_id),
                      TextOf(FieldValue(info, "FBillNo")),       DateTextOf(FieldValue(info, "FDate")),
                      TextOf(FieldValue(info, "FRelateBrName")), TextOf(FieldValue(info, "FCompanyName"))};
}

// A bill as the messages name it: its own kind and its number ("发货通知单 SEOUT01-000007").
std::string BillLabel(std::string_view tran_type, std::string_view bill_no) {
    const int kind = KindOfTranType(tran_type);
    std::string label = kind >= 0 ? std::string(kBillKinds[Index(kind)].send_text)
                                  : std::string(kTranTypeWord) + std::string(tran_type);
    return label.append(" ").append(bill_no);
}

std::string HeadingAndLines(std::string_view heading, const std::vector<std::string>& lines) {
    std::string text(heading);
    for (const std::string& line : lines) text.append("\n").append(line);
    return text;
}

}  // namespace

// ---- Bill lists -----------------------------------------------------------------------

void FrmBrowseBase::SelectBills(std::string_view tab_key) {
    const ListLogin login = CutListLogin(host::GetPropsString());
    const std::string local_cnn = host::GetLocalCnn();
    const int kind = KindOfKey(tab_key);
    if (kind < 0 || tab_key != kBillKinds[Index(kind)].send_key) {
        throw Error(ErrorCode::kInvalidProcedureCall, fmt::format("'{}' is not a bill type to send", tab_key));
    }
    const BillKind& k = kBillKinds[Index(kind)];
    FrmList dialog(this);
    dialog.BaseInfo(BaseInfoText(login));
    dialog.ListID(k.list_id);
    dialog.TranType(k.tran_type);
    dialog.ListShowStatus(2);
    dialog.Filter(std::string(k.filter));
    dialog.LocalCnn(local_cnn);
    dialog.SystemName(std::string(k.list_system_name));
    dialog.MultiSelect(true);
    dialog.CanSelectMultiRow(true);
    const platform::ScopeExit unload([&] { dialog.Unload(); });
    dialog.InitData();
    dialog.ShowModal();
    if (dialog.OK()) FillBillGrid(kind, dialog.Selected());
}

void FrmBrowseBase::FillBillGrid(const Ref<Object>& selection) {
    const int kind = CurrentKind();
    if (kind < 0) throw Error(ErrorCode::kInvalidProcedureCall, "No bill list is shown to take the chosen bills");
    FillBillGrid(kind, selection);
}

void FrmBrowseBase::FillBillGrid(int kind, const Ref<Object>& selection) {
    if (kind < 0 || Index(kind) >= chosen_.size()) {
        throw Error(ErrorCode::kInvalidProcedureCall, fmt::format("There is no bill list {}", kind));
    }
    const std::string own_type = std::to_string(kBillKinds[Index(kind)].tran_type);
    std::vector<std::string> left_out;
    ChosenBills& bills = chosen_[Index(kind)];
    bills.Clear();
    std::pair<int32_t, int32_t> last{0, 0};  // internal number, transaction type
    const int32_t upper = UpperBound(selection);
    for (int32_t i = 1; i <= upper; ++i) {
        const Ref<Object> record = ItemAt(selection, i);
        const std::pair<int32_t, int32_t> at{RecordValue(record, "FInterID").ToLong(),
                                             RecordValue(record, "FTranType").ToLong()};
        // Records of one bill that follow one another (one per line) give one row; a bill of
        // another type may have the same internal number.
        if (at == last) continue;
        last = at;
        ChosenBill bill = BillFromInfo(data_->GetBillInfo(at.second, at.first), at.first);
        // The type is the database's, read with the summary: a list control may hand out a bill
        // of another kind, whose internal number names another bill in this kind's table.
        if (bill.tran_type != own_type) {
            left_out.push_back(BillLabel(bill.tran_type, bill.bill_no));
            continue;
        }
        bills.Append(std::move(bill));
    }
    grids_[Index(kind)]->resizeColumnsToContents();
    if (!left_out.empty()) platform::ShowInfoMessage(HeadingAndLines(kOtherKindNotListed, left_out), host::kMessageTitle);
}

Ref<VariantVector> FrmBrowseBase::CollectBills(int kind) {
    const ChosenBills& bills = chosen_.at(Index(kind));
    if (bills.Empty()) return {};
    switch (kind) {
        case 0: return data_->GetPOOrdVect(bills.IdList(), false, {});
        case 1: return data_->GetSEOutVect(bills.IdList(), false, {});
        default: return data_->GetSEInVect(bills.IdList(), false, {});
    }
}

Ref<VariantVector> FrmBrowseBase::GetPOOrdBills() { return CollectBills(0); }
Ref<VariantVector> FrmBrowseBase::GetSEOutBills() { return CollectBills(1); }
Ref<VariantVector> FrmBrowseBase::GetSEInBills() { return CollectBills(2); }

Ref<platform::RecordSet> FrmBrowseBase::GetListRS(int16_t index) const {
    const BillGrid* grid = grids_.at(static_cast<size_t>(index));
    return chosen_.at(static_cast<size_t>(index)).ListRecordSet(grid->SelectionRow() - grid->FixedRows() - 1);
}

// ---- Sending, downloading, viewing ---------------------------------------------------

Ref<VariantVector> FrmBrowseBase::GetSendBillVect() {
    try {
        const auto sent = [this](size_t i) { return !chosen_[i].Empty() && NodeChecked(kBillKinds[i].send_key); };
        // A bill is extracted from its list's table by internal number, which names another bill
        // there when the bill is of another kind: such a bill stops the send, so that nothing goes
        // under another kind's type and number.
        std::vector<std::string> other_kind;
        const auto misplaced = [&other_kind](const BillKind& k, std::string_view tran_type, std::string_view bill_no) {
            if (tran_type == std::to_string(k.tran_type)) return;
            other_kind.push_back(std::string(k.send_text) + std::string(kInTheListOf) + BillLabel(tran_type, bill_no));
        };
        const auto refuse = [&other_kind] {
            platform::ShowInfoMessage(HeadingAndLines(kOtherKindNotSent, other_kind), host::kMessageTitle);
            return Ref<VariantVector>();
        };
        for (size_t i = 0; i < kBillKinds.size(); ++i) {
            if (!sent(i)) continue;
            for (const ChosenBill& b : chosen_[i].Bills()) misplaced(kBillKinds[i], b.tran_type, b.bill_no);
        }
        if (!other_kind.empty()) return refuse();

        auto result = MakeRef<VariantVector>();
        std::vector<std::string> not_found;
        for (size_t i = 0; i < kBillKinds.size(); ++i) {
            const BillKind& k = kBillKinds[i];
            if (!sent(i)) continue;
            auto package = MakeRef<VariantDictionary>();
            package->Let(key::kBillType, Variant(k.bill_type));
            package->Let(key::kBillName, Variant(k.bill_name));
            Ref<VariantVector> bills = CollectBills(static_cast<int>(i));
            package->Set(key::kBillsData, bills);
            result->Add(Variant(package));
            // A listed bill deleted since drops out of the extraction: the host names it. One
            // whose type the database has changed since it was listed is of another kind now.
            std::set<std::string> found;
            for (int32_t b = 1; bills && b <= bills->UpperBound(); ++b) {
                auto bill = platform::ObjectAs<VariantDictionary>(bills->Item(b));
                if (!bill) continue;
                misplaced(k, TextOf(bill->ValueOrDefault(key::kBillType, Variant())),
                          TextOf(bill->ValueOrDefault(key::kBillID, Variant())));
                if (const Variant* id = bill->Find(key::kBillInterID)) found.insert(id->ToText());
            }
            for (const ChosenBill& chosen : chosen_[i].Bills()) {
                if (!found.contains(chosen.inter_id)) not_found.push_back(std::string(k.send_text) + " " + chosen.bill_no);
            }
        }
        if (!other_kind.empty()) return refuse();
        facade::SetBillsNotFound(std::move(not_found));
        return result;
    } catch (const std::exception& e) {
        host::ReportFailure(kReadFailed, e);
        return {};
    }
}

Ref<VariantVector> FrmBrowseBase::GetDownBillVect() {
    try {
        auto result = MakeRef<VariantVector>();
        for (const BillKind& k : kBillKinds) {
            if (!NodeChecked(k.down_key)) continue;
            auto package = MakeRef<VariantDictionary>();
            package->Let(key::kBillType, Variant(k.bill_type));
            package->Let(key::kBillName, Variant(k.bill_name));
            package->Set(key::kBillsData, Ref<Object>());
            result->Add(Variant(package));
        }
        return result;
    } catch (const std::exception& e) {
        host::ReportFailure(kReadFailed, e);
        return {};
    }
}

void FrmBrowseBase::OnGridActivate(int index) {
    if (grids_.at(Index(index))->ActivationRow() > 1) ViewBills(static_cast<int16_t>(index));
}

void FrmBrowseBase::ViewBills(int16_t index) {
    Ref<platform::RecordSet> rs = GetListRS(index);
    const BillKind& k = kBillKinds.at(static_cast<size_t>(index));
    OpenBills(rs, list_field_vect_, kShowForModeExt, kTheSaleMode, static_cast<int16_t>(k.tran_type), k.show_code,
              kShowMode, k.viewer_system_name);
}

void FrmBrowseBase::OpenBills(const Ref<Object>& list_rs, const Ref<Object>& field_vect, int16_t show_for_mode_ext,
                              int16_t the_sale_mode, int16_t tran_type, int16_t show_code, int16_t show_mode,
                              std::string_view system_name) {
    auto ui = platform::Ui();
    ui->SetMousePointer(platform::MousePointer::kHourglass);
    try {
        host::ParseProps(host::GetPropsString());
        if (show_mode != 0 && platform::GetProperty(list_rs, "RecordCount").ToLong() < 1) {
            ui->SetMousePointer(platform::MousePointer::kDefault);
            return;
        }
        Ref<Object> viewer = platform::CreateObject(kViewerProgId);
        platform::LetProperty(viewer, "LocalCnn", {}, Variant(host::GetLocalCnn()));
        platform::SetProperty(viewer, "ListRecordset", {}, list_rs);
        platform::LetProperty(viewer, "NewBillTransType", {}, Variant(std::to_string(tran_type)));
        platform::LetProperty(viewer, "SystemName", {}, Variant(system_name));
        platform::SetProperty(viewer, "ListRSFieldVect", {}, field_vect);
        platform::LetProperty(viewer, "ShowForModeExt", {}, Variant(show_for_mode_ext));
        platform::Call(viewer, "SetOpt", {Variant(host::GetUserID()), Variant(host::GetUserName())});
        platform::LetProperty(viewer, "TheSaleMode", {}, Variant(the_sale_mode));
        std::vector<Variant> show_args{Variant(show_code), Variant(show_mode)};
        platform::CallByName(viewer, "Show", platform::CallKind::kMethod, show_args);
    } catch (const std::exception& e) {
        const std::string description = host::FailureDescription(e);
        try {
            host::ShowAssistantNote(description);
        } catch (const std::exception&) {
            // Without a help assistant the user still learns why nothing was shown.
            platform::ShowInfoMessage(description, host::kMessageTitle);
        }
    }
    ui->SetMousePointer(platform::MousePointer::kDefault);
}

}  // namespace orba::ui
