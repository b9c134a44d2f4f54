#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "MessageTestSupport.h"
#include "objects/MessageQueue.h"

using namespace MessageTestSupport;
using LxObjects::i64;
using LxObjects::u32;
using Message = LxObjects::Tellwire::Message;
using LxObjects::now;
using LxObjects::TellwireData::isExpired;
using LxObjects::TellwireData::MessageQueue;

namespace {

Message* queued(u32 serial, const char* type = "Query", i64 timeout = 0, i64 timestamp = 0,
                const char* request = "")
{
    Message* m = new Message;
    m->target.assign("app-1.0");
    m->sender.assign("tvtk");
    m->type.assign(type);
    m->serialNumber = serial;
    m->timeout = timeout;
    m->timestamp = timestamp ? timestamp : now();
    m->responseRequest.assign(request);
    m->body.assign("b");
    return m;
}

// A local time-out watcher as the endpoint plants it.
Message* watcher(u32 serial, i64 timeout = 60, i64 timestamp = 0)
{
    Message* m = queued(serial, "Ignore", timeout, timestamp, "Timeout");
    m->target.assign("tvtk");
    return m;
}

// The serial numbers in the queue, in order, read from its diagnostics.
std::vector<u32> serials(const MessageQueue& queue)
{
    // Room first: a text grows 128 bytes at a time.
    LoString out(std::string(size_t(queue.count()) * 1024, ' ').c_str());
    out.assign("", 0);
    queue.writeDiagnostics(out, LoString(""));
    queue.writeDiagnostics(out, LoString("/log"));
    std::vector<u32> list;
    std::string text = str(out);
    for (size_t at = 0; (at = text.find("/serialnumber;0;Serial-Number;", at)) != std::string::npos;) {
        at += 30;
        list.push_back(u32(std::stoul(text.substr(at))));
    }
    return list;
}

// Takes and deletes a message; its serial number, or 0 when none came.
u32 sweep(MessageQueue& queue)
{
    Message* m = queue.sweepQueue();
    u32 serial = m ? m->serialNumber : 0;
    delete m;
    return serial;
}

class Queue : public MessageFixture {
};

}  // namespace

TEST(MessageExpiry, TimeoutRunsFromTheTimestamp)
{
    const i64 t = 1700000000;
    struct {
        i64 timeout, timestamp;
        const char* type;
        bool expired;
    } cases[] = {
        {10, t - 10, "Query", true},
        {10, t - 9, "Query", false},
        {10, t - 100000, "Ignore", true},
        {0, t - 100000, "Query", false},
        {0, t, "Ignore", true},
        {0, 0, "Ignore", true},
        {-1, 1, "Query", false},
        {-1, 1, "Ignore", false},
        {10, 0, "Query", false},
        {10, -5, "Query", false},
        {1, LLONG_MAX, "Query", false},
        {LLONG_MAX, 1, "Query", false},
        {4294967295LL, t - 10, "Query", false},
        {1, 1, "Query", true},
    };
    for (const auto& c : cases) {
        Message m;
        m.timeout = c.timeout;
        m.timestamp = c.timestamp;
        m.type.assign(c.type);
        EXPECT_EQ(isExpired(m, t), c.expired) << c.timeout << " " << c.timestamp << " " << c.type;
    }
}

// The queue keeps each message's time-out as a point in time; at the edges
// (no timestamp, no time-out, sums past the largest time) it must expire
// exactly what the rule expires, in a pass and in a sweep alike.
TEST_F(Queue, ExpiresByTheRuleAtItsEdges)
{
    const i64 t = now();
    struct {
        i64 timeout, timestamp;
        const char* type;
    } cases[] = {
        {10, t - 10, "Query"}, {10, t - 5, "Query"},     {-1, 1, "Query"},          {-1, 1, "Ignore"},
        {10, -5, "Query"},     {1, LLONG_MAX, "Query"},  {LLONG_MAX, 1, "Query"},   {LLONG_MAX, 2, "Query"},
        {1, 1, "Query"},       {1, 1, "Ignore"},         {4294967295LL, t - 10, "Query"},
    };
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.timeout) + " " + std::to_string(c.timestamp) + " " + c.type;
        const bool expired = isExpired(*std::unique_ptr<Message>(queued(1, c.type, c.timeout, c.timestamp)), now());
        MessageQueue pass, swept;
        pass.enqueueMessage(queued(1, c.type, c.timeout, c.timestamp));
        pass.expireMessages();
        EXPECT_EQ(pass.count(), expired ? 0 : 1) << what;
        swept.enqueueMessage(queued(1, c.type, c.timeout, c.timestamp));
        const bool taken = sweep(swept) == 1;
        EXPECT_EQ(taken, !expired && std::string(c.type) != "Ignore") << what;
        EXPECT_EQ(swept.count(), expired || taken ? 0 : 1) << what;
    }
}

