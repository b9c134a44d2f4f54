// Constants, binary and unary operators with operator methods, && and ||,
// void, ?: and lists. Primitive operands go through ConstantOps, the same
// code constant folding uses, so compile time and run time agree.
#include "script/engine/ops/Operators.h"

#include "core/ErrorCodes.h"
#include "script/engine/Arguments.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Function.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/ops/Assignments.h"
#include "script/engine/ops/References.h"
#include "script/frontend/ConstantOps.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

// Operator texts by id; the binary "+" and "-" (15, 16) share their text
// with the unary ones (10, 11).
const char* const kOperatorTexts[] = {
    "",       "typeof", "delete", "void", "++",  "--",  "++",  "--",  "~",   "!",
    "+",      "-",      "*",      "/",    "%",   "+",   "-",   "<<",  ">>",  ">>>",
    "<",      "<=",     ">",      ">=",   "in",  "instanceof", "==", "!=", "===", "!==",
    "&",      "|",      "^",      "&&",   "||",  "?",   ",",   "*=",  "/=",  "%=",
    "+=",     "-=",     "<<=",    ">>=",  ">>>=", "=",  "&=",  "|=",  "^=",
};

Variant* copyOf(const Variant* value) { return value ? new Variant(*value) : nullptr; }

// The operators whose method another one's stands in for, and whose result
// is then negated: a > b is !(a <= b), a != b is !(a == b).
struct Overload {
    u16 op;
    u16 via;
};
constexpr Overload kNegatedOverloads[] = {
    {kOpGreater, kOpLessEqual},
    {kOpGreaterEqual, kOpLess},
    {kOpNotEqual, kOpEqual},
    {kOpStrictNotEqual, kOpStrictEqual},
};

// "in": whether the object (or its prototypes) has the name. An E4X object
// answers through its own hasOwnProperty.
Status applyIn(jsRunner& runner, Variant& result, const Variant& right) {
    Object* object = objectOf(right);
    if (!object) {
        const String text = right.toString();
        runner.setError(Err::kNotAnObject, &text);
        result.setBool(false);
        return runner.status();
    }
    const DataPoolId classId = object->getClassID();
    if ((classId == Sym::kXML || classId == Sym::kXMLList) && object->getLiveObject()) {
        Variant method;
        object->get(DataPool::get().add("hasOwnProperty"), method, kFindCallable);
        Object* function = objectOf(method);
        TVVariantArray args(1);
        args.at(0) = result;
        Variant answer;
        if (function)
            function->call(object, args, answer);
        result.setBool(answer.toBoolean());
        return runner.status();
    }
    const DataPoolId symbol = DataPool::get().add(result);
    result.setBool(object->findProperty(symbol, 0) != nullptr);
    return runner.status();
}

// "instanceof": whether the right side's prototype lies on the left
// object's chain. Objects of a live class match by name. The chain is
// finite: prototype cycles are refused where they are made.
bool isInstance(const Variant& left, const Variant& right) {
    Object* object = objectOf(left);
    Object* constructor = objectOf(right);
    if (!object || !constructor)
        return false;
    Variant protoValue;
    constructor->get(Sym::kPrototype, protoValue, 0);
    Object* proto = objectOf(protoValue);
    if (!proto)
        return false;
    if (object->getLiveObject() && object->getNameID() == constructor->getNameID())
        return true;
    for (Object* o = object->getPrototype(); o; o = o->getPrototype())
        if (o == proto)
            return true;
    return false;
}

// An object operand that offers operator methods: the method for id, or
// null.
[[gnu::always_inline]] inline Property* findMethod(jsRunner& runner, Object* object, i32 id) {
    if (!object || runner.errorPending() || !object->offersOperators())
        return nullptr;
    return object->findOperator(id);
}

bool isNullish(u32 type) { return type == Variant::kUndefined || type == Variant::kNull; }

// Whether an equality of these operands is decided without converting
// either: the same type (identity for objects), a strict one, or a loose
// one with undefined or null on a side. Then equalityOf answers it as
// combine would.
bool decidedAlone(i32 op, const Variant& x, const Variant& y) {
    return x.getType() == y.getType() || op == kOpStrictEqual || op == kOpStrictNotEqual ||
           isNullish(x.getType()) || isNullish(y.getType());
}

