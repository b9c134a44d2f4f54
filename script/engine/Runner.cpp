// Frames, the body runner and the run-time operations of the operation tree.
#include "script/engine/Runner.h"

#include <new>
#include <stdexcept>

#include "core/ErrorCodes.h"
#include "core/FileSpec.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"
#include "script/engine/TVContext.h"
#include "script/engine/Workspace.h"
#include "script/engine/ops/Literals.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

constexpr u32 kStrictFlag = 0x100;
constexpr u32 kScriptLevelFlag = 0x10000;     // of ScopeInfo::flags
constexpr u32 kCompiledFlag = 0x40000;
constexpr u16 kStopRequest = 0x2;
constexpr u32 kArgumentTextLength = 20;

DataPool& pool() { return DataPool::get(); }

}  // namespace

// ---------------------------------------------------------------------------
// References

void Reference::setObject(Object* holder) {
    if (holder)
        holder->addRef();
    Object* old = object;
    object = holder;
    if (old)
        old->dropRef();
}

void Reference::release() {
    property = nullptr;
    if (Object* old = object) {
        object = nullptr;
        old->dropRef();
    }
}

// ---------------------------------------------------------------------------
// Frames

RuntimeEnv::RuntimeEnv(RealEngine& engine, jsFunction* function, Workspace* scope, Object* thisObject)
    : RuntimeEnv(engine, function, scope, thisObject, Inline{}) {}

// Inline into the runner's constructors, which every call runs: the frame's
// set-up is a few stores.
inline RuntimeEnv::RuntimeEnv(RealEngine& engine, jsFunction* function, Workspace* scope, Object* thisObject,
                              Inline)
    : previous(engine.currentFrame),
      function(function),
      engine(&engine),
      thisObject(thisObject),
      scope(scope),
      pendingCode(&engine.pendingCode) {
    if (!previous) {
        if (engine.getDebugLevel() == 2)
            stepFlags = kStopRequest;
    } else if ((previous->stepFlags & 0x6) == kStopRequest) {
        previous->stepFlags = 0;
        stepFlags = kStopRequest;
    }
}

RuntimeEnv::~RuntimeEnv() {
    if (engine->currentFrame != this)
        return;     // never linked: construction did not finish
    // No step flags on the previous frame and no stop request here: nothing to hand back.
    if (previous && (previous->stepFlags != 0 || (stepFlags & kStopRequest))) {
        if (engine->getError().getCode() < 0)
            previous->stepFlags = 0;
        else if (stepFlags & kStopRequest)
            previous->stepFlags = u16((stepFlags | previous->stepFlags) & kStopRequest);
    }
    engine->currentFrame = previous;
}

void RuntimeEnv::setLine(DataPoolId file, i32 statementLine) {
    if (statementLine < 0)
        return;
    fileId = file;
    line = statementLine;
    if (engine->getDebugLevel() == 0)
        return;
    const bool stopRequested = (stepFlags & kStopRequest) != 0;
    stepFlags = u16(stepFlags & ~kStopRequest);
    engine->reachLine(*this, file, statementLine, stopRequested);
}

void RuntimeEnv::setError(i32 code, const String* text) {
    if (text)
        engine->setError(code, *text, -1, false);
    else
        engine->setError(code);
}

void RuntimeEnv::clearError() {
    if (errorMarker == u32(Sym::kError))
        errorMarker = 0;
    engine->clearError();
}

bool RuntimeEnv::isCompiled() const {
    ScopeInfo* info = getScopeInfo();
    return info && (info->flags & kCompiledFlag);
}

i32 RuntimeEnv::depth() const {
    i32 n = 0;
    for (const RuntimeEnv* frame = this; frame; frame = frame->previous)
        n++;
    return n;
}

String& RuntimeEnv::getFrameText(String& out) {
    out.clear();
    return out;
}

u32 RuntimeEnv::getFunctionInfo(String& name, LxCore::Array& values) {
    name.clear();
    return 0;
}

// ---------------------------------------------------------------------------
// The runner

