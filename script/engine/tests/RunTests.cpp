// Guarded entries, deadlines, halting and the status checks; evaluation in
// a stopped frame; a hand-built tree run through eval.
#include <vector>

#include "core/ErrorCodes.h"
#include "script/engine/ops/Assignments.h"
#include "script/engine/ops/References.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

namespace Err = LxCore::Err;

u32 fakeMs = 0;
u32 fakeClock() { return fakeMs; }

class DeadlineTest : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        fakeMs = 1000 * 50;
        LxCore::setTickSourceForTests(fakeClock);
    }
    // The tick at which the run's deadline fires, advancing one tick at a
    // time and checking at once after each; -1 when it never does.
    i32 tickOfTimeout(i32 timeoutMs, u32 pauseAt = 0, u32 resumeAt = 0) {
        i32 fired = -1;
        const u32 start = fakeMs / 50;
        runOp(
            [&](jsRunner& runner, Variant&) {
                for (u32 tick = start; tick < start + 20; tick++) {
                    fakeMs = tick * 50;
                    if (pauseAt && tick == pauseAt)
                        runner.engine->pauseTimeout(true);
                    if (resumeAt && tick == resumeAt)
                        runner.engine->pauseTimeout(false);
                    if (!runner.engine->checkTimeoutNow()) {
                        fired = i32(tick - start);
                        break;
                    }
                }
                return runner.status();
            },
            timeoutMs);
        return fired;
    }
};

TEST_F(DeadlineTest, TimeoutsBecomeTicksOfFiftyMilliseconds) {
    EXPECT_EQ(tickOfTimeout(120), 2);
    EXPECT_EQ(engine->getError().getCode(), Err::kEngineTimeout);
    engine->clearError();
    EXPECT_EQ(tickOfTimeout(30), 0);    // under one tick: the current tick
    engine->clearError();
    EXPECT_EQ(tickOfTimeout(0), -1);    // no deadline
}

TEST_F(DeadlineTest, APauseMovesTheDeadline) {
    // Paused at tick 1 for 5 ticks: the deadline of tick 2 moves to 7, and
    // a check while paused never fires.
    const u32 start = fakeMs / 50;
    EXPECT_EQ(tickOfTimeout(100, start + 1, start + 6), 7);
}

TEST_F(DeadlineTest, ANestedEntryWithoutTimeoutRunsWithoutDeadline) {
    // The nested run takes 10 ticks under an outer deadline of 2: it ends
    // well, and the outer deadline is back for the rest of the outer run.
    i32 inner = 0;
    i32 outer = 0;
    runOp(
        [&](jsRunner& runner, Variant&) {
            RealEngine& e = *runner.engine;
            RealEngine::EntryState entry;
            e.enterRun(entry, 0);
            fakeMs += 10 * 50;
            inner = e.checkTimeoutNow() ? 1 : -1;
            e.leaveRun(entry);
            outer = e.checkTimeoutNow() ? 1 : -1;
            return runner.status();
        },
        100);
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(outer, -1);
    EXPECT_EQ(engine->getError().getCode(), Err::kEngineTimeout);
}

class CountingCallback : public Callback {
public:
    std::vector<i32> runningAt;
    i32 calls = 0;
    void running(Engine&) override { runningAt.push_back(calls); }
};

TEST_F(DeadlineTest, StatusChecksRunThePeriodicCheckEveryThirtySecondCall) {
    CountingCallback callback;
    engine->setCallback(&callback);
    runOp([&](jsRunner& runner, Variant&) {
        for (callback.calls = 1; callback.calls <= 100; callback.calls++) {
            fakeMs += 2 * 50;
            runner.engine->checkStatus();
        }
        return runner.status();
    });
    engine->setCallback(nullptr);
    // The function body's check on entry is the run's first call (0 here);
    // then calls 33, 65 and 97 of the run.
    EXPECT_EQ(callback.runningAt, (std::vector<i32>{0, 32, 64, 96}));
}

