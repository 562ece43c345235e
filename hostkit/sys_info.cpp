#include "hostkit/sys_info.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "hostkit/login_string.h"
#include "hostkit/pg_db.h"
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

constexpr std::string_view kServerOptionQuery =
    "SELECT FValue FROM t_Systemprofile WHERE FCategory=$1 AND FKey=$2";

// Options of a server database are asked for once per bill of an extraction; a few
// connections (to the databases asked last) are kept for the process, each with the question
// prepared, so a question costs one round trip, not a login and a planning of the statement.
// A connection that failed is dropped and made again next time.
const std::string kServerOptionStatement = "orba_option";
constexpr size_t kKeptServerConnections = 4;

std::optional<std::string> ReadServerOption(const std::string& uri, std::string_view category, std::string_view key) {
    static std::mutex mutex;
    static std::vector<std::pair<std::string, std::unique_ptr<PgDatabase>>> kept;  // most recent last
    std::lock_guard lock(mutex);
    auto it = std::find_if(kept.begin(), kept.end(), [&](const auto& k) { return k.first == uri; });
    std::unique_ptr<PgDatabase> db;
    if (it != kept.end()) {
        db = std::move(it->second);
        kept.erase(it);
    } else {
        db = std::make_unique<PgDatabase>(uri);
        db->Prepare(kServerOptionStatement, kServerOptionQuery);
    }
    PgResult result = db->RunPrepared(kServerOptionStatement,
                                      std::vector<std::optional<std::string>>{std::string(category), std::string(key)});
    std::optional<std::string> value;
    if (result.Rows() > 0 && !result.IsNull(0, 0)) value = std::string(result.Text(0, 0));
    if (kept.size() >= kKeptServerConnections) kept.erase(kept.begin());
    kept.emplace_back(uri, std::move(db));
    return value;
}

std::optional<std::string> ReadOption(const std::string& path, std::string_view category, std::string_view key) {
    if (IsServerDatabaseUri(path)) return ReadServerOption(path, category, key);
    SqliteDatabase db(path, SqliteDatabase::Mode::kReadOnly);
    SqliteStatement stmt(db.Handle(), kOptionQuery);
    stmt.Bind(1, category);
    stmt.Bind(2, key);
    if (!stmt.Step() || stmt.ColumnIsNull(0)) return std::nullopt;
    return stmt.ColumnText(0);
}

// The accounting calendar's start is asked for once per bill of an extraction; opening the
// database for each would cost more than the extraction itself. The answer is kept per
// database file and read again when the file has changed.
struct CachedStart {
    timespec modified{};
    off_t size = 0;
    std::optional<std::string> value;
};

std::optional<std::string> PeriodStartOption(const std::string& path) {
    static std::mutex mutex;
    static std::map<std::string, CachedStart> cache;
    if (IsServerDatabaseUri(path)) return ReadOption(path, kPeriodCategory, kPeriodStartKey);
    // One look at the file gives both its time and its size.
    struct stat st {};
    const bool known = ::stat(path.c_str(), &st) == 0;
    if (known) {
        std::lock_guard lock(mutex);
        auto it = cache.find(path);
        if (it != cache.end() && it->second.modified.tv_sec == st.st_mtim.tv_sec &&
            it->second.modified.tv_nsec == st.st_mtim.tv_nsec && it->second.size == st.st_size) {
            return it->second.value;
        }
    }
    std::optional<std::string> value = ReadOption(path, kPeriodCategory, kPeriodStartKey);
    if (known) {
        std::lock_guard lock(mutex);
        cache[path] = CachedStart{st.st_mtim, st.st_size, value};
    }
    return value;
}

}  // namespace

std::string SysInfo::GetSysValue(std::string_view props, std::string_view category, std::string_view key) {
    const std::string path = AccountDatabasePath(props);
    if (auto value = ReadOption(path, category, key)) return *value;
    throw Error(ErrorCode::kNotFound,
                fmt::format("The system option {}/{} is not set in the account database '{}'", category, key,
                            ShownLocation(path)));
}

int32_t AccountingPeriod(const platform::Date& date, const platform::Date& period_start, int32_t& year) {
    // Whole periods from the start: a period runs from the start's day of the month to the
    // day before it in the next month.
    int64_t months = (int64_t{date.Year()} * 12 + date.Month() - 1) -
                     (int64_t{period_start.Year()} * 12 + period_start.Month() - 1);
    if (date.Day() < period_start.Day()) --months;
    const int64_t years = months >= 0 ? months / 12 : -((-months + 11) / 12);
    year = static_cast<int32_t>(period_start.Year() + years);
    return static_cast<int32_t>(months - years * 12 + 1);
}

int32_t SysInfo::GetPeriodFromDate(std::string_view props, const platform::Date& date, int32_t& year) {
    const std::string path = AccountDatabasePath(props);
    platform::Date start = platform::Date::FromParts(date.Year(), 1, 1);
    if (auto text = PeriodStartOption(path)) {
        auto parsed = platform::Date::TryParse(*text);
        if (!parsed) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("The system option {}/{} must be a date \"YYYY-MM-DD\", not '{}'",
                                    kPeriodCategory, kPeriodStartKey, *text));
        }
        start = *parsed;
    }
    return AccountingPeriod(date, start, year);
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
