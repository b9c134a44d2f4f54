// The debugger service against a real engine: a scripted hook runs one
// list of service calls at each stop and records where it stopped.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/LiveObject.h"
#include "core/String.h"
#include "script/composition/InitTerm.h"
#include "script/composition/jsEngine.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/engine/Script.h"
#include "script/library/debug/DebugAPI.h"

namespace LxScript {
namespace {

using LxCore::String;

std::string narrow(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); i++)
        out += char(s.chars()[i]);
    return out;
}

std::string textOf(const Variant& v) { return narrow(v.toString()); }

DataPoolId fileSymbol(const char* name) { return DataPool::get().add(name); }

// getProperties hands out its copies: the caller frees them.
class PropertyTable : public LxCore::THashTable<Variant> {
public:
    ~PropertyTable() {
        LxCore::SimpleArray entries;
        getEntries(entries);
        for (i32 i = 0; i < entries.getCount(); i++)
            delete reinterpret_cast<Entry*>(entries.get(i))->value;
    }
};

// At each stop: records "line frame" (line from 1, the innermost frame's
// text), then runs the next step; without one it continues.
class ScriptedHook : public Debugger {
public:
    using Step = std::function<void(DebugAPI&)>;
    std::deque<Step> steps;
    std::vector<std::string> stops;
    std::function<void(Engine&)> onPoll;
    i32 polls = 0;

    void breakExecution(Engine& engine) override {
        DebugAPI& api = *debugAPIOf(engine);
        std::string innermost = narrow(api.getStackTrace(0, 1));
        if (!innermost.empty() && innermost.back() == '\n')
            innermost.pop_back();
        stops.push_back(std::to_string(api.getSourceLine() + 1) + " " + innermost);
        if (steps.empty()) {
            api.command(DebugAPI::kContinue, false);
            return;
        }
        Step step = std::move(steps.front());
        steps.pop_front();
        step(api);
    }
    void endOfRun(Engine&) override {}
    void poll(Engine& engine) override {
        polls++;
        if (onPoll)
            onPoll(engine);
    }
};

// A command as a step.
ScriptedHook::Step send(DebugAPI::Cmd cmd) {
    return [cmd](DebugAPI& api) { api.command(cmd, false); };
}

// Lines as the user counts them: f on 1-4, the call on 5.
const char* const kCallScript =
    "function f(a) {\n"        // 1
    "  var b = a + 1;\n"       // 2
    "  return b;\n"            // 3
    "}\n"                      // 4
    "var x = f(3);\n"          // 5
    "var y = x;\n"             // 6
    "var z = y;\n";            // 7

// h called from g called from f: breakpoints in g (5) and h (2).
const char* const kNestedScript =
    "function h() {\n"         // 1
    "  var r = 0;\n"           // 2
    "}\n"                      // 3
    "function g() {\n"         // 4
    "  var q = 1;\n"           // 5
    "  h();\n"                 // 6
    "}\n"                      // 7
    "function f() {\n"         // 8
    "  g();\n"                 // 9
    "  return 1;\n"            // 10
    "}\n"                      // 11
    "f();\n"                   // 12
    "var y = 2;\n";            // 13

// A loop whose body has lines of its own, and one all on one line.
const char* const kLoopScript =
    "var s = 0;\n"                        // 1
    "for (var i = 0; i < 3; i++) {\n"     // 2
    "  s += i;\n"                         // 3
    "}\n"                                 // 4
    "var t = s;\n"                        // 5
    "for (i = 0; i < 2; i++) s += i;\n"   // 6
    "var u = s;\n";                       // 7

class DebugAPITest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        engine.reset(new jsEngine);
        engine->initialize();
        api = debugAPIOf(*engine);
        ASSERT_NE(api, nullptr);
        engine->setDebugger(&hook);
        engine->setDebugLevel(1);
    }
    void TearDown() override {
        engine->setDebugger(nullptr);
        engine.reset();
        InitTerm::exit();
    }

    // Breakpoints at user lines of "t.tvs".
    void breakAt(std::initializer_list<i32> lines, const char* condition = "") {
        LxCore::TSimpleArray<BreakpointInfo> list;
        for (i32 line : lines) {
            auto* b = new BreakpointInfo;
            b->file = i32(fileSymbol("t.tvs"));
            b->line = line - 1;
            b->condition = String(condition);
            list.add(b);
        }
        api->setBreakpoints(&list);
        freeAll(list);
    }
    template <class T>
    static void freeAll(LxCore::TSimpleArray<T>& list) {
        for (i32 i = 0; i < list.getCount(); i++)
            delete list.get(i);
        list.setCount(0);
    }
    // The script as "t.tvs"; the error code afterwards.
    i32 run(const char* source, i32 timeout = 0, Variant* result = nullptr) {
        engine->clearError();
        Variant scratch;
        const String name("t.tvs");
        engine->eval(String(source), result ? result : &scratch, timeout, 0, nullptr, &name);
        return engine->getError().getCode();
    }
    Variant global(const char* name) {
        Variant v;
        engine->getGlobalObject()->get(DataPool::get().add(name), v, 0);
        return v;
    }

    std::unique_ptr<jsEngine> engine;
    DebugAPI* api = nullptr;
    ScriptedHook hook;
};

