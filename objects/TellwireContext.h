// The process-wide state of the Tellwire facility: the endpoints this
// process has opened, the main endpoint among them, the counter that
// numbers outgoing messages and the pump thread. One context is current at
// a time; everything else reaches it through getCurrentContext.
#pragma once
#include "objects/LoLock.h"
#include "objects/LoString.h"
#include "objects/LoTypes.h"
#include "objects/LoVector.h"
#include "objects/Specifier.h"
#include "objects/Tellwire.h"

namespace LxObjects {

class TellwireConnector;
class TellwireContext;
class TellwireThread;

class TellwireContext : public LoLockable {
public:
    // Takes its first serial number from the process-wide seed and starts
    // its pump thread for spec (already resolved).
    explicit TellwireContext(const Tellwire::Specifier& spec);
    // Stops the pump thread, stops being current and deletes the endpoints
    // still registered.
    ~TellwireContext() override;

    void addEndpoint(Tellwire* endpoint);
    // Takes out the first entry equal to endpoint; does not delete it.
    void removeEndpoint(Tellwire* endpoint);
    // The first endpoint whose specifier is exactly spec; null when none.
    Tellwire* findEndpoint(const LoString& spec);
    int getEndpointCount();
    Tellwire* getEndpoint(int index);
    Tellwire* getMainEndpoint();
    void setMainEndpoint(Tellwire* endpoint);
    TellwireThread* getPumpThread();

    // The next serial number n; the context goes on with n + 1, and so
    // does the next context made.
    u32 nextSerialNumber();
    // The main endpoint's specifier, else the pump thread's mailbox name,
    // lower case and without the engine part; empty without either.
    void getContextSpecifier(LoString& out);
    TellwireConnector* getContextConnector();
    // Appends the context's diagnostics lines below prefix + "/context".
    void writeContextDiagnostics(LoString& out, const char* prefix);

private:
    friend void mergeContext(TellwireContext* into, TellwireContext* from);
    friend void setCurrentContext(TellwireContext* ctx);

    TellwireThread* pumpThread_;
    u32 nextSerial_;
    LoVector<Tellwire> endpoints_;
    Tellwire* mainEndpoint_;
    bool logging_;
};

// The current context, after a running set-up has ended; null when none.
TellwireContext* getCurrentContext();
// Makes ctx current. A context that was current before hands its endpoints,
// main endpoint and serial numbers over to ctx and is destroyed; null
// destroys the current context.
void setCurrentContext(TellwireContext* ctx);
// Moves the endpoints of from that into does not hold yet over to into,
// with from's main endpoint and the larger next serial number; from keeps
// no endpoint. Runs under into's lock.
void mergeContext(TellwireContext* into, TellwireContext* from);
TellwireThread* getCurrentPumpThread();

// What the context needs of the endpoints, the pump thread and the set-up,
// which are built on top of it and install these. Null members: endpoints
// without specifiers, contexts without a pump thread, no set-up.
struct ContextHooks {
    // The endpoint's specifier text.
    void (*endpointSpecifier)(const Tellwire& endpoint, LoString& out);
    // A pump thread for the context, constructed and started; null when none.
    TellwireThread* (*startPumpThread)(TellwireContext& context, const Tellwire::Specifier& spec);
    // Stops the thread and waits for its end; true when it ended in time, so
    // that it may be deleted.
    bool (*stopPumpThread)(TellwireThread& thread);
    void (*deletePumpThread)(TellwireThread* thread);
    // The name of the thread's open mailbox; empty when it is not open.
    void (*pumpMailboxName)(TellwireThread& thread, LoString& out);
    // The status word a status query of specifier answers.
    void (*queryStatus)(LoString& out, const LoString& specifier);
    // Waits for a running set-up to end.
    void (*waitForSetup)();
    bool (*isSetupRunning)();
};
void setContextHooks(const ContextHooks* hooks);
// Whether the set-up that makes the context is running.
bool isSetupRunning();

}  // namespace LxObjects
