// The facility's entry points: init and terminate, the host's pump,
// launching targets, status queries and the diagnostics report.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <unistd.h>

#include "objects/InterAppStream.h"
#include "objects/tests/EndpointFixtures.h"

using EndpointFixtures::Facility;
using EndpointFixtures::Message;
using EndpointFixtures::Recorder;
using LxObjects::LoString;
using LxObjects::Tellwire;
using ProductFixtures::str;
using TestPeers::TellwirePeer;

namespace {

class Facilities : public Facility {
protected:
    std::vector<std::string> reportedArguments()
    {
        std::vector<std::string> lines;
        if (!TestFolders::eventually([&] { return access(report.c_str(), F_OK) == 0; }))
            return {"(no report)"};
        std::string text = TestFolders::readFile(report);
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines.size() >= 4 ? std::vector<std::string>(lines.begin() + 4, lines.end()) : lines;
    }
};

TEST_F(Facilities, SecondInitFailsAndKeepsTheContext)
{
    open();
    LxObjects::TellwireContext* context = LxObjects::getCurrentContext();
    EXPECT_FALSE(LxObjects::tellwireInit(LoString("other-1.0"), true));
    EXPECT_EQ(LxObjects::getCurrentContext(), context);
    EXPECT_EQ(LxObjects::getMainEndpoint(nullptr), endpoint);
    LoString own;
    LxObjects::getOwnSpecifier(own);
    EXPECT_EQ(str(own), "tester-1.0");
}

TEST_F(Facilities, LaunchTargetRules)
{
    open();
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "peer-1.0"}), "ok");
    struct {
        std::string specifier;
        std::string parameters;
        bool result;
    } rows[] = {
        {"tester-1.0#main", "", false},            // the process itself
        {"peer-1.0", "", true},                    // running: nothing launched
        {"", "", false},                           // no specifier
        {"unknown-1.0", "", false},                // not installed
        {std::string(257, 'a'), "", false},        // too long
        {"rep-1.0", std::string(65537, 'p'), false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(LxObjects::launchTarget(r.specifier.c_str(), r.parameters.c_str(), false, nullptr), r.result)
            << r.specifier.substr(0, 20);
    LxObjects::TellwireThread* thread = LxObjects::getCurrentPumpThread();
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(str(thread->queryEntry(LoString("LAUNCHPARAMS:peer-1.0"))), "");
    EXPECT_EQ(access(report.c_str(), F_OK), -1);
}

TEST_F(Facilities, LaunchCommandLineAndNoParam)
{
    open();
    ASSERT_TRUE(LxObjects::launchTarget("rep_2-1.0", "file.txt", false, nullptr));
    EXPECT_EQ(reportedArguments(),
              (std::vector<std::string>{"-specifier", "rep_2-1.0", "-nostartupscreen", "-instance", "2", "file.txt"}));
    unlink(report.c_str());

    ASSERT_TRUE(LxObjects::launchTarget("rep-1.0", "-noparam file.txt", false, nullptr));
    EXPECT_EQ(reportedArguments(), std::vector<std::string>{});
    LxObjects::TellwireThread* thread = LxObjects::getCurrentPumpThread();
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(str(thread->queryEntry(LoString("LAUNCHPARAMS:rep-1.0"))),
              "-specifier rep-1.0 -nostartupscreen -noparam file.txt");
}

TEST_F(Facilities, StatusQueriesOfTheOwnProcessAndAPeer)
{
    open();
    LoString status;
    // The own status comes from the own pump thread, not by a ping: without a
    // ping mailbox a ping would answer "NOINTERAPPSTREAM".
    LxObjects::closePingStream();
    LxObjects::queryTarget(status, "tester-1.0", "STATUS", 2, nullptr);
    EXPECT_EQ(str(status), "IDLE");
    LxObjects::openPingStream(LoString("tester-1.0"));
    ASSERT_NE(LxObjects::findPingStream(), nullptr);

    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "peer-1.0#thread"}), "ok");
    ASSERT_EQ(peer.command({"answer", "peer-1.0#thread", "STATUS", "BUSY"}), "ok");
    LxObjects::queryTarget(status, "peer-1.0", "STATUS", 2, nullptr);
    EXPECT_EQ(str(status), "BUSY");
}

