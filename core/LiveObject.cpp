// LiveObject: life, validity, components, native data, cloning, the link to
// its container, conversions, and the process-wide class registry. Member
// access is in LiveObjectMembers.cpp.
#include "core/LiveObject.h"

#include "core/ErrorCodes.h"
#include "core/LiveObjectClassInfo.h"
#include "core/LivePropertyManager.h"
#include "core/TypeInfo.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace LxCore {

namespace {

// How deep each kind of nested work may go on one thread.
constexpr i32 kMaxConversionDepth = 8;
constexpr i32 kMaxWriteBackDepth = 128;
constexpr i32 kMaxPrintDepth = 128;

thread_local i32 conversionDepth = 0;
thread_local i32 writeBackDepth = 0;
thread_local i32 printDepth = 0;

i32& depthOf(ObjectBusy::Work work, i32& limit) {
    switch (work) {
        case ObjectBusy::kConverting:
            limit = kMaxConversionDepth;
            return conversionDepth;
        case ObjectBusy::kWritingBack:
            limit = kMaxWriteBackDepth;
            return writeBackDepth;
        default:
            limit = kMaxPrintDepth;
            return printDepth;
    }
}

constexpr u32 kContainerDied = Broadcaster::kDeleted;

}  // namespace

// ---------------------------------------------------------------------------
// ObjectBusy

ObjectBusy::ObjectBusy(LiveObject& target, Work w) : work(w) {
    if (target.busy & work)
        return;
    i32 limit;
    i32& counter = depthOf(work, limit);
    enter(counter);
    if (entered()) {
        object = &target;
        target.busy |= work;
    }
}

ObjectBusy::ObjectBusy(Work w) : work(w) {
    i32 limit;
    enter(depthOf(work, limit));
}

void ObjectBusy::enter(i32& counter) {
    i32 limit;
    depthOf(work, limit);
    if (counter >= limit) {
        refusedDeep = true;
        return;
    }
    counter++;
    depth = &counter;
}

ObjectBusy::~ObjectBusy() {
    if (depth)
        --*depth;
    if (object)
        object->busy &= u8(~work);
}

// ---------------------------------------------------------------------------
// Life

LiveObject::LiveObject(const char* name, bool dynamic) : data(nullptr), className(name) {
    try {
        data = new LiveObjectData;
    } catch (const std::bad_alloc&) {
        valid = 0;
        return;
    }
    if (dynamic)
        flags |= kLiveDynamic;
}

u32 LiveObject::release() {
    u32 count = atomicDecrement(&refCount);
    if (count == 0)
        destroyInTurn([](void* object) { delete static_cast<LiveObject*>(object); }, this);
    return count;
}

LiveObject::~LiveObject() {
    if (!data)
        return;
    setNativeData(nullptr);
    if (LiveObject* container = data->container) {
        GlobalLockGuard registry(kClassRegistryLock);
        LockableGuard guard(*container);
        container->removeListener(this, kContainerDied);
        data->container = nullptr;
    }
    if (data->classInfo)
        data->classInfo->release();
    delete data->value;
    for (i32 i = 0; i < data->components.getCount(); i++)
        data->components.get(i)->release();
    data->components.setCount(0);
    removeProperties(true);
    delete data;
    data = nullptr;
}

// ---------------------------------------------------------------------------
// Interfaces and validity

