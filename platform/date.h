// Calendar date with time of day to the second: bill dates, delivery dates, log names.
// Text form "YYYY-MM-DD", or "YYYY-MM-DDTHH:MM:SS" when it has a time of day.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orba::platform {

class Date {
public:
    Date() = default;  // 1899-12-30, the zero of the serial day count
    // Raises an Error for a day that does not exist or a time out of range.
    static Date FromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
    // Accepts "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS]" and the same with a blank for the "T";
    // empty for anything else.
    static std::optional<Date> TryParse(std::string_view text) noexcept;
    static Date Parse(std::string_view text);  // raises a type-mismatch Error quoting the text
    // Serial days since 1899-12-30, the fraction being the time of day.
    static Date FromSerial(double serial);
    static Date Now();    // local time, to the second
    static Date Today();  // local date, no time of day

    int Year() const;
    int Month() const;
    int Day() const;
    int Hour() const;
    int Minute() const;
    int Second() const;
    bool HasTime() const { return SecondsOfDay() != 0; }
    Date DateOnly() const;

    double ToSerial() const;
    std::string ToString() const;

    auto operator<=>(const Date&) const = default;

private:
    int64_t SecondsOfDay() const;
    int64_t seconds_ = 0;  // seconds since 1899-12-30 00:00:00
};

}  // namespace orba::platform
