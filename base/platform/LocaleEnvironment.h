// The session's locale as the environment names it, read the same way by the
// core's localizer and by Tellwire's localisation files.
#pragma once
#include <string>

#include "base/platform/EnvironmentLock.h"

namespace LxBase {

// Asked in this order; the first that is set and not empty wins.
constexpr const char* kLocaleVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};

// Language and region of that variable, without codeset and modifier
// ("de_CH" of "de_CH.UTF-8@euro"); empty when none is set or it names the
// "C" or "POSIX" locale, which each caller reads as its default.
inline std::string environmentLocale() {
    std::string name;
    for (const char* variable : kLocaleVariables) {
        if (readEnvironment(variable, name) && !name.empty())
            break;
    }
    name = name.substr(0, name.find_first_of(".@"));
    return name == "C" || name == "POSIX" ? std::string() : name;
}

}  // namespace LxBase
