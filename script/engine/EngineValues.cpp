// What native code asks of an engine's values: importing native values into
// script objects, reading and writing properties, calling functions and
// methods, elements, keeping values alive; and the scheduled tasks, script
// snippets compiled once and run after a delay when the host asks.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core/Clock.h"
#include "core/Dictionary.h"
#include "core/ErrorCodes.h"
#include "core/FileSpec.h"
#include "core/platform/FileSystem.h"
#include "core/LiveCollection.h"
#include "core/LiveObject.h"
#include "core/Point.h"
#include "core/UnitValue.h"
#include "script/engine/LibraryHooks.h"
#include "script/engine/LiveHold.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/engine/Script.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

constexpr u32 kKeepNativeValues = 0x40000000;      // debug flag
constexpr u32 kTickMs = 50;
constexpr u32 kMaxTaskTicks = 10000000;
constexpr u32 kNoConstructorAttribute = kWriteThrough;
// A constructor made on demand for a class the global object lacks.
constexpr u32 kMadeConstructorAttributes = kReadOnly | kDontEnum | kDontDelete;

DataPool& pool() { return DataPool::get(); }

// Every operation here that may run script is one guarded entry, counted as
// an outside access; native exceptions become engine errors.
template <class Body>
bool guarded(RealEngine& engine, Body&& body) {
    RealEngine::EntryState entry;
    engine.notifyAccess(true);
    try {
        engine.ensureInitialized();
        engine.enterRun(entry, 0);
        if (engine.isInitialized())
            body();
    } catch (...) {
        engine.mapException();
    }
    engine.leaveRun(entry);
    engine.notifyAccess(false);
    return engine.getPendingCode() == 0;
}

// Ticks of a task's delay: NaN and negative delays wait the longest.
u32 taskTicks(double delayMs) {
    const double ticks = delayMs / double(kTickMs);
    if (!(ticks >= 0) || ticks >= double(kMaxTaskTicks))
        return kMaxTaskTicks;
    return u32(ticks);
}

// Native data is untyped: a reference's carried pointer counts as a
// dictionary only when it is one the registry holds or the main one, found
// by its address alone.
LxCore::Dictionary* knownDictionary(LxCore::Root* carried) {
    if (!carried)
        return nullptr;
    if (carried == LxCore::Dictionary::getMainDictionary())
        return LxCore::Dictionary::getMainDictionary();
    struct Search {
        const LxCore::Root* wanted;
        LxCore::Dictionary* found;
    } search{carried, nullptr};
    LxCore::Dictionary::getRegistry()->forEach(
        [](LxCore::DictionaryRegistry::Entry*, LxCore::Dictionary** value, void* data) {
            auto* s = static_cast<Search*>(data);
            if (*value == s->wanted)
                s->found = *value;
            return true;
        },
        &search);
    return search.found;
}

// Carried native data is a NativeData (Object::setNativeData); a live object
// among them, else null.
LxCore::LiveObject* carriedLiveObject(const Variant& value) {
    LxCore::Root* carried = value.getNativeData();
    return carried ? dynamic_cast<LxCore::LiveObject*>(static_cast<LxCore::NativeData*>(carried)) : nullptr;
}

// Wrap-safe: due is not after now.
bool isDue(u32 due, u32 now) { return i32(due - now) <= 0; }

}  // namespace

// One scheduled task; the engine's list holds one reference.
class SchedulerData : public LxCore::Refcountable {
public:
    Variant function;
    LxCore::Array args;
    Variant* result = nullptr;
    u32 id = 0;
    u32 interval = 0;
    u32 due = 0;
    u8 repeat = 0;
};

// ---------------------------------------------------------------------------
// Import

void RealEngine::importNew(Variant& value, DataPoolId cls, const LxCore::BasicArray* args) {
    Variant made;
    newObject(made, cls, args, nullptr);
    value = made;
}

