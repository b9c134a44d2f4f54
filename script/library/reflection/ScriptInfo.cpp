#include "script/library/reflection/ScriptInfo.h"

#include "core/LiveObject.h"
#include "script/engine/LiveHold.h"
#include "script/engine/Function.h"
#include "script/engine/Property.h"
#include "script/frontend/Node.h"
#include "script/engine/DispInfo.h"

namespace LxScript {

using LxCore::String;

namespace {

DataPool& pool() { return DataPool::get(); }

constexpr u32 kEnumerationClass = 6;

LxCore::ClassInfo* liveClass(LxCore::LiveObject* live) {
    LiveHold hold(live);
    return live->getClassInfo();
}

// makeString's text of an object: its class name; no script runs.
String classNameOf(const Variant& value) {
    if (Object* o = objectOf(value)) {
        String name;
        o->getClassName(name);
        return name;
    }
    if (LxCore::LiveObject* live = value.getLiveObject())
        return live->getClassName();
    return String();
}

// A script function's parameters; a native one's length.
u32 declaredArguments(Object& function) {
    if (Function* f = function.asFunction())
        if (ScopeInfo* scope = f->getScopeInfo())
            return scope->parameters > 0 ? u32(scope->parameters) : 0;
    Variant length;
    function.get(Sym::kLength, length, 0);
    const LxCore::f64 n = length.toNumber();
    return n > 0 && n < 0x10000 ? u32(n) : 0;
}

}  // namespace

ScriptServiceInfo::ScriptServiceInfo(DataPoolId symbol, u32 attributes, const Variant& value)
    : symbol(symbol),
      kind((attributes & kReadOnly) ? 1 : 2),
      access((attributes & kNativeValue) ? 1 : 5),
      type(value.getType(), String()) {
    Object* o = objectOf(value);
    if (o && o->asFunction()) {
        kind = 5;
        type = ScriptTypeInfo(LxCore::kTypeAny, String());
        const u32 count = declaredArguments(*o);
        for (u32 i = 1; i <= count; i++) {
            String name;
            name.sprintf("arg%ld", long(i));
            pool().add(name.chars());
            parameters.push_back(name);
        }
        return;
    }
    if (value.getType() == Variant::kScriptObject || value.getType() == Variant::kLiveObject)
        type = ScriptTypeInfo(value.getLiveObject() ? Variant::kScriptObject : value.getType(), classNameOf(value));
}

i32 ScriptServiceInfo::getName(String& out) const {
    out = pool().getSymbol(symbol);
    return 0;
}

LxCore::ParamInfo* ScriptServiceInfo::getParamInfo(u32 index) {
    return index < parameters.size() ? new ScriptParamInfo(parameters[index]) : nullptr;
}

ScriptClassInfo::ScriptClassInfo(Object& object) : object(&object) {}

void ScriptClassInfo::getName(String& out) const { object->getClassName(out); }

LxCore::ClassInfo* ScriptClassInfo::nativeClass() const {
    String name;
    object->getClassName(name);
    for (Object* o = object.get(); o; o = o->getPrototype()) {
        if (LxCore::LiveObject* live = o->getLiveObject())
            return liveClass(live);
        if (Dispatcher* dispatcher = o->getDispatcher()) {
            DispatcherLock held(dispatcher);
            return dispatcher->getClassInfo(name);
        }
    }
    return nullptr;
}

void ScriptClassInfo::getSuperClassName(String& out) const {
    out.clear();
    if (LxCore::ClassInfo* native = nativeClass()) {
        native->getSuperClassName(out);
        native->release();
    }
}

void ScriptClassInfo::getDescription(bool longText, String& out) const {
    out.clear();
    if (LxCore::ClassInfo* native = nativeClass()) {
        native->getDescription(longText, out);
        native->release();
    }
}

u32 ScriptClassInfo::getKind() const {
    LxCore::LiveObject* live = object->getLiveObject();
    LxCore::ClassInfo* info = live ? liveClass(live) : nullptr;
    const u32 kind = info && info->getKind() == kEnumerationClass ? kEnumerationClass : 1;
    if (info)
        info->release();
    return kind;
}

Object* ScriptClassInfo::classObject() const {
    Engine* engine = object->getEngine();
    Object* global = engine ? object->getSpace().globalObject : nullptr;
    if (!global)
        return nullptr;
    Variant value;
    global->get(object->getClassID(), value, 0);
    return objectOf(value);
}

i32 ScriptClassInfo::getServiceIDs(LxCore::SimpleArray& out, u32 flags) {
    Object* holder = (flags & kStaticServices) ? classObject() : object.get();
    out.setCount(0);
    if (holder)
        holder->getPropertyIDs(out, flags & ~kStaticServices);
    return 0;
}

i32 ScriptClassInfo::getServiceNames(LxCore::StringList& out, u32 flags) {
    LxCore::SimpleArray ids;
    getServiceIDs(ids, flags);
    appendSymbolNames(ids, out);
    return 0;
}

LxCore::ServiceInfo* ScriptClassInfo::describe(Object* holder, i32 id) {
    if (!holder)
        return nullptr;
    ObjectRef held(holder);
    Property* slot = holder->findProperty(id, 0);
    if (!slot || slot->isRemoved())
        return nullptr;
    if (LxCore::ServiceInfo* own = slot->getServiceInfo())
        return own;
    Variant value;
    const i32 before = holder->getEngine() ? holder->getEngine()->getError().getCode() : 0;
    holder->get(id, value, 0);
    // A getter that fails describes nothing and leaves no error behind.
    if (Engine* engine = holder->getEngine())
        if (before == 0 && engine->getError().getCode() != 0)
            engine->clearError();
    return new ScriptServiceInfo(id, slot->getAttributes(), value);
}

LxCore::ServiceInfo* ScriptClassInfo::getServiceInfo(i32 id) { return describe(object.get(), id); }

LxCore::ServiceInfo* ScriptClassInfo::getServiceInfoByName(const String& name) {
    return getServiceInfo(pool().add(name.chars()));
}

LxCore::ServiceInfo* ScriptClassInfo::getStaticServiceInfo(i32 id) { return describe(classObject(), id); }

LxCore::ServiceInfo* ScriptClassInfo::getStaticServiceInfoByName(const String& name) {
    return getStaticServiceInfo(pool().add(name.chars()));
}

}  // namespace LxScript
