#include "objects/TellwireThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "objects/Message.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireUtils.h"
#include "objects/platform/FolderWatch.h"
#include "objects/platform/Mailbox.h"
#include "objects/tests/TestConnector.h"
#include "objects/tests/TestContext.h"

using LxObjects::LoString;
using LxObjects::TellwireContext;
using LxObjects::TellwireThread;
using Message = LxObjects::Tellwire::Message;
using Specifier = LxObjects::Tellwire::Specifier;
using TestConnectors::str;

namespace {

double nowMs()
{
    using namespace std::chrono;
    return double(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

// The statistics' clock, moved by hand while a test holds it.
double fakeMs = 0;
double fakeClock()
{
    return fakeMs;
}

class FakeClock {
public:
    explicit FakeClock(double at)
    {
        fakeMs = at;
        TellwireThread::setClockForTests(fakeClock);
    }
    ~FakeClock() { TellwireThread::setClockForTests(nullptr); }
};

// Pump threads whose passes start only by an arrival or a wake, never because
// time ran out: what they do then shows which of the two woke them.
class OnlyWakesStartPasses {
public:
    OnlyWakesStartPasses() { TellwireThread::setPassIntervalForTests(INT_MAX); }
    ~OnlyWakesStartPasses() { TellwireThread::setPassIntervalForTests(TellwireThread::kPassInterval); }
};

// A handler that counts its calls and its deletion.
class CountingHandler : public LxObjects::Tellwire::MsgHandler {
public:
    CountingHandler(std::atomic<int>* calls, std::atomic<int>* deletions) : calls(calls), deletions(deletions) {}
    ~CountingHandler() override
    {
        if (deletions)
            ++*deletions;
    }
    int handle(int kind, Message&, LoString*) override
    {
        lastKind = kind;
        if (calls)
            ++*calls;
        return 0;
    }
    std::atomic<int>* calls;
    std::atomic<int>* deletions;
    std::atomic<int> lastKind{-1};
};

class PumpThread : public TestConnectors::InstalledApps {
protected:
    void SetUp() override
    {
        InstalledApps::SetUp();
        LxObjects::setCurrentContext(nullptr);
    }

    // A context current with its pump thread running on its mailbox.
    TellwireThread* start(const char* spec = "app-1.0")
    {
        context = TestContexts::useContext(spec);
        TellwireThread* thread = context->getPumpThread();
        EXPECT_TRUE(TestFolders::eventually([thread] { return !thread->getMailboxName().isEmpty(); }));
        return thread;
    }

    std::string query(TellwireThread* thread, const char* name)
    {
        return str(thread->queryEntry(LoString(name)));
    }

    TellwireContext* context = nullptr;
};

TEST_F(PumpThread, MailboxNameFromTheSpecifier)
{
    EXPECT_EQ(str(TellwireThread::mailboxNameFor(Specifier("app_2-10.0-en_us#main", false))),
              "app_2-10.0-en_us#thread");
    EXPECT_EQ(str(TellwireThread::mailboxNameFor(Specifier("app-1.0", false))), "app-1.0#thread");
    TellwireThread* thread = start("app-1.0");
    EXPECT_EQ(str(thread->getMailboxName()), "app-1.0#thread");
}

// A name that is taken makes the thread try the instances 1 to 8.
TEST_F(PumpThread, ATakenMailboxMovesToAnInstance)
{
    hold("app-1.0#thread");
    TellwireThread* thread = start("app-1.0");
    EXPECT_EQ(str(thread->getMailboxName()), "app_1-1.0#thread");
}

TEST_F(PumpThread, BuiltInEntries)
{
    TellwireThread* thread = start();
    EXPECT_EQ(query(thread, "ECHO_REQUEST"), "ECHO_RESPONSE");
    EXPECT_EQ(query(thread, "STATUS"), "IDLE");
    for (const char* name : {"MAIN", "LAUNCHED", "DIAGNOSTICS", "INFO"}) {
        EXPECT_EQ(query(thread, name), name);
        EXPECT_NE(thread->getEntryHandler(LoString(name)), nullptr) << name;
    }
    EXPECT_EQ(thread->getEntryHandler(LoString("STATUS")), nullptr);
    EXPECT_EQ(query(thread, "NOSUCH"), "");
}

TEST_F(PumpThread, SetEntryAddsReplacesAndRemoves)
{
    TellwireThread* thread = start();
    EXPECT_TRUE(thread->setEntry(LoString("NEW"), LoString("")));
    EXPECT_EQ(thread->findEntry(LoString("NEW")), -1) << "an empty value adds nothing";
    EXPECT_TRUE(thread->setEntry(LoString("NEW"), LoString("one")));
    EXPECT_TRUE(thread->setEntry(LoString("NEW"), LoString("two")));
    EXPECT_EQ(query(thread, "NEW"), "two");
    EXPECT_TRUE(thread->setEntry(LoString("NEW"), LoString("")));
    EXPECT_EQ(thread->findEntry(LoString("NEW")), -1);
    EXPECT_FALSE(thread->setEntry(LoString(""), LoString("x")));
    EXPECT_FALSE(thread->setEntryExpiry(LoString("NEW"), 5));
}

TEST_F(PumpThread, HandlersAreReplacedAndDeletedWithTheirEntries)
{
    TellwireThread* thread = start();
    std::atomic<int> deletions{0};
    EXPECT_TRUE(thread->setEntryHandler(LoString("Idle"), new CountingHandler(nullptr, &deletions)));
    EXPECT_EQ(query(thread, "Idle"), "Idle");
    EXPECT_TRUE(thread->setEntryHandler(LoString("Idle"), new CountingHandler(nullptr, &deletions)));
    EXPECT_EQ(deletions, 1);
    EXPECT_FALSE(thread->setEntryHandler(LoString(""), new CountingHandler(nullptr, &deletions)));
    EXPECT_EQ(deletions, 2) << "a refused handler is not leaked";
    thread->setEntry(LoString("Idle"), LoString(""));
    EXPECT_EQ(deletions, 3);
}

// An entry with an expiry of 1 second is gone after the first pass a
// second later, its handler with it.
TEST_F(PumpThread, ExpiredEntriesGoWithTheirHandlers)
{
    TellwireThread* thread = start();
    std::atomic<int> deletions{0};
    thread->setEntryHandler(LoString("LAUNCHPARAMS:x-1.0"), new CountingHandler(nullptr, &deletions));
    EXPECT_TRUE(thread->setEntryExpiry(LoString("LAUNCHPARAMS:x-1.0"), 1));
    thread->pumpOnce();
    EXPECT_NE(thread->findEntry(LoString("LAUNCHPARAMS:x-1.0")), -1);
    EXPECT_TRUE(TestFolders::eventually([&] { return deletions == 1; }, 5000));
    EXPECT_EQ(thread->findEntry(LoString("LAUNCHPARAMS:x-1.0")), -1);
    EXPECT_TRUE(thread->setEntryExpiry(LoString("STATUS"), 0));
}

// The host pumped 50 ms apart and then not for 600 ms: BUSY. While the
// average is still unknown: IDLE.
TEST_F(PumpThread, BusyWhenTheHostIsOverdue)
{
    TellwireThread* thread = start();
    FakeClock clock(1.6e12);
    thread->setPumpStatistics(0, fakeMs - 650);
    EXPECT_EQ(query(thread, "STATUS"), "IDLE");
    thread->setPumpStatistics(50, fakeMs - 500);
    EXPECT_EQ(query(thread, "STATUS"), "IDLE") << "ten times the average is not yet overdue";
    thread->setPumpStatistics(50, fakeMs - 600);
    EXPECT_EQ(query(thread, "STATUS"), "BUSY");
    thread->setEntry(LoString("STATUS"), LoString("PUMPING"));
    EXPECT_EQ(query(thread, "STATUS"), "PUMPING") << "PUMPING is never changed";
    thread->setEntry(LoString("STATUS"), LoString("IDLE"));
    EXPECT_EQ(query(thread, "STATUS"), "IDLE");
}

TEST_F(PumpThread, PumpStatistics)
{
    TellwireThread* thread = start();
    FakeClock clock(1.6e12);
    LoString status("STATUS"), pumping("PUMPING");
    thread->setEntry(status, pumping);
    EXPECT_EQ(thread->getAveragePumpInterval(), 0.0);
    EXPECT_EQ(thread->getLastPump(), fakeMs);

    // The first interval becomes the average; a later one is averaged in.
    // Updates at most 10 ms apart, and an interval of ten times the average
    // or more, leave the average alone.
    const struct {
        double average, since, after;
    } rows[] = {
        {0, 50, 50}, {40, 60, 50}, {40, 5, 40}, {40, 10, 40}, {40, 11, 25.5},
        {40, 399, 219.5}, {40, 400, 40}, {40, 500, 40},
    };
    for (const auto& row : rows) {
        thread->setPumpStatistics(row.average, fakeMs - row.since);
        thread->setEntry(status, pumping);
        EXPECT_EQ(thread->getAveragePumpInterval(), row.after) << row.average << " then " << row.since;
        EXPECT_EQ(thread->getLastPump(), fakeMs);
    }
}

TEST_F(PumpThread, IdleHandlerRunsOnlyWhileIdle)
{
    TellwireThread* thread = start();
    std::atomic<int> calls{0};
    auto* handler = new CountingHandler(&calls, nullptr);
    thread->setEntryHandler(LoString("Idle"), handler);
    thread->pumpOnce();
    EXPECT_GE(calls, 1);
    EXPECT_EQ(handler->lastKind, 7);
    thread->setEntry(LoString("STATUS"), LoString("PUMPING"));
    int before = calls.load();
    thread->pumpOnce();
    EXPECT_EQ(calls, before);
}

TEST_F(PumpThread, ThreadReport)
{
    TellwireThread* thread = start("app-1.0");
    thread->setPumpStatistics(20, nowMs() - 3);
    thread->setEntry(LoString("LATER"), LoString("soon"));
    thread->setEntryExpiry(LoString("LATER"), 30);
    LoString out;
    thread->writeThreadDiagnostics(out, "/p");
    std::string text = str(out);
    EXPECT_EQ(text.rfind("/p/thread;1;Thread;app-1.0#thread;\n/p/thread/avgpump;0;Avg. pump interval;20ms;\n"
                         "/p/thread/lastpump;0;Last pump;",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("/p/thread/ping;1;Ping;7;\n/p/thread/ping/ECHO_REQUEST;1;ECHO_REQUEST;ECHO_RESPONSE;\n"
                        "/p/thread/ping/ECHO_REQUEST/timeout;0;Timeout;undefined;\n"
                        "/p/thread/ping/ECHO_REQUEST/msghandler;0;Handler;undefined;\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("/p/thread/ping/MAIN/msghandler;0;Handler;installed;\n"), std::string::npos);
    size_t at = text.find("/p/thread/ping/LATER/timeout;0;Timeout;in ");
    ASSERT_NE(at, std::string::npos) << text;
    std::string rest = text.substr(at);
    EXPECT_TRUE(rest.find("secs at ") != std::string::npos) << rest;
    EXPECT_NE(rest.find(";;\n"), std::string::npos) << rest;

    // Every line reads back.
    LoString path, label, value;
    int flag = -1, lines = 0;
    const char* p = out.text();
    while (int n = LxObjects::TellwireUtils::parseDiagnosticsLine(p, path, label, value, flag)) {
        p += n;
        ++lines;
    }
    EXPECT_GT(lines, 10);
}

// A message that arrives wakes the pump at once rather than after its pass
// interval: with passes that only a wake can start, every ping is answered.
TEST_F(PumpThread, AnArrivingControlMessageWakesThePump)
{
    OnlyWakesStartPasses wakesOnly;
    start("app-1.0");
    LxObjects::InterAppStream asker(LoString("asker-1.0#ping"));
    ASSERT_TRUE(asker.isOpen());
    Message ping;
    ping.sender.assign("asker-1.0#ping");
    ping.target.assign("app-1.0#thread");
    ping.type.assign("ping");
    ping.addHeader("ECHO_REQUEST", "ECHO_REQUEST");
    for (int round = 0; round < 5; ++round) {
        ping.serialNumber = LxObjects::u32(100 + round);
        LoString text;
        ASSERT_TRUE(LxObjects::serializeMessageWithDigest(ping, text));
        // Let the pump settle into its wait first.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_TRUE(asker.send(ping.target, text));
        ASSERT_TRUE(asker.waitForMessage(INT_MAX));
        ASSERT_TRUE(asker.readOne());
        LoString answer;
        asker.takeReceived(answer);
        Message reply;
        LxObjects::parseMessage(reply, answer.text(), answer.length());
        EXPECT_EQ(reply.serialNumber, ping.serialNumber) << "answered with the request's number";
        EXPECT_EQ(str(reply.getHeader("ECHO_REQUEST")), "ECHO_RESPONSE");
    }
}

// The watch counts the messages that arrive; a folder that no pass looks
// into any more (its mailbox closed) stops counting, so the pump never
// spins on it.
TEST_F(PumpThread, FolderWatchCountsArrivals)
{
    std::string user = str(LxObjects::getUserId());
    LxObjects::Platform::Mailbox box;
    ASSERT_TRUE(box.create(user, "watched-1.0"));
    LxObjects::Platform::FolderWatch watch;
    ASSERT_TRUE(watch.watch(user, "watched-1.0"));
    EXPECT_FALSE(watch.watch(user, "nowhere-1.0")) << "no folder yet";
    watch.taken(user, "watched-1.0");
    EXPECT_EQ(watch.arrivals(user, "watched-1.0"), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(LxObjects::Platform::Mailbox::send(user, "watched-1.0", "text"));
    // Waits without a time limit: only the arrivals (then the wake) end them.
    watch.wait(INT_MAX);
    EXPECT_EQ(watch.arrivals(user, "watched-1.0"), 3);
    watch.beginPass();
    watch.taken(user, "watched-1.0");
    watch.endPass();
    EXPECT_EQ(watch.arrivals(user, "watched-1.0"), 2);
    watch.beginPass();
    watch.endPass();
    EXPECT_FALSE(watch.anyArrivals());
    LxObjects::TellwireUtils::Timer quiet;
    watch.wait(60);
    EXPECT_GE(quiet.elapsed(), 40.0);

    watch.wake();
    watch.wait(INT_MAX);
}

// The stop wakes the waiting pass: with passes that only a wake can start,
// the thread ends, and its mailbox is free again.
TEST_F(PumpThread, StopEndsTheThreadAtOnce)
{
    OnlyWakesStartPasses wakesOnly;
    TellwireThread* thread = start();
    const std::string mailbox = str(thread->getMailboxName());
    context = nullptr;
    LxObjects::setCurrentContext(nullptr);
    LxObjects::InterAppStream again{LoString(mailbox.c_str())};
    EXPECT_TRUE(again.isOpen());
}

// ---- the set-up ---------------------------------------------------------------------

class Setup : public PumpThread {
protected:
    void TearDown() override
    {
        LxObjects::setCurrentContext(nullptr);
        LxObjects::endSetupState();
        PumpThread::TearDown();
    }
};

TEST_F(Setup, SynchronousSetupMakesTheContextOnce)
{
    connector->install("solo-2.0");
    EXPECT_TRUE(LxObjects::setupSynchronously(LoString("solo")));
    TellwireContext* made = LxObjects::getCurrentContext();
    ASSERT_NE(made, nullptr);
    TellwireThread* thread = made->getPumpThread();
    EXPECT_TRUE(TestFolders::eventually([thread] { return !thread->getMailboxName().isEmpty(); }));
    EXPECT_EQ(str(thread->getMailboxName()), "solo-2.0#thread");
    std::string report = query(thread, "SETUPTIME");
    EXPECT_EQ(report.rfind("thread=", 0), 0u) << report;
    EXPECT_NE(report.find("ms, "), std::string::npos) << report;
    EXPECT_FALSE(LxObjects::setupSynchronously(LoString("solo"))) << "a set-up runs once";
    EXPECT_FALSE(LxObjects::startSetupThread(LoString("solo")));

    LxObjects::setCurrentContext(nullptr);
    LxObjects::endSetupState();
    EXPECT_TRUE(LxObjects::setupSynchronously(LoString("solo"))) << "after the end it runs again";
}

TEST_F(Setup, InvalidSpecifierMakesNoContext)
{
    EXPECT_FALSE(LxObjects::setupSynchronously(LoString("")));
    EXPECT_EQ(LxObjects::getCurrentContext(), nullptr);
}

TEST_F(Setup, SetupOnItsOwnThread)
{
    connector->install("solo-2.0");
    EXPECT_TRUE(LxObjects::startSetupThread(LoString("solo-2.0")));
    TellwireContext* made = LxObjects::getCurrentContext();  // waits for it
    ASSERT_NE(made, nullptr);
    EXPECT_FALSE(LxObjects::isSetupRunning());
    std::string report = query(made->getPumpThread(), "SETUPTIME");
    EXPECT_TRUE(report.find("lost=") != std::string::npos || report.find("left=") != std::string::npos)
        << report;
}

// A process launched with -instance 3 file.txt sets up as instance 3 of
// its application and keeps the whole text as its launch parameters.
TEST_F(Setup, LaunchParametersNameTheInstance)
{
    setenv("OBJECTS_PEER_SETUP", "app-1.0", 1);
    FILE* out = popen(TAVREL_OBJECTS_PEER " -instance 3 file.txt", "re");
    unsetenv("OBJECTS_PEER_SETUP");
    ASSERT_NE(out, nullptr);
    char line[256];
    std::string mailbox = std::fgets(line, sizeof line, out) ? line : "";
    std::string parameters = std::fgets(line, sizeof line, out) ? line : "";
    EXPECT_EQ(pclose(out), 0);
    EXPECT_EQ(mailbox, "app_3-1.0#thread\n");
    EXPECT_EQ(parameters, "-instance 3 file.txt\n");

    setenv("OBJECTS_PEER_SETUP", "app-1.0", 1);
    out = popen(TAVREL_OBJECTS_PEER " -specifier Other-2.0 -instance 3", "re");
    unsetenv("OBJECTS_PEER_SETUP");
    ASSERT_NE(out, nullptr);
    mailbox = std::fgets(line, sizeof line, out) ? line : "";
    pclose(out);
    EXPECT_EQ(mailbox, "other-2.0#thread\n") << "the first of the two words counts";
}

TEST_F(Setup, LaunchParametersAreTheArgumentsAfterTheProgram)
{
    LoString out("stale");
    EXPECT_TRUE(LxObjects::getLaunchParameters(out));
    // The test program runs with or without gtest's own arguments; either
    // way the program name is not among them.
    EXPECT_EQ(str(out).find("objects_tests"), std::string::npos) << str(out);
}

}  // namespace
