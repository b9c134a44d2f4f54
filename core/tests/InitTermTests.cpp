#include <gtest/gtest.h>

#include <thread>

#include "core/Heap.h"
#include "core/InitTerm.h"
#include "core/Refcountable.h"
#include "core/ThreadData.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

TEST(InitTerm, CountsInitsAndEndsAtTheLastExit) {
    ASSERT_FALSE(InitTerm::isInitialized());
    InitTerm::init();
    InitTerm::init();
    InitTerm::exit();
    EXPECT_TRUE(InitTerm::isInitialized());
    EXPECT_NE(ThreadData::find(), nullptr);
    EXPECT_NO_THROW(Heap::free(Heap::alloc(10)));
    InitTerm::exit();
    EXPECT_FALSE(InitTerm::isInitialized());
    EXPECT_EQ(ThreadData::find(), nullptr);
}

TEST(InitTerm, ExitWithoutInitDoesNothing) {
    ASSERT_FALSE(InitTerm::isInitialized());
    InitTerm::exit();
    EXPECT_FALSE(InitTerm::isInitialized());
    InitTerm::init();
    EXPECT_TRUE(InitTerm::isInitialized());
    InitTerm::exit();
    EXPECT_FALSE(InitTerm::isInitialized());
}

TEST(InitTerm, EverySessionGetsAFreshRecord) {
    InitTerm::init();
    Heap::setCacheSize(0);
    ThreadData::get()->scratchBytes = static_cast<char*>(Heap::alloc(100));
    InitTerm::exit();

    InitTerm::init();
    ThreadData* record = ThreadData::get();
    EXPECT_EQ(record->scratchBytes, nullptr);
    EXPECT_EQ(Heap::getCacheSize(), Heap::kDefaultCacheSize);
    EXPECT_EQ(record->unitBaseCode, ThreadData::kInch);
    EXPECT_DOUBLE_EQ(record->unitBaseValue, 1.0 / 72);
    InitTerm::exit();
}

TEST(InitTerm, AllThreadsShareOneRecord) {
    CoreStarted core;
    ThreadData* mine = ThreadData::get();
    ThreadData* theirs = nullptr;
    std::thread([&] { theirs = ThreadData::get(); }).join();
    EXPECT_EQ(theirs, mine);
}

class Owned : public ThreadOwned {
public:
    explicit Owned(bool* gone) : gone(gone) {}
    ~Owned() override { *gone = true; }
    bool* gone;
};

// Blocks held by the record, its cache and its owned object all go back
// before the allocators end.
TEST(InitTerm, LastExitReturnsEverythingTheRecordHeld) {
    TestAllocator allocator;
    bool ownedGone = false;
    InitTerm::init();
    setAllocatorForTests(&allocator);
    ThreadData* record = ThreadData::get();
    record->scratchBytes = static_cast<char*>(Heap::alloc(4000));
    record->scratchSize = 4000;
    record->ownedObject = new Owned(&ownedGone);
    for (u64 size = 0; size < 400; size += 24)
        Heap::free(Heap::alloc(size));
    InitTerm::exit();

    EXPECT_TRUE(ownedGone);
    EXPECT_GT(allocator.blockRequests, 2);
    EXPECT_EQ(allocator.frees, allocator.blockRequests);
    EXPECT_EQ(allocator.trims, 1);
    setAllocatorForTests(nullptr);
}

}  // namespace
}  // namespace LxCore
