// The engine's answers to the core: installed by the library's start, each
// operation with and without a current engine.
#include <algorithm>
#include <string>
#include <vector>

#include "core/Callbacks.h"
#include "core/Dictionary.h"
#include "script/composition/TVCallbacks.h"
#include "script/engine/DispatcherDictionary.h"
#include "core/Localizer.h"
#include "core/ThreadData.h"
#include "core/TypeInfo.h"
#include "script/engine/Function.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

using LxCore::Callbacks;
using LxCore::String;

std::string utf8(const String& s) { return text(Variant(s)); }

std::vector<std::string> texts(LxCore::StringList& list) {
    std::vector<std::string> out;
    for (i32 i = 0; i < list.getCount(); i++)
        out.push_back(utf8(*list.get(i)));
    LxCore::freeStrings(list);
    return out;
}

class CallbacksTest : public RunTest {
protected:
    Callbacks& callbacks() { return *Callbacks::getCurrent(); }

    // Runs body with the engine current, as it is while a script runs.
    template <class Body>
    void withEngineCurrent(Body body) {
        LxCore::ThreadData* record = LxCore::ThreadData::get();
        Engine* saved = record->engine;
        record->engine = engine.get();
        body();
        record->engine = saved;
    }
};

TEST(Callbacks, TheLibraryInstallsThemAndTakesThemAway) {
    EXPECT_EQ(Callbacks::getCurrent(), nullptr);
    InitTerm::init();
    EXPECT_NE(dynamic_cast<LxCore::TVCallbacks*>(Callbacks::getCurrent()), nullptr);
    InitTerm::exit();
    EXPECT_EQ(Callbacks::getCurrent(), nullptr);
}

TEST_F(CallbacksTest, WithoutAnEngineNothingChanges) {
    ASSERT_EQ(Engine::getCurrent(), nullptr);
    String locale("kept"), info("kept too"), file("stale");
    callbacks().getLocaleInfo(locale, info);
    EXPECT_EQ(utf8(locale), "kept");
    EXPECT_EQ(utf8(info), "kept too");
    callbacks().getCurrentScriptFile(file);
    EXPECT_TRUE(file.isEmpty());
    EXPECT_EQ(callbacks().getCurrentEngine(), nullptr);
}

TEST_F(CallbacksTest, SymbolNamesComeFromTheDataPool) {
    String out;
    callbacks().getSymbolName(out, u32(Sym::kPrototype));
    EXPECT_EQ(utf8(out), "prototype");
    callbacks().getSymbolName(out, u32(sym("someName")));
    EXPECT_EQ(utf8(out), "someName");
}

TEST_F(CallbacksTest, LocaleValuesAreReadFromDollar) {
    ASSERT_EQ(run("$.locale = 'de_CH'; $.zstringInfo = 'from script'"), 0);
    engine->setError(2);
    withEngineCurrent([&] {
        String locale, info;
        callbacks().getLocaleInfo(locale, info);
        EXPECT_EQ(utf8(locale), "de_CH");
        EXPECT_EQ(utf8(info), "from script");
    });
    EXPECT_EQ(engine->getError().getCode(), 2) << "the engine's error stays";
    engine->clearError();

    // A value that is no string leaves its out alone.
    ASSERT_EQ(run("$.zstringInfo = 5"), 0);
    withEngineCurrent([&] {
        String locale, info("kept");
        callbacks().getLocaleInfo(locale, info);
        EXPECT_EQ(utf8(info), "kept");
    });
    ASSERT_EQ(run("$.locale = ''"), 0);
    withEngineCurrent([&] {
        String locale, info;
        callbacks().getLocaleInfo(locale, info);
        EXPECT_EQ(utf8(locale), utf8(LxCore::Localizer::getCurrentLocale())) << "unset: the localizer's";
    });
}

// A localizer that asks for the locale information while it answers.
class AskingLocalizer : public LxCore::Localizer {
public:
    bool getLocale(String& out) override {
        String locale("none"), info("none");
        Callbacks::getCurrent()->getLocaleInfo(locale, info);
        nested = utf8(locale) + "/" + utf8(info);
        out = "fr_FR";
        return true;
    }
    std::string nested;
};

