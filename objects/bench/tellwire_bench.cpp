// Measures the messaging road between two processes of this machine: the
// round trip of a message and its result reply through both endpoints and
// pumps, and the rate of one-way messages; then, in this process, how fast
// a backlog of requests drains: 1,000 and 100,000 requests queued at once
// for an endpoint, answered through the pump.
//
//   tellwire_bench [round trips] [one-way messages]     (default 2000 20000)
//
// The program starts a copy of itself as the answering application. Both
// run in fresh per-user folders of their own, so no real mailbox is touched.
// Each host thread pumps in a loop and sleeps 50 microseconds whenever a
// pump found nothing to do.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <ftw.h>
#include <string>
#include <thread>
#include <vector>

#include "objects/InterAppStream.h"
#include "objects/Message.h"
#include "objects/Tellwire.h"

using namespace LxObjects;
using Message = Tellwire::Message;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

const char kMain[] = "benchmain-1.0";
const char kEcho[] = "benchecho-1.0";

// The answering side: returns every body as its result; "done" is answered
// with the number of messages seen before it, "quit" ends it.
class Echo : public Tellwire::MsgHandler {
public:
    int handle(int kind, Message& message, LoString* reply) override
    {
        if (kind != Tellwire::kNew)
            return 0;
        std::string body(message.body.text(), size_t(message.body.length()));
        if (body == "quit") {
            quit = true;
        } else if (body == "done") {
            if (reply)
                reply->assign(std::to_string(seen).c_str());
            seen = 0;
            return 0;
        } else if (body == "one way message") {
            ++seen;
        }
        if (reply)
            *reply = message.body;
        return 0;
    }
    long seen = 0;
    bool quit = false;
};

// The asking side counts the result replies.
class Results : public Tellwire::MsgHandler {
public:
    int handle(int kind, Message& message, LoString*) override
    {
        if (kind == Tellwire::kResult) {
            ++count;
            last.assign(message.body.text(), size_t(message.body.length()));
        }
        return 0;
    }
    long count = 0;
    std::string last;
};

void pumpOnce()
{
    if (!tellwirePump(kPumpAll, nullptr))
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

bool pumpUntil(const std::function<bool()>& done, int limitMs = 20000)
{
    auto end = Clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (Clock::now() > end)
            return false;
        pumpOnce();
    }
    return true;
}

std::string endpointName(const char* app)
{
    return std::string(app) + "#main";
}

