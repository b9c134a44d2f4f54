// The environment written and read on one thread while the host thread
// pumps a Tellwire context whose threads read it too (mailboxes, product
// list, per-user values). Built with ThreadSanitizer: every reader must
// copy under the environment lock.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "base/platform/EnvironmentLock.h"
#include "core/platform/Environment.h"
#include "core/tests/TestSupport.h"
#include "objects/Message.h"
#include "objects/Tellwire.h"

// getenv and setenv run inside the C library, where ThreadSanitizer sees
// nothing. Here they stand in for the environment with one variable that
// getenv reads and setenv writes, so a getenv that no lock orders against a
// setenv is reported as a race: whoever calls them, in whichever library.
namespace {
int environmentShadow;

template <class F>
F realFunction(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" char* getenv(const char* name) {
    static const auto real = realFunction<char* (*)(const char*)>("getenv");
    const int seen = environmentShadow;
    asm volatile("" : : "r"(seen));
    return real(name);
}

extern "C" int setenv(const char* name, const char* value, int overwrite) {
    static const auto real = realFunction<int (*)(const char*, const char*, int)>("setenv");
    environmentShadow++;
    return real(name, value, overwrite);
}

extern "C" int unsetenv(const char* name) {
    static const auto real = realFunction<int (*)(const char*)>("unsetenv");
    environmentShadow++;
    return real(name);
}

namespace {

using LxObjects::LoString;
using LxObjects::Tellwire;

class Counter : public Tellwire::MsgHandler {
public:
    explicit Counter(std::atomic<int>& delivered) : delivered(delivered) {}
    int handle(int, Tellwire::Message&, LoString* reply) override {
        delivered++;
        if (reply)
            reply->assign("ok");
        return 0;
    }

private:
    std::atomic<int>& delivered;
};

// Own folders for the facility, set before any thread starts.
class OwnFolders {
public:
    OwnFolders() {
        char pattern[] = "/tmp/tvs-tsan-XXXXXX";
        root = mkdtemp(pattern);
        for (const char* sub : {"/home", "/run", "/config"})
            mkdir((root + sub).c_str(), 0700);
        setenv("HOME", (root + "/home").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("MORVANE_INSTALLED_PRODUCTS", (root + "/products.xml").c_str(), 1);
    }
    ~OwnFolders() { std::filesystem::remove_all(root); }

    std::string root;
};

TEST(EnvironmentBesidePump, SetenvAndGetenvLoopWhileAContextPumps) {
    OwnFolders folders;
    LxCore::CoreStarted core;
    ASSERT_TRUE(LxObjects::tellwireInit(LoString("tester-1.0"), true));
    std::atomic<int> delivered{0};
    Tellwire* endpoint = new Tellwire("tester-1.0#main", new Counter(delivered), true, nullptr);
    ASSERT_TRUE(Tellwire::isWorking(endpoint));

    std::atomic<bool> done{false};
    std::thread writer([&] {
        LxCore::String out;
        for (int i = 0; i < 3000; i++) {
            LxCore::setEnvironmentVariable(LxCore::String("TVS_TSAN_VALUE"),
                                           LxCore::String(i % 2 ? "short" : "a value long enough to move"));
            LxCore::getEnvironmentVariable(LxCore::String("TVS_TSAN_VALUE"), out);
            LxCore::getEnvironmentVariable(LxCore::String("XDG_RUNTIME_DIR"), out);
        }
        done = true;
    });

    // The host thread: messages to itself, pumped in and out.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int sent = 0;
    while ((!done || delivered == 0) && std::chrono::steady_clock::now() < limit) {
        Tellwire::Message message;
        message.target.assign("tester-1.0#main");
        message.body.assign("ping");
        if (Tellwire::sendMessage(endpoint, message, false, 0, nullptr))
            sent++;
        LxObjects::tellwirePump(LxObjects::kPumpAll, nullptr);
        LxBase::environmentValue("HOME");
    }
    writer.join();
    EXPECT_TRUE(done);
    EXPECT_GT(sent, 0);
    EXPECT_GT(delivered, 0) << "the context pumped nothing";
    EXPECT_EQ(LxBase::environmentValue("TVS_TSAN_VALUE"), "short");
    delete endpoint;
    LxObjects::tellwireTerminate();
    unsetenv("TVS_TSAN_VALUE");
}

}  // namespace
