// The native object a script sees as an object: a class name, and members
// addressed by 32-bit ids that live in four places, asked in this order: its
// own member records, its class property table, its components (last attached
// first) and the listeners of its broadcaster. The process-wide class
// registry constructs objects by class name by cloning a registered factory.
#pragma once
#include "core/Array.h"
#include "core/Broadcaster.h"
#include "core/Error.h"
#include "core/HashTable.h"
#include "core/LiveBase.h"
#include "core/LiveProperty.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxCore {

class ClassInfo;
class LivePropertyManager;
struct LivePropertyInfo;

// Flag bits of a live object.
constexpr u32 kLiveDynamic = 0x01;          // own members may be added
constexpr u32 kLiveEnumeration = 0x04;      // an enumeration class, for the descriptions
constexpr u32 kLiveFactory = 0x08;          // a registered class's factory
constexpr u32 kLiveNotEnumerated = 0x10;    // its members do not enumerate in scripts
constexpr u32 kLiveBuiltIn = 0x20;
constexpr u32 kLiveHasOperators = 0x800000; // cache of hasOperators
constexpr u32 kLiveResetKeeps = 0xFF000003; // what reset leaves of the flags

// Marks an object busy with one kind of nested work for a scope, and counts
// how deep that work nests on the thread. A second entry on a busy object, or
// one past the depth limit, is refused; then nothing is marked or counted.
class ObjectBusy {
public:
    enum Work : u8 {
        kConverting = 1,        // valueOf and toString: at most 8 nested results
        kWritingBack = 2,       // updateContainer: 128 containers deep
        kPrinting = 4,          // array texts: 128 arrays deep
    };
    ObjectBusy(LiveObject& object, Work work);
    explicit ObjectBusy(Work work);     // the depth alone
    ~ObjectBusy();
    ObjectBusy(const ObjectBusy&) = delete;
    ObjectBusy& operator=(const ObjectBusy&) = delete;

    bool entered() const { return depth != nullptr; }
    bool tooDeep() const { return refusedDeep; }

private:
    LiveObject* object = nullptr;
    i32* depth = nullptr;
    Work work;
    bool refusedDeep = false;

    void enter(i32& counter);
};

// Private state of a live object: components, container, own members and the rest.
class LiveObjectData : public Root {
public:
    LiveObjectData() = default;
    LiveObjectData(const LiveObjectData&) = delete;
    LiveObjectData& operator=(const LiveObjectData&) = delete;

    TSimpleArray<LiveComponent> components;     // one reference each, in order of attachment
    LiveObject* container = nullptr;            // whose member holds this object; weak
    i32 containerId = 0;
    LiveProperty* first = nullptr;              // own members in creation order
    LiveProperty* last = nullptr;
    u32 nextOrder = 0;                          // members ever added
    ClassInfo* classInfo = nullptr;             // one reference
    Variant* value = nullptr;                   // owned; made on first request
    Root* nativeData = nullptr;                 // owned
    i32 classId = 0;

    // Indexes beside the list. Names are unique as spelled; ids may repeat,
    // and of one id the member used most recently answers, as it would at
    // the front of a most-recently-used list.
    THashTable<LiveProperty, THashTableBase::hashAll> byName;
    IntHashTable byId;                          // id -> a record; the others of the id follow sameId
    u64 useClock = 0;
};

class LiveObject : public LiveBase, public Broadcaster, public Listener {
public:
    // A null class name reads as "Object". Dynamic objects accept new members.
    LiveObject(const char* className, bool dynamic);
    ~LiveObject() override;

    // At 0 the object is deleted; objects that die while another dies are
    // deleted after it, one after the other, so long chains never nest.
    u32 release() override;

    // ' obj' the object, ' val' its value Variant (made on first request).
    void* getInterface(u32 code) override;
    const void* getInterface(u32 code) const override;
    // Both announce the change ('loIw', 'loRw') when it is one.
    void invalidate() override;
    void validate() override;

    // The record of a new own member; subclasses may make their own.
    virtual LiveProperty* createProperty(const String& name, i32 id, u32 flags);
    virtual i32 createObject(LiveObject*& out, const String& className, u32 clientMask);
    // The class's clone method (id 0x1ff00000) makes the copy, or a plain
    // dynamic object when there is none; then this object's state goes onto
    // it, and with deep its own members too.
    virtual i32 clone(LiveObject*& out, bool deep);
    virtual i32 initialize(const Array& args, Error* error);
    // An empty name becomes "Object" first.
    virtual const String& getClassName();
    virtual bool equals(const LiveObject& other) const;
    virtual void setNativeData(Root* data);
    virtual Root* getNativeData() const;
    virtual i32 addComponent(LiveComponent& component);
    virtual i32 removeComponent(LiveComponent& component);

