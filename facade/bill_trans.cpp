#include "facade/bill_trans.h"

#include <fmt/format.h>

#include <optional>

#include "data/bill_records.h"
#include "data/data_trans.h"
#include "facade/browse_entry.h"
#include "facade/transmit_log.h"
#include "host/login_props.h"
#include "host/shared_connection.h"
#include "host/user_messages.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace orba::facade {

using data::DataTrans;
using host::VariantDictionary;
using host::VariantVector;
using platform::CallArgs;
using platform::CallKind;
using platform::MakeRef;
using platform::Object;
using platform::Ref;
using platform::Variant;
namespace key = data::key;

namespace {

constexpr int32_t kPurchaseOrder = 501;
constexpr int32_t kDeliveryNotice = 502;
constexpr int32_t kReturnNotice = 503;
constexpr std::string_view kCrLf = "\r\n";

int32_t UpperBound(const Ref<Object>& vector) { return platform::GetProperty(vector, "UpperBound").ToLong(); }
int32_t LowerBound(const Ref<Object>& vector) { return platform::GetProperty(vector, "LowerBound").ToLong(); }
Ref<Object> ItemAt(const Ref<Object>& vector, int32_t i) {
    return platform::GetProperty(vector, "Item", {Variant(i)}).ToObject();
}
Variant ValueOf(const Ref<Object>& record, std::string_view name) {
    return platform::GetProperty(record, "Value", {Variant(name)});
}
// A "BillType" against a code, by numeric value: 501.4 is none of the codes, and a Null or
// Empty type is none either (a comparison with Null is never true). Numeric text compares
// by its value.
bool IsType(const Ref<Object>& record, int32_t code) {
    const Variant type = ValueOf(record, key::kBillType).Resolved();
    std::optional<platform::Decimal> value;
    if (type.IsNumeric()) {
        value = type.ToDecimal();
    } else if (type.IsString()) {
        value = platform::Decimal::TryParse(type.AsString());
    }
    return value && *value == platform::Decimal(int64_t{code});
}

}  // namespace

BillTrans::BillTrans() { host::SetSharedConnection(platform::CreateObject(host::kAppConnectionProgId)); }

BillTrans::~BillTrans() { host::SetSharedConnection({}); }

void BillTrans::ShowType(int32_t mode) { SetBrowseMode(mode); }

Ref<VariantVector> BillTrans::VectTransmitBill() { return SelectionResult(); }

void BillTrans::Show() { RunBrowseWindow(); }

Ref<VariantVector> BillTrans::PackageBills(const Ref<Object>& requests, const Ref<Object>& apply_br_id) {
    try {
        auto data = MakeRef<DataTrans>();
        auto result = MakeRef<VariantVector>();
        const int32_t upper = UpperBound(requests);
        for (int32_t i = 1; i <= upper; ++i) {
            Ref<Object> request = ItemAt(requests, i);
            auto package = MakeRef<VariantDictionary>();
            package->Let(key::kBillType, ValueOf(request, key::kBillType));
            // Each comparison reads the type afresh, as a caller's dictionary may compute it.
            if (IsType(request, kPurchaseOrder)) {
                package->Set(key::kBillsData, data->GetPOOrdVect({}, true, apply_br_id));
            }
            if (IsType(request, kDeliveryNotice)) {
                package->Set(key::kBillsData, data->GetSEOutVect({}, true, apply_br_id));
            }
            if (IsType(request, kReturnNotice)) {
                package->Set(key::kBillsData, data->GetSEInVect({}, true, apply_br_id));
            }
            result->Add(Variant(package));
        }
        return result;
    } catch (const std::exception& e) {
        host::ReportFailure(kPackageFailed, e);
        return {};
    }
}

void BillTrans::SetTranStatus(const Ref<Object>& list) {
    try {
        auto data = MakeRef<DataTrans>();
        const int32_t upper = UpperBound(list);
        for (int32_t p = LowerBound(list); p <= upper; ++p) {
            Ref<Object> package = ItemAt(list, p);
            const int32_t type = ValueOf(package, key::kBillType).ToLong();
            // A package of another type carries no bill list at all; it has nothing to mark.
            Variant bills_value = platform::Call(package, "ValueOrDefault", {Variant(key::kBillsData), Variant::Nothing()});
            Ref<Object> bills = bills_value.ToObject();
            if (!bills) continue;
            std::string ids;
            const int32_t bills_upper = UpperBound(bills);
            for (int32_t b = LowerBound(bills); b <= bills_upper; ++b) {
                Ref<Object> bill = ItemAt(bills, b);
                Variant id = platform::Call(bill, "ValueOrDefault", {Variant(key::kBillInterID), Variant(int32_t{0})});
                // A Null id compares as neither equal nor unequal to 0: the bill is left out.
                if (!id.IsNull() && id.ToDouble() != 0) ids += ValueOf(bill, key::kBillInterID).ToText() + ",";
            }
            if (ids.empty()) continue;
            ids.pop_back();
            if (type == kPurchaseOrder) {
                data->SetOrdTranStatus(ids);
            } else if (type == kDeliveryNotice || type == kReturnNotice) {
                data->SetNoticeTranStatus(ids);
            }
        }
    } catch (const std::exception& e) {
        host::ReportFailure(kTranStatusFailed, e);
    }
}

