// The sample application's debugger: it carries the XML debug protocol
// between its engine and a front end over Tellwire (the convention is
// described at the top of sample_app.cpp). It is the engine's Debugger
// hook and serves the messages of the application's "#tvtk" endpoint.
#pragma once
#include "core/Error.h"
#include "core/String.h"
#include "examples/AppEnds.h"
#include "objects/LoString.h"
#include "objects/Tellwire.h"
#include "script/engine/Engine.h"

namespace LxCore { class XML; }
namespace LxScript { class DebugAPI; class RealEngine; }

namespace SampleApp {

class DebugCarrier : public LxScript::Debugger {
public:
    DebugCarrier(LxScript::RealEngine& engine, LxScript::DebugAPI& api, AppEnds& ends);

    // The endpoint that requests come in on and stops and output go out on.
    void setEndpoint(LxObjects::Tellwire* endpoint) { this->endpoint = endpoint; }
    // One delivered message: a request when its body begins with '<'.
    int serve(int kind, LxObjects::Tellwire::Message& message, LxObjects::LoString* reply);

    void breakExecution(LxScript::Engine& engine) override;
    void endOfRun(LxScript::Engine& engine) override {}
    void poll(LxScript::Engine& engine) override;
    void writeText(LxScript::Engine& engine, const LxCore::String& text) override;

private:
    // What the engine is doing while messages are pumped: which requests
    // can be served then.
    enum Mode { kIdle, kRunning, kStopped, kStoppedRunning };
    class ModeScope;

    LxScript::RealEngine& engine;
    LxScript::DebugAPI& api;
    AppEnds& ends;
    LxObjects::Tellwire* endpoint = nullptr;
    LxObjects::LoString requester;      // the sender of the last request
    Mode mode = kIdle;

    int answerRequest(const LxObjects::LoString& body, LxObjects::LoString* reply);
    int answerOutOfMemory(LxObjects::LoString* reply);
    LxCore::XML* run(const LxCore::XML& request, LxCore::Error& errors);
    bool isServed(const LxCore::String& command) const;
    void haltRun();
    void resume();
    bool requesterIsLive() const;
    bool sendToRequester(const LxObjects::LoString& body);
};

// The endpoint owns its handler; the carrier outlives the endpoint.
class CarrierHandler : public LxObjects::Tellwire::MsgHandler {
public:
    explicit CarrierHandler(DebugCarrier& carrier) : carrier(carrier) {}
    int handle(int kind, LxObjects::Tellwire::Message& message, LxObjects::LoString* reply) override {
        return carrier.serve(kind, message, reply);
    }

private:
    DebugCarrier& carrier;
};

}  // namespace SampleApp
