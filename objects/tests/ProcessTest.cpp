#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "TestFolders.h"
#include "objects/PlatformServices.h"
#include "objects/platform/Process.h"

using LxObjects::LoString;
using LxObjects::u32;
using TestFolders::eventually;
using TestFolders::readFile;
using TestFolders::writeFile;

namespace {

std::vector<std::string> splitNul(const std::string& text)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
        fields.push_back(text.substr(start, end - start));
    return fields;
}

std::string realFolder(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : path;
}

// The script writes its working folder, its session id and process id, where
// its standard streams go, then its arguments, each ended by a NUL, to $REPORT.
const char* kReportScript =
    "#!/bin/sh\n"
    "streams=\"$(readlink /proc/$$/fd/0)|$(readlink /proc/$$/fd/1)|$(readlink /proc/$$/fd/2)\"\n"
    "{ printf '%s\\0' \"$(pwd -P)\" \"$(cut -d' ' -f6 /proc/$$/stat)\" \"$$\" \"$streams\"\n"
    "  for a in \"$@\"; do printf '%s\\0' \"$a\"; done\n"
    "} > \"$REPORT.tmp\" && mv \"$REPORT.tmp\" \"$REPORT\"\n";

}  // namespace

class Launch : public TestFolders::UserFolders {
protected:
    void SetUp() override
    {
        UserFolders::SetUp();
        appFolder = root + "/My Apps/tool";
        mkdir((root + "/My Apps").c_str(), 0700);
        mkdir(appFolder.c_str(), 0700);
        script = appFolder + "/report.sh";
        writeFile(script, kReportScript, 0755);
        report = root + "/report";
        setenv("REPORT", report.c_str(), 1);
    }

    // Waits for the script's report: working folder, then the arguments.
    bool readReport(std::string& folder, std::vector<std::string>& args)
    {
        if (!eventually([&] { return TestFolders::modeOf(report) != 0; }))
            return false;
        std::vector<std::string> fields = splitNul(readFile(report));
        if (fields.size() < 4)
            return false;
        folder = fields[0];
        EXPECT_EQ(fields[1], fields[2]) << "not a session leader";
        EXPECT_EQ(fields[3], "/dev/null|/dev/null|/dev/null");
        args.assign(fields.begin() + 4, fields.end());
        unlink(report.c_str());
        return true;
    }

    std::string appFolder, script, report;
};

TEST_F(Launch, TheChildGetsItsArgumentsSplitLikeWindowsInItsOwnFolder)
{
    LoString args("a \"b c\" d\\\"e \"f\\\\\" g\\\\\\\\\"h i\" \"\" j\\k\\\\");
    u32 pid = 0;
    ASSERT_TRUE(LxObjects::launchProcess("", script.c_str(), &args, false, &pid));
    EXPECT_NE(pid, 0u);
    std::string folder;
    std::vector<std::string> argv;
    ASSERT_TRUE(readReport(folder, argv));
    EXPECT_EQ(folder, realFolder(appFolder));
    EXPECT_EQ(argv, (std::vector<std::string>{"a", "b c", "d\"e", "f\\", "g\\\\h i", "", "j\\k\\\\"}));
}

TEST_F(Launch, WithoutArgumentsTheChildGetsNone)
{
    u32 pid = 0;
    ASSERT_TRUE(LxObjects::launchProcess("", script.c_str(), nullptr, true, &pid));
    std::string folder;
    std::vector<std::string> argv;
    ASSERT_TRUE(readReport(folder, argv));
    EXPECT_TRUE(argv.empty());
}

TEST_F(Launch, APathInQuotesIsTakenAsTheCommandLine)
{
    LoString path(("\"" + script + "\" -x").c_str());
    LoString args("y");
    ASSERT_TRUE(LxObjects::launchProcess("", path, &args, false, nullptr));
    std::string folder;
    std::vector<std::string> argv;
    ASSERT_TRUE(readReport(folder, argv));
    EXPECT_EQ(folder, realFolder(appFolder));
    EXPECT_EQ(argv, (std::vector<std::string>{"-x", "y"}));
}

TEST_F(Launch, ARelativePathRunsInItsFolderBelowTheCurrentOne)
{
    char here[PATH_MAX];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir((root + "/My Apps").c_str()), 0);
    bool started = LxObjects::launchProcess("", "tool/report.sh", nullptr, false, nullptr);
    ASSERT_EQ(chdir(here), 0);
    ASSERT_TRUE(started);
    std::string folder;
    std::vector<std::string> argv;
    ASSERT_TRUE(readReport(folder, argv));
    EXPECT_EQ(folder, realFolder(appFolder));
}

