#include <fmt/format.h>

#include "data/bill_records.h"
#include "exchange/counts.h"
#include "exchange/library.h"
#include "exchange/records.h"
#include "exchange/steps.h"
#include "hostkit/sha256.h"
#include "host/variant_dictionary.h"
#include "hostkit/database.h"
#include "hostkit/schema.h"
#include "platform/error.h"
#include "platform/scope_exit.h"

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
    StepProgress progress_;
};

Ref<VariantDictionary> BranchArgument(const Branch& receiver) {
    auto branch = MakeRef<VariantDictionary>();
    branch->Let(key::kNumber, Variant(receiver.number));
    branch->Let(key::kName, Variant(receiver.name));
    return branch;
}

}  // namespace

std::vector<PackageCount> PackageToFile(hostkit::Database& db, const Ref<VariantVector>& requests,
                                        const ListFile& header, const std::filesystem::path& path, bool pretty,
                                        OutputForm form) {
    return PackageForBranch(db, requests, header, path, pretty, form).counts;
}

Packaged PackageForBranch(hostkit::Database& db, const Ref<VariantVector>& requests, const ListFile& header,
                          const std::filesystem::path& path, bool pretty, OutputForm form) {
    // The table of sendings is made first, so that an account that may not make it is told
    // before anything is packaged.
    hostkit::EnsureSentTable(db);
    Packaged packaged;
    bool done = false;
    {
        LibrarySession library(db);
        done = library.Library().PackageBillsStreamed(
            requests, BranchArgument(header.receiver), [&](const Ref<platform::ListStream>& list) {
                packaged.list_sha256 = SaveListFile(
                    path, header, MakeRef<CountedPackages>(list, packaged.counts, requests->UpperBound()), pretty, form);
            });
        done = done && !library.Failed();
    }
    if (!done) throw Error(ErrorCode::kDatabaseError, "Packaging failed; the message above says why");
    // A list whose sending is not on record could not be marked as the latest; it is not left
    // to be sent.
    platform::ScopeExit unsent([&] {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    });
    RecordSending(db, header, packaged.list_sha256, packaged.counts);
    unsent.Dismiss();
    return packaged;
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
    auto branch = BranchArgument(receiver);
    LibrarySession library(db);
    auto list = MakeRef<VariantVector>();
    // One request at a time, so that a host shows how far packaging has come; each call
    // returns the package of its one request.
    StepProgress progress("Packaging");
    for (int32_t i = 1; i <= requests.UpperBound(); ++i) {
        progress.Show(i - 1, requests.UpperBound());
        auto single = MakeRef<VariantVector>();
        single->Add(requests.Item(i));
        Ref<VariantVector> packaged = library.Library().PackageBills(single, branch);
        if (!packaged || library.Failed()) {
            throw Error(ErrorCode::kDatabaseError, "Packaging failed; the message above says why");
        }
        list->Add(packaged->Item(1));
    }
    return list;
}

std::string PackageChosen(hostkit::Database& db, const ListFile& file) {
    const std::string text = WriteListFile(file);
    RecordSending(db, file, Sha256Hex(text), CountPackages(*file.list));
    return text;
}

}  // namespace orba::exchange
