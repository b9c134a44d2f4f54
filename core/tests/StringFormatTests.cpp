#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdint>
#include <locale.h>
#include <string>

#include "core/Encoder.h"
#include "core/String.h"
#include "core/ThreadData.h"
#include "core/tests/TestSupport.h"

using namespace LxCore;

namespace {

class StringFormatTest : public ::testing::Test {
protected:
    CoreStarted core;
    void TearDown() override { String::setLocalizationHooks(nullptr, nullptr); }
};

template <typename... Args>
std::u16string format(const char* f, Args... args) {
    String s;
    s.sprintf(f, args...);
    return str(s);
}

// A UTF-8 encoder that cannot count ahead, so conversions go in chunks.
class UncountedUtf8 : public UTF8Encoder {
public:
    i32 getCharCount(const char*, i32, u32& n) const override {
        n = kEncoderNoCount;
        return 0;
    }
    i32 getByteCount(const unit*, i32, u32& n) const override {
        n = kEncoderNoCount;
        return 0;
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// sprintf

TEST_F(StringFormatTest, WidthsJustifyAndPad) {
    EXPECT_EQ(format("%5d|%-5d|%05d", 42, 42, -42), u"   42|42   |-0042");
    EXPECT_EQ(format("%+05d|%+d|%+d", 42, 0, -3), u"+0042|+0|-3");
    EXPECT_EQ(format("%-05d|", 7), u"00007|");  // zero padding wins over '-'
    EXPECT_EQ(format("[%6s][%-6s]", "ab", "ab"), u"[    ab][ab    ]");
    EXPECT_EQ(format("%d %ld", INT_MIN, -1), u"-2147483648 -1");
}

TEST_F(StringFormatTest, UnsignedConversionsKeepSixteenBitsWithoutL) {
    EXPECT_EQ(format("%x|%lx", 0x12345, 0x12345), u"2345|12345");
    EXPECT_EQ(format("%X|%lX", 0xABCDEF, 0xABCDEF), u"CDEF|ABCDEF");
    EXPECT_EQ(format("%u|%lu", 70000, 4294967295u), u"4464|4294967295");
    EXPECT_EQ(format("%o|%b|%B|%lb", 8, 5, 6, 0x10000), u"10|101|110|10000000000000000");
    EXPECT_EQ(format("%hx|%+u", 0xFFFF, 5), u"ffff|5");
}

TEST_F(StringFormatTest, PointerIsLowThirtyTwoBitsInSixteen) {
    void* p = reinterpret_cast<void*>(uintptr_t(0x123456789ABCull));
    EXPECT_EQ(format("%p|%P", p, p), u"        56789abc|        56789ABC");
    EXPECT_EQ(format("%0p", p), u"0000000056789abc");
    EXPECT_EQ(format("%p", static_cast<void*>(nullptr)), u"               0");
}

TEST_F(StringFormatTest, StringsAndCharacters) {
    EXPECT_EQ(format("%s|%ls", static_cast<const char*>(nullptr),
                     static_cast<const unit*>(nullptr)),
              u"(null)|(null)");
    EXPECT_EQ(format("%.2s|%.2ls|%.0s|", "abc", u"abc", "abc"), u"ab|ab||");
    EXPECT_EQ(format("%s", "caf\xE9"), u"caf\u00E9");  // through the current encoder
    EXPECT_EQ(format("%ls", u"\u4E2D\U0001F600"), u"\u4E2D\U0001F600");
    EXPECT_EQ(format("%c%lc%lc|%c", 'A', unit(0x00E9), 0, 0), u"A\u00E9|");
    EXPECT_EQ(format("%3c|%-3lc|", 'x', unit('y')), u"  x|y  |");
}

TEST_F(StringFormatTest, LiteralsAndUnknownConversions) {
    EXPECT_EQ(format("100%%"), u"100%");
    EXPECT_EQ(format("%q%S", 1), u"qS");
    EXPECT_EQ(format("no args"), u"no args");
    // An unfinished conversion ends the text; nothing past the 0 is read.
    EXPECT_EQ(format("abc%"), u"abc");
    EXPECT_EQ(format("abc%-+05.3l"), u"abc");
    EXPECT_EQ(format("abc%5"), u"abc");
}

TEST_F(StringFormatTest, StarWidthAndPrecision) {
    EXPECT_EQ(format("%*d|%-*d|", 5, 42, 4, 1), u"   42|1   |");
    EXPECT_EQ(format("%*d|", -4, 1), u"1   |");  // negative: left-justified
    EXPECT_EQ(format("%.*s|%.*s", 1, "abc", -1, "abc"), u"a|abc");
}

TEST_F(StringFormatTest, HugeWidthsAreClampedAndPrecisionsSaturate) {
    String s;
    s.sprintf("%999999999999d", 1);
    EXPECT_EQ(s.length(), 0x10000);
    s.sprintf("%*d", INT_MAX, 1);
    EXPECT_EQ(s.length(), 0x10000);
    s.sprintf("%*d", INT_MIN, 1);
    EXPECT_EQ(s.length(), 0x10000);
    EXPECT_EQ(s[0], '1');
    EXPECT_EQ(format("%.99999999999999s|%.2147483648ls", "abc", u"de"), u"abc|de");
    EXPECT_EQ(format("%.99999999999f", 0.5), u"0.50000000000000");
}

TEST_F(StringFormatTest, Doubles) {
    EXPECT_EQ(format("%f|%.2f|%.0f", 1.5, 3.14159, 2.5), u"1.500000|3.14|2");
    EXPECT_EQ(format("%e|%E|%.2e", 12345.678, 12345.678, 0.000123),
              u"1.234568e+04|1.234568E+04|1.23e-04");
    EXPECT_EQ(format("%g|%G|%.3g|%lg", 0.1, 1e-10, 3.14159, 100.0),
              u"0.1|1E-10|3.14159|100");  // 'g' takes no precision
    EXPECT_EQ(format("%+f|%+.1f|%+g", 1.0, -1.0, 2.0), u"+1.000000|-1.0|+2");
    EXPECT_EQ(format("%10.2f|%-8.1f|%010.2f", 3.14159, 2.5, -3.14159),
              u"      3.14|2.5     |-000003.14");
    EXPECT_EQ(format("%.20f", 0.1), u"0.10000000000000");  // precision capped at 14
    EXPECT_EQ(format("%f|%f|%F", 1.0 / 0.0, -1.0 / 0.0, 1.0 / 0.0), u"inf|-inf|INF");
}

TEST_F(StringFormatTest, FixedFormShowsAtMostSeventeenDigits) {
    EXPECT_EQ(format("%.0f", 123456789012345678901.0), u"123456789012345680000");
    EXPECT_EQ(format("%.0f", -123456789012345678901.0), u"-123456789012345680000");
    EXPECT_EQ(format("%.3f", 12345678901234567.0), u"12345678901234568.000");
    EXPECT_EQ(format("%.2f", 1234567890123456.0), u"1234567890123456.00");
}

TEST_F(StringFormatTest, NConversionPrintsLikeF) {
    EXPECT_EQ(format("%n|%.1N", 2.5, 1.0 / 0.0), u"2.500000|INF");
    String s;
    s.appendDouble(1.25, 'n', 1, 0);
    s.appendDouble(1.0, 'd', -1, 0);  // anything else reads as 'f' too
    EXPECT_EQ(str(s), u"1.21.000000");
}

TEST_F(StringFormatTest, AppendDoubleAppends) {
    String s("x=");
    s.appendDouble(0.25, 'g', -1, 0);
    s.appendDouble(1.0, 'e', 1, '+');
    s.appendDouble(3.0, 'f', 0, 'Q');  // no such flag: ignored
    s.appendDouble(4.0, 'f', 1, '-');  // would only pad against the internal width
    s.appendDouble(5.0, 'f', 1, '0');
    EXPECT_EQ(str(s), u"x=0.25+1.0e+0034.05.0");
}

TEST_F(StringFormatTest, FormatArgumentMayBeTheTargetItself) {
    String s("abc");
    s.sprintf("[%ls]", s.chars());
    EXPECT_EQ(str(s), u"[abc]");
}

// Numbers are written with '.' whatever numeric locale the host set.
TEST_F(StringFormatTest, NumbersIgnoreTheHostLocale) {
    const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                                "de_DE",       "fr_FR",      "ru_RU.UTF-8", "es_ES.UTF-8"};
    const char* found = nullptr;
    for (const char* name : candidates) {
        locale_t probe = newlocale(LC_ALL_MASK, name, locale_t(0));
        if (!probe) continue;
        freelocale(probe);
        found = name;
        break;
    }
    if (!found) GTEST_SKIP() << "no comma-decimal locale installed";

    std::string saved = setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(setlocale(LC_NUMERIC, found), nullptr);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5");  // the host's formatter does use the comma
    EXPECT_EQ(format("%.2f|%g|%e", 1.5, 0.5, 2.0), u"1.50|0.5|2.000000e+00");
    setlocale(LC_NUMERIC, saved.c_str());

    locale_t threadLocale = newlocale(LC_ALL_MASK, found, locale_t(0));
    locale_t old = uselocale(threadLocale);
    EXPECT_EQ(format("%.1f", 2.5), u"2.5");
    uselocale(old);
    freelocale(threadLocale);
}

// ---------------------------------------------------------------------------
// toSource

TEST_F(StringFormatTest, ToSource) {
    String s = make(u"a\t\"\u00E9\\");
    EXPECT_EQ(str(s.toSource(true)), u"\"a\\t\\\"\\u00E9\\\\\"");
    EXPECT_EQ(str(s.toSource(false)), u"\"a\\t\\\"\u00E9\\\\\"");
    EXPECT_EQ(str(make(u"\b\f\n\r\x01\x7F\x1F").toSource(false)),
              u"\"\\b\\f\\n\\r\\x01\\x7F\\x1F\"");
    EXPECT_EQ(str(make(u"\uABCD\U0001F600").toSource(true)), u"\"\\uABCD\\uD83D\\uDE00\"");
    EXPECT_EQ(str(String().toSource(true)), u"\"\"");
}

// ---------------------------------------------------------------------------
// parseLiteral, extractLiteral, parseHex

TEST_F(StringFormatTest, ParseLiteralQuotesAndLineEnds) {
    String out;
    i32 pos = 0;
    EXPECT_FALSE(make(u"'abc\nrest").parseLiteral(out, pos));
    EXPECT_EQ(str(out), u"abc");
    EXPECT_EQ(pos, 5);

    pos = 0;
    EXPECT_TRUE(make(u"abc def").parseLiteral(out, pos));
    EXPECT_EQ(str(out), u"abc def");
    EXPECT_EQ(pos, 7);

    pos = 0;
    EXPECT_TRUE(make(u"\"a'b\" tail").parseLiteral(out, pos));
    EXPECT_EQ(str(out), u"a'b");
    EXPECT_EQ(pos, 5);

    pos = 0;  // CR LF is one line end
    EXPECT_TRUE(make(u"abc\r\nx").parseLiteral(out, pos));
    EXPECT_EQ(str(out), u"abc");
    EXPECT_EQ(pos, 5);

    pos = 0;
    EXPECT_FALSE(make(u"\"ab\u2028cd\"").parseLiteral(out, pos));
    EXPECT_EQ(pos, 4);

    pos = 0;
    EXPECT_FALSE(make(u"\"abc").parseLiteral(out, pos));  // the text ends with the quote open
    EXPECT_EQ(pos, 4);

    pos = 9;  // at or past the end: empty and true
    out = "old";
    EXPECT_TRUE(make(u"abc").parseLiteral(out, pos));
    EXPECT_TRUE(out.isEmpty());
}

TEST_F(StringFormatTest, ParseLiteralEscapes) {
    struct Case {
        std::u16string text;
        bool ok;
        std::u16string value;
    };
    const Case cases[] = {
        {u"'\\101'", true, u"A"},
        {u"'\\u0041'", true, u"A"},
        {u"'\\x41\\X4a'", true, u"AJ"},
        {u"'\\U0001F600'", true, u"\U0001F600"},
        {u"'\\U0000004A'", true, u"J"},
        {u"'\\b\\f\\n\\r\\t\\v'", true, u"\b\f\n\r\t\v"},
        {u"'\\q\\'\\\\'", true, u"q'\\"},
        {u"'\\400'", true, u" 0"},          // a first digit above 3 takes two digits
        {u"'\\0'", true, std::u16string(1, u'\0')},
        {u"'\\08'", true, std::u16string(u"\0" "8", 2)},
        {u"'\\7777'", true, u"?77"},        // \77 is '?', the other 7s stand alone
        {u"'ab\\\ncd'", true, u"abcd"},     // line continuation
        {u"'ab\\\r\ncd'", true, u"abcd"},
        {u"'\\xZZ'", false, u""},
        {u"'a\\u00G1'", false, u"a"},
        {u"'\\U00110000'", false, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        String out;
        i32 pos = 0;
        EXPECT_EQ(make(c.text).parseLiteral(out, pos), c.ok);
        EXPECT_EQ(str(out), c.value);
    }
}

// A text that ends inside the digits of an escape stops there: it must not
// restart from an earlier position or loop.
TEST_F(StringFormatTest, ParseLiteralStopsWhenTextEndsInsideHexDigits) {
    const std::u16string texts[] = {u"\"\\x4", u"\\u12", u"'ab\\U0001", u"\\x", u"\"\\u"};
    for (const std::u16string& text : texts) {
        SCOPED_TRACE(std::string(text.begin(), text.end()));
        String s = make(text);
        String out;
        i32 pos = 0;
        EXPECT_FALSE(s.parseLiteral(out, pos));
        EXPECT_EQ(pos, s.length());

        String copy = s;
        EXPECT_FALSE(copy.extractLiteral(out));
        EXPECT_TRUE(copy.isEmpty());
    }
}

TEST_F(StringFormatTest, ParseHex) {
    String s("x4F1g");
    u32 v = 99;
    EXPECT_EQ(s.parseHex(1, 2, v), 3);
    EXPECT_EQ(v, 0x4Fu);
    EXPECT_EQ(s.parseHex(1, 4, v), String::kHexNotDigit);
    EXPECT_EQ(s.parseHex(1, 0, v), 1);  // no digits wanted: the position back
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(s.parseHex(5, 2, v), String::kHexEndOfText);
    EXPECT_EQ(s.parseHex(-1, 2, v), String::kHexNotDigit);

    String t("ab");  // ends after one of two digits: distinct from any position
    EXPECT_EQ(t.parseHex(1, 2, v), String::kHexEndOfText);
    EXPECT_EQ(v, 0xBu);
    EXPECT_EQ(t.parseHex(0, 2, v), 2);
    EXPECT_EQ(v, 0xABu);
}

TEST_F(StringFormatTest, ExtractLiteralErasesWhatItRead) {
    String s("\"first\" second");
    String out;
    EXPECT_TRUE(s.extractLiteral(out));
    EXPECT_EQ(str(out), u"first");
    EXPECT_EQ(str(s), u" second");

    String line = make(u"one\ntwo");
    EXPECT_TRUE(line.extractLiteral(out));
    EXPECT_EQ(str(out), u"one");
    EXPECT_EQ(str(line), u"two");

    String self("'x\\ty' z");  // out may be the string itself
    EXPECT_TRUE(self.extractLiteral(self));
    EXPECT_EQ(str(self), u"x\ty");
}

namespace {
void testResolver(String& text) { text = "resolved"; }
}  // namespace

TEST_F(StringFormatTest, ZStringLiteralsGoThroughTheResolver) {
    String::setLocalizationHooks(nullptr, nullptr);  // the library fills the seam at start
    String out;
    i32 pos = 0;
    EXPECT_TRUE(String("'$$$/a/b=text'").parseLiteral(out, pos));
    EXPECT_EQ(str(out), u"$$$/a/b=text");  // no localizer yet: unchanged

    String::setLocalizationHooks(testResolver, nullptr);
    pos = 0;
    EXPECT_TRUE(String("'$$$/a/b=text'").parseLiteral(out, pos));
    EXPECT_EQ(str(out), u"resolved");
    pos = 0;
    EXPECT_TRUE(String("'$$/a'").parseLiteral(out, pos));
    EXPECT_EQ(str(out), u"$$/a");
}

// ---------------------------------------------------------------------------
// URI coding

TEST_F(StringFormatTest, EncodeURI) {
    String s = make(u"a b/\u00E9");
    String t = s;
    EXPECT_TRUE(s.encodeURI(""));
    EXPECT_EQ(str(s), u"a%20b%2F%C3%A9");
    EXPECT_TRUE(t.encodeURI("/"));
    EXPECT_EQ(str(t), u"a%20b/%C3%A9");

    String w = make(u"x-y_z.\U0001F600");
    EXPECT_TRUE(w.encodeURI(u"-."));
    EXPECT_EQ(str(w), u"x-y%5Fz.%F0%9F%98%80");

    String n = make(u"a&b");
    EXPECT_TRUE(n.encodeURI(static_cast<const char*>(nullptr)));
    EXPECT_EQ(str(n), u"a%26b");

    String bad = make(u"a\xDC00");  // not UTF-8 encodable: untouched
    EXPECT_FALSE(bad.encodeURI(""));
    EXPECT_EQ(str(bad), u"a\xDC00");
}

TEST_F(StringFormatTest, DecodeURI) {
    struct Case {
        std::u16string text;
        bool ok;
        std::u16string result;
    };
    const Case cases[] = {
        {u"%41%zz", false, u"%41%zz"},
        {u"abc%4", false, u"abc%4"},
        {u"abc%", false, u"abc%"},
        {u"%C3%A9", true, u"\u00E9"},
        {u"%c3%a9x%2Fy", true, u"\u00E9x/y"},
        {u"%F0%9F%98%80", true, u"\U0001F600"},
        {u"%80", true, u"?"},
        {u"%80%80%FF", true, u"?"},      // one stretch of undecodable bytes, one '?'
        {u"%E2%82", true, u"?"},         // the run ends inside a character
        {u"%41%FF", true, u"A?"},        // a bad byte does not cost the text before it
        {u"%FF%41", true, u"?A"},        // nor the text after it
        {u"%80a%80", true, u"?a?"},
        {u"plain \u00E9", true, u"plain \u00E9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        String s = make(c.text);
        EXPECT_EQ(s.decodeURI(), c.ok);
        EXPECT_EQ(str(s), c.result);
    }
}

// ---------------------------------------------------------------------------
// Line breaks and case

TEST_F(StringFormatTest, ConvertLineFeeds) {
    String s = make(u"a\r\nb\rc");
    EXPECT_EQ(s.convertLineFeeds(3), 2);
    EXPECT_EQ(str(s), u"a\nb\nc");

    s = make(u"a\nb\r\nc\r");
    EXPECT_EQ(s.convertLineFeeds(0), 3);
    EXPECT_EQ(str(s), u"a\r\nb\r\nc\r\n");
    s = make(u"a\nb\r\nc\r");
    EXPECT_EQ(s.convertLineFeeds(2), 3);
    EXPECT_EQ(str(s), u"a\rb\rc\r");

    String same = make(u"x\ny\n");  // already in style: left alone
    String copy = same;
    EXPECT_EQ(same.convertLineFeeds(3), 2);
    EXPECT_TRUE(same.sharesBufferWith(copy));

    String none("abc");
    EXPECT_EQ(none.convertLineFeeds(1), 0);
    String odd = make(u"a\nb");
    EXPECT_EQ(odd.convertLineFeeds(7), 1);  // unknown mode: counted, not changed
    EXPECT_EQ(str(odd), u"a\nb");

    EXPECT_EQ(getPlatformLineFeed(), 1);
}

TEST_F(StringFormatTest, CaseMapping) {
    String s = make(u"Ab\u00C9\u0130");
    String copy = s;
    EXPECT_TRUE(s.toLower());
    EXPECT_EQ(str(s), u"ab\u00E9i");
    EXPECT_EQ(str(copy), u"Ab\u00C9\u0130");
    EXPECT_TRUE(s.toUpper());
    EXPECT_EQ(str(s), u"AB\u00C9I");

    String lower("abc");
    String shared = lower;
    EXPECT_FALSE(lower.toLower());
    EXPECT_TRUE(lower.sharesBufferWith(shared));  // nothing changed, nothing copied
}

// ---------------------------------------------------------------------------
// Byte conversion

// Without an encoder named, bytes go through the current one: CP1252 here.
TEST_F(StringFormatTest, WithoutAnEncoderBytesUseTheCurrentOne) {
    String s;
    EXPECT_EQ(s.decode("caf\xE9", -1), 0u);
    EXPECT_EQ(str(s), u"caf\u00E9");
    EXPECT_EQ(str(String("\xFF", static_cast<Encoder*>(nullptr))), u"\u00FF");

    const char* bytes = nullptr;
    u32 length = 0;
    EXPECT_EQ(s.encode(bytes, length), 0u);
    EXPECT_EQ(std::string(bytes, length), "caf\xE9");

    String euro = make(u"1\u20AC");
    EXPECT_EQ(euro.encode(bytes, length), 0u);
    EXPECT_EQ(std::string(bytes, length), "1\x80");
    EXPECT_EQ(make(u"1\u4E2D").encode(bytes, length), 37u);
    EXPECT_EQ(std::string(bytes, length), "1?");
}

TEST_F(StringFormatTest, DecodeAndEncodeUtf8) {
    String s;
    EXPECT_EQ(s.decode("h\xC3\xA9\xF0\x9F\x98\x80", 7, utf8Encoder()), 0u);
    EXPECT_EQ(str(s), u"h\u00E9\U0001F600");

    EXPECT_EQ(s.decode("ok\xC3", 3, utf8Encoder()), 38u);
    EXPECT_EQ(str(s), u"ok");
    EXPECT_EQ(s.decode("ab\xFF" "cd", 5, utf8Encoder()), 37u);
    EXPECT_EQ(str(s), u"ab");

    EXPECT_EQ(s.decode("", 0, utf8Encoder()), 0u);
    EXPECT_TRUE(s.isEmpty());
    EXPECT_EQ(s.decode(nullptr, 5, utf8Encoder()), 0u);
    EXPECT_TRUE(s.isEmpty());

    const char* bytes = make(u"\u00E9!").encode(utf8Encoder());
    EXPECT_STREQ(bytes, "\xC3\xA9!");
    for (int i = 3; i < 7; ++i) EXPECT_EQ(bytes[i], 0);  // four zero bytes end the text

    u32 length = 9;
    EXPECT_EQ(make(u"x\xDC00y").encode(bytes, length, utf8Encoder()), 37u);
    EXPECT_EQ(std::string(bytes, length), "x");
}

// Without a count ahead the text goes in chunks; a character that needs two
// units must not end the decoding where a chunk runs out of room.
TEST_F(StringFormatTest, ChunkedConversionsKeepEverything) {
    UncountedUtf8 uncounted;
    std::string bytes(2047, 'a');
    bytes += "\xF0\x9F\x98\x80";
    bytes += std::string(3000, 'b');
    String s;
    EXPECT_EQ(s.decode(bytes.data(), i32(bytes.size()), &uncounted), 0u);
    ASSERT_EQ(s.length(), 2047 + 2 + 3000);
    EXPECT_EQ(s[2047], 0xD83D);
    EXPECT_EQ(s[2048], 0xDE00);
    EXPECT_EQ(s[5048], 'b');

    const char* out = nullptr;
    u32 length = 0;
    EXPECT_EQ(s.encode(out, length, &uncounted), 0u);
    EXPECT_EQ(std::string(out, length), bytes);
}

TEST_F(StringFormatTest, ScratchBufferShrinksOnlyWhenLarge) {
    ThreadData* t = ThreadData::get();
    String big;
    big.fill('x', 40000);
    const char* bytes = big.encode(utf8Encoder());
    EXPECT_EQ(t->scratchLength, 40000u);
    EXPECT_GE(t->scratchSize, 40004);
    EXPECT_EQ(bytes[40000], 0);

    bytes = String("short").encode(utf8Encoder());
    EXPECT_STREQ(bytes, "short");
    EXPECT_EQ(t->scratchSize, 16384);  // the big buffer was given back

    bytes = String("tiny").encode(utf8Encoder());
    EXPECT_EQ(t->scratchSize, 16384);  // smaller buffers stay
    EXPECT_EQ(t->scratchLength, 4u);
}
