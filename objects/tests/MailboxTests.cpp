#include "objects/platform/Mailbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "objects/tests/ChildProcess.h"


using LxObjects::Platform::Mailbox;
namespace fs = std::filesystem;

namespace {

// Same bytes as the peer's "sendsize".
std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++)
        s[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
    return s;
}

// A writer's unfinished file as writers name it.
std::string partialName(pid_t pid, int seq) {
    char name[32];
    std::snprintf(name, sizeof name, "tmp-%010d-%010d", static_cast<int>(pid), seq);
    return name;
}

// A clock the test moves by hand.
unsigned long long fakeNowNs = 0;
unsigned long long fakeClock() {
    return fakeNowNs;
}

// The mailbox peer program as a child process; killed at once when the test
// lets go of it.
class Peer : public TestPeers::ChildProcess {
public:
    explicit Peer(const std::vector<std::string>& args) : ChildProcess(MAILBOX_PEER, args) {}
};

// Every test gets its own runtime and home folders.
class MailboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/mailbox-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        base = tmpl;
        run = base + "/run";
        ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
        ASSERT_EQ(chmod(run.c_str(), 0700), 0);
        fs::create_directories(base + "/home");
        setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        setenv("HOME", (base + "/home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
        setenv("MORVANE_INSTALLED_PRODUCTS", (base + "/products.xml").c_str(), 1);
    }

    void TearDown() override {
        std::error_code ec;
        fs::remove_all(base, ec);
    }

    // The files in a mailbox folder.
    std::set<std::string> filesOf(const std::string& user, const std::string& name) {
        std::set<std::string> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(Mailbox::folderPath(user, name), ec))
            out.insert(e.path().filename().string());
        return out;
    }

    // Sets a file's times seconds into the past.
    void ageFile(const std::string& user, const std::string& name, const std::string& file, int seconds) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        setFileTime(user, name, file, (static_cast<unsigned long long>(now.tv_sec) - seconds) * kSecond);
    }

    void setFileTime(const std::string& user, const std::string& name, const std::string& file,
                     unsigned long long ns) {
        struct timespec at = {static_cast<time_t>(ns / kSecond), static_cast<long>(ns % kSecond)};
        const struct timespec times[2] = {at, at};
        ASSERT_EQ(utimensat(AT_FDCWD, (Mailbox::folderPath(user, name) + "/" + file).c_str(), times,
                            AT_SYMLINK_NOFOLLOW), 0) << file;
    }

    static constexpr unsigned long long kSecond = 1000000000ULL;

    std::string base, run;
};

}  // namespace

TEST(MailboxNames, Encoding) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"App", "app"},
        {"app_2-10.0-en_us#thread", "app_2-10.0-en_us#thread"},
        {"a/b", "a%2Fb"},
        {"..", "%2E."},
        {".lock", "%2Elock"},
        {"a.b", "a.b"},
        {"A B", "a%20b"},
        {std::string("a\0b", 3), "a%00b"},
        {"\xc3\xa9", "%C3%A9"},
        {"~x", "%7Ex"},
        {"%2E", "%252e"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Mailbox::encodeName(c.in), c.out) << c.in;
    EXPECT_EQ(Mailbox::encodeUserId(""), "_");
    EXPECT_EQ(Mailbox::encodeUserId("S-1/X"), "s-1%2Fx");
}

TEST(MailboxNames, LongNamesAreHashed) {
    EXPECT_EQ(Mailbox::encodeName(std::string(200, 'a')), std::string(200, 'a'));
    EXPECT_EQ(Mailbox::encodeName(std::string(66, '/') + "ab"), [] {
        std::string s;
        for (int i = 0; i < 66; i++)
            s += "%2F";
        return s + "ab";
    }());
    // The digest is of the folded name, so case does not matter here either.
    EXPECT_EQ(Mailbox::encodeName(std::string(300, 'a')), "~4e5475d125a33c6190718e75adc1b704");
    EXPECT_EQ(Mailbox::encodeName(std::string(300, 'A')), "~4e5475d125a33c6190718e75adc1b704");
    std::string over = Mailbox::encodeName(std::string(67, '/'));
    ASSERT_EQ(over.size(), 33u);
    EXPECT_EQ(over[0], '~');
    EXPECT_EQ(over.find_first_not_of("0123456789abcdef", 1), std::string::npos);
}

