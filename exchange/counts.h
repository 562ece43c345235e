// How many bills and lines each package of a transmission list holds, counted from a list
// in memory or from bills passing one at a time as a list is read in pieces.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/variant_dictionary.h"
#include "host/variant_vector.h"

namespace orba::exchange {

struct PackageCount {
    int32_t bill_type = 0;
    int bills = 0;
    int lines = 0;
    // Bills of the package's own transaction type (a notice package carries the notices of
    // the other type too; they are saved from their own package).
    int own_bills = 0;
    int own_lines = 0;
    std::vector<std::string> bill_numbers;  // of the package's own bills
    std::vector<int32_t> inter_ids;         // of the package's own bills
};

// Bills and lines of each package of a transmission list, in list order.
std::vector<PackageCount> CountPackages(const host::VariantVector& list);

// The counts CountPackages gives (without the bill numbers and ids), gathered from bills
// that pass one at a time, as a list read in pieces hands them over, before the type of their
// package is known: per package, three numbers per transaction type of its bills.
class PackageCounter {
public:
    void Add(size_t package, const platform::Variant& bill);
    // The counts of the packages `list`, whose "BillType" says how their bills count.
    std::vector<PackageCount> Counts(const host::VariantVector& list) const;

private:
    struct Tally {
        int bills = 0;
        int order_lines = 0;
        int notice_lines = 0;
    };
    std::vector<std::map<int32_t, Tally>> packages_;  // per package, per transaction type
};

// The bill type code of a package record (0 when it names none).
int32_t PackageType(const host::VariantDictionary& package);

// Adds one bill of a package to the package's counts.
void CountBill(PackageCount& c, const platform::Variant& item);

}  // namespace orba::exchange
