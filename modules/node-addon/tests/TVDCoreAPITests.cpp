// The debugger core's API without the host: status codes, the session's
// start and end, local debug messages through the pump, the script
// services and path conversion. These run under the sanitizers as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ftw.h>
#include <future>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "core/InitTerm.h"
#include "modules/node-addon/source/TVDCoreAPI.h"
#include "objects/InterAppStream.h"
#include "objects/LoString.h"

namespace {

using LxObjects::LoString;
using Message = LxObjects::Tellwire::Message;

struct Delivery {
    int kind;
    std::string type, body, sender;
    LxObjects::u32 serial, result;
};
std::vector<Delivery> gDelivered;
int32_t (*gThen)() = nullptr;

int32_t record(int32_t kind, Message& m, LoString* reply) {
    gDelivered.push_back({kind, m.type.text(), m.body.text(), m.sender.text(), m.serialNumber, m.result});
    if (reply)
        reply->assign("seen");
    return gThen ? gThen() : 0;
}

// Each test gets its own per-user folders and an empty product list.
class TVDCore : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tvdcore-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        for (const char* dir : {"/home", "/run", "/config"})
            mkdir((root + dir).c_str(), 0700);
        setenv("HOME", (root + "/home").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("MORVANE_INSTALLED_PRODUCTS", (root + "/none.xml").c_str(), 1);
        gDelivered.clear();
        gThen = nullptr;
    }
    void TearDown() override {
        if (TVDIsInitialized())
            TVDTerminate();
        nftw(root.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
             FTW_DEPTH | FTW_PHYS);
    }

    // Pumps until count messages came or about five seconds passed.
    void pumpFor(size_t count) {
        for (int i = 0; i < 500 && gDelivered.size() < count; ++i) {
            EXPECT_EQ(TVDPumpMessages(), kTVDSuccess);
            usleep(10000);
        }
    }

    std::string root;
};

TEST_F(TVDCore, WithoutASessionEveryCallAnswers12) {
    std::string s, s2, s3, s4, s5;
    std::vector<std::string> list;
    bool flag = false;
    Message m;
    EXPECT_FALSE(TVDIsInitialized());
    EXPECT_EQ(TVDTerminate(), kTVDNotInitialized);
    EXPECT_EQ(TVDResolveApplicationSpecifier("a", s), kTVDNotInitialized);
    EXPECT_EQ(TVDGetInstalledApplicationSpecifiers(list), kTVDNotInitialized);
    EXPECT_EQ(TVDGetDisplayNameForApplication("a", s), kTVDNotInitialized);
    EXPECT_EQ(TVDGetApplicationInstalled("a", flag), kTVDNotInitialized);
    EXPECT_EQ(TVDGetApplicationRunning("a", flag), kTVDNotInitialized);
    EXPECT_EQ(TVDLaunchApplication("a", "", false), kTVDNotInitialized);
    EXPECT_EQ(TVDBringApplicationToFront("a"), kTVDNotInitialized);
    EXPECT_EQ(TVDSendDebugMessage(m, false), kTVDNotInitialized);
    EXPECT_EQ(TVDPumpMessages(), kTVDNotInitialized);
    EXPECT_EQ(TVDCheckSyntax("", "a", "", s), kTVDNotInitialized);
    EXPECT_EQ(TVDCompileToTVSBin("", "a", "", s), kTVDNotInitialized);
    EXPECT_EQ(TVDGetScriptDirectives("", "a", s, s2, s3, s4, s5), kTVDNotInitialized);
}

TEST_F(TVDCore, PathsAndURIsWithoutASession) {
    const std::string home = root + "/home";
    const std::pair<std::string, std::string> table[] = {
        {home + "/a b.tvs", "~/a%20b.tvs"},
        {"/opt/x/%41.tvs", "/opt/x/%2541.tvs"},
        {"/", "/"},
    };
    for (const auto& [path, uri] : table) {
        std::string out;
        EXPECT_EQ(TVDPathToUri(path, out), kTVDSuccess);
        EXPECT_EQ(out, uri) << path;
        EXPECT_EQ(TVDUriToPath(uri, out), kTVDSuccess);
        EXPECT_EQ(out, path) << uri;
    }
}

