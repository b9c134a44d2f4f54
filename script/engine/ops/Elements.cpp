// Elements in place: a[i], a[i] = v, a[i] op= v and ++/-- of a[i] when a is
// an array whose store holds the element the key names. The element is
// read and written in its cell, with no name made for the key and no
// Property made of the element; whatever else (a hole, a removed element,
// an index past the store, a key that is no integer, E4X, any receiver
// without a store) goes the general way, getReference's.
#include "script/engine/ops/References.h"

#include "script/engine/access/Cells.h"
#include "script/engine/ops/Assignments.h"
#include "script/engine/Function.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace LxScript {

namespace {

// The store index a key names: a number that is an integer below count. -0
// names 0, as the data pool gives it 0's id; NaN, fractions, negative and
// larger numbers name no cell of the store.
inline bool storeIndexOf(const Variant& key, u32 count, u32& at) {
    if (key.getType() != Variant::kNumber)
        return false;
    const f64 d = key.toNumber();
#if defined(__SSE2__) && defined(__x86_64__)
    // The truncation gives the least 64-bit integer for NaN and for numbers
    // out of its range, which name no cell and give no d back.
    const i64 whole = _mm_cvttsd_si64(_mm_set_sd(d));
    if (u64(whole) >= count || f64(whole) != d)
        return false;
    at = u32(whole);
    return true;
#else
    if (!(d >= 0 && d < f64(count)))
        return false;
    at = u32(d);
    return f64(at) == d;
#endif
}

// Whether a compact element of holder takes value as its Property's write
// would, with nothing else to do: no put-through link on the holder, and a
// value whose own put-through link has nothing to clear (no side record).
inline bool putsThrough(const Object& holder) {
    const ObjectData* d = holder.getData();
    return d && d->putThrough;
}

inline bool storesPlainly(const Object& holder, const Variant& value) {
    if (putsThrough(holder))
        return false;
    const Object* stored = objectOf(value);
    return !stored || !stored->getData();
}

// The live cell of holder's store that key names and that holds its value
// itself (no Property), or null: any other cell, key or receiver goes the
// general way.
[[gnu::always_inline]] inline SlotCell* valueCellOf(jsRunner& runner, Object& holder, const Variant& key, u32& at) {
    ElementStore* store = holder.elementStore();
    if (!store || !holder.isValidByte() || runner.errorPending() || !storeIndexOf(key, store->count, at))
        return nullptr;
    SlotCell& cell = store->cells[at];
    return cell.holdsValue() ? &cell : nullptr;
}

// The same for a number.
[[gnu::always_inline]] inline SlotCell* numberCellOf(jsRunner& runner, Object& holder, const Variant& key) {
    u32 at;
    SlotCell* cell = valueCellOf(runner, holder, key, at);
    return cell && cell->isNumber() ? cell : nullptr;
}

// A value cell's value, a number's in place.
[[gnu::always_inline]] inline void loadCell(const SlotCell& cell, Variant& result) {
    if (cell.isNumber())
        result.setNumber(cell.number);
    else
        cell.load(result);
}

// The cell kinds whose value converts to a number without running script.
inline bool isPrimitiveCell(const SlotCell& cell) { return cell.kind <= SlotCell::kString; }

// The value of a live element, read as its Property would give it; a
// Property's own read may run native code, so the holder is held then.
inline void readCell(Object& holder, const SlotCell& cell, Variant& result) {
    if (cell.isNumber()) {
        result.setNumber(cell.number);
    } else if (!cell.isSlot()) {
        cell.load(result);
    } else {
        readSlot(*cell.slot, &holder, result);
    }
}

// The update's value into result: a sum grows target's text in place.
inline Status runUpdate(jsRunner& runner, jsOpcode& update, jsOpBinary* append, Variant& result,
                        AppendTarget& target) {
    return append ? append->executeAppending(runner, result, target) : update.execute(runner, result);
}

// A compact element that updateElement writes back into its cell: its text
// while the cell still holds it and the write will only replace it.
class ElementTarget final : public AppendTarget {
public:
    ElementTarget(Object& array, u32 at, const ElementPin& pin) : array(array), at(at), pin(pin) {}
    LxCore::String* text(jsRunner&) override {
        ElementStore* store = array.elementStore();
        if (pin.made || array.isCleared() || !store || at >= store->count || putsThrough(array))
            return nullptr;
        SlotCell& cell = store->cells[at];
        return cell.kind == SlotCell::kString ? &cell.string() : nullptr;
    }

private:
    Object& array;
    u32 at;
    const ElementPin& pin;
};

}  // namespace

