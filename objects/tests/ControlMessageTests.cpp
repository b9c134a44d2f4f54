// The pump thread's control messages, asked by a second process (the peer)
// as another application would ask them.
#include "objects/ControlMessages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "objects/Message.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireThread.h"
#include "objects/tests/TellwirePeer.h"
#include "objects/tests/TestConnector.h"
#include "objects/tests/TestContext.h"

using LxObjects::LoString;
using LxObjects::Tellwire;
using LxObjects::TellwireThread;
using TestConnectors::str;
using TestPeers::Received;
using TestPeers::Report;

namespace {

const char kAsker[] = "asker-1.0#ping";
const char kControl[] = "me-1.0#thread";

class ControlMessages : public TestConnectors::InstalledApps {
protected:
    void SetUp() override
    {
        InstalledApps::SetUp();
        context = TestContexts::useContext("me-1.0");
        thread = context->getPumpThread();
        ASSERT_TRUE(TestFolders::eventually([this] { return !thread->getMailboxName().isEmpty(); }));
        peer.reset(new TestPeers::TellwirePeer);
        ASSERT_TRUE(peer->ready());
        ASSERT_EQ(peer->command({"hold", kAsker}), "ok");
        // The answers are pings themselves; the peer answers pings the way
        // a pump thread would, so it is told to leave them be.
        for (const char* word : {"ECHO_RESPONSE", "IDLE", "BUSY", "PUMPING", "UNDEFINED", "SEE BODY", "LAUNCHED",
                                 "MAIN", "debugger-2.0", "debugger-3.0", "-instance 3 file.txt"})
            ASSERT_EQ(peer->command({"answer", kAsker, word, "-"}), "ok");
    }

    void TearDown() override
    {
        peer.reset();
        InstalledApps::TearDown();
    }

    // Sends a ping with the given fields and returns the one answer (an
    // empty message when none came within ms).
    Received ask(std::vector<std::string> fields, int ms = 5000)
    {
        std::vector<std::string> words = {"tell", kAsker, kControl, "type=ping", "serial=" + std::to_string(++serial)};
        words.insert(words.end(), fields.begin(), fields.end());
        EXPECT_EQ(peer->command(words), "ok");
        Report report = peer->next(kAsker, ms);
        if (!report.got || report.messages.size() != 1)
            return Received();
        return report.messages[0];
    }

    std::string answer(const std::string& query, int ms = 5000)
    {
        Received r = ask({"h.ECHO_REQUEST=" + query}, ms);
        return r.fields.count("h.ECHO_REQUEST") ? r["h.ECHO_REQUEST"] : "(none)";
    }

