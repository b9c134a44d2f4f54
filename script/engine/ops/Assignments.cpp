// Assignments, const declarations, increments and decrements.
#include "script/engine/ops/Assignments.h"

#include "script/engine/ops/Operators.h"

#include "script/engine/CompiledScript.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Workspace.h"

namespace LxScript {

using LxCore::f64;
using LxCore::String;

namespace {

constexpr i32 kErrorUndefined = 2;
constexpr i32 kErrorCannotAssign = 3;

DataPool& pool() { return DataPool::get(); }

Variant* copyOf(const Variant* constant) { return constant ? new Variant(*constant) : nullptr; }

// "=" after the compound operator's own text; the value without its
// missing left side.
void appendOperator(String& out, bool compound, const jsOpcode* value) {
    if (compound && value && value->letter() == 'C')
        out += operatorText(static_cast<const jsOpBinary*>(value)->getOperator());
    out += '=';
}

void appendValue(String& out, const jsOpcode* value, const Variant* constant) {
    if (constant)
        appendConstant(out, *constant);
    else if (value)
        value->appendSource(out);
}

}  // namespace

bool toPrimitiveInPlace(jsRunner& runner, Variant& value, LxCore::u8 hint) {
    Object* object = objectOf(value);
    if (!object)
        return true;
    Variant primitive;
    if (!object->getDefaultValue(primitive, hint) || runner.errorPending())
        return false;
    value = primitive;
    return true;
}

// ---------------------------------------------------------------------------
// target = value

jsOpAssign::jsOpAssign(jsOpVariable* target, jsOpcode* value, const Variant* constant, bool compound)
    : target(target), value(value), constant(copyOf(constant)), compound(compound) {}

jsOpAssign::~jsOpAssign() {
    delete target;
    delete value;
    delete constant;
}

Status jsOpAssign::execute(jsRunner& runner, Variant& result) {
    if (!target) {
        result.clear();
        runner.engine->setError(kErrorCannotAssign);
        return runner.status();
    }
    Reference reference;
    if (compound) {
        if (const Status status = target->getReference(runner, reference, kRefQuiet))
            return status;
        if (reference.object)
            reference.object->get(reference.symbol, result, 0);
        else
            result.clear();
        if (runner.errorPending())
            return runner.status();
        if (const Status status = value->execute(runner, result))
            return status;
    } else {
        // The value comes before the target's object and index: in
        // o[i] = f(), f runs before o and i are evaluated.
        if (constant) {
            result = *constant;
        } else if (const Status status = value->execute(runner, result)) {
            return status;
        }
        if (const Status status = target->getReference(runner, reference, kRefQuiet))
            return status;
    }
    assignReference(reference, result);
    return runner.status();
}

void jsOpAssign::appendSource(String& out) const {
    if (target)
        target->appendSource(out);
    appendOperator(out, compound, value);
    appendValue(out, value, constant);
}

void jsOpAssign::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeNode(target);
    writer.writeNode(value);
    writer.writeConstant(constant);
    writer.writeBool(compound);
}

// ---------------------------------------------------------------------------
// name = value

jsOpLocalAssign::jsOpLocalAssign(i32 slot, DataPoolId symbol, jsOpcode* value, const Variant* constant,
                                 bool compound, bool discardResult)
    : symbol(symbol),
      slot(slot),
      value(value),
      constant(copyOf(constant)),
      compound(compound),
      discardResult(discardResult) {}

jsOpLocalAssign::~jsOpLocalAssign() {
    delete value;
    delete constant;
}

Status jsOpLocalAssign::computeValue(jsRunner& runner, Variant& result) {
    if (constant && !compound) {
        result = *constant;
        return kStatusOK;
    }
    return value->execute(runner, result);
}

Status jsOpLocalAssign::execute(jsRunner& runner, Variant& result) {
    if (slot < 0) {
        Reference reference;
        runner.getScope()->resolveForWrite(symbol, reference, kRefQuiet);
        if (runner.errorPending())
            return runner.status();
        if (compound) {
            const Variant* current =
                reference.property ? reference.property->get(reference.object, 0) : nullptr;
            if (current)
                result = *current;
            else
                result.clear();
        }
        if (const Status status = computeValue(runner, result))
            return status;
        assignReference(reference, result);
        if (const Status status = runner.status())
            return status;
    } else {
        Variant* local = runner.slot(slot);
        if (!local)
            return runner.status();
        if (compound)
            result = *local;
        if (const Status status = computeValue(runner, result))
            return status;
        *local = result;
    }
    if (discardResult && result.getType() != Variant::kUndefined)
        result.clear();
    return kStatusOK;
}

