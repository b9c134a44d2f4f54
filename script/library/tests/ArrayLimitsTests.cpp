// What the script suites cannot show: how much work the sort and the walks
// of sparse arrays do, fatal errors (a timeout ends a script uncaught), and
// the locale the number texts follow.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/Localizer.h"
#include "core/String.h"
#include "script/composition/InitTerm.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/library/ArrayClass.h"
#include "script/library/tests/FixedLocale.h"

namespace LxScript {
namespace {

using LxCore::String;

// The sanitizers slow the engine down several times over: there the sort
// sizes shrink tenfold (the unsanitized build sorts the full sizes).
#if defined(__SANITIZE_ADDRESS__)
#define ARRAY_LIMITS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ARRAY_LIMITS_SANITIZED 1
#endif
#endif
#ifdef ARRAY_LIMITS_SANITIZED
constexpr long kSortShrink = 10;
#else
constexpr long kSortShrink = 1;
#endif

// Comparisons a sort of n entries may make, as the sort's own tests hold it.
double comparisonBudget(long n) {
    return 3.0 * double(n) * std::log2(double(n));
}

// The clock of the engine's deadlines moves only as it is read, a millisecond
// a reading, so that a deadline is a count of readings.
u32 readingMs = 0;
u32 readingClock() { return readingMs++; }

std::string text(const Variant& v) {
    const String s = v.toString();
    return std::string(s.chars(), s.chars() + s.length());
}

class ArrayLimitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        engine.reset(static_cast<RealEngine*>(Engine::createEngine(0)));
        ASSERT_TRUE(engine);
        engine->initialize();
    }
    void TearDown() override {
        LxCore::setTickSourceForTests(nullptr);
        engine.reset();
        InitTerm::exit();
    }

    // Runs source; the error code it ends with (0 when none) and the status
    // checks it made, which the library's loops make every kStatusInterval
    // steps.
    i32 run(const char* source, i32 timeoutMs = 0, u32* checks = nullptr, Variant* result = nullptr) {
        Variant scratch;
        engine->clearError();
        const u32 start = engine->getStatusChecks();
        engine->eval(String(source), result ? result : &scratch, timeoutMs, 0, nullptr, nullptr);
        if (checks)
            *checks = engine->getStatusChecks() - start;
        return engine->getError().getCode();
    }

    std::unique_ptr<RealEngine> engine;
};

// The elements of the global array a, read from its slots.
std::vector<double> elementsOf(RealEngine& engine) {
    Variant value;
    engine.getGlobalObject()->get(DataPool::get().add("a"), value, 0);
    Object* array = objectOf(value);
    std::vector<double> out(array ? array->getLength() : 0);
    if (array) {
        array->forEachCell([&](DataPoolId symbol, const SlotCell& c) {
            u32 index;
            Variant v;
            if (cellIsLive(c) && isIndexId(symbol, index) && index < out.size() && array->getOwnValue(symbol, v))
                out[index] = v.toNumber();
        });
    }
    return out;
}

// Status checks of a walk of one element (and of the statements around it).
constexpr u32 kFewChecks = 16;
// Readings of the clock past a deadline before a run ends: the tick of 50 ms
// the deadline falls in, and those the engine makes on its way out.
constexpr u32 kDeadlineSlackMs = 100;

