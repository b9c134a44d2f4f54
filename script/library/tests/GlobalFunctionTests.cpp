// The global functions where a script cannot reach: single units at the
// text's end, lone surrogates, and the codecs on every kind of unit.
#include "script/library/GlobalClass.h"
#include "core/Point.h"
#include "script/engine/TVContext.h"
#include "script/library/tests/LibraryTestEngine.h"

namespace LxScript {
namespace {

using LxCore::String;

String units(const std::u16string& s) {
    return String(reinterpret_cast<const LxCore::unit*>(s.c_str()), i32(s.size()));
}

std::u16string text(const String& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.chars()), size_t(s.length()));
}

TEST_F(LibraryTest, EscapeWritesEveryUnitItDoesNotKeep) {
    const struct {
        std::u16string in;
        std::u16string out;
    } cases[] = {
        {std::u16string(1, u'\0'), u"%00"},
        {u"aZ09*@-_+./", u"aZ09*@-_+./"},
        {u"\u00e9 \u20ac", u"%E9%20%u20AC"},
        {u"\xff\u0100", u"%FF%u0100"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(escapeText(units(c.in))), c.out);
}

// Every digit is read inside the text: a "%" whose digits run past the end
// stays as it is, whatever is cut off.
TEST_F(LibraryTest, UnescapeKeepsAPercentSignWhoseDigitsAreMissing) {
    const struct {
        std::u16string in;
        std::u16string out;
    } cases[] = {
        {u"%E9%u20ac%U20AC", u"\u00e9\u20ac\u20ac"},
        {u"%", u"%"},
        {u"a%4", u"a%4"},
        {u"%u", u"%u"},
        {u"%u12", u"%u12"},
        {u"%u123", u"%u123"},
        {u"%zz%4g", u"%zz%4g"},
        {u"%%41", u"%A"},
        {u"%u004", u"%u004"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(unescapeText(units(c.in))), c.out) << std::string(c.in.begin(), c.in.end());
}

TEST_F(LibraryTest, EncodingALoneSurrogateIsABadURI) {
    std::u16string out;
    EXPECT_EQ(run(u"encodeURI('a\\uD800')", &out), 31);
    EXPECT_EQ(run(u"encodeURIComponent('\\uDC00b')", &out), 31);
    EXPECT_EQ(run(u"try { encodeURI('x\\uD800') } catch (e) { e.number + ':' + e.message }", &out), 0);
    EXPECT_EQ(out, u"31:Bad or invalid URI: x" + std::u16string(1, char16_t(0xD800)));
    EXPECT_EQ(run(u"encodeURI('\\uD83D\\uDE00')", &out), 0);
    EXPECT_EQ(out, u"%F0%9F%98%80");
}

TEST_F(LibraryTest, ObjectOfANativeValueGivesNothing) {
    Variant constructor;
    engine->getGlobalObject()->get(DataPool::get().add("Object"), constructor, 0);
    ASSERT_NE(objectOf(constructor), nullptr);
    LxCore::Array args;
    args.getOrCreate(0).setRect(LxCore::Rect(1, 2, 3, 4));
    Variant result;
    objectOf(constructor)->call(engine->getGlobalObject(), args, result);
    EXPECT_EQ(result.getType(), Variant::kUndefined);
    EXPECT_EQ(engine->getError().getCode(), 0);
}

// With the engine's localisation switch on, objects print the text of
// their property for the engine's locale.
TEST_F(LibraryTest, TheLocalisationSwitchPrintsTablesForTheLocale) {
    const std::u16string script = u"String({de: 'hallo', de_DE_Win: 'windows', en: 'hello'}) + ' ' + String({fr: 1})";
    std::u16string out;
    EXPECT_EQ(run(script, &out), 0);
    EXPECT_EQ(out, u"[object Object] [object Object]");
    engine->setDebugFlags(0x200);
    engine->setLocaleText(String("de_AT"));
    EXPECT_EQ(run(script, &out), 0);
    EXPECT_EQ(out, u"hallo [object Object]");
    engine->setLocaleText(String("de_DE"));
    EXPECT_EQ(run(script, &out), 0);
    EXPECT_EQ(out, u"windows [object Object]");
}

// An overrun that no catch sees ends its script; the thread's source depth
// and localisation nesting are back at zero, so the next script serializes.
TEST_F(LibraryTest, AfterAnUncaughtOverrunTheNextScriptRuns) {
    for (const char16_t* source : {u"var d = {}; for (var i = 0; i < 100000; i++) d = {a: d}; uneval(d)",
                                   u"var c = {}; c.a = [c]; c.toSource()",
                                   u"var t = {}; t.en = t; localize(t)"}) {
        EXPECT_EQ(run(source), 27);
        EXPECT_EQ(TVContext::get().sourceDepth, 0u);
        EXPECT_EQ(TVContext::get().localizeNesting, 0u);
        std::u16string out;
        EXPECT_EQ(run(u"uneval({a: 1})", &out), 0);
        EXPECT_EQ(out, u"({a:1})");
    }
}

}  // namespace
}  // namespace LxScript
