// The number methods' texts: toFixed, toExponential and toPrecision over the
// core's number formatter, and the locale's decimal point of toLocaleString.
#pragma once
#include "core/String.h"
#include "core/Types.h"

namespace LxScript {

using LxCore::f64;
using LxCore::i32;
using LxCore::u16;

// Digit counts above this raise error 41 ("%1 is out of range").
constexpr i32 kMaxFractionDigits = 100;

// Each returns the error the method raises, 0 or 41. toFixed leaves out
// untouched with its error; the other two format with the count clamped.
i32 formatFixed(f64 value, i32 decimals, LxCore::String& out);
i32 formatExponential(f64 value, i32 decimals, LxCore::String& out);
i32 formatPrecision(f64 value, i32 precision, LxCore::String& out);

// The current locale's decimal-point character: the locale's language looked
// up in a table of two-letter codes; "." when it is not listed.
u16 getLocaleDecimalPoint();

}  // namespace LxScript
