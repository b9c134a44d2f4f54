// The pattern algorithms on their own: tables of split, replace and match
// results (ES3 rows and the departures kept on purpose), the match globals,
// runaway patterns, and work linear in the text.
#include <gtest/gtest.h>

#include <string>

#include "core/String.h"
#include "core/Variant.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"
#include "script/composition/InitTerm.h"
#include "script/library/PatternMatching.h"

namespace LxScript {
namespace {

using LxCore::Array;
using LxCore::RegExp;
using LxCore::String;
using LxCore::Variant;

std::string utf8(const String& s) { return LxCore::N(s); }

// Flags as letters, the way scripts write them.
RegExp compile(const char* source, const char* flags = "") {
    LxCore::u32 bits = 0;
    for (const char* f = flags; *f; f++)
        bits |= *f == 'g' ? 1 : *f == 'i' ? 2 : 4;
    RegExp re = LxCore::compileRegExp(String(source), bits);
    EXPECT_TRUE(re.isValid()) << source;
    return re;
}

// A list as text: elements apart by "|", undefined as "<u>".
std::string joined(const Array& list) {
    std::string out;
    for (LxCore::u32 i = 0; i < list.length(); i++) {
        if (i)
            out += "|";
        const Variant* v = list.get(i);
        out += !v || v->getType() == Variant::kUndefined ? "<u>" : utf8(v->toString());
    }
    return "[" + out + "]";
}

// The heap bytes a replace or split may ask for per unit of its text.
constexpr LxCore::u64 kBytesPerUnit = 64;

class PatternTest : public ::testing::Test {
protected:

    std::string split(const char* text, const char* source, LxCore::u32 limit = 0xFFFFFFFF) {
        Array pieces;
        EXPECT_EQ(splitAtMatches(globals, compile(source), String(text), limit, pieces), 0);
        return joined(pieces);
    }
    std::string replace(const char* text, const char* source, const char* flags,
                        const char* with) {
        String out;
        EXPECT_EQ(replaceMatches(globals, compile(source, flags), String(text), String(with),
                                 nullptr, out),
                  0);
        return utf8(out);
    }
    std::string match(const char* text, const char* source, const char* flags, int* index = nullptr) {
        Array list;
        i32 at = -2;
        EXPECT_EQ(collectMatches(globals, compile(source, flags), String(text), list, at), 0);
        if (index)
            *index = at;
        return list.length() ? joined(list) : "null";
    }

