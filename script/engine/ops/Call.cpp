// Calls and construction.
#include "core/ErrorCodes.h"
#include "script/engine/ops/Call.h"
#include "script/engine/Workspace.h"

#include "script/engine/Arguments.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Function.h"
#include "script/engine/LibraryHooks.h"
#include "script/engine/PrimitiveCall.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"
#include "script/engine/SlotStack.h"
#include "script/engine/XMLSettings.h"
#include "script/engine/ops/Literals.h"
#include "script/engine/ops/References.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

// A method an XML value with simple content does not have is looked up on
// a String of its text; the call's this stays the XML value.
void lookUpOnXMLText(jsRunner& runner, Object& holder, DataPoolId symbol, Variant& result) {
    String text;
    if (!libraryHooks().xmlSimpleText(holder, text))
        return;
    ObjectRef wrapper;
    if (toObjectValue(runner, Variant(text), wrapper) && wrapper)
        wrapper->get(symbol, result, 0);
}

// The base of a text.name(...) site (a local or a constant, whose value may
// be text), decided once when the site is made; no operand read in place
// for any other callee.
Operand textBaseOf(jsOpVariable* calleeReference) {
    const auto* property = kindCast<jsOpProperty>(calleeReference);
    if (!property || property->isAttribute())
        return Operand();
    return Operand::of(property->getObject());
}

// The text such a base holds now, read without running anything; null when
// it holds no string.
inline const Variant* textReceiver(jsRunner& runner, const Operand& base) {
    const Variant* value = base.peek(runner);
    return value && value->getType() == Variant::kString ? value : nullptr;
}

// A built-in String method called on such a text gets the text as its this
// without the String object a lookup through it would make. False, nothing
// run, when that does not apply. Out of line: the call site's frame, on the
// native stack of every call, stays without its slot blocks.
[[gnu::noinline]] bool callOnText(jsRunner& runner, const Variant& receiver, DataPoolId name, jsOpList* arguments,
                                  Variant& result, Status& status) {
    DispatcherFunction* method = builtInTextMethod(*runner.engine, name);
    if (!method)
        return false;
    const ObjectRef hold(method);
    if (runner.errorPending()) {
        status = runner.status();
        return true;
    }
    // The text is taken before the arguments, which may change the local,
    // into a slot-stack cell whose text buffer is reused.
    SlotArray self(runner.engine->getSlotStack(), 1);
    Variant& text = self.data()[0];
    text = receiver;
    SlotArray args(runner.engine->getSlotStack(), arguments ? u32(arguments->length()) : 0);
    if (arguments)
        if ((status = arguments->evaluateInto(runner, args.data())) != kStatusOK)
            return true;
    method->callOnPrimitive(text, args, result);
    status = runner.status();
    return true;
}

// A script function called (not constructed) from script: the fast path's
// callee, or null. Script-level code is no such callee (isScriptLevel).
jsFunction* scriptCallee(Object& function) {
    Function* f = function.asFunction();
    if (!f || !f->isScriptCode())
        return nullptr;
    auto* script = static_cast<jsFunction*>(f);
    const jsOpFunction* body = script->getBody();
    const ScopeInfo* info = body ? body->getScopeInfo() : nullptr;
    return info && !(info->flags & ScopeInfo::kScriptScope) ? script : nullptr;
}

}  // namespace

jsOpCall::jsOpCall(jsOpcode* callee, jsOpList* arguments, bool construct)
    : callee(callee), calleeReference(callee->asVariable()), arguments(arguments), construct(construct) {
    local = Operand::decide(kindCast<jsOpLocalVariable>(calleeReference), nullptr);
    ownName = calleeReference && calleeReference->is(OpKind::kName) && !calleeReference->isAttribute();
    if (!construct)
        textBase = textBaseOf(calleeReference);
    onText = textBase.inPlace();
    if (ownName)
        name = calleeReference->asName();
}

jsOpCall::~jsOpCall() {
    delete callee;
    delete arguments;
}

Status jsOpCall::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    // Before the callee is looked up: every value met so far is held by a
    // frame or a native Variant, which the collector sees.
    runner.engine->maybeCollectGarbage();
    // A global or an enclosing function's local where the site found it
    // last: the object itself, no copy of its value.
    if (name)
        if (Object* named = name->findCallee(runner))
            return invoke(runner, named, runner.engine->getGlobalObject(), result);
    if (onText)
        if (const Variant* text = textReceiver(runner, textBase)) {
            Status status;
            if (callOnText(runner, *text, calleeReference->getSymbol(), arguments, result, status))
                return status;
        }
    ObjectRef holder;
    Object* found = nullptr;
    if (const Status s = findCallee(runner, result, holder, found))
        return s;
    Object* function = found ? found : objectOf(result);
    if (!function)
        return notCallable(runner, result);
    return invoke(runner, function, holder.get(), result);
}

