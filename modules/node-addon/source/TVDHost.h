// The binding's calls into the host that can fail without ending the
// process. A worker being stopped refuses every call that could run script,
// and so does an environment with an exception pending; the node-addon-api
// wrappers turn such a refusal into a fatal error, so the binding uses
// Node-API directly through these and looks at every status.
#pragma once
#include <node_api.h>

namespace TVDHost {

// Thrown where a call cannot go on: its environment is ending and can take
// no error. The entry that runs the call answers nothing.
struct Ending {};

// Raises the host error of the Node-API call that failed last (a TypeError
// for a value of the wrong type), unless an exception is pending already.
// False when the environment is ending and took none.
bool raiseLastError(napi_env env);
// Raise a new error unless one is pending; false when the environment is
// ending and took none.
bool raiseError(napi_env env, const char* message);
bool raiseTypeError(napi_env env, const char* message);

// True while the environment can still run script; false once it is ending
// (or has an exception pending).
bool canRunScript(napi_env env);

// The host's null; nullptr when even that cannot be had.
napi_value null(napi_env env);

// A handle scope that may fail to open; closed when it goes.
class Scope {
public:
    explicit Scope(napi_env env);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    bool open() const { return scope_ != nullptr; }

private:
    napi_env env_;
    napi_handle_scope scope_ = nullptr;
};

}  // namespace TVDHost
