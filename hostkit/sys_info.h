// The host's system-information component: system options from the account database's
// system profile, and the accounting year and period of a date.
#pragma once

#include <string>
#include <string_view>

#include "platform/dispatch.h"

namespace orba::hostkit {

inline constexpr std::string_view kSysInfoProgId = "Varnick.SysInfo";
// The first day of the first accounting period ("YYYY-MM-DD"). Periods are calendar months
// counted from that day, twelve to an accounting year; calendar years when the option is absent.
inline constexpr std::string_view kPeriodCategory = "GL";
inline constexpr std::string_view kPeriodStartKey = "PeriodStartDate";

class SysInfo : public platform::Dispatchable<SysInfo> {
public:
    static const platform::MemberTable<SysInfo>& Members();

    // The option's text; raises an Error naming category, key and database when absent.
    static std::string GetSysValue(std::string_view props, std::string_view category, std::string_view key);
    // The accounting period of `date` (1 to 12); `year` receives the accounting year, named
    // by the calendar year in which it starts.
    static int32_t GetPeriodFromDate(std::string_view props, const platform::Date& date, int32_t& year);
};

// Year and period for a given first day of the accounting calendar, apart from any database.
int32_t AccountingPeriod(const platform::Date& date, const platform::Date& period_start, int32_t& year);

}  // namespace orba::hostkit
