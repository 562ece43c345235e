// Calendar dates: validation of parts, text forms, parsing and the serial day count.
#include "platform/date.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"

namespace orba::platform {
namespace {

TEST(Date, FromPartsChecksTheCalendar) {
    struct Case {
        int y, m, d, hh, mm, ss;
        bool valid;
    };
    const std::vector<Case> cases = {
        {2024, 2, 29, 0, 0, 0, true},  {2023, 2, 29, 0, 0, 0, false},
        {2000, 2, 29, 0, 0, 0, true},  {1900, 2, 29, 0, 0, 0, false},
        {2023, 4, 31, 0, 0, 0, false}, {2023, 12, 31, 23, 59, 59, true},
        {2023, 13, 1, 0, 0, 0, false}, {2023, 0, 1, 0, 0, 0, false},
        {2023, 1, 0, 0, 0, 0, false},  {2023, 1, 1, 24, 0, 0, false},
        {2023, 1, 1, 0, 60, 0, false}, {2023, 1, 1, 0, 0, 60, false},
        {2023, 1, 1, -1, 0, 0, false}, {100, 1, 1, 0, 0, 0, true},
        {99, 12, 31, 0, 0, 0, false},  {9999, 12, 31, 0, 0, 0, true},
        {10000, 1, 1, 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        const std::string shown = std::to_string(c.y) + "-" + std::to_string(c.m) + "-" +
                                  std::to_string(c.d) + " " + std::to_string(c.hh) + ":" +
                                  std::to_string(c.mm) + ":" + std::to_string(c.ss);
        if (c.valid) {
            const Date date = Date::FromParts(c.y, c.m, c.d, c.hh, c.mm, c.ss);
            EXPECT_EQ(date.Year(), c.y) << shown;
            EXPECT_EQ(date.Month(), c.m) << shown;
            EXPECT_EQ(date.Day(), c.d) << shown;
            EXPECT_EQ(date.Hour(), c.hh) << shown;
            EXPECT_EQ(date.Minute(), c.mm) << shown;
            EXPECT_EQ(date.Second(), c.ss) << shown;
        } else {
            EXPECT_THROW(Date::FromParts(c.y, c.m, c.d, c.hh, c.mm, c.ss), Error) << shown;
        }
    }
}

TEST(Date, TextFormShowsTheTimeOnlyWhenThereIsOne) {
    EXPECT_EQ(Date::FromParts(2003, 5, 12).ToString(), "2003-05-12");
    EXPECT_EQ(Date::FromParts(2003, 5, 12, 0, 0, 1).ToString(), "2003-05-12T00:00:01");
    EXPECT_EQ(Date::FromParts(987, 1, 2, 3, 4, 5).ToString(), "0987-01-02T03:04:05");
    EXPECT_EQ(Date().ToString(), "1899-12-30");
    EXPECT_FALSE(Date::FromParts(2003, 5, 12).HasTime());
    EXPECT_EQ(Date::FromParts(2003, 5, 12, 10, 0, 0).DateOnly(), Date::FromParts(2003, 5, 12));
}

TEST(Date, TryParseAcceptsOnlyWholeDates) {
    struct Case {
        const char* text;
        const char* parsed;  // nullptr when the text must be refused
    };
    const std::vector<Case> cases = {
        {"2003-05-12", "2003-05-12"},
        {" 2003-05-12 ", "2003-05-12"},
        {"2003-05-12T10:20:30", "2003-05-12T10:20:30"},
        {"2003-05-12 10:20:30", "2003-05-12T10:20:30"},
        {"2003-05-12T10:20", "2003-05-12T10:20:00"},
        {"2003-05-12 10:20:30.997", "2003-05-12T10:20:30"},
        {"2024-02-29", "2024-02-29"},
        {"2023-02-29", nullptr},
        {"2003-5-12", nullptr},
        {"12/05/2003", nullptr},
        {"2003-05-12T", nullptr},
        {"2003-05-12T10", nullptr},
        {"2003-05-12T25:00:00", nullptr},
        {"2003-05-12T10:20:30Z", nullptr},
        {"2003-05-12x", nullptr},
        {"", nullptr},
        {"abcd-ef-gh", nullptr},
    };
    for (const auto& c : cases) {
        auto d = Date::TryParse(c.text);
        if (c.parsed) {
            ASSERT_TRUE(d.has_value()) << c.text;
            EXPECT_EQ(d->ToString(), c.parsed) << c.text;
        } else {
            EXPECT_FALSE(d.has_value()) << c.text;
        }
    }
    try {
        Date::Parse("2003-02-30");
        ADD_FAILURE() << "parsed a day that does not exist";
    } catch (const Error& e) {
        EXPECT_EQ(e.Code(), ErrorCode::kTypeMismatch);
        EXPECT_NE(e.Description().find("2003-02-30"), std::string::npos) << e.Description();
    }
}

TEST(Date, SerialsRoundTrip) {
    struct Case {
        double serial;
        const char* text;
    };
    const std::vector<Case> cases = {
        {0, "1899-12-30"},
        {1, "1899-12-31"},
        {2.25, "1900-01-01T06:00:00"},
        {37753.5, "2003-05-12T12:00:00"},
        {-1, "1899-12-29"},
        {-1.25, "1899-12-29T06:00:00"},  // the fraction is the time of day, also before the zero
        {-2.75, "1899-12-28T18:00:00"},
        {-657434, "0100-01-01"},
        {2958465, "9999-12-31"},
    };
    for (const auto& c : cases) {
        const Date d = Date::FromSerial(c.serial);
        EXPECT_EQ(d.ToString(), c.text) << c.serial;
        EXPECT_EQ(d.ToSerial(), c.serial) << c.text;
        EXPECT_EQ(Date::Parse(c.text), d) << c.text;
    }
}

TEST(Date, SerialsOutsideTheCalendarOverflow) {
    // Outside years 100 to 9999 a date has no text form that reads back.
    for (double serial : {-657435.0, 2958466.0, -700000.0, 3.0e6, 1e300}) {
        try {
            Date::FromSerial(serial);
            ADD_FAILURE() << "accepted serial " << serial;
        } catch (const Error& e) {
            EXPECT_EQ(e.Code(), ErrorCode::kOverflow) << serial;
        }
    }
    EXPECT_EQ(Date::FromSerial(2958465.5).ToString(), "9999-12-31T12:00:00");
}

TEST(Date, OrdersChronologically) {
    EXPECT_LT(Date::FromParts(1899, 12, 29, 23, 0, 0), Date::FromParts(1899, 12, 30));
    EXPECT_LT(Date::FromParts(2003, 5, 12), Date::FromParts(2003, 5, 12, 0, 0, 1));
    EXPECT_EQ(Date::FromSerial(37753), Date::FromParts(2003, 5, 12));
}

}  // namespace
}  // namespace orba::platform
