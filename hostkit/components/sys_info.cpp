#include "hostkit/sys_info.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "hostkit/login_string.h"
#include "hostkit/database.h"
#include "hostkit/db/shared_database.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::CallArgs;
using platform::Error;
using platform::ErrorCode;
using platform::Variant;

namespace {

constexpr std::string_view kOptionQuery = "SELECT FValue FROM t_Systemprofile WHERE FCategory=? AND FKey=?";

// Options are asked for once per bill of an extraction: a few databases (those asked last)
// are kept open for the process, each with the question prepared, so a question costs one
// step, not an opening of the database and a planning of the statement. A database that
// failed is dropped and opened again next time, and so is a file replaced at its path.
constexpr size_t kKeptDatabases = 4;

struct KeptDatabase {
    std::string location;
    std::unique_ptr<Database> db;
    std::unique_ptr<Statement> question;
};

struct OptionValue {
    std::optional<std::string> value;
    std::string shown_location;  // the database, as messages may show it
};

// The option read with `question`, prepared on `db`.
OptionValue Answer(const Database& db, Statement& question, std::string_view category, std::string_view key) {
    const Variant category_value{category};
    const Variant key_value{key};
    OptionValue answer;
    answer.shown_location = db.ShownLocation();
    if (question.Run({&category_value, &key_value}) && !question.IsNull(0)) answer.value = question.Text(0);
    return answer;
}

OptionValue ReadOption(const std::string& location, std::string_view category, std::string_view key) {
    // The program's own connection, when it shares one for this location, reads it as it
    // stands in the program's transaction.
    if (SharedDatabase* shared = FindSharedDatabase(location, /*for_writing=*/false)) {
        return Answer(shared->Db(), shared->Prepared(kOptionQuery), category, key);
    }
    static std::mutex mutex;
    static std::vector<KeptDatabase> kept;  // most recent last
    std::lock_guard lock(mutex);
    auto it = std::find_if(kept.begin(), kept.end(), [&](const KeptDatabase& k) { return k.location == location; });
    KeptDatabase entry;
    if (it != kept.end()) {
        entry = std::move(*it);
        kept.erase(it);
    }
    if (!entry.db || !entry.db->StillCurrent()) {
        entry.question.reset();  // a statement goes before its connection
        entry.db = OpenDatabase(location, OpenMode::kReadOnly);
        entry.question = entry.db->Prepare(kOptionQuery);
        entry.location = location;
    }
    OptionValue answer = Answer(*entry.db, *entry.question, category, key);
    if (kept.size() >= kKeptDatabases) kept.erase(kept.begin());
    kept.push_back(std::move(entry));
    return answer;
}

}  // namespace

std::string SysInfo::GetSysValue(std::string_view props, std::string_view category, std::string_view key) {
    const OptionValue option = ReadOption(AccountDatabasePath(props), category, key);
    if (option.value) return *option.value;
    throw Error(ErrorCode::kNotFound, fmt::format("The system option {}/{} is not set in the account database '{}'",
                                                  category, key, option.shown_location));
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
    platform::Date start = platform::Date::FromParts(date.Year(), 1, 1);
    if (auto text = ReadOption(AccountDatabasePath(props), kPeriodCategory, kPeriodStartKey).value) {
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
