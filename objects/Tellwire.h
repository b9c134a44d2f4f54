// The Tellwire endpoint: one named participant of this process in the
// messaging between applications. Its messages, their headers and the
// specifiers that address them are its nested classes, each defined in a
// header of its own (Message.h, Specifier.h); the handlers that receive
// its messages are declared here.
//
// Every operation that works on an endpoint is static and takes the
// endpoint as its first argument, so that a null endpoint is a plain
// "nothing done" rather than a crash.
#pragma once
#include "objects/LoLock.h"
#include "objects/LoString.h"
#include "objects/LoTypes.h"

namespace LxObjects {

class InterAppStream;
class TellwireContext;

namespace TellwireData {
class PrivateData;
// At facility shutdown: no endpoint made the next context yet.
void forgetEndpointContext();
}

class Tellwire : public LoLockable {
public:
    class Header;
    class Message;
    class Specifier;
    class MsgHandler;

    // Delivery kinds handed to MsgHandler::handle.
    enum DeliveryKind {
        kOther = 0,     // a message of any other type
        kNew = 1,       // "Tavrel" or "Debug" without reply fields
        kReceived = 2,  // an acknowledgement
        kResult = 3,
        kError = 4,
        kTimeout = 5,
        kLog = 6,
        kIdle = 7,
    };

    // Opens the endpoint's mailbox under specifier (normalised) and
    // registers it with context (null: the current one). A main endpoint
    // made while no context exists initialises the facility itself. The
    // endpoint owns handler (may be null).
    Tellwire(const char* specifier, MsgHandler* handler, bool main, TellwireContext* context);
    ~Tellwire() override;

    // -- Messaging -------------------------------------------------------
    // Puts message on its way: to a local endpoint, straight into the
    // target's mailbox, or onto the outgoing queue (launching the target
    // when launch is set). The caller keeps message. With waitSeconds the
    // call pumps until the reply came or the time is up.
    static bool sendMessage(Tellwire* endpoint, Message& message, bool launch, u32 waitSeconds,
                            LoString* launchParams);
    // Reads one waiting mailbox message onto the incoming queue (with its
    // acknowledgements); with deliver, hands one queued message to the
    // handlers. True when a message was delivered.
    static bool processIncoming(Tellwire* endpoint, bool deliver);
    // Writes the queued outgoing messages; the ones that cannot go yet stay
    // queued. Always false.
    static bool sendQueued(Tellwire* endpoint);
    // Pumps the current context until no handler waits for message's serial
    // number any more (true) or seconds have passed (false).
    static bool waitForReply(Tellwire* endpoint, const Message& message, u32 seconds);
    // Sends the reply of kind replyType when request asks for it. reply (may
    // be null) is the message to send; it is changed in place.
    static bool sendReply(Tellwire* endpoint, const Message& request, const char* replyType, Message* reply);
    // An "Error" reply with text as body and "Error-Code" code. Always false.
    static bool sendErrorReply(Tellwire* endpoint, const Message& request, const char* text, i32 code,
                               u32 waitSeconds);

    // -- Handlers (the endpoint owns them) -----------------------------------
    // Appends handler; returns the handler of the same name and id that it
    // replaces, which the caller deletes (null when none).
    static MsgHandler* addMsgHandler(Tellwire* endpoint, MsgHandler* handler);
    // The handler named name for id, else the one named name for every
    // message; with an empty name the newest handler for id.
    static MsgHandler* findMsgHandler(Tellwire* endpoint, const char* name, u32 id);
    // Takes that handler out of the list and returns it; not deleted.
    static MsgHandler* removeMsgHandler(Tellwire* endpoint, const char* name, u32 id);
    // Deletes every handler for serial and the time-out watchers of serial.
    static bool removeMsgHandlersForSerial(Tellwire* endpoint, u32 serial);

