#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "core/Heap.h"
#include "core/InitTerm.h"
#include "core/ThreadData.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class HeapTest : public ::testing::Test {
protected:
    CoreStarted core;
    TestAllocator allocator;
    UsingAllocator installed{&allocator};

    HeapCache& cache() { return ThreadData::get()->heapCache; }
};

TEST_F(HeapTest, RequestsRoundToSixteenByteBlocksWithHeader) {
    Heap::setCacheSize(0);
    struct Case {
        u64 request;
        u64 block;
    };
    const Case cases[] = {{0, 16}, {1, 16}, {8, 16}, {9, 32}, {24, 32},
                          {312, 320}, {313, 336}, {1000, 1008}};
    for (const Case& c : cases) {
        void* p = Heap::alloc(c.request);
        EXPECT_EQ(allocator.lastSize, c.block) << "request " << c.request;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
        std::memset(p, 0xAB, c.request);
        Heap::free(p);
    }
}

TEST_F(HeapTest, BlocksUpTo320BytesAreCachedLargerOnesAreNot) {
    void* small = Heap::alloc(312);
    Heap::free(small);
    EXPECT_EQ(allocator.frees, 0);
    EXPECT_EQ(Heap::alloc(312), small);
    EXPECT_EQ(allocator.blockRequests, 1);
    Heap::free(small);

    void* large = Heap::alloc(313);
    Heap::free(large);
    EXPECT_EQ(allocator.frees, 1);
}

TEST_F(HeapTest, CachedBlocksAreHandedOutEvenWithoutBudget) {
    void* p = Heap::alloc(20);
    Heap::free(p);
    cache().budget = 0;             // as if switched off while blocks were cached
    EXPECT_EQ(Heap::alloc(20), p);
    Heap::free(p);
    EXPECT_EQ(allocator.frees, 1);  // no budget: straight back
    EXPECT_EQ(cache().classes[1].count, 0);
}

TEST_F(HeapTest, FullClassSendsFreedBlocksToTheAllocator) {
    Heap::setCacheSize(6400);       // class 19 (320 bytes) holds one block
    ASSERT_EQ(cache().classes[19].max, 1);
    void* a = Heap::alloc(312);
    void* b = Heap::alloc(312);
    Heap::free(a);
    Heap::free(b);
    EXPECT_EQ(cache().classes[19].count, 1);
    EXPECT_EQ(allocator.frees, 1);
}

TEST_F(HeapTest, CacheSizeSetsClassMaximaAndFlushes) {
    const i32 defaultMaxima[Heap::kCacheClasses] = {320, 160, 106, 80, 64, 53, 45, 40, 35, 32,
                                                    29,  26,  24,  22, 21, 20, 18, 17, 16, 16};
    EXPECT_EQ(Heap::getCacheSize(), 102400);
    for (i32 i = 0; i < Heap::kCacheClasses; i++)
        EXPECT_EQ(cache().classes[i].max, defaultMaxima[i]) << "class " << i;

    Heap::free(Heap::alloc(40));
    Heap::free(Heap::alloc(200));
    EXPECT_EQ(allocator.frees, 0);
    Heap::setCacheSize(-5);
    EXPECT_EQ(Heap::getCacheSize(), 0);
    EXPECT_EQ(allocator.frees, 2);
    for (const HeapCache::SizeClass& sizeClass : cache().classes) {
        EXPECT_EQ(sizeClass.max, 0);
        EXPECT_EQ(sizeClass.count, 0);
        EXPECT_EQ(sizeClass.first, nullptr);
    }
    Heap::setCacheSize(0);
    EXPECT_EQ(Heap::getCacheSize(), 0);
}

TEST_F(HeapTest, FlushThreadCacheReturnsEveryCachedBlock) {
    void* blocks[5];
    for (u64 i = 0; i < 5; i++)
        blocks[i] = Heap::alloc(16 * i);
    for (void* p : blocks)
        Heap::free(p);
    EXPECT_EQ(allocator.frees, 0);
    Heap::flushThreadCache();
    EXPECT_EQ(allocator.frees, 5);
    EXPECT_EQ(Heap::getCacheSize(), 102400);    // the budget stays
}

TEST_F(HeapTest, RequestsNearTheTopOfTheAddressRangeFailWithoutWrapping) {
    const u64 sizes[] = {SIZE_MAX, SIZE_MAX - 10, SIZE_MAX - 15, SIZE_MAX - 22, SIZE_MAX - 23,
                         u64(1) << 63, u64(PTRDIFF_MAX) - 22};
    void* p = Heap::alloc(10);
    std::memcpy(p, "keep this", 10);
    for (u64 size : sizes) {
        EXPECT_THROW(Heap::alloc(size), std::bad_alloc) << size;
        EXPECT_THROW(Heap::realloc(p, size), std::bad_alloc) << size;
    }
    EXPECT_EQ(allocator.blockRequests, 1);
    EXPECT_EQ(allocator.reallocs, 0);
    EXPECT_STREQ(static_cast<char*>(p), "keep this");
    Heap::free(p);
}

