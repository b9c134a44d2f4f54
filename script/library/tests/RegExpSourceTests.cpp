// A pattern's source text read back by the engine's eval (the script-level
// eval function runs the same compile): flags and matching kept, the text
// stable after one round. Sources that would end the literal early ("/", a
// line end) or make a comment (empty) are the cases. And a runaway pattern
// stopped by the step budget with 27.
#include <gtest/gtest.h>

#include <string>

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

// Stopped by the core's step budget (how long the budget takes is a
// benchmark's figure): the same pattern on a short text ends well within
// the budget and raises 27 once the budget is smaller than its work. The
// checked, unoptimised sanitizer build takes a hundredth of the budget.
TEST_F(RegExpSourceTest, RunawayPatternRaisesStackOverrunInTime) {
    if (LxCore::kSanitizedBuild)
        LxCore::setRegExpStepBudgetForTests(LxCore::kRegExpStepBudget / 100);
    EXPECT_EQ(run(u"/(a+)+b/.test('aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa')"), 27);
    EXPECT_EQ(value("/(a+)+b/.test('aaaaaaaaaa')"), "false");
    LxCore::setRegExpStepBudgetForTests(100);
    EXPECT_EQ(run(u"/(a+)+b/.test('aaaaaaaaaa')"), 27);
    LxCore::setRegExpStepBudgetForTests(0);
}

}  // namespace
}  // namespace LxScript
