// The endpoint: sending, reading, delivering and answering messages.
//
// Lock order (a lock is only taken while holding locks left of it):
//   pump thread -> mailbox reader -> endpoint -> endpoint's private data
//                -> queue -> message -> context
// The endpoint's destructor takes the pump thread's lock first, so that a
// running pump pass ends before the endpoint leaves its context and is
// freed; it then holds its own lock while it takes the context's. The
// context reads an endpoint's specifier and moves its context pointer
// without any endpoint lock (the one never changes, the other is atomic),
// so nothing takes an endpoint lock while holding the context's. The one
// exception is a context that deletes its endpoints while it is being
// destroyed: its pump thread has stopped by then, and no other thread can
// reach those endpoints.
// No handler runs and no application is launched while this file holds an
// endpoint, private-data or queue lock: locks are held only for the span
// of reading or changing the fields they guard.
#include "objects/Tellwire.h"

#include <cstdint>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <thread>

#include "objects/Connector.h"
#include "objects/InterAppStream.h"
#include "objects/LoVector.h"
#include "objects/Message.h"
#include "objects/MessageQueue.h"
#include "objects/PumpStep.h"
#include "objects/Specifier.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireThread.h"

namespace LxObjects {

using Message = Tellwire::Message;
using MsgHandler = Tellwire::MsgHandler;
using Specifier = Tellwire::Specifier;

namespace TellwireData {

class PrivateData : public LoLockable {
public:
    PrivateData() = default;
    // Under the lock the stream and the handlers go; the queues after it,
    // since they notify the senders of what they still hold.
    ~PrivateData() override
    {
        {
            ObjectLock guard(*this);
            delete stream;
            stream = nullptr;
            for (int i = handlers.count() - 1; i >= 0; --i)
                delete handlers.removeAt(i);
        }
        delete incoming;
        delete outgoing;
    }

