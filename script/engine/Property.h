// Property slots: one per property of a script object. A plain slot holds
// its value; a RefProperty aliases a local slot of an activation, a
// DispatcherProperty reaches a native member through a class table, and a
// LiveObjectProperty a property of the object's live object. The slot also
// carries the attributes, the watch state and the debugger's watchpoint.
#pragma once
#include "script/engine/Dispatcher.h"
#include "script/engine/DispatcherFlags.h"
#include "script/engine/Object.h"

namespace LxScript {

// Attribute bits of a slot: the low 15 are its row's flags (DispatcherFlags.h),
// these above them are the slot's own.
constexpr u32 kFetched = 0x10000;             // value fetched; live-object slot
constexpr u32 kWatched = 0x20000;
constexpr u32 kWatchpoint = 0x40000;          // the debugger is entered after each write
constexpr u32 kCollectionElement = 0x200000;
constexpr u32 kSurvivesInvalidateAll = 0x400000;
constexpr u32 kWriteThrough = 0x1000000;      // inherited, yet receives writes
constexpr u32 kNativeBacked = 0x2000000;
constexpr u32 kRemoved = 0x4000000;
constexpr u32 kBuiltIn = 0x8000000;
constexpr u32 kRefreshId = 0x10000000;        // look the live-object id up again by name
constexpr u32 kReResolve = 0x20000000;        // class object of the global object: ask the callback again

constexpr u32 kStateCreated = 1;
constexpr u32 kStateWritten = 2;              // written or revived
constexpr u32 kStateRemoved = 3;

class Property : public LxCore::Root {
public:
    enum Kind : u8 { kPlain, kRef, kDispatcher, kLive };

    Property(Object* owner, DataPoolId symbol, const Variant& value, u32 attributes);
    Property(Object* owner, DataPoolId symbol, u32 attributes);
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;

    static void* operator new(size_t size) { return ObjectHeap::alloc(size); }
    static void operator delete(void* p, size_t size) { ObjectHeap::free(p, size); }

    virtual ~Property();
    virtual Dispatcher* getDispatcher() const;
    virtual LxCore::ServiceInfo* getServiceInfo();
    // The value as read through `object`; null when there is none (reads
    // as undefined). flags 0x20: the caller wants something to call.
    virtual Variant* get(Object* object, u32 flags);
    virtual void put(Object* object, const Variant& value);
    virtual void mark();
    virtual bool clear(bool final);
    virtual bool isDispatcher() const;

    void getWatchpointInfo(Variant& object, u32& symbolOut, Variant& valueOut);

    bool isRemoved() const { return (attributes & kRemoved) != 0; }
    bool isReadOnly() const { return (attributes & kReadOnly) != 0; }
    bool isMethod() const { return (attributes & kMethod) != 0; }
    // A method, or a plain slot without attributes holding a function.
    bool isMethodLike() const;
    Kind getKind() const { return kind; }
    Object* getOwner() const { return owner; }
    DataPoolId getSymbol() const { return symbol; }
    u32 getAttributes() const { return attributes; }
    void setAttributes(u32 a) { attributes = a; }
    void addAttributes(u32 a) { attributes |= a; }
    void removeAttributes(u32 a) { attributes &= ~a; }
    // The change the debugger reports next: kState*, or 0 for none.
    u32 getState();
    // The debugger has reported the slot as it is now.
    void resetState();
    u32 getOrdinal() const { return ordinal; }
    // The stored (cached) value, whatever the slot's kind.
    Variant& cachedValue() { return value; }

protected:
    Property(Object* owner, DataPoolId symbol, u32 attributes, Kind kind);
    // The write steps every kind shares: read-only, watch handler, store,
    // watchpoint, state.
    void storeValue(Object* object, const Variant& value);
    virtual void write(Object* object, const Variant& value);
    void enterWatchpoint();

    Variant value;
    DataPoolId symbol;
    Object* owner;
    u32 attributes;
    u32 state = kStateCreated;
    Property* next = nullptr;       // the retired list
    u32 ordinal = 0;
    Kind kind;

    friend class Object;
};

// Aliases local slot `slot` of the owner's activation. The running code
// writes the local through the activation's slot, not through this
// property, so a change shows against the value the debugger last reported.
class RefProperty : public Property {
public:
    RefProperty(Object* owner, u32 slot, DataPoolId symbol, u32 attributes);

    Variant* get(Object* object, u32 flags) override;
    void mark() override;
    bool clear(bool final) override;
    u32 getSlot() const { return slot; }
    bool differsFromReported();
    void noteReported();

protected:
    void write(Object* object, const Variant& value) override;

private:
    u32 slot;
    Variant reported;
};

// A native member of a class table, read and written through handlers.
class DispatcherProperty : public Property {
public:
    DispatcherProperty(Object* owner, Dispatcher* dispatcher, const PropEntryCopy& entry,
                       DataPoolId symbol);

    Dispatcher* getDispatcher() const override;
    LxCore::ServiceInfo* getServiceInfo() override;
    Variant* get(Object* object, u32 flags) override;
    void mark() override;
    bool clear(bool final) override;
    bool isDispatcher() const override { return true; }
    const PropEntryCopy& getEntry() const { return entry; }

protected:
    void write(Object* object, const Variant& value) override;

private:
    // Runs the getter, setter or probe of the row with a fresh record.
    void runNative(Object* object, u32 mode, const Variant* argument, Variant& result);

    PropEntryCopy entry;
    Dispatcher* dispatcher;
};

// A property of the owner's live object, addressed by id.
class LiveObjectProperty : public Property {
public:
    LiveObjectProperty(Object* owner, LxCore::LiveObject* live, DataPoolId symbol, i32 id,
                       i32 liveKind);
    // A collection element: the id is the index.
    LiveObjectProperty(Object* owner, LxCore::LiveObject* live, DataPoolId symbol, u32 index);

    LxCore::ServiceInfo* getServiceInfo() override;
    Variant* get(Object* object, u32 flags) override;
    bool clear(bool final) override;
    i32 getID() const { return id; }
    i32 getLiveKind() const { return liveKind; }

protected:
    void write(Object* object, const Variant& value) override;

private:
    void addLiveFlags();
    bool refuse(Object* object);
    bool refresh();

    LxCore::LiveObject* live;       // not counted
    i32 id;
    i32 liveKind;
};

// Whether a cell holds a slot that is not removed.
inline bool cellIsLive(const SlotCell& c) { return c.isSlot() ? !c.slot->isRemoved() : c.isPresent(); }

template <class F>
void Object::forEachSlot(F&& f) const {
    forEachCell([&](DataPoolId, const SlotCell& c) {
        if (c.isSlot())
            f(c.slot);
    });
}

// Adopting a native result: the same script object comes back for the same
// native object; anything else is imported into the engine.
void adoptNativeResult(ObjectSpace& space, Object* previous, Variant& result);

// Arguments for native code: script objects wrapping a live object (functions
// aside) become the live object.
LxCore::Array toNativeArguments(const LxCore::BasicArray& args);
// A live object's failure as the engine's error: the list it filled, else its
// text for the code with the name.
void reportLiveError(Engine& engine, LxCore::LiveObject* live, i32 code, const LxCore::Error& error,
                     const LxCore::String& name);
// Member id of a live object as its class describes it (a new reference), or null.
LxCore::ServiceInfo* describeLiveMember(LxCore::LiveObject* live, i32 id);

}  // namespace LxScript
