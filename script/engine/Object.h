// The script object: every value of script type "object" is one. Its own
// properties live in cells, one per slot, named by a slot table that objects
// built alike share (ObjectSlots.h); an array's elements live in a dense
// store of cells instead. A prototype link, a class id, an object id, two
// reference counts and an optional native side complete it. Each engine
// keeps all its objects on one ring, in an ObjectSpace.
//
// The virtual operations are what the kinds of object (arrays, functions,
// activations, arguments, E4X values) override; callers reach each by its
// name, so their order in the class carries nothing.
#pragma once
#include <algorithm>
#include <cstddef>
#include <exception>
#include <vector>

#include "core/Array.h"
#include "core/Broadcaster.h"
#include "core/Error.h"
#include "core/HashTable.h"
#include "core/Heap.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/ScriptObjectHooks.h"
#include "core/Variant.h"
#include "script/engine/Dispatcher.h"
#include "script/engine/Engine.h"
#include "script/engine/ObjectSlots.h"
#include "script/engine/Symbols.h"
#include "script/frontend/DataPool.h"

namespace LxCore {
class LiveMessage;
class LiveObject;
class ServiceInfo;
}  // namespace LxCore

namespace LxScript {

using LxCore::f64;
using LxCore::u8;
using LxCore::Variant;

class Dispatcher;
class Function;
struct PropEntryCopy;
class Object;
class ObjectData;
class ObjectSpace;
class Property;
class Script;
struct ReferrerIndex;

// Object ids with a meaning of their own; any other non-zero id registers the
// object under its class in the engine's reference table.
enum ObjectId : i32 {
    kGlobalObjectId = -1,
    kPrototypeId = -2,
    kArgumentsId = -9,
    kWorkspaceId = -10,
};

// The lookup word of findOwnProperty, findProperty and get.
constexpr u32 kFindRemoved = 0x10;        // removed slots count too
constexpr u32 kFindCallable = 0x20;       // the caller wants something to call
constexpr u32 kFindOwn = 0x40;            // no inherited lookup
constexpr u32 kFindMakeXMLChild = 0x80;   // make a missing XML child element

// put's flags: the low three bits are the attributes of a new slot.
constexpr u32 kPutAttributes = 0x7;
constexpr u32 kPutDefine = 0x8;           // no lookup: define on this object

// The filter word of the property listings.
constexpr u32 kListMethods = 0x80000000;
constexpr u32 kListReadOnly = 0x40000000;
constexpr u32 kListWritable = 0x20000000;
constexpr u32 kListHidden = 0x10000000;
constexpr u32 kListDontEnum = 0x08000000;
constexpr u32 kListOwnOnly = 0x04000000;
constexpr u32 kListNoBuiltIn = 0x02000000;
constexpr u32 kListStatic = 0x01000000;
constexpr u32 kListRemoved = 0x00000010;
constexpr u32 kListForIn = 0x60010000;    // for-in and the engine's property lists

// Counts of a script object shared with the core's Variant: the low 30 bits
// of the internal-reference word count internal holders, bit 30 is the
// collection mark.
constexpr u32 kInternalCountMask = LxCore::kLockCountMask;
constexpr u32 kMarkBit = 0x40000000;

// An array index named by a data-pool id: integer ids, "-0", and later
// symbols whose text is a decimal number below 2^32 - 1. The highest index is
// 4294967294, so that index + 1 is always a length.
bool isIndexId(DataPoolId id, u32& index);
inline bool isIndexId(DataPoolId id) {
    u32 index;
    return isIndexId(id, index);
}

// A Variant naming a script object by id and class name without holding it.
inline bool isUnboundReference(const Variant& v) {
    return v.getType() == Variant::kScriptObject && !v.getObject();
}

// The bound script object a Variant holds, or null: the core holds it by
// its base, which only the engine turns back into the object.
inline Object* objectOf(const Variant& v);

// Holds one counted reference to an object for a scope.
class ObjectRef {
public:
    ObjectRef() = default;
    explicit ObjectRef(Object* object);
    ObjectRef(const ObjectRef& other) : ObjectRef(other.held) {}
    ObjectRef& operator=(const ObjectRef& other);
    ~ObjectRef();

    Object* get() const { return held; }
    Object* operator->() const { return held; }
    Object& operator*() const { return *held; }
    explicit operator bool() const { return held != nullptr; }
    // Takes over a reference the caller owns (a fresh object's first one).
    static ObjectRef adopt(Object* object);

private:
    Object* held = nullptr;
};

// The core's part comes first: a Variant holds the object by it.
class Object : public LxCore::ScriptObject, public LxCore::Root {
public:
    // A fresh object of the space's engine: class "Object", the engine's
    // Object prototype, one reference (the caller's), head of the ring.
    explicit Object(ObjectSpace& space);
    // With a prototype of its own from the start (null: none), so that
    // activations never take and drop Object.prototype.
    Object(ObjectSpace& space, Object* firstPrototype);
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // A new object of the class (one reference, the caller's): an Array
    // gets the dense element store.
    static Object* make(ObjectSpace& space, DataPoolId classId);

