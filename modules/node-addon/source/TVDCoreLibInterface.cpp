#include "modules/node-addon/source/TVDCoreLibInterface.h"

#include <napi.h>

#include <new>
#include <string>
#include <vector>

#include "core/ErrorCodes.h"
#include "objects/LoString.h"
#include "objects/Message.h"
#include "objects/Specifier.h"

namespace {

using LxObjects::LoString;
using Message = LxObjects::Tellwire::Message;

// Threads: the module may be loaded on the main thread and in workers
// alike. Every call holds its turn (TVDTurn) from first to last, so calls
// from several threads run one after another, each complete. The pump's
// function is the pumping thread's own and is called on that thread only,
// as delivery happens inside its call. The session belongs to the
// environment that started it: when that environment ends (a worker
// exits) with the session still up, the session ends with it.

// The function of the running "tvdPumpSession" and its environment; empty
// outside a pump.
struct PumpCallback {
    bool threw = false;  // a call of the function threw or could not run
    napi_env env = nullptr;
    Napi::FunctionReference* function = nullptr;
};
PumpCallback gPump;

// The environment whose "tvdInitialize" started the running session.
napi_env gSessionOwner = nullptr;

// -- Arguments ---------------------------------------------------------------

// A host string; another type raises the host's type error and reads "".
std::string stringArg(const Napi::CallbackInfo& info, size_t i) {
    return info[i].As<Napi::String>().Utf8Value();
}

// Any value, through the host's own to-string conversion. A conversion
// that throws leaves a value without environment, which must not be read.
std::string convertedArg(const Napi::CallbackInfo& info, size_t i) {
    Napi::String text = info[i].ToString();
    return text.IsEmpty() ? std::string() : text.Utf8Value();
}

bool boolArg(const Napi::CallbackInfo& info, size_t i) { return info[i].As<Napi::Boolean>().Value(); }

bool enoughArguments(const Napi::CallbackInfo& info, size_t minimum) {
    if (info.Length() >= minimum)
        return true;
    Napi::TypeError::New(info.Env(), "Wrong number of arguments").ThrowAsJavaScriptException();
    return false;
}

Napi::Object result(Napi::Env env, TVDCoreStatus status) {
    Napi::Object out = Napi::Object::New(env);
    out.Set("status", Napi::Number::New(env, status));
    return out;
}

// -- The functions -------------------------------------------------------------

Napi::Value initialize(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 2))
        return info.Env().Null();
    std::string application = convertedArg(info, 0);
    std::string version = convertedArg(info, 1);
    const TVDCoreStatus status = TVDInitialize(application, version, tvdMessageCallback);
    if (status == kTVDSuccess)
        gSessionOwner = info.Env();
    return result(info.Env(), status);
}

Napi::Value isInitialized(const Napi::CallbackInfo& info) { return Napi::Boolean::New(info.Env(), TVDIsInitialized()); }

Napi::Value cleanup(const Napi::CallbackInfo& info) {
    const TVDCoreStatus status = TVDTerminate();
    if (status == kTVDSuccess)
        gSessionOwner = nullptr;
    return result(info.Env(), status);
}

Napi::Value resolveApplicationSpecifier(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 1))
        return info.Env().Null();
    std::string specifier;
    TVDCoreStatus status = TVDResolveApplicationSpecifier(convertedArg(info, 0), specifier);
    Napi::Object out = result(info.Env(), status);
    if (status == kTVDSuccess)
        out.Set("specifier", specifier);
    return out;
}

Napi::Value getInstalledApplicationSpecifiers(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    std::vector<std::string> specifiers;
    TVDCoreStatus status = TVDGetInstalledApplicationSpecifiers(specifiers);
    Napi::Object out = result(env, status);
    if (status == kTVDSuccess) {
        Napi::Array list = Napi::Array::New(env, specifiers.size());
        for (size_t i = 0; i < specifiers.size(); ++i)
            list.Set(uint32_t(i), specifiers[i]);
        out.Set("specifiers", list);
    }
    return out;
}

Napi::Value getDisplayNameForApplication(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 1))
        return info.Env().Null();
    std::string name;
    TVDCoreStatus status = TVDGetDisplayNameForApplication(convertedArg(info, 0), name);
    Napi::Object out = result(info.Env(), status);
    if (status == kTVDSuccess)
        out.Set("name", name);
    return out;
}

Napi::Value getApplicationInstalled(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 1))
        return info.Env().Null();
    bool installed = false;
    TVDCoreStatus status = TVDGetApplicationInstalled(stringArg(info, 0), installed);
    Napi::Object out = result(info.Env(), status);
    if (status == kTVDSuccess)
        out.Set("isInstalled", installed);
    return out;
}

