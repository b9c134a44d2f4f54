// Values across the boundary: the arguments of a call as the binding reads
// them, and the plain objects it answers with. Every Node-API call is
// checked; the first that fails raises its host error (TVDHost.h) and
// the rest is left undone.
#pragma once
#include <node_api.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace TVDHost {

// The arguments of one call. A value of the wrong type raises the host's
// error and reads as "", false or 0; in an environment that is ending,
// a read that fails throws Ending instead.
class Arguments {
public:
    // No function reads more.
    static constexpr size_t kMost = 4;

    // Throws Ending when the host gives no arguments (its error raised).
    Arguments(napi_env env, napi_callback_info info);

    napi_env env() const { return env_; }
    size_t count() const { return count_; }
    // Fewer than minimum: TypeError "Wrong number of arguments".
    bool atLeast(size_t minimum) const;

    // i below kMost; undefined past the arguments given.
    napi_value at(size_t i) const { return values_[i]; }
    std::string string(size_t i) const;
    // Any value, through the host's own to-string conversion.
    std::string converted(size_t i) const;
    bool boolean(size_t i) const;
    bool isNumber(size_t i) const { return typeOf(i) == napi_number; }
    bool isFunction(size_t i) const { return typeOf(i) == napi_function; }
    int64_t integer(size_t i) const;

private:
    napi_valuetype typeOf(size_t i) const;
    std::string text(napi_value value) const;
    // Raises the error of the read that failed; throws Ending when the
    // environment takes none.
    void failed() const;

    napi_env env_;
    size_t count_ = 0;
    napi_value values_[kMost] = {};
};

// A plain host object, built one property at a time. After a call that
// failed (its error raised) the later properties are left out.
class Record {
public:
    explicit Record(napi_env env);

    Record& number(const char* name, double value);
    Record& boolean(const char* name, bool value);
    Record& text(const char* name, const char* bytes, size_t length);
    Record& text(const char* name, const std::string& value) { return text(name, value.data(), value.size()); }
    Record& texts(const char* name, const std::vector<std::string>& values);
    Record& record(const char* name, const Record& inner);

    // Every call so far succeeded.
    bool complete() const { return object_ && !failed_; }
    // The object as far as it was built; nullptr when none could be made.
    napi_value value() const { return object_; }

private:
    // Sets the property when made is napi_ok, else records the failure.
    Record& set(const char* name, napi_status made, napi_value value);
    bool fail();

    napi_env env_;
    napi_value object_ = nullptr;
    bool failed_ = false;
};

}  // namespace TVDHost
