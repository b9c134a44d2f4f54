// The message-pump thread every Tellwire process runs beside its host's
// thread, and the set-up that makes the process's context.
//
// The pump thread holds the control mailbox (the application's specifier
// with the engine "thread"), answers the pings that arrive there from its
// table of named entries, and moves every endpoint's messages between its
// mailbox and its queues. It never delivers a message to a handler of an
// endpoint: that happens only in the host's pump (tellwirePump).
//
// Lock order (each lock is taken only while holding the ones left of it):
//   pump thread -> endpoint -> endpoint's private data -> queue -> message
//                -> context
// The pump holds its own lock for a whole pass; the host thread takes it
// only through the entry operations and never while it holds an endpoint,
// queue or context lock. An endpoint that leaves its context waits for a
// running pass (takes the thread's lock) before it frees anything, so the
// pump never works on a freed endpoint.
#pragma once
#include "objects/InterAppStream.h"
#include "objects/LoString.h"
#include "objects/LoTypes.h"
#include "objects/LoVector.h"
#include "objects/Specifier.h"
#include "objects/Tellwire.h"
#include "objects/Thread.h"

namespace LxObjects {

class TellwireContext;
namespace Platform {
class FolderWatch;
}

class TellwireThread : public Thread {
public:
    // One named entry of the ping table.
    class PingData : public LoHeap {
    public:
        PingData(const LoString& name, const LoString& value);
        // Deletes the handler.
        ~PingData() override;

        LoString name;
        LoString value;
        Tellwire::MsgHandler* handler;  // owned; null when none
        i64 expiry;                     // seconds since 1970; 0 never
    };

    // Builds the ping table and its handlers; the context starts the thread.
    TellwireThread(TellwireContext* context, const Tellwire::Specifier& spec);
    // Only after stop() answered true.
    ~TellwireThread() override;

    void run() override;
    // Stops the thread: see stop.
    bool wake() override;

    // Every operation below holds the thread's lock.
    // Index of the first entry named name; -1 when none.
    int findEntry(const LoString& name);
    // A non-empty value replaces or adds, an empty one removes the entry.
    // "STATUS" set to "PUMPING" or "IDLE" keeps the host's pump statistics.
    // False when stopping or name is empty.
    bool setEntry(const LoString& name, const LoString& value);
    // The entry expires seconds from now (0: never); false without entry.
    bool setEntryExpiry(const LoString& name, int seconds);
    // Replaces the entry's handler (the old one is deleted), making the
    // entry, valued by its name, when there is none. Takes handler.
    bool setEntryHandler(const LoString& name, Tellwire::MsgHandler* handler);
    Tellwire::MsgHandler* getEntryHandler(const LoString& name);
    // The entry's value; "STATUS" reads "BUSY" while the host is overdue.
    LoString queryEntry(const LoString& name);
    // The name of the open control mailbox; empty when it is not open.
    LoString getMailboxName();
    // Sets the stop flag, wakes the thread and joins it; true when it ended
    // within the join limit.
    bool stop();
    // One pass of the loop.
    void pumpOnce();
    // Appends the thread's diagnostics lines below prefix + "/thread".
    void writeThreadDiagnostics(LoString& out, const char* prefix);
    // Wakes a waiting pass at once, e.g. when messages were queued.
    void nudge();

    // The control mailbox name for spec: its name, instance, version and
    // locale with "#thread".
    static LoString mailboxNameFor(const Tellwire::Specifier& spec);

    // For tests: the host's pump statistics, in milliseconds.
    double getAveragePumpInterval();
    double getLastPump();
    void setPumpStatistics(double average, double last);

    // A pass waits this long for an arrival or a wake before it runs anyway.
    static constexpr u32 kPassInterval = 100;
    // For tests: the clock of the statistics (milliseconds since 1970; null is
    // the system clock), and the pass interval of every pump thread (at most
    // INT_MAX, which leaves only arrivals and wakes to start a pass).
    using Clock = double (*)();
    static void setClockForTests(Clock clock);
    static void setPassIntervalForTests(u32 ms);

private:
    void openStream();
    void answerControlMessages();
    void moveEndpointMessages();
    void expireEntries();
    void callIdleHandler();
    void waitForWork(u32 ms);
    void watchEndpoints();
    bool isOverdue(double now) const;
    bool isStopping();
    void deleteEntryAt(int index);

    bool stop_;
    LoString mailboxName_;
    TellwireContext* context_;
    InterAppStream* stream_;
    LoString idleWord_;    // "IDLE"
    LoString idleEntry_;   // "Idle"
    LoString statusWord_;  // "STATUS"
    LoVector<PingData> entries_;
    double averagePump_;  // milliseconds
    double lastPump_;     // milliseconds since 1970
    Platform::FolderWatch* watch_;
    LoString userId_;
};

// -- The set-up that makes the process's context ---------------------------------

// Runs the set-up on the calling thread; false when a set-up ran already or
// this one failed.
bool setupSynchronously(const LoString& spec);
// Starts the set-up on a thread of its own; false when a set-up ran already.
bool startSetupThread(const LoString& spec);
// Waits for a running set-up to end. Always true.
bool waitForSetup();
// A set-up thread exists and has not finished.
bool isSetupRunning();
// At facility shutdown: forgets the set-up, so that it can run again.
void endSetupState();
// A context that ends is no longer the one the set-up made.
void forgetSetupContext(TellwireContext* context);
// The arguments after the program name, joined by single blanks.
bool getLaunchParameters(LoString& out);

// The answer to a query of word for specifier when specifier names this
// process: its own pump thread's entry, asked directly (a ping to itself
// would wait for the thread that is asking). False for any other target.
bool queryOwnEntry(LoString& out, const LoString& specifier, const LoString& word);

class TellwireSetupThread : public Thread {
public:
    explicit TellwireSetupThread(const LoString& spec);
    ~TellwireSetupThread() override;
    void run() override;

    bool isFinished();
    LoString getResult();

private:
    LoString spec_;
    LoString result_;
    bool finished_;
};

}  // namespace LxObjects