// Long native work: every kWorkPollUnits units one look at the clock while
// something can stop the run, none otherwise; false at the first look past
// the deadline.
u32 clockReads = 0;
u32 countingClock() {
    clockReads++;
    return fakeMs;
}

TEST_F(DeadlineTest, WorkPollsLookAtTheClockEveryPollIntervalWhenAsked) {
    LxCore::setTickSourceForTests(countingClock);
    constexpr u32 kUnits = 10 * LxCore::kWorkPollUnits;
    const struct {
        const char* name;
        i32 timeoutMs;
        bool callback;
        u32 reads;
    } rows[] = {
        {"nothing to look at", 0, false, 0},
        {"a deadline", 60000, false, 10},
        {"a callback", 0, true, 10},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        CountingCallback callback;
        if (r.callback)
            engine->setCallback(&callback);
        u32 reads = 0;
        u64 units = 0;
        runOp(
            [&](jsRunner& runner, Variant&) {
                RealEngine& e = *runner.engine;
                const u32 before = clockReads;
                const u64 start = e.getWorkUnits();
                for (u32 i = 0; i < kUnits; i++)
                    if (!e.pollWork())
                        break;
                reads = clockReads - before;
                units = e.getWorkUnits() - start;
                return runner.status();
            },
            r.timeoutMs);
        engine->setCallback(nullptr);
        EXPECT_EQ(engine->getError().getCode(), 0);
        // Wherever the countdown stood, 10 intervals hold 10 looks.
        EXPECT_EQ(reads, r.reads);
        EXPECT_EQ(units, kUnits);
    }
}

TEST_F(DeadlineTest, WorkPollsStopAtTheFirstLookPastTheDeadline) {
    u32 polled = 0;
    runOp(
        [&](jsRunner& runner, Variant&) {
            RealEngine& e = *runner.engine;
            fakeMs += 10 * 50;
            while (e.pollWork() && polled < 10 * LxCore::kWorkPollUnits)
                polled++;
            return runner.status();
        },
        100);
    EXPECT_EQ(engine->getError().getCode(), Err::kEngineTimeout);
    EXPECT_LT(polled, LxCore::kWorkPollUnits);
}

// From here on the clock moves only as the engine reads it, one millisecond a
// reading: a run that ends at its deadline has read it about as many times as
// the deadline has milliseconds, whatever else the machine is doing.

u32 readingClock() { return fakeMs++; }

class ReadingClock {
public:
    ReadingClock() {
        fakeMs = 1000 * 50;
        LxCore::setTickSourceForTests(readingClock);
    }
    ~ReadingClock() { LxCore::setTickSourceForTests(nullptr); }
};

// Milliseconds the clock has moved since the reading start.
i64 millisecondsSince(u32 start) { return i64(fakeMs - start); }

Status endless(jsRunner& runner, Variant&) {
    while (runner.engine->checkStatus()) {
    }
    return runner.status();
}

TEST_F(RunTest, AnEndlessRunEndsAtItsDeadline) {
    ReadingClock clock;
    const u32 start = fakeMs;
    EXPECT_EQ(runOp(endless, 200), Err::kEngineTimeout);
    EXPECT_GE(millisecondsSince(start), 200);
    EXPECT_LT(millisecondsSince(start), 400);
    // The same from source.
    EXPECT_EQ(run("while (true) ;", nullptr, 200), Err::kEngineTimeout);
}

TEST_F(RunTest, ATightLoopOfEachKindEndsAtItsDeadline) {
    ReadingClock clock;
    const char* const loops[] = {
        "for (;;) { var a = 1; }",
        "var a = 1; for (;;) { if (a) a = 1; }",
        "for (var i = 0; ; i++) ;",
        "for (var i = 0; i < 1e15; i++) ;",
        "(function () { for (var i = 0; i < 1e15; i++) ; })();",
        "(function () { for (var i = 0; i < 1e15; i++) { var a = i; } })();",
        "do ; while (true);",
        "while (true) { var a = 1; var b = 2; }",
        "var o = {a: 1}; while (true) for (var k in o) ;",
        "L: while (true) { continue L; }",
        "while (true) { try { continue; } finally {} }",
    };
    for (const char* source : loops) {
        SCOPED_TRACE(source);
        const u32 start = fakeMs;
        EXPECT_EQ(run(source, nullptr, 200), Err::kEngineTimeout);
        EXPECT_GE(millisecondsSince(start), 200);
        EXPECT_LT(millisecondsSince(start), 400);
        engine->clearError();
    }
}

