// An operand as decided when its operation is made: a constant, a local of
// the running frame read in its slot, or an operation that runs. Reading a
// constant or a local has no effect, so `peek` answers for them in place,
// without a copy; anything else runs through `read`.
#pragma once
#include "core/Types.h"
#include "core/Variant.h"
#include "script/engine/Runner.h"
#include "script/engine/ops/Opcode.h"

namespace LxScript {

class Object;

class Operand {
public:
    Operand() = default;

    // What op is to its operation: constant, when the operation keeps one
    // for it (op then null or unused), else a local's frame slot (none in a
    // tree built for the general paths), or op itself, run. The operand owns
    // nothing: the operation frees what it names.
    static Operand decide(jsOpcode* op, const Variant* constant);
    // The same, a constant operation's value taken as the constant.
    static Operand of(jsOpcode* op);

    // The value where it lies, for a constant or a local in range; null:
    // `read` must run the operation.
    [[gnu::always_inline]] const Variant* peek(jsRunner& runner) const {
        return constant ? constant : runner.frameSlotAt(slot);
    }

    // A local's value in its frame slot only, for sites where a constant
    // never stands (a constant index names its element at a property site).
    [[gnu::always_inline]] const Variant* peekLocal(jsRunner& runner) const { return runner.frameSlotAt(slot); }

    // The number in place (a constant or a local holding one), as peek.
    [[gnu::always_inline]] bool peekNumber(jsRunner& runner, LxCore::f64& number) const {
        const Variant* value = peek(runner);
        if (!value || value->getType() != Variant::kNumber)
            return false;
        number = value->toNumber();
        return true;
    }

    // The value into `into`: the constant copied, else the operation run
    // (an operand with neither leaves `into` as it is).
    [[gnu::always_inline]] Status read(jsRunner& runner, Variant& into) const {
        if (constant) {
            into = *constant;
            return kStatusOK;
        }
        return operation ? operation->execute(runner, into) : kStatusOK;
    }

    // The operation run, for sites that keep no constant for it and have
    // tried their local in place already (the operation is always there).
    [[gnu::always_inline]] Status run(jsRunner& runner, Variant& into) const {
        return operation->execute(runner, into);
    }

    // Whether peek may answer: a constant or a local with a slot.
    bool inPlace() const { return constant || slot >= 0; }
    const Variant* getConstant() const { return constant; }
    jsOpcode* getOperation() const { return operation; }
    i32 getSlot() const { return slot; }

private:
    jsOpcode* operation = nullptr;
    const Variant* constant = nullptr;
    i32 slot = -1;
};

}  // namespace LxScript
