// Copy-on-write strings: buffer sharing, capacity rules, editing and search.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "core/String.h"
#include "core/tests/TestSupport.h"

using namespace LxCore;

namespace {

class StringTest : public ::testing::Test {
protected:
    CoreStarted core;
};

// A private buffer holding the text (not shared with anything).
String privateString(const char16_t* s) {
    String r(s);
    r.detach();
    return r;
}

// ---- sharing ----

TEST_F(StringTest, EmptyStringsShareOneBuffer) {
    String a;
    String b("");
    String c(static_cast<const char*>(nullptr));
    String d(u"abc", 0);
    String e(static_cast<const unit*>(nullptr), 5);
    String f(a);
    for (const String* s : std::initializer_list<const String*>{&b, &c, &d, &e, &f, &String::emptyString()}) {
        EXPECT_TRUE(s->isEmpty());
        EXPECT_TRUE(a.sharesBufferWith(*s));
        EXPECT_EQ(s->chars()[0], 0);
    }
}

TEST_F(StringTest, CopiesShareUntilOneChanges) {
    String a("hello");
    String b(a);
    String c;
    c = a;
    EXPECT_TRUE(a.sharesBufferWith(b));
    EXPECT_TRUE(a.sharesBufferWith(c));
    b.setAt(0, u'J');
    EXPECT_EQ(str(a), u"hello");
    EXPECT_EQ(str(b), u"Jello");
    EXPECT_FALSE(a.sharesBufferWith(b));
    EXPECT_TRUE(a.sharesBufferWith(c));
}

// Every changing operation works on a private buffer and leaves a copy alone.
TEST_F(StringTest, ChangingOperationsDetach) {
    const std::vector<std::pair<const char*, std::function<void(String&)>>> edits = {
        {"setLength", [](String& s) { s.setLength(3); }},
        {"fill", [](String& s) { s.fill(u'x', 4); }},
        {"setAt", [](String& s) { s.setAt(1, u'z'); }},
        {"append", [](String& s) { s += u"!"; }},
        {"append bytes", [](String& s) { s += "!"; }},
        {"insert", [](String& s) { s.insert(u'-', 2); }},
        {"replace", [](String& s) { s.replace(u"b", u"B"); }},
        {"replaceAll", [](String& s) { s.replaceAll("a", "A"); }},
        {"replaceAll unit", [](String& s) { s.replaceAll(u'c', u'C'); }},
        {"erase", [](String& s) { s.erase(1, 2); }},
        {"trim", [](String& s) { s.trim(); }},
        {"nextToken", [](String& s) { s.nextToken(','); }},
        {"reset", [](String& s) { s.reset(); }},
        {"getBuffer", [](String& s) { s.getBuffer()[0] = u'#'; }},
        {"assign unit", [](String& s) { s = u'q'; }},
        {"assign units", [](String& s) { s = u"qq"; }},
    };
    for (const auto& [name, edit] : edits) {
        String original(u" abc,abc ");
        String copy(original);
        edit(copy);
        EXPECT_EQ(str(original), u" abc,abc ") << name;
        EXPECT_FALSE(copy.sharesBufferWith(original)) << name;
    }
}

TEST_F(StringTest, UnshareableBufferIsCopiedWhenTaken) {
    String a("text");
    a.setShareable(false);
    EXPECT_FALSE(a.isShareable());

    String b(a);
    EXPECT_FALSE(b.sharesBufferWith(a));
    EXPECT_TRUE(b.isShareable());
    EXPECT_EQ(str(b), u"text");

    String c;
    c = a;
    EXPECT_FALSE(c.sharesBufferWith(a));
    EXPECT_TRUE(c.isShareable());

    String whole = a.substr(0, -1);
    EXPECT_FALSE(whole.sharesBufferWith(a));
    EXPECT_EQ(str(whole), u"text");

    // Growing and shrinking in place keep the mark.
    a.setLength(3000);
    a.setLength(4);
    EXPECT_FALSE(a.isShareable());
    EXPECT_EQ(str(a), u"text");
}

TEST_F(StringTest, SelfAssignmentKeepsTheBuffer) {
    for (bool shareable : {true, false}) {
        String a("self");
        a.setShareable(shareable);
        const unit* before = a.chars();
        const String& alias = a;
        a = alias;
        EXPECT_EQ(a.chars(), before);
        EXPECT_EQ(str(a), u"self");
        EXPECT_EQ(a.isShareable(), shareable);
    }
}

TEST_F(StringTest, UnshareableEmptyStringLeavesSharedEmptyAlone) {
    String a;
    a.setShareable(false);
    EXPECT_FALSE(a.isShareable());
    EXPECT_FALSE(a.sharesBufferWith(String()));
    EXPECT_TRUE(String().isShareable());
    String copy(a);
    EXPECT_TRUE(copy.sharesBufferWith(String()));
    a += u"x";
    EXPECT_EQ(str(a), u"x");
    EXPECT_TRUE(String().isEmpty());
}

// ---- construction and assignment ----

TEST_F(StringTest, BytesWidenWithoutSign) {
    String s("a\xE9");
    EXPECT_EQ(str(s), u"a\u00E9");
    s += '\xFF';
    s += "\x80";
    EXPECT_EQ(str(s), u"a\u00E9\u00FF\u0080");
}

TEST_F(StringTest, CharAssignmentIsSignExtended) {
    String s("long text");
    s = '\xE9';
    EXPECT_EQ(str(s), std::u16string(1, u'\xFFE9'));
    s = 'A';
    EXPECT_EQ(str(s), u"A");
    s = char(0);
    EXPECT_TRUE(s.sharesBufferWith(String()));
    s = u'\x263A';
    EXPECT_EQ(str(s), u"\u263A");
    s = unit(0);
    EXPECT_TRUE(s.sharesBufferWith(String()));
}

TEST_F(StringTest, AssignmentFromPointers) {
    String s("x");
    s = "bytes\xE9";
    EXPECT_EQ(str(s), u"bytes\u00E9");
    s = u"units";
    EXPECT_EQ(str(s), u"units");
    s = static_cast<const char*>(nullptr);
    EXPECT_TRUE(s.sharesBufferWith(String()));
    s = u"again";
    s = u"";
    EXPECT_TRUE(s.sharesBufferWith(String()));
}

TEST_F(StringTest, UnitsWithLength) {
    EXPECT_EQ(str(String(u"abcdef", 3)), u"abc");
    EXPECT_EQ(str(String(u"abc\0def", -1)), u"abc");
    const unit embedded[] = {u'a', 0, u'b'};
    String s(embedded, 3);
    EXPECT_EQ(s.length(), 3);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[2], u'b');
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(s[-1], 0);
}

