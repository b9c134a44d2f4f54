// The Date record on its own: calendar, parser, daylight saving and text
// forms. Expectations that depend on the zone are built through the record
// itself, so the tests hold in any TZ.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/Localizer.h"
#include "core/String.h"
#include "core/tests/TestSupport.h"
#include "script/composition/InitTerm.h"
#include "script/engine/TVContext.h"
#include "script/library/DateTime.h"

namespace LxScript {
namespace {

using LxCore::String;

std::string utf8(const String& s) { return LxCore::N(s); }

f64 utc(f64 y, f64 m, f64 d, f64 h = 0, f64 mi = 0, f64 s = 0) {
    return makeDay(y, m, d) * kMsPerDay + makeTime(h, mi, s, 0);
}

f64 local(f64 y, f64 m, f64 d, f64 h = 0, f64 mi = 0, f64 s = 0) {
    jsDateTime r;
    r.set(utc(y, m, d, h, mi, s), true);
    return r.getTime();
}

f64 parsed(const char* text) {
    jsDateTime r;
    r.parse(String(text));
    return r.getTime();
}

// Every test leaves the process-wide switches as it found them.
class DateTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        savedOffset = jsDateTime::standardOffset();
        daylightRule(false) = DaylightRule();
        daylightRule(true) = DaylightRule();
    }
    void TearDown() override {
        jsDateTime::setStandardOffset(savedOffset);
        daylightRule(false) = DaylightRule();
        daylightRule(true) = DaylightRule();
        TVContext::get().usDaylightSaving = false;
        InitTerm::exit();
    }
    // A zone with a fixed offset and no daylight saving at all: both rules
    // set to a season that never starts (day 400).
    void fixedZone(f64 offsetMs) {
        jsDateTime::setStandardOffset(offsetMs);
        daylightRule(false) = parseDaylightRule(String("January 400 00:00"));
        daylightRule(true) = parseDaylightRule(String("January 400 00:00"));
    }
    f64 savedOffset = 0;
};

TEST_F(DateTimeTest, YearFromDayInvertsDayFromYearOverSixHundredThousandYears) {
    for (i64 y = -300000; y <= 300000; y++) {
        i64 first = dayFromYear(y);
        ASSERT_EQ(yearFromDay(first), y) << y;
        ASSERT_EQ(yearFromDay(first - 1), y - 1) << y;
    }
    EXPECT_EQ(yearFromDay(-1), 1969);
    EXPECT_EQ(yearFromDay(dayFromYear(2000)), 2000);
}

TEST_F(DateTimeTest, MakeDayRollsMonthsAndDatesOver) {
    struct Row {
        f64 y, m, d;
        i64 year;
        i32 month, date;
    } rows[] = {
        {2020, 13, 1, 2021, 1, 1},  {2020, -1, 1, 2019, 11, 1}, {2020, 1, 30, 2020, 2, 1},
        {2020, 0, 0, 2019, 11, 31}, {1600, 1, 29, 1600, 1, 29}, {1900, 1, 29, 1900, 2, 1},
        {0, 0, 1, 0, 0, 1},         {-1, 11, 31, -1, 11, 31},
    };
    for (const Row& r : rows) {
        DateParts p = splitTime(makeDay(r.y, r.m, r.d) * kMsPerDay);
        EXPECT_EQ(p.year, r.year) << r.y << "/" << r.m << "/" << r.d;
        EXPECT_EQ(p.month, r.month) << r.y << "/" << r.m << "/" << r.d;
        EXPECT_EQ(p.date, r.date) << r.y << "/" << r.m << "/" << r.d;
    }
    EXPECT_TRUE(std::isnan(makeDay(1e300, 0, 1)));
    EXPECT_TRUE(std::isnan(makeDay(2000, 1e300, 1)));
    EXPECT_TRUE(std::isnan(makeDay(2000, 0, NAN)));
}

TEST_F(DateTimeTest, TimeRangeEndsAtEightPointSixFourETwelveDaysEitherWay) {
    jsDateTime r;
    r.set(8.64e15, false);
    EXPECT_TRUE(r.isValid());
    r.set(8.64e15 + 1, false);
    EXPECT_FALSE(r.isValid());
    EXPECT_TRUE(std::isnan(r.getTime()));
    r.set(-8.64e15, false);
    ASSERT_TRUE(r.isValid());
    DateParts p = splitTime(r.getTime());
    EXPECT_EQ(p.year, -271821);
    EXPECT_EQ(p.month, 3);
    EXPECT_EQ(p.date, 20);
    EXPECT_EQ(p.hours, 0);
    r.set(-8.64e15 - 1, false);
    EXPECT_FALSE(r.isValid());
    EXPECT_EQ(utc(275760, 8, 13), 8.64e15);
    p = splitTime(-1);
    EXPECT_EQ(p.year, 1969);
    EXPECT_EQ(p.hours, 23);
    EXPECT_EQ(p.ms, 999);
    EXPECT_EQ(p.weekday, 3);
}