TEST_F(Queue, EnqueueCompletesTimeoutAndTimestamp)
{
    MessageQueue queue;
    EXPECT_FALSE(queue.enqueueMessage(nullptr));
    // A rejected message is freed (the leak check sees one that is not).
    Message* noTarget = queued(1);
    noTarget->target.assign("");
    EXPECT_FALSE(queue.enqueueMessage(noTarget));
    Message* noSender = queued(2);
    noSender->sender.assign("");
    EXPECT_FALSE(queue.enqueueMessage(noSender));
    EXPECT_TRUE(queue.isEmpty());

    Message* fresh = queued(3);
    fresh->timestamp = 0;
    i64 before = now();
    ASSERT_TRUE(queue.enqueueMessage(fresh));
    EXPECT_EQ(fresh->timeout, 600);
    EXPECT_GE(fresh->timestamp, before);

    Message* kept = queued(4, "Query", -1, 77);
    ASSERT_TRUE(queue.enqueueMessage(kept));
    EXPECT_EQ(kept->timeout, -1);
    EXPECT_EQ(kept->timestamp, 77);
    EXPECT_EQ(queue.count(), 2);
    EXPECT_FALSE(queue.isEmpty());
    EXPECT_EQ(serials(queue), (std::vector<u32>{3, 4}));
}

TEST_F(Queue, SweepTakesTheFirstDeliverableAndMovesWatchersToTheEnd)
{
    MessageQueue queue;
    queue.enqueueMessage(watcher(1));
    queue.enqueueMessage(queued(2));
    queue.enqueueMessage(watcher(3));
    queue.enqueueMessage(queued(4));

    EXPECT_EQ(sweep(queue), 2u);
    EXPECT_EQ(serials(queue), (std::vector<u32>{3, 4, 1}));
    EXPECT_EQ(sweep(queue), 4u);
    EXPECT_EQ(serials(queue), (std::vector<u32>{1, 3}));
    EXPECT_EQ(sweep(queue), 0u);  // only watchers are left, and they stay
    EXPECT_EQ(serials(queue), (std::vector<u32>{1, 3}));

    MessageQueue empty;
    EXPECT_EQ(empty.sweepQueue(), nullptr);
}

TEST_F(Queue, SweepDropsExpiredMessagesAndTellsTheirSenders)
{
    RecordingHooks hooks;
    MessageQueue queue;
    queue.enqueueMessage(queued(1, "Query", 5, now() - 5, "Result Timeout"));
    queue.enqueueMessage(queued(2, "Query", 5, now() - 60, "Result"));
    queue.enqueueMessage(queued(3));
    EXPECT_EQ(sweep(queue), 3u);
    EXPECT_TRUE(queue.isEmpty());
    ASSERT_EQ(hooks.sent.size(), 1u);  // only 1 asked for a time-out reply
    EXPECT_EQ(str(hooks.sent[0]->type), "Timeout");
    EXPECT_EQ(hooks.sent[0]->serialNumber, 1u);
    EXPECT_EQ(str(hooks.sent[0]->target), "tvtk");
}

TEST_F(Queue, ExpiryPassRemovesEveryExpiredMessage)
{
    RecordingHooks hooks;
    MessageQueue queue;
    i64 old = now() - 1000;
    queue.enqueueMessage(queued(1, "Query", 10, old, "Timeout"));
    queue.enqueueMessage(queued(2));
    queue.enqueueMessage(watcher(3, 10, old));
    queue.enqueueMessage(queued(4, "Query", -1, old, "Timeout"));
    queue.enqueueMessage(queued(5, "Debug", 10, old, "Result Timeout"));
    queue.enqueueMessage(queued(6, "Query", 10, old, "Result"));
    queue.expireMessages();
    EXPECT_EQ(serials(queue), (std::vector<u32>{2, 4}));
    // From the last to the first; 6 asked for no time-out reply.
    std::vector<std::string> replies;
    for (const auto& m : hooks.sent)
        replies.push_back(str(m->type) + " " + std::to_string(m->serialNumber) + " to " + str(m->target));
    EXPECT_EQ(replies, (std::vector<std::string>{"Timeout 5 to tvtk", "Timeout 3 to tvtk", "Timeout 1 to tvtk"}));
}

