// The queues in which an endpoint keeps its incoming and outgoing messages,
// and the rules by which queued messages expire.
#pragma once
#include <list>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "objects/LoLock.h"
#include "objects/LoString.h"
#include "objects/LoVector.h"
#include "objects/Message.h"

namespace LxObjects {
namespace TellwireData {

// A message expires when its timeout has run out since its timestamp; a
// local watcher ("Ignore") without a timeout expires at once. A negative
// timeout, or a timeout without a timestamp, never runs out.
bool isExpired(const Tellwire::Message& message, i64 now);

// Messages oldest first. The queue owns what it holds; every operation holds
// the queue's lock. A queue with a name reports to the forwarding log.
// A backlog of any length drains at the same cost per message: the queue
// knows its next deliverable message, its next time-out and its watchers
// by serial number without walking the messages.
class MessageQueue : public LoLockable {
public:
    static constexpr i64 kDefaultTimeout = 600;

    MessageQueue();
    // Senders of messages still queued get their "Timeout" replies.
    ~MessageQueue() override;

    // Takes the message; a timestamp of 0 becomes now, a timeout of 0 the
    // default. A message without target or sender is deleted: false.
    bool enqueueMessage(Tellwire::Message* message);
    // The next deliverable message, which the caller then owns; null when
    // none. Expired messages met on the way are dropped, local watchers
    // move to the end.
    Tellwire::Message* sweepQueue();
    // Drops every expired message, notifying its sender.
    void expireMessages();
    // Drops the local time-out watchers of a serial number. Always false.
    bool removeLocalWatchers(u32 serial);

    void setName(const LoString& name);
    LoString getName() const;
    // The first message to target; it stays in the queue.
    Tellwire::Message* findMessageForTarget(const LoString& target) const;
    bool hasMessageForTarget(const LoString& target) const;
    bool isEmpty() const;
    int count() const;
    // The diagnostics lines of the "Log" messages for a path beginning with
    // "/log", of the others for any other path; returns how many.
    int writeDiagnostics(LoString& out, const LoString& path) const;

private:
    struct Entry;
    using Entries = std::list<Entry>;
    using Place = Entries::iterator;
    using Deadlines = std::multimap<i64, Place>;
    using Watchers = std::multimap<u32, Place>;
    using Expired = std::vector<Tellwire::Message*>;
    struct Entry {
        Tellwire::Message* message;
        std::string target;
        bool watcher;                           // a local watcher ("Ignore"): never taken
        Deadlines::iterator due;                // deadlines_.end() when it never expires
        Watchers::iterator serial;              // watchers only
        std::list<Place>::iterator deliverable;  // the others only
    };
    enum class Due { kNone, kOne, kSeveral };

    void notifyAndDelete(Expired& expired);
    void sweepOnce(Expired& expired, Tellwire::Message*& taken);
    // Both under the lock.
    void place(Tellwire::Message* message);
    Tellwire::Message* unplace(Place at);
    Due dueAt(i64 now) const;
    bool isDue(const Entry& e, i64 now) const;

    Entries messages_;
    std::list<Place> deliverables_;  // in queue order
    Deadlines deadlines_;
    Watchers watchers_;
    std::unordered_map<std::string, int> targets_;  // messages waiting per target
    LoString name_;
};

}  // namespace TellwireData
}  // namespace LxObjects
