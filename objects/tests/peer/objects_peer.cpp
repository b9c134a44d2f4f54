// Second process for the objects-library tests.
//   ids           waits until standard input closes, so that several peers
//                 start at the same moment, then prints the user id and the
//                 digest key it settled on, one a line.
//   thread-limit  leaves no address space for a thread stack, creates a
//                 thread and prints its error, its id and whether it ran.
// With OBJECTS_PEER_SETUP=<specifier> in its environment it runs the
// Tellwire set-up for that specifier with whatever arguments it was given
// as its launch parameters, and prints the pump thread's mailbox name and
// its "LAUNCHPARAMS" entry, one a line.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "objects/PlatformServices.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireThread.h"
#include "objects/Thread.h"

namespace {

int ids()
{
    char byte;
    while (read(0, &byte, 1) > 0) {
    }
    LxObjects::initPlatformIds();
    std::printf("%s\n%s\n", LxObjects::getUserId().text(), LxObjects::getHashKey().text());
    LxObjects::releasePlatformServices();
    return 0;
}

class Probe : public LxObjects::Thread {
public:
    std::atomic<bool> ran{false};
    void run() override { ran = true; }
};

long addressSpaceKb()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    long kb = -1;
    char line[256];
    while (status && std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmSize: %ld kB", &kb) == 1)
            break;
    if (status)
        std::fclose(status);
    return kb;
}

int threadLimit()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    long kb = addressSpaceKb();
    if (kb <= 0)
        return 2;
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = rlim_t(kb + 1024) * 1024;
    if (setrlimit(RLIMIT_AS, &limit) != 0)
        return 2;
    Probe* probe = new Probe;
    if (!probe)
        return 2;
    probe->start();
    usleep(50 * 1000);
    std::printf("%d %u %d\n", probe->getError(), probe->getThreadId(), probe->ran ? 1 : 0);
    delete probe;
    return 0;
}

int setup(const char* spec)
{
    if (!LxObjects::setupSynchronously(LxObjects::LoString(spec)))
        return 1;
    LxObjects::TellwireThread* thread = LxObjects::getCurrentPumpThread();
    if (!thread)
        return 1;
    for (int i = 0; i < 500 && thread->getMailboxName().isEmpty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::printf("%s\n%s\n", thread->getMailboxName().text(),
                thread->queryEntry(LxObjects::LoString("LAUNCHPARAMS")).text());
    LxObjects::setCurrentContext(nullptr);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (const char* spec = std::getenv("OBJECTS_PEER_SETUP"))
        return setup(spec);
    if (argc == 2 && std::strcmp(argv[1], "ids") == 0)
        return ids();
    if (argc == 2 && std::strcmp(argv[1], "thread-limit") == 0)
        return threadLimit();
    return 2;
}
