// The shared source writers: literals, keys, the object serializer's depth
// and the localised default text, on plain objects of a test engine.
#include "script/library/SourceText.h"

#include "script/engine/TVContext.h"
#include "script/engine/tests/ObjectFixtures.h"

namespace LxScript {
namespace {

using LxCore::String;

std::string narrow(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); i++)
        out += s[i] < 128 ? char(s[i]) : '?';
    return out;
}

class SourceTextObjects : public ObjectTest {};

TEST_F(SourceTextObjects, QuotedLiteralsEscapeWhatEndsOrBreaksThem) {
    const struct {
        std::u16string text;
        bool escapeNonAscii;
        const char* want;
    } cases[] = {
        {u"a\nb", false, R"("a\nb")"},
        {u"say \"hi\" \\ there", false, R"("say \"hi\" \\ there")"},
        {u"\x01\x1f\x7f", false, R"("\x01\x1F\x7F")"},
        {u"line\u2028para\u2029", false, R"("line\u2028para\u2029")"},
        {u"\u00e9", true, R"("\u00E9")"},
        {u"\u2028", true, R"("\u2028")"},
    };
    for (const auto& c : cases) {
        String out("=");
        appendQuoted(out, String(reinterpret_cast<const LxCore::unit*>(c.text.c_str()), i32(c.text.size())),
                     c.escapeNonAscii);
        EXPECT_EQ(narrow(out), std::string("=") + c.want);
    }
    String plain;
    appendQuoted(plain, String("\xe9"), false);
    EXPECT_EQ(plain.length(), 3);   // the unit itself between the quotes
}

TEST_F(SourceTextObjects, KeysAreBareOnlyWhereALiteralReadsThemBack) {
    const struct {
        const char* name;
        const char* want;
    } cases[] = {
        {"abc", "abc"}, {"_$1", "_$1"}, {"12", "12"}, {"4294967294", "4294967294"},
        {"-0", "\"-0\""}, {"1.5", "\"1.5\""}, {"a b", "\"a b\""}, {"a-b", "\"a-b\""},
        {"", "\"\""}, {"if", "\"if\""}, {"return", "\"return\""}, {"each", "each"},
    };
    for (const auto& c : cases) {
        String out;
        appendPropertyKey(out, sym(c.name));
        EXPECT_EQ(narrow(out), c.want) << c.name;
    }
}

TEST_F(SourceTextObjects, ObjectsNestUpToTheDepthThenStopWithTheTextSoFar) {
    ObjectRef root = newObject();
    root->put(sym("n"), Variant(1.5), 0);
    root->put(sym("s"), Variant("x\"y"), 0);
    root->put(sym("me"), Variant(root.get()), 0);
    ObjectRef inner = newObject();
    inner->put(sym("if"), Variant(true), 0);
    root->put(sym("in"), Variant(inner.get()), 0);
    String out;
    ASSERT_TRUE(appendObjectSource(*engine, *root, out));
    EXPECT_EQ(narrow(out), R"({n:1.5, s:"x\"y", me:this, "in":{"if":true}})");

    // A chain of kMaxSourceDepth objects is written; one more is refused.
    auto chain = [&](u32 objects) {
        ObjectRef head = newObject();
        for (u32 i = 1; i < objects; i++) {
            ObjectRef outer = newObject();
            outer->put(sym("a"), Variant(head.get()), 0);
            head = outer;
        }
        return head;
    };
    ObjectRef deepest = chain(kMaxSourceDepth);
    out.clear();
    EXPECT_TRUE(appendObjectSource(*engine, *deepest, out));
    EXPECT_EQ(errorCode(), 0);
    ObjectRef tooDeep = chain(kMaxSourceDepth + 1);
    out.clear();
    EXPECT_FALSE(appendObjectSource(*engine, *tooDeep, out));
    EXPECT_EQ(errorCode(), 27);
    EXPECT_EQ(out.length(), i32(kMaxSourceDepth * 3));     // "{a:" for every level entered
    EXPECT_EQ(TVContext::get().sourceDepth, 0u);
}

// toString of the test objects: the default conversion.
void defaultText(Arguments& args) {
    String out;
    if (defaultObjectText(*static_cast<RealEngine*>(args.engine), *objectOf(*args.thisValue), out))
        args.result->setString(out);
}

TEST_F(SourceTextObjects, LocalisedTextComesFromTheLocalePropertyAndSelfReferenceStops) {
    ObjectRef toString = native("toString", defaultText);
    ObjectRef table = newObject();
    table->put(Sym::kToString, Variant(toString.get()), 0);
    table->put(sym("de"), Variant("Hallo"), 0);
    table->put(sym("en"), Variant("Hello"), 0);
    String out;
    ASSERT_TRUE(defaultObjectText(*engine, *table, out));
    EXPECT_EQ(narrow(out), "[object Object]");

    TVContext& context = TVContext::get();
    context.localizeNesting++;
    engine->setLocaleText(String("de_DE"));
    ASSERT_TRUE(defaultObjectText(*engine, *table, out));
    EXPECT_EQ(narrow(out), "Hallo");
    engine->setLocaleText(String("fr_FR"));
    ASSERT_TRUE(defaultObjectText(*engine, *table, out));
    EXPECT_EQ(narrow(out), "Hello");

    ObjectRef self = newObject();
    self->put(Sym::kToString, Variant(toString.get()), 0);
    self->put(sym("en"), Variant(self.get()), 0);
    EXPECT_FALSE(defaultObjectText(*engine, *self, out));
    EXPECT_EQ(errorCode(), 27);
    EXPECT_EQ(context.sourceDepth, 0u);
    context.localizeNesting--;
    self->put(sym("en"), Variant(), 0);     // the cycle goes with the test
}

}  // namespace
}  // namespace LxScript