// ---------------------------------------------------------------------------
// Run control

struct RunRow {
    const char* name;
    const char* script;
    std::vector<i32> breakpoints;
    std::vector<DebugAPI::Cmd> commands;     // one per stop, then continue
    std::vector<std::string> stops;
};

TEST_F(DebugAPITest, RunControl) {
    using C = DebugAPI;
    const RunRow rows[] = {
        {"continue runs to the end", kCallScript, {5}, {}, {"5 [t.tvs]"}},
        // A function's first line is its header (its body's line hook).
        {"step into enters the callee", kCallScript, {5}, {C::kStepInto}, {"5 [t.tvs]", "1 f(3)"}},
        {"step over stays in the frame", kCallScript, {5}, {C::kStepOver}, {"5 [t.tvs]", "6 [t.tvs]"}},
        {"step out stops after the call", kCallScript, {2}, {C::kStepOut}, {"2 f(3)", "6 [t.tvs]"}},
        // The closing brace is a line of its own.
        {"stepping past a callee's end goes on in the caller", kCallScript, {2},
         {C::kStepInto, C::kStepInto, C::kStepInto}, {"2 f(3)", "3 f(3)", "4 f(3)", "6 [t.tvs]"}},
        {"step over at the closing brace", kCallScript, {4}, {C::kStepOver}, {"4 f(3)", "6 [t.tvs]"}},
        {"step over a line that meets a breakpoint", kNestedScript, {9, 2}, {C::kStepOver, C::kStepOver},
         {"9 f()", "2 h()", "3 h()"}},
        // The caller keeps the request of the step: continue drops it.
        {"continue after a step over that met a breakpoint", kNestedScript, {9, 2}, {C::kStepOver},
         {"9 f()", "2 h()"}},
        {"continue after a step out that met a breakpoint", kNestedScript, {5, 2}, {C::kStepOut},
         {"5 g()", "2 h()"}},
        // Every pass reaches the body's line, and the loop's line at its end.
        {"a breakpoint in a loop's body stops on every pass", kLoopScript, {3}, {},
         {"3 [t.tvs]", "3 [t.tvs]", "3 [t.tvs]"}},
        {"stepping through a loop", kLoopScript, {2},
         {C::kStepOver, C::kStepOver, C::kStepOver, C::kStepOver, C::kStepOver, C::kStepOver, C::kStepOver},
         {"2 [t.tvs]", "3 [t.tvs]", "2 [t.tvs]", "3 [t.tvs]", "2 [t.tvs]", "3 [t.tvs]", "2 [t.tvs]",
          "5 [t.tvs]"}},
        {"a breakpoint on a one-line loop", kLoopScript, {6}, {}, {"6 [t.tvs]", "6 [t.tvs]", "6 [t.tvs]"}},
    };
    for (const RunRow& row : rows) {
        SCOPED_TRACE(row.name);
        hook.stops.clear();
        hook.steps.clear();
        for (DebugAPI::Cmd cmd : row.commands)
            hook.steps.push_back(send(cmd));
        LxCore::TSimpleArray<BreakpointInfo> list;
        breakAt({});
        for (i32 line : row.breakpoints) {
            auto* b = new BreakpointInfo;
            b->file = i32(fileSymbol("t.tvs"));
            b->line = line - 1;
            list.add(b);
        }
        api->setBreakpoints(&list);
        freeAll(list);
        EXPECT_EQ(run(row.script), 0);
        EXPECT_EQ(hook.stops, row.stops);
    }
}

