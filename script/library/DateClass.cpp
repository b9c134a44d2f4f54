// The Date class table and its handlers over the jsDateTime record.
#include "script/library/DateClass.h"

#include <algorithm>
#include <cmath>

#include "core/Clock.h"
#include "script/engine/Object.h"
#include "script/engine/TVContext.h"

namespace LxScript {

using LxCore::String;

namespace {

// The fields getters read and setters replace.
enum Field { kYear, kMonth, kDate, kDay, kHours, kMinutes, kSeconds, kMilliseconds, kYear1900 };

bool errorPending(const Arguments& args) { return args.engine->getError().getCode() != 0; }

jsDateTime* recordOf(Arguments& args) { return dateRecordOf(*args.thisValue); }

f64 fieldOf(const DateParts& p, Field field) {
    switch (field) {
    case kYear: return f64(p.year);
    case kMonth: return p.month;
    case kDate: return p.date;
    case kDay: return p.weekday;
    case kHours: return p.hours;
    case kMinutes: return p.minutes;
    case kSeconds: return p.seconds;
    case kMilliseconds: return p.ms;
    case kYear1900: return f64(p.year) - 1900;
    }
    return NAN;
}

// Arguments first .. first + n - 1 as floored numbers into out; at least
// the first is read. False when a conversion raised an error; a NaN makes
// `bad` true.
bool readFields(Arguments& args, i32 room, f64* out, bool& bad) {
    const i32 n = std::max(1, std::min(i32(args.count()), room));
    bad = false;
    for (i32 i = 0; i < n; i++) {
        const f64 v = args.arg(u32(i)).toNumber();
        if (errorPending(args))
            return false;
        if (std::isnan(v))
            bad = true;
        out[i] = std::floor(v);
    }
    return true;
}

// The component rule of the constructor (local) and Date.UTC.
void setFromComponents(Arguments& args, jsDateTime& record, bool local) {
    const u32 n = std::min(args.count(), 7u);
    if (n == 1) {
        const f64 v = args.arg(0).toNumber();
        if (!errorPending(args))
            record.set(std::isfinite(v) ? std::trunc(v) : NAN, false);
        return;
    }
    f64 c[7] = {0, 0, 1, 0, 0, 0, 0};  // year, month, date, hours, minutes, seconds, ms
    bool bad = false;
    for (u32 i = 0; i < n; i++) {
        const f64 v = args.arg(i).toNumber();
        if (errorPending(args))
            return;
        if (!std::isfinite(v))
            bad = true;
        c[i] = std::floor(v);
    }
    if (bad) {
        record.invalidate();
        return;
    }
    if (n >= 2 && c[0] <= 99)
        c[0] += 1900;
    record.set(makeDay(c[0], c[1], c[2]) * kMsPerDay + makeTime(c[3], c[4], c[5], c[6]), local);
}

// ---------------------------------------------------------------------------
// Handlers

void construct(Arguments& args) {
    if (args.mode != Arguments::kConstruct) {
        jsDateTime now;
        now.setNow();
        args.result->setString(now.toString());
        return;
    }
    Object* self = objectOf(*args.thisValue);
    if (!self)
        return;
    auto* record = new jsDateTime;
    self->setNativeData(record);
    if (args.count() == 0) {
        if (self->getObjectID() == kPrototypeId)
            record->invalidate();
        else
            record->setNow();
    } else if (args.arg(0).getType() == Variant::kString) {
        record->parse(args.arg(0).toString());
    } else {
        setFromComponents(args, *record, true);
    }
}

void parse(Arguments& args) {
    const String text = args.arg(0).toString();
    if (errorPending(args))
        return;
    jsDateTime record;
    record.parse(text);
    args.result->setNumber(record.getTime());
}

void utc(Arguments& args) {
    jsDateTime record;
    setFromComponents(args, record, false);
    if (!errorPending(args))
        args.result->setNumber(record.isValid() ? record.getTime() : NAN);
}

void now(Arguments& args) { args.result->setNumber(LxCore::getSystemTimeMillis()); }

template <Field field, bool utc>
void getField(Arguments& args) {
    const jsDateTime* record = recordOf(args);
    if (!record || !record->isValid()) {
        args.result->setNaN();
        return;
    }
    args.result->setNumber(fieldOf(splitTime(utc ? record->getTime() : record->localTime()), field));
}

void getTime(Arguments& args) {
    const jsDateTime* record = recordOf(args);
    args.result->setNumber(record ? record->getTime() : NAN);
}

void getTimezoneOffset(Arguments& args) {
    const jsDateTime* record = recordOf(args);
    args.result->setNumber(record && record->isValid() ? record->getOffset() / kMsPerMinute : NAN);
}

// setHours (from hours), setMinutes, setSeconds, setMilliseconds and the
// UTC forms: an invalid record stays as it is.
template <Field first, bool utc>
void setTimeFields(Arguments& args) {
    jsDateTime* record = recordOf(args);
    if (!record || !record->isValid()) {
        args.result->setNaN();
        return;
    }
    const f64 t = utc ? record->getTime() : record->localTime();
    const DateParts p = splitTime(t);
    f64 f[4] = {f64(p.hours), f64(p.minutes), f64(p.seconds), f64(p.ms)};
    const i32 at = first - kHours;
    bool bad = false;
    if (!readFields(args, 4 - at, f + at, bad))
        return;
    if (bad)
        record->invalidate();
    else
        record->set(std::floor(t / kMsPerDay) * kMsPerDay + makeTime(f[0], f[1], f[2], f[3]), !utc);
    args.result->setNumber(record->getTime());
}

// How a date setter reads and writes: local, UTC, or setYear (UTC, with
// years below 100 in the 1900s).
enum DateForm { kLocal, kUTC, kYearForm };

// setFullYear (from the year), setMonth, setDate, setYear and the UTC forms.
// An invalid record starts from time 0 at the standard offset.
template <Field first, DateForm form>
void setDateFields(Arguments& args) {
    jsDateTime* record = recordOf(args);
    if (!record) {
        args.result->setNaN();
        return;
    }
    const f64 base = record->isValid() ? record->getTime() : 0;
    const f64 offset = record->isValid() ? record->getOffset() : jsDateTime::standardOffset();
    const f64 t = form == kLocal ? base - offset : base;
    const DateParts p = splitTime(t);
    f64 f[3] = {f64(p.year), f64(p.month), f64(p.date)};
    bool bad = false;
    if (!readFields(args, 3 - first, f + first, bad))
        return;
    if (bad) {
        record->invalidate();
    } else {
        if (form == kYearForm && f[0] < 100)
            f[0] += 1900;
        const f64 inDay = std::fmod(t, kMsPerDay);
        record->set(makeDay(f[0], f[1], f[2]) * kMsPerDay + (inDay < 0 ? inDay + kMsPerDay : inDay),
                    form == kLocal);
    }
    args.result->setNumber(record->getTime());
}

void setTime(Arguments& args) {
    jsDateTime* record = recordOf(args);
    const f64 v = args.arg(0).toNumber();
    if (!record || errorPending(args))
        return;
    record->set(std::fabs(v) <= kMaxTimeValue ? std::trunc(v) : NAN, false);
    args.result->setNumber(record->getTime());
}

template <String (jsDateTime::*form)() const>
void text(Arguments& args) {
    const jsDateTime* record = recordOf(args);
    args.result->setString(record ? (record->*form)() : String("Invalid Date"));
}

template <i32 form>
void localeText(Arguments& args) {
    const jsDateTime* record = recordOf(args);
    args.result->setString(record ? record->toLocaleString(form) : String("NaN"));
}

void usRules(Arguments& args) {
    TVContext& context = TVContext::get();
    if (args.mode == Arguments::kPut)
        context.usDaylightSaving = args.arg(0).toBoolean();
    else
        args.result->setBool(context.usDaylightSaving);
}

template <bool end>
void rule(Arguments& args) {
    if (args.mode == Arguments::kPut) {
        const String text = args.arg(0).toString();
        if (!errorPending(args))
            daylightRule(end) = parseDaylightRule(text);
    } else {
        args.result->setString(formatDaylightRule(daylightRule(end)));
    }
}

// Method rows: id = declared argument count.
const PropEntry kTable[] = {
    {"Date", 0, kHiddenMethod | kArgsToNumber, construct,
     "Date,y:number,m:number,d:number,hr:number,mi:number,sec:number"},
    {"__usdst__", 0, kStatic | kFixedValue, usRules, "boolean"},
    {"dstStart", 0, kStatic | kFixedValue, rule<false>, "string"},
    {"dstEnd", 0, kStatic | kFixedValue, rule<true>, "string"},
    {"parse", 1, kStaticMethod | kArgsToString, parse, "Date,text:string"},
    {"now", 0, kStaticMethod, now, "number"},
    {"UTC", 6, kStaticMethod | kArgsToNumber, utc, "Date,y:number,m:number,d:number,hr:number,mi:number,sec:number"},
    {"getDate", 0, kInstanceMethod, getField<kDate, false>, "number"},
    {"getDay", 0, kInstanceMethod, getField<kDay, false>, "number"},
    {"getYear", 0, kInstanceMethod, getField<kYear1900, false>, "number"},
    {"getFullYear", 0, kInstanceMethod, getField<kYear, false>, "number"},
    {"getHours", 0, kInstanceMethod, getField<kHours, false>, "number"},
    {"getMilliseconds", 0, kInstanceMethod, getField<kMilliseconds, false>, "number"},
    {"getMinutes", 0, kInstanceMethod, getField<kMinutes, false>, "number"},
    {"getMonth", 0, kInstanceMethod, getField<kMonth, false>, "number"},
    {"getSeconds", 0, kInstanceMethod, getField<kSeconds, false>, "number"},
    {"getTime", 0, kInstanceMethod, getTime, "number"},
    {"getTimezoneOffset", 0, kInstanceMethod, getTimezoneOffset, "number"},
    {"getUTCDate", 0, kInstanceMethod, getField<kDate, true>, "number"},
    {"getUTCDay", 0, kInstanceMethod, getField<kDay, true>, "number"},
    {"getUTCFullYear", 0, kInstanceMethod, getField<kYear, true>, "number"},
    {"getUTCHours", 0, kInstanceMethod, getField<kHours, true>, "number"},
    {"getUTCMilliseconds", 0, kInstanceMethod, getField<kMilliseconds, true>, "number"},
    {"getUTCMinutes", 0, kInstanceMethod, getField<kMinutes, true>, "number"},
    {"getUTCMonth", 0, kInstanceMethod, getField<kMonth, true>, "number"},
    {"getUTCSeconds", 0, kInstanceMethod, getField<kSeconds, true>, "number"},
    {"setDate", 1, kInstanceMethod | kArgsToNumber, setDateFields<kDate, kLocal>, "number,n:number"},
    {"setFullYear", 1, kInstanceMethod | kArgsToNumber, setDateFields<kYear, kLocal>, "number,n:number"},
    {"setHours", 1, kInstanceMethod | kArgsToNumber, setTimeFields<kHours, false>, "number,n:number"},
    // Milliseconds do not depend on the offset: one handler serves both forms.
    {"setMilliseconds", 1, kInstanceMethod | kArgsToNumber, setTimeFields<kMilliseconds, true>, "number,n:number"},
    {"setMinutes", 1, kInstanceMethod | kArgsToNumber, setTimeFields<kMinutes, false>, "number,n:number"},
    {"setSeconds", 1, kInstanceMethod | kArgsToNumber, setTimeFields<kSeconds, false>, "number,n:number"},
    {"setMonth", 2, kInstanceMethod | kArgsToNumber, setDateFields<kMonth, kLocal>, "number,n:number"},
    {"setUTCDate", 1, kInstanceMethod | kArgsToNumber, setDateFields<kDate, kUTC>, "number,n:number"},
    {"setUTCFullYear", 1, kInstanceMethod | kArgsToNumber, setDateFields<kYear, kUTC>, "number,n:number"},
    {"setUTCHours", 1, kInstanceMethod | kArgsToNumber, setTimeFields<kHours, true>, "number,n:number"},
    {"setUTCMilliseconds", 1, kInstanceMethod | kArgsToNumber, setTimeFields<kMilliseconds, true>, "number,n:number"},
    {"setUTCMinutes", 1, kInstanceMethod | kArgsToNumber, setTimeFields<kMinutes, true>, "number,n:number"},
    {"setUTCSeconds", 1, kInstanceMethod | kArgsToNumber, setTimeFields<kSeconds, true>, "number,n:number"},
    {"setUTCMonth", 1, kInstanceMethod | kArgsToNumber, setDateFields<kMonth, kUTC>, "number,n:number"},
    {"setTime", 1, kInstanceMethod | kArgsToNumber, setTime, "number,n:number"},
    {"setYear", 1, kInstanceMethod | kArgsToNumber, setDateFields<kYear, kYearForm>, "number,n:number"},
    {"toDateString", 0, kInstanceMethod, text<&jsDateTime::toDateString>, "string"},
    {"toTimeString", 0, kInstanceMethod, text<&jsDateTime::toTimeString>, "string"},
    {"toLocaleString", 0, kInstanceMethod, localeText<0>, "string"},
    {"toLocaleDateString", 0, kInstanceMethod, localeText<1>, "string"},
    {"toLocaleTimeString", 0, kInstanceMethod, localeText<2>, "string"},
    {"toGMTString", 0, kInstanceMethod, text<&jsDateTime::toUTCString>, "string"},
    {"toUTCString", 0, kInstanceMethod, text<&jsDateTime::toUTCString>, "string"},
    {"toString", 0, kInstanceMethod, text<&jsDateTime::toString>, "string"},
    {"valueOf", 0, kInstanceMethod, getTime, "number"},
    {"toSource", 0, kInstanceMethod, text<&jsDateTime::toSource>, "string"},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

jsDateClass::jsDateClass() : Dispatcher("JavaScript") {
    jsDateTime::setStandardOffset(LxCore::getTimeZoneBias());
    addClass("Date");
    registerProperties(0, kTable, "Date");
}

Dispatcher* newDateClass(const char*) { return new jsDateClass; }

jsDateTime* dateRecordOf(const Variant& value) {
    Object* object = objectOf(value);
    if (!object || object->getClassID() != Sym::kDate)
        return nullptr;
    // Native data is always a NativeData; only the Date constructor attaches a record.
    return dynamic_cast<jsDateTime*>(static_cast<LxCore::NativeData*>(object->getNativeData()));
}

}  // namespace LxScript