SlotCell* liveElementAt(const jsRunner& runner, Object* o, u32 index) {
    ElementStore* store = o ? o->elementStore() : nullptr;
    if (!store || !o->isValidByte() || index >= store->count)
        return nullptr;
    SlotCell& cell = store->cells[index];
    return cellIsLive(cell) ? &cell : nullptr;
}

// As the local's own peek, without the call.
[[gnu::always_inline]] inline Object* jsOpIndex::localReceiver(jsRunner& runner) const {
    return u32(receiverSlot) < runner.getSlotCount() ? objectOf(*runner.slot(receiverSlot)) : nullptr;
}

[[gnu::always_inline]] inline Object* jsOpIndex::peekReceiver(jsRunner& runner) const {
    if (!inCells)
        return nullptr;
    return receiverSlot >= 0 ? localReceiver(runner) : object->peekObject(runner);
}

// As the local's own read, in place.
[[gnu::always_inline]] inline const Variant* jsOpIndex::localKey(jsRunner& runner) const {
    return key.peekLocal(runner);
}

[[gnu::always_inline]] inline Status jsOpIndex::executeIndex(jsRunner& runner, Variant& key) {
    if (const Variant* local = localKey(runner)) {
        key = *local;
        return kStatusOK;
    }
    return this->key.run(runner, key);
}

[[gnu::always_inline]] inline Status jsOpIndex::evaluateInPlace(jsRunner& runner, Reference& reference,
                                                                Variant& key, u32 flags) {
    if (Object* direct = receiverSlot >= 0 ? localReceiver(runner) : object->peekObject(runner)) {
        direct->addRef();
        reference.object = direct;
        return executeIndex(runner, key);
    }
    return evaluate(runner, reference, key, flags);
}

[[gnu::always_inline]] inline SlotCell* jsOpIndex::elementOf(jsRunner& runner, Reference& reference, const Variant& key, u32& at) const {
    Object* o = reference.object;
    if (!inCells || !o || runner.errorPending())
        return nullptr;
    ElementStore* store = o->elementStore();
    if (!store || !o->isValidByte() || !storeIndexOf(key, store->count, at))
        return nullptr;
    SlotCell& cell = store->cells[at];
    if (!cellIsLive(cell))
        return nullptr;
    reference.symbol = DataPoolId(DataPool::kIntegerTag | i32(at));
    reference.member = 1;
    return &cell;
}

// As assignReference stores into the element's own plain Property: an
// anonymous function takes the index as its inferred name, the cell the
// value.
void jsOpProperty::storeElement(DataPoolId symbol, SlotCell& cell, const Variant& value) {
    if (storeNumberOver(cell, value))
        return;
    if (Object* stored = objectOf(value))
        if (Function* function = stored->asFunction())
            if (function->getNameID() == Sym::kAnonymous && function->getInferredName() == 0)
                function->setInferredName(symbol);
    cell.store(value);
    cell.state = u8(kStateWritten);
}

// An element already held as a Property is the slot the lookup would
// find; a compact one gets its Property made by the lookup, as callers
// keep the slot.
Status jsOpIndex::getReference(jsRunner& runner, Reference& reference, u32 flags) {
    Variant key;
    if (const Status status = evaluate(runner, reference, key, flags))
        return status;
    u32 at;
    SlotCell* cell = elementOf(runner, reference, key, at);
    if (!cell || !cell->isSlot())
        return lookUp(runner, reference, key, flags);
    Property* found = cell->slot;
    if ((flags & kRefForCall) && (found->getAttributes() & kNativeBacked) && !(found->getAttributes() & kMethod))
        found = nullptr;
    reference.property = found;
    return runner.status();
}


