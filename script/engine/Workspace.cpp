// Activation workspaces and scope chains.
#include "script/engine/Workspace.h"

#include <new>

#include "core/ErrorCodes.h"
#include "script/engine/Arguments.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"
#include "script/engine/LibraryHooks.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

constexpr u16 kSlotFlag = Variant::kLockedReference;
constexpr u16 kConstantMark = 0x400;

DataPool& pool() { return DataPool::get(); }

// A block of count slot-flagged Variants: what a workspace holds there
// counts as held from inside the object graph.
Variant* newSlots(u32 count) {
    if (count == 0)
        return nullptr;
    auto* block = static_cast<Variant*>(LxCore::Heap::alloc(u64(count) * sizeof(Variant)));
    for (u32 i = 0; i < count; i++) {
        ::new (&block[i]) Variant;
        block[i].setSlotFlags(kSlotFlag);
    }
    return block;
}

void deleteSlots(Variant* slots, u32 count) {
    for (u32 i = 0; i < count; i++)
        slots[i].~Variant();
    LxCore::Heap::free(slots);
}

// An XML object of a with-chain or closure is asked only for the names it
// has: an E4X object would answer any name with an empty list.
Property* lookupIn(Object* object, DataPoolId symbol, u32 flags) {
    const DataPoolId cls = object->getClassID();
    if ((cls == Sym::kXML || cls == Sym::kXMLList) && !libraryHooks().xmlObjectHasSymbol(*object, symbol))
        return nullptr;
    return object->findProperty(symbol, flags);
}

