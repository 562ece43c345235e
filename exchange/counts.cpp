#include "exchange/counts.h"

#include <fmt/format.h>

#include "data/bill_records.h"
#include "data/bill_types.h"
#include "host/variant_dictionary.h"
#include "platform/error.h"
#include "exchange/records.h"
#include "exchange/steps.h"

namespace orba::exchange {

using host::VariantDictionary;
using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;
namespace key = data::key;

int32_t PackageType(const VariantDictionary& package) {
    return package.ValueOrDefault(key::kBillType, Variant(int32_t{0})).ToLong();
}

// Adds one bill of a package to the package's counts.
void CountBill(PackageCount& c, const Variant& item) {
    auto bill = AsRecord(item);
    if (!bill) return;
    ++c.bills;
    const Variant* entries = bill->Find(CountedAs(c.bill_type).entry_key);
    const int lines = AsList(entries) ? AsList(entries)->UpperBound() : 0;
    c.lines += lines;
    if (bill->ValueOrDefault(key::kBillType, Variant(int32_t{0})).ToLong() != TranTypeOf(c.bill_type)) return;
    ++c.own_bills;
    c.own_lines += lines;
    if (const Variant* no = bill->Find(key::kBillID); no && no->IsString()) c.bill_numbers.emplace_back(no->AsString());
    if (const Variant* id = bill->Find(key::kBillInterID); id && id->IsNumeric()) c.inter_ids.push_back(id->ToLong());
}

std::vector<PackageCount> CountPackages(const VariantVector& list) {
    std::vector<PackageCount> counts;
    for (int32_t i = 1; i <= list.UpperBound(); ++i) {
        auto package = AsRecord(list.Item(i));
        PackageCount& c = counts.emplace_back();
        if (!package) continue;
        c.bill_type = PackageType(*package);
        if (auto bills = AsList(package->Find(key::kBillsData))) {
            for (int32_t b = 1; b <= bills->UpperBound(); ++b) CountBill(c, bills->Item(b));
        }
    }
    return counts;
}

void PackageCounter::Add(size_t package, const Variant& item) {
    auto bill = AsRecord(item);
    if (!bill) return;
    if (packages_.size() <= package) packages_.resize(package + 1);
    const auto lines = [&](std::string_view key) {
        auto entries = AsList(bill->Find(key));
        return entries ? entries->UpperBound() : 0;
    };
    Tally& t = packages_[package][bill->ValueOrDefault(key::kBillType, Variant(int32_t{0})).ToLong()];
    ++t.bills;
    t.order_lines += lines(key::kReqEntry);
    t.notice_lines += lines(key::kNoticeEntry);
}

std::vector<PackageCount> PackageCounter::Counts(const VariantVector& list) const {
    std::vector<PackageCount> counts;
    for (int32_t i = 1; i <= list.UpperBound(); ++i) {
        auto package = AsRecord(list.Item(i));
        PackageCount& c = counts.emplace_back();
        if (!package) continue;
        c.bill_type = PackageType(*package);
        if (static_cast<size_t>(i) > packages_.size()) continue;
        for (const auto& [tran_type, t] : packages_[i - 1]) {
            const int lines = CountedAs(c.bill_type).entry_key == key::kReqEntry ? t.order_lines : t.notice_lines;
            c.bills += t.bills;
            c.lines += lines;
            if (tran_type != TranTypeOf(c.bill_type)) continue;
            c.own_bills += t.bills;
            c.own_lines += lines;
        }
    }
    return counts;
}

}  // namespace orba::exchange
