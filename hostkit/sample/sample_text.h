// The generator's values in the form the account database keeps them: decimals as plain
// text of scaled whole numbers, dates as ISO text, bill numbers with their prefix.
#pragma once

#include <cstdint>
#include <string>

#include "hostkit/sample/master_data.h"

namespace orba::hostkit::sample {

int64_t Pow10(int n);
// Plain decimal text of units / 10^scale, e.g. (12345, 2) -> "123.45".
std::string DecimalText(int64_t units, int scale);
// Rounds a non-negative value from one scale to a smaller one, halves away from zero, as
// the database rounds an amount to its currency's decimals.
int64_t RoundToScale(int64_t units, int from_scale, int to_scale);
// The date of a day of the sample year, "YYYY-MM-DD", and with a time of day.
std::string DateText(int day_of_year);
std::string DateTimeText(int day_of_year, int minute_of_day);
std::string BillNumber(const char* prefix, int branch, int sequence);
const CurrencyRow& CurrencyById(int id);
const UnitRow& UnitById(int id);

}  // namespace orba::hostkit::sample