jsRunner::jsRunner(jsFunction& function, Workspace& scope, Object* thisObject, jsOpFunction* body)
    : RuntimeEnv(function.getRealEngine(), &function, &scope, thisObject, Inline{}), body(body) {
    ScopeInfo* info = function.getScopeInfo();
    scriptLevel = !info || (info->flags & kScriptLevelFlag);
    takeStackLimit(0);
}

jsRunner::jsRunner(jsFunction& function, Variant* slots, u32 slotCount, u32 argumentCount, Object* thisObject,
                   jsOpFunction* body, uintptr_t callerStackLimit)
    : RuntimeEnv(function.getRealEngine(), &function, nullptr, thisObject, Inline{}),
      body(body),
      slots(slots),
      slotCount(slotCount),
      argumentCount(argumentCount) {
    takeStackLimit(callerStackLimit);
}

[[gnu::always_inline]] inline void jsRunner::takeStackLimit(uintptr_t callerStackLimit) {
    if (callerStackLimit != 0)
        stackLimit = callerStackLimit;
    else if (TVContext* context = TVContext::find())
        stackLimit = context->getStackLimit();
    if (engine->getProfilingLevel() != 0)
        engine->profileEnter(*this);
    // Linked last: nothing above may leave a dead frame current.
    engine->currentFrame = this;
}

jsRunner::~jsRunner() {
    if (profiler && engine->currentFrame == this)
        engine->profileLeave(*this);
    if (madeScope) {
        scope->leaveFrame();
        scope->dropRef();
    }
}

Workspace* jsRunner::makeScope() {
    if (scriptLevel || !function)
        return nullptr;
    scope = new Workspace(*function, slots, slotCount, argumentCount);
    madeScope = true;
    return scope;
}

Variant* jsRunner::specialSlot(i32 index) {
    Workspace* workspace = getScope();
    return workspace ? workspace->getSlot(index) : nullptr;
}

// Workspace::resolveLocal's answer without the slot: the names every
// activation has first, then the body's scope (the function's own), whose
// memo answers a free name read again without a hash lookup.
bool jsRunner::declaresName(DataPoolId symbol) const {
    if (symbol == kNameArguments || symbol == Sym::kCallee || (symbol != 0 && symbol == function->getNameID()))
        return true;
    const ScopeInfo* info = body ? body->getScopeInfo() : nullptr;
    return info && info->lookupRunning(symbol) != 0;
}

bool jsRunner::resolveForRead(DataPoolId symbol, Reference& reference, u32 flags) {
    if (scope || scriptLevel || declaresName(symbol))
        return getScope()->resolveForRead(symbol, reference, flags);
    flags &= kFindCallable | kFindOwn;
    reference.symbol = symbol;
    reference.property = nullptr;
    Property* found = nullptr;
    Object* holder = Workspace::findInClosure(function, symbol, found, flags);
    Object* global = engine->getGlobal();
    if (!holder && global && (found = global->findProperty(symbol, flags)) != nullptr)
        holder = global;
    reference.setObject(holder ? holder : global);
    reference.property = found;
    return holder != nullptr;
}

bool jsRunner::readOwnName(DataPoolId symbol, Variant& out) {
    if (scope || scriptLevel || symbol == 0 || symbol != function->getNameID())
        return false;
    i32 index;
    if (Workspace::resolveLocal(function->getScopeInfo(), symbol, index))
        return false;
    out.setObject(function);
    return true;
}

ScopeInfo* jsRunner::getScopeInfo() const { return function ? function->getScopeInfo() : nullptr; }

Status jsRunner::stackOverrun() {
    engine->setError(Err::kStackOverrun);
    return status();
}

void jsRunner::runBody(Variant& result) {
    result.clear();
    if (stackExhausted()) {
        engine->setError(Err::kStackOverrun);
        return;
    }
    Status status;
    try {
        status = body->execute(*this, result);
    } catch (...) {
        // As at every engine entry: a shortage collects once, then ends the
        // run with -28.
        engine->mapException();
        status = this->status();
    }
    setCompletion(kNoCompletion, nullptr);
    if (status == kStatusError || (status == kStatusOK && !scriptLevel))
        result.clear();
}

