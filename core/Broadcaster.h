// Notifications between parts that do not know each other: a broadcaster
// delivers messages, named by four-character codes, to the listeners
// subscribed to their id or to every id.
#pragma once
#include "core/HashTable.h"
#include "core/Heap.h"
#include "core/Listener.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxCore {

// The id of a four-character code, first character in the top byte:
// fourCharCode("DEL!") == 0x44454C21.
constexpr u32 fourCharCode(const char (&code)[5]) {
    return u32(u8(code[0])) << 24 | u32(u8(code[1])) << 16 | u32(u8(code[2])) << 8 |
           u32(u8(code[3]));
}

class Broadcaster;

class Message : public Root {
public:
    explicit Message(u32 id) : id(id) {}
    virtual ~Message() = default;
    virtual Variant* getData() { return nullptr; }     // none in a plain message

    u32 getId() const { return id; }
    // The broadcaster delivering the message; null outside a delivery.
    Broadcaster* getSender() const { return sender; }

private:
    Broadcaster* sender = nullptr;
    u32 id;

    friend class Broadcaster;
};

// A message with a value; the value starts undefined.
class DataMessage : public Message {
public:
    explicit DataMessage(u32 id) : Message(id) {}
    Variant* getData() override { return &data; }

private:
    Variant data;
};

using ListenerList = TSimpleArray<Listener>;

// What a broadcaster keeps once something subscribes. A list being walked by
// a delivery is never freed under it: lists left empty meanwhile, and the
// data of a broadcaster destroyed meanwhile, go when the last delivery ends.
class BroadcasterData : public Root, public Lockable {
public:
    BroadcasterData();          // its lock only while the global lock table exists
    ~BroadcasterData();         // the per-id lists with it
    BroadcasterData(const BroadcasterData&) = delete;
    BroadcasterData& operator=(const BroadcasterData&) = delete;

    ListenerList allIds;        // listeners of every id
    IntHashTable byId;          // id -> ListenerList made with new
    i32 deletionCount = 0;      // subscriptions to ids 'DEL' plus one character

    // Every occurrence from every per-id list, then the first one from the
    // all-ids list; per-id lists left empty are deleted.
    void removeListenerEverywhere(Listener* listener);

private:
    u32 deliveries = 0;         // deliveries running, nested ones included
    u32 removals = 0;           // changes a running walk must look back for
    bool orphaned = false;      // the broadcaster went during a delivery
    bool emptyListsLeft = false;

    class Delivery;

    ListenerList* listFor(u32 id);          // made and entered when missing
    bool removeFrom(ListenerList& list, Listener* listener);
    static bool removeFromIdList(i64 id, void** value, void* removal);

    friend class Broadcaster;
};

class Broadcaster {
public:
    static constexpr u32 kAllIds = fourCharCode("ALL!");
    static constexpr u32 kDeleting = fourCharCode("DELE");    // sent first by a dying broadcaster
    static constexpr u32 kDeleted = fourCharCode("DEL!");     // then this

    Broadcaster() = default;
    // A copy starts without listeners.
    Broadcaster(const Broadcaster&) {}
    Broadcaster& operator=(const Broadcaster&) { return *this; }
    // Sends 'DELE' and then 'DEL!' when anyone subscribed to a deletion id or
    // to every id; a listener's exception ends them quietly here.
    ~Broadcaster();

    // A null listener is ignored. 'ALL!' first cancels the listener's other
    // subscriptions. A listener is held once per id.
    void addListener(Listener* listener, u32 id);
    // 'ALL!' removes the listener everywhere; another id its first occurrence.
    void removeListener(Listener* listener, u32 id);
    bool hasListeners(u32 id) const;
    // Delivers a plain message of this id.
    bool broadcast(u32 id);
    // The listeners of the message's id first; the listeners of every id when
    // none of those handled it. The message names this broadcaster as its
    // sender meanwhile. Listeners may subscribe, unsubscribe and destroy the
    // broadcaster from inside onMessage; an exception they throw passes on.
    bool send(Message& message);

    // 'DEL' and one more character.
    static bool isDeletionId(u32 id) { return (id & 0xFFFFFF00) == (kDeleted & 0xFFFFFF00); }

private:
    BroadcasterData* data = nullptr;

    // Neither touches the broadcaster itself, which a listener may destroy.
    static bool deliver(BroadcasterData& data, Message& message);
    static bool dispatch(BroadcasterData& data, ListenerList& list, Message& message);
};

}  // namespace LxCore
