// Clock: the state the module start sets, and the conversions that must stay
// defined for any double a caller hands in.
#include "core/Clock.h"

#include <atomic>
#include <cmath>

#include "core/ThreadData.h"
#include "core/platform/PlatformClock.h"

namespace LxCore {

namespace {

// 50 ms ticks in 2^32 ms.
constexpr u32 kTicksPerWrap = 85899345;
constexpr i64 kMillisPerMinute = 60000;

f64 timeZoneBias = 0;
bool counterPresent = false;
f64 counterFrequency = 0;

// Read by a pump thread as well; atomic so that a stray second caller is
// at worst off by a wrap, never undefined.
std::atomic<u32> tickBase{0};
std::atomic<u32> lastTick{0};
TickSource tickSource = nullptr;

void queryCounter() {
    f64 frequency = 0;
    counterPresent = platformCounterFrequency(frequency) && frequency > 0;
    counterFrequency = counterPresent ? frequency : 0;
}

// Truncation toward zero that stays defined for NaN and out-of-range values.
i64 truncateToI64(f64 value) {
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775807.0)
        return INT64_MAX;
    if (value <= -9223372036854775808.0)
        return INT64_MIN;
    return i64(value);
}

}  // namespace

void initClock(bool start) {
    if (!start)
        return;
    i32 minutes = 0;
    if (platformTimeZoneBias(minutes))
        timeZoneBias = f64(minutes) * f64(kMillisPerMinute);
    queryCounter();
}

i64 getMicroseconds() {
    if (counterPresent)
        return truncateToI64(f64(platformCounterValue()) / counterFrequency * 1000000.0);
    return truncateToI64(getSystemTimeMillis() * 1000.0);
}

u32 getTicks() {
    u32 t = tickSource ? tickSource() : platformTickCount();
    if (t < lastTick.load(std::memory_order_relaxed))
        tickBase.fetch_add(kTicksPerWrap, std::memory_order_relaxed);
    lastTick.store(t, std::memory_order_relaxed);
    return tickBase.load(std::memory_order_relaxed) + t / 50;
}

f64 getTimeZoneBias() { return timeZoneBias; }

f64 fileTimeToMillis(i64 fileTime) {
    // 128 bits, so that no file time can overflow the subtraction.
    return f64(i64((__int128(fileTime) - kFileTimeOf1970) / 10000));
}

f64 getSystemTimeMillis() { return fileTimeToMillis(platformSystemFileTime()); }

i32 isDaylightSavingTime(f64 timeMs) {
    // Before 1970 the platform cannot tell; far beyond any local time the
    // minute would not fit the cache. NaN fails the first test.
    if (!(timeMs >= 0) || timeMs / kMillisPerMinute >= f64(ThreadData::kNoMinute))
        return -1;
    u32 minute = u32(timeMs / kMillisPerMinute);
    ThreadData* record = ThreadData::get();
    if (minute == record->dstMinute)
        return record->dstAnswer;
    i32 flag = -1;
    i32 answer = -1;
    if (platformDaylightFlag(i64(timeMs / 1000), flag))
        answer = flag > 0 ? 1 : flag == 0 ? 0 : -1;
    record->dstMinute = minute;
    record->dstAnswer = answer;
    return answer;
}

i64 getHiresTimer() {
    ThreadData* record = ThreadData::get();
    i64 now = getMicroseconds();
    i64 elapsed = now - record->timerMark;
    record->timerMark = now;
    return elapsed;
}

void sleepMilliseconds(u32 ms) { platformSleep(ms); }

void setTickSourceForTests(TickSource source) { tickSource = source; }

void setPerformanceCounterForTests(bool present) {
    if (present)
        queryCounter();
    else
        counterPresent = false;
}

}  // namespace LxCore
