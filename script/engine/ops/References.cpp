// Reference operations and reading through a reference.
#include "script/engine/ops/References.h"

#include "core/CharClass.h"
#include "core/ErrorCodes.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Function.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"
#include "script/engine/Workspace.h"
#include "script/engine/access/Cells.h"
#include "script/engine/ops/Literals.h"
#include "script/frontend/Node.h"

namespace LxScript {

void readSlotThrough(Property& slot, Object* holder, Variant& result) {
    const ObjectRef hold(holder);
    takeValue(slot.get(holder, 0), result);
}

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

DataPool& pool() { return DataPool::get(); }

// The lookup flags a reference passes on to the object.
constexpr u32 kLookupFlags = kFindCallable | kFindOwn | kFindMakeXMLChild;

bool isIdentifier(const String& name) {
    if (name.isEmpty() || !LxCore::isIdentifierStart(name[0]))
        return false;
    for (i32 i = 1; i < name.length(); i++)
        if (!LxCore::isIdentifierPart(name[i]))
            return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading through a reference

// The object a slot holds when reading it runs nothing (no getter, no
// class object asked for again); null otherwise.
static Object* plainObjectOf(Property* slot) {
    if (!slot || slot->getKind() != Property::kPlain || (slot->getAttributes() & kReResolve))
        return nullptr;
    return objectOf(slot->cachedValue());
}

Status getReferenceValue(jsRunner& runner, Reference& reference, Variant& result, bool report) {
    if (!reference.property) {
        result.clear();
        RealEngine& engine = *runner.engine;
        if (Callback* callback = engine.getCallback()) {
            Variant holder(reference.object);
            Variant name;
            pool().getValue(reference.symbol, name);
            if (callback->undefinedError(engine, holder, name, result) &&
                result.getType() != Variant::kUndefined && reference.object)
                reference.property = reference.object->createProperty(reference.symbol, result, 0);
        }
        if (!reference.property) {
            result.clear();
            if (!report)
                return runner.status();
            engine.setError(Err::kUndefined, pool().getSymbol(reference.symbol), -1, false);
            return runner.status();
        }
    }
    takeValue(reference.property->get(reference.object, 0), result);
    return runner.status();
}

Status readName(jsRunner& runner, DataPoolId symbol, Variant& result) {
    Reference reference;
    reference.symbol = symbol;
    runner.resolveForRead(symbol, reference, 0);
    return getReferenceValue(runner, reference, result, true);
}

// ---------------------------------------------------------------------------
// Names

jsOpVariable::jsOpVariable(DataPoolId symbol, bool attribute) : symbol(symbol), attribute(attribute) {}

Status jsOpVariable::getReference(jsRunner& runner, Reference& reference, u32 flags) {
    reference.symbol = symbol;
    runner.resolveForRead(symbol, reference, flags);
    return kStatusOK;
}

Status jsOpVariable::execute(jsRunner& runner, Variant& result) {
    Reference reference;
    if (const Status status = getReference(runner, reference, 0))
        return status;
    return getReferenceValue(runner, reference, result, true);
}

Status jsOpVariable::evaluateQuietly(jsRunner& runner, Variant& result) { return execute(runner, result); }

Status jsOpVariable::assign(jsRunner& runner, const Variant& value) {
    Reference reference;
    if (const Status status = getReference(runner, reference, kRefQuiet))
        return status;
    assignReference(reference, value);
    return runner.status();
}

Object* jsOpVariable::peekObject(jsRunner& runner) const {
    if (attribute || !is(OpKind::kName))
        return nullptr;     // a plain name only, not the kinds built on it
    Reference reference;
    runner.resolveForRead(symbol, reference, 0);
    return plainObjectOf(reference.property);
}

void jsOpVariable::appendSource(String& out) const { out += pool().getSymbol(symbol); }

void jsOpVariable::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeSymbol(symbol);
    writer.writeBool(attribute);
}

// ---------------------------------------------------------------------------
// Free names

namespace {

// An activation among a function's closure scopes (not a with or catch
// object, not the global object), or null.
Workspace* activationAt(const LxCore::SimpleArray& closure, u32 i) {
    auto* scope = reinterpret_cast<Object*>(closure.get(i32(i)));
    return scope->getObjectID() == kWorkspaceId ? static_cast<Workspace*>(scope) : nullptr;
}

// The serial of an activation's scope; 0 (no scope's) for anything else.
u64 scopeSerial(const Workspace* activation) {
    const ScopeInfo* info = activation ? activation->getScopeInfo() : nullptr;
    return info ? info->serial : 0;
}

}  // namespace

// The names every activation answers itself never take the remembered way.
jsOpName::jsOpName(DataPoolId symbol, bool attribute)
    : jsOpVariable(symbol, attribute),
      cacheable(!attribute && symbol != 0 && symbol != kNameArguments && symbol != Sym::kCallee) {}

inline bool jsOpName::framePasses(jsRunner& runner) const {
    Workspace* scope = runner.peekScope();
    if (runner.scriptLevel)
        return scope && scope == runner.engine->getGlobalObject() && !scope->getWithChain();
    if (runner.function->getNameID() == symbol)
        return false;
    return !scope || (!scope->getWithChain() && scope->slotTable()->find(symbol) < 0);
}

// An activation whose scope does not declare the name (the serial says
// which scope it is), that has no own slot of it (an eval's var) and whose
// function is not called so.
bool jsOpName::passes(Object* scope, u64 serial) const {
    if (scope->getObjectID() != kWorkspaceId || !scope->isValidByte())
        return false;
    auto* activation = static_cast<Workspace*>(scope);
    if (scopeSerial(activation) != serial || activation->slotTable()->find(symbol) >= 0)
        return false;
    const Object* callee = activation->getCallee();
    return !callee || callee->getNameID() != symbol;
}

inline bool jsOpName::matchHit(jsRunner& runner, Found& found) const {
    if (hit.kind == NameHit::kNone || !framePasses(runner))
        return false;
    const LxCore::SimpleArray* closure = runner.scriptLevel ? nullptr : &runner.function->closureScopes();
    const u32 count = closure ? u32(closure->getCount()) : 0;
    if (hit.kind == NameHit::kClosure ? count <= hit.depth : count != hit.depth)
        return false;
    for (u32 i = 0; i < hit.depth; i++)
        if (!passes(reinterpret_cast<Object*>(closure->get(i32(i))), hit.scopes[i]))
            return false;
    if (hit.kind == NameHit::kClosure) {
        Workspace* holder = activationAt(*closure, hit.depth);
        if (scopeSerial(holder) != hit.scopes[hit.depth] || !holder->isValidByte() ||
            hit.place >= holder->getSlotCount())
            return false;
        found.holder = holder;
        found.value = holder->getSlot(i32(hit.place));
        return true;
    }
    Object* global = runner.engine->getGlobalObject();
    if (!global || !global->isValidByte())
        return false;
    const SlotTable* table = global->slotTable();
    if (table->getSerial() != hit.table || hit.place >= table->size() || table->at(hit.place).symbol != symbol)
        return false;
    SlotCell* c = global->cellAt(hit.place);
    if (!c->isSlot() || c->slot->isRemoved())
        return false;
    found.holder = global;
    found.property = c->slot;
    return true;
}

// The walk of the general lookup over a frame and closure scopes that hold
// nothing but activations, remembered when it ends at a local of one of
// them or at an own slot of the global object.
bool jsOpName::remember(jsRunner& runner, Found& found) const {
    if (refills >= kMaxRefills || !fastPathsOn(runner))
        return false;
    refills++;
    hit.kind = NameHit::kNone;
    if (!framePasses(runner))
        return false;
    NameHit made;
    if (!runner.scriptLevel) {
        const ScopeInfo* own = runner.body ? runner.body->getScopeInfo() : nullptr;
        if (own && own->lookup(symbol) != 0)
            return false;
        const LxCore::SimpleArray& closure = runner.function->closureScopes();
        const u32 count = u32(closure.getCount());
        if (count > NameHit::kMaxScopes)
            return false;
        for (u32 i = 0; i < count; i++) {
            Workspace* activation = activationAt(closure, i);
            made.scopes[i] = scopeSerial(activation);
            if (!made.scopes[i])
                return false;
            i32 index;
            if (Workspace::resolveLocal(activation->getScopeInfo(), symbol, index)) {
                made.kind = NameHit::kClosure;
                made.depth = u8(i);
                made.place = u32(index);
                hit = made;
                runner.engine->noteCacheFill();
                return matchHit(runner, found);
            }
            if (!passes(activation, made.scopes[i]))
                return false;
        }
        made.depth = u8(count);
    }
    Object* global = runner.engine->getGlobalObject();
    const i32 place = global ? global->slotTable()->find(symbol) : -1;
    if (place < 0)
        return false;
    made.kind = NameHit::kGlobal;
    made.place = u32(place);
    made.table = global->slotTable()->getSerial();
    hit = made;
    runner.engine->noteCacheFill();
    return matchHit(runner, found);
}

inline bool jsOpName::lookUp(jsRunner& runner, Found& found) const {
    return cacheable && (matchHit(runner, found) || remember(runner, found));
}

Status jsOpName::execute(jsRunner& runner, Variant& result) {
    Found found;
    if (!lookUp(runner, found))
        return readGeneral(runner, result);
    if (found.value) {
        result = *found.value;
        return runner.status();
    }
    readSlot(*found.property, found.holder, result);
    return runner.status();
}

Status jsOpName::readGeneral(jsRunner& runner, Variant& result) {
    Reference reference;
    if (const Status status = jsOpVariable::getReference(runner, reference, 0))
        return status;
    return getReferenceValue(runner, reference, result, true);
}

// A local of an enclosing activation is named by the Property its own
// lookup gives.
Status jsOpName::getReference(jsRunner& runner, Reference& reference, u32 flags) {
    Found found;
    if (lookUp(runner, found)) {
        Property* slot = found.property
                             ? found.property
                             : static_cast<Workspace*>(found.holder)->findOwnProperty(symbol, flags & (kFindCallable | kFindOwn));
        if (slot) {
            reference.symbol = symbol;
            reference.setObject(found.holder);
            reference.property = slot;
            return kStatusOK;
        }
    }
    return jsOpVariable::getReference(runner, reference, flags);
}

Object* jsOpName::peekObject(jsRunner& runner) const {
    Found found;
    if (!lookUp(runner, found))
        return jsOpVariable::peekObject(runner);
    return found.value ? objectOf(*found.value) : plainObjectOf(found.property);
}

Object* jsOpName::findCallee(jsRunner& runner) const {
    Found found;
    if (!lookUp(runner, found))
        return nullptr;
    const Variant* value = found.value;
    if (!value) {
        Property* slot = found.property;
        if (slot->getKind() != Property::kPlain || (slot->getAttributes() & kReResolve))
            return nullptr;
        value = &slot->cachedValue();
    }
    return objectOf(*value);
}

// ---------------------------------------------------------------------------
// object.name

jsOpProperty::jsOpProperty(jsOpcode* object, DataPoolId symbol, bool attribute)
    : jsOpVariable(symbol, attribute),
      object(object),
      cacheable(!attribute && symbol != Sym::kEmpty && symbol != Sym::kPrototype && !isIndexId(symbol)) {
    if (!attribute && DataPool::isIntegerId(symbol) && !GeneralBuild::on())
        element = u32(symbol & DataPool::kPayloadMask);
}

jsOpProperty::~jsOpProperty() { delete object; }

Status jsOpProperty::referObject(jsRunner& runner, Reference& reference, u32 flags) {
    // this.x and local.x: no value copied, no holder made.
    if (Object* direct = object->peekObject(runner)) {
        reference.setObject(direct);
        return kStatusOK;
    }
    Variant value;
    jsOpVariable* quiet = (flags & kRefQuiet) ? object->asVariable() : nullptr;
    if (const Status status = quiet ? quiet->evaluateQuietly(runner, value) : object->execute(runner, value))
        return status;
    return referValue(runner, reference, value);
}

// A failed conversion raised an error; should a host callback have cleared
// it, the reference goes on without an object.
Status jsOpProperty::referValue(jsRunner& runner, Reference& reference, const Variant& value) {
    ObjectRef holder;
    if (!toObjectValue(runner, value, holder))
        return runner.status();
    reference.setObject(holder.get());
    return kStatusOK;
}

Status jsOpProperty::findMember(jsRunner& runner, Reference& reference, u32 flags) {
    if (reference.object)
        reference.property = reference.object->findProperty(symbol, flags & kLookupFlags);
    reference.member = 1;
    return runner.status();
}

// ---- the site's remembered hits

namespace {

// An object whose own lookup answers from its cells first, as the base
// lookup does: not the global object or an activation (scope objects) nor
// an arguments object, and no live object behind it.
bool answersFromCells(const Object* o) {
    const i32 id = o->getObjectID();
    const ObjectData* data = o->getData();
    return o->isValidByte() && (id >= 0 || id == kPrototypeId) && !(data && data->liveObject);
}

// A cell the general lookup would answer with.
bool liveCell(const SlotCell& c) { return c.isSlot() ? !c.slot->isRemoved() : c.holdsValue(); }

}  // namespace

inline bool jsOpProperty::passesOn(Object* o) const {
    // An array's own "length" may be kept outside its cells.
    return o->hasPlainLookup() && !(symbol == Sym::kLength && o->elementStore());
}

inline SlotCell* jsOpProperty::matchHit(const PropertyHit& hit, Object* receiver) const {
    Object* o = receiver;
    for (u32 i = 0; i < hit.depth; i++) {
        if (o->slotTable()->getSerial() != hit.tables[i] || !passesOn(o))
            return nullptr;
        o = o->getPrototype();
        if (!o)
            return nullptr;
    }
    if (o->slotTable()->getSerial() != hit.tables[hit.depth] || !answersFromCells(o))
        return nullptr;
    SlotCell* c = o->cellAt(hit.place);
    return liveCell(*c) ? c : nullptr;
}

// The walk of the general lookup over objects whose lookups are all their
// shared tables, making nothing.
SlotCell* jsOpProperty::walkChain(Object* receiver, u32 flags, u32& depth) const {
    RealEngine& engine = static_cast<RealEngine&>(receiver->getSpace().getEngine());
    if (engine.takesGeneralPaths())
        return nullptr;
    PropertyHit found;
    Object* o = receiver;
    for (u32 d = 0;; d++) {
        const SlotTable* table = o->slotTable();
        if (!table->isShared())
            return nullptr;
        found.tables[d] = table->getSerial();
        const i32 place = table->find(symbol);
        if (place >= 0) {
            SlotCell* c = o->cellAt(u32(place));
            if (!answersFromCells(o) || !liveCell(*c))
                return nullptr;
            found.place = u32(place);
            found.depth = d;
            hits[nextHit] = found;
            nextHit = u8((nextHit + 1) % kHits);
            engine.noteCacheFill();
            depth = d;
            return c;
        }
        if (d == PropertyHit::kMaxDepth || (flags & kRefOwnOnly) || !passesOn(o))
            return nullptr;
        o = o->getPrototype();
        if (!o)
            return nullptr;
    }
}

inline SlotCell* jsOpProperty::lookUpCell(Object* receiver, u32 flags, u32& depth) const {
    for (const PropertyHit& hit : hits) {
        if (SlotCell* c = matchHit(hit, receiver)) {
            if (hit.depth && (flags & kRefOwnOnly))
                return nullptr;
            depth = hit.depth;
            return c;
        }
    }
    return walkChain(receiver, flags, depth);
}

// ---- reading

Status jsOpProperty::getReference(jsRunner& runner, Reference& reference, u32 flags) {
    reference.symbol = symbol;
    if (const Status status = referObject(runner, reference, flags))
        return status;
    // A remembered slot that is a Property already; a slot still in its
    // cell becomes one the general way.
    u32 depth;
    SlotCell* c = cacheable && reference.object ? lookUpCell(reference.object, flags, depth) : nullptr;
    if (c && c->isSlot()) {
        reference.property = c->slot;
        reference.member = 1;
        return runner.status();
    }
    return findMember(runner, reference, flags);
}

Status jsOpProperty::execute(jsRunner& runner, Variant& result) {
    if (!cacheable)
        return element != kNoElement ? readElement(runner, result) : readGeneral(runner, result);
    if (Object* receiver = object->peekObject(runner))
        return readFrom(runner, receiver, result);
    Variant value;
    if (const Status status = object->execute(runner, value))
        return status;
    if (Object* receiver = objectOf(value))
        return readFrom(runner, receiver, result);
    return readOfValue(runner, value, result);
}

Status jsOpProperty::readGeneral(jsRunner& runner, Variant& result) {
    if (symbol == Sym::kLength && is(OpKind::kProperty) && !object->peekObject(runner))
        return readLength(runner, result);
    Reference reference;
    if (const Status status = getReference(runner, reference, 0))
        return status;
    return getReferenceValue(runner, reference, result, false);
}

// The receiver is held by whoever gave it for as long as reading a cell
// runs nothing; a slot's own read may run native code, so it is held then.
Status jsOpProperty::readFrom(jsRunner& runner, Object* receiver, Variant& result) {
    // An array's length, as the library reads it: with no "length" in its
    // own table the lookup below could find nothing, its walk stopping at
    // the array.
    if (symbol == Sym::kLength && receiver->elementStore() && receiver->slotTable()->find(symbol) < 0 &&
        receiver->noteLengthSlot(false)) {
        result.setNumber(f64(receiver->getStoredLength()));
        return kStatusOK;
    }
    u32 depth;
    if (SlotCell* c = lookUpCell(receiver, 0, depth)) {
        if (c->isNumber()) {
            result.setNumber(c->number);
            return kStatusOK;
        }
        if (c->holdsValue()) {
            c->load(result);
            return kStatusOK;
        }
        readSlot(*c->slot, receiver, result);
        return runner.status();
    }
    // An array's length, as the library reads it.
    if (symbol == Sym::kLength && receiver->noteLengthSlot(false)) {
        result.setNumber(f64(receiver->getStoredLength()));
        return kStatusOK;
    }
    return readByLookup(runner, receiver, result);
}

Status jsOpProperty::readByLookup(jsRunner& runner, Object* receiver, Variant& result) {
    Reference reference;
    reference.symbol = symbol;
    reference.setObject(receiver);
    if (const Status status = findMember(runner, reference, 0))
        return status;
    return getReferenceValue(runner, reference, result, false);
}

Object* jsOpProperty::peekObject(jsRunner& runner) const {
    if (element != kNoElement)
        return peekElement(runner);
    Object* receiver = cacheable ? object->peekObject(runner) : nullptr;
    u32 depth;
    SlotCell* c = receiver ? lookUpCell(receiver, 0, depth) : nullptr;
    if (!c)
        return nullptr;
    if (c->holdsValue())
        return c->heldObject();
    return plainObjectOf(c->slot);
}

Status jsOpProperty::readLength(jsRunner& runner, Variant& result) {
    Variant value;
    if (const Status status = object->execute(runner, value))
        return status;
    return readOfValue(runner, value, result);
}

// The name read of the object expression's value, the general way; a
// text's length is its own: no String wrapper is made to answer it.
Status jsOpProperty::readOfValue(jsRunner& runner, const Variant& value, Variant& result) {
    if (const LxCore::String* text = value.getType() == Variant::kString ? Variant::asString(value) : nullptr;
        text && symbol == Sym::kLength) {
        result.setInt(text->length());
        return kStatusOK;
    }
    Reference reference;
    reference.symbol = symbol;
    if (const Status status = referValue(runner, reference, value))
        return status;
    if (const Status status = findMember(runner, reference, 0))
        return status;
    return getReferenceValue(runner, reference, result, false);
}

Status jsOpProperty::evaluateQuietly(jsRunner& runner, Variant& result) {
    Reference reference;
    if (const Status status = getReference(runner, reference, kRefQuiet))
        return status;
    return getReferenceValue(runner, reference, result, false);
}

// ---- writing

namespace {

// A write answered from a cell is one to an own slot: an inherited one is
// shadowed, which the general way does (and it finds an add's target).
constexpr u32 kWriteLookup = kRefQuiet | kRefOwnOnly;

// What every store of a script object does first, as assignReference does:
// an anonymous function takes the name it is stored under, and a stored
// object is no longer written back into where it was read from.
void noteStored(const Variant& value, DataPoolId symbol) {
    Object* stored = objectOf(value);
    if (!stored)
        return;
    if (Function* function = stored->asFunction())
        if (function->getNameID() == Sym::kAnonymous && function->getInferredName() == 0)
            function->setInferredName(symbol);
    // Without a side record there is no put-through to forget.
    if (stored->getData())
        stored->setPutThrough(nullptr, nullptr);
}

// An own writable slot of the receiver that a store simply replaces, as
// assignReference and the object's own write would: a slot in its cell
// takes the value in place, a plain Property through its put (which holds
// the objects while a watch handler runs). False: go through a reference.
bool storeOwn(Object* receiver, SlotCell& c, const Variant& value, DataPoolId symbol) {
    const ObjectData* data = receiver->getData();
    if (data && data->putThrough)
        return false;
    if (c.holdsValue()) {
        const u32 place = u32(&c - receiver->cellAt(0));
        if (receiver->slotTable()->at(place).attributes & kReadOnly)
            return false;
        if (!storeNumberOver(c, value)) {
            noteStored(value, symbol);
            c.store(value);
            c.state = kStateWritten;
        }
        return true;
    }
    Property* slot = c.slot;
    if (slot->getKind() != Property::kPlain || slot->getOwner() != receiver || slot->isReadOnly())
        return false;
    noteStored(value, symbol);
    slot->put(receiver, value);
    return true;
}

}  // namespace

// A name new to the receiver and to its chain, as constructors add them: the
// slot is made in its cell as the general write would make it, and the
// table it was added to remembered, so that the next receiver built alike
// skips the cell lookup.
// The receiver is held while the chain's lookup may run native code.
bool jsOpProperty::addNew(jsRunner& runner, Object* receiver, const Variant& value) const {
    const ObjectRef hold(receiver);
    if (!receiver->takesNewValue(symbol, kRefQuiet & kLookupFlags))
        return false;
    if (runner.errorPending())
        return true;        // the general way stops at the failed lookup too
    const u64 from = receiver->slotTable()->getSerial();
    noteStored(value, symbol);
    receiver->addNewValue(symbol, value);
    if (addFrom != from)
        runner.engine->noteCacheFill();
    addFrom = from;
    return true;
}

Status jsOpProperty::assign(jsRunner& runner, const Variant& value) {
    if (!cacheable)
        return element != kNoElement ? assignElement(runner, value) : jsOpVariable::assign(runner, value);
    Object* receiver = object->peekObject(runner);
    if (!receiver)
        return assignValue(runner, value);
    if (receiver->slotTable()->getSerial() == addFrom && addNew(runner, receiver, value))
        return runner.status();
    u32 depth;
    SlotCell* c = lookUpCell(receiver, kWriteLookup, depth);
    if (c && depth == 0 && storeOwn(receiver, *c, value, symbol))
        return runner.status();
    if (!c && fastPathsOn(runner) && addNew(runner, receiver, value))
        return runner.status();
    Reference reference;
    reference.symbol = symbol;
    reference.setObject(receiver);
    return assignThrough(runner, reference, c, value);
}

// The object part is no peek: its value, evaluated quietly, holds it.
Status jsOpProperty::assignValue(jsRunner& runner, const Variant& value) {
    Variant held;
    jsOpVariable* quiet = object->asVariable();
    if (const Status status = quiet ? quiet->evaluateQuietly(runner, held) : object->execute(runner, held))
        return status;
    Reference reference;
    reference.symbol = symbol;
    Object* receiver = objectOf(held);
    if (!receiver) {
        if (const Status status = referValue(runner, reference, held))
            return status;
        return assignThrough(runner, reference, nullptr, value);
    }
    u32 depth;
    SlotCell* c = lookUpCell(receiver, kWriteLookup, depth);
    if (c && depth == 0 && storeOwn(receiver, *c, value, symbol))
        return runner.status();
    if (!c && fastPathsOn(runner) && addNew(runner, receiver, value))
        return runner.status();
    reference.setObject(receiver);
    return assignThrough(runner, reference, c, value);
}

// c: the remembered cell of the name, or null.
Status jsOpProperty::assignThrough(jsRunner& runner, Reference& reference, SlotCell* c, const Variant& value) {
    if (c && c->isSlot()) {
        reference.property = c->slot;
        reference.member = 1;
    } else if (const Status status = findMember(runner, reference, kRefQuiet)) {
        return status;
    }
    assignReference(reference, value);
    return runner.status();
}

// x.name, or x["a \"b\""], x[12]: numbers and "-0" go unquoted.
void jsOpProperty::appendSource(String& out) const {
    object->appendSource(out);
    const String name = pool().getSymbol(symbol);
    if (isIdentifier(name)) {
        out += '.';
        out += name;
        return;
    }
    out += '[';
    if (symbol == DataPool::kMinusZero || pool().isNumber(symbol)) {
        out += name;
    } else {
        String quoted(name);
        quoted.replaceAll("\"", "\\\"");
        out += '"';
        out += quoted;
        out += '"';
    }
    out += ']';
}

void jsOpProperty::writeOperands(CompiledScriptWriter& writer) const {
    jsOpVariable::writeOperands(writer);
    writer.writeNode(object);
}

// ---------------------------------------------------------------------------
// object[index]

i32 localSlotOf(const jsOpcode* op) {
    const auto* local = kindCast<jsOpLocalVariable>(op);
    return local ? local->getSlot() : -1;
}

jsOpIndex::jsOpIndex(jsOpcode* object, jsOpcode* index, bool attribute)
    : jsOpProperty(object, 0, attribute), key(Operand::of(index)) {
    receiverSlot = localSlotOf(object);
    inCells = !attribute && !GeneralBuild::on();
    bothLocal = receiverSlot >= 0 && key.getSlot() >= 0 && inCells;
}

jsOpIndex::~jsOpIndex() { delete key.getOperation(); }

Status jsOpIndex::evaluate(jsRunner& runner, Reference& reference, Variant& key, u32 flags) {
    if (const Status status = referObject(runner, reference, flags))
        return status;
    return this->key.read(runner, key);
}

Status jsOpIndex::lookUp(jsRunner& runner, Reference& reference, const Variant& key, u32 flags) {
    // An object key's text may run script; what it leaves pending stops
    // everything, so nothing is looked up, stored or deleted under a name
    // that was never made.
    if (attribute) {
        String name("@");
        name += key.toString();
        reference.symbol = pool().add(name.chars());
    } else {
        reference.symbol = pool().add(key);
    }
    if (runner.errorPending() || !reference.object)
        return runner.status();
    Property* found = reference.object->findProperty(reference.symbol, 0);
    if ((flags & kRefForCall) && found && (found->getAttributes() & kNativeBacked) &&
        !(found->getAttributes() & kMethod))
        found = nullptr;
    reference.property = found;
    reference.member = 1;
    return runner.status();
}

void jsOpIndex::appendSource(String& out) const {
    object->appendSource(out);
    if (attribute)
        out += ".@";
    out += '[';
    key.getOperation()->appendSource(out);
    out += ']';
}

void jsOpIndex::writeOperands(CompiledScriptWriter& writer) const {
    jsOpProperty::writeOperands(writer);
    writer.writeNode(key.getOperation());
}

// ---------------------------------------------------------------------------
// Locals

jsOpLocalVariable::jsOpLocalVariable(i32 slot, DataPoolId symbol) : jsOpVariable(symbol, false), slot(slot) {}

Status jsOpLocalVariable::getReference(jsRunner& runner, Reference& reference, u32 flags) {
    reference.setObject(runner.getScope());
    reference.symbol = symbol;
    reference.property = nullptr;
    if (slot < 0)
        runner.getScope()->resolveForWrite(symbol, reference, flags);
    return runner.status();
}

// A slot of the frame's block is read without a frame of its own; the
// callee and arguments slots and names without a slot go the long way.
Status jsOpLocalVariable::execute(jsRunner& runner, Variant& result) {
    if (u32(slot) < runner.getSlotCount()) {
        result = runner.frameSlot(u32(slot));
        return kStatusOK;
    }
    return readOutsideFrame(runner, result);
}

Status jsOpLocalVariable::readOutsideFrame(jsRunner& runner, Variant& result) {
    if (slot >= 0) {
        Variant* local = runner.slot(slot);
        if (!local)
            return runner.status();
        result = *local;
        return kStatusOK;
    }
    Reference reference;
    getReference(runner, reference, 0);
    takeValue(reference.property ? reference.property->get(reference.object, 0) : nullptr, result);
    return runner.status();
}

Status jsOpLocalVariable::evaluateQuietly(jsRunner& runner, Variant& result) { return execute(runner, result); }

Object* jsOpLocalVariable::peekObject(jsRunner& runner) const {
    if (u32(slot) < runner.getSlotCount())
        return objectOf(runner.frameSlot(u32(slot)));
    if (slot >= 0)
        return nullptr;     // the callee and arguments slots
    return peekByName(runner);
}

Object* jsOpLocalVariable::peekByName(jsRunner& runner) const {
    Reference reference;
    reference.symbol = symbol;
    runner.getScope()->resolveForWrite(symbol, reference, 0);
    return plainObjectOf(reference.property);
}

void jsOpLocalVariable::writeOperands(CompiledScriptWriter& writer) const {
    jsOpVariable::writeOperands(writer);
    writer.writeInteger(slot);
}

// ---------------------------------------------------------------------------
// this

jsOpThis::jsOpThis() : jsOpVariable(kWordThis, false) {}

Status jsOpThis::execute(jsRunner& runner, Variant& result) {
    result.setObject(runner.thisObject);
    return kStatusOK;
}

Status jsOpThis::evaluateQuietly(jsRunner& runner, Variant& result) { return execute(runner, result); }

Object* jsOpThis::peekObject(jsRunner& runner) const { return runner.thisObject; }

Status jsOpThis::getReference(jsRunner& runner, Reference& reference, u32) {
    reference.setObject(runner.thisObject);
    reference.symbol = symbol;
    reference.property = nullptr;
    reference.member = 1;
    return kStatusOK;
}

void jsOpThis::appendSource(String& out) const { out += "this"; }

}  // namespace LxScript
