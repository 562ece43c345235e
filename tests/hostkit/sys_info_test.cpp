// The system-information component on a branch database: options from the system profile
// and the accounting period of a date, directly and through late-bound calls.
#include "hostkit/sys_info.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "hostkit/login_string.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "support/error_of.h"
#include "support/branch_env.h"
#include "support/variant_print.h"

namespace orba::hostkit {
namespace {

using platform::Date;
using platform::Error;
using platform::ErrorCode;
using platform::Variant;
using orba::testing::BranchEnv;

using orba::testing::ErrorOf;

class SysInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.Db().Exec(
            "INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ('IC', 'BrID', '3'), "
            "('IC', 'POOrderTaxInPrice', 'True'), ('IC', 'Blank', ''), ('IC', 'Unset', NULL)");
    }

    // Sets (or, with no value, removes) the first day of the accounting calendar.
    void SetPeriodStart(const std::optional<std::string>& start) {
        env_.Db().Exec("DELETE FROM t_Systemprofile WHERE FCategory='GL' AND FKey='PeriodStartDate'");
        if (start) {
            env_.Db().Exec("INSERT INTO t_Systemprofile (FCategory, FKey, FValue) VALUES ('GL', 'PeriodStartDate', '" +
                           *start + "')");
        }
    }

    BranchEnv env_;
    const std::string props_ = MakeLoginProperties(env_.DbPath());
};

TEST_F(SysInfoTest, GetSysValueAnswersFromTheSystemProfile) {
    EXPECT_EQ(SysInfo::GetSysValue(props_, "IC", "BrID"), "3");
    EXPECT_EQ(SysInfo::GetSysValue(props_, "IC", "POOrderTaxInPrice"), "True");
    EXPECT_EQ(SysInfo::GetSysValue(props_, "IC", "Blank"), "");

    // Late-bound, as the library calls it.
    auto info = platform::CreateObject(kSysInfoProgId);
    EXPECT_EQ(platform::Call(info, "GetSysValue", {Variant(props_), Variant("IC"), Variant("BrID")}), Variant("3"));
}

TEST_F(SysInfoTest, MissingOptionOrDatabaseIsAnErrorThatSaysWhich) {
    struct Case {
        std::string props, category, key;
        ErrorCode code;
        std::vector<std::string> named;
    };
    const std::string missing_db = (env_.Dir() / "gone.db").string();
    const Case cases[] = {
        {props_, "IC", "NoSuchKey", ErrorCode::kNotFound, {"IC", "NoSuchKey", env_.DbPath()}},
        {props_, "GL", "BrID", ErrorCode::kNotFound, {"GL", "BrID"}},  // the key exists in another category
        {props_, "IC", "Unset", ErrorCode::kNotFound, {"Unset"}},      // a row without a value
        {MakeLoginProperties(missing_db), "IC", "BrID", ErrorCode::kFileNotFound, {missing_db}},
        {"UserName=Li", "IC", "BrID", ErrorCode::kNotFound, {"AcctDB"}},
    };
    for (const Case& c : cases) {
        const Error e = ErrorOf([&] { SysInfo::GetSysValue(c.props, c.category, c.key); });
        EXPECT_EQ(e.Code(), c.code) << c.category << "/" << c.key << ": " << e.Description();
        for (const std::string& word : c.named) {
            EXPECT_NE(e.Description().find(word), std::string::npos) << e.Description();
        }
    }
}

