#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "objects/LoLock.h"

using LxObjects::LoLockable;
using LxObjects::ObjectLock;

namespace {

class Counter : public LoLockable {
public:
    int value = 0;
};

}  // namespace

TEST(LoLock, TheHolderMayEnterAgain)
{
    Counter counter;
    ObjectLock outer(counter);
    {
        ObjectLock inner(counter);
        counter.value = 1;
    }
    EXPECT_EQ(counter.value, 1);
}

TEST(LoLock, OtherThreadsWaitForTheHolder)
{
    Counter counter;
    std::atomic<bool> entered{false};
    std::thread other;
    {
        ObjectLock guard(counter);
        other = std::thread([&] {
            ObjectLock theirs(counter);
            entered = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(entered);
    }
    other.join();
    EXPECT_TRUE(entered);
}

TEST(LoLock, GuardsKeepCountsExact)
{
    Counter counter;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                ObjectLock guard(counter);
                ++counter.value;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(counter.value, 80000);
}
