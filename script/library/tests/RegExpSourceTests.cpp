// A pattern's source text read back by the engine's eval (the script-level
// eval function runs the same compile): flags and matching kept, the text
// stable after one round. Sources that would end the literal early ("/", a
// line end) or make a comment (empty) are the cases. And a runaway pattern
// raising 27 in time.
#include <gtest/gtest.h>

#include <string>
#include <time.h>

#include "core/RegExp.h"
#include "core/tests/TestSupport.h"
#include "script/library/tests/LibraryTestEngine.h"

namespace LxScript {
namespace {

class RegExpSourceTest : public LibraryTest {
protected:
    // The value's text (ASCII here), or "!error" when the script fails.
    std::string value(const std::string& script) {
        std::u16string out;
        if (run(std::u16string(script.begin(), script.end()), &out) != 0)
            return "!error";
        return std::string(out.begin(), out.end());
    }
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
        const std::string source = value(made + ".toSource()");
        ASSERT_NE(source, "!error") << c.source;
        EXPECT_EQ(value(made + ".toString()"), c.text) << c.source;
        const std::string back = "(" + source + ")";
        EXPECT_EQ(value(back + ".global && " + back + ".ignoreCase && " + back + ".multiline"), "true") << source;
        EXPECT_EQ(value(back + ".test(" + c.sample + ")"), "true") << source;
        EXPECT_EQ(value(back + ".toString()"), c.text) << source;
        EXPECT_EQ(value("(" + value(back + ".toSource()") + ").toString()"), c.text) << source;
    }
}

// Stopped by the core's step budget within two seconds of processor time;
// the checked, unoptimised sanitizer build takes a hundredth of the budget.
TEST_F(RegExpSourceTest, RunawayPatternRaisesStackOverrunInTime) {
    if (LxCore::kSanitizedBuild)
        LxCore::setRegExpStepBudgetForTests(LxCore::kRegExpStepBudget / 100);
    timespec begin, end;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &begin);
    const i32 code = run(u"/(a+)+b/.test('aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa')");
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    LxCore::setRegExpStepBudgetForTests(0);
    EXPECT_EQ(code, 27);
    EXPECT_LT(double(end.tv_sec - begin.tv_sec) + double(end.tv_nsec - begin.tv_nsec) * 1e-9, 2.0);
}

}  // namespace
}  // namespace LxScript
