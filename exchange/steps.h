// The steps of one exchange as the command-line host runs them: package at the supplying
// branch, save at the receiving branch, mark at the supplying branch; each step through
// the library's facade, on the account database chosen for it.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "exchange/counts.h"
#include "exchange/transport.h"

namespace orba::hostkit {
class Database;
}
namespace orba::data {
struct BillType;
}

namespace orba::exchange {

// The branch an account database belongs to (its "IC"/"BrID" option and t_SonCompany).
Branch OwnBranch(hostkit::Database& db);

// The step "package for a branch": packages, at `db`, every bill of the requested types for
// the receiver of `header` and writes the list file `path` as the bills are extracted, so that
// one bill at a time is held, however long the list: the file is the one SaveListFile makes of
// Package's list, with the branches and date of `header` (its list is not read). Records the
// sending of its bills (RecordSending). Raises an Error when packaging failed (the library has
// shown why), or the file could not be written or its sending recorded; no file is then left at
// `path` that was not there before.
struct Packaged {
    std::vector<PackageCount> counts;  // as CountPackages gives them for the list written
    std::string list_sha256;           // of the list file's bytes
};
Packaged PackageForBranch(hostkit::Database& db, const platform::Ref<host::VariantVector>& requests,
                          const ListFile& header, const std::filesystem::path& path, bool pretty = false,
                          OutputForm form = {});
// The counts of PackageForBranch alone.
std::vector<PackageCount> PackageToFile(hostkit::Database& db, const platform::Ref<host::VariantVector>& requests,
                                        const ListFile& header, const std::filesystem::path& path,
                                        bool pretty = false, OutputForm form = {});

// The browse window's way of packaging: the list `file` of the bills a clerk chose, as its
// text, with the sending of its bills recorded at `db`.
std::string PackageChosen(hostkit::Database& db, const ListFile& file);

// Records at `db` that the bills of `counts` (their own bills, by internal number) went to
// the receiver of `header` in the list whose text has the SHA-256 `list_sha256`: a receipt
// marks a bill only when it answers the latest list that carried it. PackageToFile records
// its list itself.
void RecordSending(hostkit::Database& db, const ListFile& header, const std::string& list_sha256,
                   const std::vector<PackageCount>& counts);

// Packages, at `database`, every bill of the requested types for `receiver`. Raises an
// Error when packaging failed (the library has shown why).
platform::Ref<host::VariantVector> Package(hostkit::Database& db, const host::VariantVector& requests,
                                           const Branch& receiver);

struct UnpackageResult {
    std::string message;        // the "RtnMsg" the library returned (or composed before failing)
    std::filesystem::path log;  // the transmission log written, if any
    std::string log_error;      // why the log could not be written, if it could not
    bool failed = false;        // the library reported a failure
    // What the saving component did with each bill it took in hand, per package of the
    // list, in list order (each package of its bill type, reached or not).
    std::vector<ReceiptPackage> packages;
    // Per package, the bills of the list that a failure ended the unpacking before (or at:
    // those the failing database stopped): not saved, but not refused either, so the receipt
    // does not answer for them and they come again with the next list. All 0 when the
    // unpacking went to the end of the list.
    std::vector<int> not_reached;
};
// Saves the bills of the list `file` at `database`; the saving component is told who sent
// the list and when it was made. A package of a type the saving component does not take is
// answered too: each of its bills not saved, with the reason.
UnpackageResult Unpackage(hostkit::Database& db, const ListFile& file);
// The same for a list file read in pieces: its bills reach the saving component a batch at a
// time, so memory does not grow with the list. The default batch is enough for saving to run
// at full speed and few enough that a batch takes a few megabytes.
UnpackageResult Unpackage(hostkit::Database& db, ListFileReader& reader, size_t bills_per_piece = 500);

// The receipt branch `own` writes for the list `answered` (whose text has the SHA-256
// `list_sha256`) once it has saved its bills, with what became of each: the one place a
// receipt is made.
ReceiptFile ReceiptFor(const Branch& own, const ListFile& answered, const std::string& list_sha256,
                       std::vector<ReceiptPackage> packages);

// The step "accept a list": saves at `db`, the database of branch `own`, the bills of the list
// `reader` reads (named `name` in messages), after checking that it is addressed to `own` and
// not made by `own` itself; `before_saving`, when given, runs once the list is checked. Returns
// what the saving component did and the receipt that answers the list.
struct Accepted {
    UnpackageResult saved;
    ReceiptFile receipt;
};
Accepted AcceptList(hostkit::Database& db, const Branch& own, ListFileReader& reader, std::string_view name,
                    const std::function<void(const ListFile&)>& before_saving = {});

// The fingerprints of the bills `ids` of a bill type code (data::kBillTypes) as they stand now
// at `database`, extracted as packaging extracts them; a bill not found has none.
std::unordered_map<int32_t, std::string> CurrentFingerprints(hostkit::Database& db, int32_t bill_type,
                                                             const std::vector<int32_t>& ids);

// True for the bill type codes the saving component takes: those of data::kBillTypes.
bool IsKnownBillType(int32_t bill_type);

// Marks the bills of the list transmitted; false when the library reported a failure.
bool Mark(hostkit::Database& db, const platform::Ref<host::VariantVector>& list);

// The list that SetTranStatus is handed for a receipt: per package of a known type, the
// acknowledged bills ({"BillInterID": id}) only.
platform::Ref<host::VariantVector> AcknowledgedList(const ReceiptFile& receipt);

// Refuses (an Error naming both branches, nothing changed) when `expected`, the database's
// own branch, is not `named`, the branch a file names in the role `role`.
void RequireBranch(const Branch& named, const Branch& expected, std::string_view file, std::string_view role,
                   const hostkit::Database& db);

// The row of data::kBillTypes a package of a bill type code is counted by: its own, or for a
// code this branch does not take, the return notices' (such a package's bills count as
// notices, those of the return notices' transaction type as its own).
const data::BillType& CountedAs(int32_t bill_type);

// The transaction type of the bills a package of a bill type code is for (see CountedAs).
int32_t TranTypeOf(int32_t bill_type);

// The English name of a bill type code, for summaries.
std::string BillTypeName(int32_t bill_type);

}  // namespace orba::exchange
