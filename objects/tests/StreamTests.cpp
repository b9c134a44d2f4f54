#include "objects/InterAppStream.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "objects/Message.h"
#include "objects/PlatformServices.h"
#include "objects/tests/TellwirePeer.h"
#include "objects/tests/TestFolders.h"
#include "objects/tests/peer/PeerProtocol.h"

using LxObjects::InterAppStream;
using LxObjects::LoString;
using TestPeers::TellwirePeer;
namespace fs = std::filesystem;

namespace {

std::string str(const LoString& s)
{
    return std::string(s.text(), size_t(s.length()));
}

LoString lo(const std::string& s)
{
    return LoString(s.data(), int(s.size()));
}

class Streams : public TestFolders::UserFolders {
protected:
    void SetUp() override
    {
        UserFolders::SetUp();
        mkdir((config + "/morvane").c_str(), 0700);
        TestFolders::writeFile(valuesFile(), "UserID=U1\nMD5ID=k\n");
    }

    // What one readOne added to the stream.
    std::string readOne(InterAppStream& stream)
    {
        LoString text;
        if (!stream.readOne())
            return "(nothing)";
        stream.takeReceived(text);
        return str(text);
    }

    std::string waitAndRead(InterAppStream& stream, int ms = 10000)
    {
        stream.waitForMessage(ms);
        return readOne(stream);
    }

    // Every file and folder below the runtime folder.
    std::set<std::string> runtimeTree()
    {
        std::set<std::string> out;
        for (const auto& entry : fs::recursive_directory_iterator(runtime))
            out.insert(entry.path().string().substr(runtime.size()));
        return out;
    }
};

TEST_F(Streams, TextsAreTakenInTheOrderRead)
{
    InterAppStream stream(LoString("box"));
    ASSERT_TRUE(stream.isOpen());
    EXPECT_EQ(str(stream.getName()), "box");
    EXPECT_TRUE(stream.isEmpty());
    EXPECT_FALSE(stream.hasMessage());
    EXPECT_FALSE(stream.readOne());

    ASSERT_TRUE(stream.send(LoString("box"), LoString("first ")));
    ASSERT_TRUE(stream.send(LoString("box"), LoString("second")));
    EXPECT_TRUE(stream.hasMessage());
    EXPECT_TRUE(stream.readOne());
    EXPECT_TRUE(stream.readOne());
    EXPECT_FALSE(stream.readOne());
    EXPECT_FALSE(stream.isEmpty());
    LoString taken("stale");
    stream.takeReceived(taken);
    EXPECT_EQ(str(taken), "first second");
    EXPECT_TRUE(stream.isEmpty());
    stream.takeReceived(taken);
    EXPECT_EQ(str(taken), "");
}

TEST_F(Streams, IsNameFreeOnlyProbes)
{
    InterAppStream stream(LoString("held"));
    ASSERT_TRUE(stream.isOpen());
    EXPECT_FALSE(stream.isNameFree(LoString("held")));
    EXPECT_FALSE(stream.isNameFree(LoString("HELD")));
    std::set<std::string> before = runtimeTree();
    for (const char* name : {"free", "other#thread", "", "../held"})
        EXPECT_TRUE(stream.isNameFree(LoString(name))) << name;
    EXPECT_EQ(runtimeTree(), before) << "probing made something";
    // Nothing was taken either: the names can still be had.
    InterAppStream free(LoString("free"));
    EXPECT_TRUE(free.isOpen());
}

TEST_F(Streams, NameHeldElsewhereGivesAClosedStreamThatStillSends)
{
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "app-1.0#main"}), "ok");
    ASSERT_EQ(peer.command({"hold", "other"}), "ok");
    InterAppStream stream(LoString("app-1.0#main"));
    EXPECT_FALSE(stream.isOpen());
    EXPECT_FALSE(stream.hasMessage());
    EXPECT_FALSE(stream.readOne());
    EXPECT_FALSE(stream.waitForMessage(10));
    EXPECT_FALSE(stream.isNameFree(LoString("app-1.0#main")));
    EXPECT_TRUE(stream.send(LoString("other"), LoString("still works")));
    TestPeers::Report report = peer.next("other");
    EXPECT_EQ(report.size, 11u);
    EXPECT_EQ(report.hash, PeerProtocol::hash("still works"));
    EXPECT_FALSE(stream.send(LoString("nobody"), LoString("lost")));
}

