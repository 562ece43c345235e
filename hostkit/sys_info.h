// The host's system-information component: system options from the account database's
// system profile, and the accounting year and period of a date.
#pragma once

#include <string>
#include <string_view>

#include "platform/dispatch.h"

namespace orba::hostkit {

inline constexpr std::string_view kSysInfoProgId = "Varnick.SysInfo";
// The month in which the accounting year starts (1 to 12); calendar months when absent.
inline constexpr std::string_view kPeriodCategory = "GL";
inline constexpr std::string_view kStartMonthKey = "StartMonth";

class SysInfo : public platform::Dispatchable<SysInfo> {
public:
    static const platform::MemberTable<SysInfo>& Members();

    // The option's text; raises an Error naming category, key and database when absent.
    static std::string GetSysValue(std::string_view props, std::string_view category, std::string_view key);
    // The accounting period of `date` (1 to 12); `year` receives the accounting year, which
    // is the calendar year in which that accounting year starts.
    static int32_t GetPeriodFromDate(std::string_view props, const platform::Date& date, int32_t& year);
};

// Year and period for a start month, apart from any database.
int32_t AccountingPeriod(const platform::Date& date, int start_month, int32_t& year);

}  // namespace orba::hostkit