    // The library runs before the globals are made and after they go.
    struct Started {
        Started() { InitTerm::init(); }
        ~Started() { InitTerm::exit(); }
    } started;
    reGlobals globals;
};

TEST_F(PatternTest, SplitCutsAtEachMatch) {
    struct Row {
        const char* text;
        const char* pattern;
        LxCore::u32 limit;
        const char* expected;
    } rows[] = {
        {"a-b-xc", "-(?=x)", ~0u, "[a-b|xc]"},
        {"abc", "(?=c)", ~0u, "[ab|c]"},
        {"abc", "x*", ~0u, "[a|b|c]"},
        {"abc", "b*", ~0u, "[a|c]"},
        {"", "x*", ~0u, "[]"},
        {"a,b,c", ",", ~0u, "[a|b|c]"},
        {",a", ",", ~0u, "[|a]"},
        {"a,,b", ",", ~0u, "[a||b]"},
        {"ab", "$", ~0u, "[ab]"},
        {"a1b2c", "(\\d)", ~0u, "[a|1|b|2|c]"},
        {"a1b", "(x)?\\d", ~0u, "[a|<u>|b]"},
        // Kept: no trailing empty piece, and the limit counts separators.
        {"a,b,", ",", ~0u, "[a|b]"},
        {"", ",", ~0u, "[]"},
        {"a,b,c", ",", 2, "[a|b]"},
        {"a1b2c", "(\\d)", 1, "[a|1]"},
        {"a,b", ",", 0, "[]"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(split(r.text, r.pattern, r.limit), r.expected)
            << r.text << " / " << r.pattern << " / " << r.limit;
}

TEST_F(PatternTest, ReplaceMatchesTheOriginalText) {
    struct Row {
        const char* text;
        const char* pattern;
        const char* flags;
        const char* with;
        const char* expected;
    } rows[] = {
        {"ab", "\\b\\w", "g", "-", "-b"},
        {"aaa", "^a", "gm", "b", "baa"},
        {"abc", "b", "", "[$&]", "a[b]c"},
        {"abc", "b", "", "[$`|$']", "a[a|c]c"},
        {"abcb", "b", "g", "[$`]", "a[a]c[a[a]c]"},
        {"abcb", "b", "g", "[$_]", "a[abcb]c[a[abcb]cb]"},
        {"abc", "(b)", "", "$1$1", "abbc"},
        {"abc", "b", "", "$$", "a$c"},
        {"abc", "b", "", "x$", "ax$c"},
        {"abc", "b", "", "$", "a$c"},
        {"abc", "(b)(c)", "", "$+", "ac"},
        {"abc", "(b)", "", "$2", "ac"},
        // Kept: "$0" and "$" before a letter are copied; "$10" with fewer than
        // ten groups is group 1 then "0"; no empty match at the end.
        {"abc", "b", "", "$0$x", "a$0$xc"},
        {"abc", "(b)", "", "$10", "ab0c"},
        {"abcdefghijk", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", "", "$11-$10", "k-j"},
        {"ab", "x*", "g", "-", "-a-b"},
        {"", "x*", "g", "-", "-"},
        {"aaa", "a", "g", "bb", "bbbbbb"},
        {"aaa", "a", "", "b", "baa"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(replace(r.text, r.pattern, r.flags, r.with), r.expected)
            << r.text << " / " << r.pattern << " / " << r.with;
}

// Records the arguments it gets and answers with their count.
class RecordingReplacer : public Replacer {
public:
    std::string seen;
    bool fail = false;
    bool replace(const Array& args, String& out) override {
        seen += joined(args);
        out = "<";
        out += String(std::to_string(args.length()).c_str());
        out += ">";
        return !fail;
    }
};

TEST_F(PatternTest, ReplacerGetsGroupsOffsetAndTheOriginalText) {
    RecordingReplacer replacer;
    String out;
    ASSERT_EQ(replaceMatches(globals, compile("(a)(x)?", "g"), String("bab a"), String(), &replacer, out), 0);
    EXPECT_EQ(utf8(out), "b<5>b <5>");
    EXPECT_EQ(replacer.seen, "[a|a|<u>|1|bab a][a|a|<u>|4|bab a]");
    replacer.fail = true;
    EXPECT_EQ(replaceMatches(globals, compile("a"), String("bab"), String(), &replacer, out),
              kPatternScriptFailed);
}

TEST_F(PatternTest, MatchAndSearch) {
    int index = 0;
    EXPECT_EQ(match("xaby", "(a)(b)(c)?", "", &index), "[ab|a|b|<u>]");
    EXPECT_EQ(index, 1);
    EXPECT_EQ(match("a1b22c", "\\d+", "g", &index), "[1|22]");
    EXPECT_EQ(index, 3);     // the start of the last successful match
    EXPECT_EQ(match("ab", "x*", "g"), "[|]");   // kept: no empty match at the end
    EXPECT_EQ(match("ab", "z", "g"), "null");
    EXPECT_EQ(match("ab", "z", ""), "null");

    i32 position = 0;
    EXPECT_EQ(findFirstMatch(globals, compile("b"), String("abc"), position), 0);
    EXPECT_EQ(position, 1);
    EXPECT_EQ(findFirstMatch(globals, compile("z"), String("abc"), position), 0);
    EXPECT_EQ(position, -1);
}

TEST_F(PatternTest, GlobalsHoldTheLastMatchAndClassFlagsApplyToEveryMatch) {
    match("xxAbyy", "(a)(b)", "i");
    EXPECT_EQ(joined(globals.matches), "[Ab|A|b]");
    EXPECT_EQ(utf8(globals.lastInput), "xxAbyy");
    EXPECT_EQ(globals.leftEnd, 2);
    EXPECT_EQ(globals.rightStart, 4);
    match("zz", "q", "");   // no match leaves them
    EXPECT_EQ(joined(globals.matches), "[Ab|A|b]");

    EXPECT_EQ(match("A", "a", ""), "null");
    globals.flags = kClassIgnoreCase;
    EXPECT_EQ(match("A", "a", ""), "[A]");
    globals.flags = kClassMultiline;
    EXPECT_EQ(replace("a\nb", "^b", "", "c"), "a\nc");
    globals.flags = 0;
    EXPECT_EQ(replace("a\nb", "^b", "", "c"), "a\nb");
}

TEST_F(PatternTest, RunawayPatternsRaiseStackOverrunEverywhere) {
    LxCore::setRegExpStepBudgetForTests(100000);
    const RegExp runaway = compile("(a+)+b");
    const String text(std::string(40, 'a').c_str());
    Array list;
    String out;
    i32 at = 0;
    EXPECT_EQ(collectMatches(globals, runaway, text, list, at), 27);
    EXPECT_EQ(findFirstMatch(globals, runaway, text, at), 27);
    EXPECT_EQ(replaceMatches(globals, runaway, text, String("x"), nullptr, out), 27);
    EXPECT_EQ(splitAtMatches(globals, runaway, text, ~0u, list), 27);
    CaptureArray pairs(runaway);
    EXPECT_EQ(globals.match(runaway, text, 0, pairs, at), 27);
    LxCore::setRegExpStepBudgetForTests(0);
}

// A million units replaced or split: the heap is asked for a few bytes per
// unit in all, where text copied again at each match would ask for a square.
TEST_F(PatternTest, MillionUnitTextsAreLinear) {
    constexpr i32 kUnits = 1000000;
    std::string as(kUnits, 'a');
    std::string commas;
    for (int i = 0; i < kUnits / 10; i++)
        commas += "abcdefghi,";
    const String aText(as.c_str());
    const String commaText(commas.c_str());
    LxCore::TestAllocator replacing, splitting;
    // Globals of their own, so that what they keep goes back to the
    // counting allocator that gave it.
    {
        LxCore::UsingAllocator counted(&replacing);
        reGlobals own;
        String out;
        ASSERT_EQ(replaceMatches(own, compile("a", "g"), aText, String("b"), nullptr, out), 0);
        EXPECT_EQ(out.length(), kUnits);
        EXPECT_EQ(out[kUnits - 1], u'b');
    }
    {
        LxCore::UsingAllocator counted(&splitting);
        reGlobals own;
        Array pieces;
        ASSERT_EQ(splitAtMatches(own, compile(","), commaText, ~0u, pieces), 0);
        EXPECT_EQ(pieces.length(), u32(kUnits / 10));
    }
    EXPECT_LT(replacing.bytesRequested, kBytesPerUnit * kUnits) << "replace";
    EXPECT_LT(splitting.bytesRequested, kBytesPerUnit * kUnits) << "split";
}

}  // namespace
}  // namespace LxScript