// The script switches debugging on or off as it runs: the next line sees it.
TEST_F(DebugAPITest, TheDebugLevelSetByTheScriptTakesEffectAtTheNextLine) {
    const struct {
        i32 levelBefore;
        const char* script;
        std::vector<std::string> stops;
    } rows[] = {
        {0, "$.level = 1;\nvar a = 1;\nvar b = 2;\n", {"2 [t.tvs]", "3 [t.tvs]"}},
        {0, "for (var i = 0; i < 2; i++) {\n  if (i == 1) $.level = 1;\n  var a = i;\n}\n", {"3 [t.tvs]"}},
        {1, "$.level = 0;\nvar a = 1;\nvar b = 2;\n", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        hook.stops.clear();
        engine->setDebugLevel(row.levelBefore);
        breakAt({2, 3});
        EXPECT_EQ(run(row.script), 0);
        EXPECT_EQ(hook.stops, row.stops);
    }
}

TEST_F(DebugAPITest, BreakFromThePollStopsAtTheNextLine) {
    hook.onPoll = [this](Engine&) {
        if (hook.stops.empty())
            api->command(DebugAPI::kBreak, false);
    };
    EXPECT_EQ(run("var t = new Date().getTime(); var n = 0;\n"
                  "while (new Date().getTime() - t < 300) n++;\n"
                  "var done = 1;\n"),
              0);
    ASSERT_EQ(hook.stops.size(), 1u);
    EXPECT_NE(hook.stops[0].find(" [t.tvs]"), std::string::npos) << hook.stops[0];
}

TEST_F(DebugAPITest, CommandsFollowTheState) {
    // Not stopped: only halt and break.
    const DebugAPI::Cmd all[] = {DebugAPI::kHalt, DebugAPI::kBreak, DebugAPI::kContinue, DebugAPI::kStepInto,
                                 DebugAPI::kStepOver, DebugAPI::kStepOut};
    const bool idle[] = {true, true, false, false, false, false};
    const bool stopped[] = {true, false, true, true, true, true};
    for (size_t i = 0; i < 6; i++)
        EXPECT_EQ(api->isCommandEnabled(all[i]), idle[i]) << char(all[i]);
    EXPECT_FALSE(api->isCommandEnabled(DebugAPI::Cmd('x')));
    EXPECT_EQ(api->getDebugState(), DebugAPI::kRunning);
    std::vector<bool> seen;
    hook.steps.push_back([&](DebugAPI& a) {
        for (DebugAPI::Cmd cmd : all)
            seen.push_back(a.isCommandEnabled(cmd));
        a.command(DebugAPI::kContinue, false);
    });
    breakAt({5});
    EXPECT_EQ(run(kCallScript), 0);
    EXPECT_EQ(seen, std::vector<bool>(stopped, stopped + 6));
}

TEST_F(DebugAPITest, TheStateFollowsTheError) {
    struct Row {
        i32 code;
        DebugAPI::State state;
    };
    const Row rows[] = {{0, DebugAPI::kStopped}, {5, DebugAPI::kError}, {-34, DebugAPI::kError},
                        {-35, DebugAPI::kFatal}, {-28, DebugAPI::kFatal}};
    std::vector<char> states;
    hook.steps.push_back([&](DebugAPI&) {
        for (const Row& row : rows) {
            engine->clearError();
            if (row.code)
                engine->setError(row.code);
            states.push_back(char(api->getDebugState()));
        }
        engine->clearError();
        api->command(DebugAPI::kContinue, false);
    });
    breakAt({5});
    EXPECT_EQ(run(kCallScript), 0);
    ASSERT_EQ(states.size(), 5u);
    for (size_t i = 0; i < 5; i++)
        EXPECT_EQ(states[i], char(rows[i].state)) << rows[i].code;
}

TEST_F(DebugAPITest, HaltLeavesMinus34AndResumes) {
    char after = 0;
    i32 code = 0;
    hook.steps.push_back([&](DebugAPI& a) {
        a.command(DebugAPI::kHalt, false);
        after = char(a.getDebugState());
        code = engine->getError().getCode();
    });
    breakAt({5});
    EXPECT_EQ(run(kCallScript), -34);
    EXPECT_EQ(after, 'R');
    EXPECT_EQ(code, -34);
    EXPECT_EQ(hook.stops.size(), 1u);
    EXPECT_FALSE(global("y").toBoolean()) << "nothing ran after the halt";
}

// The statement raises 2 and then 21; each breaks in.
TEST_F(DebugAPITest, IgnoreErrorsClearsTheErrorBeforeResuming) {
    const char* const script = "var a = 1;\nundefinedName.x = 1;\nvar b = 2;\n";
    hook.steps.push_back([](DebugAPI& a) { a.command(DebugAPI::kContinue, true); });
    hook.steps.push_back([](DebugAPI& a) { a.command(DebugAPI::kContinue, true); });
    EXPECT_EQ(run(script), 0);
    EXPECT_EQ(hook.stops, (std::vector<std::string>{"2 [t.tvs]", "2 [t.tvs]"}));
    EXPECT_EQ(textOf(global("b")), "2");
    hook.stops.clear();
    EXPECT_EQ(run(script), 2) << "kept, the error ends the run";
    EXPECT_EQ(hook.stops.size(), 1u);
}

// The engine's halt while stopped resumes as the debugger's halt does.
TEST_F(DebugAPITest, TheEnginesHaltWhileStopped) {
    char after = 0;
    hook.steps.push_back([&](DebugAPI& a) {
        engine->halt();
        after = char(a.getDebugState());
    });
    breakAt({2});
    EXPECT_EQ(run(kCallScript), -34);
    EXPECT_EQ(after, 'R');
    EXPECT_EQ(hook.stops.size(), 1u);
}

// An idle engine keeps no -34 that would refuse the next run.
TEST_F(DebugAPITest, HaltWhileIdleLeavesNoError) {
    engine->clearError();
    api->command(DebugAPI::kHalt, false);
    EXPECT_EQ(engine->getError().getCode(), 0);
    Variant v;
    engine->eval(String("1 + 2"), &v, 0, 0, nullptr, nullptr);
    EXPECT_EQ(textOf(v), "3");
}

// From the poll while a script runs: the run ends with -34.
TEST_F(DebugAPITest, HaltFromThePollEndsTheRun) {
    hook.onPoll = [this](Engine&) { api->command(DebugAPI::kHalt, false); };
    EXPECT_EQ(run("while (true) ;"), -34);
}

// ---------------------------------------------------------------------------
// Frames, stack and evaluation

TEST_F(DebugAPITest, TheStackAndTheSelectedFrame) {
    std::vector<std::string> traces;
    std::vector<i32> lines;
    std::string function, outerEval, innerEval, source;
    i32 parameters = 0, missing = 0, depth = 0;
    LxCore::Array arguments;
    i32 file = 0;
    hook.steps.push_back([&](DebugAPI& a) {
        depth = a.getStackDepth();
        file = a.getSourceFileID();
        traces.push_back(narrow(a.getStackTrace(0, 1)));
        traces.push_back(narrow(a.getStackTrace(1, 2)));
        traces.push_back(narrow(a.getStackTrace(1, 0x7fffffff)));
        traces.push_back(narrow(a.getStackTrace(0, 0x7fffffff)));
        a.setContextLevel(-3);
        lines.push_back(a.getContextLevel());
        lines.push_back(a.getSourceLine() + 1);
        a.setContextLevel(99);
        lines.push_back(a.getSourceLine() + 1);
        a.setContextLevel(2);
        lines.push_back(a.getSourceLine() + 1);
        Variant v;
        EXPECT_EQ(a.eval(String("typeof q"), v), 0);
        outerEval = textOf(v);
        a.setContextLevel(0);
        EXPECT_EQ(a.eval(String("r + 1"), v), 0);
        innerEval = textOf(v);
        source = narrow(a.getSource());
        String name;
        parameters = a.getContextInfo(0, name, arguments);
        function = narrow(name);
        LxCore::Array none;
        String empty("x");
        missing = a.getContextInfo(9, empty, none);
        EXPECT_TRUE(empty.isEmpty());
        a.command(DebugAPI::kContinue, false);
    });
    breakAt({2});
    EXPECT_EQ(run(kNestedScript), 0);
    EXPECT_EQ(depth, 4);
    EXPECT_EQ(file, i32(fileSymbol("t.tvs")));
    ASSERT_EQ(traces.size(), 4u);
    EXPECT_EQ(traces[0], "h()\n");
    EXPECT_EQ(traces[1], "f()\ng()\n") << "the outer one first";
    EXPECT_EQ(traces[2], "[t.tvs]\nf()\ng()\n");
    EXPECT_EQ(traces[3], "[t.tvs]\nf()\ng()\nh()\n");
    EXPECT_EQ(lines, (std::vector<i32>{0, 2, 12, 9}));
    EXPECT_EQ(outerEval, "undefined") << "f's frame knows no q";
    EXPECT_EQ(innerEval, "NaN") << "r is declared but not yet set";
    EXPECT_NE(source.find("function h()"), std::string::npos);
    EXPECT_EQ(function, "h");
    EXPECT_EQ(parameters, 0);
    EXPECT_EQ(missing, -1);
}

// A name read through one site before and after the debugger's evaluation
// in the frame declared a var of that name there, or changed a variable of
// the enclosing function.
TEST_F(DebugAPITest, EvaluationInAFrameChangesWhatANameMeans) {
    const char* const script =
        "var g = 'global';\n"                            // 1
        "function outer() {\n"                           // 2
        "  var c = 'outer';\n"                           // 3
        "  function f() {\n"                             // 4
        "    var seen = [];\n"                           // 5
        "    for (var i = 0; i < 3; i++) {\n"            // 6
        "      seen.push(g + '/' + c);\n"                // 7
        "      i;\n"                                     // 8
        "    }\n"                                        // 9
        "    return seen.join();\n"                      // 10
        "  }\n"                                          // 11
        "  return f();\n"                                // 12
        "}\n"                                            // 13
        "var r = outer();\n"                             // 14
        "var after = g;\n";                              // 15
    i32 declared = -1, changed = -1;
    hook.steps.push_back([&](DebugAPI& a) {
        Variant v;
        declared = a.eval(String("var g = 'frame'"), v);
        a.command(DebugAPI::kContinue, false);
    });
    hook.steps.push_back([&](DebugAPI& a) {
        Variant v;
        a.setContextLevel(1);
        changed = a.eval(String("c = 'changed'"), v);
        a.command(DebugAPI::kContinue, false);
    });
    breakAt({8});
    EXPECT_EQ(run(script), 0);
    EXPECT_EQ(declared, 0);
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(textOf(global("r")), "global/outer,frame/outer,frame/changed");
    EXPECT_EQ(textOf(global("after")), "global");
}

TEST_F(DebugAPITest, ContextInfoGivesArgumentValues) {
    std::string name;
    std::string first;
    i32 count = 0;
    hook.steps.push_back([&](DebugAPI& a) {
        String n;
        LxCore::Array values;
        count = a.getContextInfo(0, n, values);
        name = narrow(n);
        if (const Variant* v = values.get(0))
            first = textOf(*v);
        Variant result;
        EXPECT_EQ(a.eval(String("a * 2"), result), 0);
        EXPECT_EQ(textOf(result), "6");
        a.command(DebugAPI::kContinue, false);
    });
    breakAt({2});
    EXPECT_EQ(run(kCallScript), 0);
    EXPECT_EQ(name, "f");
    EXPECT_EQ(first, "3");
    EXPECT_EQ(count, 1);
}

TEST_F(DebugAPITest, QueriesWithoutAFrameGiveEmptyAnswers) {
    EXPECT_EQ(api->getStackDepth(), 0);
    EXPECT_EQ(api->getSourceFileID(), 0);
    EXPECT_EQ(api->getSourceLine(), -1);
    EXPECT_TRUE(api->getSource().isEmpty());
    EXPECT_EQ(api->getScript(), nullptr);
    EXPECT_TRUE(api->getStackTrace(0, 10).isEmpty());
    Variant v;
    EXPECT_EQ(api->eval(String("1 + 1"), v), 0);
    EXPECT_EQ(textOf(v), "2");
}

TEST_F(DebugAPITest, TheScriptOfTheFrameCarriesAReference) {
    Script* seen = nullptr;
    hook.steps.push_back([&](DebugAPI& a) {
        seen = a.getScript();
        a.command(DebugAPI::kContinue, false);
    });
    breakAt({5});
    EXPECT_EQ(run(kCallScript), 0);
    ASSERT_NE(seen, nullptr);
    EXPECT_NE(narrow(seen->getSource()).find("var x = f(3);"), std::string::npos);
    seen->release();
}

// ---------------------------------------------------------------------------
// Breakpoints

struct ConditionRow {
    const char* condition;
    bool stops;
};

TEST_F(DebugAPITest, ConditionsStopOnlyWhenTrue) {
    const ConditionRow rows[] = {
        {"a == 3", true},
        {"a == 4", false},
        {"a ==", false},                     // a syntax error never stops
        {"undefinedName.x", false},          // nor a runtime error
        {"", true},
        {"(function () { return a == 3; })()", true},
        {"(function () { var t = new Date().getTime(); return a == 3; })()", true},
    };
    for (const ConditionRow& row : rows) {
        SCOPED_TRACE(row.condition);
        hook.stops.clear();
        breakAt({2}, row.condition);
        EXPECT_EQ(run(kCallScript), 0);
        EXPECT_EQ(hook.stops.size(), row.stops ? 1u : 0u);
        EXPECT_EQ(textOf(global("z")), "4");
    }
}

// $.bp goes through debugBreak: only at a debug level, only when true.
TEST_F(DebugAPITest, ScriptBreaksWithConditions) {
    const char* const script =
        "function f(a) {\n"
        "  $.bp('a == 3');\n"
        "  $.bp('a == 4');\n"
        "  $.bp();\n"
        "}\n"
        "f(3);\n";
    EXPECT_EQ(run(script), 0);
    EXPECT_EQ(hook.stops, (std::vector<std::string>{"2 f(3)", "4 f(3)"}));
    hook.stops.clear();
    engine->setDebugLevel(0);
    EXPECT_EQ(run(script), 0);
    EXPECT_TRUE(hook.stops.empty());
}

TEST_F(DebugAPITest, CompiledCodeNeverStops) {
    Script* script = engine->compile(String(kCallScript), nullptr);
    ASSERT_NE(script, nullptr);
    String compiled;
    ASSERT_EQ(script->writeBinary(compiled), 0);
    script->release();
    breakAt({1, 2, 3, 5, 6, 7});
    engine->setDebugLevel(2);
    Variant scratch;
    const String name("t.tvs");
    engine->eval(compiled, &scratch, 0, 0, nullptr, &name);
    EXPECT_EQ(engine->getError().getCode(), 0);
    EXPECT_TRUE(hook.stops.empty());
    EXPECT_EQ(textOf(global("z")), "4");
}

TEST_F(DebugAPITest, NegativeCountsKeepTheOldCounts) {
    breakAt({2});
    hook.steps.push_back(send(DebugAPI::kContinue));
    EXPECT_EQ(run(kCallScript), 0);
    LxCore::TSimpleArray<BreakpointInfo> now;
    api->getBreakpoints(now);
    ASSERT_EQ(now.getCount(), 1);
    EXPECT_EQ(now.get(0)->count, 1);
    // Replaced: -1 keeps the count at the same place, a new place starts at 0.
    now.get(0)->count = -1;
    auto* fresh = new BreakpointInfo;
    fresh->file = now.get(0)->file;
    fresh->line = 5;
    fresh->count = -1;
    now.add(fresh);
    api->setBreakpoints(&now);
    freeAll(now);
    api->getBreakpoints(now);
    ASSERT_EQ(now.getCount(), 2);
    EXPECT_EQ(now.get(0)->count, 1);
    EXPECT_EQ(now.get(1)->count, 0);
    freeAll(now);
}

TEST_F(DebugAPITest, HitThresholds) {
    LxCore::TSimpleArray<BreakpointInfo> list;
    auto* b = new BreakpointInfo;
    b->file = i32(fileSymbol("t.tvs"));
    b->line = 1;
    b->hits = 3;
    list.add(b);
    api->setBreakpoints(&list);
    freeAll(list);
    EXPECT_EQ(run("for (var i = 0; i < 5; i++) {\n  var k = i;\n}\n"), 0);
    EXPECT_EQ(hook.stops.size(), 3u) << "hit counts 3, 4 and 5 stop";
    // Disabled: counted, never stopping.
    api->getBreakpoints(list);
    ASSERT_EQ(list.getCount(), 1);
    EXPECT_EQ(list.get(0)->count, 5);
    list.get(0)->enabled = 0;
    list.get(0)->count = 0;
    api->setBreakpoints(&list);
    freeAll(list);
    hook.stops.clear();
    EXPECT_EQ(run("for (var i = 0; i < 5; i++) {\n  var k = i;\n}\n"), 0);
    EXPECT_TRUE(hook.stops.empty());
    api->getBreakpoints(list);
    EXPECT_EQ(list.get(0)->count, 5);
    freeAll(list);
}

// The condition's script reaches the hook's poll, which replaces the list
// the condition came from.
TEST_F(DebugAPITest, BreakpointsReplacedWhileTheConditionRuns) {
    // Only from inside the condition (f, the evaluation, its function).
    i32 replaced = 0;
    hook.onPoll = [&](Engine&) {
        if (api->getStackDepth() >= 4) {
            breakAt({6}, "true");
            replaced++;
        }
    };
    breakAt({2}, "(function () { var t = new Date().getTime(); "
                 "while (new Date().getTime() - t < 200) ; return a == 3; })()");
    EXPECT_EQ(run(kCallScript), 0);
    EXPECT_GT(replaced, 0);
    EXPECT_EQ(hook.stops, (std::vector<std::string>{"2 f(3)", "6 [t.tvs]"}));
}

TEST_F(DebugAPITest, TimeStoppedIsNotChargedToTheDeadline) {
    hook.steps.push_back([](DebugAPI& a) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        a.command(DebugAPI::kContinue, false);
    });
    breakAt({5});
    EXPECT_EQ(run(kCallScript, 200), 0);
    EXPECT_EQ(textOf(global("z")), "4");
}

