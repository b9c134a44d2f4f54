// The endpoint between two real processes (this one and the Tellwire peer)
// and between two endpoints of this process: the roads of a message out,
// the replies that come back, the time-out watcher and delivery.
#include <cstdint>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <new>
#include <string>
#include <thread>

#include "objects/platform/Mailbox.h"
#include "objects/tests/EndpointFixtures.h"

using EndpointFixtures::Facility;
using EndpointFixtures::Message;
using EndpointFixtures::Recorder;
using EndpointFixtures::Seen;
using LxObjects::LoString;
using LxObjects::Tellwire;
using LxObjects::u32;
using ProductFixtures::str;
using TestPeers::TellwirePeer;

namespace {

class Endpoint : public Facility {};

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TEST_F(Endpoint, DirectSendReachesThePeerAndRepliesAreDeliveredOnlyInThePump)
{
    open();
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "peer-1.0"}), "ok");

    Message* m = message("peer-1.0", "Query", "hi", "Received Result Error");
    ASSERT_TRUE(Tellwire::sendMessage(endpoint, *m, false, 0, nullptr));
    u32 serial = m->serialNumber;
    EXPECT_NE(serial, 0u);
    TestPeers::Report got = peer.next("peer-1.0");
    ASSERT_EQ(got.messages.size(), 1u);
    EXPECT_EQ(got.messages[0]["type"], "Query");
    EXPECT_EQ(got.messages[0]["body"], "hi");
    EXPECT_EQ(got.messages[0]["sender"], "tester-1.0#main");
    EXPECT_EQ(got.messages[0]["request"], "Received Result Error Processed");
    EXPECT_EQ(got.messages[0]["serial"], std::to_string(serial));
    EXPECT_EQ(got.messages[0]["digest"], "");

    // The replies wait in the queue until the host pumps.
    ASSERT_EQ(peer.command({"reply", "peer-1.0", "Received"}), "ok");
    ASSERT_EQ(peer.command({"reply", "peer-1.0", "Result", "answer"}), "ok");
    ASSERT_EQ(peer.command({"reply", "peer-1.0", "Error", "bad"}), "ok");
    EXPECT_TRUE(TestFolders::eventually([&] { return Tellwire::getIncomingCount(endpoint) >= 3; }));
    sleepMs(200);
    EXPECT_TRUE(seen.empty());

    ASSERT_TRUE(pumpUntil([&] { return seen.size() >= 3; }));
    struct {
        int kind;
        u32 Seen::*field;
        u32 value;
        const char* body;
    } rows[] = {
        {Tellwire::kReceived, &Seen::received, 2, ""},
        {Tellwire::kResult, &Seen::result, 3, "answer"},
        {Tellwire::kError, &Seen::error, 4, "bad"},
    };
    for (const auto& r : rows) {
        const Seen* s = find(r.kind);
        ASSERT_NE(s, nullptr) << r.kind;
        EXPECT_EQ(s->type, "Tavrel");
        EXPECT_EQ(s->serial, serial);
        EXPECT_EQ(s->*r.field, r.value);
        EXPECT_EQ(s->body, r.body);
        EXPECT_EQ(s->sender, "peer-1.0");
    }
}

TEST_F(Endpoint, IncomingMessageIsAcknowledgedByThePumpThreadAndDeliveredByTheHost)
{
    open();
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "peer-1.0"}), "ok");
    ASSERT_EQ(peer.command({"tell", "peer-1.0", "tester-1.0#main", "type=Query", "serial=77",
                            "request=Received Result", "body=question"}),
              "ok");
    recorder->replyText = "the answer";

    // The acknowledgement needs no host pump.
    TestPeers::Report ack = peer.next("peer-1.0");
    ASSERT_EQ(ack.messages.size(), 1u);
    EXPECT_EQ(ack.messages[0]["type"], "Received");
    EXPECT_EQ(ack.messages[0]["serial"], "77");
    EXPECT_TRUE(seen.empty());

    ASSERT_TRUE(pumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen[0].kind, Tellwire::kOther);
    EXPECT_EQ(seen[0].type, "Query");
    EXPECT_EQ(seen[0].body, "question");
    TestPeers::Report result = peer.next("peer-1.0");
    ASSERT_EQ(result.messages.size(), 1u);
    EXPECT_EQ(result.messages[0]["type"], "Result");
    EXPECT_EQ(result.messages[0]["serial"], "77");
    EXPECT_EQ(result.messages[0]["body"], "the answer");
}

