// Values across the boundary: the arguments of a call as the binding reads
// them, and the plain objects it answers with. Every wrapper call that can
// fail is looked at; the first that fails raises its host error (TVDHost.h)
// and the rest is left undone.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "modules/node-addon/source/TVDHost.h"

namespace TVDHost {

// The arguments of one call. A value of the wrong type raises the host's
// error and reads as "", false or 0; in an environment that is ending,
// a read that fails throws Ending instead.
class Arguments {
public:
    explicit Arguments(const Napi::CallbackInfo& info) : info_(info) {}

    Napi::Env env() const { return info_.Env(); }
    size_t count() const { return info_.Length(); }
    // Fewer than minimum: TypeError "Wrong number of arguments".
    bool atLeast(size_t minimum) const;

    // Undefined past the arguments given.
    Napi::Value at(size_t i) const { return info_[i]; }
    std::string string(size_t i) const;
    // Any value, through the host's own to-string conversion.
    std::string converted(size_t i) const;
    bool boolean(size_t i) const;
    bool isNumber(size_t i) const { return at(i).IsNumber(); }
    bool isFunction(size_t i) const { return at(i).IsFunction(); }
    int64_t integer(size_t i) const;

private:
    const Napi::CallbackInfo& info_;
};

// A plain host object, built one property at a time. After a call that
// failed (its error raised) the later properties are left out.
class Record {
public:
    explicit Record(Napi::Env env);

    Record& number(const char* name, double value);
    Record& boolean(const char* name, bool value);
    Record& text(const char* name, const char* bytes, size_t length);
    Record& text(const char* name, const std::string& value) { return text(name, value.data(), value.size()); }
    Record& texts(const char* name, const std::vector<std::string>& values);
    Record& record(const char* name, const Record& inner);

    // Every call so far succeeded.
    bool complete() const { return !failed_; }
    // The object as far as it was built; empty when none could be made.
    Napi::Value value() const { return object_; }

private:
    // Sets the property; an empty value is one whose making failed.
    Record& set(const char* name, const Napi::Value& value);

    Napi::Env env_;
    Napi::Object object_;
    bool failed_;
};

}  // namespace TVDHost
