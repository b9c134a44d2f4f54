#include "modules/node-addon/source/TVDCoreLibInterface.h"

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "core/ErrorCodes.h"
#include "modules/node-addon/source/TVDHostValues.h"
#include "objects/LoString.h"
#include "objects/Message.h"
#include "objects/Specifier.h"

namespace {

using LxObjects::LoString;
using Message = LxObjects::Tellwire::Message;
using TVDHost::Arguments;
using TVDHost::Record;

// Threads: the module may be loaded on the main thread and in workers
// alike. Every call holds its turn (TVDTurn) from first to last, so calls
// from several threads run one after another, each complete. The pump's
// function is the pumping thread's own and is called on that thread only,
// as delivery happens inside its call. The session belongs to the
// environment that started it: when that environment ends (a worker
// exits) with the session still up, the session ends with it.
//
// A worker may be stopped at any moment, inside a call or while it waits
// for its turn. Its environment then refuses every call that could run
// script; the binding talks to the host only through calls that report
// such refusals (TVDHost), and a call whose environment is ending answers
// nothing. Core work under way (a long check) finishes and its answer is
// dropped; a call still waiting for its turn gives up the wait.

// The function of the running "tvdPumpSession" and its environment; empty
// outside a pump.
struct PumpCallback {
    bool threw = false;  // a call of the function threw or could not run
    napi_env env = nullptr;
    const Napi::FunctionReference* function = nullptr;
};
PumpCallback gPump;

// The environment whose "tvdInitialize" started the running session. Its
// end may come while another thread holds the turn, and that thread may be
// waiting for the ending one (a process that exits inside a callback joins
// its workers): the end is then only marked, under a lock of its own, and
// the holder's call ends the session as it finishes, or the next call as
// it begins.
class SessionOwner {
public:
    void set(napi_env env) {
        std::lock_guard<std::mutex> hold(lock_);
        env_ = env;
        ended_ = false;
    }
    // False when env does not own the session.
    bool markEnded(napi_env env) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!env || env_ != env)
            return false;
        ended_ = true;
        return true;
    }
    // True once after the owner ended; the session then has no owner.
    bool takeEnded() {
        std::lock_guard<std::mutex> hold(lock_);
        if (!ended_)
            return false;
        env_ = nullptr;
        ended_ = false;
        return true;
    }

private:
    std::mutex lock_;
    napi_env env_ = nullptr;
    bool ended_ = false;
};
SessionOwner gSessionOwner;

// Called holding the turn.
void endSessionOfEndedOwner() {
    if (gSessionOwner.takeEnded())
        TVDTerminate();
}

Record result(Napi::Env env, TVDCoreStatus status) {
    Record out(env);
    out.number("status", status);
    return out;
}

// -- The functions -------------------------------------------------------------

Napi::Value initialize(const Arguments& args) {
    if (!args.atLeast(2))
        return args.env().Null();
    std::string application = args.converted(0);
    std::string version = args.converted(1);
    const TVDCoreStatus status = TVDInitialize(application, version, tvdMessageCallback);
    if (status == kTVDSuccess)
        gSessionOwner.set(args.env());
    return result(args.env(), status).value();
}

Napi::Value isInitialized(const Arguments& args) {
    return Napi::Boolean::New(args.env(), TVDIsInitialized());
}

Napi::Value cleanup(const Arguments& args) {
    const TVDCoreStatus status = TVDTerminate();
    if (status == kTVDSuccess)
        gSessionOwner.set(nullptr);
    return result(args.env(), status).value();
}

Napi::Value resolveApplicationSpecifier(const Arguments& args) {
    if (!args.atLeast(1))
        return args.env().Null();
    std::string specifier;
    TVDCoreStatus status = TVDResolveApplicationSpecifier(args.converted(0), specifier);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.text("specifier", specifier);
    return out.value();
}

Napi::Value getInstalledApplicationSpecifiers(const Arguments& args) {
    std::vector<std::string> specifiers;
    TVDCoreStatus status = TVDGetInstalledApplicationSpecifiers(specifiers);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.texts("specifiers", specifiers);
    return out.value();
}

