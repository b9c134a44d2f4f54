// Ping requests and the small utilities the facility shares: the status
// words, send-and-wait over the ping mailbox, the time-of-day text, the
// diagnostics line reader and the argument splitter.
//
// A ping is a message of type "ping" to an application's "#thread" mailbox
// whose "ECHO_REQUEST" (or "ECHO_RESPONSE") header carries a request word;
// the answer comes back in the same header, or in the body when the header
// says "SEE BODY".
#pragma once
#include "objects/LoHeap.h"
#include "objects/LoString.h"
#include "objects/LoTypes.h"
#include "objects/LoVector.h"
#include "objects/Message.h"
#include "objects/Specifier.h"

namespace LxObjects {

class BaseInterAppStream;

namespace TellwireUtils {

// The status words, in table order.
enum StatusWord {
    kMain, kNop, kPing, kEchoRequest, kEchoResponse, kStatus, kBusy, kIdle, kLaunched, kDiagnostics, kInfo,
    kFwdErrors, kFwdLogs, kFwdMessages, kSeeBody, kPumping, kInvalidSpec, kNoInterAppStream,
    kMsgToStringError, kNoError, kIsNotRunning, kIsNotInstalled, kUndefined, kStatusWordCount
};
const char* statusWord(StatusWord word);

// The target word that addresses every installed application.
extern const char kAllRunningApps[];
// The answer of a request that was sent and found no answer in time.
extern const char kTimeout[];

// Measures milliseconds from its construction, on a clock that a change
// of the system time does not move.
class Timer : public LoHeap {
public:
    Timer();
    double elapsed() const;

private:
    double start_;  // milliseconds
};

// The mailbox name of target's pump thread: its name, instance, version and
// locale with the engine "thread"; empty when target names no application.
LoString threadMailboxName(const Tellwire::Specifier& target);

// Sends one ping to target (every installed application for
// "allRunningApps") from the ping mailbox and waits up to timeoutSeconds for
// each answer. out is the last answer or status word, empty without an open
// ping mailbox. *count, when given, counts the targets the ping reached.
void sendPing(LoString& out, const LoString& target, bool request, const LoString& value, u32 serial,
              i64 timeoutSeconds, const LoString& body, u32* count);

// Sends message through stream and, with a timeout, waits for the answer
// that carries the message's serial number; answers of earlier calls are
// skipped. out is the answer's "ECHO_REQUEST" header (its body for
// "SEE BODY") or a status word.
void sendAndWait(LoString& out, const Tellwire::Message& message, BaseInterAppStream& stream);

// The local time of day "%H:%M:%S" of *time, or of now when time is null.
void formatTime(LoString& out, const i64* time);

// Reads the diagnostics line at the start of text (up to "\n" or the end):
// path;flag;label;value with a non-empty path and label and a flag of "0" or
// "1". Returns the position after the line, 0 for anything else.
int parseDiagnosticsLine(const char* text, LoString& path, LoString& label, LoString& value, int& flag);

// Appends the words of text, cut at any of " =;\"':", to words (which owns
// nothing: the caller deletes them); returns the vector's count. Safe on
// any number of threads at once.
int splitArguments(const char* text, LoVector<LoString>& words);

}  // namespace TellwireUtils
}  // namespace LxObjects