std::filesystem::path BillTrans::WriteLog(std::string_view text) {
    last_log_ = WriteTransmitLog(LogDirectory(), text);
    return last_log_;
}

Ref<VariantDictionary> BillTrans::UnPackageBills(const Ref<Object>& list) {
    last_log_.clear();
    last_log_error_.clear();
    last_message_.clear();
    // The order text serves every purchase-order package; the notice text is shared by
    // delivery and return notices. The saving component may change them; what it leaves
    // is what the next call of the same kind receives.
    Variant order_text{std::string()};
    Variant notice_text{std::string()};
    auto save = [](std::string_view operation, const Ref<Object>& package, Variant& text) {
        Ref<Object> saver = platform::CreateObject(kSaveDataProgId);
        std::vector<Variant> args{Variant(host::GetPropsString()), ValueOf(package, key::kBillsData), text};
        // The text goes by reference: what the component wrote before failing is kept too.
        try {
            platform::CallByName(saver, operation, CallKind::kMethod, args);
        } catch (...) {
            text = std::move(args[2]);
            throw;
        }
        text = std::move(args[2]);
    };
    try {
        const int32_t upper = UpperBound(list);
        for (int32_t i = 1; i <= upper; ++i) {
            Ref<Object> package = ItemAt(list, i);
            if (IsType(package, kPurchaseOrder)) {
                save("UnPackageOrd", package, order_text);
            } else if (IsType(package, kDeliveryNotice) || IsType(package, kReturnNotice)) {
                save("UnPackageNotice", package, notice_text);
            }
        }
        auto result = MakeRef<VariantDictionary>();
        const std::string orders = order_text.ToText();
        const std::string notices = notice_text.ToText();
        const std::string message = orders + std::string(kCrLf) + notices;
        result->Let(kReturnMessageKey, Variant(message));
        last_message_ = message;
        if (!platform::Trim(orders, " ").empty() || !platform::Trim(notices, " ").empty()) {
            try {
                WriteLog(message);
            } catch (const std::exception& e) {
                // The messages are returned to the caller; a log that cannot be written
                // does not undo the unpacking. The host may still tell its user.
                last_log_error_ = host::FailureDescription(e);
            }
        }
        return result;
    } catch (const std::exception& e) {
        // Packages handed over before the failure stay saved; the rest are not processed.
        auto result = MakeRef<VariantDictionary>();
        std::string message;
        try {
            message = order_text.ToText() + std::string(kCrLf) + notice_text.ToText();
        } catch (const std::exception&) {
            message = std::string(kCrLf);
        }
        message += host::FailureDescription(e);
        result->Let(kReturnMessageKey, Variant(message));
        last_message_ = message;
        try {
            WriteLog(message);
        } catch (const std::exception& log_failure) {
            last_log_error_ = host::FailureDescription(log_failure);
            throw;  // a failure here reaches the caller
        }
        host::ReportFailure(kUnpackageFailed, e);
        return result;
    }
}

const platform::MemberTable<BillTrans>& BillTrans::Members() {
    static const platform::MemberTable<BillTrans> table = [] {
        platform::MemberTable<BillTrans> t("BillTrans");
        t.Let("ShowType", 0, 0,
              [](BillTrans&, CallArgs& a) {
                  try {
                      ShowType(a.Assigned().ToLong());
                  } catch (const platform::Error& e) {
                      a.Rethrow(0, e);
                  }
                  return Variant();
              })
            .Get("VectTransmitBill", 0, 0, [](BillTrans&, CallArgs&) { return Variant(VectTransmitBill()); })
            .Method("Show", 0, 0, [](BillTrans& b, CallArgs&) {
                b.Show();
                return Variant();
            })
            .Method("PackageBills", 2, 2,
                 [](BillTrans& b, CallArgs& a) { return Variant(b.PackageBills(a.Obj(0), a.Obj(1))); })
            .Method("UnPackageBills", 1, 1,
                    [](BillTrans& b, CallArgs& a) { return Variant(b.UnPackageBills(a.Obj(0))); })
            .Method("SetTranStatus", 1, 1, [](BillTrans& b, CallArgs& a) {
                b.SetTranStatus(a.Obj(0));
                return Variant();
            });
        return t;
    }();
    return table;
}

}  // namespace orba::facade
