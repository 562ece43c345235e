#include "exchange/steps.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>
#include <map>

#include "apps/orbabt/host_setup.h"
#include "data/bill_records.h"
#include "data/bill_types.h"
#include "data/data_trans.h"
#include "facade/bill_trans.h"
#include "hostkit/saving/bill_fingerprint.h"
#include "host/variant_dictionary.h"
#include "hostkit/save_data.h"
#include "host/user_messages.h"
#include "hostkit/components/app_connection.h"
#include "hostkit/db/database.h"
#include "hostkit/schema/received_tables.h"
#include "host/shared_connection.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::exchange {

using apps::ConsoleUi;
using apps::ProgressVisible;
using apps::UseDatabase;

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

// The library with `db` itself as its connection, for as long as the object returned lives:
// what it reads and writes is part of any transaction the caller holds on `db`.
Ref<facade::BillTrans> LibraryOn(hostkit::Database& db) {
    UseDatabase(db);
    auto trans = MakeRef<facade::BillTrans>();
    host::SetSharedConnection(MakeRef<hostkit::AppConnection>(db));
    return trans;
}

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

namespace {

int32_t PackageType(const VariantDictionary& package) {
    return package.ValueOrDefault(key::kBillType, Variant(int32_t{0})).ToLong();
}

// Adds one bill of a package to the package's counts.
void CountBill(PackageCount& c, const Variant& item) {
    auto bill = AsRecord(item);
    if (!bill) return;
    ++c.bills;
    const Variant* entries = bill->Find(CountedAs(c.bill_type).entry_key);
    const int lines = AsList(entries) ? AsList(entries)->UpperBound() : 0;
    c.lines += lines;
    if (bill->ValueOrDefault(key::kBillType, Variant(int32_t{0})).ToLong() != TranTypeOf(c.bill_type)) return;
    ++c.own_bills;
    c.own_lines += lines;
    if (const Variant* no = bill->Find(key::kBillID); no && no->IsString()) c.bill_numbers.emplace_back(no->AsString());
    if (const Variant* id = bill->Find(key::kBillInterID); id && id->IsNumeric()) c.inter_ids.push_back(id->ToLong());
}

// A package's bills passed on as they are read, each counted on the way.
class CountedBills : public platform::ListStream {
public:
    CountedBills(Ref<platform::ListStream> bills, std::vector<PackageCount>& counts, size_t package)
        : bills_(std::move(bills)), counts_(counts), package_(package) {}
    bool Next(Variant& item) override {
        if (!bills_->Next(item)) return false;
        CountBill(counts_[package_], item);
        return true;
    }

private:
    Ref<platform::ListStream> bills_;
    std::vector<PackageCount>& counts_;
    size_t package_;
};

// A list's packages passed on as they are read, with a count for each and packaging's
// progress shown.
class CountedPackages : public platform::ListStream {
public:
    CountedPackages(Ref<platform::ListStream> packages, std::vector<PackageCount>& counts, int total)
        : packages_(std::move(packages)), counts_(counts), total_(total), progress_("Packaging") {}
    bool Next(Variant& item) override {
        progress_.Show(static_cast<int>(counts_.size()), total_);
        if (!packages_->Next(item)) return false;
        PackageCount& c = counts_.emplace_back();
        auto package = AsRecord(item);
        if (!package) return true;
        c.bill_type = PackageType(*package);
        const Variant* bills = package->Find(key::kBillsData);
        if (auto stream = bills ? platform::ObjectAs<platform::ListStream>(*bills) : nullptr) {
            Ref<platform::ListStream> counted = MakeRef<CountedBills>(std::move(stream), counts_, counts_.size() - 1);
            package->Put(std::string(key::kBillsData), Variant(std::move(counted)));
        }
        return true;
    }

private:
    Ref<platform::ListStream> packages_;
    std::vector<PackageCount>& counts_;
    int total_;
    Progress progress_;
};

Ref<VariantDictionary> BranchArgument(const Branch& receiver) {
    auto branch = MakeRef<VariantDictionary>();
    branch->Let(key::kNumber, Variant(receiver.number));
    branch->Let(key::kName, Variant(receiver.name));
    return branch;
}

}  // namespace

