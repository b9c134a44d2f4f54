#include <gtest/gtest.h>

#include <initializer_list>
#include <new>
#include <vector>

#include "core/InitTerm.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"

namespace LxCore {

struct SimpleArrayProbe {
    static SimpleArrayBlock*& block(SimpleArray& array) { return array.block; }
};

namespace {

using Value = SimpleArray::Value;

SimpleArrayBlock*& blockOf(SimpleArray& array) { return SimpleArrayProbe::block(array); }

SimpleArray make(std::initializer_list<Value> values) {
    SimpleArray array;
    for (Value value : values)
        array.add(value);
    return array;
}

std::vector<Value> contents(const SimpleArray& array) {
    std::vector<Value> values;
    for (i32 i = 0; i < array.getCount(); i++)
        values.push_back(array[i]);
    return values;
}

class SimpleArrayTest : public ::testing::Test {
protected:
    CoreStarted core;
    SimpleArray empty;      // holds the shared empty block
};

TEST_F(SimpleArrayTest, GrowsInStepsOfEight) {
    SimpleArray array;
    array.add(1);
    EXPECT_EQ(blockOf(array)->capacity(), 8);
    for (Value v = 2; v <= 8; v++)
        array.add(v);
    EXPECT_EQ(blockOf(array)->capacity(), 8);
    array.add(9);
    EXPECT_EQ(blockOf(array)->capacity(), 16);
    EXPECT_EQ(contents(array), (std::vector<Value>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(SimpleArrayTest, GrowStepSetsCapacityMultiples) {
    SimpleArray array;
    array.setGrowBy(5);
    array.setCount(6);
    EXPECT_EQ(blockOf(array)->capacity(), 10);
    EXPECT_EQ(contents(array), std::vector<Value>(6, 0));
    array.setGrowBy(-2);            // at least 1
    array.setCount(11);
    EXPECT_EQ(blockOf(array)->capacity(), 11);
}

// A full block that an addition must grow at least doubles, its capacity
// still a multiple of the grow step: adding n elements one by one makes some
// log n blocks, not n / step. setCount keeps the exact step rule.
TEST_F(SimpleArrayTest, AdditionsDoubleAFullBlock) {
    struct Case {
        const char* how;
        i32 growBy;
        void (*add)(SimpleArray& array, Value value);
        std::vector<i32> capacities;
        Value first;
    };
    const Case cases[] = {
        {"add", 8, [](SimpleArray& a, Value v) { a.add(v); }, {8, 16, 32, 64, 128, 256, 512, 1024, 2048}, 1},
        {"insert in front", 8, [](SimpleArray& a, Value v) { a.insert(v, 0); },
         {8, 16, 32, 64, 128, 256, 512, 1024, 2048}, 2000},
        {"append one", 8,
         [](SimpleArray& a, Value v) {
             SimpleArray one;
             one.add(v);
             a.append(one);
         },
         {8, 16, 32, 64, 128, 256, 512, 1024, 2048}, 1},
        {"add, grow step 5", 5, [](SimpleArray& a, Value v) { a.add(v); },
         {5, 10, 20, 40, 80, 160, 320, 640, 1280, 2560}, 1},
    };
    for (const Case& c : cases) {
        SimpleArray array;
        array.setGrowBy(c.growBy);
        std::vector<i32> seen;
        for (Value v = 1; v <= 2000; v++) {
            c.add(array, v);
            if (seen.empty() || seen.back() != blockOf(array)->capacity())
                seen.push_back(blockOf(array)->capacity());
        }
        EXPECT_EQ(seen, c.capacities) << c.how;
        EXPECT_EQ(array.getCount(), 2000) << c.how;
        EXPECT_EQ(array.get(0), c.first) << c.how;
    }
    SimpleArray array = make({1, 2, 3});
    array.setCount(20);
    EXPECT_EQ(blockOf(array)->capacity(), 24) << "setCount takes the step rule";
}

TEST_F(SimpleArrayTest, CopiesShareUntilOneChanges) {
    SimpleArray original = make({1, 2, 3});
    SimpleArray copy(original);
    EXPECT_EQ(blockOf(copy), blockOf(original));
    EXPECT_EQ(blockOf(original)->refCount, 2u);

    copy.add(4);
    EXPECT_NE(blockOf(copy), blockOf(original));
    EXPECT_EQ(contents(original), (std::vector<Value>{1, 2, 3}));
    EXPECT_EQ(contents(copy), (std::vector<Value>{1, 2, 3, 4}));

    SimpleArray assigned;
    assigned = original;
    EXPECT_EQ(blockOf(assigned), blockOf(original));
    assigned.removeAt(0);
    assigned.insert(9, 1);
    EXPECT_EQ(contents(original), (std::vector<Value>{1, 2, 3}));
    EXPECT_EQ(contents(assigned), (std::vector<Value>{2, 9, 3}));
    assigned = assigned;
    EXPECT_EQ(contents(assigned), (std::vector<Value>{2, 9, 3}));
}

TEST_F(SimpleArrayTest, EmptiedArraysShareTheEmptyBlockAgain) {
    SimpleArray array = make({1, 2});
    array.setCount(0);
    EXPECT_EQ(blockOf(array), blockOf(empty));

    array = make({7});
    EXPECT_EQ(array.removeAt(0), 7);
    EXPECT_EQ(blockOf(array), blockOf(empty));

    array = make({7});
    array.remove(7);
    EXPECT_EQ(blockOf(array), blockOf(empty));
    EXPECT_EQ(array.getCount(), 0);
}

TEST_F(SimpleArrayTest, SetCountZeroFillsAndKeepsElements) {
    SimpleArray array = make({5, 6, 7});
    array.setCount(12);
    EXPECT_EQ(contents(array), (std::vector<Value>{5, 6, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    array.setCount(2);
    EXPECT_EQ(contents(array), (std::vector<Value>{5, 6}));
    EXPECT_EQ(blockOf(array)->capacity(), 8);
    array.setCount(4);      // slots dropped before come back as 0
    EXPECT_EQ(contents(array), (std::vector<Value>{5, 6, 0, 0}));
}

TEST_F(SimpleArrayTest, InsertClampsItsIndex) {
    struct Case {
        i32 index;
        std::vector<Value> expected;
    };
    const Case cases[] = {{-3, {9, 1, 2, 3}}, {0, {9, 1, 2, 3}}, {1, {1, 9, 2, 3}},
                          {3, {1, 2, 3, 9}},  {8, {1, 2, 3, 9}}};
    for (const Case& c : cases) {
        SimpleArray array = make({1, 2, 3});
        array.insert(9, c.index);
        EXPECT_EQ(contents(array), c.expected) << "index " << c.index;
    }
}

TEST_F(SimpleArrayTest, RemoveAtOutsideTheArray) {
    SimpleArray array = make({4, 5, 6});
    EXPECT_EQ(array.removeAt(-2), 4);       // below 0 acts as 0
    EXPECT_EQ(contents(array), (std::vector<Value>{5, 6}));

    SimpleArray shared(array);
    EXPECT_EQ(array.removeAt(2), 0);        // past the end: nothing changes
    EXPECT_EQ(array.removeAt(100), 0);
    EXPECT_EQ(contents(array), (std::vector<Value>{5, 6}));
    EXPECT_EQ(blockOf(array), blockOf(shared));

    EXPECT_EQ(empty.removeAt(0), 0);
    EXPECT_EQ(array.removeAt(1), 6);
    EXPECT_EQ(contents(shared), (std::vector<Value>{5, 6}));
}

TEST_F(SimpleArrayTest, SetChangesOnlyItsOwnCopyAndOnlyInside) {
    SimpleArray array = make({1, 2, 3});
    SimpleArray shared(array);
    array.set(1, 9);
    EXPECT_EQ(contents(array), (std::vector<Value>{1, 9, 3}));
    EXPECT_EQ(contents(shared), (std::vector<Value>{1, 2, 3}));

    SimpleArray before(array);
    for (i32 index : {-1, 3, SimpleArray::kMaxCount})
        array.set(index, 7);
    EXPECT_EQ(contents(array), (std::vector<Value>{1, 9, 3}));
    EXPECT_EQ(blockOf(array), blockOf(before));     // nothing set, nothing copied

    empty.set(0, 5);
    EXPECT_EQ(empty.getCount(), 0);
}

TEST_F(SimpleArrayTest, FindAndRemoveTheFirstEqualElement) {
    SimpleArray array = make({3, 1, 3, 2});
    EXPECT_EQ(array.find(3), 0);
    EXPECT_EQ(array.find(2), 3);
    EXPECT_EQ(array.find(8), -1);
    array.remove(3);
    EXPECT_EQ(contents(array), (std::vector<Value>{1, 3, 2}));
    array.remove(8);
    EXPECT_EQ(contents(array), (std::vector<Value>{1, 3, 2}));
    EXPECT_EQ(array.get(-1), 0);
    EXPECT_EQ(array.get(3), 0);
}

TEST_F(SimpleArrayTest, MergeIsAnOrderedUnion) {
    SimpleArray others = make({10, 0, 20});
    SimpleArray withoutNull = make({20});
    withoutNull.merge(others, false);
    EXPECT_EQ(contents(withoutNull), (std::vector<Value>{20, 10}));

    SimpleArray withNull = make({20});
    withNull.merge(others, true);
    EXPECT_EQ(contents(withNull), (std::vector<Value>{20, 10, 0}));

    withNull.merge(withNull, true);
    EXPECT_EQ(contents(withNull), (std::vector<Value>{20, 10, 0}));
}

TEST_F(SimpleArrayTest, AppendCopiesTheOtherElements) {
    SimpleArray array = make({1, 2});
    array.append(make({3, 4, 5}));
    EXPECT_EQ(contents(array), (std::vector<Value>{1, 2, 3, 4, 5}));
    array.append(array);
    EXPECT_EQ(contents(array), (std::vector<Value>{1, 2, 3, 4, 5, 1, 2, 3, 4, 5}));
    array.append(empty);
    EXPECT_EQ(array.getCount(), 10);
}

TEST_F(SimpleArrayTest, EqualityBySharingOrByElements) {
    SimpleArray a = make({1, 2});
    SimpleArray b = make({1, 2});
    SimpleArray shared(a);
    EXPECT_TRUE(a == shared);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == make({1, 2, 3}));
    EXPECT_FALSE(a == make({2, 1}));
    EXPECT_TRUE(empty == SimpleArray());
}

class Counted : public Refcountable {
public:
    explicit Counted(int* deaths) : deaths(deaths) {}
    ~Counted() override { ++*deaths; }
    int* deaths;
};

TEST_F(SimpleArrayTest, ReleaseAllReleasesEachElementOfItsOwnBlock) {
    int deaths = 0;
    Counted* kept = new Counted(&deaths);
    kept->addRef();
    TSimpleArray<Counted> array;
    array.add(kept);
    array.add(nullptr);
    array.add(new Counted(&deaths));
    TSimpleArray<Counted> shared(array);
    array.releaseAll();
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(kept->getRefCount(), 1u);
    EXPECT_NE(blockOf(array), blockOf(shared));
    array.setCount(0);
    kept->release();
    EXPECT_EQ(deaths, 2);
}

TEST_F(SimpleArrayTest, TypedArrayHoldsPointers) {
    int items[3] = {};
    TSimpleArray<int> array;
    array.add(&items[0]);
    array.add(&items[2]);
    array.insert(&items[1], 1);
    EXPECT_EQ(array[1], &items[1]);
    EXPECT_EQ(array.find(&items[2]), 2);
    EXPECT_EQ(array.removeAt(0), &items[0]);
    array.remove(&items[1]);
    EXPECT_EQ(array.get(0), &items[2]);
    EXPECT_EQ(array.get(5), nullptr);

    TSimpleArray<const int> constant;
    constant.add(&items[0]);
    EXPECT_EQ(constant[0], &items[0]);
}

// A block that may not be shared is copied as soon as it is copied; detaching
// and resizing keep the mark.
TEST_F(SimpleArrayTest, UnshareableBlockIsCopiedAtOnce) {
    SimpleArray array = make({1, 2});
    blockOf(array)->capacityWord |= 0x80000000;

    SimpleArray copy(array);
    EXPECT_NE(blockOf(copy), blockOf(array));
    EXPECT_EQ(blockOf(copy)->capacityWord & 0x80000000, 0u);
    EXPECT_EQ(contents(copy), (std::vector<Value>{1, 2}));
    SimpleArray assigned;
    assigned = array;
    EXPECT_NE(blockOf(assigned), blockOf(array));

    array.setCount(20);
    EXPECT_EQ(blockOf(array)->capacityWord, 0x80000000u | 24);
}

// A fake block claims the largest count; growth must fail before anything
// touches its (absent) elements.
TEST_F(SimpleArrayTest, GrowthPastTheLargestCountFails) {
    struct {
        SimpleArrayBlock header;
        intptr_t slots[2];
    } fake = {{2, SimpleArray::kMaxCount, u32(SimpleArray::kMaxCount), 8, 0}, {}};
    SimpleArray array;
    SimpleArrayBlock* own = blockOf(array);
    blockOf(array) = &fake.header;

    EXPECT_THROW(array.add(1), std::bad_alloc);
    EXPECT_THROW(array.insert(1, 0), std::bad_alloc);
    EXPECT_THROW(array.append(make({1})), std::bad_alloc);
    fake.header.count = SimpleArray::kMaxCount - 1;
    EXPECT_THROW(array.append(make({1, 2})), std::bad_alloc);
    EXPECT_EQ(array.getCount(), SimpleArray::kMaxCount - 1);
    EXPECT_EQ(fake.header.refCount, 2u);

    blockOf(array) = own;
}

TEST_F(SimpleArrayTest, LargestCountAsksForTheFullBlockSize) {
    TestAllocator allocator;
    UsingAllocator installed(&allocator);
    allocator.failures = 2;
    SimpleArray array;
    EXPECT_THROW(array.setCount(SimpleArray::kMaxCount), std::bad_alloc);
    const u64 bytes = sizeof(SimpleArrayBlock) + u64(SimpleArray::kMaxCount) * sizeof(intptr_t);
    EXPECT_EQ(allocator.lastSize, (bytes + Heap::kHeaderSize + 15) & ~u64(15));
    EXPECT_EQ(array.getCount(), 0);
}

}  // namespace
}  // namespace LxCore