TEST_F(TVDCore, StartAndEndAgainAndAgain) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(TVDInitialize("tvdcore", std::to_string(i), record), kTVDSuccess);
        EXPECT_TRUE(TVDIsInitialized());
        EXPECT_EQ(TVDInitialize("tvdcore", "9", record), kTVDAlreadyInitialized);
        std::string uri;
        EXPECT_EQ(TVDPathToUri("/x", uri), kTVDSuccess);
        EXPECT_EQ(TVDTerminate(), kTVDSuccess);
        EXPECT_FALSE(TVDIsInitialized());
        EXPECT_EQ(TVDTerminate(), kTVDNotInitialized);
    }
}

TEST_F(TVDCore, AHeldDebugMailboxLeavesNoSession) {
    {
        LxObjects::InterAppStream holder(LoString("tvdcore_5-2.0#dbg"));
        ASSERT_TRUE(holder.isOpen());
        EXPECT_EQ(TVDInitialize("tvdcore", "5", record), kTVDSessionNotUp);
        EXPECT_FALSE(TVDIsInitialized());
        // The failed start took back the inits it raised.
        EXPECT_FALSE(LxCore::InitTerm::isInitialized());
        EXPECT_EQ(TVDTerminate(), kTVDNotInitialized);
    }
    EXPECT_EQ(TVDInitialize("tvdcore", "5", record), kTVDSuccess);
    EXPECT_EQ(TVDTerminate(), kTVDSuccess);
}

TEST_F(TVDCore, ALocalDebugMessageReachesTheCallback) {
    ASSERT_EQ(TVDInitialize("tvdcore", "6", record), kTVDSuccess);
    Message m;
    m.type.assign("Debug");
    m.responseRequest.assign("Result Error");
    m.target.assign("tvdcore_6-2.0#dbg");
    m.body.assign("ping me");
    ASSERT_EQ(TVDSendDebugMessage(m, false), kTVDSuccess);
    EXPECT_NE(m.serialNumber, 0u);
    pumpFor(2);
    ASSERT_EQ(gDelivered.size(), 2u);
    EXPECT_EQ(gDelivered[0].kind, 1);
    EXPECT_EQ(gDelivered[0].body, "ping me");
    // The answer to ourselves: a result whose field holds the kind number.
    EXPECT_EQ(gDelivered[1].kind, 3);
    EXPECT_EQ(gDelivered[1].type, "Tavrel");
    EXPECT_EQ(gDelivered[1].body, "seen");
    EXPECT_EQ(gDelivered[1].serial, m.serialNumber);
    EXPECT_EQ(gDelivered[1].result, 3u);
}

TEST_F(TVDCore, AnEndInsideThePumpWaitsForThePump) {
    ASSERT_EQ(TVDInitialize("tvdcore", "8", record), kTVDSuccess);
    Message m;
    m.type.assign("Debug");
    m.target.assign("tvdcore_8-2.0#dbg");
    m.body.assign("end now");
    ASSERT_EQ(TVDSendDebugMessage(m, false), kTVDSuccess);
    gThen = [] {
        EXPECT_EQ(TVDTerminate(), kTVDSuccess);
        EXPECT_FALSE(TVDIsInitialized());
        EXPECT_EQ(TVDInitialize("tvdcore", "8", record), kTVDSessionNotUp);
        return int32_t(0);
    };
    pumpFor(1);
    ASSERT_EQ(gDelivered.size(), 1u);
    EXPECT_FALSE(TVDIsInitialized());
    gThen = nullptr;
    EXPECT_EQ(TVDInitialize("tvdcore", "8", record), kTVDSuccess);
    EXPECT_EQ(TVDTerminate(), kTVDSuccess);
}