    // Set at construction; a merge of contexts moves it on.
    std::atomic<TellwireContext*> context{nullptr};  // null: the current one
    // These two never change after construction, so they are read
    // without the lock; the stream has a lock of its own.
    InterAppStream* stream = nullptr;
    LoString specifier;  // the stream's name; empty without one
    // The pump thread and the host both read the mailbox: one reader at a
    // time, so each text is on the queue before the next is read and
    // messages keep the order they were sent in. The "mailbox reader" of
    // the lock order; nothing under it waits for a reply or reads again.
    std::mutex reading;
    MessageQueue* incoming = new MessageQueue;
    MessageQueue* outgoing = new MessageQueue;
    LoVector<MsgHandler> handlers;
};

}  // namespace TellwireData

using TellwireData::MessageQueue;
using TellwireData::PrivateData;

namespace {

using std::string_view;

// The core's numbers for a handler that ran out of memory or threw.
constexpr i32 kOutOfMemory = -28;
constexpr i32 kUncaughtException = -29;

string_view view(const LoString& s)
{
    return string_view(s.text(), size_t(s.length()));
}

bool contains(const LoString& s, const char* part)
{
    return view(s).find(part) != string_view::npos;
}

bool equals(const LoString& a, const LoString& b)
{
    return view(a) == view(b);
}

LoString nameOf(MsgHandler* handler)
{
    LoString name;
    handler->getName(name);
    return name;
}

// The texts of the error replies that refused sends get, each naming its
// own reason, all with the same code.
constexpr i32 kRefusalCode = 59;
constexpr const char* kInvalidSpecifier = "ERROR: INVALID SPECIFIER";
constexpr const char* kNotStreamed = "ERROR: CAN'T STREAM MESSAGE TO STRING";
constexpr const char* kTooLarge = "ERROR: MESSAGE TOO LARGE";
constexpr const char* kNoMailbox = "ERROR: SENDER HAS NO MAILBOX";
constexpr const char* kQueuedBefore = "ERROR: EARLIER MESSAGES TO THE TARGET ARE QUEUED";
constexpr const char* kSuppressed = "ERROR: LAUNCHING IS SUPPRESSED";
constexpr const char* kNotWritten = "ERROR: MESSAGE COULD NOT BE WRITTEN";
constexpr const char* kNotLaunched = "ERROR: TARGET COULD NOT BE LAUNCHED";

// The context that an endpoint made itself when it initialised the
// facility; it is deleted with the last endpoint that leaves it.
std::atomic<TellwireContext*> endpointContext{nullptr};

// The current context without waiting for a running set-up.
TellwireContext* currentContextNow()
{
    return isSetupRunning() ? nullptr : getCurrentContext();
}

Message* newMessage()
{
    Message* m = new Message;
    if (!m)
        throw std::bad_alloc();
    return m;
}

Message* copyOf(const Message& message)
{
    Message* m = new Message(message);
    if (!m)
        throw std::bad_alloc();
    return m;
}

bool hasReplyField(const Message& m)
{
    return m.received != Message::kUnset || m.result != Message::kUnset || m.error != Message::kUnset;
}

// A "Tavrel" message with nothing in it carries nothing to send or deliver.
bool isEmptyTavrel(const Message& m)
{
    return view(m.type) == "Tavrel" && m.body.isEmpty() && !hasReplyField(m);
}

// The delivery kind of a message by its type.
int deliveryKind(const Message& m)
{
    struct Row {
        const char* type;
        int kind;
    };
    static const Row rows[] = {
        {"Received", Tellwire::kReceived}, {"Result", Tellwire::kResult}, {"Error", Tellwire::kError},
        {"Timeout", Tellwire::kTimeout},   {"Log", Tellwire::kLog},       {"Idle", Tellwire::kIdle},
    };
    string_view type = view(m.type);
    if (type == "Tavrel" || type == "Debug") {
        if (m.received != Message::kUnset)
            return Tellwire::kReceived;
        if (m.result != Message::kUnset)
            return Tellwire::kResult;
        if (m.error != Message::kUnset)
            return Tellwire::kError;
        return Tellwire::kNew;
    }
    for (const Row& r : rows)
        if (type == r.type)
            return r.kind;
    return Tellwire::kOther;
}

// The specifier rebuilt from its parts: name, "_" instance, "-" version,
// "-" locale, "#" engine, each when present.
LoString rebuild(const Specifier& spec)
{
    LoString part, out;
    spec.getName(out);
    struct {
        void (Specifier::*get)(LoString&) const;
        char lead;
    } parts[] = {
        {&Specifier::getInstance, '_'},
        {&Specifier::getVersion, '-'},
        {&Specifier::getLocale, '-'},
        {&Specifier::getEngine, '#'},
    };
    for (const auto& p : parts) {
        (spec.*p.get)(part);
        if (!part.isEmpty()) {
            out += p.lead;
            out += part;
        }
    }
    return out;
}

// Why a message that may not launch its target did not go out directly.
const char* unsentReason(PrivateData& d, const Specifier& target)
{
    if (!d.stream)
        return kNoMailbox;
    if (d.outgoing->hasMessageForTarget(target))
        return kQueuedBefore;
    // Nobody holds the target's mailbox: it is not running.
    if (d.stream->isNameFree(target))
        return kSuppressed;
    return kNotWritten;
}

// Plants the watcher that turns a missing reply into a "Timeout" reply.
void plantWatcher(PrivateData& d, const Message& m)
{
    if (!contains(m.responseRequest, "Timeout") || view(m.getHeader("TIMEOUT_DETECTOR")) == "TARGET")
        return;
    Message* watcher = newMessage();
    watcher->sender = m.sender;
    watcher->target = m.sender;
    watcher->type.assign("Ignore");
    watcher->responseRequest.assign("Timeout");
    watcher->serialNumber = m.serialNumber;
    // A timeout at the top of the range stays there instead of wrapping negative.
    watcher->timeout = m.timeout < 1 ? 60 : m.timeout == INT64_MAX ? INT64_MAX : m.timeout + 1;
    watcher->timestamp = now();
    d.incoming->enqueueMessage(watcher);
}

// The decimal time of a "QUEUESTAMP" header; a peer's text may hold
// anything there, so digits beyond any real time are not read.
i64 readStamp(const LoString& stamp)
{
    i64 value = 0;
    for (int i = 0; i < stamp.length() && value < (i64(1) << 40); ++i) {
        char c = stamp.text()[i];
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Sleeps in steps, so that the caller's polls stay cheap.
void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

void TellwireData::forgetEndpointContext()
{
    endpointContext.store(nullptr);
}

// -- Construction ------------------------------------------------------------------

InterAppStream* openInboundStream(const LoString& specifier)
{
    if (specifier.isEmpty())
        return nullptr;
    std::unique_ptr<InterAppStream> stream(new InterAppStream(specifier));
    if (stream->isOpen())
        return stream.release();
    Specifier spec(specifier.text(), false);
    LoString instance;
    spec.getInstance(instance);
    if (!instance.isEmpty())
        return nullptr;
    for (u32 n = 1; n <= 8; ++n) {
        LoString number;
        number += n;
        Specifier tried(spec);
        tried.setInstance(number);
        stream.reset(new InterAppStream(tried));
        if (stream->isOpen())
            return stream.release();
    }
    return nullptr;
}

Tellwire::Tellwire(const char* specifier, MsgHandler* handler, bool main, TellwireContext* context)
    : data_(nullptr)
{
    // Waits for a running set-up.
    TellwireContext* current = getCurrentContext();
    if (main && !context && !current) {
        LoString text(specifier ? specifier : "");
        if (tellwireInit(text, true)) {
            current = getCurrentContext();
            endpointContext.store(current);
        }
    }

    std::unique_ptr<PrivateData> d(new PrivateData);
    Specifier spec(specifier ? specifier : "", true);
    d->stream = openInboundStream(spec.isEmpty() ? LoString() : rebuild(spec));
    if (d->stream)
        d->specifier = d->stream->getName();
    d->context.store(context == current ? nullptr : context);

    LoString plain(d->specifier);
    if (!plain.isEmpty()) {
        Specifier s(plain.text(), false);
        s.setEngine(LoString());
        plain = s;
    }
    for (int i = 0; i < 2; ++i) {
        LoString name("/messages/");
        name += plain;
        name += '/';
        name += d->specifier;
        name += i == 0 ? "/in" : "/out";
        (i == 0 ? d->incoming : d->outgoing)->setName(name);
    }
    data_ = d.release();

    if (TellwireContext* ctx = context ? context : current) {
        ctx->addEndpoint(this);
        if (main)
            ctx->setMainEndpoint(this);
    }
    if (handler) {
        delete addMsgHandler(this, handler);
        handler->installed(this);
    }
}

Tellwire::Tellwire(const LoString& name) : data_(new PrivateData), detached_(true)
{
    data_->specifier = name;
}

Tellwire::~Tellwire()
{
    if (detached_) {
        delete data_;
        return;
    }
    TellwireContext* ctx = getContext(this);
    TellwireThread* thread = ctx ? ctx->getPumpThread() : nullptr;
    bool deleteContext = false;
    {
        // A running pump pass ends before the endpoint leaves its context.
        std::optional<ObjectLock> pass;
        if (thread)
            pass.emplace(*thread);
        ObjectLock guard(*this);
        if (ctx) {
            ObjectLock contextGuard(*ctx);
            if (ctx->getMainEndpoint() == this)
                ctx->setMainEndpoint(nullptr);
            ctx->removeEndpoint(this);
            // A context that is being destroyed is no longer current; it
            // deletes its endpoints itself and must not be deleted here.
            deleteContext = ctx == endpointContext.load() && ctx->getEndpointCount() == 0
                            && ctx == currentContextNow();
        }
    }
    delete data_;
    data_ = nullptr;
    // The facility this endpoint initialised ends with it, so that a later
    // init can set it up again.
    if (deleteContext) {
        endpointContext.store(nullptr);
        tellwireTerminate();
    }
}

void Tellwire::moveToContext(Tellwire* endpoint, TellwireContext* context)
{
    if (!endpoint || !endpoint->data_)
        return;
    endpoint->data_->context.store(context);
    TellwireContext* from = endpointContext.load();
    if (from && from != context)
        endpointContext.compare_exchange_strong(from, context);
}

// -- State --------------------------------------------------------------------------

void Tellwire::getSpecifier(const Tellwire* endpoint, LoString& out)
{
    if (!endpoint || !endpoint->data_) {
        out.assign("", 0);
        return;
    }
    out = endpoint->data_->specifier;
}

bool Tellwire::isWorking(const Tellwire* endpoint)
{
    if (!endpoint || !endpoint->data_)
        return false;
    return endpoint->data_->stream && endpoint->data_->stream->isOpen();
}

TellwireContext* Tellwire::getContext(const Tellwire* endpoint)
{
    if (!endpoint || !endpoint->data_)
        return nullptr;
    TellwireContext* ctx = endpoint->data_->context.load();
    return ctx ? ctx : currentContextNow();
}

int Tellwire::getIncomingCount(const Tellwire* endpoint)
{
    return endpoint && endpoint->data_ ? endpoint->data_->incoming->count() : 0;
}

int Tellwire::getOutgoingCount(const Tellwire* endpoint)
{
    return endpoint && endpoint->data_ ? endpoint->data_->outgoing->count() : 0;
}

// -- Handlers ---------------------------------------------------------------------

namespace {

// Under the private data's lock.
int findHandlerIndex(PrivateData& d, const LoString& name, u32 id)
{
    int fallback = -1;
    for (int i = d.handlers.count() - 1; i >= 0; --i) {
        MsgHandler* h = d.handlers.get(i);
        u32 hid = h->getID();
        if (name.isEmpty()) {
            if (hid == id)
                return i;
            continue;
        }
        if (!equals(nameOf(h), name))
            continue;
        if (hid == id)
            return i;
        if (hid == MsgHandler::kEveryMessage && fallback < 0)
            fallback = i;
    }
    return fallback;
}

// The handler of exactly that name and id; -1 when none.
int exactHandlerIndex(PrivateData& d, const LoString& name, u32 id)
{
    for (int i = d.handlers.count() - 1; i >= 0; --i) {
        MsgHandler* h = d.handlers.get(i);
        if (h->getID() == id && (name.isEmpty() || equals(nameOf(h), name)))
            return i;
    }
    return -1;
}

}  // namespace

MsgHandler* Tellwire::addMsgHandler(Tellwire* endpoint, MsgHandler* handler)
{
    if (!endpoint || !endpoint->data_ || !handler)
        return nullptr;
    PrivateData& d = *endpoint->data_;
    ObjectLock guard(d);
    for (int i = 0; i < d.handlers.count(); ++i)
        if (d.handlers.get(i) == handler)
            return nullptr;
    MsgHandler* replaced = nullptr;
    int found = exactHandlerIndex(d, nameOf(handler), handler->getID());
    if (found >= 0)
        replaced = d.handlers.removeAt(found);
    d.handlers.append(handler);
    return replaced;
}

MsgHandler* Tellwire::findMsgHandler(Tellwire* endpoint, const char* name, u32 id)
{
    if (!endpoint || !endpoint->data_)
        return nullptr;
    PrivateData& d = *endpoint->data_;
    ObjectLock guard(d);
    int i = findHandlerIndex(d, LoString(name ? name : ""), id);
    return i < 0 ? nullptr : d.handlers.get(i);
}

MsgHandler* Tellwire::removeMsgHandler(Tellwire* endpoint, const char* name, u32 id)
{
    if (!endpoint || !endpoint->data_)
        return nullptr;
    PrivateData& d = *endpoint->data_;
    ObjectLock guard(d);
    int i = exactHandlerIndex(d, LoString(name ? name : ""), id);
    return i < 0 ? nullptr : d.handlers.removeAt(i);
}

bool Tellwire::removeMsgHandlersForSerial(Tellwire* endpoint, u32 serial)
{
    if (!endpoint || !endpoint->data_ || serial == MsgHandler::kEveryMessage)
        return false;
    PrivateData& d = *endpoint->data_;
    LoVector<MsgHandler> removed;
    {
        ObjectLock guard(d);
        for (int i = d.handlers.count() - 1; i >= 0; --i)
            if (d.handlers.get(i)->getID() == serial)
                removed.append(d.handlers.removeAt(i));
    }
    for (int i = 0; i < removed.count(); ++i)
        delete removed.get(i);
    d.incoming->removeLocalWatchers(serial);
    return removed.count() > 0;
}

// -- Sending ----------------------------------------------------------------------

bool Tellwire::sendMessage(Tellwire* endpoint, Message& m, bool launch, u32 waitSeconds, LoString* launchParams)
{
    if (!endpoint || !endpoint->data_ || isEmptyTavrel(m))
        return false;
    PrivateData& d = *endpoint->data_;
    TellwireContext* ctx = getContext(endpoint);
    // Number and sender first, so that an error reply can name both.
    if (m.serialNumber == 0 && ctx)
        m.serialNumber = ctx->nextSerialNumber();
    if (m.sender.isEmpty())
        getSpecifier(endpoint, m.sender);

    Specifier target(m.target.text(), true);
    if (target.isEmpty())
        return sendErrorReply(endpoint, m, kInvalidSpecifier, kRefusalCode, waitSeconds);
    if (view(m.type) == "Timeout" && !equals(m.target, m.sender)
        && view(m.getHeader("TIMEOUT_DETECTOR")) == "SENDER")
        return false;
    m.target = target;
    m.timestamp = now();

    if (view(m.type) != "Ignore") {
        bool wanted = !m.responseRequest.isEmpty() || findMsgHandler(endpoint, "", m.serialNumber);
        if (wanted && !contains(m.responseRequest, "Processed") && view(m.type) != "Debug")
            m.responseRequest += " Processed";
    }

    LoString text;
    if (!serializeMessageWithDigest(m, text))
        return sendErrorReply(endpoint, m, kNotStreamed, kRefusalCode, waitSeconds);

    bool result = false;
    bool queued = false;
    Tellwire* local = ctx ? ctx->findEndpoint(target) : nullptr;
    // No mailbox takes it, now or later: refused at once, also when a
    // launch is allowed, rather than queued until it times out.
    if (!local && size_t(text.length()) > Platform::Mailbox::kMaxMessage)
        return sendErrorReply(endpoint, m, kTooLarge, kRefusalCode, waitSeconds);
    if (local) {
        // The acknowledgement is the sender's business: it goes to this
        // endpoint's own queue, ahead of the message.
        if (contains(m.responseRequest, "Received")) {
            Message* ack = copyOf(m);
            std::swap(ack->target, ack->sender);
            ack->responseRequest.assign("", 0);
            ack->timeout = 0;
            ack->type.assign("Received");
            ack->received = m.serialNumber;
            d.incoming->enqueueMessage(ack);
        }
        local->data_->incoming->enqueueMessage(copyOf(m));
        result = true;
    } else {
        InterAppStream* stream = d.stream;
        if (stream && !d.outgoing->hasMessageForTarget(target) && stream->send(target, text)) {
            result = true;
        } else if (!launch) {
            return sendErrorReply(endpoint, m, unsentReason(d, target), kRefusalCode, waitSeconds);
        } else {
            if (!isTargetRunning(target)) {
                const char* params = launchParams ? launchParams->text() : "";
                if (!launchTarget(target.text(), params, false, ctx))
                    return sendErrorReply(endpoint, m, kNotLaunched, kRefusalCode, waitSeconds);
            }
            d.outgoing->enqueueMessage(copyOf(m));
            queued = true;
            if (TellwireThread* thread = ctx ? ctx->getPumpThread() : nullptr)
                thread->nudge();
        }
    }

    // On every road: a reply that does not come becomes a "Timeout" reply.
    plantWatcher(d, m);

    if (waitSeconds != 0) {
        if (queued) {
            for (int i = 0; i < 3000 && !isTargetRunning(target); ++i)
                sleepMs(100);
        }
        result = waitForReply(endpoint, m, waitSeconds);
    }
    return result;
}

bool Tellwire::waitForReply(Tellwire* endpoint, const Message& message, u32 seconds)
{
    if (!endpoint || seconds == 0)
        return false;
    i64 start = now();
    while (now() < start + i64(seconds)) {
        tellwirePump(kPumpAll, nullptr);
        if (!findMsgHandler(endpoint, "", message.serialNumber))
            return true;
        sleepMs(100);
    }
    return false;
}

bool Tellwire::sendReply(Tellwire* endpoint, const Message& request, const char* replyType, Message* reply)
{
    if (!endpoint || !replyType || !contains(request.responseRequest, replyType))
        return false;
    std::unique_ptr<Message> made;
    if (!reply) {
        made.reset(newMessage());
        reply = made.get();
    }
    // A request that never got a sender came from this endpoint.
    reply->target = request.sender;
    if (reply->target.isEmpty())
        getSpecifier(endpoint, reply->target);
    reply->sender = request.target;
    if (reply->sender.isEmpty())
        getSpecifier(endpoint, reply->sender);
    reply->responseRequest.assign("", 0);
    reply->timeout = 0;
    if (!request.version.isEmpty()) {
        reply->serialNumber = request.serialNumber;
        reply->type.assign(replyType);
        if (isUserType(reply->type))
            reply->type += request.type;
    } else {
        reply->type = request.type;
        TellwireContext* ctx = getContext(endpoint);
        reply->serialNumber = ctx ? ctx->nextSerialNumber() : request.serialNumber;
    }
    return sendMessage(endpoint, *reply, false, 0, nullptr);
}

bool Tellwire::sendErrorReply(Tellwire* endpoint, const Message& request, const char* text, i32 code,
                              u32 waitSeconds)
{
    std::unique_ptr<Message> reply(newMessage());
    reply->error = request.serialNumber;
    reply->body.assign(text ? text : "");
    reply->addHeader("Error-Code", code);
    sendReply(endpoint, request, "Error", reply.get());
    if (waitSeconds != 0) {
        MsgHandler* waiting = findMsgHandler(endpoint, "Error", request.serialNumber);
        if (waiting && waiting->getID() == request.serialNumber)
            waitForReply(endpoint, request, waitSeconds);
    }
    return false;
}

// -- Receiving --------------------------------------------------------------------

namespace {

// Hands the message to its handler and sends the replies asked for.
void deliverIncoming(Tellwire* endpoint, const Message& message)
{
    Message copy(message);
    if (isEmptyTavrel(copy))
        return;
    MsgHandler* handler = Tellwire::findMsgHandler(endpoint, copy.type.text(), copy.serialNumber);
    if (!handler)
        handler = Tellwire::findMsgHandler(endpoint, "Tavrel", MsgHandler::kEveryMessage);
    if (!handler)
        return;
    int kind = deliveryKind(message);
    struct {
        const char* type;
        u32 Message::*field;
        u32 value;
    } folds[] = {
        {"Received", &Message::received, 2},
        {"Result", &Message::result, 3},
        {"Error", &Message::error, 4},
    };
    for (const auto& f : folds) {
        if (view(copy.type) == f.type) {
            copy.*f.field = f.value;
            copy.type.assign("Tavrel");
        }
    }

    LoString replyText;
    int result;
    const char* failure = nullptr;  // a handler that threw: the text of its error reply
    try {
        u32 id = handler->getID();
        result = handler->handle(kind, copy, &replyText);
        // A handler for this one number has done its work.
        if (message.serialNumber != MsgHandler::kEveryMessage && message.serialNumber == id)
            delete Tellwire::removeMsgHandler(endpoint, message.type.text(), message.serialNumber);
    } catch (const std::bad_alloc&) {
        // The answer needs room that the handler did not find.
        LxBase::MemoryReserve::release();
        result = kOutOfMemory;
        failure = "Out of memory";
    } catch (...) {
        result = kUncaughtException;
        failure = "Exception";
    }
    runPumpStep([&] {
        if (result == 0) {
            if (contains(copy.responseRequest, "Result")) {
                Message reply(copy);
                reply.result = copy.serialNumber;
                reply.body = replyText;
                Tellwire::sendReply(endpoint, copy, "Result", &reply);
            }
        } else if (contains(copy.responseRequest, "Error")) {
            Tellwire::sendErrorReply(endpoint, copy, failure ? failure : replyText.text(), result, 0);
        }
    });
}

// Reads one waiting mailbox text onto the incoming queue, acknowledging
// each message in it.
void readMailbox(Tellwire* endpoint, PrivateData& d, InterAppStream* stream)
{
    std::lock_guard<std::mutex> oneReader(d.reading);
    stream->readOne();
    while (!stream->isEmpty()) {
        LoString text;
        stream->takeReceived(text);
        int pos = 0;
        while (pos < text.length()) {
            std::unique_ptr<Message> m(newMessage());
            int used = parseMessage(*m, text.text() + pos, text.length() - pos);
            pos += used > 0 ? used : text.length() - pos;
            if (view(m->type) == "Ignore")
                continue;
            Message ack;
            ack.received = m->serialNumber;
            Tellwire::sendReply(endpoint, *m, "Received", &ack);
            d.incoming->enqueueMessage(m.release());
        }
    }
}

}  // namespace

bool Tellwire::processIncoming(Tellwire* endpoint, bool deliver)
{
    if (!endpoint || !endpoint->data_)
        return false;
    PrivateData& d = *endpoint->data_;
    d.incoming->expireMessages();
    InterAppStream* stream = d.stream;
    bool pending = stream && (!stream->isEmpty() || stream->hasMessage());
    if (!pending && d.incoming->isEmpty())
        return false;
    if (pending)
        readMailbox(endpoint, d, stream);
    if (!deliver || d.incoming->isEmpty())
        return false;

    std::unique_ptr<Message> m(d.incoming->sweepQueue());
    if (!m || m->target.isEmpty())
        return false;
    deliverIncoming(endpoint, *m);

    struct {
        const char* type;
        const char* word;
    } followUps[] = {
        {"Processed", "handled: Processed"},
        {"Error", "handled: error"},
        {"Timeout", "handled: time out"},
        {"Result", "handled: result"},
    };
    LoString queueName = d.incoming->getName();
    string_view type = view(m->type);
    bool done = false;
    for (const auto& f : followUps) {
        if (type == f.type) {
            removeMsgHandlersForSerial(endpoint, m->serialNumber);
            forwardMessageLog(*m, "FWDMESSAGES", queueName, f.word);
            done = true;
        }
    }
    if (!done && type != "Ignore") {
        sendReply(endpoint, *m, "Processed", nullptr);
        forwardMessageLog(*m, "FWDMESSAGES", queueName, "processed");
    }
    return true;
}

bool Tellwire::sendQueued(Tellwire* endpoint)
{
    if (!endpoint || !endpoint->data_)
        return false;
    PrivateData& d = *endpoint->data_;
    if (d.outgoing->isEmpty())
        return false;
    d.outgoing->expireMessages();
    InterAppStream* stream = d.stream;
    LoString queueName = d.outgoing->getName();
    // The targets that took nothing this pass and the messages that wait
    // for the next; put back on every way out, so that a failure (memory
    // running out) loses at most the message in hand.
    struct Leftovers {
        MessageQueue& queue;
        LoVector<LoString> failed;
        LoVector<Message> requeued;
        ~Leftovers()
        {
            for (int i = 0; i < failed.count(); ++i)
                delete failed.get(i);
            // The queue takes each message, or deletes one it cannot hold.
            for (int i = 0; i < requeued.count(); ++i) {
                try {
                    queue.enqueueMessage(requeued.get(i));
                } catch (...) {
                }
            }
        }
    } left{*d.outgoing, {}, {}};
    auto hasFailed = [&](const LoString& target) {
        for (int i = 0; i < left.failed.count(); ++i)
            if (equals(*left.failed.get(i), target))
                return true;
        return false;
    };
    while (Message* taken = d.outgoing->sweepQueue()) {
        std::unique_ptr<Message> m(taken);
        LoString text;
        if (!stream) {
            // Nothing can carry it: its sender hears so rather than nothing.
            notifySenderOfTimeout(*m, "Timeout", queueName);
            continue;
        }
        if (!serializeMessageWithDigest(*m, text)) {
            sendErrorReply(endpoint, *m, kNotStreamed, kRefusalCode, 0);
            continue;
        }
        if (!hasFailed(m->target)) {
            if (stream->send(m->target, text))
                continue;
            std::unique_ptr<LoString> target(new LoString(m->target));
            if (!target)
                throw std::bad_alloc();
            left.failed.append(target.get());
            target.release();
        }
        LoString stamp = m->getHeader("QUEUESTAMP");
        if (stamp.isEmpty()) {
            stamp += u64(m->timestamp < 0 ? 0 : m->timestamp);
            m->addHeader(LoString("QUEUESTAMP"), stamp);
        }
        i64 first = readStamp(stamp);
        i64 t = now();
        if (t >= first + 600) {
            m->timestamp = first;
            if (m->timeout < 1)
                m->timeout = 1;
            else if (m->timeout >= 600)
                m->timeout = 599;
        } else {
            m->timestamp = t;
        }
        left.requeued.append(m.get());
        m.release();
    }
    return false;
}

// -- What messages and queues ask of the main endpoint ------------------------------

namespace {

Tellwire* currentMainEndpoint()
{
    TellwireContext* ctx = currentContextNow();
    return ctx ? ctx->getMainEndpoint() : nullptr;
}

// The handler named kind for every message, of the main endpoint.
MsgHandler* findForwarder(Tellwire* main, const char* kind)
{
    MsgHandler* h = main ? Tellwire::findMsgHandler(main, kind, MsgHandler::kEveryMessage) : nullptr;
    return h && h->getID() == MsgHandler::kEveryMessage ? h : nullptr;
}

const MessageHooks mainEndpointHooks = {
    [](Message& message) {
        Tellwire* main = currentMainEndpoint();
        if (!main) {
            // Without a main endpoint a reply to an endpoint of this process
            // still reaches it.
            TellwireContext* ctx = currentContextNow();
            main = ctx ? ctx->findEndpoint(message.sender) : nullptr;
        }
        return main && Tellwire::sendMessage(main, message, false, 0, nullptr);
    },
    [](const char* kind) { return findForwarder(currentMainEndpoint(), kind) != nullptr; },
    [](const char* kind, Message& message) {
        if (MsgHandler* h = findForwarder(currentMainEndpoint(), kind))
            h->handle(Tellwire::kOther, message, nullptr);
    },
};

}  // namespace

const MessageHooks& endpointMessageHooks()
{
    return mainEndpointHooks;
}

// -- Diagnostics --------------------------------------------------------------------

void Tellwire::writeDiagnostics(const Tellwire* endpoint, LoString& out, const LoString& prefix)
{
    if (!endpoint || !endpoint->data_)
        return;
    PrivateData& d = *endpoint->data_;
    LoString s;
    getSpecifier(endpoint, s);
    LoString path(prefix);
    path += '/';
    path += s;
    TellwireContext* ctx = getContext(endpoint);
    out += path;
    out += ";1;";
    out += s;
    out += ';';
    if (ctx && ctx->getMainEndpoint() == endpoint)
        out += ctx == endpointContext.load() ? "(main, init() hasn't been called)" : "(main)";
    out += ";\n";

    struct {
        MessageQueue* queue;
        const char* suffix;
        const char* label;
    } queues[] = {{d.incoming, "/in", "Incoming"}, {d.outgoing, "/out", "Outgoing"}};
    for (const auto& q : queues) {
        LoString qpath(path);
        qpath += q.suffix;
        q.queue->writeDiagnostics(out, qpath);
        LoString count;
        count += u32(q.queue->count());
        appendDiagnosticsLine(out, qpath, "1", q.label, count);
    }

    LoString hpath(path);
    hpath += "/handler";
    ObjectLock guard(d);
    LoString count;
    count += u32(d.handlers.count());
    appendDiagnosticsLine(out, hpath, "1", "Handler", count);
    for (int i = 0; i < d.handlers.count(); ++i) {
        MsgHandler* h = d.handlers.get(i);
        LoString name = nameOf(h);
        out += hpath;
        out += '/';
        out += name;
        out += ";0;";
        out += name;
        out += ';';
        u32 id = h->getID();
        if (id == MsgHandler::kEveryMessage) {
            out += "for all messages;\n";
        } else {
            out += "for only msg #";
            out += id;
            out += ";\n";
        }
    }
}

}  // namespace LxObjects
