#include "script/library/reflection/ScriptInfo.h"

#include "core/LiveObject.h"
#include "script/engine/Function.h"
#include "script/engine/Property.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;

namespace {

DataPool& pool() { return DataPool::get(); }

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

DispParamInfo::DispParamInfo(const String& name, const String& brief, const String& full, LxCore::TypeInfo* type)
    : name(name), brief(brief), full(full), type(type) {}

DispServiceInfo::DispServiceInfo(DataPoolId symbol, i32 rowFlags, const char* text)
    : symbol(symbol),
      kind((rowFlags & 0x20) ? 5 : (rowFlags & 0x1) ? 1 : 2),
      access((rowFlags & 0x8) ? 1 : 5),
      signature(text ? text : "") {
    type = LxCore::parseTypeInfo(signature, -1, nullptr, &brief, &full, nullptr);
}

i32 DispServiceInfo::getName(String& out) const {
    out = pool().getSymbol(symbol);
    return 0;
}

u32 DispServiceInfo::getParamCount() const {
    return kind == 5 ? LxCore::countHelpParameters(signature) : 0;
}

LxCore::ParamInfo* DispServiceInfo::getParamInfo(u32 index) {
    if (index >= getParamCount())
        return nullptr;
    String name, brief, full;
    LxCore::TypeInfo* parsed = LxCore::parseTypeInfo(signature, i32(index), &name, &brief, &full, nullptr);
    return new DispParamInfo(name, brief, full, parsed);
}

ScriptClassInfo::ScriptClassInfo(Object& object) : object(&object) {}

void ScriptClassInfo::getName(String& out) const { object->getClassName(out); }

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
    for (i32 i = 0; i < ids.getCount(); i++)
        LxCore::appendString(out, pool().getSymbol(DataPoolId(ids.get(i))));
    return 0;
}

LxCore::ServiceInfo* ScriptClassInfo::describe(Object* holder, i32 id) {
    if (!holder)
        return nullptr;
    ObjectRef held(holder);
    Property* slot = holder->findProperty(id, 0);
    if (!slot || slot->isRemoved())
        return nullptr;
    if (slot->isDispatcher()) {
        const PropEntryCopy& row = static_cast<DispatcherProperty*>(slot)->getEntry();
        return new DispServiceInfo(row.symbol, row.flags, row.signature);
    }
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