    // Objects and their cells come from the object heap.
    static void* operator new(size_t size) { return ObjectHeap::alloc(size); }
    static void operator delete(void* p, size_t size) { ObjectHeap::free(p, size); }

    ~Object() override;
    // Returns the slot written; null when nothing was written, and for a
    // slot kept in its cell (findOwnProperty gives its Property).
    virtual Property* put(DataPoolId symbol, const Variant& value, u32 flags);
    virtual void getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter);
    virtual void dropReferences(Object* target, Object* from);
    virtual bool isValid() const;
    // Called by whoever drops the reference count to 0.
    virtual void release();
    virtual void getClassName(LxCore::String& out) const;
    virtual void setClassID(DataPoolId classId);
    virtual void setNativeData(LxCore::Root* data);
    virtual Variant& getPrivateValue();
    virtual Property* getPutThrough() const;
    virtual void setPutThrough(Object* holder, Property* property);
    virtual void setLiveObject(LxCore::LiveObject* live);
    virtual Engine* getEngine() const;
    virtual void setObjectID(i32 id);
    // hint 0 number, 1 string.
    virtual bool getDefaultValue(Variant& result, u8 hint);
    virtual void invalidate();
    virtual void invalidateClass(DataPoolId classId);
    virtual void dropReferencesTo(Object* target);
    virtual Variant* getLocal(u32 slot);
    virtual void setLocal(u32 slot, const Variant& value);
    virtual void removeProperty(DataPoolId symbol, bool unlink);
    virtual void invalidateAll();
    virtual void clearProperties(i32 level);
    virtual void clear();
    // Sets the mark and queues the object; its references are marked from
    // the space's work list (markReferences), never by recursion.
    virtual void mark();
    virtual Property* getCallProperty();
    virtual Property* findOperator(DataPoolId symbol);
    virtual void getPropertyIDs(LxCore::SimpleArray& ids, u32 filter);
    virtual void invalidateRange(u32 from, u32 to);
    virtual void watch(DataPoolId symbol, Function* handler);
    virtual void unwatch(DataPoolId symbol);
    virtual void callWatchHandler(Property* slot, Variant& newValue);
    virtual Function* asFunction();
    virtual LxCore::String getText();
    virtual void getScopeObjects(LxCore::SimpleArray& out);
    virtual Property* findOwnProperty(DataPoolId symbol, u32 flags);
    virtual Property* get(DataPoolId symbol, Variant& out, u32 flags);
    virtual Property* findProperty(DataPoolId symbol, u32 flags);
    virtual bool deleteProperty(DataPoolId symbol);
    virtual void construct(Object* newObject, const LxCore::BasicArray& args,
                           Variant& result);
    virtual void call(Object* thisObject, const LxCore::BasicArray& args,
                      Variant& result);
    virtual i32 declareFunctions(Object* scope);
    virtual Script* getScript();
    virtual LxCore::ServiceInfo* getServiceInfo();
    virtual i32 getPropertyValues(LxCore::THashTable<Variant>& out, u32 filter,
                                  LxCore::Error* err);
    virtual i32 putPropertyValues(const LxCore::THashTable<Variant>& values,
                                  LxCore::Error* err);
    virtual bool getElements(LxCore::Array& out);

    bool onMessage(LxCore::Message& message) override;

    // get without making a Property of a slot kept in its cell: what the
    // interpreter and the library read through. False when nothing was
    // found (out undefined).
    bool getValue(DataPoolId symbol, Variant& out, u32 flags);
    // The value of an own live slot, read as getValue reads it, without
    // asking a live object or the prototypes; false when there is none (out
    // undefined).
    bool getOwnValue(DataPoolId symbol, Variant& out);
    // Whether an own live slot of that name is held (not made on lookup).
    bool hasOwnValue(DataPoolId symbol) const;

    // Slot creation; every path links the slot (ordinal, watch bit, length,
    // operator count). Null when the object is invalid.
    Property* createProperty(DataPoolId symbol, const Variant& value, u32 attributes);
    Property* createProperty(DataPoolId symbol, u32 attributes);
    Property* createRefProperty(DataPoolId symbol, u32 slot, u32 attributes);
    Property* createDispatcherProperty(Dispatcher* dispatcher, const PropEntryCopy& entry,
                                       DataPoolId symbol);
    // createProperty(symbol, value, 0) on an object known to have no slot
    // of that name (a fresh literal): the slot stays in its cell.
    void defineValue(DataPoolId symbol, const Variant& value);

