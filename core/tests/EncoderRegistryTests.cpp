#include <gtest/gtest.h>

#include <string>

#include "core/Encoder.h"
#include "core/InitTerm.h"
#include "core/String.h"
#include "core/platform/CodePages.h"
#include "core/tests/TestSupport.h"

using namespace LxCore;

namespace {

class EncoderRegistryTest : public ::testing::Test {
protected:
    CoreStarted core;
};

std::string names(const Encoder* e) {
    if (!e) return "(none)";
    String list;
    e->getNames(list);
    return std::string(list.encode(asciiEncoder()));
}

std::string canonical(const Encoder* e) {
    std::string list = names(e);
    return list.substr(0, list.find(','));
}

u32 pageOf(const Encoder* e) {
    auto* page = dynamic_cast<const UniversalEncoder*>(e);
    return page ? page->codePage() : 0;
}

std::u16string decoded(const Encoder* e, const std::string& bytes) {
    String s;
    s.decode(bytes.data(), i32(bytes.size()), const_cast<Encoder*>(e));
    return std::u16string(s.chars(), s.length());
}

// An encoder a client registers; it may offer encoders for unknown names.
class ClientEncoder : public Encoder {
public:
    explicit ClientEncoder(const char* aliases, const char* offers = nullptr)
        : aliases(aliases), offers(offers) {}
    void getNames(String& out) const override { out = aliases; }
    Encoder* createEncoder(const String& name) const override {
        return offers && name.compare(offers) == 0 ? new ClientEncoder("OFFERED") : nullptr;
    }

private:
    const char* aliases;
    const char* offers;
};

}  // namespace

TEST(EncoderRegistryWithoutStart, AnswersNothingButUtf8) {
    ASSERT_FALSE(InitTerm::isInitialized());
    EXPECT_EQ(findEncoder("UTF-8"), nullptr);
    EXPECT_EQ(currentEncoder(), nullptr);  // String reads bytes as Latin-1
    EXPECT_EQ(systemEncoder(), nullptr);
    EXPECT_EQ(asciiEncoder(), nullptr);
    EXPECT_NE(utf8Encoder(), nullptr);
    registerEncoder(nullptr);
}

