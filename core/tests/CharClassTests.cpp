// Character classes, case mapping and the plain UTF-16 text routines.
#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>

#include "core/CharClass.h"

using namespace LxCore;

namespace {

bool hasAnyProperty(unit c) {
    return isWhiteSpaceChar(c) || isFormatChar(c) || isIdentifierStart(c) ||
           isIdentifierPart(c) || isUpperCaseChar(c) || toLowerChar(c) != c ||
           toUpperChar(c) != c;
}

bool isClassDelta(int delta) {
    for (int d : {1, -8, 16, 26, 32, 48, 80})
        if (delta == d)
            return true;
    return false;
}

// ---- case mapping ----

struct CasePair {
    unit upper;
    unit lower;
};

TEST(CharClassTest, CaseClassesMapBothWays) {
    const CasePair pairs[] = {
        {u'A', u'a'},       {u'Z', u'z'},       {0x00C0, 0x00E0},  // class 5
        {0x1E00, 0x1E01},   {0x0100, 0x0101},                      // class 1
        {0x1F08, 0x1F00},                                          // class 2
        {0x2160, 0x2170},                                          // class 3
        {0x24B6, 0x24D0},   {0x24CF, 0x24E9},                      // class 4
        {0x0531, 0x0561},                                          // class 6
        {0x0400, 0x0450},                                          // class 7
        {0xFF21, 0xFF41},   {0x0391, 0x03B1},   {0x0410, 0x0430},
        {0x03F7, 0x03F8},   {0x1F88, 0x1F80},
    };
    for (const CasePair& p : pairs) {
        EXPECT_EQ(toLowerChar(p.upper), p.lower) << std::hex << int(p.upper);
        EXPECT_EQ(toUpperChar(p.lower), p.upper) << std::hex << int(p.lower);
        EXPECT_TRUE(isUpperCaseChar(p.upper)) << std::hex << int(p.upper);
        EXPECT_FALSE(isUpperCaseChar(p.lower)) << std::hex << int(p.lower);
        EXPECT_EQ(toUpperChar(p.upper), p.upper);
        EXPECT_EQ(toLowerChar(p.lower), p.lower);
    }
}

struct OneWay {
    unit from;
    unit to;
};

TEST(CharClassTest, SomeUnitsMapOneWayOnly) {
    const OneWay upper[] = {
        {0x00B5, 0x039C}, {0x00FF, 0x0178}, {0x0131, u'I'},   {0x017F, u'S'},
        {0x01C6, 0x01C4}, {0x03C2, 0x03A3}, {0x0345, 0x0399}, {0x1E9B, 0x1E60},
        {0x1FBE, 0x0399}, {0x1FF3, 0x1FFC}, {0x03F2, 0x03F9}, {0x0280, 0x01A6},
    };
    for (const OneWay& m : upper) {
        EXPECT_EQ(toUpperChar(m.from), m.to) << std::hex << int(m.from);
        EXPECT_EQ(toLowerChar(m.from), m.from) << std::hex << int(m.from);
        EXPECT_FALSE(isUpperCaseChar(m.from)) << std::hex << int(m.from);
    }
    const OneWay lower[] = {
        {0x0130, u'i'},   {0x0178, 0x00FF}, {0x01C4, 0x01C6}, {0x0220, 0x019E},
        {0x03F4, 0x03B8}, {0x2126, 0x03C9}, {0x212A, u'k'},   {0x212B, 0x00E5},
        {0x1FFC, 0x1FF3}, {0x01C5, 0x01C6},
    };
    for (const OneWay& m : lower) {
        EXPECT_EQ(toLowerChar(m.from), m.to) << std::hex << int(m.from);
        EXPECT_EQ(toUpperChar(m.from), m.from) << std::hex << int(m.from);
        EXPECT_TRUE(isUpperCaseChar(m.from)) << std::hex << int(m.from);
    }
}

// Mappings whose other half came after Unicode 4.0 are not made.
TEST(CharClassTest, LaterCasePartnersAreIgnored) {
    for (unit c : {0x0180, 0x0250, 0x10D0, 0x03F3, 0x1D79}) {
        EXPECT_EQ(toUpperChar(c), c) << std::hex << int(c);
    }
    for (unit c : {0x10A0, 0x13A0, 0x2132, 0x2183, 0x04C0}) {
        EXPECT_EQ(toLowerChar(c), c) << std::hex << int(c);
        EXPECT_FALSE(isUpperCaseChar(c)) << std::hex << int(c);
    }
}

// The units whose mapping is no class delta are the exception lists.
TEST(CharClassTest, ExceptionListsSpanTheirEndPoints) {
    int lowerCount = 0, upperCount = 0;
    unit firstLower = 0, lastLower = 0, firstUpper = 0, lastUpper = 0;
    for (u32 i = 0; i <= 0xFFFF; ++i) {
        unit c = static_cast<unit>(i);
        int down = int(toLowerChar(c)) - int(c);
        if (down != 0 && !isClassDelta(down)) {
            lastLower = c;
            if (lowerCount++ == 0)
                firstLower = c;
        }
        int up = int(toUpperChar(c)) - int(c);
        if (up != 0 && !isClassDelta(-up)) {
            lastUpper = c;
            if (upperCount++ == 0)
                firstUpper = c;
        }
    }
    EXPECT_EQ(lowerCount, 59);
    EXPECT_EQ(firstLower, 0x0130);
    EXPECT_EQ(lastLower, 0x212B);
    EXPECT_EQ(upperCount, 67);
    EXPECT_EQ(firstUpper, 0x00B5);
    EXPECT_EQ(lastUpper, 0x1FF3);
}

// ---- classes ----

TEST(CharClassTest, IdentifierCharacters) {
    for (unit c : {u'$', u'_', u'A', u'z', unit(0x00AA), unit(0x2160), unit(0x3007),
                   unit(0x1D00), unit(0x02B0), unit(0x3400), unit(0x4DB5), unit(0xA000),
                   unit(0xA48C), unit(0xAC00), unit(0xD7A3), unit(0x1885), unit(0xFF21)}) {
        EXPECT_TRUE(isIdentifierStart(c)) << std::hex << int(c);
        EXPECT_TRUE(isIdentifierPart(c)) << std::hex << int(c);
    }
    for (u32 c = 0x4E00; c <= 0x9FA5; ++c) {
        ASSERT_TRUE(isIdentifierStart(unit(c))) << std::hex << c;
        ASSERT_TRUE(isIdentifierPart(unit(c))) << std::hex << c;
    }
    // Digits and combining marks only continue an identifier.
    for (unit c : {u'0', u'9', unit(0x0300), unit(0x0345), unit(0x0660), unit(0x0903),
                   unit(0x1369), unit(0x302A)}) {
        EXPECT_FALSE(isIdentifierStart(c)) << std::hex << int(c);
        EXPECT_TRUE(isIdentifierPart(c)) << std::hex << int(c);
    }
    // Punctuation, enclosing marks, format controls and separators do neither.
    for (unit c : {u'@', u'-', u' ', unit(0x2028), unit(0x203F), unit(0x0488),
                   unit(0x20DD), unit(0x00AD), unit(0x200C), unit(0x2118), unit(0x2132),
                   unit(0x4DB6), unit(0x9FA6), unit(0xA48D), unit(0xD7A4), unit(0x0237)}) {
        EXPECT_FALSE(isIdentifierStart(c)) << std::hex << int(c);
        EXPECT_FALSE(isIdentifierPart(c)) << std::hex << int(c);
    }
}

TEST(CharClassTest, WhiteSpaceIsTheBlankList) {
    const unit blanks[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0xA0, 0x1680,
                           0x202F, 0x205F, 0x3000};
    for (unit c : blanks)
        EXPECT_TRUE(isWhiteSpaceChar(c)) << std::hex << int(c);
    for (u32 c = 0x2000; c <= 0x200B; ++c)
        EXPECT_TRUE(isWhiteSpaceChar(unit(c))) << std::hex << c;
    for (unit c : {0x00, 0x08, 0x0E, 0x1C, 0x1F, 0x85, 0x180E, 0x200C, 0x2028, 0x2029,
                   0xFEFF, 0x3001}) {
        EXPECT_FALSE(isWhiteSpaceChar(c)) << std::hex << int(c);
    }
}

TEST(CharClassTest, FormatControlsAreCf) {
    for (unit c : {0x00AD, 0x0600, 0x0601, 0x0602, 0x0603, 0x06DD, 0x070F, 0x17B4,
                   0x200C, 0x200D, 0x200E, 0x202A, 0x202E, 0x2060, 0x206F, 0xFEFF,
                   0xFFF9, 0xFFFB}) {
        EXPECT_TRUE(isFormatChar(c)) << std::hex << int(c);
        EXPECT_FALSE(isWhiteSpaceChar(c)) << std::hex << int(c);
    }
    // Zero width space and the Mongolian vowel separator were space
    // separators in Unicode 4.0.
    for (unit c : {0x200B, 0x180E, 0x0020, 0x0041, 0x0604, 0x2064})
        EXPECT_FALSE(isFormatChar(c)) << std::hex << int(c);
}

TEST(CharClassTest, UnitsOutsideTheRangesHaveNoProperties) {
    for (u32 c = 0x07B2; c <= 0x0900; ++c)
        ASSERT_FALSE(hasAnyProperty(unit(c))) << std::hex << c;
    for (unit c : {0x1975, 0x1CFF, 0x2184, 0x24B5, 0x24EA, 0x2FFF, 0x3200, 0x33FF,
                   0xD800, 0xDFFF, 0xE000, 0xF8FF}) {
        EXPECT_FALSE(hasAnyProperty(c)) << std::hex << int(c);
    }
}

TEST(CharClassTest, TablelessRangesAreCaselessLetters) {
    for (unit c : {0x3400, 0x4E00, 0x9FA5, 0xA015, 0xAC00, 0xD7A3}) {
        EXPECT_FALSE(isWhiteSpaceChar(c));
        EXPECT_FALSE(isFormatChar(c));
        EXPECT_FALSE(isUpperCaseChar(c));
        EXPECT_EQ(toLowerChar(c), c);
        EXPECT_EQ(toUpperChar(c), c);
    }
}

// ---- text routines ----

TEST(Utf16TextTest, LengthAndCopy) {
    EXPECT_EQ(utf16Length(u""), 0u);
    EXPECT_EQ(utf16Length(u"abc"), 3u);
    EXPECT_EQ(utf16Length(u"a\uFFFFb"), 3u);
    EXPECT_EQ(utf16Length(nullptr), 0u);

    unit buffer[8] = {u'x', u'x', u'x', u'x', u'x', u'x', u'x', u'x'};
    utf16Copy(buffer, u"abc");
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(buffer[3], 0);
    EXPECT_EQ(buffer[4], u'x');
    utf16Copy(buffer, nullptr);
    EXPECT_EQ(buffer[0], 0);
    utf16Copy(nullptr, u"abc");  // nothing to write into
}

TEST(Utf16TextTest, Compare) {
    EXPECT_EQ(utf16Compare(u"abc", u"abc"), 0);
    EXPECT_EQ(utf16Compare(u"", u""), 0);
    EXPECT_EQ(utf16Compare(u"abc", u"abd"), -1);
    EXPECT_EQ(utf16Compare(u"abd", u"abc"), 1);
    EXPECT_EQ(utf16Compare(u"ab", u"abc"), -int(u'c'));
    EXPECT_EQ(utf16Compare(u"\uFFFF", u"a"), 0xFFFF - int(u'a'));
    EXPECT_EQ(utf16Compare(nullptr, u""), 0);
    EXPECT_LT(utf16Compare(nullptr, u"a"), 0);
}

TEST(Utf16TextTest, CompareAscii) {
    EXPECT_EQ(utf16CompareAscii(u"abc", "abc", 3), 0);
    EXPECT_EQ(utf16CompareAscii(u"abc", "abd", 2), 0);
    EXPECT_EQ(utf16CompareAscii(u"abc", "abd", 3), -1);
    EXPECT_EQ(utf16CompareAscii(u"abc", "abc", 10), 0);
    EXPECT_EQ(utf16CompareAscii(u"ab", "abc", 10), -int('c'));
    EXPECT_EQ(utf16CompareAscii(u"abc", "ab", 10), int(u'c'));
    EXPECT_EQ(utf16CompareAscii(u"x", "y", 0), 0);
    EXPECT_EQ(utf16CompareAscii(u"x", "y", -5), 0);
    // Bytes count as unsigned, so Latin-1 bytes meet their units.
    EXPECT_EQ(utf16CompareAscii(u"\u00E9", "\xE9", 1), 0);
}

TEST(Utf16TextTest, CompareAsciiNoCase) {
    EXPECT_EQ(utf16CompareAsciiNoCase(u"Hello", "hELLO"), 0);
    EXPECT_EQ(utf16CompareAsciiNoCase(u"hello", "HELLO"), 0);
    EXPECT_EQ(utf16CompareAsciiNoCase(u"abc", "ABD"), -1);
    EXPECT_EQ(utf16CompareAsciiNoCase(u"ab", "AB!"), -int('!'));
    EXPECT_EQ(utf16CompareAsciiNoCase(u"\u00E9", "\xC9"), 0);  // é upper-cased
    EXPECT_EQ(utf16CompareAsciiNoCase(u"\u00E9", "\xE9"), 0xC9 - 0xE9);  // bytes: only a-z
    EXPECT_EQ(utf16CompareAsciiNoCase(u"\u0131", "I"), 0);      // dotless i
    EXPECT_EQ(utf16CompareAsciiNoCase(u"abcX", "ABCY", 3), 0);
    EXPECT_EQ(utf16CompareAsciiNoCase(u"abcX", "ABCY", 4), int('X') - int('Y'));
    EXPECT_EQ(utf16CompareAsciiNoCase(u"a", "b", 0), 0);
    EXPECT_EQ(utf16CompareAsciiNoCase(u"abc", "abc", 99), 0);
}

TEST(Utf16TextTest, FindChar) {
    const unit* s = u"abcabc";
    EXPECT_EQ(utf16FindChar(s, u'a'), s);
    EXPECT_EQ(utf16FindChar(s, u'c'), s + 2);
    EXPECT_EQ(utf16FindChar(s, u'x'), nullptr);
    EXPECT_EQ(utf16FindChar(s, 0), nullptr);
    EXPECT_EQ(utf16FindChar(nullptr, u'a'), nullptr);
}

struct IntCase {
    const unit* text;
    i32 value;
};

TEST(Utf16TextTest, ToInt) {
    const IntCase cases[] = {
        {u" -12x", -12},
        {u"+", 0},
        {u"-", 0},
        {u"", 0},
        {u"abc", 0},
        {u"+7", 7},
        {u"\t\u3000\u200B 42", 42},
        {u"\u2028 5", 0},  // a line separator is no white space
        {u"+-1", 0},
        {u"- 1", 0},
        {u"007", 7},
        {u"1 2", 1},
        {u"2147483647", INT_MAX},
        {u"-2147483648", INT_MIN},
        {u"2147483648", INT_MIN},  // wraps in 32 bits
        {u"4294967297", 1},
        {u"-4294967295", 1},
        {u"99999999999999999999", 0x630FFFFF},  // the value mod 2^32
    };
    for (const IntCase& c : cases)
        EXPECT_EQ(utf16ToInt(c.text), c.value) << std::u16string(c.text).size();
    EXPECT_EQ(utf16ToInt(nullptr), 0);
}

}  // namespace
