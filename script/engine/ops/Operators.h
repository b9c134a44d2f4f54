// Expression operations that compute a value without storing it: constants,
// the binary operators with their overloading through operator methods,
// && and ||, the unary operators (typeof and delete of references too),
// void, ?: and the list, which is also the argument and element list of
// calls and literals.
//
// Operators are named by their data-pool ids (1..48) everywhere: in the
// tree, the compiled text and the names of operator methods.
#pragma once
#include "script/engine/access/Operand.h"
#include "script/engine/ops/Opcode.h"

namespace LxCore {
class BasicArray;
}  // namespace LxCore

namespace LxScript {

class TVVariantArray;

// The place a sum goes back into (s += x, s = s + x, o.p += x, a[i] += x),
// asked once the right side has run so that it sees what that side did.
class AppendTarget {
public:
    // The text the place holds, when the store will only replace it: a
    // variable's, a property's or an element's own. Null when it holds no
    // text or the store does more (read-only, watched, a setter, inherited...).
    virtual LxCore::String* text(jsRunner& runner) = 0;

protected:
    ~AppendTarget() = default;
};

// A constant value. Kind 4 makes it a number, kinds 5 and 6 a string (the
// parse-tree kinds of number and string literals).
class jsOpConstant : public jsOpcode {
public:
    explicit jsOpConstant(const Variant& value, i32 kind = 0);
    // The data pool's value of a constant id.
    explicit jsOpConstant(DataPoolId poolConstant);

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    bool isConstant() const override { return true; }
    char letter() const override { return 'F'; }

    const Variant& getValue() const { return value; }
    // A constant as a parse-tree kind asks for it.
    static void convertForKind(Variant& value, i32 kind);

private:
    Variant value;
};

// left op right. Either side is an operation or a constant; a left side
// with neither is the value already in the result (compound assignment).
class jsOpBinary : public jsOpcode {
public:
    jsOpBinary(i32 op, jsOpcode* left, jsOpcode* right);
    jsOpBinary(i32 op, const Variant& leftConstant, i32 kind, jsOpcode* right);
    jsOpBinary(i32 op, jsOpcode* left, const Variant& rightConstant, i32 kind);
    // Every field at once (the compiled-script reader); the operator id as
    // stored, older files' codes included.
    jsOpBinary(i32 op, jsOpcode* left, jsOpcode* right, const Variant* leftConstant,
               const Variant* rightConstant);
    ~jsOpBinary() override;

    Status execute(jsRunner& runner, Variant& result) override;
    Truth test(jsRunner& runner) override;
    // The same, for a sum that goes back into target's variable: when that
    // variable and the left value share a text, the variable lets go of it
    // so that the text grows in place instead of being copied.
    Status executeAppending(jsRunner& runner, Variant& result, AppendTarget& target);
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'C'; }
    static constexpr OpKind kKind = OpKind::kBinary;
    OpKind kind() const override { return kKind; }

    i32 getOperator() const { return op; }
    i32 getOverloadId() const { return overloadId; }
    bool isNegated() const { return negate; }
    const jsOpcode* getLeft() const { return lhs.getOperation(); }
    const jsOpcode* getRight() const { return rhs.getOperation(); }
    const Variant* getLeftConstant() const { return lhs.getConstant(); }
    const Variant* getRightConstant() const { return rhs.getConstant(); }
    const Operand& getLeftOperand() const { return lhs; }
    const Operand& getRightOperand() const { return rhs; }
    // Older files store "in" and "instanceof" as their reserved words.
    static i32 mapStoredOperator(i32 op);

protected:
    // The left value into result: the constant, the operation's value, or
    // what result holds already.
    [[gnu::always_inline]] inline Status evaluateLeft(jsRunner& runner, Variant& result) const;
    // The right value: the constant, or temp with the operation's value.
    [[gnu::always_inline]] inline Status evaluateRight(jsRunner& runner, Variant& temp,
                                                       const Variant*& value) const;
    void appendSide(LxCore::String& out, const jsOpcode* side, const Variant* constant) const;

    // The sides, each an operation or a constant this operation owns, read
    // in place where that has no effect.
    Operand lhs;
    Operand rhs;
    u16 op = 0;
    u16 overloadId = 0;
    bool overloadable = false;
    bool toPrimitive = false;
    bool negate = false;
    bool numeric = false;       // an operator ConstantOps::applyToNumbers computes
    bool bothInPlace = false;   // numeric or an equality, and each side a constant or a local with a slot
    bool equality = false;      // == != === !==

private:
    void setOperator(i32 id);
    void finishMaking(i32 id, jsOpcode* left, const Variant* lc, i32 leftKind, jsOpcode* right,
                      const Variant* rc, i32 rightKind);
    static Operand sideOf(jsOpcode* operation, const Variant* constant, i32 kind);
    void dropOperands();
    // Both numbers in place: result set, true; else nothing done.
    [[gnu::always_inline]] inline bool numbersInPlace(jsRunner& runner, Variant& result) const;
    // An equality of two sides read in place that no operator method can
    // answer and no conversion takes part in; else run.
    [[gnu::noinline]] Status compareInPlace(jsRunner& runner, Variant& result);
    // Out of line behind the in-place case, which then needs no frame; a
    // recursion through an operand pays one frame per level.
    [[gnu::noinline]] Status run(jsRunner& runner, Variant& result, AppendTarget* target);
    // The right side and the slow cases, apart from run so that a recursion
    // through the left operand keeps only run's small frame on the stack.
    [[gnu::noinline]] Status withRight(jsRunner& runner, Variant& result, AppendTarget* target);
    // withRight for the equalities.
    [[gnu::noinline]] Status compareOperands(jsRunner& runner, Variant& result);
    // The operands once either is an object: operator methods, then combine.
    // Out of line: its frame is large and only objects need it.
    [[gnu::noinline]] Status objectOperands(jsRunner& runner, Variant& result, const Variant& rightValue,
                                            Object* leftObject, Property* method);
    // The found method's answer, else (when it has none) combine.
    Status methodOrCombine(jsRunner& runner, Variant& result, const Variant& rightValue, Object* holder,
                           Property* method, bool reversed);
    Status combine(jsRunner& runner, Variant& result, const Variant& rightValue);
};

