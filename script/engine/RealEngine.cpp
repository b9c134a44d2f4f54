// Engine state: construction, lazy set-up with the registration of the
// native classes, cloning, API objects, the stack budget and teardown; and
// the value services the object model calls.
#include "script/engine/RealEngine.h"

#include <cstdlib>
#include <exception>
#include <new>

#include "base/platform/EnvironmentLock.h"
#include "core/Broadcaster.h"
#include "core/ErrorCodes.h"
#include "core/ThreadData.h"
#include "core/platform/NativeText.h"
#include "script/engine/LiveHold.h"
#include "script/engine/Property.h"
#include "script/engine/TVContext.h"
#include "script/frontend/ParserAPI.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {


// A class object's global property: read-only, hidden from for-in, kept.
constexpr u32 kConstructorAttributes = kNativeBacked | kMethod | kReadOnly | kDontEnum | kDontDelete;
constexpr u32 kClassObjectAttributes = kNativeBacked | kReadOnly | kDontEnum | kDontDelete;

DataPool& pool() { return DataPool::get(); }

bool isBuiltInName(DataPoolId classSymbol) {
    if (Sym::isBuiltInClass(classSymbol))
        return true;
    const String name = pool().getSymbol(classSymbol);
    return name.compare("File") == 0 || name.compare("Folder") == 0 || name.compare("Socket") == 0;
}