TEST_F(EncoderRegistryTest, BuiltInsUnderEveryAlias) {
    struct Case {
        const char* name;
        const char* canonical;
        u32 width;
    };
    const Case cases[] = {
        {"us-ascii", "US-ASCII", 1},      {"ISO_646.IRV:1991", "US-ASCII", 1},
        {"ansi_x3.4-1968", "US-ASCII", 1}, {"US", "US-ASCII", 1},
        {"binary", "BINARY", 1},           {"windows-1252", "CP1252", 1},
        {"MS-ANSI", "CP1252", 1},          {"latin1", "ISO-8859-1", 1},
        {"iso_8859-1:1987", "ISO-8859-1", 1}, {"utf_16", "UCS2", 2},
        {"UTF-16BE", "UCS2BE", 2},         {"iso-10646-utf16le", "UCS2LE", 2},
        {"utf32", "UCS4", 4},              {"UCS-4BE", "UCS4BE", 4},
        {"utf-32le", "UCS4LE", 4},         {"utf_8", "UTF-8", 0},
        {"Utf-8", "UTF-8", 0},             {"X-UTF-8", "UTF-8", 0},
        {"unicode-2-0-utf-8", "UTF-8", 0}, {"x-mac-roman", "MACINTOSH", 1},
        {"Macintosh", "MACINTOSH", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Encoder* e = findEncoder(c.name);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(canonical(e), c.canonical);
        EXPECT_EQ(e->width, c.width);
        EXPECT_EQ(pageOf(e), 0u);  // built in, no code page behind it
    }
    EXPECT_EQ(findEncoder("ASCII"), asciiEncoder());
    EXPECT_EQ(findEncoder("BINARY"), binaryEncoder());
    EXPECT_EQ(findEncoder("UTF8"), utf8Encoder());
    EXPECT_EQ(findEncoder(String(u"utf-8")), utf8Encoder());
}

TEST_F(EncoderRegistryTest, CodePageEncodersByName) {
    struct Case {
        const char* name;
        const char* names;
        u32 width;
        u32 page;
    };
    const Case cases[] = {
        {"CP1250", "CP1250,WINDOWS-1250", 0, 1250},
        {"windows-1251", "MS-CYRL,CP1251,WINDOWS-1251", 0, 1251},
        {"ms-cyrl", "MS-CYRL,CP1251,WINDOWS-1251", 0, 1251},
        {"ISO-8859-3", "ISO-8859-3,ISO-8859-3,ISO-8859-3:1988,ISO-IR-109,LATIN3,CP28591,"
                       "WINDOWS-28591", 0, 28591},
        {"IBM850", "IBM850,CP850,WINDOWS-850", 1, 850},
        {"shift_jis", "SJIS,SHIFT-JIS,MS-SJIS,MS-KANJI,CP932,WINDOWS-932", 0, 932},
        {"windows-10000", "MACINTOSH,MAC-ROMAN,CP10000,WINDOWS-10000", 1, 10000},
        {"utf-7", "UTF-7,UTF7,UNICODE-1-1-UTF-7,UNICODE-2-0-UTF-7,CP65000,WINDOWS-65000", 0,
         65000},
        {"ISO-885", "ISO-8859-16,ISO-885,ISO-885,MS-EE,CP28606,WINDOWS-28606", 0, 28606},
        {"x-koi-8r", "KOI-8R,CP20866,WINDOWS-20866", 0, 20866},
        {"CP65001", "CP65001,WINDOWS-65001", 0, 65001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Encoder* e = findEncoder(c.name);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(names(e), c.names);
        EXPECT_EQ(e->width, c.width);
        EXPECT_EQ(pageOf(e), c.page);
        EXPECT_EQ(findEncoder(c.name), e);  // built once
    }
    EXPECT_EQ(findEncoder("CP1251"), findEncoder("MS-CYRL"));
    // Row 3 is Latin-1, whatever its names say.
    EXPECT_EQ(decoded(findEncoder("LATIN3"), "\xA1"), u"\u00A1");
}

TEST_F(EncoderRegistryTest, NamesThatGiveNoEncoder) {
    const char* cases[] = {
        "WINDOWS-1",        // nine characters: looked up by name
        "WINDOWS-12",       // page 12 does not exist
        "WINDOWS-X1252",
        "CP", "CPX", "CP0", "CP1200",
        "CP99999999999",    // past 32 bits
        "KOI-8U",           // its row names page 21886, which does not exist
        "HZ",               // the system has no converter for it
        "MAC-GREEK", "CP709", "NO-SUCH-SET", "UTF-8,ASCII,",
        "ISO-8859-2,ISO-8859-2",  // a piece of a row's list is not a name
    };
    for (const char* name : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(findEncoder(name), nullptr);
        EXPECT_EQ(UniversalEncoder::create(String(name)), nullptr);
    }
}

TEST_F(EncoderRegistryTest, ALaterPageTakesTheNamesItShares) {
    Encoder* ibm850 = findEncoder("IBM850");
    ASSERT_EQ(pageOf(ibm850), 850u);
    Encoder* cp437 = findEncoder("CP437");
    ASSERT_NE(cp437, nullptr);
    EXPECT_EQ(names(cp437), "IBM850,CP437,WINDOWS-437");
    EXPECT_EQ(cp437->width, 1u);
    EXPECT_EQ(findEncoder("IBM850"), cp437);
    EXPECT_EQ(findEncoder("CP850"), ibm850);
    EXPECT_EQ(findEncoder("WINDOWS-850"), ibm850);
    EXPECT_EQ(decoded(ibm850, "\x9B"), u"\u00F8");  // 850 still itself
    EXPECT_EQ(decoded(cp437, "\x9B"), u"\u00A2");
}

TEST_F(EncoderRegistryTest, AnotherSpellingOfAPageFindsTheEncoderItHas) {
    Encoder* builtIn = findEncoder("CP1252");
    const struct {
        const char* name;
        const char* owner;
    } cases[] = {
        {"CP01252", "CP1252"}, {"cp1252x", "CP1252"}, {"WINDOWS-001252", "CP1252"},
        {"CP0437", "CP437"},   {"CP932.1", "CP932"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Encoder* owner = findEncoder(c.owner);
        ASSERT_NE(owner, nullptr);
        EXPECT_EQ(findEncoder(c.name), owner);
    }
    EXPECT_EQ(findEncoder("CP1252"), builtIn);
    EXPECT_EQ(findEncoder("MS-ANSI"), builtIn);
    EXPECT_EQ(systemEncoder(), builtIn);
    EXPECT_EQ(currentEncoder(), builtIn);
}

// A file or a thread holding an encoder that loses every name to a later one
// must be able to go on using it.
TEST_F(EncoderRegistryTest, AnEncoderLeftWithoutNamesLivesOn) {
    Encoder* macRoman = findEncoder("MACINTOSH");
    setCurrentEncoder(macRoman);
    Encoder* heldByAFile = macRoman;

    Encoder* page = findEncoder("CP10000");
    ASSERT_NE(page, nullptr);
    EXPECT_NE(page, macRoman);
    EXPECT_EQ(findEncoder("MACINTOSH"), page);
    EXPECT_EQ(findEncoder("x-mac-roman"), page);
    EXPECT_EQ(currentEncoder(), page);  // the thread moves to the new one
    EXPECT_EQ(findEncoder("CP010000"), page);

    EXPECT_EQ(decoded(heldByAFile, "\xDB\xF0"), u"\u20AC\uF8FF");
    EXPECT_EQ(names(heldByAFile), "MACINTOSH,MAC-ROMAN");
}

TEST_F(EncoderRegistryTest, ARegisteredEncoderTakesOverNamesAndPointers) {
    Encoder* oldAscii = asciiEncoder();
    auto* client = new ClientEncoder(
        "us-ascii,ascii,iso646-us,iso_646.irv:1991,iso-ir-6,ansi_x3.4-1968,cp367,ibm367,us,"
        "iso646.1991-irv,x-client");
    registerEncoder(client);
    EXPECT_EQ(findEncoder("ASCII"), client);
    EXPECT_EQ(findEncoder("CLIENT"), client);
    EXPECT_EQ(asciiEncoder(), client);
    EXPECT_EQ(decoded(oldAscii, "ok"), u"ok");  // still there

    registerEncoder(client);  // again: nothing changes
    EXPECT_EQ(findEncoder("client"), client);

    // Taking it back restores the old one.
    registerEncoder(oldAscii);
    EXPECT_EQ(findEncoder("US"), oldAscii);
    EXPECT_EQ(findEncoder("CLIENT"), client);
}

TEST_F(EncoderRegistryTest, ListedEncodersMayOfferOneForAnUnknownName) {
    auto* client = new ClientEncoder("OFFERER", "SPECIAL-SET");
    registerEncoder(client);
    Encoder* offered = findEncoder("special_set");
    ASSERT_NE(offered, nullptr);
    EXPECT_EQ(names(offered), "OFFERED");
    EXPECT_EQ(findEncoder("SPECIAL-SET"), offered);
    EXPECT_EQ(findEncoder("OFFERED"), offered);
    EXPECT_EQ(findEncoder("OTHER-SET"), nullptr);
}

TEST_F(EncoderRegistryTest, SystemAndCurrentEncoders) {
    Encoder* system = systemEncoder();
    EXPECT_EQ(system, findEncoder("CP1252"));
    EXPECT_EQ(names(system), "CP1252,WINDOWS-1252,MS-ANSI");
    EXPECT_EQ(pageOf(system), 0u);  // the built-in one
    EXPECT_EQ(currentEncoder(), system);
    EXPECT_EQ(findEncoder(""), system);
    EXPECT_EQ(findEncoder(static_cast<const char*>(nullptr)), system);
    EXPECT_EQ(UniversalEncoder::create(String()), system);

    // Conversions that name no encoder use the current one.
    EXPECT_EQ(std::u16string(String("\x80", static_cast<Encoder*>(nullptr)).chars()), u"\u20AC");
    setCurrentEncoder(utf8Encoder());
    EXPECT_EQ(currentEncoder(), utf8Encoder());
    EXPECT_EQ(findEncoder(""), utf8Encoder());
    EXPECT_EQ(std::u16string(String("\xE2\x82\xAC", static_cast<Encoder*>(nullptr)).chars()),
              u"\u20AC");
    setCurrentEncoder(nullptr);
    EXPECT_EQ(currentEncoder(), system);
}

TEST_F(EncoderRegistryTest, AnEncoderTheCallerOwnsIsNeverTakenOver) {
    ClientEncoder mine("MINE");
    setCurrentEncoder(&mine);
    EXPECT_EQ(findEncoder(""), &mine);
    EXPECT_EQ(findEncoder("MINE"), nullptr);  // not registered by the lookup
    setCurrentEncoder(nullptr);
}

TEST(EncoderRegistryLifetime, EndsWithTheLibraryAndStartsAfresh) {
    InitTerm::init();
    Encoder* page = findEncoder("CP1250");
    ASSERT_NE(page, nullptr);
    findEncoder("CP10000");     // leaves the built-in MacRoman without names
    setCurrentEncoder(page);
    InitTerm::exit();
    EXPECT_EQ(currentEncoder(), nullptr);
    EXPECT_EQ(findEncoder("CP1250"), nullptr);

    InitTerm::init();
    EXPECT_EQ(names(findEncoder("MACINTOSH")), "MACINTOSH,MAC-ROMAN");
    EXPECT_EQ(pageOf(findEncoder("MACINTOSH")), 0u);
    EXPECT_EQ(currentEncoder(), findEncoder("CP1252"));
    InitTerm::exit();
}

TEST(CodePageLayer, KnowsPagesByNumber) {
    struct Case {
        u32 page;
        bool known;
    };
    const Case cases[] = {
        {1250, true},  {1251, true},  {1252, true},  {28591, true}, {932, true},
        {437, true},   {850, true},   {10000, true}, {50220, true}, {54936, true},
        {65000, true}, {65001, true}, {28606, true}, {0, false},    {1, false},
        {1200, false}, {21886, false}, {52936, false}, {10006, false}, {70000, false},
    };
    for (const Case& c : cases) EXPECT_EQ(platformCodePageKnown(c.page), c.known) << c.page;

    CodePageResult r = platformCodePageToUnicode(21886, 0, "a", 1, nullptr, 0);
    EXPECT_EQ(r.stop, CodePageStop::kNoConverter);
    EXPECT_EQ(r.produced, 0u);
}
