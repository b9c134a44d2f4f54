// The record behind every Date object and what it stands on: the calendar
// (day numbers in 64 bits, so every year a time value can name works), the
// free-form date text parser, the fixed and localisable text forms, and the
// daylight-saving decision with the platform's answer, the built-in United
// States rules and the two rules scripts may set.
#pragma once
#include "core/Refcountable.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxScript {

using LxCore::f64;
using LxCore::i32;
using LxCore::i64;
using LxCore::u8;

constexpr f64 kMsPerDay = 86400000.0;
constexpr f64 kMsPerHour = 3600000.0;
constexpr f64 kMsPerMinute = 60000.0;
// Time values reach at most this far from 1970 either way.
constexpr f64 kMaxTimeValue = 8.64e15;
// Years further out than this cannot be part of a valid time value, however
// the other components roll; MakeDay gives NaN beyond them.
constexpr f64 kMaxCalendarYear = 1000000.0;

// Calendar arithmetic; days count from 1970-01-01 (day 0).
bool isLeapYear(i64 year);
i64 dayFromYear(i64 year);
i64 yearFromDay(i64 day);
// Days before each month and the year's length, for a common or leap year.
const LxCore::u16* cumulativeDays(bool leap);
// The day number of year/month/date with months and dates rolling over;
// NaN when a component is not finite or the year lies beyond any time value.
f64 makeDay(f64 year, f64 month, f64 date);
f64 makeTime(f64 hours, f64 minutes, f64 seconds, f64 ms);
// The day in the year (cumulative entry + date, from 1) of the n-th weekday
// (0 Sunday) of a month; n = 5 is the last one.
i32 nthWeekdayOfMonth(i64 year, i32 month, i32 n, i32 weekday);

// A time value taken apart (local or UTC, as the caller chose T).
struct DateParts {
    i64 year = 1970;
    i32 month = 0;          // 0..11
    i32 date = 1;           // 1..31
    i32 dayInYear = 1;      // cumulative entry + date
    i32 weekday = 4;        // 0 Sunday
    i32 hours = 0;
    i32 minutes = 0;
    i32 seconds = 0;
    i32 ms = 0;
};
DateParts splitTime(f64 t);

// One daylight-saving rule: the count-th weekday of month (5: the last),
// or, without a weekday, the count as the date; minutes after local midnight.
struct DaylightRule {
    i32 count = 0;
    i32 month = 0;
    i32 weekday = -1;
    i32 minutes = 0;
    bool valid = false;
};

// The process-wide rules read and written through Date.dstStart and Date.dstEnd.
DaylightRule& daylightRule(bool end);
// A text as "Sunday March 2 02:00": the rule, unset when the text does not
// make a valid one.
DaylightRule parseDaylightRule(const LxCore::String& text);
// "Invalid", or the text parseDaylightRule reads back.
LxCore::String formatDaylightRule(const DaylightRule& rule);

class jsDateTime : public LxCore::NativeData {
public:
    // t = 0, the standard offset, valid.
    jsDateTime();

    // Stores a finite value (UTC, or local time to convert), recomputes the
    // offset with daylight saving and marks the record valid; a value that is
    // not finite or lies beyond the time range makes it invalid.
    void set(f64 value, bool local);
    void invalidate();
    // The current time; the platform alone says whether daylight saving is
    // in effect now.
    void setNow();
    // Fills the record from free-form date text; an unreadable text makes it
    // invalid. Linear in the text.
    void parse(const LxCore::String& text);

    bool isValid() const { return valid != 0; }
    f64 getTime() const { return time; }
    f64 getOffset() const { return offset; }
    f64 localTime() const { return time - offset; }

    // The fixed English forms and the source form.
    LxCore::String toString() const;
    LxCore::String toDateString() const;
    LxCore::String toTimeString() const;
    LxCore::String toUTCString() const;
    LxCore::String toSource() const;
    // The localisable forms: 0 date and time, 1 date, 2 time.
    LxCore::String toLocaleString(i32 form) const;

    // The platform's time-zone bias in milliseconds (positive west of
    // UTC), read once by the Date class.
    static f64 standardOffset();
    static void setStandardOffset(f64 ms);
    // Whether daylight saving is in effect at UTC time t.
    static bool isDaylightSaving(f64 t);

private:
    f64 time = 0;
    f64 offset = 0;         // UTC minus local time, daylight saving included
    u8 valid = 1;
};

}  // namespace LxScript
