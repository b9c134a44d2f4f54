// Script objects: life and release, ids, default values, invalidation,
// clearing, marking, slot storage, writing, deletion, prototypes, calls and
// the side record. Lookup, the element store and listings have files of
// their own (ObjectLookup.cpp, ObjectElements.cpp, ObjectListing.cpp).
#include "script/engine/ObjectInternals.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <typeinfo>
#include <unordered_set>

#include "core/ErrorCodes.h"
#include "script/engine/Function.h"
#include "script/engine/LiveHold.h"
#include "script/engine/Property.h"
#include "script/engine/TVContext.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;
using namespace objectmodel;

namespace {

// The engine's effective debug flag of strict mode.
constexpr u32 kStrictMode = 0x100;

// The default value calls script; its own limit lies this far below the
// caller when no run has set one.
constexpr i32 kDefaultValueStack = 0x100000;

// Removed slots stay on the lookup path for revival until they outnumber the
// live ones (and this floor); then they are taken off it together, which
// keeps lookups proportional to the live slots at O(1) cost per removal.
constexpr u32 kRemovedOnPathFloor = 16;

// Attributes a slot kept in its cell may carry: the others have behaviour a
// Property runs (watch handlers, the debugger, class objects asked again,
// live members, put-through links).
constexpr u32 kPropertyOnlyBits =
    kWatched | kWatchpoint | kReResolve | kRefreshId | kFetched | kPutThroughLink | kRemoved;

// Methods and instance-only rows are never native values (as Property does).
u32 normalized(u32 attributes) {
    return (attributes & (kMethod | kInstancesOnly)) ? attributes & ~kNativeValue : attributes;
}

// Cells kept for n table entries: exact while small, then powers of two, so
// that adding one name costs O(1) on average.
u32 cellCapacity(u32 n) { return n <= 8 ? n : std::bit_ceil(n); }

// Drops every watch handler and the table; the handlers may run no script.
void releaseWatches(LxCore::IntHashTable*& table) {
    LxCore::IntHashTable* watches = table;
    if (!watches)
        return;
    table = nullptr;
    watches->forEach(
        [](i64, void** value, void*) {
            auto* cell = static_cast<WatchCell*>(*value);
            cell->handler->dropRef();
            delete cell;
            return false;
        },
        nullptr);
    delete watches;
}

}  // namespace

bool isIndexId(DataPoolId id, u32& index) {
    if (DataPool::isIntegerId(id)) {
        index = u32(id & DataPool::kPayloadMask);
        return true;
    }
    if (id == Sym::kMinusZero) {
        index = 0;
        return true;
    }
    return pool().getUnsignedText(id, 0xFFFFFFFE, index);
}

// ---------------------------------------------------------------------------
// Life

void ReleaseBatch::finish() {
    std::exception_ptr failure;
    space.drainReleases(failure);
    space.releasing = 0;
    space.releaseQueueStuck = 0;
    if (failure && std::uncaught_exceptions() == 0)
        std::rethrow_exception(failure);
}

Object::Object(ObjectSpace& s) : Object(s, s.objectPrototype) {}

Object::Object(ObjectSpace& s, Object* firstPrototype) : table(s.getRootTable()) {
    table->addRef();
    prototype = firstPrototype;
    if (prototype) {
        prototype->addRef();
        prototype->traits |= kWasPrototype;
    }
    s.objectCount++;
    if (!s.ringHead) {
        ringNext = ringPrevious = this;
    } else {
        ringNext = s.ringHead;
        ringPrevious = s.ringHead->ringPrevious;
        ringPrevious->ringNext = this;
        s.ringHead->ringPrevious = this;
    }
    s.ringHead = this;
}

ArrayObject::ArrayObject(ObjectSpace& s) : Object(s) { traits |= kArrayStore; }

ArrayObject::~ArrayObject() { teardown(); }

Object* Object::make(ObjectSpace& space, DataPoolId classId) {
    Object* made = classId == Sym::kArray ? new ArrayObject(space) : new Object(space);
    made->setClassID(classId);
    return made;
}

Object::~Object() {
    if (!(traits & kTornDown))
        teardown();
}

void Object::teardown() {
    traits |= kTornDown;
    ObjectSpace& s = getSpace();
    ReleaseBatch batch(s);
    if (!cleared)
        Object::clear();
    if (objectId != 0 && objectId != kArgumentsId && objectId != kWorkspaceId)
        Object::setObjectID(0);
    destroySlots();
    if (s.ringHead == this)
        s.ringHead = ringNext == this ? nullptr : ringNext;
    ringPrevious->ringNext = ringNext;
    ringNext->ringPrevious = ringPrevious;
    s.objectCount--;
    delete data;
    if (ElementStore* store = elementStore()) {
        SlotCell::deallocate(store->cells, store->capacity);
        store->cells = nullptr;
        store->capacity = 0;
    }
    table->release();
}

void Object::release() {
    if (counts.references != 0)
        return;
    LxCore::LiveObject* live = getLiveObject();
    if (live && live->getRefCount() != 1)
        return;     // the native side still holds it; a collection deals with it
    if (getSpace().queueRelease(this))
        return;
    ReleaseBatch batch(getSpace());
    finishRelease();
}

// Clears, then deletes unless a collection runs (the collector deletes) or
// clearing gave the object a new holder.
void Object::finishRelease() {
    // Settled on every way out: a clear that throws still lets the object go.
    struct Settle {
        Object* object;
        ~Settle() {
            if (--object->counts.references == 0 && !object->getSpace().collecting)
                delete object;
        }
    } settle{this};
    counts.references = 1;
    clear();
}

bool ObjectSpace::isLeaf(const Object& object) {
    if (object.data || typeid(object) != typeid(Object))
        return false;
    for (u32 i = 0; i < object.table->size(); i++)
        if (object.cells[i].kind >= SlotCell::kBoxed)
            return false;
    return true;
}

namespace {

// The space's flag that a leaf is being released or marked in place, raised
// for one leaf and lowered on every way out.
struct LeafRun {
    explicit LeafRun(u8& flag) : flag(flag) { flag = 1; }
    ~LeafRun() { flag = 0; }
    LeafRun(const LeafRun&) = delete;
    LeafRun& operator=(const LeafRun&) = delete;
    u8& flag;
};

}  // namespace

