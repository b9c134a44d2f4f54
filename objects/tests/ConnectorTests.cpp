#include "objects/Connector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

#include "objects/tests/TestConnector.h"

using LxObjects::LoString;
using LxObjects::TWConnectorAppInfo;
using LxObjects::TWConnectorAppInfoList;
using TestConnectors::InstalledApps;
using TestConnectors::record;
using TestConnectors::str;
using TestConnectors::TestConnector;

namespace {

TEST(ConnectorRecord, Defaults)
{
    TWConnectorAppInfo r;
    EXPECT_TRUE(r.specifier.isEmpty());
    EXPECT_TRUE(r.path.isEmpty());
    EXPECT_EQ(r.tellwireVersion, 2.0);
    EXPECT_FALSE(r.allowMultipleInstances);
    EXPECT_FALSE(r.isShellTool);
    EXPECT_FALSE(r.supportsTVTK);
    EXPECT_TRUE(r.messageAuthentication);
    EXPECT_TRUE(r.messageDigest);
    EXPECT_EQ(str(r.executableExtension), "exe");
    EXPECT_TRUE(r.omvDictionary.isEmpty());
    EXPECT_TRUE(r.redirectTo.isEmpty());
    EXPECT_EQ(r.processId, 0u);
}

TEST(ConnectorRecord, EqualityIgnoresTheProcessId)
{
    TWConnectorAppInfo a = record("app-1.0", "/opt/app");
    TWConnectorAppInfo b(a);
    b.processId = 77;
    EXPECT_TRUE(a == b);
    b.messageDigest = false;
    EXPECT_FALSE(a == b);
    b = a;
    b.redirectTo.assign("x");
    EXPECT_FALSE(a == b);
    b = a;
    b.tellwireVersion = 2.05;
    EXPECT_FALSE(a == b);
    // A version read from "nan" still equals itself.
    a.tellwireVersion = b.tellwireVersion = std::nan("");
    EXPECT_TRUE(a == b);
}

TEST(ConnectorList, FindExactThenLowerCaseWithoutInstance)
{
    TWConnectorAppInfoList list;
    EXPECT_TRUE(list.addIfNew(new TWConnectorAppInfo(record("app-1.0-en_us", "/a"))));
    EXPECT_TRUE(list.addIfNew(new TWConnectorAppInfo(record("app_2-1.0-en_us", "/b"))));
    EXPECT_FALSE(list.addIfNew(new TWConnectorAppInfo(record("app-1.0-en_us", "/a"))));
    EXPECT_FALSE(list.addIfNew(nullptr));
    EXPECT_EQ(list.count(), 2);

    struct Case {
        const char* given;
        const char* path;
        int index;
    } cases[] = {
        {"app-1.0-en_us", "/a", 0},
        {"App-1.0-EN_US", "/a", 0},
        {"app_7-1.0-en_us", "/a", 0},
        {"app_2-1.0-en_us", "/b", 1},
        {"APP_2-1.0-en_us", "/a", 0},  // lower-cased, the instance goes too
        {"app-1.0", nullptr, -1},
        {"", nullptr, -1},
    };
    for (const Case& c : cases) {
        int index = 99;
        TWConnectorAppInfo* found = list.find(LoString(c.given), &index);
        EXPECT_EQ(index, c.index) << c.given;
        if (c.path) {
            ASSERT_NE(found, nullptr) << c.given;
            EXPECT_EQ(str(found->path), c.path) << c.given;
        } else {
            EXPECT_EQ(found, nullptr) << c.given;
        }
    }
    // A text too long for a specifier finds nothing (not a record without one).
    list.addIfNew(new TWConnectorAppInfo(record("", "/empty")));
    int index;
    EXPECT_EQ(list.find(LoString(std::string(300, 'a').c_str()), &index), nullptr);

    TWConnectorAppInfo out = record("keep", "/keep");
    list.copyAt(5, out);
    list.copyAt(-1, out);
    EXPECT_EQ(str(out.specifier), "keep");
    list.copyAt(1, out);
    EXPECT_EQ(str(out.specifier), "app_2-1.0-en_us");
    list.clear();
    EXPECT_EQ(list.count(), 0);
}

TEST(ConnectorList, Redirects)
{
    TWConnectorAppInfoList list;
    auto add = [&](const char* specifier, const char* path, const char* to) {
        TWConnectorAppInfo r = record(specifier, path);
        r.redirectTo.assign(to);
        list.addIfNew(new TWConnectorAppInfo(r));
    };
    add("a", "", "b");
    add("b", "/b", "c");
    add("c", "/c", "");
    add("lost", "/lost", "nowhere");
    add("x", "/x", "y");  // x and y redirect to each other
    add("y", "/y", "x");
    add("self", "/self", "self");
    add("plain", "/plain", "");
    EXPECT_TRUE(list.resolveRedirects());

    // The loop between x and y ends where it comes back: the record met
    // again keeps its path, the other takes it.
    const char* expected[][2] = {{"a", "/c"},      {"b", "/c"}, {"c", "/c"},         {"lost", "/lost"},
                                 {"x", "/x"},      {"y", "/x"}, {"self", "/self"}, {"plain", "/plain"}};
    for (auto& e : expected) {
        int index;
        EXPECT_EQ(str(list.find(LoString(e[0]), &index)->path), e[1]) << e[0];
    }

    TWConnectorAppInfoList none;
    none.addIfNew(new TWConnectorAppInfo(record("plain", "/plain")));
    EXPECT_FALSE(none.resolveRedirects());
}

TEST(ConnectorGroups, SplitEntries)
{
    LxObjects::GroupEntry e;
    ASSERT_TRUE(LxObjects::splitGroupEntry(LoString("suite/10/app-10.*"), e));
    EXPECT_EQ(str(e.group), "suite");
    EXPECT_EQ(str(e.set), "10");
    EXPECT_EQ(str(e.member), "app-10.*");
    ASSERT_TRUE(LxObjects::splitGroupEntry(LoString("a/b/c/d"), e));
    EXPECT_EQ(str(e.set), "b/c");
    ASSERT_TRUE(LxObjects::splitGroupEntry(LoString("//"), e));
    EXPECT_EQ(str(e.member), "");
    EXPECT_FALSE(LxObjects::splitGroupEntry(LoString("suite/app"), e));
    EXPECT_FALSE(LxObjects::splitGroupEntry(LoString("suite"), e));
    EXPECT_FALSE(LxObjects::splitGroupEntry(LoString(""), e));
}

// ---- queries -------------------------------------------------------------------

class ConnectorQueries : public InstalledApps {
protected:
    void SetUp() override
    {
        InstalledApps::SetUp();
        TWConnectorAppInfo app = record("app-10.0-en_us", "/opt/vandrel/bin/Vandrel Paint.bin");
        app.supportsTVTK = true;
        app.isShellTool = true;
        app.messageAuthentication = false;
        app.messageDigest = false;
        app.bundleIdentifier.assign("com.tavrel.paint");
        app.executableBasename.assign("paint");
        app.executableExtension.assign("bin");
        app.omvDictionary.assign("paintdict");
        app.developerInstallPath.assign("/dev/paint");
        app.redirectTo.assign("");
        connector->records.push_back(app);
        TWConnectorAppInfo ed = record("ed-5.0", "noslash");
        connector->records.push_back(ed);
        TWConnectorAppInfo named = record("viewer-2.0", "/opt/viewer.app");
        named.displayName.assign("Tavrel Viewer");
        connector->records.push_back(named);
    }

