// A pattern's source text read back by the engine's eval (the script-level
// eval function runs the same compile): flags and matching kept, the text
// stable after one round. Sources that would end the literal early ("/", a
// line end) or make a comment (empty) are the cases.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <time.h>

#include "core/RegExp.h"
#include "core/String.h"
#include "core/Variant.h"
#include "core/tests/TestSupport.h"
#include "script/engine/InitTerm.h"
#include "script/engine/jsEngine.h"

namespace LxScript {
namespace {

class RegExpSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        engine.reset(new jsEngine);
        engine->initialize();
    }
    void TearDown() override {
        engine.reset();
        InitTerm::exit();
    }

    // The string value of the script, or "!error" when it fails.
    std::string run(const std::string& script) {
        Variant result;
        if (!engine->eval(LxCore::String(script.c_str()), &result, 0, 0, nullptr, nullptr)) {
            engine->clearError();
            return "!error";
        }
        return LxCore::N(result.toString());
    }

    std::unique_ptr<jsEngine> engine;
};

TEST_F(RegExpSourceTest, SourceTextsReadBackWithFlagsAndMatching) {
    struct Case {
        const char* source;     // as a script string literal
        const char* sample;     // a text the pattern matches, ignoring case
        const char* text;       // toString
    } cases[] = {
        {"\"\"", "\"x\"", "/(?:)/gim"},
        {"\"a/b\"", "\"A/B\"", "/a\\/b/gim"},
        {"\"a\\\\/b\"", "\"a/b\"", "/a\\/b/gim"},
        {"\"a\\nb\"", "\"A\\nB\"", "/a\\nb/gim"},
    };
    for (const Case& c : cases) {
        const std::string made = std::string("new RegExp(") + c.source + ", \"gim\")";
        const std::string source = run(made + ".toSource()");
        ASSERT_NE(source, "!error") << c.source;
        EXPECT_EQ(run(made + ".toString()"), c.text) << c.source;
        const std::string back = "(" + source + ")";
        EXPECT_EQ(run(back + ".global && " + back + ".ignoreCase && " + back + ".multiline"), "true") << source;
        EXPECT_EQ(run(back + ".test(" + c.sample + ")"), "true") << source;
        EXPECT_EQ(run(back + ".toString()"), c.text) << source;
        EXPECT_EQ(run("(" + run(back + ".toSource()") + ").toString()"), c.text) << source;
    }
}

// A pattern that backtracks without end is stopped by the core's step budget
// and raises 27 out of the script, within two seconds of processor time.
// The checked, unoptimised sanitizer build takes a hundredth of the budget.
TEST_F(RegExpSourceTest, RunawayPatternRaisesStackOverrunInTime) {
#if defined(__SANITIZE_ADDRESS__)
    LxCore::setRegExpStepBudgetForTests(LxCore::kRegExpStepBudget / 100);
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    LxCore::setRegExpStepBudgetForTests(LxCore::kRegExpStepBudget / 100);
#endif
#endif
    timespec begin, end;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &begin);
    Variant result;
    EXPECT_FALSE(engine->eval(LxCore::String("/(a+)+b/.test('aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa')"), &result,
                              0, 0, nullptr, nullptr));
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    LxCore::setRegExpStepBudgetForTests(0);
    EXPECT_EQ(engine->getError().getCode(), 27);
    engine->clearError();
    EXPECT_LT(double(end.tv_sec - begin.tv_sec) + double(end.tv_nsec - begin.tv_nsec) * 1e-9, 2.0);
}

}  // namespace
}  // namespace LxScript