    // -- State ------------------------------------------------------------
    // The specifier of the endpoint's mailbox; empty when none is open.
    static void getSpecifier(const Tellwire* endpoint, LoString& out);
    // Whether the endpoint's mailbox is open: only then can it receive.
    static bool isWorking(const Tellwire* endpoint);
    // The context the endpoint belongs to (the current one when none was
    // given); null when none.
    static TellwireContext* getContext(const Tellwire* endpoint);
    static int getIncomingCount(const Tellwire* endpoint);
    static int getOutgoingCount(const Tellwire* endpoint);
    // Appends the endpoint's diagnostics lines below prefix.
    static void writeDiagnostics(const Tellwire* endpoint, LoString& out, const LoString& prefix);
    // A context that was merged into another hands its endpoints over.
    static void moveToContext(Tellwire* endpoint, TellwireContext* context);

    // -- Facility queries ----------------------------------------------------
    static bool bringApplicationToFront(const char* specifier, TellwireContext* context);
    static u32 getInstalledSpecifierCount();
    static void getInstalledSpecifier(LoString& out, u32 index);
    static void getDisplayName(LoString& out, const LoString& name, const LoString& version,
                               const LoString& locale);

protected:
    // An endpoint that only carries a name: it opens no mailbox, joins no
    // context and leaves none when deleted. For stand-ins in tests.
    explicit Tellwire(const LoString& name);

private:
    TellwireData::PrivateData* data_;
    bool detached_ = false;
};

// A receiver of an endpoint's messages. One handler serves one message type
// (its name), for one serial number or for every message (0xFFFFFFFF).
class Tellwire::MsgHandler : public LoHeap {
public:
    static constexpr u32 kEveryMessage = 0xFFFFFFFF;

    MsgHandler() = default;
    ~MsgHandler() override = default;

    // Called once the endpoint constructor has added the handler.
    virtual void installed(Tellwire* endpoint) {}
    // 0: handled; anything else is the error code of the failure. reply
    // may be null; when given, it is the text of the reply.
    virtual int handle(int kind, Message& message, LoString* reply) = 0;
    // The message type served.
    virtual void getName(LoString& out) { out.assign("Tavrel"); }
    virtual u32 getID() { return kEveryMessage; }
};

// -- The facility ------------------------------------------------------------------

// A mailbox stream named specifier; when that name is taken and the
// specifier has no instance, the instances 1 to 8 are tried in turn. Null
// when none opens (or specifier is empty). The caller owns the stream.
InterAppStream* openInboundStream(const LoString& specifier);

// Prepares ids, the ping mailbox, the connector and the message globals,
// then sets up the context for specifier (synchronously, or on the set-up
// thread). False when a context exists already or the set-up failed.
bool tellwireInit(const LoString& specifier, bool synchronous);
// Drops the current context and releases what init prepared.
bool tellwireTerminate();
// The host thread's pump: flags 1 reads and delivers, 2 sends the queued
// messages; 3 both. True when any message was processed. A gate, when
// given, is asked before each delivery: false ends the delivery of this
// pump, and the messages not delivered wait, in order, for the next.
// Nothing thrown on the way leaves the pump (PumpStep.h): a message that
// cannot be handled or answered even then is dropped.
enum { kPumpIncoming = 1, kPumpOutgoing = 2, kPumpAll = 3 };
struct DeliveryGate {
    bool (*open)(void* data);
    void* data;
};
bool tellwirePump(int flags, TellwireContext* context, const DeliveryGate* gate = nullptr);
// Launches the application of specifier with the facility's command line.
// flag set keeps the application in the background.
bool launchTarget(const char* specifier, const char* parameters, bool flag, TellwireContext* context);
// Asks specifier's pump thread for word (mode 2 for "STATUS"); empty
// without a pump thread.
void queryTarget(LoString& out, const char* specifier, const char* word, int mode, const LoString* argument);
// The context's main endpoint; null when none.
Tellwire* getMainEndpoint(TellwireContext* context);
// The current context's specifier; empty without one.
void getOwnSpecifier(LoString& out);
// The diagnostics report: lines, or with readable a text for people.
void writeTellwireDiagnostics(LoString& out, bool readable);

}  // namespace LxObjects