// The guarded entries initialise the engine; objects may exist before that
// (native code builds them), so importing never does.
void RealEngine::importValue(Variant& value, bool import) {
    const u32 type = value.getType();
    if (type >= Variant::kPoint && (getDebugFlags() & kKeepNativeValues))
        return;
    switch (type) {
        case Variant::kScriptObject:
            importObjectValue(value, import);
            return;
        case Variant::kLiveObject:
            importLiveObject(value);
            return;
        case Variant::kPoint: {
            const LxCore::Point* p = value.getPoint();
            LxCore::Array xy;
            xy.getOrCreate(0).setNumber(p ? p->x : 0);
            xy.getOrCreate(1).setNumber(p ? p->y : 0);
            newArray(xy, value);
            return;
        }
        case Variant::kRect: {
            const LxCore::Rect* r = value.getRect();
            LxCore::Array corners;
            const double stored[] = {r ? r->left : 0, r ? r->top : 0, r ? r->right : 0, r ? r->bottom : 0};
            for (u32 i = 0; i < 4; i++)
                corners.getOrCreate(i).setNumber(stored[i]);
            newArray(corners, value);
            return;
        }
        case Variant::kArray: {
            const LxCore::Array* elements = value.getArray();
            Variant made;
            newArray(elements ? *elements : LxCore::Array(), made);
            value = made;
            return;
        }
        case Variant::kFileSpec: {
            const LxCore::FileSpec* spec = value.getFileSpec();
            String path;
            if (spec)
                spec->getNativePath(path);
            const DataPoolId file = pool().add("File");
            if (!getDispatcherByID(file)) {
                value.setString(path);
                return;
            }
            LxCore::Array args;
            args.getOrCreate(0).setString(path);
            importNew(value, spec && (spec->getAttributes() & LxCore::kAttrFolder) ? pool().add("Folder") : file, &args);
            return;
        }
        case Variant::kRegExp: {
            Variant made;
            newPlainObject(made, Sym::kRegExp);
            if (Object* o = objectOf(made))
                o->getPrivateValue() = value;
            value = made;
            return;
        }
        case Variant::kUnitValue:
            value.convertTo(Variant::kLiveObject);
            if (value.getType() == Variant::kLiveObject)
                importLiveObject(value);
            return;
        default:
            return;
    }
}

// A live object: the script object that wraps it, made on first need.
void RealEngine::importLiveObject(Variant& value) {
    LxCore::LiveObject* live = value.getLiveObject();
    if (!live)
        return;
    if (Object* wrapper = objects.findObjectOfLiveObject(live)) {
        value.setObject(wrapper);
        return;
    }
    ObjectRef made = ObjectRef::adopt(new Object(objects));
    made->setLiveObject(live);
    made->setPrototype(getPrototypeOf(getConstructor(made->getClassID())));
    value.setObject(made.get());
}

// Bound objects stay; references become the objects they name, re-created
// when asked to import.
void RealEngine::importObjectValue(Variant& value, bool import) {
    LxCore::Root* carried = value.getNativeData();
    if (Object* bound = objectOf(value)) {
        if (carried && carried != bound->getNativeData())
            bound->setNativeData(carried);
        return;
    }
    if (Object* found = resolveObject(value)) {
        value.setObject(found);
        return;
    }
    if (!import || pendingCode != 0) {
        value.clear();
        return;
    }
    const DataPoolId cls = pool().add(value.toString().chars());
    const i32 id = i32(value.getID());
    if (cls == Sym::kReflection || cls == Sym::kReflectionInfo) {
        value.clear();
        return;
    }
    Variant made;
    if (cls == Sym::kRegExp) {
        newPlainObject(made, cls);
    } else if (cls == Sym::kDictionary) {
        // A dictionary the host hands in; anything else carried gives an empty one.
        libraryHooks().makeDictionaryObject(made, knownDictionary(carried));
        carried = nullptr;
    } else {
        Function* constructor = getConstructor(cls);
        if (constructor)
            newObject(made, cls, nullptr, constructor);
    }
    Object* object = objectOf(made);
    if (!object) {
        value.clear();      // never left naming nothing
        return;
    }
    if (pendingCode == 0) {
        object->setPrototype(getPrototypeOf(getConstructor(cls)));
        object->setObjectID(id);
        if (carried)
            object->setNativeData(carried);
    }
    value = made;
}

