// One lock for the process environment. setenv may move or free the text an
// earlier getenv handed out, so every reader copies its value under this lock
// and every writer holds it. It lives below the core and the objects library,
// so that both take the very same lock without either reaching into the other.
#pragma once
#include <cstdlib>
#include <mutex>
#include <string>

namespace LxBase {

inline std::mutex& environmentLock() {
    static std::mutex lock;
    return lock;
}

// The variable's value copied under the lock; false, out empty, when unset.
inline bool readEnvironment(const char* name, std::string& out) {
    std::lock_guard<std::mutex> guard(environmentLock());
    const char* value = std::getenv(name);
    if (!value) {
        out.clear();
        return false;
    }
    out = value;
    return true;
}

// The value, or the empty text when unset.
inline std::string environmentValue(const char* name) {
    std::string value;
    readEnvironment(name, value);
    return value;
}

}  // namespace LxBase