// ---------------------------------------------------------------------------
// Profiler records

TEST_F(DebugAPITest, TwoActivationsGiveOneRecordWithTwoHits) {
    engine->setDebugLevel(0);
    engine->setProfilingLevel(1);
    EXPECT_EQ(run("function f() { return 1; }\nf();\nf();\n"), 0);
    engine->setProfilingLevel(0);
    LxCore::TSimpleArray<ProfilerData> records;
    api->getProfilerData(&records, false);
    i32 functionRecords = 0;
    for (i32 i = 0; i < records.getCount(); i++) {
        const ProfilerData* r = records.get(i);
        EXPECT_EQ(r->next, nullptr);
        if (narrow(DataPool::get().getSymbol(DataPoolId(r->function))) == "f") {
            functionRecords++;
            EXPECT_EQ(r->hits, 2);
        }
    }
    EXPECT_EQ(functionRecords, 1);
    // Ordered by file, function, line.
    for (i32 i = 1; i < records.getCount(); i++) {
        const ProfilerData& a = *records.get(i - 1);
        const ProfilerData& b = *records.get(i);
        EXPECT_TRUE(a.file < b.file || (a.file == b.file && (a.function < b.function ||
                                                              (a.function == b.function && a.line <= b.line))));
    }
    freeAll(records);
    api->getProfilerData(nullptr, true);
    EXPECT_EQ(engine->getProfilerRecords(), nullptr);
    api->getProfilerData(&records, false);
    EXPECT_EQ(records.getCount(), 0);
}