TEST_F(MailboxTest, CreateFailsWhileThisProcessHoldsTheName) {
    Mailbox a, b;
    EXPECT_FALSE(Mailbox::isHeld("u", "box"));
    ASSERT_TRUE(a.create("u", "box"));
    EXPECT_TRUE(a.isOpen());
    EXPECT_TRUE(Mailbox::isHeld("u", "box"));
    EXPECT_FALSE(b.create("u", "box"));
    EXPECT_FALSE(b.isOpen());
    a.close();
    EXPECT_FALSE(Mailbox::isHeld("u", "box"));
    ASSERT_TRUE(b.create("u", "box"));
    EXPECT_FALSE(a.create("u", "box"));
}

TEST_F(MailboxTest, NameFreeWhenHolderClosesOrDies) {
    for (bool killIt : {false, true}) {
        Peer peer({"hold", "u", "box"});
        ASSERT_TRUE(peer.started());
        std::string line;
        ASSERT_TRUE(peer.readLine(line));
        ASSERT_EQ(line, "ready");
        Mailbox m;
        EXPECT_TRUE(Mailbox::isHeld("u", "box"));
        EXPECT_FALSE(m.create("u", "box"));
        if (killIt) {
            peer.kill(SIGKILL);
            EXPECT_EQ(peer.wait(), 128 + SIGKILL);
        } else {
            peer.closeInput();
            EXPECT_EQ(peer.wait(), 0);
        }
        EXPECT_FALSE(Mailbox::isHeld("u", "box"));
        EXPECT_TRUE(m.create("u", "box"));
    }
}

TEST_F(MailboxTest, PeerCannotTakeAHeldName) {
    Mailbox m;
    ASSERT_TRUE(m.create("u", "box"));
    Peer peer({"hold", "u", "box"});
    std::string line;
    ASSERT_TRUE(peer.readLine(line));
    EXPECT_EQ(line, "busy");
    EXPECT_EQ(peer.wait(), 1);
}

TEST_F(MailboxTest, ProbingNeitherCreatesNorTakes) {
    EXPECT_FALSE(Mailbox::isHeld("u", "never"));
    EXPECT_FALSE(Mailbox::send("u", "never", "x"));
    EXPECT_FALSE(fs::exists(run + "/morvane"));

    Peer peer({"hold", "u", "box"});
    std::string line;
    ASSERT_TRUE(peer.readLine(line));
    for (int i = 0; i < 50; i++)
        EXPECT_TRUE(Mailbox::isHeld("u", "box"));
    peer.closeInput();
    EXPECT_EQ(peer.wait(), 0);
    EXPECT_FALSE(Mailbox::isHeld("u", "box"));
    Mailbox m;
    EXPECT_TRUE(m.create("u", "box"));
}

TEST_F(MailboxTest, SendFailsWithoutHolder) {
    Mailbox m;
    ASSERT_TRUE(m.create("u", "box"));
    m.close();
    EXPECT_FALSE(Mailbox::send("u", "box", "lost"));
    EXPECT_EQ(filesOf("u", "box"), std::set<std::string>{".lock"});
}

TEST_F(MailboxTest, EmptyNameIsRefused) {
    Mailbox m;
    EXPECT_FALSE(m.create("u", ""));
    EXPECT_FALSE(Mailbox::isHeld("u", ""));
    EXPECT_FALSE(Mailbox::send("u", "", "x"));
    EXPECT_EQ(Mailbox::folderPath("u", ""), "");
}

