#include "platform/date.h"

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <ctime>

#include "platform/error.h"

namespace orba::platform {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr const char* kOutOfDateRange = "Overflow: the number is out of the range of dates";

using std::chrono::days;
using std::chrono::sys_days;

// 1899-12-30, the zero of the serial day count.
constexpr sys_days kEpoch = sys_days(std::chrono::year(1899) / std::chrono::December / 30);

// The calendar day `day_number` days after the zero (before it when negative).
std::chrono::year_month_day CivilFromDays(int64_t day_number) {
    return std::chrono::year_month_day(kEpoch + days(day_number));
}

int64_t DayNumber(const std::chrono::year_month_day& ymd) { return (sys_days(ymd) - kEpoch).count(); }

// The day that a count of seconds since the zero falls on, counting back for the days before it.
int64_t DayOf(int64_t seconds) { return std::chrono::floor<days>(std::chrono::seconds(seconds)).count(); }

bool ReadDigits(std::string_view t, size_t pos, size_t count, int& out) {
    if (pos + count > t.size()) return false;
    int v = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + (t[i] - '0');
    }
    out = v;
    return true;
}

Date FromTm(const std::tm& tm) {
    return Date::FromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                           tm.tm_sec);
}

}  // namespace

Date Date::FromParts(int year, int month, int day, int hour, int minute, int second) {
    const std::chrono::year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                          std::chrono::day(static_cast<unsigned>(day))};
    // month() and day() keep only their low bits, so the parts are checked as given too.
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || !ymd.ok() || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
        throw Error(ErrorCode::kTypeMismatch,
                    fmt::format("Invalid date {:04}-{:02}-{:02} {:02}:{:02}:{:02}", year, month, day,
                                hour, minute, second));
    }
    Date d;
    d.seconds_ = DayNumber(ymd) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return d;
}

std::optional<Date> Date::TryParse(std::string_view text) noexcept {
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    std::string_view t = text.substr(b, e - b);
    int y, mo, d, h = 0, mi = 0, s = 0;
    if (!ReadDigits(t, 0, 4, y) || t.size() < 10 || t[4] != '-' || !ReadDigits(t, 5, 2, mo) ||
        t[7] != '-' || !ReadDigits(t, 8, 2, d)) {
        return std::nullopt;
    }
    if (t.size() > 10) {
        if ((t[10] != 'T' && t[10] != ' ') || !ReadDigits(t, 11, 2, h) || t.size() < 16 ||
            t[13] != ':' || !ReadDigits(t, 14, 2, mi)) {
            return std::nullopt;
        }
        if (t.size() > 16) {
            if (t[16] != ':' || !ReadDigits(t, 17, 2, s)) return std::nullopt;
            size_t i = 19;
            // Fractions of a second, as databases print them, are dropped.
            if (i < t.size() && t[i] == '.') {
                ++i;
                while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
            }
            if (i != t.size()) return std::nullopt;
        }
    }
    try {
        return FromParts(y, mo, d, h, mi, s);
    } catch (const Error&) {
        return std::nullopt;
    }
}

Date Date::Parse(std::string_view text) {
    if (auto d = TryParse(text)) return *d;
    throw Error(ErrorCode::kTypeMismatch, fmt::format("Type mismatch: '{}' is not a date", text));
}

Date Date::FromSerial(double serial) {
    // Far outside the calendar; checked first so that the seconds below cannot overflow.
    if (!std::isfinite(serial) || std::fabs(serial) > 3.0e6) {
        throw Error(ErrorCode::kOverflow, kOutOfDateRange);
    }
    // The fraction counts the time of day forward from midnight, also for days before the zero.
    double whole = std::trunc(serial);
    double fraction = std::fabs(serial - whole);
    Date d;
    d.seconds_ = static_cast<int64_t>(whole) * kSecondsPerDay +
                 static_cast<int64_t>(std::llround(fraction * kSecondsPerDay));
    // Only years 100 to 9999 have a text form that reads back, as FromParts allows.
    static const Date kFirst = FromParts(100, 1, 1);
    static const Date kLast = FromParts(9999, 12, 31, 23, 59, 59);
    if (d < kFirst || d > kLast) {
        throw Error(ErrorCode::kOverflow, kOutOfDateRange);
    }
    return d;
}

Date Date::Now() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return FromTm(tm);
}

Date Date::Today() { return Now().DateOnly(); }

int64_t Date::SecondsOfDay() const {
    return seconds_ - DayOf(seconds_) * kSecondsPerDay;
}

Date Date::DateOnly() const {
    Date d;
    d.seconds_ = seconds_ - SecondsOfDay();
    return d;
}

int Date::Year() const { return static_cast<int>(CivilFromDays(DayOf(seconds_)).year()); }
int Date::Month() const {
    return static_cast<int>(static_cast<unsigned>(CivilFromDays(DayOf(seconds_)).month()));
}
int Date::Day() const {
    return static_cast<int>(static_cast<unsigned>(CivilFromDays(DayOf(seconds_)).day()));
}
int Date::Hour() const { return static_cast<int>(SecondsOfDay() / 3600); }
int Date::Minute() const { return static_cast<int>(SecondsOfDay() % 3600 / 60); }
int Date::Second() const { return static_cast<int>(SecondsOfDay() % 60); }

double Date::ToSerial() const {
    // The serial's fraction is the time of day even before the zero day: -1.25 is 06:00 on
    // 1899-12-29, so for negative days the fraction is subtracted.
    const int64_t day_number = DayOf(seconds_);
    const double fraction = static_cast<double>(SecondsOfDay()) / kSecondsPerDay;
    return day_number < 0 ? static_cast<double>(day_number) - fraction : static_cast<double>(day_number) + fraction;
}

std::string Date::ToString() const {
    const std::chrono::year_month_day c = CivilFromDays(DayOf(seconds_));
    const int y = static_cast<int>(c.year());
    const unsigned m = static_cast<unsigned>(c.month()), d = static_cast<unsigned>(c.day());
    if (!HasTime()) return fmt::format("{:04}-{:02}-{:02}", y, m, d);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", y, m, d, Hour(), Minute(), Second());
}

}  // namespace orba::platform
