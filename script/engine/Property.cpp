// Property slots: reading, writing, clearing and marking for each kind, the
// watch handlers and the debugger's watchpoint.
#include "script/engine/Property.h"

#include <cmath>

#include "core/ErrorCodes.h"
#include "script/engine/DispInfo.h"
#include "script/engine/Function.h"
#include "script/engine/LiveHold.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

// Methods and instance-only rows are never native values.
u32 normalized(u32 attributes) {
    return (attributes & (kMethod | kInstancesOnly)) ? attributes & ~kNativeValue : attributes;
}

i32 pendingCode(Object* o) { return o->getEngine()->getError().getCode(); }

}  // namespace

// ---------------------------------------------------------------------------
// Plain slots

Property::Property(Object* owner, DataPoolId symbol, u32 attributes, Kind kind)
    : symbol(symbol), owner(owner), attributes(normalized(attributes)), kind(kind) {
    value.setSlotFlags(Variant::kLockedReference);
}

Property::Property(Object* owner, DataPoolId symbol, u32 attributes)
    : Property(owner, symbol, attributes, kPlain) {}

Property::Property(Object* owner, DataPoolId symbol, const Variant& initial, u32 attributes)
    : Property(owner, symbol, attributes, kPlain) {
    value = initial;
}

Property::~Property() = default;

Dispatcher* Property::getDispatcher() const { return nullptr; }

LxCore::ServiceInfo* Property::getServiceInfo() {
    Object* o = objectOf(value);
    return o && o->asFunction() ? o->getServiceInfo() : nullptr;
}

// A class object slot of the global object asks the callback again on every
// read after the first.
Variant* Property::get(Object*, u32) {
    if (!(attributes & kReResolve))
        return &value;
    if (!(attributes & kFetched)) {
        attributes |= kFetched;
        return &value;
    }
    u32 hookFlags = 0;
    bool known = false;
    ObjectRef found = owner->classObjectFromCallback(symbol, hookFlags, known);
    if (!(hookFlags & 2))
        attributes &= ~kReResolve;
    if (found)
        value.setObject(found.get());
    return &value;
}

// Both the object that writes and the slot's owner are held while the watch
// handler runs script, so neither can go under the write.
void Property::put(Object* object, const Variant& newValue) {
    if (attributes & kReadOnly)
        return;
    if (attributes & kWatched) {
        ObjectRef writer(object), holder(owner);
        const i32 before = pendingCode(object);
        Variant copy(newValue);
        object->callWatchHandler(this, copy);
        if ((before == 0 && pendingCode(object) != 0) || isRemoved())
            return;     // the handler threw or deleted the property
        write(object, copy);
    } else {
        write(object, newValue);
    }
    if (attributes & kWatchpoint)
        enterWatchpoint();
    state = kStateWritten;
}

void Property::write(Object*, const Variant& newValue) { value = newValue; }

void Property::enterWatchpoint() { owner->getSpace().watchpointHit(*this); }

void Property::mark() {
    if (Object* o = objectOf(value))
        o->mark();
}

bool Property::clear(bool) {
    value.clear();
    return true;
}

bool Property::isDispatcher() const { return kind == kDispatcher; }

u32 Property::getState() {
    if (state != 0 || kind != kRef)
        return state;
    return static_cast<RefProperty*>(this)->differsFromReported() ? kStateWritten : 0;
}

void Property::resetState() {
    state = 0;
    if (kind == kRef)
        static_cast<RefProperty*>(this)->noteReported();
}

void Property::getWatchpointInfo(Variant& object, u32& symbolOut, Variant& valueOut) {
    object.setObject(owner);
    symbolOut = u32(symbol);
    const Variant* v = get(owner, 0);
    if (v)
        valueOut = *v;
    else
        valueOut.clear();
}

// ---------------------------------------------------------------------------
// Local slots of an activation

RefProperty::RefProperty(Object* owner, u32 slot, DataPoolId symbol, u32 attributes)
    : Property(owner, symbol, attributes, kRef), slot(slot) {
    reported.setSlotFlags(Variant::kLockedReference);
}

