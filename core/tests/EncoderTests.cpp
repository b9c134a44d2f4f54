#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/Encoder.h"
#include "core/String.h"
#include "core/tests/TestSupport.h"

using namespace LxCore;

namespace {

class EncoderTest : public ::testing::Test {
protected:
    CoreStarted core;
};

struct Decoded {
    i32 status;
    u32 consumed;
    std::u16string units;
};

Decoded decodeWith(const Encoder* e, const std::string& bytes, u32 room = 64) {
    std::vector<unit> out(room + 1, 0x7777);
    u32 in = u32(bytes.size()), produced = room;
    i32 status = e->decode(bytes.data(), in, out.data(), produced);
    return {status, in, std::u16string(out.data(), produced)};
}

Decoded decodeUtf8(const std::string& bytes, u32 room = 64) {
    return decodeWith(utf8Encoder(), bytes, room);
}

struct Encoded {
    i32 status;
    u32 consumed;
    std::string bytes;
};

Encoded encodeWith(const Encoder* e, const std::u16string& units, u32 room = 64) {
    std::vector<char> out(room + 1, '#');
    u32 in = u32(units.size()), produced = room;
    i32 status = e->encode(units.data(), in, out.data(), produced);
    return {status, in, std::string(out.data(), produced)};
}

Encoded encodeUtf8(const std::u16string& units, u32 room = 64) {
    return encodeWith(utf8Encoder(), units, room);
}

// The smallest concrete encoder, to see what the base answers.
class NamedOnly : public Encoder {
public:
    void getNames(String& out) const override { out = "TEST"; }
};

}  // namespace

TEST_F(EncoderTest, BaseAnswersNoCountsAndNoConversions) {
    NamedOnly e;
    EXPECT_EQ(e.width, 1u);
    EXPECT_EQ(e.createEncoder(String("X")), nullptr);
    u32 count = 0;
    EXPECT_EQ(e.getCharCount("ab", 2, count), 0);
    EXPECT_EQ(count, kEncoderNoCount);
    EXPECT_EQ(e.getByteCount(u"ab", 2, count), 0);
    EXPECT_EQ(count, kEncoderNoCount);
    unit units[4];
    char bytes[4];
    u32 in = 2, room = 4;
    EXPECT_EQ(e.decode("ab", in, units, room), -33);
    in = 2;
    room = 4;
    EXPECT_EQ(e.encode(u"ab", in, bytes, room), -33);
}

TEST_F(EncoderTest, Utf8NamesAndWidth) {
    String names;
    utf8Encoder()->getNames(names);
    EXPECT_EQ(names.compare("UTF-8,UTF8,UNICODE-1-1-UTF-8,UNICODE-2-0-UTF-8,UNICODE-2-0-UTF-8"), 0);
    EXPECT_EQ(utf8Encoder()->width, 0u);
    EXPECT_EQ(utf8Encoder(), utf8Encoder());
    EXPECT_EQ(utf8Encoder(), findEncoder("UTF-8"));
}

TEST_F(EncoderTest, Utf8DecodesEveryLength) {
    Decoded d = decodeUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.consumed, 10u);
    EXPECT_EQ(d.units, u"a\u00E9\u20AC\U0001F600");
    ASSERT_EQ(d.units.size(), 5u);
    EXPECT_EQ(d.units[3], 0xD83D);
    EXPECT_EQ(d.units[4], 0xDE00);
}

TEST_F(EncoderTest, Utf8DecodeFaults) {
    struct Case {
        const char* name;
        std::string bytes;
        i32 status;
        u32 consumed;
        std::u16string units;
    };
    const Case cases[] = {
        {"continuation byte cannot lead", "a\x80z", 37, 1, u"a"},
        {"0xFE cannot lead", "\xFE", 37, 0, u""},
        {"0xFF cannot lead", "ab\xFF", 37, 2, u"ab"},
        {"input ends inside a sequence", "\xE2\x82", 38, 0, u""},
        {"partial four-byte after text", "a\xF0\x9F", 38, 1, u"a"},
        {"overlong two bytes", "\xC0\x80z", 37, 2, u"\uFFFD"},
        {"overlong three bytes", "\xE0\x80\x80", 37, 3, u"\uFFFD"},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", 37, 4, u"\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 37, 4, u"\uFFFD"},
        {"bad continuation", "x\xC3(", 37, 3, u"x\uFFFD"},
        {"five-byte lead", "\xF8\x88\x80\x80\x80", 37, 5, u"\uFFFD"},
        {"six-byte lead", "\xFC\x84\x80\x80\x80\x80", 37, 6, u"\uFFFD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = decodeUtf8(c.bytes);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.consumed, c.consumed);
        EXPECT_EQ(d.units, c.units);
    }
}

