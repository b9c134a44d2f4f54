#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/Heap.h"
#include "core/InitTerm.h"
#include "core/Refcountable.h"
#include "core/tests/TestAllocator.h"
#include "core/platform/PlatformThread.h"
#include "core/tests/TestSupport.h"
#include "script/composition/InitTerm.h"
#include "script/engine/RealEngine.h"
#include "script/engine/TVContext.h"
#include "script/engine/tests/TestEngine.h"
#include "script/frontend/DataPool.h"

namespace LxScript {
namespace {

std::vector<int> order;

void first() { order.push_back(1); }
void second() { order.push_back(2); }
void late() { order.push_back(3); }
void registersAnother() {
    order.push_back(4);
    InitTerm::atExit(late);
}

bool poolIsUp() {
    try {
        DataPool::get().getSymbol(113);
        return true;
    } catch (const std::logic_error&) {
        return false;
    }
}

TEST(EngineStartup, CountedInitAndExit) {
    ASSERT_FALSE(InitTerm::isInitialized());
    order.clear();
    InitTerm::init();
    InitTerm::init();
    InitTerm::atExit(first);
    InitTerm::atExit(nullptr);
    InitTerm::atExit(second);
    InitTerm::exit();
    EXPECT_TRUE(InitTerm::isInitialized());
    EXPECT_TRUE(poolIsUp());
    EXPECT_TRUE(order.empty());

    InitTerm::exit();
    EXPECT_FALSE(InitTerm::isInitialized());
    EXPECT_FALSE(poolIsUp());
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    InitTerm::exit();   // nothing to stop
    EXPECT_FALSE(InitTerm::isInitialized());
    InitTerm::atExit(first);   // no list: ignored
    InitTerm::init();
    InitTerm::exit();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(EngineStartup, FunctionsRegisteredWhileTheListRunsRunToo) {
    order.clear();
    InitTerm::init();
    InitTerm::atExit(registersAnother);
    InitTerm::atExit(first);
    InitTerm::exit();
    EXPECT_EQ(order, (std::vector<int>{4, 1, 3}));
}

TEST(EngineStartup, HoldsTheCoreWhileStarted) {
    ASSERT_FALSE(LxCore::InitTerm::isInitialized());
    InitTerm::init();
    EXPECT_TRUE(LxCore::InitTerm::isInitialized());
    InitTerm::exit();
    EXPECT_FALSE(LxCore::InitTerm::isInitialized());

    // A user of the core keeps it up past the engine library's end.
    LxCore::InitTerm::init();
    InitTerm::init();
    InitTerm::exit();
    EXPECT_TRUE(LxCore::InitTerm::isInitialized());
    EXPECT_FALSE(InitTerm::isInitialized());
    LxCore::InitTerm::exit();
}

TEST(EngineStartup, EverySessionIsNew) {
    int firstId = 0;
    for (int session = 0; session < 3; session++) {
        InitTerm::init();
        // The first new name gets the same id in every session.
        const int id = DataPool::get().add("sessionName");
        EXPECT_GT(id, DataPool::kLastPredefined);
        if (session == 0)
            firstId = id;
        EXPECT_EQ(id, firstId);
        InitTerm::atExit(first);
        InitTerm::exit();
        EXPECT_FALSE(poolIsUp());
    }
}

TEST(EngineStartup, VersionsAgreeSilently) {
    testing::internal::CaptureStderr();
    InitTerm::init();
    InitTerm::exit();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(EngineStartup, EnginesForgetTheE4XClassesAtTheEnd) {
    LxCore::CoreStarted core;   // the engine outlives the library here
    InitTerm::init();
    auto* engine = new TestEngine;
    InitTerm::exit();
    EXPECT_EQ(engine->invalidated, (std::vector<std::u16string>{u"XML", u"QName", u"Namespace", u"XMLList"}));
    delete engine;
    EXPECT_EQ(TVContext::get().getEngines().getCount(), 0);
}

// Fails the request numbered `failAt` (from 0) and counts the blocks it
// still has out.
class FailingAllocator : public LxCore::Allocator {
public:
    explicit FailingAllocator(int failAt) : failAt(failAt) {}
    int failAt;
    int requests = 0;
    int outstanding = 0;

    void* alloc(LxCore::u64 size) override { return allocBlock(size); }
    void* allocBlock(LxCore::u64 size) override {
        if (requests++ == failAt)
            return nullptr;
        outstanding++;
        return std::malloc(size);
    }
    void free(void* p) override {
        outstanding--;
        std::free(p);
    }
    void* realloc(void* p, LxCore::u64 size) override {
        if (requests++ == failAt)
            return nullptr;
        return std::realloc(p, size);
    }
    void trim() override {}
};

// Every request of the start may fail; each failure must leave the library
// stopped with nothing allocated, and a later start must work.
TEST(EngineStartup, AFailedInitUndoesItsSteps) {
    LxCore::CoreStarted core;
    bool started = false;
    for (int failAt = 0; !started && failAt < 10000; failAt++) {
        FailingAllocator allocator(failAt);
        {
            LxCore::UsingAllocator scope(&allocator);
            try {
                InitTerm::init();
                started = true;
                InitTerm::exit();
            } catch (const std::bad_alloc&) {
                EXPECT_FALSE(InitTerm::isInitialized()) << failAt;
                EXPECT_FALSE(poolIsUp()) << failAt;
                EXPECT_TRUE(LxCore::InitTerm::isInitialized()) << "the caller's core stays";
            }
        }
        EXPECT_EQ(allocator.outstanding, 0) << failAt;
    }
    EXPECT_TRUE(started);
    InitTerm::init();
    EXPECT_TRUE(poolIsUp());
    InitTerm::exit();
}

// ---- script context ----

TEST(ScriptContext, OnePerThreadRecordMadeOnFirstUse) {
    LxCore::CoreStarted core;
    EXPECT_EQ(TVContext::find(), nullptr);
    TVContext& context = TVContext::get();
    EXPECT_EQ(&TVContext::get(), &context);
    EXPECT_EQ(TVContext::find(), &context);
    EXPECT_EQ(context.getThreadData(), LxCore::ThreadData::find());
    EXPECT_EQ(context.getEngines().getCount(), 0);
    EXPECT_EQ(context.getValue().getType(), LxCore::Variant::kUndefined);
    EXPECT_EQ(context.getStackLimit(), 0u);
    EXPECT_TRUE(context.checkStack()) << "no limit";
    EXPECT_EQ(context.localizeNesting, 0u);
    EXPECT_FALSE(context.sourceListing);
    EXPECT_FALSE(context.usDaylightSaving);
    context.getValue() = LxCore::Variant("kept until the record goes");
}

// A context first made on another thread, with an engine and a value in it:
// the library's end frees it (the sanitizer build's leak check sees the rest).
TEST(ScriptContext, AThreadsContextIsFreedAtTheEnd) {
    InitTerm::init();
    std::thread([] {
        auto* engine = static_cast<RealEngine*>(Engine::createEngine(0));
        LxCore::Variant result;
        EXPECT_TRUE(engine->eval(LxCore::String("[1, 2].length"), &result, 0, 0, nullptr, nullptr));
        delete engine;
        TVContext::get().getValue() = LxCore::Variant("kept until the record goes");
    }).join();
    ASSERT_NE(TVContext::find(), nullptr);
    InitTerm::exit();
    EXPECT_EQ(TVContext::find(), nullptr);
    EXPECT_EQ(LxCore::ThreadData::find(), nullptr);
}

TEST(ScriptContext, NeedsTheCoreLibrary) {
    ASSERT_FALSE(LxCore::InitTerm::isInitialized());
    EXPECT_THROW(TVContext::get(), std::bad_alloc);
    EXPECT_EQ(LxCore::ThreadData::find(), nullptr) << "no record is left behind";
}

// Recurses in steps of about 2 KB until the check fails; answers the depth.
// The frame is read after the call, so that the call cannot become a jump.
int __attribute__((noinline)) descend(const TVContext& context, int depth) {
    volatile char frame[2048];
    frame[0] = 0;
    if (!context.checkStack() || depth >= 2000)
        return depth;
    int reached = descend(context, depth + 1);
    return reached + frame[0];
}

TEST(ScriptContext, StackLimit) {
    LxCore::CoreStarted core;
    TVContext& context = TVContext::get();
    context.setStackBottom(1048576);
    EXPECT_NE(context.getStackLimit(), 0u);
    EXPECT_TRUE(context.checkStack());
    int depth = descend(context, 0);
    EXPECT_LT(depth, 2000) << "the limit was crossed";
    EXPECT_GT(depth, 200) << "well after about a megabyte";

    context.setStackBottom(0);
    EXPECT_EQ(context.getStackLimit(), 0u);
    EXPECT_EQ(descend(context, 1990), 2000);
    context.setStackBottom(-5);
    EXPECT_EQ(context.getStackLimit(), 0u);
}

// A megabyte asked for on a thread of 256 KB: the limit stays inside the
// thread's stack, the recursion ends in the check, not in a crash.
TEST(ScriptContext, StackLimitStaysInsideASmallStack) {
    LxCore::CoreStarted core;
    LxCore::runOnStack(256 * 1024, [] {
        TVContext& context = TVContext::get();
        const uintptr_t saved = context.getStackLimit();
        {
            StackLimitScope scope(context, 1048576);
            const uintptr_t end = LxCore::platformStackEnd();
            ASSERT_NE(end, 0u);
            EXPECT_GE(context.getStackLimit(), end + TVContext::kStackReserve);
            EXPECT_LT(descend(context, 0), 128) << "256 KB hold fewer than 128 frames of 2 KB";
        }
        EXPECT_EQ(context.getStackLimit(), saved) << "the scope puts the limit back";
    });
}

// A host gives its engine what is left of the thread's stack: on a thread of
// 512 KB that is most of it, the limit still keeps the reserve free, and a
// runaway recursion ends in error 27 rather than past the stack's end.
constexpr LxCore::i32 kSmallThreadStack = 512 * 1024;

TEST(ScriptContext, StackRoomOfASmallThreadServesAsTheBudget) {
    InitTerm::init();
    LxCore::runOnStack(kSmallThreadStack, [] {
        const LxCore::i32 room = TVContext::stackRoom();
        EXPECT_GT(room, kSmallThreadStack / 2);
        EXPECT_LT(room, kSmallThreadStack);
        auto* engine = static_cast<RealEngine*>(Engine::createEngine(0));
        ASSERT_NE(engine, nullptr);
        engine->setStackBudget(room);
        LxCore::Variant result;
        EXPECT_TRUE(engine->eval(LxCore::String("function f(n) { return n ? f(n - 1) + 1 : 0 } f(100)"), &result,
                                 0, 0, nullptr, nullptr));
        EXPECT_EQ(result.toNumber(), 100);
        EXPECT_FALSE(engine->eval(LxCore::String("function g() { return g() + 1 } g()"), &result, 0, 0, nullptr,
                                  nullptr));
        EXPECT_EQ(engine->getError().getCode(), 27);
        delete engine;
    });
    InitTerm::exit();
}

TEST(ScriptContext, StackRoomOfTheMainThreadIsCapped) {
    LxCore::CoreStarted core;
    const LxCore::i32 room = TVContext::stackRoom();
    EXPECT_GT(room, 0) << "the test thread's stack end is known";
    EXPECT_LE(room, TVContext::kMaxStackRoom);
}

}  // namespace
}  // namespace LxScript
