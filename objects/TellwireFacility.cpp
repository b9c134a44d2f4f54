// The facility's process-level entry points: init and terminate, the host
// thread's pump, launching targets, status queries and the diagnostics
// report.
#include <atomic>
#include <ctime>
#include <string_view>

#include "objects/Connector.h"
#include "objects/InterAppStream.h"
#include "objects/Message.h"
#include "objects/PCDConnector.h"
#include "objects/PlatformServices.h"
#include "objects/PumpStep.h"
#include "objects/Specifier.h"
#include "objects/Tellwire.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireThread.h"
#include "objects/TellwireUtils.h"

namespace LxObjects {

using Specifier = Tellwire::Specifier;

namespace {

const int kMaxLaunchSpecifier = 256;
const int kMaxLaunchParameters = 65536;
const i64 kHeartbeatSeconds = 60;
const int kLaunchParamsExpiry = 300;

// The time of the last heartbeat of the process (C time); 0 before the first.
std::atomic<i64> lastHeartbeat{0};

// Specifiers whose launch gets no command line; none here.
const char* const kNoParameterTargets[] = {nullptr};

bool contains(const LoString& s, const char* part)
{
    return std::string_view(s.text(), size_t(s.length())).find(part) != std::string_view::npos;
}

bool dropsParameters(const LoString& spec)
{
    for (const char* const* t = kNoParameterTargets; *t; ++t)
        if (spec.compare(*t) == 0)
            return true;
    return false;
}

LoString without(const Specifier& spec, bool engine, bool instance)
{
    Specifier s(spec);
    if (engine)
        s.setEngine(LoString());
    if (instance)
        s.setInstance(LoString());
    return s;
}

void setPumpStatus(TellwireContext* ctx, const char* word)
{
    if (TellwireThread* thread = ctx->getPumpThread())
        thread->setEntry(LoString("STATUS"), LoString(word));
}

// The report in the form for people: headings for branches, "label =
// value" for leaves, indented by depth.
LoString readableReport(const LoString& lines)
{
    LoString out("Tellwire Diagnostics\n----------------------\n");
    const char* text = lines.text();
    int pos = 0;
    while (pos < lines.length()) {
        LoString path, label, value;
        int flag = 0;
        int used = TellwireUtils::parseDiagnosticsLine(text + pos, path, label, value, flag);
        if (used <= 0)
            break;
        pos += used;
        LoString indent;
        for (int i = 1; i < path.length(); ++i)
            if (path.text()[i] == '/')
                indent += '\t';
        if (flag == 1) {
            out += '\n';
            out += indent;
            out += label;
            out += ": ";
            out += value;
            out += '\n';
        } else {
            out += indent;
            out += label;
            if (!value.isEmpty())
                out += " = ";
            out += value;
            out += '\n';
        }
    }
    out += "----------------------\n";
    return out;
}

}  // namespace

bool tellwireInit(const LoString& specifier, bool synchronous)
{
    initPlatformIds();
    openPingStream(specifier);
    setConnectorFactory(createConnector);
    if (!getGlobalConnector())
        createGlobalConnector(specifier);
    TellwireData::getMessageGlobals();
    // A context that exists stays as it is.
    if (!isSetupRunning() && getCurrentContext())
        return false;
    return synchronous ? setupSynchronously(specifier) : startSetupThread(specifier);
}

bool tellwireTerminate()
{
    if (!getCurrentContext())
        return false;
    setCurrentContext(nullptr);
    if (getCurrentContext())
        return false;
    TellwireData::forgetEndpointContext();
    TellwireData::deleteMessageGlobals();
    destroyGlobalConnector();
    closePingStream();
    releasePlatformServices();
    endSetupState();
    lastHeartbeat.store(0);
    return true;
}

bool tellwirePump(int flags, TellwireContext* context, const DeliveryGate* gate)
{
    if (!context) {
        if (isSetupRunning())
            return false;
        context = getCurrentContext();
    }
    if (!context)
        return false;
    // Memory that came back after running out holds the reserve again.
    LxBase::MemoryReserve::take(LxBase::MemoryReserve::kBytes);

    i64 t = i64(std::time(nullptr));
    i64 last = lastHeartbeat.load();
    if (last == 0 || t - last >= kHeartbeatSeconds) {
        lastHeartbeat.store(t);
        if (TellwireConnector* connector = context->getContextConnector())
            runPumpStep([&] { connector->refresh(false); });
    }

    runPumpStep([&] { setPumpStatus(context, "PUMPING"); });
    bool any = false;
    // The count is read again after each endpoint: a handler may open or
    // close one. A step that fails ends this endpoint's deliveries for the
    // pass; what is still queued waits for the next.
    for (int i = 0; i < context->getEndpointCount(); ++i) {
        Tellwire* endpoint = context->getEndpoint(i);
        if (!endpoint)
            break;
        if (flags & kPumpIncoming) {
            bool first = true;
            bool delivered = false;
            while ((!gate || gate->open(gate->data))
                   && runPumpStep([&] { delivered = Tellwire::processIncoming(endpoint, true); }) && delivered) {
                any = any || first;
                first = false;
            }
        }
        if (flags & kPumpOutgoing)
            runPumpStep([&] { any = Tellwire::sendQueued(endpoint) || any; });
    }
    runPumpStep([&] { setPumpStatus(context, "IDLE"); });
    return any;
}

bool launchTarget(const char* specifier, const char* parameters, bool flag, TellwireContext* context)
{
    if (!specifier)
        return false;
    LoString params(parameters ? parameters : "");
    if (LoString(specifier).length() > kMaxLaunchSpecifier || params.length() > kMaxLaunchParameters)
        return false;
    TellwireContext* ctx = context ? context : getCurrentContext();
    if (!ctx || !ctx->getMainEndpoint())
        return false;
    Specifier spec(specifier, true);
    if (spec.isEmpty() || ctx->findEndpoint(spec))
        return false;
    if (isTargetRunning(Specifier(without(spec, true, false).text(), false)))
        return true;

    TellwireConnector* connector = ctx->getContextConnector();
    if (!connector)
        return false;
    LoString path;
    connector->getApplicationPath(path, spec);
    if (path.isEmpty())
        connector->getApplicationPath(path, without(spec, false, true));
    if (path.isEmpty())
        return false;

    LoString command("-specifier ");
    command += spec;
    command += " -nostartupscreen";
    LoString instance;
    spec.getInstance(instance);
    if (!instance.isEmpty()) {
        command += " -instance ";
        command += instance;
    }
    if (!params.isEmpty()) {
        command += ' ';
        command += params;
    }

    TellwireThread* thread = ctx->getPumpThread();
    LoString entry("LAUNCHPARAMS:");
    entry += without(spec, true, true);
    if (thread) {
        thread->setEntry(entry, command);
        thread->setEntryExpiry(entry, kLaunchParamsExpiry);
    }
    LoString passed(command);
    if (contains(params, "-noparam") || dropsParameters(spec))
        passed.assign("", 0);
    bool launched = connector->launchApplication(spec, passed, !flag);
    if (!launched && thread)
        thread->setEntry(entry, LoString());
    return launched;
}

void queryTarget(LoString& out, const char* specifier, const char* word, int mode, const LoString* argument)
{
    out.assign("", 0);
    Specifier spec(specifier ? specifier : "", true);
    LoString query(word ? word : "");
    if (!getCurrentPumpThread())
        return;
    // This process's own thread cannot answer a ping while it is asking.
    if (queryOwnEntry(out, spec, query))
        return;
    pingTarget(out, spec, query, mode, argument);
}

Tellwire* getMainEndpoint(TellwireContext* context)
{
    TellwireContext* ctx = context ? context : getCurrentContext();
    return ctx ? ctx->getMainEndpoint() : nullptr;
}

void getOwnSpecifier(LoString& out)
{
    out.assign("", 0);
    if (TellwireContext* ctx = getCurrentContext())
        ctx->getContextSpecifier(out);
}

void writeTellwireDiagnostics(LoString& out, bool readable)
{
    out.assign("", 0);
    LoString own;
    getOwnSpecifier(own);
    LoString root("/");
    root += own;
    TellwireContext* ctx = getCurrentContext();
    if (ctx) {
        ctx->writeContextDiagnostics(out, root.text());
        if (TellwireThread* thread = ctx->getPumpThread())
            thread->writeThreadDiagnostics(out, root.text());
        LoString instances(root);
        instances += "/instances";
        out += instances;
        out += ";1;Instances;";
        out += u32(ctx->getEndpointCount());
        out += ";\n";
        for (int i = 0; i < ctx->getEndpointCount(); ++i)
            Tellwire::writeDiagnostics(ctx->getEndpoint(i), out, instances);
    }
    if (TellwireConnector* connector = getGlobalConnector())
        connector->writeDiagnostics(out, root);
    if (readable)
        out = readableReport(out);
}

// -- Facility queries --------------------------------------------------------------

bool Tellwire::bringApplicationToFront(const char* specifier, TellwireContext* context)
{
    TellwireContext* ctx = context ? context : getCurrentContext();
    TellwireConnector* connector = ctx ? ctx->getContextConnector() : nullptr;
    if (!connector)
        return false;
    connector->bringToFront(specifier);
    return true;
}

u32 Tellwire::getInstalledSpecifierCount()
{
    TellwireConnector* connector = getGlobalConnector();
    int n = connector ? connector->getApplicationCount() : 0;
    return n > 0 ? u32(n) : 0;
}

void Tellwire::getInstalledSpecifier(LoString& out, u32 index)
{
    out.assign("", 0);
    if (TellwireConnector* connector = getGlobalConnector())
        connector->getApplicationSpecifier(out, index);
}

void Tellwire::getDisplayName(LoString& out, const LoString& name, const LoString& version, const LoString& locale)
{
    out.assign("", 0);
    if (TellwireConnector* connector = getGlobalConnector())
        connector->getDisplayName(out, name, version, locale);
}

}  // namespace LxObjects