TEST_F(EncoderTest, Utf8DecodeStopsAtFullOutput) {
    Decoded d = decodeUtf8("abc", 2);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.consumed, 2u);
    EXPECT_EQ(d.units, u"ab");

    // A supplementary character needs two units of room.
    d = decodeUtf8("a\xF0\x9F\x98\x80", 2);
    EXPECT_EQ(d.status, 38);
    EXPECT_EQ(d.consumed, 1u);
    EXPECT_EQ(d.units, u"a");
}

TEST_F(EncoderTest, Utf8EncodesEveryLength) {
    Encoded e = encodeUtf8(u"a\u00E9\u20AC\U0001F600");
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.consumed, 5u);
    EXPECT_EQ(e.bytes, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST_F(EncoderTest, Utf8EncodeFaults) {
    struct Case {
        const char* name;
        std::u16string units;
        i32 status;
        u32 consumed;
        std::string bytes;
    };
    const Case cases[] = {
        {"lone low surrogate", u"\xDC00", 37, 0, ""},
        {"lone low surrogate after text", u"a\xDC00z", 37, 1, "a"},
        {"high surrogate then no low", u"\xD83Dz", 37, 0, ""},
        {"high surrogate at the end", u"ab\xD83D", 38, 2, "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Encoded e = encodeUtf8(c.units);
        EXPECT_EQ(e.status, c.status);
        EXPECT_EQ(e.consumed, c.consumed);
        EXPECT_EQ(e.bytes, c.bytes);
    }
}

TEST_F(EncoderTest, Utf8EncodeStopsCleanlyWhenFull) {
    Encoded e = encodeUtf8(u"a\u00E9", 2);
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.consumed, 1u);
    EXPECT_EQ(e.bytes, "a");

    e = encodeUtf8(u"\U0001F600", 3);
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.consumed, 0u);
    EXPECT_EQ(e.bytes, "");
}

