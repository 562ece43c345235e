#include "facade/bill_trans.h"

#include <fmt/format.h>

#include <memory>
#include <optional>
#include <utility>

#include "data/bill_records.h"
#include "data/bill_types.h"
#include "data/data_trans.h"
#include "facade/browse_entry.h"
#include "facade/transmit_log.h"
#include "host/login_props.h"
#include "host/shared_connection.h"
#include "host/user_messages.h"
#include "platform/error.h"
#include "platform/scope_exit.h"
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

constexpr std::string_view kCrLf = "\r\n";

int32_t UpperBound(const Ref<Object>& vector) { return platform::GetProperty(vector, "UpperBound").ToLong(); }
int32_t LowerBound(const Ref<Object>& vector) { return platform::GetProperty(vector, "LowerBound").ToLong(); }
Ref<Object> ItemAt(const Ref<Object>& vector, int32_t i) {
    return platform::GetProperty(vector, "Item", {Variant(i)}).ToObject();
}
Variant ValueOf(const Ref<Object>& record, std::string_view name) {
    return platform::GetProperty(record, "Value", {Variant(name)});
}
// A "BillType" against a code, by numeric value: a value with a fraction is none of the
// codes, and a Null or Empty type is none either (a comparison with Null is never true).
// Numeric text compares by its value.
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

// The packages of a download request, each made when it is read; a package's bills are
// extracted as its "BillsData" stream is read in turn. A failure while either is read is
// noted in `failed` (when given), so that a caller can tell it from one of its own.
class PackageStream : public platform::ListStream {
public:
    PackageStream(Ref<Object> requests, Ref<Object> apply_br_id, std::shared_ptr<bool> failed)
        : requests_(std::move(requests)), branch_(std::move(apply_br_id)), failed_(std::move(failed)) {}

    bool Next(Variant& item) override {
        // A request that fails is noted, whatever it raised.
        platform::ScopeExit note([this] {
            if (failed_) *failed_ = true;
        });
        if (!upper_) upper_ = UpperBound(requests_);
        if (at_ >= *upper_) {
            note.Dismiss();
            return false;
        }
        Ref<Object> request = ItemAt(requests_, ++at_);
        auto package = MakeRef<VariantDictionary>();
        package->Let(key::kBillType, ValueOf(request, key::kBillType));
        // Each comparison reads the type afresh, as a caller's dictionary may compute it.
        for (const data::BillType& type : data::kBillTypes) {
            if (!IsType(request, type.code)) continue;
            Ref<platform::ListStream> bills = data_->StreamBills(type.kind, {}, true, branch_);
            if (bills && failed_) bills = MakeRef<Watched>(std::move(bills), failed_);
            package->Set(key::kBillsData, bills);
        }
        item = Variant(std::move(package));
        note.Dismiss();
        return true;
    }

private:
    // A package's bill stream whose failures are noted too.
    class Watched : public platform::ListStream {
    public:
        Watched(Ref<platform::ListStream> inner, std::shared_ptr<bool> failed)
            : inner_(std::move(inner)), failed_(std::move(failed)) {}
        bool Next(Variant& item) override {
            platform::ScopeExit note([this] { *failed_ = true; });
            const bool more = inner_->Next(item);
            note.Dismiss();
            return more;
        }

    private:
        Ref<platform::ListStream> inner_;
        std::shared_ptr<bool> failed_;
    };

    Ref<Object> requests_;
    Ref<Object> branch_;
    std::shared_ptr<bool> failed_;
    Ref<DataTrans> data_ = MakeRef<DataTrans>();
    std::optional<int32_t> upper_;
    int32_t at_ = 0;
};

}  // namespace

BillTrans::BillTrans() { host::SetSharedConnection(platform::CreateObject(host::kAppConnectionProgId)); }

BillTrans::~BillTrans() { host::SetSharedConnection({}); }

void BillTrans::ShowType(int32_t mode) { SetBrowseMode(mode); }

Ref<VariantVector> BillTrans::VectTransmitBill() { return SelectionResult(); }

void BillTrans::Show() { RunBrowseWindow(); }

Ref<VariantVector> BillTrans::PackageBills(const Ref<Object>& requests, const Ref<Object>& apply_br_id) {
    try {
        auto packages = MakeRef<PackageStream>(requests, apply_br_id, nullptr);
        auto result = MakeRef<VariantVector>();
        Variant item;
        while (packages->Next(item)) {
            auto package = platform::ObjectAs<VariantDictionary>(item);
            const Variant* bills_data = package->Find(key::kBillsData);
            if (auto stream = bills_data ? platform::ObjectAs<platform::ListStream>(*bills_data) : nullptr) {
                auto bills = MakeRef<VariantVector>();
                Variant bill;
                while (stream->Next(bill)) bills->Add(std::move(bill));
                package->Put(std::string(key::kBillsData), Variant(bills));
            }
            result->Add(std::move(item));
        }
        return result;
    } catch (const std::exception& e) {
        host::ReportFailure(kPackageFailed, e);
        return {};
    }
}