// Per-line records count each pass of a loop; a body on the loop's line
// has no line of its own, so that line counts once (0: the script's own
// record).
TEST_F(DebugAPITest, LineRecordsCountEveryPassOfALoop) {
    engine->setDebugLevel(0);
    engine->setProfilingLevel(3);
    EXPECT_EQ(run(kLoopScript), 0);
    engine->setProfilingLevel(0);
    std::vector<std::string> hits;
    LxCore::TSimpleArray<ProfilerData> records;
    api->getProfilerData(&records, false);
    for (i32 i = 0; i < records.getCount(); i++)
        hits.push_back(std::to_string(records.get(i)->line + 1) + ":" + std::to_string(records.get(i)->hits));
    freeAll(records);
    api->getProfilerData(nullptr, true);
    EXPECT_EQ(hits, (std::vector<std::string>{"0:1", "1:1", "2:1", "3:3", "5:1", "6:1", "7:1"}));
}

// Stopped in f with its record live: evaluating and freeing the records
// leave the frames nothing to write into (clean under the sanitizers).
TEST_F(DebugAPITest, FreeingRecordsWhileFramesRun) {
    for (i32 level : {1, 2, 3, 4}) {
        SCOPED_TRACE(level);
        hook.stops.clear();
        engine->setProfilingLevel(level);
        hook.steps.push_back([](DebugAPI& a) {
            Variant v;
            EXPECT_EQ(a.eval(String("a + 1"), v), 0);
            LxCore::TSimpleArray<ProfilerData> out;
            a.getProfilerData(&out, true);
            EXPECT_GT(out.getCount(), 0);
            for (i32 i = 0; i < out.getCount(); i++)
                delete out.get(i);
            a.getProfilerData(nullptr, true);
            a.command(DebugAPI::kContinue, false);
        });
        breakAt({2});
        EXPECT_EQ(run("function f(a) {\n  var b = a;\n  return b;\n}\nf(1);\nf(2);\n"), 0);
        EXPECT_EQ(hook.stops.size(), 2u);
        // The second call made its record again after the clear.
        bool again = false;
        for (const ProfilerData* r = engine->getProfilerRecords(); r; r = r->next)
            again = again || narrow(DataPool::get().getSymbol(DataPoolId(r->function))) == "f";
        EXPECT_TRUE(again);
        engine->setProfilingLevel(0);
        engine->clearProfilerData();
    }
}