TEST_F(MailboxTest, EachMessageWholeOnceInOrder) {
    Mailbox m;
    std::string out = "junk";
    EXPECT_FALSE(m.hasMessage());
    EXPECT_FALSE(m.readOne(out));
    ASSERT_TRUE(m.create("u", "box"));
    EXPECT_FALSE(m.hasMessage());
    EXPECT_FALSE(m.readOne(out));

    const std::vector<std::string> sent = {"first", "", std::string("bin\0\xff\n", 6), "last"};
    for (const std::string& s : sent)
        ASSERT_TRUE(Mailbox::send("u", "box", s));
    for (const std::string& s : sent) {
        EXPECT_TRUE(m.hasMessage());
        ASSERT_TRUE(m.readOne(out));
        EXPECT_EQ(out, s);
    }
    EXPECT_FALSE(m.hasMessage());
    EXPECT_FALSE(m.readOne(out));
    EXPECT_EQ(filesOf("u", "box"), std::set<std::string>{".lock"});
}

TEST_F(MailboxTest, ConcurrentWritersNeverInterleave) {
    Mailbox m;
    ASSERT_TRUE(m.create("u", "box"));
    const int writers = 4, each = 200;
    std::vector<std::unique_ptr<Peer>> peers;
    for (int w = 0; w < writers; w++)
        peers.push_back(std::make_unique<Peer>(
            std::vector<std::string>{"send", "u", "box", std::to_string(each), "w" + std::to_string(w)}));

    // Read while they write, until all came or the writers ended and nothing
    // is left.
    auto allEnded = [&] {
        return std::all_of(peers.begin(), peers.end(), [](const auto& p) { return p->wait(0) >= 0; });
    };
    std::map<std::string, int> next;
    int received = 0;
    std::string msg;
    while (received < writers * each) {
        if (!m.readOne(msg)) {
            if (allEnded() && !m.hasMessage())
                break;
            m.wait(20);
            continue;
        }
        received++;
        size_t a = msg.find(':'), b = msg.find(':', a + 1);
        ASSERT_NE(b, std::string::npos) << msg.substr(0, 40);
        std::string tag = msg.substr(0, a);
        int i = std::stoi(msg.substr(a + 1, b - a - 1));
        EXPECT_EQ(i, next[tag]) << tag;
        EXPECT_EQ(msg.substr(b + 1), std::string(size_t(i), 'x')) << tag << " " << i;
        next[tag] = i + 1;
    }
    EXPECT_EQ(received, writers * each);
    for (auto& p : peers)
        EXPECT_EQ(p->wait(), 0);
    for (int w = 0; w < writers; w++)
        EXPECT_EQ(next["w" + std::to_string(w)], each);
    EXPECT_FALSE(m.readOne(msg));
}

TEST_F(MailboxTest, ThreadsOfOneWriterKeepTheirOrder) {
    Mailbox m;
    ASSERT_TRUE(m.create("u", "box"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; i++)
                EXPECT_TRUE(Mailbox::send("u", "box", "t" + std::to_string(t) + ":" + std::to_string(i)));
        });
    }
    for (auto& th : threads)
        th.join();
    std::map<std::string, int> next;
    std::string msg;
    int received = 0;
    while (m.readOne(msg)) {
        size_t a = msg.find(':');
        std::string tag = msg.substr(0, a);
        EXPECT_EQ(std::stoi(msg.substr(a + 1)), next[tag]++);
        received++;
    }
    EXPECT_EQ(received, 800);
}

TEST_F(MailboxTest, SlowReaderNeverBlocksWriter) {
    Mailbox m;
    ASSERT_TRUE(m.create("u", "box"));
    Peer peer({"send", "u", "box", "2000", "w"});
    ASSERT_EQ(peer.wait(), 0) << "the writer finished without anyone reading";
    std::string msg;
    for (int i = 0; i < 2000; i++) {
        ASSERT_TRUE(m.readOne(msg));
        EXPECT_EQ(msg, "w:" + std::to_string(i) + ":" + std::string(size_t(i), 'x'));
    }
    EXPECT_FALSE(m.hasMessage());
}

