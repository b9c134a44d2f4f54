#include "objects/platform/System.h"

#include <climits>
#include <unistd.h>

#include "base/platform/LocaleEnvironment.h"
#include "base/platform/SymbolicLinks.h"

namespace LxObjects::Platform {

uint32_t currentProcessId()
{
    return uint32_t(getpid());
}

std::string localeName()
{
    const std::string name = LxBase::environmentLocale();
    return name.empty() ? "en_US" : name;
}

std::string linkTarget(const std::string& path)
{
    // A link holding more than PATH_MAX bytes names no path.
    std::string target = path;
    return LxBase::followLinks(target, PATH_MAX) < 0 ? std::string() : target;
}

bool fileExists(const char* path)
{
    return path && access(path, F_OK) == 0;
}

}  // namespace LxObjects::Platform