bool equalityOf(i32 op, const Variant& x, const Variant& y) {
    bool same;
    if (x.getType() != y.getType())
        same = (op == kOpEqual || op == kOpNotEqual) && isNullish(x.getType()) && isNullish(y.getType());
    else if (x.getType() == Variant::kScriptObject)
        same = x.getObject() && x.getObject() == y.getObject();
    else
        same = looseEquals(x, y);
    return same != (op == kOpNotEqual || op == kOpStrictNotEqual);
}

// An object side whose chain is remembered as offering no operator method,
// or a side that is no object.
bool offersNoMethod(const Variant& value) {
    Object* object = objectOf(value);
    return !object || object->remembersNoOperators();
}

// result += right's text where result's text is also held by the place the
// sum replaces anyway: the place lets go of the text first, so that the
// append is the only holder and grows the buffer in place (by doubling)
// rather than copying it. The place gets the sum at once, and its old text
// back when the append fails. False, nothing done, when it does not apply.
bool appendInPlace(Variant& result, const Variant& right, String* held) {
    String* sum = held ? result.stringText() : nullptr;
    if (!sum || !sum->sharesBufferWith(*held))
        return false;
    String text = *sum;
    const String tail = right.toString();
    held->clear();
    sum->clear();
    try {
        text += tail;
    } catch (...) {
        *held = text;
        *sum = text;
        throw;
    }
    *held = text;
    *sum = text;
    return true;
}

}  // namespace

const char* operatorText(i32 op) {
    return op > 0 && op < i32(sizeof kOperatorTexts / sizeof *kOperatorTexts) ? kOperatorTexts[op] : "";
}

bool operandToPrimitive(jsRunner& runner, Variant& value, bool stringHintForDate) {
    Object* object = objectOf(value);
    if (!object)
        return true;
    const u8 hint = stringHintForDate && object->getClassID() == Sym::kDate ? 1 : 0;
    return toPrimitiveInPlace(runner, value, hint);
}

bool callOperatorMethod(jsRunner& runner, Object* holder, Property* method,
                        const LxCore::BasicArray& args, Variant& result) {
    const Variant* value = method->get(holder, kFindCallable);
    Object* function = value ? objectOf(*value) : nullptr;
    if (!function || !function->asFunction())
        return false;
    ObjectRef hold(function);
    result.clear();
    function->call(holder, args, result);
    return true;
}

// ---------------------------------------------------------------------------
// Constants

void jsOpConstant::convertForKind(Variant& value, i32 kind) {
    if (kind == 4 && value.getType() != Variant::kNumber)
        value.setNumber(value.toNumber());
    else if ((kind == 5 || kind == 6) && value.getType() != Variant::kString)
        value.setString(value.toString());
}

jsOpConstant::jsOpConstant(const Variant& v, i32 kind) : value(v) { convertForKind(value, kind); }

jsOpConstant::jsOpConstant(DataPoolId poolConstant) { DataPool::get().getValue(poolConstant, value); }

Status jsOpConstant::execute(jsRunner&, Variant& result) {
    result = value;
    return kStatusOK;
}

void appendConstant(String& out, const Variant& value) {
    if (value.getType() == Variant::kString) {
        out += '"';
        out += value.toString();
        out += '"';
    } else {
        out += value.toString();
    }
}

void jsOpConstant::appendSource(String& out) const { appendConstant(out, value); }

void jsOpConstant::writeOperands(CompiledScriptWriter& writer) const { writer.writeConstant(&value); }

// ---------------------------------------------------------------------------
// Binary operators

i32 jsOpBinary::mapStoredOperator(i32 id) {
    if (id == kWordIn)
        return kOpIn;
    if (id == kWordInstanceof)
        return kOpInstanceof;
    return id;
}

void jsOpBinary::setOperator(i32 id) {
    op = u16(mapStoredOperator(id));
    overloadId = op;
    negate = false;
    toPrimitive = !(op >= kOpIn && op <= kOpStrictNotEqual);
    overloadable = op >= kOpMultiply && op <= kOpBitXor;
    Variant probe;
    numeric = ConstantOps::applyToNumbers(op, probe, 0, 0);
    for (const Overload& o : kNegatedOverloads) {
        if (o.op == op) {
            overloadId = o.via;
            negate = true;
        }
    }
}

jsOpBinary::jsOpBinary(i32 id, jsOpcode* left, jsOpcode* right) {
    finishMaking(id, left, nullptr, 0, right, nullptr, 0);
}

