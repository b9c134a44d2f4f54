// The core's time sources: a microsecond counter, 50 ms ticks that survive
// the 32-bit wrap of the system tick count, the system time, the time-zone
// bias, a cached daylight-saving query, a stopwatch and a sleep.
#pragma once
#include "core/Types.h"

namespace LxCore {

// Module start: time-zone set-up and the performance counter; the end does nothing.
void initClock(bool start);

// Microseconds from the performance counter; without one, from the system time.
i64 getMicroseconds();
// Ticks of 50 ms; they keep counting up when the system tick count wraps.
// Meant for one thread at a time.
u32 getTicks();
// The standard time-zone bias in milliseconds, positive west of UTC; 0 until
// the clock module starts.
f64 getTimeZoneBias();
// Milliseconds since 1970-01-01 00:00 UTC.
f64 getSystemTimeMillis();
// Milliseconds since 1970 of a system file time (100 ns units since 1601),
// truncated toward zero.
f64 fileTimeToMillis(i64 fileTime);
// 1 when daylight saving is in effect at timeMs (milliseconds since 1970),
// 0 when not, -1 when it cannot be told (times before 1970 among them).
// The answer is cached per minute in the thread record.
i32 isDaylightSavingTime(f64 timeMs);
// Microseconds since the previous call, or since library init for the first;
// the mark lives in the thread record.
i64 getHiresTimer();
void sleepMilliseconds(u32 ms);

// For tests: the system tick count comes from `source` (null: the system).
using TickSource = u32 (*)();
void setTickSourceForTests(TickSource source);
// For tests: false makes the clock act as if there were no performance
// counter; true asks the system again.
void setPerformanceCounterForTests(bool present);

}  // namespace LxCore
