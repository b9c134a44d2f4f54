#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "TestFolders.h"
#include "objects/PlatformServices.h"

using LxObjects::LoString;

TEST(SystemServices, SenderIdNamesThisProcess)
{
    EXPECT_EQ(std::string(LxObjects::getSenderId().text()), "localhost:win" + std::to_string(getpid()));
}

TEST(SystemServices, PathSeparatorAndWindowsAreThoseOfThisPlatform)
{
    EXPECT_STREQ(LxObjects::pathSeparator().text(), "/");
    LxObjects::bringWindowToFront("SomeWindowClass");
    LxObjects::bringWindowToFront("");
}

TEST(SystemServices, LocaleComesFromTheLocaleVariablesLowerCased)
{
    struct {
        const char *all, *messages, *lang, *expected;
    } cases[] = {
        {nullptr, nullptr, nullptr, "en_us"},
        {nullptr, nullptr, "de_DE.UTF-8", "de_de"},
        {nullptr, "pt_BR", "de_DE.UTF-8", "pt_br"},
        {"fr", "pt_BR", "de_DE", "fr"},
        {"", "", "sv_SE.ISO-8859-1@euro", "sv_se"},
        {"", nullptr, "ca_ES@valencia", "ca_es"},
        {"C", nullptr, "de_DE", "en_us"},
        {nullptr, "POSIX", "de_DE", "en_us"},
        {nullptr, nullptr, "C.UTF-8", "en_us"},
    };
    for (auto c : cases) {
        const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
        const char* values[] = {c.all, c.messages, c.lang};
        for (int i = 0; i < 3; ++i) {
            if (values[i])
                setenv(names[i], values[i], 1);
            else
                unsetenv(names[i]);
        }
        EXPECT_STREQ(LxObjects::getLocaleName().text(), c.expected) << c.all << "/" << c.messages << "/" << c.lang;
    }
}

class Shortcut : public TestFolders::UserFolders {
};

TEST_F(Shortcut, ALinkResolvesToItsFinalTarget)
{
    std::string target = root + "/app";
    TestFolders::writeFile(target, "x");
    mkdir((root + "/dev").c_str(), 0700);
    ASSERT_EQ(symlink(target.c_str(), (root + "/dev/first").c_str()), 0);
    ASSERT_EQ(symlink("first", (root + "/dev/DeveloperApp.lnk").c_str()), 0);

    EXPECT_EQ(std::string(LxObjects::resolveShortcut((root + "/dev/DeveloperApp.lnk").c_str()).text()), target);
    EXPECT_EQ(std::string(LxObjects::resolveShortcut(target.c_str()).text()), target);
    std::string missing = root + "/none";
    EXPECT_EQ(std::string(LxObjects::resolveShortcut(missing.c_str()).text()), missing);
    EXPECT_TRUE(LxObjects::fileExists(target.c_str()));
    EXPECT_FALSE(LxObjects::fileExists(missing.c_str()));
}

TEST_F(Shortcut, ADanglingLinkNamesItsTargetAndALoopGivesThePathBack)
{
    std::string dangling = root + "/dangling";
    ASSERT_EQ(symlink("../gone/app", dangling.c_str()), 0);
    LoString target = LxObjects::resolveShortcut(dangling.c_str());
    EXPECT_EQ(std::string(target.text()), root + "/../gone/app");
    EXPECT_FALSE(LxObjects::fileExists(target));

    std::string a = root + "/a", b = root + "/b";
    ASSERT_EQ(symlink(b.c_str(), a.c_str()), 0);
    ASSERT_EQ(symlink(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(std::string(LxObjects::resolveShortcut(a.c_str()).text()), a);
}
