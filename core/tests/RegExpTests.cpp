#include <gtest/gtest.h>

#include <string>

#include "core/ErrorCodes.h"
#include "core/RegExp.h"
#include "core/String.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"

using namespace LxCore;

namespace {

class RegExpTest : public ::testing::Test {
protected:
    CoreStarted core;
};

constexpr u32 I = kRegExpIgnoreCase;
constexpr u32 M = kRegExpMultiline;

std::string ascii(const unit* s, i32 n) {
    std::string out;
    char buffer[8];
    for (i32 k = 0; k < n; ++k) {
        if (s[k] >= 0x20 && s[k] < 0x7F) {
            out += char(s[k]);
        } else {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(s[k]));
            out += buffer;
        }
    }
    return out;
}

// "invalid", "27", "no", or the match as "position:text" followed by each
// group's text ("-" when unset), all joined by "|".
std::string outcome(const RegExp& re, const String& text, i32 start = 0) {
    if (!re.isValid()) return re.getStatus() == Err::kStackOverrun ? "27" : "invalid";
    CapturePair* pairs = re.allocCaptures();
    bool matched = false;
    const i32 status = execRegExp(re, text, start, pairs, matched);
    std::string out = status ? "27" : !matched ? "no" : std::to_string(pairs[0].start) + ":";
    if (!status && matched) {
        for (i32 g = 0; g < re.getGroupCount(); ++g) {
            if (g) out += "|";
            const CapturePair& p = pairs[g];
            out += p.start < 0 ? "-" : ascii(text.chars() + p.start, p.end - p.start);
        }
    }
    Heap::free(pairs);
    return out;
}

std::string outcome(const char16_t* pattern, u32 flags, const char16_t* text, i32 start = 0) {
    return outcome(compileRegExp(String(pattern), flags), String(text), start);
}

String repeated(const char16_t* piece, i32 times) {
    String s;
    for (i32 k = 0; k < times; ++k) s += piece;
    return s;
}

String operator+(String a, const String& b) {
    a += b;
    return a;
}

}  // namespace