// A name declared at the top level of every running frame is a top-level
// declaration: not deletable.
bool allFramesScriptLevel(const RealEngine& engine) {
    for (const RuntimeEnv* frame = engine.getCurrentFrame(); frame; frame = frame->previous)
        if (!frame->scriptLevel)
            return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// With-chain nodes

ScopeChain::ScopeChain(ScopeChain* next, Object* object) : next(next), object(object) {
    if (object)
        object->addRef();
}

ScopeChain::~ScopeChain() {
    if (object)
        object->dropRef();
}

// ---------------------------------------------------------------------------
// Construction

Workspace::Workspace(jsFunction& function, Variant* frameSlots, u32 count, u32 argc)
    : Object(function.getSpace(), nullptr) {
    objectId = kWorkspaceId;
    scopeInfo = function.getScopeInfo();
    if (scopeInfo)
        scopeInfo->incRef();
    localCount = localCountOf(scopeInfo);
    argumentCount = argc;
    slotCount = count;
    slots = frameSlots;
    callee.setSlotFlags(kSlotFlag);
    argumentsObject.setSlotFlags(kSlotFlag);
    callee.setObject(&function);
}

Workspace::Workspace(ObjectSpace& space) : Object(space, nullptr) {
    objectId = kWorkspaceId;
    callee.setSlotFlags(kSlotFlag);
    argumentsObject.setSlotFlags(kSlotFlag);
}

Workspace::~Workspace() {
    clear();
    delete spareChain;
    if (ownsSlots)
        deleteSlots(slots, slotCount);
}

void Workspace::leaveFrame() {
    keepSpareScope(nullptr);
    if (ownsSlots)
        return;
    Variant* frameSlots = slots;
    const u32 count = slotCount;
    slots = nullptr;
    slotCount = 0;
    if (getRefCount() < 2 || cleared || count == 0) {
        argumentCount = 0;
        return;
    }
    Variant* own = newSlots(count);
    for (u32 i = 0; i < count; i++) {
        own[i] = frameSlots[i];
        // The constant mark goes with the value.
        own[i].setSlotFlags(u16(kSlotFlag | (frameSlots[i].getFlags() & kConstantMark)));
    }
    slots = own;
    slotCount = count;
    ownsSlots = 1;
}

// One release batch for everything the workspace holds, so that long chains
// let go from its slots release from the queue.
void Workspace::clear() {
    if (cleared)
        return;
    ReleaseBatch batch(getSpace());
    Object::clear();
    argumentsObject.clear();
    callee.clear();
    for (u32 i = 0; i < slotCount; i++)
        slots[i].clear();
    while (withChain)
        popWith();
    keepSpareScope(nullptr);
    if (ScopeInfo* info = scopeInfo) {
        scopeInfo = nullptr;
        info->decRef();
    }
}

void Workspace::markReferences() {
    Object::markReferences();
    if (Object* o = objectOf(argumentsObject))
        o->mark();
    if (Object* o = objectOf(callee))
        o->mark();
    for (u32 i = 0; i < slotCount; i++)
        if (Object* o = objectOf(slots[i]))
            o->mark();
    for (ScopeChain* node = withChain; node; node = node->next)
        if (node->object)
            node->object->mark();
}

// ---------------------------------------------------------------------------
// Slots

bool Workspace::resolveLocal(const ScopeInfo* info, DataPoolId symbol, i32& index) {
    if (info) {
        const i32 tagged = info->lookupRunning(symbol);
        if (tagged) {
            const i32 i = tagged & ~ScopeInfo::kSlotTagMask;
            const i32 a = info->variables;
            const i32 b = info->constants;
            switch (tagged & ScopeInfo::kSlotTagMask) {
                case ScopeInfo::kParameterSlot:
                    index = a + b + i;
                    return true;
                case ScopeInfo::kConstantSlot:
                    index = a + i;
                    return true;
                default:
                    index = i;
                    return true;
            }
        }
    }
    if (symbol == kNameArguments) {
        index = kArgumentsSlot;
        return true;
    }
    if (symbol == Sym::kCallee) {
        index = kCalleeSlot;
        return true;
    }
    return false;
}

Variant* Workspace::getSpecialSlot(i32 index) {
    if (index == kCalleeSlot)
        return &callee;
    if (index == kArgumentsSlot) {
        if (!argumentsMade) {
            ObjectRef made = ObjectRef::adopt(makeArgumentsObject());
            argumentsObject.setObject(made.get());
            argumentsNeeded = 1;
            argumentsMade = 1;
        }
        return &argumentsObject;
    }
    // The compiled-text reader refuses such slots; this is the last guard.
    getSpace().getEngine().setError(Err::kInternal);
    return nullptr;
}

// The arguments object of this activation, with one reference for the caller.
Object* Workspace::makeArgumentsObject() { return new ArgumentObject(*this); }

Variant* Workspace::getLocal(u32 slot) { return getSlot(i32(slot)); }

void Workspace::setLocal(u32 slot, const Variant& value) {
    if (Variant* local = getSlot(i32(slot)))
        *local = value;
}

// ---------------------------------------------------------------------------
// Lookup

Property* Workspace::findOwnProperty(DataPoolId symbol, u32 flags) {
    Property* own = Object::findOwnProperty(symbol, flags);
    if (own || isGlobal() || cleared || objectOf(callee) == nullptr)
        return own;
    i32 index;
    if (!resolveLocal(scopeInfo, symbol, index)) {
        Object* function = objectOf(callee);
        if (symbol == 0 || symbol != function->getNameID())
            return nullptr;
        index = kCalleeSlot;
    }
    return createRefProperty(symbol, u32(index), kDontDelete);
}

void Workspace::getScopeObjects(LxCore::SimpleArray& out) {
    for (ScopeChain* node = withChain; node; node = node->next)
        out.add(LxCore::SimpleArray::Value(node->object));
    if (!isGlobal())
        out.add(LxCore::SimpleArray::Value(static_cast<Object*>(this)));
    if (Object* function = objectOf(callee))
        if (Function* f = function->asFunction())
            if (LxCore::SimpleArray* closure = f->getClosureScopes())
                out.append(*closure);
}

Object* Workspace::findInWithChain(DataPoolId symbol, Property*& found, u32 flags) {
    for (ScopeChain* node = withChain; node; node = node->next) {
        if (!node->object)
            continue;
        if (Property* p = lookupIn(node->object, symbol, flags)) {
            found = p;
            return node->object;
        }
    }
    return nullptr;
}

Object* Workspace::findInClosure(Function* callee, DataPoolId symbol, Property*& found, u32 flags) {
    if (LxCore::SimpleArray* closure = callee ? callee->getClosureScopes() : nullptr) {
        for (i32 i = 0; i < closure->getCount(); i++) {
            auto* scope = reinterpret_cast<Object*>(closure->get(i));
            if ((found = lookupIn(scope, symbol, flags)) != nullptr)
                return scope;
        }
    }
    return nullptr;
}

bool Workspace::resolveForRead(DataPoolId symbol, Reference& reference, u32 flags) {
    flags &= kFindCallable | kFindOwn;
    reference.symbol = symbol;
    reference.property = nullptr;
    Property* found = nullptr;
    Object* holder = withChain ? findInWithChain(symbol, found, flags) : nullptr;
    // The global object's own lookup takes its prototypes too, as every
    // other scope's last step does.
    if (!holder) {
        found = isGlobal() ? Object::findProperty(symbol, flags) : findOwnProperty(symbol, flags);
        if (found)
            holder = this;
    }
    if (!holder)
        holder = findInClosure(getCallee() ? getCallee()->asFunction() : nullptr, symbol, found, flags);
    Object* global = isGlobal() ? this : static_cast<RealEngine&>(getSpace().getEngine()).getGlobal();
    if (!holder && global && global != this && (found = global->findProperty(symbol, flags)) != nullptr)
        holder = global;
    reference.setObject(holder ? holder : global ? global : this);
    reference.property = found;
    return holder != nullptr;
}

bool Workspace::resolveForWrite(DataPoolId symbol, Reference& reference, u32 flags) {
    flags &= kFindCallable | kFindOwn;
    reference.symbol = symbol;
    reference.member = 1;
    Property* found = nullptr;
    if (Object* holder = withChain ? findInWithChain(symbol, found, flags) : nullptr) {
        reference.setObject(holder);
        reference.property = found;
        return true;
    }
    reference.setObject(this);
    found = findOwnProperty(symbol, flags | kFindOwn);
    if (!found) {
        const RealEngine& engine = static_cast<RealEngine&>(getSpace().getEngine());
        found = createProperty(symbol, allFramesScriptLevel(engine) ? u32(kDontDelete) : 0u);
    }
    reference.property = found;
    return found != nullptr;
}

void Workspace::declareConstant(DataPoolId symbol, i32 slot, const Variant& value) {
    Engine& engine = getSpace().getEngine();
    if (slot >= 0) {
        Variant* local = getSlot(slot);
        if (!local)
            return;
        if (local->getFlags() & kConstantMark) {
            engine.setError(Err::kRedeclared, pool().getSymbol(symbol), -1, false);
            return;
        }
        *local = value;
        local->setSlotFlags(u16((local->getFlags() & Variant::kSlotFlags) | kConstantMark));
        return;
    }
    Reference reference;
    resolveForWrite(symbol, reference, 0);
    Property* p = reference.property;
    if (!p)
        return;
    if (p->isReadOnly()) {
        engine.setError(Err::kRedeclared, pool().getSymbol(symbol), -1, false);
        return;
    }
    p->put(reference.object, value);
    p->addAttributes(kReadOnly | kDontDelete);
}

// A catch in a loop pushes and pops once a pass: one node is kept aside.
void Workspace::pushWith(Object* object) {
    ScopeChain* node = spareChain;
    if (!node) {
        withChain = new ScopeChain(withChain, object);
        return;
    }
    spareChain = nullptr;
    node->next = withChain;
    node->object = object;
    if (object)
        object->addRef();
    withChain = node;
}

void Workspace::popWith() {
    ScopeChain* node = withChain;
    if (!node)
        return;
    withChain = node->next;
    if (spareChain) {
        delete node;
        return;
    }
    Object* object = node->object;
    node->object = nullptr;
    node->next = nullptr;
    spareChain = node;
    if (object)
        object->dropRef();
}

void Workspace::keepSpareScope(Object* object) {
    Object* dropped = spareScope;
    spareScope = object;
    if (dropped)
        dropped->dropRef();
}

// ---------------------------------------------------------------------------
// Listings and frame texts

void Workspace::getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter) {
    if (isGlobal() || !scopeInfo) {
        Object::getIDs(receiver, ids, filter);
        return;
    }
    LxCore::SimpleArray keys;
    scopeInfo->symbols.getKeys(keys);
    for (i32 k = 0; k < keys.getCount(); k++) {
        const DataPoolId symbol = DataPoolId(keys.get(k));
        i32 index;
        if (!resolveLocal(scopeInfo, symbol, index))
            continue;
        // A declared name is there from the call's start: a variable not
        // yet assigned lists as undefined, as top-level ones do.
        const Variant* value = getSlot(index);
        if (!value)
            continue;
        const Object* object = objectOf(*value);
        const bool isFunction = object && const_cast<Object*>(object)->asFunction();
        if (((filter & kListMethods) && isFunction) ||
            ((filter & (kListReadOnly | kListWritable)) && !isFunction))
            ids.add(LxCore::SimpleArray::Value(symbol));
    }
    if ((filter & (kListReadOnly | kListWritable)) && !(filter & kListNoBuiltIn)) {
        ids.add(LxCore::SimpleArray::Value(kNameArguments));
        ids.add(LxCore::SimpleArray::Value(Sym::kCallee));
    }
}

namespace {

String argumentText(const Variant& value, u32 maxLength) {
    Object* object = objectOf(value);
    if (value.getType() == Variant::kString) {
        String quoted = value.toString().toSource(false);
        if (u32(quoted.length()) >= maxLength + 2) {
            quoted = quoted.substr(0, i32(maxLength) + 1);
            quoted += "\"...";
        }
        return quoted;
    }
    if (object) {
        if (Function* f = object->asFunction())
            return f->toDisplayString(false);
        String name;
        object->getClassName(name);
        String out("[");
        out += name;
        out += ':';
        out += object->getText();
        out += ']';
        return out;
    }
    if (value.getType() == Variant::kScriptObject)
        return value.toString();    // an unbound reference: its class name
    return value.toString();
}

}  // namespace

void Workspace::getArgumentTexts(LxCore::Array& out, u32 maxLength) {
    argumentTexts(slots ? slots + localCount : nullptr, slots ? argumentCount : 0, out, maxLength);
}

void Workspace::argumentTexts(const Variant* arguments, u32 count, LxCore::Array& out, u32 maxLength) {
    for (u32 i = 0; i < count; i++)
        out.getOrCreate(out.length()) = argumentText(arguments[i], maxLength);
}

}  // namespace LxScript
