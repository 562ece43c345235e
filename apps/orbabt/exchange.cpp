#include "apps/orbabt/exchange.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>
#include <map>

#include "apps/orbabt/host_setup.h"
#include "data/bill_records.h"
#include "data/data_trans.h"
#include "facade/bill_trans.h"
#include "hostkit/saving/bill_fingerprint.h"
#include "host/variant_dictionary.h"
#include "hostkit/save_data.h"
#include "host/user_messages.h"
#include "hostkit/db/database.h"
#include "platform/error.h"

namespace orba::apps {

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

Ref<VariantDictionary> AsRecord(const Variant& v) { return platform::ObjectAs<VariantDictionary>(v); }

Ref<VariantVector> AsList(const Variant* v) { return v ? platform::ObjectAs<VariantVector>(*v) : Ref<VariantVector>(); }

// Shows "label: done/total" on one terminal line while a long step runs.
class Progress {
public:
    explicit Progress(std::string label) : label_(std::move(label)), visible_(ProgressVisible()) {}
    ~Progress() {
        if (visible_ && shown_) std::cerr << "\r\033[K" << std::flush;
    }
    void Show(int done, int total) {
        if (!visible_) return;
        shown_ = true;
        std::cerr << fmt::format("\r{}: {}/{}", label_, done, total) << std::flush;
    }

private:
    std::string label_;
    bool visible_;
    bool shown_ = false;
};

}  // namespace

int32_t TranTypeOf(int32_t bill_type) { return bill_type == 501 ? 71 : bill_type == 502 ? 83 : 82; }

