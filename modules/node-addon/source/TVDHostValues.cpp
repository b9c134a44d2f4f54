#include "modules/node-addon/source/TVDHostValues.h"

namespace TVDHost {

// -- Arguments -----------------------------------------------------------------

namespace {

// Reads value as a T. A value of another type fails the read, which raises
// the host's type error for it and gives "", false or 0.
template <class T, class Result>
Result read(const Napi::Value& value, bool isT, Result (T::*get)() const) {
    Result result = (value.As<T>().*get)();
    if (!isT)
        raised(value.Env());
    return result;
}

}  // namespace

bool Arguments::atLeast(size_t minimum) const {
    if (count() >= minimum)
        return true;
    if (!raiseTypeError(env(), "Wrong number of arguments"))
        throw Ending{};
    return false;
}

std::string Arguments::string(size_t i) const {
    const Napi::Value value = at(i);
    return read(value, value.IsString(), &Napi::String::Utf8Value);
}

std::string Arguments::converted(size_t i) const {
    Napi::String text;
    if (!at(i).ToString().UnwrapTo(&text)) {
        raised(env());
        return std::string();
    }
    return text.Utf8Value();
}

bool Arguments::boolean(size_t i) const {
    const Napi::Value value = at(i);
    return read(value, value.IsBoolean(), &Napi::Boolean::Value);
}

int64_t Arguments::integer(size_t i) const {
    const Napi::Value value = at(i);
    return read(value, value.IsNumber(), &Napi::Number::Int64Value);
}

// -- Record --------------------------------------------------------------------

Record::Record(Napi::Env env) : env_(env), object_(Napi::Object::New(env)), failed_(object_.IsEmpty()) {}

Record& Record::set(const char* name, const Napi::Value& value) {
    // The wrapper raised the error of whatever failed.
    if (value.IsEmpty() || !object_.Set(name, value).UnwrapOr(false))
        failed_ = true;
    return *this;
}

Record& Record::number(const char* name, double value) {
    return failed_ ? *this : set(name, Napi::Number::New(env_, value));
}

Record& Record::boolean(const char* name, bool value) {
    return failed_ ? *this : set(name, Napi::Boolean::New(env_, value));
}

Record& Record::text(const char* name, const char* bytes, size_t length) {
    return failed_ ? *this : set(name, Napi::String::New(env_, bytes, length));
}

Record& Record::texts(const char* name, const std::vector<std::string>& values) {
    if (failed_)
        return *this;
    const Napi::Array list = Napi::Array::New(env_, values.size());
    for (size_t i = 0; i < values.size() && !list.IsEmpty(); ++i) {
        const Napi::String string = Napi::String::New(env_, values[i]);
        if (string.IsEmpty() || !list.Set(uint32_t(i), string).UnwrapOr(false))
            return set(name, Napi::Value());
    }
    return set(name, list);
}

Record& Record::record(const char* name, const Record& inner) {
    if (!inner.complete()) {
        failed_ = true;  // its own failure raised the error
        return *this;
    }
    return failed_ ? *this : set(name, inner.value());
}

}  // namespace TVDHost