TEST_F(RegExpTest, PatternsCompileAndMatch) {
    const struct {
        const char16_t* pattern;
        u32 flags;
        const char16_t* text;
        const char* expected;
    } cases[] = {
        // Repetition
        {u"a{2,}", 0, u"aaaa", "0:aaaa"},
        {u"a{,2}", 0, u"xa{,2}", "1:a{,2}"},        // no digit after '{': literal
        {u"a{2,x", 0, u"a{2,x", "0:a{2,x"},         // no '}': literal with what was read
        {u"a{2}?", 0, u"aaa", "0:aa"},
        {u"a{3,1}", 0, u"aaaa", "0:aaa"},            // {m,n} runs to the larger
        {u"ab+", 0, u"ababbb", "0:ab"},
        {u"(ab)+", 0, u"ababx", "0:abab|ab"},
        {u"a..*", 0, u"ab", "0:ab"},                 // the last dot alone is repeated
        {u"a..+", 0, u"ab", "no"},
        {u"x.{2}y", 0, u"xaby", "0:xaby"},
        {u"a+?", 0, u"aaa", "0:a"},
        {u"a*?b", 0, u"aaab", "0:aaab"},
        {u"x*", 0, u"", "0:"},
        {u"(a*)*b", 0, u"aaab", "0:aaab|aaa"},
        {u"(a|b)*", 0, u"abx", "0:ab|b"},
        {u"(?:(a)|b)+", 0, u"ab", "0:ab|-"},          // each round makes its own groups
        {u"(a?){3}", 0, u"", "0:|"},
        {u"(?:a|()){2,}b", 0, u"ab", "0:ab|"},
        {u"^*a", 0, u"a", "0:a"},
        // Alternation
        {u"a|b|", 0, u"c", "0:"},
        {u"|a", 0, u"a", "0:"},
        {u"(a|ab)(c|bcd)(d*)", 0, u"abcd", "0:abcd|a|bcd|"},
        {u"(a|ab)c", 0, u"abc", "0:abc|ab"},
        {u"x(a|b|c)+y", 0, u"xabcay", "0:xabcay|a"},
        // Groups and references
        {u"(a)\\1", 0, u"aa", "0:aa|a"},
        {u"(a)\\1", I, u"aA", "0:aA|a"},
        {u"\\1(a)", 0, u"a", "0:a|a"},               // a group not yet set matches empty
        {u"(ab)\\1", 0, u"aba", "no"},               // the text ends first
        {u"\\12", 0, u"\n", "0:\\u000a"},           // fewer groups: octal
        {u"(a)\\18", 0, u"a\u00018", "0:a\\u00018|a"},
        {u"(?=a)a", 0, u"a", "0:a"},
        {u"(?=(a))a", 0, u"a", "0:a|a"},
        {u"(?!b).", 0, u"b", "no"},
        {u"(?!(a)b)a.", 0, u"ac", "0:ac|-"},
        {u"(?x)", 0, u"?x", "0:?x|?x"},              // '?' not followed by ':', '=' or '!'
        {u"a)", 0, u"a)", "0:a)"},
        {u"]}", 0, u"]}", "0:]}"},
        // Sets
        {u"[a-]", 0, u"-", "0:-"},
        {u"[\\d-z]+", 0, u"a-5z", "1:-5z"},
        {u"[^a-c]", 0, u"abcd", "3:d"},
        {u"[\\S]+", 0, u"  ab ", "2:ab"},
        {u"[\\b]", 0, u"\b", "0:\\u0008"},
        {u"[a-z]+", I, u"HeLLo", "0:HeLLo"},
        {u"[\u00e0-\u00ff]", I, u"\u00c9", "0:\\u00c9"},
        {u"[]a", 0, u"a", "no"},                    // an empty set matches nothing
        {u"\\s", 0, u"x\b", "1:\\u0008"},
        {u"\\S+", 0, u"\u3000ab\u2028", "1:ab"},
        {u"\\W", 0, u"ab_9-", "4:-"},
        // Anchors, dots, boundaries
        {u"a.c", 0, u"a\nc", "no"},
        {u"a.c", 0, u"a\rc", "0:a\\u000dc"},
        {u"^b", M, u"a\rb", "2:b"},
        {u"^b", 0, u"a\rb", "no"},
        {u"a$", M, u"a\u2028b", "0:a"},
        {u"\\bfoo\\b", 0, u"a foo b", "2:foo"},
        {u"b\\B", 0, u"ab", "1:b"},                 // both forms hold at the end
        {u"b\\b", 0, u"ab", "1:b"},
        {u"\\Bo", 0, u"o oo", "3:o"},
        // Escapes
        {u"\\x41\\u0042\\o103", 0, u"ABC", "0:ABC"},
        {u"\\x4g", 0, u"x4g", "0:x4g"},             // too few digits: the letter itself
        {u"\\cJ\\t", 0, u"\n\t", "0:\\u000a\\u0009"},
        {u"\\012", 0, u"\n", "0:\\u000a"},
        {u"\\q\\.", 0, u"q.", "0:q."},
        // Case
        {u"ABC", I, u"xabcx", "1:abc"},
        {u"abc", 0, u"ABC", "no"},
        // Texts that end inside a node
        {u"abc", 0, u"ab", "no"},
        {u"a...", 0, u"ab", "no"},
        {u"a[b]", 0, u"a", "no"},
        // The empty pattern, and starts
        {u"", 0, u"abc", "0:"},
        {u"a{4294967297}", 0, u"a", "no"},           // counts saturate, never wrap
        {u"(?:){4294967297}x", 0, u"x", "0:x"},
        // Patterns that do not compile
        {u"\\", 0, u"", "invalid"},
        {u"a\\", 0, u"a", "invalid"},
        {u"\\1", 0, u"", "invalid"},
        {u"\\8", 0, u"8", "invalid"},
        {u"(a)\\2", 0, u"", "invalid"},
        {u"a**", 0, u"", "invalid"},
        {u"a*?+", 0, u"", "invalid"},
        {u"a{2}??", 0, u"", "invalid"},
        {u"*a", 0, u"", "invalid"},
        {u"a|*", 0, u"", "invalid"},
        {u"(*)", 0, u"", "invalid"},
        {u"{2}", 0, u"", "invalid"},
        {u"[z-a]", 0, u"", "invalid"},
        {u"[abc", 0, u"", "invalid"},
        {u"[\\B]", 0, u"", "invalid"},
        {u"[a\\", 0, u"", "invalid"},
        {u"(a", 0, u"", "invalid"},
        {u"(?", 0, u"", "invalid"},
        {u"\\c1", 0, u"", "invalid"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(outcome(c.pattern, c.flags, c.text), c.expected)
            << ascii(reinterpret_cast<const unit*>(c.pattern), i32(std::char_traits<char16_t>::length(c.pattern)));
}

TEST_F(RegExpTest, StartPositions) {
    const RegExp re = compileRegExp(String("a*"), 0);
    EXPECT_EQ(outcome(re, String("baa"), 1), "1:aa");
    EXPECT_EQ(outcome(re, String("baa"), 3), "no");   // at a non-empty text's end
    EXPECT_EQ(outcome(re, String("baa"), -1), "no");
    EXPECT_EQ(outcome(re, String(""), 0), "0:");
    EXPECT_EQ(outcome(compileRegExp(String("a$"), 0), String("ba"), 1), "1:a");
    // Texts may hold U+0000: "\0" not followed by two octal digits is one.
    EXPECT_EQ(outcome(compileRegExp(String("\\07"), 0), String(u"a\u00007", 3)), "1:\\u00007");
}

TEST_F(RegExpTest, HandlesShareTheCompiledPattern) {
    RegExp a = compileRegExp(String("(x)(y)?"), kRegExpGlobal | I);
    RegExp b(a);
    EXPECT_EQ(&a.data(), &b.data());
    EXPECT_TRUE(a == b);
    EXPECT_EQ(ascii(b.getSource().chars(), b.getSource().length()), "(x)(y)?");
    EXPECT_EQ(b.getFlags(), kRegExpGlobal | I);
    EXPECT_EQ(b.getGroupCount(), 3);
    EXPECT_TRUE(compileRegExp(String("a"), 0) == compileRegExp(String("a"), 0));
    EXPECT_FALSE(compileRegExp(String("a"), 0) == compileRegExp(String("a"), I));
    EXPECT_FALSE(compileRegExp(String("a"), 0) == compileRegExp(String("b"), 0));
    {
        RegExp c = compileRegExp(String("z"), 0);
        c = a;
        a = compileRegExp(String("q"), 0);
    }
    EXPECT_EQ(outcome(b, String("xy")), "0:xy|x|y");

    const RegExp invalid = compileRegExp(String("(("), 0);
    EXPECT_FALSE(invalid.isValid());
    EXPECT_EQ(invalid.getStatus(), Err::kSyntaxError);
    EXPECT_EQ(invalid.getGroupCount(), 0);
    EXPECT_EQ(invalid.getSource().length(), 2);
    CapturePair pair;
    EXPECT_FALSE(execRegExp(invalid, String("(("), 0, &pair));
}

TEST_F(RegExpTest, NestingIsBoundedAndDeepPatternsNeedNoStack) {
    auto nested = [](i32 depth) { return repeated(u"(", depth) + String("a") + repeated(u")", depth); };
    EXPECT_EQ(outcome(compileRegExp(nested(1000), 0), String("a")).substr(0, 4), "0:a|");
    EXPECT_EQ(outcome(compileRegExp(nested(1001), 0), String("a")), "27");
    EXPECT_EQ(outcome(compileRegExp(repeated(u"(?:", 1001) + String("a"), 0), String("a")), "27");

    // Long lists, many alternatives and quantifiers of quantifiers are no
    // nesting of groups: they compile, match and go without recursion.
    EXPECT_EQ(outcome(compileRegExp(String("a") + repeated(u"{1}", 200000), 0), String("a")), "0:a");
    EXPECT_EQ(outcome(compileRegExp(repeated(u"b|", 200000) + String("a"), 0), String("xa")), "1:a");
    EXPECT_EQ(outcome(compileRegExp(repeated(u"(?:a|b)", 100000), 0), repeated(u"ab", 50000)).substr(0, 2), "0:");
}

TEST_F(RegExpTest, RunawayMatchesStopWithStackOverrun) {
    // Exponential backtracking ends at the step budget; a stopped match
    // never reads as no match, except through the boolean form.
    const std::string result = outcome(compileRegExp(String("(a+)+b"), 0), repeated(u"a", 40));
    EXPECT_TRUE(result == "27" || result == "no") << result;

    // A quadratic scan over a long text runs out of steps as well (a smaller
    // budget shows it sooner).
    setRegExpStepBudgetForTests(1000000);
    CapturePair pairs[1];
    EXPECT_FALSE(execRegExp(compileRegExp(String(".*x"), 0), repeated(u"a", 100000), 0, pairs));
    EXPECT_EQ(outcome(compileRegExp(String(".*x"), 0), repeated(u"a", 100000)), "27");
    setRegExpStepBudgetForTests(0);

    // 100,000 optional atoms give the match (or stop); nothing deep.
    const std::string optional = outcome(compileRegExp(repeated(u"a?", 100000), 0), String("aaa"));
    EXPECT_TRUE(optional == "0:aaa" || optional == "27") << optional;
}

TEST_F(RegExpTest, MemoryFollowsThePatternNotItsSetsOrGroups) {
    // Class escapes share one set each, and a set's size follows its text,
    // not the ranges it names.
    const String escapes = repeated(u"\\S", 100000) + repeated(u"[\\S\\u0000-\\uffff]", 1000);
    // A match keeps the changes of its groups, never copies of all of them.
    const String groups = repeated(u"(a|b)", 10000);
    const String text = repeated(u"ab", 5000), empty;
    const struct {
        const String& pattern;
        const String& subject;
        u64 limit;
    } cases[] = {{escapes, empty, 100u << 20}, {groups, text, 20u << 20}};
    for (const auto& c : cases) {
        TestAllocator counting;
        u64 bytes = 0;
        bool matched = false;
        {
            UsingAllocator use(&counting);
            {
                const RegExp re = compileRegExp(c.pattern, 0);
                EXPECT_TRUE(re.isValid());
                CapturePair* pairs = re.allocCaptures();
                execRegExp(re, c.subject, 0, pairs, matched);
                Heap::free(pairs);
            }
            bytes = counting.bytesRequested;
        }
        EXPECT_LT(bytes, c.limit);
    }
}

TEST_F(RegExpTest, ExhaustedMemoryThrowsAndLeaksNothing) {
    // Every allocation in turn fails once; each compile either completes or
    // throws std::bad_alloc, with nothing left behind (the sanitizer run
    // checks the leaks).
    const String pattern("(a|b[c-e\\u0100-\\u0200]|(?=x)\\1)*?y{2,3}.\\S");
    for (int fail = 1; fail < 200; ++fail) {
        class FailingAt : public TestAllocator {
        public:
            int left;
            explicit FailingAt(int n) : left(n) {}
            void* allocBlock(u64 size) override { return --left == 0 ? nullptr : TestAllocator::allocBlock(size); }
        } allocator(fail);
        Heap::flushThreadCache();
        UsingAllocator use(&allocator);
        try {
            const RegExp re = compileRegExp(pattern, 0);
            CapturePair pairs[3];
            execRegExp(re, String("abcaby yyx!"), 0, pairs);
        } catch (const std::bad_alloc&) {
        }
    }
}
