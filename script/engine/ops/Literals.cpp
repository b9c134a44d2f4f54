// Array, object and regular-expression literals, function bodies and
// function expressions.
#include "script/engine/ops/Literals.h"

#include "core/ErrorCodes.h"
#include "script/engine/Arguments.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"
#include "script/engine/Workspace.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

DataPool& pool() { return DataPool::get(); }

// The engine's run flags while a body runs: the code's own directive flags
// over the engine's debug flags; every way out puts the old ones back.
class RunFlagsScope {
public:
    RunFlagsScope(RealEngine& engine, u32 flags) : engine(engine), kept(engine.getRunFlags()) {
        engine.setRunFlags(flags);
    }
    ~RunFlagsScope() { engine.setRunFlags(kept); }
    RunFlagsScope(const RunFlagsScope&) = delete;
    RunFlagsScope& operator=(const RunFlagsScope&) = delete;

private:
    RealEngine& engine;
    u32 kept;
};

// The directive bits of a code record's flag word; the upper half marks
// what kind of code it is.
constexpr u32 kDirectiveFlags = 0xFFFF;

}  // namespace

void fillArrayElements(RealEngine& engine, Object& array, const LxCore::BasicArray& values) {
    const u32 count = values.length();
    // The array is new: its slots are made without a lookup, in their cells
    // where they may be, so that index sites read them in place.
    array.setLength(count);
    for (u32 i = 0; i < count; i++) {
        if (!engine.pollWork())
            return;
        const Variant* v = values.get(i);
        if (v && v->getType() >= Variant::kScriptObject) {
            Variant resolved(*v);
            engine.importValue(resolved, true);
            array.defineValue(DataPool::get().add(i), resolved);
        } else {
            array.defineValue(DataPool::get().add(i), v ? *v : Variant());
        }
    }
}

void fillArrayLiteral(Object& array, const LxCore::BasicArray& values) {
    fillArrayElements(static_cast<RealEngine&>(*array.getEngine()), array, values);
}

// ---------------------------------------------------------------------------
// Array literals

jsOpArray::jsOpArray(jsOpList* elements) : elements(elements) {}

jsOpArray::~jsOpArray() { delete elements; }

Status jsOpArray::execute(jsRunner& runner, Variant& result) {
    TVVariantArray values(elements ? u32(elements->length()) : 0);
    if (elements) {
        if (const Status s = elements->evaluateInto(runner, values)) {
            result.clear();
            return s;
        }
    }
    runner.engine->newPlainObject(result, Sym::kArray);
    if (Object* array = objectOf(result))
        fillArrayLiteral(*array, values);
    return runner.status();
}

void jsOpArray::appendSource(String& out) const {
    out += '[';
    for (i32 i = 0; elements && i < elements->length(); i++) {
        if (i > 0)
            out += ',';
        if (const jsOpcode* element = elements->get(i))
            element->appendSource(out);
    }
    out += ']';
}

void jsOpArray::writeOperands(CompiledScriptWriter& writer) const { writer.writeNode(elements); }

// ---------------------------------------------------------------------------
// Object literals

jsOpObject::jsOpObject(DataPoolId classSymbol) : classSymbol(classSymbol) {}

jsOpObject::~jsOpObject() { deleteEntries(values); }

void jsOpObject::append(DataPoolId name, jsOpcode* value) {
    Handover<jsOpcode> hold(value);
    names.add(LxCore::SimpleArray::Value(name));
    try {
        values.add(value);
    } catch (...) {
        names.removeAt(names.getCount() - 1);
        throw;
    }
    hold.taken();
}

// A plain literal is a plain object; another class is made by the engine's
// factory when the engine has a class table for it.
Status jsOpObject::create(jsRunner& runner, Variant& result) {
    RealEngine& engine = *runner.engine;
    if (classSymbol == Sym::kObject) {
        engine.newPlainObject(result, classSymbol);
    } else if (engine.getDispatcherByID(classSymbol)) {
        engine.newObject(result, classSymbol, nullptr, nullptr);
    } else {
        result.clear();
        const String name = pool().getSymbol(classSymbol);
        runner.setError(Err::kNotAnObject, &name);
    }
    return runner.status();
}

Status jsOpObject::execute(jsRunner& runner, Variant& result) {
    if (const Status s = create(runner, result))
        return s;
    Object* object = objectOf(result);
    if (!object)
        return runner.status();
    // A plain literal's slots stay in their cells: the fresh object has no
    // slot but those the literal made.
    const bool plain = classSymbol == Sym::kObject;
    Variant value;
    for (i32 i = 0; i < values.getCount(); i++) {
        if (jsOpcode* expression = values.get(i)) {
            if (const Status s = expression->execute(runner, value))
                return s;
        } else {
            value.clear();
        }
        // A repeated name replaces the earlier value.
        const DataPoolId name = DataPoolId(names.get(i));
        if (plain && !object->hasOwnValue(name))
            object->defineValue(name, value);
        else if (Property* own = object->findOwnProperty(name, kFindOwn))
            own->put(object, value);
        else
            object->createProperty(name, value, 0);
    }
    return runner.status();
}

void jsOpObject::appendSource(String& out) const {
    out += '{';
    for (i32 i = 0; i < values.getCount(); i++) {
        if (i > 0)
            out += ',';
        out += pool().getSymbol(DataPoolId(names.get(i)));
        out += ':';
        if (const jsOpcode* value = values.get(i))
            value->appendSource(out);
    }
    out += '}';
}

void jsOpObject::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeSymbol(classSymbol);
    writer.writeInteger(values.getCount());
    for (i32 i = 0; i < values.getCount(); i++) {
        writer.writeSymbol(DataPoolId(names.get(i)));
        writer.writeNode(values.get(i));
    }
}

