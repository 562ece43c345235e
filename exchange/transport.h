// The transport files of the command-line host: a download request, a transmission list
// and the receipt that answers a list, each in the runtime's JSON form inside a small
// envelope that names the format, its version, the branches and when it was made.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/output_file.h"
#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "hostkit/bill_fingerprint.h"
#include "hostkit/save_data.h"
#include "platform/date.h"

namespace orba::exchange {

inline constexpr std::string_view kRequestFormat = "OrbaBillTransmit.DownloadRequest";
inline constexpr std::string_view kListFormat = "OrbaBillTransmit.TransmissionList";
inline constexpr std::string_view kReceiptFormat = "OrbaBillTransmit.Receipt";
inline constexpr int32_t kTransportVersion = 1;

struct Branch {
    std::string number;
    std::string name;
};

struct RequestFile {
    platform::Date created;
    platform::Ref<host::VariantVector> requests;  // {"BillType": 501} items
};

struct ListFile {
    Branch sender;
    Branch receiver;
    platform::Date created;
    platform::Ref<host::VariantVector> list;  // packages
};

// What the receiving branch did with one bill of a list.
struct ReceiptBill {
    std::optional<int32_t> bill_inter_id;  // absent when the received record had none
    std::string bill_no;
    hostkit::SaveOutcomeKind outcome = hostkit::SaveOutcomeKind::kNotSaved;
    std::string reason;  // why it was not saved here, or what an update changed
    // The fingerprint of the copy the receiving branch holds (acknowledged bills only): what
    // the sending branch compares with the bill as it stands before marking it.
    std::string fingerprint;
    // Saved, updated or already held: the receiving branch holds the bill. A notice in the
    // other package is not acknowledged by this package's answer, whatever became of it: the
    // answer in the package of its own type acknowledges it, so that it is never marked for
    // its copy in the wrong package.
    bool Acknowledged() const { return hostkit::IsAcknowledgement(outcome); }
};

struct ReceiptPackage {
    int32_t bill_type = 0;
    std::vector<ReceiptBill> bills;  // the bills the saving component took in hand, in list order
};

// The receiving branch's answer to one transmission list: it travels back to the sending
// branch, which marks transmitted exactly the bills acknowledged here.
struct ReceiptFile {
    Branch sender;    // the receiving branch, which saved the bills
    Branch receiver;  // the branch that sent the list
    platform::Date created;
    Branch list_sender;  // the list answered: its sender, when it was made, its bytes' SHA-256
    platform::Date list_created;
    std::string list_sha256;
    std::vector<ReceiptPackage> packages;
};

// The request items for bill type codes, each {"BillType": <16-bit code>}.
platform::Ref<host::VariantVector> MakeRequests(const std::vector<int>& bill_types);

std::string WriteRequestFile(const RequestFile& file);
// The list in the compact form (one line), or indented for people to read when `pretty`.
std::string WriteListFile(const ListFile& file, bool pretty = false);
// Writes the list file as its text is produced, through a temporary file and a rename,
// compressed as `form` says. Returns the SHA-256 of the list's text (before any
// compression), as a receipt names it.
std::string SaveListFile(const std::filesystem::path& path, const ListFile& file, bool pretty = false,
                         OutputForm form = {});
// The same with the branches and date of `header` and the packages `list` (a list stream is
// read as the file is written, so its bills need never be held together).
std::string SaveListFile(const std::filesystem::path& path, const ListFile& header,
                         const platform::Ref<platform::Object>& list, bool pretty = false, OutputForm form = {});
std::string WriteReceiptFile(const ReceiptFile& file);
// Writes the receipt file as its text is made (each bill's record made as it is written),
// through a temporary file and a rename, compressed as `form` says.
void SaveReceiptFile(const std::filesystem::path& path, const ReceiptFile& file, OutputForm form = {});
// The request items with each bill type kept once, at its first place: a type asked for
// several times is packaged once.
platform::Ref<host::VariantVector> DistinctRequests(const host::VariantVector& requests);
// Raise an Error naming the file and what is wrong with it. A bill type requested several
// times is kept once.
RequestFile ReadRequestFile(std::string_view text, std::string_view file_name);
ListFile ReadListFile(std::string_view text, std::string_view file_name);
// A list file read in pieces, twice, so that its bills are never held together however
// long it is. Opening reads it once: checks it as ReadListFile does, takes the SHA-256 of its
// bytes and counts each package's bills, keeping none. ReadPieces reads the same file again
// and hands its bills over a batch at a time. The file's size is not limited; the text of
// each bill is held to the input limit. File errors as ReadTextFile raises them.
class InputFile;
class ListFileReader {
public:
    // `on_bill`, when given, sees each bill of the first reading, with the index of its package
    // from 0, before the bill is let go; `name` names the list in messages (default: its path).
    using BillObserver = std::function<void(size_t package, const platform::Variant& bill)>;
    explicit ListFileReader(const std::filesystem::path& path, BillObserver on_bill = {}, std::string name = {});
    ~ListFileReader();

    // The branches, the date and the packages; a package's "BillsData" list keeps no bill.
    const ListFile& Header() const { return header_; }
    const std::string& Sha256() const { return sha256_; }
    // The bills of all packages whose "BillsData" is a list.
    int32_t BillCount() const;
    // The bills of each package, in list order; -1 for a package whose "BillsData" is no list.
    const std::vector<int32_t>& PackageBillCounts() const { return bill_counts_; }

    // Hands the packages to `take` in list order, by their index from 0: a package whose
    // "BillsData" is a list in pieces of at most `batch` bills, each in a package record of
    // its own ({"BillType", "BillsData"}; one piece with an empty list for a package without
    // a bill), any other package as it was read. Stops when `take` returns false.
    void ReadPieces(size_t batch,
                    const std::function<bool(size_t package, const platform::Ref<host::VariantDictionary>& piece)>& take);

private:
    size_t Read(char* buffer, size_t size);
    void BillRead();

    std::unique_ptr<InputFile> file_;
    std::string name_;
    ListFile header_;
    std::string sha256_;
    std::vector<int32_t> bill_counts_;  // per package; -1 when its "BillsData" is no list
    uint64_t since_bill_ = 0;           // bytes read since the last bill began or ended
};
ReceiptFile ReadReceiptFile(std::string_view text, std::string_view file_name);

// The "format" a transport file names, or empty text when it names none (or is no JSON).
std::string FormatOf(std::string_view text);

// The SHA-256 of `bytes` as 64 lowercase hexadecimal digits.
using hostkit::Sha256Hex;

// A bounded regular file (input_file.h).
std::string ReadTextFile(const std::filesystem::path& path);
// Writes through a temporary file and a rename, so a reader never sees half a file; devices,
// links, folders and compression as output_file.h says.
void WriteTextFile(const std::filesystem::path& path, std::string_view text, OutputForm form = {});

}  // namespace orba::exchange
