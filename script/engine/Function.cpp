// Function objects: the lazy "prototype", display text, and the native call
// and construction of class-table rows and live objects.
#include "script/engine/Function.h"

#include <optional>

#include "core/ErrorCodes.h"
#include "script/engine/DispInfo.h"
#include "script/engine/LibraryHooks.h"
#include "script/engine/LiveHold.h"
#include "script/engine/Property.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {


DataPool& pool() { return DataPool::get(); }

bool errorPending(Engine& engine) { return engine.getError().getCode() != 0; }

}  // namespace

// ---------------------------------------------------------------------------
// Function

Function::Function(ObjectSpace& s, DataPoolId name) : Object(s) {
    classId = Sym::kFunction;
    nameId = name;
    if (s.functionPrototype)
        setPrototype(s.functionPrototype);
}

void Function::getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter) {
    Object::getIDs(receiver, ids, filter);
    if ((filter & kListDontEnum) && (filter & (kListReadOnly | kListWritable)) &&
        !(filter & kListNoBuiltIn)) {
        for (i32 i = 0; i < ids.getCount(); i++)
            if (ids.get(i) == Sym::kPrototype)
                return;
        ids.add(Sym::kPrototype);
    }
}

void Function::invalidateClass(DataPoolId id) {
    if (valid && constructedClass == id)
        invalidate();
}

Property* Function::findProperty(DataPoolId symbol, u32 flags) {
    if (symbol == Sym::kPrototype && !prototypeSlot && valid)
        makePrototypeProperty();
    return Object::findProperty(symbol, flags);
}

LxCore::SimpleArray* Function::getClosureScopes() { return nullptr; }

bool Function::usable() {
    if (valid)
        return true;
    getSpace().getEngine().setError(Err::kInvalidObject);
    return false;
}

ScopeInfo* Function::getScopeInfo() { return nullptr; }

// A function named like a class the engine serves natively is that class's
// constructor: its prototype becomes the class prototype (id -2), read-only.
Property* Function::makePrototypeProperty() {
    ObjectSpace& s = getSpace();
    // XMLList instances answer through XML's prototype.
    if (Object* shared = libraryHooks().linkXMLListPrototype(*this, s.globalObject)) {
        setPrototypeObject(shared);
        return prototypeSlot;
    }
    ObjectRef proto = ObjectRef::adopt(new Object(s));
    proto->setNameID(nameId);
    libraryHooks().attachXMLPrototype(*this, *proto);
    u32 attributes = kDontEnum | kDontDelete;
    if (mayBeClassConstructor() && nameId != 0 && s.getDispatcherByID(nameId)) {
        attributes |= kReadOnly;
        proto->setClassID(nameId);
        proto->setObjectID(kPrototypeId);
    }
    proto->createProperty(Sym::kConstructor, Variant(this), kDontEnum);
    Property* own = searchChain(Sym::kPrototype);
    if (own && !own->isRemoved()) {
        prototypeSlot = own;    // made before: keep it
        return own;
    }
    prototypeSlot = writeNewSlot(Sym::kPrototype, Variant(proto.get()), attributes,
                                 own && own->isRemoved() ? own : nullptr);
    return prototypeSlot;
}

Object* Function::getPrototypeObject() {
    Property* p = findProperty(Sym::kPrototype, kFindOwn);
    const Variant* v = p ? p->get(this, 0) : nullptr;
    return v ? objectOf(*v) : nullptr;
}

void Function::setPrototypeObject(Object* p) {
    Property* own = searchChain(Sym::kPrototype);
    if (own && !own->isRemoved()) {
        own->cachedValue().setObject(p);
    } else {
        prototypeSlot = writeNewSlot(Sym::kPrototype, Variant(p), kDontEnum | kDontDelete,
                                     own);
    }
    if (!prototypeSlot)
        prototypeSlot = own;
}

String Function::toDisplayString(bool withKeyword) {
    String out;
    if (withKeyword)
        out += "function ";
    const DataPoolId name = inferredName ? inferredName : nameId ? nameId : Sym::kAnonymous;
    out += pool().getSymbol(name);
    out += "()";
    return out;
}

// ---------------------------------------------------------------------------
// Native rows

