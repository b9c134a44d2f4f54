// What the tests of live objects share: texts as plain ASCII, four-character
// codes as ids, and a holder that drops one reference when the test ends.
#pragma once
#include <string>

#include "core/Broadcaster.h"
#include "core/Error.h"
#include "core/String.h"

namespace LxCore {

// Units outside ASCII show as '?'.
inline std::string text(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); i++)
        out += s[i] < 128 ? char(s[i]) : '?';
    return out;
}

inline std::string messageOf(const Error& error) {
    String out;
    error.getMessage(out);
    return text(out);
}

inline i32 code(const char (&c)[5]) { return i32(fourCharCode(c)); }

template <class T>
class Held {
public:
    explicit Held(T* o) : object(o) {}
    ~Held() {
        if (object)
            object->release();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    T* operator->() const { return object; }
    T& operator*() const { return *object; }
    T* get() const { return object; }

private:
    T* object;
};

}  // namespace LxCore
