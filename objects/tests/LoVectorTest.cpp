#include <gtest/gtest.h>

#include "objects/LoVector.h"

using LxObjects::LoVector;

TEST(LoVector, GrowsByThirtyTwoSlots)
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
    EXPECT_EQ(v.capacity(), 96);
    EXPECT_EQ(v.count(), 65);
    for (int i = 0; i < 65; ++i)
        EXPECT_EQ(v.get(i), &items[i]);
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