// A number element is read in its cell with no Reference. With the
// receiver and the key locals of the frame nothing runs meanwhile, so
// nothing is held and no frame is set up; any other key is evaluated with
// the receiver held, as the index may run script that lets go of it.
Status jsOpIndex::execute(jsRunner& runner, Variant& result) {
    if (bothLocal)
        if (Object* direct = localReceiver(runner))
            if (const Variant* key = localKey(runner))
                if (const SlotCell* cell = numberCellOf(runner, *direct, *key)) {
                    result.setNumber(cell->number);
                    return kStatusOK;
                }
    return readPeeked(runner, result);
}

Status jsOpIndex::readPeeked(jsRunner& runner, Variant& result) {
    Object* direct = peekReceiver(runner);
    if (!direct)
        return readGeneral(runner, result, attribute);
    u32 at;
    if (const Variant* local = localKey(runner)) {
        if (const SlotCell* cell = valueCellOf(runner, *direct, *local, at)) {
            loadCell(*cell, result);
            return kStatusOK;
        }
    }
    direct->addRef();
    Variant key;
    if (const Status status = executeIndex(runner, key)) {
        direct->dropRef();
        return status;
    }
    if (const SlotCell* cell = valueCellOf(runner, *direct, key, at)) {
        loadCell(*cell, result);
        direct->dropRef();
        return kStatusOK;
    }
    return readKeyed(runner, direct, key, result);
}

Status jsOpIndex::readGeneral(jsRunner& runner, Variant& result, bool peek) {
    Reference reference;
    Variant key;
    if (const Status status = peek ? evaluateInPlace(runner, reference, key, 0) : evaluate(runner, reference, key, 0))
        return status;
    return readThrough(runner, reference, key, result);
}

Status jsOpIndex::readKeyed(jsRunner& runner, Object* receiver, const Variant& key, Variant& result) {
    Reference reference;
    reference.object = receiver;
    return readThrough(runner, reference, key, result);
}

Status jsOpIndex::readThrough(jsRunner& runner, Reference& reference, const Variant& key, Variant& result) {
    u32 at;
    if (SlotCell* cell = elementOf(runner, reference, key, at)) {
        if (cell->isNumber()) {
            result.setNumber(cell->number);
            return kStatusOK;
        }
        if (!cell->isSlot()) {
            cell->load(result);
            return kStatusOK;
        }
        takeValue(cell->slot->get(reference.object, 0), result);
        return runner.status();
    }
    if (const Status status = lookUp(runner, reference, key, 0))
        return status;
    return getReferenceValue(runner, reference, result, false);
}

// A number into a number element: the cell takes it in place, as
// storeElement would, on the same terms as the read.
[[gnu::always_inline]] inline bool storesNumber(Object& holder, const Variant& value) {
    return value.getType() == Variant::kNumber && !putsThrough(holder);
}

// value into the value cell of element at, a number over a number in place.
[[gnu::always_inline]] inline void jsOpIndex::writeCell(SlotCell& cell, u32 at, const Variant& value) {
    if (!storeNumberOver(cell, value))
        storeElement(DataPoolId(DataPool::kIntegerTag | i32(at)), cell, value);
}

Status jsOpIndex::assign(jsRunner& runner, const Variant& value) {
    if (bothLocal)
        if (Object* direct = localReceiver(runner))
            if (const Variant* key = localKey(runner))
                if (SlotCell* cell = storesNumber(*direct, value) ? numberCellOf(runner, *direct, *key) : nullptr) {
                    writeNumber(*cell, value.toNumber());
                    return kStatusOK;
                }
    return assignPeeked(runner, value);
}

