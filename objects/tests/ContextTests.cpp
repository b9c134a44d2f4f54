#include "objects/TellwireContext.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "objects/Message.h"
#include "objects/TellwireThread.h"
#include "objects/TellwireUtils.h"
#include "objects/tests/TestConnector.h"
#include "objects/tests/TestContext.h"

using LxObjects::LoString;
using LxObjects::TellwireContext;
using LxObjects::u32;
using Specifier = LxObjects::Tellwire::Specifier;
using TestConnectors::str;
using TestContexts::StandInEndpoint;

namespace {

class Contexts : public TestConnectors::InstalledApps {
protected:
    void SetUp() override
    {
        InstalledApps::SetUp();
        LxObjects::setCurrentContext(nullptr);
        LxObjects::TellwireData::deleteMessageGlobals();  // read from this connector
    }

    void TearDown() override
    {
        LxObjects::TellwireData::deleteMessageGlobals();
        InstalledApps::TearDown();
    }

    TellwireContext* fresh(const char* spec = "app-1.0")
    {
        TellwireContext* context = new TellwireContext(Specifier(spec, false));
        EXPECT_NE(context, nullptr);
        return context;
    }

    // The pump thread holds its mailbox once it runs.
    LxObjects::TellwireThread* running(TellwireContext* context)
    {
        LxObjects::TellwireThread* thread = context->getPumpThread();
        EXPECT_NE(thread, nullptr);
        EXPECT_TRUE(TestFolders::eventually([thread] { return !thread->getMailboxName().isEmpty(); }));
        return thread;
    }

