// The handlers of the pump thread's control mailbox. Other applications
// send it messages of type "ping" whose "ECHO_REQUEST" header asks a word
// (a ping entry, "STATUS", "INFO", ...) or installs a forwarder with
// kind "=" target; an "ECHO_RESPONSE" header hands the message to the
// handler of that entry. The pump sends the answer back as a "ping" whose
// "ECHO_REQUEST" header holds the answer ("SEE BODY": read the body).
#pragma once
#include "objects/LoString.h"
#include "objects/Message.h"
#include "objects/Tellwire.h"

namespace LxObjects {

class TellwireContext;
class TellwireThread;

class ThreadMsgHandler : public Tellwire::MsgHandler {
public:
    explicit ThreadMsgHandler(TellwireContext* context) : context_(context) {}

protected:
    TellwireContext* context_;  // not owned
};

// The entry "MAIN": every control message goes through it.
class ThreadMainMsgHandler : public ThreadMsgHandler {
public:
    ThreadMainMsgHandler(TellwireContext* context, TellwireThread* thread);
    int handle(int kind, Tellwire::Message& message, LoString* reply) override;

private:
    int forward(const LoString& key, const LoString& target, LoString* reply);

    LoString type_;            // "ping"
    LoString requestHeader_;   // "ECHO_REQUEST"
    LoString responseHeader_;  // "ECHO_RESPONSE"
    TellwireThread* thread_;   // not owned
};

// "LAUNCHED": a launched application reports back; its pending launch
// parameters are dropped.
class ThreadLaunchedMsgHandler : public ThreadMsgHandler {
public:
    using ThreadMsgHandler::ThreadMsgHandler;
    int handle(int kind, Tellwire::Message& message, LoString* reply) override;
    void getName(LoString& out) override;
};

// "DIAGNOSTICS": the facility's diagnostics report in the answer's body.
class ThreadDiagnosticsMsgHandler : public ThreadMsgHandler {
public:
    using ThreadMsgHandler::ThreadMsgHandler;
    int handle(int kind, Tellwire::Message& message, LoString* reply) override;
    void getName(LoString& out) override;
};

// "INFO": the topics the body names ("context", "thread", "messages",
// "log", "connector"; empty or "all" for all but "log") in the answer's
// body.
class ThreadInfoMsgHandler : public ThreadDiagnosticsMsgHandler {
public:
    using ThreadDiagnosticsMsgHandler::ThreadDiagnosticsMsgHandler;
    int handle(int kind, Tellwire::Message& message, LoString* reply) override;
    void getName(LoString& out) override;
};

// Installed on the main endpoint by a forwarding request: sends what it is
// handed to the debugger that asked, as a "Debug" message whose "Command"
// header names the kind ("FWDMESSAGES", "FWDLOGS" or "FWDERRORS").
class ThreadForwardMsgHandler : public ThreadMsgHandler {
public:
    ThreadForwardMsgHandler(TellwireContext* context, const LoString& target, const LoString& kind);
    int handle(int kind, Tellwire::Message& message, LoString* reply) override;
    void getName(LoString& out) override;

private:
    LoString target_;
    LoString kind_;
};

}  // namespace LxObjects