    // References. dropRef calls release at 0.
    void addRef() { counts.references++; }
    void dropRef();
    u32 getRefCount() const { return counts.references; }
    u32 getInternalCount() const { return counts.locks & kInternalCountMask; }
    // Raised only below the cap and lowered only above 0, so that the mark bit
    // never disturbs the count.
    void addInternalRef();
    void dropInternalRef();
    bool isMarked() const { return (counts.locks & kMarkBit) != 0; }
    void clearMark() { counts.locks &= ~kMarkBit; }
    // Marks what this object holds; called from the space's mark work list.
    virtual void markReferences();

    ObjectSpace& getSpace() const { return table->getSpace(); }
    ObjectData* getData() const { return data; }
    ObjectData& data_();                        // made on first need
    // The destructor's work, run by the most derived destructor that needs its
    // own members still alive (an ArrayObject's store), once.
    void teardown();
    Dispatcher* getDispatcher() const;
    LxCore::LiveObject* getLiveObject() const;
    LxCore::Root* getNativeData() const;
    i32 getObjectID() const { return objectId; }
    DataPoolId getClassID() const { return classId; }
    DataPoolId getNameID() const { return nameId; }
    void setNameID(DataPoolId id) { nameId = id; }
    Object* getPrototype() const { return prototype; }
    // False, changing nothing, when p's prototype chain holds this object.
    bool setPrototype(Object* p);
    u32 getLength();
    void setLength(u32 length);
    u32 getStoredLength() const { return length; }
    // Only an array's length follows its elements: a function's is its
    // declared parameter count, and other objects keep theirs in a
    // property of their own.
    bool countsIndexLength() const { return classId == Sym::kArray; }
    bool hasOperators();
    // hasOperators' answer, read inline when the space remembers that no
    // link from the prototype on offers operator methods (see ChainMemory):
    // the question every comparison of objects asks of both operands.
    inline bool offersOperators();
    // Whether that remembered answer holds now: no lookup, no effect.
    inline bool remembersNoOperators();
    bool isCleared() const { return cleared != 0; }
    bool isValidByte() const { return valid != 0; }
    u64* getHostDataSlot();
    void materializeNativeProperties();
    // Whether slot is one of this object's slots.
    bool holdsSlot(const Property* slot) const;
    // The native row that an own-property test counts as this object's own
    // before any read made its slot (see the source); null when none.
    const PropEntryCopy* findOwnNativeEntry(DataPoolId symbol);
    // Removed slots leave the lookup path once they outnumber the live ones.
    // A Property pointer stays valid while a script runs (the space is not
    // idle) until its object is cleared; removed slots taken off the path then
    // wait here, and the collector frees them once no script runs. While idle,
    // deleting a property may free slots of that object at once.
    void freeRemovedSlots();
    u32 getRemovedSlotCount() const;
    // Own slots that are not removed.
    u32 liveSlotCount() const;

    // Every slot held as a Property, live and removed (compact slots are
    // not visited: forEachCell sees every slot).
    template <class F>
    void forEachSlot(F&& f) const;
    // f(symbol, cell) for every own slot on the lookup path, live and
    // removed, table entries first and elements after, each in place order.
    template <class F>
    void forEachCell(F&& f) const;
    // f(symbol, cell, place) over the same cells, place as findCell gives it.
    template <class F>
    void forEachPlace(F&& f) const;
    Object* ringNextObject() const { return ringNext; }

    // The name errors and listings show: the name id's text, else the class's.
    LxCore::String displayName() const;
    // The object line of the object listings.
    LxCore::String describe() const;

