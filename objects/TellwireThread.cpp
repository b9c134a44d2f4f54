#include "objects/TellwireThread.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>

#include "objects/Connector.h"
#include "objects/ControlMessages.h"
#include "objects/Message.h"
#include "objects/PlatformServices.h"
#include "objects/PumpStep.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireUtils.h"
#include "objects/platform/CommandLine.h"
#include "objects/platform/FolderWatch.h"

namespace LxObjects {

using Message = Tellwire::Message;
using Specifier = Tellwire::Specifier;
using MsgHandler = Tellwire::MsgHandler;

namespace {

const char kStatus[] = "STATUS";
const char kPumping[] = "PUMPING";
const char kIdle[] = "IDLE";

// Tests may set their own clock and pass interval.
std::atomic<TellwireThread::Clock> clockForTests{nullptr};
std::atomic<u32> passInterval{TellwireThread::kPassInterval};

double nowMillis()
{
    using namespace std::chrono;
    if (TellwireThread::Clock clock = clockForTests.load())
        return clock();
    return double(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

i64 nowSeconds()
{
    return i64(std::time(nullptr));
}

std::string_view view(const LoString& s)
{
    return std::string_view(s.text(), size_t(s.length()));
}

bool is(const LoString& s, const char* word)
{
    return view(s) == word;
}

template <class T>
T* made(T* object)
{
    if (!object)
        throw std::bad_alloc();
    return object;
}


// Answers are pings themselves: sent to another pump thread, they would be
// answered in turn, and the two would talk to each other without end.
bool isPumpMailbox(const LoString& sender)
{
    Specifier spec(sender.text(), false);
    LoString engine;
    spec.getEngine(engine);
    return is(engine, "thread");
}

}  // namespace

// ---- ping entries ---------------------------------------------------------------

TellwireThread::PingData::PingData(const LoString& name, const LoString& value)
    : name(name), value(value), handler(nullptr), expiry(0)
{
}

TellwireThread::PingData::~PingData()
{
    delete handler;
}

// ---- the pump thread ----------------------------------------------------------------

TellwireThread::TellwireThread(TellwireContext* context, const Specifier& spec)
    : stop_(false),
      mailboxName_(mailboxNameFor(spec)),
      context_(context),
      stream_(nullptr),
      idleWord_(kIdle),
      idleEntry_("Idle"),
      statusWord_(kStatus),
      averagePump_(0),
      lastPump_(0),
      watch_(made(new Platform::FolderWatch)),
      userId_(getUserId())
{
    entries_.append(made(new PingData(LoString("ECHO_REQUEST"), LoString("ECHO_RESPONSE"))));
    entries_.append(made(new PingData(statusWord_, idleWord_)));
    setEntryHandler(LoString("MAIN"), made(new ThreadMainMsgHandler(context, this)));
    setEntryHandler(LoString("LAUNCHED"), made(new ThreadLaunchedMsgHandler(context)));
    setEntryHandler(LoString("DIAGNOSTICS"), made(new ThreadDiagnosticsMsgHandler(context)));
    setEntryHandler(LoString("INFO"), made(new ThreadInfoMsgHandler(context)));
}

TellwireThread::~TellwireThread()
{
    ObjectLock guard(*this);
    delete stream_;
    stream_ = nullptr;
    for (int i = entries_.count() - 1; i >= 0; --i)
        delete entries_.removeAt(i);
    delete watch_;
    watch_ = nullptr;
}

LoString TellwireThread::mailboxNameFor(const Specifier& spec)
{
    LoString name, instance, version, locale;
    spec.getName(name);
    spec.getInstance(instance);
    spec.getVersion(version);
    spec.getLocale(locale);
    LoString out(name);
    if (!instance.isEmpty()) {
        out += '_';
        out += instance;
    }
    if (!version.isEmpty()) {
        out += '-';
        out += version;
    }
    if (!locale.isEmpty()) {
        out += '-';
        out += locale;
    }
    out += "#thread";
    return out;
}

bool TellwireThread::isStopping()
{
    ObjectLock guard(*this);
    return stop_;
}

// The name as given, else (when it names no instance) the first of the
// instances 1 to 8 that nobody holds.
void TellwireThread::openStream()
{
    stream_ = made(new InterAppStream(mailboxName_));
    if (stream_->isOpen())
        return;
    delete stream_;
    stream_ = nullptr;
    Specifier spec(mailboxName_.text(), false);
    LoString instance;
    spec.getInstance(instance);
    if (spec.isEmpty() || !instance.isEmpty())
        return;
    for (u32 n = 1; n <= 8; ++n) {
        LoString number;
        number += n;
        Specifier candidate(spec);
        if (!candidate.setInstance(number))
            continue;
        InterAppStream* stream = made(new InterAppStream(candidate));
        if (stream->isOpen()) {
            stream_ = stream;
            return;
        }
        delete stream;
    }
}

void TellwireThread::run()
{
    {
        ObjectLock guard(*this);
        if (!stream_)
            openStream();
        if (!stream_)
            return;  // no control mailbox: nothing is pumped in the background
        mailboxName_ = stream_->getName();
    }
    while (isSetupRunning() && !isStopping())
        wait(10);
    for (;;) {
        {
            ObjectLock guard(*this);
            if (stop_)
                return;
            pumpOnce();
        }
        if (isStopping())
            return;
        waitForWork(passInterval.load());
    }
}

void TellwireThread::setClockForTests(Clock clock)
{
    clockForTests.store(clock);
}

void TellwireThread::setPassIntervalForTests(u32 ms)
{
    passInterval.store(ms);
}

bool TellwireThread::wake()
{
    return stop();
}

bool TellwireThread::stop()
{
    {
        ObjectLock guard(*this);
        stop_ = true;
    }
    if (getError() == 32)
        return true;  // there never was a thread
    watch_->wake();
    Thread::wake();
    return join();
}

void TellwireThread::nudge()
{
    watch_->wake();
}

// Waits for the next pass: at most ms, less when a message arrives in one
// of the watched mailboxes or somebody nudges or stops the thread. While
// arrivals are still to be taken, the next pass runs at once.
void TellwireThread::waitForWork(u32 ms)
{
    watch_->wait(int(ms));
}

void TellwireThread::pumpOnce()
{
    ObjectLock guard(*this);
    watch_->beginPass();
    // Nothing a step throws ends the thread: the next pass tries again.
    runPumpStep([&] { answerControlMessages(); });
    moveEndpointMessages();
    watch_->endPass();
    expireEntries();
    runPumpStep([&] { callIdleHandler(); });
}

void TellwireThread::answerControlMessages()
{
    if (!stream_)
        return;
    if (watch_->watch(view(userId_), view(mailboxName_)))
        watch_->taken(view(userId_), view(mailboxName_));
    if (!stream_->hasMessage() || !stream_->readOne())
        return;
    LoString text;
    stream_->takeReceived(text);
    int pos = 0;
    while (pos < text.length()) {
        Message request;
        pos += parseMessage(request, text.text() + pos, text.length() - pos);
        MsgHandler* handler = getEntryHandler(LoString("MAIN"));
        if (!handler)
            continue;
        LoString answer;
        int result;
        try {
            result = handler->handle(Tellwire::kNew, request, &answer);
        } catch (...) {
            continue;  // a request that fails gets no answer
        }
        if (result != 0 || answer.isEmpty() || isPumpMailbox(request.sender))
            continue;
        Message reply;
        reply.target = request.sender;
        reply.sender = getMailboxName();
        reply.type.assign("ping");
        reply.body = request.body;
        reply.addHeader(LoString("ECHO_REQUEST"), answer);
        // The asker knows its answer by the serial number of its request.
        reply.serialNumber = request.serialNumber;
        LoString out;
        if (serializeMessageWithDigest(reply, out))
            stream_->send(reply.target, out);
    }
}

void TellwireThread::moveEndpointMessages()
{
    if (!context_)
        return;
    for (int i = 0; i < context_->getEndpointCount(); ++i) {
        Tellwire* endpoint = context_->getEndpoint(i);
        if (!endpoint)
            continue;
        runPumpStep([&] { Tellwire::processIncoming(endpoint, false); });
        runPumpStep([&] { Tellwire::sendQueued(endpoint); });
        runPumpStep([&] {
            LoString spec;
            Tellwire::getSpecifier(endpoint, spec);
            if (!spec.isEmpty() && watch_->watch(view(userId_), view(spec)))
                watch_->taken(view(userId_), view(spec));
        });
    }
}

void TellwireThread::deleteEntryAt(int index)
{
    delete entries_.removeAt(index);
}

void TellwireThread::expireEntries()
{
    i64 now = nowSeconds();
    for (int i = entries_.count() - 1; i >= 0; --i) {
        PingData* entry = entries_.get(i);
        if (entry->expiry != 0 && entry->expiry <= now)
            deleteEntryAt(i);
    }
}

void TellwireThread::callIdleHandler()
{
    int status = findEntry(statusWord_);
    if (status < 0 || !is(entries_.get(status)->value, kIdle) || isOverdue(nowMillis()))
        return;
    MsgHandler* handler = getEntryHandler(idleEntry_);
    if (!handler)
        return;
    Message idle;
    idle.type.assign("Idle");
    try {
        handler->handle(Tellwire::kIdle, idle, nullptr);
    } catch (...) {
    }
}

bool TellwireThread::isOverdue(double now) const
{
    if (lastPump_ <= 0 || averagePump_ <= 0)
        return false;
    double since = now - lastPump_;
    if (since < 0)
        since = 0;
    return since > averagePump_ * 10.0;
}

int TellwireThread::findEntry(const LoString& name)
{
    ObjectLock guard(*this);
    for (int i = 0; i < entries_.count(); ++i)
        if (view(entries_.get(i)->name) == view(name))
            return i;
    return -1;
}

bool TellwireThread::setEntry(const LoString& name, const LoString& value)
{
    ObjectLock guard(*this);
    if (stop_ || name.isEmpty())
        return false;
    if (is(name, kStatus)) {
        double now = nowMillis();
        if (is(value, kPumping)) {
            double d = now - lastPump_;
            if (lastPump_ > 0 && d > 10.0) {
                if (averagePump_ == 0)
                    averagePump_ = d;
                else if (averagePump_ * 10.0 > d)
                    averagePump_ = (averagePump_ + d) * 0.5;
            }
            lastPump_ = now;
        } else if (is(value, kIdle)) {
            lastPump_ = now;
        }
    }
    int at = findEntry(name);
    if (at >= 0) {
        if (value.isEmpty())
            deleteEntryAt(at);
        else
            entries_.get(at)->value = value;
    } else if (!value.isEmpty()) {
        entries_.append(made(new PingData(name, value)));
    }
    return true;
}

bool TellwireThread::setEntryExpiry(const LoString& name, int seconds)
{
    ObjectLock guard(*this);
    int at = findEntry(name);
    if (at < 0)
        return false;
    entries_.get(at)->expiry = seconds == 0 ? 0 : nowSeconds() + seconds;
    return true;
}

bool TellwireThread::setEntryHandler(const LoString& name, MsgHandler* handler)
{
    ObjectLock guard(*this);
    if (stop_ || name.isEmpty()) {
        delete handler;  // taken, so never leaked
        return false;
    }
    int at = findEntry(name);
    if (at < 0) {
        entries_.append(made(new PingData(name, name)));
        at = entries_.count() - 1;
    }
    PingData* entry = entries_.get(at);
    if (entry->handler != handler)
        delete entry->handler;
    entry->handler = handler;
    return true;
}

MsgHandler* TellwireThread::getEntryHandler(const LoString& name)
{
    ObjectLock guard(*this);
    int at = findEntry(name);
    return at < 0 ? nullptr : entries_.get(at)->handler;
}

LoString TellwireThread::queryEntry(const LoString& name)
{
    ObjectLock guard(*this);
    int at = findEntry(name);
    if (at < 0)
        return LoString();
    const LoString& value = entries_.get(at)->value;
    if (is(name, kStatus) && is(value, kIdle) && isOverdue(nowMillis()))
        return LoString("BUSY");
    return value;
}

LoString TellwireThread::getMailboxName()
{
    ObjectLock guard(*this);
    return stream_ && stream_->isOpen() ? stream_->getName() : LoString();
}

double TellwireThread::getAveragePumpInterval()
{
    ObjectLock guard(*this);
    return averagePump_;
}

double TellwireThread::getLastPump()
{
    ObjectLock guard(*this);
    return lastPump_;
}

void TellwireThread::setPumpStatistics(double average, double last)
{
    ObjectLock guard(*this);
    averagePump_ = average;
    lastPump_ = last;
}

void TellwireThread::writeThreadDiagnostics(LoString& out, const char* prefix)
{
    ObjectLock guard(*this);
    LoString t(prefix);
    t += "/thread";
    appendDiagnosticsLine(out, t, "1", LoString("Thread"), getMailboxName());

    LoString path(t);
    path += "/avgpump";
    LoString value;
    value += averagePump_;
    value += "ms";
    appendDiagnosticsLine(out, path, "0", LoString("Avg. pump interval"), value);

    double since = nowMillis() - lastPump_;
    path = t;
    path += "/lastpump";
    value.assign("");
    value += since < 0 ? 0.0 : since;
    value += "ms ago";
    appendDiagnosticsLine(out, path, "0", LoString("Last pump"), value);

    if (entries_.count() == 0)
        return;
    LoString g(t);
    g += "/ping";
    value.assign("");
    value += u32(entries_.count());
    appendDiagnosticsLine(out, g, "1", LoString("Ping"), value);
    i64 now = nowSeconds();
    for (int i = 0; i < entries_.count(); ++i) {
        const PingData* entry = entries_.get(i);
        LoString e(g);
        e += '/';
        e += entry->name;
        appendDiagnosticsLine(out, e, "1", entry->name, entry->value);
        path = e;
        path += "/timeout";
        if (entry->expiry < 1) {
            appendDiagnosticsLine(out, path, "0", LoString("Timeout"), LoString("undefined"));
        } else {
            i64 left = entry->expiry - now;
            value.assign("in ");
            value += u64(left < 0 ? 0 : left);
            value += "secs at ";
            LoString clock;
            TellwireUtils::formatTime(clock, &entry->expiry);
            value += clock;
            value += ';';  // the time stands in a field of its own
            appendDiagnosticsLine(out, path, "0", LoString("Timeout"), value);
        }
        path = e;
        path += "/msghandler";
        appendDiagnosticsLine(out, path, "0", LoString("Handler"), LoString(entry->handler ? "installed" : "undefined"));
    }
}

// ---- the set-up ---------------------------------------------------------------------

namespace {

// Written by the set-up (on its thread or the caller's) and read by the
// host's thread and the pump thread.
std::atomic<TellwireSetupThread*> setupThread{nullptr};
std::atomic<bool> setupRunning{false};
std::atomic<TellwireContext*> setupContext{nullptr};
std::atomic<bool> setupDone{false};
std::atomic<double> setupStart{0};
std::atomic<double> setupEnd{0};
std::atomic<double> firstUse{0};
// One caller at a time joins and deletes the set-up thread.
std::mutex setupJoin;
// The set-up itself asks for the context while it makes it; it must not
// wait for itself.
thread_local bool inSetup = false;

void markTime(std::atomic<double>& time)
{
    double zero = 0;
    time.compare_exchange_strong(zero, nowMillis());
}

void reportSetupTime()
{
    double end = setupEnd.load();
    TellwireContext* context = setupContext.load();
    if (end == 0 || !context)
        return;
    double start = setupStart.load();
    double first = firstUse.load();
    LoString text("thread=");
    text += end - start;
    text += "ms, ";
    if (first - end < 0 && first == 0) {
        text += "(synchronous setup)";
    } else if (first - end < 0) {
        text += "lost=";
        text += end - first;
        text += "ms";
    } else {
        text += "left=";
        text += first - end;
        text += "ms";
    }
    if (TellwireThread* thread = context->getPumpThread())
        thread->setEntry(LoString("SETUPTIME"), text);
}

void runSetup(const LoString& given, LoString& result)
{
    struct Marker {
        Marker() { inSetup = true; }
        ~Marker() { inSetup = false; }
    } marker;
    if (TellwireConnector* connector = getGlobalConnector())
        connector->getApplicationCount();
    Specifier spec(given.text(), true);
    if (spec.isEmpty()) {
        result.assign(TellwireUtils::statusWord(TellwireUtils::kInvalidSpec));
        return;
    }
    LoString parameters;
    getLaunchParameters(parameters);
    if (!parameters.isEmpty()) {
        LoVector<LoString> words;
        struct Owner {
            LoVector<LoString>& words;
            ~Owner()
            {
                for (int i = words.count() - 1; i >= 0; --i)
                    delete words.removeAt(i);
            }
        } owner{words};
        TellwireUtils::splitArguments(parameters.text(), words);
        for (int i = 0; i + 1 < words.count(); ++i) {
            if (is(*words.get(i), "-specifier")) {
                spec = Specifier(words.get(i + 1)->lowerCased().text(), false);
                break;
            }
            if (is(*words.get(i), "-instance")) {
                spec.setInstance(*words.get(i + 1));
                break;
            }
        }
    }
    TellwireContext* context = made(new TellwireContext(spec));
    setupContext.store(context);
    setCurrentContext(context);
    if (!parameters.isEmpty())
        if (TellwireThread* thread = context->getPumpThread())
            thread->setEntry(LoString("LAUNCHPARAMS"), parameters);
}

// The set-up with its times; a set-up that throws still records its end.
void timedSetup(const LoString& spec, LoString& result)
{
    markTime(setupStart);
    try {
        runSetup(spec, result);
    } catch (...) {
        setupDone.store(true);
        markTime(setupEnd);
        reportSetupTime();
        throw;
    }
    setupDone.store(true);
    markTime(setupEnd);
    reportSetupTime();
}

}  // namespace

TellwireSetupThread::TellwireSetupThread(const LoString& spec) : spec_(spec), finished_(false)
{
}

TellwireSetupThread::~TellwireSetupThread()
{
    TellwireSetupThread* self = this;
    setupThread.compare_exchange_strong(self, nullptr);
}

void TellwireSetupThread::run()
{
    ObjectLock guard(*this);
    struct Finish {
        TellwireSetupThread& thread;
        ~Finish()
        {
            thread.finished_ = true;
            setupRunning.store(false);
        }
    } finish{*this};
    timedSetup(spec_, result_);
}

bool TellwireSetupThread::isFinished()
{
    ObjectLock guard(*this);
    return finished_;
}

LoString TellwireSetupThread::getResult()
{
    ObjectLock guard(*this);
    return result_;
}

bool setupSynchronously(const LoString& spec)
{
    if (setupDone.load())
        return false;
    LoString result;
    timedSetup(spec, result);
    return result.isEmpty();
}

bool startSetupThread(const LoString& spec)
{
    if (setupDone.load() || setupThread.load())
        return false;
    TellwireSetupThread* thread = made(new TellwireSetupThread(spec));
    setupRunning.store(true);
    setupThread.store(thread);
    thread->start();
    if (thread->getError() != 0) {
        setupRunning.store(false);
        setupThread.store(nullptr);
        delete thread;
        return false;
    }
    return true;
}

bool isSetupRunning()
{
    return setupRunning.load();
}

bool waitForSetup()
{
    if (inSetup)
        return true;
    if (firstUse.load() == 0) {
        if (!setupDone.load() && !setupThread.load())
            return true;
        markTime(firstUse);
        reportSetupTime();
    }
    std::lock_guard<std::mutex> turn(setupJoin);
    TellwireSetupThread* thread = setupThread.load();
    if (!thread)
        return true;
    // The thread's own events exist once it runs; then it can be joined.
    while (!thread->isFinished() && !thread->isRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    thread->join();
    if (setupThread.load() == thread && thread->isFinished()) {
        setupThread.store(nullptr);
        delete thread;
    }
    return true;
}

void endSetupState()
{
    {
        std::lock_guard<std::mutex> turn(setupJoin);
        TellwireSetupThread* thread = setupThread.exchange(nullptr);
        if (thread) {
            thread->join();
            delete thread;
        }
    }
    setupRunning.store(false);
    setupDone.store(false);
    setupContext.store(nullptr);
    setupStart.store(0);
    setupEnd.store(0);
    firstUse.store(0);
}

void forgetSetupContext(TellwireContext* context)
{
    TellwireContext* expected = context;
    setupContext.compare_exchange_strong(expected, nullptr);
}

bool getLaunchParameters(LoString& out)
{
    out.assign("");
    for (const std::string& argument : Platform::commandLineArguments()) {
        if (!out.isEmpty())
            out += ' ';
        out.append(argument.data(), int(argument.size()));
    }
    return true;
}

bool queryOwnEntry(LoString& out, const LoString& specifier, const LoString& word)
{
    TellwireContext* context = getCurrentContext();
    if (!context || specifier.isEmpty())
        return false;
    LoString own;
    context->getContextSpecifier(own);
    Specifier target(specifier.text(), false);
    target.setEngine(LoString());
    if (own.isEmpty() || view(own) != view(target))
        return false;
    TellwireThread* thread = context->getPumpThread();
    out = thread ? thread->queryEntry(word) : LoString();
    if (out.isEmpty())
        out.assign(TellwireUtils::statusWord(TellwireUtils::kUndefined));
    return true;
}

}  // namespace LxObjects