    std::string get(void (LxObjects::TellwireConnector::*getter)(LoString&, const LoString&), const char* specifier)
    {
        LoString out("stale");
        (connector->*getter)(out, LoString(specifier));
        return str(out);
    }
};

TEST_F(ConnectorQueries, TableIsBuiltOnce)
{
    EXPECT_EQ(connector->fills, 0);
    EXPECT_TRUE(connector->isTableAvailable());
    EXPECT_EQ(connector->getApplicationCount(), 3);
    EXPECT_EQ(connector->getApplicationCount(), 3);
    EXPECT_EQ(connector->fills, 1);
    connector->resetTable();
    EXPECT_EQ(connector->fills, 1);
    EXPECT_EQ(connector->getApplicationCount(), 3);
    EXPECT_EQ(connector->fills, 2);
}

TEST_F(ConnectorQueries, ApplicationSpecifierByIndex)
{
    LoString out;
    connector->getApplicationSpecifier(out, 0);
    EXPECT_EQ(str(out), "app-10.0-en_us");
    connector->getApplicationSpecifier(out, 2);
    EXPECT_EQ(str(out), "viewer-2.0");
    connector->getApplicationSpecifier(out, 0xFFFFFFFFu);
    EXPECT_EQ(str(out), "tester-1.0");
    for (LxObjects::u32 index : {3u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu}) {
        connector->getApplicationSpecifier(out, index);
        EXPECT_EQ(str(out), "") << index;
    }
}

TEST_F(ConnectorQueries, FieldsOfAKnownApplication)
{
    using C = LxObjects::TellwireConnector;
    const char* specifier = "APP_4-10.0-en_us";  // upper case and an instance find it too
    EXPECT_EQ(get(&C::getApplicationPath, "app-10.0-en_us#main"), "/opt/vandrel/bin/Vandrel Paint.bin");
    EXPECT_EQ(get(&C::getBundleIdentifier, specifier), "com.tavrel.paint");
    EXPECT_EQ(get(&C::getExecutableBasename, specifier), "paint");
    EXPECT_EQ(get(&C::getExecutableExtension, specifier), "bin");
    EXPECT_EQ(get(&C::getOMVDictionary, specifier), "paintdict");
    EXPECT_EQ(get(&C::getDeveloperInstallPath, specifier), "/dev/paint");
    EXPECT_EQ(get(&C::getRedirectTo, specifier), "");
    EXPECT_TRUE(connector->isShellTool(LoString(specifier)));
    EXPECT_TRUE(connector->supportsTVTK(LoString("app-10.0")));  // normalised first
    EXPECT_FALSE(connector->usesMessageAuthentication(LoString(specifier)));
    EXPECT_FALSE(connector->usesMessageDigest(LoString(specifier)));
    EXPECT_EQ(get(&C::getOMVDictionary, "ed-5.0"), "none");
    EXPECT_EQ(get(&C::getExecutableExtension, "ed-5.0"), "exe");
}

TEST_F(ConnectorQueries, UnknownOrEmptySpecifiers)
{
    using C = LxObjects::TellwireConnector;
    for (const char* specifier : {"", "zed-1.0", "app-11.0-en_us"}) {
        EXPECT_EQ(get(&C::getApplicationPath, specifier), "") << specifier;
        EXPECT_EQ(get(&C::getBundleIdentifier, specifier), "") << specifier;
        EXPECT_EQ(get(&C::getExecutableBasename, specifier), "") << specifier;
        EXPECT_EQ(get(&C::getExecutableExtension, specifier), "") << specifier;
        EXPECT_EQ(get(&C::getOMVDictionary, specifier), "") << specifier;
        EXPECT_EQ(get(&C::getDeveloperInstallPath, specifier), "") << specifier;
        EXPECT_EQ(get(&C::getRedirectTo, specifier), "") << specifier;
        EXPECT_FALSE(connector->isShellTool(LoString(specifier))) << specifier;
        EXPECT_FALSE(connector->supportsTVTK(LoString(specifier))) << specifier;
        EXPECT_TRUE(connector->usesMessageAuthentication(LoString(specifier))) << specifier;
        EXPECT_TRUE(connector->usesMessageDigest(LoString(specifier))) << specifier;
        EXPECT_EQ(connector->getProcessId(LoString(specifier)), 0u) << specifier;
    }
}

TEST_F(ConnectorQueries, ProcessIds)
{
    EXPECT_FALSE(connector->setProcessId(LoString("APP-10.0-en_us"), 5));  // exact text only
    EXPECT_FALSE(connector->setProcessId(LoString(""), 5));
    EXPECT_TRUE(connector->setProcessId(LoString("app-10.0-en_us"), 5));
    EXPECT_EQ(connector->getProcessId(LoString("app_3-10.0-en_us")), 5u);
    connector->resetTable();  // a rebuild forgets them
    EXPECT_EQ(connector->getProcessId(LoString("app-10.0-en_us")), 0u);
}

TEST_F(ConnectorQueries, DisplayNames)
{
    LoString out("stale");
    connector->getDisplayName(out, "viewer", "2.0", "");
    EXPECT_EQ(str(out), "Tavrel Viewer");
    connector->getDisplayName(out, "app", "10.0", "EN_US");
    EXPECT_EQ(str(out), "Vandrel Paint");  // the file name up to its last '.'
    connector->getDisplayName(out, "app", "", "");
    EXPECT_EQ(str(out), "Vandrel Paint");  // completed from the table
    connector->getDisplayName(out, "ed", "5.0", "");
    EXPECT_EQ(str(out), "");  // no folder in the path
    connector->getDisplayName(out, "zed", "1.0", "");
    EXPECT_EQ(str(out), "");
    connector->getDisplayName(out, std::string(300, 'n').c_str(), "1.0", "");
    EXPECT_EQ(str(out), "");
}

TEST_F(ConnectorQueries, FailedBuildAnswersNothingUntilReset)
{
    connector->failFill = true;
    LoString out;
    EXPECT_FALSE(connector->isTableAvailable());
    EXPECT_EQ(connector->getApplicationCount(), 0);
    connector->getApplicationSpecifier(out, 0);
    EXPECT_EQ(str(out), "");
    connector->getApplicationPath(out, LoString("app-10.0-en_us"));
    EXPECT_EQ(str(out), "");
    EXPECT_TRUE(connector->usesMessageDigest(LoString("app-10.0-en_us")));
    EXPECT_FALSE(connector->setProcessId(LoString("app-10.0-en_us"), 5));
    EXPECT_FALSE(connector->registerAppInfo(record("new-1.0", "/opt/new")));
    EXPECT_EQ(connector->fills, 1);  // not retried

    connector->failFill = false;
    EXPECT_EQ(connector->getApplicationCount(), 0);
    connector->resetTable();
    EXPECT_EQ(connector->getApplicationCount(), 3);
    EXPECT_EQ(connector->fills, 2);
}

TEST_F(ConnectorQueries, FillThatThrowsGivesNoTable)
{
    connector->throwOnFill = true;
    EXPECT_FALSE(connector->isTableAvailable());
    EXPECT_EQ(connector->getApplicationCount(), 0);
}

TEST_F(ConnectorQueries, GlobalConnectorLifecycle)
{
    // One exists already: nothing is asked of the factory.
    EXPECT_TRUE(LxObjects::createGlobalConnector(LoString("other")));
    EXPECT_EQ(LxObjects::getGlobalConnector(), connector);
    EXPECT_TRUE(LxObjects::destroyGlobalConnector());
    EXPECT_EQ(LxObjects::getGlobalConnector(), nullptr);
    LxObjects::setConnectorFactory(nullptr);
    EXPECT_TRUE(LxObjects::createGlobalConnector(LoString("other")));
    EXPECT_EQ(LxObjects::getGlobalConnector(), nullptr);
}

// ---- registration -----------------------------------------------------------

class Registration : public ConnectorQueries {
protected:
    void SetUp() override
    {
        ConnectorQueries::SetUp();
        tools = root + "/tools";
        mkdir(tools.c_str(), 0700);
    }

