// Endless loops with nothing inside: for (;;) with an empty body has no way
// out but the run's deadline or a halt, from source and from compiled text
// alike, and the statement after it never runs. (Loops a break leaves are in
// scripts/endless_loops.tvs.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ErrorCodes.h"
#include "script/engine/RealEngine.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

using LxCore::String;
namespace Err = LxCore::Err;

constexpr i32 kDeadlineMs = 100;

const std::vector<const char*> kEndless = {
    "for (;;) ; reached = 1;",
    "for (;;) {} reached = 1;",
    "for (;;) { ; } reached = 1;",
    "L: for (;;) {} reached = 1;",
    "function f() { for (;;) {} } f(); reached = 1;",
};
// The built-in eval runs its text as an entry of its own, without the
// caller's deadline: only a halt ends it.
constexpr const char* kEndlessEval = "eval('for (;;) {}'); reached = 1;";

// Stops the run at its first poll, as a debugger's halt command does.
class HaltingDebugger : public Debugger {
public:
    void breakExecution(Engine&) override {}
    void endOfRun(Engine&) override {}
    void poll(Engine& engine) override { static_cast<RealEngine&>(engine).halt(); }
};

class LoopTest : public RunTest {
protected:
    // The source as compiled text, which compiles back into the same tree.
    std::string compiledText(const char* source) {
        Script* script = engine->compile(String(source), nullptr);
        EXPECT_NE(script, nullptr) << source;
        if (!script)
            return "";
        String out;
        EXPECT_EQ(script->writeBinary(out), 0) << source;
        script->release();
        return std::string(out.chars(), out.chars() + out.length());
    }

    // Runs each endless form, as source and as compiled text, and wants
    // code, with nothing after the loop reached.
    void eachEndsWith(const std::vector<const char*>& sources, i32 code, i32 timeout) {
        for (const char* source : sources) {
            for (const bool viaText : {false, true}) {
                SCOPED_TRACE(std::string(source) + (viaText ? " (compiled text)" : ""));
                const std::string text = viaText ? compiledText(source) : source;
                EXPECT_EQ(run(text.c_str(), nullptr, timeout), code);
                EXPECT_EQ(global("reached").getType(), Variant::kUndefined);
                engine->clearError();
            }
        }
    }
};

TEST_F(LoopTest, AnEmptyEndlessForRunsUntilItsDeadline) {
    eachEndsWith(kEndless, Err::kEngineTimeout, kDeadlineMs);
}

TEST_F(LoopTest, AnEmptyEndlessForRunsUntilAHalt) {
    HaltingDebugger hook;
    engine->setDebugger(&hook);
    std::vector<const char*> sources = kEndless;
    sources.push_back(kEndlessEval);
    eachEndsWith(sources, Err::kExecutionHalted, 0);
    engine->setDebugger(nullptr);
}

}  // namespace
}  // namespace LxScript
