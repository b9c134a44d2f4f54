#include "modules/node-addon/source/TVDHost.h"

namespace TVDHost {

namespace {

// Node-API throws nothing over a pending exception and the wrapper ends the
// process if asked to, so a new error is raised only when none waits. One
// that could not be thrown leaves nothing pending: the environment is ending.
template <class Error>
bool raise(Napi::Env env, const char* message) {
    if (!env.IsExceptionPending())
        Error::New(env, message).ThrowAsJavaScriptException();
    return env.IsExceptionPending();
}

// The error of the Node-API call that failed last (a TypeError for a value
// of the wrong type), or the exception it left pending.
bool raiseLastError(Napi::Env env) {
    Napi::Error::New(env).ThrowAsJavaScriptException();
    return env.IsExceptionPending();
}

}  // namespace

void raised(Napi::Env env) {
    if (!env.IsExceptionPending())
        throw Ending{};
}

bool raiseError(Napi::Env env, const char* message) { return raise<Napi::Error>(env, message); }

bool raiseTypeError(Napi::Env env, const char* message) { return raise<Napi::TypeError>(env, message); }

// Setting a property is a call that could run script: an ending environment
// refuses it. Asked again and again while a call waits, so the refusal is
// read from the status rather than raised as an error.
bool canRunScript(Napi::Env env) {
    Napi::HandleScope scope(env);
    const Napi::Object probe = Napi::Object::New(env);
    return !probe.IsEmpty() && napi_set_named_property(env, probe, "alive", probe) == napi_ok;
}

Napi::Function function(Napi::Env env, napi_callback callback) {
    napi_value made = nullptr;
    if (napi_create_function(env, nullptr, 0, callback, nullptr, &made) != napi_ok) {
        raiseLastError(env);
        return Napi::Function();
    }
    return Napi::Function(env, made);
}

// The environment's instance data marks it as watched. The wrapper's own
// form of these calls ends the process when they fail.
bool watchEnd(Napi::Env env, napi_finalize onEnd) {
    void* mark = nullptr;
    if (napi_get_instance_data(env, &mark) == napi_ok
        && (mark || napi_set_instance_data(env, static_cast<napi_env>(env), onEnd, nullptr) == napi_ok))
        return true;
    raiseLastError(env);
    return false;
}

}  // namespace TVDHost
