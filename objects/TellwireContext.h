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

// Whether the set-up that makes the context is running.
bool isSetupRunning();

}  // namespace LxObjects
