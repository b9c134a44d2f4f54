#include "modules/node-addon/source/TVDHost.h"

namespace TVDHost {

namespace {

bool isTypeMismatch(napi_status status) {
    switch (status) {
    case napi_object_expected:
    case napi_string_expected:
    case napi_boolean_expected:
    case napi_number_expected:
        return true;
    default:
        return false;
    }
}

// Node-API's answer while an exception waits: no new one is thrown then.
bool pending(napi_env env) {
    bool waiting = false;
    return napi_is_exception_pending(env, &waiting) == napi_ok && waiting;
}

}  // namespace

bool raiseLastError(napi_env env) {
    // Read first: the next call replaces the record. The message is static.
    const napi_extended_error_info* last = nullptr;
    if (napi_get_last_error_info(env, &last) != napi_ok || !last)
        return pending(env);
    const napi_status failed = last->error_code;
    const char* message = last->error_message ? last->error_message : "Error in native callback";
    return isTypeMismatch(failed) ? raiseTypeError(env, message) : raiseError(env, message);
}

// Node-API throws nothing over a pending exception and leaves it in place.
bool raiseError(napi_env env, const char* message) {
    return napi_throw_error(env, nullptr, message) == napi_ok || pending(env);
}

bool raiseTypeError(napi_env env, const char* message) {
    return napi_throw_type_error(env, nullptr, message) == napi_ok || pending(env);
}

// Setting a property is a call that could run script: an ending environment
// refuses it.
bool canRunScript(napi_env env) {
    Scope scope(env);
    napi_value object = nullptr;
    return scope.open() && napi_create_object(env, &object) == napi_ok
        && napi_set_named_property(env, object, "alive", object) == napi_ok;
}

napi_value null(napi_env env) {
    napi_value value = nullptr;
    return napi_get_null(env, &value) == napi_ok ? value : nullptr;
}

Scope::Scope(napi_env env) : env_(env) {
    if (napi_open_handle_scope(env, &scope_) != napi_ok)
        scope_ = nullptr;
}

Scope::~Scope() {
    if (scope_)
        napi_close_handle_scope(env_, scope_);
}

}  // namespace TVDHost