Napi::Value getApplicationRunning(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 1))
        return info.Env().Null();
    bool running = false;
    TVDCoreStatus status = TVDGetApplicationRunning(stringArg(info, 0), running);
    Napi::Object out = result(info.Env(), status);
    if (status == kTVDSuccess)
        out.Set("isRunning", running);
    return out;
}

Napi::Value launchApplication(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 1))
        return info.Env().Null();
    std::string specifier = stringArg(info, 0);
    std::string parameters = info.Length() > 1 ? stringArg(info, 1) : std::string();
    bool flag = info.Length() > 2 ? boolArg(info, 2) : false;
    return result(info.Env(), TVDLaunchApplication(specifier, parameters, flag));
}

Napi::Value bringApplicationToFront(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 1))
        return info.Env().Null();
    return result(info.Env(), TVDBringApplicationToFront(stringArg(info, 0)));
}

Napi::Value compileToTVSBin(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 3))
        return info.Env().Null();
    std::string script = stringArg(info, 0);
    std::string fileName = stringArg(info, 1);
    std::string includePath = stringArg(info, 2);
    std::string text;
    TVDCoreStatus status = TVDCompileToTVSBin(script, fileName, includePath, text);
    Napi::Object out = result(info.Env(), status);
    if (status == kTVDSuccess)
        out.Set("output", text);
    else if (status == kTVDCompileError)
        out.Set("error", text);
    return out;
}

Napi::Value checkSyntax(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 3))
        return info.Env().Null();
    std::string script = stringArg(info, 0);
    std::string fileName = stringArg(info, 1);
    std::string includePath = stringArg(info, 2);
    std::string report;
    TVDCoreStatus status = TVDCheckSyntax(script, fileName, includePath, report);
    Napi::Object out = result(info.Env(), status);
    if (status == kTVDSuccess)
        out.Set("result", report);
    return out;
}

Napi::Value getScriptDirectives(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    if (!enoughArguments(info, 2))
        return env.Null();
    std::string script = stringArg(info, 0);
    std::string fileName = stringArg(info, 1);
    std::string values[4], error;
    TVDCoreStatus status = TVDGetScriptDirectives(script, fileName, values[0], values[1], values[2], values[3], error);
    Napi::Object out = result(env, status);
    if (status == kTVDSuccess) {
        static const char* const names[4] = {"script", "strict", "target", "targetengine"};
        Napi::Object directives = Napi::Object::New(env);
        for (int i = 0; i < 4; ++i)
            if (!values[i].empty())
                directives.Set(names[i], values[i]);
        out.Set("directives", directives);
    } else if (status == kTVDPreprocessorError) {
        out.Set("error", error);
    }
    return out;
}

Napi::Value sendDebugMessage(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    if (!enoughArguments(info, 2))
        return env.Null();
    std::string target = stringArg(info, 0);
    std::string body = stringArg(info, 1);
    bool launch = info.Length() > 2 ? boolArg(info, 2) : true;
    int64_t timeout = 0;
    if (info.Length() > 3 && info[3].IsNumber())
        timeout = info[3].As<Napi::Number>().Int64Value();
    // Normalising needs the session's application table: without a session
    // the answer is 12 before any message is made.
    if (!TVDIsInitialized())
        return result(env, kTVDNotInitialized);

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
    Napi::Object out = result(env, status);
    if (status == kTVDSuccess)
        out.Set("serialNumber", Napi::Number::New(env, double(message.serialNumber)));
    return out;
}

// A pump inside a callback of another pump keeps the outer function and
// gives it back when it returns, so the outer pump's later messages still
// reach it.
Napi::Value pumpSession(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    if (!enoughArguments(info, 1))
        return env.Null();
    if (!info[0].IsFunction()) {
        Napi::TypeError::New(env, "First parameter must be a function").ThrowAsJavaScriptException();
        return env.Null();
    }
    Napi::FunctionReference* function = new Napi::FunctionReference(Napi::Persistent(info[0].As<Napi::Function>()));
    if (function->IsEmpty()) {
        delete function;
        return env.Null();
    }
    struct Restore {
        PumpCallback outer;
        Napi::FunctionReference* own;
        ~Restore() {
            delete own;
            gPump = outer;
        }
    } restore{gPump, function};
    gPump = PumpCallback{false, env, function};
    const TVDCoreStatus status = TVDPumpMessages();
    // The exception is the answer; an environment that ends (a worker that
    // exits in its callback) can take no other.
    if (gPump.threw)
        return Napi::Value();
    return result(env, status);
}

