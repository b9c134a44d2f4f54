// Script objects: the lookup of own and inherited members, native rows,
// class objects and operators, and what the space remembers of chains.
#include "script/engine/ObjectInternals.h"

#include <algorithm>

#include "core/ErrorCodes.h"
#include "script/engine/Function.h"
#include "script/engine/LiveHold.h"
#include "script/engine/TVContext.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;
using namespace objectmodel;

namespace {

// A walk along a prototype chain asks the space for a remembered answer
// about the rest of the chain from this many links on.
constexpr u32 kRememberedRestDepth = 8;

// The dispatcher entry probe of ".index", ".number" and ".name" rows: true
// when the row answers a value for the name on this object.
bool probeDotEntry(Object& object, Dispatcher& dispatcher, const PropEntryCopy& entry,
                   DataPoolId symbol) {
    Variant self(&object), name, result;
    pool().getValue(symbol, name);
    LxCore::Array none;
    Arguments record;
    record.dispatcher = entry.owner;
    record.engine = object.getEngine();
    record.thisValue = &self;
    record.name = &name;
    record.mode = Arguments::kTest;
    record.args = &none;
    record.result = &result;
    if (entry.handler)
        dispatcher.call(record, entry.handler);
    else
        dispatcher.get(record);
    if (isUnboundReference(result))
        if (LxCore::Root* native = result.getNativeData())
            static_cast<LxCore::NativeData*>(native)->dispose();
    return result.getType() != Variant::kUndefined;
}

}  // namespace

Property* Object::findOwnProperty(DataPoolId symbol, u32 flags) {
    if (valid) {
        i32 place;
        if (SlotCell* c = findCell(symbol, place)) {
            if (!cellRemoved(*c, place) || (flags & kFindRemoved))
                return slotOf(*c, place, symbol);
            if (xmlClass && getLiveObject()) {
                Property* p = slotOf(*c, place, symbol);
                p->attributes &= ~kRemoved;
                p->state = kStateWritten;
                countRevived(place);
                return p;
            }
        }
        if (symbol == Sym::kLength && (traits & kArrayStore) && static_cast<ArrayObject*>(this)->lengthState)
            if (Property* made = materializeLengthSlot())
                return made;
        if (getLiveObject())
            if (Property* member = findLiveProperty(symbol, flags))
                return member;
        if (objectId == kGlobalObjectId && DataPool::isUpperCase(symbol) && symbol >= Sym::kReflection)
            return findClassObject(symbol);
        return nullptr;
    }
    getSpace().getEngine().setError(Err::kInvalidObject);
    return nullptr;
}

Property* Object::findProperty(DataPoolId symbol, u32 flags) {
    Property* p = findOwnProperty(symbol, flags);
    if (p || (flags & kFindOwn) || !valid)
        return p;
    return findInherited(symbol, flags);
}