    // The dense element store; null unless this is an array that has one.
    ElementStore* elementStore() const;
    // The Property of the live element at index of the store (index below
    // the store's count), made from its cell on first need as a lookup
    // makes it.
    Property* elementSlot(u32 index);
    // The table naming the object's slots and their cells: an operation's
    // cache may keep (table, place) while the table is shared.
    const SlotTable* slotTable() const { return table; }
    SlotCell* cellAt(u32 place) const { return cells + place; }
    // An own miss is final and the inherited lookup starts at the
    // prototype: no live object, no dispatcher of its own, no class objects,
    // no override of the lookups (activations, arguments, functions).
    bool hasPlainLookup() const {
        return valid && !(traits & kNoPlainLookup) && objectId == 0 && classId != Sym::kFunction;
    }
    // Whether a write of symbol, looked up with flags, would add a plain
    // slot in a cell of this object's own: no side record (no watch, live
    // object or put-through), no array, a shared table without the name,
    // and nothing on the chain answers it. Makes nothing; an invalid object
    // on the chain sets the error as the lookup would.
    bool takesNewValue(DataPoolId symbol, u32 flags);
    // The write takesNewValue allowed (symbol no array index): the new
    // slot, written, in its cell.
    void addNewValue(DataPoolId symbol, const Variant& value);

protected:
    // ---- slot storage (Object.cpp) ----
    // The own cell named symbol, live or removed, or null; place: its table
    // entry, or -1 for an element.
    SlotCell* findCell(DataPoolId symbol, i32& place) const;
    // The Property of a cell, made from its compact slot on first need.
    Property* slotOf(SlotCell& cell, i32 place, DataPoolId symbol);
    // The attributes of the slot in a cell (kRemoved included).
    u32 cellAttributes(const SlotCell& cell, i32 place) const;
    [[gnu::always_inline]] inline bool cellRemoved(const SlotCell& cell, i32 place) const;   // ObjectInternals.h
    // A new slot's cell (ordinal given, value undefined), in the element
    // store or the table; null only when allocation failed before anything
    // changed (it throws then).
    SlotCell* newCell(DataPoolId symbol, u32 attributes, bool slotBacked, i32& place);
    [[gnu::always_inline]] inline SlotCell* newTableCell(DataPoolId symbol, u32 key, i32& place);   // Object.cpp only
    // An array's elements between its store and its table (see ElementStore).
    bool absorbSpilled(u32 index);
    void spillSparseStore();
    void makeTableOwned();
    [[gnu::always_inline]] inline void growCells(u32 newSize);   // Object.cpp only
    // Links a new or revived compact slot: ordinal, length, operators.
    void linkCell(SlotCell& cell, DataPoolId symbol);
    // An array's length passes an element added at an index.
    void raiseLengthFor(DataPoolId symbol) {
        u32 index;
        if (countsIndexLength() && isIndexId(symbol, index))
            length = std::max(length, index + 1);
    }
    // A removed slot at place comes back to life in the counts.
    void countRevived(i32 place);
    // newCell for a value held in made, released when no cell can be had.
    SlotCell* newValueCell(DataPoolId symbol, u32 attributes, SlotCell& made, i32& place);
    // Puts made's value into a new or revived cell and links it.
    void fillCell(SlotCell& cell, const SlotCell& made, u32 state, DataPoolId symbol, i32 place);
    // The lookup that revives removed slots and finds compact ones: the
    // Property (made on demand) of an own slot, live or removed.
    Property* searchChain(DataPoolId symbol);
    // The value of an own live slot; false, out untouched, when none.
    bool readOwnCell(DataPoolId symbol, Variant& out, u32 flags);
    Property* linkProperty(Property* slot, bool revive);
    // Marks a slot removed and clears it; it stays on the lookup path for
    // revival until settleRemoved finds too many removed slots on it.
    void retireProperty(Property* slot);
    void retireCell(SlotCell& cell, i32 place);
    // An element of the store leaves its cell: the pins on it take its
    // Property first (see ElementPin).
    void leavePins(SlotCell& cell);
    void settleRemoved();
    void takeRemovedOffPath();
    void takeRemovedEntriesOffPath(bool idle);
    SlotCell* blockForEntries(u32 kept);
    void keepEntries(const std::vector<u8>& keep, SlotCell* target);
    void retireOffPath(Property* slot, bool idle);
    void freeRemovedSlotsNow();
    Property* writeNewSlot(DataPoolId symbol, const Variant& value, u32 attributes,
                           Property* removed);
    // writeNewSlot for put: a revived or new slot with the value, kept in
    // its cell when it may be (null then), else its Property.
    Property* writeNewCell(DataPoolId symbol, const Variant& value, u32 attributes,
                           SlotCell* removed, i32 place);
    // The own "length" slot of an array, kept as an ordinal until now.
    Property* materializeLengthSlot();

public:
    // An array's own native "length" slot, kept as an ordinal and a state
    // (see Object.cpp): noted as read, or as written. False when this is not
    // an array whose lookup of "length" would make that slot; the caller
    // then goes the general way.
    bool noteLengthSlot(bool written);

protected:
    void renumberOrdinals();
    u32 takeOrdinal();
    // What the inherited lookup met: a plain slot, or a native row with the
    // dispatcher it came through and the object whose table holds it.
    struct InheritedMember {
        Property* slot = nullptr;
        const PropEntryCopy* entry = nullptr;
        Dispatcher* through = nullptr;
        Object* holder = nullptr;
    };
    Property* findInherited(DataPoolId symbol, u32 flags);
    InheritedMember lookUpInherited(DataPoolId symbol, u32 flags);
    bool findDispatcherMember(Object* holder, Dispatcher* dispatcher, DataPoolId symbol,
                              InheritedMember& found);
    const PropEntryCopy* findDispatcherEntry(Object* holder, Dispatcher* dispatcher,
                                             DataPoolId symbol);
    Property* findClassObject(DataPoolId symbol);
    // The class object the embedding's callback names (see the source).
    ObjectRef classObjectFromCallback(DataPoolId symbol, u32& hookFlags, bool& known);
    // The live-object side.
    Property* findLiveProperty(DataPoolId symbol, u32 flags);
    Property* findLiveOperator(LxCore::LiveObject* live, DataPoolId symbol);
    void collectLiveIDs(LxCore::SimpleArray& ids, u32 filter);
    bool liveDefaultValue(Variant& result, u8 hint);
    void callLive(const LxCore::BasicArray& args, Variant& result);
    bool constructLive(Object* newObject, const LxCore::BasicArray& args, Variant& result);
    void invokeByName(LxCore::LiveMessage& request);
    void notifyPropertyAdded();
    void runPutThrough();
    bool reachesSlot(const Property* slot) const;
    void destroySlots();
    void finishRelease();
    void collectOwnIDs(LxCore::SimpleArray& ids, u32 filter);
    // Whether new slots may stay in their cells: not on activations, the
    // global object or arguments objects, whose slots scope lookups hold.
    bool keepsCompactSlots() const {
        return objectId != kWorkspaceId && objectId != kGlobalObjectId && objectId != kArgumentsId;
    }

