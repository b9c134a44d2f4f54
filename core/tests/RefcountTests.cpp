#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/InitTerm.h"
#include "core/Refcountable.h"
#include "core/ThreadData.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class Counted : public Refcountable {
public:
    explicit Counted(int* deaths) : deaths(deaths) {}
    ~Counted() override { ++*deaths; }
    int* deaths;
};

class RefcountTest : public ::testing::Test {
protected:
    CoreStarted core;
    int deaths = 0;
};

TEST_F(RefcountTest, ReleaseDeletesAtZero) {
    Counted* object = new Counted(&deaths);
    EXPECT_EQ(object->getRefCount(), 1u);
    EXPECT_EQ(object->addRef(), 2u);
    EXPECT_EQ(object->release(), 1u);
    EXPECT_EQ(deaths, 0);
    EXPECT_EQ(object->release(), 0u);
    EXPECT_EQ(deaths, 1);
}

TEST_F(RefcountTest, CopyStartsItsOwnCount) {
    Counted original(&deaths);
    original.addRef();
    Counted* copy = new Counted(original);
    EXPECT_EQ(copy->getRefCount(), 1u);
    *copy = original;
    EXPECT_EQ(copy->getRefCount(), 1u);
    copy->release();
    EXPECT_EQ(deaths, 1);
}

class Throwing : public Refcountable {
public:
    u32 release() override { throw std::runtime_error("release failed"); }
};

TEST_F(RefcountTest, PtrReleasesItsReferenceAndSwallowsExceptions) {
    {
        RefcountablePtr holder(new Counted(&deaths));
        EXPECT_NE(holder.get(), nullptr);
    }
    EXPECT_EQ(deaths, 1);

    Throwing* stubborn = new Throwing;
    EXPECT_NO_THROW({ RefcountablePtr holder(stubborn); });
    delete stubborn;
    EXPECT_NO_THROW({ RefcountablePtr empty; });
}

TEST_F(RefcountTest, LockIsRecursiveForItsHolderAndBlocksOthers) {
    Lock lock;
    lock.enter();
    lock.enter();
    std::atomic<bool> entered = false;
    std::thread other([&] {
        lock.enter();
        entered = true;
        lock.leave();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(entered);
    lock.leave();
    EXPECT_FALSE(entered);
    lock.leave();
    other.join();
    EXPECT_TRUE(entered);
}

class Guarded : public Lockable {
public:
    using Lockable::makeLock;
    bool hasLock() const { return lockObject != nullptr; }
};

TEST_F(RefcountTest, LockableLocksOnlyOnceItHasALock) {
    Guarded guarded;
    guarded.lock();             // no lock yet: nothing happens
    guarded.unlock();
    EXPECT_FALSE(guarded.hasLock());

    guarded.makeLock();
    ASSERT_TRUE(guarded.hasLock());
    guarded.lock();
    guarded.lock();
    guarded.unlock();
    guarded.unlock();

    Guarded copy(guarded);      // a copy never shares the lock
    EXPECT_FALSE(copy.hasLock());
}

TEST_F(RefcountTest, WithoutALockTableGuardsDoNothingAndCountsArePlain) {
    EXPECT_EQ(*getGlobalLockTable(), nullptr);
    EXPECT_EQ(ThreadData::get()->lockTable, nullptr);
    GlobalLockGuard guard(kAllocatorLock);
    u32 counter = 0xFFFFFFFF;
    EXPECT_EQ(atomicIncrement(&counter), 0u);
    EXPECT_EQ(atomicDecrement(&counter), 0xFFFFFFFFu);
}

// The table is never made by the library itself; a test puts one in place
// to show the interlocked counts and that the library's end deletes it.
TEST(LockTable, CountsAreInterlockedWhileItExistsAndTheLastExitDeletesIt) {
    TestAllocator allocator;
    InitTerm::init();
    setAllocatorForTests(&allocator);
    *getGlobalLockTable() = new Lock[kGlobalLockCount];

    u32 counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&] {
            for (int i = 0; i < 100000; i++)
                atomicIncrement(&counter);
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 400000u);

    Lock* table = *getGlobalLockTable();
    table[kEncoderLock].enter();
    std::atomic<bool> entered = false;
    std::thread other([&] {
        GlobalLockGuard guard(kEncoderLock);
        entered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(entered);
    table[kEncoderLock].leave();
    other.join();
    EXPECT_TRUE(entered);

    InitTerm::exit();
    EXPECT_EQ(*getGlobalLockTable(), nullptr);
    EXPECT_EQ(allocator.frees, allocator.blockRequests);
    setAllocatorForTests(nullptr);
}

}  // namespace
}  // namespace LxCore