// Messages in their text form, with their digest lines, both ways.
TEST_F(Streams, TellwireMessagesBothWays)
{
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "app-1.0#main"}), "ok");
    InterAppStream stream(LoString("tvtk"));
    ASSERT_TRUE(stream.isOpen());

    LxObjects::Tellwire::Message request;
    request.target.assign("app-1.0#main");
    request.sender.assign("tvtk");
    request.type.assign("Debug");
    request.responseRequest.assign("Result Error");
    request.serialNumber = 55;
    request.body.assign("line one\nline two");
    request.addHeader("Custom", "value");
    LoString text;
    ASSERT_TRUE(LxObjects::serializeMessageWithDigest(request, text));
    ASSERT_TRUE(stream.send(request.target, text));
    TestPeers::Report report = peer.next("app-1.0#main");
    ASSERT_EQ(report.messages.size(), 1u);
    TestPeers::Received& m = report.messages[0];
    EXPECT_EQ(m["type"], "Debug");
    EXPECT_EQ(m["serial"], "55");
    EXPECT_EQ(m["request"], "Result Error");
    EXPECT_EQ(m["body"], "line one\nline two");
    EXPECT_EQ(m["h.Custom"], "value");
    EXPECT_EQ(m["digest"], "");  // the same user's key: accepted

    ASSERT_EQ(peer.command({"reply", "app-1.0#main", "Result", "42"}), "ok");
    ASSERT_TRUE(stream.waitForMessage(10000));
    ASSERT_TRUE(stream.readOne());
    stream.takeReceived(text);
    LxObjects::Tellwire::Message reply;
    EXPECT_EQ(LxObjects::parseMessage(reply, text.text(), text.length()), text.length());
    EXPECT_EQ(str(reply.type), "Result");
    EXPECT_EQ(reply.serialNumber, 55u);
    EXPECT_EQ(str(reply.sender), "app-1.0#main");
    EXPECT_EQ(str(reply.target), "tvtk");
    EXPECT_EQ(str(reply.body), "42");
    EXPECT_EQ(str(reply.digestStatus), "");

    ASSERT_EQ(peer.command({"tell", "app-1.0#main", "tvtk", "type=Log", "serial=9", "h.Error-Code=59", "body=x"}),
              "ok");
    ASSERT_TRUE(stream.waitForMessage(10000));
    ASSERT_TRUE(stream.readOne());
    stream.takeReceived(text);
    LxObjects::Tellwire::Message told;
    LxObjects::parseMessage(told, text.text(), text.length());
    EXPECT_EQ(str(told.type), "Log");
    EXPECT_EQ(told.serialNumber, 9u);
    EXPECT_EQ(str(told.getHeader("Error-Code")), "59");
    EXPECT_EQ(str(told.body), "x");
}

TEST_F(Streams, KilledHolderFreesItsNames)
{
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "app-1.0#thread"}), "ok");
    ASSERT_EQ(peer.command({"hold", "app-1.0"}), "ok");
    {
        InterAppStream taken(LoString("app-1.0#thread"));
        EXPECT_FALSE(taken.isOpen());
    }
    peer.kill(SIGKILL);
    ASSERT_EQ(peer.wait(), 128 + SIGKILL);
    InterAppStream probe(LoString("probe"));
    EXPECT_TRUE(probe.isNameFree(LoString("app-1.0#thread")));
    EXPECT_FALSE(probe.send(LoString("app-1.0"), LoString("to the dead")));
    InterAppStream again(LoString("app-1.0#thread"));
    EXPECT_TRUE(again.isOpen());
}

TEST_F(Streams, TenMiBTravelsWholeBothWays)
{
    const size_t size = size_t(10) << 20;
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "big"}), "ok");
    InterAppStream stream(LoString("me"));
    ASSERT_TRUE(stream.isOpen());

    std::string bytes = PeerProtocol::pattern(size);
    ASSERT_TRUE(stream.send(LoString("big"), lo(bytes)));
    TestPeers::Report report = peer.next("big");
    EXPECT_EQ(report.size, size);
    EXPECT_EQ(report.hash, PeerProtocol::hash(bytes));

    ASSERT_EQ(peer.command({"sendsize", "big", "me", std::to_string(size)}), "ok");
    EXPECT_TRUE(waitAndRead(stream) == bytes) << "the 10 MiB read back differ";
    EXPECT_TRUE(stream.isEmpty());
}

