#include "objects/TellwireContext.h"

#include <atomic>
#include <new>

#include "objects/Connector.h"
#include "objects/Message.h"
#include "objects/TellwireThread.h"
#include "objects/TellwireUtils.h"

namespace LxObjects {

using Specifier = Tellwire::Specifier;

namespace {

const char kFacilityVersion[] = "2.0";
const char kBuildVersion[] = "1.0.0";

std::atomic<TellwireContext*> currentContext{nullptr};
// The first number of the next context made: one past the last one handed
// out, so that no number is handed out twice.
std::atomic<u32> serialSeed{1};
std::atomic<bool> firstUse{true};


// 0 asks for a number and 0xFFFFFFFF means none; a counter that wraps
// starts again at 1.
u32 following(u32 n)
{
    u32 next = n + 1;
    return next == 0 || next == 0xFFFFFFFF ? 1 : next;
}

// While this thread works out a context specifier, the normalisation it
// runs may ask for the context specifier again; that inner question gets
// the plain text, so the two never call each other without end.
thread_local bool namingContext = false;

struct NamingGuard {
    NamingGuard() : outer(namingContext) { namingContext = true; }
    ~NamingGuard() { namingContext = outer; }
    bool outer;
};

// The text lower-cased without its engine; with normalize set, completed
// from the installed applications first.
LoString withoutEngine(const LoString& text, bool normalize)
{
    Specifier spec(text.text(), normalize);
    spec.setEngine(LoString());
    return spec;
}


LoString onOff(bool on)
{
    return LoString(on ? "ON" : "OFF");
}

}  // namespace

// ---- the context ----------------------------------------------------------------

TellwireContext::TellwireContext(const Specifier& spec)
    : pumpThread_(nullptr), nextSerial_(serialSeed.load()), mainEndpoint_(nullptr), logging_(false)
{
    // Made before the context's lock is taken: the pump thread takes its own
    // lock first and the context's inside it, never the other way round.
    TellwireThread* thread = new TellwireThread(this, spec);
    if (!thread)
        throw std::bad_alloc();
    {
        ObjectLock guard(*this);
        pumpThread_ = thread;
    }
    thread->start();
}

TellwireContext::~TellwireContext()
{
    if (pumpThread_ && pumpThread_->wake())
        delete pumpThread_;
    pumpThread_ = nullptr;  // one that did not end is left alone
    forgetSetupContext(this);

    TellwireContext* self = this;
    currentContext.compare_exchange_strong(self, nullptr);

    ObjectLock guard(*this);
    mainEndpoint_ = nullptr;
    for (int n = endpoints_.count(); n > 0; --n)
        delete endpoints_.removeAt(0);
}

void TellwireContext::addEndpoint(Tellwire* endpoint)
{
    ObjectLock guard(*this);
    endpoints_.append(endpoint);
}

void TellwireContext::removeEndpoint(Tellwire* endpoint)
{
    ObjectLock guard(*this);
    endpoints_.remove(endpoint);
}

Tellwire* TellwireContext::findEndpoint(const LoString& spec)
{
    ObjectLock guard(*this);
    for (int i = 0; i < endpoints_.count(); ++i) {
        Tellwire* endpoint = endpoints_.get(i);
        LoString text;
        Tellwire::getSpecifier(endpoint, text);
        if (text.length() == spec.length() && text.compare(spec.text()) == 0)
            return endpoint;
    }
    return nullptr;
}

int TellwireContext::getEndpointCount()
{
    ObjectLock guard(*this);
    return endpoints_.count();
}

Tellwire* TellwireContext::getEndpoint(int index)
{
    ObjectLock guard(*this);
    return endpoints_.get(index);
}

Tellwire* TellwireContext::getMainEndpoint()
{
    ObjectLock guard(*this);
    return mainEndpoint_;
}

void TellwireContext::setMainEndpoint(Tellwire* endpoint)
{
    ObjectLock guard(*this);
    mainEndpoint_ = endpoint;
}

TellwireThread* TellwireContext::getPumpThread()
{
    ObjectLock guard(*this);
    return pumpThread_;
}

u32 TellwireContext::nextSerialNumber()
{
    ObjectLock guard(*this);
    u32 n = nextSerial_;
    nextSerial_ = following(n);
    serialSeed.store(nextSerial_);
    return n;
}

void TellwireContext::getContextSpecifier(LoString& out)
{
    LoString text;
    TellwireThread* thread = nullptr;
    {
        ObjectLock guard(*this);
        if (mainEndpoint_)
            Tellwire::getSpecifier(mainEndpoint_, text);
        else
            thread = pumpThread_;
    }
    // Asked outside the context's lock: the pump thread takes the context's
    // lock while it holds its own. The thread lives as long as the context.
    bool fromThread = thread != nullptr;
    if (thread)
        text = thread->getMailboxName();
    // Normalised outside the lock: it asks the connector, which may ask
    // for this specifier in turn.
    bool normalize = fromThread && !namingContext;
    NamingGuard naming;
    out = text.isEmpty() ? LoString() : withoutEngine(text, normalize);
}

TellwireConnector* TellwireContext::getContextConnector()
{
    ObjectLock guard(*this);
    return getGlobalConnector();
}

void TellwireContext::writeContextDiagnostics(LoString& out, const char* prefix)
{
    LoString p(prefix);
    p += "/context";
    LoString m(p);
    m += "/messages";
    LoString s;
    getContextSpecifier(s);
    TellwireConnector* connector = getContextConnector();

    appendDiagnosticsLine(out, p, "", "1", "Info", LoString());
    appendDiagnosticsLine(out, p, "/name", "0", "Name", s);
    // This process's own status comes from its pump thread's entries: a
    // ping to itself would wait for the thread that may be the one asking.
    LoString status;
    if (TellwireThread* thread = getPumpThread())
        status = thread->queryEntry(LoString("STATUS"));
    appendDiagnosticsLine(out, p, "/status", "0", "Status", status);
    LoString groups, path;
    if (connector) {
        connector->getGroupOf(groups, s, nullptr);
        connector->getApplicationPath(path, s);
    }
    if (!groups.isEmpty())
        appendDiagnosticsLine(out, p, "/group", "0", "Group", groups);
    appendDiagnosticsLine(out, p, "/path", "0", "Path", path);
    appendDiagnosticsLine(out, p, "/version", "0", "Version", LoString(kFacilityVersion));
    LoString build("TV ");
    build += kBuildVersion;
    appendDiagnosticsLine(out, p, "/build", "0", "Build", build);
    u32 next;
    bool logging;
    {
        ObjectLock guard(*this);
        next = nextSerial_;
        logging = logging_;
    }
    LoString number;
    number += u32(next + 1);
    appendDiagnosticsLine(out, p, "/nextsnr", "0", "Next serial number", number);
    appendDiagnosticsLine(out, p, "/logging", "0", "Logging:", onOff(logging));
    LoString time;
    TellwireUtils::formatTime(time, nullptr);
    appendDiagnosticsLine(out, p, "/now", "0", "Now", time);

    appendDiagnosticsLine(out, m, "", "1", "Messages", LoString());
    appendDiagnosticsLine(out, m, "/version", "0", "Message Version", Tellwire::Message().version);
    TellwireData::MessageGlobals& globals = TellwireData::getMessageGlobals();
    appendDiagnosticsLine(out, m, "/authentication", "0", "Authentication", onOff(globals.checkDigests()));
    appendDiagnosticsLine(out, m, "/digest", "0", "Digest", onOff(globals.sendDigests()));
}

// ---- the current context ----------------------------------------------------------

TellwireContext* getCurrentContext()
{
    TellwireContext* ctx = currentContext.load();
    if (ctx && !firstUse.load())
        return ctx;
    if (ctx)
        firstUse.store(false);
    waitForSetup();
    return currentContext.load();
}

void setCurrentContext(TellwireContext* ctx)
{
    TellwireContext* old = currentContext.load();
    if (ctx == old)
        return;
    if (old && ctx) {
        ObjectLock guard(*ctx);
        mergeContext(ctx, old);
        serialSeed.store(ctx->nextSerial_);
    }
    // Destroyed after the new context's lock is released.
    delete old;
    currentContext.store(ctx);
}

void mergeContext(TellwireContext* into, TellwireContext* from)
{
    if (!into || !from || into == from)
        return;
    ObjectLock intoGuard(*into);
    ObjectLock fromGuard(*from);
    if (from->nextSerial_ > into->nextSerial_)
        into->nextSerial_ = from->nextSerial_;
    // Moved, not shared: from would otherwise delete them with itself.
    for (int n = from->endpoints_.count(); n > 0; --n) {
        Tellwire* endpoint = from->endpoints_.removeAt(0);
        bool held = false;
        for (int i = 0; i < into->endpoints_.count() && !held; ++i)
            held = into->endpoints_.get(i) == endpoint;
        if (!held)
            into->endpoints_.append(endpoint);
        Tellwire::moveToContext(endpoint, into);
    }
    into->mainEndpoint_ = from->mainEndpoint_;
    from->mainEndpoint_ = nullptr;
}

TellwireThread* getCurrentPumpThread()
{
    TellwireContext* ctx = getCurrentContext();
    return ctx ? ctx->getPumpThread() : nullptr;
}

}  // namespace LxObjects