class HaltingDebugger : public Debugger {
public:
    void breakExecution(Engine&) override {}
    void endOfRun(Engine&) override {}
    void poll(Engine& engine) override { static_cast<RealEngine&>(engine).halt(); }
};

TEST_F(RunTest, AHaltFromTheDebuggersPollEndsTheRun) {
    HaltingDebugger hook;
    engine->setDebugger(&hook);
    EXPECT_EQ(run("for (;;) {}"), Err::kExecutionHalted);
    engine->setDebugger(nullptr);
}

// Stops once; while stopped, evaluates an endless loop in the frame.
class EvaluatingDebugger : public Debugger {
public:
    i32 code = 0;
    i64 took = 0;
    void breakExecution(Engine& engine) override {
        auto& e = static_cast<RealEngine&>(engine);
        const u32 start = fakeMs;
        Variant result;
        code = e.evalInFrame(e.getCurrentFrame()->thisObject, LxCore::String("while (true) ;"), &result);
        took = i64(fakeMs - start);
    }
    void endOfRun(Engine&) override {}
    void poll(Engine&) override {}
};

TEST_F(RunTest, AnEvaluationWhileStoppedHasADeadlineOfItsOwn) {
    ReadingClock clock;
    // The outer run's clock is paused while it is stopped: the evaluation
    // ends at its own limit, and the outer run goes on and ends well
    // although the stop outlasted its deadline.
    EvaluatingDebugger hook;
    engine->setDebugger(&hook);
    engine->setFrameEvalTimeout(300);
    const i32 code = runOp(
        [](jsRunner& runner, Variant&) {
            runner.engine->enterDebugger(LxCore::String());
            runner.engine->checkTimeoutNow();
            return runner.status();
        },
        150);
    engine->setDebugger(nullptr);
    EXPECT_EQ(hook.code, Err::kEngineTimeout);
    EXPECT_GE(hook.took, 200);
    EXPECT_LT(hook.took, 1000);
    EXPECT_EQ(code, 0);
}

TEST_F(RunTest, AHandBuiltTreeRunsThroughEvalUnderADeadline) {
    ASSERT_EQ(run("var x, o = {a: {}};"), 0);
    // x = 1; o.a.b = x++
    auto* list = new jsOpStatements;
    const Variant one(1);
    list->appendStatement(
        new jsOpExprStatement(new jsOpAssign(new jsOpVariable(sym("x"), false), nullptr, &one, false)));
    auto* target = new jsOpProperty(new jsOpProperty(new jsOpVariable(sym("o"), false), sym("a"), false),
                                    sym("b"), false);
    auto* increment = new jsOpIncDec(new jsOpVariable(sym("x"), false), 1, true);
    list->appendStatement(new jsOpExprStatement(new jsOpAssign(target, increment, nullptr, false)));
    ScopeInfo* info = new ScopeInfo;
    info->flags = ScopeInfo::kScriptScope;
    auto* root = new jsOpFunction(info, -1);
    root->setChild(list);
    engine->nextTree = root;
    Variant result;
    EXPECT_EQ(run("hand-built", &result, 1000), 0);
    EXPECT_EQ(text(global("x")), "2");
    Variant b;
    ASSERT_EQ(run("o.a.b", &b), 0);
    EXPECT_EQ(text(b), "1");
    EXPECT_EQ(text(result), "1");   // a script's completion value
}

TEST_F(RunTest, EvalOfAnEmptyTextSucceedsWithoutAValue) {
    Variant result(5);
    EXPECT_TRUE(engine->eval(LxCore::String(""), &result, 0, 0, nullptr, nullptr));
    EXPECT_EQ(result.getType(), Variant::kUndefined);
}

}  // namespace
}  // namespace LxScript