    std::string specifierOf(TellwireContext* context)
    {
        LoString out("stale");
        context->getContextSpecifier(out);
        return str(out);
    }
};

// A new context goes on one past the last number handed out, so no number
// is handed out twice, whether the context ended or not.
TEST_F(Contexts, SerialNumbersContinueAcrossContexts)
{
    TellwireContext* first = fresh();
    u32 n = first->nextSerialNumber();
    EXPECT_EQ(first->nextSerialNumber(), n + 1);
    delete first;
    TellwireContext* second = fresh();
    EXPECT_EQ(second->nextSerialNumber(), n + 2);
    TellwireContext* third = fresh();
    EXPECT_EQ(third->nextSerialNumber(), n + 3);
    EXPECT_EQ(second->nextSerialNumber(), n + 3) << "each context counts on its own";
    delete second;
    delete third;
}

TEST_F(Contexts, SetCurrentContext)
{
    EXPECT_EQ(LxObjects::getCurrentContext(), nullptr);
    int deletions = 0;
    TellwireContext* context = fresh();
    context->addEndpoint(new StandInEndpoint("a", &deletions));
    LxObjects::setCurrentContext(context);
    EXPECT_EQ(LxObjects::getCurrentContext(), context);
    LxObjects::setCurrentContext(context);  // already current: nothing happens
    EXPECT_EQ(LxObjects::getCurrentContext(), context);
    EXPECT_EQ(context->getEndpointCount(), 1);
    LxObjects::setCurrentContext(nullptr);
    EXPECT_EQ(LxObjects::getCurrentContext(), nullptr);
    EXPECT_EQ(deletions, 1);
}

// A context that is deleted while current leaves none behind.
TEST_F(Contexts, DeletingTheCurrentContextLeavesNone)
{
    TellwireContext* context = fresh();
    LxObjects::setCurrentContext(context);
    delete context;
    EXPECT_EQ(LxObjects::getCurrentContext(), nullptr);
}

TEST_F(Contexts, MergeMovesEndpointsOnce)
{
    int deletions = 0;
    StandInEndpoint* a = new StandInEndpoint("a", &deletions);
    StandInEndpoint* b = new StandInEndpoint("b", &deletions);
    TellwireContext* into = fresh();
    TellwireContext* from = fresh();
    for (int i = 0; i < 5; ++i)
        from->nextSerialNumber();
    into->addEndpoint(b);
    from->addEndpoint(a);
    from->addEndpoint(b);
    from->setMainEndpoint(a);
    u32 larger = from->nextSerialNumber() + 1;

    LxObjects::mergeContext(into, from);
    ASSERT_EQ(into->getEndpointCount(), 2);
    EXPECT_EQ(into->getEndpoint(0), b);
    EXPECT_EQ(into->getEndpoint(1), a);
    EXPECT_EQ(into->getMainEndpoint(), a);
    EXPECT_EQ(into->nextSerialNumber(), larger);
    EXPECT_EQ(from->getEndpointCount(), 0);
    EXPECT_EQ(from->getMainEndpoint(), nullptr);
    delete from;
    EXPECT_EQ(deletions, 0) << "the moved endpoints belong to the other context";
    delete into;
    EXPECT_EQ(deletions, 2);
}

// A context made current while another is hands every endpoint over and
// numbers on from the larger count; each endpoint is deleted once.
TEST_F(Contexts, ReplacingTheCurrentContextHandsItsEndpointsOver)
{
    int deletions = 0;
    TellwireContext* old = fresh();
    StandInEndpoint* main = new StandInEndpoint("old-1.0", &deletions);
    old->addEndpoint(main);
    old->addEndpoint(new StandInEndpoint("other", &deletions));
    old->setMainEndpoint(main);
    LxObjects::setCurrentContext(old);
    u32 n = old->nextSerialNumber();

    TellwireContext* context = fresh();
    context->addEndpoint(new StandInEndpoint("new", &deletions));
    LxObjects::setCurrentContext(context);
    EXPECT_EQ(deletions, 0);
    EXPECT_EQ(LxObjects::getCurrentContext(), context);
    EXPECT_EQ(context->getEndpointCount(), 3);
    EXPECT_EQ(context->getMainEndpoint(), main);
    EXPECT_EQ(context->nextSerialNumber(), n + 1);
    EXPECT_EQ(specifierOf(context), "old-1.0");
    LxObjects::setCurrentContext(nullptr);
    EXPECT_EQ(deletions, 3);
}

TEST_F(Contexts, FindEndpointComparesExactly)
{
    TellwireContext* context = fresh();
    StandInEndpoint* first = new StandInEndpoint("app-1.0#main");
    StandInEndpoint* second = new StandInEndpoint("app-1.0#main");
    StandInEndpoint* other = new StandInEndpoint("App-1.0#Main");
    context->addEndpoint(first);
    context->addEndpoint(second);
    context->addEndpoint(other);
    EXPECT_EQ(context->findEndpoint(LoString("app-1.0#main")), first);
    EXPECT_EQ(context->findEndpoint(LoString("App-1.0#Main")), other);
    EXPECT_EQ(context->findEndpoint(LoString("app-1.0")), nullptr);
    EXPECT_EQ(context->findEndpoint(LoString("")), nullptr);

    EXPECT_EQ(context->getEndpoint(-1), nullptr);
    EXPECT_EQ(context->getEndpoint(3), nullptr);
    StandInEndpoint stray("stray");
    context->removeEndpoint(&stray);  // absent: nothing happens
    EXPECT_EQ(context->getEndpointCount(), 3);
    context->removeEndpoint(first);
    EXPECT_EQ(context->findEndpoint(LoString("app-1.0#main")), second);
    delete first;
    delete context;
}

TEST_F(Contexts, ContextSpecifier)
{
    connector->install("ed-5.0-en_us");
    TellwireContext* context = fresh("paint");
    running(context);
    StandInEndpoint* main = new StandInEndpoint("Paint_2-10.5-EN_US#Main");
    context->addEndpoint(main);
    context->setMainEndpoint(main);
    EXPECT_EQ(specifierOf(context), "paint_2-10.5-en_us");
    delete context;

    // Without a main endpoint the pump thread's mailbox names the context,
    // completed from the installed applications.
    context = fresh("ed");
    running(context);
    EXPECT_EQ(specifierOf(context), "ed-5.0-en_us");
    delete context;

    // A pump thread that found no mailbox names nothing.
    hold("ed#thread");
    for (int i = 1; i <= 8; ++i)
        hold(("ed_" + std::to_string(i) + "#thread").c_str());
    context = fresh("ed");
    EXPECT_TRUE(TestFolders::eventually([context] { return !context->getPumpThread()->isRunning(); }));
    EXPECT_EQ(specifierOf(context), "");
    delete context;
}

// A bare mailbox name is completed through the running test, which asks
// for the context's own specifier: that question must end.
TEST_F(Contexts, ContextSpecifierOfABareNameEnds)
{
    connector->install("ed-5.0-en_us");
    connector->install("ed-6.0-en_us");
    connector->groups = {"vandrel/1/ed-5.0"};
    TellwireContext* context = fresh("ed");
    running(context);
    LxObjects::setCurrentContext(context);
    LoString out;
    LxObjects::getCurrentContext()->getContextSpecifier(out);
    EXPECT_EQ(str(out).rfind("ed-", 0), 0u) << str(out);
}

TEST_F(Contexts, PumpThreadStartsAndStopsWithTheContext)
{
    TellwireContext* context = fresh("app-1.0");
    LxObjects::TellwireThread* thread = running(context);
    EXPECT_EQ(str(thread->getMailboxName()), "app-1.0#thread");
    LxObjects::setCurrentContext(context);
    EXPECT_EQ(LxObjects::getCurrentPumpThread(), thread);
    LxObjects::setCurrentContext(nullptr);
    EXPECT_EQ(LxObjects::getCurrentPumpThread(), nullptr);
    // The thread ended with its context and gave its mailbox up.
    LxObjects::InterAppStream again(LoString("app-1.0#thread"));
    EXPECT_TRUE(again.isOpen());
}

// Without a set-up nothing is waited for: every query answers at once, and
// none starts a set-up that a later query would wait for.
TEST_F(Contexts, WithoutAContextEveryQueryAnswersAtOnce)
{
    EXPECT_FALSE(LxObjects::isSetupRunning());
    EXPECT_EQ(LxObjects::getCurrentContext(), nullptr);
    EXPECT_EQ(LxObjects::getCurrentContext(), nullptr);
    EXPECT_EQ(LxObjects::getCurrentPumpThread(), nullptr);
    EXPECT_FALSE(LxObjects::isSetupRunning());
}

// ---- diagnostics --------------------------------------------------------------

std::string clockNow()
{
    char text[16];
    time_t t = time(nullptr);
    struct tm parts;
    strftime(text, sizeof text, "%H:%M:%S", localtime_r(&t, &parts));
    return text;
}

TEST_F(Contexts, DiagnosticsLines)
{
    connector->records.push_back(TestConnectors::record("app-10.5-en_us", "/opt/vandrel/app-10.5"));
    connector->groups = {"vandrel/10/app-10.5"};
    TellwireContext* context = TestContexts::useContext("APP-10.5-en_us#Main");
    // A host that pumped every 10 ms and then not for a second is busy; its
    // own status is read from its pump thread, not by a ping to itself.
    double lastPump = double(std::time(nullptr)) * 1000.0 - 1000.0;
    context->getPumpThread()->setPumpStatistics(10.0, lastPump);
    u32 next = context->nextSerialNumber() + 1;
    LoString out("kept\n");
    std::string before = clockNow();
    context->writeContextDiagnostics(out, "/root");
    std::string after = clockNow();
    std::string text = str(out);
    std::string now = text.substr(text.find("/now;0;Now;") + 11, 8);
    EXPECT_TRUE(now == before || now == after) << now;

    std::string expected = "kept\n"
                           "/root/context;1;Info;;\n"
                           "/root/context/name;0;Name;app-10.5-en_us;\n"
                           "/root/context/status;0;Status;BUSY;\n"
                           "/root/context/group;0;Group;vandrel;\n"
                           "/root/context/path;0;Path;/opt/vandrel/app-10.5;\n"
                           "/root/context/version;0;Version;2.0;\n"
                           "/root/context/build;0;Build;TV 1.0.0;\n"
                           "/root/context/nextsnr;0;Next serial number;" + std::to_string(next + 1) + ";\n"
                           "/root/context/logging;0;Logging:;OFF;\n"
                           "/root/context/now;0;Now;" + now + ";\n"
                           "/root/context/messages;1;Messages;;\n"
                           "/root/context/messages/version;0;Message Version;2.05;\n"
                           "/root/context/messages/authentication;0;Authentication;ON;\n"
                           "/root/context/messages/digest;0;Digest;ON;\n";
    EXPECT_EQ(text, expected);

    // Every line reads back.
    LoString path, label, value;
    int flag = -1, lines = 0;
    const char* p = out.text() + 5;
    while (int n = LxObjects::TellwireUtils::parseDiagnosticsLine(p, path, label, value, flag)) {
        p += n;
        ++lines;
    }
    EXPECT_EQ(lines, 14);
    EXPECT_EQ(*p, '\0');
}

// The "/nextsnr" line shows one more than the next number; the group line
// only appears with a group.
TEST_F(Contexts, DiagnosticsOfABareContext)
{
    TellwireContext* context = fresh("solo-2.0");
    running(context);
    u32 next = context->nextSerialNumber() + 1;
    LoString out;
    context->writeContextDiagnostics(out, "");
    std::string text = str(out);
    EXPECT_NE(text.find("/context/name;0;Name;solo-2.0;\n/context/status;0;Status;IDLE;\n"
                        "/context/path;0;Path;;\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("/group"), std::string::npos);
    EXPECT_NE(text.find("/context/nextsnr;0;Next serial number;" + std::to_string(next + 1) + ";\n"),
              std::string::npos);
    delete context;
}

TEST_F(Contexts, DiagnosticsFollowTheDigestSettings)
{
    TestConnectors::TWConnectorAppInfo own = TestConnectors::record("tester-1.0", "/opt/tester");
    own.messageAuthentication = false;
    connector->records.push_back(own);
    TellwireContext* context = fresh();
    LoString out;
    context->writeContextDiagnostics(out, "");
    EXPECT_NE(str(out).find("/context/messages/authentication;0;Authentication;OFF;\n"
                            "/context/messages/digest;0;Digest;ON;\n"),
              std::string::npos)
        << str(out);
    delete context;
}

}  // namespace