TEST_F(StringTest, ClearAndReset) {
    String s = privateString(u"some text");
    s.setLength(100);
    EXPECT_EQ(s.capacity(), 128);
    s.reset();
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(s.capacity(), 128);
    EXPECT_FALSE(s.sharesBufferWith(String()));

    // A shared buffer is left to its other holders; the reset one is new.
    String t = privateString(u"shared");
    String other(t);
    t.reset();
    EXPECT_EQ(t.length(), 0);
    EXPECT_EQ(t.capacity(), 16);
    EXPECT_FALSE(t.sharesBufferWith(other));
    EXPECT_EQ(str(other), u"shared");

    s.clear();
    EXPECT_TRUE(s.sharesBufferWith(String()));
}

// ---- capacity ----

TEST_F(StringTest, NewBufferCapacity) {
    const std::vector<std::pair<i32, i32>> cases = {
        {1, 16}, {15, 16}, {16, 32}, {31, 32}, {32, 64}, {1000, 1024}, {1023, 1024}, {1024, 2048},
    };
    for (auto [n, capacity] : cases) {
        String s;
        s.allocate(n);
        EXPECT_EQ(s.length(), n);
        EXPECT_EQ(s.capacity(), capacity) << n;
        EXPECT_EQ(s.chars()[n], 0);
        s.fill(u'x', n);
        EXPECT_EQ(s.capacity(), capacity) << n;
    }
}

