#include "objects/TellwireUtils.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>

#include "objects/Connector.h"
#include "objects/InterAppStream.h"

namespace LxObjects {
namespace TellwireUtils {

using Message = Tellwire::Message;
using Specifier = Tellwire::Specifier;

namespace {

std::string_view view(const LoString& s)
{
    return std::string_view(s.text(), size_t(s.length()));
}

const char* const kWords[kStatusWordCount] = {
    "MAIN", "NOP", "ping", "ECHO_REQUEST", "ECHO_RESPONSE", "STATUS", "BUSY", "IDLE", "LAUNCHED",
    "DIAGNOSTICS", "INFO", "FWDERRORS", "FWDLOGS", "FWDMESSAGES", "SEE BODY", "PUMPING", "INVALIDSPEC",
    "NOINTERAPPSTREAM", "MSGTOSTRINGERROR", "NOERROR", "ISNOTRUNNING", "ISNOTINSTALLED", "UNDEFINED",
};

// Answers that mean the ping reached nobody.
const StatusWord kUnreached[] = {kUndefined, kIsNotInstalled, kIsNotRunning, kMsgToStringError};

bool reached(const LoString& answer)
{
    for (StatusWord word : kUnreached)
        if (view(answer) == kWords[word])
            return false;
    return true;
}

// The answer to serial among the messages of one mailbox text; answers to
// other requests (earlier calls that gave up waiting) are skipped.
bool findAnswer(const LoString& text, u32 serial, LoString& answer)
{
    int pos = 0;
    while (pos < text.length()) {
        Message reply;
        pos += parseMessage(reply, text.text() + pos, text.length() - pos);
        if (reply.serialNumber != serial)
            continue;
        answer = reply.getHeader(kWords[kEchoRequest]);
        if (view(answer) == kWords[kSeeBody])
            answer = reply.body;
        return true;
    }
    return false;
}

std::mutex waitingTurn;

// Waits a moment for a message where the stream can; otherwise yields.
void pause(BaseInterAppStream& stream, double leftMs)
{
    int ms = leftMs < 10 ? int(leftMs) + 1 : 10;
    if (auto* win = dynamic_cast<WinInterAppStream*>(&stream))
        win->waitForMessage(ms);
    else
        std::this_thread::yield();
}

}  // namespace

const char kAllRunningApps[] = "allRunningApps";
const char kTimeout[] = "Timeout";

const char* statusWord(StatusWord word)
{
    return word >= 0 && word < kStatusWordCount ? kWords[word] : "";
}

Timer::Timer() : start_(0)
{
    using namespace std::chrono;
    start_ = double(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

double Timer::elapsed() const
{
    return Timer().start_ - start_;
}

LoString threadMailboxName(const Specifier& target)
{
    LoString name;
    target.getName(name);
    Specifier mailbox(target);
    if (name.isEmpty() || !mailbox.setEngine(LoString("thread")))
        return LoString();
    return mailbox;
}

void sendPing(LoString& out, const LoString& target, bool request, const LoString& value, u32 serial,
              i64 timeoutSeconds, const LoString& body, u32* count)
{
    out.assign("");
    if (count)
        *count = 0;
    InterAppStream* stream = findPingStream();
    if (!stream || !stream->isOpen())
        return;

    Message message;
    message.sender = stream->getName();
    message.type.assign(kWords[kPing]);
    message.serialNumber = serial;
    message.timeout = timeoutSeconds;
    message.addHeader(kWords[request ? kEchoRequest : kEchoResponse],
                      value.isEmpty() ? kWords[kEchoRequest] : value.text());
    if (!body.isEmpty())
        message.body = body;

    bool everyone = view(target) == kAllRunningApps;
    TellwireConnector* connector = getGlobalConnector();
    int targets = everyone ? (connector ? connector->getApplicationCount() : 0) : 1;
    for (int i = 0; i < targets; ++i) {
        LoString text = target;
        if (everyone)
            connector->getApplicationSpecifier(text, u32(i));
        LoString mailbox = threadMailboxName(Specifier(text.text(), false));
        if (mailbox.isEmpty()) {
            out.assign(kWords[kInvalidSpec]);
            continue;
        }
        message.target = mailbox;
        sendAndWait(out, message, *stream);
        if (count && reached(out))
            ++*count;
    }
}

void sendAndWait(LoString& out, const Message& message, BaseInterAppStream& stream)
{
    if (view(message.sender) == view(message.target)) {
        out.assign(kWords[kUndefined]);
        return;
    }
    LoString text;
    if (!serializeMessageWithDigest(message, text)) {
        out.assign(kWords[kMsgToStringError]);
        return;
    }
    if (stream.isNameFree(message.target)) {
        Specifier target(message.target.text(), true);
        target.setEngine(LoString());
        out.assign(kWords[target.isInstalled() ? kIsNotRunning : kIsNotInstalled]);
        return;
    }

    Timer timer;
    // One caller waits at a time, so that no other caller takes its answer
    // and skips it; sending alone needs no turn.
    std::lock_guard<std::mutex> turn(waitingTurn);
    bool sent = stream.send(message.target, text);
    out.assign(kWords[sent ? kNoError : kUndefined]);
    if (message.timeout <= 0)
        return;

    double limit = double(message.timeout) * 1000.0;
    bool answered = false;
    LoString answer;
    for (double left = limit; !answered && left > 0; left = limit - timer.elapsed()) {
        if (!sent) {
            sent = stream.send(message.target, text);
            if (!sent)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else if (stream.readOne()) {
            // Taken out before it is read, so that it is never read again.
            LoString received;
            stream.takeReceived(received);
            answered = findAnswer(received, message.serialNumber, answer);
        } else {
            pause(stream, left);
        }
    }
    if (!sent)
        out.assign(kWords[kUndefined]);
    else if (!answered)
        out.assign(kTimeout);
    else
        out = answer;
}

void formatTime(LoString& out, const i64* time)
{
    out.assign("");
    time_t t = time ? time_t(*time) : std::time(nullptr);
    struct tm parts;
    char text[64];
    if (!localtime_r(&t, &parts))
        return;
    size_t n = std::strftime(text, sizeof text, "%H:%M:%S", &parts);
    if (n > 0 && text[n - 1] == '\n')
        --n;
    out.assign(text, int(n));
}

int parseDiagnosticsLine(const char* text, LoString& path, LoString& label, LoString& value, int& flag)
{
    path.assign("");
    label.assign("");
    value.assign("");
    if (!text)
        return 0;
    const char* newline = std::strchr(text, '\n');
    const char* end = newline ? newline : text + std::strlen(text);
    // The next field up to its ";"; null when the line holds no ";" more.
    auto field = [end](const char* from) {
        return static_cast<const char*>(std::memchr(from, ';', size_t(end - from)));
    };

    const char* p = text;
    const char* semi = field(p);
    if (!semi || semi == p)
        return 0;
    LoString pathText(p, int(semi - p));
    p = semi + 1;
    if (end - p < 2 || (p[0] != '0' && p[0] != '1') || p[1] != ';')
        return 0;
    int flagValue = p[0] - '0';
    p += 2;
    semi = field(p);
    if (!semi || semi == p)
        return 0;
    LoString labelText(p, int(semi - p));
    p = semi + 1;
    semi = field(p);
    value.assign(p, int((semi ? semi : end) - p));
    path = pathText;
    label = labelText;
    flag = flagValue;
    return int((newline ? newline + 1 : end) - text);
}

int splitArguments(const char* text, LoVector<LoString>& words)
{
    static const char kCuts[] = " =;\"':";
    if (text) {
        const char* p = text;
        for (;;) {
            p += std::strspn(p, kCuts);
            if (!*p)
                break;
            size_t n = std::strcspn(p, kCuts);
            LoString* word = new LoString(p, int(n));
            if (!word)
                throw std::bad_alloc();
            words.append(word);
            p += n;
        }
    }
    return words.count();
}

}  // namespace TellwireUtils
}  // namespace LxObjects