Status jsOpIndex::assignPeeked(jsRunner& runner, const Variant& value) {
    Object* direct = peekReceiver(runner);
    if (!direct)
        return assignGeneral(runner, value, attribute);
    u32 at;
    if (const Variant* local = localKey(runner)) {
        if (SlotCell* cell = storesPlainly(*direct, value) ? valueCellOf(runner, *direct, *local, at) : nullptr) {
            writeCell(*cell, at, value);
            return kStatusOK;
        }
    }
    direct->addRef();
    Variant key;
    if (const Status status = executeIndex(runner, key)) {
        direct->dropRef();
        return status;
    }
    if (SlotCell* cell = storesPlainly(*direct, value) ? valueCellOf(runner, *direct, key, at) : nullptr) {
        writeCell(*cell, at, value);
        direct->dropRef();
        return kStatusOK;
    }
    return assignKeyed(runner, direct, key, value);
}

Status jsOpIndex::assignGeneral(jsRunner& runner, const Variant& value, bool peek) {
    Reference reference;
    Variant key;
    if (const Status status = peek ? evaluateInPlace(runner, reference, key, kRefQuiet)
                                   : evaluate(runner, reference, key, kRefQuiet))
        return status;
    return assignThrough(runner, reference, key, value);
}

Status jsOpIndex::assignKeyed(jsRunner& runner, Object* receiver, const Variant& key, const Variant& value) {
    Reference reference;
    reference.object = receiver;
    return assignThrough(runner, reference, key, value);
}

Status jsOpIndex::assignThrough(jsRunner& runner, Reference& reference, const Variant& key, const Variant& value) {
    u32 at;
    SlotCell* cell = elementOf(runner, reference, key, at);
    if (!cell) {
        if (const Status status = lookUp(runner, reference, key, kRefQuiet))
            return status;
    } else if (cell->isSlot()) {
        reference.property = cell->slot;
    } else if (storesPlainly(*reference.object, value)) {
        storeElement(reference.symbol, *cell, value);
        return kStatusOK;
    } else {
        reference.property = reference.object->elementSlot(at);
    }
    assignReference(reference, value);
    return runner.status();
}

Status jsOpIndex::assignCompound(jsRunner& runner, jsOpcode& update, jsOpBinary* append, Variant& result) {
    Reference reference;
    if (bothLocal)      // no key to evaluate: the element straight to its update
        if (Object* direct = localReceiver(runner))
            if (const Variant* local = localKey(runner)) {
                u32 at;
                if (valueCellOf(runner, *direct, *local, at)) {
                    reference.setObject(direct);
                    reference.symbol = DataPoolId(DataPool::kIntegerTag | i32(at));
                    reference.member = 1;
                    return updateElement(runner, reference, at, update, append, result);
                }
            }
    Variant key;
    if (const Status status = evaluateInPlace(runner, reference, key, kRefQuiet))
        return status;
    u32 at;
    SlotCell* cell = elementOf(runner, reference, key, at);
    if (cell && !cell->isSlot())
        return updateElement(runner, reference, at, update, append, result);
    if (cell) {
        reference.property = cell->slot;
        takeValue(cell->slot->get(reference.object, 0), result);
    } else {
        if (const Status status = lookUp(runner, reference, key, kRefQuiet))
            return status;
        if (reference.object)
            reference.object->get(reference.symbol, result, 0);
        else
            result.clear();
    }
    if (runner.errorPending())
        return runner.status();
    ReferenceTarget into(reference);
    if (const Status status = runUpdate(runner, update, append, result, into))
        return status;
    assignReference(reference, result);
    return runner.status();
}

// The compact element at `at` combined with its right side. That side may
// run script; the pin sends the write to the element's Property should the
// script remove or replace the element meanwhile.
Status jsOpIndex::updateElement(jsRunner& runner, Reference& reference, u32 at, jsOpcode& update,
                                jsOpBinary* append, Variant& result) {
    Object& array = *reference.object;
    loadCell(array.elementStore()->cells[at], result);
    Property* made;
    {
        ElementPin pin(array, at);
        ElementTarget into(array, at, pin);
        const Status status = runUpdate(runner, update, append, result, into);
        made = pin.made;
        if (status)
            return status;
    }
    ElementStore* store = array.elementStore();
    if (made) {
        reference.property = made;
    } else if (array.isCleared() || at >= store->count) {
        return runner.status();     // the element went with every slot of the array
    } else if (SlotCell& cell = store->cells[at]; cell.isSlot()) {
        reference.property = cell.slot;
    } else if (storesPlainly(array, result)) {
        writeCell(cell, at, result);
        return runner.status();
    } else {
        reference.property = array.elementSlot(at);
    }
    assignReference(reference, result);
    return runner.status();
}

