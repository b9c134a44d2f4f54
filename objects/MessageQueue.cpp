#include "objects/MessageQueue.h"

#include <iterator>
#include <limits>
#include <new>
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

namespace {

constexpr i64 kNever = std::numeric_limits<i64>::max();
constexpr i64 kAlways = std::numeric_limits<i64>::min();

// The first time at which isExpired holds for m; kNever when none does.
i64 deadlineOf(const Message& m)
{
    if (m.timeout > 0 && m.timestamp > 0)
        return m.timestamp >= kNever - m.timeout ? kNever : m.timestamp + m.timeout;
    return m.timeout == 0 && view(m.type) == "Ignore" ? kAlways : kNever;
}

}  // namespace

MessageQueue::MessageQueue() = default;

MessageQueue::~MessageQueue()
{
    Expired left;
    {
        ObjectLock guard(*this);
        left.reserve(messages_.size());
        while (!messages_.empty())
            left.push_back(unplace(messages_.begin()));
    }
    notifyAndDelete(left);
}

// Senders are told outside the queue's lock: a reply may come back to this
// very queue, and a forwarding handler may send on its own.
void MessageQueue::notifyAndDelete(Expired& expired)
{
    LoString name = getName();
    for (Message* m : expired) {
        std::unique_ptr<Message> owned(m);
        notifySenderOfTimeout(*owned, kReason, name);
    }
}

// Out of memory half-way, the message is in none of the indexes.
void MessageQueue::place(Message* m)
{
    Place at = messages_.insert(messages_.end(), Entry{m, std::string(view(m->target)), view(m->type) == "Ignore",
                                                       deadlines_.end(), watchers_.end(), deliverables_.end()});
    Entry& e = *at;
    try {
        const i64 deadline = deadlineOf(*m);
        if (deadline != kNever)
            e.due = deadlines_.emplace(deadline, at);
        if (e.watcher)
            e.serial = watchers_.emplace(m->serialNumber, at);
        else
            e.deliverable = deliverables_.insert(deliverables_.end(), at);
        ++targets_[e.target];
    } catch (...) {
        if (e.due != deadlines_.end())
            deadlines_.erase(e.due);
        if (e.serial != watchers_.end())
            watchers_.erase(e.serial);
        if (e.deliverable != deliverables_.end())
            deliverables_.erase(e.deliverable);
        messages_.erase(at);
        throw;
    }
}

Message* MessageQueue::unplace(Place at)
{
    Entry& e = *at;
    auto target = targets_.find(e.target);
    if (target != targets_.end() && --target->second == 0)
        targets_.erase(target);
    if (e.due != deadlines_.end())
        deadlines_.erase(e.due);
    if (e.watcher)
        watchers_.erase(e.serial);
    else
        deliverables_.erase(e.deliverable);
    Message* m = e.message;
    messages_.erase(at);
    return m;
}

// The rule of isExpired, as the message was when it came: the walks and the
// index always agree.
bool MessageQueue::isDue(const Entry& e, i64 now) const
{
    return e.due != deadlines_.end() && e.due->first <= now;
}

MessageQueue::Due MessageQueue::dueAt(i64 now) const
{
    auto first = deadlines_.begin();
    if (first == deadlines_.end() || first->first > now)
        return Due::kNone;
    auto second = std::next(first);
    return second == deadlines_.end() || second->first > now ? Due::kOne : Due::kSeveral;
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
    // Deleted on every way out until it is in place, reporting that runs
    // out of memory included.
    std::unique_ptr<Message> owned(m);
    if (m->timestamp == 0)
        m->timestamp = LxObjects::now();
    if (m->timeout == 0)
        m->timeout = kDefaultTimeout;
    // Reported before it is in the queue, where others may see it.
    LoString name = getName();
    if (!name.isEmpty() && view(m->type) != "Debug")
        forwardMessageLog(*m, kForwardKind, name, "added");
    try {
        ObjectLock guard(*this);
        place(m);
    } catch (const std::bad_alloc&) {
        return false;  // dropped, as a message the queue cannot hold
    }
    owned.release();
    return true;
}