TEST_F(DateTimeTest, ParserReadsFreeFormText) {
    struct Row {
        const char* text;
        f64 expected;
    } rows[] = {
        {"12/25/2020 10:30 PM", local(2020, 11, 25, 22, 30)},
        {"12/25/2020 10:30 pm", local(2020, 11, 25, 22, 30)},
        {"25/12/2020", local(2020, 11, 25)},
        {"Dec 25, 2020 10:30:15 GMT+0100", utc(2020, 11, 25, 9, 30, 15)},
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"2020", local(2020, 0, 1)},
        {"(a (nested) comment) Jan 5 2021", local(2021, 0, 5)},
        {"Jan 5 2021 EST", utc(2021, 0, 5, 5)},
        {"Jan 5 2021 (unclosed", local(2021, 0, 5)},
        {"Ju 1 2000", local(2000, 6, 1)},
        {"Ma 1 2000", local(2000, 4, 1)},
        {"Jan 5 x 2021", local(2021, 0, 5)},
        {"12:00 AM Jan 1 2000", local(2000, 0, 1)},
        {"12:00 PM Jan 1 2000", local(2000, 0, 1, 12)},
        {"Jan 1 99", local(1999, 0, 1)},
        {"Sat Jan 1 2000 10:00:00 GMT-0530", utc(2000, 0, 1, 15, 30)},
        {"Jan 1 2000 GMT+0575", utc(2000, 0, 1, -5)},
        {"", local(1970, 0, 1)},
    };
    for (const Row& r : rows)
        EXPECT_EQ(parsed(r.text), r.expected) << r.text;

    const char* invalid[] = {
        "13:00 AM", "5/2020", "Jan 5 2021 blah", "Jan Feb 5 2021", "1:00 2:00",
        "Jan 5 2021 EST PST", "1/2/2000 3/4/2000", "Jan 5 2021 99999999999",
        "Jan 5 # 2021", "Jan 5 275761", "Jan 5 2147483647", "13:00 PM",
    };
    for (const char* text : invalid)
        EXPECT_TRUE(std::isnan(parsed(text))) << text;

    std::string digits(10000, '7');
    EXPECT_TRUE(std::isnan(parsed(digits.c_str())));
}

TEST_F(DateTimeTest, ParsingTheTextFormKeepsTheTimeToTheSecond) {
    for (f64 year : {1000.0, 1582.0, 1969.0, 1970.0, 2024.0, 2106.0, 9999.0}) {
        for (f64 month : {0.0, 6.0, 10.0}) {
            jsDateTime r;
            r.set(local(year, month, 13, 14, 15, 16) + 789, false);
            jsDateTime back;
            back.parse(r.toString());
            EXPECT_EQ(back.getTime(), r.getTime() - 789) << utf8(r.toString());
        }
    }
}

TEST_F(DateTimeTest, TextForms) {
    fixedZone(0);
    jsDateTime r;
    r.set(utc(2010, 6, 4, 3, 2, 1), false);
    EXPECT_EQ(utf8(r.toString()), "Sun Jul 04 2010 03:02:01 GMT-0000");
    EXPECT_EQ(utf8(r.toDateString()), "Sun Jul 04 2010");
    EXPECT_EQ(utf8(r.toTimeString()), "03:02:01 GMT-0000");
    EXPECT_EQ(utf8(r.toUTCString()), "Sunday, 04 Jul 2010 03:02:01 GMT");
    EXPECT_EQ(utf8(r.toLocaleString(0)), "Sunday, July 04 2010 03:02:01");
    EXPECT_EQ(utf8(r.toLocaleString(1)), "Sunday, July 04 2010");
    EXPECT_EQ(utf8(r.toLocaleString(2)), "03:02:01");
    EXPECT_EQ(utf8(r.toSource()), "(new Date(1278212521000))");

    fixedZone(-5.5 * kMsPerHour);
    r.set(0, false);
    EXPECT_EQ(utf8(r.toString()), "Thu Jan 01 1970 05:30:00 GMT+0530");
    fixedZone(8 * kMsPerHour);
    EXPECT_EQ(utf8(r.toString()), "Thu Jan 01 1970 05:30:00 GMT+0530");  // the record keeps its offset
    r.set(0, false);
    EXPECT_EQ(utf8(r.toString()), "Wed Dec 31 1969 16:00:00 GMT-0800");
    r.set(-8.64e15, false);
    EXPECT_EQ(utf8(r.toUTCString()), "Tuesday, 20 Apr -271821 00:00:00 GMT");

    r.invalidate();
    EXPECT_EQ(utf8(r.toString()), "Invalid Date");
    EXPECT_EQ(utf8(r.toDateString()), "Invalid Date");
    EXPECT_EQ(utf8(r.toTimeString()), "Invalid Date");
    EXPECT_EQ(utf8(r.toUTCString()), "NaN");
    EXPECT_EQ(utf8(r.toLocaleString(0)), "NaN");
    EXPECT_EQ(utf8(r.toSource()), "(new Date(\"Number.NaN\"))");
}

