#include "core/platform/Environment.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/platform/EnvironmentLock.h"
#include "base/platform/LocaleEnvironment.h"
#include "core/Point.h"
#include "core/platform/NativeText.h"

namespace LxCore {

namespace {

constexpr const char* kDefaultLocale = "en_US";

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool allOf(const std::string& s, size_t from, size_t to, bool (*test)(char)) {
    for (size_t i = from; i < to; ++i)
        if (!test(s[i]))
            return false;
    return true;
}

// Language and region as the system would give them. Anything else never
// reaches the localizer, which builds file names from the locale.
bool isLocaleName(const std::string& name) {
    size_t underscore = name.find('_');
    size_t language = underscore == std::string::npos ? name.size() : underscore;
    if (language < 2 || language > 3 || !allOf(name, 0, language, isAsciiLetter))
        return false;
    if (underscore == std::string::npos)
        return true;
    size_t region = name.size() - underscore - 1;
    return (region == 2 && allOf(name, underscore + 1, name.size(), isAsciiLetter)) ||
           (region == 3 && allOf(name, underscore + 1, name.size(), isAsciiDigit));
}

}  // namespace

String localeName() {
    const std::string name = LxBase::environmentLocale();
    if (name.empty() || !isLocaleName(name))
        return String(kDefaultLocale);
    if (name == "no_NO")
        return String("nb_NO");
    return String(name.c_str());
}

String getAnsiCodePageName() { return String("CP1252"); }

void* getHostWindow() { return nullptr; }

void bringHostWindowToFront() {}

namespace {

bool is64BitMachine(const char* machine) {
    static const char* const kMachines[] = {"x86_64", "aarch64", "ppc64", "ppc64le", "s390x", "riscv64",
                                            "mips64", "sparc64", "loongarch64", "alpha", "ia64"};
    for (const char* m : kMachines)
        if (std::strcmp(machine, m) == 0)
            return true;
    return false;
}

// A name the system can carry and that names one variable.
bool environmentName(const String& name, std::string& out) {
    if (name.isEmpty() || !toNative(name, out))
        return false;
    return out.find('=') == std::string::npos;
}

}  // namespace

String getOSVersionString() {
    struct utsname info;
    if (uname(&info) != 0)
        return String("Linux 0.0  ");
    long major = 0, minor = 0;
    std::sscanf(info.release, "%ld.%ld", &major, &minor);
    const bool kernel64 = is64BitMachine(info.machine);
    const bool emulated = kernel64 && sizeof(void*) == 4;
    char text[sizeof info.release + 64];
    std::snprintf(text, sizeof text, "Linux%s %ld.%ld %s %s", kernel64 ? "/64" : "", major, minor,
                  info.release, emulated ? "(32-bit emulation)" : "");
    return fromNative(text);
}

void getMonitorRects(TSimpleArray<Rect>& out) {
    for (i32 i = 0; i < out.getCount(); i++)
        delete out.get(i);
    out.setCount(0);
}

bool getEnvironmentVariable(const String& name, String& out) {
    out.clear();
    std::string native, value;
    if (!environmentName(name, native) || !LxBase::readEnvironment(native.c_str(), value))
        return false;
    out = fromNative(value.data(), value.size());
    return true;
}

bool setEnvironmentVariable(const String& name, const String& value) {
    std::string native, nativeValue;
    if (!environmentName(name, native) || !toNative(value, nativeValue))
        return false;
    std::lock_guard<std::mutex> guard(LxBase::environmentLock());
    return ::setenv(native.c_str(), nativeValue.c_str(), 1) == 0;
}

}  // namespace LxCore
