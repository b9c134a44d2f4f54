// Compiled scripts and script functions.
#include "script/engine/Script.h"

#include "core/ErrorCodes.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/SlotStack.h"
#include "script/engine/TVContext.h"
#include "script/engine/Workspace.h"
#include "script/engine/ops/Literals.h"
#include "script/engine/XMLSettings.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

constexpr u32 kScriptLevelFlag = 0x10000;
constexpr u32 kCompiledFlag = 0x40000;
// The limit a direct call sets when nothing set one before.
constexpr i32 kDirectCallStack = 1048576;
constexpr DataPoolId kEvalName = 127;        // "[eval]"
constexpr DataPoolId kToplevelName = 128;    // "[toplevel]"

DataPool& pool() { return DataPool::get(); }

DataPoolId functionName(const RealEngine& engine, const jsOpFunction* body) {
    const ScopeInfo* info = body ? body->getScopeInfo() : nullptr;
    if (info && info->name)
        return info->name;
    if (!info || (info->flags & kScriptLevelFlag))
        return engine.getCurrentFrame() ? kEvalName : kToplevelName;
    return Sym::kAnonymous;
}

bool isWorkspace(const Object* object) {
    return object->getObjectID() == kWorkspaceId || object->getObjectID() == kGlobalObjectId;
}

}  // namespace

// ---------------------------------------------------------------------------
// Scripts

bool Script::isValidLine(const Script& script, i32 line) {
    if (line < 0)
        return false;
    const jsOpFunction* root = script.getRoot();
    if (!root)
        return false;
    const LxCore::SimpleArray& lines = root->lines;
    return lines.find(LxCore::SimpleArray::Value(line)) >= 0;
}

jsScript::jsScript(jsOpFunction* root) : root(root) {
    const ScopeInfo* info = root ? root->getScopeInfo() : nullptr;
    fileSymbol = info ? info->file : 0;
}

jsScript::~jsScript() { delete root; }

bool jsScript::isCompiled() const {
    const ScopeInfo* info = root ? root->getScopeInfo() : nullptr;
    return info && (info->flags & kCompiledFlag);
}

const String& jsScript::getSource() const {
    const ScopeInfo* info = root ? root->getScopeInfo() : nullptr;
    return info ? info->source : String::emptyString();
}

const String& jsScript::getName() {
    if (name.isEmpty() && fileSymbol)
        name = pool().getSymbol(fileSymbol);
    return name;
}

void jsScript::getFileIDs(LxCore::SimpleArray& out) const {
    out.setCount(0);
    out.add(LxCore::SimpleArray::Value(fileSymbol));
    if (root)
        out.append(root->fileIds);
}

i32 jsScript::writeBinary(String& out) {
    CompiledScriptWriter writer(out);
    return writer.write(*this);
}

// ---------------------------------------------------------------------------
// Script functions

jsFunction::jsFunction(RealEngine& engine, Script* script, jsOpFunction* body, Object* definingScope,
                       bool globalScope)
    : Function(engine.getObjects(), functionName(engine, body)), script(script), body(body), global(globalScope ? 1 : 0) {
    code = body;
    if (script)
        script->addRef();
    ScopeInfo* info = getScopeInfo();
    length = info ? u32(info->parameters) : 0;
    Object* scope = globalScope ? engine.getGlobal() : definingScope;
    if (!scope)
        return;
    if (isWorkspace(scope))
        static_cast<Workspace*>(scope)->setArgumentsNeeded();
    if (isScriptLevel())
        return;
    scope->getScopeObjects(closure);
    for (i32 i = 0; i < closure.getCount(); i++) {
        auto* object = reinterpret_cast<Object*>(closure.get(i));
        object->addRef();
        object->addInternalRef();
    }
}

jsFunction::~jsFunction() { clear(); }

RealEngine& jsFunction::getRealEngine() const { return static_cast<RealEngine&>(getSpace().getEngine()); }

ScopeInfo* jsFunction::getScopeInfo() { return body ? body->getScopeInfo() : nullptr; }

bool jsFunction::isScriptLevel() const {
    const ScopeInfo* info = body ? body->getScopeInfo() : nullptr;
    return !info || (info->flags & kScriptLevelFlag);
}