Object* RealEngine::resolveObject(const Variant& value) {
    if (value.getType() != Variant::kScriptObject)
        return nullptr;
    if (Object* bound = objectOf(value))
        return bound;
    if (i32(value.getID()) == kGlobalObjectId)
        return objects.globalObject;
    const DataPoolId cls = pool().add(value.toString().chars());
    LxCore::LiveObject* live = cls == Sym::kDictionary ? nullptr : carriedLiveObject(value);
    if (live)
        if (Object* wrapper = objects.findObjectOfLiveObject(live))
            return wrapper;
    if (value.getID() == 0)
        return nullptr;
    Object* entry = objects.findRegistered(cls, i32(value.getID()));
    // The id names an object that wraps another live object than the one
    // the reference carries: the reference is stale.
    if (entry && live && entry->getLiveObject() && entry->getLiveObject() != live) {
        setError(Err::kInternal);
        return nullptr;
    }
    return entry;
}

bool RealEngine::toObject(Variant& value, bool import) {
    if (import) {
        guarded(*this, [&] { importValue(value, true); });
        return objectOf(value) != nullptr;
    }
    Object* object = resolveObject(value);
    value.setObject(object);
    return object != nullptr;
}

void RealEngine::checkPrimitive(Variant& value) {
    Object* object = objectOf(value);
    if (!object)
        return;
    ObjectRef held(object);
    Variant primitive;
    object->getDefaultValue(primitive, 0);
    if (pendingCode != 0)
        return;
    if (objectOf(primitive)) {
        String name;
        object->getClassName(name);
        setError(Err::kNoValue, name, -1, false);
        return;
    }
    value = primitive;
}

bool RealEngine::toPrimitive(Variant& value) {
    return guarded(*this, [&] {
        importValue(value, true);
        checkPrimitive(value);
    });
}

// ---------------------------------------------------------------------------
// Properties, calls and methods

bool RealEngine::getProperty(const Variant& object, const Variant& name, Variant* result, u32 flags) {
    return guarded(*this, [&] {
        Variant target = object;
        importValue(target, true);
        if (Object* o = objectOf(target)) {
            LxCore::Array args;
            args.getOrCreate(0) = name;
            runScript('G', o, nullptr, args, result, flags);
        }
    });
}

bool RealEngine::putProperty(const Variant& object, const Variant& name, const Variant& value, u32 flags) {
    return guarded(*this, [&] {
        Variant target = object;
        importValue(target, true);
        if (Object* o = objectOf(target)) {
            Variant written = value;
            importValue(written, true);
            LxCore::Array args;
            args.getOrCreate(0) = name;
            runScript('P', o, nullptr, args, &written, flags);
        }
    });
}

bool RealEngine::callFunction(const Variant& function, LxCore::BasicArray& args, Variant* result, u32 flags,
                              const Variant* thisValue) {
    return guarded(*this, [&] {
        Variant callee = function;
        importValue(callee, true);
        Object* f = objectOf(callee);
        if (!f) {
            setError(Err::kNotAnObject, callee.toString(), -1, false);
            return;
        }
        Object* self = currentFrame ? currentFrame->thisObject : getGlobalObject();
        Variant thisObject;
        if (thisValue) {
            thisObject = *thisValue;
            importValue(thisObject, true);
            if (!objectOf(thisObject)) {
                setError(Err::kNotAnObject, thisObject.toString(), -1, false);
                return;
            }
            self = objectOf(thisObject);
        }
        runScript('C', f, self, args, result, flags);
    });
}

bool RealEngine::callMethod(const Variant& object, const String& name, LxCore::BasicArray& args,
                            Variant* result, u32 flags) {
    return guarded(*this, [&] {
        Variant target = object;
        importValue(target, true);
        Object* o = objectOf(target);
        if (!o) {
            setError(Err::kNotAnObject, target.toString(), -1, false);
            return;
        }
        Variant method;
        o->get(pool().add(name.chars()), method, kFindCallable);
        if (pendingCode != 0)
            return;
        Object* f = objectOf(method);
        if (!f || !f->asFunction()) {
            setError(Err::kNotAFunction, name, -1, false);
            return;
        }
        runScript('C', f, o, args, result, flags);
    });
}

