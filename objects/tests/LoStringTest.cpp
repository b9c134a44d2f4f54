#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/LoString.h"

using LxObjects::LoString;
using LxObjects::u32;
using LxObjects::u64;

namespace {

std::string bytes(const LoString& s)
{
    return std::string(s.text(), size_t(s.length()));
}

std::u16string wide(const LoString& s, int count, int* written = nullptr)
{
    std::vector<char16_t> out(size_t(count) + 8, u'#');
    int n = s.toWide(out.data(), count);
    if (written)
        *written = n;
    EXPECT_EQ(out[size_t(count)], u'#') << "wrote past the bound";
    return std::u16string(out.data(), size_t(n));
}

}  // namespace

TEST(LoString, CapacityIsTheNextMultipleOf128AboveTheLength)
{
    LoString empty;
    EXPECT_EQ(empty.length(), 0);
    EXPECT_EQ(empty.capacity(), 128);
    EXPECT_STREQ(empty.text(), "");

    struct {
        int length, capacity;
    } cases[] = {{0, 128}, {1, 128}, {127, 128}, {128, 256}, {255, 256}, {256, 384}};
    for (auto c : cases) {
        std::string text(size_t(c.length), 'x');
        EXPECT_EQ(LoString(text.c_str()).capacity(), c.capacity) << c.length;
        LoString assigned;
        assigned.assign(text.c_str(), c.length);
        EXPECT_EQ(assigned.capacity(), c.capacity) << c.length;
        EXPECT_EQ(assigned.length(), c.length);
    }
}

TEST(LoString, AssignKeepsTheBlockWhileTheTextFits)
{
    LoString s(std::string(200, 'a').c_str());
    EXPECT_EQ(s.capacity(), 256);
    s.assign("short");
    EXPECT_EQ(s.capacity(), 256);
    EXPECT_EQ(bytes(s), "short");
    s.assign(nullptr);
    EXPECT_EQ(bytes(s), "");
    s.assign("abcdef", 3);
    EXPECT_EQ(bytes(s), "abc");
}

TEST(LoString, AppendGrowsAndKeepsTheText)
{
    std::string first(100, 'a');
    LoString s(first.c_str());
    EXPECT_EQ(s.capacity(), 128);
    s.append(std::string(28, 'b').c_str());
    EXPECT_EQ(s.capacity(), 256);
    EXPECT_EQ(bytes(s), first + std::string(28, 'b'));

    LoString t(std::string(127, 'c').c_str());
    t += 'd';
    EXPECT_EQ(t.capacity(), 256);
    EXPECT_EQ(t.length(), 128);
    EXPECT_EQ(t.text()[127], 'd');
}

// Blocks stay multiples of 128 bytes, but a text that outgrows its block at
// least doubles it: building a long text a byte or a line at a time copies it
// a few times, not once per 128 bytes.
TEST(LoString, LongTextsGrowGeometrically)
{
    const std::vector<int> doubling{128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768};
    struct Case {
        const char* how;
        void (*add)(LoString& s);
    } cases[] = {
        {"a byte at a time", [](LoString& s) { s += 'x'; }},
        {"a line at a time", [](LoString& s) { s.append("0123456789abcdefghijklmnopqrstuvwxyz\n"); }},
    };
    for (const Case& c : cases) {
        LoString s;
        std::vector<int> seen{s.capacity()};
        while (s.length() < 20000) {
            c.add(s);
            if (s.capacity() != seen.back())
                seen.push_back(s.capacity());
        }
        EXPECT_EQ(seen, doubling) << c.how;
        EXPECT_EQ(s.text()[s.length()], 0) << c.how;
    }
    LoString line(std::string(100, 'a').c_str());
    line.append(std::string(300, 'b').c_str());
    EXPECT_EQ(line.capacity(), 512) << "a long append takes the rule's block when that is more than twice";
    EXPECT_EQ(bytes(line), std::string(100, 'a') + std::string(300, 'b'));
}

TEST(LoString, AppendingNothingLeavesTheStringAlone)
{
    LoString s("abc");
    s.append(nullptr);
    s.append("xyz", 0);
    s += "";
    EXPECT_EQ(bytes(s), "abc");
    EXPECT_EQ(s.capacity(), 128);
}

TEST(LoString, AppendsChainAndKeepBytesAfterANul)
{
    LoString s("a\0b", 3);
    EXPECT_EQ(s.length(), 3);
    LoString t;
    (t += "x") += s;
    t += '!';
    EXPECT_EQ(bytes(t), std::string("xa\0b!", 5));
    LoString copy(t);
    EXPECT_EQ(bytes(copy), bytes(t));
}

TEST(LoString, TextFromItsOwnBlockSurvivesGrowthAndOverlap)
{
    LoString s(std::string(100, 'q').c_str());
    s += s;  // grows: the source is the old block
    EXPECT_EQ(bytes(s), std::string(200, 'q'));

    LoString t("0123456789");
    t.append(t.text() + 2, 3);
    EXPECT_EQ(bytes(t), "0123456789234");
    t.assign(t.text() + 5);
    EXPECT_EQ(bytes(t), "56789234");
    t = t;
    EXPECT_EQ(bytes(t), "56789234");
}

TEST(LoString, NumbersAreAppendedAs32BitUnsignedAndRoundedDoubles)
{
    LoString s;
    s += u32(0);
    s += ' ';
    s += u32(4294967295u);
    s += ' ';
    s += u64(0x100000005ull);  // only the low 32 bits, as through "%lu" of a 32-bit long
    EXPECT_EQ(bytes(s), "0 4294967295 5");

    struct {
        double value;
        const char* text;
    } cases[] = {{3.7, "4"}, {-3.7, "-4"}, {0.0, "0"}, {1e20, "100000000000000000000"}, {123456.4, "123456"}};
    for (auto c : cases) {
        LoString d;
        d += c.value;
        EXPECT_EQ(bytes(d), c.text) << c.value;
    }
    LoString big;
    big += -1.7976931348623157e308;
    EXPECT_EQ(big.length(), 310);
}