TEST_F(EncoderTest, Utf8Counts) {
    const Encoder* e = utf8Encoder();
    u32 count = 0;
    EXPECT_EQ(e->getCharCount("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 10, count), 0);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(e->getCharCount("ab\x80", 3, count), 37);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(e->getCharCount("\xF8\x88\x80\x80\x80", 5, count), 37);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(e->getCharCount("", 0, count), 0);
    EXPECT_EQ(count, 0u);

    const std::u16string text = u"a\u00E9\u20AC\U0001F600";
    EXPECT_EQ(e->getByteCount(text.data(), i32(text.size()), count), 0);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(e->getByteCount(u"a\xD83Dz", 3, count), 37);
    EXPECT_EQ(e->getByteCount(u"a\xD83D", 2, count), 38);
    EXPECT_EQ(count, 4u);  // the dangling high surrogate counts three bytes
}

// ASCII is taken eight bytes at a time: a multi-byte character, a fault or
// the end of the room at every offset of those words reads as at the first.
TEST_F(EncoderTest, Utf8AsciiRunsMeetEveryOffset) {
    const Encoder* e = utf8Encoder();
    const std::string ascii = "abcdefghijklmnopqrstuvwx";
    for (size_t at = 0; at <= ascii.size(); at++) {
        const std::string head = ascii.substr(0, at), tail = ascii.substr(at);
        const std::u16string wideHead(head.begin(), head.end()), wideTail(tail.begin(), tail.end());
        Decoded d = decodeUtf8(head + "\xE2\x82\xAC" + tail);
        EXPECT_EQ(d.status, 0) << at;
        EXPECT_EQ(d.units, wideHead + u"\u20AC" + wideTail) << at;
        u32 count = 0;
        EXPECT_EQ(e->getCharCount((head + "\xF0\x9F\x98\x80" + tail).data(), i32(ascii.size() + 4), count), 0);
        EXPECT_EQ(count, ascii.size() + 2) << at;

        d = decodeUtf8(head + "\x80" + tail);
        EXPECT_EQ(d.status, 37) << at;
        EXPECT_EQ(d.consumed, at);
        EXPECT_EQ(d.units, wideHead);

        d = decodeUtf8(ascii, u32(at));
        EXPECT_EQ(d.status, 0) << at;
        EXPECT_EQ(d.consumed, at);
        EXPECT_EQ(d.units, wideHead);
    }
}

TEST_F(EncoderTest, Utf8RoundTripsThroughString) {
    const std::u16string text = u"Gr\u00FC\u00DFe \u20AC \U0001F600 \u4E2D";
    String s(text.data(), i32(text.size()));
    const char* bytes = nullptr;
    u32 length = 0;
    ASSERT_EQ(s.encode(bytes, length, utf8Encoder()), 0u);
    String back;
    EXPECT_EQ(back.decode(bytes, i32(length), utf8Encoder()), 0u);
    EXPECT_TRUE(back == s);
}

// ---------------------------------------------------------------------------
// The one-byte classes

namespace {

std::string allBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += char(b);
    return bytes;
}

std::string byteString(u8 b) { return std::string(1, char(b)); }

}  // namespace

TEST_F(EncoderTest, AsciiReplacesWhatItCannotHoldAndGoesOn) {
    const Encoder* e = findEncoder("ASCII");
    ASSERT_NE(e, nullptr);
    Decoded d = decodeWith(e, "a\x80z\xFF");
    EXPECT_EQ(d.status, 37);
    EXPECT_EQ(d.consumed, 4u);
    EXPECT_EQ(d.units, u"a\uFFFDz\uFFFD");

    Encoded x = encodeWith(e, u"a\u00E9z\u20AC");
    EXPECT_EQ(x.status, 37);
    EXPECT_EQ(x.consumed, 4u);
    EXPECT_EQ(x.bytes, "a?z?");
}

TEST_F(EncoderTest, BinaryKeepsEveryByteAndTheLowByteOfEveryUnit) {
    const Encoder* e = binaryEncoder();
    const std::string bytes = allBytes();
    Decoded d = decodeWith(e, bytes, 256);
    EXPECT_EQ(d.status, 0);
    ASSERT_EQ(d.units.size(), 256u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(d.units[b], unit(b));
    EXPECT_EQ(encodeWith(e, d.units, 256).bytes, bytes);

    Encoded x = encodeWith(e, u"\u1234\uFFFF");
    EXPECT_EQ(x.status, 0);
    EXPECT_EQ(x.bytes, "\x34\xFF");
}

TEST_F(EncoderTest, Cp1252DecodesTheWindowsTable) {
    const Encoder* e = findEncoder("CP1252");
    struct Case {
        u8 byte;
        unit expected;
    };
    const Case cases[] = {
        {0x41, 0x0041}, {0x80, 0x20AC}, {0x81, 0xFFFD}, {0x8D, 0xFFFD}, {0x8F, 0xFFFD},
        {0x90, 0xFFFD}, {0x93, 0x201C}, {0x99, 0x2122}, {0x9D, 0xFFFD}, {0x9F, 0x0178},
        {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.byte));
        Decoded d = decodeWith(e, byteString(c.byte));
        EXPECT_EQ(d.status, 0);
        EXPECT_EQ(d.units, std::u16string(1, c.expected));
    }
}

TEST_F(EncoderTest, Cp1252EncodesThroughTheInverseTable) {
    const Encoder* e = findEncoder("CP1252");
    struct Case {
        unit u;
        u8 byte;
        i32 status;
    };
    const Case cases[] = {
        {0x00E9, 0xE9, 0},  {0x0081, 0x81, 0},  // units up to 0xFF are themselves
        {0x20AC, 0x80, 0},  {0x2122, 0x99, 0},  {0x0152, 0x8C, 0},  {0x0192, 0x83, 0},
        {0x02C6, 0x88, 0},  {0x02DC, 0x98, 0},  {0x2013, 0x96, 0},  {0x203A, 0x9B, 0},
        {0x0153, 0x9C, 0},  {0x0178, 0x9F, 0},
        {0x0154, '?', 37},  // inside a searched range, not in the table
        {0x2040, '?', 37},  {0x0100, '?', 37},  {0x4E2D, '?', 37},  {0xD83D, '?', 37},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.u));
        Encoded x = encodeWith(e, std::u16string(1, c.u));
        EXPECT_EQ(x.status, c.status);
        EXPECT_EQ(x.bytes, byteString(c.byte));
    }
    Encoded x = encodeWith(e, u"\u4E2D-\u20AC");
    EXPECT_EQ(x.status, 37);
    EXPECT_EQ(x.bytes, "?-\x80");  // goes on after the replacement
}