TEST_F(MailboxTest, ReadsSkipWhatIsNotAMessageWithoutBlocking) {
    struct Watchdog {   // a blocking read ends the test process
        Watchdog() { alarm(30); }
        ~Watchdog() { alarm(0); }
    } watchdog;
    Mailbox m;
    ASSERT_TRUE(m.create("u", "box"));
    std::string dir = Mailbox::folderPath("u", "box");
    std::string outside = base + "/outside";
    { std::FILE* f = std::fopen(outside.c_str(), "w"); std::fputs("secret", f); std::fclose(f); }

    const std::string low = "00000000000000000001-0000000001-000000000";
    ASSERT_EQ(mkfifo((dir + "/" + low + "1.msg").c_str(), 0600), 0);
    ASSERT_EQ(symlink(outside.c_str(), (dir + "/" + low + "2.msg").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/" + low + "3.msg").c_str(), 0700), 0);
    fs::create_directories(dir + "/" + low + "4.msg/full");
    { std::FILE* f = std::fopen((dir + "/tmp-1-1").c_str(), "w"); std::fputs("unfinished", f); std::fclose(f); }
    ASSERT_TRUE(Mailbox::send("u", "box", "real"));

    std::string msg;
    EXPECT_TRUE(m.hasMessage());
    ASSERT_TRUE(m.readOne(msg));
    EXPECT_EQ(msg, "real");
    EXPECT_FALSE(m.readOne(msg));
    EXPECT_FALSE(m.hasMessage()) << "a folder that cannot be removed is dropped once";
    EXPECT_EQ(filesOf("u", "box"), (std::set<std::string>{".lock", "tmp-1-1", low + "4.msg"}));
    EXPECT_TRUE(fs::exists(outside));
    ASSERT_TRUE(Mailbox::send("u", "box", "after"));
    ASSERT_TRUE(m.readOne(msg));
    EXPECT_EQ(msg, "after");
}

TEST_F(MailboxTest, TenMiBMessageArrivesWhole) {
    Mailbox m;
    ASSERT_TRUE(m.create("u", "box"));
    const size_t size = size_t(10) << 20;
    Peer peer({"sendsize", "u", "box", std::to_string(size)});
    ASSERT_EQ(peer.wait(), 0);
    std::string msg;
    ASSERT_TRUE(m.readOne(msg));
    ASSERT_EQ(msg.size(), size);
    EXPECT_TRUE(msg == pattern(size));
}

TEST_F(MailboxTest, OversizedMessagesRefusedAndDropped) {
    Mailbox m;
    ASSERT_TRUE(m.create("u", "box"));
    std::string big(Mailbox::kMaxMessage + 1, 'b');
    EXPECT_FALSE(Mailbox::send("u", "box", big));
    EXPECT_EQ(filesOf("u", "box"), std::set<std::string>{".lock"});

    big.pop_back();
    ASSERT_TRUE(Mailbox::send("u", "box", big));
    std::string msg;
    ASSERT_TRUE(m.readOne(msg));
    EXPECT_EQ(msg.size(), Mailbox::kMaxMessage);
    msg.clear();
    big.clear();
    big.shrink_to_fit();

    // Planted by hand, sparse, and ahead of a real message.
    std::string planted = Mailbox::folderPath("u", "box") + "/00000000000000000001-0000000001-0000000001.msg";
    int fd = open(planted.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t(Mailbox::kMaxMessage) + 1), 0);
    close(fd);
    ASSERT_TRUE(Mailbox::send("u", "box", "after"));
    ASSERT_TRUE(m.readOne(msg));
    EXPECT_EQ(msg, "after");
    EXPECT_FALSE(fs::exists(planted));
}

TEST_F(MailboxTest, NoNameReachesOutsideTheUserFolder) {
    const std::vector<std::string> names = {
        "..", ".", "/", "../../escape", "a/../../b", std::string("a\0b", 3), std::string(1, '\0'),
        std::string(300, '/'), std::string(300, '.'), ".lock", ".hidden", "~x", "%2E", "\xff\xfe", "a",
    };
    const std::vector<std::string> users = {"u", "..", "/etc", ""};
    std::set<std::string> folders;
    std::vector<std::unique_ptr<Mailbox>> boxes;
    for (const std::string& user : users) {
        std::string userFolder = run + "/morvane/mailslot/" + Mailbox::encodeUserId(user);
        for (const std::string& name : names) {
            auto box = std::make_unique<Mailbox>();
            ASSERT_TRUE(box->create(user, name)) << name;
            std::string folder = Mailbox::folderPath(user, name);
            EXPECT_EQ(fs::path(folder).parent_path().string(), userFolder) << name;
            EXPECT_TRUE(folders.insert(folder).second) << "two names share " << folder;
            ASSERT_TRUE(Mailbox::send(user, name, "to " + name));
            std::string msg;
            ASSERT_TRUE(box->readOne(msg));
            EXPECT_EQ(msg, "to " + name);
            boxes.push_back(std::move(box));
        }
    }
    // Nothing but the expected folders and lock files exists under the runtime folder.
    for (const auto& e : fs::recursive_directory_iterator(run)) {
        std::string rel = fs::relative(e.path(), run).string();
        size_t depth = std::count(rel.begin(), rel.end(), '/');
        if (depth <= 3) {
            EXPECT_TRUE(e.is_directory() && !e.is_symlink()) << rel;
            EXPECT_EQ(e.status().permissions() & fs::perms::all, fs::perms::owner_all) << rel;
        } else {
            EXPECT_TRUE(depth == 4 && e.path().filename() == ".lock") << rel;
        }
        if (depth == 3) {
            EXPECT_TRUE(folders.count(e.path().string())) << rel;
        }
        EXPECT_EQ(rel.rfind("morvane", 0), 0u) << rel;
    }
}

TEST_F(MailboxTest, LinksInsideTheRuntimeFolderAreNotFollowed) {
    std::string elsewhere = base + "/elsewhere";
    fs::create_directories(elsewhere + "/mailslot/u/box");
    ASSERT_EQ(symlink(elsewhere.c_str(), (run + "/morvane").c_str()), 0);
    Mailbox m;
    EXPECT_FALSE(m.create("u", "box"));
    EXPECT_FALSE(Mailbox::send("u", "box", "x"));
    EXPECT_TRUE(fs::is_empty(elsewhere + "/mailslot/u/box"));
}

TEST_F(MailboxTest, NamesAndUserIdsAreCaseFolded) {
    Mailbox m, other;
    ASSERT_TRUE(m.create("User", "App"));
    EXPECT_TRUE(Mailbox::isHeld("user", "APP"));
    EXPECT_FALSE(other.create("USER", "aPp"));
    ASSERT_TRUE(Mailbox::send("uSeR", "app", "hello"));
    std::string msg;
    ASSERT_TRUE(m.readOne(msg));
    EXPECT_EQ(msg, "hello");
}

TEST_F(MailboxTest, UsersAreSeparate) {
    Mailbox alice, bob;
    ASSERT_TRUE(alice.create("alice", "box"));
    ASSERT_TRUE(bob.create("bob", "box"));
    ASSERT_TRUE(Mailbox::send("alice", "box", "for alice"));
    EXPECT_FALSE(bob.hasMessage());
    std::string msg;
    ASSERT_TRUE(alice.readOne(msg));
    EXPECT_EQ(msg, "for alice");
}

TEST_F(MailboxTest, LaunchedChildInheritsNoMailbox) {
    auto m = std::make_unique<Mailbox>();
    ASSERT_TRUE(m->create("u", "box"));
    Peer child({"linger"});
    std::string line;
    std::vector<std::string> targets;
    while (child.readLine(line) && line != "ready")
        targets.push_back(line);
    ASSERT_EQ(line, "ready");
    for (const std::string& t : targets) {
        EXPECT_EQ(t.find(run), std::string::npos) << t;
        EXPECT_EQ(t.find("inotify"), std::string::npos) << t;
    }
    m.reset();
    EXPECT_FALSE(Mailbox::isHeld("u", "box")) << "the child, still running, holds nothing";
    Mailbox again;
    EXPECT_TRUE(again.create("u", "box"));
    child.closeInput();
    EXPECT_EQ(child.wait(), 0);
}

TEST_F(MailboxTest, CreationClearsLeftovers) {
    Mailbox m;
    ASSERT_TRUE(m.create("u", "box"));
    ASSERT_TRUE(Mailbox::send("u", "box", "old"));
    m.close();
    std::string dir = Mailbox::folderPath("u", "box");
    { std::FILE* f = std::fopen((dir + "/tmp-9-9").c_str(), "w"); std::fclose(f); }
    ASSERT_TRUE(m.create("u", "box"));
    EXPECT_FALSE(m.hasMessage());
    EXPECT_EQ(filesOf("u", "box"), std::set<std::string>{".lock"});
}

// A sender killed mid-write leaves its tmp file; the holder's scans remove it
// once the writer is gone and the file is older than a second.
TEST_F(MailboxTest, KilledSendersPartialFileGoes) {
    Mailbox m;
    ASSERT_TRUE(m.create("u", "box"));
    Peer peer({"partial", "u", "box", std::to_string(2 << 20)});
    std::string line;
    ASSERT_TRUE(peer.readLine(line));
    ASSERT_EQ(line, "ready");
    const std::string partial = partialName(peer.pid(), 0);
    ASSERT_EQ(filesOf("u", "box"), (std::set<std::string>{".lock", partial}));
    peer.kill(SIGKILL);
    ASSERT_EQ(peer.wait(), 128 + SIGKILL);
    ageFile("u", "box", partial, 10);

    std::string msg;
    for (int scan = 0; scan < 3; scan++) {
        EXPECT_FALSE(m.hasMessage());
        EXPECT_FALSE(m.readOne(msg));
    }
    EXPECT_EQ(filesOf("u", "box"), std::set<std::string>{".lock"});
    ASSERT_TRUE(Mailbox::send("u", "box", "after"));
    ASSERT_TRUE(m.readOne(msg));
    EXPECT_EQ(msg, "after");
}

// Sweeps keep what a live writer or a young file may still finish, and
// folders and the lock file; they come at most once a second, on the
// holder's clock.
TEST_F(MailboxTest, SweepsSpareLiveWritersYoungFilesAndFolders) {
    constexpr unsigned long long kMs = 1000000ULL;
    Mailbox m;
    m.setClock(fakeClock);
    ASSERT_TRUE(m.create("u", "box"));
    auto startPartial = [](std::unique_ptr<Peer>& peer) {
        peer = std::make_unique<Peer>(std::vector<std::string>{"partial", "u", "box", "100"});
        std::string line;
        ASSERT_TRUE(peer->readLine(line));
        ASSERT_EQ(line, "ready");
    };
    std::unique_ptr<Peer> dead, live;
    startPartial(dead);
    startPartial(live);
    dead->kill(SIGKILL);
    ASSERT_EQ(dead->wait(), 128 + SIGKILL);

    const unsigned long long t = static_cast<unsigned long long>(time(nullptr)) * kSecond;
    const std::string old = partialName(dead->pid(), 0), young = partialName(dead->pid(), 1),
                      folder = partialName(dead->pid(), 2), alive = partialName(live->pid(), 0);
    { std::FILE* f = std::fopen((Mailbox::folderPath("u", "box") + "/" + young).c_str(), "w"); std::fclose(f); }
    ASSERT_EQ(mkdir((Mailbox::folderPath("u", "box") + "/" + folder).c_str(), 0700), 0);
    setFileTime("u", "box", old, t - 10 * kSecond);
    setFileTime("u", "box", young, t - 500 * kMs);
    setFileTime("u", "box", folder, t - 10 * kSecond);
    setFileTime("u", "box", alive, t - 10 * kSecond);

    // At each clock reading, the files left after a scan and the sweeps made so far.
    const struct Step {
        unsigned long long at;
        bool killLive;
        std::set<std::string> left;
        unsigned long sweeps;
    } steps[] = {
        {t, false, {".lock", young, folder, alive}, 1},
        {t + 999 * kMs, false, {".lock", young, folder, alive}, 1},
        {t + 1000 * kMs, false, {".lock", folder, alive}, 2},
        {t + 1500 * kMs, true, {".lock", folder, alive}, 2},
        {t + 2000 * kMs, false, {".lock", folder}, 3},
        {t, false, {".lock", folder}, 4},   // a clock set back sweeps rather than waits
    };
    std::string msg;
    for (const Step& step : steps) {
        if (step.killLive) {
            live->kill(SIGKILL);
            ASSERT_EQ(live->wait(), 128 + SIGKILL);
        }
        fakeNowNs = step.at;
        for (int scan = 0; scan < 3; scan++)
            EXPECT_FALSE(m.readOne(msg));
        EXPECT_EQ(filesOf("u", "box"), step.left) << (step.at - t) / kMs << " ms";
        EXPECT_EQ(m.sweepCount(), step.sweeps) << (step.at - t) / kMs << " ms";
    }
    ASSERT_TRUE(Mailbox::send("u", "box", "after"));
    ASSERT_TRUE(m.readOne(msg));
    EXPECT_EQ(msg, "after");
}

TEST_F(MailboxTest, WaitReturnsWhenAMessageArrives) {
    Mailbox m;
    EXPECT_FALSE(m.wait(10));
    ASSERT_TRUE(m.create("u", "box"));
    EXPECT_FALSE(m.wait(30));
    std::thread writer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Mailbox::send("u", "box", "wake");
    });
    // No time limit can end this wait: only the message does.
    EXPECT_TRUE(m.wait(INT_MAX));
    writer.join();
    std::string msg;
    ASSERT_TRUE(m.readOne(msg));
    EXPECT_EQ(msg, "wake");
}

