// The Date record: calendar, daylight saving and the record operation. The
// text parser and the text forms are in DateText.cpp.
#include "script/library/DateTime.h"

#include <algorithm>
#include <cmath>

#include "core/Clock.h"
#include "script/engine/TVContext.h"

namespace LxScript {

using LxCore::u16;

namespace {

// Days before each month, then the year's length.
constexpr u16 kCumulative[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
};

// Platform answers stop at 2^32 seconds; later times follow the rules.
constexpr f64 kLastPlatformSecond = 4294967295.0;
// The built-in United States rules switch at 02:00 local standard time.
constexpr i32 kUSSwitchMinutes = 120;

f64 theStandardOffset = 0;
DaylightRule rules[2];

i64 floorDiv(i64 a, i64 b) {
    i64 q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0))
        q--;
    return q;
}

i64 floorMod(i64 a, i64 b) { return a - floorDiv(a, b) * b; }

// x mod m made non-negative, for doubles.
f64 positiveMod(f64 x, f64 m) {
    f64 r = std::fmod(x, m);
    return r < 0 ? r + m : r;
}

bool usRulesOn() {
    TVContext* context = TVContext::find();
    return context && context->usDaylightSaving;
}

// The start and end of the season in a year: days in the year (from 1) and
// minutes after local standard midnight.
struct Season {
    i32 startDay, startMinutes, endDay, endMinutes;
    bool none;
};

Season usSeason(i64 year) {
    Season s{0, kUSSwitchMinutes, 0, kUSSwitchMinutes, false};
    if (year < 1966) {
        s.none = true;
    } else if (year <= 1986) {
        s.startDay = nthWeekdayOfMonth(year, 3, 5, 0);     // last Sunday of April
        s.endDay = nthWeekdayOfMonth(year, 9, 5, 0);       // last Sunday of October
    } else if (year <= 2006) {
        s.startDay = nthWeekdayOfMonth(year, 3, 1, 0);     // first Sunday of April
        s.endDay = nthWeekdayOfMonth(year, 9, 5, 0);
    } else {
        s.startDay = nthWeekdayOfMonth(year, 2, 2, 0);     // second Sunday of March
        s.endDay = nthWeekdayOfMonth(year, 10, 1, 0);      // first Sunday of November
    }
    return s;
}

i32 ruleDay(const DaylightRule& rule, i64 year) {
    if (rule.weekday >= 0)
        return nthWeekdayOfMonth(year, rule.month, rule.count, rule.weekday);
    // A date past any year's end never matches a day; the cap keeps the sum in range.
    return i32(kCumulative[isLeapYear(year)][rule.month]) + std::min(rule.count, 400);
}

bool inSeason(const Season& s, i32 day, i32 minutes) {
    if (s.none)
        return false;
    if (day == s.startDay)
        return minutes >= s.startMinutes;
    if (day == s.endDay)
        return minutes < s.endMinutes;
    if (s.startDay > s.endDay)      // southern hemisphere: the season wraps the new year
        return !(day > s.endDay && day < s.startDay);
    return day > s.startDay && day < s.endDay;
}

}  // namespace