// Through the slot's owner: an object that inherits the slot has no locals.
Variant* RefProperty::get(Object*, u32) { return owner->getLocal(slot); }

void RefProperty::write(Object*, const Variant& newValue) { owner->setLocal(slot, newValue); }

bool RefProperty::clear(bool) {
    value.clear();
    reported.clear();
    return true;
}

void RefProperty::mark() {
    Property::mark();
    if (Object* o = objectOf(reported))
        o->mark();
}

// NaN is the value it was, though it equals nothing.
bool RefProperty::differsFromReported() {
    const Variant* now = owner->getLocal(slot);
    if (!now)
        return false;
    const bool bothNaN = now->getType() == Variant::kNumber && reported.getType() == Variant::kNumber &&
                         std::isnan(now->toNumber()) && std::isnan(reported.toNumber());
    return !bothNaN && !(*now == reported);
}

void RefProperty::noteReported() {
    const Variant* now = owner->getLocal(slot);
    reported = now ? *now : Variant();
}

// ---------------------------------------------------------------------------
// Native members of a class table

DispatcherProperty::DispatcherProperty(Object* owner, Dispatcher* dispatcher,
                                       const PropEntryCopy& row, DataPoolId symbol)
    : Property(owner, symbol, u32(row.flags) & kRowAttributeBits, kDispatcher),
      entry(row),
      dispatcher(dispatcher) {
    if (!row.isMethod())
        attributes |= kWriteThrough;
    attributes |= kNativeBacked;
    ObjectSpace& space = owner->getSpace();
    if (Sym::isBuiltInClass(dispatcher->getClassID(0)) || dispatcher == space.getDefaultDispatcher(0))
        attributes |= kBuiltIn;
}

Dispatcher* DispatcherProperty::getDispatcher() const { return entry.owner; }

LxCore::ServiceInfo* DispatcherProperty::getServiceInfo() { return DispServiceInfo::of(entry); }

void DispatcherProperty::runNative(Object* object, u32 mode, const Variant* argument,
                                   Variant& result) {
    Engine* engine = object->getEngine();
    Variant self(object);
    if (attributes & (kThisToNumber | kThisToString)) {
        Variant primitive;
        const i32 before = engine->getError().getCode();
        object->getDefaultValue(primitive, (attributes & kThisToString) ? 1 : 0);
        if (before == 0 && engine->getError().getCode() != 0)
            return;
        self = primitive;
    }
    Variant name;
    DataPool::get().getValue(symbol, name);
    LxCore::Array args;
    if (argument)
        args.getOrCreate(0) = *argument;
    Arguments record;
    record.dispatcher = entry.owner;
    record.engine = engine;
    record.thisValue = &self;
    record.name = &name;
    record.mode = mode;
    record.args = &args;
    record.result = &result;
    DispatcherLock lock(dispatcher);
    if (entry.handler)
        dispatcher->call(record, entry.handler);
    else if (argument)
        dispatcher->put(record);
    else
        dispatcher->get(record);
}

Variant* DispatcherProperty::get(Object* object, u32 flags) {
    if ((attributes & kNativeValue) || !(attributes & kFetched)) {
        if (entry.isMethod()) {
            ObjectSpace& space = owner->getSpace();
            ObjectRef f = ObjectRef::adopt(
                new DispatcherFunction(space, dispatcher, entry, object->getClassID()));
            f->setNameID(symbol);
            value.setObject(f.get());
            attributes |= kDontEnum;
        } else if (!entry.handler && (flags & kFindCallable)) {
            value.clear();
        } else {
            Variant result;
            const i32 before = pendingCode(object);
            runNative(object, entry.handler ? Arguments::kGet : u32(entry.id), nullptr, result);
            if (before != 0 || pendingCode(object) == 0) {
                adoptNativeResult(owner->getSpace(), objectOf(value), result);
                value = result;
            }
        }
        attributes |= kFetched;
    }
    if (attributes & kPutThroughLink)
        if (Object* o = objectOf(value))
            o->setPutThrough(object, this);
    return &value;
}