TEST_F(StringTest, SetLengthKeepsOrShrinksByTheSpareRule) {
    String s = privateString(u"abc");
    const std::vector<std::pair<i32, i32>> steps = {
        {5, 16}, {3000, 4096}, {10, 16}, {2100, 4096}, {2047, 4096}, {2046, 2048}, {1, 2048},
    };
    s.setLength(5);
    for (auto [n, capacity] : steps) {
        s.setLength(n);
        EXPECT_EQ(s.length(), n);
        EXPECT_EQ(s.capacity(), capacity) << n;
        EXPECT_EQ(s.chars()[n], 0);
    }
    EXPECT_EQ(s[0], u'a');
    s.setLength(0);
    EXPECT_TRUE(s.sharesBufferWith(String()));
    s.setLength(-4);
    EXPECT_TRUE(s.sharesBufferWith(String()));
}

TEST_F(StringTest, SetLengthOfSharedBufferCopiesWhatFits) {
    String a("abcdef");
    String b(a);
    b.setLength(3);
    EXPECT_EQ(str(b), u"abc");
    EXPECT_EQ(str(a), u"abcdef");
    String c(a);
    c.setLength(40);
    EXPECT_EQ(c.capacity(), 64);
    EXPECT_EQ(str(c.substr(0, 6)), u"abcdef");
}

TEST_F(StringTest, RepeatedAppendsDoubleTheCapacity) {
    String s;
    std::vector<i32> seen;
    for (int i = 0; i < 300; i++) {
        s += u'x';
        if (seen.empty() || seen.back() != s.capacity()) seen.push_back(s.capacity());
    }
    EXPECT_EQ(seen, (std::vector<i32>{16, 32, 64, 128, 256, 512}));
    EXPECT_EQ(s.length(), 300);
}

TEST_F(StringTest, FillAndSetAt) {
    String s;
    s.fill(u'-', 4);
    s.setAt(1, u'+');
    s.setAt(-1, u'!');
    s.setAt(4, u'!');
    EXPECT_EQ(str(s), u"-+--");
    s.fill(u'x', 0);
    EXPECT_TRUE(s.sharesBufferWith(String()));
}

// ---- appending and inserting ----

TEST_F(StringTest, AppendForms) {
    String s;
    s += String();
    EXPECT_TRUE(s.sharesBufferWith(String()));
    s += String("ab");
    s += 'c';
    s += "de";
    s += u'f';
    s += u"gh";
    s.append(u"ijkl", 2);
    s.append(u"kl", -1);
    s.append(nullptr, 5);
    s.append(u"zz", 0);
    s += static_cast<const char*>(nullptr);
    s += static_cast<const unit*>(nullptr);
    EXPECT_EQ(str(s), u"abcdefghijkl");
}

TEST_F(StringTest, InsertPositions) {
    const std::vector<std::pair<i32, const char16_t*>> cases = {
        {-3, u"XYabc"}, {0, u"XYabc"}, {1, u"aXYbc"}, {3, u"abcXY"}, {99, u"abcXY"},
    };
    for (auto [pos, expected] : cases) {
        String s("abc");
        s.insert(String("XY"), pos);
        EXPECT_EQ(str(s), expected) << pos;
    }
    String s("ac");
    s.insert(u'b', 1);
    s.insert("<", -1);
    s.insert(String(), 1);
    EXPECT_EQ(str(s), u"<abc");
}

// ---- aliasing: the argument lies in this string's own buffer ----

TEST_F(StringTest, SelfAppendAndInsert) {
    String s = privateString(u"abc");
    s += s;
    EXPECT_EQ(str(s), u"abcabc");

    String t = privateString(u"0123456789abcde");  // full 16-unit buffer: the append reallocates
    t.append(t.chars() + 2, 3);
    EXPECT_EQ(str(t), u"0123456789abcde234");

    String u = privateString(u"abc");
    u.insert(u, 1);
    EXPECT_EQ(str(u), u"aabcbc");

    String v = privateString(u"abcdef");
    v = v.chars() + 2;
    EXPECT_EQ(str(v), u"cdef");

    String w = privateString(u"abcdef");
    w.append(w.chars(), -1);
    EXPECT_EQ(str(w), u"abcdefabcdef");
}

TEST_F(StringTest, ReplaceWithOwnText) {
    String s = privateString(u"a-b");
    EXPECT_EQ(s.replace(String("-"), s), 1);
    EXPECT_EQ(str(s), u"aa-bb");

    String t = privateString(u"x.y.z");
    EXPECT_EQ(t.replaceAll(".", t), 2);
    EXPECT_EQ(str(t), u"xx.y.zyx.y.zz");

    String u = privateString(u"same");
    EXPECT_EQ(u.replaceAll(u, String("!")), 1);
    EXPECT_EQ(str(u), u"!");

    String v = privateString(u"abcabc");
    EXPECT_EQ(v.replace(v.chars() + 3, v.chars()), 0);
    EXPECT_EQ(str(v), u"abcabcabc");
}

