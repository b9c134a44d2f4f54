// Long built-ins under a running script's deadline and halt. Each call of the
// tables would do far more units of work than it may do before the engine
// looks at the clock; it has to stop with the run's error after a bounded
// number of units and leave nothing half made. The clock moves one tick each
// time it is read, so when the deadline passes depends on the work counted,
// not on the machine's speed.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/Callbacks.h"
#include "core/Clock.h"
#include "core/ErrorCodes.h"
#include "core/RegExp.h"
#include "core/tests/TestSupport.h"
#include "script/library/tests/LibraryTestEngine.h"

namespace LxScript {
namespace {

namespace Err = LxCore::Err;

u32 fakeMs = 0;
u32 advancingClock() { return fakeMs += 50; }

// A deadline two ticks ahead passes at the second look at the clock; one
// look may be the statements' own, so the call gets at most three intervals.
constexpr i32 kTwoTicksMs = 100;
constexpr u64 kMostUnitsBeforeStop = 3 * LxCore::kWorkPollUnits;
// A call's whole work is at least this many times that.
constexpr u64 kFarMore = 16;
// Runaway patterns run out of steps after this many (their whole work).
constexpr u64 kStepBudget = 2000000;

// Halts the run at its first poll once the work being measured has begun.
class HaltingHook : public Debugger {
public:
    u64 startUnits = ~u64(0);
    void breakExecution(Engine&) override {}
    void endOfRun(Engine&) override {}
    void poll(Engine& engine) override {
        auto& real = static_cast<RealEngine&>(engine);
        if (real.getWorkUnits() > startUnits)
            real.halt();
    }
};

struct Call {
    const char* setup;
    const char16_t* call;
    i32 fullCode = 0;       // how the call ends without a deadline
};

class WorkPollTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        LxCore::setRegExpStepBudgetForTests(kStepBudget);
    }
    void TearDown() override {
        LxCore::setRegExpStepBudgetForTests(0);
        LxCore::setTickSourceForTests(nullptr);
        engine->setDebugger(nullptr);
        LibraryTest::TearDown();
    }

    // The error source ends with and the units of work it did.
    i32 eval(const std::u16string& source, i32 timeoutMs, u64& units) {
        engine->clearError();
        const u64 start = engine->getWorkUnits();
        Variant result;
        engine->eval(LxCore::String(reinterpret_cast<const LxCore::unit*>(source.c_str()), i32(source.size())),
                     &result, timeoutMs, 0, nullptr, nullptr);
        units = engine->getWorkUnits() - start;
        return engine->getError().getCode();
    }
    void prepare(const Call& c) {
        std::u16string setup(c.setup, c.setup + std::char_traits<char>::length(c.setup));
        ASSERT_EQ(run(setup + u"; r = 'before';"), 0) << c.setup;
    }

    // The call's whole work, then the call stopped by stop (the deadline or
    // a halt) early, with r left as it was.
    void expectStops(const Call& c, i32 expected) {
        SCOPED_TRACE(std::string(c.call, c.call + std::char_traits<char16_t>::length(c.call)));
        prepare(c);
        u64 total = 0;
        ASSERT_EQ(eval(std::u16string(c.call) + u";", 0, total), c.fullCode);
        EXPECT_GE(total, kFarMore * kMostUnitsBeforeStop) << "the input is too small to show a stop";

        prepare(c);
        HaltingHook hook;
        const bool halting = expected == Err::kExecutionHalted;
        if (halting) {
            hook.startUnits = engine->getWorkUnits();
            engine->setDebugger(&hook);
        }
        LxCore::setTickSourceForTests(advancingClock);
        u64 units = 0;
        const i32 code = eval(u"r = " + std::u16string(c.call) + u";", halting ? 0 : kTwoTicksMs, units);
        LxCore::setTickSourceForTests(nullptr);
        engine->setDebugger(nullptr);
        EXPECT_EQ(code, expected);
        EXPECT_GT(units, 0u) << "stopped before the call began";
        EXPECT_LE(units, kMostUnitsBeforeStop);
        std::u16string r;
        EXPECT_EQ(run(u"r", &r), 0);
        EXPECT_EQ(r, u"before") << "the stopped call answered something";
    }
};

const char kStrings[] =
    "var s = 'a'; while (s.length < 262144) s += s;"
    "var t = 'ab'; while (t.length < 262144) t += t;"
    "var big = s; while (big.length < 4194304) big += big;"
    "var few = s.substr(0, 40)";

const char kArrays[] = "var a = []; for (var i = 0; i < 100000; i++) a[i] = i";

const char kObjects[] = "var o = {}; for (var i = 0; i < 100000; i++) o['k' + i] = i";