TEST_F(Streams, OversizedTextIsRefused)
{
    InterAppStream stream(LoString("me"));
    ASSERT_TRUE(stream.isOpen());
    std::string tooLarge(LxObjects::Platform::Mailbox::kMaxMessage + 1, 'x');
    EXPECT_FALSE(stream.send(LoString("me"), lo(tooLarge)));
    EXPECT_FALSE(stream.hasMessage());
}

// Several processes write many messages each at the same time: every one
// arrives whole, and each writer's in its order.
TEST_F(Streams, ManyWritersKeepTheirOrder)
{
    const int writers = 4;
    const long count = 150;
    InterAppStream stream(LoString("collector"));
    ASSERT_TRUE(stream.isOpen());
    std::vector<std::unique_ptr<TellwirePeer>> peers;
    for (int i = 0; i < writers; ++i) {
        peers.emplace_back(new TellwirePeer);
        ASSERT_TRUE(peers.back()->ready());
    }
    // Started together: each peer answers once all its messages are written.
    std::vector<std::thread> started;
    std::vector<std::string> answers(writers);
    std::atomic<int> answered{0};
    for (int i = 0; i < writers; ++i)
        started.emplace_back([&, i] {
            std::string tag = "w" + std::to_string(i);
            answers[i] = peers[i]->command({"sendmany", "-", "collector", std::to_string(count), tag});
            ++answered;
        });

    // Read until all came, or every writer answered and nothing is left.
    std::map<std::string, long> nextOf;
    long received = 0;
    bool sound = true;
    while (sound && received < writers * count) {
        std::string text = waitAndRead(stream, 100);
        if (text == "(nothing)") {
            if (answered == writers && !stream.hasMessage())
                break;
            continue;
        }
        std::string tag = text.substr(0, text.find(':'));
        long n = nextOf[tag]++;
        sound = text == PeerProtocol::numbered(tag, n);
        EXPECT_TRUE(sound) << "expected " << tag << ":" << n << ", got " << text.substr(0, 40);
        ++received;
    }
    for (std::thread& t : started)
        t.join();
    for (const std::string& answer : answers)
        EXPECT_EQ(answer, "ok");
    EXPECT_EQ(received, writers * count);
    EXPECT_EQ(nextOf.size(), size_t(writers));
    EXPECT_FALSE(stream.hasMessage());
}

// A child launched the way applications are launched holds none of this
// process's mailboxes: closing one frees the name while the child runs.
TEST_F(Streams, LaunchedChildInheritsNoMailbox)
{
    std::unique_ptr<InterAppStream> held(new InterAppStream(LoString("held")));
    InterAppStream report(LoString("report"));
    ASSERT_TRUE(held->isOpen() && report.isOpen());

    LoString args("launched report");
    LxObjects::u32 pid = 0;
    ASSERT_TRUE(LxObjects::launchProcess(LoString(), LoString(TELLWIRE_PEER), &args, false, &pid));
    std::string fds = waitAndRead(report, 20000);
    ASSERT_NE(fds, "(nothing)");
    EXPECT_NE(fds.find("fd 0 /dev/null"), std::string::npos) << fds;
    EXPECT_EQ(fds.find(runtime), std::string::npos) << fds;
    EXPECT_EQ(fds.find("inotify"), std::string::npos) << fds;

    held.reset();
    EXPECT_TRUE(report.isNameFree(LoString("held")));
    EXPECT_FALSE(report.isNameFree(LoString("report-child"))) << "the child still runs";
    InterAppStream again(LoString("held"));
    EXPECT_TRUE(again.isOpen());
    EXPECT_TRUE(report.send(LoString("report-child"), LoString("done")));
    EXPECT_TRUE(TestFolders::eventually([&] { return !LxObjects::isProcessAlive(pid); }, 20000));
}

