// The core's own Unicode character classes and case mapping over UTF-16
// units, independent of the C runtime's locale, and plain routines over
// 0-terminated UTF-16 text.
#pragma once
#include "core/Types.h"

namespace LxCore {

constexpr bool isHighSurrogate(u32 c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool isLowSurrogate(u32 c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool isWhiteSpaceChar(unit c);
bool isFormatChar(unit c);
bool isIdentifierStart(unit c);
bool isIdentifierPart(unit c);
bool isUpperCaseChar(unit c);
unit toLowerChar(unit c);
unit toUpperChar(unit c);

size_t utf16Length(const unit* s);
void utf16Copy(unit* to, const unit* from);
i32 utf16Compare(const unit* a, const unit* b);
i32 utf16CompareAscii(const unit* a, const char* b, i32 n);
i32 utf16CompareAsciiNoCase(const unit* a, const char* b);
i32 utf16CompareAsciiNoCase(const unit* a, const char* b, i32 n);
const unit* utf16FindChar(const unit* s, unit c);
i32 utf16ToInt(const unit* s);

}  // namespace LxCore
