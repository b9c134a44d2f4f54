#include "modules/node-addon/source/TVDCoreLibInterface.h"

#include <node_api.h>

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "core/ErrorCodes.h"
#include "modules/node-addon/source/TVDHost.h"
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
// script; the binding talks to the host only through TVDHost, which
// reports such refusals, and a call whose environment is ending answers
// nothing. Core work under way (a long check) finishes and its answer is
// dropped; a call still waiting for its turn gives up the wait.

// The function of the running "tvdPumpSession" and its environment; empty
// outside a pump.
struct PumpCallback {
    bool threw = false;  // a call of the function threw or could not run
    napi_env env = nullptr;
    napi_ref function = nullptr;
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

Record result(napi_env env, TVDCoreStatus status) {
    Record out(env);
    out.number("status", status);
    return out;
}

// -- The functions -------------------------------------------------------------

napi_value initialize(const Arguments& args) {
    if (!args.atLeast(2))
        return TVDHost::null(args.env());
    std::string application = args.converted(0);
    std::string version = args.converted(1);
    const TVDCoreStatus status = TVDInitialize(application, version, tvdMessageCallback);
    if (status == kTVDSuccess)
        gSessionOwner.set(args.env());
    return result(args.env(), status).value();
}

napi_value isInitialized(const Arguments& args) {
    napi_value answer = nullptr;
    if (napi_get_boolean(args.env(), TVDIsInitialized(), &answer) != napi_ok)
        TVDHost::raiseLastError(args.env());
    return answer;
}

napi_value cleanup(const Arguments& args) {
    const TVDCoreStatus status = TVDTerminate();
    if (status == kTVDSuccess)
        gSessionOwner.set(nullptr);
    return result(args.env(), status).value();
}

napi_value resolveApplicationSpecifier(const Arguments& args) {
    if (!args.atLeast(1))
        return TVDHost::null(args.env());
    std::string specifier;
    TVDCoreStatus status = TVDResolveApplicationSpecifier(args.converted(0), specifier);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.text("specifier", specifier);
    return out.value();
}

napi_value getInstalledApplicationSpecifiers(const Arguments& args) {
    std::vector<std::string> specifiers;
    TVDCoreStatus status = TVDGetInstalledApplicationSpecifiers(specifiers);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.texts("specifiers", specifiers);
    return out.value();
}

napi_value getDisplayNameForApplication(const Arguments& args) {
    if (!args.atLeast(1))
        return TVDHost::null(args.env());
    std::string name;
    TVDCoreStatus status = TVDGetDisplayNameForApplication(args.converted(0), name);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.text("name", name);
    return out.value();
}

napi_value getApplicationInstalled(const Arguments& args) {
    if (!args.atLeast(1))
        return TVDHost::null(args.env());
    bool installed = false;
    TVDCoreStatus status = TVDGetApplicationInstalled(args.string(0), installed);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.boolean("isInstalled", installed);
    return out.value();
}

napi_value getApplicationRunning(const Arguments& args) {
    if (!args.atLeast(1))
        return TVDHost::null(args.env());
    bool running = false;
    TVDCoreStatus status = TVDGetApplicationRunning(args.string(0), running);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.boolean("isRunning", running);
    return out.value();
}

napi_value launchApplication(const Arguments& args) {
    if (!args.atLeast(1))
        return TVDHost::null(args.env());
    std::string specifier = args.string(0);
    std::string parameters = args.count() > 1 ? args.string(1) : std::string();
    bool flag = args.count() > 2 ? args.boolean(2) : false;
    return result(args.env(), TVDLaunchApplication(specifier, parameters, flag)).value();
}

napi_value bringApplicationToFront(const Arguments& args) {
    if (!args.atLeast(1))
        return TVDHost::null(args.env());
    return result(args.env(), TVDBringApplicationToFront(args.string(0))).value();
}

napi_value compileToTVSBin(const Arguments& args) {
    if (!args.atLeast(3))
        return TVDHost::null(args.env());
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

napi_value checkSyntax(const Arguments& args) {
    if (!args.atLeast(3))
        return TVDHost::null(args.env());
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

napi_value getScriptDirectives(const Arguments& args) {
    napi_env env = args.env();
    if (!args.atLeast(2))
        return TVDHost::null(env);
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

napi_value sendDebugMessage(const Arguments& args) {
    napi_env env = args.env();
    if (!args.atLeast(2))
        return TVDHost::null(env);
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
napi_value pumpSession(const Arguments& args) {
    napi_env env = args.env();
    if (!args.atLeast(1))
        return TVDHost::null(env);
    if (!args.isFunction(0)) {
        TVDHost::raiseTypeError(env, "First parameter must be a function");
        return TVDHost::null(env);
    }
    napi_ref function = nullptr;
    if (napi_create_reference(env, args.at(0), 1, &function) != napi_ok) {
        TVDHost::raiseLastError(env);
        return TVDHost::null(env);
    }
    struct Restore {
        PumpCallback outer;
        napi_env env;
        napi_ref own;
        ~Restore() {
            napi_delete_reference(env, own);
            gPump = outer;
        }
    } restore{gPump, env, function};
    gPump = PumpCallback{false, env, function};
    const TVDCoreStatus status = TVDPumpMessages();
    // The exception is the answer; an environment that ends (a worker that
    // exits in its callback) can take no other.
    if (gPump.threw)
        return nullptr;
    return result(env, status).value();
}

napi_value pathToUri(const Arguments& args) {
    if (!args.atLeast(1))
        return TVDHost::null(args.env());
    std::string uri;
    TVDCoreStatus status = TVDPathToUri(args.converted(0), uri);
    Record out = result(args.env(), status);
    if (status == kTVDSuccess)
        out.text("uri", uri);
    return out.value();
}

napi_value uriToPath(const Arguments& args) {
    if (!args.atLeast(1))
        return TVDHost::null(args.env());
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
template <napi_value (*F)(const Arguments&)>
napi_value entry(napi_env env, napi_callback_info callbackInfo) {
    try {
        TVDTurn turn(stillRunning, env);
        if (!turn.held())
            return nullptr;
        endSessionOfEndedOwner();
        napi_value answer = F(Arguments(env, callbackInfo));
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

// The environment's instance data marks it as one whose end is watched;
// a module registered again in the same environment keeps the mark.
bool watchEnd(napi_env env) {
    void* mark = nullptr;
    if (napi_get_instance_data(env, &mark) != napi_ok)
        return false;
    return mark || napi_set_instance_data(env, env, endSessionOf, nullptr) == napi_ok;
}

napi_value registerModule(napi_env env, napi_value exports) {
    if (!watchEnd(env)) {
        TVDHost::raiseLastError(env);
        return exports;
    }
    for (const Export& e : kExports) {
        napi_value key = nullptr;
        if (napi_create_string_utf8(env, e.name, NAPI_AUTO_LENGTH, &key) != napi_ok) {
            TVDHost::raiseLastError(env);
            napi_create_string_utf8(env, "", 0, &key);
        }
        napi_value function = nullptr;
        if (napi_create_function(env, nullptr, 0, e.callback, nullptr, &function) != napi_ok ||
            napi_set_property(env, exports, key, function) != napi_ok)
            TVDHost::raiseLastError(env);
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
    const napi_env env = pump.env;
    bool pending = false;
    TVDHost::Scope scope(env);
    if (!scope.open())
        return false;
    Record object(env);
    napi_value number = nullptr, function = nullptr, undefined = nullptr, answer = nullptr;
    const bool made = setFields(object, message).complete() && napi_create_int32(env, kind, &number) == napi_ok
        && napi_get_reference_value(env, pump.function, &function) == napi_ok && function
        && napi_get_undefined(env, &undefined) == napi_ok;
    napi_value args[2] = {number, object.value()};
    return made && napi_call_function(env, undefined, function, 2, args, &answer) == napi_ok
        && napi_is_exception_pending(env, &pending) == napi_ok && !pending;
}

}  // namespace

// A function that throws leaves its exception pending for the caller of
// "tvdPumpSession": its message is answered as not handled, and the pump
// stops, so that the later messages wait for the next one.
int32_t tvdMessageCallback(int32_t kind, Message& message, LoString* reply) {
    if (!gPump.function)
        return LxCore::Err::kInternal;
    // An exception from an earlier delivery still waits: nothing is called.
    bool pending = false;
    if (napi_is_exception_pending(gPump.env, &pending) != napi_ok || pending) {
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
