#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/Callbacks.h"
#include "core/Clock.h"
#include "core/Error.h"
#include "core/Heap.h"
#include "core/InitTerm.h"
#include "core/String.h"
#include "core/ThreadData.h"
#include "core/platform/PlatformThread.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestCallbacks.h"
#include "core/tests/TestSupport.h"
#include "script/engine/Engine.h"
#include "script/engine/TVContext.h"

namespace LxCore {
namespace {

class Context : public LxScript::TVContext {
public:
    explicit Context(bool* gone) : gone(gone) {}
    ~Context() override { *gone = true; }
    bool* gone;
};

class Owned : public ThreadOwned {
public:
    explicit Owned(bool* gone) : gone(gone) {}
    ~Owned() override { *gone = true; }
    bool* gone;
};

std::vector<int> ran;
void first() { ran.push_back(1); }
void second() { ran.push_back(2); }
void third() { ran.push_back(3); }
void registersAnother() {
    ran.push_back(4);
    InitTerm::atExit(third);
}

// Fills every part of the core that holds memory, so that an exit that
// missed one shows as a leak or a use after free in the next session.
void useTheCore(bool* contextGone, bool* ownedGone) {
    ThreadData* record = ThreadData::get();
    // The engine's hook, as it installs it with its first context.
    ThreadData::setScriptContextFree([](LxScript::TVContext* context) { delete context; });
    record->scriptContext = new Context(contextGone);
    record->ownedObject = new Owned(ownedGone);
    String("encoded").encode();
    record->dstMinute = 7;
    record->engine = reinterpret_cast<LxScript::Engine*>(record);
    Error kept(2, "x", true);
    kept.push(-28, "", nullptr, true);
    Heap::free(Heap::alloc(100));
    InitTerm::atExit(first);
}

TEST(Startup, InitExitInitStartsAfresh) {
    for (int session = 0; session < 3; session++) {
        bool contextGone = false, ownedGone = false;
        ran.clear();
        ASSERT_FALSE(InitTerm::isInitialized());
        InitTerm::init();
        EXPECT_FALSE(InitTerm::isStartingUp());
        ThreadData* record = ThreadData::get();
        EXPECT_EQ(record->scriptContext, nullptr);
        EXPECT_EQ(record->ownedObject, nullptr);
        EXPECT_EQ(record->scratchBytes, nullptr);
        EXPECT_EQ(record->engine, nullptr);
        EXPECT_EQ(record->dstMinute, ThreadData::kNoMinute);
        EXPECT_FALSE(record->offMainThreadData);
        EXPECT_EQ(record->unitBaseCode, ThreadData::kInch);
        EXPECT_EQ(Heap::getCacheSize(), Heap::kDefaultCacheSize);
        EXPECT_EQ(LxScript::Engine::getCurrent(), nullptr);
        EXPECT_EQ(getCurrentThreadId(), 0u);

        {
            // Values made in a session must go within it: once the library
            // has ended, their memory would not go back.
            Error error;
            for (int i = 0; i < 3; i++)
                error.push(i, "x", nullptr, false);
            String text, className;
            Error::getInfo(-28, text, className);
            EXPECT_EQ(text.compare("Out of memory"), 0);
            useTheCore(&contextGone, &ownedGone);
        }
        InitTerm::exit();

        EXPECT_TRUE(contextGone);
        EXPECT_TRUE(ownedGone);
        EXPECT_EQ(ran, std::vector<int>{1});
        EXPECT_FALSE(InitTerm::isInitialized());
        EXPECT_EQ(ThreadData::find(), nullptr);
        EXPECT_EQ(LxScript::Engine::getCurrent(), nullptr);
        EXPECT_NE(getCurrentThreadId(), 0u);
    }
}

TEST(Startup, FatalListsKeepTheirTextsWhileStarted) {
    CoreStarted core;
    TestAllocator allocator;
    UsingAllocator installed(&allocator);
    Heap::setCacheSize(0);
    Error error;
    String text("a");
    allocator.failures = 1000;
    error.push(8, text, nullptr, false);
    allocator.failures = 0;
    String message;
    error.getMessage(message);
    EXPECT_EQ(message.compare("Out of memory"), 0);
}

TEST(Startup, AtExitFunctionsRunOnceInOrderAtTheLastExit) {
    ran.clear();
    InitTerm::atExit(first);   // not started: ignored
    InitTerm::init();
    InitTerm::atExit(second);
    InitTerm::atExit(nullptr);
    InitTerm::atExit(registersAnother);
    InitTerm::init();
    InitTerm::atExit(first);
    InitTerm::exit();
    EXPECT_TRUE(ran.empty());
    InitTerm::exit();
    EXPECT_EQ(ran, (std::vector<int>{2, 4, 1, 3}));
    InitTerm::exit();
    EXPECT_EQ(ran.size(), 4u);
}

TEST(Startup, OtherThreadsReadTheirOwnIds) {
    CoreStarted core;
    EXPECT_EQ(getCurrentThreadId(), 0u);
    u32 seen = 0, own = 0;
    std::thread([&] {
        seen = getCurrentThreadId();
        own = platformThreadId();
    }).join();
    EXPECT_NE(seen, 0u);
    EXPECT_EQ(seen, own);
}

TEST(Startup, TheCurrentEngineIsTheRecordsField) {
    CoreStarted core;
    auto* engine = reinterpret_cast<LxScript::Engine*>(&core);
    ThreadData::get()->engine = engine;
    EXPECT_EQ(LxScript::Engine::getCurrent(), engine);
    std::thread([&] { EXPECT_EQ(LxScript::Engine::getCurrent(), engine); }).join();
    ThreadData::get()->engine = nullptr;
}

// Before init, so that no record stands yet; the init after them adopts it
// and the exit frees it.
TEST(Startup, ThreadsAskingTogetherShareOneRecord) {
    ASSERT_EQ(ThreadData::find(), nullptr);
    ThreadData* records[8] = {};
    std::vector<std::thread> threads;
    for (ThreadData*& record : records)
        threads.emplace_back([&record] { record = ThreadData::get(); });
    for (std::thread& thread : threads)
        thread.join();
    CoreStarted core;
    for (ThreadData* record : records)
        EXPECT_EQ(record, ThreadData::get());
}

TEST(Callbacks, NoneUntilTheEngineInstallsThem) {
    CoreStarted core;
    EXPECT_EQ(Callbacks::getCurrent(), nullptr);
    TestCallbacks callbacks;
    callbacks.locale = "de_DE";
    {
        UsingCallbacks installed(&callbacks);
        Callbacks* current = Callbacks::getCurrent();
        ASSERT_EQ(current, &callbacks);
        String locale("fr_FR"), info("kept");
        current->getLocaleInfo(locale, info);
        EXPECT_EQ(locale.compare("de_DE"), 0);
        EXPECT_EQ(info.compare("kept"), 0);
        EXPECT_EQ(current->getCurrentEngine(), nullptr);
        EXPECT_EQ(callbacks.calls, 2);
    }
    EXPECT_EQ(Callbacks::getCurrent(), nullptr);
}

}  // namespace
}  // namespace LxCore
