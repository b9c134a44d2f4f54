#include <gtest/gtest.h>

#include <vector>

#include "objects/LoVector.h"

using LxObjects::LoVector;

TEST(LoVector, StartsWithThirtyTwoSlotsAndDoubles)
{
    LoVector<int> v;
    int items[65];
    EXPECT_EQ(v.capacity(), 32);
    for (int i = 0; i < 32; ++i)
        v.append(&items[i]);
    EXPECT_EQ(v.capacity(), 32);
    v.append(&items[32]);
    EXPECT_EQ(v.capacity(), 64);
    for (int i = 33; i < 64; ++i)
        v.append(&items[i]);
    EXPECT_EQ(v.capacity(), 64);
    v.append(&items[64]);
    EXPECT_EQ(v.capacity(), 128);
    EXPECT_EQ(v.count(), 65);
    for (int i = 0; i < 65; ++i)
        EXPECT_EQ(v.get(i), &items[i]);
}

// A long queue is built in amortised constant time: each new array at least
// doubles, so 5,000 appends make eight of them, not one per 32 items.
TEST(LoVector, LongVectorsGrowGeometrically)
{
    LoVector<int> v;
    int item = 0;
    std::vector<int> seen{v.capacity()};
    for (int i = 0; i < 5000; ++i) {
        v.append(&item);
        if (v.capacity() != seen.back())
            seen.push_back(v.capacity());
    }
    EXPECT_EQ(seen, (std::vector<int>{32, 64, 128, 256, 512, 1024, 2048, 4096, 8192}));
    EXPECT_EQ(v.count(), 5000);
}

TEST(LoVector, IndexesOutsideTheRangeGiveNullAndChangeNothing)
{
    LoVector<int> v;
    int a = 1, b = 2;
    v.append(&a);
    v.append(&b);
    for (int index : {-1, 2, 1000}) {
        EXPECT_EQ(v.get(index), nullptr);
        EXPECT_EQ(v.removeAt(index), nullptr);
    }
    EXPECT_EQ(v.count(), 2);
    EXPECT_EQ(v.get(0), &a);
    EXPECT_EQ(v.get(1), &b);
}

TEST(LoVector, RemovingMovesLaterItemsDown)
{
    LoVector<int> v;
    int a = 1, b = 2, c = 3;
    for (int* p : {&a, &b, &c, &b})
        v.append(p);
    EXPECT_EQ(v.removeAt(0), &a);
    EXPECT_EQ(v.count(), 3);
    EXPECT_EQ(v.get(0), &b);

    EXPECT_TRUE(v.remove(&b));  // only the first of the two
    EXPECT_EQ(v.count(), 2);
    EXPECT_EQ(v.get(0), &c);
    EXPECT_EQ(v.get(1), &b);
    EXPECT_FALSE(v.remove(&a));
    EXPECT_EQ(v.count(), 2);
}

TEST(LoVector, DestroyingTheVectorLeavesItsItems)
{
    int* item = new int(7);
    {
        LoVector<int> v;
        v.append(item);
    }
    EXPECT_EQ(*item, 7);
    delete item;
}
