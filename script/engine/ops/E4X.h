// The E4X operations: XML literals, qualified names (ns::name, @ns::name,
// *::name), descendants (x..name), filtering predicates (x.(condition)) and
// typeof and delete of XML references. They reach XML data only through
// the E4X objects.
#pragma once
#include "core/SimpleArray.h"
#include "script/engine/ops/Operators.h"
#include "script/engine/ops/References.h"

namespace LxScript {

// An XML literal: parts and their kinds (0 markup, 1 an expression inside a
// tag, 2 an attribute value, 3 element content).
class jsOpXMLConstant : public jsOpcode {
public:
    jsOpXMLConstant() = default;
    ~jsOpXMLConstant() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'o'; }

    // Takes the part even when growing the arrays fails.
    void append(jsOpcode* part, i32 kind);
    i32 length() const { return parts.getCount(); }
    i32 kindAt(i32 i) const { return i32(kinds.get(i)); }

private:
    LxCore::TSimpleArray<jsOpcode> parts;      // owned
    LxCore::SimpleArray kinds;
};

// ns::name on an object (or along the scope chain without one). The symbol
// is the namespace's variable name: 12 ("*") any namespace, 0 when the
// namespace expression gives it.
class jsOpXMLQualifiedName : public jsOpVariable {
public:
    // Each pointer owned; any may be null. localSymbol 0: the expression
    // gives the local name.
    jsOpXMLQualifiedName(jsOpcode* object, DataPoolId nsSymbol, jsOpVariable* nsExpression,
                         jsOpcode* localExpression, DataPoolId localSymbol, bool attribute);
    ~jsOpXMLQualifiedName() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'p'; }
    OpKind kind() const override { return OpKind::kOther; }
    Status getReference(jsRunner& runner, Reference& reference, u32 flags) override;
    Status evaluateQuietly(jsRunner& runner, Variant& result) override;
    bool isPlainName() const override { return false; }

private:
    jsOpcode* object;
    jsOpVariable* nsExpression;
    jsOpcode* localExpression;
    DataPoolId localSymbol;

    Status read(jsRunner& runner, Variant& result, u32 flags);
};

// x..name: by a qualified-name reference, a name expression, or the symbol.
class jsOpXMLDescendants : public jsOpVariable {
public:
    // The symbol is ".." when a reference or an expression gives the name.
    jsOpXMLDescendants(jsOpcode* object, jsOpVariable* nameReference, jsOpcode* nameExpression,
                       DataPoolId symbol, bool attribute);
    ~jsOpXMLDescendants() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'q'; }
    static constexpr OpKind kKind = OpKind::kXMLDescendants;
    OpKind kind() const override { return kKind; }
    Status getReference(jsRunner& runner, Reference& reference, u32 flags) override;
    Status evaluateQuietly(jsRunner& runner, Variant& result) override { return execute(runner, result); }
    bool isPlainName() const override { return false; }

private:
    jsOpcode* object;
    jsOpVariable* nameReference;
    jsOpcode* nameExpression;
};

// x.(condition): the items for which the condition, run with the item as a
// with-scope, is true.
class jsOpXMLPredicate : public jsOpVariable {
public:
    jsOpXMLPredicate(jsOpcode* object, jsOpcode* predicate);
    ~jsOpXMLPredicate() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'r'; }
    static constexpr OpKind kKind = OpKind::kXMLPredicate;
    OpKind kind() const override { return kKind; }
    Status getReference(jsRunner& runner, Reference& reference, u32 flags) override;
    Status evaluateQuietly(jsRunner& runner, Variant& result) override { return execute(runner, result); }
    bool isPlainName() const override { return false; }

private:
    jsOpcode* object;
    jsOpcode* predicate;
};

// typeof and delete of a predicate, descendants or literal.
class jsOpXMLUnaryRef : public jsOpUnary {
public:
    jsOpXMLUnaryRef(i32 op, jsOpcode* operand) : jsOpUnary(op, operand) {}

    Status execute(jsRunner& runner, Variant& result) override;
    char letter() const override { return 's'; }
};

}  // namespace LxScript
