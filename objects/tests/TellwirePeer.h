// The Tellwire peer (peer/tellwire_peer.cpp) as a second process of a
// test: started with the test's environment, so that it is the same user
// in the same folders unless told otherwise, and driven line by line.
#pragma once
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "objects/tests/peer/PeerProtocol.h"

extern char** environ;

namespace TestPeers {

// One message as the peer reports it.
struct Received {
    std::map<std::string, std::string> fields;  // type, serial, sender, h.<Name>, ...
    const std::string& operator[](const std::string& key) { return fields[key]; }
};

// One mailbox text as the peer reports it.
struct Report {
    bool got = false;
    size_t size = 0;
    std::string hash;
    std::vector<Received> messages;
};

class TellwirePeer {
public:
    // extraEnvironment: "NAME=value" entries that replace the test's own.
    explicit TellwirePeer(const std::vector<std::string>& extraEnvironment = {})
    {
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        std::vector<std::string> environment = extraEnvironment;
        for (char** e = environ; *e; ++e) {
            std::string entry(*e);
            bool replaced = false;
            for (const std::string& extra : extraEnvironment)
                replaced = replaced || entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
            if (!replaced)
                environment.push_back(entry);
        }
        std::vector<char*> envp;
        for (std::string& e : environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string program = TELLWIRE_PEER;
        char* argv[] = {program.data(), nullptr};
        if (posix_spawn(&pid_, TELLWIRE_PEER, &actions, nullptr, argv, envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
        std::string line;
        ready_ = pid_ > 0 && readLine(line) && line == "ready";
    }

    // The peer ends when its input closes; one that does not is killed.
    ~TellwirePeer()
    {
        if (in_ >= 0)
            ::close(in_);
        if (pid_ > 0 && !reaped_ && wait(10000) < 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
    }

    TellwirePeer(const TellwirePeer&) = delete;
    TellwirePeer& operator=(const TellwirePeer&) = delete;

    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }

    // Sends one command (its words escaped here) and returns the answer line.
    std::string command(const std::vector<std::string>& words)
    {
        std::string line;
        for (const std::string& w : words)
            line += (line.empty() ? "" : " ") + PeerProtocol::encode(w);
        line += '\n';
        if (!writeAll(line))
            return "(no peer)";
        std::string answer;
        return readLine(answer) ? answer : "(no answer)";
    }

    // The next text that mailbox received, waiting up to ms for it.
    Report next(const std::string& mailbox, int ms = 10000)
    {
        Report report;
        std::string line = command({"next", mailbox, std::to_string(ms)});
        std::vector<std::string> w = PeerProtocol::words(line);
        if (w.size() != 4 || w[0] != "got")
            return report;
        report.got = true;
        report.size = std::stoul(w[1]);
        report.hash = w[2];
        while (readLine(line) && line != "end") {
            Received r;
            for (const std::string& word : PeerProtocol::words(line)) {
                size_t eq = word.find('=');
                if (eq != std::string::npos)
                    r.fields[PeerProtocol::decode(word.substr(0, eq))] = PeerProtocol::decode(word.substr(eq + 1));
            }
            report.messages.push_back(r);
        }
        return report;
    }

    void kill(int signal) { ::kill(pid_, signal); }

    // Exit status, 128 + signal, or -1 while still running at the deadline.
    int wait(int ms = 20000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!reaped_) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return status_;
    }

private:
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
            if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0)
                return false;
            char buffer[4096];
            ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            pending_.append(buffer, size_t(n));
        }
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool ready_ = false;
    bool reaped_ = false;
    int status_ = -1;
    std::string pending_;
};

}  // namespace TestPeers
