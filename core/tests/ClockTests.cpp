#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "core/Clock.h"
#include "core/InitTerm.h"
#include "core/ThreadData.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

// Hands out the tick counts of a script, one per call.
const u32* tickScript = nullptr;
u32 scriptedTicks() { return *tickScript++; }

class ScriptedTicks {
public:
    explicit ScriptedTicks(const u32* ticks) {
        tickScript = ticks;
        setTickSourceForTests(scriptedTicks);
    }
    ~ScriptedTicks() { setTickSourceForTests(nullptr); }
};

TEST(Clock, TicksCountFiftyMilliseconds) {
    const u32 ticks[] = {1000, 1120, 1149, 1150};
    ScriptedTicks scripted(ticks);
    u32 start = getTicks();
    EXPECT_EQ(getTicks() - start, 2u);
    EXPECT_EQ(getTicks() - start, 2u);
    EXPECT_EQ(getTicks() - start, 3u);
}

TEST(Clock, TicksKeepCountingAcrossTheWrap) {
    const u32 ticks[] = {0xFFFFFFF0, 0x10, 0x100, 0x1000};
    ScriptedTicks scripted(ticks);
    u32 before = getTicks();
    u32 after = getTicks();
    EXPECT_GE(after, before);
    EXPECT_EQ(getTicks(), before + 0x100 / 50);
    EXPECT_EQ(getTicks(), before + 0x1000 / 50);
}

// Microseconds of the monotonic clock that the counter and the ticks read,
// taken around a measurement: what it measured cannot have taken longer.
i64 monotonicMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

TEST(Clock, TicksFollowTheSystemClock) {
    const i64 before = monotonicMicroseconds();
    u32 start = getTicks();
    sleepMilliseconds(120);
    u32 elapsed = getTicks() - start;
    const i64 around = monotonicMicroseconds() - before;
    EXPECT_GE(elapsed, 2u);
    // One tick per 50 ms that passed, give or take the ticks begun at either end.
    EXPECT_LE(i64(elapsed), around / 50000 + 2) << around << " us";
}

TEST(Clock, SystemTimeCountsFrom1970) {
    const i64 epoch = 116444736000000000;
    EXPECT_EQ(fileTimeToMillis(epoch), 0.0);
    EXPECT_EQ(fileTimeToMillis(epoch + 10000), 1.0);
    EXPECT_EQ(fileTimeToMillis(epoch + 9999), 0.0);
    EXPECT_EQ(fileTimeToMillis(epoch - 9999), 0.0);     // toward zero
    EXPECT_EQ(fileTimeToMillis(epoch - 10000), -1.0);
    EXPECT_EQ(fileTimeToMillis(0), -11644473600000.0);
    EXPECT_EQ(fileTimeToMillis(INT64_MIN), -933981677285477.0);   // no overflow at the ends
    EXPECT_EQ(fileTimeToMillis(INT64_MAX), 910692730085477.0);

    const f64 before = f64(std::time(nullptr)) * 1000;
    const f64 now = getSystemTimeMillis();
    const f64 after = f64(std::time(nullptr)) * 1000;
    EXPECT_GE(now, before);
    EXPECT_LT(now, after + 1000);
}

TEST(Clock, MicrosecondsAdvance) {
    CoreStarted core;
    const i64 outerBefore = monotonicMicroseconds();
    i64 before = getMicroseconds();
    sleepMilliseconds(30);
    i64 after = getMicroseconds();
    const i64 around = monotonicMicroseconds() - outerBefore;
    EXPECT_GE(after - before, 30000);
    EXPECT_LE(after - before, around + 2) << "microseconds, not a finer unit";
}

TEST(Clock, WithoutACounterMicrosecondsComeInWholeMilliseconds) {
    CoreStarted core;
    setPerformanceCounterForTests(false);
    i64 before = getMicroseconds();
    sleepMilliseconds(5);
    i64 after = getMicroseconds();
    setPerformanceCounterForTests(true);
    EXPECT_EQ(before % 1000, 0);
    EXPECT_EQ(after % 1000, 0);
    EXPECT_GE(after - before, 4000);
}

TEST(Clock, HiresTimerMeasuresFromInitThenBetweenCalls) {
    CoreStarted core;
    sleepMilliseconds(20);
    const i64 before = monotonicMicroseconds();
    EXPECT_GE(getHiresTimer(), 20000);
    i64 between = getHiresTimer();
    const i64 around = monotonicMicroseconds() - before;
    EXPECT_GE(between, 0);
    EXPECT_LE(between, around + 2) << "from the call before, not from the start";
}

// Runs a test under a time zone of its own and puts the old one back.
class ClockZoneTest : public ::testing::Test {
protected:
    CoreStarted core;
    SavedEnvironment zone{"TZ"};

    void TearDown() override {
        zone.restore();
        initClock(true);
    }
    void useZone(const char* zone) {
        setenv("TZ", zone, 1);
        initClock(true);
    }
};

TEST_F(ClockZoneTest, BiasIsPositiveWestOfUtc) {
    struct Case {
        const char* zone;
        f64 bias;
    };
    const Case cases[] = {
        {"EST5EDT", 5 * 3600000.0},
        {"CET-1CEST", -3600000.0},
        {"UTC0", 0},
        {"IST-5:30", -5.5 * 3600000},
    };
    for (const Case& c : cases) {
        useZone(c.zone);
        EXPECT_EQ(getTimeZoneBias(), c.bias) << c.zone;
    }
}

constexpr f64 kJuly2021 = 1625140800000.0;     // 2021-07-01 12:00 UTC
constexpr f64 kJanuary2021 = 1609502400000.0;  // 2021-01-01 12:00 UTC

TEST_F(ClockZoneTest, DaylightSavingFollowsTheZone) {
    useZone("EST5EDT");
    const f64 nan = std::numeric_limits<f64>::quiet_NaN();
    const f64 inf = std::numeric_limits<f64>::infinity();
    struct Case {
        f64 time;
        i32 answer;
    };
    const Case cases[] = {
        {kJuly2021, 1},
        {kJanuary2021, 0},
        {0, 0},
        {-1, -1},                    // before 1970
        {-0.5, -1},
        {-86400000.0 * 365, -1},
        {nan, -1},
        {inf, -1},
        {-inf, -1},
        {1e300, -1},
        {-1e300, -1},
        {4.7e13, -1},                // past the year 3000
        {2.6e14, -1},                // past any minute the cache can hold
    };
    for (const Case& c : cases)
        EXPECT_EQ(isDaylightSavingTime(c.time), c.answer) << c.time;
}

TEST_F(ClockZoneTest, DaylightSavingIsAskedOncePerMinute) {
    useZone("EST5EDT");
    EXPECT_EQ(isDaylightSavingTime(kJuly2021), 1);
    useZone("UTC0");   // the runtime would say 0 from now on
    EXPECT_EQ(isDaylightSavingTime(kJuly2021 + 59999), 1);
    EXPECT_EQ(isDaylightSavingTime(kJuly2021 + 60000), 0);
}

// A fresh record holds no answer, not even for the first minute of 1970.
TEST_F(ClockZoneTest, TheFirstMinuteIsNotTakenAsCached) {
    useZone("AEST-10AEDT,M10.1.0,M4.1.0/3");   // summer time in January
    ASSERT_EQ(ThreadData::get()->dstMinute, ThreadData::kNoMinute);
    EXPECT_EQ(isDaylightSavingTime(0), 1);
    EXPECT_EQ(isDaylightSavingTime(kJuly2021), 0);
}

}  // namespace
}  // namespace LxCore
