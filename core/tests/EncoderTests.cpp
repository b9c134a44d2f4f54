#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Encoder.h"
#include "core/InitTerm.h"
#include "core/String.h"

using namespace LxCore;

namespace {

class EncoderTest : public ::testing::Test {
protected:
    void SetUp() override { InitTerm::init(); }
    void TearDown() override { InitTerm::exit(); }
};

struct Decoded {
    i32 status;
    u32 consumed;
    std::u16string units;
};

Decoded decodeUtf8(const std::string& bytes, u32 room = 64) {
    std::vector<unit> out(room + 1, 0x7777);
    u32 in = u32(bytes.size()), produced = room;
    i32 status = utf8Encoder()->decode(bytes.data(), in, out.data(), produced);
    return {status, in, std::u16string(out.data(), produced)};
}

struct Encoded {
    i32 status;
    u32 consumed;
    std::string bytes;
};

Encoded encodeUtf8(const std::u16string& units, u32 room = 64) {
    std::vector<char> out(room + 1, '#');
    u32 in = u32(units.size()), produced = room;
    i32 status = utf8Encoder()->encode(units.data(), in, out.data(), produced);
    return {status, in, std::string(out.data(), produced)};
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
    EXPECT_EQ(currentEncoder(), nullptr);  // no registry yet
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