Message* MessageQueue::sweepQueue()
{
    Message* taken = nullptr;
    // A sender told of an expiry may answer into this very queue; its reply
    // is looked for again.
    for (bool again = true; again;) {
        Expired expired;
        sweepOnce(expired, taken);
        again = !taken && !expired.empty();
        notifyAndDelete(expired);
    }
    LoString name = getName();
    if (taken && !name.isEmpty() && view(taken->type) != "Debug")
        forwardMessageLog(*taken, kForwardKind, name, "picked");
    return taken;
}

// Local watchers stay where they are while the front is searched; the ones
// passed then move to the end, in their order. With nothing expired, the
// ones before the first deliverable message are exactly those passed.
void MessageQueue::sweepOnce(Expired& expired, Message*& taken)
{
    ObjectLock guard(*this);
    const i64 now = LxObjects::now();
    if (dueAt(now) == Due::kNone) {
        if (deliverables_.empty())
            return;  // only watchers: passing them all leaves them as they are
        Place first = deliverables_.front();
        messages_.splice(messages_.end(), messages_, messages_.begin(), first);
        taken = unplace(first);
        return;
    }
    Place at = messages_.begin();
    while (!taken && at != messages_.end()) {
        Place next = std::next(at);
        if (isDue(*at, now))
            expired.push_back(unplace(at));
        else if (!at->watcher)
            taken = unplace(at);
        at = next;
    }
    messages_.splice(messages_.end(), messages_, messages_.begin(), at);
}

// From the last message to the first. The common passes find nothing due,
// or one message, without a walk.
void MessageQueue::expireMessages()
{
    Expired expired;
    {
        ObjectLock guard(*this);
        const i64 now = LxObjects::now();
        switch (dueAt(now)) {
        case Due::kNone:
            break;
        case Due::kOne:
            expired.push_back(unplace(deadlines_.begin()->second));
            break;
        case Due::kSeveral:
            for (Place at = messages_.end(); at != messages_.begin();) {
                Place here = std::prev(at);
                if (isDue(*here, now))
                    expired.push_back(unplace(here));
                else
                    at = here;
            }
            break;
        }
    }
    notifyAndDelete(expired);
}

bool MessageQueue::removeLocalWatchers(u32 serial)
{
    if (serial == Message::kUnset)
        return false;
    ObjectLock guard(*this);
    auto range = watchers_.equal_range(serial);
    for (auto it = range.first; it != range.second;) {
        Place at = it->second;
        ++it;
        const Message* m = at->message;
        if (m->timeout >= 1 && view(m->responseRequest) == "Timeout" && view(m->target) == view(m->sender))
            delete unplace(at);
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
    if (targets_.find(std::string(view(target))) == targets_.end())
        return nullptr;
    for (const Entry& e : messages_)
        if (view(e.message->target) == view(target))
            return e.message;
    return nullptr;
}

bool MessageQueue::hasMessageForTarget(const LoString& target) const
{
    ObjectLock guard(*this);
    return targets_.find(std::string(view(target))) != targets_.end();
}

bool MessageQueue::isEmpty() const
{
    return count() == 0;
}

int MessageQueue::count() const
{
    ObjectLock guard(*this);
    return int(messages_.size());
}

int MessageQueue::writeDiagnostics(LoString& out, const LoString& path) const
{
    ObjectLock guard(*this);
    bool logs = view(path).substr(0, 4) == "/log";
    int listed = 0;
    for (const Entry& e : messages_) {
        const Message* m = e.message;
        if ((view(m->type) == "Log") != logs)
            continue;
        writeMessageDiagnostics(out, path, *m);
        ++listed;
    }
    return listed;
}

}  // namespace TellwireData
}  // namespace LxObjects