Property* Object::get(DataPoolId symbol, Variant& out, u32 flags) {
    Property* p = findProperty(symbol, flags);
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

// An own live slot is what every class's lookup answers first: a slot in
// its cell is read in place, a plain Property's value without a call.
bool Object::getValue(DataPoolId symbol, Variant& out, u32 flags) {
    if (valid) {
        if (readOwnCell(symbol, out, flags))
            return true;
        if (symbol == Sym::kLength && noteLengthSlot(false)) {
            out.setNumber(f64(length));
            return true;
        }
    }
    return get(symbol, out, flags) != nullptr;
}

bool Object::readOwnCell(DataPoolId symbol, Variant& out, u32 flags) {
    i32 place;
    SlotCell* c = findCell(symbol, place);
    if (!c)
        return false;
    if (c->holdsValue()) {
        c->load(out);
        return true;
    }
    if (!c->isSlot() || c->slot->isRemoved())
        return false;
    Property* p = c->slot;
    const Variant* v = p->kind == Property::kPlain && !(p->attributes & kReResolve) ? &p->value
                                                                                   : p->get(this, flags);
    if (v)
        out = *v;
    else
        out.clear();
    return true;
}

bool Object::getOwnValue(DataPoolId symbol, Variant& out) {
    if (valid && readOwnCell(symbol, out, 0))
        return true;
    out.clear();
    return false;
}

bool Object::hasOwnValue(DataPoolId symbol) const {
    i32 place;
    const SlotCell* c = valid ? findCell(symbol, place) : nullptr;
    return c && cellIsLive(*c);
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
    // Without a side record the walk starts at the prototype and hands no
    // native data on: a miss from there is remembered (see ChainMemory).
    ChainMemory::Miss* miss = nullptr;
    u64 epoch = 0, changes = 0;
    if (!data && prototype) {
        ChainMemory& chains = getSpace().chains;
        miss = &chains.missAt(prototype, symbol);
        epoch = chains.epoch;
        changes = Dispatcher::changeCount();
        if (chains.holds(*miss, prototype, symbol))
            return found;
    }
    const u32 ownFlags = flags & ~(kFindOwn | kFindRemoved);
    // Whether the walk ends at p: found, or an invalid object met.
    auto endsAt = [&](Object* p) {
        if (p != this) {
            if (!p->valid) {
                getSpace().getEngine().setError(Err::kInvalidObject);
                return true;
            }
            if ((found.slot = p->findOwnProperty(symbol, ownFlags)) != nullptr)
                return true;
        }
        Dispatcher* d = p->getDispatcher();
        return d && findDispatcherMember(p, d, symbol, found);
    };
    Object* p = data && data->dispatcher ? this : prototype;
    for (u32 n = kRememberedRestDepth; p && n; p = p->prototype, n--)
        if (endsAt(p))
            return found;
    // A long walk asks whether the space remembers a miss from a later link
    // on, so that a chain grown link by link is walked a few links a time.
    Object* last = nullptr;
    for (; p; p = p->prototype) {
        if (endsAt(p))
            return found;
        if (miss && p->restMisses(symbol)) {
            last = p;
            break;
        }
    }
    if (miss && getSpace().chains.epoch == epoch && Dispatcher::changeCount() == changes &&
        markMissChain(prototype, last))
        *miss = {prototype, symbol, epoch, changes};
    return found;
}

// A chain whose own lookups answer from their slots alone: no live object,
// no element store, no XML, no function, no global object, activation or
// arguments object, no dispatcher with dot rows or made-up members. Its
// objects are marked, so that any change of theirs raises the miss epoch.
bool Object::markMissChain(Object* start, const Object* last) {
    ObjectSpace& s = start->getSpace();
    for (Dispatcher* d : {s.getDefaultDispatcher(0), s.getDefaultDispatcher(1)})
        if (d && d->makesUpMembers())
            return false;
    const Object* end = last ? last->prototype : nullptr;
    for (Object* p = start; p != end; p = p->prototype) {
        s.chainSteps++;
        if (!p->valid || (p->traits & (kNoPlainLookup | kArrayStore)) || p->xmlClass ||
            p->classId == Sym::kFunction || p->objectId == kGlobalObjectId || p->objectId == kArgumentsId ||
            p->objectId == kWorkspaceId)
            return false;
        if (Dispatcher* d = p->getDispatcher())
            if (p->data->dotFlag || d->makesUpMembers())
                return false;
    }
    for (Object* p = start; p != end; p = p->prototype)
        p->traits |= kOnMissChain;
    return true;
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

// A miss is remembered for a holder without dot rows and a receiver without
// native data when no dispatcher asked makes up members: what the tables
// answer then depends on the dispatcher, the class and the name alone, until
// some dispatcher changes.
bool Object::findDispatcherMember(Object* holder, Dispatcher* d, DataPoolId symbol,
                                  InheritedMember& found) {
    ObjectSpace& s = getSpace();
    const bool plain = holder->data && !holder->data->dotFlag && !getNativeData();
    const u64 changes = Dispatcher::changeCount();
    DispatcherMisses::Entry* miss = plain ? &s.dispatcherMisses.at(d, holder->classId, symbol) : nullptr;
    if (miss && miss->changes == changes && miss->dispatcher == d && miss->symbol == symbol &&
        miss->classId == holder->classId)
        return false;
    const PropInfo* entry = findDispatcherEntry(holder, d, symbol);
    Dispatcher* through = d;
    Dispatcher* other = nullptr;
    if (!entry && s.isDefaultDispatcher(d)) {
        other = d == s.getDefaultDispatcher(0) ? s.getDefaultDispatcher(1) : s.getDefaultDispatcher(0);
        if (other) {
            DispatcherLock lock(other);
            entry = other->findProperty(other->getClassID(0), symbol, getNativeData(), false, false);
            through = other;
        }
    }
    if (!entry) {
        if (miss && !d->makesUpMembers() && !(other && other->makesUpMembers()) &&
            Dispatcher::changeCount() == changes)
            *miss = {d, holder->classId, symbol, changes};
        return false;
    }
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
    LxCore::Root* native = getNativeData();
    if (!holder->data || !holder->data->dotFlag)
        return d->findProperty(cls, symbol, native, false, false);
    const PropInfo* dot = nullptr;
    if (isIndexId(symbol)) {
        dot = d->findProperty(cls, Sym::kIndexEntry, native, true, false);
        if (!dot)
            dot = d->findProperty(cls, Sym::kNumberEntry, native, true, false);
    } else if (pool().isNumber(symbol)) {
        dot = d->findProperty(cls, Sym::kNumberEntry, native, true, false);
    } else {
        const PropInfo* named = d->findProperty(cls, symbol, native, false, false);
        if (named && !(named->flags & kHidden))
            return named;
        dot = d->findProperty(cls, Sym::kNameEntry, native, true, false);
    }
    return dot && probeDotEntry(*this, *d, *dot, symbol) ? dot : nullptr;
}

Property* Object::findOperator(DataPoolId symbol) {
    for (Object* o = this; o; o = o->prototype) {
        if (!o->valid) {
            getSpace().getEngine().setError(Err::kInvalidObject);
            return nullptr;
        }
        if (o->table->getOperatorCount() > 0) {
            Property* p = o->searchChain(symbol);
            if (p && !p->isRemoved())
                return p;
        }
        LxCore::LiveObject* live = o->getLiveObject();
        if (live && live->hasOperators())
            if (Property* p = findLiveOperator(live, symbol))
                return p;
        Dispatcher* d = o->getDispatcher();
        if (d && d->hasOperators(o->classId)) {
            const PropInfo* entry;
            {
                DispatcherLock lock(d);
                entry = d->findProperty(o->classId, symbol, getNativeData(), false, false);
            }
            if (entry && entry->isMethod())
                return o->createDispatcherProperty(d, *entry, symbol);
        }
    }
    return nullptr;
}

// Every comparison of two objects asks this of both: a link without a side
// record (no live object, no dispatcher) answers from its table's count, and
// a prototype chain found without operators is remembered (see ChainMemory).
bool Object::hasOperators() {
    ChainMemory::OperatorFree* free = nullptr;
    u64 epoch = 0, changes = 0;
    if (valid && !data && table->getOperatorCount() == 0 && prototype) {
        ChainMemory& chains = getSpace().chains;
        free = &chains.operatorFreeAt(prototype);
        epoch = chains.epoch;
        changes = Dispatcher::changeCount();
        if (chains.holds(*free, prototype))
            return false;
    }
    // As in lookUpInherited, a remembered answer from a later link on
    // ends a long walk.
    Object* last = nullptr;
    u32 walked = 0;
    for (Object* o = this; o; o = o->prototype) {
        if (!o->valid) {
            getSpace().getEngine().setError(Err::kInvalidObject);
            return false;
        }
        if (o->table->getOperatorCount() > 0)
            return true;
        if (o->data) {
            LxCore::LiveObject* live = o->data->liveObject;
            if (live && live->hasOperators())
                return true;
            Dispatcher* d = o->data->dispatcher;
            if (d && d->hasOperators(o->classId))
                return true;
        }
        if (free && ++walked >= kRememberedRestDepth && o->restIsOperatorFree()) {
            last = o;
            break;
        }
    }
    if (free && getSpace().chains.epoch == epoch && Dispatcher::changeCount() == changes &&
        markOperatorFreeChain(prototype, last))
        *free = {prototype, epoch, changes};
    return false;
}

// A live object answers for its operators as it pleases: chains with one
// are asked every time.
bool Object::markOperatorFreeChain(Object* start, const Object* last) {
    ObjectSpace& s = start->getSpace();
    const Object* end = last ? last->prototype : nullptr;
    for (Object* p = start; p != end; p = p->prototype) {
        s.chainSteps++;
        if (!p->valid || (p->traits & kNoPlainLookup))
            return false;
    }
    for (Object* p = start; p != end; p = p->prototype)
        p->traits |= kOnMissChain;
    return true;
}

// The global object's class objects made on first use: a registered live
// class, an error class, or what the embedding's callback knows.
Property* Object::findClassObject(DataPoolId symbol) {
    const String name = DataPool::get().getSymbol(symbol);
    ObjectSpace& s = getSpace();
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
    Engine& engine = getSpace().getEngine();
    Callback* callback = engine.getCallback();
    if (!callback)
        return ObjectRef();
    const String name = DataPool::get().getSymbol(symbol);
    LxCore::LiveObject* live = callback->getClassObject(engine, name, hookFlags);
    if (!live)
        return ObjectRef();
    known = true;
    const bool asFunction = (hookFlags & 1) != 0;
    if (Object* existing = getSpace().findObjectOfLiveObject(live))
        if ((existing->asFunction() != nullptr) == asFunction)
            return ObjectRef(existing);
    ObjectRef wrapper;
    if (asFunction) {
        wrapper = ObjectRef::adopt(
            new LiveObjectFunction(getSpace(), symbol, symbol, LiveObjectFunction::kSelf));
    } else {
        wrapper = ObjectRef::adopt(new Object(getSpace()));
        wrapper->setClassID(symbol);
    }
    wrapper->setLiveObject(live);
    return wrapper;
}

}  // namespace LxScript