// ---------------------------------------------------------------------------
// Regular-expression literals

jsOpRegExp::jsOpRegExp(const String& pattern, const String& flags) : pattern(pattern), flags(flags) {}

Status jsOpRegExp::execute(jsRunner& runner, Variant& result) {
    TVVariantArray args(flags.isEmpty() ? 1 : 2);
    args.at(0).setString(pattern);
    if (!flags.isEmpty())
        args.at(1).setString(flags);
    runner.engine->newObject(result, Sym::kRegExp, &args, nullptr);
    return runner.status();
}

void jsOpRegExp::appendSource(String& out) const {
    out += '/';
    out += pattern;
    out += '/';
    out += flags;
}

void jsOpRegExp::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeString(pattern);
    writer.writeString(flags);
}

// ---------------------------------------------------------------------------
// Function bodies

jsOpFunction::jsOpFunction(ScopeInfo* info, i32 closingLine) : info(info), closingLine(closingLine) {
    if (info)
        info->incRef();
}

jsOpFunction::~jsOpFunction() {
    if (info)
        info->decRef();
    if (arena) {
        // The tree goes before the arena that holds it.
        delete takeChild();
        delete arena;
    }
}

bool jsOpFunction::isTopLevel() const { return !info || (info->flags & ScopeInfo::kScriptScope); }

void jsOpFunction::declareTopLevelNames(jsRunner& runner) const {
    if (!info || info->symbols.getCount() == 0)
        return;
    // Parameters, then variables, each in their declared order.
    const i32 parameters = info->parameters;
    LxCore::SimpleArray ordered;
    ordered.setCount(parameters + info->variables);
    LxCore::SimpleArray keys;
    info->symbols.getKeys(keys);
    for (i32 i = 0; i < keys.getCount(); i++) {
        const DataPoolId name = DataPoolId(keys.get(i));
        const i32 slot = info->lookup(name);
        const i32 index = slot & ~ScopeInfo::kSlotTagMask;
        if ((slot & ScopeInfo::kSlotTagMask) == ScopeInfo::kParameterSlot)
            ordered.set(index, LxCore::SimpleArray::Value(name));
        else if ((slot & ScopeInfo::kSlotTagMask) == ScopeInfo::kVariableSlot)
            ordered.set(parameters + index, LxCore::SimpleArray::Value(name));
    }
    Workspace* scope = runner.getScope();
    const u32 attributes = scope->isGlobal() ? u32(kDontDelete) : 0;
    for (i32 i = 0; i < ordered.getCount(); i++) {
        const DataPoolId name = DataPoolId(ordered.get(i));
        if (name && !scope->findOwnProperty(name, kFindOwn))
            scope->createProperty(name, attributes);
    }
}

Status jsOpFunction::execute(jsRunner& runner, Variant& result) {
    if (!prologue(runner))
        return kStatusError;
    RealEngine& engine = *runner.engine;
    // Every body checks on entry, so that recursion without loops still
    // meets deadlines and halts.
    if (!engine.checkStatus())
        return kStatusError;
    const RunFlagsScope flags(engine, (info ? info->flags & kDirectiveFlags : 0) | engine.getDebugFlags());
    if (!info || (info->flags & ScopeInfo::kScriptScope))     // isTopLevel, without a call on every body
        declareTopLevelNames(runner);
    const Status status = child ? child->execute(runner, result) : kStatusOK;
    // A break or continue that named nothing inside the body ends here.
    runner.setCompletion(jsRunner::kNoCompletion, nullptr);
    if (status == kStatusError || closingLine == -1)
        return status;
    if (runner.line != closingLine && !lineHook(this, runner, scriptId, closingLine))
        return kStatusError;
    return status;
}

jsOpStatement* jsOpFunction::findStatement(i32 wanted) {
    if (wanted >= 0 && wanted == closingLine)
        return this;
    return jsOpStatement::findStatement(wanted);
}

void jsOpFunction::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    LxCore::SimpleArray keys;
    if (info)
        info->symbols.getKeys(keys);
    writer.writeInteger(keys.getCount());
    for (i32 i = 0; i < keys.getCount(); i++) {
        const DataPoolId name = DataPoolId(keys.get(i));
        writer.writeSymbol(name);
        writer.writeInteger(info->lookup(name));
    }
    writer.writeInteger(info ? info->parameters : 0);
    writer.writeInteger(info ? info->variables : 0);
    writer.writeInteger(info ? info->constants : 0);
    writer.writeSymbol(info ? info->name : 0);
    writer.writeInt16(i32(info ? info->flags >> 16 : 0));
    writer.writeInteger(closingLine);
}

// ---------------------------------------------------------------------------
// Function expressions

jsOpFunctionDecl::jsOpFunctionDecl(jsOpFunction* body)
    : body(body), name(body && body->getScopeInfo() ? body->getScopeInfo()->name : 0) {}

jsOpFunctionDecl::~jsOpFunctionDecl() { delete body; }

Status jsOpFunctionDecl::execute(jsRunner& runner, Variant& result) {
    const ObjectRef made = ObjectRef::adopt(
        new jsFunction(*runner.engine, runner.function->getScript(), body, runner.getScope(), false));
    result.setObject(made.get());
    return runner.status();
}

void jsOpFunctionDecl::appendSource(String& out) const {
    out += "function";
    if (name) {
        out += ' ';
        out += pool().getSymbol(name);
    }
    out += "(){}";
}

jsOpStatement* jsOpFunctionDecl::findStatement(i32 wanted) {
    if (wanted >= 0 && wanted == line)
        return this;
    return body ? body->findStatement(wanted) : nullptr;
}

void jsOpFunctionDecl::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(body);
}

}  // namespace LxScript