Napi::Value getDisplayNameForApplication(const Arguments& args) {
    if (!args.atLeast(1))
        return args.env().Null();
    std::string name;
    TVDCoreStatus status = TVDGetDisplayNameForApplication(args.converted(0), name);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.text("name", name);
    return out.value();
}

Napi::Value getApplicationInstalled(const Arguments& args) {
    if (!args.atLeast(1))
        return args.env().Null();
    bool installed = false;
    TVDCoreStatus status = TVDGetApplicationInstalled(args.string(0), installed);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.boolean("isInstalled", installed);
    return out.value();
}

Napi::Value getApplicationRunning(const Arguments& args) {
    if (!args.atLeast(1))
        return args.env().Null();
    bool running = false;
    TVDCoreStatus status = TVDGetApplicationRunning(args.string(0), running);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.boolean("isRunning", running);
    return out.value();
}

Napi::Value launchApplication(const Arguments& args) {
    if (!args.atLeast(1))
        return args.env().Null();
    std::string specifier = args.string(0);
    std::string parameters = args.count() > 1 ? args.string(1) : std::string();
    bool flag = args.count() > 2 ? args.boolean(2) : false;
    return result(args.env(), TVDLaunchApplication(specifier, parameters, flag)).value();
}

Napi::Value bringApplicationToFront(const Arguments& args) {
    if (!args.atLeast(1))
        return args.env().Null();
    return result(args.env(), TVDBringApplicationToFront(args.string(0))).value();
}

Napi::Value compileToTVSBin(const Arguments& args) {
    if (!args.atLeast(3))
        return args.env().Null();
    std::string script = args.string(0);
    std::string fileName = args.string(1);
    std::string includePath = args.string(2);
    std::string text;
    TVDCoreStatus status = TVDCompileToTVSBin(script, fileName, includePath, text);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.text("output", text);
    else if (status == kTVDCompileError)
        out.text("error", text);
    return out.value();
}

Napi::Value checkSyntax(const Arguments& args) {
    if (!args.atLeast(3))
        return args.env().Null();
    std::string script = args.string(0);
    std::string fileName = args.string(1);
    std::string includePath = args.string(2);
    std::string report;
    TVDCoreStatus status = TVDCheckSyntax(script, fileName, includePath, report);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.text("result", report);
    return out.value();
}

Napi::Value getScriptDirectives(const Arguments& args) {
    const Napi::Env env = args.env();
    if (!args.atLeast(2))
        return env.Null();
    std::string script = args.string(0);
    std::string fileName = args.string(1);
    std::string values[4], error;
    TVDCoreStatus status = TVDGetScriptDirectives(script, fileName, values[0], values[1], values[2], values[3], error);
    Record out = result(env, status);
    if (status == kTVDSuccess) {
        static const char* const names[4] = {"script", "strict", "target", "targetengine"};
        Record directives(env);
        for (int i = 0; i < 4; ++i)
            if (!values[i].empty())
                directives.text(names[i], values[i]);
        out.record("directives", directives);
    } else if (status == kTVDPreprocessorError) {
        out.text("error", error);
    }
    return out.value();
}

Napi::Value sendDebugMessage(const Arguments& args) {
    const Napi::Env env = args.env();
    if (!args.atLeast(2))
        return env.Null();
    std::string target = args.string(0);
    std::string body = args.string(1);
    bool launch = args.count() > 2 ? args.boolean(2) : true;
    int64_t timeout = 0;
    if (args.count() > 3 && args.isNumber(3))
        timeout = args.integer(3);
    // Normalising needs the session's application table: without a session
    // the answer is 12 before any message is made.
    if (!TVDIsInitialized())
        return result(env, kTVDNotInitialized).value();

    Message message;
    message.type.assign("Debug");
    message.responseRequest.assign("Result Error");
    LxObjects::Tellwire::Specifier specifier(target.c_str(), true);
    specifier.setEngine(LoString("tvtk"));
    message.target = specifier;
    message.body.assign(body.data(), int(body.size()));
    if (timeout > 0) {
        message.timeout = timeout;
        message.responseRequest += " Timeout";
    }
    TVDCoreStatus status = TVDSendDebugMessage(message, launch);
    Record out = result(env, status);
    if (status == kTVDSuccess)
        out.number("serialNumber", double(message.serialNumber));
    return out.value();
}