bool BillTrans::PackageBillsStreamed(const Ref<Object>& requests, const Ref<Object>& apply_br_id,
                                     const std::function<void(const Ref<platform::ListStream>&)>& write) {
    auto failed = std::make_shared<bool>(false);
    try {
        write(MakeRef<PackageStream>(requests, apply_br_id, failed));
        return true;
    } catch (const std::exception& e) {
        if (!*failed) throw;
        host::ReportFailure(kPackageFailed, e);
        return false;
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
            if (const data::BillType* bill_type = data::FindBillType(type)) {
                ((*data).*(bill_type->mark))(ids);
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

BillTrans::Unpacking::Unpacking(BillTrans& owner)
    : owner_(owner), order_text_(std::string()), notice_text_(std::string()) {
    owner_.last_log_.clear();
    owner_.last_log_error_.clear();
    owner_.last_message_.clear();
}

bool BillTrans::Unpacking::Save(const Ref<Object>& package) {
    if (failed_) return false;
    // The saving component may change the text; what it leaves is what the next call of the
    // same kind receives.
    auto save = [&](std::string_view operation, Variant& text) {
        Ref<Object> saver = platform::CreateObject(kSaveDataProgId);
        // The text goes over, not a copy of it: it grows with every bill of a long list.
        std::vector<Variant> args;
        args.reserve(3);
        args.emplace_back(host::GetPropsString());
        args.push_back(ValueOf(package, key::kBillsData));
        args.push_back(std::move(text));
        // The text goes by reference: what the component wrote before failing is kept too.
        const platform::ScopeExit take_back([&] { text = std::move(args[2]); });
        platform::CallByName(saver, operation, CallKind::kMethod, args);
    };
    try {
        for (const data::BillType& type : data::kBillTypes) {
            if (!IsType(package, type.code)) continue;
            // Orders have a text of their own; both kinds of notices share the other.
            save(type.saving_member, type.kind == data::BillKind::kPurchaseOrder ? order_text_ : notice_text_);
            break;
        }
        return true;
    } catch (const std::exception& e) {
        Fail(e);
        return false;
    }
}

void BillTrans::Unpacking::Fail(const std::exception& failure) {
    if (failed_) return;
    // Packages handed over before the failure stay saved; the rest are not processed.
    failed_ = MakeRef<VariantDictionary>();
    std::string message;
    try {
        message = order_text_.ToText() + std::string(kCrLf) + notice_text_.ToText();
    } catch (const std::exception&) {
        message = std::string(kCrLf);
    }
    message += host::FailureDescription(failure);
    failed_->Let(kReturnMessageKey, Variant(message));
    owner_.last_message_ = message;
    try {
        owner_.WriteLog(message);
    } catch (const std::exception& log_failure) {
        owner_.last_log_error_ = host::FailureDescription(log_failure);
        throw;  // a failure here reaches the caller
    }
    host::ReportFailure(kUnpackageFailed, failure);
}

Ref<VariantDictionary> BillTrans::Unpacking::Finish() {
    if (failed_) return failed_;
    try {
        return Finished();
    } catch (const std::exception& e) {
        // Joining the texts failed (the saving component left something that is no text):
        // reported and logged as any other failure of the unpacking, never passed on.
        Fail(e);
        return failed_;
    }
}

Ref<VariantDictionary> BillTrans::Unpacking::Finished() {
    auto result = MakeRef<VariantDictionary>();
    // The texts hold a line for each bill: they are joined without more copies than needed.
    std::string message = order_text_.ToText();
    const bool orders_said = !platform::Trim(message, " ").empty();
    const size_t notices_at = message.size() + kCrLf.size();
    message += kCrLf;
    message += notice_text_.ToText();
    // Let go only now: a failure above still has both texts for its message.
    order_text_ = Variant();
    notice_text_ = Variant();
    const bool notices_said = !platform::Trim(std::string_view(message).substr(notices_at), " ").empty();
    result->Let(kReturnMessageKey, Variant(message));
    owner_.last_message_ = std::move(message);
    const std::string& message_text = owner_.last_message_;
    if (orders_said || notices_said) {
        try {
            owner_.WriteLog(message_text);
        } catch (const std::exception& e) {
            // The messages are returned to the caller; a log that cannot be written does not
            // undo the unpacking. The host may still tell its user.
            owner_.last_log_error_ = host::FailureDescription(e);
        }
    }
    return result;
}

Ref<VariantDictionary> BillTrans::UnPackageBills(const Ref<Object>& list) {
    Unpacking unpacking(*this);
    try {
        const int32_t upper = UpperBound(list);
        for (int32_t i = 1; i <= upper; ++i) {
            if (!unpacking.Save(ItemAt(list, i))) break;
        }
        return unpacking.Finish();
    } catch (const std::exception& e) {
        if (unpacking.Failed()) throw;  // the log of the failure could not be written
        unpacking.Fail(e);
        return unpacking.Finish();
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