// A handler that runs out of memory gets its answer too, and the pump goes on.
TEST_F(Endpoint, HandlerFailureAndExceptionBecomeErrorReplies)
{
    open();
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "peer-1.0"}), "ok");
    struct {
        std::exception_ptr throws;
        int answer;
        const char* body;
        const char* code;
    } rows[] = {
        {nullptr, 12, "it failed", "12"},
        {std::make_exception_ptr(1), 0, "Exception", "-29"},
        {std::make_exception_ptr(std::bad_alloc()), 0, "Out of memory", "-28"},
        {nullptr, 13, "after it", "13"},
    };
    u32 serial = 100;
    for (const auto& r : rows) {
        recorder->throws = r.throws;
        recorder->answer = r.answer;
        recorder->replyText = r.body;
        ASSERT_EQ(peer.command({"tell", "peer-1.0", "tester-1.0#main", "type=Tavrel", "body=x",
                                "serial=" + std::to_string(++serial), "request=Result Error"}),
                  "ok");
        TestPeers::Report error = peer.next("peer-1.0", 100);
        for (int i = 0; i < 100 && !error.got; ++i) {
            LxObjects::tellwirePump(LxObjects::kPumpAll, nullptr);
            error = peer.next("peer-1.0", 100);
        }
        ASSERT_EQ(error.messages.size(), 1u) << r.body;
        EXPECT_EQ(error.messages[0]["type"], "Error");
        EXPECT_EQ(error.messages[0]["serial"], std::to_string(serial));
        EXPECT_EQ(error.messages[0]["body"], r.body);
        EXPECT_EQ(error.messages[0]["h.Error-Code"], r.code);
    }
}

TEST_F(Endpoint, FailedRoadsGiveLocalErrorRepliesWithCode59)
{
    open();
    // A body at the mailbox limit: with its header lines the text is past it.
    const std::string huge(LxObjects::Platform::Mailbox::kMaxMessage, 'x');
    struct {
        const char* target;
        bool launch;
        const std::string* body;
        const char* reply;
    } rows[] = {
        {"", false, nullptr, "ERROR: INVALID SPECIFIER"},
        {"absent-1.0", false, nullptr, "ERROR: LAUNCHING IS SUPPRESSED"},
        // No mailbox ever takes it: refused at once, also where a launch may follow.
        {"absent-1.0", false, &huge, "ERROR: MESSAGE TOO LARGE"},
        {"app-1.0", true, &huge, "ERROR: MESSAGE TOO LARGE"},
    };
    for (const auto& r : rows) {
        seen.clear();
        Message* m = message(r.target, "Query", "x", "Error");
        if (r.body)
            m->body.assign(r.body->data(), int(r.body->size()));
        EXPECT_FALSE(Tellwire::sendMessage(endpoint, *m, r.launch, 0, nullptr));
        EXPECT_EQ(Tellwire::getOutgoingCount(endpoint), 0) << r.reply;
        ASSERT_TRUE(pumpUntil([&] { return !seen.empty(); }, 3000)) << r.reply;
        EXPECT_EQ(seen[0].kind, Tellwire::kError);
        EXPECT_EQ(seen[0].error, 4u);
        EXPECT_EQ(seen[0].serial, m->serialNumber);
        EXPECT_EQ(seen[0].body, r.reply);
        EXPECT_EQ(seen[0].errorCode, "59");
    }
    // Without "Error" in the request nothing comes back.
    seen.clear();
    Message* quiet = message("", "Query", "x", "Result");
    EXPECT_FALSE(Tellwire::sendMessage(endpoint, *quiet, false, 0, nullptr));
    pumpUntil([] { return false; }, 300);
    EXPECT_TRUE(seen.empty());
}

// A message that may not launch its target would overtake the ones queued
// while the target starts: refused, saying so.
TEST_F(Endpoint, ASendBehindQueuedMessagesSaysSo)
{
    open();
    Message* first = message("mute-1.0", "Query", "1", "Error");
    EXPECT_FALSE(Tellwire::sendMessage(endpoint, *first, true, 0, nullptr));  // queued
    Message* second = message("mute-1.0", "Query", "2", "Error");
    EXPECT_FALSE(Tellwire::sendMessage(endpoint, *second, false, 0, nullptr));
    ASSERT_TRUE(pumpUntil([&] { return !seen.empty(); }, 3000));
    EXPECT_EQ(seen[0].serial, second->serialNumber);
    EXPECT_EQ(seen[0].body, "ERROR: EARLIER MESSAGES TO THE TARGET ARE QUEUED");
    EXPECT_EQ(seen[0].errorCode, "59");
}

