// Date text: the free-form parser behind new Date(text) and Date.parse, and
// the daylight-saving rule texts of Date.dstStart and Date.dstEnd. What was
// read is written back in every form; a date of years 1000 to 9999 and a
// rule must read back to the same value.
#include <cmath>

#include "core/String.h"
#include "fuzz/FuzzSupport.h"
#include "script/library/DateTime.h"

using namespace LxCore;
using namespace LxScript;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String text = TavrelFuzz::text(data, size);
    jsDateTime record;
    record.parse(text);
    String forms = record.toString();
    forms += record.toDateString();
    forms += record.toTimeString();
    forms += record.toUTCString();
    forms += record.toSource();
    for (i32 form = 0; form < 3; form++)
        forms += record.toLocaleString(form);
    if (record.isValid()) {
        if (!(std::fabs(record.getTime()) <= kMaxTimeValue))
            __builtin_trap();
        const i64 year = splitTime(record.localTime()).year;
        jsDateTime back;
        back.parse(record.toString());
        if (year >= 1000 && year <= 9999 &&
            back.getTime() != std::floor(record.getTime() / 1000) * 1000)
            __builtin_trap();
    }
    const DaylightRule rule = parseDaylightRule(text);
    const DaylightRule again = parseDaylightRule(formatDaylightRule(rule));
    if (rule.valid != again.valid ||
        (rule.valid && (rule.count != again.count || rule.month != again.month ||
                        rule.weekday != again.weekday || rule.minutes != again.minutes)))
        __builtin_trap();
    return 0;
}
