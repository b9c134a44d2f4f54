#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "core/Broadcaster.h"
#include "core/Error.h"
#include "core/Localizer.h"
#include "core/String.h"
#include "core/ThreadData.h"
#include "core/Variant.h"
#include "core/tests/TestSupport.h"
#include "script/composition/InitTerm.h"
#include "script/engine/Engine.h"
#include "script/engine/TVContext.h"
#include "script/engine/tests/TestEngine.h"

namespace LxScript {
namespace {

using LxCore::Error;
using LxCore::String;
using LxCore::str;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        previousFactory = Engine::setFactory(TestEngine::make);
    }
    void TearDown() override {
        Engine::setFactory(previousFactory);
        InitTerm::exit();
    }

    Engine::Factory previousFactory = nullptr;
};

Error errorOf(i32 code, const char* text = "") {
    Error error;
    error.push(code, String(text), nullptr, false);
    return error;
}

// ---- registry ----

TEST_F(EngineTest, EnginesAreListedAndNamed) {
    TestEngine first;
    TestEngine second;
    EXPECT_EQ(second.getID(), first.getID() + 1);

    LxCore::TSimpleArray<Engine> all;
    Engine::getAll(all);
    ASSERT_EQ(all.getCount(), 2);
    EXPECT_EQ(all.get(0), &first);
    EXPECT_EQ(all.get(1), &second);

    EXPECT_EQ(Engine::findEngine(String("main")), nullptr);
    EXPECT_TRUE(first.setName(String("main")));
    EXPECT_EQ(Engine::findEngine(String("main")), &first);
    EXPECT_FALSE(second.setName(String("main")));
    EXPECT_EQ(str(second.getName()), u"");
    EXPECT_FALSE(first.setName(String("main"))) << "its own name counts too";
    EXPECT_TRUE(first.setName(String("other")));
    EXPECT_EQ(Engine::findEngine(String("main")), nullptr);

    {
        TestEngine third;
        Engine::getAll(all);
        EXPECT_EQ(all.getCount(), 3);
    }
    Engine::getAll(all);
    EXPECT_EQ(all.getCount(), 2) << "a destroyed engine leaves the list";
    EXPECT_EQ(TVContext::get().getEngines().find(&first), 0);
}

TEST_F(EngineTest, CurrentEngineIsTheThreadRecordsField) {
    TestEngine engine;
    EXPECT_EQ(Engine::getCurrent(), nullptr);
    LxCore::ThreadData::get()->engine = &engine;
    EXPECT_EQ(Engine::getCurrent(), &engine);
    LxCore::ThreadData::get()->engine = nullptr;
}

TEST_F(EngineTest, CreateEngineNeedsAConcreteEngine) {
    Engine* made = Engine::createEngine(0x10000);
    ASSERT_NE(made, nullptr);
    EXPECT_NE(dynamic_cast<TestEngine*>(made), nullptr);
    delete made;

    Engine::setFactory(nullptr);
    EXPECT_EQ(Engine::createEngine(0), nullptr);
    TestEngine engine;
    Engine* copy = &engine;
    EXPECT_EQ(engine.clone(&copy), -36);
    EXPECT_EQ(copy, &engine) << "out stays unset";

    Engine::setFactory([]() -> Engine* { throw std::bad_alloc(); });
    EXPECT_EQ(Engine::createEngine(0), nullptr);
    EXPECT_EQ(engine.clone(&copy), -28);
    EXPECT_EQ(copy, &engine);
}

