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
};

// The outcomes of a package's bills; with `only`, of the bills with those numbers alone.
OutcomeCounts CountOutcomes(const ReceiptPackage& p, const std::vector<std::string>* only = nullptr);

// Who wrote the receipt for which list, and per package what became of its bills; with
// `not_reached` (UnpackageResult's), also the bills a failure kept from being saved or
// answered, where there are any.
void PrintReceipt(const ReceiptFile& receipt, const std::vector<int>& not_reached = {});

}  // namespace orba::apps
