// Calls of built-in String methods on a primitive string without a wrapper.
#include "script/engine/PrimitiveCall.h"

#include <typeinfo>

#include "script/engine/Arguments.h"
#include "script/engine/Function.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"

namespace LxScript {

namespace {

// The native method the class prototype holds under symbol, found as a
// wrapper's lookup finds it (own slot first, then the prototype's own
// table), or null for anything else: a script value, a value row, a method
// served higher up. Nothing runs on the way: only plain slots and method
// rows are read.
DispatcherFunction* nativeMethodOf(Object& proto, DataPoolId symbol) {
    Property* p = proto.findOwnProperty(symbol, kFindCallable);
    if (!p) {
        const PropEntryCopy* entry = proto.findOwnNativeEntry(symbol);
        if (!entry || !entry->isMethod())
            return nullptr;
        p = proto.findProperty(symbol, kFindCallable);
        if (!p)
            return nullptr;
    }
    const Variant* value = nullptr;
    if (p->getKind() == Property::kPlain && !(p->getAttributes() & kReResolve))
        value = &p->cachedValue();
    else if (p->getKind() == Property::kDispatcher && !(p->getAttributes() & kWriteThrough))
        value = p->get(&proto, kFindCallable);
    Object* object = value ? objectOf(*value) : nullptr;
    // The class exactly: nothing derives from it, and this costs far less
    // than a dynamic_cast.
    return object && typeid(*object) == typeid(DispatcherFunction) ? static_cast<DispatcherFunction*>(object)
                                                                   : nullptr;
}

// Whether any argument is an object, which a row may want converted.
bool hasObject(const LxCore::BasicArray& args) {
    for (u32 i = 0; i < args.length(); i++)
        if (const Variant* v = args.get(i); v && v->getType() == Variant::kScriptObject)
            return true;
    return false;
}

// The prototype a String object made now gets: that of the global "String".
Object* stringPrototype(RealEngine& engine) {
    Object* global = engine.getGlobalObject();
    if (!global)
        return nullptr;
    // Only a plain global slot, read in place: anything else (a getter, a
    // host's answer) is left to the wrapper's own making, so that it runs once.
    Property* slot = global->findOwnProperty(Sym::kString, 0);
    if (!slot || slot->getKind() != Property::kPlain || (slot->getAttributes() & kReResolve))
        return nullptr;
    Object* function = objectOf(slot->cachedValue());
    return function ? engine.getPrototypeOf(function) : nullptr;
}

}  // namespace

DispatcherFunction* builtInTextMethod(RealEngine& engine, DataPoolId symbol) {
    // Indexes are answered by the table's catch-all row, through a probe.
    if (DataPool::isIntegerId(symbol))
        return nullptr;
    Object* proto = stringPrototype(engine);
    if (!proto || proto->getClassID() != Sym::kString || !proto->isValid())
        return nullptr;
    DispatcherFunction* method = nativeMethodOf(*proto, symbol);
    if (!method || !method->takesPrimitiveThis())
        return nullptr;
    // The wrapper's text with the string hint is its own only through the
    // String table's toString.
    DispatcherFunction* toString = nativeMethodOf(*proto, Sym::kToString);
    if (!toString || toString->getRow().symbol != Sym::kToString ||
        !toString->getRow().owner->isClass(Sym::kString))
        return nullptr;
    return method;
}

bool DispatcherFunction::takesPrimitiveThis() const {
    return (row.flags & kThisToString) && !(row.flags & kInstancesOnly) && row.handler;
}

void DispatcherFunction::callOnPrimitive(Variant& thisValue, const LxCore::BasicArray& args,
                                         Variant& result) {
    result.clear();
    if (!usable())
        return;
    ObjectRef self(this);
    DispatcherLock lock(reachedThrough);
    LxCore::Array converted;
    const LxCore::BasicArray* use = hasObject(args) ? argumentsFor(args, converted) : &args;
    if (!use)
        return;
    runHandler(thisValue, *use, Arguments::kCall, result);
    getSpace().importValue(result, true);
}

}  // namespace LxScript
