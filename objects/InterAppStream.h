// Streams that move message texts between the processes of one user: each
// owns one receiving mailbox (of an endpoint or of the pump thread) and can
// write to any other mailbox of the same user by name. One text written is
// one message read, whole or not at all.
//
// BaseInterAppStream keeps what does not depend on the transport,
// WinInterAppStream stands on the mailboxes of the platform layer, and
// InterAppStream is the class the facility makes.
#pragma once
#include "objects/LoLock.h"
#include "objects/LoString.h"
#include "objects/Specifier.h"
#include "objects/platform/Mailbox.h"

namespace LxObjects {

class BaseInterAppStream : public LoLockable {
public:
    explicit BaseInterAppStream(const LoString& name);
    ~BaseInterAppStream() override;

    // Every operation holds the stream's lock for its span.
    virtual bool isEmpty();
    // out = the bytes read and not yet taken, which then are gone.
    virtual void takeReceived(LoString& out);
    virtual bool isOpen() = 0;
    // One whole message to the holder of target's mailbox; false when nobody
    // holds it or it could not be written whole.
    virtual bool send(const LoString& target, const LoString& text) = 0;
    // Appends the next waiting message to the received bytes; false when
    // none waits or it had to be dropped. Never blocks.
    virtual bool readOne() = 0;
    virtual bool hasMessage() = 0;
    // Whether nobody holds a mailbox of that name. Only probes: it never
    // takes the name, not even for a moment.
    virtual bool isNameFree(const LoString& name);

    // The name given at construction.
    LoString getName();

protected:
    LoString received_;
    LoString name_;
    LoString prefix_;       // the per-user id: every mailbox lies in its folder
    LoString mailboxName_;
};

class WinInterAppStream : public BaseInterAppStream {
public:
    // Takes the mailbox of that name; the stream stays closed while anyone,
    // this process included, holds it.
    explicit WinInterAppStream(const LoString& name);
    ~WinInterAppStream() override;

    bool isOpen() override;
    bool send(const LoString& target, const LoString& text) override;
    bool readOne() override;
    bool hasMessage() override;

    // Waits at most ms milliseconds for a message to arrive; at once when
    // one is waiting. Lets a caller that would poll sleep until then.
    bool waitForMessage(int ms);

private:
    Platform::Mailbox mailbox_;
};

class InterAppStream : public WinInterAppStream {
public:
    explicit InterAppStream(const LoString& name) : WinInterAppStream(name) {}
};

// The process's ping mailbox, in which the answers to its pings arrive.
// Opened as spec lower-cased with the engine "ping"; when that name cannot
// be had, there is none.
void openPingStream(const LoString& spec);
// The ping mailbox; without one, one named "interappstream-1.0" is made and
// kept, open or not.
InterAppStream* getPingStream();
// The ping mailbox when there is one; makes none.
InterAppStream* findPingStream();
void closePingStream();

// Asks target's pump thread for query (an "ECHO_REQUEST" ping with a random
// serial number) and waits up to timeout seconds; out is the answer or a
// status word, "NOINTERAPPSTREAM" without an open ping mailbox.
void pingTarget(LoString& out, const Tellwire::Specifier& target, const LoString& query, int timeout,
                const LoString* body);

}  // namespace LxObjects
