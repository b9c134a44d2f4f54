// Broadcasters: subscriptions by id, delivery that survives changes made by
// the listeners it calls, and the deletion notice.
#include "core/Broadcaster.h"

#include <cstdint>

namespace LxCore {

namespace {

ListenerList* listAt(void* value) { return static_cast<ListenerList*>(value); }

i64 keyOf(const Listener* listener) { return i64(reinterpret_cast<intptr_t>(listener)); }

bool deleteList(i64, void** value, void*) {
    delete listAt(*value);
    return false;
}

bool deleteIfEmpty(i64, void** value, void*) {
    if (listAt(*value)->getCount() > 0)
        return true;
    return deleteList(0, value, nullptr);
}

struct Removal {
    BroadcasterData* data;
    Listener* listener;
};

}  // namespace

// One delivery, under the data's lock. The last one to end tidies up what
// the listeners left: the data of a destroyed broadcaster, or empty lists.
class BroadcasterData::Delivery {
public:
    explicit Delivery(BroadcasterData& d) : data(d) {
        data.lock();
        data.deliveries++;
    }
    ~Delivery() {
        bool last = --data.deliveries == 0;
        data.unlock();
        if (!last)
            return;
        if (data.orphaned) {
            delete &data;
        } else if (data.emptyListsLeft) {
            data.emptyListsLeft = false;
            data.byId.forEach(deleteIfEmpty, nullptr);
        }
    }
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

private:
    BroadcasterData& data;
};

// ---------------------------------------------------------------------------
// BroadcasterData

BroadcasterData::BroadcasterData() {
    if (*getGlobalLockTable())
        makeLock();
}

BroadcasterData::~BroadcasterData() { byId.forEach(deleteList, nullptr); }

ListenerList* BroadcasterData::listFor(u32 id) {
    if (ListenerList* list = listAt(byId.get(id)))
        return list;
    auto* list = new ListenerList;
    try {
        byId.put(id, list);
    } catch (...) {
        delete list;
        throw;
    }
    return list;
}

bool BroadcasterData::removeFrom(ListenerList& list, Listener* listener) {
    i32 at = list.find(listener);
    if (at < 0)
        return false;
    list.removeAt(at);
    removals++;
    return true;
}

bool BroadcasterData::removeFromIdList(i64 id, void** value, void* context) {
    auto& removal = *static_cast<Removal*>(context);
    BroadcasterData& data = *removal.data;
    ListenerList* list = listAt(*value);
    while (data.removeFrom(*list, removal.listener))
        if (Broadcaster::isDeletionId(u32(id)))
            data.deletionCount--;
    if (list->getCount() > 0)
        return true;
    if (data.deliveries > 0) {      // a delivery may be walking it
        data.emptyListsLeft = true;
        return true;
    }
    return deleteList(id, value, nullptr);
}

void BroadcasterData::removeListenerEverywhere(Listener* listener) {
    Removal removal{this, listener};
    byId.forEach(removeFromIdList, &removal);
    removeFrom(allIds, listener);
}

// ---------------------------------------------------------------------------
// Subscriptions

void Broadcaster::addListener(Listener* listener, u32 id) {
    if (!listener)
        return;
    if (!data) {
        GlobalLockGuard guard(kBroadcasterLock);
        if (!data)
            data = new BroadcasterData;
    }
    LockableGuard lock(*data);
    ListenerList* list;
    if (id == kAllIds) {
        data->removeListenerEverywhere(listener);
        list = &data->allIds;
    } else {
        list = data->listFor(id);
    }
    if (list->find(listener) >= 0)
        return;
    list->add(listener);
    if (isDeletionId(id))
        data->deletionCount++;
}

void Broadcaster::removeListener(Listener* listener, u32 id) {
    if (!data || !listener)
        return;
    LockableGuard lock(*data);
    if (id == kAllIds) {
        data->removeListenerEverywhere(listener);
        return;
    }
    ListenerList* list = listAt(data->byId.get(id));
    if (list && data->removeFrom(*list, listener) && isDeletionId(id))
        data->deletionCount--;
}

bool Broadcaster::hasListeners(u32 id) const {
    if (!data)
        return false;
    LockableGuard lock(*data);
    if (data->allIds.getCount() > 0)
        return true;
    ListenerList* list = listAt(data->byId.get(id));
    return list && list->getCount() > 0;
}

// ---------------------------------------------------------------------------
// Delivery

bool Broadcaster::broadcast(u32 id) {
    Message message(id);
    return send(message);
}

bool Broadcaster::send(Message& message) {
    if (!data)
        return false;
    Broadcaster* previous = message.sender;
    message.sender = this;
    try {
        bool handled = deliver(*data, message);
        message.sender = previous;
        return handled;
    } catch (...) {
        message.sender = previous;
        throw;
    }
}

bool Broadcaster::deliver(BroadcasterData& data, Message& message) {
    BroadcasterData::Delivery delivery(data);
    bool handled = false;
    ListenerList* list = listAt(data.byId.get(message.getId()));
    if (list && list->getCount() > 0) {
        handled = dispatch(data, *list, message);
        if (handled || data.orphaned)
            return handled;
    }
    if (data.allIds.getCount() > 0)
        handled = dispatch(data, data.allIds, message);
    return handled;
}

// Each listener is called at most once. After a call that removed anyone,
// the walk looks again from the front, passing over those already called,
// so that no listener is skipped wherever the removals were.
bool Broadcaster::dispatch(BroadcasterData& data, ListenerList& list, Message& message) {
    IntHashTable called;
    for (i32 i = 0; i < list.getCount(); i++) {
        Listener* listener = list.get(i);
        if (called.get(keyOf(listener)))
            continue;
        called.put(keyOf(listener), listener);
        u32 removals = data.removals;
        if (listener->onMessage(message))
            return true;
        if (data.orphaned)
            return false;
        if (data.removals != removals)
            i = -1;
    }
    return false;
}

Broadcaster::~Broadcaster() {
    BroadcasterData* d = data;
    if (!d)
        return;
    if (d->deletionCount > 0 || d->allIds.getCount() > 0) {
        // Each notice goes out even when a listener of the other throws.
        try {
            broadcast(kDeleting);
        } catch (...) {
        }
        try {
            broadcast(kDeleted);
        } catch (...) {
        }
    }
    data = nullptr;
    if (d->deliveries > 0)
        d->orphaned = true;     // the outermost delivery frees it
    else
        delete d;
}

}  // namespace LxCore