int runEcho()
{
    tellwireInit(LoString(kEcho), true);
    Echo* echo = new Echo;
    Tellwire* endpoint = new Tellwire(endpointName(kEcho).c_str(), echo, true, nullptr);
    auto idleSince = Clock::now();
    while (!echo->quit && Clock::now() - idleSince < std::chrono::seconds(120)) {
        if (tellwirePump(kPumpAll, nullptr))
            idleSince = Clock::now();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    // Lets the last replies go out before the mailbox closes.
    for (int i = 0; i < 20; ++i)
        pumpOnce();
    delete endpoint;
    tellwireTerminate();
    return 0;
}

std::string makeFolders()
{
    char root[] = "/tmp/tellwire-bench-XXXXXX";
    if (!mkdtemp(root))
        return std::string();
    std::string base(root);
    for (const char* sub : {"/home", "/config", "/run"})
        mkdir((base + sub).c_str(), 0700);
    setenv("HOME", (base + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (base + "/run").c_str(), 1);
    setenv("MORVANE_INSTALLED_PRODUCTS", (base + "/installed-products.xml").c_str(), 1);
    return base;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t at = size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

Message request(const char* body, const char* responseRequest, const char* target = kEcho)
{
    Message m;
    m.target.assign(endpointName(target).c_str());
    m.type.assign("Tavrel");
    m.body.assign(body);
    m.responseRequest.assign(responseRequest);
    return m;
}

// Queues n requests, each asking for a result and a time-out, from the
// main endpoint to a second endpoint of this process; answers the seconds
// from the first pump until every result has been delivered (0: not all came).
double drain(Tellwire* endpoint, Results* results, long n)
{
    const char kDrain[] = "benchdrain-1.0";
    Tellwire* answering = new Tellwire(endpointName(kDrain).c_str(), new Echo, false, nullptr);
    for (long i = 0; i < n; ++i) {
        Message m = request("backlog", "Result Timeout", kDrain);
        Tellwire::sendMessage(endpoint, m, false, 0, nullptr);
    }
    long before = results->count;
    auto start = Clock::now();
    bool all = pumpUntil([&] { return results->count >= before + n; }, 600000);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    delete answering;
    return all ? seconds : 0;
}

// The drain rate of n queued requests over runs drains: all replies over
// all the time.
double drainRate(Tellwire* endpoint, Results* results, long n, int runs)
{
    double seconds = 0;
    for (int i = 0; i < runs; ++i) {
        double once = drain(endpoint, results, n);
        if (once <= 0)
            return 0;
        seconds += once;
    }
    return double(n) * runs / seconds;
}

int runMain(long roundTrips, long oneWay)
{
    std::string folders = makeFolders();
    if (folders.empty()) {
        std::fprintf(stderr, "tellwire_bench: no temporary folder\n");
        return 1;
    }
    pid_t child = -1;
    char self[] = "/proc/self/exe";
    char echoArg[] = "echo";
    char* argv[] = {self, echoArg, nullptr};
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "tellwire_bench: cannot start the answering process\n");
        return 1;
    }

    tellwireInit(LoString(kMain), true);
    Results* results = new Results;
    Tellwire* endpoint = new Tellwire(endpointName(kMain).c_str(), results, true, nullptr);
    InterAppStream* probe = getPingStream();
    LoString echoName(endpointName(kEcho).c_str());
    auto startLimit = Clock::now() + std::chrono::seconds(20);
    while (probe->isNameFree(echoName) && Clock::now() < startLimit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    int status = 0;
    // Warm-up, then round trips one at a time.
    std::vector<double> times;
    times.reserve(size_t(roundTrips));
    for (long i = 0; i < roundTrips + 50 && status == 0; ++i) {
        Message m = request("ping", "Result");
        long before = results->count;
        auto sent = Clock::now();
        Tellwire::sendMessage(endpoint, m, false, 0, nullptr);
        if (!pumpUntil([&] { return results->count > before; })) {
            std::fprintf(stderr, "tellwire_bench: no reply to round trip %ld\n", i);
            status = 1;
        }
        if (i >= 50)
            times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }

    // One-way messages, then "done", whose answer tells how many arrived.
    double seconds = 0;
    if (status == 0) {
        auto start = Clock::now();
        for (long i = 0; i < oneWay; ++i) {
            Message m = request("one way message", "");
            Tellwire::sendMessage(endpoint, m, false, 0, nullptr);
            if (i % 64 == 0)
                tellwirePump(kPumpAll, nullptr);
        }
        Message done = request("done", "Result");
        long before = results->count;
        Tellwire::sendMessage(endpoint, done, false, 0, nullptr);
        if (!pumpUntil([&] { return results->count > before; }, 120000)) {
            std::fprintf(stderr, "tellwire_bench: the one-way messages were not all answered\n");
            status = 1;
        }
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (results->last != std::to_string(oneWay)) {
            std::fprintf(stderr, "tellwire_bench: %s of %ld one-way messages arrived\n", results->last.c_str(),
                         oneWay);
            status = 1;
        }
    }

    // The backlogs go between two endpoints of this process.
    double smallRate = 0, largeRate = 0;
    const long kSmallBacklog = 1000, kLargeBacklog = 100000;
    if (status == 0) {
        // As many replies at each size.
        smallRate = drainRate(endpoint, results, kSmallBacklog, int(kLargeBacklog / kSmallBacklog));
        largeRate = drainRate(endpoint, results, kLargeBacklog, 1);
        if (smallRate <= 0 || largeRate <= 0) {
            std::fprintf(stderr, "tellwire_bench: a backlog did not drain\n");
            status = 1;
        }
    }

    Message quit = request("quit", "");
    Tellwire::sendMessage(endpoint, quit, false, 0, nullptr);
    pumpUntil([] { return false; }, 200);
    int childStatus = 0;
    waitpid(child, &childStatus, 0);
    delete endpoint;
    tellwireTerminate();
    nftw(
        folders.c_str(), [](const char* name, const struct stat*, int, struct FTW*) { return remove(name); }, 16,
        FTW_DEPTH | FTW_PHYS);

    if (status == 0) {
        double mean = 0;
        for (double t : times)
            mean += t;
        mean /= double(times.size());
        std::printf("round trip (message and result reply, %ld runs): median %.0f us, mean %.0f us, "
                    "90%% %.0f us, 99%% %.0f us\n",
                    roundTrips, percentile(times, 0.5), mean, percentile(times, 0.9), percentile(times, 0.99));
        std::printf("one-way messages: %ld in %.3f s, %.0f messages/s\n", oneWay, seconds,
                    double(oneWay) / seconds);
        std::printf("backlog drain (requests queued at once, result replies delivered): %ld queued %.0f replies/s, "
                    "%ld queued %.0f replies/s (%.2f of the rate at %ld)\n",
                    kSmallBacklog, smallRate, kLargeBacklog, largeRate, largeRate / smallRate, kSmallBacklog);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "echo")
        return runEcho();
    long roundTrips = argc > 1 ? std::atol(argv[1]) : 2000;
    long oneWay = argc > 2 ? std::atol(argv[2]) : 20000;
    if (roundTrips < 1 || oneWay < 1) {
        std::fprintf(stderr, "usage: tellwire_bench [round trips] [one-way messages]\n");
        return 2;
    }
    return runMain(roundTrips, oneWay);
}