// ---- comparison ----

TEST_F(StringTest, CompareTable) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        i32 expected;
    };
    const std::vector<Case> cases = {
        {u"abc", u"abd", -1}, {u"abd", u"abc", 1},  {u"ab", u"abc", -1}, {u"abc", u"ab", 1},
        {u"abc", u"abc", 0},  {u"", u"a", -1},      {u"a", u"", 1},      {u"", u"", 0},
        {u"a", u"z", 'a' - 'z'}, {u"\xFFFF", u"a", 0xFFFF - 'a'},
    };
    for (size_t i = 0; i < cases.size(); i++) {
        EXPECT_EQ(String(cases[i].a).compare(String(cases[i].b)), cases[i].expected) << i;
    }
    String s("same");
    EXPECT_EQ(s.compare(s), 0);
}

TEST_F(StringTest, CompareAgainstBytes) {
    String s(u"ab\u00E9");
    EXPECT_EQ(s.compare("ab\xE9"), 0);
    EXPECT_LT(s.compare("ab\xEA"), 0);
    EXPECT_EQ(s.compare("ab"), 1);
    EXPECT_EQ(s.compare("ab\xE9z"), -1);
    EXPECT_EQ(s.compare(static_cast<const char*>(nullptr)), 1);
    EXPECT_EQ(s.compare("abX", 2), 0);
    EXPECT_EQ(s.compare("a", 2), 1);
    EXPECT_EQ(s.compare("zzz", 0), 0);
}

TEST_F(StringTest, CompareIgnoreCase) {
    EXPECT_EQ(String("HeLLo").compareIgnoreCase(String("hello")), 0);
    EXPECT_EQ(String("HeLLo").compareIgnoreCase("hELLO"), 0);
    EXPECT_LT(String("abc").compareIgnoreCase("ABD"), 0);
    EXPECT_EQ(String("abc").compareIgnoreCase("ABCD"), -1);
    EXPECT_EQ(String("abcx").compareIgnoreCase("ABCY", 3), 0);
    EXPECT_EQ(String("abcx").compareIgnoreCase(String("ABCY"), 3), 0);
    EXPECT_EQ(String(u"\u00E9t\u00E9").compareIgnoreCase(String(u"\u00C9T\u00C9")), 0);
    // The byte side only folds a to z.
    EXPECT_NE(String(u"\u00E9").compareIgnoreCase("\xE9"), 0);
}

TEST_F(StringTest, Equality) {
    String a("abc");
    EXPECT_TRUE(a == a);
    EXPECT_TRUE(a == String(u"abc"));
    EXPECT_FALSE(a == String("abd"));
    EXPECT_FALSE(a == String("ab"));
    const unit withZero[] = {u'a', u'b', u'c', 0};
    EXPECT_FALSE(a == String(withZero, 4));
    EXPECT_TRUE(String() == String(""));
}

// ---- search ----

TEST_F(StringTest, FindTable) {
    const String s("abcabc");
    struct Case {
        const char* needle;
        i32 start;
        bool backward;
        i32 expected;
    };
    const std::vector<Case> cases = {
        {"bc", 0, false, 1},  {"bc", 2, false, 4},  {"bc", 5, false, -1}, {"bc", -7, false, 1},
        {"bc", -1, true, 4},  {"bc", 3, true, 1},   {"bc", 4, true, 4},   {"bc", 0, true, -1},
        {"bc", 99, true, 4},  {"bc", 99, false, -1}, {"abcabcx", 0, false, -1},
        {"abcabc", 0, false, 0}, {"abcabc", -1, true, 0}, {"x", 0, false, -1},
        {"", 3, false, 3},    {"", 3, true, 3},     {"", -2, false, 0},   {"", -2, true, 6},
        {"", 99, false, 6},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(s.find(String(c.needle), c.start, c.backward), c.expected)
            << c.needle << " " << c.start << " " << c.backward;
        EXPECT_EQ(s.find(c.needle, c.start, c.backward), c.expected) << c.needle;
    }
    EXPECT_EQ(s.find(u'c'), 2);
    EXPECT_EQ(s.find(u'c', 3), 5);
    EXPECT_EQ(s.find(u'c', -1, true), 5);
    EXPECT_EQ(s.find(u'c', 4, true), 2);
    EXPECT_EQ(s.indexOf(u"ca", 2, 0), 2);
    EXPECT_EQ(s.indexOf(u"cab", -1, 0), 2);
    EXPECT_EQ(s.lastIndexOf(u"ab", 2, -1), 3);
    EXPECT_EQ(s.lastIndexOf(u"ab", 2, 2), 0);
    EXPECT_EQ(s.indexOf(nullptr, 3, 2), 2);
    EXPECT_EQ(String().find("a"), -1);
}