Napi::Value pathToUri(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 1))
        return info.Env().Null();
    std::string uri;
    TVDCoreStatus status = TVDPathToUri(convertedArg(info, 0), uri);
    Napi::Object out = result(info.Env(), status);
    if (status == kTVDSuccess)
        out.Set("uri", uri);
    return out;
}

Napi::Value uriToPath(const Napi::CallbackInfo& info) {
    if (!enoughArguments(info, 1))
        return info.Env().Null();
    std::string path;
    TVDCoreStatus status = TVDUriToPath(convertedArg(info, 0), path);
    Napi::Object out = result(info.Env(), status);
    if (status == kTVDSuccess)
        out.Set("path", path);
    return out;
}

// -- Entries -------------------------------------------------------------------

void throwUnlessPending(napi_env env, const char* text) {
    bool pending = false;
    if (napi_is_exception_pending(env, &pending) == napi_ok && !pending)
        napi_throw_error(env, nullptr, text);
}

// Nothing the core throws crosses into the host: it becomes a host error.
template <Napi::Value (*F)(const Napi::CallbackInfo&)>
napi_value entry(napi_env env, napi_callback_info callbackInfo) {
    try {
        TVDTurn turn;
        Napi::CallbackInfo info(env, callbackInfo);
        return F(info);
    } catch (const std::bad_alloc&) {
        throwUnlessPending(env, "Out of memory");
    } catch (const std::exception& e) {
        throwUnlessPending(env, e.what());
    } catch (...) {
        throwUnlessPending(env, "Uncaught Exception");
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

// An environment that ends (a worker that exits, the main thread at its
// end) takes its session along: nothing it started stays up for nobody.
void endSessionOf(napi_env env, void*, void*) {
    try {
        TVDTurn turn;
        if (gSessionOwner != env)
            return;
        gSessionOwner = nullptr;
        TVDTerminate();
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
        Napi::Error::New(env).ThrowAsJavaScriptException();
        return exports;
    }
    for (const Export& e : kExports) {
        napi_value key = nullptr;
        if (napi_create_string_utf8(env, e.name, NAPI_AUTO_LENGTH, &key) != napi_ok) {
            Napi::Error::New(env).ThrowAsJavaScriptException();
            napi_create_string_utf8(env, "", 0, &key);
        }
        napi_value function = nullptr;
        if (napi_create_function(env, nullptr, 0, e.callback, nullptr, &function) != napi_ok ||
            napi_set_property(env, exports, key, function) != napi_ok)
            Napi::Error::New(env).ThrowAsJavaScriptException();
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

// The message's fields as properties of object. Plain Node-API calls: in an
// environment on its way out (a worker ending) they fail with a status,
// where the wrapper classes would end the process.
bool setFields(napi_env env, napi_value object, const Message& message) {
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
    for (const auto& t : texts) {
        napi_value value = nullptr;
        if (napi_create_string_utf8(env, t.value.text(), size_t(t.value.length()), &value) != napi_ok
            || napi_set_named_property(env, object, t.name, value) != napi_ok)
            return false;
    }
    for (const auto& n : numbers) {
        if (!n.always && n.value == Message::kUnset)
            continue;
        napi_value value = nullptr;
        if (napi_create_double(env, double(n.value), &value) != napi_ok
            || napi_set_named_property(env, object, n.name, value) != napi_ok)
            return false;
    }
    return true;
}

}  // namespace

// A function that throws leaves its exception pending for the caller of
// "tvdPumpSession": its message is answered as not handled, and the pump
// stops, so that the later messages wait for the next one.
int32_t tvdMessageCallback(int32_t kind, Message& message, LoString* reply) {
    if (!gPump.function)
        return LxCore::Err::kInternal;
    try {
        Napi::Env env(gPump.env);
        if (env.IsExceptionPending()) {
            gPump.threw = true;
            return kTVDCallbackThrew;
        }
        Napi::HandleScope scope(env);
        napi_value object = nullptr, number = nullptr, function = nullptr, undefined = nullptr, answer = nullptr;
        const bool made = napi_create_object(env, &object) == napi_ok && setFields(env, object, message)
            && napi_create_int32(env, kind, &number) == napi_ok
            && napi_get_reference_value(env, *gPump.function, &function) == napi_ok && function
            && napi_get_undefined(env, &undefined) == napi_ok;
        napi_value args[2] = {number, object};
        const bool called = made && napi_call_function(env, undefined, function, 2, args, &answer) == napi_ok;
        if (!called || env.IsExceptionPending()) {
            gPump.threw = true;
            if (reply)
                reply->assign("Exception");
            return kTVDCallbackThrew;
        }
        return 0;
    } catch (...) {
        return kTVDCallbackThrew;
    }
}
