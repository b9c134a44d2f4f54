// Operator results on primitive values (undefined, null, booleans, numbers,
// strings): the one definition that constant folding at compile time and the
// operators at run time both use, so that the two always agree. Objects are
// the caller's business: it calls operator methods and turns objects into
// primitives first.
#pragma once
#include "core/Types.h"
#include "core/Variant.h"
#include "script/frontend/DataPool.h"

namespace LxScript {
namespace ConstantOps {

// value = value op right, for the operators that compute a value from two
// primitives: "*" "/" "%" "+" "-" "<<" ">>" ">>>" "<" "<=" ">" ">=" "=="
// "!=" "===" "!==" "&" "|" "^" (operator ids). False, value unchanged, for
// any other id. A string result of "+" grows value's own text when it holds
// the only reference to it, so that chains of concatenations stay linear.
bool applyBinary(DataPoolId op, LxCore::Variant& value, const LxCore::Variant& right);

// "%": the remainder with the sign of x; NaN when y is 0 or either is NaN
// or x is infinite; x when only y is infinite.
LxCore::f64 remainder(LxCore::f64 x, LxCore::f64 y);

// The 32-bit integer of a number as the bitwise operators take it, as
// Variant::toInt() gives it: inside the signed range truncation is the wrap.
[[gnu::noinline]] LxCore::i32 wideInt32Of(LxCore::f64 x);   // the rest: NaN, infinities, wraps
[[gnu::always_inline]] inline LxCore::i32 int32Of(LxCore::f64 x) {
    return x > -2147483649.0 && x < 2147483648.0 ? LxCore::i32(x) : wideInt32Of(x);
}

// Shifts work on the 32 bits as unsigned, so that no shift overflows.
inline LxCore::i32 shiftLeft(LxCore::i32 a, LxCore::i32 b) {
    return LxCore::i32(LxCore::u32(a) << (LxCore::u32(b) & 31));
}
inline LxCore::i32 shiftRight(LxCore::i32 a, LxCore::i32 b) { return a >> (LxCore::u32(b) & 31); }
inline LxCore::u32 shiftRightUnsigned(LxCore::i32 a, LxCore::i32 b) {
    return LxCore::u32(a) >> (LxCore::u32(b) & 31);
}

// The common case of applyBinary, inline: two numbers and an arithmetic,
// bitwise or relational operator. False, value unchanged, for any other
// operator. A comparison with NaN is false, as applyBinary's unordered pairs
// are.
[[gnu::always_inline]] inline bool applyToNumbers(DataPoolId op, LxCore::Variant& value, LxCore::f64 x,
                                                  LxCore::f64 y) {
    switch (op) {
        case kOpAdd: value.setNumber(x + y); return true;
        case kOpSubtract: value.setNumber(x - y); return true;
        case kOpMultiply: value.setNumber(x * y); return true;
        case kOpDivide: value.setNumber(x / y); return true;
        case kOpModulo: value.setNumber(remainder(x, y)); return true;
        case kOpLess: value.setBool(x < y); return true;
        case kOpLessEqual: value.setBool(x <= y); return true;
        case kOpGreater: value.setBool(x > y); return true;
        case kOpGreaterEqual: value.setBool(x >= y); return true;
        case kOpShiftLeft: value.setInt(shiftLeft(int32Of(x), int32Of(y))); return true;
        case kOpShiftRight: value.setInt(shiftRight(int32Of(x), int32Of(y))); return true;
        case kOpShiftRightUnsigned: value.setUInt(shiftRightUnsigned(int32Of(x), int32Of(y))); return true;
        case kOpBitAnd: value.setInt(int32Of(x) & int32Of(y)); return true;
        case kOpBitOr: value.setInt(int32Of(x) | int32Of(y)); return true;
        case kOpBitXor: value.setInt(int32Of(x) ^ int32Of(y)); return true;
        default: return false;
    }
}

// value = op value for "~" "!" unary "+" and unary "-" (operator ids 8 to
// 11). False, value unchanged, for any other id.
bool applyUnary(DataPoolId op, LxCore::Variant& value);

// Equality with conversion between the primitive types. Two script objects
// are equal when they are the same object; other types are never equal.
bool looseEquals(const LxCore::Variant& a, const LxCore::Variant& b);
// Equal types and loosely equal.
bool strictEquals(const LxCore::Variant& a, const LxCore::Variant& b);

// The typeof text of a primitive: "undefined", "object" (null), "boolean",
// "number" or "string"; null for the other types.
const char* typeOfPrimitive(const LxCore::Variant& value);

}  // namespace ConstantOps
}  // namespace LxScript