std::string BillTypeName(int32_t bill_type) {
    switch (bill_type) {
        case 501: return "purchase orders";
        case 502: return "delivery notices";
        case 503: return "return notices";
        default: return fmt::format("bill type {}", bill_type);
    }
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

std::vector<PackageCount> CountPackages(const VariantVector& list) {
    std::vector<PackageCount> counts;
    for (int32_t i = 1; i <= list.UpperBound(); ++i) {
        auto package = AsRecord(list.Item(i));
        PackageCount c;
        if (!package) {
            counts.push_back(c);
            continue;
        }
        c.bill_type = package->ValueOrDefault(key::kBillType, Variant(int32_t{0})).ToLong();
        if (auto bills = AsList(package->Find(key::kBillsData))) {
            for (int32_t b = 1; b <= bills->UpperBound(); ++b) {
                auto bill = AsRecord(bills->Item(b));
                if (!bill) continue;
                ++c.bills;
                const Variant* entries = bill->Find(c.bill_type == 501 ? key::kReqEntry : key::kNoticeEntry);
                const int lines = AsList(entries) ? AsList(entries)->UpperBound() : 0;
                c.lines += lines;
                if (bill->ValueOrDefault(key::kBillType, Variant(int32_t{0})).ToLong() == TranTypeOf(c.bill_type)) {
                    ++c.own_bills;
                    c.own_lines += lines;
                    if (const Variant* no = bill->Find(key::kBillID); no && no->IsString()) {
                        c.bill_numbers.emplace_back(no->AsString());
                    }
                    if (const Variant* id = bill->Find(key::kBillInterID); id && id->IsNumeric()) {
                        c.inter_ids.push_back(id->ToLong());
                    }
                }
            }
        }
        counts.push_back(std::move(c));
    }
    return counts;
}

Ref<VariantVector> Package(hostkit::Database& db, const VariantVector& requests, const Branch& receiver) {
    UseDatabase(db);
    auto branch = MakeRef<VariantDictionary>();
    branch->Let(key::kNumber, Variant(receiver.number));
    branch->Let(key::kName, Variant(receiver.name));
    auto trans = MakeRef<facade::BillTrans>();
    auto list = MakeRef<VariantVector>();
    // One request at a time, so that a terminal shows how far packaging has come; each
    // call returns the package of its one request.
    Progress progress("Packaging");
    for (int32_t i = 1; i <= requests.UpperBound(); ++i) {
        progress.Show(i - 1, requests.UpperBound());
        auto single = MakeRef<VariantVector>();
        single->Add(requests.Item(i));
        const int before = ConsoleUi().Count();
        Ref<VariantVector> packaged = trans->PackageBills(single, branch);
        if (!packaged || ConsoleUi().Count() != before) {
            throw Error(ErrorCode::kDatabaseError, "Packaging failed; the message above says why");
        }
        list->Add(packaged->Item(1));
    }
    return list;
}

bool IsKnownBillType(int32_t bill_type) { return bill_type == 501 || bill_type == 502 || bill_type == 503; }

UnpackageResult Unpackage(hostkit::Database& db, const ListFile& file) {
    const Ref<VariantVector>& list = file.list;
    UseDatabase(db);
    auto trans = MakeRef<facade::BillTrans>();
    UnpackageResult result;
    // Each package's bill list is known by its identity: the saving component names the list
    // a bill came in.
    std::map<const platform::Object*, size_t> package_of;
    for (int32_t i = 1; i <= list->UpperBound(); ++i) {
        ReceiptPackage p;
        if (auto package = AsRecord(list->Item(i))) {
            const Variant type = package->ValueOrDefault(key::kBillType, Variant(int32_t{0}));
            p.bill_type = type.IsNumeric() ? type.ToLong() : 0;
            const Variant* bills = package->Find(key::kBillsData);
            if (bills && bills->IsObject() && bills->AsObject()) {
                package_of.emplace(bills->AsObject().Get(), result.packages.size());
            }
            // The library passes over a package of any other type without a word: its bills
            // are answered here, so that the sender learns they were not saved.
            if (!IsKnownBillType(p.bill_type) && AsList(bills)) {
                const Ref<VariantVector> unknown = AsList(bills);
                for (int32_t b = 1; b <= unknown->UpperBound(); ++b) {
                    ReceiptBill bill;
                    if (auto record = AsRecord(unknown->Item(b))) {
                        const Variant id = record->ValueOrDefault(key::kBillInterID, Variant());
                        if (id.Type() == platform::VarType::kLong) bill.bill_inter_id = id.AsLong();
                        const Variant no = record->ValueOrDefault(key::kBillID, Variant());
                        if (no.IsString()) bill.bill_no = no.AsString();
                    }
                    bill.reason = fmt::format("it came in a package of bill type {}, which this branch does not "
                                              "take (501, 502, 503); not saved",
                                              p.bill_type);
                    p.bills.push_back(std::move(bill));
                }
            }
        }
        result.packages.push_back(std::move(p));
    }
    Progress progress("Saving bills");
    hostkit::SetSaveProgress([&progress](int done, int total) { progress.Show(done, total); });
    hostkit::SetSaveOutcomes([&](const hostkit::SaveOutcome& o) {
        auto at = package_of.find(o.bills);
        if (at == package_of.end()) return;
        ReceiptBill bill;
        if (o.bill_inter_id.IsNumeric()) {
            try {
                bill.bill_inter_id = o.bill_inter_id.ToLong();
            } catch (const Error&) {
            }
        }
        bill.bill_no = o.bill_no;
        bill.outcome = o.kind;
        bill.reason = o.reason;
        bill.fingerprint = o.fingerprint;
        result.packages[at->second].bills.push_back(std::move(bill));
    });
    hostkit::SetReceivedList(hostkit::ReceivedList{file.sender.number, file.created});
    const int before = ConsoleUi().Count();
    try {
        auto answer = trans->UnPackageBills(list);
        result.message = answer->Value(facade::kReturnMessageKey).ToText();
    } catch (const std::exception& e) {
        // Only a log that could not be written after a failure ends the unpacking without a
        // result; what was saved before stays saved and goes into the receipt.
        result.message = trans->LastReturnMessage();
        result.log_error = trans->LastLogError().empty() ? host::FailureDescription(e) : trans->LastLogError();
        result.failed = true;
    }
    hostkit::SetSaveProgress({});
    hostkit::SetSaveOutcomes({});
    hostkit::SetReceivedList(std::nullopt);
    result.log = trans->LastLogFile();
    if (result.log_error.empty()) result.log_error = trans->LastLogError();
    if (ConsoleUi().Count() != before) result.failed = true;
    return result;
}

std::unordered_map<int32_t, std::string> CurrentFingerprints(hostkit::Database& db, int32_t bill_type,
                                                             const std::vector<int32_t>& ids) {
    std::unordered_map<int32_t, std::string> fingerprints;
    if (ids.empty() || !IsKnownBillType(bill_type)) return fingerprints;
    UseDatabase(db);
    // The shared connection lives with a BillTrans object.
    auto trans = MakeRef<facade::BillTrans>();
    auto extract = MakeRef<data::DataTrans>();
    // A few hundred bills to a statement keeps the statement's text short, however many
    // bills a receipt acknowledges.
    constexpr size_t kIdsPerExtraction = 500;
    for (size_t start = 0; start < ids.size(); start += kIdsPerExtraction) {
        std::string listed;
        for (size_t i = start; i < std::min(ids.size(), start + kIdsPerExtraction); ++i) {
            listed += fmt::format("{}{}", listed.empty() ? "" : ",", ids[i]);
        }
        Ref<VariantVector> bills = bill_type == 501   ? extract->GetPOOrdVect(listed, false)
                                   : bill_type == 502 ? extract->GetSEOutVect(listed, false)
                                                      : extract->GetSEInVect(listed, false);
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
    UseDatabase(db);
    auto trans = MakeRef<facade::BillTrans>();
    const int before = ConsoleUi().Count();
    trans->SetTranStatus(list);
    return ConsoleUi().Count() == before;
}

Ref<VariantVector> AcknowledgedList(const ReceiptFile& receipt) {
    auto list = MakeRef<VariantVector>();
    for (const ReceiptPackage& p : receipt.packages) {
        if (p.bill_type != 501 && p.bill_type != 502 && p.bill_type != 503) continue;
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
                            file, named.number, named.name, role, db.ShownLocation(), expected.number,
                            expected.name));
}

}  // namespace orba::apps