void jsOpLocalAssign::appendSource(String& out) const {
    out += pool().getSymbol(symbol);
    appendOperator(out, compound, value);
    appendValue(out, value, constant);
}

void jsOpLocalAssign::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeSymbol(symbol);
    writer.writeInteger(slot);
    writer.writeNode(value);
    writer.writeConstant(constant);
    writer.writeBool(compound);
    writer.writeBool(discardResult);
}

// ---------------------------------------------------------------------------
// const name = value

jsOpConstAssign::jsOpConstAssign(i32 slot, DataPoolId symbol, jsOpcode* value, const Variant* constant,
                                 bool discardResult)
    : jsOpLocalAssign(slot, symbol, value, constant, false, discardResult) {}

Status jsOpConstAssign::execute(jsRunner& runner, Variant& result) {
    if (const Status status = computeValue(runner, result))
        return status;
    runner.getScope()->declareConstant(symbol, slot, result);
    const Status status = runner.status();
    if (status == kStatusOK && discardResult)
        result.clear();
    return status;
}

void jsOpConstAssign::appendSource(String& out) const {
    out += "const ";
    jsOpLocalAssign::appendSource(out);
}

// ---------------------------------------------------------------------------
// ++ and --

namespace {

void appendStep(String& out, f64 delta) { out += delta > 0 ? "++" : "--"; }

}  // namespace

jsOpIncDec::jsOpIncDec(jsOpVariable* target, i32 delta, bool postfix)
    : target(target), delta(delta), postfix(postfix) {}

jsOpIncDec::~jsOpIncDec() { delete target; }

Status jsOpIncDec::execute(jsRunner& runner, Variant& result) {
    if (!target) {
        runner.engine->setError(kErrorCannotAssign);
        result.clear();
        return runner.status();
    }
    Reference reference;
    if (const Status status = target->getReference(runner, reference, 0))
        return status;
    if (!reference.property) {
        if (!reference.object ||
            (reference.object == runner.engine->getGlobal() && target->isPlainName()))
            runner.engine->setError(kErrorUndefined, pool().getSymbol(reference.symbol), -1, false);
        result.setNaN();
        return runner.status();
    }
    const Variant* current = reference.property->get(reference.object, 0);
    if (current)
        result = *current;
    else
        result.clear();
    // A conversion that raises stores nothing: the value stays.
    if (!toPrimitiveInPlace(runner, result))
        return runner.status();
    const f64 x = result.toNumber();
    result.setNumber(x + delta);
    if (!reference.property->isReadOnly())
        assignReference(reference, result);
    if (postfix)
        result.setNumber(x);
    return runner.status();
}

void jsOpIncDec::appendSource(String& out) const {
    if (!postfix)
        appendStep(out, delta);
    if (target)
        target->appendSource(out);
    else
        out += "[no lvalue]";
    if (postfix)
        appendStep(out, delta);
}

void jsOpIncDec::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeNode(target);
    writer.writeInt16(delta);
    writer.writeBool(postfix);
}

jsOpLocalIncDec::jsOpLocalIncDec(i32 slot, DataPoolId symbol, f64 delta, bool postfix)
    : symbol(symbol), slot(slot), delta(delta), postfix(postfix) {}

Status jsOpLocalIncDec::execute(jsRunner& runner, Variant& result) {
    f64 x;
    if (slot < 0) {
        Reference reference;
        runner.getScope()->resolveForWrite(symbol, reference, 0);
        if (runner.errorPending())
            return runner.status();
        const Variant* current =
            reference.property ? reference.property->get(reference.object, 0) : nullptr;
        if (current)
            result = *current;
        else
            result.clear();
        if (!toPrimitiveInPlace(runner, result))
            return runner.status();
        x = result.toNumber();
        result.setNumber(x + delta);
        assignReference(reference, result);
    } else {
        Variant* local = runner.slot(slot);
        if (!local)
            return runner.status();
        if (local->getType() == Variant::kNumber) {
            x = local->toNumber();
        } else {
            Variant primitive(*local);
            if (!toPrimitiveInPlace(runner, primitive))
                return runner.status();
            x = primitive.toNumber();
        }
        local->setNumber(x + delta);
    }
    result.setNumber(postfix ? x : x + delta);
    return runner.status();
}

void jsOpLocalIncDec::appendSource(String& out) const {
    if (!postfix)
        appendStep(out, delta);
    out += pool().getSymbol(symbol);
    if (postfix)
        appendStep(out, delta);
}

void jsOpLocalIncDec::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeSymbol(symbol);
    writer.writeInteger(slot);
    writer.writeNumber(delta);
    writer.writeBool(postfix);
}

}  // namespace LxScript