TEST(LoString, CompareOrdersBytesAsUnsigned)
{
    EXPECT_EQ(LoString("abc").compare("abd"), -1);
    EXPECT_EQ(LoString("abc").compare("abc"), 0);
    EXPECT_EQ(LoString("abd").compare("abc"), 1);
    EXPECT_EQ(LoString("\xC3").compare("z"), 1);
    EXPECT_EQ(LoString("").compare(nullptr), 0);
    EXPECT_EQ(LoString("a").compare(nullptr), 1);
}

TEST(LoString, LowerCasingFoldsAsciiLettersOnly)
{
    LoString s("MiXeD \xC3\x9C Z@[");
    EXPECT_EQ(bytes(s.lowerCased()), "mixed \xC3\x9C z@[");
    EXPECT_EQ(bytes(s), "MiXeD \xC3\x9C Z@[");
}

TEST(LoString, TruncateCutsOnlyWithinTheText)
{
    LoString s("abcdef");
    for (int n : {-1, 6, 10})
        s.truncate(n);
    EXPECT_EQ(bytes(s), "abcdef");
    s.truncate(3);
    EXPECT_EQ(bytes(s), "abc");
    EXPECT_EQ(s.text()[3], 0);
    s.truncate(0);
    EXPECT_EQ(bytes(s), "");
}

TEST(LoString, Utf16ConvertsToUtf8WithPairsAndLoneSurrogates)
{
    const char16_t text[] = {u'A', 0x00E9, 0x20AC, 0xD83D, 0xDE00, 0};
    LoString s(text);
    EXPECT_EQ(bytes(s), "\x41\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(s.length(), 10);

    const char16_t high[] = {0xD800, 0};
    EXPECT_EQ(bytes(LoString(high)), "\xED\xA0\x80");
    const char16_t low[] = {0xDC00, u'x', 0};
    EXPECT_EQ(bytes(LoString(low)), "\xED\xB0\x80x");
    // A pair cut by the given length: the high half stands alone.
    EXPECT_EQ(bytes(LoString(text + 3, 1)), "\xED\xA0\xBD");

    EXPECT_EQ(LoString(static_cast<const char16_t*>(nullptr)).length(), 0);
    EXPECT_EQ(LoString(text, 0).length(), 0);
}

TEST(LoString, Utf16UpToTheNulStopsAt65536Units)
{
    std::u16string many(70000, u'a');
    EXPECT_EQ(LoString(many.c_str()).length(), 65536);
    EXPECT_EQ(LoString(many.c_str(), 70000).length(), 70000);
}

TEST(LoString, ToWideDecodesAndEndsWithANul)
{
    LoString s("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    int n = 0;
    EXPECT_EQ(wide(s, 16, &n), std::u16string({u'A', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0}));
    EXPECT_EQ(n, 6);

    EXPECT_EQ(wide(LoString("A\x80" "B"), 8), std::u16string({u'A', 0xFFFD, u'B', 0}));
    EXPECT_EQ(wide(LoString("a\0b", 3), 8), std::u16string({u'a', 0}));
    EXPECT_EQ(wide(LoString(""), 4), std::u16string({0}));
}

TEST(LoString, ToWideMapsCodePointsBeyondUnicodeToReplacement)
{
    // F4 90 80 80 is 0x110000; the five- and six-byte forms go further.
    EXPECT_EQ(wide(LoString("\xF4\x90\x80\x80" "a"), 8), std::u16string({0xFFFD, u'a', 0}));
    EXPECT_EQ(wide(LoString("\xF8\x88\x80\x80\x80"), 8), std::u16string({0xFFFD, 0}));
    EXPECT_EQ(wide(LoString("\xFC\x84\x80\x80\x80\x80"), 8), std::u16string({0xFFFD, 0}));
    EXPECT_EQ(wide(LoString("\xF4\x8F\xBF\xBF"), 8), std::u16string({0xDBFF, 0xDFFF, 0}));
}

TEST(LoString, ToWideNeverWritesPastItsBound)
{
    LoString pair("\xF0\x9F\x98\x80");
    struct {
        int count;
        std::u16string units;
    } cases[] = {
        {0, u""},
        {1, u""},  // no room for both halves: nothing, and no NUL
        {2, std::u16string({0xD83D, 0xDE00})},
        {3, std::u16string({0xD83D, 0xDE00, 0})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wide(pair, c.count), c.units) << c.count;

    EXPECT_EQ(wide(LoString("abc"), 2), u"ab");
    EXPECT_EQ(wide(LoString("abc"), 3), u"abc");
}

TEST(LoString, ToWideStopsAtATruncatedSequenceAtTheEnd)
{
    EXPECT_EQ(wide(LoString("A\xE2\x82"), 8), std::u16string({u'A', 0xFFFD, 0}));
    EXPECT_EQ(wide(LoString("\xF0\x9F"), 8), std::u16string({0xFFFD, 0}));
    // The lead byte sits at the end of a full block: its sequence would
    // reach five bytes beyond the block.
    LoString edge((std::string(126, 'a') + "\xFC").c_str());
    EXPECT_EQ(edge.capacity(), 128);
    std::u16string expected(126, u'a');
    expected += char16_t(0xFFFD);
    expected += char16_t(0);
    EXPECT_EQ(wide(edge, 200), expected);
}
