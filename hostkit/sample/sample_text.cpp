#include "hostkit/sample/sample_text.h"

#include <algorithm>
#include <cstdio>

namespace orba::hostkit::sample {

int64_t Pow10(int n) {
    int64_t result = 1;
    while (n-- > 0) result *= 10;
    return result;
}

// Plain decimal text of units / 10^scale, e.g. (12345, 2) -> "123.45".
std::string DecimalText(int64_t units, int scale) {
    const bool negative = units < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
    std::string digits = std::to_string(magnitude);
    if (scale > 0) {
        if (digits.size() <= static_cast<size_t>(scale)) {
            digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
        }
        digits.insert(digits.size() - static_cast<size_t>(scale), 1, '.');
    }
    return negative ? "-" + digits : digits;
}

// Rounds a non-negative value from one scale to a smaller one, halves away from zero, as
// the database rounds an amount to its currency's decimals.
int64_t RoundToScale(int64_t units, int from_scale, int to_scale) {
    const int64_t divisor = Pow10(from_scale - to_scale);
    return (units + divisor / 2) / divisor;
}

std::string DateText(int day_of_year) {
    static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    int day = std::clamp(day_of_year, 1, kDaysInYear);
    while (day > kMonthDays[month]) {
        day -= kMonthDays[month];
        ++month;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", kYear, month + 1, day);
    return text;
}

std::string DateTimeText(int day_of_year, int minute_of_day) {
    char time[32];
    std::snprintf(time, sizeof time, "T%02d:%02d:00", minute_of_day / 60, minute_of_day % 60);
    return DateText(day_of_year) + time;
}

std::string BillNumber(const char* prefix, int branch, int sequence) {
    char text[48];
    std::snprintf(text, sizeof text, "%s%02d-%06d", prefix, branch, sequence);
    return text;
}

const CurrencyRow& CurrencyById(int id) {
    for (const CurrencyRow& currency : kCurrencies) {
        if (currency.id == id) return currency;
    }
    return kCurrencies[0];
}

const UnitRow& UnitById(int id) {
    for (const UnitRow& unit : kUnits) {
        if (unit.id == id) return unit;
    }
    return kUnits[0];
}

}  // namespace orba::hostkit::sample
