// Dates as text: the free-form parser, the fixed English forms, the
// localisable forms and the daylight-saving rule texts.
#include <cmath>
#include <cstdio>

#include "core/Array.h"
#include "core/CharClass.h"
#include "core/Localizer.h"
#include "core/Variant.h"
#include "script/library/DateTime.h"

namespace LxScript {

using LxCore::String;
using LxCore::unit;

namespace {

const char* const kMonthNames[12] = {"January", "February", "March",     "April",
                                     "May",     "June",     "July",      "August",
                                     "September", "October", "November", "December"};
const char* const kWeekdayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

struct Zone {
    const char* name;
    i32 minutesWest;
};

// Tried in this order: a prefix takes the first zone it begins.
constexpr Zone kZones[] = {
    {"YST", 540},  {"PST", 480},  {"MST", 420},    {"CST", 360},     {"EST", 300},
    {"AST", 240},  {"NST", 210},  {"GMT", 0},      {"UTC", 0},       {"UT", 0},
    {"WET", 0},    {"MET", -60},  {"MEZ", -60},    {"YDT", 480},     {"PDT", 420},
    {"MDT", 360},  {"CDT", 300},  {"EDT", 240},    {"ADT", 180},     {"NDT", 150},
    {"BST", -60},  {"WETDST", -60}, {"METDST", -120}, {"MESZ", -120},
};

bool isDigit(unit c) { return c >= '0' && c <= '9'; }
bool isAsciiLetter(unit c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
unit asciiLower(unit c) { return c >= 'A' && c <= 'Z' ? unit(c + 32) : c; }

// Whether the word (ASCII letters) begins the name, ignoring case.
bool beginsName(const unit* word, i32 length, const char* name) {
    for (i32 i = 0; i < length; i++)
        if (name[i] == 0 || asciiLower(word[i]) != unit(asciiLower(unit(name[i]))))
            return false;
    return true;
}

// The free-form reader. Every step consumes input, so it is linear; numbers
// are read in full but held only while they fit 32 bits.
class DateTextReader {
public:
    DateTextReader(const unit* text, i32 length) : p(text), end(text + length) {}

    // False when the text is not a date; else the value and whether it is UTC.
    bool read(f64& value, bool& utc);

private:
    const unit* p;
    const unit* end;
    i64 year = 1970, month = 0, date = 1, hours = 0, minutes = 0, seconds = 0;
    f64 shift = 0;              // milliseconds east of UTC
    bool error = false;
    bool yearSeen = false, dateSeen = false, monthSeen = false, timeSeen = false,
         zoneSeen = false;
    i32 plainNumbers = 0;

    bool more() const { return p < end; }
    bool at(unit c) const { return p < end && *p == c; }
    bool atDigit() const { return p < end && isDigit(*p); }
    void skipSeparators() {
        while (p < end && (*p == ',' || LxCore::isWhiteSpaceChar(*p)))
            p++;
    }
    // A run of digits; one that does not fit 32 bits is an error.
    i64 readNumber() {
        i64 n = 0;
        for (; atDigit(); p++) {
            if (n <= 0x7FFFFFFF)
                n = n * 10 + (*p - '0');
        }
        if (n > 0x7FFFFFFF) {
            error = true;
            n = 0x7FFFFFFF;
        }
        return n;
    }
    bool takeLetters(char upper) {
        if (end - p < 2 || asciiLower(p[0]) != unit(upper + 32) || asciiLower(p[1]) != 'm')
            return false;
        p += 2;
        return true;
    }
    void readTime(i64 n);
    void readNumericDate(i64 n);
    void readPlainNumber(i64 n);
    void readWord();
    void readZoneOffset();
    void skipComment();
};

bool DateTextReader::read(f64& value, bool& utc) {
    skipSeparators();
    while (more() && !error) {
        unit c = *p;
        if (isDigit(c)) {
            i64 n = readNumber();
            skipSeparators();
            if (at(':'))
                readTime(n);
            else if (at('-') || at('/'))
                readNumericDate(n);
            else
                readPlainNumber(n);
        } else if (isAsciiLetter(c)) {
            readWord();
        } else if (c == '(') {
            skipComment();
        } else {
            error = true;
        }
    }
    if (error)
        return false;
    if (year <= 99)
        year += 1900;
    value = makeDay(f64(year), f64(month), f64(date)) * kMsPerDay +
            makeTime(f64(hours), f64(minutes), f64(seconds), 0) - shift;
    utc = zoneSeen;
    return true;
}

void DateTextReader::readTime(i64 n) {
    if (timeSeen) {
        error = true;
        return;
    }
    timeSeen = true;
    hours = n;
    p++;
    skipSeparators();
    if (atDigit()) {
        minutes = readNumber();
        skipSeparators();
        if (at(':')) {
            p++;
            skipSeparators();
            if (atDigit()) {
                seconds = readNumber();
                skipSeparators();
            }
        }
    }
    if (takeLetters('A')) {
        if (hours == 12)
            hours = 0;
        else if (hours > 12)
            error = true;
        skipSeparators();
    } else if (takeLetters('P')) {
        if (hours != 12)
            hours += 12;
        if (hours >= 24)
            error = true;
        skipSeparators();
    }
}

void DateTextReader::readNumericDate(i64 n) {
    if (yearSeen || dateSeen || monthSeen) {
        error = true;
        return;
    }
    yearSeen = dateSeen = monthSeen = true;
    month = n - 1;
    p++;
    skipSeparators();
    if (atDigit()) {
        date = readNumber();
        skipSeparators();
    }
    if (!at('-') && !at('/')) {
        error = true;
        return;
    }
    p++;
    skipSeparators();
    if (atDigit()) {
        year = readNumber();
        skipSeparators();
    }
    if (n > 12 && date <= 12) {     // day, month, year
        month = date - 1;
        date = n;
    }
}

void DateTextReader::readPlainNumber(i64 n) {
    if (plainNumbers++ == 0 && n <= 31) {
        if (dateSeen)
            error = true;
        dateSeen = true;
        date = n;
    } else {
        if (yearSeen)
            error = true;
        yearSeen = true;
        year = n;
    }
}

void DateTextReader::readWord() {
    const unit* word = p;
    while (more() && isAsciiLetter(*p))
        p++;
    i32 length = i32(p - word);
    skipSeparators();
    if (length < 2)
        return;
    for (i32 m = 11; m >= 0; m--) {
        if (beginsName(word, length, kMonthNames[m])) {
            if (monthSeen)
                error = true;
            monthSeen = true;
            month = m;
            return;
        }
    }
    for (const char* name : kWeekdayNames)
        if (beginsName(word, length, name))
            return;
    for (const Zone& zone : kZones) {
        if (beginsName(word, length, zone.name)) {
            if (zoneSeen)
                error = true;
            zoneSeen = true;
            shift = -f64(zone.minutesWest) * kMsPerMinute;
            readZoneOffset();
            return;
        }
    }
    error = true;
}

// "+hhmm" or "-hhmm" after a zone name.
void DateTextReader::readZoneOffset() {
    if (!at('+') && !at('-'))
        return;
    i64 sign = *p == '-' ? -1 : 1;
    p++;
    i64 n = readNumber();
    i64 h = n / 100;
    i64 m = n % 100;
    if (m >= 60)
        m = 0;
    shift += f64(sign * (h * 60 + m)) * kMsPerMinute;
    skipSeparators();
}

// A comment, parentheses nested; the text may end inside it.
void DateTextReader::skipComment() {
    i64 depth = 0;
    do {
        if (*p == '(')
            depth++;
        else if (*p == ')')
            depth--;
        p++;
    } while (depth > 0 && more());
    skipSeparators();
}

String fromBytes(const char* bytes) { return String(bytes); }

// Weekday and month names cut to three letters, then date, year, time and
// the zone as "+hhmm" east of UTC.
String fixedText(const jsDateTime& record) {
    if (!record.isValid())
        return fromBytes("Invalid Date");
    DateParts d = splitTime(record.localTime());
    f64 offset = record.getOffset();
    f64 magnitude = std::fabs(offset);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%.3s %.3s %02d %lld %02d:%02d:%02d GMT%c%02d%02d",
                  kWeekdayNames[d.weekday], kMonthNames[d.month], d.date, (long long)d.year,
                  d.hours, d.minutes, d.seconds, offset < 0 ? '+' : '-',
                  i32(magnitude / kMsPerHour), i32(std::fmod(magnitude / kMsPerMinute, 60)));
    return fromBytes(buffer);
}

String localizedName(const char* name) {
    char key[64];
    std::snprintf(key, sizeof key, "$$$/CT/Tavrel/Date/%.3s=%s", name, name);
    String text(key);
    LxCore::Localizer::resolveZString(text);
    return text;
}

void appendNumber(LxCore::Array& args, const char* format, i64 value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, (long long)value);
    args.getOrCreate(args.length()).setString(buffer);
}

void appendText(LxCore::Array& args, const String& text) {
    args.getOrCreate(args.length()).setString(text);
}

}  // namespace