TEST_F(EncoderTest, Cp1252RoundTripsEveryDefinedByte) {
    const Encoder* e = findEncoder("CP1252");
    for (int b = 0; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;
        SCOPED_TRACE(b);
        Decoded d = decodeWith(e, byteString(u8(b)));
        Encoded x = encodeWith(e, d.units);
        EXPECT_EQ(x.status, 0);
        EXPECT_EQ(x.bytes, byteString(u8(b)));
    }
}

TEST_F(EncoderTest, Iso88591RefusesTheWindowsRange) {
    const Encoder* e = findEncoder("ISO-8859-1");
    ASSERT_NE(e, nullptr);
    Decoded d = decodeWith(e, "a\x93z\xE9");
    EXPECT_EQ(d.status, 44);
    EXPECT_EQ(d.consumed, 4u);
    EXPECT_EQ(d.units, u"a\uFFFDz\u00E9");
    EXPECT_EQ(decodeWith(findEncoder("CP1252"), "\x93").units, u"\u201C");

    struct Case {
        std::u16string units;
        i32 status;
        std::string bytes;
    };
    const Case cases[] = {
        {u"\u00E9\u00FF", 0, "\xE9\xFF"},
        {u"\u20AC", 37, "?"},   // CP1252 gives 0x80, which is refused
        {u"\u0085", 37, "?"},
        {u"\u0100", 37, "?"},
        {u"a\u2122b", 37, "a?b"},
    };
    for (const Case& c : cases) {
        Encoded x = encodeWith(e, c.units);
        EXPECT_EQ(x.status, c.status);
        EXPECT_EQ(x.bytes, c.bytes);
    }
}

TEST_F(EncoderTest, MacRomanUsesTheTableWithTheEuro) {
    const Encoder* e = findEncoder("MACINTOSH");
    struct Case {
        u8 byte;
        unit u;
    };
    const Case cases[] = {
        {0x41, 0x0041}, {0x80, 0x00C4}, {0x8E, 0x00E9}, {0xA5, 0x2022}, {0xB6, 0x2202},
        {0xCA, 0x00A0}, {0xDB, 0x20AC}, {0xF0, 0xF8FF}, {0xFF, 0x02C7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.byte));
        EXPECT_EQ(decodeWith(e, byteString(c.byte)).units, std::u16string(1, c.u));
        EXPECT_EQ(encodeWith(e, std::u16string(1, c.u)).bytes, byteString(c.byte));
    }
    const std::string bytes = allBytes();
    Decoded d = decodeWith(e, bytes, 256);
    EXPECT_EQ(d.status, 0);
    Encoded back = encodeWith(e, d.units, 256);
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.bytes, bytes);

    Encoded x = encodeWith(e, u"a\u00A4b");  // the currency sign the euro replaced
    EXPECT_EQ(x.status, 37);
    EXPECT_EQ(x.bytes, "a?b");
}

