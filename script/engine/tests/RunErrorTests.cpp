// Engine errors as runs see them: precedence and the pending code, the
// frame's error marker, the debugger break rule for caught errors, errors
// as results, and evaluation in a frame.
#include "script/engine/ops/References.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

TEST_F(RunTest, ThePendingCodeFollowsTheErrorByItsPrecedence) {
    struct Row {
        i32 first, second, wanted;
    };
    const Row rows[] = {
        {8, -28, -28},      // a fatal error replaces an ordinary one
        {8, 21, 8},         // the first ordinary error stays
        {-35, 21, -35},
        {21, 0, 21},        // 0 is never recorded
    };
    for (const Row& row : rows) {
        engine->clearError();
        engine->setError(row.first);
        engine->setError(row.second);
        EXPECT_EQ(engine->getError().getCode(), row.wanted) << row.first << " then " << row.second;
        EXPECT_EQ(engine->getPendingCode(), row.wanted);
    }
    engine->clearError();
    EXPECT_EQ(engine->getPendingCode(), 0);
}

TEST_F(RunTest, RestoringAnErrorSetsTheFramesMarkerOnlyForCatchableCodes) {
    u32 fatalMarker = 1;
    u32 ordinaryMarker = 0;
    runOp([&](jsRunner& runner, Variant&) {
        RealEngine& e = *runner.engine;
        e.restoreError(LxCore::Error(-35, LxCore::String(), true));
        fatalMarker = runner.errorMarker;
        e.restoreError(LxCore::Error(21, LxCore::String("x"), true));
        ordinaryMarker = runner.errorMarker;
        e.clearError();
        return runner.status();
    });
    EXPECT_EQ(fatalMarker, 0u);
    EXPECT_EQ(ordinaryMarker, u32(Sym::kError));
}

class CountingDebugger : public Debugger {
public:
    i32 breaks = 0;
    void breakExecution(Engine&) override { breaks++; }
    void endOfRun(Engine&) override {}
    void poll(Engine&) override {}
};

TEST_F(RunTest, Flag0x400SkipsTheDebuggerForErrorsATryCatches) {
    CountingDebugger hook;
    engine->setDebugger(&hook);
    struct Row {
        u32 flags;
        const char* source;
        i32 breaks;
    };
    const Row rows[] = {
        {0x400, "try { null.x; } catch (e) {}", 0},
        {0x400, "null.x;", 1},
        {0, "try { null.x; } catch (e) {}", 1},
    };
    for (const Row& row : rows) {
        hook.breaks = 0;
        engine->clearError();
        engine->setDebugFlags(row.flags);
        engine->setDebugLevel(1);
        run(row.source);
        EXPECT_EQ(hook.breaks, row.breaks) << row.source << " with " << row.flags;
    }
    engine->setDebugger(nullptr);
}

// The debugger stops at a throw and reads where it lies, whether a try of
// the same function takes the error afterwards or nothing does.
class WhereDebugger : public CountingDebugger {
public:
    i32 line = -2;
    LxCore::String source;
    void breakExecution(Engine& e) override {
        if (breaks++ > 0)
            return;
        const LxCore::ErrorRecord* record = e.getError().getRecord();
        line = record ? record->line : -3;
        source = record ? record->source : LxCore::String();
    }
};

TEST_F(RunTest, TheDebuggerReadsWhereAThrowLiesInsideATryAsOutside) {
    WhereDebugger hook;
    engine->setDebugger(&hook);
    struct Row {
        const char* source;
        i32 line;
    };
    const Row rows[] = {
        {"var a = 1;\ntry {\n  a++;\n  throw a;\n} catch (e) { a = 0;\n a++; }", 3},
        {"var a = 1;\ntry {\n  try {\n throw a;\n } finally { a = 0;\n a++; }\n} catch (e) {}", 3},
        {"function f() {\n  try {\n    throw 1;\n  } catch (e) {}\n}\nf();", 2},
        {"var a = 1;\n\nthrow a;", 2},
    };
    for (const Row& row : rows) {
        hook.line = -2;
        hook.breaks = 0;
        engine->clearError();
        engine->setDebugFlags(0);
        engine->setDebugLevel(1);
        run(row.source);
        EXPECT_EQ(hook.line, row.line) << row.source << " (" << hook.breaks << " breaks)";
        EXPECT_EQ(hook.source, LxCore::String(row.source)) << row.source;
    }
    engine->setDebugger(nullptr);
}

