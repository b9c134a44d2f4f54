#include <gtest/gtest.h>

#include "TestFolders.h"
#include "objects/PlatformServices.h"

using LxObjects::LoString;
using LxObjects::md5Hex;

TEST(Digest, BytesArePrintedUpperCaseWithoutLeadingZeros)
{
    struct {
        const char* text;
        const char* key;
        const char* digest;
    } cases[] = {
        // MD5 a7 55 01 ac ...: the byte 01 prints as "1".
        {"abc", "k", "A7551ACF29844C04FBDF84C6B83E445"},
        // MD5 25 fb 0b ...: the byte 0b prints as "B".
        {"", "", "25FBBEEAB6BBC745EF65576317FBF6D"},
        // An empty key digests the text with one "+" before and one after it.
        {"abc", "", "90E49AABDB6B167A8872806D6CFE61CE"},
        {"Hello", "secret", "A63D663A7777332AE2AC34C30C6EA94"},
    };
    for (auto c : cases) {
        LoString digest = md5Hex(c.text, c.key);
        EXPECT_STREQ(digest.text(), c.digest) << c.text << " / " << c.key;
        EXPECT_LE(digest.length(), 32);
        EXPECT_GE(digest.length(), 16);
    }
}

TEST(Digest, TextBytesAfterANulTakePart)
{
    EXPECT_STRNE(md5Hex(LoString("a\0b", 3), "k").text(), md5Hex(LoString("a"), "k").text());
}

class MessageDigest : public TestFolders::UserFolders {
};

TEST_F(MessageDigest, IsKeyedWithTheUsersDigestKey)
{
    mkdir((config + "/morvane").c_str(), 0700);
    TestFolders::writeFile(valuesFile(), "UserID=U1\nMD5ID=k\n");
    EXPECT_STREQ(LxObjects::messageDigest("abc").text(), "A7551ACF29844C04FBDF84C6B83E445");
}
