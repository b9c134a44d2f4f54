// Linux clocks: CLOCK_MONOTONIC for the counter and the ticks, CLOCK_REALTIME
// for the system time, tzset and localtime_r for the zone.
#include "core/platform/PlatformClock.h"

#include <ctime>

#include "base/platform/InterruptedCalls.h"

namespace LxCore {

namespace {

constexpr i64 kNanosPerSecond = 1000000000;

// Latest time the Windows runtime converts to local time: 3000-12-31 23:59:59 UTC.
constexpr i64 kLastLocalSecond = 32535215999;

timespec now(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts;
}

}  // namespace

bool platformCounterFrequency(f64& frequency) {
    timespec resolution{};
    if (clock_getres(CLOCK_MONOTONIC, &resolution) != 0)
        return false;
    frequency = f64(kNanosPerSecond);
    return true;
}

i64 platformCounterValue() {
    timespec ts = now(CLOCK_MONOTONIC);
    return i64(ts.tv_sec) * kNanosPerSecond + i64(ts.tv_nsec);
}

u32 platformTickCount() {
    timespec ts = now(CLOCK_MONOTONIC);
    u64 ms = u64(ts.tv_sec) * 1000 + u64(ts.tv_nsec) / 1000000;
    return u32(ms);
}

i64 platformSystemFileTime() {
    timespec ts = now(CLOCK_REALTIME);
    return kFileTimeOf1970 + i64(ts.tv_sec) * 10000000 + i64(ts.tv_nsec) / 100;
}

bool platformTimeZoneBias(i32& minutes) {
    tzset();
    minutes = i32(timezone / 60);   // seconds west of UTC, standard time
    return true;
}

bool platformDaylightFlag(i64 seconds, i32& flag) {
    if (seconds < 0 || seconds > kLastLocalSecond)
        return false;
    time_t t = time_t(seconds);
    tm local{};
    if (!localtime_r(&t, &local))
        return false;
    flag = local.tm_isdst;
    return true;
}

void platformSleep(u32 ms) {
    timespec left{time_t(ms / 1000), long(ms % 1000) * 1000000};
    // Woken early by a signal, it sleeps what is left.
    LxBase::retryInterrupted([&] { return nanosleep(&left, &left); });
}

}  // namespace LxCore
