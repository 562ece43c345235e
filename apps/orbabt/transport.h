// The transport files of the command-line host: a download request, a transmission list
// and the receipt that answers a list, each in the runtime's JSON form inside a small
// envelope that names the format, its version, the branches and when it was made.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/variant_vector.h"
#include "hostkit/saving/bill_fingerprint.h"
#include "hostkit/save_data.h"
#include "platform/date.h"

namespace orba::apps {

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
    std::string reason;  // why it was not saved, or what an update changed
    // The fingerprint of the copy the receiving branch holds (acknowledged bills only): what
    // the sending branch compares with the bill as it stands before marking it.
    std::string fingerprint;
    // Saved, updated or already held: the receiving branch holds the bill.
    bool Acknowledged() const { return outcome != hostkit::SaveOutcomeKind::kNotSaved; }
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
// Writes the list file as its text is produced, through a temporary file and a rename.
void SaveListFile(const std::filesystem::path& path, const ListFile& file, bool pretty = false);
std::string WriteReceiptFile(const ReceiptFile& file);
// Raise an Error naming the file and what is wrong with it. A bill type requested several
// times is kept once.
RequestFile ReadRequestFile(std::string_view text, std::string_view file_name);
ListFile ReadListFile(std::string_view text, std::string_view file_name);
// Reads the list file in pieces, so that its text is never held whole beside the list, and
// gives the SHA-256 of its bytes in `sha256`. File errors as ReadTextFile raises them.
ListFile ReadListFileInPieces(const std::filesystem::path& path, std::string& sha256);
ReceiptFile ReadReceiptFile(std::string_view text, std::string_view file_name);

// The "format" a transport file names, or empty text when it names none (or is no JSON).
std::string FormatOf(std::string_view text);

// The SHA-256 of `bytes` as 64 lowercase hexadecimal digits.
using hostkit::Sha256Hex;

// A bounded regular file (safe_file.h).
std::string ReadTextFile(const std::filesystem::path& path);
// Writes through a temporary file and a rename, so a reader never sees half a file; devices,
// links and folders as safe_file.h says.
void WriteTextFile(const std::filesystem::path& path, std::string_view text);

}  // namespace orba::apps