    TWConnectorAppInfo tool(const std::string& path)
    {
        TWConnectorAppInfo r = record("tool-1.0", path.c_str());
        r.isShellTool = true;
        return r;
    }

    std::string pathOf(const char* specifier)
    {
        LoString out;
        connector->getApplicationPath(out, LoString(specifier));
        return str(out);
    }

    std::string tools;
};

TEST_F(Registration, IncompleteRecordsAreRefused)
{
    EXPECT_FALSE(connector->registerAppInfo(record("", "/opt/x")));
    EXPECT_FALSE(connector->registerAppInfo(record("x-1.0", "")));
    EXPECT_TRUE(connector->stored.empty());
}

TEST_F(Registration, NewRecordEntersTheTable)
{
    EXPECT_TRUE(connector->registerAppInfo(record("new-1.0", "/opt/morvane/New Tool.run")));
    EXPECT_EQ(connector->getApplicationCount(), 4);
    ASSERT_EQ(connector->stored.size(), 1u);
    EXPECT_EQ(str(connector->stored[0].displayName), "New Tool");
    LoString out;
    connector->getDisplayName(out, "new", "1.0", "");
    EXPECT_EQ(str(out), "New Tool");

    // The same specifier and path again: nothing changes.
    EXPECT_FALSE(connector->registerAppInfo(record("new-1.0", "/opt/morvane/New Tool.run")));
    // Another path needs the old one unregistered, which the base refuses.
    EXPECT_FALSE(connector->registerAppInfo(record("new-1.0", "/opt/other")));
    EXPECT_EQ(connector->getApplicationCount(), 4);
    EXPECT_EQ(connector->stored.size(), 1u);
}

TEST_F(Registration, RefusedByTheStore)
{
    connector->acceptStore = false;
    EXPECT_FALSE(connector->registerAppInfo(record("new-1.0", "/opt/new")));
    EXPECT_EQ(connector->getApplicationCount(), 3);
}

// When the old record may go but an equal one is listed further on, the
// table is read again.
TEST_F(Registration, EqualRecordResetsTheTable)
{
    connector->records.push_back(record("dup-1.0", "/a"));
    connector->records.push_back(record("dup-1.0", "/b"));
    connector->records.back().displayName.assign("b");  // as registration names it
    connector->acceptUnregister = true;
    EXPECT_TRUE(connector->registerAppInfo(record("dup-1.0", "/b")));
    ASSERT_EQ(connector->unregistered.size(), 1u);
    EXPECT_EQ(connector->unregistered[0], "dup-1.0");
    EXPECT_EQ(connector->fills, 1);
    EXPECT_EQ(connector->getApplicationCount(), 5);
    EXPECT_EQ(connector->fills, 2);
}

TEST_F(Registration, ShellToolGetsAWrapperScript)
{
    std::string program = tools + "/x.exe";
    EXPECT_TRUE(connector->registerAppInfo(tool(program)));
    std::string wrapper = tools + "/x.sh";
    EXPECT_EQ(pathOf("tool-1.0"), wrapper);
    EXPECT_EQ(TestFolders::readFile(wrapper), "#!/bin/sh\nexec \"" + program + "\" \"$@\"\n");
    EXPECT_EQ(TestFolders::modeOf(wrapper), 0755u);
    EXPECT_EQ(str(connector->stored[0].displayName), "x");
}

TEST_F(Registration, WrapperNameWithoutExtension)
{
    EXPECT_TRUE(connector->registerAppInfo(tool(tools + "/x")));
    EXPECT_EQ(pathOf("tool-1.0"), tools + "/x.sh");
    connector->records.clear();
    connector->resetTable();
    EXPECT_TRUE(connector->registerAppInfo(tool(tools + "/run.py")));  // ".py" is no four-byte ending
    EXPECT_EQ(pathOf("tool-1.0"), tools + "/run.py.sh");
}

TEST_F(Registration, ExistingFileIsNeverWrittenOver)
{
    std::string wrapper = tools + "/x.sh";
    TestFolders::writeFile(wrapper, "mine\n");
    EXPECT_TRUE(connector->registerAppInfo(tool(tools + "/x.exe")));
    EXPECT_EQ(TestFolders::readFile(wrapper), "mine\n");
    EXPECT_EQ(pathOf("tool-1.0"), tools + "/x.exe");  // the path stays
}

TEST_F(Registration, UnwritableFolderKeepsThePath)
{
    std::string program = root + "/missing/x.exe";
    EXPECT_TRUE(connector->registerAppInfo(tool(program)));
    EXPECT_EQ(pathOf("tool-1.0"), program);
}

// Quotes, dollars, backquotes and backslashes in the path reach the
// program as they are instead of being read by the shell.
TEST_F(Registration, WrapperRunsTheToolWithHostileCharacters)
{
    std::string program = tools + "/we\"ird $HOME `id` \\n 'q'.exe";
    std::string out = tools + "/out.txt";
    TestFolders::writeFile(program, "#!/bin/sh\nprintf '%s|' \"$@\" > '" + out + "'\n", 0755);
    ASSERT_TRUE(connector->registerAppInfo(tool(program)));
    std::string wrapper = pathOf("tool-1.0");
    ASSERT_NE(wrapper, program);
    std::string quoted = "'";
    for (char c : wrapper)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    std::string command = quoted + "' 'a b' '$c'";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(TestFolders::readFile(out), "a b|$c|");
}

}  // namespace
