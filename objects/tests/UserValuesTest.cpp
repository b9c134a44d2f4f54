#include <gtest/gtest.h>

#include <dirent.h>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TestFolders.h"
#include "objects/tests/ChildProcess.h"
#include "objects/PlatformServices.h"


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
struct IdsPeer : TestPeers::ChildProcess {
    IdsPeer() : ChildProcess(TAVREL_OBJECTS_PEER, {"ids"}) {}
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

        std::vector<std::unique_ptr<IdsPeer>> peers;
        for (int i = 0; i < 3; ++i) {
            peers.push_back(std::make_unique<IdsPeer>());
            ASSERT_TRUE(peers.back()->started());
        }
        for (auto& peer : peers)
            peer->closeInput();
        std::set<std::string> answers;
        for (auto& peer : peers) {
            answers.insert(peer->readAll());
            EXPECT_EQ(peer->wait(), 0);
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