void DispatcherProperty::write(Object* object, const Variant& newValue) {
    value = newValue;
    attributes |= kFetched;
    state = kStateWritten;
    if (attributes & kNativeValue) {
        Variant result;
        runNative(object, entry.handler ? Arguments::kPut : u32(entry.id), &newValue, result);
    }
    if (Object* o = objectOf(newValue)) {
        if (attributes & kPutThroughLink)
            o->setPutThrough(object, this);
        else
            o->setPutThrough(nullptr, nullptr);
    }
}

void DispatcherProperty::mark() {
    const u32 type = value.getType();
    if ((attributes & kNativeValue) && !(attributes & kKeepCached) &&
        (type == Variant::kScriptObject || type == Variant::kLiveObject)) {
        value.clear();
        return;
    }
    Property::mark();
}

bool DispatcherProperty::clear(bool final) {
    if (final) {
        value.clear();
        return true;
    }
    if ((attributes & kNativeValue) && !(attributes & kReadOnly)) {
        Variant undefined, result;
        runNative(owner, entry.handler ? Arguments::kPut : u32(entry.id), &undefined, result);
    }
    return true;
}

// The same script object comes back for the same native object.
void adoptNativeResult(ObjectSpace& space, Object* previous, Variant& result) {
    if (previous && isUnboundReference(result) && i32(result.getID()) != kArgumentsId &&
        i32(result.getID()) == previous->getObjectID()) {
        String name;
        previous->getClassName(name);
        if (result.toString() == name) {
            previous->setNativeData(result.getNativeData());
            result.setObject(previous);
            return;
        }
    }
    if (previous && result.getType() == Variant::kLiveObject &&
        result.getLiveObject() == previous->getLiveObject()) {
        result.setObject(previous);
        return;
    }
    space.importValue(result, true);
}

// ---------------------------------------------------------------------------
// Live-object properties

namespace {

u32 liveAttributes(i32 kind) {
    switch (kind) {
        case 1:
            return 0x3010001;
        case 2:
            return 0x3010000;
        case 5:
        case 6:
            return 0x3010020;
        case 7:
            return 0x3010021;
        default:
            return 0x2010000;
    }
}

}  // namespace

LiveObjectProperty::LiveObjectProperty(Object* owner, LxCore::LiveObject* live, DataPoolId symbol,
                                       i32 id, i32 liveKind)
    : Property(owner, symbol, liveAttributes(liveKind), kLive), live(live), id(id),
      liveKind(liveKind) {
    const DataPoolId cls = owner->getClassID();
    if ((cls == Sym::kXML || cls == Sym::kXMLList) &&
        (id == LiveObjectFunction::kValueOf || id == LiveObjectFunction::kToString)) {
        this->liveKind = 6;
        attributes = 0x3010020;
    }
    addLiveFlags();
}

LiveObjectProperty::LiveObjectProperty(Object* owner, LxCore::LiveObject* live, DataPoolId symbol,
                                       u32 index)
    : Property(owner, symbol, 0x3210000, kLive), live(live), id(i32(index)), liveKind(2) {
    addLiveFlags();
}

void LiveObjectProperty::addLiveFlags() {
    if (live->getFlags() & LxCore::kLiveNotEnumerated)
        attributes |= kDontEnum;
    if (live->getFlags() & LxCore::kLiveBuiltIn)
        attributes |= kBuiltIn;
}

LxCore::ServiceInfo* LiveObjectProperty::getServiceInfo() { return describeLiveMember(live, id); }

LxCore::ServiceInfo* describeLiveMember(LxCore::LiveObject* live, i32 id) {
    if (!live)
        return nullptr;
    LiveHold hold(live);
    LxCore::ClassInfo* info = live->getClassInfo();
    if (!info)
        return nullptr;
    LxCore::ServiceInfo* member = info->getServiceInfo(id);
    info->release();
    return member;
}

// A slot of one live object used on an object that has none, or another.
bool LiveObjectProperty::refuse(Object* object) {
    if (object->getLiveObject() && object->getLiveObject() == live)
        return false;
    object->getEngine()->setError(Err::kNotSupported, DataPool::get().getSymbol(symbol), -1, false);
    return true;
}

