// A connector whose table the tests write, and a fixture that makes it the
// process-wide one with its own per-user folders and the user's locale
// en_US. Until the product scan exists this is how the table gets filled.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "objects/Connector.h"
#include "objects/InterAppStream.h"
#include "objects/Specifier.h"
#include "objects/TellwireContext.h"
#include "objects/platform/Mailbox.h"
#include "objects/tests/TestFolders.h"

namespace TestConnectors {

using LxObjects::LoString;
using LxObjects::TWConnectorAppInfo;

inline std::string str(const LoString& s)
{
    return std::string(s.text(), size_t(s.length()));
}

inline TWConnectorAppInfo record(const char* specifier, const char* path)
{
    TWConnectorAppInfo r;
    r.specifier.assign(specifier);
    r.path.assign(path);
    return r;
}

class TestConnector : public LxObjects::TellwireConnector {
public:
    explicit TestConnector(const char* name = "tester-1.0") : TellwireConnector(LoString(name)) {}

    // Installed under a made-up path.
    void install(const char* specifier) { records.push_back(record(specifier, "/opt/vandrel/app")); }

    bool storeAppInfo(const TWConnectorAppInfo& r) override
    {
        stored.push_back(r);
        return acceptStore;
    }
    bool unregisterTarget(const LoString& specifier, const LoString&) override
    {
        unregistered.push_back(str(specifier));
        return acceptUnregister;
    }
    bool addGroupEntry(const LoString&, const LoString&, const LoString*) override { return false; }
    bool removeGroupEntry(const LoString&, const LoString&, const LoString*) override { return false; }
    void getKind(LoString& out) override { out.assign("TEST"); }

    bool fillTable(LxObjects::TWConnectorAppInfoList& list, LxObjects::LoVector<LoString>& entries) override
    {
        ++fills;
        if (throwOnFill)
            throw std::runtime_error("product data unreadable");
        for (const TWConnectorAppInfo& r : records)
            list.addIfNew(new TWConnectorAppInfo(r));
        for (const std::string& g : groups)
            entries.append(new LoString(g.c_str()));
        list.resolveRedirects();
        return !failFill;
    }

    std::vector<TWConnectorAppInfo> records;
    std::vector<std::string> groups;
    std::vector<TWConnectorAppInfo> stored;
    std::vector<std::string> unregistered;
    bool acceptStore = true;
    bool acceptUnregister = false;
    bool failFill = false;
    bool throwOnFill = false;
    int fills = 0;
};

// The connector that the factory hands out next.
inline TestConnector*& pendingConnector()
{
    static TestConnector* pending = nullptr;
    return pending;
}

inline LxObjects::TellwireConnector* testFactory(const LoString&, const LoString&)
{
    TestConnector* c = pendingConnector();
    pendingConnector() = nullptr;
    return c;
}

class InstalledApps : public TestFolders::UserFolders {
protected:
    void SetUp() override
    {
        UserFolders::SetUp();
        setenv("LC_ALL", "en_US.UTF-8", 1);
        pendingConnector() = new TestConnector;
        LxObjects::setConnectorFactory(testFactory);
        LxObjects::createGlobalConnector(LoString("tester-1.0"));
        connector = static_cast<TestConnector*>(LxObjects::getGlobalConnector());
    }

    void TearDown() override
    {
        LxObjects::setCurrentContext(nullptr);
        LxObjects::closePingStream();
        LxObjects::destroyGlobalConnector();
        LxObjects::setConnectorFactory(nullptr);
        held.clear();
        unsetenv("LC_ALL");
        UserFolders::TearDown();
    }

    // Makes a name answer the running test: somebody holds its mailbox.
    void hold(const char* name)
    {
        held.emplace_back(new LxObjects::Platform::Mailbox);
        LoString user = LxObjects::getUserId();
        ASSERT_TRUE(held.back()->create(std::string(user.text()), name)) << name;
    }

    std::string normalized(const char* text)
    {
        return str(LxObjects::Tellwire::Specifier(text, true));
    }

    TestConnector* connector = nullptr;
    std::vector<std::unique_ptr<LxObjects::Platform::Mailbox>> held;
};

}  // namespace TestConnectors