    Object* ringNext = nullptr;
    Object* ringPrevious = nullptr;
    ObjectData* data = nullptr;
    Object* prototype = nullptr;
    SlotTable* table;               // counted; never null
    SlotCell* cells = nullptr;      // one per table entry (capacity: cellCapacity(table->size()))
    DataPoolId classId = Sym::kObject;
    DataPoolId nameId = 0;
    i32 objectId = 0;
    u32 length = 0;
    u32 nextOrdinal = 0;            // renumbered before it would wrap
    u8 valid = 1;
    u8 cleared = 0;
    u8 xmlClass = 0;                // class "XML" or "XMLList": removed slots revive on lookup
    u8 traits = 0;

    static constexpr u8 kArrayStore = 1;        // an ArrayObject: elements in its store
    static constexpr u8 kNoPlainLookup = 2;     // a live object is or was attached
    static constexpr u8 kTornDown = 4;          // teardown ran (an ArrayObject's, while it was one)
    static constexpr u8 kOnMissChain = 8;       // on a chain the space remembers (ChainMemory)
    static constexpr u8 kWasPrototype = 16;     // some object had it as its prototype (kept for good)

    // A slot, the prototype, the class, the side or the validity of this
    // object changed: what the space remembers of chains through it goes.
    void noteChainChange();
    // Whether the inherited walk from start could be remembered as a miss
    // of the name, marking the chain's objects if so. The links after last
    // are on a chain the space remembers already (null: none are).
    static bool markMissChain(Object* start, const Object* last);
    // The same for hasOperators' answer from start on.
    static bool markOperatorFreeChain(Object* start, const Object* last);
    // Whether the space remembers the chain from this object's prototype
    // on, so that a walk may stop here: a remembered chain is marked, so
    // the mark is tested first.
    inline bool restMisses(DataPoolId symbol) const;
    inline bool restIsOperatorFree() const;

    friend class ObjectSpace;
    friend class Property;
    friend class ArrayObject;
    friend class ElementPin;
};

// An element an operation has read and will write once script has run in
// between (a[i] += f()). A lookup makes the element's Property, and the
// write goes to that Property whatever the script did to the element: a
// pin lets the element stay in its cell meanwhile, and should its slot be
// removed or replaced, the slot's Property is made (or taken) at that
// moment and left in made, for the write to go to. Pins of a thread form a
// stack; an operation holds the array for as long as its pin lives.
class ElementPin {
public:
    ElementPin(Object& array, u32 index);
    ~ElementPin();
    ElementPin(const ElementPin&) = delete;
    ElementPin& operator=(const ElementPin&) = delete;

    // The pinned slot's Property once it left its cell; null while it stays.
    Property* made = nullptr;

private:
    Object* array;
    u32 index;
    ElementPin* outer;

    friend class Object;
};

// An Array made as one (Object::make): its elements in a dense store.
class ArrayObject : public Object {
public:
    explicit ArrayObject(ObjectSpace& space);
    ~ArrayObject() override;

    ElementStore elements;
    // The own native "length" slot that lookups make on an array (see
    // noteLengthSlot in Object.cpp) is kept as its ordinal and state until a
    // Property of it is needed: 0 none yet, else the slot's state.
    u32 lengthOrdinal = 0;
    u8 lengthState = 0;
};

inline ElementStore* Object::elementStore() const {
    return (traits & kArrayStore) ? &static_cast<ArrayObject*>(const_cast<Object*>(this))->elements
                                  : nullptr;
}

