// Literals (array, object, regular expression), the root of every function
// body, and function expressions, which make a new function object each
// time they run.
#pragma once
#include "script/engine/ops/Operators.h"

namespace LxScript {

class ScopeInfo;

// [a, b, c]: a single number element is an element, not a length.
class jsOpArray : public jsOpcode {
public:
    explicit jsOpArray(jsOpList* elements);     // owned; null: []
    ~jsOpArray() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'A'; }

private:
    jsOpList* elements;
};

// {a: 1, b: 2}, or an object of another class with those properties. A
// repeated name keeps its last value.
class jsOpObject : public jsOpcode {
public:
    explicit jsOpObject(DataPoolId classSymbol);
    ~jsOpObject() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'W'; }

    void append(DataPoolId name, jsOpcode* value);  // owns value

private:
    Status create(jsRunner& runner, Variant& result);

    DataPoolId classSymbol;
    LxCore::SimpleArray names;
    LxCore::TSimpleArray<jsOpcode> values;
};

// /pattern/flags: a new RegExp object each time it runs.
class jsOpRegExp : public jsOpcode {
public:
    jsOpRegExp(const LxCore::String& pattern, const LxCore::String& flags);

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'Y'; }

private:
    LxCore::String pattern;
    LxCore::String flags;
};

// The root of a function body (and of a script): binds the activation's
// declared names for top-level code, runs with the code's own flags, and
// reports the closing line to the line hook. The child is the body's
// statement list.
class jsOpFunction : public jsOpStatement {
public:
    // info: the code record (counted); closingLine -1 for top-level code.
    jsOpFunction(ScopeInfo* info, i32 closingLine);
    ~jsOpFunction() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'M'; }
    jsOpFunction* asFunctionBody() override { return this; }
    jsOpStatement* findStatement(i32 line) override;

    ScopeInfo* getScopeInfo() const { return info; }
    i32 getClosingLine() const { return closingLine; }
    bool isTopLevel() const;

    // The root of a tree whose operations come from an arena owns it; the
    // root itself is on the core heap, since it outlives the arena.
    void adoptArena(OpArena* ownArena) { arena = ownArena; }
    OpArena* getArena() const { return arena; }

    // Lines that hold statements (the code generator fills it), and for the
    // root, the file ids of the included files.
    LxCore::SimpleArray lines;
    LxCore::SimpleArray fileIds;

private:
    // Top-level code keeps its parameters and variables as properties of
    // the activation object: made here when missing.
    void declareTopLevelNames(jsRunner& runner) const;

    ScopeInfo* info;
    i32 closingLine;
    OpArena* arena = nullptr;   // owned
};

// function name() {...} as an expression.
class jsOpFunctionDecl : public jsOpStatement {
public:
    explicit jsOpFunctionDecl(jsOpFunction* body);  // owned
    ~jsOpFunctionDecl() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'N'; }
    jsOpStatement* findStatement(i32 line) override;

    jsOpFunction* getBody() const { return body; }
    DataPoolId getName() const { return name; }

private:
    jsOpFunction* body;
    DataPoolId name;
};

class RealEngine;

// Fills a new array from values as an array literal: "length" first (the
// count), then each value, resolved by the engine, at its index. Each value
// is a unit of the engine's pollWork: a stop leaves the rest undefined, with
// the error pending.
void fillArrayElements(RealEngine& engine, Object& array, const LxCore::BasicArray& values);
// The same in the array's own engine.
void fillArrayLiteral(Object& array, const LxCore::BasicArray& values);

}  // namespace LxScript
