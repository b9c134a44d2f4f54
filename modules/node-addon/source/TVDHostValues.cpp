#include "modules/node-addon/source/TVDHostValues.h"

#include "modules/node-addon/source/TVDHost.h"

namespace TVDHost {

// -- Arguments -----------------------------------------------------------------

Arguments::Arguments(napi_env env, napi_callback_info info) : env_(env) {
    size_t count = kMost;
    if (napi_get_cb_info(env, info, &count, values_, nullptr, nullptr) != napi_ok) {
        raiseLastError(env);
        throw Ending{};
    }
    count_ = count;
}

bool Arguments::atLeast(size_t minimum) const {
    if (count_ >= minimum)
        return true;
    if (!raiseTypeError(env_, "Wrong number of arguments"))
        throw Ending{};
    return false;
}

void Arguments::failed() const {
    if (!raiseLastError(env_))
        throw Ending{};
}

std::string Arguments::text(napi_value value) const {
    size_t length = 0;
    if (napi_get_value_string_utf8(env_, value, nullptr, 0, &length) != napi_ok) {
        failed();
        return std::string();
    }
    std::string out(length, '\0');
    // The host writes a terminating zero after the text.
    if (napi_get_value_string_utf8(env_, value, out.data(), length + 1, &length) != napi_ok) {
        failed();
        return std::string();
    }
    out.resize(length);
    return out;
}

std::string Arguments::string(size_t i) const { return text(at(i)); }

std::string Arguments::converted(size_t i) const {
    napi_value converted = nullptr;
    if (napi_coerce_to_string(env_, at(i), &converted) != napi_ok) {
        failed();
        return std::string();
    }
    return text(converted);
}

bool Arguments::boolean(size_t i) const {
    bool value = false;
    if (napi_get_value_bool(env_, at(i), &value) != napi_ok) {
        failed();
        return false;
    }
    return value;
}

int64_t Arguments::integer(size_t i) const {
    int64_t value = 0;
    if (napi_get_value_int64(env_, at(i), &value) != napi_ok) {
        failed();
        return 0;
    }
    return value;
}

napi_valuetype Arguments::typeOf(size_t i) const {
    napi_valuetype type = napi_undefined;
    if (napi_typeof(env_, at(i), &type) != napi_ok)
        failed();
    return type;
}

// -- Record --------------------------------------------------------------------

Record::Record(napi_env env) : env_(env) {
    if (napi_create_object(env, &object_) != napi_ok) {
        object_ = nullptr;
        fail();
    }
}

bool Record::fail() {
    if (!failed_)
        raiseLastError(env_);
    failed_ = true;
    return false;
}

Record& Record::set(const char* name, napi_status made, napi_value value) {
    if (made != napi_ok || napi_set_named_property(env_, object_, name, value) != napi_ok)
        fail();
    return *this;
}

Record& Record::number(const char* name, double value) {
    if (failed_)
        return *this;
    napi_value number = nullptr;
    const napi_status made = napi_create_double(env_, value, &number);
    return set(name, made, number);
}

Record& Record::boolean(const char* name, bool value) {
    if (failed_)
        return *this;
    napi_value flag = nullptr;
    const napi_status made = napi_get_boolean(env_, value, &flag);
    return set(name, made, flag);
}

Record& Record::text(const char* name, const char* bytes, size_t length) {
    if (failed_)
        return *this;
    napi_value string = nullptr;
    const napi_status made = napi_create_string_utf8(env_, bytes, length, &string);
    return set(name, made, string);
}

Record& Record::texts(const char* name, const std::vector<std::string>& values) {
    if (failed_)
        return *this;
    napi_value list = nullptr;
    if (napi_create_array_with_length(env_, values.size(), &list) != napi_ok) {
        fail();
        return *this;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        napi_value string = nullptr;
        if (napi_create_string_utf8(env_, values[i].data(), values[i].size(), &string) != napi_ok
            || napi_set_element(env_, list, uint32_t(i), string) != napi_ok) {
            fail();
            return *this;
        }
    }
    return set(name, napi_ok, list);
}

Record& Record::record(const char* name, const Record& inner) {
    if (!inner.complete()) {
        failed_ = true;  // its own failure raised the error
        return *this;
    }
    return set(name, napi_ok, inner.value());
}

}  // namespace TVDHost
