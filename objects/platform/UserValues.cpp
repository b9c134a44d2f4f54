#include "objects/platform/UserValues.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/platform/EnvironmentLock.h"
#include "base/platform/InterruptedCalls.h"

namespace LxObjects::Platform {

namespace {

const off_t kMaxFileSize = 1 << 20;  // a values file holds a few short lines
constexpr size_t kReadChunk = 4096;

std::string configFolder()
{
    const std::string config = LxBase::environmentValue("XDG_CONFIG_HOME");
    if (!config.empty())
        return config;
    const std::string home = LxBase::environmentValue("HOME");
    if (!home.empty())
        return home + "/.config";
    return std::string();
}

// Creates every missing folder of path with mode 0700.
bool makeFolders(const std::string& path)
{
    for (size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/')
            continue;
        std::string folder = path.substr(0, end);
        if (mkdir(folder.c_str(), 0700) == 0)
            chmod(folder.c_str(), 0700);  // whatever the umask took away
        else if (errno != EEXIST)
            return false;
    }
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string userValuesPath()
{
    std::string folder = configFolder();
    return folder.empty() ? folder : folder + "/morvane/IAC";
}

UserValuesState readUserValues(std::string& content)
{
    content.clear();
    std::string path = userValuesPath();
    if (path.empty())
        return UserValuesState::Unreadable;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? UserValuesState::Missing : UserValuesState::Unreadable;
    struct stat info;
    UserValuesState state = UserValuesState::Unreadable;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxFileSize) {
        state = UserValuesState::Present;
        if (!LxBase::readToEnd<kReadChunk>(fd, size_t(kMaxFileSize), content)) {
            state = UserValuesState::Unreadable;
            content.clear();
        }
    }
    close(fd);
    return state;
}

bool createUserValues(const std::string& content)
{
    std::string path = userValuesPath();
    if (path.empty())
        return false;
    std::string folder = path.substr(0, path.rfind('/'));
    if (!makeFolders(folder))
        return false;
    // Written whole under a unique name, then linked into place: readers
    // never see half a file, and a file already there wins.
    std::string temporary = folder + "/.IAC-XXXXXX";
    int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0)
        return false;
    bool written = fchmod(fd, 0600) == 0 && LxBase::writeAll(fd, content) && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (written && link(temporary.c_str(), path.c_str()) != 0 && errno != EEXIST)
        written = false;
    unlink(temporary.c_str());
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace LxObjects::Platform
