// Long core work on a meter: the units reach the installed callbacks every
// kWorkPollUnits units, and the work ends soon after they say to stop. The
// matcher's backtracking, repetitions and scans and the XML walks each do
// far more work than one interval here, so a stop at the first report shows
// that they are counted where they run.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/Callbacks.h"
#include "core/ErrorCodes.h"
#include "core/RegExp.h"
#include "core/String.h"
#include "core/XML.h"
#include "core/tests/TestCallbacks.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

// Counts the reports and their units; says to stop from report `stopAt` on
// (0: never).
class MeteringCallbacks : public TestCallbacks {
public:
    u32 stopAt = 1;
    u32 reports = 0;
    u64 units = 0;
    bool pollWork(u32 given) override {
        reports++;
        units += given;
        return stopAt == 0 || reports < stopAt;
    }
};

class WorkMeterTest : public ::testing::Test {
protected:
    CoreStarted core;
    MeteringCallbacks callbacks;
    UsingCallbacks installed{&callbacks};
};

String repeated(const char* piece, i32 times) {
    std::string out;
    for (i32 i = 0; i < times; i++)
        out += piece;
    return String(out.c_str());
}

TEST_F(WorkMeterTest, UnitsAreReportedEveryIntervalUntilTheCallbacksSayStop) {
    callbacks.stopAt = 3;
    WorkMeter meter;
    u32 accepted = 0;
    while (meter.add() && accepted < 10 * kWorkPollUnits)
        accepted++;
    EXPECT_EQ(accepted, 3 * kWorkPollUnits - 1);
    EXPECT_EQ(callbacks.reports, 3u);
    EXPECT_EQ(callbacks.units, 3u * kWorkPollUnits);
    EXPECT_TRUE(meter.isStopped());
    EXPECT_FALSE(meter.add()) << "stopped stays stopped";
    EXPECT_EQ(callbacks.reports, 3u) << "without asking again";

    // Without callbacks nothing stops.
    Callbacks::setCurrent(nullptr);
    WorkMeter alone;
    for (u32 i = 0; i < 3 * kWorkPollUnits; i++)
        ASSERT_TRUE(alone.add());
    Callbacks::setCurrent(&callbacks);
}

// What a match answers, and the units it reported, with a meter.
struct Metered {
    i32 status;
    bool matched;
};

Metered metered(const RegExp& re, const String& text) {
    CapturePair* pairs = re.allocCaptures();
    WorkMeter meter;
    bool matched = false;
    const i32 status = execRegExp(re, text, 0, pairs, matched, &meter);
    Heap::free(pairs);
    return {status, matched};
}

TEST_F(WorkMeterTest, ARunawayMatchStopsAtTheFirstReport) {
    // Each would run for seconds to its step budget (raised out of reach)
    // or through its whole text.
    setRegExpStepBudgetForTests(u64(1) << 50);
    const String text = repeated("a", 1 << 22);
    const struct {
        const char* name;
        const char* pattern;
        String subject;
    } cases[] = {
        {"backtracking", "(a+)+b", repeated("a", 40)},
        {"alternatives", "(a|aa)*b", repeated("a", 40)},
        {"greedy repetition", "a*b", text},
        {"lazy repetition", "a*?b", text},
        {"first-unit scan", "x", text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        callbacks.reports = 0;
        callbacks.units = 0;
        const Metered m = metered(compileRegExp(String(c.pattern), 0), c.subject);
        EXPECT_EQ(m.status, kRegExpInterrupted);
        EXPECT_FALSE(m.matched);
        EXPECT_EQ(callbacks.reports, 1u);
        EXPECT_LE(callbacks.units, u64(kWorkPollUnits) + kWorkPollUnits / 16);
    }
    setRegExpStepBudgetForTests(0);
}

TEST_F(WorkMeterTest, AMeterThatGoesOnChangesNoMatch) {
    callbacks.stopAt = 0;
    setRegExpStepBudgetForTests(1000000);
    String text = repeated("ab", 50000);
    text += "c";
    const struct {
        const char* pattern;
        i32 status;
        bool matched;
        const String& subject;
    } cases[] = {
        {"b*c", 0, true, text},
        {"(a|b)*c", 0, true, text},
        {"(a|b)*d", Err::kStackOverrun, false, text},    // the step budget, not the meter
        {"x", 0, false, text},
        {"c", 0, true, text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        const Metered m = metered(compileRegExp(String(c.pattern), 0), c.subject);
        EXPECT_EQ(m.status, c.status);
        EXPECT_EQ(m.matched, c.matched);
    }
    EXPECT_GT(callbacks.reports, 0u);
    setRegExpStepBudgetForTests(0);
}

// <r> with `count` children <i a="1"><j>t</j></i>.
XML* bigTree(i32 count) {
    XML* root = new XML(String("r"));
    for (i32 i = 0; i < count; i++) {
        XML* item = root->addChild(String("i"));
        item->addChild(String("@a"), String("1"));
        item->addChild(String("j"), String("t"));
    }
    return root;
}

TEST_F(WorkMeterTest, XMLWalksStopAtTheFirstReportAndGoOnOtherwise) {
    constexpr i32 kItems = 16 * kWorkPollUnits;
    XML* root = bigTree(kItems);
    using Walk = std::function<i32(const XML*, WorkMeter*)>;    // the size of what it made
    auto count = [](XML* list) {
        const i32 n = list->getChildCount();
        list->release();
        return n;
    };
    auto length = [](const String& text) { return text.length(); };
    const struct {
        const char* name;
        Walk walk;
    } walks[] = {
        {"children", [&](const XML* x, WorkMeter* m) { return count(x->find(String("*"), 0, m)); }},
        {"by name", [&](const XML* x, WorkMeter* m) { return count(x->find(String("i"), 0, m)); }},
        {"descendants by name",
         [&](const XML* x, WorkMeter* m) { return count(x->find(String("j"), XML::kDescendants, m)); }},
        {"descendants", [&](const XML* x, WorkMeter* m) { return count(x->getDescendants(m)); }},
        {"by kind", [&](const XML* x, WorkMeter* m) { return count(x->findByKind(XML::kElement, 0, m)); }},
        {"toXMLString",
         [&](const XML* x, WorkMeter* m) {
             String out;
             return length(x->toXMLString(out, 2, m));
         }},
        {"toString",
         [&](const XML* x, WorkMeter* m) {
             String out;
             return length(x->toString(out, -1, m));
         }},
        {"copy",
         [&](const XML* x, WorkMeter* m) {
             XML* made = x->copy(true, m);
             String out;
             const i32 n = made->toXMLString(out, -1).length();
             made->release();
             return n;
         }},
    };
    for (const auto& w : walks) {
        SCOPED_TRACE(w.name);
        const i32 whole = w.walk(root, nullptr);
        ASSERT_GT(whole, 0);

        callbacks.stopAt = 0;
        WorkMeter going;
        EXPECT_EQ(w.walk(root, &going), whole);
        EXPECT_FALSE(going.isStopped());

        callbacks.stopAt = 1;
        callbacks.reports = 0;
        WorkMeter stopping;
        const i32 part = w.walk(root, &stopping);
        EXPECT_TRUE(stopping.isStopped());
        EXPECT_EQ(callbacks.reports, 1u);
        EXPECT_LT(part, whole / 8) << "the walk went on after the stop";
    }
    root->release();
}

}  // namespace
}  // namespace LxCore
