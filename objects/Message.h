// Tellwire messages: the record applications exchange, its custom headers,
// and the line-oriented text in which it travels.
//
//   [@TW>MD5:<digest>]          digest of everything below (optional)
//   @TW>Version:2.05
//   Target:app-1.0
//   Sender:tvtk
//   ...                         one "Key:value" line each, "Timestamp: " with a blank
//   Content-Length:5
//                               empty line
//   hello                       the body, exactly Content-Length bytes
#pragma once
#include "objects/LoLock.h"
#include "objects/LoString.h"
#include "objects/LoTypes.h"
#include "objects/Tellwire.h"

namespace LxObjects {

class Tellwire::Header : public LoHeap {
public:
    Header(const LoString& name, const LoString& value) : name(name), value(value) {}

    Header* next = nullptr;
    LoString name;
    LoString value;
};

class Tellwire::Message : public LoLockable {
public:
    static constexpr u32 kUnset = 0xFFFFFFFF;  // received, result and error not set
    // A text read adds at most this many custom headers; the lines of
    // further names are dropped, so that no text costs more than its size.
    static constexpr int kMaxReadHeaders = 1024;

    Message();
    // Headers are added one by one in the source's order, so the copy holds
    // them in reverse; an empty type becomes "Tavrel".
    Message(const Message& other);
    ~Message() override;

    // A header of that name gets the new value, else a new one goes first.
    // An empty name adds nothing.
    void addHeader(const LoString& name, const LoString& value);
    void addHeader(const char* name, const char* value);
    void addHeader(const char* name, i32 number);  // "%ld": 32 bits
    // The value of the header of that name; empty when none.
    LoString getHeader(const char* name) const;
    const Header* firstHeader() const { return headers_; }  // newest first

    // True unless the type is one of the built-in types.
    bool isUserMessageType() const;

    LoString target;
    LoString sender;
    i64 timeout = 0;  // seconds the message may wait; 0 none
    LoString type;
    LoString responseRequest;  // reply kinds asked for, as words
    i64 timestamp;             // seconds since 1970
    u32 contentLength = 0;     // as read from the text
    u32 serialNumber = 0;      // in a reply: the number answered
    u32 received = kUnset;
    u32 result = kUnset;
    u32 error = kUnset;
    LoString body;
    LoString version;
    LoString digestStatus;  // after reading: "NODIGEST", "REJECTED" or empty

private:
    friend int parseMessage(Tellwire::Message& message, const char* text, int length);
    void deleteHeaders();
    Header* prependHeader(const LoString& name, const LoString& value);

    Header* headers_ = nullptr;
};

// Whether a type is none of the twelve built-in types ("" is a user type).
bool isUserType(const LoString& type);

// Writes the message's text into out (cleared first). False for an empty
// target or sender; out then holds the lines written so far.
bool serializeMessage(const Tellwire::Message& message, LoString& out);
// Appends the text to out, preceded by its digest line when digests are
// sent. False, with out unchanged, when the text cannot be written.
bool serializeMessageWithDigest(const Tellwire::Message& message, LoString& out);
// Reads one message from the first length bytes of text into message and
// returns the bytes it took, with the line ends after the body; a further
// message may begin there. Takes at least one byte of a non-empty text and
// never reads past its end.
int parseMessage(Tellwire::Message& message, const char* text, int length);

// Sends the sender of an expired message the reply it asked for (reason in
// its response request); false when none is asked for or none could be sent.
bool notifySenderOfTimeout(const Tellwire::Message& message, const char* reason, const LoString& queueName);
// Hands a forwarding handler of the main endpoint a report on the message.
void forwardMessageLog(const Tellwire::Message& message, const char* kind, const LoString& queueName,
                       const char* word);
// Appends the diagnostics lines of the message below prefix.
void writeMessageDiagnostics(LoString& out, const LoString& prefix, const Tellwire::Message& message);

// One line of a diagnostics report: path (+ suffix);flag;label;value; and "\n".
void appendDiagnosticsLine(LoString& out, const LoString& path, const char* suffix, const char* flag,
                           const LoString& label, const LoString& value);
inline void appendDiagnosticsLine(LoString& out, const LoString& path, const char* flag, const LoString& label,
                                  const LoString& value)
{
    appendDiagnosticsLine(out, path, "", flag, label, value);
}

// The current time in seconds since 1970.
i64 now();

// What messages and queues need of the main endpoint. Without a table set
// the endpoint's own are used (endpointMessageHooks); a test may set one of
// its own; null members mean that there is no main endpoint.
struct MessageHooks {
    // Sends through the current context's main endpoint without launching.
    bool (*sendThroughMainEndpoint)(Tellwire::Message& message);
    // Whether the main endpoint has a handler named kind for every message,
    // and handing it a message (delivery kind 0, no reply text).
    bool (*hasForwarder)(const char* kind);
    void (*forward)(const char* kind, Tellwire::Message& message);
};
void setMessageHooks(const MessageHooks* hooks);
// The hooks of the current context's main endpoint (Tellwire.cpp).
const MessageHooks& endpointMessageHooks();

namespace TellwireData {

// The process's digest settings, taken from the connector's record of the
// own application: both on unless that record says otherwise.
class MessageGlobals : public LoLockable {
public:
    MessageGlobals();
    ~MessageGlobals() override;

    bool checkDigests() const;
    bool sendDigests() const;

private:
    bool checkDigests_;
    bool sendDigests_;
};

// Created on first use.
MessageGlobals& getMessageGlobals();
// At facility shutdown; the next use reads the settings anew.
void deleteMessageGlobals();

}  // namespace TellwireData
}  // namespace LxObjects
