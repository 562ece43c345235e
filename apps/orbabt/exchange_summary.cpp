// The summaries the exchange commands print, per package and per receipt.
#include "apps/orbabt/exchange_summary.h"

#include <fmt/format.h>

#include <iostream>

#include "data/bill_types.h"
#include "platform/printable_text.h"

namespace orba::apps {

void PrintPackages(const std::vector<PackageCount>& counts) {
    for (const PackageCount& c : counts) {
        std::cout << fmt::format("  {} {:<17} {:>6} bills {:>7} lines ({} of its own type)\n", c.bill_type,
                                 BillTypeName(c.bill_type), c.bills, c.lines, c.own_bills);
    }
}

OutcomeCounts CountOutcomes(const ReceiptPackage& p) {
    OutcomeCounts c;
    for (const ReceiptBill& b : p.bills) {
        switch (b.outcome) {
            case hostkit::SaveOutcomeKind::kSaved: ++c.saved; break;
            case hostkit::SaveOutcomeKind::kUpdated: ++c.updated; break;
            case hostkit::SaveOutcomeKind::kAlreadyHeld: ++c.held; break;
            case hostkit::SaveOutcomeKind::kNotSaved: ++c.not_saved; break;
            case hostkit::SaveOutcomeKind::kInOtherPackage: ++c.in_other_package; break;
        }
    }
    return c;
}

std::string OtherNoticePackage(int32_t bill_type) {
    const data::BillType* type = data::FindBillType(bill_type);
    if (!type) return {};
    switch (type->kind) {
        case data::BillKind::kDeliveryNotice: return "return-notice package";
        case data::BillKind::kReturnNotice: return "delivery-notice package";
        case data::BillKind::kPurchaseOrder: break;
    }
    return {};
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
        // A notice package counts apart the notices of the other type it carried: they are
        // neither saved nor refused here. Any other package carries none (should a receipt
        // say otherwise, they are shown all the same).
        const std::string other = OtherNoticePackage(p.bill_type);
        const std::string left_to =
            other.empty() && c.in_other_package == 0
                ? std::string()
                : fmt::format(", left to the {} {}", other.empty() ? "other package" : other, c.in_other_package);
        std::cout << fmt::format("  {} {:<17} saved {}, updated {}, already held {}, not saved {}{}{}\n", p.bill_type,
                                 BillTypeName(p.bill_type), c.saved, c.updated, c.held, c.not_saved, left_to,
                                 unreached > 0 ? fmt::format(", not reached {}", unreached) : std::string());
    }
}

}  // namespace orba::apps