TEST_F(EngineTest, CloneCopiesTheEnginesState) {
    TestEngine engine;
    Callback callback;
    LxCore::Localizer localizer;
    auto* data = new UserData;
    engine.setName(String("original"));
    engine.setCallback(&callback);
    engine.setLocalizer(&localizer);
    engine.setUserData(data, true);
    engine.setDebugFlags(0x400);
    engine.setDebugLevel(1);
    engine.setProfilingLevel(3);
    engine.setError(21, String("x"), 4, false);
    engine.getErrorInfo();

    Engine* copy = nullptr;
    ASSERT_EQ(engine.clone(&copy), 0);
    std::unique_ptr<Engine> owned(copy);
    EXPECT_NE(copy->getID(), engine.getID());
    EXPECT_EQ(str(copy->getName()), u"");
    EXPECT_EQ(copy->getCallback(), &callback);
    EXPECT_EQ(copy->getLocalizer(), &localizer);
    EXPECT_EQ(copy->getUserData(), data);
    EXPECT_EQ(copy->getDebugFlags(), 0x400u);
    EXPECT_EQ(copy->getDebugLevel(), 1);
    EXPECT_EQ(copy->getProfilingLevel(), 3);
    EXPECT_EQ(copy->getError().getCode(), 21);
    EXPECT_EQ(copy->getErrorInfo().line, 4);
    owned.reset();
    EXPECT_EQ(engine.getUserData(), data) << "the clone does not own the user data";
}

TEST_F(EngineTest, GcAllVisitsEveryListedEngineOnce) {
    auto* first = new TestEngine;
    auto* second = new TestEngine;
    auto* third = new TestEngine;
    static TestEngine* victim;
    victim = third;
    // A collection that destroys a later engine: it must not be visited.
    second->onCollect = [](TestEngine&) {
        delete victim;
        victim = nullptr;
    };
    Engine::gcAll();
    EXPECT_EQ(first->collections, 1);
    EXPECT_EQ(second->collections, 1);
    EXPECT_EQ(victim, nullptr);

    Engine::invalidateClassAll(String("XML"));
    ASSERT_EQ(first->invalidated.size(), 1u);
    EXPECT_EQ(first->invalidated[0], u"XML");
    EXPECT_EQ(second->invalidated.size(), 1u);
    delete first;
    delete second;
}

TEST_F(EngineTest, LevelsAreClamped) {
    TestEngine engine;
    const struct {
        i32 asked, debug, profiling;
    } cases[] = {{7, 2, 4}, {-3, 0, 0}, {1, 1, 1}, {2, 2, 2}, {4, 2, 4}, {0x101, 2, 4}};
    for (const auto& c : cases) {
        engine.setDebugLevel(c.asked);
        engine.setProfilingLevel(c.asked);
        EXPECT_EQ(engine.getDebugLevel(), c.debug) << c.asked;
        EXPECT_EQ(engine.getProfilingLevel(), c.profiling) << c.asked;
    }
    engine.setDebugLevel(1);
    engine.setProfilingLevel(4);
    engine.setDebugLevel(0);
    EXPECT_EQ(engine.getProfilingLevel(), 4) << "the levels are separate";
}

class Owned : public UserData {
public:
    explicit Owned(bool* gone) : gone(gone) {}
    ~Owned() { *gone = true; }
    bool* gone;
};

TEST_F(EngineTest, OwnedUserDataGoesWithTheEngine) {
    bool ownedGone = false;
    bool keptGone = false;
    Owned kept(&keptGone);
    {
        TestEngine engine;
        engine.setUserData(new Owned(&ownedGone), true);
        EXPECT_FALSE(ownedGone);
    }
    EXPECT_TRUE(ownedGone);
    {
        TestEngine engine;
        engine.setUserData(&kept, false);
    }
    EXPECT_FALSE(keptGone);

    bool replacedGone = false;
    TestEngine engine;
    engine.setUserData(new Owned(&replacedGone), true);
    engine.setUserData(&kept, false);
    EXPECT_TRUE(replacedGone) << "owned data that is replaced is deleted";
}

class Watcher : public LxCore::Listener {
public:
    bool onMessage(LxCore::Message& message) override {
        ids.push_back(message.getId());
        return false;
    }
    std::vector<LxCore::u32> ids;
};

TEST_F(EngineTest, DestructionIsAnnounced) {
    Watcher watcher;
    {
        TestEngine engine;
        engine.addListener(&watcher, LxCore::Broadcaster::kDeleting);
    }
    ASSERT_EQ(watcher.ids.size(), 1u);
    EXPECT_EQ(watcher.ids[0], LxCore::Broadcaster::kDeleting);
}