TEST_F(Queue, ReplyMayLandInTheQueueThatIsBeingSwept)
{
    RecordingHooks hooks;
    MessageQueue queue;
    hooks.loopback = &queue;
    i64 old = now() - 1000;
    queue.enqueueMessage(queued(1, "Query", 10, old, "Timeout"));
    queue.enqueueMessage(queued(2, "Query", 10, old, "Timeout"));
    queue.expireMessages();
    // The replies are new messages with the default timeout.
    EXPECT_EQ(serials(queue), (std::vector<u32>{2, 1}));

    queue.enqueueMessage(queued(3, "Query", 10, old, "Timeout"));
    EXPECT_EQ(sweep(queue), 2u);
    EXPECT_EQ(sweep(queue), 1u);
    EXPECT_EQ(sweep(queue), 3u);  // the reply to the expired 3
    EXPECT_TRUE(queue.isEmpty());
}

TEST_F(Queue, WithoutAContextExpiredMessagesAreDroppedQuietly)
{
    MessageQueue queue;
    queue.setName(LoString("/messages/app/app#x/in"));
    queue.enqueueMessage(queued(1, "Query", 10, now() - 1000, "Timeout"));
    queue.enqueueMessage(queued(2, "Query", 10, now() - 1000, "Timeout"));
    queue.expireMessages();
    EXPECT_TRUE(queue.isEmpty());
    queue.enqueueMessage(queued(3, "Query", 10, now() - 1000, "Timeout"));
    EXPECT_EQ(queue.sweepQueue(), nullptr);
    queue.enqueueMessage(queued(4, "Query", 0, 0, "Timeout"));
}

TEST_F(Queue, RemovesOnlyTheLocalWatchersOfASerialNumber)
{
    struct {
        const char* what;
        void (*change)(Message&);
        bool removed;
    } cases[] = {
        {"a watcher", [](Message&) {}, true},
        {"another serial", [](Message& m) { m.serialNumber = 8; }, false},
        {"no timeout", [](Message& m) { m.timeout = -1; }, false},
        {"another type", [](Message& m) { m.type.assign("Query"); }, false},
        {"more asked", [](Message& m) { m.responseRequest.assign("Timeout Result"); }, false},
        {"target is not the sender", [](Message& m) { m.target.assign("app"); }, false},
    };
    for (const auto& c : cases) {
        MessageQueue queue;
        queue.enqueueMessage(queued(7));
        Message* w = watcher(7);
        c.change(*w);
        queue.enqueueMessage(w);
        queue.enqueueMessage(watcher(7));
        EXPECT_FALSE(queue.removeLocalWatchers(7)) << c.what;
        EXPECT_EQ(queue.count(), c.removed ? 1 : 2) << c.what;
    }

    MessageQueue queue;
    queue.enqueueMessage(watcher(Message::kUnset));
    EXPECT_FALSE(queue.removeLocalWatchers(Message::kUnset));
    EXPECT_EQ(queue.count(), 1);
}

TEST_F(Queue, FindsTheFirstMessageToATarget)
{
    MessageQueue queue;
    Message* a = queued(1);
    a->target.assign("a");
    Message* b = queued(2);
    b->target.assign("b");
    Message* b2 = queued(3);
    b2->target.assign("b");
    queue.enqueueMessage(a);
    queue.enqueueMessage(b);
    queue.enqueueMessage(b2);
    EXPECT_EQ(queue.findMessageForTarget(LoString("b")), b);
    EXPECT_EQ(queue.findMessageForTarget(LoString("c")), nullptr);
    EXPECT_EQ(queue.findMessageForTarget(LoString("B")), nullptr);
    EXPECT_EQ(queue.count(), 3);
}

TEST_F(Queue, DestroyingTheQueueTellsEverySender)
{
    RecordingHooks hooks;
    {
        MessageQueue queue;
        queue.setName(LoString("/q"));
        queue.enqueueMessage(queued(1, "Query", 0, 0, "Timeout"));
        queue.enqueueMessage(queued(2, "Query", 0, 0, "Result"));
        queue.enqueueMessage(watcher(3));
    }
    std::vector<u32> told;
    for (const auto& m : hooks.sent)
        told.push_back(m->serialNumber);
    EXPECT_EQ(told, (std::vector<u32>{1, 3}));
}

