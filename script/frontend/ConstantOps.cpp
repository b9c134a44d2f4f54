#include "script/frontend/ConstantOps.h"

#include <cmath>

namespace LxScript {
namespace ConstantOps {

using LxCore::f64;
using LxCore::i32;
using LxCore::String;
using LxCore::Variant;

namespace {

// Appends right's text to value's. Taking the text out of value first leaves
// this code the only owner of the buffer, so that it grows in place.
void concatenate(Variant& value, const Variant& right) {
    const String tail = right.toString();
    String text = value.toString();
    value.setString(String());
    text += tail;
    value.setString(text);
}

}  // namespace

i32 wideInt32Of(f64 x) { return Variant(x).toInt(); }

f64 remainder(f64 x, f64 y) {
    // Whole numbers of 31 bits divide exactly, as fmod would, at a fraction
    // of its cost; the sign of a zero result is the dividend's.
    constexpr f64 kLimit = 2147483647.0;
    if (x >= -kLimit && x <= kLimit && y >= -kLimit && y <= kLimit) {
        const i32 a = i32(x), b = i32(y);
        if (f64(a) == x && f64(b) == y && b != 0) {
            const i32 r = a % b;
            return r == 0 && std::signbit(x) ? -0.0 : f64(r);
        }
    }
    return std::fmod(x, y);
}

const char* typeOfPrimitive(const Variant& value) {
    switch (value.getType()) {
        case Variant::kUndefined: return "undefined";
        case Variant::kNull: return "object";
        case Variant::kBoolean: return "boolean";
        case Variant::kNumber: return "number";
        case Variant::kString: return "string";
        default: return nullptr;
    }
}

bool looseEquals(const Variant& a, const Variant& b) {
    const Variant::Type ta = a.getType(), tb = b.getType();
    if (ta == tb) {
        if (ta == Variant::kUndefined || ta == Variant::kNull)
            return true;
        return ta <= Variant::kScriptObject && a == b;
    }
    auto isNothing = [](Variant::Type t) { return t == Variant::kUndefined || t == Variant::kNull; };
    if (isNothing(ta) || isNothing(tb))
        return isNothing(ta) && isNothing(tb);
    // A boolean counts as 0 or 1; a string met by a number becomes a number.
    auto isSimple = [](Variant::Type t) {
        return t == Variant::kBoolean || t == Variant::kNumber || t == Variant::kString;
    };
    if (!isSimple(ta) || !isSimple(tb))
        return false;
    return a.toNumber() == b.toNumber();
}

bool strictEquals(const Variant& a, const Variant& b) { return a.getType() == b.getType() && looseEquals(a, b); }

bool applyBinary(DataPoolId op, Variant& value, const Variant& right) {
    if (value.getType() == Variant::kNumber && right.getType() == Variant::kNumber &&
        applyToNumbers(op, value, value.toNumber(), right.toNumber()))
        return true;
    switch (op) {
        case kOpAdd:
            if (value.getType() == Variant::kString || right.getType() == Variant::kString) {
                concatenate(value, right);
                return true;
            }
            value.setNumber(value.toNumber() + right.toNumber());
            return true;
        case kOpSubtract: value.setNumber(value.toNumber() - right.toNumber()); return true;
        case kOpMultiply: value.setNumber(value.toNumber() * right.toNumber()); return true;
        case kOpDivide: value.setNumber(value.toNumber() / right.toNumber()); return true;
        case kOpModulo: value.setNumber(remainder(value.toNumber(), right.toNumber())); return true;
        case kOpShiftLeft: value.setInt(shiftLeft(value.toInt(), right.toInt())); return true;
        case kOpShiftRight: value.setInt(shiftRight(value.toInt(), right.toInt())); return true;
        case kOpShiftRightUnsigned: value.setUInt(shiftRightUnsigned(value.toInt(), right.toInt())); return true;
        case kOpBitAnd: value.setInt(value.toInt() & right.toInt()); return true;
        case kOpBitOr: value.setInt(value.toInt() | right.toInt()); return true;
        case kOpBitXor: value.setInt(value.toInt() ^ right.toInt()); return true;
        case kOpLess: case kOpLessEqual: case kOpGreater: case kOpGreaterEqual: {
            // An unordered pair (a NaN took part) is false for all four.
            // undefined is NaN as a number; the core's order, made for
            // sorting, puts it first instead.
            const bool undefinedSide = value.getType() == Variant::kUndefined || right.getType() == Variant::kUndefined;
            const i32 c = undefinedSide ? Variant::kUnordered : value.compare(right);
            const bool result = c != Variant::kUnordered &&
                                (op == kOpLess ? c < 0 : op == kOpLessEqual ? c <= 0 : op == kOpGreater ? c > 0 : c >= 0);
            value.setBool(result);
            return true;
        }
        case kOpEqual: value.setBool(looseEquals(value, right)); return true;
        case kOpNotEqual: value.setBool(!looseEquals(value, right)); return true;
        case kOpStrictEqual: value.setBool(strictEquals(value, right)); return true;
        case kOpStrictNotEqual: value.setBool(!strictEquals(value, right)); return true;
        default: return false;
    }
}

bool applyUnary(DataPoolId op, Variant& value) {
    switch (op) {
        case kOpBitNot: value.setInt(~value.toInt()); return true;
        case kOpNot: value.setBool(!value.toBoolean()); return true;
        case kOpPlus: value.setNumber(value.toNumber()); return true;
        case kOpMinus: value.setNumber(-value.toNumber()); return true;     // -(-0) is +0
        default: return false;
    }
}

}  // namespace ConstantOps
}  // namespace LxScript