// ---------------------------------------------------------------------------
// Properties

TEST_F(DebugAPITest, PropertiesOfAnObjectAndItsPrototypes) {
    Variant o;
    ASSERT_EQ(run("var proto = {inherited: 1}; var o = {a: 1, b: 'x'}; o.__proto__ = proto; o", 0, &o), 0);
    PropertyTable all, own;
    EXPECT_TRUE(api->getProperties(o, all, true, true));
    EXPECT_TRUE(api->getProperties(o, own, true, false));
    ASSERT_NE(all.get(String("a")), nullptr);
    EXPECT_EQ(textOf(*all.get(String("a"))), "1");
    EXPECT_EQ(textOf(*all.get(String("b"))), "x");
    EXPECT_NE(all.get(String("inherited")), nullptr);
    EXPECT_EQ(own.get(String("inherited")), nullptr);
    EXPECT_NE(own.get(String("a")), nullptr);
}

// A native object whose member "bad" fails to read with error 19.
class Faulty : public LxCore::LiveObject {
public:
    enum : i32 { kGood = 1, kBad = 2 };
    Faulty() : LiveObject("Faulty", false) {}

    i32 findProperty(const String& name, i32& id, u32& kind, u32) override {
        kind = 2;
        if (name.compare("good") == 0)
            id = kGood;
        else if (name.compare("bad") == 0)
            id = kBad;
        else
            return 2;
        return 0;
    }
    u32 getPropertyKind(i32 id) override { return id == kGood || id == kBad ? 2 : 16; }
    i32 getPropertyName(i32 id, String& name, u32) override {
        if (id != kGood && id != kBad)
            return 2;
        name = id == kGood ? "good" : "bad";
        return 0;
    }
    i32 getPropertyIDs(LxCore::SimpleArray& ids, u32) override {
        ids.add(kGood);
        ids.add(kBad);
        return 0;
    }
    i32 get(i32 id, Variant& result, LxCore::Error*) override {
        if (id == kGood) {
            result.setNumber(2);
            return 0;
        }
        return id == kBad ? 19 : 2;
    }
};