const char kXML[] =
    "var l = <><i a='1'><j>t</j></i></>; while (l.length() < 131072) l += l";

const Call kCalls[] = {
    // String and RegExp: a unit a match, the matcher's steps and scans.
    {kStrings, u"s.replace(/a/g, 'b')"},
    {kStrings, u"s.match(/a/g)"},
    {kStrings, u"t.split(/b/)"},
    {kStrings, u"t.split('b')"},
    {kStrings, u"s.split('')"},
    {kStrings, u"few.search(/(a+)+b/)", Err::kStackOverrun},
    {kStrings, u"/(a+)+b/.exec(few)", Err::kStackOverrun},
    {kStrings, u"/(a|aa)*b/.test(few)", Err::kStackOverrun},
    {kStrings, u"/a*b/.test(big)", Err::kStackOverrun},
    {kStrings, u"/x/.test(big)"},
    // Array: a unit an element or a comparison.
    {kArrays, u"a.join('-')"},
    {kArrays, u"a.toString()"},
    {kArrays, u"String(a)"},
    {kArrays, u"a.toLocaleString()"},
    {kArrays, u"a.toSource()"},
    {kArrays, u"a.sort()"},
    {kArrays, u"a.sort(function (x, y) { return y - x; })"},
    {kArrays, u"a.reverse()"},
    {kArrays, u"a.slice(0)"},
    {kArrays, u"a.concat(a)"},
    {kArrays, u"a.shift()"},
    {kArrays, u"a.unshift(0)"},
    // Object: a unit a property.
    {kObjects, u"o.toSource()"},
    // E4X: a unit a node or an item.
    {kXML, u"l..j"},
    {kXML, u"l.descendants('j')"},
    {kXML, u"l.j"},
    {kXML, u"l.children()"},
    {kXML, u"l.elements()"},
    {kXML, u"l.text()"},
    {kXML, u"l.(@a == '1')"},
    {kXML, u"l.toXMLString()"},
    {kXML, u"l.toString()"},
    {kXML, u"String(l)"},
    {kXML, u"l.copy()"},
};

TEST_F(WorkPollTest, LongBuiltInsStopAtTheDeadline) {
    for (const Call& c : kCalls)
        expectStops(c, Err::kEngineTimeout);
}

TEST_F(WorkPollTest, LongBuiltInsStopAtAHalt) {
    for (const Call& c : kCalls)
        expectStops(c, Err::kExecutionHalted);
}

// Text the script itself runs is part of its run: an endless loop in it ends
// at the run's deadline, not never, and a longer timeout of its own does not
// carry it past that deadline.
TEST_F(WorkPollTest, TextTheScriptRunsEndsAtTheRunsDeadline) {
    const std::string folder = LxCore::makeTemporaryFolder("workpoll-eval");
    const std::string file = folder + "/endless.tvs";
    std::ofstream(file) << "while (true) ;\n";
    const std::string evalFile = "$.evalFile('" + file + "'";
    const std::string sources[] = {
        "eval('while (true) ;')",
        "eval('for (;;) {}', true)",
        "(function () { return eval('while (true) ;'); })()",
        "eval(\"eval('while (true) ;')\")",
        evalFile + ")",
        evalFile + ", 600000)",
    };
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        LxCore::setTickSourceForTests(advancingClock);
        u64 units = 0;
        EXPECT_EQ(eval(std::u16string(source.begin(), source.end()), kTwoTicksMs, units), Err::kEngineTimeout);
        LxCore::setTickSourceForTests(nullptr);
    }
    LxCore::removeTree(folder);
}

// The host reads values while a script's error is pending (its runtime-error
// callback, the texts of an error report): that work is its own and comes
// out whole, however much of it there is.
class ReadingCallback : public Callback {
public:
    i32 length = -1;
    void runtimeError(Engine& engine) override {
        Variant list;
        static_cast<RealEngine&>(engine).getGlobalObject()->get(DataPool::get().add("l"), list, 0);
        length = list.toString().length();
    }
};

TEST_F(WorkPollTest, TheHostReadsValuesWholeWhileAnErrorIsPending) {
    std::u16string whole;
    ASSERT_EQ(run(std::u16string(kXML, kXML + sizeof kXML - 1) + u"; String(l).length", &whole), 0);
    ReadingCallback callback;
    engine->setCallback(&callback);
    EXPECT_EQ(run(u"null.x"), Err::kNotAnObject);
    engine->setCallback(nullptr);
    EXPECT_EQ(std::to_string(callback.length), std::string(whole.begin(), whole.end()));
}

}  // namespace
}  // namespace LxScript