// The built-in tables against the system's own converters of the same pages:
// they differ only where the design says so.
TEST_F(EncoderTest, BuiltInTablesAgreeWithTheSystemConverters) {
    struct Case {
        const char* builtIn;
        const char* page;
        std::vector<int> differs;   // bytes the system reads otherwise
    };
    // The system's MacRoman is the older table: Greek capital delta at 0xC6,
    // a private character at 0xF0.
    const Case cases[] = {{"CP1252", "CP01252", {}}, {"MACINTOSH", "CP10000", {0xC6, 0xF0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.builtIn);
        const Encoder* ours = findEncoder(c.builtIn);
        std::unique_ptr<Encoder> system(UniversalEncoder::create(String(c.page)));
        ASSERT_NE(system, nullptr);
        for (int b = 0; b < 256; ++b) {
            Decoded theirs = decodeWith(system.get(), byteString(u8(b)));
            Decoded mine = decodeWith(ours, byteString(u8(b)));
            if (theirs.status != 0) {
                EXPECT_EQ(mine.units, u"\uFFFD") << b;  // a byte the page leaves out
                continue;
            }
            if (std::find(c.differs.begin(), c.differs.end(), b) == c.differs.end()) {
                EXPECT_EQ(mine.units, theirs.units) << b;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// UCS-2 and UCS-4

TEST_F(EncoderTest, Ucs2ByteOrders) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"UCS-2", std::string("a\0\xAC\x20", 4)},
        {"UTF-16LE", std::string("a\0\xAC\x20", 4)},
        {"UTF-16BE", std::string("\0a\x20\xAC", 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Encoder* e = findEncoder(c.name);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->width, 2u);
        Decoded d = decodeWith(e, c.bytes);
        EXPECT_EQ(d.status, 0);
        EXPECT_EQ(d.units, u"a\u20AC");
        Encoded x = encodeWith(e, u"a\u20AC");
        EXPECT_EQ(x.status, 0);
        EXPECT_EQ(x.bytes, c.bytes);
    }
}

TEST_F(EncoderTest, Ucs2StopsAtAPartialUnitOrAFullOutput) {
    const Encoder* e = findEncoder("UCS-2LE");
    Decoded d = decodeWith(e, std::string("a\0b", 3));
    EXPECT_EQ(d.status, 38);
    EXPECT_EQ(d.consumed, 2u);
    EXPECT_EQ(d.units, u"a");

    d = decodeWith(e, std::string("a\0b\0", 4), 1);
    EXPECT_EQ(d.status, 38);
    EXPECT_EQ(d.consumed, 2u);

    Encoded x = encodeWith(e, u"ab", 3);
    EXPECT_EQ(x.status, 38);
    EXPECT_EQ(x.consumed, 1u);
    EXPECT_EQ(x.bytes, std::string("a\0", 2));

    u32 count = 0;
    EXPECT_EQ(e->getCharCount("abcde", 5, count), 0);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(e->getByteCount(u"abc", 3, count), 0);
    EXPECT_EQ(count, 6u);
}

TEST_F(EncoderTest, Ucs4KeepsTheLowSixteenBits) {
    const Encoder* e = findEncoder("UTF-32BE");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->width, 4u);
    Decoded d = decodeWith(e, std::string("\0\x01\xF6\x00\0\0\0a", 8));
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.units, u"\xF600" u"a");  // one unit, no surrogate pair
    EXPECT_EQ(decodeUtf8("\xF0\x9F\x98\x80").units, u"\U0001F600");

    Encoded x = encodeWith(e, u"\U0001F600a");
    EXPECT_EQ(x.status, 0);
    EXPECT_EQ(x.consumed, 3u);
    EXPECT_EQ(x.bytes, std::string("\0\x01\xF6\x00\0\0\0a", 8));

    x = encodeWith(findEncoder("UCS-4LE"), u"a");
    EXPECT_EQ(x.bytes, std::string("a\0\0\0", 4));
}

TEST_F(EncoderTest, Ucs4Faults) {
    const Encoder* e = findEncoder("UCS-4");
    struct Case {
        const char* name;
        std::u16string units;
        u32 room;
        i32 status;
        u32 consumed;
        u32 written;
    };
    const Case cases[] = {
        {"lone low surrogate", u"a\xDC00", 64, 37, 1, 4},
        {"high surrogate then no low", u"\xD83Dz", 64, 37, 0, 0},
        {"high surrogate at the end", u"a\xD83D", 64, 38, 1, 4},
        {"less than four bytes of room", u"ab", 7, 38, 1, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Encoded x = encodeWith(e, c.units, c.room);
        EXPECT_EQ(x.status, c.status);
        EXPECT_EQ(x.consumed, c.consumed);
        EXPECT_EQ(x.bytes.size(), c.written);
    }
    Decoded d = decodeWith(e, std::string("a\0\0\0b\0", 6));
    EXPECT_EQ(d.status, 38);
    EXPECT_EQ(d.consumed, 4u);
    d = decodeWith(e, std::string("a\0\0\0b\0\0\0", 8), 1);
    EXPECT_EQ(d.status, 38);
    EXPECT_EQ(d.units, u"a");

    u32 count = 0;
    EXPECT_EQ(e->getCharCount("abcdefg", 7, count), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(e->getByteCount(u"ab", 2, count), 0);
    EXPECT_EQ(count, 8u);
}

// ---------------------------------------------------------------------------
// Code-page encoders

namespace {

using Owned = std::unique_ptr<Encoder>;

Owned codePage(const char* name) {
    Encoder* e = UniversalEncoder::create(String(name));
    EXPECT_NE(e, nullptr) << name;
    return Owned(e);
}

}  // namespace

TEST_F(EncoderTest, CodePagesRoundTripEveryByteTheyDefine) {
    struct Case {
        const char* name;
        std::vector<int> undefined;
    };
    const Case cases[] = {
        {"CP1250", {0x81, 0x83, 0x88, 0x90, 0x98}},
        {"CP1251", {0x98}},
        {"CP1252", {0x81, 0x8D, 0x8F, 0x90, 0x9D}},
        {"CP28591", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Owned e = codePage(c.name);
        ASSERT_NE(e, nullptr);
        std::string defined;
        for (int b = 0; b < 256; ++b) {
            const bool expected = std::find(c.undefined.begin(), c.undefined.end(), b) ==
                                  c.undefined.end();
            Decoded d = decodeWith(e.get(), byteString(u8(b)));
            EXPECT_EQ(d.status, expected ? 0 : 37) << b;
            if (!expected) continue;
            defined += char(b);
            ASSERT_EQ(d.units.size(), 1u);
            Encoded x = encodeWith(e.get(), d.units);
            EXPECT_EQ(x.status, 0);
            EXPECT_EQ(x.bytes, byteString(u8(b)));
        }
        // And as one text through String, which counts first.
        String text;
        ASSERT_EQ(text.decode(defined.data(), i32(defined.size()), e.get()), 0u);
        EXPECT_EQ(text.length(), i32(defined.size()));
        const char* bytes = nullptr;
        u32 length = 0;
        ASSERT_EQ(text.encode(bytes, length, e.get()), 0u);
        EXPECT_EQ(std::string(bytes, length), defined);
    }
}

TEST_F(EncoderTest, Cp932RoundTripsText) {
    Owned e = codePage("CP932");
    ASSERT_NE(e, nullptr);
    const std::u16string text = u"a\u65E5\u672C\uFF71\u3042\u2460z";
    const std::string sjis = "a\x93\xFA\x96\x7B\xB1\x82\xA0\x87\x40z";
    Encoded x = encodeWith(e.get(), text);
    EXPECT_EQ(x.status, 0);
    EXPECT_EQ(x.bytes, sjis);
    Decoded d = decodeWith(e.get(), sjis);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.units, text);

    // Every double-byte character decodes to text that comes back as itself
    // (several byte pairs of the page share one character).
    int characters = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead >= 0xA0 && lead <= 0xDF) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            const char pair[2] = {char(lead), char(trail)};
            Decoded one = decodeWith(e.get(), std::string(pair, 2));
            if (one.status != 0) continue;
            ++characters;
            Encoded back = encodeWith(e.get(), one.units);
            ASSERT_EQ(back.status, 0) << lead << " " << trail;
            EXPECT_EQ(decodeWith(e.get(), back.bytes).units, one.units) << lead << " " << trail;
        }
    }
    EXPECT_GT(characters, 7000);
}