TEST_F(Facilities, DiagnosticsReportListsTheEndpoints)
{
    open();
    LoString lines;
    LxObjects::writeTellwireDiagnostics(lines, false);
    std::string text = str(lines);
    EXPECT_EQ(text.find("/tester-1.0/context;1;Info;;\n"), 0u) << text.substr(0, 200);
    EXPECT_NE(text.find("/tester-1.0/instances;1;Instances;1;\n"), std::string::npos);
    EXPECT_NE(text.find("/tester-1.0/instances/tester-1.0#main;1;tester-1.0#main;(main);\n"), std::string::npos);
    EXPECT_NE(text.find("/tester-1.0/instances/tester-1.0#main/handler/Tavrel;0;Tavrel;for all messages;\n"),
              std::string::npos);

    LoString readable;
    LxObjects::writeTellwireDiagnostics(readable, true);
    std::string r = str(readable);
    EXPECT_EQ(r.rfind("Tellwire Diagnostics\n----------------------\n", 0), 0u);
    EXPECT_EQ(r.substr(r.size() - 23), "----------------------\n");
    EXPECT_NE(r.find("\n\t\ttester-1.0#main: (main)\n"), std::string::npos) << r;
}

TEST_F(Facilities, MainEndpointMadeWithoutInitOwnsTheContext)
{
    std::vector<EndpointFixtures::Seen> log;
    Tellwire* made = new Tellwire("tester-1.0#main", new Recorder(&log), true, nullptr);
    LxObjects::TellwireContext* context = LxObjects::getCurrentContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->getMainEndpoint(), made);
    LoString lines;
    LxObjects::writeTellwireDiagnostics(lines, false);
    EXPECT_NE(str(lines).find(";tester-1.0#main;(main, init() hasn't been called);\n"), std::string::npos);
    delete made;
    EXPECT_EQ(LxObjects::getCurrentContext(), nullptr);
}

TEST_F(Facilities, PumpWithoutContextDoesNothing)
{
    EXPECT_FALSE(LxObjects::tellwirePump(LxObjects::kPumpAll, nullptr));
    EXPECT_FALSE(LxObjects::tellwireTerminate());
}

TEST_F(Facilities, TerminateWithMessagesInFlightAndInitAgain)
{
    open();
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "peer-1.0"}), "ok");
    // One queued for an application that never answers, one on its way in.
    Message* queued = message("mute-1.0", "Query", "1", "Result Timeout");
    EXPECT_FALSE(Tellwire::sendMessage(endpoint, *queued, true, 0, nullptr));
    ASSERT_EQ(peer.command({"tell", "peer-1.0", "tester-1.0#main", "type=Query", "request=Result"}), "ok");
    delete endpoint;
    endpoint = nullptr;
    EXPECT_TRUE(LxObjects::tellwireTerminate());
    EXPECT_EQ(LxObjects::getCurrentContext(), nullptr);

    seen.clear();
    open();
    Message* m = message("peer-1.0", "Query", "again", "Result");
    ASSERT_TRUE(Tellwire::sendMessage(endpoint, *m, false, 0, nullptr));
    TestPeers::Report got = peer.next("peer-1.0");
    // The message written before the end may arrive first.
    while (got.got && got.messages.size() == 1 && got.messages[0]["body"] != "again")
        got = peer.next("peer-1.0");
    ASSERT_EQ(got.messages.size(), 1u);
    ASSERT_EQ(peer.command({"reply", "peer-1.0", "Result", "back"}), "ok");
    ASSERT_TRUE(pumpUntil([&] { return find(Tellwire::kResult) != nullptr; }));
    EXPECT_EQ(find(Tellwire::kResult)->body, "back");
}

}  // namespace
