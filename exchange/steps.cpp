#include "exchange/steps.h"

#include <fmt/format.h>

#include <algorithm>

#include "data/bill_records.h"
#include "data/bill_types.h"
#include "data/data_trans.h"
#include "exchange/library.h"
#include "exchange/mark.h"
#include "exchange/records.h"
#include "host/variant_dictionary.h"
#include "hostkit/database.h"
#include "hostkit/bill_fingerprint.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::exchange {

using host::VariantDictionary;
using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;
namespace key = data::key;

namespace {

constexpr std::string_view kOwnBranchQuery =
    "SELECT FNumber, FName FROM t_SonCompany WHERE FItemID=(SELECT FValue FROM t_Systemprofile "
    "WHERE FCategory='IC' AND FKey='BrID')";

}  // namespace

const data::BillType& CountedAs(int32_t bill_type) {
    const data::BillType* type = data::FindBillType(bill_type);
    return type ? *type : data::BillTypeOf(data::BillKind::kReturnNotice);
}

int32_t TranTypeOf(int32_t bill_type) { return CountedAs(bill_type).tran_type; }

std::string BillTypeName(int32_t bill_type) {
    const data::BillType* type = data::FindBillType(bill_type);
    return type ? std::string(type->name) : fmt::format("bill type {}", bill_type);
}

Branch OwnBranch(hostkit::Database& db) {
    Ref<platform::RecordSet> rows = db.Query(kOwnBranchQuery);
    if (rows->Eof()) {
        throw Error(ErrorCode::kNotFound,
                    fmt::format("The account {} does not say which branch it belongs to "
                                "(system option IC/BrID and t_SonCompany)",
                                db.Name()));
    }
    return Branch{rows->Value(0).ToText(), rows->Value(1).ToText()};
}

bool IsKnownBillType(int32_t bill_type) { return data::FindBillType(bill_type) != nullptr; }

std::unordered_map<int32_t, std::string> CurrentFingerprints(hostkit::Database& db, int32_t bill_type,
                                                             const std::vector<int32_t>& ids) {
    std::unordered_map<int32_t, std::string> fingerprints;
    const data::BillType* type = data::FindBillType(bill_type);
    if (ids.empty() || !type) return fingerprints;
    LibrarySession library(db);
    auto extract = MakeRef<data::DataTrans>();
    // A few hundred bills to a statement keeps the statement's text short, however many
    // bills a receipt acknowledges.
    constexpr size_t kIdsPerExtraction = 500;
    for (size_t start = 0; start < ids.size(); start += kIdsPerExtraction) {
        std::string listed;
        for (size_t i = start; i < std::min(ids.size(), start + kIdsPerExtraction); ++i) {
            listed += fmt::format("{}{}", listed.empty() ? "" : ",", ids[i]);
        }
        Ref<VariantVector> bills = ((*extract).*type->extract)(listed, false, {});
        if (!bills) continue;
        for (int32_t b = 1; b <= bills->UpperBound(); ++b) {
            auto bill = AsRecord(bills->Item(b));
            if (!bill) continue;
            fingerprints.emplace(bill->Value(key::kBillInterID).ToLong(), hostkit::BillFingerprint(Variant(bill)));
        }
    }
    return fingerprints;
}

bool Mark(hostkit::Database& db, const Ref<VariantVector>& list) {
    LibrarySession library(db);
    library.Library().SetTranStatus(list);
    return !library.Failed();
}

Ref<VariantVector> AcknowledgedList(const ReceiptFile& receipt) {
    auto list = MakeRef<VariantVector>();
    for (const ReceiptPackage& p : receipt.packages) {
        if (!IsKnownBillType(p.bill_type)) continue;
        auto bills = MakeRef<VariantVector>();
        for (const ReceiptBill& b : p.bills) {
            if (!b.Acknowledged()) continue;
            auto bill = MakeRef<VariantDictionary>();
            bill->Let(key::kBillInterID, Variant(*b.bill_inter_id));
            bills->Add(Variant(bill));
        }
        if (bills->UpperBound() == 0) continue;
        auto package = MakeRef<VariantDictionary>();
        package->Let(key::kBillType, Variant(p.bill_type));
        package->Set(key::kBillsData, bills);
        list->Add(Variant(package));
    }
    return list;
}

void RequireBranch(const Branch& named, const Branch& expected, std::string_view file, std::string_view role,
                   const hostkit::Database& db) {
    if (named.number == expected.number) return;
    throw Error(ErrorCode::kBadInput,
                fmt::format("'{}' names branch {} ({}) as its {}, but the account database '{}' belongs to branch "
                            "{} ({}); nothing was changed",
                            file, platform::EscapeControls(named.number), platform::EscapeControls(named.name), role,
                            db.ShownLocation(), expected.number, expected.name));
}

ReceiptFile ReceiptFor(const Branch& own, const ListFile& answered, const std::string& list_sha256,
                       std::vector<ReceiptPackage> packages) {
    return ReceiptFile{.sender = own,
                       .receiver = answered.sender,
                       .created = platform::Date::Now(),
                       .list_sender = answered.sender,
                       .list_created = answered.created,
                       .list_sha256 = list_sha256,
                       .packages = std::move(packages)};
}

}  // namespace orba::exchange

