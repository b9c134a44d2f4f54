#include "objects/TellwireUtils.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "objects/InterAppStream.h"
#include "objects/tests/TellwirePeer.h"
#include "objects/tests/TestConnector.h"

using LxObjects::InterAppStream;
using LxObjects::LoString;
using LxObjects::LoVector;
using LxObjects::u32;
using Message = LxObjects::Tellwire::Message;
using Specifier = LxObjects::Tellwire::Specifier;
using TestConnectors::str;
using TestPeers::TellwirePeer;
namespace Utils = LxObjects::TellwireUtils;

namespace {

// ---- the small utilities -----------------------------------------------------

std::vector<std::string> split(const char* text)
{
    LoVector<LoString> words;
    int count = Utils::splitArguments(text, words);
    std::vector<std::string> out;
    for (int i = 0; i < words.count(); ++i) {
        out.push_back(str(*words.get(i)));
        delete words.get(i);
    }
    EXPECT_EQ(count, int(out.size()));
    return out;
}

TEST(SplitArguments, CutsAtEveryDelimiter)
{
    using Words = std::vector<std::string>;
    EXPECT_EQ(split("-specifier app -instance 2"), (Words{"-specifier", "app", "-instance", "2"}));
    EXPECT_EQ(split("a=b;c\"d'e:f g"), (Words{"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(split("  ==;;x::  "), (Words{"x"}));
    EXPECT_EQ(split(""), Words{});
    EXPECT_EQ(split(" ;=:'\""), Words{});
    EXPECT_EQ(split(nullptr), Words{});
    EXPECT_EQ(split("tab\tand\nline stay"), (Words{"tab\tand\nline", "stay"}));
}

TEST(SplitArguments, AppendsToWhatTheVectorHolds)
{
    LoVector<LoString> words;
    words.append(new LoString("kept"));
    EXPECT_EQ(Utils::splitArguments("one two", words), 3);
    EXPECT_EQ(str(*words.get(2)), "two");
    for (int i = 0; i < words.count(); ++i)
        delete words.get(i);
}

// Two threads splitting at once each get their own words.
TEST(SplitArguments, ThreadsDoNotDisturbEachOther)
{
    auto work = [](const char* text, std::vector<std::string> expected, bool* sound) {
        for (int i = 0; i < 2000 && *sound; ++i)
            *sound = split(text) == expected;
    };
    bool first = true, second = true;
    std::thread a(work, "-specifier app -instance 2", std::vector<std::string>{"-specifier", "app", "-instance", "2"},
                  &first);
    std::thread b(work, "x=1;y=2;z=3", std::vector<std::string>{"x", "1", "y", "2", "z", "3"}, &second);
    a.join();
    b.join();
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
}

struct LineCase {
    const char* text;
    int position;
    const char* path;
    int flag;
    const char* label;
    const char* value;
};

TEST(DiagnosticsLine, ReadsFourFields)
{
    const LineCase cases[] = {
        {"/a;1;Instances;2;\nnext", 18, "/a", 1, "Instances", "2"},
        {"/a;0;Label;;\n", 13, "/a", 0, "Label", ""},
        {"/a;0;Label;value", 16, "/a", 0, "Label", "value"},               // last line, no ";"
        {"/a;0;Request;Result Timeout\n", 28, "/a", 0, "Request", "Result Timeout"},
        {"/a;0;Label;v;rest;\n", 19, "/a", 0, "Label", "v"},
        {"/a;2;Label;v;\n", 0, "", -1, "", ""},     // a flag other than 0 or 1 ends the reading
        {"/a;01;Label;v;\n", 0, "", -1, "", ""},
        {";1;Label;v;\n", 0, "", -1, "", ""},       // empty path
        {"/a;1;;v;\n", 0, "", -1, "", ""},          // empty label
        {"/a;1;Label\n;v;", 0, "", -1, "", ""},      // the line ends before the label's ";"
        {"/a;1\n", 0, "", -1, "", ""},
        {"", 0, "", -1, "", ""},
        {"\n/a;1;L;v;\n", 0, "", -1, "", ""},
    };
    for (const LineCase& c : cases) {
        LoString path("stale"), label("stale"), value("stale");
        int flag = -1;
        EXPECT_EQ(Utils::parseDiagnosticsLine(c.text, path, label, value, flag), c.position) << c.text;
        EXPECT_EQ(str(path), c.path) << c.text;
        EXPECT_EQ(flag, c.flag) << c.text;
        EXPECT_EQ(str(label), c.label) << c.text;
        EXPECT_EQ(str(value), c.value) << c.text;
    }
    LoString path, label, value;
    int flag;
    EXPECT_EQ(Utils::parseDiagnosticsLine(nullptr, path, label, value, flag), 0);
}

TEST(FormatTime, LocalTimeOfDay)
{
    setenv("TZ", "UTC", 1);
    tzset();
    LxObjects::i64 t = 86400 + 3 * 3600 + 4 * 60 + 5;
    LoString out("stale");
    Utils::formatTime(out, &t);
    EXPECT_EQ(str(out), "03:04:05");
    Utils::formatTime(out, nullptr);
    EXPECT_EQ(out.length(), 8);
    t = INT64_MAX;  // no such time: empty
    Utils::formatTime(out, &t);
    EXPECT_EQ(str(out), "");
    unsetenv("TZ");
    tzset();
}

TEST(StatusWords, TableOrder)
{
    EXPECT_STREQ(Utils::statusWord(Utils::kMain), "MAIN");
    EXPECT_STREQ(Utils::statusWord(Utils::kSeeBody), "SEE BODY");
    EXPECT_STREQ(Utils::statusWord(Utils::kUndefined), "UNDEFINED");
    EXPECT_STREQ(Utils::statusWord(Utils::kStatusWordCount), "");
    EXPECT_STREQ(Utils::statusWord(Utils::StatusWord(-1)), "");
}

TEST(ThreadMailbox, EngineBecomesThread)
{
    const char* cases[][2] = {
        {"app_2-10.0-en_us#main", "app_2-10.0-en_us#thread"},
        {"app-1.0", "app-1.0#thread"},
        {"App", "app#thread"},
        {"", ""},
        {"#main", ""},
        {"_2-1.0", ""},
    };
    for (auto& c : cases)
        EXPECT_EQ(str(Utils::threadMailboxName(Specifier(c[0], false))), c[1]) << c[0];
}

// ---- pings between processes ---------------------------------------------------

class Pings : public TestConnectors::InstalledApps {
protected:
    void SetUp() override
    {
        InstalledApps::SetUp();
        mkdir((config + "/morvane").c_str(), 0700);
        TestFolders::writeFile(valuesFile(), "UserID=U1\nMD5ID=k\n");
        for (const char* s : {"app-1.0", "ed-5.0", "viewer-2.0"})
            connector->install(s);
        LxObjects::openPingStream(LoString("me-1.0"));
        ASSERT_NE(LxObjects::findPingStream(), nullptr);
        peer.reset(new TellwirePeer);  // in this test's folders
        ASSERT_TRUE(peer->ready());
    }

    std::string ping(const char* target, const char* query, LxObjects::i64 timeout = 10, u32 serial = 7,
                     u32* count = nullptr, bool request = true)
    {
        LoString out("stale");
        Utils::sendPing(out, LoString(target), request, LoString(query), serial, timeout, LoString(), count);
        return str(out);
    }

    std::unique_ptr<TellwirePeer> peer;
};

TEST_F(Pings, AnswersOfARunningTarget)
{
    ASSERT_EQ(peer->command({"hold", "app-1.0#thread"}), "ok");
    EXPECT_EQ(ping("app-1.0", "ECHO_REQUEST"), "ECHO_RESPONSE");
    EXPECT_EQ(ping("APP-1.0#main", "STATUS"), "IDLE");
    EXPECT_EQ(ping("app-1.0", "WHATEVER"), "UNDEFINED");
    EXPECT_EQ(ping("app-1.0", ""), "ECHO_RESPONSE");  // an empty request asks for the echo

    ASSERT_EQ(peer->command({"answer", "app-1.0#thread", "INFO", "SEE BODY", "body=/a;1;Info;;\n"}), "ok");
    EXPECT_EQ(ping("app-1.0", "INFO"), "/a;1;Info;;\n");

    // What travelled: a ping from the ping mailbox to the thread mailbox.
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(peer->next("app-1.0#thread").got);
    u32 count = 99;
    EXPECT_EQ(ping("app-1.0", "", 0, 31, &count, false), "NOERROR");
    EXPECT_EQ(count, 1u);
    TestPeers::Report sent = peer->next("app-1.0#thread");
    ASSERT_EQ(sent.messages.size(), 1u);
    TestPeers::Received& m = sent.messages[0];
    EXPECT_EQ(m["type"], "ping");
    EXPECT_EQ(m["sender"], "me-1.0#ping");
    EXPECT_EQ(m["target"], "app-1.0#thread");
    EXPECT_EQ(m["serial"], "31");
    EXPECT_EQ(m["h.ECHO_RESPONSE"], "ECHO_REQUEST");
    EXPECT_EQ(m["digest"], "");  // signed and checked with the same key
}

TEST_F(Pings, TargetsNobodyAnswersFor)
{
    u32 count = 99;
    EXPECT_EQ(ping("app-1.0", "STATUS", 10, 7, &count), "ISNOTRUNNING");
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ping("zed-1.0", "STATUS"), "ISNOTINSTALLED");
    EXPECT_EQ(ping("", "STATUS", 10, 7, &count), "INVALIDSPEC");
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ping("#main", "STATUS"), "INVALIDSPEC");

    // Held but silent: the wait runs out.
    ASSERT_EQ(peer->command({"hold", "ed-5.0#thread"}), "ok");
    ASSERT_EQ(peer->command({"answer", "ed-5.0#thread", "STATUS", "-"}), "ok");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ping("ed-5.0", "STATUS", 1, 7, &count), "Timeout");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(count, 1u);
}

TEST_F(Pings, WithoutAnOpenPingMailboxNothingIsSent)
{
    LxObjects::closePingStream();
    u32 count = 99;
    EXPECT_EQ(ping("app-1.0", "STATUS", 10, 7, &count), "");
    EXPECT_EQ(count, 0u);
    LoString out;
    LxObjects::pingTarget(out, Specifier("app-1.0", false), LoString("STATUS"), 1, nullptr);
    EXPECT_EQ(str(out), "NOINTERAPPSTREAM");

    // A fallback mailbox is made on first use, but sendPing makes none.
    InterAppStream* fallback = LxObjects::getPingStream();
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(str(fallback->getName()), "interappstream-1.0");
    EXPECT_EQ(LxObjects::getPingStream(), fallback);
}

TEST_F(Pings, PingMailboxWhoseNameIsTakenIsNone)
{
    ASSERT_EQ(peer->command({"hold", "taken-2.0#ping"}), "ok");
    LxObjects::openPingStream(LoString("Taken-2.0#Main"));
    EXPECT_EQ(LxObjects::findPingStream(), nullptr);
    LxObjects::openPingStream(LoString("free-2.0"));
    ASSERT_NE(LxObjects::findPingStream(), nullptr);
    EXPECT_EQ(str(LxObjects::findPingStream()->getName()), "free-2.0#ping");
}

TEST_F(Pings, PingTargetAsksWithARandomSerialNumber)
{
    ASSERT_EQ(peer->command({"hold", "app-1.0#thread"}), "ok");
    LoString out, body("topics");
    LxObjects::pingTarget(out, Specifier("app-1.0", false), LoString("STATUS"), 10, &body);
    EXPECT_EQ(str(out), "IDLE");
    TestPeers::Report asked = peer->next("app-1.0#thread");
    ASSERT_EQ(asked.messages.size(), 1u);
    EXPECT_EQ(asked.messages[0]["h.ECHO_REQUEST"], "STATUS");
    EXPECT_EQ(asked.messages[0]["body"], "topics");
    EXPECT_EQ(asked.messages[0]["timeout"], "10");
}

TEST_F(Pings, EveryInstalledApplication)
{
    ASSERT_EQ(peer->command({"hold", "app-1.0#thread"}), "ok");
    ASSERT_EQ(peer->command({"hold", "ed-5.0#thread"}), "ok");
    u32 count = 0;
    EXPECT_EQ(ping("allRunningApps", "STATUS", 10, 7, &count), "ISNOTRUNNING");  // viewer, the last one
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(peer->next("app-1.0#thread").got);
    EXPECT_TRUE(peer->next("ed-5.0#thread").got);
}

// An answer to an earlier request, one that came too late for it, is not
// the answer to the next one; and nothing stays behind in the stream.
TEST_F(Pings, LateAnswersOfEarlierCallsAreSkipped)
{
    ASSERT_EQ(peer->command({"hold", "app-1.0#thread"}), "ok");
    ASSERT_EQ(peer->command({"answer", "app-1.0#thread", "STATUS", "IDLE", "delay=1500"}), "ok");
    ASSERT_EQ(peer->command({"answer", "app-1.0#thread", "ECHO_REQUEST", "ECHO_RESPONSE", "delay=1000"}), "ok");
    EXPECT_EQ(ping("app-1.0", "STATUS", 1, 100), "Timeout");
    // The answer to 100 arrives while this call waits for its own.
    EXPECT_EQ(ping("app-1.0", "ECHO_REQUEST", 10, 101), "ECHO_RESPONSE");
    EXPECT_TRUE(LxObjects::findPingStream()->isEmpty());

    // A stray text in the ping mailbox is no answer either.
    Message stray;
    stray.target.assign("me-1.0#ping");
    stray.sender.assign("app-1.0#thread");
    stray.type.assign("ping");
    stray.serialNumber = 102;
    stray.addHeader("ECHO_REQUEST", "FORGED");
    LoString text;
    ASSERT_TRUE(LxObjects::serializeMessageWithDigest(stray, text));
    InterAppStream writer(LoString("writer"));
    ASSERT_TRUE(writer.send(stray.target, text));
    ASSERT_EQ(peer->command({"answer", "app-1.0#thread", "ECHO_REQUEST", "ECHO_RESPONSE"}), "ok");
    EXPECT_EQ(ping("app-1.0", "ECHO_REQUEST", 10, 103), "ECHO_RESPONSE");
    EXPECT_TRUE(LxObjects::findPingStream()->isEmpty());
}

TEST_F(Pings, CallersOnSeveralThreadsGetTheirOwnAnswers)
{
    ASSERT_EQ(peer->command({"hold", "app-1.0#thread"}), "ok");
    ASSERT_EQ(peer->command({"answer", "app-1.0#thread", "ONE", "1"}), "ok");
    ASSERT_EQ(peer->command({"answer", "app-1.0#thread", "TWO", "2", "delay=5"}), "ok");
    auto asker = [this](const char* query, const char* answer, u32 serial, bool* sound) {
        for (u32 i = 0; i < 20 && *sound; ++i)
            *sound = ping("app-1.0", query, 10, serial + i) == answer;
    };
    bool one = true, two = true;
    std::thread a(asker, "ONE", "1", 1000, &one);
    std::thread b(asker, "TWO", "2", 2000, &two);
    a.join();
    b.join();
    EXPECT_TRUE(one);
    EXPECT_TRUE(two);
}

TEST_F(Pings, SendAndWaitRefusals)
{
    InterAppStream* stream = LxObjects::findPingStream();
    Message toSelf;
    toSelf.sender = stream->getName();
    toSelf.target = stream->getName();
    toSelf.timeout = 5;
    LoString out;
    Utils::sendAndWait(out, toSelf, *stream);
    EXPECT_EQ(str(out), "UNDEFINED");
    EXPECT_FALSE(stream->hasMessage()) << "nothing was sent";

    Message unwritable;
    unwritable.target.assign("app-1.0#thread");
    Utils::sendAndWait(out, unwritable, *stream);
    EXPECT_EQ(str(out), "MSGTOSTRINGERROR");
}

}  // namespace