Status jsOpCall::findCallee(jsRunner& runner, Variant& result, ObjectRef& holder, Object*& found) {
    // A local or the running function's own name: the value as it is, called
    // with the global object, and no activation object made to find it.
    if (const Variant* value = local.peekLocal(runner)) {
        result = *value;
        holder = ObjectRef(runner.engine->getGlobalObject());
        return kStatusOK;
    }
    if (ownName && runner.readOwnName(calleeReference->getSymbol(), result)) {
        holder = ObjectRef(runner.engine->getGlobalObject());
        return kStatusOK;
    }
    if (calleeReference) {
        Reference reference;
        if (const Status s = calleeReference->getReference(runner, reference, kRefForCall))
            return s;
        if (reference.property) {
            // An object in the slot is called as it is there, not copied
            // out: the holder keeps the slot, invoke holds the callee.
            const Variant* value = reference.property->get(reference.object, kFindCallable);
            if ((found = value ? objectOf(*value) : nullptr) != nullptr) {
                holder = ObjectRef::adopt(reference.object);
                reference.object = nullptr;
                return kStatusOK;
            }
            takeValue(value, result);
        } else if (reference.object) {
            reference.object->get(reference.symbol, result, kFindCallable);
        } else {
            result.clear();
        }
        holder = ObjectRef(reference.object);
        if (result.getType() == Variant::kUndefined && reference.object)
            lookUpOnXMLText(runner, *reference.object, reference.symbol, result);
        return kStatusOK;
    }
    // Not a reference (f()(), (function(){})()): the value is its own holder.
    if (const Status s = callee->execute(runner, result))
        return s;
    if (Object* object = objectOf(result)) {
        holder = ObjectRef(object);
        return kStatusOK;
    }
    return toObjectValue(runner, result, holder) ? kStatusOK : runner.status();
}

Status jsOpCall::invoke(jsRunner& runner, Object* function, Object* holder, Variant& result) {
    RealEngine& engine = *runner.engine;
    if (runner.errorPending())
        return runner.status();
    Object* thisObject = holder ? holder : function;
    // A name found in an activation is called with the global object.
    if (thisObject->getObjectID() == kWorkspaceId)
        thisObject = engine.getGlobalObject();
    const ObjectRef hold(function);
    if (jsFunction* script = scriptCallee(*function))
        return construct ? constructScript(runner, *script, result) : callScript(runner, *script, thisObject, result);
    SlotArray args(engine.getSlotStack(), arguments ? u32(arguments->length()) : 0);
    if (arguments)
        if (const Status s = arguments->evaluateInto(runner, args.data()))
            return s;
    if (construct) {
        // Whatever cannot construct refuses in its own construct operation
        // (script-level code, native methods): error 22.
        engine.newObject(result, function->getNameID(), &args, function);
    } else {
        result.clear();
        function->call(thisObject, args, result);
    }
    return runner.status();
}

// The arguments go straight into the callee's block, after its locals: no
// argument array, no copy, no virtual call. The caller holds the callee (and
// this through the callee's holder).
Status jsOpCall::callScript(jsRunner& runner, jsFunction& function, Object* thisObject, Variant& result) {
    const ScopeInfo* info = function.getScopeInfo();
    const u32 count = arguments ? u32(arguments->length()) : 0;
    SlotArray slots(runner.engine->getSlotStack(), Workspace::slotCountOf(info, count));
    if (arguments)
        if (const Status s = arguments->evaluateInto(runner, slots.data() + Workspace::localCountOf(info)))
            return s;
    result.clear();
    const XMLNamespaceKeeper keeper(*runner.engine);
    jsRunner frame(function, slots.data(), slots.length(), count, thisObject, function.getBody(),
                   runner.getStackLimit());
    frame.runBody(result);
    return runner.status();
}

// new F(...) of a script function: the arguments straight into its block as
// for a call, then the object made as the engine's newObject makes it, its
// prototype read once. The body's own object answer wins over the new one.
[[gnu::noinline]] Status jsOpCall::constructScript(jsRunner& runner, jsFunction& function, Variant& result) {
    RealEngine& engine = *runner.engine;
    const ScopeInfo* info = function.getBody()->getScopeInfo();
    const u32 count = arguments ? u32(arguments->length()) : 0;
    SlotArray slots(engine.getSlotStack(), Workspace::slotCountOf(info, count));
    if (arguments)
        if (const Status s = arguments->evaluateInto(runner, slots.data() + Workspace::localCountOf(info)))
            return s;
    const ObjectRef made = ObjectRef::adopt(Object::make(engine.getObjects(), function.getNameID()));
    made->setClassID(Sym::kObject);
    made->setPrototype(engine.getPrototypeOf(&function));
    {
        const XMLNamespaceKeeper keeper(engine);
        jsRunner frame(function, slots.data(), slots.length(), count, made.get(), function.getBody(),
                       runner.getStackLimit());
        frame.runBody(result);
    }
    Object* other = objectOf(result);
    if (!other || other == made.get())
        result.setObject(made.get());
    return runner.status();
}

// A callee that is no object: error 24 (22 for new) with the callee's text,
// in place of the error 2 an undeclared name raised on the way.
Status jsOpCall::notCallable(jsRunner& runner, Variant& result) {
    result.clear();
    const i32 pending = runner.engine->getError().getCode();
    if (pending == 0 || pending == Err::kUndefined) {
        const String text = callee->sourceText();
        runner.clearError();
        runner.setError(construct ? Err::kNoConstructor : Err::kNotAFunction, &text);
    }
    return runner.status();
}

void jsOpCall::appendSource(String& out) const {
    callee->appendSource(out);
    out += "()";
}

void jsOpCall::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeNode(callee);
    writer.writeNode(arguments);
    writer.writeBool(construct);
}

}  // namespace LxScript