// Ends a reference the engine counted, leaving the pointer null.
template <class T>
void dropCounted(T*& held) {
    if (T* o = held) {
        held = nullptr;
        o->dropRef();
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The object space's services

EngineObjects::EngineObjects(RealEngine& engine) : ObjectSpace(engine), real(engine) {}

u32 EngineObjects::getEffectiveDebugFlags() const { return real.effectiveDebugFlags; }

void EngineObjects::importValue(Variant& value, bool import) { real.importValue(value, import); }

void EngineObjects::watchpointHit(Property& slot) { real.watchpointHit(slot); }

bool EngineObjects::isIdle() const { return !real.isRunning(); }

Object* EngineObjects::resolveObject(const Variant& value) { return real.resolveObject(value); }

void EngineObjects::newInstance(Variant& result, DataPoolId classId, Object* constructor) {
    real.newInstance(result, classId, constructor);
}

// ---------------------------------------------------------------------------
// Life

RealEngine::RealEngine() : objects(*this) {
    std::string path;
    if (LxBase::readEnvironment("JSINCLUDE", path))
        includePath = LxCore::fromNative(path.data(), path.size());
    // The $ object's dispatcher is registered here once the $ class exists.
}

RealEngine::~RealEngine() {
    broadcast(LxCore::fourCharCode("enSh"));
    destroying = 1;
    objects.destroying = 1;
    if (LxCore::ThreadData* record = LxCore::ThreadData::find())
        if (record->engine == this)
            record->engine = nullptr;
    tasks.releaseAll();
    tasks.setCount(0);
    if (isRunning())
        setError(Err::kExecutionHalted);
    records.releaseAll();
    records.setCount(0);
    clearError();
    pendingCode = 0;
    clearDebugState();
    releaseAPIs();
    objectConstructor = regExpConstructor = nullptr;
    if (globalLiveObject) {
        globalLiveObject->release();
        globalLiveObject = nullptr;
    }
    objects.destroyAll();
    delete xmlSettings;
    xmlSettings = nullptr;
    if (regExpGlobals)
        regExpGlobals->dispose();
    regExpGlobals = nullptr;
}

void RealEngine::releaseAPIs() {
    apis.forEach(
        [](i64, void** value, void*) {
            delete static_cast<API*>(*value);
            return false;
        },
        nullptr);
}

i32 RealEngine::clone(Engine** out) const {
    Engine* made = nullptr;
    const i32 status = Engine::clone(&made);
    if (status != 0)
        return status;
    if (auto* copy = dynamic_cast<RealEngine*>(made)) {
        copy->includePath = includePath;
        copy->flagByte = flagByte;
        copy->objects.setDefaultDispatcher(0, objects.getDefaultDispatcher(0));
        copy->objects.setDefaultDispatcher(1, objects.getDefaultDispatcher(1));
        for (i32 i = 0; i < objects.getClassTableSize(); i++) {
            const DataPoolId cls = objects.getClassTableEntry(i);
            copy->objects.setDispatcher(cls, objects.getDispatcherByID(cls));
        }
        copy->stackBudget = stackBudget;
        copy->debugger = debugger;
        copy->setDebugLevel(0);
        if (globalLiveObject) {
            LiveHold hold(globalLiveObject);
            LxCore::LiveObject* twin = nullptr;
            if (globalLiveObject->clone(twin, true) == 0)
                copy->globalLiveObject = twin;
        }
    }
    if (out)
        *out = made;
    else
        delete made;
    return 0;
}

// ---------------------------------------------------------------------------
// Stack budget

void RealEngine::setStackBudget(i32 bytes) { stackBudget = std::max(bytes, kMinStackBudget); }

void RealEngine::setStackLimit() { TVContext::get().setStackBottom(stackBudget); }

// ---------------------------------------------------------------------------
// Dispatchers

void RealEngine::registerDispatcher(Dispatcher* dispatcher, bool isDefault) {
    if (!dispatcher)
        return;
    try {
        DispatcherLock lock(dispatcher);
        // The dispatcher keeps each class's symbol beside its name.
        for (i32 i = 0; i < dispatcher->getClassCount(); i++)
            objects.setDispatcher(dispatcher->getClassID(i), dispatcher);
        if (isDefault) {
            if (!objects.getDefaultDispatcher(0))
                objects.setDefaultDispatcher(0, dispatcher);
            else
                objects.setDefaultDispatcher(1, dispatcher);
        }
    } catch (const std::bad_alloc&) {
        mapException();
    }
}

Dispatcher* RealEngine::getDispatcher(const String& className) {
    if (className.isEmpty())
        return objects.getDefaultDispatcher(0);
    return objects.getDispatcherByID(pool().add(className.chars()));
}

Dispatcher* RealEngine::getDispatcherByID(i32 classSymbol) {
    return objects.getDispatcherByID(classSymbol);
}

// The debugger and live-object interfaces come with their classes.
API* RealEngine::createAPI(i32 code) {
    if (code == API::kParser)
        return new ParserAPI(*this, *this);
    if (code == API::kHilite)
        return new HiliteAPI(*this, *this);
    return nullptr;
}

API* RealEngine::getAPI(i32 code) {
    // The front end's interfaces need only what a compile needs.
    if (code == API::kParser || code == API::kHilite)
        prepareToCompile();
    else
        ensureInitialized();
    if (auto* cached = static_cast<API*>(apis.get(code)))
        return cached;
    try {
        API* made = createAPI(code);
        if (made)
            apis.put(code, made);
        return made;
    } catch (const std::bad_alloc&) {
        mapException();
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Lazy set-up

void RealEngine::initialize() {
    // Resetting under running frames would free the objects they unwind through.
    if (isRunning()) {
        setError(Err::kBadArgument, String("reset"), -1, false);
        return;
    }
    globalPending = false;
    tearDownGlobalState();
    buildPendingGlobalState();
}

void RealEngine::prepareToCompile() {
    if (isInitialized() || globalPending)
        return;
    if (!deferGlobal) {
        initialize();
        return;
    }
    tearDownGlobalState();
    globalPending = true;
}

// What the reset left since is kept: the build comes where an initialised
// engine would already have it.
void RealEngine::ensureInitialized() {
    if (isInitialized())
        return;
    if (globalPending) {
        globalPending = false;
        buildPendingGlobalState();
        return;
    }
    initialize();
}

void RealEngine::buildPendingGlobalState() {
    try {
        buildGlobalState();
        return;
    } catch (...) {
        mapException();
    }
    // The next entry tries again from nothing.
    LxCore::Error kept = getError();
    tearDownGlobalState();
    restoreError(kept);
}

void RealEngine::tearDownGlobalState() {
    tasks.releaseAll();
    tasks.setCount(0);
    clearError();
    setDebugLevel(0);
    setProfilingLevel(0);
    setDebugFlags(0);
    clearDebugState();
    records.releaseAll();
    records.setCount(0);
    objects.clearReferences();
    objectConstructor = regExpConstructor = nullptr;
    if (globalLiveObject) {
        LiveHold hold(globalLiveObject);
        globalLiveObject->reset();
    }
    objects.destroyAll();
    delete xmlSettings;
    xmlSettings = nullptr;
    valueConversionObject = nullptr;
    currentFrame = nullptr;
    objects.objectCountAtCollection = 0;
    collectionAllowance = kCollectionThreshold;
    deadline = pauseStart = pauseNesting = 0;
    tryDepth = 0;
    accessNesting = 0;
    pendingCode = 0;
    resetByte = stoppedInDebugger = debuggerEntered = 0;
}

void RealEngine::buildGlobalState() {
    Dispatcher* global = objects.getDefaultDispatcher(1);
    if (!global)
        global = objects.getDefaultDispatcher(0);
    if (!global) {
        setError(Err::kText, String("Engine not initialized"), -1, false);
        return;
    }
    Object* made = newWorkspace();
    if (!made)
        throw std::bad_alloc();
    objects.globalObject = made;       // the factory's reference
    {
        DispatcherLock lock(global);
        made->setClassID(global->getClassID(0));
        made->setObjectID(kGlobalObjectId);
    }
    // Object and Function first: every later class object needs their prototypes.
    for (DataPoolId first : {Sym::kObject, Sym::kFunction})
        if (Dispatcher* d = objects.getDispatcherByID(first))
            registerClass(*d, first);
    std::vector<Dispatcher*> distinct;
    for (i32 i = 0; i < objects.getClassTableSize(); i++) {
        Dispatcher* d = objects.getDispatcherByID(objects.getClassTableEntry(i));
        if (std::find(distinct.begin(), distinct.end(), d) == distinct.end())
            distinct.push_back(d);
    }
    for (Dispatcher* d : distinct) {
        DispatcherLock lock(d);
        for (i32 i = 0; i < d->getClassCount(); i++) {
            const DataPoolId cls = d->getClassID(i);
            if (cls != Sym::kObject && cls != Sym::kFunction)
                registerClass(*d, cls);
        }
    }
    made->setPrototype(objects.objectPrototype);
    if (!globalLiveObject) {
        LxCore::LiveObject* live = nullptr;
        if (LxCore::LiveObject::createInstance(live, String("global"), 0x10000) != 0 || !live)
            live = new LxCore::LiveObject("global", true);
        globalLiveObject = live;
    }
    made->setLiveObject(globalLiveObject);
    setUpGlobal(*globalLiveObject);
}

LxCore::LiveObject* RealEngine::getGlobalLiveObject() {
    ensureInitialized();
    return globalLiveObject;
}

void RealEngine::setGlobalLiveObject(LxCore::LiveObject* live) {
    if (live == globalLiveObject)
        return;
    ensureInitialized();
    if (live)
        live->addRef();
    if (globalLiveObject)
        globalLiveObject->release();
    globalLiveObject = live;
    if (!live || !objects.globalObject)
        return;
    setUpGlobal(*live);
    objects.globalObject->setLiveObject(live);
}

void RealEngine::registerClass(Dispatcher& d, DataPoolId cls) {
    Object* global = getGlobalObject();
    if (Property* there = global->findOwnProperty(cls, kFindOwn))
        if (!there->isRemoved())
            return;     // another dispatcher registered the class first
    LxCore::TSimpleArray<const PropInfo> rows;
    d.getProperties(cls, 0, rows);
    const bool firstStatic = rows.getCount() > 0 && rows.get(0)->isStatic();
    const PropInfo* constructorRow = d.findProperty(cls, cls, nullptr, true, false);
    const u32 builtIn = isBuiltInName(cls) ? u32(kBuiltIn) : 0u;

    ObjectRef classObject;
    u32 attributes;
    bool allRows = false;
    if (constructorRow && constructorRow->isMethod() && constructorRow->handler) {
        ObjectRef f = ObjectRef::adopt(new DispatcherFunction(objects, &d, *constructorRow, cls));
        Function* function = f->asFunction();
        function->findProperty(Sym::kPrototype, kFindOwn);
        Object* proto = function->getPrototypeObject();
        if (!proto)
            proto = objects.objectPrototype;
        if (proto) {
            LxCore::Array none;
            Variant ignored;
            f->construct(proto, none, ignored);
        }
        if (cls == Sym::kObject) {
            objectConstructor = function;
            objects.objectPrototype = proto;
            if (proto)
                proto->addRef();
        } else if (cls == Sym::kFunction) {
            objects.functionPrototype = proto;
            if (proto) {
                proto->addRef();
                f->setPrototype(proto);
                if (objectConstructor)
                    objectConstructor->setPrototype(proto);
            }
        } else if (cls == Sym::kRegExp) {
            regExpConstructor = function;
        } else if (cls == Sym::kError) {
            objects.errorPrototype = proto;
            if (proto)
                proto->addRef();
        }
        classObject = f;
        attributes = kConstructorAttributes;
    } else if ((constructorRow && constructorRow->isMethod()) || (!constructorRow && firstStatic)) {
        Variant made;
        newObject(made, cls, nullptr, nullptr);
        classObject = ObjectRef(objectOf(made));
        if (!classObject)
            return;
        classObject->setObjectID(kPrototypeId);
        attributes = kClassObjectAttributes;
        allRows = true;
    } else if (!constructorRow) {
        if (objects.isDefaultDispatcher(&d))
            return;
        classObject = ObjectRef::adopt(new Function(objects, cls));
        attributes = kConstructorAttributes;
    } else {
        return;     // a constructor row that is not a constructor
    }
    for (i32 i = 0; i < rows.getCount(); i++) {
        const PropInfo* row = rows.get(i);
        if (row->symbol == cls || (!allRows && !row->isStatic()))
            continue;
        if (Property* p = classObject->createDispatcherProperty(&d, *row, row->symbol))
            p->addAttributes(builtIn);
    }
    global->createProperty(cls, Variant(classObject.get()), attributes | builtIn);
}

// ---------------------------------------------------------------------------
// Invalidation

void RealEngine::invalidateClass(const String& name) {
    if (!isInitialized() || name.isEmpty())
        return;
    const DataPoolId cls = pool().add(name.chars());
    Object* global = getGlobalObject();
    if (global->getClassID() == cls)
        return;
    global->removeProperty(cls, true);
    objects.invalidateClassObjects(cls);
}

// ---------------------------------------------------------------------------
// Value services

Object* RealEngine::getPrototypeOf(Object* constructor) {
    Object* proto = nullptr;
    if (Function* f = constructor ? constructor->asFunction() : nullptr)
        proto = f->getPrototypeObject();
    return proto ? proto : objects.objectPrototype;
}

void RealEngine::newInstance(Variant& result, i32 cls, Object* constructor) {
    // An Array keeps its elements in the dense store.
    ObjectRef made = ObjectRef::adopt(Object::make(objects, cls));
    result.setObject(made.get());
    if (constructor)
        made->setPrototype(getPrototypeOf(constructor));
}

void RealEngine::newObject(Variant& result, i32 cls, const LxCore::BasicArray* args,
                           Object* constructor) {
    // An Array keeps its elements in the dense store.
    ObjectRef made = ObjectRef::adopt(Object::make(objects, cls));
    result.setObject(made.get());
    if (cls == Sym::kObject && !constructor && !args)
        return;
    ObjectRef ctor(constructor);
    if (!ctor) {
        Object* global = getGlobalObject();
        Variant value;
        if (global)
            global->get(cls, value, 0);
        ctor = ObjectRef(objectOf(value));
        if (!ctor)
            return;
    }
    made->setPrototype(getPrototypeOf(ctor.get()));
    LxCore::Array none;
    Variant constructed;
    ctor->construct(made.get(), args ? *args : none, constructed);
    if (Object* other = objectOf(constructed))
        if (other != made.get())
            result.setObject(other);
}

}  // namespace LxScript