TEST_F(RunTest, Flag0x40ReturnsTheErrorAsTheResult) {
    Variant result;
    EXPECT_EQ(run("null.x", &result, 0, 0x40), 21);
    EXPECT_NE(objectOf(result), nullptr);
    ASSERT_NE(objectOf(result), nullptr);
    EXPECT_EQ(objectOf(result)->getClassID(), Sym::kError);    // every Error object's class
    Variant name;
    objectOf(result)->get(sym("name"), name, 0);
    EXPECT_EQ(text(name), "TypeError");                         // the class of error 21
    engine->clearError();
    EXPECT_EQ(run("null.x", &result, 0, 0x41), 21);
    ASSERT_EQ(result.getType(), Variant::kString);
    EXPECT_NE(text(result).find("null"), std::string::npos) << text(result);
}

TEST_F(RunTest, EvaluatingBadSyntaxInAFrameGivesAnErrorObjectAndKeepsTheError) {
    ASSERT_EQ(run("undefinedName"), 2);
    Variant result;
    const i32 code = engine->evalInFrame(engine->getGlobalObject(), LxCore::String("var = ;"), &result);
    EXPECT_EQ(code, 17);    // "Variable name expected"
    EXPECT_NE(objectOf(result), nullptr);
    EXPECT_EQ(engine->getError().getCode(), 2);
    EXPECT_EQ(engine->getPendingCode(), 2);
}

TEST_F(RunTest, AnUncaughtErrorCarriesTheLineOfTheFailingStatement) {
    run("var a = 1;\nvar b = 2;\nnull.x;");
    EXPECT_EQ(engine->getErrorInfo().line, 2);
    EXPECT_EQ(engine->getErrorInfo().code, 21);
}


TEST_F(RunTest, StrictModeMakesAWriteToAReadOnlyPropertyAnError) {
    ASSERT_EQ(run("const fixed = 1; fixed = 2;"), 0);
    engine->setDebugFlags(0x100);
    EXPECT_EQ(run("fixed = 3;"), 46);
    engine->setDebugFlags(0);
    Variant value;
    engine->clearError();
    ASSERT_EQ(run("fixed", &value), 0);
    EXPECT_EQ(text(value), "1");
}

// The $ object's write hands the text to the debugger hook's text output.
class TraceHook : public Debugger {
public:
    std::string written;
    void breakExecution(Engine&) override {}
    void endOfRun(Engine&) override {}
    void poll(Engine&) override {}
    void writeText(Engine&, const LxCore::String& line) override { written += text(Variant(line)); }
};

TEST_F(RunTest, TracingWritesThroughDollarWithoutTracingItsOwnWrite) {
    TraceHook hook;
    engine->setDebugger(&hook);
    engine->setDebugFlags(0x2);
    EXPECT_EQ(run("var a = 1;\nvar b = 2;"), 0);
    engine->setDebugFlags(0);
    engine->setDebugger(nullptr);
    const std::string lines = hook.written;
    // Depth, the frame, then the 0-based line and its text; the write
    // itself, script too, leaves no line.
    EXPECT_NE(lines.find("  0 var a = 1;\r\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("  1 var b = 2;\r\n"), std::string::npos) << lines;
}

TEST_F(RunTest, ASlotOutsideTheLayoutIsAnInternalError) {
    engine->nextTree = scriptOf(new jsOpLocalVariable(5, sym("nowhere")));
    EXPECT_EQ(run("hand-built"), -33);
}

}  // namespace
}  // namespace LxScript
