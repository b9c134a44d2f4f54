// throw, try/catch/finally and with. A thrown value is no native exception:
// it becomes the engine's current error (54, the value attached), and every
// operation above returns the error status until a try statement takes the
// error over. Fatal errors (negative numbers) pass every try untouched.
#pragma once
#include <atomic>

#include "script/engine/ops/Operators.h"

namespace LxScript {

class jsOpThrow : public jsOpStatement {
public:
    explicit jsOpThrow(jsOpcode* value);
    ~jsOpThrow() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'f'; }

private:
    // Whether the throw lies in the block of a try statement of its own
    // function: that statement takes the error before any other statement
    // runs, so where it was thrown need only be read if it is read at all.
    bool insideTry();

    enum : u8 { kNotKnown, kInside, kOutside };
    jsOpcode* value;
    std::atomic<u8> tryAround{kNotKnown};      // found on the first run
};

// The child is the try block. Catch clauses are tried in order; a clause
// with a condition (catch (e if ...)) takes only what the condition accepts.
class jsOpTry : public jsOpStatement {
public:
    jsOpTry(jsOpStatement* block, jsOpStatement* finallyBlock);     // owned; either may be null
    ~jsOpTry() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'g'; }
    jsOpStatement* findStatement(i32 line) override;

    // condition null: the clause takes everything. Owns condition and body.
    void appendCatch(DataPoolId variable, jsOpcode* condition, jsOpStatement* body);

private:
    struct Clause : public LxCore::Root {
        DataPoolId variable;
        jsOpcode* condition;
        jsOpStatement* body;
    };

    // The exception value of the pending error; false when it is fatal.
    bool takeException(jsRunner& runner, Variant& exception);
    // Steps through the clauses; caught: a clause took the exception.
    Status runClauses(jsRunner& runner, const Variant& exception, Variant& result, bool& caught);
    Status runFinally(jsRunner& runner, Status status, Variant& result);

    jsOpStatement* finallyBlock;
    LxCore::TSimpleArray<Clause> clauses;
};

// The child is the body, run with the object in front of the scope chain.
class jsOpWith : public jsOpStatement {
public:
    jsOpWith(jsOpcode* object, jsOpStatement* body);
    ~jsOpWith() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'm'; }

private:
    jsOpcode* object;
};

// Raises error 54 for value (its error text as the message) and attaches a
// copy of it to the new record; returns the runner's status.
// whereLater: see Engine::setThrownError.
Status raiseException(jsRunner& runner, const Variant& value, bool whereLater = false);

}  // namespace LxScript