std::vector<PackageCount> CountPackages(const VariantVector& list) {
    std::vector<PackageCount> counts;
    for (int32_t i = 1; i <= list.UpperBound(); ++i) {
        auto package = AsRecord(list.Item(i));
        PackageCount& c = counts.emplace_back();
        if (!package) continue;
        c.bill_type = PackageType(*package);
        if (auto bills = AsList(package->Find(key::kBillsData))) {
            for (int32_t b = 1; b <= bills->UpperBound(); ++b) CountBill(c, bills->Item(b));
        }
    }
    return counts;
}

void PackageCounter::Add(size_t package, const Variant& item) {
    auto bill = AsRecord(item);
    if (!bill) return;
    if (packages_.size() <= package) packages_.resize(package + 1);
    const auto lines = [&](std::string_view key) {
        auto entries = AsList(bill->Find(key));
        return entries ? entries->UpperBound() : 0;
    };
    Tally& t = packages_[package][bill->ValueOrDefault(key::kBillType, Variant(int32_t{0})).ToLong()];
    ++t.bills;
    t.order_lines += lines(key::kReqEntry);
    t.notice_lines += lines(key::kNoticeEntry);
}

std::vector<PackageCount> PackageCounter::Counts(const VariantVector& list) const {
    std::vector<PackageCount> counts;
    for (int32_t i = 1; i <= list.UpperBound(); ++i) {
        auto package = AsRecord(list.Item(i));
        PackageCount& c = counts.emplace_back();
        if (!package) continue;
        c.bill_type = PackageType(*package);
        if (static_cast<size_t>(i) > packages_.size()) continue;
        for (const auto& [tran_type, t] : packages_[i - 1]) {
            const int lines = CountedAs(c.bill_type).entry_key == key::kReqEntry ? t.order_lines : t.notice_lines;
            c.bills += t.bills;
            c.lines += lines;
            if (tran_type != TranTypeOf(c.bill_type)) continue;
            c.own_bills += t.bills;
            c.own_lines += lines;
        }
    }
    return counts;
}

std::vector<PackageCount> PackageToFile(hostkit::Database& db, const Ref<VariantVector>& requests,
                                        const ListFile& header, const std::filesystem::path& path, bool pretty) {
    // The table of sendings is made first, so that an account that may not make it is told
    // before anything is packaged.
    hostkit::EnsureSentTable(db);
    UseDatabase(db);
    auto trans = MakeRef<facade::BillTrans>();
    std::vector<PackageCount> counts;
    std::string sha256;
    const int before = ConsoleUi().Count();
    const bool packaged =
        trans->PackageBillsStreamed(requests, BranchArgument(header.receiver), [&](const Ref<platform::ListStream>& list) {
            sha256 = SaveListFile(path, header, MakeRef<CountedPackages>(list, counts, requests->UpperBound()), pretty);
        });
    if (!packaged || ConsoleUi().Count() != before) {
        throw Error(ErrorCode::kDatabaseError, "Packaging failed; the message above says why");
    }
    try {
        RecordSending(db, header, sha256, counts);
    } catch (...) {
        // A list whose sending is not on record could not be marked as the latest; it is not
        // left to be sent.
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw;
    }
    return counts;
}