void RealEngine::getPropertyIDs(const Variant& object, LxCore::SimpleArray& ids) {
    ids.setCount(0);
    Variant target = object;
    guarded(*this, [&] {
        importValue(target, false);
        if (Object* o = objectOf(target))
            o->getPropertyIDs(ids, kListForIn);
    });
}

// out[k] is the element at start + k, up to the object's length; holes stay
// undefined. A script object's own index slots are read in index order (a
// sparse array of length 2^32 - 1 costs its slots, not 4 billion lookups);
// a live collection, whose elements are made on lookup, walks the range.
void RealEngine::getElements(const Variant& object, LxCore::Array& out, u32 start, u32 count) {
    out.setLength(0);
    guarded(*this, [&] {
        Variant target = object;
        importValue(target, true);
        Object* o = objectOf(target);
        if (!o)
            return;
        ObjectRef held(o);
        const u64 end = std::min<u64>(u64(start) + count, o->getLength());
        if (end <= start)
            return;
        auto put = [&](u32 index, const Variant& value) {
            Variant& slot = out.getOrCreate(index - start);
            slot = value;
            if (Object* element = objectOf(slot))
                if (LxCore::LiveObject* live = element->getLiveObject())
                    slot.setLiveObject(live, 0);
        };
        if (o->getLiveObject()) {
            for (u64 i = start; i < end && pendingCode == 0; i++) {
                Variant value;
                Variant index;
                index.setNumber(double(i));
                o->get(pool().add(index), value, 0);
                put(u32(i), value);
            }
        } else {
            std::vector<std::pair<u32, DataPoolId>> slots;
            o->forEachCell([&](DataPoolId symbol, const SlotCell& c) {
                u32 index;
                if (cellIsLive(c) && isIndexId(symbol, index) && index >= start && index < end)
                    slots.emplace_back(index, symbol);
            });
            std::sort(slots.begin(), slots.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
            for (const auto& [index, symbol] : slots) {
                Variant value;
                o->getValue(symbol, value, 0);
                if (pendingCode != 0)
                    break;
                put(index, value);
            }
        }
        out.setLength(u32(end - start));
    });
}

// The description of a live object's class (+1 reference for the caller).
LxCore::ClassInfo* RealEngine::getClassInfo(const Variant& object) {
    Object* o = objectOf(object);
    LxCore::LiveObject* live = o ? o->getLiveObject() : nullptr;
    if (!live)
        return nullptr;
    LiveHold hold(live);
    return live->getClassInfo();
}

void RealEngine::objectOperation23(const Variant& object, u32 value) {
    if (Object* o = resolveObject(object))
        o->clearProperties(i32(value));
}

// Counted per engine: an unprotect without its protect changes nothing.
bool RealEngine::protectValue(const Variant& value) {
    Variant target = value;
    importValue(target, false);
    Object* o = objectOf(target);
    if (!o)
        return false;
    protects[o]++;
    o->addRef();
    return true;
}

bool RealEngine::unprotectValue(const Variant& value) {
    Variant target = value;
    importValue(target, false);
    Object* o = objectOf(target);
    if (!o)
        return false;
    auto found = protects.find(o);
    if (found == protects.end())
        return false;
    if (--found->second == 0)
        protects.erase(found);
    target.clear();
    o->dropRef();
    return true;
}

// ---------------------------------------------------------------------------
// Objects of a class

Function* RealEngine::getConstructor(DataPoolId cls) {
    Object* global = getGlobalObject();
    if (!global)
        return nullptr;
    if (Property* p = global->findOwnProperty(cls, kFindOwn)) {
        if (!p->isRemoved()) {
            if (p->getAttributes() & kNoConstructorAttribute)
                return nullptr;
            Variant value;
            global->get(cls, value, 0);
            if (Object* o = objectOf(value))
                if (o->getClassID() == Sym::kFunction)
                    if (Function* f = o->asFunction())
                        return f;
        }
    }
    ObjectRef made = ObjectRef::adopt(new Function(objects, cls));
    global->put(cls, Variant(made.get()), kMadeConstructorAttributes);
    return made->asFunction();
}

void RealEngine::newPlainObject(Variant& result, i32 classSymbol) {
    Object* constructor = nullptr;
    Variant value;
    if (classSymbol != Sym::kObject)
        if (Object* global = getGlobalObject()) {
            global->get(classSymbol, value, 0);
            constructor = objectOf(value);
        }
    newInstance(result, classSymbol, constructor);
}

void RealEngine::newObjectRef(Object*& holder, i32 classSymbol) {
    spare.clear();
    Variant made;
    newPlainObject(made, classSymbol);
    holder = objectOf(made);
    if (holder)
        holder->addRef();
}

// ---------------------------------------------------------------------------
// Scheduled tasks

u32 RealEngine::schedule(const String& source, double delayMs, bool repeat) {
    return scheduleTask(source, delayMs, repeat, nullptr, nullptr);
}

u32 RealEngine::scheduleTask(const String& source, double delayMs, bool repeat, const LxCore::Array* args,
                             Variant* result) {
    u32 id = 0;
    try {
        ensureInitialized();
        const u32 interval = taskTicks(delayMs);
        Script* script = compileSource(source, nullptr, nullptr);
        if (!script) {
            pendingCode = getError().getCode();
            return 0;
        }
        SchedulerData* task = new SchedulerData;
        struct Drop {
            SchedulerData* task;
            ~Drop() { task->release(); }
        } drop{task};
        task->due = LxCore::getTicks() + interval;
        task->interval = interval;
        task->repeat = repeat;
        if (args)
            task->args = *args;
        task->result = result;
        task->id = taskCounter + 1;
        try {
            newFunctionObject(task->function, script, true);
        } catch (...) {
            script->release();
            throw;
        }
        script->release();
        tasks.add(task);
        task->addRef();
        id = ++taskCounter;
        if (Callback* callback = getCallback())
            callback->engineNotify(*this, i32(LxCore::fourCharCode("task")), i64(interval) * kTickMs);
    } catch (...) {
        mapException();
    }
    return id;
}

void RealEngine::cancelTask(u32 id) {
    for (i32 i = 0; i < tasks.getCount(); i++) {
        auto* task = static_cast<SchedulerData*>(tasks.get(i));
        if (task->id == id) {
            tasks.removeAt(i);
            task->release();
            return;
        }
    }
}

void RealEngine::clearTasks() {
    LxCore::TSimpleArray<LxCore::Refcountable> gone = tasks;
    tasks.setCount(0);
    gone.detach();
    gone.releaseAll();
}

void RealEngine::runDueTasks() {
    if (stoppedInDebugger)
        return;
    if (getError().getCode() != 0) {
        clearTasks();
        return;
    }
    if (currentFrame || tasks.getCount() == 0)
        return;
    const u32 now = LxCore::getTicks();
    SchedulerData* task = nullptr;
    for (i32 i = 0; i < tasks.getCount() && !task; i++) {
        auto* candidate = static_cast<SchedulerData*>(tasks.get(i));
        if (isDue(candidate->due, now))
            task = candidate;
    }
    if (!task)
        return;
    task->addRef();
    struct Drop {
        SchedulerData* task;
        ~Drop() { task->release(); }
    } held{task};
    EntryState entry;
    try {
        enterRun(entry, 0);
        Variant scratch;
        LxCore::Array args = task->args;
        runScript('C', objectOf(task->function), getGlobalObject(), args, task->result ? task->result : &scratch,
                  0);
    } catch (...) {
        mapException();
    }
    // The run may have cancelled the task: only a task still listed goes.
    const i32 listed = tasks.find(task);
    if (listed >= 0) {
        if (task->repeat) {
            task->due = now + task->interval;
        } else {
            tasks.removeAt(listed);
            task->release();
        }
    }
    leaveRun(entry);
}

}  // namespace LxScript
