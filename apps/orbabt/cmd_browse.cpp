// browse: the browse window over a branch database. What the user chose is written in the
// form the other commands take: a download request for `package --requests`, a send list
// in the transmission-list envelope for `unpackage` at the receiving branch.
#include <QApplication>

#include <fmt/format.h>

#include <cstdlib>
#include <iostream>
#include <set>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/exchange.h"
#include "apps/orbabt/host_setup.h"
#include "data/bill_records.h"
#include "facade/bill_trans.h"
#include "host/variant_dictionary.h"
#include "platform/error.h"
#include "ui/qt_ui_service.h"

namespace orba::apps {

using host::VariantDictionary;
using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::Ref;
namespace key = data::key;

namespace {

bool HasDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

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

int RunBrowse(const BrowseOptions& options) {
    const int32_t mode = options.mode == "send" ? 0 : 1;
    if (!HasDisplay()) {
        throw Error(ErrorCode::kBadInput,
                    "The browse window needs a display: DISPLAY is not set (run it under xvfb-run, or set "
                    "QT_QPA_PLATFORM=offscreen)");
    }
    const std::string database = UseDatabase(options.db);
    static int argc = 1;
    static char name[] = "orbabt";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    Ref<VariantVector> result;
    {
        platform::ScopedUiService window_messages(std::make_shared<ui::QtUiService>());
        auto trans = platform::MakeRef<facade::BillTrans>();
        facade::BillTrans::ShowType(mode);
        trans->Show();
        result = facade::BillTrans::VectTransmitBill();
    }
    if (!result || result->UpperBound() == 0) {
        std::cout << "Nothing was chosen; no file was written.\n";
        return 2;
    }
    if (mode != 0) {
        Emit(options.output, WriteRequestFile(RequestFile{platform::Date::Now(), result}));
        if (!options.output.empty()) {
            std::cout << fmt::format("Wrote a download request for {} bill type(s) to {}\n", result->UpperBound(),
                                     options.output);
        }
        return 0;
    }
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
    const Branch sender = OwnBranch(database);
    Emit(options.output, WriteListFile(ListFile{sender, receiver, platform::Date::Now(), result}));
    if (!options.output.empty()) {
        std::cout << fmt::format("Wrote a send list from {} ({}) for {} ({}) to {}:\n", sender.number, sender.name,
                                 receiver.number, receiver.name, options.output);
        for (const PackageCount& c : CountPackages(*result)) {
            std::cout << fmt::format("  {} {:<17} {:>6} bills {:>7} lines\n", c.bill_type, BillTypeName(c.bill_type),
                                     c.bills, c.lines);
        }
    }
    return 0;
}

}  // namespace orba::apps