class FaultyFixture {
public:
    explicit FaultyFixture(jsEngine& engine) : live(new Faulty) {
        value.setLiveObject(*live, 0);
        engine.importValue(value, true);
    }
    ~FaultyFixture() {
        value.clear();
        live->release();
    }
    Faulty* live;
    Variant value;
};

TEST_F(DebugAPITest, ReadErrorsBecomeEnumErrorsAndTheErrorListIsKept) {
    FaultyFixture faulty(*engine);
    ASSERT_NE(objectOf(faulty.value), nullptr);
    engine->setError(5);
    PropertyTable out;
    EXPECT_TRUE(api->getProperties(faulty.value, out, true, false));
    EXPECT_EQ(engine->getError().getCode(), 5) << "the error before the call is back";
    ASSERT_NE(out.get(String("good")), nullptr);
    EXPECT_EQ(textOf(*out.get(String("good"))), "2");
    const Variant* bad = out.get(String("bad"));
    ASSERT_NE(bad, nullptr);
    Object* error = objectOf(*bad);
    ASSERT_NE(error, nullptr);
    String className;
    error->getClassName(className);
    EXPECT_EQ(narrow(className), "EnumError");
    engine->clearError();
}

TEST_F(DebugAPITest, ErrorsWhileReadingDoNotBreakIn) {
    FaultyFixture faulty(*engine);
    PropertyTable out;
    hook.steps.push_back([&](DebugAPI& a) {
        EXPECT_TRUE(a.getProperties(faulty.value, out, true, false));
        EXPECT_EQ(engine->getError().getCode(), 0);
        a.command(DebugAPI::kContinue, false);
    });
    breakAt({5, 6});
    EXPECT_EQ(run(kCallScript), 0);
    EXPECT_EQ(hook.stops, (std::vector<std::string>{"5 [t.tvs]", "6 [t.tvs]"})) << "and errors still stop";
    EXPECT_NE(out.get(String("bad")), nullptr);
}