TEST_F(EncoderTest, CodePageCountsAreExactAndMoreRoomIsFine) {
    Owned e = codePage("CP932");
    const std::string sjis = "a\x93\xFA\x96\x7B";
    u32 count = 0;
    EXPECT_EQ(e->getCharCount(sjis.data(), i32(sjis.size()), count), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(e->getByteCount(u"a\u65E5\u672C", 3, count), 0);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(e->getCharCount("", 0, count), 0);
    EXPECT_EQ(count, 0u);

    struct Case {
        u32 room;
        i32 status;
        u32 consumed;
        std::u16string units;
    };
    const Case cases[] = {
        {3, 0, 5, u"a\u65E5\u672C"},     // exactly the count
        {64, 0, 5, u"a\u65E5\u672C"},    // more room than needed
        {2, 38, 0, u""},                 // too little: nothing taken
        {0, 38, 0, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room);
        Decoded d = decodeWith(e.get(), sjis, c.room);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.consumed, c.consumed);
        EXPECT_EQ(d.units, c.units);
    }
    Encoded x = encodeWith(e.get(), u"a\u65E5", 64);
    EXPECT_EQ(x.status, 0);
    EXPECT_EQ(x.bytes, "a\x93\xFA");
    x = encodeWith(e.get(), u"a\u65E5", 2);
    EXPECT_EQ(x.status, 38);
    EXPECT_EQ(x.consumed, 0u);
    EXPECT_EQ(x.bytes, "");
}