Status jsOpIndex::step(jsRunner& runner, Reference& reference, f64 delta, bool postfix, Variant& result,
                       bool& done) {
    if (bothLocal)      // as the read: nothing runs, nothing is held
        if (Object* direct = localReceiver(runner))
            if (const Variant* local = localKey(runner))
                if (SlotCell* cell = putsThrough(*direct) ? nullptr : numberCellOf(runner, *direct, *local)) {
                    const f64 x = cell->number;
                    writeNumber(*cell, x + delta);
                    result.setNumber(postfix ? x : x + delta);
                    done = true;
                    return kStatusOK;
                }
    Variant key;
    if (const Status status = evaluateInPlace(runner, reference, key, 0))
        return status;
    u32 at;
    SlotCell* cell = elementOf(runner, reference, key, at);
    if (!cell)
        return lookUp(runner, reference, key, 0);
    if (cell->isSlot()) {
        reference.property = cell->slot;
        return kStatusOK;
    }
    // An object's value may run script: the general way, with its Property.
    if (!isPrimitiveCell(*cell) || putsThrough(*reference.object)) {
        reference.property = reference.object->elementSlot(at);
        return kStatusOK;
    }
    f64 x;
    if (cell->isNumber()) {
        x = cell->number;
    } else {
        cell->load(result);
        x = result.toNumber();
    }
    result.setNumber(x + delta);
    storeElement(reference.symbol, *cell, result);
    if (postfix)
        result.setNumber(x);
    done = true;
    return kStatusOK;
}

}  // namespace LxScript

namespace LxScript {

// ---------------------------------------------------------------------------
// object[12]: a constant index names its element without a key to convert.

Status jsOpProperty::readElement(jsRunner& runner, Variant& result) {
    if (Object* receiver = object->peekObject(runner))
        return readElementOf(runner, receiver, result);
    Variant value;
    if (const Status status = object->execute(runner, value))
        return status;
    if (Object* receiver = objectOf(value))
        return readElementOf(runner, receiver, result);
    return readOfValue(runner, value, result);
}

// The receiver is held by whoever gave it.
Status jsOpProperty::readElementOf(jsRunner& runner, Object* receiver, Variant& result) {
    if (SlotCell* cell = liveElementAt(runner, receiver, element)) {
        readCell(*receiver, *cell, result);
        return runner.status();
    }
    return readByLookup(runner, receiver, result);
}

Object* jsOpProperty::peekElement(jsRunner& runner) const {
    const SlotCell* cell = liveElementAt(runner, object->peekObject(runner), element);
    if (!cell)
        return nullptr;
    if (!cell->isSlot())
        return cell->heldObject();
    const Property* slot = cell->slot;
    if (slot->getKind() != Property::kPlain || (slot->getAttributes() & kReResolve))
        return nullptr;
    return objectOf(cell->slot->cachedValue());
}

// As jsOpIndex::assign, the value computed already.
Status jsOpProperty::assignElement(jsRunner& runner, const Variant& value) {
    Reference reference;
    reference.symbol = symbol;
    if (const Status status = referObject(runner, reference, kRefQuiet))
        return status;
    SlotCell* cell = runner.errorPending() ? nullptr : liveElementAt(runner, reference.object, element);
    if (!cell) {
        if (const Status status = findMember(runner, reference, kRefQuiet))
            return status;
    } else if (cell->isSlot()) {
        reference.property = cell->slot;
        reference.member = 1;
    } else if (storesPlainly(*reference.object, value)) {
        storeElement(reference.symbol, *cell, value);
        return kStatusOK;
    } else {
        reference.property = reference.object->elementSlot(element);
        reference.member = 1;
    }
    assignReference(reference, value);
    return runner.status();
}

}  // namespace LxScript