// "[file]" for a script's top level; name(arguments) for a function. Runs
// no script.
String& jsRunner::getFrameText(String& out) {
    out.clear();
    if (scriptLevel) {
        if (fileId == 0)
            return out;
        String name;
        LxCore::FileSpec(pool().getSymbol(fileId), true).getName(name);
        out.sprintf("[%ls]", name.chars());
        return out;
    }
    out += pool().getSymbol(function->getNameID() ? function->getNameID() : function->getClassID());
    out += '(';
    LxCore::Array texts;
    if (scope)
        scope->getArgumentTexts(texts, kArgumentTextLength);
    else
        Workspace::argumentTexts(slots + Workspace::localCountOf(getScopeInfo()), argumentCount, texts,
                                 kArgumentTextLength);
    for (u32 i = 0; i < texts.length(); i++) {
        if (i)
            out += ',';
        out += texts[i].toString();
    }
    out += ')';
    return out;
}

u32 jsRunner::getFunctionInfo(String& name, LxCore::Array& values) {
    name = pool().getSymbol(function->getNameID() ? function->getNameID() : function->getClassID());
    ScopeInfo* info = getScopeInfo();
    if (!scriptLevel) {
        const u32 first = Workspace::localCountOf(info);
        for (u32 i = 0; i < argumentCount; i++) {
            const Variant* value = slot(i32(first + i));
            values.getOrCreate(i) = value ? *value : Variant();
        }
    }
    return info ? u32(info->parameters) : 0;
}

// ---------------------------------------------------------------------------
// Run-time operations

namespace {

bool isNullish(u32 type) { return type == Variant::kUndefined || type == Variant::kNull; }

bool sameTypeEquals(const Variant& a, const Variant& b) {
    switch (a.getType()) {
        case Variant::kUndefined:
        case Variant::kNull:
            return true;
        case Variant::kBoolean:
        case Variant::kNumber:
        case Variant::kString:
            return a == b;
        case Variant::kScriptObject:
            return objectOf(a) && objectOf(a) == objectOf(b);
        default:
            return false;
    }
}

// The default value of an object compared with a primitive: the string
// hint for a Date.
bool defaultValueOf(Object& object, Variant& out) {
    if (!object.getDefaultValue(out, object.getClassID() == Sym::kDate ? 1 : 0))
        return false;
    if (objectOf(out)) {
        String name;
        object.getClassName(name);
        object.getSpace().getEngine().setError(Err::kNoValue, name, -1, false);
        return false;
    }
    return true;
}

}  // namespace

// Each round either decides or makes one side more primitive, so the
// comparison ends; a default value that stays an object decides "unequal".
bool looseEquals(const Variant& left, const Variant& right) {
    if (left.getType() == right.getType())
        return sameTypeEquals(left, right);
    Variant a(left);
    Variant b(right);
    for (;;) {
        const u32 ta = a.getType();
        const u32 tb = b.getType();
        if (ta == tb)
            return sameTypeEquals(a, b);
        if (isNullish(ta) || isNullish(tb))
            return isNullish(ta) && isNullish(tb);
        if (ta == Variant::kBoolean) {
            a.setNumber(a.toNumber());
        } else if (tb == Variant::kBoolean) {
            b.setNumber(b.toNumber());
        } else if (ta == Variant::kNumber && tb == Variant::kString) {
            b.setNumber(b.toNumber());
        } else if (ta == Variant::kString && tb == Variant::kNumber) {
            a.setNumber(a.toNumber());
        } else if (ta == Variant::kScriptObject && objectOf(a) &&
                   (tb == Variant::kNumber || tb == Variant::kString)) {
            Variant value;
            if (!defaultValueOf(*objectOf(a), value))
                return false;
            a = value;
        } else if (tb == Variant::kScriptObject && objectOf(b) &&
                   (ta == Variant::kNumber || ta == Variant::kString)) {
            Variant value;
            if (!defaultValueOf(*objectOf(b), value))
                return false;
            b = value;
        } else {
            return false;
        }
    }
}