// A pump inside a callback of another pump keeps the outer function and
// gives it back when it returns, so the outer pump's later messages still
// reach it.
Napi::Value pumpSession(const Arguments& args) {
    const Napi::Env env = args.env();
    if (!args.atLeast(1))
        return env.Null();
    if (!args.isFunction(0)) {
        TVDHost::raiseTypeError(env, "First parameter must be a function");
        return env.Null();
    }
    // Released as the call returns, after the outer function is back.
    const Napi::FunctionReference function = Napi::Persistent(args.at(0).As<Napi::Function>());
    if (function.IsEmpty())
        return env.Null();  // its error raised
    struct Restore {
        PumpCallback outer;
        ~Restore() { gPump = outer; }
    } restore{gPump};
    gPump = PumpCallback{false, env, &function};
    const TVDCoreStatus status = TVDPumpMessages();
    // The exception is the answer; an environment that ends (a worker that
    // exits in its callback) can take no other.
    if (gPump.threw)
        return Napi::Value();
    return result(env, status).value();
}

Napi::Value pathToUri(const Arguments& args) {
    if (!args.atLeast(1))
        return args.env().Null();
    std::string uri;
    TVDCoreStatus status = TVDPathToUri(args.converted(0), uri);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.text("uri", uri);
    return out.value();
}

Napi::Value uriToPath(const Arguments& args) {
    if (!args.atLeast(1))
        return args.env().Null();
    std::string path;
    TVDCoreStatus status = TVDUriToPath(args.converted(0), path);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.text("path", path);
    return out.value();
}

// -- Entries -------------------------------------------------------------------

// Asked while a call waits for its turn: a worker that is being stopped
// gives up waiting, since the holder may be waiting for it to end.
bool stillRunning(void* env) { return TVDHost::canRunScript(static_cast<napi_env>(env)); }

// Nothing the core throws crosses into the host: it becomes a host error.
// A call whose environment ends while it waits, or that finds it ending,
// answers nothing.
template <Napi::Value (*F)(const Arguments&)>
napi_value entry(napi_env env, napi_callback_info callbackInfo) {
    try {
        TVDTurn turn(stillRunning, env);
        if (!turn.held())
            return nullptr;
        endSessionOfEndedOwner();
        const Napi::CallbackInfo info(env, callbackInfo);
        const Napi::Value answer = F(Arguments(info));
        endSessionOfEndedOwner();
        return answer;
    } catch (const TVDHost::Ending&) {
    } catch (const std::bad_alloc&) {
        TVDHost::raiseError(env, "Out of memory");
    } catch (const std::exception& e) {
        TVDHost::raiseError(env, e.what());
    } catch (...) {
        TVDHost::raiseError(env, "Uncaught Exception");
    }
    return nullptr;
}

struct Export {
    const char* name;
    napi_callback callback;
};

const Export kExports[] = {
    {"tvdInitialize", entry<initialize>},
    {"tvdIsInitialized", entry<isInitialized>},
    {"tvdCleanup", entry<cleanup>},
    {"tvdResolveApplicationSpecifier", entry<resolveApplicationSpecifier>},
    {"tvdGetInstalledApplicationSpecifiers", entry<getInstalledApplicationSpecifiers>},
    {"tvdGetDisplayNameForApplication", entry<getDisplayNameForApplication>},
    {"tvdGetApplicationInstalled", entry<getApplicationInstalled>},
    {"tvdGetApplicationRunning", entry<getApplicationRunning>},
    {"tvdLaunchApplication", entry<launchApplication>},
    {"tvdBringApplicationToFront", entry<bringApplicationToFront>},
    {"tvdCompileToTVSBin", entry<compileToTVSBin>},
    {"tvdCheckSyntax", entry<checkSyntax>},
    {"tvdGetScriptDirectives", entry<getScriptDirectives>},
    {"tvdSendDebugMessage", entry<sendDebugMessage>},
    {"tvdPumpSession", entry<pumpSession>},
    {"tvdPathToUri", entry<pathToUri>},
    {"tvdUriToPath", entry<uriToPath>},
};

