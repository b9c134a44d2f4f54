// Helpers of the endpoint and facility tests: a handler that records what
// it is handed, a fixture with its own folders, product list and an
// initialised facility, and an installed application made of the Tellwire
// peer.
#pragma once
#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "objects/Message.h"
#include "objects/Specifier.h"
#include "objects/Tellwire.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireThread.h"
#include "objects/tests/ProductFixtures.h"
#include "objects/tests/TellwirePeer.h"

namespace EndpointFixtures {

using LxObjects::LoString;
using LxObjects::Tellwire;
using LxObjects::u32;
using Message = Tellwire::Message;
using ProductFixtures::str;

// One delivery as a handler saw it.
struct Seen {
    int kind = -1;
    std::string type, body, errorCode, sender;
    u32 serial = 0, received = 0, result = 0, error = 0;
};

class Recorder : public Tellwire::MsgHandler {
public:
    Recorder(std::vector<Seen>* log, const char* name = "Tavrel", u32 id = kEveryMessage)
        : log_(log), name_(name), id_(id)
    {
    }
    ~Recorder() override
    {
        if (deleted)
            *deleted = true;
    }

    int handle(int kind, Message& m, LoString* reply) override
    {
        Seen s;
        s.kind = kind;
        s.type = str(m.type);
        s.body = str(m.body);
        s.errorCode = str(m.getHeader("Error-Code"));
        s.sender = str(m.sender);
        s.serial = m.serialNumber;
        s.received = m.received;
        s.result = m.result;
        s.error = m.error;
        log_->push_back(s);
        if (throws)
            std::rethrow_exception(throws);
        if (reply)
            reply->assign(replyText.c_str());
        return answer;
    }
    void getName(LoString& out) override { out.assign(name_.c_str()); }
    u32 getID() override { return id_; }

    int answer = 0;
    std::exception_ptr throws;  // what handle throws; null: nothing
    std::string replyText;
    bool* deleted = nullptr;

private:
    std::vector<Seen>* log_;
    std::string name_;
    u32 id_;
};

// Own folders, an installed application "app-1.0" whose program is the
// peer in its application role, and the facility initialised as
// "tester-1.0" with the main endpoint "tester-1.0#main".
class Facility : public ProductFixtures::ProductFolders {
protected:
    void SetUp() override
    {
        ProductFolders::SetUp();
        mkdir((config + "/morvane").c_str(), 0700);
        TestFolders::writeFile(valuesFile(), "UserID=U1\nMD5ID=k\n");
        appFolder = root + "/apps/app";
        program = appFolder + "/app.exe";
        ProductFixtures::makeFolders(appFolder);
        TestFolders::writeFile(program, "#!/bin/sh\nexec '" + std::string(TELLWIRE_PEER) + "' application \"$@\"\n",
                               0755);
        std::string configPath = appFolder + "/Config/app.xml";
        writeConfig(configPath,
                    ProductFixtures::product("/morvane/tellwire/app-1.0",
                                             ProductFixtures::data("ExecutableBasename", "app"))
                        + ProductFixtures::product("/morvane/tellwire/mute-1.0",
                                                   ProductFixtures::data("Path", root + "/apps/mute/mute.exe"))
                        + ProductFixtures::product("/morvane/tellwire/rep-1.0",
                                                   ProductFixtures::data("Path", root + "/apps/rep/rep.exe"))
                        + ProductFixtures::installer("{A}", configPath, "/morvane/tellwire/app-1.0"));
        writeList({{configPath, ProductFixtures::escaped(program)}});
        // An installed program that never opens its mailbox.
        ProductFixtures::makeFolders(root + "/apps/mute");
        TestFolders::writeFile(root + "/apps/mute/mute.exe", "#!/bin/sh\nexec sleep 5\n", 0755);
        // An installed program that reports its arguments.
        report = root + "/report.txt";
        ProductFixtures::writeReportingProgram(root + "/apps/rep/rep.exe", report, "rep");
    }

    void TearDown() override
    {
        delete endpoint;
        endpoint = nullptr;
        LxObjects::tellwireTerminate();
        ProductFolders::TearDown();
    }

    // Initialises the facility and opens the main endpoint with a recorder.
    void open(const char* specifier = "tester-1.0#main")
    {
        ASSERT_TRUE(LxObjects::tellwireInit(LoString("tester-1.0"), true));
        recorder = new Recorder(&seen);
        endpoint = new Tellwire(specifier, recorder, true, nullptr);
        ASSERT_TRUE(Tellwire::isWorking(endpoint));
    }

    // Pumps as the host does until done() or the limit passes.
    bool pumpUntil(const std::function<bool()>& done, int ms = 10000)
    {
        return TestFolders::eventually(
            [&] {
                LxObjects::tellwirePump(LxObjects::kPumpAll, nullptr);
                return done();
            },
            ms);
    }

    // The first delivery of that kind; null when none.
    const Seen* find(int kind) const
    {
        for (const Seen& s : seen)
            if (s.kind == kind)
                return &s;
        return nullptr;
    }

    Message* message(const char* target, const char* type, const char* body, const char* request)
    {
        Message* m = new Message;
        m->target.assign(target);
        m->type.assign(type);
        m->body.assign(body);
        m->responseRequest.assign(request);
        owned.emplace_back(m);
        return m;
    }

    std::string appFolder, program, report;
    Tellwire* endpoint = nullptr;
    Recorder* recorder = nullptr;
    std::vector<Seen> seen;
    std::vector<std::unique_ptr<Message>> owned;
};

}  // namespace EndpointFixtures
