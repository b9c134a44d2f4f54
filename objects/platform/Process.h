// Processes: starting programs from a Windows-style command line, handing
// web addresses to the desktop, and telling whether a process is alive.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace LxObjects::Platform {

// Splits a command line with the Windows C runtime's rules: the program
// name ends at the first blank outside quotes, its quotes are dropped and
// backslashes are plain; in the arguments 2n backslashes before a quote give
// n backslashes and the quote opens or closes a quoted part, 2n+1 give n
// backslashes and a literal quote, other backslashes are plain, and "" inside
// a quoted part is a literal quote.
std::vector<std::string> splitCommandLine(const char* commandLine);

// Starts the program that the command line names, in a new session with its
// standard streams on /dev/null, in workingFolder (empty: this process's
// folder). *pid is the new process id, 0 on failure.
bool createProcess(const char* commandLine, const char* workingFolder, uint32_t* pid);

// Hands a web address to xdg-open; true when xdg-open could be started.
bool openAddress(const char* address);

// Alive when kill(pid, 0) succeeds or is refused; exited children that this
// layer started are reaped first so they never read as alive.
bool processIsAlive(uint32_t pid);

}  // namespace LxObjects::Platform
