// LiveObject member access: lookups by name, id and kind, own members added
// and removed, listings, and get, put and call through own records,
// components and listeners.
//
// A listener or a component may change the object while it is called: own
// records are found again by id after a message, and components are walked
// in a snapshot of the list, each held until the walk ends. No exception
// leaves an operation: lack of memory gives -28, anything else -29.
#include <memory>
#include <new>

#include "core/ErrorCodes.h"
#include "core/LiveObject.h"

namespace LxCore {

namespace {

// The components as they were when the walk began, last attached first,
// each held for the walk.
class ComponentWalk {
public:
    explicit ComponentWalk(const LiveObjectData& data) : list(data.components) {
        for (i32 i = 0; i < list.getCount(); i++)
            list.get(i)->addRef();
    }
    ~ComponentWalk() {
        for (i32 i = 0; i < list.getCount(); i++)
            list.get(i)->release();
    }
    ComponentWalk(const ComponentWalk&) = delete;
    ComponentWalk& operator=(const ComponentWalk&) = delete;

    i32 count() const { return list.getCount(); }
    LiveComponent& at(i32 i) const { return *list.get(list.getCount() - 1 - i); }

private:
    TSimpleArray<LiveComponent> list;
};

// A component's kind of a member, asked under the component's lock.
u32 kindIn(LiveComponent& component, LiveObject& object, i32 id) {
    LockableGuard guard(component);
    return component.getPropertyKind(object, id);
}

// Runs an operation that yields a result, which a failure leaves empty.
template <class Body>
i32 withResult(Variant& result, Body body) noexcept {
    i32 status = statusOf(body);
    if (status == Err::kOutOfMemory || status == Err::kUncaughtException)
        result.clear();
    return status;
}

// Asks the components, last attached first and each under its lock, for
// their kind of a member; `serve` answers a status that ends the walk, or
// kAskNext. Without an answer the status is `none`.
constexpr i32 kAskNext = 0x7FFFFFFF;

template <class Serve>
i32 serveByComponents(LiveObject& object, const LiveObjectData& data, i32 id, i32 none,
                      Serve serve) {
    if (data.components.getCount() == 0)
        return none;
    ComponentWalk walk(data);
    for (i32 i = 0; i < walk.count(); i++) {
        LiveComponent& component = walk.at(i);
        LockableGuard guard(component);
        i32 status = serve(component, component.getPropertyKind(object, id));
        if (status != kAskNext)
            return status;
    }
    return none;
}

// Ids already in a listing, so that none is added twice.
class IdListing {
public:
    IdListing(SimpleArray& ids) : ids(ids) {
        for (i32 i = 0; i < ids.getCount(); i++)
            seen.put(i64(i32(ids.get(i))), this);
    }
    void add(i32 id) {
        if (seen.get(id))
            return;
        seen.put(id, this);
        ids.add(id);
    }
    void addAll(const SimpleArray& more) {
        for (i32 i = 0; i < more.getCount(); i++)
            add(i32(more.get(i)));
    }

private:
    SimpleArray& ids;
    IntHashTable seen;
};

}  // namespace

// ---------------------------------------------------------------------------
// Own members

LiveProperty* LiveObject::ownById(i32 id) {
    auto* record = static_cast<LiveProperty*>(data->byId.get(id));
    if (!record)
        return nullptr;
    for (LiveProperty* other = record->sameId; other; other = other->sameId)
        if (other->used > record->used)
            record = other;
    touch(record);
    return record;
}

LiveProperty* LiveObject::ownByName(const String& name, bool caseBlind) {
    LiveProperty* found = nullptr;
    if (!caseBlind) {
        found = data->byName.get(name);
    } else {
        auto& names = data->byName;
        for (auto* e = names.findEntry(name, true); e; e = names.findNextEntry(e, name, true))
            if (sameName(e->value->name, name, true) && (!found || e->value->used > found->used))
                found = e->value;
    }
    if (found)
        touch(found);
    return found;
}

// Enters the record in both indexes and at the end of the list; on failure
// nothing has changed.
void LiveObject::link(LiveProperty* record) {
    data->byName.put(record->name, record);
    auto* head = static_cast<LiveProperty*>(data->byId.get(record->id));
    if (head) {
        record->sameId = head->sameId;
        head->sameId = record;
    } else {
        try {
            data->byId.put(record->id, record);
        } catch (...) {
            data->byName.remove(record->name);
            throw;
        }
    }
    record->previous = data->last;
    record->next = nullptr;
    if (data->last)
        data->last->next = record;
    else
        data->first = record;
    data->last = record;
    touch(record);
}

void LiveObject::unlink(LiveProperty* record) {
    if (data->byName.get(record->name) == record)
        data->byName.remove(record->name);
    auto* head = static_cast<LiveProperty*>(data->byId.get(record->id));
    if (head == record) {
        if (record->sameId)
            data->byId.put(record->id, record->sameId);     // an existing key: no allocation
        else
            data->byId.remove(record->id);
    } else {
        for (LiveProperty* p = head; p; p = p->sameId) {
            if (p->sameId == record) {
                p->sameId = record->sameId;
                break;
            }
        }
    }
    record->sameId = nullptr;
    (record->previous ? record->previous->next : data->first) = record->next;
    (record->next ? record->next->previous : data->last) = record->previous;
    record->next = record->previous = nullptr;
}

i32 LiveObject::addOwn(const String& name, i32 id, u32 memberFlags, LiveProperty** made) {
    std::unique_ptr<LiveProperty> record(createProperty(name, id, memberFlags));
    if (!record)
        return Err::kOutOfMemory;
    record->order = i32(data->nextOrder);
    link(record.get());
    data->nextOrder++;
    if (isOperatorId(id))
        flags |= kLiveHasOperators;
    if (made)
        *made = record.get();
    record.release();
    return 0;
}

i32 LiveObject::addProperty(const String& name, i32 id, u32 memberFlags) {
    if (!usable())
        return Err::kInvalidObject;
    return statusOf([&] {
        if (!(flags & kLiveDynamic))
            return Err::kNotSupported;
        if (ownByName(name, memberFlags & kCaseBlindClient))
            return Err::kRedeclared;
        return addOwn(name, id, memberFlags, nullptr);
    });
}

// Fresh ids skip those the object's own members hold.
i32 LiveObject::addProperty(const String& name, i32* id, u32 memberFlags) {
    if (!usable())
        return Err::kInvalidObject;
    i32 fresh;
    do
        fresh = nextSerial();
    while (data->byId.get(fresh));
    if (id)
        *id = fresh;
    return addProperty(name, fresh, memberFlags);
}

i32 LiveObject::removeProperty(i32 id) {
    if (!usable())
        return Err::kInvalidObject;
    LiveProperty* record = ownById(id);
    if (!record || (record->flags & kMemberFixed))
        return Err::kUndefined;
    unlink(record);
    delete record;
    return 0;
}

void LiveObject::removeProperties(bool all) {
    if (!data)
        return;
    for (LiveProperty* record = data->first; record;) {
        LiveProperty* next = record->next;
        if (all || !(record->flags & kMemberFixed)) {
            unlink(record);
            delete record;
        }
        record = next;
    }
}

// ---------------------------------------------------------------------------
// Lookups

i32 LiveObject::findProperty(const String& name, i32& id, u32& kind, u32 requestFlags) {
    id = 0;
    kind = kKindNone;
    if (!usable())
        return Err::kInvalidObject;
    return statusOf([&] { return findPropertyIn(name, id, kind, requestFlags); });
}

i32 LiveObject::findPropertyIn(const String& name, i32& id, u32& kind, u32 requestFlags) {
    if (LiveProperty* record = ownByName(name, requestFlags & kCaseBlindClient)) {
        id = record->id;
        kind = record->getKind();
        return 0;
    }
    if (!name.isEmpty() && propertyManager) {
        LockableGuard guard(*propertyManager);
        if (propertyManager->findProperty(name, id, kind, requestFlags) == 0)
            return 0;
    }
    if (data->components.getCount() > 0) {
        ComponentWalk walk(*data);
        for (i32 i = 0; i < walk.count(); i++) {
            i32 status = walk.at(i).findProperty(*this, name, id, kind, requestFlags);
            if (status == Err::kUndefined)
                continue;
            if (kind == kKindSuppressed) {
                id = 0;
                kind = kKindNone;
                return Err::kUndefined;
            }
            return status;
        }
    }
    id = 0;
    kind = kKindNone;
    if (!(flags & kLiveDynamic) || !hasListeners(kMsgFindMember))
        return Err::kUndefined;
    LiveMessage ask(*this, kMsgFindMember, 0, nullptr);
    ask.getData()->setString(name);
    ask.requestFlags = requestFlags;
    if (!send(ask) || !usable())
        return Err::kUndefined;
    if (ask.status != 0)
        return ask.status;
    // The listener serves the member from now on: a hidden own record says so.
    u32 answered = u32(ask.getData()->toInt()) & kKindMask;
    if (!ownByName(name, false)) {
        i32 status = addOwn(name, ask.id, answered | kMemberHidden | kMemberByListeners, nullptr);
        if (status != 0)
            return status;
    }
    id = ask.id;
    kind = answered;
    return 0;
}

i32 LiveObject::getPropertyName(i32 id, String& name, u32 requestFlags) {
    name.clear();
    if (!usable())
        return Err::kInvalidObject;
    return statusOf([&] {
        if (id == kSelfCallId) {
            name = getClassName();
            return 0;
        }
        if (LiveProperty* record = ownById(id)) {
            name = record->name;
            return 0;
        }
        if (propertyManager) {
            LockableGuard guard(*propertyManager);
            if (propertyManager->getPropertyName(id, name, requestFlags) == 0)
                return 0;
        }
        ComponentWalk walk(*data);
        for (i32 i = 0; i < walk.count(); i++) {
            LockableGuard guard(walk.at(i));
            if (walk.at(i).getPropertyName(*this, id, name, requestFlags) == 0)
                return 0;
        }
        name.clear();
        return Err::kUndefined;
    });
}

u32 LiveObject::getPropertyKind(i32 id) {
    if (!usable())
        return kKindNone;
    if (id == kSelfCallId)
        return kKindMethod;
    if (LiveProperty* record = ownById(id))
        return record->getKind();
    if (propertyManager) {
        LockableGuard guard(*propertyManager);
        u32 kind = propertyManager->getPropertyKind(id);
        if (kind != kKindNone)
            return kind;
    }
    ComponentWalk walk(*data);
    for (i32 i = 0; i < walk.count(); i++) {
        u32 kind = kindIn(walk.at(i), *this, id);
        if (kind != kKindNone)
            return kind == kKindSuppressed ? kKindNone : kind;
    }
    return kKindNone;
}

LiveComponent* LiveObject::findComponentFor(i32 id, LiveComponent* exclude) {
    if (!usable())
        return nullptr;
    ComponentWalk walk(*data);
    for (i32 i = 0; i < walk.count(); i++) {
        LiveComponent& component = walk.at(i);
        if (&component != exclude && kindIn(component, *this, id) != kKindNone)
            return &component;
    }
    return nullptr;
}

bool LiveObject::hasOperators() {
    if (flags & kLiveHasOperators)
        return true;
    if (propertyManager && propertyManager->hasOperators()) {
        flags |= kLiveHasOperators;
        return true;
    }
    return false;
}

void LiveObject::reset() {
    if (!usable())
        return;
    flags &= kLiveResetKeeps;
    {
        ComponentWalk walk(*data);
        for (i32 i = 0; i < walk.count(); i++) {
            LiveComponent& component = walk.at(i);
            LockableGuard guard(component);
            component.reset();
            if (component.hasOperators())
                flags |= kLiveHasOperators;
        }
    }
    removeProperties(true);
}

i32 LiveObject::getPropertyIDs(SimpleArray& ids, u32 requestFlags) {
    if (!usable())
        return Err::kInvalidObject;
    return statusOf([&] {
        IdListing listing(ids);
        for (LiveProperty* record = data->first; record; record = record->next) {
            if ((record->flags & kMemberHidden) && !(requestFlags & kListHidden))
                continue;
            if (requestFlags & (record->flags & kMemberListedReadOnly ? kListReadOnly : kListReadWrite))
                listing.add(record->id);
        }
        if (propertyManager) {
            SimpleArray more;
            LockableGuard guard(*propertyManager);
            propertyManager->getPropertyIDs(more, requestFlags);
            listing.addAll(more);
        }
        if (data->components.getCount() > 0) {
            ComponentWalk walk(*data);
            for (i32 i = 0; i < walk.count(); i++) {
                SimpleArray more;
                LockableGuard guard(walk.at(i));
                walk.at(i).getPropertyIDs(*this, more, requestFlags);
                listing.addAll(more);
            }
            // Members a component suppresses are not listed.
            SimpleArray kept;
            for (i32 n = 0; n < ids.getCount(); n++) {
                i32 id = i32(ids.get(n));
                bool hidden = false;
                for (i32 i = 0; i < walk.count() && !hidden; i++)
                    hidden = kindIn(walk.at(i), *this, id) == kKindSuppressed;
                if (!hidden)
                    kept.add(id);
            }
            ids = kept;
        }
        if (hasListeners(kMsgEnumerate)) {
            LiveMessage ask(*this, kMsgEnumerate, &ids);
            ask.requestFlags = requestFlags;
            if (send(ask) && ask.status != 0)
                return ask.status;
        }
        return 0;
    });
}

// ---------------------------------------------------------------------------
// get, put, call

i32 LiveObject::get(i32 id, Variant& result, Error* error) {
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    i32 status = withResult(result, [&] { return getFrom(id, result, error); });
    return setPropertyError(status, id, error);
}

i32 LiveObject::getFrom(i32 id, Variant& result, Error* error) {
    if (LiveProperty* record = ownById(id)) {
        if (!isReadableKind(record->getKind()))
            return Err::kUndefined;
        if (!(record->flags & kMemberByListeners))
            return record->get(result);
        LiveMessage ask(*this, kMsgGet, id, error);
        if (!send(ask))
            return Err::kUndefined;
        if (ask.status == 0) {
            // The listener may have removed the member meanwhile.
            if (usable())
                if (LiveProperty* again = ownById(id))
                    again->value = *ask.getData();
            result = *ask.getData();
        }
        return ask.status;
    }
    return serveByComponents(*this, *data, id, Err::kUndefined, [&](LiveComponent& component, u32 kind) {
        if (isReadableKind(kind))
            return component.get(*this, id, result, error);
        return kind == kKindMethod || kind == kKindSuppressed ? Err::kUndefined : kAskNext;
    });
}

i32 LiveObject::put(i32 id, const Variant& value, Error* error) {
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    i32 status = statusOf([&] { return putTo(id, value, error); });
    // The container sees the new state; what it answers is its own affair.
    if (status == 0 && usable() && data->container)
        updateContainer(nullptr);
    return setPropertyError(status, id, error);
}

// A read-only own record (kind 1) takes its one write and then answers 46;
// other kinds that are not writable answer 2.
i32 LiveObject::putTo(i32 id, const Variant& value, Error* error) {
    if (LiveProperty* record = ownById(id)) {
        u32 kind = record->getKind();
        bool writable = (record->flags & kMemberWritableOnce) || isWritableKind(kind) ||
                        kind == kKindReadOnly;
        if (!writable)
            return Err::kUndefined;
        if (!(record->flags & kMemberByListeners))
            return record->put(value);
        LiveMessage ask(*this, kMsgPut, id, error);
        *ask.getData() = value;
        if (!send(ask))
            return Err::kUndefined;
        return ask.status == Err::kUndefined ? 0 : ask.status;
    }
    return serveByComponents(*this, *data, id, Err::kUndefined, [&](LiveComponent& component, u32 kind) {
        if (isWritableKind(kind))
            return component.put(*this, id, value, error);
        if (kind == kKindReadOnly || kind == kKindCallableReadOnly)
            return Err::kReadOnly;
        return kind == kKindMethod || kind == kKindSuppressed ? Err::kUndefined : kAskNext;
    });
}

i32 LiveObject::call(i32 id, const Array& args, Variant& result, Error* error) {
    return invoke(*this, id, args, result, error);
}

i32 LiveObject::invoke(LiveObject& target, i32 id, const Array& args, Variant& result,
                       Error* error) {
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    i32 status = withResult(result, [&] { return invokeOn(target, id, args, result, error); });
    return setPropertyError(status, id, error);
}

i32 LiveObject::invokeOn(LiveObject& target, i32 id, const Array& args, Variant& result,
                         Error* error) {
    if (LiveProperty* record = ownById(id)) {
        if (!isCallableKind(record->getKind()))
            return Err::kNotAFunction;
        if (!(record->flags & kMemberByListeners))
            return record->call(args, result);
        i32 classCheck = target.getClassName() == getClassName() ? 0 : Err::kWrongClass;
        LiveMessage ask(target, kMsgCall, id, args, error);
        if (!send(ask))
            return classCheck ? classCheck : Err::kNotAFunction;
        i32 status = ask.status == Err::kUndefined ? classCheck : ask.status;
        if (status == 0)
            result = *ask.getData();
        return status;
    }
    return serveByComponents(*this, *data, id, Err::kNotAFunction, [&](LiveComponent& component, u32 kind) {
        if (kind == kKindNone)
            return kAskNext;
        if (kind == kKindSuppressed)
            return Err::kUndefined;
        if (!isCallableKind(kind))
            return Err::kNotAFunction;
        if (!component.isGenericMethod(id) && !(target.getClassName() == getClassName()))
            return Err::kWrongClass;
        return component.call(target, id, args, result, error);
    });
}

}  // namespace LxCore