TEST_F(Queue, NamedQueueWritesTheForwardingLog)
{
    RecordingHooks hooks;
    {
        MessageQueue queue;
        queue.setName(LoString("/messages/app/app#x/in"));
        EXPECT_EQ(str(queue.getName()), "/messages/app/app#x/in");
        queue.enqueueMessage(queued(3, "Query", 5, now() - 100, "Timeout"));
        queue.enqueueMessage(queued(4, "Debug", 5, now() - 100, "Timeout"));
        queue.enqueueMessage(queued(1));
        queue.enqueueMessage(queued(2, "Debug"));
        EXPECT_EQ(sweep(queue), 1u);
        EXPECT_EQ(sweep(queue), 2u);
    }
    EXPECT_EQ(hooks.forwardedWords(),
              (std::vector<std::string>{"added", "added", "timed out", "picked"}));
    for (const auto& m : hooks.forwarded)
        EXPECT_EQ(str(m->getHeader("MsgRoot")), "/messages/app/app#x/in");

    RecordingHooks quiet;
    MessageQueue unnamed;
    unnamed.enqueueMessage(queued(5));
    EXPECT_EQ(sweep(unnamed), 5u);
    EXPECT_TRUE(quiet.forwarded.empty());
}

TEST_F(Queue, DiagnosticsListLogsOrTheOthers)
{
    MessageQueue queue;
    queue.enqueueMessage(queued(1));
    queue.enqueueMessage(queued(2, "Log"));
    queue.enqueueMessage(queued(3, "Debug"));
    LoString others, logs;
    EXPECT_EQ(queue.writeDiagnostics(others, LoString("/p/in")), 2);
    EXPECT_EQ(queue.writeDiagnostics(logs, LoString("/logs")), 1);
    EXPECT_EQ(str(others).find("/p/in/msg1;1;msg["), 0u);
    EXPECT_NE(str(others).find("\n/p/in/msg3;1;msg["), std::string::npos);
    EXPECT_EQ(str(others).find("msg2"), std::string::npos);
    EXPECT_EQ(str(logs).find("/logs/msg2;1;msg["), 0u);
    LoString none;
    EXPECT_EQ(MessageQueue().writeDiagnostics(none, LoString("/x")), 0);
    EXPECT_TRUE(none.isEmpty());
}

TEST_F(Queue, EachMessageIsTakenByOneSweeperOnly)
{
    MessageQueue queue;
    const int perWriter = 2000;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 1; i <= perWriter; ++i) {
            queue.enqueueMessage(queued(u32(i)));
            if (i % 10 == 0)
                queue.enqueueMessage(watcher(u32(100000 + i)));
        }
        writing = false;
    });
    std::vector<std::vector<u32>> taken(3);
    std::vector<std::thread> sweepers;
    for (auto& mine : taken) {
        sweepers.emplace_back([&queue, &writing, &mine] {
            for (;;) {
                bool more = writing;
                Message* m = queue.sweepQueue();
                if (m) {
                    mine.push_back(m->serialNumber);
                    delete m;
                } else if (!more) {
                    break;
                }
            }
        });
    }
    writer.join();
    for (auto& t : sweepers)
        t.join();
    std::multiset<u32> all;
    for (const auto& mine : taken)
        all.insert(mine.begin(), mine.end());
    EXPECT_EQ(all.size(), size_t(perWriter));
    for (int i = 1; i <= perWriter; ++i)
        EXPECT_EQ(all.count(u32(i)), 1u) << i;
    EXPECT_EQ(queue.count(), perWriter / 10);  // the watchers stay
}

