// Arguments for posix_spawn that start a process detached from us: in a new
// session, its standard streams on /dev/null, no blocked signals and every
// disposition at its default, so that it inherits neither our terminal nor
// what the host ignores or blocks.
#pragma once
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

namespace LxBase {

class DetachedSpawn {
public:
    // Standard error on a /dev/null of its own, or on standard output's.
    enum class ErrorStream { OwnNullDevice, SameAsOutput };

    explicit DetachedSpawn(ErrorStream error) {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
        posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, kNullDevice, O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, kNullDevice, O_WRONLY, 0);
        if (error == ErrorStream::SameAsOutput)
            posix_spawn_file_actions_adddup2(&actions_, STDOUT_FILENO, STDERR_FILENO);
        else
            posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, kNullDevice, O_WRONLY, 0);
        // SIGKILL and SIGSTOP cannot be given a disposition.
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        posix_spawnattr_setsigmask(&attributes_, &none);
        posix_spawnattr_setsigdefault(&attributes_, &all);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~DetachedSpawn() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    DetachedSpawn(const DetachedSpawn&) = delete;
    DetachedSpawn& operator=(const DetachedSpawn&) = delete;

    // Further actions (a working folder) go here before the spawn.
    posix_spawn_file_actions_t* actions() { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    static constexpr const char* kNullDevice = "/dev/null";

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

}  // namespace LxBase