TEST_F(MailboxTest, UnsafeRuntimeFolderIsRefused) {
    std::string good = base + "/good";
    ASSERT_EQ(mkdir(good.c_str(), 0700), 0);
    struct Setup {
        const char* what;
        std::string path;
    };
    std::vector<Setup> setups;
    for (auto [what, mode] : {std::pair{"group-writable", 0770}, {"other-writable", 0702}, {"sticky shared", 01777}}) {
        std::string p = base + "/" + what;
        ASSERT_EQ(mkdir(p.c_str(), 0700), 0);
        ASSERT_EQ(chmod(p.c_str(), static_cast<mode_t>(mode)), 0);
        setups.push_back({what, p});
    }
    ASSERT_EQ(symlink(good.c_str(), (base + "/link").c_str()), 0);
    setups.push_back({"symbolic link", base + "/link"});
    setups.push_back({"missing", base + "/missing"});
    { std::FILE* f = std::fopen((base + "/file").c_str(), "w"); std::fclose(f); }
    setups.push_back({"regular file", base + "/file"});
    if (geteuid() == 0) {
        std::string p = base + "/foreign";
        ASSERT_EQ(mkdir(p.c_str(), 0700), 0);
        ASSERT_EQ(chown(p.c_str(), 54321, 54321), 0);
        setups.push_back({"owned by another user", p});
    }

    for (const Setup& s : setups) {
        setenv("XDG_RUNTIME_DIR", s.path.c_str(), 1);
        Mailbox m;
        EXPECT_EQ(Mailbox::runtimeFolder(), "") << s.what;
        EXPECT_FALSE(m.create("u", "box")) << s.what;
        EXPECT_FALSE(Mailbox::isHeld("u", "box")) << s.what;
        EXPECT_FALSE(Mailbox::send("u", "box", "x")) << s.what;
        EXPECT_FALSE(fs::exists(s.path + "/morvane")) << s.what;
    }
    EXPECT_FALSE(fs::exists(good + "/morvane"));
    setenv("XDG_RUNTIME_DIR", good.c_str(), 1);
    EXPECT_EQ(Mailbox::runtimeFolder(), good);
    Mailbox m;
    EXPECT_TRUE(m.create("u", "box"));
}

TEST_F(MailboxTest, RuntimeFolderWithoutXdgIsTheUsersRunFolder) {
    std::string runUser = "/run/user/" + std::to_string(geteuid());
    struct stat st;
    if (lstat(runUser.c_str(), &st) != 0)
        GTEST_SKIP() << "no " << runUser << "; the /tmp fallback is not tried on a real system";
    setenv("XDG_RUNTIME_DIR", "", 1);
    std::string r = Mailbox::runtimeFolder();
    EXPECT_TRUE(r == runUser || r.empty()) << r;
}