TEST_F(Streams, NamesFoldAsciiCase)
{
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "Vandrel-1.0-EN_US#Main"}), "ok");
    EXPECT_EQ(peer.command({"hold", "vandrel-1.0-en_us#main"}), "busy");
    InterAppStream stream(LoString("VANDREL-1.0-en_us#MAIN"));
    EXPECT_FALSE(stream.isOpen());
    EXPECT_FALSE(stream.isNameFree(LoString("vandrel-1.0-en_us#main")));
    ASSERT_TRUE(stream.send(LoString("vandrel-1.0-en_us#main"), LoString("folded")));
    EXPECT_EQ(peer.next("Vandrel-1.0-EN_US#Main").hash, PeerProtocol::hash("folded"));
    // Only ASCII folds: these are two names.
    ASSERT_EQ(peer.command({"hold", "\xC3\x84pp"}), "ok");
    InterAppStream other(LoString("\xC3\xA4pp"));
    EXPECT_TRUE(other.isOpen());
}

// Whatever bytes a name holds, it stays one mailbox of its own inside the
// user's folder, and messages reach it.
TEST_F(Streams, HostileNamesStayInsideTheUsersFolder)
{
    const std::vector<std::string> names = {
        "../../escape", "/etc/passwd", "a/b", "..", ".", ".lock", "%2E%2E", "name\x01with\x7f" "controls",
        "line\nbreak", std::string(300, 'n'), std::string(300, 'n') + "x", "\xFF\xFE", "semi;colon blank",
    };
    TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    for (const std::string& name : names)
        ASSERT_EQ(peer.command({"hold", name}), "ok") << PeerProtocol::encode(name);
    InterAppStream stream(LoString("sender"));
    for (const std::string& name : names) {
        EXPECT_FALSE(stream.isNameFree(lo(name))) << PeerProtocol::encode(name);
        ASSERT_TRUE(stream.send(lo(name), lo("to " + name))) << PeerProtocol::encode(name);
    }
    for (const std::string& name : names)
        EXPECT_EQ(peer.next(name).hash, PeerProtocol::hash("to " + name)) << PeerProtocol::encode(name);

    std::string users = "/morvane/mailslot/u1/";
    for (const std::string& path : runtimeTree()) {
        bool inside = path == "/morvane" || path == "/morvane/mailslot" || path == "/morvane/mailslot/u1"
            || (path.compare(0, users.size(), users) == 0);
        EXPECT_TRUE(inside) << path;
        if (path.compare(0, users.size(), users) == 0) {
            std::string rest = path.substr(users.size());
            size_t slash = rest.find('/');
            // One folder per name, holding its lock file and nothing deeper.
            EXPECT_TRUE(slash == std::string::npos || rest.substr(slash) == "/.lock") << path;
        }
    }
    EXPECT_FALSE(fs::exists(root + "/escape"));
}

// Another user (another per-user id) neither reaches nor sees these names.
TEST_F(Streams, UsersAreSeparate)
{
    std::string otherConfig = root + "/other-config";
    mkdir(otherConfig.c_str(), 0700);
    mkdir((otherConfig + "/morvane").c_str(), 0700);
    TestFolders::writeFile(otherConfig + "/morvane/IAC", "UserID=U2\nMD5ID=k2\n");
    TellwirePeer other({"XDG_CONFIG_HOME=" + otherConfig});
    ASSERT_TRUE(other.ready());

    InterAppStream mine(LoString("box"));
    ASSERT_TRUE(mine.isOpen());
    EXPECT_EQ(other.command({"hold", "box"}), "ok");
    EXPECT_EQ(other.command({"send", "-", "box", "from U2"}), "ok");  // to its own user's box
    EXPECT_FALSE(mine.waitForMessage(200));
    EXPECT_EQ(other.command({"release", "box"}), "ok");
    EXPECT_EQ(other.command({"send", "-", "box", "from U2"}), "fail");
    EXPECT_EQ(other.command({"hold", "only-u2"}), "ok");
    EXPECT_TRUE(mine.isNameFree(LoString("only-u2")));
    EXPECT_FALSE(mine.send(LoString("only-u2"), LoString("from U1")));
}

}  // namespace