TEST_F(HeapTest, FailedRequestTrimsOnceThenRetries) {
    allocator.failures = 1;
    void* p = Heap::alloc(1000);
    EXPECT_EQ(allocator.trims, 1);
    EXPECT_EQ(allocator.blockRequests, 2);
    Heap::free(p);

    allocator.failures = 2;
    EXPECT_THROW(Heap::alloc(1000), std::bad_alloc);
    EXPECT_EQ(allocator.trims, 2);
    EXPECT_EQ(allocator.blockRequests, 4);
}

TEST_F(HeapTest, FailedResizeTrimsOnceAndKeepsTheBlock) {
    char* p = static_cast<char*>(Heap::alloc(100));
    std::strcpy(p, "contents");

    allocator.failures = 2;
    EXPECT_THROW(Heap::realloc(p, 5000), std::bad_alloc);
    EXPECT_EQ(allocator.trims, 1);
    EXPECT_STREQ(p, "contents");

    allocator.failures = 1;
    p = static_cast<char*>(Heap::realloc(p, 5000));
    EXPECT_EQ(allocator.trims, 2);
    EXPECT_EQ(allocator.reallocs, 4);
    EXPECT_STREQ(p, "contents");
    Heap::free(p);
    EXPECT_EQ(allocator.frees, 1);      // 5008 bytes: never cached
}

TEST_F(HeapTest, ResizeKeepsContentsAndSameSizedBlocks) {
    EXPECT_EQ(Heap::realloc(nullptr, 40), nullptr);
    EXPECT_EQ(allocator.blockRequests, 0);

    char* p = static_cast<char*>(Heap::alloc(20));
    std::strcpy(p, "nineteen characters");
    EXPECT_EQ(Heap::realloc(p, 24), p);     // both 32-byte blocks
    EXPECT_EQ(allocator.reallocs, 0);

    p = static_cast<char*>(Heap::realloc(p, 2000));
    EXPECT_EQ(allocator.lastSize, 2016u);
    EXPECT_STREQ(p, "nineteen characters");
    p = static_cast<char*>(Heap::realloc(p, 8));
    EXPECT_EQ(std::memcmp(p, "nineteen", 8), 0);
    Heap::free(p);                          // now 16 bytes: cached
    EXPECT_EQ(Heap::alloc(1), p);
    Heap::free(p);
}

TEST_F(HeapTest, BlocksGoBackToTheAllocatorThatMadeThem) {
    void* mine = Heap::alloc(1000);
    setAllocatorForTests(nullptr);
    void* fromDefault = Heap::alloc(1000);
    EXPECT_EQ(allocator.blockRequests, 1);
    Heap::free(fromDefault);
    EXPECT_EQ(allocator.frees, 0);
    setAllocatorForTests(&allocator);
    Heap::free(mine);
    EXPECT_EQ(allocator.frees, 1);
}

struct Sample : Root {
    char bytes[400];
};

TEST_F(HeapTest, RootObjectsLiveOnTheCoreHeap) {
    Sample* one = new Sample;
    EXPECT_EQ(allocator.blockRequests, 1);
    delete one;
    EXPECT_EQ(allocator.frees, 1);

    Sample* many = new Sample[3];
    EXPECT_EQ(allocator.blockRequests, 2);
    delete[] many;
    EXPECT_EQ(allocator.frees, 2);
}

TEST_F(HeapTest, CurrentAllocator) {
    EXPECT_EQ(Allocator::getCurrent(), &allocator);
    setAllocatorForTests(nullptr);
    auto* standard = dynamic_cast<DefaultAllocator*>(Allocator::getCurrent());
    ASSERT_NE(standard, nullptr);
    EXPECT_EQ(standard->outOfMemory, 0);
    setAllocatorForTests(&allocator);
}

TEST(HeapUnstarted, RefusesAllocationAndIgnoresRelease) {
    ASSERT_FALSE(InitTerm::isInitialized());
    EXPECT_THROW(Heap::alloc(16), std::bad_alloc);
    char stray[32] = {};
    EXPECT_THROW(Heap::realloc(stray + 8, 16), std::bad_alloc);
    Heap::free(stray + 8);      // never read: nothing happens
    Heap::free(nullptr);
    EXPECT_EQ(stray[0], 0);
}

TEST(HeapUnstarted, BlockFreedAfterTheLastExitIsLeftAlone) {
    InitTerm::init();
    void* p = Heap::alloc(64);
    InitTerm::exit();
    Heap::free(p);              // ignored: the allocator is gone
    InitTerm::init();
    Heap::free(p);              // a new session can still take it back
    InitTerm::exit();
}

}  // namespace
}  // namespace LxCore