bool ObjectSpace::queueRelease(Object* object) {
    if (!releasing)
        return false;
    // A leaf goes at once, one level deep: what it lets go waits in the
    // queue. Many small objects let go together (an array of them) then
    // never fill the queue.
    if (!leafRunning && isLeaf(*object)) {
        const LeafRun run(leafRunning);
        object->finishRelease();
        return true;
    }
    // Once the queue could not grow it takes only what fits until the batch
    // ends: near the memory limit a failed request is dear, and one per
    // released object made tearing down a full heap crawl.
    if (!releaseQueueStuck || releaseQueue.size() < releaseQueue.capacity()) {
        object->counts.references = 1;   // the queue's
        try {
            releaseQueue.push_back(object);
            return true;
        } catch (const std::bad_alloc&) {
            releaseQueueStuck = 1;
        }
    }
    // Released on the native stack, a chain would go as deep as it is long,
    // with no memory left to grow the stack. Left on the ring with no holder
    // instead, it is cleared and deleted by the next sweep, like any garbage.
    object->counts.references = 0;
    return true;
}

void ObjectSpace::drainReleases(std::exception_ptr& failure) {
    while (!releaseQueue.empty()) {
        Object* o = releaseQueue.back();
        releaseQueue.pop_back();
        if (--o->counts.references != 0)
            continue;
        try {
            o->finishRelease();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
}

bool Object::isValid() const { return valid != 0; }

void Object::getClassName(String& out) const { out = pool().getSymbol(classId); }

void Object::setClassID(DataPoolId id) {
    noteChainChange();
    const i32 registered = objectId;
    if (registered != 0)
        setObjectID(0);
    classId = id;
    xmlClass = id == Sym::kXML || id == Sym::kXMLList;
    if (nameId == 0)
        nameId = id;
    if (registered != 0)
        setObjectID(registered);
}

LxCore::Root* Object::getNativeData() const { return data ? data->nativeData : nullptr; }

void Object::setNativeData(LxCore::Root* native) {
    ObjectSpace& s = getSpace();
    if (LxCore::LiveObject* live = getLiveObject()) {
        LiveHold hold(live);
        live->setNativeData(native);
        if (data->nativeData)
            s.nativeDataMap.remove(i64(uintptr_t(data->nativeData) >> 4));
        data->nativeData = live->getNativeData();
        if (data->nativeData)
            s.nativeDataMap.put(i64(uintptr_t(data->nativeData) >> 4), this);
        return;
    }
    if (native == getNativeData())
        return;
    // Native data is always an LxCore::NativeData: taken with retain, ended
    // with dispose.
    if (native)
        static_cast<LxCore::NativeData*>(native)->retain();
    if (LxCore::Root* old = getNativeData()) {
        data->nativeData = nullptr;
        s.nativeDataMap.remove(i64(uintptr_t(old) >> 4));
        static_cast<LxCore::NativeData*>(old)->dispose();
    }
    if (!native)
        return;
    data_().nativeData = native;
    s.nativeDataMap.put(i64(uintptr_t(native) >> 4), this);
}

ObjectData& Object::data_() {
    if (!data)
        data = new ObjectData;
    return *data;
}

Variant& Object::getPrivateValue() { return data_().privateValue; }

Property* Object::getPutThrough() const { return data ? data->putThrough : nullptr; }

void Object::setPutThrough(Object* holder, Property* property) {
    if (property) {
        ObjectData& d = data_();
        d.putThrough = property;
        d.putThroughHolder.setObject(holder);
        return;
    }
    if (data) {
        data->putThrough = nullptr;
        data->putThroughHolder.clear();
    }
    if (LxCore::LiveObject* live = getLiveObject()) {
        LiveHold hold(live);
        live->setContainer(nullptr, 0);
    }
}

Engine* Object::getEngine() const { return &getSpace().getEngine(); }

void Object::setObjectID(i32 id) {
    if (id == objectId)
        return;
    noteChainChange();
    ObjectSpace& s = getSpace();
    if (objectId != 0) {
        if (auto* table = static_cast<LxCore::IntHashTable*>(s.references.get(classId)))
            if (table->get(objectId) == this)
                table->remove(objectId);
        if (data)
            data->dispatcher = nullptr;
    }
    objectId = id;
    if (id == 0 || id == kArgumentsId || id == kWorkspaceId)
        return;
    if (id == kGlobalObjectId || id == kPrototypeId) {
        Dispatcher* d = s.getDispatcherByID(classId);
        ObjectData& side = data_();
        side.dispatcher = d;
        if (d) {
            DispatcherLock lock(d);
            side.dotFlag = d->hasDotProperties(classId) ? 1 : 0;
        }
    }
    auto* table = static_cast<LxCore::IntHashTable*>(s.references.get(classId));
    if (!table) {
        table = new LxCore::IntHashTable;
        s.references.put(classId, table);
    }
    if (auto* other = static_cast<Object*>(table->get(id)))
        if (other != this)
            other->setObjectID(0);
    table->put(id, this);
}

bool Object::getDefaultValue(Variant& result, u8 hint) {
    ObjectRef self(this);
    if (getLiveObject())
        return liveDefaultValue(result, hint);
    Engine& engine = getSpace().getEngine();
    StackLimitScope limit(TVContext::get(), kDefaultValueStack);
    if (!getSpace().checkStack()) {
        result.clear();
        engine.setError(Err::kStackOverrun);
        return false;
    }
    const DataPoolId order[2] = {hint == 0 ? Sym::kValueOf : Sym::kToString,
                                 hint == 0 ? Sym::kToString : Sym::kValueOf};
    for (DataPoolId method : order) {
        getValue(method, result, 0);
        Object* callee = objectOf(result);
        if (!callee)
            continue;
        ObjectRef held(callee);
        LxCore::Array none;
        result.clear();
        callee->call(this, none, result);
        if (engine.getError().getCode() != 0)
            return false;
        if (!objectOf(result))
            return true;
    }
    result.clear();
    String name;
    getClassName(name);
    engine.setError(Err::kNoValue, name, -1, false);
    return false;
}

void Object::invalidate() {
    if (!valid)
        return;
    noteChainChange();
    if (!getLiveObject() && nextOrdinal == 0) {
        valid = 0;
        return;
    }
    ReleaseBatch batch(getSpace());
    counts.references++;
    if (LxCore::LiveObject* live = getLiveObject()) {
        {
            LiveHold hold(live);
            live->invalidate();
        }
        setLiveObject(nullptr);
    }
    // Every slot drops its value; compact slots keep their kind (a value
    // of undefined) so that the object still lists them.
    for (u32 i = 0; i < table->size(); i++) {
        SlotCell& c = cells[i];
        if (c.isSlot())
            c.slot->clear(true);
        else if (c.holdsValue())
            c.releaseValue(SlotCell::kUndefined);
    }
    if (ElementStore* store = elementStore()) {
        for (u32 i = 0; i < store->count; i++) {
            SlotCell& c = store->cells[i];
            if (c.isSlot())
                c.slot->clear(true);
            else if (c.holdsValue())
                c.releaseValue(SlotCell::kUndefined);
        }
    }
    counts.references--;
    valid = 0;
}

void Object::invalidateClass(DataPoolId id) {
    if (classId == id)
        invalidate();
}

void Object::dropReferencesTo(Object* target) {
    if (target != this)
        dropReferences(target, nullptr);
}

// A work list and a visited set: object graphs of any depth and with cycles.
void Object::dropReferences(Object* target, Object* from) {
    std::vector<ObjectRef> work;
    std::unordered_set<Object*> visited{this};
    if (from)
        visited.insert(from);
    work.emplace_back(this);
    ReleaseBatch batch(getSpace());
    while (!work.empty()) {
        ObjectRef current = work.back();
        work.pop_back();
        Object& o = *current;
        auto visit = [&](SlotCell& c, i32 place) {
            if (o.cellRemoved(c, place) || (o.cellAttributes(c, place) & kNativeValue))
                return;
            Object* held;
            if (c.isSlot()) {
                Property* p = c.slot;
                const Variant* v = p->kind == Property::kPlain || p->kind == Property::kRef
                                       ? p->get(p->owner, 0)
                                       : &p->value;
                held = v ? objectOf(*v) : nullptr;
            } else {
                held = c.heldObject();
            }
            if (!held)
                return;
            if (held == target)
                o.retireCell(c, place);
            else if (visited.insert(held).second)
                work.emplace_back(held);
        };
        // By index: retiring may give the object a table of its own.
        for (u32 i = 0; i < o.table->size(); i++)
            visit(o.cells[i], i32(i));
        if (ElementStore* store = o.elementStore())
            for (u32 i = 0; i < store->count; i++)
                if (store->cells[i].kind != SlotCell::kEmpty)
                    visit(store->cells[i], -1);
        o.settleRemoved();
    }
}

Variant* Object::getLocal(u32) { return nullptr; }

void Object::setLocal(u32, const Variant&) {}

void Object::removeProperty(DataPoolId symbol, bool unlink) {
    i32 place;
    SlotCell* c = findCell(symbol, place);
    if (!c)
        return;
    ReleaseBatch batch(getSpace());
    if (!cellRemoved(*c, place))
        retireCell(*c, place);
    if (unlink) {
        // Off the path at once: the table and cells drop it now.
        if (c->isSlot())
            c->slot->attributes |= kRemoved;
        takeRemovedOffPath();
        return;
    }
    settleRemoved();
}

void Object::invalidateAll() {
    ReleaseBatch batch(getSpace());
    auto visit = [&](SlotCell& c, i32 place) {
        if (!cellRemoved(c, place) && !(cellAttributes(c, place) & kSurvivesInvalidateAll))
            retireCell(c, place);
    };
    forEachPlace([&](DataPoolId, SlotCell& c, i32 place) { visit(c, place); });
    settleRemoved();
}

void Object::clearProperties(i32 level) {
    level = std::clamp(level, 0, 2);
    ReleaseBatch batch(getSpace());
    if (countsIndexLength())
        length = 0;
    auto visit = [&](DataPoolId symbol, SlotCell& c, i32 place) {
        if (cellRemoved(c, place))
            return;
        const u32 a = cellAttributes(c, place);
        bool keep = (c.isSlot() && c.slot->isDispatcher()) || (a & (kReadOnly | kStatic));
        if (!keep && level <= 1 && !(a & kNativeValue)) {
            Object* held = c.isSlot() ? objectOf(c.slot->value) : c.heldObject();
            keep = held && held->asFunction();
        }
        if (!keep && level == 0)
            keep = (a & kDontDelete) != 0;
        if (!keep) {
            retireCell(c, place);
            return;
        }
        raiseLengthFor(symbol);
    };
    forEachPlace(visit);
    settleRemoved();
}

void Object::clear() {
    if (cleared)
        return;
    cleared = 1;
    noteChainChange();
    ReleaseBatch batch(getSpace());
    if (getLiveObject())
        setLiveObject(nullptr);
    if (valid)
        invalidate();
    destroySlots();
    if (data) {
        ObjectData& d = *data;
        d.privateValue.clear();
        releaseWatches(d.watches);
        d.dispatcher = nullptr;
        d.putThrough = nullptr;
        d.putThroughHolder.clear();
        if (d.classInfo) {
            d.classInfo->release();
            d.classInfo = nullptr;
        }
        d.dotFlag = 1;
    }
    if (Object* p = prototype) {
        prototype = nullptr;
        p->dropRef();
    }
    setNativeData(nullptr);
    nextOrdinal = 0;
}

// The object is left with no slot: the root table, no cells. Values are let
// go after the object stands empty, so that releases they start find it so.
void Object::destroySlots() {
    SlotTable* oldTable = table;
    SlotCell* oldCells = cells;
    const u32 named = oldTable->size();
    SlotCell* elementCells = nullptr;
    u32 elementCount = 0, elementCapacity = 0;
    if (ElementStore* store = elementStore()) {
        elementCells = store->cells;
        elementCount = store->count;
        elementCapacity = store->capacity;
        *store = ElementStore();
        if (ArrayObject* array = static_cast<ArrayObject*>(this); array->lengthState)
            array->lengthState = 0;
    }
    table = getSpace().getRootTable();
    table->addRef();
    cells = nullptr;
    length = 0;
    auto drop = [](SlotCell& c) {
        if (c.isSlot()) {
            Property* p = c.slot;
            c.kind = SlotCell::kEmpty;
            delete p;
        } else if (c.holdsValue()) {
            c.releaseValue(SlotCell::kEmpty);
        }
    };
    for (u32 i = 0; i < named; i++)
        drop(oldCells[i]);
    for (u32 i = 0; i < elementCount; i++)
        drop(elementCells[i]);
    SlotCell::deallocate(oldCells, cellCapacity(named));
    SlotCell::deallocate(elementCells, elementCapacity);
    oldTable->release();
    if (data && data->retired)
        freeRemovedSlotsNow();
}

void Object::freeRemovedSlots() {
    if (getSpace().isIdle())
        freeRemovedSlotsNow();
}

void Object::freeRemovedSlotsNow() {
    if (!data)
        return;
    while (Property* p = data->retired) {
        data->retired = p->next;
        delete p;
    }
    data->retiredCount = 0;
}

u32 Object::getRemovedSlotCount() const { return data ? data->retiredCount : 0; }

u32 Object::liveSlotCount() const {
    u32 n = table->size() - table->getRemovedCount();
    if (ElementStore* store = elementStore())
        n += store->live;
    return n;
}

// ---------------------------------------------------------------------------
// Marking

void Object::mark() {
    if (isMarked())
        return;
    counts.locks |= kMarkBit;
    getSpace().pushMark(this);
}

void ObjectSpace::pushMark(Object* object) {
    // A leaf met while marking is marked in place, one level deep, so that
    // many small objects held together never fill the work list.
    if (marking && !leafRunning && isLeaf(*object)) {
        const LeafRun run(leafRunning);
        object->markReferences();
        return;
    }
    markStack.push_back(object);
    if (marking)
        return;
    marking = 1;
    struct Done {
        ObjectSpace& s;
        ~Done() {
            s.marking = 0;
            s.markStack.clear();
        }
    } done{*this};
    while (!markStack.empty()) {
        Object* o = markStack.back();
        markStack.pop_back();
        o->markReferences();
    }
}

void Object::markReferences() {
    if (prototype)
        prototype->mark();
    // A native value's mark may let values go; the object may get cleared.
    auto visit = [&](SlotCell& c) {
        if (c.isSlot()) {
            c.slot->mark();
            return !cleared;
        }
        if (Object* o = c.heldObject())
            o->mark();
        return true;
    };
    for (u32 i = 0; i < table->size(); i++) {
        if (!visit(cells[i])) {
            clearMark();
            return;
        }
    }
    if (ElementStore* store = elementStore()) {
        for (u32 i = 0; i < store->count; i++) {
            if (!visit(store->cells[i])) {
                clearMark();
                return;
            }
        }
    }
    if (!data)
        return;
    if (Object* o = objectOf(data->privateValue))
        o->mark();
    if (Object* o = objectOf(data->putThroughHolder))
        o->mark();
    if (data->watches)
        data->watches->forEach(
            [](i64, void** value, void*) {
                static_cast<WatchCell*>(*value)->handler->mark();
                return true;
            },
            nullptr);
}

// ---------------------------------------------------------------------------
// Slot storage

SlotCell* Object::findCell(DataPoolId symbol, i32& place) const {
    if (ElementStore* store = elementStore(); store && DataPool::isIntegerId(symbol)) {
        const u32 index = u32(symbol & DataPool::kPayloadMask);
        if (index < store->count) {
            SlotCell& c = store->cells[index];
            place = -1;
            return c.kind == SlotCell::kEmpty ? nullptr : &c;
        }
        // The table holds no element below the lowest it spilled.
        if (index < store->spillLow)
            return nullptr;
    }
    const i32 found = table->find(symbol);
    if (found < 0)
        return nullptr;
    place = found;
    return &cells[found];
}

u32 Object::cellAttributes(const SlotCell& cell, i32 place) const {
    if (cell.isSlot())
        return cell.slot->attributes;
    u32 a = place >= 0 ? table->at(u32(place)).attributes & ~SlotTable::kSlotBacked : 0;
    if (cell.kind == SlotCell::kRemoved)
        a |= kRemoved;
    return a;
}

// The compact slot becomes a Property for good: whoever asked may keep the
// pointer, and the slot's later changes go through it.
Property* Object::slotOf(SlotCell& cell, i32 place, DataPoolId symbol) {
    if (cell.isSlot())
        return cell.slot;
    Property* p = new Property(this, symbol, cellAttributes(cell, place) & ~kRemoved);
    try {
        cell.load(p->value);
    } catch (...) {
        delete p;
        throw;
    }
    if (cell.kind == SlotCell::kRemoved)
        p->attributes |= kRemoved;
    p->ordinal = cell.ordinal;
    p->state = cell.state;
    SlotCell old = cell;
    cell.kind = SlotCell::kSlot;
    cell.slot = p;
    old.releaseValue(SlotCell::kEmpty);
    return p;
}

void Object::makeTableOwned() {
    if (!table->isShared())
        return;
    SlotTable* own = table->ownedCopy();
    table->release();
    table = own;
}

// Room for the cells of newSize table entries; called before the table grows.
inline void Object::growCells(u32 newSize) {
    const u32 had = cellCapacity(table->size()), wanted = cellCapacity(newSize);
    if (wanted <= had)
        return;
    SlotCell* fresh = SlotCell::allocate(wanted);
    if (table->size())
        std::memcpy(static_cast<void*>(fresh), cells, size_t(table->size()) * sizeof(SlotCell));
    SlotCell::deallocate(cells, had);
    cells = fresh;
}

// A new entry of the table: a shared table's transition when there is one
// to take, else an entry of a table of the object's own.
inline SlotCell* Object::newTableCell(DataPoolId symbol, u32 key, i32& place) {
    const u32 n = table->size();
    if (table->isShared()) {
        if (SlotTable* next = table->extended(symbol, key)) {
            try {
                growCells(n + 1);
            } catch (...) {
                next->release();
                throw;
            }
            table->release();
            table = next;
            place = i32(n);
            cells[n].kind = SlotCell::kEmpty;
            return &cells[n];
        }
        makeTableOwned();
    }
    growCells(n + 1);
    table->append(symbol, key);
    place = i32(n);
    cells[n].kind = SlotCell::kEmpty;
    return &cells[n];
}

// A cell for a new slot: an element of the store when the store can reach
// its index, else a new entry of the table. The cell comes empty; the
// caller links it.
SlotCell* Object::newCell(DataPoolId symbol, u32 attributes, bool slotBacked, i32& place) {
    ElementStore* store = elementStore();
    if (!store || !DataPool::isIntegerId(symbol))
        return newTableCell(symbol, attributes | (slotBacked ? SlotTable::kSlotBacked : 0), place);
    const u32 index = u32(symbol & DataPool::kPayloadMask);
    if (store->cover(index) || absorbSpilled(index)) {
        place = -1;
        return &store->cells[index];
    }
    SlotCell* c = newTableCell(symbol, attributes | (slotBacked ? SlotTable::kSlotBacked : 0), place);
    store->noteSpilled(index);
    return c;
}

// A store that spans mostly holes gives its live elements to the table (its
// removed ones are off the path by now), from the top down, so that at
// every step the store ends below what the table holds; memory running out
// leaves the rest in the store.
void Object::spillSparseStore() {
    ElementStore* store = elementStore();
    if (!store || store->removed || store->count <= ElementStore::reach(store->live))
        return;
    try {
        while (store->count > 0) {
            const u32 i = store->count - 1;
            SlotCell& c = store->cells[i];
            if (c.kind != SlotCell::kEmpty) {
                if (anyElementPinned())
                    leavePins(c);
                const u32 key = c.isSlot() ? SlotTable::kSlotBacked : 0;
                i32 place;
                SlotCell* moved = newTableCell(DataPoolId(DataPool::kIntegerTag | i32(i)), key, place);
                *moved = c;
                c.kind = SlotCell::kEmpty;
                c.bits = 0;
                store->live--;
                store->noteSpilled(i);
            }
            store->count = i;
        }
    } catch (const std::bad_alloc&) {
    }
    store->shrinkTo(store->count);
}

u32 Object::takeOrdinal() {
    if (nextOrdinal == UINT32_MAX)
        renumberOrdinals();
    return nextOrdinal++;
}

// Ordinals only order the slots: before the counter would wrap, they are
// dealt out again from 0 in the same order.
void Object::renumberOrdinals() {
    std::vector<std::pair<u32, u32*>> order;
    auto add = [&](SlotCell& c) {
        if (c.isSlot())
            order.emplace_back(c.slot->ordinal, &c.slot->ordinal);
        else if (c.isPresent() || c.kind == SlotCell::kRemoved)
            order.emplace_back(c.ordinal, &c.ordinal);
    };
    for (u32 i = 0; i < table->size(); i++)
        add(cells[i]);
    if (ElementStore* store = elementStore())
        for (u32 i = 0; i < store->count; i++)
            add(store->cells[i]);
    if (traits & kArrayStore) {
        auto* array = static_cast<ArrayObject*>(this);
        if (array->lengthState)
            order.emplace_back(array->lengthOrdinal, &array->lengthOrdinal);
    }
    std::sort(order.begin(), order.end());
    u32 next = 0;
    for (auto& [old, where] : order)
        *where = next++;
    nextOrdinal = next;
}

// A new or revived slot in its cell: its ordinal, the length an index
// sets, and the counts.
void Object::linkCell(SlotCell& cell, DataPoolId symbol) {
    noteChainChange();
    cell.ordinal = takeOrdinal();
    raiseLengthFor(symbol);
}

Property* Object::searchChain(DataPoolId symbol) {
    i32 place;
    SlotCell* c = findCell(symbol, place);
    return c ? slotOf(*c, place, symbol) : nullptr;
}

bool Object::holdsSlot(const Property* slot) const {
    i32 place;
    const SlotCell* c = findCell(slot->symbol, place);
    return c && c->isSlot() && c->slot == slot;
}

namespace {

bool watchedName(const ObjectData* data, DataPoolId symbol) {
    return data && data->watches && data->watches->get(symbol);
}

}  // namespace

// A removed slot comes back: off the removed counts, onto the live ones.
void Object::countRevived(i32 place) {
    noteChainChange();
    if (place >= 0) {
        table->countRemoved(-1);
    } else if (ElementStore* store = elementStore()) {
        store->removed--;
        store->live++;
    }
}

// A new Property goes into a cell of its own; a removed one is revived in
// its cell. A Property made for a name whose cell holds another slot
// replaces it there (the old one waits with the retired slots).
Property* Object::linkProperty(Property* slot, bool revive) {
    if (watchedName(data, slot->symbol) && !(slot->attributes & kMethod))
        slot->attributes |= kWatched;
    i32 place;
    SlotCell* c = findCell(slot->symbol, place);
    if (revive) {
        slot->ordinal = takeOrdinal();
        slot->attributes &= ~kRemoved;
        slot->state = kStateWritten;
        countRevived(place);
        if (c)
            c->ordinal = slot->ordinal;
        raiseLengthFor(slot->symbol);
        return slot;
    }
    try {
        if (c) {
            if (place < 0 && anyElementPinned())
                leavePins(*c);
            const bool wasRemoved = cellRemoved(*c, place);
            if (c->isSlot()) {
                Property* old = c->slot;
                old->attributes |= kRemoved;
                retireOffPath(old, false);
            } else if (c->holdsValue()) {
                c->releaseValue(SlotCell::kEmpty);
            }
            if (wasRemoved) {
                if (place >= 0)
                    table->countRemoved(-1);
                else if (ElementStore* store = elementStore())
                    store->removed--;
            } else if (place < 0) {
                elementStore()->live--;
            }
        } else {
            c = newCell(slot->symbol, slot->attributes, true, place);
        }
    } catch (...) {
        delete slot;
        throw;
    }
    c->kind = SlotCell::kSlot;
    c->slot = slot;
    c->state = u8(slot->state);
    linkCell(*c, slot->symbol);
    slot->ordinal = c->ordinal;
    if (place < 0)
        elementStore()->live++;
    return slot;
}

// Chains are never changed here, so that callers may retire slots while they
// walk them; settleRemoved follows once the walk is over.
void Object::retireProperty(Property* slot) {
    i32 place;
    SlotCell* c = findCell(slot->symbol, place);
    if (c && c->isSlot() && c->slot == slot) {
        retireCell(*c, place);
        return;
    }
    // Not on the path (an old slot someone still holds): only marked.
    slot->attributes |= kRemoved;
    slot->clear(true);
    slot->state = kStateRemoved;
}

void Object::retireCell(SlotCell& cell, i32 place) {
    if (place >= 0 && table->isShared()) {
        // Removal is the object's own: it takes a table it may change.
        const u32 at = u32(&cell - cells);
        makeTableOwned();
        retireCell(cells[at], place);
        return;
    }
    if (place < 0 && anyElementPinned())
        leavePins(cell);
    if (cell.isSlot()) {
        Property* p = cell.slot;
        p->attributes |= kRemoved;
        p->clear(true);
        p->state = kStateRemoved;
    } else {
        cell.state = kStateRemoved;
        cell.releaseValue(SlotCell::kRemoved);
    }
    if (place >= 0) {
        table->countRemoved(1);
    } else if (ElementStore* store = elementStore()) {
        store->live--;
        store->removed++;
    }
}

void Object::settleRemoved() {
    u32 removed = table->getRemovedCount();
    if (ElementStore* store = elementStore())
        removed += store->removed;
    if (removed > std::max(kRemovedOnPathFloor, liveSlotCount()))
        takeRemovedOffPath();
}

// Removed slots leave the table and the store. While a script runs, a
// reference may still point at a removed Property, so it waits on the
// retired list; otherwise it goes at once.
void Object::takeRemovedOffPath() {
    const bool idle = getSpace().isIdle();
    if (ElementStore* store = elementStore(); store && store->removed) {
        for (u32 i = 0; i < store->count; i++) {
            SlotCell& c = store->cells[i];
            if (c.isSlot() && c.slot->isRemoved())
                retireOffPath(c.slot, idle);
            else if (c.kind != SlotCell::kRemoved)
                continue;
            c.kind = SlotCell::kEmpty;
            c.bits = 0;
        }
        store->removed = 0;
        u32 used = store->count;
        while (used > 0 && store->cells[used - 1].kind == SlotCell::kEmpty)
            used--;
        store->shrinkTo(used);
    }
    takeRemovedEntriesOffPath(idle);
    spillSparseStore();
}

void Object::takeRemovedEntriesOffPath(bool idle) {
    if (table->getRemovedCount() == 0)
        return;
    const u32 n = table->size();
    u32 kept = 0;
    for (u32 i = 0; i < n; i++)
        kept += !cellRemoved(cells[i], i32(i));
    // The smaller block first: without it nothing moves (the removed slots
    // simply stay on the path a while longer).
    std::vector<u8> keep;
    SlotCell* target;
    try {
        keep.assign(n, 1);
        target = blockForEntries(kept);
    } catch (const std::bad_alloc&) {
        return;
    }
    for (u32 i = 0; i < n; i++) {
        SlotCell& c = cells[i];
        if (!cellRemoved(c, i32(i)))
            continue;
        keep[i] = 0;
        if (c.isSlot())
            retireOffPath(c.slot, idle);
    }
    keepEntries(keep, target);
    if (ElementStore* store = elementStore()) {
        store->spilled = 0;
        store->spillLow = ElementStore::kNoSpill;
        store->spillHigh = 0;
        for (u32 i = 0; i < table->size(); i++)
            if (const DataPoolId symbol = table->at(i).symbol; DataPool::isIntegerId(symbol))
                store->noteSpilled(u32(symbol & DataPool::kPayloadMask));
    }
}

// The block the cells of kept table entries move to: a smaller one when
// the table's cells would shrink, else the cells themselves.
SlotCell* Object::blockForEntries(u32 kept) {
    const u32 had = cellCapacity(table->size()), wanted = cellCapacity(kept);
    return wanted < had && wanted > 0 ? SlotCell::allocate(wanted) : cells;
}

// Keeps the table entries whose keep[i] is set, with their cells, in order;
// the cells move to target (from blockForEntries). What the dropped cells
// held is the caller's.
void Object::keepEntries(const std::vector<u8>& keep, SlotCell* target) {
    const u32 n = table->size();
    u32 at = 0;
    for (u32 i = 0; i < n; i++)
        if (keep[i])
            target[at++] = cells[i];
    const u32 had = cellCapacity(n);
    table->compact(keep);
    if (target != cells || at == 0) {
        SlotCell::deallocate(cells, had);
        cells = at == 0 ? nullptr : target;
    }
}

void Object::retireOffPath(Property* slot, bool idle) {
    if (idle) {
        delete slot;
        return;
    }
    ObjectData& d = data_();
    slot->next = d.retired;
    d.retired = slot;
    d.retiredCount++;
}

Property* Object::createProperty(DataPoolId symbol, const Variant& value, u32 attributes) {
    if (!valid)
        return nullptr;
    Property* slot = linkProperty(new Property(this, symbol, value, attributes), false);
    notifyPropertyAdded();
    return slot;
}

Property* Object::createProperty(DataPoolId symbol, u32 attributes) {
    if (!valid)
        return nullptr;
    Property* slot = linkProperty(new Property(this, symbol, attributes), false);
    notifyPropertyAdded();
    return slot;
}

// The compact createProperty: for names the object is known not to have.
void Object::defineValue(DataPoolId symbol, const Variant& value) {
    if (!valid)
        return;
    if (!keepsCompactSlots() || watchedName(data, symbol) || getLiveObject()) {
        createProperty(symbol, value, 0);
        return;
    }
    SlotCell made = SlotCell::of(value);
    i32 place;
    SlotCell* c = newValueCell(symbol, 0, made, place);
    fillCell(*c, made, kStateCreated, symbol, place);
}

SlotCell* Object::newValueCell(DataPoolId symbol, u32 attributes, SlotCell& made, i32& place) {
    try {
        return newCell(symbol, attributes, false, place);
    } catch (...) {
        made.releaseValue(SlotCell::kEmpty);
        throw;
    }
}

void Object::fillCell(SlotCell& cell, const SlotCell& made, u32 state, DataPoolId symbol, i32 place) {
    cell = made;
    cell.state = u8(state);
    linkCell(cell, symbol);
    if (place < 0)
        elementStore()->live++;
}

Property* Object::createRefProperty(DataPoolId symbol, u32 slot, u32 attributes) {
    if (!valid)
        return nullptr;
    return linkProperty(new RefProperty(this, slot, symbol, attributes), false);
}

Property* Object::createDispatcherProperty(Dispatcher* dispatcher, const PropEntryCopy& entry,
                                           DataPoolId symbol) {
    if (!valid)
        return nullptr;
    return linkProperty(new DispatcherProperty(this, dispatcher, entry, symbol), false);
}

// A new plain slot for a write, or the removed one revived in its place; the
// value goes through the watch handler like any later write.
Property* Object::writeNewSlot(DataPoolId symbol, const Variant& value, u32 attributes,
                               Property* removed) {
    Property* slot;
    if (removed && removed->kind == Property::kRef) {
        // An alias (an argument's parameter) ends with its deletion: what is
        // written now is a property of its own.
        removeProperty(symbol, true);
        removed = nullptr;
    }
    if (removed && removed->kind == Property::kPlain) {
        removed->attributes = attributes;
        slot = linkProperty(removed, true);
    } else if (removed) {
        slot = linkProperty(removed, true);
        slot->put(this, value);
        return slot;
    } else {
        slot = createProperty(symbol, attributes);
        if (!slot)
            return nullptr;
    }
    if (slot->attributes & kWatched) {
        Variant copy(value);
        callWatchHandler(slot, copy);
        slot->value = copy;
    } else {
        slot->value = value;
    }
    slot->state = kStateWritten;
    return slot;
}

// writeNewSlot for a slot that may stay in its cell: removed (a compact
// removed slot to revive, or null) and place as findCell gave them. Slots
// that must be Properties go the Property way.
Property* Object::writeNewCell(DataPoolId symbol, const Variant& value, u32 attributes,
                               SlotCell* removed, i32 place) {
    attributes = normalized(attributes);
    const bool element = elementStore() && DataPool::isIntegerId(symbol) && (removed ? place < 0 : true);
    if (!keepsCompactSlots() || watchedName(data, symbol) || getLiveObject() ||
        (attributes & kPropertyOnlyBits) || (element && attributes != 0)) {
        // Elements in cells carry no attributes; the rest need a Property.
        Property* old = removed ? slotOf(*removed, place, symbol) : nullptr;
        return writeNewSlot(symbol, value, attributes, old);
    }
    SlotCell made = SlotCell::of(value);
    SlotCell* c = removed;
    if (c) {
        // Revived in place, with the attributes of the write; a removed
        // entry means the table is the object's own.
        if (place >= 0) {
            table->at(u32(place)).attributes = attributes;
            table->countRemoved(-1);
        } else {
            elementStore()->removed--;
        }
    } else {
        c = newValueCell(symbol, attributes, made, place);
    }
    fillCell(*c, made, kStateWritten, symbol, place);
    return nullptr;
}

// The miss the space remembers for the chain is asked here first, as the
// inherited lookup would ask it.
bool Object::takesNewValue(DataPoolId symbol, u32 flags) {
    if (data || xmlClass || (traits & kArrayStore) || !hasPlainLookup() || !table->isShared() ||
        table->find(symbol) >= 0)
        return false;
    if (!prototype)
        return true;
    ChainMemory& chains = getSpace().chains;
    if (chains.holds(chains.missAt(prototype, symbol), prototype, symbol))
        return true;
    const InheritedMember found = lookUpInherited(symbol, flags);
    return !found.slot && !found.entry;
}

// What writeNewCell does for such a write: a new entry of the shared table
// (its transition), the cell written and linked. No index is named, so no
// length changes.
void Object::addNewValue(DataPoolId symbol, const Variant& value) {
    SlotCell made = SlotCell::of(value);
    const u32 n = table->size();
    SlotTable* next = table->extended(symbol, 0);
    if (!next) {
        i32 place;
        SlotCell* c = newValueCell(symbol, 0, made, place);
        fillCell(*c, made, kStateWritten, symbol, place);
        return;
    }
    try {
        growCells(n + 1);
    } catch (...) {
        next->release();
        made.releaseValue(SlotCell::kEmpty);
        throw;
    }
    table->release();
    table = next;
    SlotCell& c = cells[n];
    c = made;
    c.state = kStateWritten;
    noteChainChange();
    c.ordinal = takeOrdinal();
}

// ---------------------------------------------------------------------------
// Writing

Property* Object::put(DataPoolId symbol, const Variant& value, u32 flags) {
    Property* removed = nullptr;
    Property* found = nullptr;
    SlotCell* own = nullptr;        // an own slot kept in its cell, live or removed
    i32 place = 0;
    bool inherited = false;
    if (!valid) {
        if (flags & kPutDefine)
            getSpace().getEngine().setError(Err::kInvalidObject);
        else
            findOwnProperty(symbol, flags | kFindOwn | kFindRemoved);
        return nullptr;
    }
    if (keepsCompactSlots()) {
        own = findCell(symbol, place);
        if (own && own->isSlot()) {
            found = own->slot;
            own = nullptr;
        } else if (!own && !(flags & kPutDefine)) {
            // Live members and class objects appear on an own miss.
            found = findOwnProperty(symbol, flags | kFindOwn | kFindRemoved);
            if (!valid)
                return nullptr;
        }
    } else if (flags & kPutDefine) {
        found = searchChain(symbol);
    } else {
        found = findOwnProperty(symbol, flags | kFindOwn | kFindRemoved);
        if (!valid)
            return nullptr;
    }
    if (found && found->isRemoved()) {
        removed = found;
        found = nullptr;
    }
    SlotCell* removedCell = own && own->kind == SlotCell::kRemoved ? own : nullptr;
    if (own && own->holdsValue()) {
        // The common write: an own slot in its cell.
        if (cellAttributes(*own, place) & kReadOnly)
            return nullptr;
        own->store(value);
        own->state = kStateWritten;
        if (Object* stored = objectOf(value))
            stored->setPutThrough(nullptr, nullptr);
        if (data && data->putThrough)
            runPutThrough();
        return nullptr;
    }
    if (!found && !(flags & kPutDefine)) {
        if (symbol == Sym::kLength && noteLengthSlot(false))
            found = materializeLengthSlot();
        else
            found = findInherited(symbol, flags);
        inherited = found != nullptr;
    }

    Property* slot;
    if (found && found->isReadOnly())
        return found;
    if (found && (!inherited || (found->isDispatcher() && !found->isMethod()))) {
        found->put(this, value);
        slot = found;
    } else if (found) {
        // Shadows the inherited slot.
        slot = removed ? writeNewSlot(symbol, value, 0, removed)
                       : writeNewCell(symbol, value, 0, removedCell, place);
        notifyPropertyAdded();
    } else if (LxCore::LiveObject* live = getLiveObject(); live && !(live->getFlags() & LxCore::kLiveDynamic)) {
        if (getSpace().getEffectiveDebugFlags() & kStrictMode)
            getSpace().getEngine().setError(Err::kNotSupported, DataPool::get().getSymbol(symbol), -1,
                                            false);
        return nullptr;
    } else {
        slot = removed ? writeNewSlot(symbol, value, flags & kPutAttributes, removed)
                       : writeNewCell(symbol, value, flags & kPutAttributes, removedCell, place);
        notifyPropertyAdded();
    }
    if (Object* stored = objectOf(value))
        stored->setPutThrough(nullptr, nullptr);
    if (data && data->putThrough)
        runPutThrough();
    return slot;
}

// Writes this changed object back into the holders it was read from, one
// level after another; a holder seen before ends the walk.
void Object::runPutThrough() {
    std::vector<Object*> seen{this};
    ObjectRef value(this);
    while (value->data && value->data->putThrough) {
        ObjectRef holder(objectOf(value->data->putThroughHolder));
        Property* p = value->data->putThrough;
        if (!holder || std::find(seen.begin(), seen.end(), holder.get()) != seen.end())
            return;
        seen.push_back(holder.get());
        if (!holder->reachesSlot(p)) {
            value->setPutThrough(nullptr, nullptr);
            return;
        }
        if (p->isReadOnly())
            return;
        Variant v(value.get());
        if ((!p->isDispatcher() || p->isMethod()) && p->owner != holder.get())
            holder->createProperty(p->symbol, v, 0);
        else
            p->put(holder.get(), v);
        value->setPutThrough(nullptr, nullptr);
        value = holder;
    }
}

// Whether the slot is linked in this object or along its prototype chain.
bool Object::reachesSlot(const Property* slot) const {
    for (const Object* o = this; o; o = o->prototype)
        if (o->holdsSlot(slot))
            return true;
    return false;
}

bool Object::deleteProperty(DataPoolId symbol) {
    if (valid && keepsCompactSlots()) {
        i32 place;
        SlotCell* c = findCell(symbol, place);
        if (c && c->holdsValue()) {
            if (cellAttributes(*c, place) & kDontDelete)
                return false;
            ReleaseBatch batch(getSpace());
            retireCell(*c, place);
            settleRemoved();
            return true;
        }
    }
    Property* p = findProperty(symbol, 0);
    if (!p)
        return true;
    if (p->attributes & kDontDelete)
        return false;
    if (!p->clear(false))
        return false;
    ReleaseBatch batch(getSpace());
    Object* owner = p->owner;
    owner->retireProperty(p);
    owner->settleRemoved();
    return true;
}

// ---------------------------------------------------------------------------
// Prototype, length, operators

// Only an object that is some object's prototype can lie on p's chain, so
// the walk that refuses a cycle is left out for the rest: every object made
// by new or a literal, which is how long chains are built.
bool Object::setPrototype(Object* p) {
    if (p == prototype)
        return true;
    if (p == this)
        return false;
    if (traits & kWasPrototype) {
        ObjectSpace& s = getSpace();
        for (Object* o = p; o; o = o->prototype) {
            s.chainSteps++;
            if (o == this)
                return false;
        }
    }
    noteChainChange();
    if (p) {
        p->addRef();
        p->traits |= kWasPrototype;
    }
    Object* old = prototype;
    prototype = p;
    if (old)
        old->dropRef();
    return true;
}

u64* Object::getHostDataSlot() { return &data_().hostData; }

Property* Object::getCallProperty() {
    for (Object* o = this; o; o = o->prototype) {
        Property* p = o->searchChain(Sym::kEmpty);
        if (p && !p->isRemoved() && p->isMethod())
            return p;
        Dispatcher* d = o->getDispatcher();
        if (!d)
            continue;
        const PropInfo* entry;
        {
            DispatcherLock lock(d);
            entry = d->findProperty(classId, Sym::kEmpty, getNativeData(), true, false);
        }
        if (entry && entry->isMethod())
            return o->createDispatcherProperty(d, *entry, Sym::kEmpty);
    }
    return nullptr;
}

void Object::materializeNativeProperties() {
    if (!data || !data->dispatcher || data->dotFlag)
        return;
    noteChainChange();
    Dispatcher* d = data->dispatcher;
    data->dispatcher = nullptr;
    LxCore::TSimpleArray<const PropInfo> rows;
    DispatcherLock lock(d);
    d->getProperties(classId, 0, rows);
    for (i32 i = 0; i < rows.getCount(); i++) {
        const PropInfo* row = rows.get(i);
        if (!row->isStatic() && row->symbol != classId)
            createDispatcherProperty(d, *row, row->symbol);
    }
}

// ---------------------------------------------------------------------------
// Calling and constructing

String Object::displayName() const {
    return pool().getSymbol(nameId ? nameId : classId);
}

void Object::call(Object*, const LxCore::BasicArray& args, Variant& result) {
    if (getLiveObject()) {
        callLive(args, result);
        return;
    }
    Property* entry = getCallProperty();
    const Variant* v = entry ? entry->get(this, kFindCallable) : nullptr;
    Object* callee = v ? objectOf(*v) : nullptr;
    if (callee && callee->asFunction()) {
        ObjectRef held(callee);
        callee->call(this, args, result);
        return;
    }
    getSpace().getEngine().setError(Err::kNotAFunction, displayName(), -1, false);
}

void Object::construct(Object* newObject, const LxCore::BasicArray& args, Variant& result) {
    if (getLiveObject() && constructLive(newObject, args, result))
        return;
    String name;
    if (classId == Sym::kFunction)
        name = nameId ? pool().getSymbol(nameId) : String("Variable");
    else
        getClassName(name);
    getSpace().getEngine().setError(Err::kNoConstructor, name, -1, false);
}

i32 Object::declareFunctions(Object*) { return 0; }

Script* Object::getScript() { return nullptr; }

LxCore::ServiceInfo* Object::getServiceInfo() { return nullptr; }

Function* Object::asFunction() { return nullptr; }

String Object::getText() { return String(); }

void Object::getScopeObjects(LxCore::SimpleArray&) {}

// ---------------------------------------------------------------------------
// The side record

ObjectData::ObjectData() {
    privateValue.setSlotFlags(Variant::kLockedReference);
    putThroughHolder.setSlotFlags(Variant::kLockedReference);
}

ObjectData::~ObjectData() {
    releaseWatches(watches);
    if (classInfo)
        classInfo->release();
}

// ---------------------------------------------------------------------------
// Watch handlers

void Object::watch(DataPoolId symbol, Function* handler) {
    if (!handler)
        return;
    ObjectData& d = data_();
    if (!d.watches)
        d.watches = new LxCore::IntHashTable;
    handler->addRef();
    if (auto* cell = static_cast<WatchCell*>(d.watches->get(symbol))) {
        Function* old = cell->handler;
        cell->handler = handler;
        old->dropRef();
    } else {
        auto* fresh = new WatchCell;
        fresh->handler = handler;
        try {
            d.watches->put(symbol, fresh);
        } catch (...) {
            delete fresh;
            handler->dropRef();
            throw;
        }
    }
    Property* p = searchChain(symbol);
    if (p && !p->isRemoved() && !p->isMethod())
        p->attributes |= kWatched;
}

void Object::unwatch(DataPoolId symbol) {
    auto* cell = data && data->watches ? static_cast<WatchCell*>(data->watches->remove(symbol))
                                       : nullptr;
    if (Property* p = searchChain(symbol))
        p->attributes &= ~kWatched;
    if (cell) {
        Function* handler = cell->handler;
        delete cell;
        handler->dropRef();
    }
}

// The handler is held for the call: it may unwatch itself.
void Object::callWatchHandler(Property* slot, Variant& newValue) {
    if (!data || !data->watches)
        return;
    auto* cell = static_cast<WatchCell*>(data->watches->get(slot->symbol));
    if (!cell)
        return;
    ObjectRef handler(cell->handler);
    LxCore::Array args(3);
    pool().getValue(slot->symbol, args.getOrCreate(0));
    if (const Variant* current = slot->get(this, 0))
        args.getOrCreate(1) = *current;
    args.getOrCreate(2) = newValue;
    Variant result;
    handler->call(this, args, result);
    if (result.getType() != Variant::kUndefined)
        newValue = result;
}

}  // namespace LxScript