jsOpBinary::jsOpBinary(i32 id, const Variant& constant, i32 kind, jsOpcode* right) {
    finishMaking(id, nullptr, &constant, kind, right, nullptr, 0);
}

jsOpBinary::jsOpBinary(i32 id, jsOpcode* left, const Variant& constant, i32 kind) {
    finishMaking(id, left, nullptr, 0, nullptr, &constant, kind);
}

jsOpBinary::jsOpBinary(i32 id, jsOpcode* left, jsOpcode* right, const Variant* lc, const Variant* rc) {
    finishMaking(id, left, lc, 0, right, rc, 0);
}

// The operations are handed over: whatever throws here (out of memory)
// deletes them, as the destructor would. The side keeps its own copy of a
// constant; kind 0 keeps it as it is.
Operand jsOpBinary::sideOf(jsOpcode* operation, const Variant* constant, i32 kind) {
    Variant* copy = copyOf(constant);
    const Operand side = Operand::decide(operation, copy);
    if (copy)
        jsOpConstant::convertForKind(*copy, kind);
    return side;
}

void jsOpBinary::finishMaking(i32 id, jsOpcode* left, const Variant* lc, i32 leftKind, jsOpcode* right,
                              const Variant* rc, i32 rightKind) {
    lhs = Operand::decide(left, nullptr);
    rhs = Operand::decide(right, nullptr);
    try {
        lhs = sideOf(left, lc, leftKind);
        rhs = sideOf(right, rc, rightKind);
        setOperator(id);
        equality = op == kOpEqual || op == kOpNotEqual || op == kOpStrictEqual || op == kOpStrictNotEqual;
        bothInPlace = (numeric || equality) && lhs.inPlace() && rhs.inPlace();
    } catch (...) {
        dropOperands();
        throw;
    }
}

void jsOpBinary::dropOperands() {
    delete lhs.getOperation();
    delete rhs.getOperation();
    delete lhs.getConstant();
    delete rhs.getConstant();
    lhs = rhs = Operand();
}

jsOpBinary::~jsOpBinary() { dropOperands(); }

Status jsOpBinary::evaluateLeft(jsRunner& runner, Variant& result) const {
    return lhs.read(runner, result);
}

[[gnu::always_inline]] inline Status jsOpBinary::evaluateRight(jsRunner& runner, Variant& temp,
                                                              const Variant*& value) const {
    if (const Variant* constant = rhs.getConstant()) {
        value = constant;
        return kStatusOK;
    }
    value = &temp;
    return rhs.read(runner, temp);
}

// Two numbers read in place from constants and locals: no copy, no
// temporary, no frame, nothing that could recurse. Reading a local has no
// effect, so any other value takes the general path as if this were not.
bool jsOpBinary::numbersInPlace(jsRunner& runner, Variant& result) const {
    const Variant* x = lhs.peek(runner);
    const Variant* y = rhs.peek(runner);
    if (!x || !y || x->getType() != Variant::kNumber || y->getType() != Variant::kNumber)
        return false;
    ConstantOps::applyToNumbers(op, result, x->toNumber(), y->toNumber());
    return true;
}

Status jsOpBinary::execute(jsRunner& runner, Variant& result) {
    if (bothInPlace) {
        if (equality)
            return compareInPlace(runner, result);
        if (numbersInPlace(runner, result))
            return runner.status();
    }
    return run(runner, result, nullptr);
}

// Reading a local or a constant has no effect, and a remembered chain
// answers without a lookup, so what the general path would do comes down
// to the comparison itself; any other case takes that path from the start.
Status jsOpBinary::compareInPlace(jsRunner& runner, Variant& result) {
    const Variant* x = lhs.peek(runner);
    const Variant* y = rhs.peek(runner);
    if (x && y && x->getType() == Variant::kNumber && y->getType() == Variant::kNumber) {
        result.setBool((x->toNumber() == y->toNumber()) != negate);
        return runner.status();
    }
    if (x && y && (objectOf(*x) || objectOf(*y)) && !runner.errorPending() && offersNoMethod(*x) &&
        offersNoMethod(*y) && decidedAlone(op, *x, *y)) {
        result.setBool(equalityOf(op, *x, *y));
        return runner.status();
    }
    return run(runner, result, nullptr);
}

Status jsOpBinary::executeAppending(jsRunner& runner, Variant& result, AppendTarget& target) {
    return run(runner, result, &target);
}