bool toObjectValue(jsRunner& runner, const Variant& value, ObjectRef& out) {
    if (Object* object = objectOf(value)) {
        out = ObjectRef(object);
        return true;
    }
    DataPoolId wrapper = 0;
    switch (value.getType()) {
        case Variant::kBoolean:
            wrapper = Sym::kBoolean;
            break;
        case Variant::kNumber:
            wrapper = Sym::kNumber;
            break;
        case Variant::kString:
            wrapper = Sym::kString;
            break;
        default:
            runner.engine->setError(Err::kNotAnObject, value.toString(), -1, false);
            return false;
    }
    Object* holder = nullptr;
    runner.engine->newObjectRef(holder, wrapper);
    out = ObjectRef::adopt(holder);
    if (!holder)
        return false;
    holder->getPrivateValue() = value;
    return true;
}

String& errorText(String& out, const Variant& value) {
    Object* object = objectOf(value);
    if (!object) {
        out = value.toString();
        return out;
    }
    Variant text;
    if (!object->getDefaultValue(text, 1)) {
        out.clear();
        return out;
    }
    out = text.toString();
    if (out.compare("Error: ", 7) == 0)
        out.erase(0, 7);
    return out;
}

void assignReference(Reference& reference, const Variant& value) {
    Object* holder = reference.object;
    if (!holder)
        return;
    Object* stored = objectOf(value);
    if (stored) {
        if (Function* function = stored->asFunction())
            if (function->getNameID() == Sym::kAnonymous && function->getInferredName() == 0)
                function->setInferredName(reference.symbol);
        stored->setPutThrough(nullptr, nullptr);
    }
    Property* property = reference.property;
    if (property && property->isRemoved()) {
        // Removed since the reference was made (the value's own code may
        // delete its target): the holder finds or makes the name again.
        property = reference.property = nullptr;
    }
    if (property) {
        if (property->isReadOnly()) {
            if (holder->getSpace().getEffectiveDebugFlags() & kStrictFlag)
                holder->getSpace().getEngine().setError(Err::kReadOnly, pool().getSymbol(reference.symbol), -1,
                                                        false);
            return;
        }
        if ((property->getOwner() == holder || (property->getAttributes() & kWriteThrough)) &&
            !holder->getPutThrough()) {
            property->put(holder, value);
            return;
        }
    }
    if (holder->getPutThrough())
        reference.member = 0;
    reference.property = holder->put(reference.symbol, value, reference.member > 0 ? u32(kPutDefine) : 0u);
}

void typeOfName(Variant& v) {
    const char* name = "undefined";
    switch (v.getType()) {
        case Variant::kNull:
            name = "object";
            break;
        case Variant::kBoolean:
            name = "boolean";
            break;
        case Variant::kNumber:
            name = "number";
            break;
        case Variant::kString:
            name = "string";
            break;
        case Variant::kScriptObject: {
            Object* object = objectOf(v);
            if (!object) {
                name = "object";
                break;
            }
            const DataPoolId cls = object->getClassID();
            if ((cls == Sym::kXML || cls == Sym::kXMLList) && object->getLiveObject())
                name = "xml";
            else if (object->asFunction() || cls == Sym::kFunction || cls == Sym::kRegExp)
                name = "function";
            else
                name = "object";
            break;
        }
        default:
            break;
    }
    v.setString(name);
}

void writeTraceLine(RuntimeEnv& frame, const String& text) {
    RealEngine& engine = *frame.engine;
    if (engine.tracing)
        return;     // $.write traced through this hook would trace itself forever
    engine.tracing = 1;
    String frameText;
    frame.getFrameText(frameText);
    String line;
    line.sprintf("%3d %ls", frame.depth(), frameText.chars());
    line += ' ';
    line += text;
    line += '\n';
    engine.writeTrace(line);
    engine.tracing = 0;
}

}  // namespace LxScript
