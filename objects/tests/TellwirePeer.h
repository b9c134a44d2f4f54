// The Tellwire peer (peer/tellwire_peer.cpp) as a second process of a
// test: started with the test's environment, so that it is the same user
// in the same folders unless told otherwise, and driven line by line.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "objects/tests/ChildProcess.h"
#include "objects/tests/peer/PeerProtocol.h"

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

class TellwirePeer : public ChildProcess {
public:
    // extraEnvironment: "NAME=value" entries that replace the test's own.
    // The peer ends when its input closes; one that does not is killed.
    explicit TellwirePeer(const std::vector<std::string>& extraEnvironment = {})
        : ChildProcess(TELLWIRE_PEER, {}, extraEnvironment, 10000)
    {
        std::string line;
        ready_ = started() && readLine(line) && line == "ready";
    }

    bool ready() const { return ready_; }

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

private:
    bool ready_ = false;
};

}  // namespace TestPeers