TEST_F(DebugAPITest, UndefinedMeansTheSelectedFramesScope) {
    PropertyTable inner, outer;
    hook.steps.push_back([&](DebugAPI& a) {
        a.getProperties(Variant(), inner, true, false);
        a.setContextLevel(1);
        a.getProperties(Variant(), outer, true, false);
        a.command(DebugAPI::kContinue, false);
    });
    breakAt({3});
    EXPECT_EQ(run(kCallScript), 0);
    ASSERT_NE(inner.get(String("a")), nullptr);
    EXPECT_EQ(textOf(*inner.get(String("a"))), "3");
    EXPECT_NE(inner.get(String("b")), nullptr);
    EXPECT_EQ(outer.get(String("a")), nullptr);
    EXPECT_NE(outer.get(String("f")), nullptr);
}

TEST_F(DebugAPITest, AnInvalidLiveObjectEndsTheWalk) {
    auto* live = new LxCore::LiveObject("Host", true);
    Variant v;
    v.setLiveObject(*live, 0);
    engine->importValue(v, true);
    ASSERT_NE(objectOf(v), nullptr);
    PropertyTable out;
    EXPECT_TRUE(api->getProperties(v, out, true, false));
    live->invalidate();
    EXPECT_FALSE(api->getProperties(v, out, true, false));
    v.clear();
    live->release();
}

TEST_F(DebugAPITest, ReadOnly) {
    Variant o;
    ASSERT_EQ(run("Math", 0, &o), 0);
    EXPECT_TRUE(api->isReadOnly(o, String("PI")));
    EXPECT_FALSE(api->isReadOnly(o, String("abs")));
    EXPECT_FALSE(api->isReadOnly(o, String("noSuchName")));
    EXPECT_FALSE(api->isReadOnly(Variant(5), String("x")));
}

// ---------------------------------------------------------------------------
// Watchpoints

TEST_F(DebugAPITest, Watchpoints) {
    Variant o;
    ASSERT_EQ(run("var o = {p: 1}; o", 0, &o), 0);
    const Variant p(String("p"));
    EXPECT_FALSE(api->watchpoint(o, p, DebugAPI::kWatchQuery));
    EXPECT_TRUE(api->watchpoint(o, p, DebugAPI::kWatchSet));
    EXPECT_TRUE(api->watchpoint(o, p, DebugAPI::kWatchQuery));
    EXPECT_FALSE(api->watchpoint(o, Variant(String("missing")), DebugAPI::kWatchSet));
    EXPECT_FALSE(api->watchpoint(Variant(5), p, DebugAPI::kWatchSet));

    std::string seen;
    hook.steps.push_back([&](DebugAPI& a) {
        Variant owner, name, value;
        EXPECT_TRUE(a.getWatchpointInfo(owner, name, value));
        EXPECT_EQ(objectOf(owner), objectOf(o));
        seen = textOf(name) + "=" + textOf(value);
        a.command(DebugAPI::kContinue, false);
    });
    EXPECT_EQ(run("o.p = 7;\nvar after = 1;\n"), 0);
    EXPECT_EQ(seen, "p=7");
    Variant owner, name, value(1);
    EXPECT_FALSE(api->getWatchpointInfo(owner, name, value)) << "only while stopped for one";
    EXPECT_EQ(value.getType(), Variant::kUndefined);

    EXPECT_TRUE(api->watchpoint(o, p, DebugAPI::kWatchClear));
    EXPECT_FALSE(api->watchpoint(o, p, DebugAPI::kWatchQuery));
    hook.stops.clear();
    EXPECT_EQ(run("o.p = 8;\n"), 0);
    EXPECT_TRUE(hook.stops.empty());
}

// A method is not marked, yet setting it answers true.
TEST_F(DebugAPITest, AWatchpointOnAMethodIsNotSetYetAnswersTrue) {
    Variant math;
    ASSERT_EQ(run("Math", 0, &math), 0);
    const Variant abs(String("abs"));
    EXPECT_TRUE(api->watchpoint(math, abs, DebugAPI::kWatchSet));
    EXPECT_FALSE(api->watchpoint(math, abs, DebugAPI::kWatchQuery));
}

}  // namespace
}  // namespace LxScript