void jsDateTime::parse(const String& text) {
    DateTextReader reader(text.chars(), text.length());
    f64 value = 0;
    bool utc = false;
    if (reader.read(value, utc))
        set(value, !utc);
    else
        invalidate();
}

String jsDateTime::toString() const { return fixedText(*this); }

String jsDateTime::toDateString() const {
    String text = fixedText(*this);
    i32 colon = text.find(unit(':'));
    return colon < 3 ? text : text.substr(0, colon - 3);
}

String jsDateTime::toTimeString() const {
    String text = fixedText(*this);
    i32 colon = text.find(unit(':'));
    return colon < 2 ? text : text.substr(colon - 2);
}

String jsDateTime::toUTCString() const {
    if (!isValid())
        return fromBytes("NaN");
    DateParts d = splitTime(time);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%s, %02d %.3s %lld %02d:%02d:%02d GMT",
                  kWeekdayNames[d.weekday], d.date, kMonthNames[d.month], (long long)d.year,
                  d.hours, d.minutes, d.seconds);
    return fromBytes(buffer);
}

String jsDateTime::toSource() const {
    if (!isValid())
        return fromBytes("(new Date(\"Number.NaN\"))");
    String text("(new Date(");
    text += LxCore::Variant(time).toString();
    text += "))";
    return text;
}

