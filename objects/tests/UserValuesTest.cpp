#include <gtest/gtest.h>

#include <dirent.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "TestFolders.h"
#include "objects/PlatformServices.h"

extern char** environ;

using LxObjects::LoString;
using TestFolders::readFile;
using TestFolders::writeFile;

namespace {

bool isGeneratedId(const std::string& id)
{
    return id.size() >= 16 && id.size() <= 32 && id.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

std::set<std::string> namesIn(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.insert(entry->d_name);
        closedir(dir);
    }
    return names;
}

// A peer process that settles on the per-user values once its input closes.
struct IdsPeer {
    pid_t pid = -1;
    int input = -1;
    int output = -1;

    bool start()
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        char* argv[] = {const_cast<char*>(TAVREL_OBJECTS_PEER), const_cast<char*>("ids"), nullptr};
        bool started = posix_spawn(&pid, TAVREL_OBJECTS_PEER, &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        input = in[1];
        output = out[0];
        return started;
    }

    void go()
    {
        close(input);
        input = -1;
    }

    std::string finish(int& status)
    {
        std::string text;
        char buffer[256];
        ssize_t n;
        while ((n = read(output, buffer, sizeof buffer)) > 0)
            text.append(buffer, size_t(n));
        close(output);
        waitpid(pid, &status, 0);
        return text;
    }
};

}  // namespace

class UserValues : public TestFolders::UserFolders {
};

TEST_F(UserValues, AFreshAccountGetsAUserIdAndNoDigestKey)
{
    LxObjects::initPlatformIds();
    std::string id = LxObjects::getUserId().text();
    EXPECT_TRUE(isGeneratedId(id)) << id;
    EXPECT_STREQ(LxObjects::getHashKey().text(), "");

    EXPECT_EQ(readFile(valuesFile()), "UserID=" + id + "\n");
    EXPECT_EQ(TestFolders::modeOf(valuesFile()), 0600u);
    EXPECT_EQ(TestFolders::modeOf(config + "/morvane"), 0700u);
    EXPECT_EQ(namesIn(config + "/morvane"), std::set<std::string>{"IAC"});
}

TEST_F(UserValues, ExistingValuesAreReadAndTheFileIsLeftAlone)
{
    mkdir((config + "/morvane").c_str(), 0700);
    std::string content = "# kept\nUserID=ABC123\nMD5ID=Secret=1\n";
    writeFile(valuesFile(), content);
    LxObjects::initPlatformIds();
    EXPECT_STREQ(LxObjects::getUserId().text(), "ABC123");
    EXPECT_STREQ(LxObjects::getHashKey().text(), "Secret=1");
    EXPECT_EQ(readFile(valuesFile()), content);
}

TEST_F(UserValues, AValueMissingFromAnExistingFileStaysEmpty)
{
    mkdir((config + "/morvane").c_str(), 0700);
    writeFile(valuesFile(), "UserID=ABC\nUserIDX=no\n");
    EXPECT_STREQ(LxObjects::readOrCreateRegistryId("MD5ID").text(), "");
    EXPECT_STREQ(LxObjects::readOrCreateRegistryId("User").text(), "");
    EXPECT_EQ(readFile(valuesFile()), "UserID=ABC\nUserIDX=no\n");
}

TEST_F(UserValues, OnlyValuesOfOneTo40BytesAreCached)
{
    mkdir((config + "/morvane").c_str(), 0700);
    std::string forty(40, 'F');
    writeFile(valuesFile(), "UserID=" + forty + "\nMD5ID=" + forty + "1\n");
    EXPECT_EQ(LxObjects::getUserId().text(), forty);
    EXPECT_STREQ(LxObjects::getHashKey().text(), "");

    writeFile(valuesFile(), "UserID=Changed\nMD5ID=Short\n");
    EXPECT_EQ(LxObjects::getUserId().text(), forty);  // cached
    EXPECT_STREQ(LxObjects::getHashKey().text(), "Short");  // read again
    LxObjects::initPlatformIds();
    EXPECT_STREQ(LxObjects::getUserId().text(), "Changed");
}

TEST_F(UserValues, TheFolderFollowsXdgConfigHomeOrHome)
{
    setenv("XDG_CONFIG_HOME", "", 1);
    std::string id = LxObjects::readOrCreateRegistryId("UserID").text();
    EXPECT_TRUE(isGeneratedId(id));
    EXPECT_EQ(readFile(home + "/.config/morvane/IAC"), "UserID=" + id + "\n");

    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(LxObjects::readOrCreateRegistryId("UserID").text(), id);

    unsetenv("HOME");
    EXPECT_STREQ(LxObjects::readOrCreateRegistryId("UserID").text(), "");
}

TEST_F(UserValues, AFileThatIsNoRegularFileGivesEmptyValues)
{
    mkdir((config + "/morvane").c_str(), 0700);
    mkdir(valuesFile().c_str(), 0700);
    EXPECT_STREQ(LxObjects::readOrCreateRegistryId("UserID").text(), "");
    rmdir(valuesFile().c_str());

    ASSERT_EQ(mkfifo(valuesFile().c_str(), 0600), 0);  // must not block
    EXPECT_STREQ(LxObjects::readOrCreateRegistryId("UserID").text(), "");
    unlink(valuesFile().c_str());

    writeFile(valuesFile(), std::string(2 << 20, 'x'));
    EXPECT_STREQ(LxObjects::readOrCreateRegistryId("UserID").text(), "");
}

TEST_F(UserValues, ProcessesStartingTogetherAgree)
{
    for (int round = 0; round < 12; ++round) {
        std::string folder = root + "/together-" + std::to_string(round);
        mkdir(folder.c_str(), 0700);
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);

        std::vector<IdsPeer> peers(3);
        for (IdsPeer& peer : peers)
            ASSERT_TRUE(peer.start());
        for (IdsPeer& peer : peers)
            peer.go();
        std::set<std::string> answers;
        for (IdsPeer& peer : peers) {
            int status = -1;
            answers.insert(peer.finish(status));
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        ASSERT_EQ(answers.size(), 1u) << "round " << round;
        std::string answer = *answers.begin();
        std::string id = answer.substr(0, answer.find('\n'));
        EXPECT_TRUE(isGeneratedId(id)) << answer;
        EXPECT_EQ(answer, id + "\n\n");
        EXPECT_EQ(readFile(folder + "/morvane/IAC"), "UserID=" + id + "\n");
        EXPECT_EQ(namesIn(folder + "/morvane"), std::set<std::string>{"IAC"});
    }
}
