// What tests of the core and of the engine share: the core started for a
// test, environment variables put back after it, a fresh folder of its own
// and files in it, and texts written in the test source as UTF-8 or UTF-16.
#pragma once
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ftw.h>
#include <functional>
#include <pthread.h>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/InitTerm.h"
#include "core/String.h"
#include "core/platform/NativeText.h"

namespace LxCore {

// The sanitizers' checked, unoptimised build, where bounds on time are wider.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
#else
constexpr bool kSanitizedBuild = false;
#endif

// Keeps the core library started for one test.
class CoreStarted {
public:
    CoreStarted() { InitTerm::init(); }
    ~CoreStarted() { InitTerm::exit(); }
};

// Environment variables as they were when this was made, put back by
// restore() and again when it goes.
class SavedEnvironment {
public:
    explicit SavedEnvironment(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            const char* value = std::getenv(name);
            saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
    }
    ~SavedEnvironment() { restore(); }
    SavedEnvironment(const SavedEnvironment&) = delete;
    SavedEnvironment& operator=(const SavedEnvironment&) = delete;

    void restore() const {
        for (const auto& [name, value] : saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved;
};

// A fresh folder "<prefix>-XXXXXX" in TMPDIR (when it is an absolute path) or
// /tmp. Empty, with the test failed, when none can be made.
inline std::string makeTemporaryFolder(const char* prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] == '/' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        const int err = errno;
        ADD_FAILURE() << "mkdtemp " << pattern << ": " << err;
        return std::string();
    }
    return pattern;
}

// Removes a folder with all it holds, also folders a test left without
// rights; links are removed, never followed.
inline void removeTree(const std::string& path) {
    if (path.empty())
        return;
    nftw(
        path.c_str(),
        [](const char* name, const struct stat* info, int, struct FTW*) {
            if (S_ISDIR(info->st_mode))
                chmod(name, 0700);
            return remove(name);
        },
        16, FTW_DEPTH | FTW_PHYS);
}

// Runs body on a new thread whose stack holds that many bytes and waits for
// it: deep input must end in an error there, not in a crash.
inline void runOnStack(size_t bytes, const std::function<void()>& body) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, bytes), 0);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    const int made = pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&body));
    pthread_attr_destroy(&attributes);
    ASSERT_EQ(made, 0);
    pthread_join(thread, nullptr);
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// Anything at the path, a dangling link too.
inline bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The process's working folder, which the core's current folder never moves.
inline std::string processFolder() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

// Texts in tests: S from UTF-8 bytes, N back to them (a text no system string
// can carry fails the test), str as UTF-16 units to compare, make from them.
inline String S(const std::string& utf8) { return fromNative(utf8.data(), utf8.size()); }

inline std::string N(const String& text) {
    std::string out;
    EXPECT_TRUE(toNative(text, out));
    return out;
}

inline std::u16string str(const String& s) { return std::u16string(s.chars(), size_t(s.length())); }

inline String make(const std::u16string& text) { return String(text.data(), i32(text.size())); }

}  // namespace LxCore
