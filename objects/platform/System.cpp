#include "objects/platform/System.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/platform/EnvironmentLock.h"

namespace LxObjects::Platform {

namespace {

const int kMaxLinks = 40;  // as the kernel's own limit for one lookup

}  // namespace

uint32_t currentProcessId()
{
    return uint32_t(getpid());
}

std::string localeName()
{
    std::string name;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (LxCore::readEnvironment(variable, name) && !name.empty())
            break;
    }
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX")
        return "en_US";
    return name;
}

std::string linkTarget(const std::string& path)
{
    std::string current = path;
    std::vector<char> buffer(PATH_MAX + 1);
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat info;
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        ssize_t n = readlink(current.c_str(), buffer.data(), buffer.size());
        if (n <= 0 || size_t(n) >= buffer.size())
            return std::string();
        std::string target(buffer.data(), size_t(n));
        size_t slash = current.rfind('/');
        if (target[0] != '/' && slash != std::string::npos)
            target = current.substr(0, slash + 1) + target;
        current = target;
    }
    return std::string();  // a loop of links
}

bool fileExists(const char* path)
{
    return path && access(path, F_OK) == 0;
}

}  // namespace LxObjects::Platform