    LxObjects::TellwireContext* context = nullptr;
    TellwireThread* thread = nullptr;
    std::unique_ptr<TestPeers::TellwirePeer> peer;
    int serial = 4000;
};

TEST_F(ControlMessages, EchoIsAnsweredWithTheRequestsSerialNumber)
{
    Received r = ask({"h.ECHO_REQUEST=ECHO_REQUEST", "body=kept"});
    EXPECT_EQ(r["type"], "ping");
    EXPECT_EQ(r["h.ECHO_REQUEST"], "ECHO_RESPONSE");
    EXPECT_EQ(r["serial"], std::to_string(serial));
    EXPECT_EQ(r["sender"], kControl);
    EXPECT_EQ(r["target"], kAsker);
    EXPECT_EQ(r["body"], "kept");
}

TEST_F(ControlMessages, QueriesAnsweredFromTheEntries)
{
    EXPECT_EQ(answer("STATUS"), "IDLE");
    thread->setEntry(LoString("LAUNCHPARAMS"), LoString("-instance 3 file.txt"));
    EXPECT_EQ(answer("LAUNCHPARAMS"), "-instance 3 file.txt");
    EXPECT_EQ(answer("WHATEVER"), "UNDEFINED");
    EXPECT_EQ(answer("MAIN"), "MAIN") << "the MAIN entry never calls its own handler";
}

TEST_F(ControlMessages, StatusIsBusyWhileTheHostIsOverdue)
{
    thread->setEntry(LoString("STATUS"), LoString("PUMPING"));
    EXPECT_EQ(answer("STATUS"), "PUMPING");
    thread->setEntry(LoString("STATUS"), LoString("IDLE"));
    thread->setPumpStatistics(20, thread->getLastPump() - 1000);
    EXPECT_EQ(answer("STATUS"), "BUSY");
}

TEST_F(ControlMessages, ForwardersAreInstalledAndRemoved)
{
    Tellwire* main = context->getMainEndpoint();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(answer("FWDLOGS=debugger-2.0"), "debugger-2.0");
    Tellwire::MsgHandler* forwarder = Tellwire::findMsgHandler(main, "FWDLOGS", 0xFFFFFFFF);
    ASSERT_NE(forwarder, nullptr);
    LoString name;
    forwarder->getName(name);
    EXPECT_EQ(str(name), "FWDLOGS");
    EXPECT_EQ(str(thread->queryEntry(LoString("FWDLOGS"))), "debugger-2.0");
    EXPECT_EQ(answer("FWDLOGS"), "debugger-2.0");

    // A second request replaces the forwarder; an empty target removes it
    // and gets no answer.
    EXPECT_EQ(answer("FWDLOGS=debugger-3.0"), "debugger-3.0");
    EXPECT_EQ(answer("FWDLOGS=", 500), "(none)");
    EXPECT_EQ(Tellwire::findMsgHandler(main, "FWDLOGS", 0xFFFFFFFF), nullptr);
    EXPECT_EQ(thread->findEntry(LoString("FWDLOGS")), -1);
}

TEST_F(ControlMessages, OtherKeysChangeNothing)
{
    EXPECT_EQ(answer("STATUS=BUSY", 500), "(none)");
    EXPECT_EQ(answer("STATUS"), "IDLE");
    EXPECT_EQ(thread->findEntry(LoString("FWDMESSAGES")), -1);
}

// Without a main endpoint the target is still recorded and answered.
TEST_F(ControlMessages, ForwardingWithoutAMainEndpointOnlyRecords)
{
    context->setMainEndpoint(nullptr);
    EXPECT_EQ(answer("FWDERRORS=debugger-2.0"), "debugger-2.0");
    EXPECT_EQ(str(thread->queryEntry(LoString("FWDERRORS"))), "debugger-2.0");
}

TEST_F(ControlMessages, LaunchedDropsThePendingParameters)
{
    thread->setEntry(LoString("LAUNCHPARAMS:asker-1.0"), LoString("-specifier asker-1.0"));
    thread->setEntryExpiry(LoString("LAUNCHPARAMS:asker-1.0"), 300);
    EXPECT_EQ(answer("LAUNCHED"), "LAUNCHED");
    EXPECT_EQ(thread->findEntry(LoString("LAUNCHPARAMS:asker-1.0")), -1);
}

TEST_F(ControlMessages, InfoWritesTheTopicsAskedFor)
{
    Received r = ask({"h.ECHO_REQUEST=INFO", "body=thread,log"});
    EXPECT_EQ(r["h.ECHO_REQUEST"], "SEE BODY");
    std::string body = r["body"];
    EXPECT_EQ(body.rfind("/me-1.0;1;me-1.0;IDLE;\n/me-1.0/thread;1;Thread;me-1.0#thread;\n", 0), 0u) << body;
    size_t log = body.find("/log;1;Log;;\n/log/me-1.0;1;me-1.0;1;\n/log/me-1.0/me-1.0;1;me-1.0;(main);\n");
    EXPECT_NE(log, std::string::npos) << body;
    EXPECT_EQ(body.find("/context"), std::string::npos);
    EXPECT_EQ(body.find("/messages"), std::string::npos);
    EXPECT_EQ(body.find("/targets"), std::string::npos);

    // An empty body asks for everything but the log, in this order.
    body = ask({"h.ECHO_REQUEST=INFO"})["body"];
    size_t context = body.find("/me-1.0/context;1;Info;;\n");
    size_t threadAt = body.find("/me-1.0/thread;1;Thread;");
    size_t messages = body.find("/messages;1;Messages;;\n/messages/me-1.0;1;me-1.0;1;\n");
    size_t targets = body.find("/targets;1;Targets;0;\n");
    EXPECT_NE(context, std::string::npos) << body;
    EXPECT_LT(context, threadAt);
    EXPECT_LT(threadAt, messages);
    EXPECT_LT(messages, targets);
    EXPECT_NE(targets, std::string::npos) << body;
    EXPECT_EQ(body.find("/log;"), std::string::npos);
    EXPECT_NE(body.find("/me-1.0/context/status;0;Status;IDLE;\n"), std::string::npos) << body;
}

TEST_F(ControlMessages, DiagnosticsComeInTheBody)
{
    Received r = ask({"h.ECHO_REQUEST=DIAGNOSTICS", "body=ignored"});
    EXPECT_EQ(r["h.ECHO_REQUEST"], "SEE BODY");
    EXPECT_NE(r["body"].find("/me-1.0/thread;1;Thread;me-1.0#thread;\n"), std::string::npos) << r["body"];
    EXPECT_EQ(r["body"].find("ignored"), std::string::npos);
}

// "ECHO_RESPONSE" hands the message to the handler of that entry as an
// answer; nothing is sent back.
TEST_F(ControlMessages, ResponsesGoToTheEntrysHandler)
{
    struct Recorder : Tellwire::MsgHandler {
        explicit Recorder(std::atomic<int>* kind) : kind(kind) {}
        int handle(int k, Tellwire::Message&, LoString* reply) override
        {
            *kind = reply ? -k : k;
            return 0;
        }
        std::atomic<int>* kind;
    };
    std::atomic<int> kind{0};
    thread->setEntryHandler(LoString("WAITING"), new Recorder(&kind));
    EXPECT_EQ(peer->command({"tell", kAsker, kControl, "type=ping", "serial=9", "h.ECHO_RESPONSE=WAITING"}), "ok");
    EXPECT_TRUE(TestFolders::eventually([&] { return kind != 0; }, 5000));
    EXPECT_EQ(kind, 3);
    EXPECT_FALSE(peer->next(kAsker, 300).got);
}

// An answer never goes to another pump thread, which would answer it in
// turn: the two would ping each other for ever.
TEST_F(ControlMessages, NoAnswerToAnotherPumpThread)
{
    ASSERT_EQ(peer->command({"hold", "other-1.0#thread"}), "ok");
    EXPECT_EQ(peer->command({"tell", "other-1.0#thread", kControl, "type=ping", "h.ECHO_REQUEST=STATUS"}), "ok");
    EXPECT_FALSE(peer->next("other-1.0#thread", 400).got);
    EXPECT_EQ(answer("STATUS"), "IDLE");
}

TEST_F(ControlMessages, OtherTypesAndProbesAreNotAnswered)
{
    EXPECT_EQ(peer->command({"tell", kAsker, kControl, "type=Tavrel", "body=x", "h.ECHO_REQUEST=STATUS"}), "ok");
    EXPECT_EQ(peer->command({"tell", kAsker, kControl, "type=ping"}), "ok");
    EXPECT_FALSE(peer->next(kAsker, 400).got);
    EXPECT_EQ(answer("STATUS"), "IDLE") << "the pump goes on";
}

}  // namespace
