// The binding's calls into the host that can fail without ending the
// process. A worker being stopped refuses every call that could run script,
// and so does an environment with an exception pending. The binding uses
// node-addon-api in its failure-reporting form: a call that can fail
// answers a Napi::Maybe or an empty value, having raised the host error,
// and a throw into an ending environment is dropped where it would
// otherwise end the process. What the wrapper has no such form for is a
// raw Node-API call here, its status checked.
#pragma once
// The settings this relies on. The checked form of As<> would end the
// process where a value of another type is read; unchecked, the read fails
// with the host's type error.
#if !defined(NODE_ADDON_API_DISABLE_CPP_EXCEPTIONS) || !defined(NODE_ADDON_API_ENABLE_MAYBE) \
    || !defined(NODE_API_SWALLOW_UNTHROWABLE_EXCEPTIONS) || defined(NODE_ADDON_API_ENABLE_TYPE_CHECK_ON_AS)
#error "the binding needs node-addon-api's failure-reporting settings (modules/node-addon/CMakeLists.txt)"
#endif
#include <napi.h>

namespace TVDHost {

// Thrown where a call cannot go on: its environment is ending and can take
// no error. The entry that runs the call answers nothing.
struct Ending {};

// After a wrapper call that failed, and so raised its error: throws Ending
// when the environment took none.
void raised(Napi::Env env);
// Raise a new error unless one is pending; false when the environment is
// ending and took none.
bool raiseError(Napi::Env env, const char* message);
bool raiseTypeError(Napi::Env env, const char* message);

// True while the environment can still run script; false once it is ending
// (or has an exception pending).
bool canRunScript(Napi::Env env);

// A function without a name of its own that runs callback; empty, its
// error raised, when none could be made. The callback builds its
// Napi::CallbackInfo itself, inside its own guard, as nothing that
// allocates may throw across the host's call.
Napi::Function function(Napi::Env env, napi_callback callback);

// Has onEnd run when env ends, once per environment however often the
// module is registered in it; false, its error raised, when that fails.
bool watchEnd(Napi::Env env, napi_finalize onEnd);

}  // namespace TVDHost