TEST_F(TVDCore, ScriptServices) {
    ASSERT_EQ(TVDInitialize("tvdcore", "7", record), kTVDSuccess);
    std::string report, out;
    EXPECT_EQ(TVDCheckSyntax("var a;", "/s/a.tvs", "", report), kTVDSuccess);
    EXPECT_EQ(report, "");
    EXPECT_EQ(TVDCheckSyntax("var a = ;", "/s/a.tvs", "", report), kTVDSuccess);
    EXPECT_NE(report.find("<line>1</line><col1>9</col1><col2>10</col2><file><![CDATA[/s/a.tvs]]></file>"),
              std::string::npos)
        << report;
    EXPECT_EQ(TVDCompileToTVSBin("var a;", "/s/a.tvs", "", out), kTVDSuccess);
    EXPECT_EQ(out.rfind("@TVSBIN@TV@2.0@", 0), 0u) << out;
    EXPECT_EQ(TVDCompileToTVSBin("a = @;", "/s/a.tvs", "", out), kTVDCompileError);
    EXPECT_EQ(out, "Syntax error(8)");

    std::string script = "keep", strict = "keep", target = "keep", engine = "keep", error = "keep";
    EXPECT_EQ(TVDGetScriptDirectives("var a;", "/s/a.tvs", script, strict, target, engine, error), kTVDSuccess);
    EXPECT_EQ(script + strict + target + engine + error, "keepkeepkeepkeepkeep");
    EXPECT_EQ(TVDGetScriptDirectives("#target app\n#strict on\n", "/s/a.tvs", script, strict, target, engine, error),
              kTVDSuccess);
    EXPECT_EQ(target, "app");
    EXPECT_EQ(strict, "on");
    EXPECT_EQ(engine, "keep");
    EXPECT_EQ(TVDGetScriptDirectives("#include \"nowhere.tvs\"\n", root + "/a.tvs", script, strict, target, engine,
                                     error),
              kTVDPreprocessorError);
    EXPECT_EQ(error, "File or folder does not exist: nowhere.tvs (48)");
}

// The waiting form of the turn asks its caller between waits, and gives up
// when told to: a thread being stopped never waits for its holder.
TEST(TVDTurnTest, TheWaitingFormAsksBetweenWaitsAndGivesUp) {
    struct Asked {
        int times = 0;
        int wantedFor = 0;  // answers true this many times
    };
    const TVDTurn::StillWanted ask = [](void* a) {
        auto* asked = static_cast<Asked*>(a);
        return ++asked->times <= asked->wantedFor;
    };
    {
        // Free: taken without asking, and again by its holder.
        Asked free;
        TVDTurn outer(ask, &free);
        TVDTurn inner(ask, &free);
        EXPECT_TRUE(outer.held());
        EXPECT_TRUE(inner.held());
        EXPECT_EQ(free.times, 0);
    }
    std::promise<void> holding, release;
    std::thread holder([&] {
        TVDTurn turn;
        holding.set_value();
        release.get_future().wait();
    });
    holding.get_future().wait();
    Asked busy{0, 2};
    {
        TVDTurn refused(ask, &busy);
        EXPECT_FALSE(refused.held());
    }
    // Two answers to wait on, a third to give up.
    EXPECT_EQ(busy.times, 3);
    // Still wanted: it waits until the holder is done.
    std::atomic<bool> taken{false};
    std::thread waiter([&] {
        Asked always{0, 1 << 30};
        TVDTurn turn(ask, &always);
        taken = turn.held();
    });
    release.set_value();
    holder.join();
    waiter.join();
    EXPECT_TRUE(taken);
}

// A caller that stopped wanting the turn while it waited does not keep it
// when it comes.
TEST(TVDTurnTest, ATurnNoLongerWantedWhenItComesIsGivenBack) {
    // Wanted until the holder is done with it.
    struct Wish {
        std::atomic<bool> holderDone{false};
        std::promise<void> waiting;
        bool asked = false;
    } wish;
    std::promise<void> holding;
    std::promise<void> release;
    std::thread holder([&] {
        TVDTurn turn;
        holding.set_value();
        release.get_future().wait();
        wish.holderDone = true;
    });
    holding.get_future().wait();
    std::atomic<bool> taken{true};
    std::thread waiter([&] {
        TVDTurn turn(
            [](void* w) {
                auto* wish = static_cast<Wish*>(w);
                if (!std::exchange(wish->asked, true))
                    wish->waiting.set_value();
                return !wish->holderDone.load();
            },
            &wish);
        taken = turn.held();
    });
    // Asked once, so it found the turn held.
    wish.waiting.get_future().wait();
    release.set_value();
    holder.join();
    waiter.join();
    EXPECT_FALSE(taken);
    TVDTurn free([](void*) { return false; }, nullptr);
    EXPECT_TRUE(free.held());
}

}  // namespace