// The id and kind as the live object knows them now; false when the member
// is gone (the error is raised and the cached value dropped).
bool LiveObjectProperty::refresh() {
    if (id >= LiveObjectFunction::kSelf && id <= LiveObjectFunction::kToString)
        return true;
    i32 newId = id;
    u32 newKind = u32(liveKind);
    if (attributes & kRefreshId) {
        const String name = DataPool::get().getSymbol(symbol);
        const i32 status = live->findProperty(name, newId, newKind, 0x10000);
        if (status != 0) {
            reportLiveError(*owner->getEngine(), live, status, LxCore::Error(), name);
            value.clear();
            return false;
        }
        attributes &= ~kRefreshId;
    } else if (live->getFlags() & 0x2) {
        newKind = live->getPropertyKind(id);
    }
    if (newId == id && i32(newKind) == liveKind)
        return true;
    Object* held = objectOf(value);
    auto* method = held ? dynamic_cast<LiveObjectFunction*>(held) : nullptr;
    if (liveKind == 5 && newKind == 5 && method)
        method->setMethodID(newId);
    else
        value.clear();
    id = newId;
    liveKind = i32(newKind);
    return true;
}

Variant* LiveObjectProperty::get(Object* object, u32 flags) {
    if (refuse(object))
        return nullptr;
    LiveHold hold(live);
    if (!refresh() || liveKind == 16)
        return &value;
    const bool method = liveKind == 5 || ((flags & kFindCallable) && liveKind != 1 && liveKind != 2);
    if (method) {
        Object* held = objectOf(value);
        if (!held || !held->asFunction()) {
            ObjectSpace& space = owner->getSpace();
            const DataPoolId cls = DataPool::get().add(live->getClassName().chars());
            ObjectRef f = ObjectRef::adopt(new LiveObjectFunction(space, cls, symbol, id));
            value.setObject(f.get());
        }
        if (liveKind == 5)
            attributes = 0x2010427 | (attributes & (kWatched | kWatchpoint));
        return &value;
    }
    const DataPoolId cls = owner->getClassID();
    if ((flags & kFindCallable) && (cls == Sym::kXML || cls == Sym::kXMLList))
        return nullptr;
    Variant result;
    LxCore::Error error;
    i32 status;
    if (attributes & kCollectionElement) {
        LxCore::LiveCollection* c = collectionOf(live);
        status = c ? c->getItem(u32(id), result, &error) : Err::kUndefined;
    } else {
        status = live->get(id, result, &error);
    }
    if (status == Err::kUndefined)
        return nullptr;
    if (status != 0) {
        reportLiveError(*owner->getEngine(), live, status, error, DataPool::get().getSymbol(symbol));
        return &value;
    }
    adoptNativeResult(owner->getSpace(), objectOf(value), result);
    value = result;
    return &value;
}

void LiveObjectProperty::write(Object* object, const Variant& newValue) {
    if (refuse(object))
        return;
    value = newValue;
    if (liveKind == 1 || liveKind == 5 || liveKind == 7)
        return;
    LiveHold hold(live);
    LxCore::Array single;
    single.getOrCreate(0) = newValue;
    const LxCore::Array native = toNativeArguments(single);
    LxCore::Error error;
    i32 status;
    if (attributes & kCollectionElement) {
        LxCore::LiveCollection* c = collectionOf(live);
        status = c ? c->putItem(u32(id), native[0], &error) : Err::kUndefined;
    } else {
        status = live->put(id, native[0], &error);
    }
    if (status != 0 && status != Err::kReadOnly)
        reportLiveError(*owner->getEngine(), live, status, error, DataPool::get().getSymbol(symbol));
}

bool LiveObjectProperty::clear(bool final) {
    if (final) {
        value.clear();
        return true;
    }
    if (!owner->getLiveObject())
        return false;
    LiveHold hold(live);
    i32 status;
    if (attributes & kCollectionElement) {
        LxCore::LiveCollection* c = collectionOf(live);
        status = c ? c->removeItem(u32(id)) : Err::kUndefined;
    } else {
        status = live->removeProperty(id);
    }
    return status == 0 || status == Err::kUndefined;
}

}  // namespace LxScript
