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
//
// The debug protocol on Linux
// ---------------------------
// The application hosts one script engine named "main", and its endpoint
// carries the XML debug protocol between that engine and a front end:
//
// - A "Debug" message to "<application>#tvtk" whose body begins with '<'
//   is a request: one XML element in UTF-8, run by the engine's debugger
//   service with a fresh error list. The reply to it (a "Result", matched
//   by the request's serial number) holds the answer element, or nothing
//   for a command without one. A failed request gets an "Error" reply
//   whose code is the error's number and whose body is the protocol's
//   <error id=".." file=".." line="..">message</error> element; a body
//   that is not XML gives the parser's error, one that holds no element 19,
//   an answer too large for Tellwire's 64 MiB messages 52.
// - The sender of the last request is the front end. When the engine
//   stops, the front end is sent a "Debug" message (no reply asked) whose
//   body is the answer to <get-break/>; the engine stays stopped, serving
//   every request, until a command resumes it. With no front end, or one
//   whose mailbox is gone, it continues at once. $.write text goes to the
//   front end the same way, as <output><![CDATA[text]]></output>.
// - While a script runs, the engine looks at its mailbox now and then and
//   serves only <break/>, <halt/>, <get-info/>, <get-breakpoints/> and
//   <breakpoints>; other requests get error 32. While a command given to
//   the stopped engine runs script (an eval, the object of get-properties,
//   a value's text), only <halt/>, which ends that command's run and
//   leaves the engine stopped, and <get-info/> are served.
// - While an eval reads its file= the same requests are served as while a
//   script runs; <halt/> ends the read (error -34), as does the eval's
//   timeout (-35).
// - Out of memory the application keeps answering: it holds a few
//   megabytes back while a script runs and gives them up when the script
//   runs out (its eval answers -28), or when a request finds no memory (an
//   Error reply -28). <eval reset="true"> frees what the script's globals
//   held.
// - The ends above hold while stopped and while a script runs: the script
//   is halted and the application ends.
#include <cstdio>

#include "core/String.h"
#include "examples/AppEnds.h"
#include "examples/DebugCarrier.h"
#include "objects/LoString.h"
#include "objects/Message.h"
#include "objects/Specifier.h"
#include "objects/Tellwire.h"
#include "script/composition/InitTerm.h"
#include "script/engine/RealEngine.h"
#include "script/engine/TVContext.h"
#include "script/library/debug/DebugAPI.h"

using LxObjects::LoString;
using LxObjects::Tellwire;

namespace {

constexpr int kIdleWaitMs = 20;

std::string specifierArgument(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "-specifier")
            return argv[i + 1];
    return "sampleapp-1.0";
}

// The engine "main" with the carrier as its debugger; null when none can
// be made.
LxScript::RealEngine* makeEngine() {
    auto* engine = static_cast<LxScript::RealEngine*>(LxScript::Engine::createEngine(0));
    if (!engine)
        return nullptr;
    engine->initialize();
    engine->setName(LxCore::String("main"));
    // Its scripts run on this thread: all of its stack is theirs, less the
    // reserve the engine keeps.
    if (const LxCore::i32 room = LxScript::TVContext::stackRoom())
        engine->setStackBudget(room);
    return engine;
}

int serveUntilEnd(const Tellwire::Specifier& own, SampleApp::DebugCarrier& carrier, SampleApp::AppEnds& ends) {
    Tellwire* main = new Tellwire(own.text(), nullptr, true, nullptr);
    Tellwire::Specifier debugName(own);
    debugName.setEngine(LoString("tvtk"));
    Tellwire* debug = new Tellwire(debugName.text(), new SampleApp::CarrierHandler(carrier), false, nullptr);
    if (!main || !debug || !Tellwire::isWorking(debug)) {
        std::fprintf(stderr, "sample application: the mailbox %s is taken\n", debugName.text());
        delete debug;
        delete main;
        return 1;
    }
    carrier.setEndpoint(debug);
    std::printf("ready %s\n", debugName.text());
    std::fflush(stdout);
    do
        LxObjects::tellwirePump(LxObjects::kPumpAll, nullptr);
    while (!ends.shouldEnd(kIdleWaitMs));
    LxObjects::tellwirePump(LxObjects::kPumpOutgoing, nullptr);
    carrier.setEndpoint(nullptr);
    delete debug;
    delete main;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A launch names the debug endpoint itself; the application's own
    // name is the specifier without its engine part.
    Tellwire::Specifier own(specifierArgument(argc, argv).c_str(), false);
    own.setEngine(LoString(""));
    LxScript::InitTerm::init();
    LxScript::RealEngine* engine = makeEngine();
    LxScript::DebugAPI* api = engine ? LxScript::debugAPIOf(*engine) : nullptr;
    if (!api) {
        std::fprintf(stderr, "sample application: no engine\n");
        delete engine;
        LxScript::InitTerm::exit();
        return 1;
    }
    if (!LxObjects::tellwireInit(own, true)) {
        std::fprintf(stderr, "sample application: Tellwire did not start\n");
        delete engine;
        LxScript::InitTerm::exit();
        return 1;
    }
    SampleApp::AppEnds ends;
    SampleApp::DebugCarrier carrier(*engine, *api, ends);
    engine->setDebugger(&carrier);
    const int status = serveUntilEnd(own, carrier, ends);
    engine->setDebugger(nullptr);
    delete engine;
    LxObjects::tellwireTerminate();
    LxScript::InitTerm::exit();
    return status;
}