// Long needles take a different search path; both directions must agree
// with a plain search.
TEST_F(StringTest, SearchAgreesWithReference) {
    std::mt19937 random(7);
    for (int round = 0; round < 300; round++) {
        std::u16string hay, needle;
        int hayLength = 50 + int(random() % 200);
        int needleLength = 1 + int(random() % 40);
        for (int i = 0; i < hayLength; i++) hay += char16_t(u'a' + random() % 2);
        if (random() % 2) {
            size_t from = random() % (hay.size() - 1);
            needle = hay.substr(from, size_t(needleLength));
        } else {
            for (int i = 0; i < needleLength; i++) needle += char16_t(u'a' + random() % 2);
        }
        String s(hay.c_str(), i32(hay.size()));
        String n(needle.c_str(), i32(needle.size()));
        i32 start = i32(random() % hay.size());
        auto expectIndex = [](size_t r) { return r == std::u16string::npos ? -1 : i32(r); };
        ASSERT_EQ(s.find(n, start), expectIndex(hay.find(needle, size_t(start))));
        ASSERT_EQ(s.find(n, start, true), expectIndex(hay.rfind(needle, size_t(start))));
        ASSERT_EQ(s.find(n, -1, true), expectIndex(hay.rfind(needle)));
    }
}

TEST_F(StringTest, LongNeedleInRepetitiveText) {
    std::u16string hay(200000, u'a');
    hay += u'b';
    std::u16string needle(5000, u'a');
    needle += u'b';
    String s(hay.c_str(), i32(hay.size()));
    EXPECT_EQ(s.find(String(needle.c_str(), i32(needle.size()))), 195000);
    std::u16string back = u"b" + std::u16string(5000, u'a');
    std::u16string hay2 = u"b" + std::u16string(200000, u'a');
    String s2(hay2.c_str(), i32(hay2.size()));
    EXPECT_EQ(s2.find(String(back.c_str(), i32(back.size())), -1, true), 0);
}

TEST_F(StringTest, FindFirstOf) {
    const String s(u"key = v\u00E9;");
    EXPECT_EQ(s.findFirstOf("=;"), 4);
    EXPECT_EQ(s.findFirstOf("=;", 5), 8);
    EXPECT_EQ(s.findFirstOf("\xE9"), 7);
    EXPECT_EQ(s.findFirstOf("#"), -1);
    EXPECT_EQ(s.findFirstOf("", 3), 3);
    EXPECT_EQ(s.findFirstOf(nullptr, 2), 2);
    EXPECT_EQ(s.findFirstOf("=", -1), -1);
    EXPECT_EQ(s.findFirstOf("=", 99), -1);
    const unit withZero[] = {u'a', 0, u'b'};
    EXPECT_EQ(String(withZero, 3).findFirstOf("b"), 2);
}

// ---- replacing ----

TEST_F(StringTest, Replace) {
    String s("one two one");
    EXPECT_EQ(s.replace(String("one"), String("1")), 0);
    EXPECT_EQ(str(s), u"1 two one");
    EXPECT_EQ(s.replace(String("one"), String("1"), 1), 6);
    EXPECT_EQ(str(s), u"1 two 1");
    EXPECT_EQ(s.replace(String("zzz"), String("!")), -1);
    EXPECT_EQ(s.replace(String(), String(">"), 3), 0);
    EXPECT_EQ(str(s), u">1 two 1");
    EXPECT_EQ(s.replace(u'1', u'I', 2), 7);
    EXPECT_EQ(str(s), u">1 two I");
    EXPECT_EQ(s.replace(u"two", u""), 3);
    EXPECT_EQ(str(s), u">1  I");
}