LxCore::SimpleArray* jsFunction::getClosureScopes() { return closure.getCount() ? &closure : nullptr; }

void jsFunction::getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter) {
    Function::getIDs(receiver, ids, filter);
    if (!(filter & (kListReadOnly | kListWritable)) || (filter & kListNoBuiltIn))
        return;
    if (ids.getCount() > 0 && ids.get(0) == 0)
        return;
    if (ids.find(LxCore::SimpleArray::Value(Sym::kPrototype)) < 0)
        ids.add(LxCore::SimpleArray::Value(Sym::kPrototype));
}

// The closure scopes are let go inside one release batch: a long chain of
// closures and workspaces releases from the queue, not by recursion.
void jsFunction::clear() {
    if (cleared)
        return;
    ReleaseBatch batch(getSpace());
    Function::clear();
    for (i32 i = 0; i < closure.getCount(); i++) {
        auto* object = reinterpret_cast<Object*>(closure.get(i));
        object->dropInternalRef();
        object->dropRef();
    }
    closure.setCount(0);
    if (Script* s = script) {
        script = nullptr;
        s->release();
    }
}

void jsFunction::markReferences() {
    Function::markReferences();
    for (i32 i = 0; i < closure.getCount(); i++)
        reinterpret_cast<Object*>(closure.get(i))->mark();
}

// One activation: the frame on this native stack, the slots on the
// engine's slot stack; the workspace only when something asks for it.
void jsFunction::runActivation(Object* thisObject, const LxCore::BasicArray& args, Variant& result) {
    if (isScriptLevel()) {
        runScriptLevel(thisObject, result);
        return;
    }
    RealEngine& engine = getRealEngine();
    StackLimitScope limit(TVContext::get(), kDirectCallStack);
    ObjectRef self(this);
    ObjectRef heldThis(thisObject);
    const ScopeInfo* info = getScopeInfo();
    const u32 argumentCount = args.length();
    const u32 first = Workspace::localCountOf(info);
    SlotArray slots(engine.getSlotStack(), Workspace::slotCountOf(info, argumentCount));
    for (u32 i = 0; i < argumentCount; i++)
        if (const Variant* value = args.get(i))
            slots.data()[first + i] = *value;
    // A default xml namespace set in the function ends with it.
    const XMLNamespaceKeeper keeper(engine);
    jsRunner runner(*this, slots.data(), slots.length(), argumentCount, thisObject, body, 0);
    runner.runBody(result);
}

// Script-level code called as a function runs in the scope of the frame
// that called it (the debugger's frame when stopped), else the global one.
void jsFunction::runScriptLevel(Object* thisObject, Variant& result) {
    RealEngine& engine = getRealEngine();
    StackLimitScope limit(TVContext::get(), kDirectCallStack);
    ObjectRef self(this);
    ObjectRef heldThis(thisObject);
    Workspace* scope = nullptr;
    if (engine.isStoppedInDebugger())
        scope = engine.getFrameScope();
    if (!scope && !global && engine.getCurrentFrame())
        scope = engine.getCurrentFrame()->getScope();
    if (!scope)
        scope = engine.getGlobal();
    ObjectRef heldScope(scope);
    jsRunner runner(*this, *scope, thisObject, body);
    runner.runBody(result);
}

void jsFunction::call(Object* thisObject, const LxCore::BasicArray& args, Variant& result) {
    runActivation(thisObject, args, result);
}

void jsFunction::construct(Object* newObject, const LxCore::BasicArray& args, Variant& result) {
    if (isScriptLevel()) {
        String name;
        getClassName(name);
        getRealEngine().setError(Err::kNoConstructor, name, -1, false);
        return;
    }
    newObject->setClassID(Sym::kObject);
    newObject->setPrototype(getRealEngine().getPrototypeOf(this));
    runActivation(newObject, args, result);
}

i32 jsFunction::declareFunctions(Object* scope) {
    if (!scope || !isWorkspace(scope) || !body)
        return 0;
    const bool isGlobalScope = scope->getObjectID() == kGlobalObjectId;
    const i32 code = body->declareFunctions(script, scope, !isGlobalScope);
    if (code)
        getRealEngine().setError(code);
    return code;
}

}  // namespace LxScript
