// How the exchange commands show what a step did: the bills and lines of each package
// made, and what the receiving branch did with each bill of a receipt.
#pragma once

#include <string>
#include <vector>

#include "exchange/steps.h"
#include "exchange/transport.h"

namespace orba::apps {

using namespace orba::exchange;

// One line per package: its bill type, bills and lines.
void PrintPackages(const std::vector<PackageCount>& counts);

struct OutcomeCounts {
    int saved = 0, updated = 0, held = 0, not_saved = 0;
    int in_other_package = 0;  // notices saved from, and acknowledged in, their own type's package
};

// The outcomes of a package's bills.
OutcomeCounts CountOutcomes(const ReceiptPackage& p);

// How the tables name the package a notice of a notice package's other type is saved from:
// "return-notice package" for a delivery notices' package (502) and the other way round;
// empty for any other package, which carries no bill of another type.
std::string OtherNoticePackage(int32_t bill_type);

// Who wrote the receipt for which list, and per package what became of its bills; with
// `not_reached` (UnpackageResult's), also the bills a failure kept from being saved or
// answered, where there are any.
void PrintReceipt(const ReceiptFile& receipt, const std::vector<int>& not_reached = {});

}  // namespace orba::apps
