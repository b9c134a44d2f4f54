// Character classes and case mapping from the core's own tables, and the
// plain 0-terminated UTF-16 routines. A null text reads as the empty text.
#include "core/CharClass.h"

#include <algorithm>

namespace LxCore {

namespace {

struct CharRange {
    u16 first;
    u16 last;
    const u8* props;  // one byte per unit from first, or null
};

struct CaseException {
    u16 unit;
    i16 delta;
};

#include "core/CharClassTables.inc"

constexpr u8 caseMask = 0x0F;
constexpr u8 whiteSpaceBit = 0x10;
constexpr u8 formatBit = 0x20;
constexpr u8 identifierStartBit = 0x40;
constexpr u8 identifierPartBit = 0x80;
constexpr u8 exceptionClass = 15;
// Units of the ideograph and syllable blocks, which carry no byte table.
constexpr u8 tablelessProps = identifierStartBit | identifierPartBit;

// Case classes 1..7 add these to reach lower case; 8..14 subtract them.
constexpr i32 classDelta[7] = {1, -8, 16, 26, 32, 48, 80};

u8 properties(unit c) {
    for (const CharRange& r : charRanges) {
        if (c < r.first)
            return 0;
        if (c <= r.last)
            return r.props ? r.props[c - r.first] : tablelessProps;
    }
    return 0;
}

template <size_t N>
const CaseException* findException(const CaseException (&list)[N], unit c) {
    const CaseException* end = list + N;
    const CaseException* it = std::lower_bound(
        list, end, c, [](const CaseException& e, unit u) { return e.unit < u; });
    return it != end && it->unit == c ? it : nullptr;
}

unit shifted(unit c, i32 delta) {
    return static_cast<unit>(static_cast<i32>(c) + delta);
}

i32 upperAscii(char b) {
    u8 byte = static_cast<u8>(b);
    return byte >= 'a' && byte <= 'z' ? byte - 32 : byte;
}

const unit emptyText[1] = {0};

const unit* orEmpty(const unit* s) {
    return s ? s : emptyText;
}

}  // namespace

bool isWhiteSpaceChar(unit c) {
    return properties(c) & whiteSpaceBit;
}

bool isFormatChar(unit c) {
    return properties(c) & formatBit;
}

bool isIdentifierStart(unit c) {
    return properties(c) & identifierStartBit;
}

bool isIdentifierPart(unit c) {
    return properties(c) & identifierPartBit;
}

// Class 15 holds lower-case letters as well (U+00B5, U+00FF), so only an
// exception that maps to lower case makes the unit upper-case.
bool isUpperCaseChar(unit c) {
    u8 cls = properties(c) & caseMask;
    if (cls == exceptionClass)
        return findException(lowerCaseExceptions, c) != nullptr;
    return cls >= 1 && cls <= 7;
}

unit toLowerChar(unit c) {
    u8 cls = properties(c) & caseMask;
    if (cls >= 1 && cls <= 7)
        return shifted(c, classDelta[cls - 1]);
    if (cls == exceptionClass) {
        if (const CaseException* e = findException(lowerCaseExceptions, c))
            return shifted(c, e->delta);
    }
    return c;
}

unit toUpperChar(unit c) {
    u8 cls = properties(c) & caseMask;
    if (cls >= 8 && cls <= 14)
        return shifted(c, -classDelta[cls - 8]);
    if (cls == exceptionClass) {
        if (const CaseException* e = findException(upperCaseExceptions, c))
            return shifted(c, e->delta);
    }
    return c;
}

size_t utf16Length(const unit* s) {
    s = orEmpty(s);
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

void utf16Copy(unit* to, const unit* from) {
    if (!to)
        return;
    from = orEmpty(from);
    while ((*to++ = *from++) != 0) {
    }
}

i32 utf16Compare(const unit* a, const unit* b) {
    a = orEmpty(a);
    b = orEmpty(b);
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<i32>(*a) - static_cast<i32>(*b);
}

i32 utf16CompareAscii(const unit* a, const char* b, i32 n) {
    a = orEmpty(a);
    if (!b)
        b = "";
    for (i32 i = 0; i < n; ++i) {
        i32 d = static_cast<i32>(a[i]) - static_cast<u8>(b[i]);
        if (d != 0 || a[i] == 0)
            return d;
    }
    return 0;
}

i32 utf16CompareAsciiNoCase(const unit* a, const char* b, i32 n) {
    a = orEmpty(a);
    if (!b)
        b = "";
    for (i32 i = 0; i < n; ++i) {
        i32 d = static_cast<i32>(toUpperChar(a[i])) - upperAscii(b[i]);
        if (d != 0 || a[i] == 0)
            return d;
    }
    return 0;
}

i32 utf16CompareAsciiNoCase(const unit* a, const char* b) {
    a = orEmpty(a);
    if (!b)
        b = "";
    for (;; ++a, ++b) {
        i32 d = static_cast<i32>(toUpperChar(*a)) - upperAscii(*b);
        if (d != 0 || *a == 0)
            return d;
    }
}

const unit* utf16FindChar(const unit* s, unit c) {
    if (!s || c == 0)
        return nullptr;
    for (; *s; ++s) {
        if (*s == c)
            return s;
    }
    return nullptr;
}

// Overflow wraps around in 32 bits, so the sum is kept unsigned.
i32 utf16ToInt(const unit* s) {
    s = orEmpty(s);
    while (isWhiteSpaceChar(*s))
        ++s;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        ++s;
    u32 value = 0;
    for (; *s >= '0' && *s <= '9'; ++s)
        value = value * 10u + static_cast<u32>(*s - '0');
    if (negative)
        value = 0u - value;
    return static_cast<i32>(value);
}

}  // namespace LxCore
