#include "objects/platform/Process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/platform/DetachedSpawn.h"

extern char** environ;

namespace LxObjects::Platform {

namespace {

// Children started here; only these ids are ever waited for.
std::mutex launchedMutex;
std::vector<pid_t> launched;

void reapLaunched()
{
    std::lock_guard<std::mutex> guard(launchedMutex);
    launched.erase(std::remove_if(launched.begin(), launched.end(),
                                  [](pid_t child) {
                                      int status;
                                      pid_t r = waitpid(child, &status, WNOHANG);
                                      return r == child || (r < 0 && errno == ECHILD);
                                  }),
                   launched.end());
}

void remember(pid_t child)
{
    std::lock_guard<std::mutex> guard(launchedMutex);
    launched.push_back(child);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

const char* readProgramName(const char* p, std::string& name)
{
    bool quoted = false;
    for (; *p && (quoted || !isBlank(*p)); ++p) {
        if (*p == '"')
            quoted = !quoted;
        else
            name += *p;
    }
    return p;
}

const char* readArgument(const char* p, std::string& word)
{
    bool quoted = false;
    while (*p && (quoted || !isBlank(*p))) {
        if (*p == '\\') {
            size_t slashes = 0;
            while (*p == '\\') {
                ++slashes;
                ++p;
            }
            if (*p == '"') {
                word.append(slashes / 2, '\\');
                if (slashes % 2) {
                    word += '"';
                    ++p;
                }
                // An even run leaves the quote to the code below.
            } else {
                word.append(slashes, '\\');
            }
        } else if (*p == '"') {
            if (quoted && p[1] == '"') {
                word += '"';
                p += 2;
            } else {
                quoted = !quoted;
                ++p;
            }
        } else {
            word += *p++;
        }
    }
    return p;
}

// A launched process, detached; standard error shares standard output's
// /dev/null.
class SpawnSetup : public LxBase::DetachedSpawn {
public:
    SpawnSetup() : DetachedSpawn(ErrorStream::SameAsOutput) {}

    // Starts file (searched on PATH when it has no "/") with argv.
    bool spawn(const std::string& file, const std::vector<std::string>& words, pid_t& child)
    {
        std::vector<char*> argv;
        for (const std::string& word : words)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        reapLaunched();
        if (posix_spawnp(&child, file.c_str(), actions(), attributes(), argv.data(), environ) != 0)
            return false;
        remember(child);
        return true;
    }
};

// The child changes folder before it runs the program, so a relative
// program path is made absolute against this process's folder first.
std::string programFile(const std::string& program)
{
    if (program.empty() || program[0] == '/' || program.find('/') == std::string::npos)
        return program;
    std::vector<char> here(PATH_MAX);
    if (!getcwd(here.data(), here.size()))
        return program;
    return std::string(here.data()) + "/" + program;
}

}  // namespace

std::vector<std::string> splitCommandLine(const char* commandLine)
{
    std::vector<std::string> words;
    if (!commandLine)
        return words;
    std::string name;
    const char* p = readProgramName(commandLine, name);
    words.push_back(name);
    for (;;) {
        while (isBlank(*p))
            ++p;
        if (!*p)
            break;
        std::string word;
        p = readArgument(p, word);
        words.push_back(word);
    }
    return words;
}

bool createProcess(const char* commandLine, const char* workingFolder, uint32_t* pid)
{
    if (pid)
        *pid = 0;
    std::vector<std::string> words = splitCommandLine(commandLine);
    if (words.empty() || words[0].empty())
        return false;
    SpawnSetup setup;
    if (workingFolder && *workingFolder
        && posix_spawn_file_actions_addchdir_np(setup.actions(), workingFolder) != 0)
        return false;
    pid_t child;
    if (!setup.spawn(programFile(words[0]), words, child))
        return false;
    if (pid)
        *pid = uint32_t(child);
    return true;
}

bool openAddress(const char* address)
{
    SpawnSetup setup;
    pid_t child;
    return setup.spawn("xdg-open", {"xdg-open", address}, child);
}

bool processIsAlive(uint32_t pid)
{
    if (pid == 0 || pid > uint32_t(INT_MAX))  // never a group or every process
        return false;
    reapLaunched();
    return kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

}  // namespace LxObjects::Platform
