// Operations that store: assignment to any reference, assignment to a name
// of the running activation (through its slot when it has one), const
// declarations, and ++/-- in their general and local forms. A compound
// assignment's value is a binary operation without a left side, which
// combines the target's current value, left in the result, with its right.
#pragma once
#include "script/engine/ops/Operators.h"
#include "script/engine/ops/References.h"

namespace LxScript {

// The slot a reference names, for a sum that goes back into it: its text
// when the store through the reference replaces the value and does nothing
// else (an own plain slot or an activation's local, nothing watching).
class ReferenceTarget final : public AppendTarget {
public:
    explicit ReferenceTarget(const Reference& reference) : reference(reference) {}
    LxCore::String* text(jsRunner& runner) override;

private:
    const Reference& reference;
};

// target = value, target op= value. Without a target (not a reference)
// it raises error 3.
class jsOpAssign : public jsOpcode {
public:
    // Owns target, value and constant; a plain assignment has a value
    // expression or a constant.
    jsOpAssign(jsOpVariable* target, jsOpcode* value, const Variant* constant, bool compound);
    ~jsOpAssign() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'B'; }

    jsOpVariable* getTarget() const { return target; }
    jsOpcode* getValue() const { return source.getOperation(); }
    const Variant* getConstant() const { return source.getConstant(); }
    bool isCompound() const { return compound; }

private:
    jsOpVariable* target;
    Operand source;         // the value expression or the constant, which this owns
    bool compound;
    jsOpBinary* append;     // value, when it is a sum that starts from the target's own value
    jsOpIndex* element;     // target, when it is an index
};

// name = value for a name of the running function: the slot when it has
// one, else the name resolved for writing. A declaration's initialiser
// discards its result (var x = 5 has no value).
class jsOpLocalAssign : public jsOpcode {
public:
    jsOpLocalAssign(i32 slot, DataPoolId symbol, jsOpcode* value, const Variant* constant,
                    bool compound, bool discardResult);
    ~jsOpLocalAssign() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'S'; }

    i32 getSlot() const { return slot; }
    DataPoolId getSymbol() const { return symbol; }
    jsOpcode* getValue() const { return value; }
    const Variant* getConstant() const { return constant; }
    bool isCompound() const { return compound; }
    bool discardsResult() const { return discardResult; }

protected:
    // The value into result: the constant, or the value expression (a sum
    // that starts from the name's value appends in place through target).
    Status computeValue(jsRunner& runner, Variant& result, AppendTarget* target = nullptr);
    // A name without a slot in the frame's block: by name, or through the
    // workspace.
    [[gnu::noinline]] Status assignOutsideFrame(jsRunner& runner, Variant& result);

    DataPoolId symbol;
    i32 slot;
    jsOpcode* value;
    Variant* constant;
    bool compound;
    bool discardResult;
    jsOpBinary* append;     // value, when it is a sum that starts from the name's own value
};

// const name = value: a second declaration of the name raises error 40.
class jsOpConstAssign : public jsOpLocalAssign {
public:
    jsOpConstAssign(i32 slot, DataPoolId symbol, jsOpcode* value, const Variant* constant,
                    bool discardResult);

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    char letter() const override { return 'G'; }
};

// ++target, target--, ... On a conversion error nothing is stored.
class jsOpIncDec : public jsOpcode {
public:
    jsOpIncDec(jsOpVariable* target, i32 delta, bool postfix);   // owns target
    ~jsOpIncDec() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'P'; }

private:
    jsOpVariable* target;
    jsOpIndex* element;     // target, when it is an index
    i32 delta;              // +1 or -1
    bool postfix;
};

// ++name for a name of the running function, through its slot when it has
// one. On a conversion error nothing is stored.
class jsOpLocalIncDec : public jsOpcode {
public:
    jsOpLocalIncDec(i32 slot, DataPoolId symbol, LxCore::f64 delta, bool postfix);

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'T'; }

private:
    // A name without a frame slot, or a value that is not a number.
    [[gnu::noinline]] Status stepOutsideFrame(jsRunner& runner, Variant& result);

    DataPoolId symbol;
    i32 slot;
    LxCore::f64 delta;
    bool postfix;
};

// The primitive value of value in place (an object's default value, hint
// 0 number, 1 string); false when that raised an error, value unchanged.
bool toPrimitiveInPlace(jsRunner& runner, Variant& value, LxCore::u8 hint = 0);

}  // namespace LxScript
