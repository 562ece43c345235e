#include "apps/orbabt/browse_result.h"

#include <fmt/format.h>

#include <iostream>
#include <set>

#include "apps/orbabt/exchange.h"
#include "apps/orbabt/transport.h"
#include "data/bill_records.h"
#include "host/variant_dictionary.h"
#include "platform/error.h"

namespace orba::apps {

using host::VariantDictionary;
using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::Ref;
namespace key = data::key;

namespace {

// The related branches the chosen bills are addressed to.
std::set<std::pair<std::string, std::string>> ReceiversOf(const VariantVector& list) {
    std::set<std::pair<std::string, std::string>> receivers;
    for (int32_t p = 1; p <= list.UpperBound(); ++p) {
        auto package = platform::ObjectAs<VariantDictionary>(list.Item(p));
        const platform::Variant* bills_value = package ? package->Find(key::kBillsData) : nullptr;
        auto bills = bills_value ? platform::ObjectAs<VariantVector>(*bills_value) : Ref<VariantVector>();
        for (int32_t b = 1; bills && b <= bills->UpperBound(); ++b) {
            auto bill = platform::ObjectAs<VariantDictionary>(bills->Item(b));
            const platform::Variant* branch_value = bill ? bill->Find("BrIDRsv") : nullptr;
            auto branch = branch_value ? platform::ObjectAs<VariantDictionary>(*branch_value) : Ref<VariantDictionary>();
            if (!branch) continue;
            const platform::Variant number = branch->ValueOrDefault(key::kNumber, platform::Variant::Null());
            const platform::Variant name = branch->ValueOrDefault(key::kName, platform::Variant::Null());
            if (number.IsNull()) continue;
            receivers.insert({number.ToText(), name.IsNull() ? std::string() : name.ToText()});
        }
    }
    return receivers;
}

void Emit(const std::string& output, const std::string& text) {
    if (output.empty()) {
        std::cout << text;
    } else {
        WriteTextFile(output, text);
    }
}

}  // namespace

namespace {

ListFile BrowseList(const Ref<VariantVector>& result, hostkit::Database& db) {
    const auto receivers = ReceiversOf(*result);
    if (receivers.size() != 1) {
        std::string names;
        for (const auto& [number, branch_name] : receivers) names += fmt::format("\n  {} {}", number, branch_name);
        throw Error(ErrorCode::kBadInput,
                    receivers.empty()
                        ? std::string("The chosen bills name no receiving branch; no file was written")
                        : fmt::format("The chosen bills are addressed to {} branches; choose the bills of one "
                                      "branch for one file (no file was written):{}",
                                      receivers.size(), names));
    }
    const Branch receiver{receivers.begin()->first, receivers.begin()->second};
    return ListFile{OwnBranch(db), receiver, platform::Date::Now(), result};
}

}  // namespace

std::string BrowseListText(const Ref<VariantVector>& result, hostkit::Database& db) {
    return WriteListFile(BrowseList(result, db));
}

int WriteBrowseResult(const Ref<VariantVector>& result, bool download, hostkit::Database& db,
                      const std::string& output) {
    if (!result || result->UpperBound() == 0) {
        std::cout << "Nothing was chosen; no file was written.\n";
        return kNothingChosen;
    }
    if (download) {
        Emit(output, WriteRequestFile(RequestFile{platform::Date::Now(), result}));
        if (!output.empty()) {
            std::cout << fmt::format("Wrote a download request for {} bill type(s) to {}\n", result->UpperBound(),
                                     output);
        }
        return 0;
    }
    const ListFile file = BrowseList(result, db);
    const Branch& sender = file.sender;
    const Branch& receiver = file.receiver;
    Emit(output, WriteListFile(file));
    if (!output.empty()) {
        std::cout << fmt::format("Wrote a send list from {} ({}) for {} ({}) to {}:\n", sender.number, sender.name,
                                 receiver.number, receiver.name, output);
        for (const PackageCount& c : CountPackages(*result)) {
            std::cout << fmt::format("  {} {:<17} {:>6} bills {:>7} lines\n", c.bill_type, BillTypeName(c.bill_type),
                                     c.bills, c.lines);
        }
    }
    return 0;
}

}  // namespace orba::apps