// Never waits: gives up at once when another thread holds the turn.
bool noWait(void*) { return false; }

// An environment that ends (a worker that exits, the main thread at its
// end) takes its session along: nothing it started stays up for nobody.
// The thread that holds the turn may be waiting for this one to end, so
// the end does not wait for it: it is marked, and the next call ends the
// session then.
void endSessionOf(napi_env env, void*, void*) {
    try {
        if (!gSessionOwner.markEnded(env))
            return;
        TVDTurn turn(noWait, nullptr);
        if (turn.held())
            endSessionOfEndedOwner();
    } catch (...) {
        // The environment goes either way; the process record stays sound.
    }
}

// Every call that fails raises its error; a name that cannot be made is
// set with the empty key.
napi_value registerModule(napi_env env, napi_value exports) {
    if (!TVDHost::watchEnd(env, endSessionOf))
        return exports;
    const Napi::Object module(env, exports);
    for (const Export& e : kExports) {
        Napi::String key = Napi::String::New(env, e.name);
        if (key.IsEmpty())
            key = Napi::String::New(env, "", 0);
        const Napi::Function function = TVDHost::function(env, e.callback);
        if (!function.IsEmpty())
            module.Set(key, function);
    }
    return exports;
}

napi_module gModule = {
    1,                          // version
    0,                          // flags
    "TVDCoreLibInterface.cpp",  // file name
    registerModule,
    "tvdcorelibinterface",
    nullptr,
    {nullptr, nullptr, nullptr, nullptr},
};

__attribute__((constructor)) void loadModule() { napi_module_register(&gModule); }

// The message's fields as properties of a host object.
Record& setFields(Record& object, const Message& message) {
    const struct {
        const char* name;
        const LoString& value;
    } texts[] = {{"target", message.target},
                 {"sender", message.sender},
                 {"type", message.type},
                 {"responseRequest", message.responseRequest},
                 {"body", message.body}};
    // The reply numbers only when set.
    const struct {
        const char* name;
        LxObjects::u32 value;
        bool always;
    } numbers[] = {{"serialNumber", message.serialNumber, true},
                   {"receivedSerial", message.received, false},
                   {"resultSerial", message.result, false},
                   {"errorSerial", message.error, false}};
    for (const auto& t : texts)
        object.text(t.name, t.value.text(), size_t(t.value.length()));
    for (const auto& n : numbers)
        if (n.always || n.value != Message::kUnset)
            object.number(n.name, double(n.value));
    return object;
}

// Calls the pump's function with (kind, the message's object); false when
// it threw or could not be called (its environment ending, say).
bool deliver(const PumpCallback& pump, int32_t kind, const Message& message) {
    const Napi::Env env(pump.env);
    Napi::HandleScope scope(env);
    Record object(env);
    const Napi::Number number = Napi::Number::New(env, kind);
    if (!setFields(object, message).complete() || number.IsEmpty())
        return false;
    // With the undefined receiver, inside an escapable scope of its own.
    Napi::Value answer;
    return pump.function->Call({number, object.value()}).UnwrapTo(&answer) && !env.IsExceptionPending();
}

}  // namespace

// A function that throws leaves its exception pending for the caller of
// "tvdPumpSession": its message is answered as not handled, and the pump
// stops, so that the later messages wait for the next one.
int32_t tvdMessageCallback(int32_t kind, Message& message, LoString* reply) {
    if (!gPump.function)
        return LxCore::Err::kInternal;
    // An exception from an earlier delivery still waits: nothing is called.
    if (Napi::Env(gPump.env).IsExceptionPending()) {
        gPump.threw = true;
        return kTVDCallbackThrew;
    }
    try {
        if (deliver(gPump, kind, message))
            return 0;
    } catch (...) {
        TVDHost::raiseError(gPump.env, "Out of memory");
    }
    gPump.threw = true;
    if (reply)
        reply->assign("Exception");
    return kTVDCallbackThrew;
}
