// A second process for the mailbox tests. Commands:
//   hold <user> <name>            holds the name, prints "ready", keeps it until stdin closes
//   send <user> <name> <n> <tag>  sends "<tag>:<i>:" plus i bytes of filler, i = 0..n-1
//   sendsize <user> <name> <size> sends one message of <size> patterned bytes
//   partial <user> <name> <size>  begins a message as a sender does (its tmp file, <size>
//                                 bytes written), prints "ready" and never finishes it
//   linger                        prints the targets of its open descriptors, then "ready",
//                                 and waits until stdin closes
// Exit status 0 on success, 1 on failure, 2 on bad arguments.
#include "objects/platform/Mailbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/platform/InterruptedCalls.h"

using LxObjects::Platform::Mailbox;

namespace {

void waitForStdinEnd() {
    char c;
    while (read(0, &c, 1) > 0) {
    }
}

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++)
        s[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
    return s;
}

int hold(const char* user, const char* name) {
    Mailbox box;
    if (!box.create(user, name)) {
        std::printf("busy\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    waitForStdinEnd();
    return 0;
}

int sendMany(const char* user, const char* name, long count, const char* tag) {
    for (long i = 0; i < count; i++) {
        std::string text = std::string(tag) + ":" + std::to_string(i) + ":" + std::string(size_t(i), 'x');
        if (!Mailbox::send(user, name, text))
            return 1;
    }
    return 0;
}

// The state a sender killed mid-write leaves: its unfinished tmp file.
int partial(const char* user, const char* name, size_t size) {
    char file[32];
    std::snprintf(file, sizeof file, "tmp-%010ld-0000000000", static_cast<long>(getpid()));
    std::string path = Mailbox::folderPath(user, name) + "/" + file;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return 1;
    bool written = LxBase::writeAll(fd, pattern(size));
    std::printf("%s\n", written ? "ready" : "failed");
    std::fflush(stdout);
    waitForStdinEnd();
    close(fd);
    return 0;
}

int linger() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return 1;
    int own = dirfd(dir);
    while (struct dirent* d = readdir(dir)) {
        if (d->d_name[0] == '.' || std::atoi(d->d_name) == own)
            continue;
        char target[4096];
        std::string link = std::string("/proc/self/fd/") + d->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n >= 0) {
            target[n] = '\0';
            std::printf("fd %s %s\n", d->d_name, target);
        }
    }
    closedir(dir);
    std::printf("ready\n");
    std::fflush(stdout);
    waitForStdinEnd();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "hold" && argc == 4)
        return hold(argv[2], argv[3]);
    if (cmd == "send" && argc == 6)
        return sendMany(argv[2], argv[3], std::atol(argv[4]), argv[5]);
    if (cmd == "sendsize" && argc == 5)
        return Mailbox::send(argv[2], argv[3], pattern(std::strtoul(argv[4], nullptr, 10))) ? 0 : 1;
    if (cmd == "partial" && argc == 5)
        return partial(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
    if (cmd == "linger" && argc == 2)
        return linger();
    std::fprintf(stderr, "mailbox_peer: bad arguments\n");
    return 2;
}
