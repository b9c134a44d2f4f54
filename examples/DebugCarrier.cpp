#include "examples/DebugCarrier.h"

#include <cstdio>
#include <string>

#include "base/platform/MemoryReserve.h"
#include "core/Encoder.h"
#include "core/ErrorCodes.h"
#include "core/XML.h"
#include "objects/InterAppStream.h"
#include "objects/Message.h"
#include "objects/PumpStep.h"
#include "objects/Specifier.h"
#include "objects/platform/Mailbox.h"
#include "script/engine/RealEngine.h"
#include "script/library/debug/DebugAPI.h"
#include "script/library/debug/DebugXMLValues.h"

using LxCore::Error;
using LxCore::ErrorRecord;
using LxCore::String;
using LxCore::XML;
using LxObjects::LoString;
using LxObjects::Tellwire;
using LxScript::DebugAPI;
namespace DebugXML = LxScript::DebugXML;

namespace SampleApp {

namespace {

// Tellwire refuses message files over 64 MiB; the headers of a reply (two
// specifiers of at most 256 bytes and a dozen short lines) fit in the room
// kept here.
constexpr int kHeaderRoom = 16 * 1024;
constexpr int kMaxBody = int(LxObjects::Platform::Mailbox::kMaxMessage) - kHeaderRoom;
// How long the break loop waits for the input in one pass.
constexpr int kStoppedWaitMs = 20;

// The answer to a request that found no memory even for its answer: made
// beforehand, and short enough for the reply text Tellwire hands in (room
// for 127 bytes), so that giving it needs no memory at all.
constexpr LxScript::i32 kOutOfMemory = LxCore::Err::kOutOfMemory;
constexpr char kOutOfMemoryAnswer[] = "<error id=\"-28\" file=\"\" line=\"0\">Out of memory</error>";
static_assert(sizeof kOutOfMemoryAnswer <= 128, "fits the reply text as it comes");

// The requests served while a script runs (from the engine's poll): all
// of them while it runs from idle, two while a command given in the break
// loop runs script.
struct RunningCommand {
    const char* name;
    bool whileStoppedRunning;
};
constexpr RunningCommand kRunningCommands[] = {
    {"break", false}, {"halt", true}, {"get-info", true}, {"get-breakpoints", false}, {"breakpoints", false},
};

String fromUtf8(const LoString& text) {
    String out;
    out.decode(text.text(), text.length(), LxCore::utf8Encoder());
    return out;
}

// False, leaving out empty, for a text too large for one message.
bool toUtf8(const String& text, LoString& out) {
    const char* bytes = nullptr;
    LxCore::u32 length = 0;
    text.encode(bytes, length, LxCore::utf8Encoder());
    out.assign("", 0);
    if (length > LxCore::u32(kMaxBody))
        return false;
    out.assign(bytes ? bytes : "", int(length));
    return true;
}

bool isNamed(const String& name, const char* ascii) { return name.compare(ascii) == 0; }

const ErrorRecord* oldestRecord(const Error& errors) {
    const ErrorRecord* record = errors.getRecord();
    while (record && record->next)
        record = record->next;
    return record;
}

// The code an error reply carries: the oldest record's, as its element says.
LxScript::i32 errorCode(const Error& errors) {
    const ErrorRecord* oldest = oldestRecord(errors);
    return oldest && oldest->code != 0 ? oldest->code : errors.getCode();
}

// text = the body for an answer (null: none) or for the error in errors;
// the code of that error, 0 for none. An answer too large to travel is
// error 52.
LxScript::i32 bodyOf(XML* answer, Error& errors, LoString& text) {
    text.assign("", 0);
    if (errors.getCode() == 0 && answer) {
        String serialized;
        answer->toXMLString(serialized, -1);
        if (!toUtf8(serialized, text))
            errors.push(LxCore::Err::kIOError, String(), nullptr, true);
    }
    if (errors.getCode() == 0)
        return 0;
    DebugXML::XMLHold element(DebugXML::errorElement(errors));
    String serialized;
    element->toXMLString(serialized, -1);
    toUtf8(serialized, text);
    return errorCode(errors);
}

// The request element of a body, or null with the parser's error (or 19
// when the body holds no single element).
XML* parseRequest(const LoString& body, Error& errors) {
    LxScript::i32 position = 0;
    XML* request = LxCore::parseXMLText(fromUtf8(body), position, errors, true, true, true);
    if (request && request->getKind() != XML::kElement) {
        request->release();
        request = nullptr;
    }
    if (!request && errors.getCode() == 0)
        errors.push(LxCore::Err::kBadArgument, String(), nullptr, true);
    return request;
}

// The "quit"/"fail"/echo answers of bodies that are not requests.
int answerPlain(const std::string& body, LoString* reply, AppEnds& ends) {
    if (body == "fail") {
        if (reply)
            reply->assign("sampleapp: refused");
        return 7;
    }
    if (body == "quit")
        ends.askQuit();
    if (reply) {
        reply->assign("sampleapp: ");
        reply->append(body.data(), int(body.size()));
    }
    return 0;
}

}  // namespace

// Sets the carrier's mode for the span of one pump.
class DebugCarrier::ModeScope {
public:
    ModeScope(DebugCarrier& carrier, Mode mode) : carrier(carrier), saved(carrier.mode) { carrier.mode = mode; }
    ~ModeScope() { carrier.mode = saved; }
    ModeScope(const ModeScope&) = delete;
    ModeScope& operator=(const ModeScope&) = delete;

private:
    DebugCarrier& carrier;
    Mode saved;
};

DebugCarrier::DebugCarrier(LxScript::RealEngine& engine, DebugAPI& api, AppEnds& ends)
    : engine(engine), api(api), ends(ends) {}

int DebugCarrier::serve(int kind, Tellwire::Message& message, LoString* reply) {
    std::printf("debug %d %.*s\n", kind, message.body.length(), message.body.text());
    std::fflush(stdout);
    if (kind != Tellwire::kNew)
        return 0;
    const LoString& body = message.body;
    int code = 0;
    if (body.isEmpty() || body.text()[0] != '<') {
        if (!LxObjects::runPumpStep(
                [&] { code = answerPlain(std::string(body.text(), size_t(body.length())), reply, ends); }))
            return answerOutOfMemory(reply);
        return code;
    }
    if (!LxObjects::runPumpStep([&] { requester = message.sender; }))
        return answerOutOfMemory(reply);
    return answerRequest(body, reply);
}

// Each step that needs memory is tried again once the reserve is given up,
// the command itself only once: it may have done its work.
int DebugCarrier::answerRequest(const LoString& body, LoString* reply) {
    Error errors;
    DebugXML::XMLHold request;
    if (!LxObjects::runPumpStep([&] { request.reset(parseRequest(body, errors)); }))
        return answerOutOfMemory(reply);
    DebugXML::XMLHold answer(request.get() ? run(*request.get(), errors) : nullptr);
    request.reset(nullptr);
    int code = 0;
    const bool answered = LxObjects::runPumpStep([&] {
        LoString text;
        code = bodyOf(answer.get(), errors, text);
        if (reply)
            reply->assign(text.text(), text.length());
    });
    if (!answered)
        return answerOutOfMemory(reply);
    // The engine ran out: the room it held back is the next requests'.
    if (code == kOutOfMemory)
        LxBase::MemoryReserve::release();
    return code;
}

// Out of memory even for the answer: the one made beforehand goes, and the
// room held back is given up for the requests that follow.
int DebugCarrier::answerOutOfMemory(LoString* reply) {
    LxBase::MemoryReserve::release();
    if (reply && reply->capacity() >= int(sizeof kOutOfMemoryAnswer))
        reply->assign(kOutOfMemoryAnswer, int(sizeof kOutOfMemoryAnswer) - 1);
    return kOutOfMemory;
}

XML* DebugCarrier::run(const XML& request, Error& errors) {
    const String& command = request.getName();
    if (!isServed(command)) {
        errors.push(LxCore::Err::kCannotExecute, String(), nullptr, true);
        return nullptr;
    }
    // A halt while a command of the break loop runs script ends that run;
    // the engine stays stopped.
    if (mode == kStoppedRunning && isNamed(command, "halt")) {
        haltRun();
        return nullptr;
    }
    return api.executeXML(request, errors);
}

bool DebugCarrier::isServed(const String& command) const {
    if (mode != kRunning && mode != kStoppedRunning)
        return true;
    for (const RunningCommand& c : kRunningCommands)
        if (isNamed(command, c.name))
            return mode == kRunning || c.whileStoppedRunning;
    return false;
}

// Ends the run the engine's poll came from: a run that a command of the
// break loop started ends alone, the engine stays stopped; any other run
// ends as a whole.
void DebugCarrier::haltRun() {
    // Without frames (an eval still reading its file) the error is what
    // ends the command.
    if (mode == kStoppedRunning || !engine.isRunning())
        engine.setError(LxCore::Err::kExecutionHalted);
    else
        engine.halt();
}

// Continue; a stop with a fatal error cannot continue, it can only halt.
void DebugCarrier::resume() {
    api.command(DebugAPI::kContinue, false);
    if (engine.isStoppedInDebugger())
        engine.halt();
}

bool DebugCarrier::requesterIsLive() const {
    if (requester.isEmpty())
        return false;
    LxObjects::InterAppStream* probe = LxObjects::getPingStream();
    return probe && !probe->isNameFree(Tellwire::Specifier(requester.text(), false));
}

bool DebugCarrier::sendToRequester(const LoString& body) {
    if (requester.isEmpty() || !endpoint)
        return false;
    Tellwire::Message message;
    message.type.assign("Debug");
    message.target = requester;
    message.body = body;
    return Tellwire::sendMessage(endpoint, message, false, 0, nullptr);
}

void DebugCarrier::breakExecution(LxScript::Engine&) {
    ModeScope scope(*this, kStopped);
    // Stopped at the end of memory: the room held back is for the stop's
    // requests now.
    if (engine.getError().getCode() == kOutOfMemory)
        LxBase::MemoryReserve::release();
    // A stop that cannot be told (no front end, no memory) runs on.
    bool told = false;
    LxObjects::runPumpStep([&] {
        Error errors;
        DebugXML::XMLHold request(new XML(String("get-break")));
        DebugXML::XMLHold answer(api.executeXML(*request.get(), errors));
        LoString stop;
        bodyOf(answer.get(), errors, stop);
        told = sendToRequester(stop);
    });
    if (!told) {
        resume();
        return;
    }
    while (engine.isStoppedInDebugger()) {
        LxObjects::tellwirePump(LxObjects::kPumpAll, nullptr);
        if (!engine.isStoppedInDebugger())
            break;
        if (ends.shouldEnd(kStoppedWaitMs))
            engine.halt();
        else if (!requesterIsLive())
            resume();
    }
    // The reply to the resuming command goes before the script runs on.
    LxObjects::tellwirePump(LxObjects::kPumpOutgoing, nullptr);
}

void DebugCarrier::poll(LxScript::Engine&) {
    ModeScope scope(*this, engine.isStoppedInDebugger() ? kStoppedRunning : kRunning);
    LxObjects::tellwirePump(LxObjects::kPumpAll, nullptr);
    if (ends.shouldEnd(0))
        haltRun();
}

void DebugCarrier::writeText(LxScript::Engine&, const String& text) {
    DebugXML::XMLHold output(DebugXML::newElement("output"));
    DebugXML::addCDATA(*output.get(), text);
    String serialized;
    output->toXMLString(serialized, -1);
    // Text too large for a message is dropped, as Tellwire would drop it.
    LoString body;
    if (toUtf8(serialized, body))
        sendToRequester(body);
}

}  // namespace SampleApp