// The left side and two numbers stay in this frame; the right side and the
// slow cases take theirs from withRight, and objects from objectOperands, so
// a recursion through the left operand (f(n) + 1) keeps only this small
// frame on the stack per level.
Status jsOpBinary::run(jsRunner& runner, Variant& result, AppendTarget* target) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (const Status s = evaluateLeft(runner, result))
        return s;
    // A number on the left (an operation's value) and one in place on the right.
    if (numeric && result.getType() == Variant::kNumber) {
        const Variant* y = rhs.peek(runner);
        if (y && y->getType() == Variant::kNumber) {
            ConstantOps::applyToNumbers(op, result, result.toNumber(), y->toNumber());
            return runner.status();
        }
    }
    return withRight(runner, result, target);
}

Status jsOpBinary::withRight(jsRunner& runner, Variant& result, AppendTarget* target) {
    if (equality)
        return compareOperands(runner, result);
    // The left operand's method is looked up before the right side runs.
    Object* leftObject = objectOf(result);
    Property* method = overloadable && leftObject ? findMethod(runner, leftObject, overloadId) : nullptr;

    Variant rightTemp;
    const Variant* rightValue = nullptr;
    if (const Status s = evaluateRight(runner, rightTemp, rightValue))
        return s;
    // Primitives on both sides: the shared operator table, numbers first.
    if (result.getType() == Variant::kNumber && rightValue->getType() == Variant::kNumber &&
        ConstantOps::applyToNumbers(op, result, result.toNumber(), rightValue->toNumber()))
        return runner.status();
    if (!leftObject && rightValue->getType() != Variant::kScriptObject) {
        if (target && op == kOpAdd && appendInPlace(result, *rightValue, target->text(runner)))
            return runner.status();
        if (ConstantOps::applyBinary(op, result, *rightValue))
            return runner.status();
    }
    return objectOperands(runner, result, *rightValue, leftObject, method);
}

// withRight for == != === !==. Where no operator method is found and no
// conversion takes part, the comparison is made at once: a right side read
// in place needs no copy, and no object needs a hold.
Status jsOpBinary::compareOperands(jsRunner& runner, Variant& result) {
    Object* leftObject = objectOf(result);
    Property* method = leftObject ? findMethod(runner, leftObject, overloadId) : nullptr;
    if (!method) {
        const Variant* y = rhs.peek(runner);
        if (y && result.getType() == Variant::kNumber && y->getType() == Variant::kNumber) {
            result.setBool((result.toNumber() == y->toNumber()) != negate);
            return runner.status();
        }
        if (y && (leftObject || objectOf(*y)) && !runner.errorPending() && offersNoMethod(*y) &&
            decidedAlone(op, result, *y)) {
            result.setBool(equalityOf(op, result, *y));
            return runner.status();
        }
    }

    Variant rightTemp;
    const Variant* rightValue = nullptr;
    if (const Status s = evaluateRight(runner, rightTemp, rightValue))
        return s;
    if (result.getType() == Variant::kNumber && rightValue->getType() == Variant::kNumber) {
        result.setBool((result.toNumber() == rightValue->toNumber()) != negate);
        return runner.status();
    }
    if (!leftObject && rightValue->getType() != Variant::kScriptObject &&
        ConstantOps::applyBinary(op, result, *rightValue))
        return runner.status();
    if (!method && decidedAlone(op, result, *rightValue)) {
        Object* rightObject = objectOf(*rightValue);
        if (Property* rightMethod = findMethod(runner, rightObject, overloadId)) {
            const ObjectRef leftHold(leftObject);
            return methodOrCombine(runner, result, *rightValue, rightObject, rightMethod, true);
        }
        if (!runner.errorPending())
            result.setBool(equalityOf(op, result, *rightValue));
        return runner.status();
    }
    return objectOperands(runner, result, *rightValue, leftObject, method);
}

Status jsOpBinary::objectOperands(jsRunner& runner, Variant& result, const Variant& rightValue, Object* leftObject,
                                  Property* method) {
    const ObjectRef leftHold(leftObject);
    bool reversed = false;
    Object* holder = leftObject;
    if (!method && overloadable) {
        holder = objectOf(rightValue);
        method = findMethod(runner, holder, overloadId);
        reversed = method != nullptr;
    }
    return methodOrCombine(runner, result, rightValue, holder, method, reversed);
}

