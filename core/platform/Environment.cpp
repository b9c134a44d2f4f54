#include "core/platform/Environment.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace LxCore {

namespace {

constexpr const char* kLocaleVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
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
    std::string name;
    for (const char* variable : kLocaleVariables) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            name = value;
            break;
        }
    }
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX" || !isLocaleName(name))
        return String(kDefaultLocale);
    if (name == "no_NO")
        return String("nb_NO");
    return String(name.c_str());
}

String getAnsiCodePageName() { return String("CP1252"); }

void* getHostWindow() { return nullptr; }

void bringHostWindowToFront() {}

}  // namespace LxCore