TEST_F(StringTest, ReplaceAllTable) {
    struct Case {
        const char* text;
        const char* find;
        const char* replacement;
        i32 start;
        i32 count;
        const char16_t* expected;
    };
    const std::vector<Case> cases = {
        {"aaa", "a", "aa", 0, 3, u"aaaaaa"},
        {"aaa", "aa", "b", 0, 1, u"ba"},
        {"abcabc", "bc", "", 0, 2, u"aa"},
        {"abcabc", "abc", "", 0, 2, u""},
        {"abcabc", "b", "B", 2, 1, u"abcaBc"},
        {"abcabc", "b", "B", -5, 2, u"aBcaBc"},
        {"abc", "", "x", 0, 0, u"abc"},
        {"abc", "z", "x", 0, 0, u"abc"},
        {"%1 and %1", "%1", "arg", 0, 2, u"arg and arg"},
    };
    for (const Case& c : cases) {
        String s(c.text);
        EXPECT_EQ(s.replaceAll(c.find, c.replacement, c.start), c.count) << c.text << c.find;
        EXPECT_EQ(str(s), c.expected) << c.text << c.find;
    }
    String s("x %1 y");
    EXPECT_EQ(s.replaceAll("%1", String(u"\u00E9")), 1);
    EXPECT_EQ(str(s), u"x \u00E9 y");
    String gone("abab");
    gone.replaceAll(String("ab"), String());
    EXPECT_TRUE(gone.sharesBufferWith(String()));
}

TEST_F(StringTest, ReplaceAllUnits) {
    String s("a.b.c");
    String copy(s);
    EXPECT_EQ(s.replaceAll(u'.', u'/'), 2);
    EXPECT_EQ(str(s), u"a/b/c");
    EXPECT_EQ(str(copy), u"a.b.c");
    String none(copy);
    EXPECT_EQ(none.replaceAll(u'#', u'/'), 0);
    EXPECT_TRUE(none.sharesBufferWith(copy));
    EXPECT_EQ(s.replaceAll(u'/', u'.', 2), 1);
    EXPECT_EQ(str(s), u"a/b.c");
}

TEST_F(StringTest, ReplaceAllKeepsUnshareableMark) {
    String s("a-b-c");
    s.setShareable(false);
    s.replaceAll("-", "+");
    EXPECT_EQ(str(s), u"a+b+c");
    EXPECT_FALSE(s.isShareable());
}

// ---- cutting ----

TEST_F(StringTest, EraseTable) {
    struct Case {
        i32 start;
        i32 count;
        const char16_t* expected;
    };
    const std::vector<Case> cases = {
        {1, 2, u"adef"}, {-1, 2, u"abcdef"}, {2, -1, u"ab"}, {2, 99, u"ab"},
        {6, 1, u"abcdef"}, {9, 1, u"abcdef"}, {0, 0, u"abcdef"}, {5, 1, u"abcde"},
    };
    for (const Case& c : cases) {
        String s("abcdef");
        s.erase(c.start, c.count);
        EXPECT_EQ(str(s), c.expected) << c.start << " " << c.count;
    }
    String s("abcdef");
    s.erase(0, -1);
    EXPECT_TRUE(s.sharesBufferWith(String()));
    String t("abcdef");
    t.erase(0, 6);
    EXPECT_TRUE(t.sharesBufferWith(String()));
}

TEST_F(StringTest, EraseShrinksByTheSpareRule) {
    String s;
    s.fill(u'x', 3000);
    s.erase(10, -1);
    EXPECT_EQ(s.length(), 10);
    EXPECT_EQ(s.capacity(), 16);
    s.fill(u'y', 2100);
    s.erase(2047, -1);
    EXPECT_EQ(s.capacity(), 4096);
}

