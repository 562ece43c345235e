// The transport files of the command-line host: a download request and a transmission
// list, each in the runtime's JSON form inside a small envelope that names the format, its
// version, the branches and when it was made.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "host/variant_vector.h"
#include "platform/date.h"

namespace orba::apps {

inline constexpr std::string_view kRequestFormat = "OrbaBillTransmit.DownloadRequest";
inline constexpr std::string_view kListFormat = "OrbaBillTransmit.TransmissionList";
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

// The request items for bill type codes, each {"BillType": <16-bit code>}.
platform::Ref<host::VariantVector> MakeRequests(const std::vector<int>& bill_types);

std::string WriteRequestFile(const RequestFile& file);
// The list in the compact form (one line), or indented for people to read when `pretty`.
std::string WriteListFile(const ListFile& file, bool pretty = false);
// Writes the list file as its text is produced, through a temporary file and a rename.
void SaveListFile(const std::filesystem::path& path, const ListFile& file, bool pretty = false);
// Raise an Error naming the file and what is wrong with it.
RequestFile ReadRequestFile(std::string_view text, std::string_view file_name);
ListFile ReadListFile(std::string_view text, std::string_view file_name);

std::string ReadTextFile(const std::filesystem::path& path);
// Writes through a temporary file and a rename, so a reader never sees half a file.
void WriteTextFile(const std::filesystem::path& path, std::string_view text);
// The same for text that `write` produces piece by piece; a failure leaves no file behind.
void WriteFileThrough(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write);

}  // namespace orba::apps