template <class F>
void Object::forEachPlace(F&& f) const {
    for (u32 i = 0; i < table->size(); i++)
        f(table->at(i).symbol, cells[i], i32(i));
    if (ElementStore* store = elementStore())
        for (u32 i = 0; i < store->count; i++)
            if (store->cells[i].kind != SlotCell::kEmpty)
                f(DataPoolId(DataPool::kIntegerTag | i32(i)), store->cells[i], -1);
}

template <class F>
void Object::forEachCell(F&& f) const {
    forEachPlace([&](DataPoolId symbol, SlotCell& c, i32) { f(symbol, c); });
}

inline Object* objectOf(const Variant& v) { return static_cast<Object*>(v.getObject()); }

// The side record, made on first need.
class ObjectData : public LxCore::Root {
public:
    ObjectData();
    ~ObjectData();

    Variant privateValue;           // primitive value of wrapper objects
    Dispatcher* dispatcher = nullptr;   // class prototypes and the global object only
    LxCore::IntHashTable* watches = nullptr;   // symbol -> WatchCell
    Property* putThrough = nullptr;
    Variant putThroughHolder;       // the holder, counted as an internal reference
    LxCore::Refcountable* classInfo = nullptr;  // the reflection description, when made
    u64 hostData = 0;
    LxCore::LiveObject* liveObject = nullptr;   // one reference held
    LxCore::Root* nativeData = nullptr;         // owned unless the live object's
    Property* retired = nullptr;    // removed slots off the lookup path
    u32 retiredCount = 0;
    u8 dotFlag = 0;                 // the dispatcher has ".index", ".number" or ".name"
};

inline LxCore::LiveObject* Object::getLiveObject() const { return data ? data->liveObject : nullptr; }

inline Dispatcher* Object::getDispatcher() const { return data ? data->dispatcher : nullptr; }

// One watch: the handler, one reference held.
struct WatchCell : public LxCore::Root {
    Function* handler;
};

// Names a dispatcher's lookup did not find (see Object::findDispatcherMember),
// one entry per place: each holds while no dispatcher of the process changed
// since (Dispatcher::changeCount), so that adding a name to an object does
// not ask the Object class's tables every time.
struct DispatcherMisses {
    static constexpr u32 kEntries = 256;
    struct Entry {
        const Dispatcher* dispatcher = nullptr;
        DataPoolId classId = 0;
        DataPoolId symbol = 0;
        LxCore::u64 changes = 0;
    };
    Entry entries[kEntries];

    Entry& at(const Dispatcher* d, DataPoolId classId, DataPoolId symbol) {
        const u32 h = (u32(symbol) * 0x9E3779B1u) ^ u32(uintptr_t(d) >> 4) ^ u32(classId);
        return entries[(h ^ (h >> 16)) & (kEntries - 1)];
    }
    void clear() {
        for (Entry& e : entries)
            e = Entry();
    }
};

// What the space remembers of prototype chains: names the inherited lookup
// did not find from a prototype on (a receiver without a side record whose
// own lookup missed asks its prototype's entry first), and prototypes from
// which no link offers operator methods (asked by every comparison of
// objects). An entry holds while no object of the chain changed (the epoch,
// raised by marked objects only) and no dispatcher changed.
struct ChainMemory {
    static constexpr u32 kEntries = 256;
    struct Miss {
        const Object* start = nullptr;
        DataPoolId symbol = 0;
        LxCore::u64 epoch = 0;
        LxCore::u64 changes = 0;
    };
    struct OperatorFree {
        const Object* start = nullptr;
        LxCore::u64 epoch = 0;
        LxCore::u64 changes = 0;
    };
    Miss misses[kEntries];
    OperatorFree operatorFree[kEntries];
    LxCore::u64 epoch = 1;

    // Multiplicative hashing, the entry from the product's top bits: every
    // bit of the address counts, however the allocator aligns objects (with
    // the low bits alone, objects a kilobyte apart all met in one entry).
    static constexpr u32 kEntryBits = 8;
    static_assert(kEntries == 1u << kEntryBits);
    static u32 entryOf(const Object* start, u32 salt) {
        return ((u32(uintptr_t(start) >> 4) ^ salt) * 0x9E3779B1u) >> (32 - kEntryBits);
    }
    Miss& missAt(const Object* start, DataPoolId symbol) {
        return misses[entryOf(start, u32(symbol) * 0x85EBCA6Bu)];
    }
    OperatorFree& operatorFreeAt(const Object* start) { return operatorFree[entryOf(start, 0)]; }
    // Whether an entry still stands for its chain.
    bool holds(const Miss& miss, const Object* start, DataPoolId symbol) const {
        return miss.start == start && miss.symbol == symbol && miss.epoch == epoch &&
               miss.changes == Dispatcher::changeCount();
    }
    bool holds(const OperatorFree& free, const Object* start) const {
        return free.start == start && free.epoch == epoch && free.changes == Dispatcher::changeCount();
    }
};

