// Launching applications of the table and bringing them to the front.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "objects/tests/ProductFixtures.h"

using LxObjects::LoString;
using LxObjects::TWConnectorAppInfo;
using ProductFixtures::data;
using ProductFixtures::escaped;
using ProductFixtures::installer;
using ProductFixtures::product;
using ProductFixtures::ScannedConnector;
using ProductFixtures::str;

namespace {

struct Report {
    std::string tag;
    unsigned pid = 0;
    std::string folder;
    std::vector<std::string> arguments;
};

std::string realFolder(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

class Launching : public ProductFixtures::ProductFolders {
protected:
    void SetUp() override
    {
        ProductFolders::SetUp();
        appFolder = root + "/Program Files/Vandrel App";
        program = appFolder + "/app.exe";
        report = root + "/report.txt";
        ProductFixtures::writeReportingProgram(program, report, "installed");
        std::string config = appFolder + "/Config/app.xml";
        writeConfig(config, product("/morvane/tellwire/app-1.0", data("ExecutableBasename", "app")) +
                                product("/morvane/tellwire/quoted-1.0",
                                        data("Path", escaped(root + "/Say \"hi\"/app.exe"))) +
                                installer("{A}", config, "/morvane/tellwire/app-1.0"));
        writeList({{config, escaped(program)}});
        connector.reset(new ScannedConnector);
    }

    void TearDown() override
    {
        connector.reset();
        ProductFolders::TearDown();
    }

    bool launch(const char* specifier, const char* arguments = "")
    {
        unlink(report.c_str());
        return connector->launchApplication(LoString(specifier), LoString(arguments), true);
    }

    Report waitForReport()
    {
        Report r;
        EXPECT_TRUE(TestFolders::eventually([&] { return access(report.c_str(), F_OK) == 0; }));
        std::string text = TestFolders::readFile(report);
        std::vector<std::string> lines;
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        if (lines.size() < 4) {
            ADD_FAILURE() << "report: " << text;
            return r;
        }
        r.tag = lines[0];
        r.pid = unsigned(std::strtoul(lines[1].c_str(), nullptr, 10));
        r.folder = lines[2];
        r.arguments.assign(lines.begin() + 4, lines.end());
        EXPECT_EQ(std::to_string(r.arguments.size()), lines[3]);
        return r;
    }

    unsigned pidOf(const char* specifier) { return connector->getProcessId(LoString(specifier)); }

    std::string appFolder, program, report;
    std::unique_ptr<ScannedConnector> connector;
};

TEST_F(Launching, StartsTheProgramWithItsCommandLineInItsFolder)
{
    ASSERT_TRUE(launch("app-1.0", "-specifier app-1.0 -nostartupscreen -instance 2 \"two words\" plain \"\""));
    Report r = waitForReport();
    EXPECT_EQ(r.tag, "installed");
    EXPECT_EQ(r.folder, realFolder(appFolder));
    EXPECT_EQ(r.arguments, (std::vector<std::string>{"-specifier", "app-1.0", "-nostartupscreen", "-instance", "2",
                                                     "two words", "plain", ""}));
    EXPECT_NE(r.pid, 0u);
    EXPECT_EQ(pidOf("app-1.0"), r.pid);
}

TEST_F(Launching, EmptyArgumentsPassNone)
{
    ASSERT_TRUE(launch("app-1.0"));
    EXPECT_TRUE(waitForReport().arguments.empty());
}

// A debug message names its target with the engine part; the record is the
// application's own.
TEST_F(Launching, TargetWithAnEnginePartStartsItsApplication)
{
    ASSERT_TRUE(launch("app-1.0#tvtk", "-specifier app-1.0#tvtk -nostartupscreen"));
    Report r = waitForReport();
    EXPECT_EQ(r.tag, "installed");
    EXPECT_EQ(r.arguments, (std::vector<std::string>{"-specifier", "app-1.0#tvtk", "-nostartupscreen"}));
}

TEST_F(Launching, UnknownApplicationStartsNothing)
{
    EXPECT_FALSE(launch("other-1.0"));
    EXPECT_FALSE(launch(""));
    usleep(100000);
    EXPECT_NE(access(report.c_str(), F_OK), 0);
}

TEST_F(Launching, DeveloperShortcutTakesThePlaceOfTheProgram)
{
    std::string developer = root + "/build/Debug/app-dev.exe";
    ProductFixtures::writeReportingProgram(developer, report, "developer");
    ASSERT_EQ(symlink(developer.c_str(), (appFolder + "/DeveloperApp.lnk").c_str()), 0);
    ASSERT_TRUE(launch("app-1.0", "-x"));
    Report r = waitForReport();
    EXPECT_EQ(r.tag, "developer");
    EXPECT_EQ(r.folder, realFolder(root + "/build/Debug"));
    EXPECT_EQ(r.arguments, std::vector<std::string>{"-x"});
    EXPECT_EQ(pidOf("app-1.0"), r.pid);
}

TEST_F(Launching, ShortcutWithoutTargetKeepsTheProgram)
{
    ASSERT_EQ(symlink((root + "/gone.exe").c_str(), (appFolder + "/DeveloperApp.lnk").c_str()), 0);
    ASSERT_TRUE(launch("app-1.0"));
    EXPECT_EQ(waitForReport().tag, "installed");
}

TEST_F(Launching, InstanceGetsARecordOfItsOwn)
{
    int count = connector->getApplicationCount();
    ASSERT_TRUE(launch("app_2-1.0"));
    unsigned first = waitForReport().pid;
    TWConnectorAppInfo instance;
    ASSERT_TRUE(connector->record("app_2-1.0", instance));
    EXPECT_EQ(instance.processId, first);
    EXPECT_EQ(str(instance.path), program);
    EXPECT_EQ(pidOf("app-1.0"), 0u);
    EXPECT_EQ(connector->getApplicationCount(), count + 1);

    ASSERT_TRUE(launch("app_2-1.0"));
    unsigned second = waitForReport().pid;
    EXPECT_NE(second, first);
    EXPECT_EQ(pidOf("app_2-1.0"), second);
    EXPECT_EQ(connector->getApplicationCount(), count + 1);
}

TEST_F(Launching, FailedStartRecordsProcessIdZero)
{
    ASSERT_TRUE(launch("app-1.0"));
    EXPECT_NE(waitForReport().pid, 0u);
    unlink(program.c_str());
    EXPECT_FALSE(launch("app-1.0"));
    EXPECT_EQ(pidOf("app-1.0"), 0u);
}

TEST_F(Launching, PathWithAQuoteIsNotStarted)
{
    std::string folder = root + "/Say \"hi\"";
    ProductFixtures::writeReportingProgram(folder + "/app.exe", report, "quoted");
    EXPECT_FALSE(launch("quoted-1.0"));
    EXPECT_EQ(pidOf("quoted-1.0"), 0u);
}

TEST_F(Launching, ResolvedListedAndStartedThroughTheProcessConnector)
{
    LxObjects::TellwireConnector* global = globalConnector();
    ASSERT_NE(global, nullptr);
    std::vector<std::string> listed;
    for (int i = 0; i < global->getApplicationCount(); ++i) {
        LoString specifier;
        global->getApplicationSpecifier(specifier, LxObjects::u32(i));
        listed.push_back(str(specifier));
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"app-1.0", "quoted-1.0"}));
    LxObjects::Tellwire::Specifier resolved("APP", true);
    ASSERT_EQ(str(resolved), "app-1.0");
    unlink(report.c_str());
    ASSERT_TRUE(global->launchApplication(resolved, LoString("-specifier app-1.0 -nostartupscreen"), false));
    Report r = waitForReport();
    EXPECT_EQ(r.arguments, (std::vector<std::string>{"-specifier", "app-1.0", "-nostartupscreen"}));
    EXPECT_EQ(global->getProcessId(resolved), r.pid);
}

TEST_F(Launching, BringingToFrontFindsNoWindow)
{
    for (const char* specifier : {"app-1.0", "other-1.0", ""})
        connector->bringToFront(specifier);
    connector->bringToFront(nullptr);
    EXPECT_EQ(pidOf("app-1.0"), 0u);
}

}  // namespace
