// Statements that decide what runs next: statement lists with their
// hoisted function declarations, expression, return and debugger
// statements, if, the loops (do, while, for, the counting loop, for-in and
// for-each-in) and switch.
//
// A pending break or continue lives in the runner: after each child a
// breakable asks it whether the completion names this statement
// (jsRunner::takeCompletion). Loops make no heap allocation per pass.
#pragma once
#include "script/engine/ops/Operators.h"

namespace LxScript {

class jsOpFunction;
class jsOpFunctionDecl;

// { ... }: runs its statements in order; creates the functions declared in
// it before the first one runs.
class jsOpStatements : public jsOpBreakable {
public:
    jsOpStatements() = default;
    ~jsOpStatements() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'b'; }
    // A list takes only a break that names one of its labels.
    bool isBreakTarget(DataPoolId label, bool isBreak) const override;
    bool isLoop() const override { return false; }
    i32 declareFunctions(Script* script, Object* receiver, bool deletable) override;
    jsOpStatement* findStatement(i32 line) override;

    void appendStatement(jsOpStatement* statement);     // owned; becomes its parent
    void appendHoisted(jsOpFunction* body);             // owned
    void appendDeclaration(jsOpFunctionDecl* decl);     // not owned: lives in the tree below
    i32 getStatementCount() const { return statements.getCount(); }
    jsOpStatement* getStatement(i32 i) const { return statements.get(i); }
    i32 getHoistedCount() const { return hoisted.getCount(); }
    jsOpFunction* getHoisted(i32 i) const { return hoisted.get(i); }

private:
    // Before the first statement: the hoisted functions on the scope.
    void declareHoisted(jsRunner& runner);

    LxCore::TSimpleArray<jsOpStatement> statements;
    LxCore::TSimpleArray<jsOpFunction> hoisted;
    LxCore::TSimpleArray<jsOpFunctionDecl> declarations;
};

class jsOpExprStatement : public jsOpStatement {
public:
    explicit jsOpExprStatement(jsOpcode* expression);
    ~jsOpExprStatement() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'J'; }

    jsOpcode* getExpression() const { return expression; }

private:
    // On a new line with the line hook on: the hook, then the expression.
    [[gnu::noinline]] Status executeHooked(jsRunner& runner, Variant& result);

    jsOpcode* expression;
};

class jsOpReturn : public jsOpStatement {
public:
    explicit jsOpReturn(jsOpcode* value);       // null: return without a value
    ~jsOpReturn() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'Z'; }

private:
    jsOpcode* value;
};

class jsOpDebugger : public jsOpStatement {
public:
    Status execute(jsRunner& runner, Variant& result) override;
    char letter() const override { return 'H'; }
};

// The child is the then-branch.
class jsOpIf : public jsOpStatement {
public:
    jsOpIf(jsOpcode* condition, jsOpStatement* thenBranch, jsOpStatement* elseBranch);
    ~jsOpIf() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'O'; }
    // The then-branch, then the else-branch.
    jsOpStatement* findStatement(i32 line) override;

    const jsOpcode* getCondition() const { return condition; }
    const jsOpStatement* getElse() const { return elseBranch; }

private:
    jsOpcode* condition;
    jsOpStatement* elseBranch;
    bool conditionTests;        // see answersTest
};

// The loops keep their body as the child.
class jsOpDo : public jsOpBreakable {
public:
    // whileLine: the line of the closing while clause, -1 when not known.
    jsOpDo(jsOpcode* condition, jsOpStatement* body, i32 whileLine = -1);
    ~jsOpDo() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'I'; }
    const jsOpcode* getCondition() const { return condition; }

private:
    jsOpcode* condition;
    i32 whileLine;
    bool conditionTests;        // see answersTest
};

class jsOpWhile : public jsOpBreakable {
public:
    jsOpWhile(jsOpcode* condition, jsOpStatement* body);    // condition null: run until left
    ~jsOpWhile() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'l'; }
    const jsOpcode* getCondition() const { return condition; }

private:
    jsOpcode* condition;
    bool conditionTests;        // see answersTest
};

class jsOpFor : public jsOpBreakable {
public:
    jsOpFor(jsOpcode* init, jsOpcode* condition, jsOpcode* update, jsOpStatement* body);
    ~jsOpFor() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'K'; }

private:
    jsOpcode* init;
    jsOpcode* condition;
    jsOpcode* update;
    bool conditionTests;        // see answersTest
};

// The counting loop: a variable from a constant start by a constant step
// while it compares (< <= > >=) with a limit evaluated each pass. The body
// may change the variable; the next value is the changed one plus the step.
class jsOpSimpleFor : public jsOpBreakable {
public:
    // counter: the variable's reference operation, or null for a local slot.
    jsOpSimpleFor(jsOpcode* counter, i32 slot, LxCore::f64 start, jsOpcode* limit,
                  LxCore::f64 step, i32 compareOp, jsOpStatement* body);
    ~jsOpSimpleFor() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'a'; }

    const jsOpcode* getCounter() const { return counter; }
    const jsOpcode* getLimit() const { return limit.getOperation(); }
    LxCore::f64 getStart() const { return start; }
    LxCore::f64 getStep() const { return step; }
    i32 getSlot() const { return slot; }
    i32 getCompareOp() const { return compareOp; }

private:
    Status runWithSlot(jsRunner& runner, Variant& result);
    Status runWithReference(jsRunner& runner, Variant& result);
    // The comparison that keeps the loop going.
    bool goesOn(LxCore::f64 v, LxCore::f64 bound) const;
    // The limit's number into bound; scratch holds its value when it runs.
    Status evaluateLimit(jsRunner& runner, Variant& scratch, LxCore::f64& bound) const;

    jsOpcode* counter;
    jsOpVariable* counterReference;     // counter as a reference
    Operand limit;      // read in place when a constant or a local
    LxCore::f64 start;
    LxCore::f64 step;
    i32 slot;
    i32 compareOp;
};

// for (v in o) and for each (v in o). The names are taken once, before the
// first pass.
class jsOpForIn : public jsOpBreakable {
public:
    // target: the variable's reference operation, or null; then the local
    // slot (or -1) and the symbol name the variable.
    jsOpForIn(jsOpcode* target, i32 slot, DataPoolId symbol, jsOpcode* object, jsOpStatement* body,
              bool each);
    ~jsOpForIn() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'L'; }

private:
    // The loop variable = value; a non-zero status when the write failed.
    Status assign(jsRunner& runner, const Variant& value);
    Status overXML(jsRunner& runner, Variant& result, Object* holder);
    bool pass(jsRunner& runner, Variant& result, const Variant& value, Status& status);

    jsOpcode* target;
    jsOpVariable* targetReference;
    jsOpcode* object;
    DataPoolId symbol;
    i32 slot;
    bool each;
};

// The case groups are lists of case expressions (a null entry marks the
// default group); one body per group, may be null. No child.
class jsOpSwitch : public jsOpBreakable {
public:
    explicit jsOpSwitch(jsOpcode* discriminant);
    ~jsOpSwitch() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'c'; }
    bool isLoop() const override { return false; }
    jsOpStatement* findStatement(i32 line) override;

    void appendCase(jsOpList* group, jsOpStatement* body);     // both owned

private:
    // The index of the group that matches, -1 for none; a non-zero status
    // when a case expression or a method failed.
    Status select(jsRunner& runner, const Variant& value, i32& chosen);

    jsOpcode* discriminant;
    LxCore::TSimpleArray<jsOpList> groups;
    LxCore::TSimpleArray<jsOpStatement> bodies;
};

}  // namespace LxScript