String jsDateTime::toLocaleString(i32 form) const {
    if (!isValid())
        return fromBytes("NaN");
    DateParts d = splitTime(localTime());
    LxCore::Array args;
    String format;
    switch (form) {
    case 0:
        format = "$$$/CT/Tavrel/Date/Date=%7, %2 %1 %3 %4:%5:%6";
        appendNumber(args, "%02lld", d.date);
        appendText(args, localizedName(kMonthNames[d.month]));
        appendNumber(args, "%lld", d.year);
        appendNumber(args, "%02lld", d.hours);
        appendNumber(args, "%02lld", d.minutes);
        appendNumber(args, "%02lld", d.seconds);
        appendText(args, localizedName(kWeekdayNames[d.weekday]));
        break;
    case 1:
        format = "$$$/CT/Tavrel/Date/ShortDate=%4, %2 %1 %3";
        appendNumber(args, "%02lld", d.date);
        appendText(args, localizedName(kMonthNames[d.month]));
        appendNumber(args, "%lld", d.year);
        appendText(args, localizedName(kWeekdayNames[d.weekday]));
        break;
    default:
        format = "$$$/CT/Tavrel/Date/Time=%1:%2:%3";
        appendNumber(args, "%02lld", d.hours);
        appendNumber(args, "%02lld", d.minutes);
        appendNumber(args, "%02lld", d.seconds);
        break;
    }
    return LxCore::Localizer::localize(format, &args);
}

// Tokens apart by spaces: [weekday] month count hours:minutes. Names are
// full or their first three letters, in any case; numbers that do not fit
// 32 bits leave the rule unset.
DaylightRule parseDaylightRule(const String& text) {
    DaylightRule rule;
    String rest = text;
    String token = rest.nextToken(' ');
    auto nameIndex = [](const String& word, const char* const* names, i32 count) {
        for (i32 i = 0; i < count; i++)
            if (word.compareIgnoreCase(names[i]) == 0 ||
                (word.length() == 3 && word.compareIgnoreCase(names[i], 3) == 0))
                return i;
        return -1;
    };
    rule.weekday = nameIndex(token, kWeekdayNames, 7);
    if (rule.weekday >= 0)
        token = rest.nextToken(' ');
    i32 month = nameIndex(token, kMonthNames, 12);
    // A bounded decimal reader: sign, digits; false when it does not fit.
    auto readInt = [](const String& word, i32 from, i32 to, i64& out) {
        i32 i = from;
        while (i < to && LxCore::isWhiteSpaceChar(word[i]))
            i++;
        i64 sign = 1;
        if (i < to && (word[i] == '-' || word[i] == '+'))
            sign = word[i++] == '-' ? -1 : 1;
        i64 n = 0;
        for (; i < to && isDigit(word[i]); i++) {
            n = n * 10 + (word[i] - '0');
            if (n > 0x7FFFFFFF)
                return false;
        }
        out = sign * n;
        return true;
    };
    i64 count = 0, hours = 0, minutes = 0;
    String countText = rest.nextToken(' ');
    String timeText = rest.nextToken(' ');
    i32 colon = timeText.find(unit(':'));
    i32 hoursEnd = colon < 0 ? timeText.length() : colon;
    bool numbers = readInt(countText, 0, countText.length(), count) &&
                   readInt(timeText, 0, hoursEnd, hours) &&
                   (colon < 0 || readInt(timeText, colon + 1, timeText.length(), minutes));
    bool valid = numbers && month >= 0 && hours >= 0 && hours <= 23 && minutes >= 0 &&
                 minutes <= 59 && count >= 1;
    if (!valid)
        return DaylightRule();
    rule.month = month;
    rule.count = rule.weekday >= 0 && count >= 6 ? 5 : i32(count);
    rule.minutes = i32(hours * 60 + minutes);
    rule.valid = true;
    return rule;
}

String formatDaylightRule(const DaylightRule& rule) {
    if (!rule.valid)
        return fromBytes("Invalid");
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s%s%s %d %02d:%02d",
                  rule.weekday >= 0 ? kWeekdayNames[rule.weekday] : "",
                  rule.weekday >= 0 ? " " : "", kMonthNames[rule.month], rule.count,
                  rule.minutes / 60, rule.minutes % 60);
    return fromBytes(buffer);
}

}  // namespace LxScript
