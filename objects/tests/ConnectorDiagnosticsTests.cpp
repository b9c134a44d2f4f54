// The connector's part of the diagnostics report and its maintenance:
// merging, unregistering, refreshing, comparing and the legacy targets.
#include "objects/Connector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/InterAppStream.h"
#include "objects/PCDConnector.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireThread.h"
#include "objects/tests/TellwirePeer.h"
#include "objects/tests/TestConnector.h"
#include "objects/tests/TestContext.h"

using LxObjects::LoString;
using TestConnectors::record;
using TestConnectors::str;
using TestConnectors::TestConnector;

namespace {

// A connector of another kind that keeps what it is asked to register.
class OtherConnector : public TestConnector {
public:
    void getKind(LoString& out) override { out.assign("OTHER"); }
    bool addGroupEntry(const LoString& specifier, const LoString& group, const LoString* set) override
    {
        added.push_back(str(group) + "/" + (set ? str(*set) : "(none)") + "/" + str(specifier));
        return true;
    }
    bool removeGroupEntry(const LoString& specifier, const LoString&, const LoString*) override
    {
        removed.push_back(str(specifier));
        return acceptRemove;
    }
    bool registerRunningTarget(const LoString& specifier, const LoString& path, LxObjects::u32, bool,
                               bool) override
    {
        running.push_back(str(specifier) + " " + str(path));
        return true;
    }
    // Like the process's connector: whether the table holds the specifier.
    bool hasAppInfo(const TestConnectors::TWConnectorAppInfo& r) override
    {
        for (const auto& mine : records)
            if (str(mine.specifier) == str(r.specifier))
                return true;
        return false;
    }
    std::vector<std::string> added, removed, running;
    bool acceptRemove = true;
};

class ConnectorDiagnostics : public TestConnectors::InstalledApps {
protected:
    std::string report(const char* path = "/root")
    {
        LoString out("kept\n");
        connector->writeDiagnostics(out, LoString(path));
        return str(out);
    }
};

TEST_F(ConnectorDiagnostics, AnEmptyConnector)
{
    EXPECT_EQ(report(), "kept\n"
                        "/root/targets;1;Targets;0;\n"
                        "/root/targets/connector;0;Connector;TEST;\n"
                        "/root/targets/installed;1;Installed;0;\n"
                        "/root/targets/running;1;Running;0;\n"
                        "/root/targets/installed;1;Installed;0;\n"
                        "/root/targets/running;1;Running;0;\n"
                        "/root/targets/groups;0;Groups;(no groups defined);\n");
}

TEST_F(ConnectorDiagnostics, ATargetThatDoesNotRun)
{
    TestConnectors::TWConnectorAppInfo r = record("paint-10.5-en_us", "/opt/vandrel/paint.exe");
    r.displayName.assign("Paint");
    r.bundleIdentifier.assign("org.vandrel.paint");
    r.executableBasename.assign("paint");
    r.messageDigest = false;
    connector->records.push_back(r);
    connector->groups = {"vandrel/10/paint-10.5", "vandrel/10/viewer-2.0", "suite/2/b/paint-10.5", "flat"};
    std::string text = report("");
    std::string n = "/targets/installed/paint-10.5-en_us";
    EXPECT_NE(text.find("/targets;1;Targets;1;\n/targets/connector;0;Connector;TEST;\n"), std::string::npos);
    EXPECT_NE(text.find(n + ";1;paint-10.5-en_us;;\n" + n + "/group;0;Group;vandrel;\n" + n +
                        "/path;0;Path;/opt/vandrel/paint.exe;\n" + n + "/displayname;0;Display Name;Paint;\n" + n +
                        "/authentication;0;MsgAuthentication;ON;\n" + n + "/digest;0;MsgDigest;OFF;\n" + n +
                        "/tvtk;0;TVTK;OFF;\n" + n + "/bundleid;0;BundleID;org.vandrel.paint;\n" + n +
                        "/status;0;Status;(not running);\n" + n + "/exename;0;ExeName;paint.exe;\n"
                        "/targets/installed;1;Installed;1;\n/targets/running;1;Running;0;\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("/targets/groups;1;Groups;4;\n"
                        "/targets/groups/vandrel10;1;vandrel10;;paint-10.5;\n"
                        "/targets/groups/vandrel10/paint-10.5;0;paint-10.5;;\n"
                        "/targets/groups/vandrel10/viewer-2.0;0;viewer-2.0;;\n"
                        "/targets/groups/suite2b;1;suite2b;;paint-10.5;\n"
                        "/targets/groups/suite2b/paint-10.5;0;paint-10.5;;\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("flat"), std::string::npos);
}

// This process itself runs: its status and reports come from its own pump
// thread at once, not from a ping to itself that would wait for an answer.
TEST_F(ConnectorDiagnostics, ThisProcessReportsItselfDirectly)
{
    connector->records.push_back(record("me-1.0", "/opt/vandrel/me"));
    LxObjects::TellwireContext* context = TestContexts::useContext("me-1.0");
    LxObjects::TellwireThread* thread = context->getPumpThread();
    ASSERT_TRUE(TestFolders::eventually([thread] { return !thread->getMailboxName().isEmpty(); }));
    // With no ping mailbox before or after, a ping could only have answered
    // "NOINTERAPPSTREAM": what the report holds came from the thread itself.
    LxObjects::closePingStream();
    std::string text = report("");
    EXPECT_EQ(LxObjects::findPingStream(), nullptr);
    std::string n = "/targets/running/me-1.0";
    EXPECT_NE(text.find(n + ";1;me-1.0;IDLE;\n"), std::string::npos) << text;
    EXPECT_NE(text.find(n + "/status;0;Status;IDLE;\n/targets/running/me-1.0/context;1;Info;;\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("/targets/running/me-1.0/thread;1;Thread;me-1.0#thread;\n"), std::string::npos);
    EXPECT_EQ(text.find("/targets/running/me-1.0/context/name;"), std::string::npos) << "Name is left out";
    EXPECT_EQ(text.find("/targets/running/me-1.0/context/status;"), std::string::npos);
    EXPECT_NE(text.find("/targets/running;1;Running;1;\n"), std::string::npos);
}

// Another application (the peer, answering as a pump thread would) is
// asked for its status and reports.
TEST_F(ConnectorDiagnostics, ARunningTargetIsAsked)
{
    connector->records.push_back(record("other-2.0", "/opt/vandrel/other"));
    TestContexts::useContext("me-1.0");
    LxObjects::openPingStream(LoString("me-1.0"));
    TestPeers::TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "other-2.0#thread"}), "ok");
    ASSERT_EQ(peer.command({"answer", "other-2.0#thread", "STATUS", "BUSY"}), "ok");
    std::string text = report("");
    EXPECT_NE(text.find("/targets/running/other-2.0;1;other-2.0;BUSY;\n"), std::string::npos) << text;
    EXPECT_NE(text.find("/targets/running/other-2.0/status;0;Status;BUSY;\n"), std::string::npos) << text;
}

TEST_F(ConnectorDiagnostics, MergeTakesOverFromAnotherKind)
{
    TestConnector same;
    EXPECT_FALSE(connector->mergeFrom(same)) << "same kind: nothing happens";

    OtherConnector into;
    into.records.push_back(record("kept-1.0", "/opt/vandrel/kept"));
    connector->records = {record("kept-1.0", "/opt/vandrel/kept"), record("new-1.0", "/opt/vandrel/new")};
    connector->groups = {"vandrel/1/new-1.0", "vandrel//kept-1.0"};
    connector->resetTable();
    EXPECT_TRUE(into.mergeFrom(*connector));
    ASSERT_EQ(into.stored.size(), 1u);
    EXPECT_EQ(str(into.stored[0].specifier), "new-1.0");
    EXPECT_EQ(into.added, (std::vector<std::string>{"vandrel/1/new-1.0", "vandrel/(none)/kept-1.0"}));

    connector->groups = {"malformed"};
    connector->resetTable();
    EXPECT_FALSE(into.mergeFrom(*connector));
}

TEST_F(ConnectorDiagnostics, UnregisterAllAndRefresh)
{
    OtherConnector c;
    EXPECT_TRUE(c.unregisterAll()) << "an empty table";
    c.records = {record("a-1.0", "/opt/a"), record("b-1.0", "/opt/b")};
    c.groups = {"g/1/a-1.0"};
    c.acceptUnregister = true;
    EXPECT_TRUE(c.unregisterAll());
    EXPECT_EQ(c.unregistered, (std::vector<std::string>{"b-1.0", "a-1.0"})) << "last to first";
    EXPECT_EQ(c.removed, (std::vector<std::string>{"a-1.0"}));
    c.acceptUnregister = false;
    EXPECT_FALSE(c.unregisterAll());

    int fills = c.fills;
    EXPECT_TRUE(c.refresh(false));
    EXPECT_GT(c.fills, fills) << "the table was built again";
    c.failFill = true;
    EXPECT_FALSE(c.refresh(false));
}

TEST_F(ConnectorDiagnostics, TheProcessConnectorKeepsItsTable)
{
    LxObjects::PCDConnector pcd(LoString("tester-1.0"), true, 1);
    EXPECT_FALSE(pcd.refresh(false));
    EXPECT_FALSE(pcd.refresh(true));
}

TEST_F(ConnectorDiagnostics, EqualsAndValidate)
{
    connector->records = {record("a-1.0", "/opt/a"), record("b-1.0", "/opt/b")};
    connector->groups = {"g/1/a-1.0"};
    TestConnector other;
    EXPECT_FALSE(connector->equals(*connector)) << "no table built yet";
    connector->isTableAvailable();
    EXPECT_TRUE(connector->equals(*connector));
    EXPECT_TRUE(connector->validateConnector(*connector));

    other.records = connector->records;
    other.groups = connector->groups;
    other.isTableAvailable();
    EXPECT_TRUE(connector->equals(other));
    other.records[1].path.assign("/opt/elsewhere");
    other.resetTable();
    other.isTableAvailable();
    EXPECT_FALSE(connector->equals(other));
    EXPECT_FALSE(connector->validateConnector(other));

    TestConnector renamed("someone-2.0");
    renamed.records = connector->records;
    renamed.isTableAvailable();
    EXPECT_FALSE(connector->equals(renamed));
}

TEST_F(ConnectorDiagnostics, RunningLegacyTargetsAreRegistered)
{
    OtherConnector c;
    EXPECT_FALSE(c.registerRunningLegacyTargets());
    EXPECT_FALSE(connector->registerRunningLegacyTargets());
    hold("quillon-2.0#thread");
    EXPECT_TRUE(c.registerRunningLegacyTargets());
    EXPECT_EQ(c.running, (std::vector<std::string>{"quillon-2.0 (running)"}));
}

}  // namespace
