// Script objects: an array's element store, its elements' pins, its
// length and its native "length" slot.
#include "script/engine/ObjectInternals.h"

#include <algorithm>

#include "script/engine/LiveHold.h"

namespace LxScript {

using namespace objectmodel;

namespace {

// Spilled elements come back into an array's store only while they are at
// least this share (1 in kSpilledShare) of its table's entries.
constexpr u32 kSpilledShare = 4;

}  // namespace

namespace objectmodel {

namespace {

// The innermost pin of this thread's operations.
thread_local ElementPin* pins = nullptr;

}  // namespace

bool anyElementPinned() { return pins != nullptr; }

}  // namespace objectmodel

Property* Object::elementSlot(u32 index) {
    return slotOf(elementStore()->cells[index], -1, DataPoolId(DataPool::kIntegerTag | i32(index)));
}

ElementPin::ElementPin(Object& pinned, u32 at) : array(&pinned), index(at), outer(pins) { pins = this; }

ElementPin::~ElementPin() { pins = outer; }

void Object::leavePins(SlotCell& cell) {
    ElementStore* store = elementStore();
    for (ElementPin* pin = pins; pin; pin = pin->outer)
        if (pin->array == this && !pin->made && store->cells + pin->index == &cell)
            pin->made = elementSlot(pin->index);
}

// The spilled elements come into the store, which grows up to the highest
// of them or index, when it would hold them all densely with the element
// at index. They must be a fair share of the table too: the walk of the
// table is then paid by the elements it moves. All or nothing: false,
// with every element where it was, when they stay (or memory ran out).
bool Object::absorbSpilled(u32 index) {
    ElementStore& store = *elementStore();
    const u32 top = std::max(store.spillHigh, index);
    const u64 held = u64(store.live) + store.spilled + 1;
    if (store.spilled == 0 || !ElementStore::isStoreIndex(index) || top >= ElementStore::reach(held) ||
        u64(store.spilled) * kSpilledShare < table->size())
        return false;
    const u32 n = table->size();
    u32 moving = 0;
    for (u32 i = 0; i < n; i++)
        moving += DataPool::isIntegerId(table->at(i).symbol);
    std::vector<u8> keep;
    SlotCell* target;
    try {
        makeTableOwned();
        // A store cell carries no attributes: a live element with some
        // becomes a Property first.
        for (u32 i = 0; i < n; i++) {
            const SlotTable::Entry& e = table->at(i);
            if (DataPool::isIntegerId(e.symbol) && cells[i].holdsValue() &&
                (e.attributes & ~SlotTable::kSlotBacked) != 0)
                slotOf(cells[i], i32(i), e.symbol);
        }
        store.reserve(top + 1);
        keep.assign(n, 1);
        target = blockForEntries(n - moving);
    } catch (const std::bad_alloc&) {
        return false;
    }
    store.extendTo(top + 1);
    u32 removedLeft = table->getRemovedCount();
    for (u32 i = 0; i < n; i++) {
        const DataPoolId symbol = table->at(i).symbol;
        if (!DataPool::isIntegerId(symbol))
            continue;
        SlotCell& c = cells[i];
        const bool wasRemoved = cellRemoved(c, i32(i));
        store.cells[u32(symbol & DataPool::kPayloadMask)] = c;
        if (wasRemoved) {
            store.removed++;
            removedLeft--;
        } else {
            store.live++;
        }
        keep[i] = 0;
    }
    keepEntries(keep, target);
    table->countRemoved(i32(removedLeft));
    store.spilled = 0;
    store.spillLow = ElementStore::kNoSpill;
    store.spillHigh = 0;
    return true;
}

// Looking "length" up on an array whose prototype is the Array class's
// prototype makes the class's native length slot on the array itself (the
// row is a value, and values belong to the instance). Arrays read and set
// their length all the time, so that slot is kept as the ordinal and state
// it would have had, and made (materializeLengthSlot) only when someone
// needs it as a Property: a listing, a lookup, a write through a reference.
// False when the array is not one whose lookup makes it: the caller goes
// the general way then.
bool Object::noteLengthSlot(bool written) {
    if (!(traits & kArrayStore))
        return false;
    auto& array = static_cast<ArrayObject&>(*this);
    if (array.lengthState) {
        if (written)
            array.lengthState = u8(kStateWritten);
        return true;
    }
    if (!array.valid || array.classId != Sym::kArray || (array.traits & Object::kNoPlainLookup) ||
        array.objectId != 0 || (array.data && (array.data->watches || array.data->dispatcher)))
        return false;
    i32 place;
    if (array.findCell(Sym::kLength, place))
        return false;
    Object* proto = array.prototype;
    if (!proto || !proto->valid || proto->classId != Sym::kArray || proto->objectId != kPrototypeId ||
        !proto->getDispatcher() || proto->findCell(Sym::kLength, place))
        return false;
    array.lengthOrdinal = array.takeOrdinal();
    array.lengthState = u8(written ? kStateWritten : kStateCreated);
    return true;
}

Property* Object::materializeLengthSlot() {
    auto& array = static_cast<ArrayObject&>(*this);
    const u32 ordinal = array.lengthOrdinal;
    const u8 state = array.lengthState;
    array.lengthState = 0;
    for (Object* p = prototype; p; p = p->prototype) {
        Dispatcher* d = p->getDispatcher();
        if (!d)
            continue;
        InheritedMember found;
        if (!findDispatcherMember(p, d, Sym::kLength, found))
            return nullptr;
        Object* owner = found.entry->isMethod() ? found.holder : this;
        Property* slot = owner->createDispatcherProperty(found.through, *found.entry, Sym::kLength);
        if (slot && slot->owner == this) {
            slot->ordinal = ordinal;
            slot->state = state;
            i32 place;
            if (SlotCell* c = findCell(Sym::kLength, place))
                c->ordinal = ordinal;
        }
        return slot;
    }
    return nullptr;
}

void Object::invalidateRange(u32 from, u32 to) {
    ReleaseBatch batch(getSpace());
    for (u32 i = 0; i < table->size(); i++) {
        u32 index;
        if (!cellRemoved(cells[i], i32(i)) && isIndexId(table->at(i).symbol, index) && index >= from &&
            index <= to)
            retireCell(cells[i], i32(i));
    }
    if (ElementStore* store = elementStore(); store && from < store->count) {
        const u32 last = std::min(to, store->count - 1);
        for (u32 i = from; i <= last; i++) {
            SlotCell& c = store->cells[i];
            if (c.kind != SlotCell::kEmpty && !cellRemoved(c, -1))
                retireCell(c, -1);
        }
    }
    settleRemoved();
}

u32 Object::getLength() {
    LxCore::LiveObject* live = getLiveObject();
    if (LxCore::LiveCollection* c = collectionOf(live)) {
        LiveHold hold(live);
        u32 n;
        if (c->getLength(n) == 0)
            length = n;
    }
    return length;
}

void Object::setLength(u32 value) {
    length = value;
    LxCore::LiveObject* live = getLiveObject();
    if (LxCore::LiveCollection* c = collectionOf(live)) {
        LiveHold hold(live);
        c->setLength(value);
    }
}

bool Object::getElements(LxCore::Array& out) {
    out.setLength(0);
    if (classId != Sym::kArray)
        return false;
    auto visit = [&](DataPoolId symbol, SlotCell& c, i32 place) {
        u32 index;
        if (cellRemoved(c, place) || !isIndexId(symbol, index))
            return;
        Variant& slot = out.getOrCreate(index);
        if (c.isSlot()) {
            const Variant* v = c.slot->get(this, 0);
            slot = v ? *v : Variant();
        } else {
            c.load(slot);
        }
    };
    forEachPlace(visit);
    return true;
}

}  // namespace LxScript