// The engine's share of the object model: the ring, counts, maps, class
// table and the prototypes objects are made with. An engine owns one; the
// virtual services are the engine's own operations that objects call.
class ObjectSpace {
public:
    explicit ObjectSpace(Engine& engine);
    virtual ~ObjectSpace();
    ObjectSpace(const ObjectSpace&) = delete;
    ObjectSpace& operator=(const ObjectSpace&) = delete;

    Engine& getEngine() const { return engine; }
    // The empty table every object starts from.
    SlotTable* getRootTable() const { return rootTable; }

    // Clears every object, then deletes them all (teardown and re-initialisation).
    void destroyAll();
    u32 getObjectCount() const { return objectCount; }
    Object* getRingHead() const { return ringHead; }
    bool isCollecting() const { return collecting != 0; }

    // The engine's class table: class symbol -> dispatcher, in the order the
    // classes were first entered.
    Dispatcher* getDispatcherByID(DataPoolId classId) const;
    void setDispatcher(DataPoolId classId, Dispatcher* dispatcher);
    i32 getClassTableSize() const { return i32(classOrder.size()); }
    DataPoolId getClassTableEntry(i32 i) const { return classOrder[size_t(i)]; }
    Dispatcher* getDefaultDispatcher(i32 which) const { return defaultDispatchers[which & 1]; }
    void setDefaultDispatcher(i32 which, Dispatcher* d) {
        defaultDispatchers[which & 1] = d;
        dispatcherMisses.clear();
        chains.epoch++;
    }
    bool isDefaultDispatcher(const Dispatcher* d) const {
        return d && (d == defaultDispatchers[0] || d == defaultDispatchers[1]);
    }

    // The reference table: (class symbol, object id) -> object.
    Object* findRegistered(DataPoolId classId, i32 id) const;
    void clearReferences();
    // Runs invalidateClass on every object of the ring.
    void invalidateClassObjects(DataPoolId classId);
    // The two maps of the native side.
    Object* findObjectOfLiveObject(const LxCore::LiveObject* live) const;
    Object* findObjectOfNativeData(const LxCore::Root* native) const;

    // Object listings (the $ object's).
    LxCore::String listObjects(const LxCore::String& classFilter);
    LxCore::String listLiveObjects(const LxCore::String& classFilter);
    LxCore::String summarizeObjects(const LxCore::String& classFilter);

    // Engine services objects use; the engine overrides them.
    virtual u32 getEffectiveDebugFlags() const { return effectiveDebugFlags; }
    // In place; imported script forms of native values. The base keeps
    // every value as it is.
    virtual void importValue(Variant& value, bool import) {}
    // A debugger watchpoint was written.
    virtual void watchpointHit(Property& slot) {}
    // Native code runs a script method of an object; the base calls it.
    virtual void callMethod(Object& self, Object& method, const LxCore::BasicArray& args,
                            Variant& result);
    // The runner's stack check; the base asks the thread's script context.
    virtual bool checkStack() const;
    // True while no script runs: no Property pointer is held outside the
    // objects, so removed slots can go.
    virtual bool isIdle() const { return true; }
    // The object a value names: a bound object, or the registered object an
    // unbound reference names; the base knows bound objects only.
    virtual Object* resolveObject(const Variant& value);
    // A new object of the class with the constructor's prototype in result;
    // no constructor runs.
    virtual void newInstance(Variant& result, DataPoolId classId, Object* constructor);

    // Marking runs from a work list, so that long chains never reach the
    // native stack: mark queues, the outermost call drains.
    void pushMark(Object* object);
    // Releases cascading from one release run from a queue for the same reason.
    bool queueRelease(Object* object);

    // Mark and sweep over the ring from the global object and every object
    // held from outside the object graph; nothing while a sweep runs.
    void sweep();
    // Test runs: after each sweep, every survivor's references must lead to
    // uncleared objects of the ring; a breach is reported and aborts.
    static void checkSweeps(bool on);

