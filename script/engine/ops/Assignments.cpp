// Assignments, const declarations, increments and decrements.
#include "script/engine/ops/Assignments.h"

#include <utility>


#include "core/ErrorCodes.h"
#include "script/engine/ops/Operators.h"

#include "script/engine/CompiledScript.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Workspace.h"

namespace LxScript {

using LxCore::f64;
using LxCore::String;
namespace Err = LxCore::Err;

namespace {

DataPool& pool() { return DataPool::get(); }

Variant* copyOf(const Variant* constant) { return constant ? new Variant(*constant) : nullptr; }

// "=" after the compound operator's own text; the value without its
// missing left side.
void appendOperator(String& out, bool compound, const jsOpcode* value) {
    if (const auto* binary = compound ? kindCast<jsOpBinary>(value) : nullptr)
        out += operatorText(binary->getOperator());
    out += '=';
}

void appendValue(String& out, const jsOpcode* value, const Variant* constant) {
    if (constant)
        appendConstant(out, *constant);
    else if (value)
        value->appendSource(out);
}

// Attributes under which a store does more than replace the slot's value.
constexpr u32 kStoresOtherwise = kReadOnly | kWatched | kWatchpoint | kReResolve | kRemoved;

// value, when it is a sum that goes back into the variable it starts from:
// every compound +=, and name = name + x. Only an optimisation: the sum
// lets go of the variable's text only when the store replaces it anyway.
jsOpBinary* appendOf(jsOpcode* value, bool compound, DataPoolId symbol) {
    auto* sum = kindCast<jsOpBinary>(value);
    if (!sum || sum->getOperator() != kOpAdd)
        return nullptr;
    if (compound)
        return sum;
    const jsOpcode* left = sum->getLeft();
    if (!left || !(left->is(OpKind::kLocal) || left->is(OpKind::kName)))
        return nullptr;
    const auto* name = static_cast<const jsOpVariable*>(left);
    return name->getSymbol() == symbol && !name->isAttribute() ? sum : nullptr;
}

// The value a store through reference simply replaces: an own, writable
// slot that nothing watches, plain or aliasing a local of an activation
// (a closure's variable, an argument). Null otherwise.
Variant* plainVariable(const Reference& reference) {
    Property* property = reference.property;
    Object* holder = reference.object;
    if (!property || !holder || property->getOwner() != holder ||
        (property->getAttributes() & kStoresOtherwise) || holder->getPutThrough())
        return nullptr;
    switch (property->getKind()) {
        case Property::kPlain:
            return &property->cachedValue();
        case Property::kRef:
            return property->get(holder, 0);    // the local its write replaces
        default:
            return nullptr;
    }
}

String* textOf(Variant* variable) { return variable ? variable->stringText() : nullptr; }

// The target as an index, for the element fast paths.
jsOpIndex* indexOf(jsOpVariable* target) {
    return kindCast<jsOpIndex>(target);
}

// A local slot of the running function.
class SlotTarget final : public AppendTarget {
public:
    explicit SlotTarget(i32 slot) : slot(slot) {}
    String* text(jsRunner& runner) override { return textOf(runner.slot(slot)); }

private:
    i32 slot;
};

// A name resolved after its value, as name = name + x stores.
class NameTarget final : public AppendTarget {
public:
    explicit NameTarget(jsOpVariable& name) : name(name) {}
    String* text(jsRunner& runner) override {
        Reference reference;
        if (name.getReference(runner, reference, kRefQuiet) != kStatusOK)
            return nullptr;
        return textOf(plainVariable(reference));
    }

private:
    jsOpVariable& name;
};

// A property target's reference holds the slot the object's own read would
// find by name, the lookup just made: its value is read from it, with no
// second lookup. A name's reference (the scope's) reads by name.
void readTarget(const jsOpVariable& target, const Reference& reference, Variant& result) {
    Object* holder = reference.object;
    Property* slot = reference.property;
    if (!holder) {
        result.clear();
        return;
    }
    if (!slot || !target.is(OpKind::kProperty)) {
        holder->get(reference.symbol, result, 0);
        return;
    }
    readSlot(*slot, holder, result);
}

}  // namespace

String* ReferenceTarget::text(jsRunner&) { return textOf(plainVariable(reference)); }

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
    : target(target),
      source(Operand::decide(value, copyOf(constant))),
      compound(compound),
      append(target && !target->isAttribute() && (compound || target->is(OpKind::kName))
                 ? appendOf(value, compound, target->getSymbol())
                 : nullptr),
      element(indexOf(target)) {}

jsOpAssign::~jsOpAssign() {
    delete target;
    delete source.getOperation();
    delete source.getConstant();
}

Status jsOpAssign::execute(jsRunner& runner, Variant& result) {
    if (!target) {
        result.clear();
        runner.engine->setError(Err::kCannotAssign);
        return runner.status();
    }
    Reference reference;
    if (compound) {
        jsOpcode* value = source.getOperation();
        if (element && value)
            return element->assignCompound(runner, *value, append, result);
        if (const Status status = target->getReference(runner, reference, kRefQuiet))
            return status;
        readTarget(*target, reference, result);
        if (runner.errorPending())
            return runner.status();
        ReferenceTarget into(reference);
        if (const Status status = append ? append->executeAppending(runner, result, into)
                                         : value->execute(runner, result))
            return status;
    } else {
        // The value comes before the target's object and index: in
        // o[i] = f(), f runs before o and i are evaluated.
        NameTarget into(*target);
        if (const Status status = append ? append->executeAppending(runner, result, into)
                                         : source.read(runner, result))
            return status;
        if (element)
            return element->assign(runner, result);
        return target->assign(runner, result);
    }
    assignReference(reference, result);
    return runner.status();
}

void jsOpAssign::appendSource(String& out) const {
    if (target)
        target->appendSource(out);
    appendOperator(out, compound, source.getOperation());
    appendValue(out, source.getOperation(), source.getConstant());
}

void jsOpAssign::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeNode(target);
    writer.writeNode(source.getOperation());
    writer.writeConstant(source.getConstant());
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
      discardResult(discardResult),
      append(appendOf(value, compound, symbol)) {}

jsOpLocalAssign::~jsOpLocalAssign() {
    delete value;
    delete constant;
}

Status jsOpLocalAssign::computeValue(jsRunner& runner, Variant& result, AppendTarget* target) {
    if (constant && !compound) {
        result = *constant;
        return kStatusOK;
    }
    if (append && target)
        return append->executeAppending(runner, result, *target);
    return value->execute(runner, result);
}

// A slot of the frame's block takes the value without a Reference on the
// stack; a discarded result is moved in, so an object changes holders
// without a count going up and down again.
Status jsOpLocalAssign::execute(jsRunner& runner, Variant& result) {
    if (u32(slot) >= runner.getSlotCount())
        return assignOutsideFrame(runner, result);
    Variant& local = runner.frameSlot(u32(slot));
    if (compound)
        result = local;
    SlotTarget into(slot);
    if (const Status status = computeValue(runner, result, &into))
        return status;
    if (!discardResult) {
        local = result;
        return kStatusOK;
    }
    local = std::move(result);
    if (result.getType() != Variant::kUndefined)
        result.clear();
    return kStatusOK;
}

Status jsOpLocalAssign::assignOutsideFrame(jsRunner& runner, Variant& result) {
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
        ReferenceTarget into(reference);
        if (const Status status = computeValue(runner, result, &into))
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
        SlotTarget into(slot);
        if (const Status status = computeValue(runner, result, &into))
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
    : target(target), element(indexOf(target)), delta(delta), postfix(postfix) {}

jsOpIncDec::~jsOpIncDec() { delete target; }

Status jsOpIncDec::execute(jsRunner& runner, Variant& result) {
    if (!target) {
        runner.engine->setError(Err::kCannotAssign);
        result.clear();
        return runner.status();
    }
    Reference reference;
    bool done = false;
    if (const Status status = element ? element->step(runner, reference, delta, postfix, result, done)
                                      : target->getReference(runner, reference, 0))
        return status;
    if (done)
        return kStatusOK;
    if (!reference.property) {
        if (!reference.object ||
            (reference.object == runner.engine->getGlobal() && target->isPlainName()))
            runner.engine->setError(Err::kUndefined, pool().getSymbol(reference.symbol), -1, false);
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

// A number in a slot of the frame's block steps in place.
Status jsOpLocalIncDec::execute(jsRunner& runner, Variant& result) {
    if (u32(slot) < runner.getSlotCount()) {
        Variant& local = runner.frameSlot(u32(slot));
        if (local.getType() == Variant::kNumber) {
            const f64 x = local.toNumber();
            local.setNumber(x + delta);
            result.setNumber(postfix ? x : x + delta);
            return runner.status();
        }
    }
    return stepOutsideFrame(runner, result);
}

Status jsOpLocalIncDec::stepOutsideFrame(jsRunner& runner, Variant& result) {
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