TEST_F(EngineTest, ApiObjectsKnowTheirEngineAndCode) {
    TestEngine engine;
    API* api = engine.getAPI(API::kParser);
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->getName(), 0x70617273);
    EXPECT_EQ(&api->getEngine(), &engine);
    EXPECT_EQ(engine.getAPI(API::kParser), api);
    EXPECT_EQ(API::kDebug, 0x64656267);
    EXPECT_EQ(API::kHilite, 0x68696C75);
    EXPECT_EQ(API::kLiveObject, 0x6C697665);
}

TEST_F(EngineTest, CallbackDefaults) {
    TestEngine engine;
    Callback callback;
    LxCore::Variant a, b, result;
    EXPECT_TRUE(callback.garbageCollecting(engine));
    EXPECT_FALSE(callback.undefinedError(engine, a, b, result));
    EXPECT_FALSE(callback.isValidClassName(engine, String("File")));
    LxCore::u32 id = 99;
    EXPECT_EQ(callback.getClassObject(engine, String("File"), id), nullptr);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(engine.getCallback(), nullptr);
}

TEST_F(EngineTest, VersionIsFourFiveFive) { EXPECT_EQ(Engine::getVersion(), 263429); }

TEST(EngineLife, NoEngineWhileTheLibraryIsStopped) {
    EXPECT_THROW(TestEngine(), std::logic_error);
    Engine::Factory previous = Engine::setFactory(TestEngine::make);
    EXPECT_EQ(Engine::createEngine(0), nullptr);
    Engine::setFactory(previous);
}

// ---- errors ----