// Renames months and weekdays the way a translation would.
class GermanDates : public LxCore::Localizer {
public:
    bool translate(String& text, const String&, const String&) override {
        std::string key = utf8(text);
        if (key.find("/Date/Jul=") != std::string::npos)
            text = "Juli";
        else if (key.find("/Date/Sun=") != std::string::npos)
            text = "Sonntag";
        else if (key.find("/Date/Date=") != std::string::npos)
            text = "%7, %1. %2 %3 %4.%5.%6";
        else
            return false;
        return true;
    }
};

TEST_F(DateTimeTest, LocalisedFormsTakeNamesAndFormatFromTheLocalizer) {
    fixedZone(0);
    GermanDates german;
    LxCore::Localizer::setCurrent(&german);
    jsDateTime r;
    r.set(utc(2010, 6, 4, 3, 2, 1), false);
    EXPECT_EQ(utf8(r.toLocaleString(0)), "Sonntag, 04. Juli 2010 03.02.01");
    EXPECT_EQ(utf8(r.toLocaleString(1)), "Sonntag, Juli 04 2010");
    LxCore::Localizer::setCurrent(nullptr);
}

TEST_F(DateTimeTest, DaylightRulesReadBackAndDecide) {
    struct Row {
        const char* text;
        const char* back;
    } rows[] = {
        {"Sunday March 2 02:00", "Sunday March 2 02:00"},
        {"sun mar 9 2:30", "Sunday March 5 02:30"},
        {"October 27 03:00", "October 27 03:00"},
        {"Sunday March 0 02:00", "Invalid"},
        {"Sunday Marc 2 02:00", "Invalid"},
        {"March 2 24:00", "Invalid"},
        {"March 2 02:60", "Invalid"},
        {"March 99999999999 02:00", "Invalid"},
        {"", "Invalid"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(utf8(formatDaylightRule(parseDaylightRule(String(r.text)))), r.back) << r.text;

    // Central Europe: last Sunday of March 02:00 to last Sunday of October 03:00.
    jsDateTime::setStandardOffset(-kMsPerHour);
    daylightRule(false) = parseDaylightRule(String("Sunday March 5 02:00"));
    daylightRule(true) = parseDaylightRule(String("Sunday October 5 03:00"));
    jsDateTime r;
    r.set(local(2021, 7, 1), false);
    EXPECT_EQ(r.getOffset(), -2 * kMsPerHour);
    r.set(local(2021, 11, 1), false);
    EXPECT_EQ(r.getOffset(), -kMsPerHour);
    // 2021-03-28 is the last Sunday of March: the season starts at 02:00 standard time.
    r.set(utc(2021, 2, 28, 1, 59) - kMsPerHour, false);
    EXPECT_EQ(r.getOffset(), -kMsPerHour);
    r.set(utc(2021, 2, 28, 2, 0) - kMsPerHour, false);
    EXPECT_EQ(r.getOffset(), -2 * kMsPerHour);
    // Nothing before 1970.
    r.set(utc(1969, 6, 1), false);
    EXPECT_EQ(r.getOffset(), -kMsPerHour);

    // Southern hemisphere: from October to April the season wraps the new year.
    jsDateTime::setStandardOffset(-10 * kMsPerHour);
    daylightRule(false) = parseDaylightRule(String("Sunday October 1 02:00"));
    daylightRule(true) = parseDaylightRule(String("Sunday April 1 03:00"));
    r.set(utc(2021, 0, 15), false);
    EXPECT_EQ(r.getOffset(), -11 * kMsPerHour);
    r.set(utc(2021, 6, 15), false);
    EXPECT_EQ(r.getOffset(), -10 * kMsPerHour);
}

TEST_F(DateTimeTest, UnitedStatesRulesOverrideThePlatform) {
    jsDateTime::setStandardOffset(0);
    TVContext::get().usDaylightSaving = true;
    jsDateTime r;
    r.set(utc(2010, 6, 1), false);
    EXPECT_EQ(r.getOffset(), -kMsPerHour);
    r.set(utc(2010, 0, 1), false);
    EXPECT_EQ(r.getOffset(), 0);
    struct Row {
        f64 y, m, d, h;
        bool inSeason;
    } rows[] = {
        {1965, 6, 1, 12, false}, {1980, 3, 27, 1, false}, {1980, 3, 27, 2, true},
        {1980, 9, 26, 1, true},  {1980, 9, 26, 2, false}, {2000, 3, 2, 2, true},
        {2000, 3, 1, 12, false}, {2010, 2, 14, 2, true},  {2010, 10, 7, 1, true},
        {2010, 10, 7, 2, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(jsDateTime::isDaylightSaving(utc(row.y, row.m, row.d, row.h)), row.inSeason)
            << row.y << "-" << row.m + 1 << "-" << row.d << " " << row.h;
}

}  // namespace
}  // namespace LxScript
