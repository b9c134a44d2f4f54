// The Object class.
#include "script/library/ObjectClass.h"

#include "core/ErrorCodes.h"
#include "core/LiveObject.h"
#include "core/Localizer.h"
#include "script/engine/Function.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/library/LibrarySupport.h"
#include "script/library/SourceText.h"
#include "script/library/reflection/Reflection.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

DataPool& pool() { return DataPool::get(); }

// Called or constructed: a new object for nothing, a wrapper for a
// primitive, the object itself for an object; native values give nothing.
void construct(Arguments& args) {
    const Variant& what = args.arg(0);
    const u32 type = what.getType();
    if (type == Variant::kUndefined || type == Variant::kNull) {
        // Constructed, the object the engine made stays the result.
        if (args.mode != Arguments::kConstruct)
            engineOf(args).newObject(*args.result, Sym::kObject, nullptr, nullptr);
        return;
    }
    if (const DataPoolId wrapper = wrapperClassOf(what)) {
        engineOf(args).newObject(*args.result, wrapper, args.args, nullptr);
        return;
    }
    if (objectOf(what))
        *args.result = what;
}

void isValid(Arguments& args) { args.result->setBool(args.arg(0).isValidObject()); }

void toString(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    String text;
    if (LxCore::LiveObject* live = self->getLiveObject())
        live->toString(text);
    else if (!defaultObjectText(engineOf(args), *self, text))
        return;
    args.result->setString(text);
}

void toLocaleString(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    String name;
    self->getClassName(name);
    LxCore::Array values;
    values.getOrCreate(0).setString(name);
    args.result->setString(
        LxCore::Localizer::localize(String("$$$/CT/Tavrel/Other/Object=[object %1]"), &values));
}

void valueOf(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    if (LxCore::LiveObject* live = self->getLiveObject()) {
        live->valueOf(*args.result);
        if (args.result->getType() != Variant::kUndefined) {
            engineOf(args).importValue(*args.result, true);
            return;
        }
    }
    args.result->setObject(self);
}

// The text written so far stays the result when the depth runs out.
void toSource(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    String out("(");
    appendObjectSource(engineOf(args), *self, out);
    out += ')';
    args.result->setString(out);
}

DataPoolId nameArgument(const Arguments& args) { return pool().add(args.arg(0).toString().chars()); }

// The attributes of an own member, reading nothing: an own slot (a
// function's prototype is made as a read makes it), or a native row that a
// read would make a slot of this object. A native method is not enumerable
// (its slot says so once its function is made). False when there is none.
bool ownMember(const Arguments& args, u32& attributes) {
    Object* self = thisObject(args);
    if (!self)
        return false;
    const DataPoolId symbol = nameArgument(args);
    if (const Property* p = self->findProperty(symbol, kFindOwn))
        attributes = p->getAttributes();
    else if (const PropInfo* entry = self->findOwnNativeEntry(symbol))
        attributes = u32(entry->flags);
    else
        return false;
    if (attributes & kMethod)
        attributes |= kDontEnum;
    return true;
}

void hasOwnProperty(Arguments& args) {
    u32 attributes;
    args.result->setBool(ownMember(args, attributes));
}

void propertyIsEnumerable(Arguments& args) {
    u32 attributes = 0;
    args.result->setBool(ownMember(args, attributes) && !(attributes & kDontEnum));
}

// The walk starts at the argument itself: an object is its own prototype
// here. Prototype chains never close (setPrototype refuses a cycle).
void isPrototypeOf(Arguments& args) {
    Object* self = thisObject(args);
    bool found = false;
    for (Object* o = objectOf(args.arg(0)); o && self && !found; o = o->getPrototype())
        found = o == self;
    args.result->setBool(found);
}

void watch(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    Object* handler = engineOf(args).resolveObject(args.arg(1));
    Function* function = handler ? handler->asFunction() : nullptr;
    if (!function) {
        raise(args, Err::kBadArgument, args.arg(1).toString());
        return;
    }
    self->watch(nameArgument(args), function);
}

void unwatch(Arguments& args) {
    if (Object* self = thisObject(args))
        self->unwatch(nameArgument(args));
}

// A prototype that would close a chain is refused: nothing changes.
void proto(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    if (args.mode == Arguments::kPut) {
        if (!self->setPrototype(objectOf(args.arg(0))))
            raise(args, Err::kBadArgument, String("__proto__"));
        return;
    }
    if (Object* p = self->getPrototype())
        args.result->setObject(p);
    else
        args.result->setNull();
}

void count(Arguments& args) {
    Object* self = thisObject(args);
    if (!self || args.mode != Arguments::kGet)
        return;
    LxCore::SimpleArray ids;
    self->getPropertyIDs(ids, kListForIn);
    args.result->setUInt(u32(ids.getCount()));
}

void className(Arguments& args) {
    Object* self = thisObject(args);
    if (!self || args.mode != Arguments::kGet)
        return;
    String name;
    self->getClassName(name);
    args.result->setString(name);
}

void reflect(Arguments& args) {
    Object* self = thisObject(args);
    if (self && args.mode == Arguments::kGet)
        makeReflectionObject(*args.result, *self);
}

const PropEntry kObjectTable[] = {
    {"__proto__", 0, kFixedValue, proto, "Object"},
    {"__count__", 0, kReadOnlyValue, count, "number"},
    {"__class__", 0, kReadOnlyValue, className, "string"},
    {"reflect", 0, kReadOnlyValue, reflect, "Reflection"},
    {"Object", 1, kHiddenMethod, construct, "Object,what:any"},
    {"isValid", 1, kStaticMethod, isValid, "boolean,what:Object"},
    {"toString", 0, kMethod, toString, "string"},
    {"toLocaleString", 1, kMethod, toLocaleString, "string"},
    {"hasOwnProperty", 1, kMethod, hasOwnProperty, "boolean,name:string"},
    {"propertyIsEnumerable", 1, kMethod, propertyIsEnumerable, "boolean,name:string"},
    {"isPrototypeOf", 1, kMethod, isPrototypeOf, "boolean,what:Object"},
    {"valueOf", 0, kMethod, valueOf, "Object"},
    {"toSource", 0, kMethod, toSource, "string"},
    {"unwatch", 0, kMethod, unwatch, nullptr},
    {"watch", 0, kMethod, watch, nullptr},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

DataPoolId wrapperClassOf(const Variant& v) {
    switch (v.getType()) {
        case Variant::kBoolean: return Sym::kBoolean;
        case Variant::kNumber: return Sym::kNumber;
        case Variant::kString: return Sym::kString;
        default: return 0;
    }
}

jsObjectClass::jsObjectClass() : Dispatcher("JavaScript") { registerProperties(0, kObjectTable, "Object"); }

Dispatcher* newObjectClass(const char*) { return new jsObjectClass; }

}  // namespace LxScript
