// The operating system's clocks, in the shapes the core's clock was made
// for: a performance counter, a wrapping millisecond tick count, the system
// time as a file time, the time-zone bias and the local daylight flag.
#pragma once
#include "core/Types.h"

namespace LxCore {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr i64 kFileTimeOf1970 = 116444736000000000;

// Counts per second of the performance counter; false when there is none.
bool platformCounterFrequency(f64& frequency);
// The performance counter: a monotonic count that never goes back.
i64 platformCounterValue();
// Milliseconds since an arbitrary start, wrapping at 2^32 like a tick count.
u32 platformTickCount();
// The system time in 100-nanosecond intervals since 1601-01-01 UTC.
i64 platformSystemFileTime();
// Sets up the C runtime's time-zone data; the standard bias in minutes,
// positive west of UTC. False when it cannot be told.
bool platformTimeZoneBias(i32& minutes);
// The local-time daylight flag at seconds since 1970: above 0 in daylight
// saving, 0 outside, negative when unknown. False when the conversion fails,
// which it does for times before 1970 and after the year 3000, as on the
// platform this system was made for.
bool platformDaylightFlag(i64 seconds, i32& flag);
// Suspends the calling thread for at least ms milliseconds.
void platformSleep(u32 ms);

}  // namespace LxCore
