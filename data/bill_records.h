// Turns the rows of an extraction statement, ordered by internal number and line number,
// into bill records of the exchange format: one pass, one record per bill, its lines in an
// entry list, every reference record a separate object, no value rounded.
#pragma once

#include <functional>
#include <memory>

#include "data/record_keys.h"
#include "data/row_source.h"
#include "data/sql_text.h"
#include "host/variant_dictionary.h"
#include "host/variant_vector.h"

namespace orba::data {

// What the grouping asks of its caller for each bill and line.
struct BillServices {
    // The accounting period of a bill date; `year` is the caller's year variable, passed in
    // as it stands and receiving the bill's accounting year.
    using PeriodOf = std::function<int32_t(const platform::Variant& bill_date, int32_t& year)>;
    PeriodOf period_of;
    // The null substitution of a line's source entry (delivery notices only).
    std::function<platform::Variant(const platform::Variant& value, const platform::Variant& fallback)> null_to;
};

// The bill records of an extraction's rows, made one bill at a time as they are asked for,
// so that a caller who passes each bill on never holds more than one.
class BillReader {
public:
    BillReader(std::unique_ptr<RowSource> rows, BillKind kind, bool tax_in_price, BillServices services);
    ~BillReader();
    BillReader(const BillReader&) = delete;
    BillReader& operator=(const BillReader&) = delete;

    // The next bill, or Nothing after the last.
    platform::Ref<host::VariantDictionary> Next();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The bill records of all rows, or Nothing when the statement yielded no row.
// `tax_in_price` selects the price formulas of purchase orders.
platform::Ref<host::VariantVector> GroupBills(RowSource& rows, BillKind kind, bool tax_in_price,
                                              const BillServices& services);

}  // namespace orba::data