TEST_F(StringTest, Substr) {
    const String s("abcdef");
    EXPECT_TRUE(s.substr(0, -1).sharesBufferWith(s));
    EXPECT_TRUE(s.substr(0, 6).sharesBufferWith(s));
    EXPECT_TRUE(s.substr(0, 60).sharesBufferWith(s));
    EXPECT_EQ(str(s.substr(2, 2)), u"cd");
    EXPECT_EQ(str(s.substr(2, -1)), u"cdef");
    EXPECT_EQ(str(s.substr(4, 10)), u"ef");
    EXPECT_TRUE(s.substr(6, 1).sharesBufferWith(String()));
    EXPECT_TRUE(s.substr(2, 0).sharesBufferWith(String()));
    // A negative start reads from the beginning, never before the buffer.
    EXPECT_EQ(str(s.substr(-3, 2)), u"ab");
    EXPECT_EQ(str(s.substr(-3, -1)), u"abcdef");
    EXPECT_EQ(str(s.substr(INT_MIN, 1)), u"a");
}

TEST_F(StringTest, Trim) {
    const std::vector<std::pair<const char*, const char16_t*>> cases = {
        {"  a b \t\r\n", u"a b"}, {"ab", u"ab"}, {" \x01\x20", u""}, {"", u""}, {"x ", u"x"},
        {"\x1F" "x", u"x"},
    };
    for (auto [in, expected] : cases) {
        String s(in);
        s.trim();
        EXPECT_EQ(str(s), expected) << in;
    }
    String nbsp(u"\u00A0x\u00A0");
    nbsp.trim();
    EXPECT_EQ(str(nbsp), u"\u00A0x\u00A0");
}

TEST_F(StringTest, NextToken) {
    String s("  a , b");
    EXPECT_EQ(str(s.nextToken(',')), u"a");
    EXPECT_EQ(str(s), u" b");
    EXPECT_EQ(str(s.nextToken(',')), u"b");
    EXPECT_TRUE(s.isEmpty());

    String t("abc");
    EXPECT_EQ(str(t.nextToken(',')), u"abc");
    EXPECT_TRUE(t.sharesBufferWith(String()));

    String u(u"x\u2022y");
    EXPECT_EQ(str(u.nextToken(u'\x2022')), u"x");
    EXPECT_EQ(str(u), u"y");

    String v("k :: v :: w");
    EXPECT_EQ(str(v.nextToken("::")), u"k");
    EXPECT_EQ(str(v), u" v :: w");

    String w(",x");
    EXPECT_EQ(str(w.nextToken(',')), u"");
    EXPECT_EQ(str(w), u"x");
}

// An empty separator cannot split: the whole text comes out, so a loop
// until empty ends.
TEST_F(StringTest, NextTokenWithEmptySeparatorTakesAll) {
    for (const char* separator : {"", static_cast<const char*>(nullptr)}) {
        String s(" a,b ");
        EXPECT_EQ(str(s.nextToken(separator)), u"a,b");
        EXPECT_TRUE(s.isEmpty());
    }
}

// ---- size limits ----

TEST_F(StringTest, LengthOverflowFailsWithBadAlloc) {
    String s;
    try {
        s.setLength(1 << 30);  // 2^31 units of address space, hardly touched
    } catch (const std::bad_alloc&) {
        GTEST_SKIP() << "no room for a 4 GB buffer here";
    }
    ASSERT_EQ(s.capacity(), i64(1) << 31);
    s.setAt(0, u'a');

    EXPECT_THROW(s += s, std::bad_alloc);
    EXPECT_THROW(s.insert(s, 5), std::bad_alloc);
    EXPECT_THROW(s.append(s.chars(), s.length()), std::bad_alloc);
    EXPECT_EQ(s.length(), 1 << 30);
    EXPECT_EQ(s[0], u'a');

    // The largest length still fits the same buffer; one more unit does not.
    s.setLength(INT_MAX);
    EXPECT_EQ(s.length(), INT_MAX);
    EXPECT_EQ(s.capacity(), i64(1) << 31);
    EXPECT_THROW(s += u'x', std::bad_alloc);
    EXPECT_THROW(s += 'x', std::bad_alloc);
    EXPECT_THROW(s += "xy", std::bad_alloc);
    EXPECT_THROW(s.insert(u'x', 0), std::bad_alloc);
    EXPECT_THROW(s.replace(String("a"), String("xy")), std::bad_alloc);
    EXPECT_EQ(s.length(), INT_MAX);
    EXPECT_EQ(s[0], u'a');

    s.setLength(3);
    EXPECT_EQ(s.capacity(), 16);
    EXPECT_EQ(s[0], u'a');
}

}  // namespace