Status jsOpBinary::methodOrCombine(jsRunner& runner, Variant& result, const Variant& rightValue, Object* holder,
                                   Property* method, bool reversed) {
    if (method) {
        TVVariantArray args(2);
        args.at(0) = reversed ? result : rightValue;
        args.at(1).setBool(reversed);
        Variant answer;
        if (callOperatorMethod(runner, holder, method, args, answer) &&
            (answer.getType() != Variant::kUndefined || runner.errorPending())) {
            if (negate)
                result.setBool(!answer.toBoolean());
            else
                result = answer;
            return runner.status();
        }
    }
    if (runner.errorPending())
        return runner.status();
    return combine(runner, result, rightValue);
}

// Steps 7 to 11 for operands that are not both primitives (or "in" and
// "instanceof").
Status jsOpBinary::combine(jsRunner& runner, Variant& result, const Variant& rightValue) {
    if (toPrimitive) {
        const bool add = op == kOpAdd;
        if (!operandToPrimitive(runner, result, add))
            return runner.status();
        if (objectOf(rightValue)) {
            Variant primitive(rightValue);
            if (!operandToPrimitive(runner, primitive, add))
                return runner.status();
            ConstantOps::applyBinary(op, result, primitive);
            return runner.status();
        }
    }
    switch (op) {
        case kOpIn:
            return applyIn(runner, result, rightValue);
        case kOpInstanceof:
            result.setBool(isInstance(result, rightValue));
            return runner.status();
        case kOpEqual:
        case kOpNotEqual:
            result.setBool(looseEquals(result, rightValue) != (op == kOpNotEqual));
            return runner.status();
        case kOpStrictEqual:
        case kOpStrictNotEqual: {
            const bool same = result.getType() == rightValue.getType() && looseEquals(result, rightValue);
            result.setBool(same != (op == kOpStrictNotEqual));
            return runner.status();
        }
        default:
            ConstantOps::applyBinary(op, result, rightValue);
            return runner.status();
    }
}

void jsOpBinary::appendSide(String& out, const jsOpcode* side, const Variant* constant) const {
    if (constant)
        appendConstant(out, *constant);
    else if (side)
        side->appendSource(out);
}

void jsOpBinary::appendSource(String& out) const {
    appendSide(out, lhs.getOperation(), lhs.getConstant());
    if (lhs.getOperation() || lhs.getConstant())
        out += operatorText(op);
    appendSide(out, rhs.getOperation(), rhs.getConstant());
}

void jsOpBinary::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeSymbol(op);
    writer.writeNode(lhs.getOperation());
    writer.writeNode(rhs.getOperation());
    writer.writeConstant(lhs.getConstant());
    writer.writeConstant(rhs.getConstant());
}

// ---------------------------------------------------------------------------
// && and ||

Status jsOpLogAndOr::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (const Status s = evaluateLeft(runner, result))
        return s;
    if (result.toBoolean() == (op == kOpOr))
        return kStatusOK;
    if (!rhs.getConstant() && !rhs.getOperation()) {
        result.clear();
        return kStatusOK;
    }
    return rhs.read(runner, result);
}

// As a condition the truth of the side that decides is the answer.
Truth jsOpLogAndOr::test(jsRunner& runner) {
    if (runner.stackExhausted())
        return {runner.stackOverrun(), false};
    if (!lhs.getConstant() && !lhs.getOperation())
        return jsOpcode::test(runner);
    if (const Variant* constant = lhs.getConstant()) {
        if (constant->toBoolean() == (op == kOpOr))
            return {kStatusOK, op == kOpOr};
    } else {
        const Truth decided = lhs.getOperation()->test(runner);
        if (decided.status != kStatusOK || decided.holds == (op == kOpOr))
            return decided;
    }
    if (const Variant* constant = rhs.getConstant())
        return {kStatusOK, constant->toBoolean()};
    if (!rhs.getOperation())
        return {kStatusOK, false};
    return rhs.getOperation()->test(runner);
}

// ---------------------------------------------------------------------------
// Unary operators

i32 jsOpUnary::mapStoredOperator(i32 id) {
    switch (id) {
        case kOpAdd: return kOpPlus;
        case kOpSubtract: return kOpMinus;
        case kWordTypeof: return kOpTypeof;
        case kWordDelete: return kOpDelete;
        case kWordVoid: return kOpVoid;
        default: return id;
    }
}