bool isLeapYear(i64 year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

i64 dayFromYear(i64 year) {
    return 365 * (year - 1970) + floorDiv(year - 1969, 4) - floorDiv(year - 1901, 100) +
           floorDiv(year - 1601, 400);
}

// Every year has 365 or 366 days, so the year lies between the two
// quotients; before 1970 they come in the other order.
i64 yearFromDay(i64 day) {
    i64 low = 1970 + floorDiv(day, 366);
    i64 high = 1970 + floorDiv(day, 365);
    if (low > high)
        std::swap(low, high);
    while (low < high) {
        i64 middle = low + (high - low + 1) / 2;
        if (dayFromYear(middle) <= day)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

const u16* cumulativeDays(bool leap) { return kCumulative[leap ? 1 : 0]; }

f64 makeDay(f64 year, f64 month, f64 date) {
    if (!std::isfinite(year) || !std::isfinite(month) || !std::isfinite(date))
        return NAN;
    f64 y = year + std::floor(month / 12);
    if (!(std::fabs(y) <= kMaxCalendarYear))
        return NAN;
    i32 m = i32(positiveMod(month, 12));
    i64 whole = i64(y);
    return f64(dayFromYear(whole) + kCumulative[isLeapYear(whole)][m]) + date - 1;
}

f64 makeTime(f64 hours, f64 minutes, f64 seconds, f64 ms) {
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + ms;
}

i32 nthWeekdayOfMonth(i64 year, i32 month, i32 n, i32 weekday) {
    // Weekday of the month's first day, months counted from March.
    i64 a = month < 2 ? 1 : 0;
    i64 y = year - a;
    i64 m = month + 1 + 12 * a - 2;
    i32 first = i32(floorMod(1 + y + y / 4 - y / 100 + y / 400 + 31 * m / 12, 7));
    const u16* cumulative = kCumulative[isLeapYear(year)];
    i32 length = cumulative[month + 1] - cumulative[month];
    i32 date = 1 + (weekday - first + 7) % 7 + 7 * (n - 1);
    while (date > length)
        date -= 7;
    return cumulative[month] + date;
}

DateParts splitTime(f64 t) {
    DateParts p;
    // Past the calendar's years the day count would overflow 64 bits.
    if (!(std::fabs(t) <= kMaxCalendarYear * 366 * kMsPerDay))
        return p;
    // Whole milliseconds (every clipped time) split exactly in integers.
    const bool whole = std::trunc(t) == t;
    const i64 day = whole ? floorDiv(i64(t), i64(kMsPerDay)) : i64(std::floor(t / kMsPerDay));
    p.year = yearFromDay(day);
    i32 inYear = i32(day - dayFromYear(p.year));
    const u16* cumulative = kCumulative[isLeapYear(p.year)];
    i32 month = 0;
    while (month < 11 && inYear >= cumulative[month + 1])
        month++;
    p.month = month;
    p.date = inYear - cumulative[month] + 1;
    p.dayInYear = inYear + 1;
    p.weekday = i32(floorMod(day + 4, 7));
    if (whole) {
        const i64 inDay = i64(t) - day * i64(kMsPerDay);
        p.hours = i32(inDay / 3600000);
        p.minutes = i32(inDay / 60000 % 60);
        p.seconds = i32(inDay / 1000 % 60);
        p.ms = i32(inDay % 1000);
        return p;
    }
    p.hours = i32(positiveMod(std::floor(t / kMsPerHour + 1e-15), 24));
    p.minutes = i32(positiveMod(std::floor(t / kMsPerMinute + 1e-15), 60));
    p.seconds = i32(positiveMod(std::floor(t / 1000 + 1e-15), 60));
    p.ms = i32(positiveMod(std::trunc(std::fmod(t, 1000)), 1000));
    return p;
}

DaylightRule& daylightRule(bool end) { return rules[end ? 1 : 0]; }

f64 jsDateTime::standardOffset() { return theStandardOffset; }

void jsDateTime::setStandardOffset(f64 ms) { theStandardOffset = ms; }

bool jsDateTime::isDaylightSaving(f64 t) {
    f64 x = t - theStandardOffset;  // local standard time
    if (!(x >= 0))                  // nothing before 1970
        return false;
    const DaylightRule& start = rules[0];
    const DaylightRule& end = rules[1];
    bool us = usRulesOn();
    bool scriptRules = start.valid && end.valid;
    if (!us && !scriptRules && x / 1000 < kLastPlatformSecond) {
        i32 answer = LxCore::isDaylightSavingTime(x);
        if (answer >= 0)
            return answer == 1;
    }
    DateParts local = splitTime(x);
    Season season;
    if (us || !scriptRules) {
        season = usSeason(local.year);
    } else {
        season = {ruleDay(start, local.year), start.minutes, ruleDay(end, local.year),
                  end.minutes, false};
    }
    return inSeason(season, local.dayInYear, local.hours * 60 + local.minutes);
}

jsDateTime::jsDateTime() : offset(theStandardOffset) {}

void jsDateTime::invalidate() {
    valid = 0;
    time = NAN;
    offset = NAN;
}

void jsDateTime::set(f64 value, bool local) {
    // A day's slack leaves room for the zone offset at the range's ends.
    if (!(std::fabs(value) <= kMaxTimeValue + kMsPerDay)) {
        invalidate();
        return;
    }
    valid = 1;
    offset = theStandardOffset;
    time = local ? value + offset : value;
    if (isDaylightSaving(time)) {
        offset -= kMsPerHour;
        if (local)
            time -= kMsPerHour;
    }
    if (!(std::fabs(time) <= kMaxTimeValue))
        invalidate();
    else
        time += 0.0;    // no negative zero
}

void jsDateTime::setNow() {
    valid = 1;
    time = LxCore::getSystemTimeMillis();
    offset = theStandardOffset;
    if (LxCore::isDaylightSavingTime(time) == 1)
        offset -= kMsPerHour;
}

}  // namespace LxScript
