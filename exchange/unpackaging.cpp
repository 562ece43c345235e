#include <fmt/format.h>

#include <algorithm>

#include "data/bill_records.h"
#include "data/bill_types.h"
#include "exchange/library.h"
#include "exchange/records.h"
#include "exchange/steps.h"
#include "host/user_messages.h"
#include "host/variant_dictionary.h"
#include "hostkit/database.h"
#include "hostkit/save_data.h"
#include "platform/error.h"

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

// Saves the pieces of one list, in list order, for the packages of `header`'s list, holding
// `package_bills` bills each (-1: its bills are no list); see Unpackage. What the saving
// component tells of each bill is heard through a save session of this unpacking's own.
class ListSaving {
public:
    ListSaving(hostkit::Database& db, const ListFile& header, const std::vector<int32_t>& package_bills)
        : library_(db),
          header_(header),
          package_bills_(package_bills),
          handed_(package_bills.size()),
          unpacking_(library_.Library()),
          progress_("Saving bills") {
        for (int32_t n : package_bills) bills_ += std::max(n, 0);
        result_.packages.resize(package_bills.size());
        result_.not_reached.resize(package_bills.size());
        // Each package answers for its own bill type, also when a failure ends the unpacking
        // before it is reached.
        for (size_t i = 0; i < package_bills.size() && static_cast<int32_t>(i) < header.list->UpperBound(); ++i) {
            if (auto package = AsRecord(header.list->Item(static_cast<int32_t>(i) + 1))) {
                result_.packages[i].bill_type = TypeOf(*package);
            }
        }
        session_.progress = [this](int done, int) { progress_.Show(done_before_ + done, bills_); };
        session_.outcomes = [this](const hostkit::SaveOutcome& o) { Heard(o); };
    }

    // Hands one piece to the saving component; false once the unpacking has ended.
    bool Take(size_t package, const Ref<VariantDictionary>& piece) {
        ReceiptPackage& p = result_.packages.at(package);
        p.bill_type = TypeOf(*piece);
        const Variant* bills_data = piece->Find(key::kBillsData);
        if (!IsKnownBillType(p.bill_type)) {
            AnswerUnknownType(p, bills_data);
            return true;
        }
        // The piece in hand is known by its bill list's identity: the saving component names
        // the list a bill came in.
        piece_bills_ = bills_data && bills_data->IsObject() ? bills_data->AsObject().Get() : nullptr;
        piece_package_ = package;
        session_.received = hostkit::ReceivedList{header_.sender.number, header_.created, handed_.at(package) + 1};
        const bool going_on = unpacking_.Save(piece);
        if (const Ref<VariantVector> list = AsList(bills_data)) {
            done_before_ += list->UpperBound();
            handed_[package] += list->UpperBound();
        }
        return going_on;
    }

    UnpackageResult Finish(const std::function<void(const TakePiece&)>& feed) {
        facade::BillTrans& trans = library_.Library();
        try {
            try {
                feed([this](size_t package, const Ref<VariantDictionary>& piece) { return Take(package, piece); });
            } catch (const std::exception& e) {
                if (unpacking_.Failed()) throw;  // the log of the failure could not be written
                // The list could not be read to its end: what was saved stays saved.
                unpacking_.Fail(e);
            }
            result_.message = unpacking_.Finish()->Value(facade::kReturnMessageKey).ToText();
        } catch (const std::exception& e) {
            // Only a log that could not be written after a failure ends the unpacking without a
            // result; what was saved before stays saved and goes into the receipt.
            result_.message = trans.LastReturnMessage();
            result_.log_error = trans.LastLogError().empty() ? host::FailureDescription(e) : trans.LastLogError();
            result_.failed = true;
        }
        result_.log = trans.LastLogFile();
        if (result_.log_error.empty()) result_.log_error = trans.LastLogError();
        if (library_.Failed()) result_.failed = true;
        if (result_.failed || unpacking_.Failed()) {
            // The bills the failure stopped, those after them, and the packages after their own
            // have no answer.
            for (size_t i = 0; i < package_bills_.size(); ++i) {
                const int answered = static_cast<int>(result_.packages[i].bills.size());
                result_.not_reached[i] = std::max(0, std::max(package_bills_[i], 0) - answered);
            }
        }
        return std::move(result_);
    }

private:
    static int32_t TypeOf(const VariantDictionary& package) {
        const Variant type = package.ValueOrDefault(key::kBillType, Variant(int32_t{0}));
        return type.IsNumeric() ? type.ToLong() : 0;
    }

    void Heard(const hostkit::SaveOutcome& o) {
        // A bill the failure of the database stopped has no answer of its own: it is counted
        // with the bills the failure kept from being reached, and comes again with the next
        // list.
        if (o.bills != piece_bills_ || o.stopped) return;
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
        result_.packages[piece_package_].bills.push_back(std::move(bill));
    }

    LibrarySession library_;
    hostkit::SaveSession session_;
    const ListFile& header_;
    const std::vector<int32_t>& package_bills_;
    std::vector<int32_t> handed_;  // bills of each package handed over so far
    facade::BillTrans::Unpacking unpacking_;
    StepProgress progress_;
    UnpackageResult result_;
    int bills_ = 0;
    int done_before_ = 0;  // bills of the pieces saved before the one in hand
    const platform::Object* piece_bills_ = nullptr;
    size_t piece_package_ = 0;
};

UnpackageResult UnpackagePieces(hostkit::Database& db, const ListFile& header, const std::vector<int32_t>& package_bills,
                                const std::function<void(const TakePiece&)>& feed) {
    return ListSaving(db, header, package_bills).Finish(feed);
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

Accepted AcceptList(hostkit::Database& db, const Branch& own, ListFileReader& reader, std::string_view name,
                    const std::function<void(const ListFile&)>& before_saving) {
    const ListFile& file = reader.Header();
    RequireBranch(file.receiver, own, name, "receiver", db);
    if (file.sender.number == own.number) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' was made by branch {} ({}) itself; its bills are not saved into their own "
                                "branch's database '{}'",
                                name, own.number, own.name, db.ShownLocation()));
    }
    if (before_saving) before_saving(file);
    Accepted accepted{Unpackage(db, reader), {}};
    accepted.receipt = ReceiptFor(own, file, reader.Sha256(), accepted.saved.packages);
    return accepted;
}

}  // namespace orba::exchange
