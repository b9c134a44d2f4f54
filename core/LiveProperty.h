// The record of one own member of a live object, and the requests a live
// object sends its listeners when they serve a member or an item.
#pragma once
#include "core/Array.h"
#include "core/Broadcaster.h"
#include "core/Error.h"
#include "core/Heap.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxCore {

class LiveObject;

// Flag bits of own member records beyond those of property tables.
constexpr u32 kMemberListedReadOnly = 0x10;     // listed as read-only (request bit 30)
constexpr u32 kMemberWritableOnce = 0x200000;   // cleared by the first write
constexpr u32 kMemberByListeners = 0x400000;    // get, put and call go to listeners

// Requests of live objects to their listeners.
constexpr u32 kMsgFindMember = fourCharCode("loGi");
constexpr u32 kMsgGet = fourCharCode("loGe");
constexpr u32 kMsgPut = fourCharCode("loPu");
constexpr u32 kMsgCall = fourCharCode("loCa");
constexpr u32 kMsgEnumerate = fourCharCode("loEn");
constexpr u32 kMsgGetLength = fourCharCode("loLG");
constexpr u32 kMsgSetLength = fourCharCode("loLS");
constexpr u32 kMsgGetItem = fourCharCode("loIg");
constexpr u32 kMsgPutItem = fourCharCode("loIp");
constexpr u32 kMsgRemoveItem = fourCharCode("loIt");
// Plain notices.
constexpr u32 kMsgInvalidated = fourCharCode("loIw");
constexpr u32 kMsgValidated = fourCharCode("loRw");

class LiveProperty : public Root {
public:
    // A kind of 0 becomes 2; kind bit 0 set makes the record writable once.
    LiveProperty(LiveObject& owner, const String& name, i32 id, u32 flags);
    // Every field but the links and the time of use.
    LiveProperty(const LiveProperty& other);
    LiveProperty& operator=(const LiveProperty&) = delete;
    virtual ~LiveProperty() = default;

    virtual bool equals(const LiveProperty& other) const;   // strict equality of the values
    virtual i32 compare(const LiveProperty& other) const;
    virtual i32 get(Variant& result);
    // 46 once a record with kind bit 0 was written.
    virtual i32 put(const Variant& value);
    // A record holds no code: 24.
    virtual i32 call(const Array& args, Variant& result);

    u32 getKind() const { return flags & 15; }

    LiveObject* owner;
    LiveProperty* next = nullptr;       // the owner's list, in creation order
    LiveProperty* previous = nullptr;
    LiveProperty* sameId = nullptr;     // another record of the same id
    u64 used = 0;                       // when it was last looked up: the newest is in front
    String name;
    i32 order = 0;
    Variant value;
    u32 word1 = 0;              // carried along with the record
    i32 id;
    u32 flags;
    u32 word2 = 1;              // carried along with the record
};

// A request to the listeners of a live object; the listener fills in its
// answer (the data Variant, the id) and its status.
class LiveMessage : public DataMessage {
public:
    // An enumeration request over a list of ids ('loEn').
    LiveMessage(LiveObject& object, u32 code, SimpleArray* ids);
    // A call ('loCa'): the arguments are shared with the caller's.
    LiveMessage(LiveObject& target, u32 code, i32 id, const Array& args, Error* error);
    // Every other request.
    LiveMessage(LiveObject& object, u32 code, i32 id, Error* error);

    LiveObject* object;
    i32 id = 0;
    Array args;
    u32 requestFlags = 0x10000;
    SimpleArray* ids = nullptr;
    Error* error = nullptr;
    i32 status = 0;
};

}  // namespace LxCore