TEST_F(Queue, AMessageExpiresWhenItsTimeComesAfterTheQueueWasLastWalked)
{
    RecordingHooks hooks;
    MessageQueue queue;
    const i64 start = now();
    queue.enqueueMessage(queued(1, "Query", 600, start, "Timeout"));
    queue.enqueueMessage(watcher(2, 2, start - 1));
    queue.enqueueMessage(queued(3, "Query", 600, start, "Timeout"));
    // The watcher is due at start + 1: the sweep walks the queue before.
    EXPECT_EQ(sweep(queue), 1u);
    if (now() < start + 1) {
        EXPECT_EQ(queue.count(), 2);
    }
    while (now() < start + 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.expireMessages();
    EXPECT_EQ(serials(queue), (std::vector<u32>{3}));
    ASSERT_EQ(hooks.sent.size(), 1u);
    EXPECT_EQ(hooks.sent[0]->serialNumber, 2u);
    EXPECT_EQ(str(hooks.sent[0]->type), "Timeout");
}

TEST_F(Queue, AnExpiredMessageAddedToAWalkedQueueStillExpires)
{
    RecordingHooks hooks;
    MessageQueue queue;
    queue.enqueueMessage(queued(1, "Query", 600, 0, "Timeout"));
    queue.expireMessages();
    queue.enqueueMessage(queued(2, "Query", 10, now() - 100, "Timeout"));
    queue.enqueueMessage(watcher(3, -1));
    queue.expireMessages();
    EXPECT_EQ(serials(queue), (std::vector<u32>{1, 3}));
    ASSERT_EQ(hooks.sent.size(), 1u);
    EXPECT_EQ(hooks.sent[0]->serialNumber, 2u);
}

TEST_F(Queue, TargetsAreKnownWhileTheirMessagesWait)
{
    MessageQueue queue;
    const LoString a("a"), b("b");
    for (u32 serial : {1u, 2u, 3u}) {
        Message* m = serial == 2 ? watcher(serial) : queued(serial);
        m->target = serial == 1 ? a : b;
        m->sender = m->target;
        queue.enqueueMessage(m);
    }
    EXPECT_TRUE(queue.hasMessageForTarget(a));
    EXPECT_TRUE(queue.hasMessageForTarget(b));
    EXPECT_FALSE(queue.hasMessageForTarget(LoString("c")));
    EXPECT_EQ(sweep(queue), 1u);
    EXPECT_FALSE(queue.hasMessageForTarget(a));
    EXPECT_EQ(queue.findMessageForTarget(a), nullptr);
    EXPECT_EQ(sweep(queue), 3u);
    EXPECT_TRUE(queue.hasMessageForTarget(b));  // the watcher is still there
    EXPECT_EQ(queue.findMessageForTarget(b)->serialNumber, 2u);
    queue.removeLocalWatchers(2);
    EXPECT_FALSE(queue.hasMessageForTarget(b));
    EXPECT_TRUE(queue.isEmpty());
}

// The queue against its rules written out plainly on a vector: random
// additions (deliverable, local watcher, expired), sweeps, expiry passes and
// watcher removals.
TEST_F(Queue, AgreesWithThePlainRulesOverALongRandomRun)
{
    RecordingHooks hooks;
    MessageQueue queue;
    struct Plain {
        u32 serial;
        bool watcher, expired;
    };
    std::vector<Plain> plain;
    std::multiset<u32> expiredSerials;
    auto dropExpired = [&] {
        for (size_t i = plain.size(); i-- > 0;)
            if (plain[i].expired) {
                expiredSerials.insert(plain[i].serial);
                plain.erase(plain.begin() + std::ptrdiff_t(i));
            }
    };
    // Expired ones met on the way go, watchers passed move to the end.
    auto plainSweep = [&] {
        u32 taken = 0;
        size_t at = 0;
        while (!taken && at < plain.size()) {
            if (plain[at].expired) {
                expiredSerials.insert(plain[at].serial);
                plain.erase(plain.begin() + std::ptrdiff_t(at));
            } else if (plain[at].watcher) {
                ++at;
            } else {
                taken = plain[at].serial;
                plain.erase(plain.begin() + std::ptrdiff_t(at));
            }
        }
        std::rotate(plain.begin(), plain.begin() + std::ptrdiff_t(at), plain.end());
        return taken;
    };
    std::mt19937 random(41);
    const i64 old = now() - 1000;
    u32 next = 1;
    const int steps = 5000;
    for (int step = 0; step < steps; ++step) {
        const int what = int(random() % 10);
        if (what < 4) {
            const bool isWatcher = random() % 3 == 0, expired = random() % 8 == 0;
            const u32 serial = next++;
            Message* m = isWatcher ? watcher(serial, expired ? 10 : 600, expired ? old : 0)
                                   : queued(serial, "Query", expired ? 10 : 600, expired ? old : 0, "Timeout");
            queue.enqueueMessage(m);
            plain.push_back({serial, isWatcher, expired});
        } else if (what < 8) {
            ASSERT_EQ(sweep(queue), plainSweep()) << "step " << step;
        } else if (what < 9) {
            dropExpired();
            queue.expireMessages();
        } else if (next > 1) {
            const u32 serial = next - 1 - u32(random() % std::min(next - 1, 40u));
            // An expired watcher goes too, without a word.
            auto found = std::find_if(plain.begin(), plain.end(),
                                      [&](const Plain& p) { return p.serial == serial && p.watcher; });
            if (found != plain.end())
                plain.erase(found);
            queue.removeLocalWatchers(serial);
        }
        if (step % 250 == 0 || step == steps - 1) {
            dropExpired();
            queue.expireMessages();
            std::vector<u32> expected;
            for (const Plain& p : plain)
                expected.push_back(p.serial);
            ASSERT_EQ(serials(queue), expected) << "step " << step;
            ASSERT_EQ(queue.count(), int(plain.size()));
        }
    }
    std::multiset<u32> told;
    for (const auto& m : hooks.sent)
        told.insert(m->serialNumber);
    EXPECT_EQ(told, expiredSerials);
}
