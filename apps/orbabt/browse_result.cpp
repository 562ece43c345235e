#include "apps/orbabt/browse_result.h"

#include <fmt/format.h>

#include <filesystem>
#include <iostream>
#include <map>

#include "exchange/steps.h"
#include "exchange/output_guard.h"
#include "exchange/transport.h"
#include "data/bill_records.h"
#include "host/variant_dictionary.h"
#include "platform/error.h"

namespace orba::apps {

using namespace orba::exchange;

using host::VariantDictionary;
using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::Ref;
namespace key = data::key;

namespace {

// A record's value as text; nothing for a Null.
std::string TextOf(const platform::Variant& value) { return value.IsNull() ? std::string() : value.ToText(); }

// The receiving branch a chosen bill names (number and name); no number when it names none.
std::pair<std::string, std::string> ReceiverOf(const VariantDictionary& bill) {
    const platform::Variant* branch_value = bill.Find("BrIDRsv");
    auto branch = branch_value ? platform::ObjectAs<VariantDictionary>(*branch_value) : Ref<VariantDictionary>();
    if (!branch) return {};
    const platform::Variant number = branch->ValueOrDefault(key::kNumber, platform::Variant::Null());
    const platform::Variant name = branch->ValueOrDefault(key::kName, platform::Variant::Null());
    if (number.IsNull()) return {};
    return {number.ToText(), name.IsNull() ? std::string() : name.ToText()};
}

// The chosen bills, one send vector per receiving branch (in the order of the branch
// numbers); each package keeps its other keys and holds that branch's bills only.
std::map<std::pair<std::string, std::string>, Ref<VariantVector>> SplitByReceiver(const VariantVector& list) {
    std::map<std::pair<std::string, std::string>, Ref<VariantVector>> lists;
    for (int32_t p = 1; p <= list.UpperBound(); ++p) {
        auto package = platform::ObjectAs<VariantDictionary>(list.Item(p));
        const platform::Variant* bills_value = package ? package->Find(key::kBillsData) : nullptr;
        auto bills = bills_value ? platform::ObjectAs<VariantVector>(*bills_value) : Ref<VariantVector>();
        std::map<std::pair<std::string, std::string>, Ref<VariantVector>> parts;
        const int32_t package_type = package ? package->ValueOrDefault(key::kBillType, platform::Variant()).ToLong() : 0;
        for (int32_t b = 1; bills && b <= bills->UpperBound(); ++b) {
            auto bill = platform::ObjectAs<VariantDictionary>(bills->Item(b));
            // The window packages each bill under its own kind; a bill under another kind's type
            // would be saved at the receiving branch as a bill it is not.
            const std::string own_type = bill ? TextOf(bill->ValueOrDefault(key::kBillType, platform::Variant())) : "";
            if (bill && own_type != std::to_string(TranTypeOf(package_type))) {
                throw Error(ErrorCode::kBadInput,
                            fmt::format("Bill {} (transaction type {}) was chosen among the {}; no file was written",
                                        TextOf(bill->ValueOrDefault(key::kBillID, platform::Variant())), own_type,
                                        BillTypeName(package_type)));
            }
            auto& part = parts[bill ? ReceiverOf(*bill) : std::pair<std::string, std::string>{}];
            if (!part) part = platform::MakeRef<VariantVector>();
            part->Add(bills->Item(b));
        }
        for (const auto& [receiver, part] : parts) {
            auto copy = platform::MakeRef<VariantDictionary>();
            for (size_t i = 0; i < package->Size(); ++i) {
                if (package->KeyAt(i) == key::kBillsData) {
                    copy->Set(key::kBillsData, part);
                } else {
                    copy->Let(package->KeyAt(i), package->ValueAt(i));
                }
            }
            auto& whole = lists[receiver];
            if (!whole) whole = platform::MakeRef<VariantVector>();
            whole->Add(platform::Variant(copy));
        }
    }
    return lists;
}

void Emit(const std::string& output, const std::string& text, OutputForm form) {
    if (output.empty()) {
        std::cout << text;
    } else {
        WriteTextFile(output, text, form);
    }
}

// Writes the list `file` to `output` (standard output when empty) and records at `db` that
// its bills went in it.
void WriteList(const ListFile& file, hostkit::Database& db, const std::string& output, OutputForm form) {
    Emit(output, PackageChosen(db, file), form);
}

void PrintWritten(const ListFile& file, const std::string& output) {
    std::cout << fmt::format("Wrote a send list from {} ({}) for {} ({}) to {}:\n", file.sender.number,
                             file.sender.name, file.receiver.number, file.receiver.name, output);
    for (const PackageCount& c : CountPackages(*file.list)) {
        std::cout << fmt::format("  {} {:<17} {:>6} bills {:>7} lines\n", c.bill_type, BillTypeName(c.bill_type),
                                 c.bills, c.lines);
    }
}

}  // namespace

std::vector<ListFile> BrowseLists(const Ref<VariantVector>& result, hostkit::Database& db) {
    const Branch sender = OwnBranch(db);
    std::vector<ListFile> files;
    for (const auto& [receiver, list] : SplitByReceiver(*result)) {
        if (receiver.first.empty()) {
            throw Error(ErrorCode::kBadInput, "Some chosen bills name no receiving branch; no file was written");
        }
        files.push_back(ListFile{sender, Branch{receiver.first, receiver.second}, platform::Date::Now(), list});
    }
    return files;
}

std::string ListFileFor(const std::string& output, const std::string& branch) {
    std::filesystem::path path(output.empty() ? std::string("send.json") : output);
    // The lists made for a compressed name are compressed too: send.json.gz, send.01.002.json.gz.
    const bool compressed = path.extension() == ".gz";
    if (compressed) path.replace_extension();
    const std::string stem = path.extension() == ".json" ? path.stem().string() : path.filename().string();
    return (path.parent_path() / fmt::format("{}.{}.json{}", stem, branch, compressed ? ".gz" : "")).string();
}

int WriteBrowseResult(const Ref<VariantVector>& result, bool download, hostkit::Database& db,
                      const std::string& output, OutputForm form) {
    if (!result || result->UpperBound() == 0) {
        std::cout << "Nothing was chosen; no file was written.\n";
        return kNothingChosen;
    }
    if (download) {
        Emit(output, WriteRequestFile(RequestFile{platform::Date::Now(), result}), form);
        if (!output.empty()) {
            std::cout << fmt::format("Wrote a download request for {} bill type(s) to {}\n", result->UpperBound(),
                                     output);
        }
        return 0;
    }
    const std::vector<ListFile> files = BrowseLists(result, db);
    if (files.size() == 1) {
        WriteList(files.front(), db, output, form);
        if (!output.empty()) PrintWritten(files.front(), output);
        return 0;
    }
    // Bills for several branches: one list for each, beside the file named (or in this
    // folder), so that nothing the clerk chose is lost.
    std::cout << fmt::format("The chosen bills go to {} branches: one list for each.\n", files.size());
    for (const ListFile& file : files) {
        const std::string name = ListFileFor(output, file.receiver.number);
        RequireWritableTarget(name);
        WriteList(file, db, name, form);
        PrintWritten(file, name);
    }
    return 0;
}

}  // namespace orba::apps
