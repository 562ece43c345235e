#include "platform/date.h"

#include <fmt/format.h>

#include <cmath>
#include <ctime>

#include "platform/error.h"

namespace orba::platform {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr const char* kOutOfDateRange = "Overflow: the number is out of the range of dates";

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct Civil {
    int y;
    int m;
    int d;
};

Civil CivilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

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
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59) {
        throw Error(ErrorCode::kTypeMismatch,
                    fmt::format("Invalid date {:04}-{:02}-{:02} {:02}:{:02}:{:02}", year, month, day,
                                hour, minute, second));
    }
    Date d;
    d.seconds_ = (DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                  kEpochDays) * kSecondsPerDay +
                 hour * 3600 + minute * 60 + second;
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
    return seconds_ - FloorDiv(seconds_, kSecondsPerDay) * kSecondsPerDay;
}

Date Date::DateOnly() const {
    Date d;
    d.seconds_ = seconds_ - SecondsOfDay();
    return d;
}

int Date::Year() const { return CivilFromDays(FloorDiv(seconds_, kSecondsPerDay) + kEpochDays).y; }
int Date::Month() const { return CivilFromDays(FloorDiv(seconds_, kSecondsPerDay) + kEpochDays).m; }
int Date::Day() const { return CivilFromDays(FloorDiv(seconds_, kSecondsPerDay) + kEpochDays).d; }
int Date::Hour() const { return static_cast<int>(SecondsOfDay() / 3600); }
int Date::Minute() const { return static_cast<int>(SecondsOfDay() % 3600 / 60); }
int Date::Second() const { return static_cast<int>(SecondsOfDay() % 60); }

double Date::ToSerial() const {
    // The serial's fraction is the time of day even before the zero day: -1.25 is 06:00 on
    // 1899-12-29, so for negative days the fraction is subtracted.
    int64_t days = FloorDiv(seconds_, kSecondsPerDay);
    double fraction = static_cast<double>(SecondsOfDay()) / kSecondsPerDay;
    return days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
}

std::string Date::ToString() const {
    Civil c = CivilFromDays(FloorDiv(seconds_, kSecondsPerDay) + kEpochDays);
    if (!HasTime()) return fmt::format("{:04}-{:02}-{:02}", c.y, c.m, c.d);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", c.y, c.m, c.d, Hour(), Minute(),
                       Second());
}

}  // namespace orba::platform