DispatcherFunction::DispatcherFunction(ObjectSpace& s, Dispatcher* dispatcher,
                                       const PropEntryCopy& entry, DataPoolId classId)
    : Function(s, entry.symbol), reachedThrough(dispatcher), row(entry) {
    constructedClass = classId;
    length = u32(entry.id);
}

DispatcherFunction::~DispatcherFunction() = default;

LxCore::ServiceInfo* DispatcherFunction::getServiceInfo() { return DispServiceInfo::of(row); }

// The arguments as the row wants them: object arguments become their
// default values (hint 0 for kArgsToNumber, 1 for kArgsToString) in out. Null when a conversion
// left an error pending: the handler must not run then.
const LxCore::BasicArray* DispatcherFunction::argumentsFor(const LxCore::BasicArray& args,
                                                           LxCore::Array& out) {
    if (!(row.flags & (kArgsToNumber | kArgsToString)))
        return &args;
    const u8 hint = (row.flags & kArgsToString) ? 1 : 0;
    Engine& engine = getSpace().getEngine();
    const u32 n = args.length();
    for (u32 i = 0; i < n; i++) {
        const Variant* v = args.get(i);
        Variant& slot = out.getOrCreate(i);
        Object* o = v ? objectOf(*v) : nullptr;
        if (!o) {
            if (v)
                slot = *v;
            continue;
        }
        o->getDefaultValue(slot, hint);
        if (errorPending(engine))
            return nullptr;
    }
    return &out;
}

// The function's own name: the error classes call the Error row by theirs.
Variant& DispatcherFunction::nameForCall() {
    const DataPoolId id = nameId ? nameId : row.symbol;
    if (id != callNameId || callName.getType() == Variant::kUndefined) {
        pool().getValue(id, callName);
        callNameId = id;
    }
    return callName;
}

void DispatcherFunction::runHandler(Variant& thisValue, const LxCore::BasicArray& args, u32 mode,
                                    Variant& result) {
    if (!row.handler)
        return;
    Arguments record;
    record.dispatcher = row.owner;
    record.engine = &getSpace().getEngine();
    record.thisValue = &thisValue;
    record.name = &nameForCall();
    record.mode = mode;
    record.args = &args;
    record.result = &result;
    reachedThrough->call(record, row.handler);
}

void DispatcherFunction::call(Object* thisObject, const LxCore::BasicArray& args,
                              Variant& result) {
    result.clear();
    if (!usable())
        return;
    Engine& engine = getSpace().getEngine();
    ObjectRef self(this);
    DispatcherLock lock(reachedThrough);
    if ((row.flags & kInstancesOnly) &&
        (!thisObject || !reachedThrough->isClass(thisObject->getClassID()))) {
        String text;
        text.sprintf("%ls.%ls()", reachedThrough->getClass(0).chars(),
                     pool().getSymbol(nameId).chars());
        engine.setError(Err::kWrongClass, text, -1, false);
        return;
    }
    // Most rows take the arguments as they are: no array is made for them.
    std::optional<LxCore::Array> converted;
    const LxCore::BasicArray* use = &args;
    if (row.flags & (kArgsToNumber | kArgsToString))
        if (!(use = argumentsFor(args, converted.emplace())))
            return;
    Variant thisValue(thisObject);
    if (thisObject && (row.flags & (kThisToNumber | kThisToString))) {
        Variant primitive;
        thisObject->getDefaultValue(primitive, (row.flags & kThisToString) ? 1 : 0);
        if (errorPending(engine))
            return;
        thisValue = primitive;
    }
    runHandler(thisValue, *use, Arguments::kCall, result);
    getSpace().importValue(result, true);
}

void DispatcherFunction::construct(Object* newObject, const LxCore::BasicArray& args,
                                   Variant& result) {
    if (!usable())
        return;
    ObjectRef self(this);
    DispatcherLock lock(reachedThrough);
    std::optional<LxCore::Array> converted;
    const LxCore::BasicArray* use = &args;
    if (row.flags & (kArgsToNumber | kArgsToString))
        if (!(use = argumentsFor(args, converted.emplace())))
            return;
    Variant thisValue(newObject);
    Variant made;
    runHandler(thisValue, *use, Arguments::kConstruct, made);
    if (made.getType() == Variant::kLiveObject) {
        getSpace().importValue(made, true);
        result = made;
    } else if (Object* o = objectOf(made)) {
        result.setObject(o);
    } else if (isUnboundReference(made)) {
        adoptReference(made, result);
    }
}