TEST_F(Endpoint, LaunchFailureGivesItsErrorReply)
{
    open();
    // Installed under a path that does not exist.
    TestFolders::writeFile(root + "/apps/mute/mute.exe", "", 0644);
    Message* m = message("mute-1.0", "Query", "x", "Error");
    EXPECT_FALSE(Tellwire::sendMessage(endpoint, *m, true, 0, nullptr));
    ASSERT_TRUE(pumpUntil([&] { return !seen.empty(); }, 3000));
    EXPECT_EQ(seen[0].body, "ERROR: TARGET COULD NOT BE LAUNCHED");
    EXPECT_EQ(seen[0].errorCode, "59");
    EXPECT_EQ(Tellwire::getOutgoingCount(endpoint), 0);
}

TEST_F(Endpoint, DirectSendThatGetsNoReplyTimesOutAfterTheWatchersTime)
{
    open();
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "peer-1.0"}), "ok");
    Message* m = message("peer-1.0", "Query", "x", "Result Timeout");
    m->timeout = 1;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Tellwire::sendMessage(endpoint, *m, false, 0, nullptr));
    ASSERT_TRUE(pumpUntil([&] { return find(Tellwire::kTimeout) != nullptr; }, 6000));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));  // two seconds on the seconds clock
    const Seen* s = find(Tellwire::kTimeout);
    EXPECT_EQ(s->serial, m->serialNumber);
    EXPECT_EQ(s->type, "Timeout");
    EXPECT_EQ(Tellwire::getIncomingCount(endpoint), 0);
}

TEST_F(Endpoint, ReplyRemovesTheWatcherAndAOneShotHandler)
{
    open();
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "peer-1.0"}), "ok");
    Message* m = message("peer-1.0", "Query", "x", "Result Timeout");
    m->serialNumber = 5000;
    std::vector<Seen> oneShot;
    bool gone = false;
    Recorder* resultHandler = new Recorder(&oneShot, "Result", 5000);
    resultHandler->deleted = &gone;
    EXPECT_EQ(Tellwire::addMsgHandler(endpoint, resultHandler), nullptr);
    ASSERT_TRUE(Tellwire::sendMessage(endpoint, *m, false, 0, nullptr));
    EXPECT_EQ(Tellwire::getIncomingCount(endpoint), 1);  // the watcher
    ASSERT_TRUE(peer.next("peer-1.0").got);
    ASSERT_EQ(peer.command({"reply", "peer-1.0", "Result", "done"}), "ok");
    ASSERT_TRUE(pumpUntil([&] { return !oneShot.empty(); }));
    EXPECT_EQ(oneShot[0].kind, Tellwire::kResult);
    EXPECT_EQ(oneShot[0].body, "done");
    EXPECT_TRUE(gone);
    EXPECT_TRUE(seen.empty());  // the handler for every message got nothing
    EXPECT_EQ(Tellwire::findMsgHandler(endpoint, "Result", 5000), nullptr);
    EXPECT_EQ(Tellwire::findMsgHandler(endpoint, "Tavrel", Tellwire::MsgHandler::kEveryMessage), recorder);
    EXPECT_EQ(Tellwire::getIncomingCount(endpoint), 0);
}

TEST_F(Endpoint, WatcherForATimeoutOfZeroWaitsSixtySeconds)
{
    open();
    Message* m = message("tester-1.0#main", "Query", "x", "Timeout");
    ASSERT_TRUE(Tellwire::sendMessage(endpoint, *m, false, 0, nullptr));
    LoString lines;
    Tellwire::writeDiagnostics(endpoint, lines, LoString(""));
    // The message itself and its watcher wait in the own queue.
    EXPECT_EQ(Tellwire::getIncomingCount(endpoint), 2);
    std::string text = str(lines);
    EXPECT_NE(text.find("/type;0;Type;Ignore;"), std::string::npos) << text;
}

// A timeout at the top of the range must not wrap the watcher's time negative
// (the watcher would never expire, and the sum is undefined behaviour).
TEST_F(Endpoint, WatcherForTheLargestTimeoutKeepsItsTime)
{
    open();
    Message* m = message("tester-1.0#main", "Query", "x", "Timeout");
    m->timeout = INT64_MAX;
    ASSERT_TRUE(Tellwire::sendMessage(endpoint, *m, false, 0, nullptr));
    EXPECT_EQ(Tellwire::getIncomingCount(endpoint), 2);
    Tellwire::processIncoming(endpoint, false);
    EXPECT_EQ(Tellwire::getIncomingCount(endpoint), 2);  // nothing expired
}