void RecordSending(hostkit::Database& db, const ListFile& header, const std::string& list_sha256,
                   const std::vector<PackageCount>& counts) {
    hostkit::EnsureSentTable(db);
    hostkit::InTransaction(db, [&] {
        const std::unique_ptr<hostkit::Statement> record = db.Prepare(
            "INSERT INTO t_SentBill (FTranType, FBillInterID, FRecvBrNumber, FListSha256, FListCreated, FPackagedAt) "
            "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (FTranType, FBillInterID) DO UPDATE SET "
            "FRecvBrNumber=excluded.FRecvBrNumber, FListSha256=excluded.FListSha256, "
            "FListCreated=excluded.FListCreated, FPackagedAt=excluded.FPackagedAt");
        const Variant receiver(header.receiver.number);
        const Variant sha(list_sha256);
        const Variant created(header.created);
        const Variant now(platform::Date::Now());
        for (const PackageCount& c : counts) {
            if (!IsKnownBillType(c.bill_type)) continue;
            const Variant tran_type(TranTypeOf(c.bill_type));
            for (int32_t id : c.inter_ids) {
                const Variant bill(id);
                record->Run({&tran_type, &bill, &receiver, &sha, &created, &now});
            }
        }
    });
}

Ref<VariantVector> Package(hostkit::Database& db, const VariantVector& requests, const Branch& receiver) {
    UseDatabase(db);
    auto branch = BranchArgument(receiver);
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

bool IsKnownBillType(int32_t bill_type) { return data::FindBillType(bill_type) != nullptr; }

namespace {

// The answer to each bill of a package of a type this branch does not take: the library
// passes over such a package without a word, so that the sender learns they were not saved.
void AnswerUnknownType(ReceiptPackage& p, const Variant* bills) {
    const Ref<VariantVector> unknown = AsList(bills);
    if (!unknown) return;
    for (int32_t b = 1; b <= unknown->UpperBound(); ++b) {
        ReceiptBill bill;
        if (auto record = AsRecord(unknown->Item(b))) {
            const Variant id = record->ValueOrDefault(key::kBillInterID, Variant());
            if (id.Type() == platform::VarType::kLong) bill.bill_inter_id = id.AsLong();
            const Variant no = record->ValueOrDefault(key::kBillID, Variant());
            if (no.IsString()) bill.bill_no = no.AsString();
        }
        bill.reason = fmt::format("it came in a package of bill type {}, which this branch does not take ({}); "
                                  "not saved",
                                  p.bill_type, data::BillTypeCodesText());
        p.bills.push_back(std::move(bill));
    }
}

// A piece of a list on its way to the saving component: a package, or some bills of one
// in a package record of their own. False once the unpacking has ended.
using TakePiece = std::function<bool(size_t package, const Ref<VariantDictionary>& piece)>;

// Saves the pieces `feed` hands over, in list order, for the packages of `header`'s list,
// holding `package_bills` bills each (-1: its bills are no list); see Unpackage.
UnpackageResult UnpackagePieces(hostkit::Database& db, const ListFile& header, const std::vector<int32_t>& package_bills,
                                const std::function<void(const TakePiece&)>& feed) {
    UseDatabase(db);
    auto trans = MakeRef<facade::BillTrans>();
    UnpackageResult result;
    const size_t packages = package_bills.size();
    int bills = 0;
    for (int32_t n : package_bills) bills += std::max(n, 0);
    result.packages.resize(packages);
    result.not_reached.resize(packages);
    // Each package answers for its own bill type, also when a failure ends the unpacking before
    // it is reached.
    for (size_t i = 0; i < packages && static_cast<int32_t>(i) < header.list->UpperBound(); ++i) {
        if (auto package = AsRecord(header.list->Item(static_cast<int32_t>(i) + 1))) {
            const Variant type = package->ValueOrDefault(key::kBillType, Variant(int32_t{0}));
            result.packages[i].bill_type = type.IsNumeric() ? type.ToLong() : 0;
        }
    }
    // The piece in hand is known by its bill list's identity: the saving component names the
    // list a bill came in.
    const platform::Object* piece_bills = nullptr;
    size_t piece_package = 0;
    int done_before = 0;  // bills of the pieces saved before the one in hand
    Progress progress("Saving bills");
    hostkit::SetSaveProgress([&](int done, int) { progress.Show(done_before + done, bills); });
    hostkit::SetSaveOutcomes([&](const hostkit::SaveOutcome& o) {
        // A bill the failure of the database stopped has no answer of its own: it is counted
        // with the bills the failure kept from being reached, and comes again with the next
        // list.
        if (o.bills != piece_bills || o.stopped) return;
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
        result.packages[piece_package].bills.push_back(std::move(bill));
    });
    std::vector<int32_t> handed(packages);  // bills of each package handed over so far
    const int before = ConsoleUi().Count();
    facade::BillTrans::Unpacking unpacking(*trans);
    const TakePiece take = [&](size_t package, const Ref<VariantDictionary>& piece) {
        ReceiptPackage& p = result.packages.at(package);
        const Variant type = piece->ValueOrDefault(key::kBillType, Variant(int32_t{0}));
        p.bill_type = type.IsNumeric() ? type.ToLong() : 0;
        const Variant* bills_data = piece->Find(key::kBillsData);
        if (!IsKnownBillType(p.bill_type)) {
            AnswerUnknownType(p, bills_data);
            return true;
        }
        piece_bills = bills_data && bills_data->IsObject() ? bills_data->AsObject().Get() : nullptr;
        piece_package = package;
        hostkit::SetReceivedList(hostkit::ReceivedList{header.sender.number, header.created, handed.at(package) + 1});
        const bool going_on = unpacking.Save(piece);
        if (const Ref<VariantVector> list = AsList(bills_data)) {
            done_before += list->UpperBound();
            handed[package] += list->UpperBound();
        }
        return going_on;
    };
    try {
        try {
            feed(take);
        } catch (const std::exception& e) {
            if (unpacking.Failed()) throw;  // the log of the failure could not be written
            // The list could not be read to its end: what was saved stays saved.
            unpacking.Fail(e);
        }
        result.message = unpacking.Finish()->Value(facade::kReturnMessageKey).ToText();
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
    if (result.failed || unpacking.Failed()) {
        // The bills the failure stopped, those after them, and the packages after their own
        // have no answer.
        for (size_t i = 0; i < packages; ++i) {
            const int answered = static_cast<int>(result.packages[i].bills.size());
            result.not_reached[i] = std::max(0, std::max(package_bills[i], 0) - answered);
        }
    }
    return result;
}

}  // namespace

UnpackageResult Unpackage(hostkit::Database& db, const ListFile& file) {
    const Ref<VariantVector>& list = file.list;
    std::vector<int32_t> package_bills;
    for (int32_t i = 1; i <= list->UpperBound(); ++i) {
        auto package = AsRecord(list->Item(i));
        auto b = package ? AsList(package->Find(key::kBillsData)) : Ref<VariantVector>();
        package_bills.push_back(b ? b->UpperBound() : -1);
    }
    return UnpackagePieces(db, file, package_bills, [&](const TakePiece& take) {
        for (int32_t i = 1; i <= list->UpperBound(); ++i) {
            Ref<VariantDictionary> package = AsRecord(list->Item(i));
            if (!package) throw Error(ErrorCode::kBadInput, fmt::format("Package {} of the list is not a record", i));
            if (!take(i - 1, package)) return;
        }
    });
}

UnpackageResult Unpackage(hostkit::Database& db, ListFileReader& reader, size_t bills_per_piece) {
    return UnpackagePieces(db, reader.Header(), reader.PackageBillCounts(),
                           [&](const TakePiece& take) { reader.ReadPieces(bills_per_piece, take); });
}

std::unordered_map<int32_t, std::string> CurrentFingerprints(hostkit::Database& db, int32_t bill_type,
                                                             const std::vector<int32_t>& ids) {
    std::unordered_map<int32_t, std::string> fingerprints;
    const data::BillType* type = data::FindBillType(bill_type);
    if (ids.empty() || !type) return fingerprints;
    const Ref<facade::BillTrans> library = LibraryOn(db);
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
    const Ref<facade::BillTrans> trans = LibraryOn(db);
    const int before = ConsoleUi().Count();
    trans->SetTranStatus(list);
    return ConsoleUi().Count() == before;
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