// Sorted, reversed, equal and random numbers: 100,000 in the default order
// and 20,000 with a comparison function, each in log-linear comparisons:
// counted by the comparison function, and for the default order by the
// units of work the sort counts, one a comparison. The
// arrays are made from literals and checked from their slots, so that only
// the sort is the script's work.
TEST_F(ArrayLimitsTest, SortStaysLogLinear) {
    const struct {
        const char* name;
        long (*value)(long i, long n);
    } shapes[] = {
        {"sorted", [](long i, long) { return i; }},
        {"reversed", [](long i, long n) { return n - i; }},
        {"equal", [](long, long) { return 7L; }},
        {"random", [](long i, long) { return (i * 7919) % 100003; }},
    };
    const struct {
        long count;
        const char* call;
        bool numeric;
    } sorts[] = {{100000 / kSortShrink, "a.sort()", false},
                 {20000 / kSortShrink, "a.sort(function (x, y) { compared++; return x - y; })", true}};
    for (const auto& sort : sorts) {
        for (const auto& shape : shapes) {
            std::string fill = "var a = [";
            for (long i = 0; i < sort.count; i++)
                fill += (i ? "," : "") + std::to_string(shape.value(i, sort.count));
            fill += "]; var compared = 0;";
            ASSERT_EQ(run(fill.c_str()), 0) << shape.name;
            const LxCore::u64 workBefore = engine->getWorkUnits();
            ASSERT_EQ(run(sort.call), 0) << sort.call << " of " << shape.name;
            const LxCore::u64 work = engine->getWorkUnits() - workBefore;
            Variant compared;
            ASSERT_EQ(run("compared", 0, nullptr, &compared), 0);
            const double comparisons = sort.numeric ? compared.toNumber() : double(work);
            EXPECT_LT(comparisons, comparisonBudget(sort.count)) << sort.call << " of " << shape.name;
            const std::vector<double> got = elementsOf(*engine);
            ASSERT_EQ(long(got.size()), sort.count);
            for (size_t i = 1; i < got.size(); i++) {
                const bool ordered = sort.numeric ? got[i - 1] <= got[i]
                                                  : std::to_string(long(got[i - 1])) <= std::to_string(long(got[i]));
                ASSERT_TRUE(ordered) << sort.call << " of " << shape.name << " at " << i;
            }
        }
    }
}

// After a[4294967294] = "x" every loop but the text forms walks the one
// element: a few status checks, where a walk of the indices would make one
// every kStatusInterval of them.
TEST_F(ArrayLimitsTest, SparseArraysWalkTheirElements) {
    const char* calls[] = {
        "a.reverse()",          "a.sort()",            "a.sort(function (x, y) { return 0; })",
        "a.slice(0)",           "a.slice(4294967000)", "a.shift()",
        "a.pop()",              "a.push(1)",           "a.unshift(1)",
        "a.splice(0, 5)",       "a.splice(1, 0, 1)",   "a.splice(4294967294, 1)",
        "a.concat([1])",        "[].concat(a)",        "a.length = 1",
        "a.length = 4294967295",
    };
    for (const char* call : calls) {
        ASSERT_EQ(run("var a = []; a[4294967294] = 'x';"), 0);
        u32 checks = 0;
        const i32 code = run(call, 0, &checks);
        EXPECT_TRUE(code == 0 || code == 41) << call << ": " << code;
        EXPECT_LT(checks, kFewChecks) << call;
    }
}

// The text forms must produce every separator: under a 1 s timeout they end
// in the timeout, at its first reading of the clock past it, or, being too
// long for a string, in -28 before it.
TEST_F(ArrayLimitsTest, TextFormsOfHugeArraysEndInTimeOrMemory) {
    readingMs = 1000 * 50;
    LxCore::setTickSourceForTests(readingClock);
    const char* calls[] = {
        "var a = []; a[4294967294] = 'x'; a.join()",
        "var a = []; a[4294967294] = 'x'; a.toString()",
        "var a = []; a[4294967294] = 'x'; a.toLocaleString()",
        "var a = []; a[4294967294] = 'x'; a.toSource()",
        "var b = []; b.length = 4294967295; b.join(',')",
        "var b = []; b.length = 4294967295; b[5] = 1; b.join(',')",
    };
    for (const char* call : calls) {
        const u32 start = readingMs;
        const i32 code = run(call, 1000);
        const u32 took = readingMs - start;
        EXPECT_TRUE(code == -35 || code == -28) << call << ": " << code;
        if (code == -35) {
            EXPECT_GE(took, 1000u) << call;
        }
        EXPECT_LT(took, 1000u + kDeadlineSlackMs) << call;
    }
}

TEST_F(ArrayLimitsTest, LocaleStringsUseTheLocalesDecimalPoint) {
    const struct {
        const char* locale;
        const char* source;
        const char* text;
    } rows[] = {
        {"fr_FR", "(1.5).toLocaleString()", "1,5"},
        {"fr_FR", "(255).toLocaleString(16)", "ff"},
        {"de_DE", "(-0.25).toLocaleString()", "-0,25"},
        {"en_US", "(1.5).toLocaleString()", "1.5"},
    };
    for (const auto& r : rows) {
        FixedLocale localizer(r.locale);
        engine->setLocalizer(&localizer);
        Variant result;
        ASSERT_EQ(run(r.source, 0, nullptr, &result), 0) << r.source;
        EXPECT_EQ(text(result), r.text) << r.locale << " " << r.source;
        engine->setLocalizer(nullptr);
    }
}

}  // namespace
}  // namespace LxScript