jsOpUnary::jsOpUnary(i32 id, jsOpcode* operand) : operand(operand) {
    op = u8(mapStoredOperator(id));
    overloadable = op == kOpBitNot || op == kOpPlus || op == kOpMinus;
}

jsOpUnary::~jsOpUnary() { delete operand; }

Status jsOpUnary::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (const Status s = operand->execute(runner, result))
        return s;
    Object* object = objectOf(result);
    if (object && overloadable && object->offersOperators()) {
        // Unary + and - answer under the binary operators' names.
        const i32 id = op == kOpPlus ? i32(kOpAdd) : op == kOpMinus ? i32(kOpSubtract) : i32(op);
        if (Property* method = object->findOperator(id)) {
            const ObjectRef hold(object);
            const TVVariantArray none(0);
            Variant answer;
            if (callOperatorMethod(runner, object, method, none, answer) &&
                (answer.getType() != Variant::kUndefined || runner.errorPending())) {
                result = answer;
                return runner.status();
            }
        }
        if (runner.errorPending())
            return runner.status();
    }
    switch (op) {
        case kOpTypeof:
            typeOfName(result);
            return kStatusOK;
        case kOpDelete:
            // delete of a value that names no property: the value is
            // computed (delete f() calls f), nothing is deleted.
            result.setBool(false);
            return kStatusOK;
        case kOpVoid:
            result.clear();
            return kStatusOK;
        case kOpNot:
            result.setBool(object ? false : !result.toBoolean());
            return kStatusOK;
        default:
            // ~ + -: objects become primitives first.
            if (object) {
                const ObjectRef hold(object);
                if (!operandToPrimitive(runner, result, false))
                    return runner.status();
            }
            ConstantOps::applyUnary(op, result);
            return runner.status();
    }
}

void jsOpUnary::appendSource(String& out) const {
    out += operatorText(op);
    operand->appendSource(out);
}

void jsOpUnary::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeSymbol(op);
    writer.writeNode(operand);
}

jsOpUnaryRef::jsOpUnaryRef(i32 id, jsOpcode* reference) : jsOpUnary(id, reference) {
    overloadable = false;
}

Status jsOpUnaryRef::execute(jsRunner& runner, Variant& result) {
    jsOpVariable* variable = operand->asVariable();
    if (!variable)
        return jsOpUnary::execute(runner, result);
    Reference reference;
    if (const Status s = variable->getReference(runner, reference, 0))
        return s;
    Object* holder = reference.object;
    if (op == kOpDelete) {
        const bool own = holder && holder->findOwnProperty(reference.symbol, kFindOwn);
        result.setBool(own ? holder->deleteProperty(reference.symbol) : true);
        return runner.status();
    }
    Property* property = reference.property;
    if (!property && holder)
        property = holder->findProperty(reference.symbol, 0);
    takeValue(property ? property->get(holder, 0) : nullptr, result);
    typeOfName(result);
    return runner.status();
}

void jsOpUnaryRef::appendSource(String& out) const {
    out += operatorText(op);
    out += ' ';
    operand->appendSource(out);
}

// ---------------------------------------------------------------------------
// void, ?:

jsOpVoid::jsOpVoid(jsOpcode* operand) : operand(operand) {}

jsOpVoid::~jsOpVoid() { delete operand; }

Status jsOpVoid::execute(jsRunner& runner, Variant& result) {
    if (const Status s = operand->execute(runner, result))
        return s;
    result.clear();
    return kStatusOK;
}

void jsOpVoid::appendSource(String& out) const {
    out += "void (";
    operand->appendSource(out);
    out += ')';
}

void jsOpVoid::writeOperands(CompiledScriptWriter& writer) const { writer.writeNode(operand); }

jsOpTernary::jsOpTernary(jsOpcode* condition, jsOpcode* thenValue, jsOpcode* elseValue)
    : condition(condition), thenValue(thenValue), elseValue(elseValue), conditionTests(answersTest(condition)) {}

jsOpTernary::~jsOpTernary() {
    delete condition;
    delete thenValue;
    delete elseValue;
}