TEST_F(Launch, FailuresGiveFalseAndProcessIdZero)
{
    std::string quoteInside = appFolder + "/a\"b";
    writeFile(quoteInside, kReportScript, 0755);
    const std::string paths[] = {
        "",
        root + "/missing/tool",
        appFolder + "/plain.txt",
        quoteInside,
        "HTTPS://tavrel.invalid/",  // the scheme test is case-sensitive: no such program
    };
    writeFile(appFolder + "/plain.txt", "not a program", 0644);
    for (const std::string& path : paths) {
        u32 pid = 77;
        EXPECT_FALSE(LxObjects::launchProcess("", path.c_str(), nullptr, false, &pid)) << path;
        EXPECT_EQ(pid, 0u) << path;
    }
    EXPECT_EQ(TestFolders::modeOf(report), 0u);
}

TEST_F(Launch, WebAddressesGoToXdgOpenWithTheSender)
{
    std::string bin = root + "/bin";
    mkdir(bin.c_str(), 0700);
    writeFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$REPORT.tmp\" && mv \"$REPORT.tmp\" \"$REPORT\"\n",
              0755);
    std::string path = bin + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    setenv("PATH", path.c_str(), 1);

    u32 pid = 77;
    ASSERT_TRUE(LxObjects::launchProcess("app_2-1.0#dbg", "https://tavrel.invalid/help", nullptr, false, &pid));
    EXPECT_EQ(pid, 0u);
    ASSERT_TRUE(eventually([&] { return TestFolders::modeOf(report) != 0; }));
    EXPECT_EQ(splitNul(readFile(report)),
              std::vector<std::string>{"https://tavrel.invalid/help?sender=app_2-1.0%23dbg"});
}

TEST_F(Launch, LaunchedChildrenReadAsDeadOnceTheyEnd)
{
    std::string sleeper = appFolder + "/sleeper.sh";
    writeFile(sleeper, "#!/bin/sh\nexec sleep 60\n", 0755);
    u32 pid = 0;
    ASSERT_TRUE(LxObjects::launchProcess("", sleeper.c_str(), nullptr, false, &pid));
    ASSERT_NE(pid, 0u);
    EXPECT_TRUE(LxObjects::isProcessAlive(pid));
    ASSERT_EQ(kill(pid_t(pid), SIGKILL), 0);
    EXPECT_TRUE(eventually([&] { return !LxObjects::isProcessAlive(pid); }));
    int status;
    EXPECT_EQ(waitpid(pid_t(pid), &status, WNOHANG), -1);  // already reaped by its own id

    std::string quick = appFolder + "/quick.sh";
    writeFile(quick, "#!/bin/sh\nexit 3\n", 0755);
    ASSERT_TRUE(LxObjects::launchProcess("", quick.c_str(), nullptr, false, &pid));
    EXPECT_TRUE(eventually([&] { return !LxObjects::isProcessAlive(pid); }));
}

TEST(ProcessAlive, ZeroAndIdsOutsideTheRangeAreNeverAlive)
{
    EXPECT_FALSE(LxObjects::isProcessAlive(0));
    EXPECT_FALSE(LxObjects::isProcessAlive(0xFFFFFFFFu));  // would be kill(-1, 0)
    EXPECT_FALSE(LxObjects::isProcessAlive(0x80000000u));
    EXPECT_TRUE(LxObjects::isProcessAlive(u32(getpid())));
    EXPECT_TRUE(LxObjects::isProcessAlive(1));  // init: alive even where signals are refused
}

TEST(ProcessAlive, OtherChildrenAreNotReaped)
{
    pid_t child = fork();
    if (child == 0)
        _exit(5);
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    LxObjects::isProcessAlive(u32(child));  // a zombie still reads as alive
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 5);
}

TEST(CommandLine, SplitsWithTheWindowsRules)
{
    struct {
        const char* line;
        std::vector<std::string> words;
    } cases[] = {
        {"prog", {"prog"}},
        {"\"C:\\Program Files\\x.exe\" a b", {"C:\\Program Files\\x.exe", "a", "b"}},
        {"\"/a b/p\"x  y", {"/a b/px", "y"}},  // the program name ends at a blank only
        {"\"a\\\"b c", {"a\\b", "c"}},  // no escapes in the program name
        {"p \"a b\" c", {"p", "a b", "c"}},
        {"p a\\\"b", {"p", "a\"b"}},  // 1 backslash: a literal quote
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},  // 2: one backslash, the quote opens
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},  // 3: one backslash and a literal quote
        {"p a\\\\\\\\\"b\"", {"p", "a\\\\b"}},  // 4: two backslashes, quotes open and close
        {"p a\\b\\\\c", {"p", "a\\b\\\\c"}},  // backslashes before no quote stay
        {"p \"a\\\\\"", {"p", "a\\"}},
        {"p \"\" x", {"p", "", "x"}},
        {"p \"a\"\"b\" c", {"p", "a\"b", "c"}},  // "" inside quotes: a literal quote
        {"p \t a\t\tb  ", {"p", "a", "b"}},
        {"p \"open ended", {"p", "open ended"}},
        {"", {""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LxObjects::Platform::splitCommandLine(c.line), c.words) << c.line;
}
