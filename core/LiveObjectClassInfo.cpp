// Descriptions of a live object's class, members, parameters and value types.
#include "core/LiveObjectClassInfo.h"

#include <limits>
#include <new>

#include "core/ErrorCodes.h"
#include "core/LiveCollection.h"

namespace LxCore {

namespace {

constexpr u32 kDeleting = Broadcaster::kDeleting;

// Stops listening to the dying object and forgets it.
bool forget(Message& message, LiveObject*& object, Listener* listener) {
    if (message.getId() == kDeleting && object &&
        message.getSender() == static_cast<Broadcaster*>(object)) {
        object->removeListener(listener, kDeleting);
        object = nullptr;
    }
    return false;
}

void follow(LiveObject* object, Listener* listener) {
    if (object)
        object->addListener(listener, kDeleting);
}

void unfollow(LiveObject* object, Listener* listener) {
    if (object)
        object->removeListener(listener, kDeleting);
}

}  // namespace

// ---------------------------------------------------------------------------
// LiveObjectTypeInfo

void LiveObjectTypeInfo::bind(LiveObject* target, i32 memberId) {
    id = memberId;
    if (target == object)
        return;
    unfollow(object, this);
    object = target;
    follow(object, this);
}

bool LiveObjectTypeInfo::onMessage(Message& message) { return forget(message, object, this); }

// Methods and members that cannot be read have no value to describe.
bool LiveObjectTypeInfo::readValue(Variant& out) const {
    if (!object || object->getPropertyKind(id) == kKindMethod)
        return false;
    return object->get(id, out, nullptr) == 0;
}

u32 LiveObjectTypeInfo::getType() const {
    Variant value;
    return readValue(value) ? u32(value.getType()) : kTypeAny;
}

void LiveObjectTypeInfo::getClassName(String& out) const {
    out.clear();
    Variant value;
    if (!readValue(value))
        return;
    if (LiveObject* live = value.getType() == Variant::kLiveObject ? value.getLiveObject() : nullptr)
        out = live->getClassName();
    else if (value.getType() == Variant::kScriptObject)
        out = *Variant::asString(value);        // its class name
}

bool LiveObjectTypeInfo::isArray() const {
    Variant value;
    if (!readValue(value))
        return false;
    LiveObject* live = value.getType() == Variant::kLiveObject ? value.getLiveObject() : nullptr;
    return live && live->getInterface(kCollectionInterface);
}

bool LiveObjectTypeInfo::getRange(f64* min, f64* max) const {
    if (min)
        *min = -std::numeric_limits<f64>::infinity();
    if (max)
        *max = std::numeric_limits<f64>::infinity();
    return false;
}

bool LiveObjectTypeInfo::getDefault(Variant& out) const {
    out.clear();
    return false;
}

// ---------------------------------------------------------------------------
// LiveObjectServiceInfo

LiveObjectServiceInfo::LiveObjectServiceInfo(LiveObject& target, i32 memberId)
    : object(&target), id(memberId) {
    follow(object, this);
}

LiveObjectServiceInfo::~LiveObjectServiceInfo() {
    unfollow(object, this);
    if (lastParam)
        lastParam->release();
}

bool LiveObjectServiceInfo::onMessage(Message& message) { return forget(message, object, this); }

const LiveProperty* LiveObjectServiceInfo::ownRecord() const {
    return object ? object->getOwnProperty(id) : nullptr;
}

u32 LiveObjectServiceInfo::getClients() const {
    const LiveProperty* record = ownRecord();
    u32 mask = record ? record->flags & kClientMaskBits : 0;
    return mask ? mask : kScriptClient;
}

u32 LiveObjectServiceInfo::getCategory() const {
    const LiveProperty* record = ownRecord();
    return record && (record->flags & 0x100) ? 5 : 1;
}

i32 LiveObjectServiceInfo::getName(String& out) const {
    if (!object)
        return Err::kInvalidObject;
    return object->getPropertyName(id, out, kScriptClient);
}

u32 LiveObjectServiceInfo::getKind() const { return object ? object->getPropertyKind(id) : kKindNone; }

TypeInfo* LiveObjectServiceInfo::getDataType() {
    valueType.bind(object, id);
    return &valueType;
}

// The one held is renamed and reused while nobody else holds it.
ParamInfo* LiveObjectServiceInfo::getParamInfo(u32 index) {
    try {
        if (!lastParam || lastParam->getRefCount() >= 2) {
            auto* fresh = new LiveObjectParamInfo;
            if (lastParam)
                lastParam->release();
            lastParam = fresh;
        }
        lastParam->name.sprintf("arg%d", int(index + 1));
        lastParam->addRef();
        return lastParam;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool LiveObjectServiceInfo::getSampleText(String& out) const {
    out.clear();
    return false;
}

// ---------------------------------------------------------------------------
// LiveObjectClassInfo

LiveObjectClassInfo::LiveObjectClassInfo(LiveObject& target) : object(&target) {
    follow(object, this);
}

LiveObjectClassInfo::~LiveObjectClassInfo() {
    unfollow(object, this);
    if (last)
        last->release();
}

bool LiveObjectClassInfo::onMessage(Message& message) { return forget(message, object, this); }

u32 LiveObjectClassInfo::getKind() const {
    return object && (object->getFlags() & kLiveEnumeration) ? 6 : 1;
}

void LiveObjectClassInfo::getName(String& out) const {
    if (object)
        out = object->getClassName();
}

i32 LiveObjectClassInfo::getServiceNames(StringList& out, u32 flags) {
    if (!object)
        return Err::kInvalidObject;
    freeStrings(out);
    return statusOf([&] {
        SimpleArray ids;
        i32 status = object->getPropertyIDs(ids, flags | kScriptClient);
        for (i32 i = 0; status == 0 && i < ids.getCount(); i++) {
            String name;
            status = object->getPropertyName(i32(ids.get(i)), name, kScriptClient);
            if (status == 0)
                appendString(out, name);
        }
        return status;
    });
}

i32 LiveObjectClassInfo::getServiceIDs(SimpleArray& out, u32 flags) {
    if (!object)
        return Err::kInvalidObject;
    return object->getPropertyIDs(out, flags | kScriptClient);
}

ServiceInfo* LiveObjectClassInfo::getServiceInfoByName(const String& name) {
    if (!object)
        return nullptr;
    // The class's own name is its constructor, described by the table of
    // the registered class object (or its own).
    if (name == object->getClassName()) {
        LiveObject* classObject = LiveObject::findClass(name, kScriptClient);
        LivePropertyManager* table =
            (classObject ? classObject : object)->getPropertyManager();
        return table ? table->getConstructorInfo(kScriptClient) : nullptr;
    }
    i32 id;
    u32 kind;
    if (object->findProperty(name, id, kind, kScriptClient) != 0)
        return nullptr;
    return getServiceInfo(id);
}

// The class table's description, else the component's that knows the
// member, else one of this object's own.
ServiceInfo* LiveObjectClassInfo::getServiceInfo(i32 id) {
    if (!object)
        return nullptr;
    const u32 clients = 0x70000;
    if (LivePropertyManager* table = object->getPropertyManager()) {
        LockableGuard guard(*table);
        if (ServiceInfo* described = table->getServiceInfo(id, clients))
            return described;
    }
    if (LiveComponent* component = object->findComponentFor(id, nullptr)) {
        LockableGuard guard(*component);
        if (ServiceInfo* described = component->getServiceInfo(*object, id, clients))
            return described;
    }
    try {
        if (!last || last->getRefCount() >= 2) {
            auto* fresh = new LiveObjectServiceInfo(*object, id);
            if (last)
                last->release();
            last = fresh;
        }
        last->setID(id);
        last->addRef();
        return last;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Static services are the instance services of the registered class object;
// asked of the class object itself, they are its own and end there.
template <class Ask>
ServiceInfo* LiveObjectClassInfo::askClassObject(Ask ask) {
    if (!object)
        return nullptr;
    LiveObject* classObject = LiveObject::findClass(object->getClassName(), kScriptClient);
    if (!classObject)
        return nullptr;
    if (classObject == object)
        return ask(*this);
    ClassInfo* info = classObject->getClassInfo();
    if (!info)
        return nullptr;
    RefcountablePtr held(info);
    return ask(*info);
}

ServiceInfo* LiveObjectClassInfo::getStaticServiceInfoByName(const String& name) {
    return askClassObject([&](ClassInfo& info) { return info.getServiceInfoByName(name); });
}

ServiceInfo* LiveObjectClassInfo::getStaticServiceInfo(i32 id) {
    return askClassObject([&](ClassInfo& info) { return info.getServiceInfo(id); });
}

bool LiveObjectClassInfo::getSampleText(String& out) const {
    out.clear();
    return false;
}

}  // namespace LxCore