Status jsOpTernary::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    bool holds;
    if (conditionTests) {
        const Truth which = condition->test(runner);
        if (which.status != kStatusOK)
            return which.status;
        holds = which.holds;
    } else {
        // The condition's value goes where the chosen value will.
        if (const Status s = condition->execute(runner, result))
            return s;
        holds = result.toBoolean();
    }
    jsOpcode* chosen = holds ? thenValue : elseValue;
    if (!chosen) {
        result.clear();
        return kStatusOK;
    }
    return chosen->execute(runner, result);
}

Truth jsOpTernary::test(jsRunner& runner) {
    if (runner.stackExhausted())
        return {runner.stackOverrun(), false};
    const Truth which = condition->test(runner);
    if (which.status != kStatusOK)
        return which;
    jsOpcode* chosen = which.holds ? thenValue : elseValue;
    return chosen ? chosen->test(runner) : Truth{kStatusOK, false};
}

void jsOpTernary::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeNode(condition);
    writer.writeNode(thenValue);
    writer.writeNode(elseValue);
}

// ---------------------------------------------------------------------------
// Lists

jsOpList::jsOpList(bool comma) : comma(comma) {}

jsOpList::~jsOpList() { deleteEntries(entries); }

void jsOpList::append(jsOpcode* entry) { addOwned(entries, entry); }

Status jsOpList::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    result.clear();
    for (i32 i = 0; i < entries.getCount(); i++) {
        jsOpcode* entry = entries.get(i);
        if (!entry) {
            result.clear();
            continue;
        }
        if (const Status s = entry->execute(runner, result))
            return s;
    }
    return kStatusOK;
}

Status jsOpList::evaluateInto(jsRunner& runner, Variant* values) const {
    for (i32 i = 0; i < entries.getCount(); i++)
        if (jsOpcode* entry = entries.get(i))
            if (const Status s = entry->execute(runner, values[i]))
                return s;
    return kStatusOK;
}

Status jsOpList::evaluateInto(jsRunner& runner, TVVariantArray& values) const {
    return entries.getCount() ? evaluateInto(runner, &values.at(0)) : kStatusOK;
}

void jsOpList::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeInteger(entries.getCount());
    for (i32 i = 0; i < entries.getCount(); i++)
        writer.writeNode(entries.get(i));
    writer.writeBool(comma);
}

// ---------------------------------------------------------------------------
// Binary operators as conditions

namespace {

// A comparison (or any operator the number table computes) of two numbers:
// its truth; false in known when the operator is another.
bool truthOfNumbers(i32 op, LxCore::f64 x, LxCore::f64 y, bool& known) {
    known = true;
    switch (op) {
        case kOpLess: return x < y;
        case kOpLessEqual: return x <= y;
        case kOpGreater: return x > y;
        case kOpGreaterEqual: return x >= y;
        case kOpEqual:
        case kOpStrictEqual: return x == y;
        case kOpNotEqual:
        case kOpStrictNotEqual: return x != y;
        default: {
            Variant value;
            known = ConstantOps::applyToNumbers(op, value, x, y);
            return known && value.toBoolean();
        }
    }
}

}  // namespace

bool answersTest(const jsOpcode* condition) {
    if (!condition)
        return false;
    switch (condition->kind()) {
        case OpKind::kLogical:
        case OpKind::kConditional:
            return true;
        case OpKind::kBinary: {
            // Numbers are what the test answers for: a constant of another
            // type (x != null) leaves the comparison to execute.
            const auto* binary = static_cast<const jsOpBinary*>(condition);
            auto inPlace = [](const Operand& side) {
                const Variant* constant = side.getConstant();
                return constant ? constant->getType() == Variant::kNumber : side.getSlot() >= 0;
            };
            return inPlace(binary->getLeftOperand()) && inPlace(binary->getRightOperand());
        }
        default:
            return false;
    }
}

// Two numbers read in place from constants and locals answer without a
// value; anything else is computed and converted.
Truth jsOpBinary::test(jsRunner& runner) {
    const Variant* x = lhs.peek(runner);
    const Variant* y = rhs.peek(runner);
    if (x && y && x->getType() == Variant::kNumber && y->getType() == Variant::kNumber) {
        bool known;
        const bool holds = truthOfNumbers(op, x->toNumber(), y->toNumber(), known);
        if (known)
            return {runner.status(), holds};
    }
    // Not virtual: jsOpLogAndOr, the one class below, has a test of its own.
    Variant value;
    const Status status = jsOpBinary::execute(runner, value);
    return {status, status == kStatusOK && truthOf(value)};
}

}  // namespace LxScript
