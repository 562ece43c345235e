#include "hostkit/sys_info.h"

#include <fmt/format.h>

#include <optional>

#include "hostkit/login_string.h"
#include "hostkit/sqlite_db.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::CallArgs;
using platform::Error;
using platform::ErrorCode;
using platform::Variant;

namespace {

constexpr std::string_view kOptionQuery =
    "SELECT FValue FROM t_Systemprofile WHERE FCategory=?1 AND FKey=?2";

std::optional<std::string> ReadOption(const std::string& path, std::string_view category, std::string_view key) {
    SqliteDatabase db(path, SqliteDatabase::Mode::kReadOnly);
    SqliteStatement stmt(db.Handle(), kOptionQuery);
    stmt.Bind(1, category);
    stmt.Bind(2, key);
    if (!stmt.Step() || stmt.ColumnIsNull(0)) return std::nullopt;
    return stmt.ColumnText(0);
}

}  // namespace

std::string SysInfo::GetSysValue(std::string_view props, std::string_view category, std::string_view key) {
    const std::string path = AccountDatabasePath(props);
    if (auto value = ReadOption(path, category, key)) return *value;
    throw Error(ErrorCode::kNotFound,
                fmt::format("The system option {}/{} is not set in the account database '{}'", category, key, path));
}

int32_t AccountingPeriod(const platform::Date& date, int start_month, int32_t& year) {
    const int month = date.Month();
    year = month >= start_month ? date.Year() : date.Year() - 1;
    return (month - start_month + 12) % 12 + 1;
}

int32_t SysInfo::GetPeriodFromDate(std::string_view props, const platform::Date& date, int32_t& year) {
    const std::string path = AccountDatabasePath(props);
    int start_month = 1;
    if (auto text = ReadOption(path, kPeriodCategory, kStartMonthKey)) {
        start_month = Variant(*text).ToInteger();
        if (start_month < 1 || start_month > 12) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("The system option {}/{} must be a month from 1 to 12, not '{}'", kPeriodCategory,
                                    kStartMonthKey, *text));
        }
    }
    return AccountingPeriod(date, start_month, year);
}

const platform::MemberTable<SysInfo>& SysInfo::Members() {
    static const platform::MemberTable<SysInfo> table = [] {
        platform::MemberTable<SysInfo> t("SysInfo");
        t.Method("GetSysValue", 3, 3,
                 [](SysInfo&, CallArgs& a) { return Variant(GetSysValue(a.Text(0), a.Text(1), a.Text(2))); })
            .Method("GetPeriodFromDate", 3, 3, [](SysInfo&, CallArgs& a) {
                platform::Date date;
                try {
                    date = a[1].ToDate();
                } catch (const Error& e) {
                    a.Rethrow(1, e);
                }
                int32_t year = 0;
                int32_t period = GetPeriodFromDate(a.Text(0), date, year);
                a[2] = Variant(year);
                return Variant(period);
            });
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit
