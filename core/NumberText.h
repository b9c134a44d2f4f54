// Number text: the one place where numbers become text and text becomes
// numbers, always in the "C" numeric conventions whatever locale the host set.
#pragma once
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

// Forms of formatNumber.
constexpr u32 kFormatAutomatic = 0;         // what String(x) shows: 15 significant digits
constexpr u32 kFormatFixed = 1;             // toFixed
constexpr u32 kFormatExponential = 2;       // toExponential

// Flags of the parsing routines. The low byte says how much of the text must
// be the number; the others change what a leading "0" means.
constexpr u32 kParseWholeText = 0;          // after leading white space, else NaN
constexpr u32 kParseToWhiteSpace = 1;       // the number ends at white space or the end
constexpr u32 kParsePrefix = 2;             // any value above 1: a prefix is enough
constexpr u32 kParseTrailingMask = 0xFF;
constexpr u32 kParseNoOctal = 0x100;        // a leading 0 keeps the number decimal
constexpr u32 kParseNoHex = 0x200;          // "0x" is no hexadecimal prefix

// Replaces out by the text of value. A radix other than 0 and 10 writes the
// integer part only; digits is the precision of the fixed and exponential
// forms and the significant-digit budget of the automatic one (0..100).
void formatNumber(String& out, f64 value, u32 radix, u32 digits, u32 mode);

// The number at the start of text; rest, when given, receives the text from
// the first unread unit.
f64 parseNumber(const String& text, u32 flags, String* rest = nullptr);

// An integer in radix 2..36, or 0 to take the radix from the text ("0x" 16,
// a leading 0 8, else 10).
f64 parseInteger(const String& text, u32 radix, u32 flags, String* rest = nullptr);

// Reads a run of digits from 0-terminated text. *radix is the radix wanted
// (0: detect it) and receives the one used; *value receives NaN when no
// digit was read. Returns the first unread unit.
const unit* parseDigits(const unit* text, f64* value, u32* radix, u32 flags);

}  // namespace LxCore