void* LiveObject::getInterface(u32 code) {
    if (code == kObjectInterface)
        return this;
    if (code == kValueInterface) {
        if (!data)
            return nullptr;
        if (!data->value) {
            try {
                data->value = new Variant;
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
        }
        return data->value;
    }
    return nullptr;
}

const void* LiveObject::getInterface(u32 code) const {
    return const_cast<LiveObject*>(this)->getInterface(code);
}

void LiveObject::invalidate() { setValidity(false); }

void LiveObject::validate() { setValidity(true); }

// The notice goes out with a reference held, so a listener may drop its own.
void LiveObject::setValidity(bool nowValid) {
    if (isValid() == nowValid)
        return;
    valid = nowValid;
    if (!data)
        return;
    addRef();
    statusOf([&] { return i32(broadcast(nowValid ? kMsgValidated : kMsgInvalidated)); });
    release();
}

const String& LiveObject::getClassName() {
    if (className.isEmpty())
        className = "Object";
    return className;
}

bool LiveObject::equals(const LiveObject& other) const {
    if (!data || !other.data || !valid)
        return false;
    const LiveObjectData& a = *data;
    const LiveObjectData& b = *other.data;
    return className == other.className && a.classId == b.classId && a.container == b.container &&
           a.containerId == b.containerId && a.components == b.components;
}

// Native data is a NativeData: counted data gains a reference here, and the
// old data is released or deleted.
void LiveObject::setNativeData(Root* nativeData) {
    if (!data || data->nativeData == nativeData)
        return;
    Root* old = data->nativeData;
    data->nativeData = nativeData;
    if (nativeData)
        static_cast<NativeData*>(nativeData)->retain();
    if (old)
        static_cast<NativeData*>(old)->dispose();
}

Root* LiveObject::getNativeData() const { return data ? data->nativeData : nullptr; }

LiveProperty* LiveObject::createProperty(const String& name, i32 id, u32 memberFlags) {
    return new LiveProperty(*this, name, id, memberFlags);
}

i32 LiveObject::createObject(LiveObject*& out, const String& name, u32 clientMask) {
    return createInstance(out, name, clientMask);
}

i32 LiveObject::initialize(const Array&, Error*) { return 0; }

// Made on first request; the object keeps one reference, the caller gets one.
ClassInfo* LiveObject::getClassInfo() {
    if (!data)
        return nullptr;
    if (!data->classInfo) {
        try {
            data->classInfo = new LiveObjectClassInfo(*this);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    data->classInfo->addRef();
    return data->classInfo;
}

// ---------------------------------------------------------------------------
// Components

i32 LiveObject::addComponent(LiveComponent& component) {
    if (!data)
        return Err::kInvalidObject;
    if (data->components.find(&component) >= 0)
        return 0;
    try {
        data->components.add(&component);
    } catch (const std::bad_alloc&) {
        return Err::kOutOfMemory;
    }
    component.addRef();
    LockableGuard guard(component);
    if (component.hasOperators())
        flags |= kLiveHasOperators;
    return 0;
}

i32 LiveObject::removeComponent(LiveComponent& component) {
    if (!data)
        return Err::kInvalidObject;
    i32 at = data->components.find(&component);
    if (at < 0)
        return 0;
    try {
        data->components.removeAt(at);
    } catch (const std::bad_alloc&) {
        return Err::kOutOfMemory;  // a shared list could not be copied: it stays attached
    }
    component.release();
    return 0;
}

// ---------------------------------------------------------------------------
// Cloning

i32 LiveObject::clone(LiveObject*& out, bool deep) {
    out = nullptr;
    if (!usable())
        return Err::kInvalidObject;
    try {
        Variant made;
        i32 status = call(kCloneMethodId, Array(), made, nullptr);
        LiveObject* target;
        if (status == 0) {
            target = made.getLiveObject();
            if (!target)
                return Err::kNotAnObject;  // the clone method gave no object
            target->addRef();
        } else if (status == Err::kUndefined || status == Err::kNotAFunction) {
            target = new LiveObject(nullptr, true);
        } else {
            return status;
        }
        // A clone method that answers with this object itself copies nothing.
        if (target != this) {
            try {
                copyStateTo(*target, deep);
            } catch (...) {
                target->release();
                throw;
            }
        }
        out = target;
        return 0;
    } catch (const std::bad_alloc&) {
        return Err::kOutOfMemory;
    } catch (...) {
        return Err::kUncaughtException;
    }
}

void LiveObject::copyStateTo(LiveObject& target, bool deep) {
    if (!target.data)
        throw std::bad_alloc();
    target.className = className;
    target.flags = flags;
    if (data->value) {
        auto* value = static_cast<Variant*>(target.getInterface(kValueInterface));
        if (!value)
            throw std::bad_alloc();
        *value = *data->value;
    }
    TSimpleArray<LiveComponent> old = target.data->components;
    target.data->components = TSimpleArray<LiveComponent>();
    for (i32 i = 0; i < old.getCount(); i++)
        old.get(i)->release();
    for (i32 i = 0; i < data->components.getCount(); i++)
        target.addComponent(*data->components.get(i));
    if (!deep)
        return;
    target.removeProperties(true);
    target.data->nextOrder = data->nextOrder;
    std::vector<LiveProperty*> copies;
    for (LiveProperty* p = data->first; p; p = p->next) {
        std::unique_ptr<LiveProperty> copy(new LiveProperty(*p));
        copy->owner = &target;
        copy->used = p->used;
        target.link(copy.get());
        copies.push_back(copy.release());
    }
    // Each copy goes to the front of the target's use order in the source's
    // use order, so the target's runs the other way.
    std::sort(copies.begin(), copies.end(),
              [](const LiveProperty* a, const LiveProperty* b) { return a->used > b->used; });
    for (LiveProperty* copy : copies)
        copy->used = ++target.data->useClock;
}

// ---------------------------------------------------------------------------
// Container

void LiveObject::setContainer(LiveObject* container, i32 propertyId) {
    if (!data)
        return;
    GlobalLockGuard registry(kClassRegistryLock);
    LiveObject* old = data->container;
    if (container != old) {
        if (container) {
            LockableGuard guard(*container);
            container->addListener(this, kContainerDied);
        }
        if (old) {
            LockableGuard guard(*old);
            old->removeListener(this, kContainerDied);
        }
        data->container = container;
    }
    data->containerId = propertyId;
}

bool LiveObject::onMessage(Message& message) {
    if (message.getId() == kContainerDied && data && data->container &&
        message.getSender() == static_cast<Broadcaster*>(data->container)) {
        data->container = nullptr;
        data->containerId = 0;
    }
    return false;
}

// An object already writing back does not start again, so a cycle of
// containers writes each once; a chain too long gives 27.
i32 LiveObject::updateContainer(Error* error) {
    if (!data || !data->container)
        return 0;
    ObjectBusy busy(*this, ObjectBusy::kWritingBack);
    if (!busy.entered())
        return busy.tooDeep() ? Err::kStackOverrun : 0;
    LiveObject* container = data->container;
    container->addRef();
    i32 status;
    try {
        Variant self;
        self.setLiveObject(*this, 0);
        LockableGuard guard(*container);
        status = container->put(data->containerId, self, error);
    } catch (const std::bad_alloc&) {
        status = Err::kOutOfMemory;
    } catch (...) {
        status = Err::kUncaughtException;
    }
    container->release();
    return status;
}

// ---------------------------------------------------------------------------
// Conversions and calls by name

void LiveObject::valueOf(Variant& result) {
    result.clear();
    i32 id;
    u32 kind;
    if (findProperty(String("valueOf"), id, kind, kScriptClient) == 0) {
        ObjectBusy busy(*this, ObjectBusy::kConverting);
        if (!busy.entered()) {
            result.setNaN();        // already converting: the call would nest forever
            return;
        }
        callMethod(id, result);
        return;
    }
    if (data && data->value)
        result = *data->value;
}

void LiveObject::toString(String& text) {
    try {
        i32 id;
        u32 kind;
        if (findProperty(String("toString"), id, kind, kScriptClient) == 0) {
            ObjectBusy busy(*this, ObjectBusy::kConverting);
            Variant result;
            if (busy.entered() && callMethod(id, result) == 0) {
                text = *Variant::asString(result);
                return;
            }
        }
        text.sprintf("[object %ls]", getClassName().chars());
    } catch (...) {
        text.clear();
    }
}

i32 LiveObject::callMethod(const String& name, const Array& args, Variant& result,
                           Error* error) {
    result.clear();
    i32 id;
    u32 kind;
    i32 status = findProperty(name, id, kind, kScriptClient);
    if (status != 0) {
        if (error && error->isEmpty())
            error->push(status, name, nullptr, true);
        return status;
    }
    if (!isCallableKind(kind))
        return setPropertyError(Err::kNotAFunction, id, error);
    // valueOf and toString convert the object: one of them called again on
    // an object already converting, or nested too deep, would never end.
    if (sameName(name, "valueOf", false) || sameName(name, "toString", false)) {
        ObjectBusy busy(*this, ObjectBusy::kConverting);
        if (!busy.entered())
            return setPropertyError(Err::kStackOverrun, id, error);
        return setPropertyError(call(id, args, result, error), id, error);
    }
    return setPropertyError(call(id, args, result, error), id, error);
}

i32 LiveObject::callMethod(const String& name, Variant& result, Error* error) {
    return callMethod(name, Array(), result, error);
}

i32 LiveObject::callMethod(i32 id, Variant& result) { return call(id, Array(), result, nullptr); }

// ---------------------------------------------------------------------------
// The class registry

namespace {

struct FactoryInfo : public Root {
    LiveObject* factory;        // one reference
    u32 clientMask;
    i32 classId;                // the id it is entered under; 0 for none

    FactoryInfo(LiveObject& f, u32 mask) : factory(&f), clientMask(mask), classId(f.getClassId()) {
        factory->addRef();
    }
    ~FactoryInfo() { factory->release(); }
};

using ClassTable = THashTable<FactoryInfo>;

ClassTable* classesByName = nullptr;
IntHashTable* classesById = nullptr;

// Takes the id mapping away from an entry, when the id maps to it.
void dropIdOf(FactoryInfo* entry) {
    if (!classesById || entry->classId == 0 || classesById->get(entry->classId) != entry)
        return;
    classesById->remove(entry->classId);
    if (classesById->getCount() == 0) {
        delete classesById;
        classesById = nullptr;
    }
}

FactoryInfo* findEntry(const String& name, u32 clientMask) {
    if (!classesByName)
        return nullptr;
    FactoryInfo* entry = classesByName->get(name);
    return entry && (entry->clientMask & clientMask) ? entry : nullptr;
}

}  // namespace

i32 LiveObject::registerClass(LiveObject& factory, u32 clientMask) {
    GlobalLockGuard registry(kClassRegistryLock);
    try {
        if (!classesByName)
            classesByName = new ClassTable;
        std::unique_ptr<FactoryInfo> entry(new FactoryInfo(factory, clientMask));
        if (entry->classId && !classesById)
            classesById = new IntHashTable;
        const String name = factory.getClassName();
        FactoryInfo* old = classesByName->get(name);
        classesByName->put(name, entry.get());
        if (entry->classId) {
            try {
                classesById->put(entry->classId, entry.get());
            } catch (...) {
                if (old)
                    classesByName->put(name, old);      // an existing key: no allocation
                else
                    classesByName->remove(name);
                throw;
            }
        }
        entry.release();
        if (old) {
            dropIdOf(old);
            delete old;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return Err::kOutOfMemory;
    } catch (...) {
        return Err::kUncaughtException;
    }
}

void LiveObject::unregisterClass(const String& name) {
    GlobalLockGuard registry(kClassRegistryLock);
    if (!classesByName)
        return;
    FactoryInfo* entry = classesByName->remove(name);
    if (classesByName->getCount() == 0) {
        delete classesByName;
        classesByName = nullptr;
    }
    if (!entry)
        return;
    dropIdOf(entry);
    delete entry;
}

LiveObject* LiveObject::findClass(const String& name, u32 clientMask) {
    GlobalLockGuard registry(kClassRegistryLock);
    FactoryInfo* entry = findEntry(name, clientMask);
    return entry ? entry->factory : nullptr;
}

// The factory is held across its clone: the clone may unregister it.
i32 LiveObject::createInstance(LiveObject*& out, const String& name, u32 clientMask) {
    out = nullptr;
    LiveObject* factory;
    {
        GlobalLockGuard registry(kClassRegistryLock);
        FactoryInfo* entry = findEntry(name, clientMask);
        if (!entry)
            return Err::kNoConstructor;
        factory = entry->factory;
        factory->addRef();
    }
    i32 status;
    LiveObject* made = nullptr;
    {
        LockableGuard guard(*factory);
        status = factory->clone(made, true);
    }
    factory->release();
    if (status == 0)
        out = made;
    else if (made)
        made->release();
    return status;
}

void LiveObject::registerBuiltInClass(const LivePropertyInfo* instanceRows, const LivePropertyInfo* classRows,
                                      LivePropertyManager*& instanceTable, LivePropertyManager*& classTable,
                                      LiveObject* (*makeFactory)(), u32 clientMask) {
    std::unique_ptr<LivePropertyManager> instances(new LivePropertyManager(instanceRows));
    std::unique_ptr<LivePropertyManager> classes(new LivePropertyManager(classRows));
    instanceTable = instances.get();
    classTable = classes.get();
    LiveObject* factory = nullptr;
    i32 status = Err::kOutOfMemory;
    try {
        factory = makeFactory();
        status = registerClass(*factory, clientMask);
    } catch (...) {
    }
    if (factory)
        factory->release();
    if (status != 0) {
        instanceTable = classTable = nullptr;
        throw std::bad_alloc();
    }
    instances.release();
    classes.release();
}

namespace {

bool deleteFactory(ClassTable::Entry*, FactoryInfo** value, void*) {
    delete *value;
    return false;
}

}  // namespace

void initLiveObjectRegistry(bool start) {
    if (start)
        return;
    if (classesByName) {
        classesByName->forEach(deleteFactory, nullptr);
        delete classesByName;
        classesByName = nullptr;
    }
    delete classesById;
    classesById = nullptr;
}

}  // namespace LxCore