TEST_F(CallbacksTest, ANestedAskGetsNothing) {
    AskingLocalizer asking;
    LxCore::Localizer::registerLocalizer(&asking);
    withEngineCurrent([&] {
        String locale, info;
        callbacks().getLocaleInfo(locale, info);
        EXPECT_EQ(utf8(locale), "fr_FR");
    });
    EXPECT_EQ(asking.nested, "none/none");
}

TEST_F(CallbacksTest, TheRunningScriptsFile) {
    String seen("stale");
    class Ask : public Function {
    public:
        Ask(ObjectSpace& space, String& seen) : Function(space, sym("ask")), seen(seen) {}
        void call(Object*, const LxCore::BasicArray&, Variant&) override {
            Callbacks::getCurrent()->getCurrentScriptFile(seen);
        }
        String& seen;
    };
    ObjectRef ask = ObjectRef::adopt(new Ask(engine->getObjects(), seen));
    engine->getGlobalObject()->put(sym("ask"), Variant(ask.get()), 0);
    const String name("lib/named.tvs");
    Variant result;
    ASSERT_TRUE(engine->eval(String("eval('ask()')"), &result, 0, 0, nullptr, &name));
    EXPECT_EQ(utf8(seen), "lib/named.tvs") << "past the unnamed eval, the named script";
    seen = "stale";
    ASSERT_TRUE(engine->eval(String("ask()"), &result, 0, 0, nullptr, nullptr));
    EXPECT_TRUE(seen.isEmpty()) << "no frame's script has a proper name";
}

TEST_F(CallbacksTest, TheDispatcherDictionaryListsEveryClassOnce) {
    LxCore::Dictionary* d = callbacks().createDictionary();
    ASSERT_NE(dynamic_cast<DispatcherDictionary*>(d), nullptr);
    Dispatcher twin("Twins");
    twin.addClass("Shared");
    Dispatcher other("Twins");
    other.addClass("Shared");
    other.addClass("Single");
    LxCore::StringList list;
    d->getClasses(String("All"), list);
    std::vector<std::string> all = texts(list);
    for (const char* name : {"Array", "$", "Shared", "Single"})
        EXPECT_EQ(std::count(all.begin(), all.end(), name), 1) << name;
    d->getClasses(String("Twins"), list);
    EXPECT_EQ(texts(list), (std::vector<std::string>{"Shared", "Single"}));
    d->getGroups(list);
    std::vector<std::string> groups = texts(list);
    EXPECT_EQ(std::count(groups.begin(), groups.end(), "Twins"), 1);
    EXPECT_EQ(std::count(groups.begin(), groups.end(), "JavaScript"), 1);
    delete d;
}

TEST_F(CallbacksTest, TheDefaultDictionaryHoldsTheE4XClasses) {
    LxCore::Dictionary* d = callbacks().createDefaultDictionary();
    ASSERT_NE(d, nullptr);
    LxCore::StringList list;
    d->getGroups(list);
    EXPECT_EQ(texts(list), (std::vector<std::string>{"JavaScript"}));
    d->getClasses(String("JavaScript"), list);
    EXPECT_EQ(texts(list), (std::vector<std::string>{"QName", "Namespace", "XML"}));
    for (const char* name : {"QName", "Namespace", "XML"}) {
        LxCore::ClassInfo* info = d->getClass(String(name));
        ASSERT_NE(info, nullptr) << name;
        LxCore::StringList members;
        info->getServiceNames(members, 0xFFFFFFFF);
        EXPECT_GT(members.getCount(), 0) << name << " has its members";
        LxCore::freeStrings(members);
        info->release();
    }
    delete d;
}

TEST_F(CallbacksTest, HostWords) {
    ASSERT_EQ(run("var a = {}, b = {}"), 0);
    callbacks().setObjectData(global("a"), 41);
    callbacks().setObjectData(global("b"), 42);
    callbacks().setObjectData(Variant(7.0), 43);
    EXPECT_EQ(callbacks().getObjectData(global("a")), 41);
    EXPECT_EQ(callbacks().getObjectData(global("b")), 42);
    EXPECT_EQ(callbacks().getObjectData(Variant("any other value")), 43) << "one word for the rest";
}

}  // namespace
}  // namespace LxScript
