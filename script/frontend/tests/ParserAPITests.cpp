#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/String.h"
#include "core/tests/TestSupport.h"
#include "script/engine/tests/TestEngine.h"
#include "script/frontend/ParserAPI.h"
#include "script/frontend/tests/FrontEndTestSupport.h"

namespace LxScript {
namespace {

using LxCore::S;
using LxCore::String;

class ParserAPITest : public FrontEndTest {
protected:
    TestEngine* engine = nullptr;
    ParserAPI* parser = nullptr;
    HiliteAPI* hilite = nullptr;

    void SetUp() override {
        FrontEndTest::SetUp();
        engine = new TestEngine;
        parser = static_cast<ParserAPI*>(engine->getAPI(API::kParser));
        hilite = static_cast<HiliteAPI*>(engine->getAPI(API::kHilite));
    }
    void TearDown() override {
        delete engine;
        FrontEndTest::TearDown();
    }

    // Each token as offset+length:kind, with !error when one was raised.
    std::string colour(const char* text, i32 start = 0, i32 length = -1) {
        HiliteAPIData* run = hilite->start(S(text), start, length);
        std::string out;
        HiliteRange range;
        for (int guard = 0; guard < 1000 && hilite->next(run, range); guard++) {
            out += (out.empty() ? "" : " ") + std::to_string(range.offset) + "+" + std::to_string(range.length) + ":" +
                   std::to_string(range.kind);
            if (range.error)
                out += "!" + std::to_string(range.error);
        }
        EXPECT_EQ(range.offset + range.length + range.kind + range.error, 0u) << "the end reads as all zeros";
        hilite->stop(run);
        return out;
    }
};

TEST_F(ParserAPITest, Colouring) {
    struct ColourCase {
        const char* text;
        const char* ranges;
    } cases[] = {
        {"a / b", "0+1:5 2+1:6 4+1:5"},
        {"(/re/)", "0+1:1 1+4:4 5+1:1"},
        {"return /'/;", "0+6:2 7+3:4 10+1:1"},
        {"this / 2", "0+4:2 5+1:6 7+1:3"},
        {"x = !/a/ ? /b/ : ~/c/", "0+1:5 2+1:6 4+1:6 5+3:4 9+1:1 11+3:4 15+1:1 17+1:6 18+3:4"},
        {"typeof /x/; a++ / 2", "0+6:2 7+3:4 10+1:1 12+1:5 13+2:6 16+1:6 18+1:3"},
        {"if (x) return 1; // c\n'str' true AND", "0+2:2 3+1:1 4+1:5 5+1:1 7+6:2 14+1:3 15+1:1 17+4:7 22+5:4 28+4:2 33+3:6"},
        {"( /* c */ /r/ )", "0+1:1 2+7:7 10+3:4 14+1:1"},
        {"x = 'abc\ny", "0+1:5 2+1:6 4+5:0!4 9+1:5"},
        {"#x\n` 1e 0a */ /* z", "0+2:0!8 3+1:0!8 5+2:0!6 8+1:0!6 9+1:5 11+1:0!8 12+1:6 14+4:0!5"},
        {"//@include nowhere.tvs\n#include nowhere.tvs\nx", "0+22:7 23+20:7 44+1:5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(colour(c.text), c.ranges) << c.text;
    EXPECT_EQ(colour("abc def ghi", 4, 3), "4+3:5");
    EXPECT_EQ(colour("abc def", 2, 100), "2+1:5 4+3:5");
    EXPECT_EQ(colour("abc", -1, 2), "");
    HiliteRange range;
    range.kind = 9;
    EXPECT_FALSE(hilite->next(nullptr, range));
    EXPECT_EQ(range.kind, 0u);
}

// Runs may overlap; the option comes back when the last one stops.
TEST_F(ParserAPITest, OverlappingRunsRestoreTheOptionOnce) {
    ASSERT_TRUE(engine->isPreprocessorOn());
    HiliteAPIData* a = hilite->start(S("a"), 0, -1);
    EXPECT_FALSE(engine->isPreprocessorOn());
    HiliteAPIData* b = hilite->start(S("b"), 0, -1);
    hilite->stop(a);
    EXPECT_FALSE(engine->isPreprocessorOn()) << "b still runs";
    hilite->stop(b);
    EXPECT_TRUE(engine->isPreprocessorOn());

    engine->setPreprocessorOn(false);
    a = hilite->start(S("a"), 0, -1);
    b = hilite->start(S("b"), 0, -1);
    hilite->stop(b);
    hilite->stop(a);
    EXPECT_FALSE(engine->isPreprocessorOn());
}

TEST_F(ParserAPITest, ParseReportsToTheEngine) {
    ScopeNode* root = parser->parse(S("var x = 1;\nfunction f(a) { return a }\ny = x +"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(engine->getError().getCode(), 23);
    EXPECT_EQ(engine->getErrorInfo().line, 2);
    delete root;
    engine->clearError();

    root = parser->parse(S("var x = 1;\nfunction f(a) { return a }\n"));
    EXPECT_EQ(engine->getError().getCode(), 0);
    const ScopeNode& f = *root->body->toListNode()->getNode(1)->toScopeNode();
    EXPECT_EQ(utf8(parser->decompile(f)), "function f(a) { return a }");
    EXPECT_EQ(utf8(parser->decompile(*root)), "var x = 1;\nfunction f(a) { return a }\n");
    f.info->start = 1000;
    EXPECT_EQ(utf8(parser->decompile(f)), "");
    f.info->start = 20;
    f.info->length = 1000;
    EXPECT_EQ(utf8(parser->decompile(f)), "f(a) { return a }\n");
    delete root;

    // "//@" lines are directives while the option is on.
    EXPECT_TRUE(parser->enablePreProcessor(false));
    root = parser->parse(S("//@nonsense\nx"));
    EXPECT_EQ(engine->getError().getCode(), 0);
    delete root;
    EXPECT_FALSE(parser->enablePreProcessor(true));
    root = parser->parse(S("//@nonsense\nx"));
    EXPECT_EQ(engine->getError().getCode(), 8);
    delete root;
}

TEST_F(ParserAPITest, IncludePathTakesJSINCLUDE) {
    LxCore::SavedEnvironment saved({"JSINCLUDE"});
    setenv("JSINCLUDE", "X", 1);
    parser->setIncludePath(String());
    EXPECT_EQ(utf8(parser->getIncludePath()), "X");
    parser->setIncludePath(S("A"));
    EXPECT_EQ(utf8(parser->getIncludePath()), "A:X");
    unsetenv("JSINCLUDE");
    parser->setIncludePath(S("A"));
    EXPECT_EQ(utf8(parser->getIncludePath()), "A");
}

// A megabyte of nesting on a small thread: the parse limit stays inside the
// thread's stack.
TEST_F(ParserAPITest, DeepInputOnASmallThread) {
    const String text = S(std::string(1000000, '{'));
    LxCore::runOnStack(512 * 1024, [&] {
        ScopeNode* root = parser->parse(text);
        EXPECT_EQ(engine->getError().getCode(), 27);
        delete root;
    });
}

}  // namespace
}  // namespace LxScript