    // Member access; every operation answers 45 on an invalid object.
    virtual i32 findProperty(const String& name, i32& id, u32& kind, u32 flags);
    // Adds with a fresh id, one no own member holds, written to *id when given.
    virtual i32 addProperty(const String& name, i32* id, u32 flags);
    virtual i32 addProperty(const String& name, i32 id, u32 flags);
    virtual i32 getPropertyName(i32 id, String& name, u32 flags);
    virtual void removeProperties(bool all);
    virtual bool hasOperators();
    virtual i32 removeProperty(i32 id);
    virtual void reset();
    virtual i32 getPropertyIDs(SimpleArray& ids, u32 flags);
    virtual u32 getPropertyKind(i32 id);
    virtual ClassInfo* getClassInfo();
    virtual i32 get(i32 id, Variant& result, Error* error);
    virtual i32 put(i32 id, const Variant& value, Error* error);
    virtual i32 call(i32 id, const Array& args, Variant& result, Error* error);
    virtual i32 invoke(LiveObject& target, i32 id, const Array& args, Variant& result,
                       Error* error);
    virtual void valueOf(Variant& result);
    virtual void toString(String& text);

    // Listens for its container's death.
    bool onMessage(Message& message) override;

    // Calls by name: the member must be callable (24 otherwise).
    i32 callMethod(const String& name, const Array& args, Variant& result, Error* error);
    i32 callMethod(const String& name, Variant& result, Error* error);
    i32 callMethod(i32 id, Variant& result);
    // The own member record of the id, or null; counts as a use.
    LiveProperty* getOwnProperty(i32 id) { return usable() ? ownById(id) : nullptr; }
    // The component, last attached first, that knows the member; null when none.
    LiveComponent* findComponentFor(i32 id, LiveComponent* exclude);

    // The object whose member `propertyId` holds this one; weak, and cleared
    // when the container dies.
    void setContainer(LiveObject* container, i32 propertyId);
    LiveObject* getContainer() const { return data ? data->container : nullptr; }
    // Writes this object into its container's member, so that it sees the new
    // state. 0 without a container.
    i32 updateContainer(Error* error);

    u32 getFlags() const { return flags; }
    i32 getClassId() const { return data ? data->classId : 0; }

    // The class registry. A class is constructible by name once a factory
    // object of it is registered; construction clones the factory deeply.
    static i32 registerClass(LiveObject& factory, u32 clientMask);
    static void unregisterClass(const String& className);
    // The factory when its client mask shares a bit with the one asked; no
    // reference is added.
    static LiveObject* findClass(const String& className, u32 clientMask);
    static i32 createInstance(LiveObject*& out, const String& className, u32 clientMask);
    // A built-in class's start: its member tables are made from the rows
    // and the factory makeFactory returns (it may read the tables) is
    // registered. Throws std::bad_alloc, and then leaves nothing made.
    static void registerBuiltInClass(const LivePropertyInfo* instanceRows, const LivePropertyInfo* classRows,
                                     LivePropertyManager*& instanceTable, LivePropertyManager*& classTable,
                                     LiveObject* (*makeFactory)(), u32 clientMask);

protected:
    LiveObjectData* data;       // null only when it could not be made
    u32 flags = 0;
    String className;

    void setClassId(i32 id) {
        if (data)
            data->classId = id;
    }
    bool usable() const { return data && valid; }
    void setValidity(bool nowValid);

private:
    u8 busy = 0;                        // conversions and write-backs under way

    friend class ObjectBusy;

    // Own members: lookups that count as a use, and changes of the list.
    LiveProperty* ownById(i32 id);
    LiveProperty* ownByName(const String& name, bool caseBlind);
    void touch(LiveProperty* record) { record->used = ++data->useClock; }
    void link(LiveProperty* record);
    void unlink(LiveProperty* record);
    i32 addOwn(const String& name, i32 id, u32 flags, LiveProperty** made);
    void copyStateTo(LiveObject& target, bool deep);
    i32 findPropertyIn(const String& name, i32& id, u32& kind, u32 flags);
    i32 getFrom(i32 id, Variant& result, Error* error);
    i32 putTo(i32 id, const Variant& value, Error* error);
    i32 invokeOn(LiveObject& target, i32 id, const Array& args, Variant& result, Error* error);
};

// Module start/end: at the end every registered class is released.
void initLiveObjectRegistry(bool start);

}  // namespace LxCore