TEST_F(SysInfoTest, PeriodAndYearOfADate) {
    struct Case {
        std::optional<std::string> start;
        Date date;
        int32_t period;
        int32_t year;
    };
    auto d = [](int y, int m, int day, int h = 0) { return Date::FromParts(y, m, day, h); };
    const Case cases[] = {
        // Calendar months when no start is set.
        {std::nullopt, d(2026, 1, 1), 1, 2026},
        {std::nullopt, d(2026, 3, 31), 3, 2026},
        {std::nullopt, d(2025, 12, 31, 23), 12, 2025},
        // Accounting years starting on 1 April.
        {"2026-04-01", d(2026, 3, 31), 12, 2025},
        {"2026-04-01", d(2026, 4, 1), 1, 2026},
        {"2026-04-01", d(2026, 3, 31, 23), 12, 2025},
        {"2026-04-01", d(2026, 12, 31), 9, 2026},
        {"2026-04-01", d(2027, 1, 1), 10, 2026},
        {"2026-04-01", d(2027, 3, 31), 12, 2026},
        {"2026-04-01", d(2027, 4, 1), 1, 2027},
        {"2026-04-01", d(2024, 5, 15), 2, 2024},  // years before the first one
        {"2026-04-01", d(2024, 3, 1), 12, 2023},
        // Periods starting on the 16th of each month.
        {"2026-01-16", d(2026, 1, 15), 12, 2025},
        {"2026-01-16", d(2026, 1, 16), 1, 2026},
        {"2026-01-16", d(2026, 2, 15), 1, 2026},
        {"2026-01-16", d(2026, 2, 16), 2, 2026},
        {"2026-01-16", d(2026, 12, 31), 12, 2026},
        {"2026-01-16", d(2027, 1, 15), 12, 2026},
        {"2026-01-16", d(2027, 1, 16), 1, 2027},
        // A calendar start written with a time of day.
        {"2026-01-01 00:00:00", d(2026, 7, 4), 7, 2026},
    };
    for (const Case& c : cases) {
        SetPeriodStart(c.start);
        int32_t year = -1;
        const int32_t period = SysInfo::GetPeriodFromDate(props_, c.date, year);
        EXPECT_EQ(period, c.period) << c.start.value_or("calendar") << " " << c.date.ToString();
        EXPECT_EQ(year, c.year) << c.start.value_or("calendar") << " " << c.date.ToString();
    }
}

TEST_F(SysInfoTest, LateBoundPeriodWritesTheYearBackThroughItsArgument) {
    SetPeriodStart("2026-04-01");
    auto info = platform::CreateObject(kSysInfoProgId);
    struct Case {
        Variant date;
        int32_t period;
        int32_t year;
    };
    const Case cases[] = {
        {Variant(Date::FromParts(2026, 3, 31)), 12, 2025},
        {Variant("2026-04-01"), 1, 2026},  // a date given as text, as a record field may hold it
    };
    for (const Case& c : cases) {
        std::vector<Variant> args{Variant(props_), c.date, Variant(int32_t{0})};
        const Variant period = platform::CallByName(info, "GetPeriodFromDate", platform::CallKind::kMethod, args);
        EXPECT_EQ(period, Variant(c.period));
        EXPECT_EQ(args[2], Variant(c.year));
    }

    // A value that is not a date is refused, naming the member; the year is left alone.
    std::vector<Variant> args{Variant(props_), Variant("end of March"), Variant(int32_t{7})};
    const Error e =
        ErrorOf([&] { platform::CallByName(info, "GetPeriodFromDate", platform::CallKind::kMethod, args); });
    EXPECT_EQ(e.Code(), ErrorCode::kTypeMismatch) << e.Description();
    EXPECT_NE(e.Description().find("GetPeriodFromDate"), std::string::npos) << e.Description();
    EXPECT_EQ(args[2], Variant(int32_t{7}));
}

TEST_F(SysInfoTest, MalformedPeriodStartIsAnErrorQuotingIt) {
    for (const char* bad : {"April", "2026-13-01", "2026-02-30", "", "01.04.2026"}) {
        SetPeriodStart(bad);
        int32_t year = 0;
        const Error e = ErrorOf([&] { SysInfo::GetPeriodFromDate(props_, Date::FromParts(2026, 5, 1), year); });
        EXPECT_EQ(e.Code(), ErrorCode::kBadInput) << bad;
        EXPECT_NE(e.Description().find("GL/PeriodStartDate"), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find(std::string("'") + bad + "'"), std::string::npos) << e.Description();
    }
}

}  // namespace
}  // namespace orba::hostkit
