#include "objects/MessageQueue.h"

#include <memory>
#include <string_view>

namespace LxObjects {
namespace TellwireData {

using Message = Tellwire::Message;

namespace {

std::string_view view(const LoString& s)
{
    return std::string_view(s.text(), size_t(s.length()));
}

const char kReason[] = "Timeout";
const char kForwardKind[] = "FWDMESSAGES";

}  // namespace

bool isExpired(const Message& m, i64 now)
{
    if (m.timeout > 0 && m.timestamp > 0)
        return now - m.timestamp >= m.timeout;  // both positive: no overflow
    return m.timeout == 0 && view(m.type) == "Ignore";
}

MessageQueue::MessageQueue() = default;

MessageQueue::~MessageQueue()
{
    LoVector<Message> left;
    {
        ObjectLock guard(*this);
        while (Message* m = messages_.removeAt(0))
            left.append(m);
    }
    notifyAndDelete(left);
}

// Senders are told outside the queue's lock: a reply may come back to this
// very queue, and a forwarding handler may send on its own.
void MessageQueue::notifyAndDelete(LoVector<Message>& expired)
{
    LoString name = getName();
    for (int i = 0; i < expired.count(); ++i) {
        std::unique_ptr<Message> owned(expired.get(i));
        notifySenderOfTimeout(*owned, kReason, name);
    }
}

bool MessageQueue::enqueueMessage(Message* m)
{
    if (!m)
        return false;
    if (m->target.isEmpty() || m->sender.isEmpty()) {
        // Nobody could ever take it out again.
        delete m;
        return false;
    }
    if (m->timestamp == 0)
        m->timestamp = LxObjects::now();
    if (m->timeout == 0)
        m->timeout = kDefaultTimeout;
    // Reported while the message is still the caller's alone.
    LoString name = getName();
    if (!name.isEmpty() && view(m->type) != "Debug")
        forwardMessageLog(*m, kForwardKind, name, "added");
    ObjectLock guard(*this);
    messages_.append(m);
    return true;
}

Message* MessageQueue::sweepQueue()
{
    Message* taken = nullptr;
    // A sender told of an expiry may answer into this very queue; its reply
    // is looked for again.
    for (bool again = true; again;) {
        LoVector<Message> expired;
        sweepOnce(expired, taken);
        again = !taken && expired.count() > 0;
        notifyAndDelete(expired);
    }
    LoString name = getName();
    if (taken && !name.isEmpty() && view(taken->type) != "Debug")
        forwardMessageLog(*taken, kForwardKind, name, "picked");
    return taken;
}

void MessageQueue::sweepOnce(LoVector<Message>& expired, Message*& taken)
{
    {
        ObjectLock guard(*this);
        i64 now = LxObjects::now();
        // Local watchers stay where they are while the front is searched;
        // the ones passed then move to the end, in their order.
        int passed = 0;
        while (!taken && passed < messages_.count()) {
            Message* m = messages_.get(passed);
            if (isExpired(*m, now))
                expired.append(messages_.removeAt(passed));
            else if (view(m->type) == "Ignore")
                ++passed;
            else
                taken = messages_.removeAt(passed);
        }
        for (int i = 0; i < passed; ++i)
            messages_.append(messages_.removeAt(0));
    }
}

void MessageQueue::expireMessages()
{
    LoVector<Message> expired;
    {
        ObjectLock guard(*this);
        i64 now = LxObjects::now();
        for (int i = messages_.count() - 1; i >= 0; --i) {
            Message* m = messages_.get(i);
            if (m && isExpired(*m, now))
                expired.append(messages_.removeAt(i));
        }
    }
    notifyAndDelete(expired);
}

bool MessageQueue::removeLocalWatchers(u32 serial)
{
    if (serial == Message::kUnset)
        return false;
    ObjectLock guard(*this);
    for (int i = messages_.count() - 1; i >= 0; --i) {
        Message* m = messages_.get(i);
        if (m->serialNumber == serial && m->timeout >= 1 && view(m->type) == "Ignore"
            && view(m->responseRequest) == "Timeout" && view(m->target) == view(m->sender)) {
            delete messages_.removeAt(i);
        }
    }
    return false;
}

void MessageQueue::setName(const LoString& name)
{
    ObjectLock guard(*this);
    name_ = name;
}

LoString MessageQueue::getName() const
{
    ObjectLock guard(*this);
    return name_;
}

Message* MessageQueue::findMessageForTarget(const LoString& target) const
{
    ObjectLock guard(*this);
    for (int i = 0; i < messages_.count(); ++i)
        if (view(messages_.get(i)->target) == view(target))
            return messages_.get(i);
    return nullptr;
}

bool MessageQueue::isEmpty() const
{
    return count() == 0;
}

int MessageQueue::count() const
{
    ObjectLock guard(*this);
    return messages_.count();
}

int MessageQueue::writeDiagnostics(LoString& out, const LoString& path) const
{
    ObjectLock guard(*this);
    bool logs = view(path).substr(0, 4) == "/log";
    int listed = 0;
    for (int i = 0; i < messages_.count(); ++i) {
        const Message* m = messages_.get(i);
        if ((view(m->type) == "Log") != logs)
            continue;
        writeMessageDiagnostics(out, path, *m);
        ++listed;
    }
    return listed;
}

}  // namespace TellwireData
}  // namespace LxObjects
