// A small script-enabled application for the demo and the add-on's tests:
// it holds a Tellwire endpoint under its specifier with the engine "tvtk"
// and answers every debug message with a result. It prints "ready" once
// its mailboxes are open, and ends when its standard input (a pipe or a
// socket) closes, when a debug message asks it to, or after five minutes
// (a launched copy reads /dev/null), so it never outlives its front end.
//
//   tavrel_sample_app [-specifier <specifier>] [...]
//
// The reply to a debug message with body B is "sampleapp: B"; the body
// "fail" is answered with the error 7 instead, and "quit" ends the
// application once its reply is on its way.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "objects/LoString.h"
#include "objects/Message.h"
#include "objects/Specifier.h"
#include "objects/Tellwire.h"

using LxObjects::LoString;
using LxObjects::Tellwire;

namespace {

bool quitAsked = false;

class DebugAnswer : public Tellwire::MsgHandler {
public:
    int handle(int kind, Tellwire::Message& message, LoString* reply) override {
        std::string body(message.body.text(), size_t(message.body.length()));
        std::printf("debug %d %s\n", kind, body.c_str());
        std::fflush(stdout);
        if (kind != Tellwire::kNew)
            return 0;
        if (body == "fail") {
            if (reply)
                reply->assign("sampleapp: refused");
            return 7;
        }
        quitAsked = quitAsked || body == "quit";
        if (reply) {
            reply->assign("sampleapp: ");
            reply->append(body.data(), int(body.size()));
        }
        return 0;
    }
};

std::string specifierArgument(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-specifier") == 0)
            return argv[i + 1];
    return "sampleapp-1.0";
}

}  // namespace

int main(int argc, char** argv) {
    // A launch names the debug endpoint itself; the application's own
    // name is the specifier without its engine part.
    Tellwire::Specifier own(specifierArgument(argc, argv).c_str(), false);
    own.setEngine(LoString(""));
    if (!LxObjects::tellwireInit(own, true)) {
        std::fprintf(stderr, "sample application: Tellwire did not start\n");
        return 1;
    }
    Tellwire* main = new Tellwire(own.text(), nullptr, true, nullptr);
    Tellwire::Specifier debugName(own);
    debugName.setEngine(LoString("tvtk"));
    Tellwire* debug = new Tellwire(debugName.text(), new DebugAnswer, false, nullptr);
    if (!main || !debug || !Tellwire::isWorking(debug)) {
        std::fprintf(stderr, "sample application: the mailbox %s is taken\n", debugName.text());
        delete debug;
        delete main;
        LxObjects::tellwireTerminate();
        return 1;
    }
    std::printf("ready %s\n", debugName.text());
    std::fflush(stdout);

    struct stat in;
    const bool piped = fstat(0, &in) == 0 && (S_ISFIFO(in.st_mode) || S_ISSOCK(in.st_mode));
    auto end = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    for (;;) {
        LxObjects::tellwirePump(LxObjects::kPumpAll, nullptr);
        struct pollfd input = {0, POLLIN, 0};
        if (!piped)
            usleep(20000);
        else if (poll(&input, 1, 20) > 0) {
            char buffer[256];
            if (read(0, buffer, sizeof buffer) <= 0)
                break;
        }
        if (quitAsked || std::chrono::steady_clock::now() >= end)
            break;
    }
    LxObjects::tellwirePump(LxObjects::kPumpOutgoing, nullptr);
    delete debug;
    delete main;
    LxObjects::tellwireTerminate();
    return 0;
}