// && and ||: the right side runs only when the left one does not decide.
class jsOpLogAndOr : public jsOpBinary {
public:
    using jsOpBinary::jsOpBinary;

    Status execute(jsRunner& runner, Variant& result) override;
    Truth test(jsRunner& runner) override;
    char letter() const override { return 'U'; }
    static constexpr OpKind kKind = OpKind::kLogical;
    OpKind kind() const override { return kKind; }
};

// ~ ! + - of a value; typeof and void of a value; delete of a value that is
// not a reference (the value is computed, the result is false).
class jsOpUnary : public jsOpcode {
public:
    // The operator id as stored; older files' codes are mapped.
    jsOpUnary(i32 op, jsOpcode* operand);
    ~jsOpUnary() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'h'; }

    i32 getOperator() const { return op; }
    bool isOverloadable() const { return overloadable; }
    const jsOpcode* getOperand() const { return operand; }
    // Older files store 15/16 for unary + and -, and the reserved words of
    // delete, typeof and void.
    static i32 mapStoredOperator(i32 op);

protected:
    jsOpcode* operand;
    u8 op;
    bool overloadable;
};

// typeof and delete of a reference: an undeclared name has typeof
// "undefined", without an error.
class jsOpUnaryRef : public jsOpUnary {
public:
    jsOpUnaryRef(i32 op, jsOpcode* reference);

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    char letter() const override { return 'i'; }
};

class jsOpVoid : public jsOpcode {
public:
    explicit jsOpVoid(jsOpcode* operand);
    ~jsOpVoid() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'k'; }

private:
    jsOpcode* operand;
};

// condition ? then : else
class jsOpTernary : public jsOpcode {
public:
    jsOpTernary(jsOpcode* condition, jsOpcode* thenValue, jsOpcode* elseValue);
    ~jsOpTernary() override;

    Status execute(jsRunner& runner, Variant& result) override;
    Truth test(jsRunner& runner) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'd'; }
    static constexpr OpKind kKind = OpKind::kConditional;
    OpKind kind() const override { return kKind; }

private:
    jsOpcode* condition;
    jsOpcode* thenValue;
    jsOpcode* elseValue;
    bool conditionTests;        // see answersTest
};

// A comma expression, or the entries of an argument, element or case list.
// Entries may be null (a hole, or default in a case list).
class jsOpList : public jsOpcode {
public:
    explicit jsOpList(bool comma);
    ~jsOpList() override;

    // The comma expression: every entry in order into result.
    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'R'; }
    static constexpr OpKind kKind = OpKind::kList;
    OpKind kind() const override { return kKind; }

    void append(jsOpcode* entry);       // owned, even when growth throws; may be null
    i32 length() const { return entries.getCount(); }
    jsOpcode* get(i32 index) const { return entries.get(index); }
    bool isComma() const { return comma; }

    // Each entry into the matching element of values (as many as entries);
    // a null entry leaves its element undefined. The first non-zero status
    // ends it.
    Status evaluateInto(jsRunner& runner, Variant* values) const;
    Status evaluateInto(jsRunner& runner, TVVariantArray& values) const;

private:
    LxCore::TSimpleArray<jsOpcode> entries;
    bool comma;
};

// Helpers the other operations share.

// Deletes the operations a list owns.
template <class T>
void deleteEntries(const LxCore::TSimpleArray<T>& list) {
    for (i32 i = 0; i < list.getCount(); i++)
        delete list.get(i);
}

// Holds an operation handed to a builder until its list has taken it: when
// growth throws, the operation is deleted instead of lost.
template <class T>
class Handover {
public:
    explicit Handover(T* item) : item(item) {}
    ~Handover() { delete item; }
    Handover(const Handover&) = delete;
    Handover& operator=(const Handover&) = delete;
    void taken() { item = nullptr; }

private:
    T* item;
};

// Adds an owned operation to a list; deleted when growth throws.
template <class T>
void addOwned(LxCore::TSimpleArray<T>& list, T* item) {
    Handover<T> hold(item);
    list.add(item);
    hold.taken();
}

// Whether a condition's test answers without making its value (&& and ||,
// ?:, an operator of number constants and locals); else execute and convert.
bool answersTest(const jsOpcode* condition);
// The operator's text ("+", "typeof", ...); empty for an unknown id.
const char* operatorText(i32 op);
// A constant's source form: a string in double quotes, else its text.
void appendConstant(LxCore::String& out, const Variant& value);
// An object operand's primitive value in place, the string hint for a Date
// when stringHintForDate; false when that raised an error.
bool operandToPrimitive(jsRunner& runner, Variant& value, bool stringHintForDate);
// Calls the operator method found in `holder` (its value must be callable):
// this = holder, arguments = the given ones. False when the method's value
// is not callable.
bool callOperatorMethod(jsRunner& runner, Object* holder, Property* method,
                        const LxCore::BasicArray& args, Variant& result);

}  // namespace LxScript