TEST_F(Endpoint, LocalSendAcknowledgesToTheSendersQueue)
{
    open();
    std::vector<Seen> otherSeen;
    Recorder* otherRecorder = new Recorder(&otherSeen);
    otherRecorder->replyText = "local answer";
    std::unique_ptr<Tellwire> other(new Tellwire("tester-1.0#other", otherRecorder, false, nullptr));
    ASSERT_TRUE(Tellwire::isWorking(other.get()));

    Message* m = message("tester-1.0#other", "Tavrel", "hello", "Received Result Timeout");
    ASSERT_TRUE(Tellwire::sendMessage(endpoint, *m, false, 0, nullptr));
    // The acknowledgement and the watcher on the sender's side, the message
    // on the target's.
    EXPECT_EQ(Tellwire::getIncomingCount(endpoint), 2);
    EXPECT_EQ(Tellwire::getIncomingCount(other.get()), 1);

    ASSERT_TRUE(pumpUntil([&] { return find(Tellwire::kResult) != nullptr; }));
    ASSERT_EQ(otherSeen.size(), 1u);
    EXPECT_EQ(otherSeen[0].kind, Tellwire::kNew);
    EXPECT_EQ(otherSeen[0].body, "hello");
    const Seen* ack = find(Tellwire::kReceived);
    ASSERT_NE(ack, nullptr);
    EXPECT_EQ(ack->serial, m->serialNumber);
    EXPECT_EQ(find(Tellwire::kResult)->body, "local answer");
    pumpUntil([] { return false; }, 300);
    EXPECT_EQ(Tellwire::getIncomingCount(endpoint), 0);  // the watcher went with the result
}

TEST_F(Endpoint, LaunchAndQueueStartsTheApplicationWithItsCommandLine)
{
    open();
    Message* m = message("app-1.0", "Query", "x", "Result");
    EXPECT_FALSE(Tellwire::sendMessage(endpoint, *m, true, 0, nullptr));  // queued
    LxObjects::TellwireThread* thread = LxObjects::getCurrentPumpThread();
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(str(thread->queryEntry(LoString("LAUNCHPARAMS:app-1.0"))), "-specifier app-1.0 -nostartupscreen");
    ASSERT_TRUE(pumpUntil([&] { return find(Tellwire::kResult) != nullptr; }, 20000));
    const Seen* s = find(Tellwire::kResult);
    EXPECT_EQ(s->body, "-specifier app-1.0 -nostartupscreen");
    EXPECT_EQ(s->serial, m->serialNumber);
    EXPECT_EQ(Tellwire::getOutgoingCount(endpoint), 0);
}

TEST_F(Endpoint, SendAndWaitReturnsOnceTheReplyCame)
{
    open();
    Message* m = message("app-1.0", "Query", "x", "Result");
    m->serialNumber = 4242;
    std::vector<Seen> waited;
    Tellwire::addMsgHandler(endpoint, new Recorder(&waited, "Result", 4242));
    EXPECT_TRUE(Tellwire::sendMessage(endpoint, *m, true, 20, nullptr));
    ASSERT_EQ(waited.size(), 1u);
    EXPECT_EQ(waited[0].body, "-specifier app-1.0 -nostartupscreen");
}

TEST_F(Endpoint, TwoMessagesToAnUnreachableTargetAreTriedOncePerPass)
{
    open();
    Message* first = message("mute-1.0", "Query", "1", "Timeout");
    Message* second = message("mute-1.0", "Query", "2", "Timeout");
    EXPECT_FALSE(Tellwire::sendMessage(endpoint, *first, true, 0, nullptr));
    EXPECT_FALSE(Tellwire::sendMessage(endpoint, *second, true, 0, nullptr));
    EXPECT_FALSE(Tellwire::sendQueued(endpoint));
    // Both stay queued (the pump thread may hold them for a moment), each
    // stamped with the time it was first requeued.
    EXPECT_TRUE(TestFolders::eventually([&] {
        LoString lines;
        Tellwire::writeDiagnostics(endpoint, lines, LoString(""));
        std::string text = str(lines);
        size_t first = text.find("/headers/QUEUESTAMP;0;QUEUESTAMP;");
        return Tellwire::getOutgoingCount(endpoint) == 2 && first != std::string::npos
               && text.find("/headers/QUEUESTAMP;0;QUEUESTAMP;", first + 1) != std::string::npos;
    }));
}