// Which error stands after a second one is set over a first.
TEST_F(EngineTest, ErrorPrecedence) {
    // An error list with a fatal code replaces whatever stands; the other
    // forms keep a fatal error in place.
    const struct {
        i32 first, second, standing, standingFromList;
    } cases[] = {
        {8, -28, -28, -28},     // fatal replaces ordinary
        {8, 21, 8, 8},          // the first stays
        {-28, 8, -28, -28},
        {-28, -35, -28, -35},
        {0, 21, 21, 21},
        {8, 0, 8, 8},
        {0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        for (int form = 0; form < 3; form++) {
            TestEngine engine;
            if (c.first)
                engine.setError(c.first);
            int errorsBefore = engine.runtimeErrors;
            switch (form) {
                case 0:
                    engine.setError(c.second);
                    break;
                case 1: {
                    RuntimeError record;
                    record.code = c.second;
                    record.message = "second";
                    engine.setError(record);
                    break;
                }
                case 2:
                    engine.setError(c.second ? errorOf(c.second, "second") : Error());
                    break;
            }
            i32 standing = form == 2 ? c.standingFromList : c.standing;
            EXPECT_EQ(engine.getError().getCode(), standing)
                << c.first << " then " << c.second << " form " << form;
            bool taken = standing == c.second && c.second != 0;
            EXPECT_EQ(engine.runtimeErrors - errorsBefore, taken ? 1 : 0)
                << c.first << " then " << c.second << " form " << form;
        }
    }
}

TEST_F(EngineTest, AnErrorListWithCodeZeroIsIgnored) {
    TestEngine engine;
    engine.setError(errorOf(0, "nothing"));
    EXPECT_TRUE(engine.getError().isEmpty());
    EXPECT_EQ(engine.runtimeErrors, 0);
}

TEST_F(EngineTest, MessagesFromTheTableOrLiteral) {
    TestEngine engine;
    engine.setError(2, String("foo"), 3, false);
    const RuntimeError& info = engine.getErrorInfo();
    EXPECT_EQ(info.code, 2);
    EXPECT_EQ(str(info.message), u"foo is undefined");
    EXPECT_EQ(info.line, 3);
    EXPECT_EQ(info.start, 0);
    EXPECT_EQ(info.column, 0);
    EXPECT_EQ(info.length, 0);

    engine.clearError();
    engine.setError(2, String("foo"), 3, true);
    EXPECT_EQ(str(engine.getErrorInfo().message), u"foo");
}

TEST_F(EngineTest, ErrorInfoOfNoError) {
    TestEngine engine;
    const RuntimeError& info = engine.getErrorInfo();
    EXPECT_EQ(info.code, 0);
    EXPECT_EQ(info.line, -1);
    EXPECT_EQ(str(info.message), u"");
    EXPECT_EQ(str(info.source), u"");
}

TEST_F(EngineTest, PositionComesFromTheRunningFrame) {
    TestEngine engine;
    engine.addFrame(7, "var a = b;", "main");
    engine.setError(2, String("b"), -1, false);
    const RuntimeError& info = engine.getErrorInfo();
    EXPECT_EQ(info.line, 7);
    EXPECT_EQ(str(info.source), u"var a = b;");
    EXPECT_EQ(str(engine.getError().getRecord()->fileName), u"main");

    TestEngine idle;
    idle.setError(2, String("b"), -1, false);
    EXPECT_EQ(idle.getErrorInfo().line, -1);
    EXPECT_EQ(str(idle.getErrorInfo().source), u"");
    EXPECT_EQ(str(idle.getError().getRecord()->fileName), u"");
}

// A thrown value's record is built when first read: it must say what it
// would have said at the throw, though the frames have changed since, and
// hold the value; the precedence rule sees it pending before it is built.
TEST_F(EngineTest, AThrownValueIsReportedAsAtTheThrow) {
    const struct {
        LxCore::Variant value;
        const char* objectText;     // given for objects, whose text may run script
        const char16_t* message;
    } cases[] = {
        {LxCore::Variant(5.0), nullptr, u"Uncaught JavaScript exception: 5"},
        {LxCore::Variant(String("boom")), nullptr, u"Uncaught JavaScript exception: boom"},
        {LxCore::Variant(), nullptr, u"Uncaught JavaScript exception: undefined"},
        {LxCore::Variant(1.5), "Error: kept", u"Uncaught JavaScript exception: Error: kept"},
    };
    for (const auto& c : cases) {
        TestEngine engine;
        engine.addFrame(1, "inner();", "12");
        engine.addFrame(5, "outer();", "main");
        const String given(c.objectText ? c.objectText : "");
        engine.setThrownError(c.value, c.objectText ? &given : nullptr);
        EXPECT_EQ(engine.runtimeErrors, 1);
        EXPECT_EQ(engine.getErrorCode(), 54);
        engine.frames.clear();
        engine.addFrame(9, "later();", "other");
        engine.setError(2, String("x"), -1, false);     // the first error stays
        const RuntimeError& info = engine.getErrorInfo();
        EXPECT_EQ(info.code, 54);
        EXPECT_EQ(str(info.message), std::u16string(c.message));
        EXPECT_EQ(info.line, 1);
        EXPECT_EQ(str(info.source), u"inner();");
        const LxCore::ErrorRecord* record = engine.getError().getRecord();
        EXPECT_EQ(str(record->fileName), u"main");
        ASSERT_NE(record->data, nullptr);
        EXPECT_TRUE(*record->data == c.value);
    }

    TestEngine engine;
    engine.addFrame(1, "inner();", "main");
    engine.setThrownError(LxCore::Variant(5.0), nullptr);
    LxCore::Variant taken;
    EXPECT_TRUE(engine.peekThrownValue(taken));
    EXPECT_EQ(taken.toNumber(), 5.0);
    engine.setError(-28);                               // a fatal error replaces it
    EXPECT_EQ(engine.getError().getCode(), -28);
    EXPECT_FALSE(engine.peekThrownValue(taken));
    engine.clearError();
    engine.setThrownError(LxCore::Variant(6.0), nullptr);
    engine.clearError();
    EXPECT_TRUE(engine.getError().isEmpty());
    EXPECT_FALSE(engine.peekThrownValue(taken));
}

TEST_F(EngineTest, AnonymousScriptsChargeTheirErrorsToANamedCaller) {
    const struct {
        const char* inner;
        const char* outer;
        const char16_t* charged;
    } cases[] = {
        {"12", "main", u"main"},
        {"-0", "main", u"main"},
        {"0", "main", u"main"},
        {"", "main", u"main"},
        {"lib.js", "main", u"lib.js"},
        {"12", "34", u""},
        {"012", "main", u"012"},            // not a number the engine gives out
        {"9999999999", "main", u"9999999999"},
    };
    for (const auto& c : cases) {
        TestEngine engine;
        engine.addFrame(1, "inner();", c.inner);
        engine.addFrame(5, "outer();", c.outer);
        engine.setError(21, String("x"), -1, false);
        EXPECT_EQ(str(engine.getError().getRecord()->fileName), std::u16string(c.charged))
            << c.inner << " in " << c.outer;
    }
}

TEST_F(EngineTest, ErrorListKeepsItsOwnFileUnlessAnonymous) {
    TestEngine engine;
    engine.addFrame(2, "f();", "main");
    Error named = errorOf(21, "x");
    named.setFileName(String("lib.js"));
    engine.setError(named);
    EXPECT_EQ(str(engine.getError().getRecord()->fileName), u"lib.js");

    TestEngine other;
    other.addFrame(2, "f();", "main");
    Error anonymous = errorOf(21, "x");
    anonymous.setFileName(String("17"));
    other.setError(anonymous);
    EXPECT_EQ(str(other.getError().getRecord()->fileName), u"main");
    EXPECT_EQ(str(anonymous.getRecord()->fileName), u"17") << "the given list is not changed";
    EXPECT_EQ(anonymous.getRecord()->line, -1);
}

TEST_F(EngineTest, RuntimeErrorRecordsKeepTheirPosition) {
    TestEngine engine;
    engine.addFrame(9, "frame source", "main");
    RuntimeError record;
    record.code = 8;
    record.message = "Syntax error";
    record.line = 3;
    record.start = 12;
    record.column = 4;
    record.length = 2;
    engine.setError(record);
    const RuntimeError& info = engine.getErrorInfo();
    EXPECT_EQ(info.code, 8);
    EXPECT_EQ(str(info.message), u"Syntax error");
    EXPECT_EQ(info.line, 3);
    EXPECT_EQ(info.start, 12);
    EXPECT_EQ(info.column, 4);
    EXPECT_EQ(info.length, 2);
    EXPECT_EQ(str(info.source), u"frame source") << "an empty source is the frame's";
}

TEST_F(EngineTest, ErrorListsTakePositionsFromTheirRecord) {
    TestEngine engine;
    engine.addFrame(9, "frame source", "main");
    Error given = errorOf(-29, "boom");
    given.setSource(String("given source"), 2, 5, 6, 3);
    engine.setError(given);
    const RuntimeError& info = engine.getErrorInfo();
    EXPECT_EQ(info.code, -29);
    EXPECT_EQ(info.line, 2);
    EXPECT_EQ(info.start, 5);
    EXPECT_EQ(info.column, 6);
    EXPECT_EQ(info.length, 3);
    EXPECT_EQ(str(info.source), u"given source");
}

TEST_F(EngineTest, ErrorInfoJoinsEveryMessage) {
    TestEngine engine;
    Error list = errorOf(1, "older");
    list.push(21, String("newer"), nullptr, false);
    engine.setError(list);
    EXPECT_EQ(str(engine.getErrorInfo().message), u"newer\n- older");
    EXPECT_EQ(engine.getErrorInfo().code, 21);
}

TEST_F(EngineTest, ClearAndRestore) {
    TestEngine engine;
    engine.setError(8);
    Error saved = engine.getError();
    engine.clearError();
    EXPECT_TRUE(engine.getError().isEmpty());
    engine.setError(21);
    engine.restoreError(saved);
    EXPECT_EQ(engine.getError().getCode(), 8);
}

// Asked for error texts; notes whether it was the current localizer then.
class ErrorLocalizer : public LxCore::Localizer {
public:
    bool localizeError(i32 error, String& message) override {
        wasCurrent = LxCore::Localizer::getCurrent() == this;
        message = "lokal";
        return true;
    }
    bool wasCurrent = false;
};

TEST_F(EngineTest, TheEnginesLocalizerIsCurrentWhileItReports) {
    ErrorLocalizer localizer;
    LxCore::Localizer* before = LxCore::Localizer::getCurrent();
    TestEngine engine;
    engine.setLocalizer(&localizer);
    engine.setError(2, String("foo"), -1, false);
    EXPECT_TRUE(localizer.wasCurrent);
    EXPECT_EQ(str(engine.getErrorInfo().message).substr(0, 5), u"lokal");
    EXPECT_EQ(LxCore::Localizer::getCurrent(), before);
}

}  // namespace
}  // namespace LxScript
