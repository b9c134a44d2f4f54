#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "TestFolders.h"
#include "objects/Thread.h"
#include "objects/platform/Sync.h"

using LxObjects::Thread;
using LxObjects::u32;
using Clock = std::chrono::steady_clock;

namespace {

long long elapsedMs(Clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// A thread whose steps run the given functions and note where they ran.
class StepThread : public Thread {
public:
    std::function<void()> initStep, runStep, exitStep;
    std::mutex notesMutex;
    std::string order;
    u32 ranOn = 0;

    void init() override { step('i', initStep); }
    void run() override
    {
        ranOn = LxObjects::Platform::currentThreadId();
        step('r', runStep);
    }
    void exit() override { step('e', exitStep); }

private:
    void step(char name, const std::function<void()>& work)
    {
        {
            std::lock_guard<std::mutex> guard(notesMutex);
            order += name;
        }
        if (work)
            work();
    }
};

std::string orderOf(StepThread& t)
{
    std::lock_guard<std::mutex> guard(t.notesMutex);
    return t.order;
}

}  // namespace

TEST(Thread, IsCreatedSuspendedAndRunsInitRunExitOnItsOwnThread)
{
    StepThread t;
    EXPECT_EQ(t.getError(), 0);
    EXPECT_NE(t.getThreadId(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(orderOf(t), "");
    EXPECT_FALSE(t.isRunning());

    t.start();
    EXPECT_TRUE(t.join());
    EXPECT_EQ(orderOf(t), "ire");
    EXPECT_EQ(t.ranOn, t.getThreadId());
    EXPECT_NE(t.ranOn, LxObjects::Platform::currentThreadId());
    EXPECT_FALSE(t.isRunning());
    EXPECT_EQ(t.getError(), 0);
}

TEST(Thread, RunningIsSetWhileRunWorks)
{
    StepThread t;
    std::atomic<bool> release{false};
    t.runStep = [&] {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    t.start();
    EXPECT_TRUE(TestFolders::eventually([&] { return t.isRunning(); }));
    release = true;
    EXPECT_TRUE(t.join());
    EXPECT_FALSE(t.isRunning());
}

TEST(Thread, TheEndIsReportedToOneJoinOnly)
{
    StepThread t;
    t.setJoinLimit(100);
    t.start();
    EXPECT_TRUE(t.join());
    auto since = Clock::now();
    EXPECT_TRUE(t.join() == false);
    EXPECT_GE(elapsedMs(since), 90);
}

// The join takes the end already reported; were it to wait for its limit
// instead (ten minutes), the test's own time limit would end it first.
TEST(Thread, AFinishedThreadJoinsAtOnce)
{
    StepThread t;
    t.start();
    EXPECT_TRUE(TestFolders::eventually([&] { return orderOf(t) == "ire"; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(t.join());
}

// Waits without a limit end only by a wake: one given before the wait, or
// one given while it waits.
TEST(Thread, WaitEndsAtTheLimitOrAtAWake)
{
    using LxObjects::Platform::AutoResetEvent;
    StepThread t;
    auto since = Clock::now();
    t.wait(100);
    EXPECT_GE(elapsedMs(since), 95);

    EXPECT_TRUE(t.wake());  // remembered until the next wait
    t.wait(AutoResetEvent::kInfinite);

    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        t.wake();
    });
    t.wait(AutoResetEvent::kInfinite);
    waker.join();
}

TEST(Thread, ExceptionsEndTheThreadWithAnError)
{
    struct {
        std::function<void()> init, run;
        int error;
        const char* order;
    } cases[] = {
        {nullptr, [] { throw std::runtime_error("boom"); }, -29, "ire"},
        {nullptr, [] { throw std::bad_alloc(); }, -28, "ire"},
        {nullptr, [] { throw 7; }, -29, "ire"},
        {[] { throw std::logic_error("early"); }, nullptr, -29, "ie"},
    };
    for (const auto& c : cases) {
        StepThread t;
        t.initStep = c.init;
        t.runStep = c.run;
        t.start();
        EXPECT_TRUE(t.join());
        EXPECT_EQ(t.getError(), c.error);
        EXPECT_FALSE(t.isRunning());
        EXPECT_EQ(orderOf(t), c.order);
    }
}

TEST(Thread, ATimedOutJoinLeavesTheThreadToBeJoinedLater)
{
    StepThread t;
    std::atomic<bool> release{false};
    t.runStep = [&] {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    t.setJoinLimit(20);
    t.start();
    EXPECT_FALSE(t.join());
    release = true;
    t.setJoinLimit(Thread::kJoinLimit);
    EXPECT_TRUE(t.join());
}

namespace {

std::atomic<bool> lateRelease{false};
std::atomic<bool> lateFinished{false};
std::atomic<bool> lateExited{false};
std::atomic<bool> lateEntered{false};

class LateThread : public Thread {
public:
    void run() override
    {
        lateEntered = true;
        while (!lateRelease)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        lateFinished = true;
    }
    void exit() override { lateExited = true; }
};

}  // namespace

TEST(Thread, DestroyingAThreadWaitsUntilItHasLeftItsProcedure)
{
    LateThread* t = new LateThread;
    t->setJoinLimit(10);
    t->start();
    // Deleting a running thread is sound only once run() is known to have begun.
    ASSERT_TRUE(TestFolders::eventually([] { return lateEntered.load(); }));
    EXPECT_FALSE(t->join());
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        lateRelease = true;
    });
    delete t;
    EXPECT_TRUE(lateFinished);
    // The subclass was gone before run() ended, so its exit() is not called.
    EXPECT_FALSE(lateExited);
    releaser.join();
}

TEST(Thread, AThreadNeverStartedIsDestroyedWithoutRunning)
{
    StepThread* t = new StepThread;
    delete t;  // returns: the suspended thread ends without running
    StepThread s;
    s.setJoinLimit(30);
    EXPECT_FALSE(s.join());
}

TEST(Thread, StartingTwiceRunsOnce)
{
    StepThread t;
    t.start();
    t.start();
    EXPECT_TRUE(t.join());
    EXPECT_EQ(orderOf(t), "ire");
}

#ifndef __SANITIZE_ADDRESS__
TEST(Thread, AThreadThatCannotBeCreatedHasError32AndNeverStarts)
{
    // A fresh process with no address space left for a thread stack.
    FILE* out = popen(TAVREL_OBJECTS_PEER " thread-limit", "re");
    ASSERT_NE(out, nullptr);
    char line[128] = {0};
    bool read = fgets(line, sizeof line, out) != nullptr;
    int status = pclose(out);
    ASSERT_TRUE(read);
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(line, "32 0 0\n");
}
#endif