TEST_F(Endpoint, MalformedTextsFromAPeerAreDroppedWithoutGrowth)
{
    open();
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "peer-1.0"}), "ok");
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(peer.command({"send", "peer-1.0", "tester-1.0#main", "Type:Query\n\nno target or sender"}), "ok");
    pumpUntil([] { return false; }, 500);
    EXPECT_EQ(Tellwire::getIncomingCount(endpoint), 0);
    EXPECT_TRUE(seen.empty());
}

TEST_F(Endpoint, EndpointWithoutAMailboxDoesNotWork)
{
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "busy_3-1.0#main"}), "ok");
    ASSERT_TRUE(LxObjects::tellwireInit(LoString("tester-1.0"), true));
    std::unique_ptr<Tellwire> taken(new Tellwire("busy_3-1.0#main", nullptr, false, nullptr));
    EXPECT_FALSE(Tellwire::isWorking(taken.get()));
    LoString spec;
    Tellwire::getSpecifier(taken.get(), spec);
    EXPECT_EQ(str(spec), "");

    // Without an instance the next free one is taken.
    ASSERT_EQ(peer.command({"hold", "busy-1.0#main"}), "ok");
    std::unique_ptr<Tellwire> second(new Tellwire("busy-1.0#main", nullptr, false, nullptr));
    EXPECT_TRUE(Tellwire::isWorking(second.get()));
    Tellwire::getSpecifier(second.get(), spec);
    EXPECT_EQ(str(spec), "busy_1-1.0#main");
}

TEST_F(Endpoint, HandlerRegistryReplacesByNameAndId)
{
    open();
    std::vector<Seen> log;
    Recorder* forAll = new Recorder(&log, "Log");
    Recorder* forFive = new Recorder(&log, "Log", 5);
    EXPECT_EQ(Tellwire::addMsgHandler(endpoint, forAll), nullptr);
    EXPECT_EQ(Tellwire::addMsgHandler(endpoint, forFive), nullptr);
    EXPECT_EQ(Tellwire::addMsgHandler(endpoint, forFive), nullptr);  // already there
    EXPECT_EQ(Tellwire::findMsgHandler(endpoint, "Log", 5), forFive);
    EXPECT_EQ(Tellwire::findMsgHandler(endpoint, "Log", 6), forAll);
    EXPECT_EQ(Tellwire::findMsgHandler(endpoint, "", 5), forFive);
    Recorder* again = new Recorder(&log, "Log");
    EXPECT_EQ(Tellwire::addMsgHandler(endpoint, again), forAll);
    delete forAll;
    EXPECT_TRUE(Tellwire::removeMsgHandlersForSerial(endpoint, 5));
    EXPECT_FALSE(Tellwire::removeMsgHandlersForSerial(endpoint, 5));
    EXPECT_FALSE(Tellwire::removeMsgHandlersForSerial(endpoint, Tellwire::MsgHandler::kEveryMessage));
    EXPECT_EQ(Tellwire::removeMsgHandler(endpoint, "Log", Tellwire::MsgHandler::kEveryMessage), again);
    delete again;
}

// The pump thread and the host both read the mailbox: each text goes onto
// the queue before the next is read, so messages arrive in the order sent.
TEST_F(Endpoint, MessagesReadByThePumpThreadAndTheHostAtOnceKeepTheirOrder)
{
    open();
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "peer-1.0"}), "ok");
    constexpr int kMessages = 300;
    std::atomic<int> toldCount{-1};  // -1 while telling
    std::thread host([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (toldCount.load() < 0 || int(seen.size()) < toldCount.load()) {
            if (std::chrono::steady_clock::now() > end)
                return;
            if (!LxObjects::tellwirePump(LxObjects::kPumpIncoming, nullptr) && toldCount.load() >= 0)
                sleepMs(1);
        }
    });
    std::string told, delivered;
    int count = 0;
    for (int i = 0; i < kMessages; ++i, ++count) {
        const std::string body = std::to_string(i);
        if (peer.command({"tell", "peer-1.0", "tester-1.0#main", "type=Query", "serial=" + std::to_string(1000 + i),
                          "body=" + body})
            != "ok")
            break;
        told += body + " ";
    }
    toldCount.store(count);
    host.join();
    EXPECT_EQ(count, kMessages);
    for (const Seen& s : seen)
        delivered += s.body + " ";
    EXPECT_EQ(delivered, told);
}

}  // namespace
