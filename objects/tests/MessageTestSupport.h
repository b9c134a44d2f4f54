// Helpers of the message and queue tests: reading texts from buffers of
// their exact size (so that a read past the end shows under the address
// sanitizer), a context with a stand-in for the main endpoint's hooks that
// records what would be sent and forwarded, a connector with one record for the own application,
// and a fixture with its own per-user folders and digest key.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestFolders.h"
#include "objects/Connector.h"
#include "objects/Message.h"
#include "objects/MessageQueue.h"
#include "objects/TellwireContext.h"

namespace MessageTestSupport {

using LxObjects::LoString;
using Message = LxObjects::Tellwire::Message;

inline std::string str(const LoString& s)
{
    return std::string(s.text(), size_t(s.length()));
}

inline LoString lo(const std::string& s)
{
    return LoString(s.data(), int(s.size()));
}

// Reads text from a copy of exactly its size, without a NUL after it.
inline int parseText(Message& message, const std::string& text)
{
    std::unique_ptr<char[]> exact(new char[text.size() ? text.size() : 1]);
    std::copy(text.begin(), text.end(), exact.get());
    return LxObjects::parseMessage(message, exact.get(), int(text.size()));
}

// The value of the "Timestamp: " line of a written text; -1 when missing.
inline long long writtenTimestamp(const std::string& text)
{
    size_t at = text.find("\nTimestamp: ");
    if (at == std::string::npos)
        return -1;
    return std::stoll(text.substr(at + 12));
}

// A current context, and a stand-in for the main endpoint that records the
// replies sent through it and the reports handed to forwarding handlers.
class RecordingHooks {
public:
    explicit RecordingHooks(bool withContext = true, bool withForwarder = true)
        : withForwarder_(withForwarder)
    {
        current() = this;
        table_.sendThroughMainEndpoint = [](Message& m) {
            current()->sent.emplace_back(new Message(m));
            if (current()->loopback) {
                Message* copy = new Message(m);
                if (!current()->loopback->enqueueMessage(copy))
                    delete copy;
            }
            return current()->sendResult;
        };
        table_.hasForwarder = [](const char* kind) {
            return current()->withForwarder_ && std::string(kind) == "FWDMESSAGES";
        };
        table_.forward = [](const char*, Message& m) { current()->forwarded.emplace_back(new Message(m)); };
        if (withContext) {
            LxObjects::setMessageHooks(&table_);
            LxObjects::setCurrentContext(new LxObjects::TellwireContext(LxObjects::Tellwire::Specifier()));
        }
    }
    ~RecordingHooks()
    {
        LxObjects::setCurrentContext(nullptr);
        LxObjects::setMessageHooks(nullptr);
        current() = nullptr;
    }

    // The number the context hands out next, used up.
    LxObjects::u32 drawSerial() { return LxObjects::getCurrentContext()->nextSerialNumber(); }

    // The words of the forwarding-log entries, in order.
    std::vector<std::string> forwardedWords() const
    {
        std::vector<std::string> words;
        for (const auto& m : forwarded) {
            std::string body = str(m->body);
            size_t end = body.rfind(";\n");
            size_t start = body.rfind(';', end - 1);
            words.push_back(body.substr(start + 1, end - start - 1));
        }
        return words;
    }

    bool sendResult = true;
    // A queue that also receives every reply sent, as a local endpoint's would.
    LxObjects::TellwireData::MessageQueue* loopback = nullptr;
    std::vector<std::unique_ptr<Message>> sent;
    std::vector<std::unique_ptr<Message>> forwarded;

private:
    static RecordingHooks*& current()
    {
        static RecordingHooks* hooks = nullptr;
        return hooks;
    }

    bool withForwarder_;
    LxObjects::MessageHooks table_{};
};

// A connector whose table holds the own application with the given digest
// settings.
class OwnAppConnector : public LxObjects::TellwireConnector {
public:
    OwnAppConnector(const LoString& name, bool authenticate, bool digest)
        : TellwireConnector(name), authenticate_(authenticate), digest_(digest)
    {
    }
    bool storeAppInfo(const LxObjects::TWConnectorAppInfo&) override { return true; }
    bool addGroupEntry(const LoString&, const LoString&, const LoString*) override { return false; }
    bool removeGroupEntry(const LoString&, const LoString&, const LoString*) override { return false; }
    void getKind(LoString& out) override { out.assign("test"); }
    bool fillTable(LxObjects::TWConnectorAppInfoList& list, LxObjects::LoVector<LoString>&) override
    {
        auto* record = new LxObjects::TWConnectorAppInfo;
        record->specifier.assign("own-1.0");
        record->path.assign("/opt/own/own");
        record->messageAuthentication = authenticate_;
        record->messageDigest = digest_;
        list.addIfNew(record);
        return true;
    }

private:
    bool authenticate_, digest_;
};

// Makes the process-wide connector an OwnAppConnector named name for the
// span of the object, and reads the digest settings anew.
class ScopedConnector {
public:
    ScopedConnector(const char* name, bool authenticate, bool digest)
    {
        authenticate_ = authenticate;
        digest_ = digest;
        LxObjects::destroyGlobalConnector();
        LxObjects::setConnectorFactory([](const LoString& n, const LoString&) -> LxObjects::TellwireConnector* {
            return new OwnAppConnector(n, authenticate_, digest_);
        });
        LxObjects::createGlobalConnector(LoString(name));
        LxObjects::TellwireData::deleteMessageGlobals();
    }
    ~ScopedConnector()
    {
        LxObjects::destroyGlobalConnector();
        LxObjects::setConnectorFactory(nullptr);
        LxObjects::TellwireData::deleteMessageGlobals();
    }

private:
    static inline bool authenticate_ = true;
    static inline bool digest_ = true;
};

// Own per-user folders with the digest key "k", default digest settings
// and no context.
class MessageFixture : public TestFolders::UserFolders {
protected:
    void SetUp() override
    {
        UserFolders::SetUp();
        mkdir((config + "/morvane").c_str(), 0700);
        TestFolders::writeFile(valuesFile(), "UserID=U1\nMD5ID=k\n");
        LxObjects::setMessageHooks(nullptr);
        LxObjects::TellwireData::deleteMessageGlobals();
    }
    void TearDown() override
    {
        LxObjects::setMessageHooks(nullptr);
        LxObjects::TellwireData::deleteMessageGlobals();
        UserFolders::TearDown();
    }
};

}  // namespace MessageTestSupport
