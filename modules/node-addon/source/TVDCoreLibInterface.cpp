#include "modules/node-addon/source/TVDCoreLibInterface.h"

#include <napi.h>

#include <new>
#include <string>
#include <vector>

#include "objects/LoString.h"
#include "objects/Message.h"
#include "objects/Specifier.h"

namespace {

using LxObjects::LoString;
using Message = LxObjects::Tellwire::Message;

// The function of the running "tvdPumpSession" and its environment; empty
// outside a pump.
struct PumpCallback {
    napi_env env = nullptr;
    Napi::FunctionReference* function = nullptr;
};
PumpCallback gPump;

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
    return result(info.Env(), TVDInitialize(application, version, tvdMessageCallback));
}

Napi::Value isInitialized(const Napi::CallbackInfo& info) { return Napi::Boolean::New(info.Env(), TVDIsInitialized()); }

Napi::Value cleanup(const Napi::CallbackInfo& info) { return result(info.Env(), TVDTerminate()); }

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
    gPump = PumpCallback{env, function};
    return result(env, TVDPumpMessages());
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

napi_value registerModule(napi_env env, napi_value exports) {
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

// Sets a text property from a message field.
void setText(Napi::Object& object, const char* name, const LoString& value) {
    object.Set(name, Napi::String::New(object.Env(), value.text(), size_t(value.length())));
}

}  // namespace

// A function that throws leaves its exception pending for the caller of
// "tvdPumpSession": its message is answered as not handled, and later
// messages are not delivered into the pending exception.
int32_t tvdMessageCallback(int32_t kind, Message& message, LoString* reply) {
    if (!gPump.function)
        return -33;
    try {
        Napi::Env env(gPump.env);
        if (env.IsExceptionPending())
            return -33;
        Napi::EscapableHandleScope scope(env);
        Napi::Object object = Napi::Object::New(env);
        setText(object, "target", message.target);
        setText(object, "sender", message.sender);
        setText(object, "type", message.type);
        setText(object, "responseRequest", message.responseRequest);
        setText(object, "body", message.body);
        object.Set("serialNumber", Napi::Number::New(env, double(message.serialNumber)));
        if (message.received != Message::kUnset)
            object.Set("receivedSerial", Napi::Number::New(env, double(message.received)));
        if (message.result != Message::kUnset)
            object.Set("resultSerial", Napi::Number::New(env, double(message.result)));
        if (message.error != Message::kUnset)
            object.Set("errorSerial", Napi::Number::New(env, double(message.error)));
        gPump.function->Call(env.Undefined(), {Napi::Number::New(env, kind), object});
        if (env.IsExceptionPending()) {
            if (reply)
                reply->assign("Exception");
            return -29;
        }
        return 0;
    } catch (...) {
        return -29;
    }
}