TEST_F(EncoderTest, CodePageDecodingStopsAtBadInput) {
    struct Case {
        const char* page;
        std::string bytes;
        i32 status;
        u32 consumed;
        std::u16string units;
    };
    const Case cases[] = {
        {"CP1250", "ab\x81" "cd", 37, 2, u"ab"},
        {"CP932", "a\x82", 38, 1, u"a"},            // ends inside a character
        {"CP932", "a\x82\x20", 37, 1, u"a"},
        // The system keeps a letter back to join it with a following point;
        // it still comes out before the stop.
        {"CP1255", "\xE0\x81", 37, 1, u"\u05D0"},
        {"CP1255", "\xE0", 0, 1, u"\u05D0"},
        {"CP1255", "\xE0\xC8", 0, 2, u"\uFB2F"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page + (" " + std::to_string(c.bytes.size())));
        Owned e = codePage(c.page);
        Decoded d = decodeWith(e.get(), c.bytes);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.consumed, c.consumed);
        EXPECT_EQ(d.units, c.units);
        u32 count = 0;
        EXPECT_EQ(e->getCharCount(c.bytes.data(), i32(c.bytes.size()), count),
                  c.status == 0 ? 0 : 44);
        if (c.status == 0) {
            EXPECT_EQ(count, c.units.size());
        }
    }
}

