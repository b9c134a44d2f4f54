// A program started as a second process of a test, with pipes on its
// standard input and output: lines go in, lines come out, and its end is
// waited for with a deadline so that a stuck child never hangs a test.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace TestPeers {

class ChildProcess {
public:
    // arguments follow the program name; extraEnvironment holds "NAME=value"
    // entries that replace the test's own. At destruction the child gets
    // exitGraceMs to end on its own after its input closes, then SIGKILL.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& extraEnvironment = {}, int exitGraceMs = 0)
        : exitGraceMs_(exitGraceMs)
    {
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0)
            return;
        if (pipe2(fromChild, O_CLOEXEC) != 0) {
            ::close(toChild[0]);
            ::close(toChild[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);

        std::vector<std::string> args = {program};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<std::string> environment = withEnvironment(extraEnvironment);
        std::vector<char*> argv = pointers(args);
        std::vector<char*> envp = pointers(environment);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
    }

    ~ChildProcess()
    {
        closeInput();
        if (pid_ > 0 && !reaped_ && wait(exitGraceMs_) < 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void kill(int sig) { ::kill(pid_, sig); }

    void closeInput()
    {
        if (in_ >= 0)
            ::close(in_);
        in_ = -1;
    }

    bool writeAll(const std::string& text)
    {
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = write(in_, text.data() + done, text.size() - done);
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }

    bool readLine(std::string& line, int ms = 60000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            size_t nl = pending_.find('\n');
            if (nl != std::string::npos) {
                line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                return true;
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            struct pollfd p = {out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0 || !readSome())
                return false;
        }
    }

    // Everything the child writes until it closes its output.
    std::string readAll()
    {
        while (readSome()) {
        }
        std::string text;
        text.swap(pending_);
        return text;
    }

    // Exit status or 128 + signal. With a limit in milliseconds, -1 while the
    // child still runs at it; without one the child's end is waited for, and
    // a child that never ends is left to the test's own time limit (a busy
    // machine may take any time to finish the child's work).
    static constexpr int kUntilItEnds = -1;
    int wait(int ms = kUntilItEnds)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!reaped_) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (ms != kUntilItEnds && std::chrono::steady_clock::now() > deadline) {
                return -1;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return status_;
    }

private:
    static std::vector<std::string> withEnvironment(const std::vector<std::string>& extra)
    {
        std::vector<std::string> environment = extra;
        for (char** e = environ; *e; ++e) {
            std::string entry(*e);
            bool replaced = false;
            for (const std::string& x : extra)
                replaced = replaced || entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
            if (!replaced)
                environment.push_back(entry);
        }
        return environment;
    }

    static std::vector<char*> pointers(std::vector<std::string>& texts)
    {
        std::vector<char*> out;
        for (std::string& t : texts)
            out.push_back(t.data());
        out.push_back(nullptr);
        return out;
    }

    bool readSome()
    {
        char buffer[4096];
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        pending_.append(buffer, size_t(n));
        return true;
    }

    int exitGraceMs_;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    int status_ = -1;
    std::string pending_;
};

}  // namespace TestPeers
