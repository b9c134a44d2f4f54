// A second process that speaks Tellwire, driven by the tests through its
// standard input. It prints "ready", then answers every command line with
// one line ("ok ...", or the word that says what went wrong), except
// "next", whose report ends with the line "end".
//
//   hold <name>                       takes a mailbox: "ok" or "busy"
//   release <name>                    gives it up
//   answer <name> <query> <word> [body=<text>] [delay=<ms>]
//                                     how pings to that mailbox are answered;
//                                     the word "-" leaves them unanswered.
//                                     Without a rule: "ECHO_REQUEST" gives
//                                     "ECHO_RESPONSE", "STATUS" "IDLE", any
//                                     other word "UNDEFINED"
//   send <from> <target> <text>       one mailbox message of exactly text
//   sendsize <from> <target> <size>   one message of size patterned bytes
//   sendmany <from> <target> <count> <tag>
//                                     count numbered messages, in order
//   tell <from> <target> [field=value...]
//                                     one Tellwire message with its digest
//                                     line; fields type, serial, request,
//                                     timeout, body, received, result, error,
//                                     h.<Name> for a custom header
//   reply <name> <type> [body]        replies to the last message <name>
//                                     received: to its sender, with its
//                                     serial number (and in the received,
//                                     result or error field by type)
//   next <name> <ms>                  waits for the next text <name>
//                                     received: "got <size> <hash> <n>",
//                                     n lines "msg field=value..." for the
//                                     messages in it (texts up to 1 MiB),
//                                     "end"; or "none"
//   exit
//
// <from> is a held mailbox, or "-" for a sender of the peer's own. Words
// travel %-escaped (PeerProtocol.h). Closing standard input ends the peer.
//
//   tellwire_peer launched <report>   for a launched child, whose output
//                                     goes nowhere: sends the list of its
//                                     open descriptors to <report>, then
//                                     holds <report>-child until a message
//                                     arrives there.
//   tellwire_peer application [args] an installed application started by
//                                     a launch: holds the mailbox that
//                                     "-specifier" names, waits for one
//                                     message there and answers it with a
//                                     "Result" whose body is its arguments,
//                                     joined by blanks.
#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "objects/InterAppStream.h"
#include "objects/Message.h"
#include "objects/tests/peer/PeerProtocol.h"

using LxObjects::InterAppStream;
using LxObjects::LoString;
using LxObjects::u32;
using Message = LxObjects::Tellwire::Message;
using Clock = std::chrono::steady_clock;
using namespace PeerProtocol;

