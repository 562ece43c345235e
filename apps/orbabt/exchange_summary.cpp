// The summaries the exchange commands print, per package and per receipt.
#include "apps/orbabt/exchange_summary.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>

#include "platform/printable_text.h"

namespace orba::apps {

void PrintPackages(const std::vector<PackageCount>& counts) {
    for (const PackageCount& c : counts) {
        std::cout << fmt::format("  {} {:<17} {:>6} bills {:>7} lines ({} of its own type)\n", c.bill_type,
                                 BillTypeName(c.bill_type), c.bills, c.lines, c.own_bills);
    }
}

OutcomeCounts CountOutcomes(const ReceiptPackage& p, const std::vector<std::string>* only) {
    OutcomeCounts c;
    for (const ReceiptBill& b : p.bills) {
        if (only && std::find(only->begin(), only->end(), b.bill_no) == only->end()) continue;
        switch (b.outcome) {
            case hostkit::SaveOutcomeKind::kSaved: ++c.saved; break;
            case hostkit::SaveOutcomeKind::kUpdated: ++c.updated; break;
            case hostkit::SaveOutcomeKind::kAlreadyHeld: ++c.held; break;
            case hostkit::SaveOutcomeKind::kNotSaved: ++c.not_saved; break;
        }
    }
    return c;
}

void PrintReceipt(const ReceiptFile& receipt, const std::vector<int>& not_reached) {
    // Branch numbers and names come from the other branch's file: shown with control
    // characters escaped.
    std::cout << platform::ForTerminal(fmt::format("Receipt of {} ({}) for the list {} made on {}:",
                                                   platform::EscapeControls(receipt.sender.number),
                                                   platform::EscapeControls(receipt.sender.name),
                                                   platform::EscapeControls(receipt.list_sender.number),
                                                   receipt.list_created.ToString()))
              << "\n";
    for (size_t i = 0; i < receipt.packages.size(); ++i) {
        const ReceiptPackage& p = receipt.packages[i];
        const OutcomeCounts c = CountOutcomes(p);
        const int unreached = i < not_reached.size() ? not_reached[i] : 0;
        std::cout << fmt::format("  {} {:<17} saved {}, updated {}, already held {}, not saved {}{}\n", p.bill_type,
                                 BillTypeName(p.bill_type), c.saved, c.updated, c.held, c.not_saved,
                                 unreached > 0 ? fmt::format(", not reached {}", unreached) : std::string());
    }
}

}  // namespace orba::apps