    Object* objectPrototype = nullptr;      // counted
    Object* functionPrototype = nullptr;    // counted
    Object* errorPrototype = nullptr;       // counted
    Object* globalObject = nullptr;         // counted
    u32 effectiveDebugFlags = 0;
    u32 objectCountAtCollection = 0;
    u8 destroying = 0;                      // the engine is going: messages are ignored
    // Links walked by the walks that do not look a name up (the cycle test
    // of setPrototype, the marking of remembered chains): tests count them
    // to show that a chain costs the same per link whatever its length.
    LxCore::u64 chainSteps = 0;

protected:
    void dropPrototypes();

private:
    Engine& engine;
    SlotTable* rootTable;
    Object* ringHead = nullptr;
    u32 objectCount = 0;
    u8 collecting = 0;
    u8 marking = 0;
    u8 releasing = 0;
    u8 releaseQueueStuck = 0;               // it could not grow in this batch
    u8 leafRunning = 0;                     // a leaf is marked or released in place (or the
                                            // sweep check wants every reference queued)
    std::vector<Object*> markStack;
    std::vector<Object*> releaseQueue;
    LxCore::IntHashTable liveObjects;       // LiveObject -> Object
    LxCore::IntHashTable nativeDataMap;     // native data -> Object
    LxCore::IntHashTable references;        // class symbol -> IntHashTable (id -> Object)
    LxCore::IntHashTable classTable;        // class symbol -> Dispatcher
    std::vector<DataPoolId> classOrder;
    Dispatcher* defaultDispatchers[2] = {};
    DispatcherMisses dispatcherMisses;
    ChainMemory chains;

    void drainReleases(std::exception_ptr& failure);
    // A plain object without a side record whose cells hold no Property
    // and no boxed value: marking or releasing it runs no native code and
    // reaches nothing but its prototype and the objects of its cells.
    static bool isLeaf(const Object& object);
    void markHeldObjects();
    void clearUnreached();
    void deleteUnheld();
    void clearMarks();
    void checkSurvivors();
    void appendReferrers(LxCore::String& out, const Object& target, const ReferrerIndex& index) const;

    friend class Object;
    friend class CollectingScope;
    friend class SweepScope;
    friend class ReleaseBatch;
};

// Releases that cascade from one release (a long list let go at once) wait
// in the space's queue and are run by the outermost batch, so that no chain
// of objects reaches the native stack. Host code that throws from a release
// stops nothing: the queue is drained, then the first exception goes on
// (unless the batch ends while another one unwinds: a second exception
// would end the process). Batches are made at every release, so making one
// costs two stores.
class ReleaseBatch {
public:
    explicit ReleaseBatch(ObjectSpace& s) : space(s), outer(!s.releasing) { s.releasing = 1; }
    ~ReleaseBatch() noexcept(false) {
        if (outer)
            finish();
    }
    ReleaseBatch(const ReleaseBatch&) = delete;
    ReleaseBatch& operator=(const ReleaseBatch&) = delete;

private:
    ObjectSpace& space;
    bool outer;

    void finish();
};

// Sets the collecting byte for a scope and restores it on every way out.
class CollectingScope {
public:
    explicit CollectingScope(ObjectSpace& space) : space(space), saved(space.collecting) {
        space.collecting = 1;
    }
    ~CollectingScope() { space.collecting = saved; }
    CollectingScope(const CollectingScope&) = delete;
    CollectingScope& operator=(const CollectingScope&) = delete;

private:
    ObjectSpace& space;
    u8 saved;
};

inline ObjectRef::ObjectRef(Object* object) : held(object) {
    if (held)
        held->addRef();
}

inline ObjectRef::~ObjectRef() {
    if (held)
        held->dropRef();
}

inline ObjectRef& ObjectRef::operator=(const ObjectRef& other) {
    ObjectRef copy(other);
    std::swap(held, copy.held);
    return *this;
}

inline ObjectRef ObjectRef::adopt(Object* object) {
    ObjectRef ref;
    ref.held = object;
    return ref;
}

inline void Object::dropRef() {
    if (counts.references > 0 && --counts.references == 0)
        release();
}

inline void Object::addInternalRef() { LxCore::raiseLockCount(counts.locks); }

inline void Object::dropInternalRef() { LxCore::lowerLockCount(counts.locks); }

inline void Object::noteChainChange() {
    if (traits & kOnMissChain)
        getSpace().chains.epoch++;
}

inline bool Object::restMisses(DataPoolId symbol) const {
    if (!prototype || !(prototype->traits & kOnMissChain))
        return false;
    ChainMemory& chains = getSpace().chains;
    return chains.holds(chains.missAt(prototype, symbol), prototype, symbol);
}

inline bool Object::restIsOperatorFree() const {
    if (!prototype || !(prototype->traits & kOnMissChain))
        return false;
    ChainMemory& chains = getSpace().chains;
    return chains.holds(chains.operatorFreeAt(prototype), prototype);
}

// The remembered case of hasOperators, which it would answer the same way.
inline bool Object::remembersNoOperators() {
    if (!valid || data || table->getOperatorCount() != 0 || !prototype)
        return false;
    ChainMemory& chains = getSpace().chains;
    return chains.holds(chains.operatorFreeAt(prototype), prototype);
}

inline bool Object::offersOperators() { return !remembersNoOperators() && hasOperators(); }

}  // namespace LxScript