namespace {

LoString lo(const std::string& s)
{
    return LoString(s.data(), int(s.size()));
}

std::string str(const LoString& s)
{
    return std::string(s.text(), size_t(s.length()));
}

struct Answer {
    std::string word;
    std::string body;
    bool hasBody = false;
    int delayMs = 0;
};

struct Box {
    std::unique_ptr<InterAppStream> stream;
    std::deque<std::string> unreported;
    std::unique_ptr<Message> last;
    std::map<std::string, Answer> answers;
};

struct Delayed {
    Clock::time_point due;
    std::string from;
    LoString target;
    LoString text;
};

std::map<std::string, Box> boxes;
std::unique_ptr<InterAppStream> ownSender;
std::vector<Delayed> delayed;

InterAppStream* senderFor(const std::string& from)
{
    if (from == "-") {
        if (!ownSender)
            ownSender.reset(new InterAppStream(lo("tellwire-peer-" + std::to_string(getpid()))));
        return ownSender.get();
    }
    auto found = boxes.find(from);
    return found == boxes.end() ? nullptr : found->second.stream.get();
}

const char* defaultAnswer(const std::string& query)
{
    if (query == "ECHO_REQUEST")
        return "ECHO_RESPONSE";
    if (query == "STATUS")
        return "IDLE";
    return "UNDEFINED";
}

// Answers a ping as a pump thread would, with the request's serial number.
void answerPing(const std::string& name, Box& box, const Message& ping)
{
    std::string query = str(ping.getHeader("ECHO_REQUEST"));
    if (query.empty())
        return;  // a probe: nothing to answer
    Answer rule;
    auto found = box.answers.find(query);
    if (found != box.answers.end())
        rule = found->second;
    else
        rule.word = defaultAnswer(query);
    if (rule.word == "-")
        return;
    Message reply;
    reply.target = ping.sender;
    reply.sender = box.stream->getName();
    reply.type.assign("ping");
    reply.serialNumber = ping.serialNumber;
    reply.body = rule.hasBody ? lo(rule.body) : ping.body;
    reply.addHeader("ECHO_REQUEST", rule.word.c_str());
    LoString text;
    if (!LxObjects::serializeMessageWithDigest(reply, text))
        return;
    delayed.push_back({Clock::now() + std::chrono::milliseconds(rule.delayMs), name, reply.target, text});
}

void sendDue()
{
    auto now = Clock::now();
    for (size_t i = 0; i < delayed.size();) {
        if (delayed[i].due > now) {
            ++i;
            continue;
        }
        if (InterAppStream* from = senderFor(delayed[i].from))
            from->send(delayed[i].target, delayed[i].text);
        delayed.erase(delayed.begin() + long(i));
    }
}

void receive(const std::string& name, Box& box)
{
    while (box.stream->readOne()) {
        LoString text;
        box.stream->takeReceived(text);
        box.unreported.push_back(str(text));
        int pos = 0;
        while (pos < text.length()) {
            std::unique_ptr<Message> m(new Message);
            pos += LxObjects::parseMessage(*m, text.text() + pos, text.length() - pos);
            if (str(m->type) == "ping")
                answerPing(name, box, *m);
            box.last = std::move(m);
        }
    }
}

void pump()
{
    for (auto& [name, box] : boxes)
        receive(name, box);
    sendDue();
}

void printMessage(const Message& m)
{
    std::string line = "msg";
    auto field = [&line](const char* key, const std::string& value) {
        line += ' ';
        line += key;
        line += '=';
        line += encode(value);
    };
    field("type", str(m.type));
    field("serial", std::to_string(m.serialNumber));
    field("sender", str(m.sender));
    field("target", str(m.target));
    field("request", str(m.responseRequest));
    field("timeout", std::to_string(m.timeout));
    field("received", std::to_string(m.received));
    field("result", std::to_string(m.result));
    field("error", std::to_string(m.error));
    field("digest", str(m.digestStatus));
    field("body", str(m.body));
    for (const auto* h = m.firstHeader(); h; h = h->next)
        field(("h." + encode(str(h->name))).c_str(), str(h->value));
    std::printf("%s\n", line.c_str());
}

void next(const std::string& name, long ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    auto found = boxes.find(name);
    for (;;) {
        pump();
        if (found != boxes.end() && !found->second.unreported.empty())
            break;
        if (Clock::now() >= deadline) {
            std::printf("none\n");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::string text = std::move(found->second.unreported.front());
    found->second.unreported.pop_front();
    std::vector<std::unique_ptr<Message>> messages;
    if (text.size() <= (size_t(1) << 20)) {
        int pos = 0;
        while (pos < int(text.size())) {
            messages.emplace_back(new Message);
            pos += LxObjects::parseMessage(*messages.back(), text.data() + pos, int(text.size()) - pos);
        }
    }
    std::printf("got %zu %s %zu\n", text.size(), hash(text).c_str(), messages.size());
    for (const auto& m : messages)
        printMessage(*m);
    std::printf("end\n");
}

bool setField(Message& m, const std::string& key, const std::string& value)
{
    u32 number = u32(std::strtoul(value.c_str(), nullptr, 10));
    if (key == "type")
        m.type = lo(value);
    else if (key == "serial")
        m.serialNumber = number;
    else if (key == "request")
        m.responseRequest = lo(value);
    else if (key == "timeout")
        m.timeout = std::strtoll(value.c_str(), nullptr, 10);
    else if (key == "body")
        m.body = lo(value);
    else if (key == "received")
        m.received = number;
    else if (key == "result")
        m.result = number;
    else if (key == "error")
        m.error = number;
    else if (key.compare(0, 2, "h.") == 0)
        m.addHeader(lo(key.substr(2)), lo(value));
    else
        return false;
    return true;
}

bool sendMessage(InterAppStream& from, const LoString& target, Message& m)
{
    m.target = target;
    m.sender = from.getName();
    LoString text;
    return LxObjects::serializeMessageWithDigest(m, text) && from.send(target, text);
}

// One command; its answer line, or empty when it printed its own.
std::string handle(const std::vector<std::string>& w)
{
    const std::string& cmd = w[0];
    if (cmd == "hold" && w.size() == 2) {
        std::unique_ptr<InterAppStream> stream(new InterAppStream(lo(w[1])));
        if (!stream->isOpen())
            return "busy";
        boxes[w[1]].stream = std::move(stream);
        return "ok";
    }
    if (cmd == "release" && w.size() == 2)
        return boxes.erase(w[1]) ? "ok" : "unknown";
    if (cmd == "answer" && w.size() >= 4) {
        auto found = boxes.find(w[1]);
        if (found == boxes.end())
            return "unknown";
        Answer rule;
        rule.word = w[3];
        for (size_t i = 4; i < w.size(); ++i) {
            if (w[i].compare(0, 5, "body=") == 0) {
                rule.body = w[i].substr(5);
                rule.hasBody = true;
            } else if (w[i].compare(0, 6, "delay=") == 0) {
                rule.delayMs = std::atoi(w[i].c_str() + 6);
            }
        }
        found->second.answers[w[2]] = rule;
        return "ok";
    }
    if ((cmd == "send" || cmd == "sendsize" || cmd == "sendmany" || cmd == "tell") && w.size() >= 3) {
        InterAppStream* from = senderFor(w[1]);
        if (!from)
            return "unknown";
        LoString target = lo(w[2]);
        if (cmd == "send" && w.size() == 4)
            return from->send(target, lo(w[3])) ? "ok" : "fail";
        if (cmd == "sendsize" && w.size() == 4)
            return from->send(target, lo(pattern(std::strtoul(w[3].c_str(), nullptr, 10)))) ? "ok" : "fail";
        if (cmd == "sendmany" && w.size() == 5) {
            long count = std::atol(w[3].c_str());
            for (long i = 0; i < count; ++i)
                if (!from->send(target, lo(numbered(w[4], i))))
                    return "fail " + std::to_string(i);
            return "ok";
        }
        if (cmd == "tell") {
            Message m;
            for (size_t i = 3; i < w.size(); ++i) {
                size_t eq = w[i].find('=');
                if (eq == std::string::npos || !setField(m, w[i].substr(0, eq), w[i].substr(eq + 1)))
                    return "bad field";
            }
            return sendMessage(*from, target, m) ? "ok" : "fail";
        }
    }
    if (cmd == "reply" && (w.size() == 3 || w.size() == 4)) {
        auto found = boxes.find(w[1]);
        if (found == boxes.end() || !found->second.last)
            return "none";
        const Message& request = *found->second.last;
        Message reply;
        reply.type = lo(w[2]);
        reply.serialNumber = request.serialNumber;
        if (w[2] == "Received")
            reply.received = request.serialNumber;
        else if (w[2] == "Result")
            reply.result = request.serialNumber;
        else if (w[2] == "Error")
            reply.error = request.serialNumber;
        if (w.size() == 4)
            reply.body = lo(w[3]);
        return sendMessage(*found->second.stream, request.sender, reply) ? "ok" : "fail";
    }
    if (cmd == "next" && w.size() == 3) {
        next(w[1], std::atol(w[2].c_str()));
        return "";
    }
    return "bad command";
}

// Serves commands until standard input ends or says "exit"; pings are
// answered in between.
int serve()
{
    std::printf("ready\n");
    std::fflush(stdout);
    std::string pending;
    for (;;) {
        pump();
        struct pollfd input = {0, POLLIN, 0};
        if (poll(&input, 1, 2) <= 0)
            continue;
        char buffer[65536];
        ssize_t n = read(0, buffer, sizeof buffer);
        if (n <= 0)
            return 0;
        pending.append(buffer, size_t(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::vector<std::string> w = words(std::string_view(pending).substr(0, end));
            pending.erase(0, end + 1);
            if (w.empty())
                continue;
            if (w[0] == "exit")
                return 0;
            for (std::string& word : w)
                word = decode(word);
            std::string answer = handle(w);
            if (!answer.empty())
                std::printf("%s\n", answer.c_str());
            std::fflush(stdout);
        }
    }
}

std::string openDescriptors()
{
    std::string out;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return out;
    int own = dirfd(dir);
    while (struct dirent* d = readdir(dir)) {
        if (d->d_name[0] == '.' || std::atoi(d->d_name) == own)
            continue;
        char target[4096];
        std::string link = std::string("/proc/self/fd/") + d->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n >= 0)
            out += std::string("fd ") + d->d_name + " " + std::string(target, size_t(n)) + "\n";
    }
    closedir(dir);
    return out;
}

int launched(const std::string& report)
{
    std::string fds = openDescriptors();  // before this process opens anything of its own
    InterAppStream child(lo(report + "-child"));
    if (!child.isOpen() || !child.send(lo(report), lo(fds)))
        return 1;
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!child.hasMessage() && Clock::now() < deadline)
        child.waitForMessage(100);
    return 0;
}

int application(int argc, char** argv)
{
    std::string arguments, specifier;
    for (int i = 2; i < argc; ++i) {
        arguments += (i > 2 ? " " : "") + std::string(argv[i]);
        if (std::string(argv[i]) == "-specifier" && i + 1 < argc)
            specifier = argv[i + 1];
    }
    InterAppStream box(lo(specifier));
    if (specifier.empty() || !box.isOpen())
        return 1;
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
        if (!box.readOne()) {
            box.waitForMessage(100);
            continue;
        }
        LoString text;
        box.takeReceived(text);
        Message request;
        LxObjects::parseMessage(request, text.text(), text.length());
        Message reply;
        reply.type.assign("Result");
        reply.serialNumber = request.serialNumber;
        reply.result = request.serialNumber;
        reply.body = lo(arguments);
        return sendMessage(box, request.sender, reply) ? 0 : 1;
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "launched")
        return launched(argv[2]);
    if (argc >= 2 && std::string(argv[1]) == "application")
        return application(argc, argv);
    if (argc != 1) {
        std::fprintf(stderr, "tellwire_peer: bad arguments\n");
        return 2;
    }
    int status = serve();
    boxes.clear();
    ownSender.reset();
    return status;
}