TEST_F(EncoderTest, CodePageEncodingReplacesWhatThePageLacks) {
    struct Case {
        const char* page;
        std::u16string units;
        i32 status;
        u32 consumed;
        std::string bytes;
    };
    const Case cases[] = {
        {"CP1251", u"\u0416a\u00E9z", 37, 4, "\xC6" "a?z"},
        {"CP1251", u"a\xDC00" u"b", 37, 3, "a?b"},          // a lone surrogate
        {"CP1251", u"\U0001F600", 37, 2, "??"},            // one '?' per unit
        {"CP1251", u"ab\xD800", 38, 2, "ab"},              // ends inside a pair
        {"CP1026", u"a?", 0, 2, "\x81\x6F"},               // EBCDIC: the page's own '?'
        {"CP1026", u"\u4E2D", 37, 1, "\x6F"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        Owned e = codePage(c.page);
        Encoded x = encodeWith(e.get(), c.units);
        EXPECT_EQ(x.status, c.status);
        EXPECT_EQ(x.consumed, c.consumed);
        EXPECT_EQ(x.bytes, c.bytes);
        u32 count = 0;
        EXPECT_EQ(e->getByteCount(c.units.data(), i32(c.units.size()), count),
                  c.status == 38 ? 38 : 0);
        EXPECT_EQ(count, c.bytes.size());
    }
}

TEST_F(EncoderTest, StatefulPagesEndEveryConversionInTheirInitialState) {
    struct Case {
        const char* page;
        std::u16string units;
        std::string bytes;
    };
    const Case cases[] = {
        {"CP50220", u"\u65E5", "\x1B$BF|\x1B(B"},
        {"CP50220", u"a\u65E5" u"b", "a\x1B$BF|\x1B(Bb"},
        {"CP65000", u"a\u65E5", "a+ZeU-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        Owned e = codePage(c.page);
        u32 count = 0;
        EXPECT_EQ(e->getByteCount(c.units.data(), i32(c.units.size()), count), 0);
        EXPECT_EQ(count, c.bytes.size());
        Encoded x = encodeWith(e.get(), c.units, count);
        EXPECT_EQ(x.status, 0);
        EXPECT_EQ(x.bytes, c.bytes);
        // One byte short of the closing sequence: nothing, never a text
        // left in another shift state.
        x = encodeWith(e.get(), c.units, count - 1);
        EXPECT_EQ(x.status, 38);
        EXPECT_EQ(x.bytes, "");
        Decoded d = decodeWith(e.get(), c.bytes);
        EXPECT_EQ(d.status, 0);
        EXPECT_EQ(d.units, c.units);
        // Each call starts afresh.
        EXPECT_EQ(decodeWith(e.get(), c.bytes).units, c.units);
    }
}

TEST_F(EncoderTest, PagesWithoutFlagsReplaceBadInputAndGoOn) {
    Owned utf8 = codePage("CP65001");
    auto* page = static_cast<UniversalEncoder*>(utf8.get());
    EXPECT_EQ(page->data->toUnicodeFlags, 0u);
    EXPECT_EQ(page->data->fromUnicodeFlags, 0u);
    Decoded d = decodeWith(utf8.get(), "a\xFF" "b");
    EXPECT_EQ(d.status, 37);
    EXPECT_EQ(d.consumed, 3u);
    EXPECT_EQ(d.units, u"a\uFFFDb");
    u32 count = 0;
    EXPECT_EQ(utf8->getCharCount("a\xFF" "b", 3, count), 0);
    EXPECT_EQ(count, 3u);

    Owned latin = codePage("CP1250");
    EXPECT_EQ(static_cast<UniversalEncoder*>(latin.get())->data->toUnicodeFlags, 9u);
    EXPECT_EQ(static_cast<UniversalEncoder*>(latin.get())->data->fromUnicodeFlags, 0u);
}

TEST_F(EncoderTest, StringConversionsThroughCodePages) {
    Owned e = codePage("CP1251");
    // Large enough that counting runs through its scratch buffer many times.
    std::u16string text;
    for (int i = 0; i < 100000; ++i) text += unit(0x0410 + i % 32);
    String s(text.data(), i32(text.size()));
    const char* bytes = nullptr;
    u32 length = 0;
    ASSERT_EQ(s.encode(bytes, length, e.get()), 0u);
    ASSERT_EQ(length, u32(text.size()));
    EXPECT_EQ(u8(bytes[0]), 0xC0);
    String back;
    ASSERT_EQ(back.decode(bytes, i32(length), e.get()), 0u);
    EXPECT_TRUE(back == s);

    // Bad bytes: the text before them, with the status; never the room's
    // worth of whatever the buffer held.
    Owned latin2 = codePage("CP1250");
    EXPECT_EQ(back.decode("ab\x81" "cd", 5, latin2.get()), 37u);
    EXPECT_EQ(std::u16string(back.chars(), back.length()), u"ab");
    std::string long_bad(5000, 'x');
    long_bad += '\x81';
    EXPECT_EQ(back.decode(long_bad.data(), i32(long_bad.size()), latin2.get()), 37u);
    EXPECT_TRUE(back.isEmpty());
}
