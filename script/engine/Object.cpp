// Script objects: slot chains, lookup, writing, deletion, listings, default
// values, ids, invalidation, clearing, marking and release.
#include "script/engine/Object.h"

#include <algorithm>
#include <memory>
#include <new>
#include <unordered_set>

#include "script/engine/ErrorCodes.h"
#include "script/engine/Function.h"
#include "script/engine/LiveHold.h"
#include "script/engine/Property.h"
#include "script/engine/TVContext.h"

namespace LxScript {

using LxCore::String;

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

// The listing of a large object sorts its slots; small ones do with insertion.
constexpr size_t kSmallListing = 16;

// Slot bits that say nothing of what a slot is, only of its state.
constexpr u32 kBookkeepingBits = kFetched | kWatched | kWatchpoint | kRemoved;

DataPool& pool() { return DataPool::get(); }

// Operator symbols 8 .. 32 that objects may define methods for.
bool isOverloadable(DataPoolId s) {
    static constexpr u32 kMask = 1u << (8 - 8) | 1u << (10 - 8) | 1u << (11 - 8) | 1u << (12 - 8) |
                                 1u << (13 - 8) | 1u << (14 - 8) | 1u << (15 - 8) | 1u << (16 - 8) |
                                 1u << (17 - 8) | 1u << (18 - 8) | 1u << (19 - 8) | 1u << (20 - 8) |
                                 1u << (21 - 8) | 1u << (26 - 8) | 1u << (28 - 8) | 1u << (30 - 8) |
                                 1u << (31 - 8) | 1u << (32 - 8);
    return s >= 8 && s <= 32 && (kMask >> (s - 8) & 1) != 0;
}

// Ids merged into a listing once each; a set keeps long listings linear.
class IdMerger {
public:
    explicit IdMerger(LxCore::SimpleArray& ids) : ids(ids) {}
    void add(DataPoolId id) {
        if (contains(id))
            return;
        ids.add(id);
        if (set)
            set->insert(id);
    }
    bool contains(DataPoolId id) {
        const i32 n = ids.getCount();
        if (!set && n > 32) {
            set.reset(new std::unordered_set<i32>);
            for (i32 i = 0; i < n; i++)
                set->insert(i32(ids.get(i)));
        }
        if (set)
            return set->count(id) != 0;
        for (i32 i = 0; i < n; i++)
            if (ids.get(i) == id)
                return true;
        return false;
    }

private:
    LxCore::SimpleArray& ids;
    std::unique_ptr<std::unordered_set<i32>> set;
};

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

Object::Object(ObjectSpace& s, Object* firstPrototype) : space(&s) {
    prototype = firstPrototype;
    if (prototype)
        prototype->addRef();
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

Object::~Object() {
    ReleaseBatch batch(*space);
    if (!cleared)
        Object::clear();
    if (objectId != 0 && objectId != kArgumentsId && objectId != kWorkspaceId)
        Object::setObjectID(0);
    destroySlots();
    ObjectSpace& s = *space;
    if (s.ringHead == this)
        s.ringHead = ringNext == this ? nullptr : ringNext;
    ringPrevious->ringNext = ringNext;
    ringNext->ringPrevious = ringPrevious;
    s.objectCount--;
    delete data;
}

void Object::release() {
    if (counts.references != 0)
        return;
    if (liveObject && liveObject->getRefCount() != 1)
        return;     // the native side still holds it; a collection deals with it
    if (space->queueRelease(this))
        return;
    ReleaseBatch batch(*space);
    finishRelease();
}

// Clears, then deletes unless a collection runs (the collector deletes) or
// clearing gave the object a new holder.
void Object::finishRelease() {
    // Settled on every way out: a clear that throws still lets the object go.
    struct Settle {
        Object* object;
        ~Settle() {
            if (--object->counts.references == 0 && !object->space->collecting)
                delete object;
        }
    } settle{this};
    counts.references = 1;
    clear();
}

bool ObjectSpace::queueRelease(Object* object) {
    if (!releasing)
        return false;
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

void Object::setNativeData(LxCore::Root* native) {
    if (liveObject) {
        LiveHold hold(liveObject);
        liveObject->setNativeData(native);
        if (nativeData)
            space->nativeDataMap.remove(i64(uintptr_t(nativeData) >> 4));
        nativeData = liveObject->getNativeData();
        if (nativeData)
            space->nativeDataMap.put(i64(uintptr_t(nativeData) >> 4), this);
        return;
    }
    if (native == nativeData)
        return;
    // Native data is always an LxCore::NativeData: taken with retain, ended
    // with dispose.
    if (native)
        static_cast<LxCore::NativeData*>(native)->retain();
    if (LxCore::Root* old = nativeData) {
        nativeData = nullptr;
        space->nativeDataMap.remove(i64(uintptr_t(old) >> 4));
        static_cast<LxCore::NativeData*>(old)->dispose();
    }
    nativeData = native;
    if (native)
        space->nativeDataMap.put(i64(uintptr_t(native) >> 4), this);
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
    if (liveObject) {
        LiveHold hold(liveObject);
        liveObject->setContainer(nullptr, 0);
    }
}

Engine* Object::getEngine() const { return &space->getEngine(); }

void Object::setObjectID(i32 id) {
    if (id == objectId)
        return;
    ObjectSpace& s = *space;
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
    if (liveObject)
        return liveDefaultValue(result, hint);
    Engine& engine = space->getEngine();
    StackLimitScope limit(TVContext::get(), kDefaultValueStack);
    if (!space->checkStack()) {
        result.clear();
        engine.setError(Err::kStackOverrun);
        return false;
    }
    const DataPoolId order[2] = {hint == 0 ? Sym::kValueOf : Sym::kToString,
                                 hint == 0 ? Sym::kToString : Sym::kValueOf};
    for (DataPoolId method : order) {
        get(method, result, 0);
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
    if (!liveObject && nextOrdinal == 0) {
        valid = 0;
        return;
    }
    ReleaseBatch batch(*space);
    counts.references++;
    if (LxCore::LiveObject* live = liveObject) {
        {
            LiveHold hold(live);
            live->invalidate();
        }
        setLiveObject(nullptr);
    }
    for (Property* head : buckets)
        for (Property* p = head; p; p = p->next)
            p->clear(true);
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
    ReleaseBatch batch(*space);
    while (!work.empty()) {
        ObjectRef current = work.back();
        work.pop_back();
        for (Property* head : current->buckets) {
            for (Property* p = head; p; p = p->next) {
                if (p->isRemoved() || (p->attributes & kNativeValue))
                    continue;
                const Variant* v = p->kind == Property::kPlain || p->kind == Property::kRef
                                       ? p->get(p->owner, 0)
                                       : &p->value;
                Object* held = v ? objectOf(*v) : nullptr;
                if (!held)
                    continue;
                if (held == target)
                    current->retireProperty(p);
                else if (visited.insert(held).second)
                    work.emplace_back(held);
            }
        }
        current->settleRemoved();
    }
}

Variant* Object::getLocal(u32) { return nullptr; }

void Object::setLocal(u32, const Variant&) {}

void Object::removeProperty(DataPoolId symbol, bool unlink) {
    Property* p = searchChain(symbol);
    if (!p)
        return;
    ReleaseBatch batch(*space);
    if (!p->isRemoved())
        retireProperty(p);
    if (unlink) {
        unlinkProperty(p);
        removedInChains--;
        retireOffPath(p, space->isIdle());
    }
    settleRemoved();
}

void Object::invalidateAll() {
    ReleaseBatch batch(*space);
    for (Property* head : buckets)
        for (Property* p = head; p; p = p->next)
            if (!p->isRemoved() && !(p->attributes & kSurvivesInvalidateAll))
                retireProperty(p);
    settleRemoved();
}

void Object::clearProperties(i32 level) {
    level = std::clamp(level, 0, 2);
    ReleaseBatch batch(*space);
    length = 0;
    for (Property* head : buckets) {
        for (Property* p = head; p; p = p->next) {
            if (p->isRemoved())
                continue;
            const u32 a = p->attributes;
            bool keep = p->isDispatcher() || (a & (kReadOnly | kStatic));
            if (!keep && level <= 1 && !(a & kNativeValue)) {
                Object* held = objectOf(p->value);
                keep = held && held->asFunction();
            }
            if (!keep && level == 0)
                keep = (a & kDontDelete) != 0;
            if (!keep) {
                retireProperty(p);
                continue;
            }
            u32 index;
            if (isIndexId(p->symbol, index))
                length = std::max(length, index + 1);
        }
    }
    settleRemoved();
}

void Object::clear() {
    if (cleared)
        return;
    cleared = 1;
    ReleaseBatch batch(*space);
    if (liveObject)
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

void Object::destroySlots() {
    if (slotIndex)
        dropSlotIndex();
    // Every slot on a chain is counted live or removed: with none, the
    // sixteen chains are empty (activations that never made one).
    if (liveSlots + removedInChains != 0) {
        for (Property*& head : buckets) {
            while (Property* p = head) {
                head = p->next;
                delete p;
            }
        }
    }
    if (retired)
        freeRemovedSlotsNow();
    removedInChains = 0;
    liveSlots = 0;
    length = 0;
    operatorCount = 0;
}

void Object::freeRemovedSlots() {
    if (space->isIdle())
        freeRemovedSlotsNow();
}

void Object::freeRemovedSlotsNow() {
    while (Property* p = retired) {
        retired = p->next;
        delete p;
    }
    retiredCount = 0;
}

// ---------------------------------------------------------------------------
// Marking

void Object::mark() {
    if (isMarked())
        return;
    counts.locks |= kMarkBit;
    space->pushMark(this);
}

void ObjectSpace::pushMark(Object* object) {
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
    for (Property* head : buckets) {
        for (Property* p = head; p; p = p->next) {
            p->mark();
            if (cleared) {
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
// Slots and chains

Property* Object::searchChain(DataPoolId symbol) {
    if (slotIndex)
        return static_cast<Property*>(slotIndex->get(symbol));
    Property** head = &buckets[symbol & 15];
    Property* p = *head;
    if (!p || p->symbol == symbol)
        return p;
    for (Property* previous = p; (p = previous->next); previous = p) {
        if (p->symbol == symbol) {
            previous->next = p->next;
            p->next = *head;
            *head = p;
            return p;
        }
    }
    return nullptr;
}

bool Object::holdsSlot(const Property* slot) const {
    for (const Property* p = buckets[slot->symbol & 15]; p; p = p->next)
        if (p == slot)
            return true;
    return false;
}

Property* Object::linkProperty(Property* slot, bool revive) {
    slot->ordinal = nextOrdinal++;
    if (data && data->watches && !(slot->attributes & kMethod) && data->watches->get(slot->symbol))
        slot->attributes |= kWatched;
    if (revive) {
        slot->attributes &= ~kRemoved;
        slot->state = kStateWritten;
        removedInChains--;
    } else {
        try {
            indexSlot(slot);
        } catch (...) {
            delete slot;
            throw;
        }
        Property*& head = buckets[slot->symbol & 15];
        slot->next = head;
        head = slot;
    }
    liveSlots++;
    u32 index;
    if (isIndexId(slot->symbol, index))
        length = std::max(length, index + 1);
    else if (isOverloadable(slot->symbol))
        operatorCount++;
    return slot;
}

void Object::unlinkProperty(Property* slot) {
    unindexSlot(slot);
    Property** link = &buckets[slot->symbol & 15];
    while (*link && *link != slot)
        link = &(*link)->next;
    if (*link)
        *link = slot->next;
    slot->next = nullptr;
}

// Objects with fewer slots on their chains than this search the chains.
constexpr u32 kIndexedFrom = 48;

// A slot about to go on a chain. When the index cannot take it, the
// exception goes on with nothing changed: dropping the index instead would
// rebuild it at every later put, a crawl that never reports the shortage.
void Object::indexSlot(Property* slot) {
    if (slotIndex) {
        slotIndex->put(slot->symbol, slot);
        return;
    }
    if (liveSlots + removedInChains + 1 < kIndexedFrom)
        return;
    std::unique_ptr<LxCore::IntHashTable> index(new LxCore::IntHashTable);
    for (Property* head : buckets)
        for (Property* p = head; p; p = p->next)
            index->put(p->symbol, p);
    index->put(slot->symbol, slot);
    slotIndex = index.release();
}

void Object::unindexSlot(const Property* slot) {
    if (slotIndex && slotIndex->get(slot->symbol) == slot)
        slotIndex->remove(slot->symbol);
}

void Object::dropSlotIndex() {
    delete slotIndex;
    slotIndex = nullptr;
}

// Chains are never changed here, so that callers may retire slots while they
// walk them; settleRemoved follows once the walk is over.
void Object::retireProperty(Property* slot) {
    slot->attributes |= kRemoved;
    slot->clear(true);
    slot->state = kStateRemoved;
    liveSlots--;
    removedInChains++;
}

void Object::settleRemoved() {
    if (removedInChains > std::max(kRemovedOnPathFloor, liveSlots))
        takeRemovedOffPath();
}

// Removed slots leave the chains. While a script runs, a reference may still
// point at one, so it waits on the retired list; otherwise it goes at once.
void Object::takeRemovedOffPath() {
    const bool idle = space->isIdle();
    for (Property*& head : buckets) {
        Property** link = &head;
        while (Property* p = *link) {
            if (!p->isRemoved()) {
                link = &p->next;
                continue;
            }
            *link = p->next;
            unindexSlot(p);
            retireOffPath(p, idle);
        }
    }
    removedInChains = 0;
}

void Object::retireOffPath(Property* slot, bool idle) {
    if (idle) {
        delete slot;
        return;
    }
    slot->next = retired;
    retired = slot;
    retiredCount++;
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

// ---------------------------------------------------------------------------
// Lookup

Property* Object::findOwnProperty(DataPoolId symbol, u32 flags) {
    if (valid) {
        Property* p = searchChain(symbol);
        if (p && !(p->attributes & kRemoved))
            return p;
        if (p && (flags & kFindRemoved))
            return p;
        if (p && xmlClass && liveObject) {
            p->attributes &= ~kRemoved;
            p->state = kStateWritten;
            removedInChains--;
            liveSlots++;
            return p;
        }
        if (liveObject)
            if (Property* member = findLiveProperty(symbol, flags))
                return member;
        if (objectId == kGlobalObjectId && DataPool::isUpperCase(symbol) && symbol >= Sym::kReflection)
            return findClassObject(symbol);
        return nullptr;
    }
    space->getEngine().setError(Err::kInvalidObject);
    return nullptr;
}

Property* Object::findProperty(DataPoolId symbol, u32 flags) {
    Property* p = findOwnProperty(symbol, flags);
    if (p || (flags & kFindOwn) || !valid)
        return p;
    return findInherited(symbol, flags);
}

// A live own slot is what every class's lookup answers first, and a plain
// slot's value is the slot's own: the common read costs no virtual call.
Property* Object::get(DataPoolId symbol, Variant& out, u32 flags) {
    Property* p = valid ? searchChain(symbol) : nullptr;
    if (!p || (p->attributes & kRemoved))
        p = findProperty(symbol, flags);
    const Variant* v = !p ? nullptr
                       : p->kind == Property::kPlain && !(p->attributes & kReResolve)
                           ? &p->value
                           : p->get(this, flags);
    if (v)
        out = *v;
    else
        out.clear();
    return p;
}

Property* Object::findInherited(DataPoolId symbol, u32 flags) {
    const InheritedMember found = lookUpInherited(symbol, flags);
    if (!found.entry)
        return found.slot;
    Object* owner = found.entry->isMethod() ? found.holder : this;
    return owner->createDispatcherProperty(found.through, *found.entry, symbol);
}

// The inherited lookup's walk, making nothing: a plain slot met on the way,
// or the native row a read would make a slot of.
Object::InheritedMember Object::lookUpInherited(DataPoolId symbol, u32 flags) {
    InheritedMember found;
    const u32 ownFlags = flags & ~(kFindOwn | kFindRemoved);
    Object* start = data && data->dispatcher ? this : prototype;
    for (Object* p = start; p; p = p->prototype) {
        if (p != this) {
            if (!p->valid) {
                space->getEngine().setError(Err::kInvalidObject);
                return found;
            }
            if ((found.slot = p->findOwnProperty(symbol, ownFlags)) != nullptr)
                return found;
        }
        Dispatcher* d = p->getDispatcher();
        if (d && findDispatcherMember(p, d, symbol, found))
            return found;
    }
    return found;
}

// Native members belong where a read puts them: a method to the object whose
// table serves it (shared by all that inherit from it), a value to the
// object itself. XML objects answer their own names.
const PropInfo* Object::findOwnNativeEntry(DataPoolId symbol) {
    if (xmlClass || !valid)
        return nullptr;
    const InheritedMember found = lookUpInherited(symbol, 0);
    if (!found.entry || (found.entry->isMethod() && found.holder != this))
        return nullptr;
    return found.entry;
}

bool Object::findDispatcherMember(Object* holder, Dispatcher* d, DataPoolId symbol,
                                  InheritedMember& found) {
    const PropInfo* entry = findDispatcherEntry(holder, d, symbol);
    Dispatcher* through = d;
    if (!entry && space->isDefaultDispatcher(d)) {
        Dispatcher* other = d == space->getDefaultDispatcher(0) ? space->getDefaultDispatcher(1)
                                                                : space->getDefaultDispatcher(0);
        if (other) {
            DispatcherLock lock(other);
            entry = other->findProperty(other->getClassID(0), symbol, nativeData, false, false);
            through = other;
        }
    }
    if (!entry)
        return false;
    found.entry = entry;
    found.through = through;
    found.holder = holder;
    return true;
}

// Under the dispatcher's lock. With dot rows, an index asks ".index" then
// ".number", another number ".number", a name its row then ".name"; what a
// dot row offers counts only when its probe answers.
const PropInfo* Object::findDispatcherEntry(Object* holder, Dispatcher* d, DataPoolId symbol) {
    DispatcherLock lock(d);
    const DataPoolId cls = holder->classId;
    if (!holder->data || !holder->data->dotFlag)
        return d->findProperty(cls, symbol, nativeData, false, false);
    const PropInfo* dot = nullptr;
    if (isIndexId(symbol)) {
        dot = d->findProperty(cls, Sym::kIndexEntry, nativeData, true, false);
        if (!dot)
            dot = d->findProperty(cls, Sym::kNumberEntry, nativeData, true, false);
    } else if (pool().isNumber(symbol)) {
        dot = d->findProperty(cls, Sym::kNumberEntry, nativeData, true, false);
    } else {
        const PropInfo* named = d->findProperty(cls, symbol, nativeData, false, false);
        if (named && !(named->flags & kHidden))
            return named;
        dot = d->findProperty(cls, Sym::kNameEntry, nativeData, true, false);
    }
    return dot && probeDotEntry(*this, *d, *dot, symbol) ? dot : nullptr;
}

// ---------------------------------------------------------------------------
// Writing

Property* Object::put(DataPoolId symbol, const Variant& value, u32 flags) {
    Property* removed = nullptr;
    Property* found = nullptr;
    bool inherited = false;
    if (!(flags & kPutDefine)) {
        found = findOwnProperty(symbol, flags | kFindOwn | kFindRemoved);
        if (!valid)
            return nullptr;
        if (found && found->isRemoved()) {
            removed = found;
            found = nullptr;
        }
        if (!found) {
            found = findInherited(symbol, flags);
            inherited = found != nullptr;
        }
    } else if (valid) {
        Property* own = searchChain(symbol);
        if (own && own->isRemoved())
            removed = own;
        else
            found = own;
    } else {
        space->getEngine().setError(Err::kInvalidObject);
        return nullptr;
    }

    Property* slot;
    if (found && found->isReadOnly())
        return found;
    if (found && (!inherited || (found->isDispatcher() && !found->isMethod()))) {
        found->put(this, value);
        slot = found;
    } else if (found) {
        slot = writeNewSlot(symbol, value, 0, removed);     // shadows the inherited slot
        notifyPropertyAdded();
    } else if (liveObject && !(liveObject->getFlags() & LxCore::kLiveDynamic)) {
        if (space->getEffectiveDebugFlags() & kStrictMode)
            space->getEngine().setError(Err::kNotSupported, DataPool::get().getSymbol(symbol), -1,
                                        false);
        return nullptr;
    } else {
        slot = writeNewSlot(symbol, value, flags & kPutAttributes, removed);
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
    Property* p = findProperty(symbol, 0);
    if (!p)
        return true;
    if (p->attributes & kDontDelete)
        return false;
    if (!p->clear(false))
        return false;
    ReleaseBatch batch(*space);
    Object* owner = p->owner;
    owner->retireProperty(p);
    owner->settleRemoved();
    return true;
}

void Object::invalidateRange(u32 from, u32 to) {
    ReleaseBatch batch(*space);
    for (Property* head : buckets) {
        for (Property* p = head; p; p = p->next) {
            u32 index;
            if (!p->isRemoved() && isIndexId(p->symbol, index) && index >= from && index <= to)
                retireProperty(p);
        }
    }
    settleRemoved();
}

// ---------------------------------------------------------------------------
// Prototype, length, operators

bool Object::setPrototype(Object* p) {
    if (p == prototype)
        return true;
    for (Object* o = p; o; o = o->prototype)
        if (o == this)
            return false;
    if (p)
        p->addRef();
    Object* old = prototype;
    prototype = p;
    if (old)
        old->dropRef();
    return true;
}

u32 Object::getLength() {
    if (LxCore::LiveCollection* c = collectionOf(liveObject)) {
        LiveHold hold(liveObject);
        u32 n;
        if (c->getLength(n) == 0)
            length = n;
    }
    return length;
}

void Object::setLength(u32 value) {
    length = value;
    if (LxCore::LiveCollection* c = collectionOf(liveObject)) {
        LiveHold hold(liveObject);
        c->setLength(value);
    }
}

Dispatcher* Object::getDispatcher() const { return data ? data->dispatcher : nullptr; }

u64* Object::getHostDataSlot() { return &data_().hostData; }

Property* Object::findOperator(DataPoolId symbol) {
    for (Object* o = this; o; o = o->prototype) {
        if (!o->valid) {
            space->getEngine().setError(Err::kInvalidObject);
            return nullptr;
        }
        if (o->operatorCount > 0) {
            Property* p = o->searchChain(symbol);
            if (p && !p->isRemoved())
                return p;
        }
        if (o->liveObject && o->liveObject->hasOperators())
            if (Property* p = findLiveOperator(o->liveObject, symbol))
                return p;
        Dispatcher* d = o->getDispatcher();
        if (d && d->hasOperators(o->classId)) {
            const PropInfo* entry;
            {
                DispatcherLock lock(d);
                entry = d->findProperty(o->classId, symbol, nativeData, false, false);
            }
            if (entry && entry->isMethod())
                return o->createDispatcherProperty(d, *entry, symbol);
        }
    }
    return nullptr;
}

bool Object::hasOperators() {
    for (Object* o = this; o; o = o->prototype) {
        if (!o->valid) {
            space->getEngine().setError(Err::kInvalidObject);
            return false;
        }
        if (o->operatorCount > 0 || (o->liveObject && o->liveObject->hasOperators()))
            return true;
        Dispatcher* d = o->getDispatcher();
        if (d && d->hasOperators(o->classId))
            return true;
    }
    return false;
}

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
            entry = d->findProperty(classId, Sym::kEmpty, nativeData, true, false);
        }
        if (entry && entry->isMethod())
            return o->createDispatcherProperty(d, *entry, Sym::kEmpty);
    }
    return nullptr;
}

void Object::materializeNativeProperties() {
    if (!data || !data->dispatcher || data->dotFlag)
        return;
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

// The global object's class objects made on first use: a registered live
// class, an error class, or what the embedding's callback knows.
Property* Object::findClassObject(DataPoolId symbol) {
    const String name = DataPool::get().getSymbol(symbol);
    ObjectSpace& s = *space;
    ObjectRef made;
    u32 attributes = kReadOnly | kDontEnum | kDontDelete;
    if (LxCore::LiveObject* factory = LxCore::LiveObject::findClass(name, 0x10000)) {
        made = ObjectRef::adopt(new LiveObjectFunction(s, symbol, symbol, LiveObjectFunction::kSelf));
        made->setLiveObject(factory);
        if (factory->getFlags() & LxCore::kLiveBuiltIn)
            attributes |= kBuiltIn;
    } else if (LxCore::Error::isErrorClass(name)) {
        Dispatcher* errors = s.getDispatcherByID(Sym::kError);
        const PropInfo* entry = nullptr;
        if (errors) {
            DispatcherLock lock(errors);
            entry = errors->findProperty(Sym::kError, Sym::kError, nullptr, true, false);
        }
        if (!entry)
            return nullptr;
        made = ObjectRef::adopt(new DispatcherFunction(s, errors, *entry, symbol));
        made->setNameID(symbol);
        made->asFunction()->setPrototypeObject(s.errorPrototype);
        attributes |= kBuiltIn;
    } else {
        u32 hookFlags = 0;
        bool known = false;
        made = classObjectFromCallback(symbol, hookFlags, known);
        if (!made && known)
            return nullptr;
        if (!made) {
            Callback* callback = s.getEngine().getCallback();
            if (!callback || !callback->isValidClassName(s.getEngine(), name))
                return nullptr;
            made = ObjectRef::adopt(new Function(s, symbol));
            made->asFunction()->setPlaceholder(true);
        } else if (hookFlags & 2) {
            attributes |= kReResolve;
        }
    }
    return createProperty(symbol, Variant(made.get()), attributes);
}

// The class object the embedding's callback gives for a name: the wrapper of
// its live object, a function exactly when the hook's flags have bit 1.
// known: the callback gave a live object.
ObjectRef Object::classObjectFromCallback(DataPoolId symbol, u32& hookFlags, bool& known) {
    known = false;
    Engine& engine = space->getEngine();
    Callback* callback = engine.getCallback();
    if (!callback)
        return ObjectRef();
    const String name = DataPool::get().getSymbol(symbol);
    LxCore::LiveObject* live = callback->getClassObject(engine, name, hookFlags);
    if (!live)
        return ObjectRef();
    known = true;
    const bool asFunction = (hookFlags & 1) != 0;
    if (Object* existing = space->findObjectOfLiveObject(live))
        if ((existing->asFunction() != nullptr) == asFunction)
            return ObjectRef(existing);
    ObjectRef wrapper;
    if (asFunction) {
        wrapper = ObjectRef::adopt(
            new LiveObjectFunction(*space, symbol, symbol, LiveObjectFunction::kSelf));
    } else {
        wrapper = ObjectRef::adopt(new Object(*space));
        wrapper->setClassID(symbol);
    }
    wrapper->setLiveObject(live);
    return wrapper;
}

String Object::displayName() const {
    return pool().getSymbol(nameId ? nameId : classId);
}

void Object::call(Object*, const LxCore::BasicArray& args, Variant& result) {
    if (liveObject) {
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
    space->getEngine().setError(Err::kNotAFunction, displayName(), -1, false);
}

void Object::construct(Object* newObject, const LxCore::BasicArray& args, Variant& result) {
    if (liveObject && constructLive(newObject, args, result))
        return;
    String name;
    if (classId == Sym::kFunction)
        name = nameId ? pool().getSymbol(nameId) : String("Variable");
    else
        getClassName(name);
    space->getEngine().setError(Err::kNoConstructor, name, -1, false);
}

i32 Object::declareFunctions(Object*) { return 0; }

Script* Object::getScript() { return nullptr; }

LxCore::ServiceInfo* Object::getServiceInfo() { return nullptr; }

Function* Object::asFunction() { return nullptr; }

String Object::getText() { return String(); }

void Object::getScopeObjects(LxCore::SimpleArray&) {}


// ---------------------------------------------------------------------------
// Listings

namespace {

bool passesFilter(Property* p, u32 filter) {
    const u32 a = p->getAttributes();
    if ((a & kRemoved) && !(filter & kListRemoved))
        return false;
    if ((filter & kListNoBuiltIn) && (a & kBuiltIn))
        return false;
    if ((a & kHidden) && !(filter & kListHidden))
        return false;
    if ((a & kDontEnum) && !(filter & kListDontEnum))
        return false;
    if (p->isMethodLike())
        return (filter & kListMethods) != 0;
    return (filter & ((a & kReadOnly) ? kListReadOnly : kListWritable)) != 0;
}

}  // namespace

bool Property::isMethodLike() const {
    if (attributes & kMethod)
        return true;
    if (kind != kPlain || (attributes & ~kBookkeepingBits) != 0)
        return false;
    Object* o = objectOf(value);
    return o && o->asFunction();
}

// Own slots in creation order: the passing slots sorted by ordinal, so that
// the cost follows the live slots, not the ordinals ever handed out.
void Object::collectOwnIDs(LxCore::SimpleArray& ids, u32 filter) {
    std::vector<Property*> passing;
    passing.reserve(liveSlots);
    Property* emptyName = nullptr;
    bool hasLength = false;
    for (Property* head : buckets) {
        for (Property* p = head; p; p = p->next) {
            if (p->symbol == Sym::kLength)
                hasLength = true;
            if (!passesFilter(p, filter))
                continue;
            if (p->symbol == Sym::kEmpty)
                emptyName = p;
            else
                passing.push_back(p);
        }
    }
    auto byOrdinal = [](const Property* a, const Property* b) { return a->ordinal < b->ordinal; };
    if (passing.size() <= kSmallListing) {
        for (size_t i = 1; i < passing.size(); i++)
            for (size_t j = i; j > 0 && byOrdinal(passing[j], passing[j - 1]); j--)
                std::swap(passing[j], passing[j - 1]);
    } else {
        std::sort(passing.begin(), passing.end(), byOrdinal);
    }
    IdMerger merged(ids);
    for (Property* p : passing)
        merged.add(p->symbol);
    if (!hasLength && (filter & kListDontEnum) && !(filter & kListMethods) &&
        (classId == Sym::kArray || collectionOf(liveObject)))
        merged.add(Sym::kLength);
    if (emptyName)
        merged.add(Sym::kEmpty);
}

void Object::getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter) {
    if ((objectId == kPrototypeId || objectId == kGlobalObjectId) && getDispatcher()) {
        Dispatcher* d = getDispatcher();
        LxCore::SimpleArray native;
        {
            DispatcherLock lock(d);
            d->getEnumerableProperties(Variant(receiver), native, i32(filter));
        }
        IdMerger merged(ids);
        for (i32 i = 0; i < native.getCount(); i++)
            merged.add(DataPoolId(native.get(i)));
    }
    if (liveObject)
        collectLiveIDs(ids, filter);
    collectOwnIDs(ids, filter);
}

void Object::getPropertyIDs(LxCore::SimpleArray& ids, u32 filter) {
    ids.setCount(0);
    ids.setGrowBy(64);
    getIDs(this, ids, filter);
    if (!(filter & kListOwnOnly))
        for (Object* p = prototype; p && p->classId == classId; p = p->prototype)
            p->getIDs(this, ids, filter);
    constexpr u32 kAllThree = kListReadOnly | kListWritable | kListDontEnum;
    if (!(filter & kListNoBuiltIn) && objectId != kWorkspaceId && (filter & kAllThree) == kAllThree)
        IdMerger(ids).add(Sym::kProto);
    if (objectId == kGlobalObjectId && data && data->dispatcher &&
        data->dispatcher == space->getDefaultDispatcher(1) && space->getDefaultDispatcher(0)) {
        Dispatcher* saved = data->dispatcher;
        data->dispatcher = space->getDefaultDispatcher(0);
        struct Restore {
            ObjectData* d;
            Dispatcher* saved;
            ~Restore() { d->dispatcher = saved; }
        } restore{data, saved};
        getIDs(this, ids, filter);
    }
}

// ---------------------------------------------------------------------------
// Bulk access

i32 Object::getPropertyValues(LxCore::THashTable<Variant>& out, u32 filter, LxCore::Error* err) {
    Engine& engine = space->getEngine();
    LxCore::Error saved = engine.getError();
    engine.clearError();
    LxCore::SimpleArray ids;
    getPropertyIDs(ids, filter);
    i32 code = 0;
    for (i32 i = 0; i < ids.getCount() && code == 0; i++) {
        const DataPoolId symbol = DataPoolId(ids.get(i));
        Variant value;
        get(symbol, value, 0);
        code = engine.getError().getCode();
        if (code == 0)
            out.put(pool().getSymbol(symbol), new Variant(value));
    }
    if (code != 0 && err)
        *err = engine.getError();
    engine.restoreError(saved);
    return code;
}

i32 Object::putPropertyValues(const LxCore::THashTable<Variant>& values, LxCore::Error* err) {
    Engine& engine = space->getEngine();
    LxCore::Error saved = engine.getError();
    engine.clearError();
    LxCore::THashTable<Variant> copy(values);
    LxCore::SimpleArray entries;
    copy.getEntries(entries);
    i32 code = 0;
    for (i32 i = 0; i < entries.getCount() && code == 0; i++) {
        auto* e = reinterpret_cast<LxCore::THashTable<Variant>::Entry*>(entries.get(i));
        Variant value(e->value);
        space->importValue(value, true);
        put(pool().add(e->key.chars()), value, 0);
        code = engine.getError().getCode();
    }
    if (code != 0 && err)
        *err = engine.getError();
    engine.restoreError(saved);
    return code;
}

bool Object::getElements(LxCore::Array& out) {
    out.setLength(0);
    if (classId != Sym::kArray)
        return false;
    for (Property* head : buckets) {
        for (Property* p = head; p; p = p->next) {
            u32 index;
            if (p->isRemoved() || !isIndexId(p->symbol, index))
                continue;
            const Variant* v = p->get(this, 0);
            out.getOrCreate(index) = v ? *v : Variant();
        }
    }
    return true;
}

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

}  // namespace LxScript