// The handler answered a reference: the object it names receives the native
// data, or a new instance of its class is made for it. That instance is not
// constructed again: the handler made it already, and would only answer the
// same reference once more.
void DispatcherFunction::adoptReference(const Variant& reference, Variant& result) {
    LxCore::Root* native = reference.getNativeData();
    Object* named = getSpace().resolveObject(reference);
    if (!named) {
        getSpace().newInstance(result, pool().add(reference.toString().chars()), this);
        named = objectOf(result);
        if (!named)
            return;
        named->setObjectID(i32(reference.getID()));
    } else {
        result.setObject(named);
    }
    if (native)
        named->setNativeData(native);
}

// ---------------------------------------------------------------------------
// Live-object methods

LiveObjectFunction::LiveObjectFunction(ObjectSpace& s, DataPoolId classSymbol, DataPoolId name,
                                       i32 id)
    : Function(s, name), methodId(id) {
    constructedClass = classSymbol;
}

LxCore::ServiceInfo* LiveObjectFunction::getServiceInfo() {
    return methodId == kSelf ? nullptr : describeLiveMember(getLiveObject(), methodId);
}

void LiveObjectFunction::call(Object* thisObject, const LxCore::BasicArray& args,
                              Variant& result) {
    result.clear();
    if (!usable())
        return;
    Engine& engine = getSpace().getEngine();
    ObjectRef self(this);
    LxCore::LiveObject* live = methodId == kSelf ? getLiveObject()
                               : thisObject ? thisObject->getLiveObject() : nullptr;
    if (!live) {
        if (methodId != kSelf)
            engine.setError(Err::kNotSupported, pool().getSymbol(nameId), -1, false);
        return;
    }
    LxCore::Error error;
    i32 code = 0;
    {
        LiveHold hold(live);
        if (methodId == kToString) {
            String text;
            live->toString(text);
            result.setString(text);
        } else if (methodId == kValueOf) {
            live->valueOf(result);
            if (result.getType() == Variant::kUndefined)
                result.setLiveObject(*live, 0);
        } else if (pool().add(live->getClassName().chars()) == constructedClass) {
            code = live->call(methodId, toNativeArguments(args), result, &error);
            if (methodId == kSelf && (code == Err::kNotAFunction || code == Err::kUndefined))
                code = 0;
        } else {
            code = Err::kWrongClass;
        }
    }
    if (error.isEmpty() && code == Err::kWrongClass) {
        String text;
        text.sprintf("%ls.%ls()", live->getClassName().chars(), pool().getSymbol(nameId).chars());
        error.push(Err::kWrongClass, text, nullptr, true);
    } else if (error.isEmpty() && code != 0) {
        error.push(code, pool().getSymbol(nameId), nullptr, true);
    }
    if (error.isEmpty())
        getSpace().importValue(result, true);
    else
        engine.setError(error);
}

// A clone of the class's own live object, or a new instance of the class
// named like the function, initialised with the arguments.
void LiveObjectFunction::construct(Object* newObject, const LxCore::BasicArray& args,
                                   Variant& result) {
    if (!usable())
        return;
    Engine& engine = getSpace().getEngine();
    ObjectRef self(this);
    LxCore::LiveObject* made = nullptr;
    LxCore::Error error;
    if (LxCore::LiveObject* own = getLiveObject()) {
        LiveHold hold(own);
        if (own->clone(made, true) != 0)
            made = nullptr;
    }
    if (!made) {
        const String name = pool().getSymbol(nameId);
        const i32 status = LxCore::LiveObject::createInstance(made, name, 0x10000);
        if (status != 0 || !made) {
            error.push(status ? status : 22, name, nullptr, true);
            engine.setError(error);
            return;
        }
    }
    i32 status;
    {
        LiveHold hold(made);
        status = made->initialize(toNativeArguments(args), &error);
    }
    if (status != 0 && error.isEmpty())
        error.push(status, pool().getSymbol(nameId), nullptr, true);
    if (newObject) {
        newObject->setLiveObject(made);
        result.setObject(newObject);
    }
    made->release();
    if (!error.isEmpty())
        engine.setError(error);
}

}  // namespace LxScript
