#include "objects/platform/ShellTool.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "base/platform/InterruptedCalls.h"

namespace LxObjects::Platform {

namespace {

// Inside double quotes the shell still reads these four.
std::string quoted(const char* text)
{
    std::string out = "\"";
    for (const char* p = text; *p; ++p) {
        if (*p == '"' || *p == '\\' || *p == '$' || *p == '`')
            out += '\\';
        out += *p;
    }
    return out + "\"";
}

}  // namespace

bool writeShellWrapper(const char* wrapperPath, const char* programPath)
{
    if (!wrapperPath || !*wrapperPath || !programPath || !*programPath)
        return false;
    int fd = ::open(wrapperPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
    if (fd < 0)
        return false;
    std::string script = "#!/bin/sh\nexec " + quoted(programPath) + " \"$@\"\n";
    // The umask must not take the execute bits away.
    bool ok = LxBase::writeAll(fd, script) && ::fchmod(fd, 0755) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        ::unlink(wrapperPath);
    return ok;
}

}  // namespace LxObjects::Platform
