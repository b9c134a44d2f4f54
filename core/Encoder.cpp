#include "core/Encoder.h"

#include <algorithm>
#include <cstring>

#include "core/CharClass.h"
#include "core/ErrorCodes.h"
#include "core/HashTable.h"
#include "core/InitTerm.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/ThreadData.h"
#include "core/platform/CodePages.h"
#include "core/platform/Environment.h"

namespace LxCore {

namespace {

u32 joinSurrogates(u32 high, u32 low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }

// The code point at units[i] of n: the unit itself, or a surrogate pair
// joined (step 2). A low surrogate first, or a high one not followed by a
// low one, gives 37; a high one that ends the input gives 38.
i32 readCodePoint(const unit* units, u32 i, u32 n, u32& cp, u32& step) {
    cp = units[i];
    step = 1;
    if (isLowSurrogate(cp))
        return Err::kCharConversion;
    if (!isHighSurrogate(cp))
        return 0;
    if (i + 1 >= n)
        return Err::kPartialCharacter;
    if (!isLowSurrogate(units[i + 1]))
        return Err::kCharConversion;
    cp = joinSurrogates(cp, units[i + 1]);
    step = 2;
    return 0;
}

// The smallest value that needs a sequence of each length (anything less is
// overlong).
constexpr u32 kMinValue[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x200000};

u32 utf8Length(u32 cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

// Writes the UTF-8 form of a code point up to U+10FFFF; answers its length.
u32 writeUtf8(u32 cp, u8* p) {
    const u32 len = utf8Length(cp);
    switch (len) {
        case 1: p[0] = u8(cp); break;
        case 2:
            p[0] = u8(0xC0 | (cp >> 6));
            p[1] = u8(0x80 | (cp & 0x3F));
            break;
        case 3:
            p[0] = u8(0xE0 | (cp >> 12));
            p[1] = u8(0x80 | ((cp >> 6) & 0x3F));
            p[2] = u8(0x80 | (cp & 0x3F));
            break;
        default:
            p[0] = u8(0xF0 | (cp >> 18));
            p[1] = u8(0x80 | ((cp >> 12) & 0x3F));
            p[2] = u8(0x80 | ((cp >> 6) & 0x3F));
            p[3] = u8(0x80 | (cp & 0x3F));
            break;
    }
    return len;
}

// A count that may outgrow the out slot.
u32 countOrNone(u64 n) { return n < kEncoderNoCount ? u32(n) : kEncoderNoCount; }
u32 countOf(i32 n) { return n > 0 ? u32(n) : 0; }

// Counts of the fixed-width classes: `size` bytes for each unit.
i32 countUnits(i32 byteCount, u32 size, u32& unitCount) {
    unitCount = countOf(byteCount) / size;
    return 0;
}

i32 countBytes(i32 unitCount, u32 size, u32& byteCount) {
    byteCount = countOrNone(u64(countOf(unitCount)) * size);
    return 0;
}

// ---------------------------------------------------------------------------
// One byte, one unit: the loops every one-byte class shares. `map` converts
// one item and answers a status; the first status is kept and the conversion
// goes on. Input left over for want of room gives 38.

template <class Map>
i32 decodeEachByte(const char* bytes, u32& byteCount, unit* out, u32& unitCount, Map map) {
    const u32 n = std::min(byteCount, unitCount);
    i32 status = 0;
    for (u32 i = 0; i < n; ++i) {
        i32 s = map(u8(bytes[i]), out[i]);
        if (status == 0) status = s;
    }
    if (status == 0 && byteCount > n) status = Err::kPartialCharacter;
    byteCount = unitCount = n;
    return status;
}

template <class Map>
i32 encodeEachUnit(const unit* units, u32& unitCount, char* out, u32& byteCount, Map map) {
    const u32 n = std::min(byteCount, unitCount);
    i32 status = 0;
    for (u32 i = 0; i < n; ++i) {
        u8 b = 0;
        i32 s = map(units[i], b);
        out[i] = char(b);
        if (status == 0) status = s;
    }
    if (status == 0 && unitCount > n) status = Err::kPartialCharacter;
    byteCount = unitCount = n;
    return status;
}

// Windows-1252 from 0x80 to 0x9F; the five bytes it leaves out are U+FFFD.
constexpr unit kCP1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

bool within(unit u, unit low, unit high) { return u >= low && u <= high; }

i32 cp1252Byte(unit u, u8& b) {
    if (u <= 0xFF) {
        b = u8(u);
        return 0;
    }
    if (u == 0x20AC || u == 0x2122) {
        b = u == 0x20AC ? 0x80 : 0x99;
        return 0;
    }
    // Only these ranges hold characters of the table.
    if (within(u, 0x0152, 0x0197) || within(u, 0x02C0, 0x02DF) || within(u, 0x2010, 0x203F)) {
        for (u8 i = 0; i < 32; ++i) {
            if (kCP1252High[i] == u) {
                b = u8(0x80 + i);
                return 0;
            }
        }
    }
    b = '?';
    return Err::kCharConversion;
}

// Mac OS Roman from 0x80 to 0xFF.
constexpr unit kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

// Byte order of the UCS classes: `little` is their flag.
u32 readOrdered(const u8* p, u32 size, bool little) {
    u32 value = 0;
    for (u32 k = 0; k < size; ++k)
        value = (value << 8) | p[little ? size - 1 - k : k];
    return value;
}

void writeOrdered(u8* p, u32 size, bool little, u32 value) {
    for (u32 k = 0; k < size; ++k)
        p[little ? k : size - 1 - k] = u8(value >> (8 * k));
}

// One unit from each `size` bytes; UCS-4 keeps the low 16 bits of a code
// point only. A lone byte at the end, or no room, gives 38.
i32 decodeFixed(const char* bytes, u32& byteCount, unit* out, u32& unitCount, u32 size, bool little) {
    const u8* in = reinterpret_cast<const u8*>(bytes);
    const u32 inLength = byteCount, room = unitCount;
    u32 i = 0, o = 0;
    while (inLength - i >= size && o < room) {
        out[o++] = unit(readOrdered(in + i, size, little));
        i += size;
    }
    byteCount = i;
    unitCount = o;
    return i < inLength ? Err::kPartialCharacter : 0;
}

// The loop of the classes that write whole code points: `put` writes one
// into the room left and answers the bytes it took, 0 when it does not fit;
// `noRoom` is the status that then ends the conversion.
template <class Put>
i32 encodeCodePoints(const unit* units, u32& unitCount, char* out, u32& byteCount, i32 noRoom, Put put) {
    u8* p = reinterpret_cast<u8*>(out);
    const u32 inLength = unitCount, room = byteCount;
    u32 i = 0, o = 0;
    i32 status = 0;
    while (i < inLength) {
        u32 cp = 0, step = 1;
        status = readCodePoint(units, i, inLength, cp, step);
        if (status != 0)
            break;
        const u32 size = put(cp, p + o, room - o);
        if (size == 0) {
            status = noRoom;
            break;
        }
        o += size;
        i += step;
    }
    unitCount = i;
    byteCount = o;
    return status;
}

}  // namespace

// ---------------------------------------------------------------------------
// Base: no counts, no conversions.

Encoder* Encoder::createEncoder(const String&) const { return nullptr; }

i32 Encoder::getCharCount(const char*, i32, u32& unitCount) const {
    unitCount = kEncoderNoCount;
    return 0;
}

i32 Encoder::getByteCount(const unit*, i32, u32& byteCount) const {
    byteCount = kEncoderNoCount;
    return 0;
}

i32 Encoder::decode(const char*, u32&, unit*, u32&) const { return Err::kInternal; }

i32 Encoder::encode(const unit*, u32&, char*, u32&) const { return Err::kInternal; }

// ---------------------------------------------------------------------------
// ASCII

void AsciiEncoder::getNames(String& out) const {
    out = "US-ASCII,ASCII,ISO646-US,ISO_646.IRV:1991,ISO-IR-6,ANSI_X3.4-1968,CP367,IBM367,US,"
          "ISO646.1991-IRV";
}

i32 AsciiEncoder::getCharCount(const char*, i32 byteCount, u32& unitCount) const {
    return countUnits(byteCount, 1, unitCount);
}

i32 AsciiEncoder::getByteCount(const unit*, i32 unitCount, u32& byteCount) const {
    return countBytes(unitCount, 1, byteCount);
}

i32 AsciiEncoder::decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const {
    return decodeEachByte(bytes, byteCount, out, unitCount, [](u8 b, unit& u) {
        u = b < 0x80 ? unit(b) : unit(0xFFFD);
        return b < 0x80 ? 0 : Err::kCharConversion;
    });
}

i32 AsciiEncoder::encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const {
    return encodeEachUnit(units, unitCount, out, byteCount, [](unit u, u8& b) {
        b = u < 0x80 ? u8(u) : u8('?');
        return u < 0x80 ? 0 : Err::kCharConversion;
    });
}

// ---------------------------------------------------------------------------
// BINARY

void BinaryEncoder::getNames(String& out) const { out = "BINARY"; }

i32 BinaryEncoder::getCharCount(const char*, i32 byteCount, u32& unitCount) const {
    return countUnits(byteCount, 1, unitCount);
}

i32 BinaryEncoder::getByteCount(const unit*, i32 unitCount, u32& byteCount) const {
    return countBytes(unitCount, 1, byteCount);
}

i32 BinaryEncoder::decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const {
    return decodeEachByte(bytes, byteCount, out, unitCount, [](u8 b, unit& u) {
        u = b;
        return 0;
    });
}

i32 BinaryEncoder::encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const {
    return encodeEachUnit(units, unitCount, out, byteCount, [](unit u, u8& b) {
        b = u8(u);
        return 0;
    });
}

// ---------------------------------------------------------------------------
// CP1252 and strict ISO-8859-1

void CP1252Encoder::getNames(String& out) const { out = "CP1252,WINDOWS-1252,MS-ANSI"; }

void ISO88591Encoder::getNames(String& out) const {
    out = "ISO-8859-1,ISO-8859-1,ISO-8859-1:1987,ISO-IR-100,LATIN1";
}

i32 CP1252Encoder::getCharCount(const char*, i32 byteCount, u32& unitCount) const {
    return countUnits(byteCount, 1, unitCount);
}

i32 CP1252Encoder::getByteCount(const unit*, i32 unitCount, u32& byteCount) const {
    return countBytes(unitCount, 1, byteCount);
}

i32 CP1252Encoder::decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const {
    const bool strict = flag != 0;
    return decodeEachByte(bytes, byteCount, out, unitCount, [strict](u8 b, unit& u) {
        if (b < 0x80 || b > 0x9F) {
            u = b;
            return 0;
        }
        u = strict ? unit(0xFFFD) : kCP1252High[b - 0x80];
        return strict ? Err::kCannotConvert : 0;
    });
}

i32 CP1252Encoder::encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const {
    const bool strict = flag != 0;
    return encodeEachUnit(units, unitCount, out, byteCount, [strict](unit u, u8& b) {
        i32 status = cp1252Byte(u, b);
        if (strict && b >= 0x80 && b <= 0x9F) {
            b = '?';
            status = Err::kCharConversion;
        }
        return status;
    });
}

// ---------------------------------------------------------------------------
// MacRoman

void MacRomanEncoder::getNames(String& out) const { out = "MACINTOSH,MAC-ROMAN"; }

i32 MacRomanEncoder::getCharCount(const char*, i32 byteCount, u32& unitCount) const {
    return countUnits(byteCount, 1, unitCount);
}

i32 MacRomanEncoder::getByteCount(const unit*, i32 unitCount, u32& byteCount) const {
    return countBytes(unitCount, 1, byteCount);
}

i32 MacRomanEncoder::decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const {
    return decodeEachByte(bytes, byteCount, out, unitCount, [](u8 b, unit& u) {
        u = b < 0x80 ? unit(b) : kMacRomanHigh[b - 0x80];
        return 0;
    });
}

i32 MacRomanEncoder::encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const {
    return encodeEachUnit(units, unitCount, out, byteCount, [](unit u, u8& b) {
        if (u < 0x80) {
            b = u8(u);
            return 0;
        }
        const unit* end = kMacRomanHigh + 128;
        const unit* at = std::find(kMacRomanHigh, end, u);
        b = at != end ? u8(0x80 + (at - kMacRomanHigh)) : u8('?');
        return at != end ? 0 : Err::kCharConversion;
    });
}

// ---------------------------------------------------------------------------
// UCS-2: two bytes per unit in the order of `flag`.

void UCS2Encoder::getNames(String& out) const {
    out = "UCS2,UCS-2,ISO-10646-UCS-2,UTF16,UTF-16,ISO-10646-UTF-16";
}

void UCS2beEncoder::getNames(String& out) const {
    out = "UCS2BE,UCS-2BE,ISO-10646-UCS-2BE,UTF16BE,UTF-16BE,ISO-10646-UTF16BE";
}

void UCS2leEncoder::getNames(String& out) const {
    out = "UCS2LE,UCS-2LE,ISO-10646-UCS-2LE,UTF16LE,UTF-16LE,ISO-10646-UTF16LE";
}

i32 UCS2Encoder::getCharCount(const char*, i32 byteCount, u32& unitCount) const {
    return countUnits(byteCount, 2, unitCount);
}

i32 UCS2Encoder::getByteCount(const unit*, i32 unitCount, u32& byteCount) const {
    return countBytes(unitCount, 2, byteCount);
}

i32 UCS2Encoder::decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const {
    return decodeFixed(bytes, byteCount, out, unitCount, 2, flag != 0);
}

i32 UCS2Encoder::encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const {
    u8* p = reinterpret_cast<u8*>(out);
    const u32 inLength = unitCount, room = byteCount;
    u32 i = 0, o = 0;
    while (i < inLength && room - o >= 2) {
        writeOrdered(p + o, 2, flag != 0, units[i++]);
        o += 2;
    }
    unitCount = i;
    byteCount = o;
    return i < inLength ? Err::kPartialCharacter : 0;
}

// ---------------------------------------------------------------------------
// UCS-4: four bytes per code point in the order of `flag`.

void UCS4Encoder::getNames(String& out) const { out = "UCS4,UCS-4,ISO-10646-UCS-4,UTF-32,UTF32"; }

void UCS4beEncoder::getNames(String& out) const {
    out = "UCS4BE,UCS-4BE,ISO-10646-UCS-4BE,UTF-32BE,UTF32BE";
}

void UCS4leEncoder::getNames(String& out) const {
    out = "UCS4LE,UCS-4LE,ISO-10646-UCS-4LE,UTF-32LE,UTF32LE";
}

i32 UCS4Encoder::getCharCount(const char*, i32 byteCount, u32& unitCount) const {
    return countUnits(byteCount, 4, unitCount);
}

// An upper bound: a surrogate pair takes four bytes, not eight.
i32 UCS4Encoder::getByteCount(const unit*, i32 unitCount, u32& byteCount) const {
    return countBytes(unitCount, 4, byteCount);
}

i32 UCS4Encoder::decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const {
    return decodeFixed(bytes, byteCount, out, unitCount, 4, flag != 0);
}

i32 UCS4Encoder::encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const {
    const bool little = flag != 0;
    return encodeCodePoints(units, unitCount, out, byteCount, Err::kPartialCharacter,
                            [little](u32 cp, u8* p, u32 room) -> u32 {
                                if (room < 4)
                                    return 0;
                                writeOrdered(p, 4, little, cp);
                                return 4;
                            });
}

// ---------------------------------------------------------------------------
// UTF-8

u32 utf8LeadLength(u8 lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xC0) return 0;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF8) return 4;
    if (lead < 0xFC) return 5;
    if (lead < 0xFE) return 6;
    return 0;
}

bool readUtf8(const u8* p, u32 length, u32& value) {
    // The payload bits of the lead byte, by sequence length.
    static constexpr u8 kLeadMask[7] = {0, 0x7F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
    value = p[0] & kLeadMask[length];
    bool continues = true;
    for (u32 k = 1; k < length; ++k) {
        continues &= (p[k] & 0xC0) == 0x80;
        value = (value << 6) | (p[k] & 0x3F);
    }
    return continues;
}

// Bytes below 0x80 from p on, up to end, eight at a time while a whole
// word is ASCII: most script text is, and each such byte is one unit.
u32 asciiRun(const u8* p, const u8* end) {
    constexpr u64 kHighBits = 0x8080808080808080ull;
    const u8* start = p;
    while (end - p >= 8) {
        u64 word;
        std::memcpy(&word, p, sizeof word);
        if (word & kHighBits)
            break;
        p += 8;
    }
    while (p < end && *p < 0x80)
        ++p;
    return u32(p - start);
}

// The same run widened into out as it is found, in one pass: n is at most
// what both input and output hold.
u32 widenAsciiRun(const u8* p, u32 n, unit* out) {
    constexpr u64 kHighBits = 0x8080808080808080ull;
    u32 k = 0;
    for (; n - k >= 8; k += 8) {
        u64 word;
        std::memcpy(&word, p + k, sizeof word);
        if (word & kHighBits)
            break;
        // Through locals that alias nothing, so that the widening is one
        // vector step.
        u8 bytes[8];
        unit units[8];
        std::memcpy(bytes, &word, sizeof bytes);
        for (u32 b = 0; b < 8; ++b)
            units[b] = bytes[b];
        std::memcpy(out + k, units, sizeof units);
    }
    for (; k < n && p[k] < 0x80; ++k)
        out[k] = p[k];
    return k;
}

void UTF8Encoder::getNames(String& out) const {
    out = "UTF-8,UTF8,UNICODE-1-1-UTF-8,UNICODE-2-0-UTF-8,UNICODE-2-0-UTF-8";
}

// Steps by lead bytes only: a quick upper bound that sizes the output.
i32 UTF8Encoder::getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const {
    const u8* in = reinterpret_cast<const u8*>(bytes);
    u32 count = 0;
    i32 status = 0;
    for (i32 i = 0; i < byteCount;) {
        const u32 ascii = asciiRun(in + i, in + byteCount);
        count += ascii;
        i += i32(ascii);
        if (i >= byteCount)
            break;
        u32 len = utf8LeadLength(in[i]);
        if (len == 0 || len > 4) {
            status = Err::kCharConversion;
            break;
        }
        count += len == 4 ? 2 : 1;
        i += i32(len);
    }
    unitCount = count;
    return status;
}

i32 UTF8Encoder::getByteCount(const unit* units, i32 unitCount, u32& byteCount) const {
    u64 count = 0;  // three bytes a unit can outgrow 32 bits
    i32 status = 0;
    for (i32 i = 0; i < unitCount; ++i) {
        u32 u = units[i];
        if (isHighSurrogate(u)) {
            if (i + 1 >= unitCount) {
                count += 3;
                status = Err::kPartialCharacter;
                break;
            }
            if (!isLowSurrogate(units[i + 1])) {
                status = Err::kCharConversion;
                break;
            }
            count += 4;
            ++i;
        } else {
            count += utf8Length(u);
        }
    }
    byteCount = count < kEncoderNoCount ? u32(count) : kEncoderNoCount;
    return status;
}

i32 UTF8Encoder::decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const {
    const u8* in = reinterpret_cast<const u8*>(bytes);
    const u32 inLength = byteCount, room = unitCount;
    u32 i = 0, o = 0;
    i32 status = 0;
    while (i < inLength && o < room) {
        const u32 ascii = widenAsciiRun(in + i, std::min(inLength - i, room - o), out + o);
        i += ascii;
        o += ascii;
        if (i >= inLength || o >= room)
            break;
        u32 len = utf8LeadLength(in[i]);
        if (len == 0) {
            status = Err::kCharConversion;
            break;
        }
        if (inLength - i < len) {
            status = Err::kPartialCharacter;
            break;
        }
        u32 value = 0;
        if (!readUtf8(in + i, len, value) || value < kMinValue[len] || value > 0x10FFFF) {
            out[o++] = 0xFFFD;
            i += len;
            status = Err::kCharConversion;
            break;
        }
        if (value >= 0x10000) {
            if (room - o < 2) {
                status = Err::kPartialCharacter;
                break;
            }
            value -= 0x10000;
            out[o++] = unit(0xD800 + (value >> 10));
            out[o++] = unit(0xDC00 + (value & 0x3FF));
        } else {
            out[o++] = unit(value);
        }
        i += len;
    }
    byteCount = i;
    unitCount = o;
    return status;
}

// No room stops the conversion where it is, which is not an error here.
i32 UTF8Encoder::encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const {
    return encodeCodePoints(units, unitCount, out, byteCount, 0, [](u32 cp, u8* p, u32 room) -> u32 {
        return room < utf8Length(cp) ? 0 : writeUtf8(cp, p);
    });
}

// ---------------------------------------------------------------------------
// Code-page encoders

namespace {

// Rows are searched in this order; some names lead to other pages than they
// say (ISO-8859-3 is 28591, and IBM850 stops at 850 before 437 is reached).
struct CodePageRow {
    u16 codePage;
    u16 width;
    const char* aliases;
};

constexpr CodePageRow kCodePageRows[] = {
    {10000, 1, "MACINTOSH,MAC-ROMAN"},
    {65000, 0, "UTF-7,UTF7,UNICODE-1-1-UTF-7,UNICODE-2-0-UTF-7"},
    {28592, 0, "ISO-8859-2,ISO-8859-2,ISO-8859-2:1987,ISO-IR-101,LATIN2"},
    {28591, 0, "ISO-8859-3,ISO-8859-3,ISO-8859-3:1988,ISO-IR-109,LATIN3"},
    {28594, 0, "ISO-8859-4,ISO-8859-4,ISO-8859-4:1988,ISO-IR-110,LATIN4,BALTIC"},
    {28595, 0, "ISO-8859-5,ISO-8859-5,ISO-8859-5:1988,ISO-IR-144,CYRILLIC"},
    {28596, 0, "ISO-8859-6,ISO-8859-6,ISO-8859-6:1987,ISO-IR-127,ECMA-114,ASMO-708,ARABIC"},
    {28597, 0, "ISO-8859-7,ISO-8859-7,ISO-8859-7:1987,ISO-IR-126,ECMA-118,ELOT-928,GREEK8,GREEK"},
    {28598, 0, "ISO-8859-8,ISO-8859-8,ISO-8859-8:1988,ISO-IR-138,HEBREW"},
    {28599, 0, "ISO-8859-9,ISO-8859-9,ISO-8859-9:1989,ISO-IR-148,LATIN5,TURKISH"},
    {28600, 0, "ISO-8859-10,ISO-8859-10,ISO-8859-10:1992,ISO-IR-157,LATIN6"},
    {28603, 0, "ISO-8859-13,ISO-8859-13,ISO-IR-179,LATIN7"},
    {28604, 0, "ISO-8859-14,ISO-8859-14,ISO-8859-14,ISO-8859-14:1998,ISO-IR-199,LATIN8"},
    {28605, 0, "ISO-8859-15,ISO-8859-15,ISO-8859-15:1998,ISO-IR-203"},
    {28606, 0, "ISO-8859-16,ISO-885,ISO-885,MS-EE"},
    {850, 1, "IBM850"},
    {866, 0, "IBM866"},
    {932, 0, "SJIS,SHIFT-JIS,MS-SJIS,MS-KANJI"},
    {936, 0, "GBK,WINDOWS-936,GB2312,GB-2312-80,ISO-IR-58,CHINESE"},
    {949, 0, "UHC,KSC-5601,KS-C-5601-1987,KS-C-5601-1989,ISO-IR-149,KOREAN"},
    {950, 0, "BIG5,BIG-5,BIG-FIVE,BIGFIVE,CN-BIG5"},
    {1251, 0, "MS-CYRL"},
    {1252, 1, "MS-ANSI"},
    {1253, 0, "MS-GREEK"},
    {1254, 0, "MS-TURK"},
    {1255, 0, "MS-HEBR"},
    {1256, 0, "MS-ARAB"},
    {1257, 0, "WINBALTRIM"},
    {1361, 0, "JOHAB"},
    {51932, 0, "EUC-JP,EUCJP"},
    {51949, 0, "EUC-KR,EUCKR"},
    {52936, 0, "HZ,HZ-GB-2312"},
    {10001, 0, "MAC-JAPANESE"},
    {10006, 0, "MAC-GREEK"},
    {10007, 0, "MAC-CYRILLIC"},
    {10029, 0, "MAC-LATIN"},
    {10079, 0, "MAC-ICELANDIC"},
    {10081, 0, "MAC-TURKISH"},
    {437, 1, "IBM850"},
    {709, 0, "CP709,WINDOWS-709,ASMO-449,BCONV4"},
    {1026, 0, "EBCDIC"},
    {20866, 0, "KOI-8R"},
    {21886, 0, "KOI-8U"},
    {50220, 0, "ISO-2022-JP"},
    {50225, 0, "ISO-2022-KR"},
    {0, 0, nullptr},
};

// Pages whose conversions take no flags at all.
bool refusesFlags(u32 page) {
    switch (page) {
        case 50220: case 50221: case 50222: case 50225: case 50227: case 50229:
        case 52936: case 54936: case 65000: case 65001:
            return true;
        default:
            return page >= 57002 && page <= 57011;
    }
}

const CodePageRow* rowOfPage(u32 page) {
    for (const CodePageRow* row = kCodePageRows; row->codePage; ++row)
        if (row->codePage == page)
            return row;
    return nullptr;
}

String framed(const String& text) {
    String s(",");
    s += text;
    s += ',';
    return s;
}

// A name holding a comma is no name, even where it matches part of a row.
const CodePageRow* rowOfName(const String& name) {
    if (name.find(unit(',')) >= 0)
        return nullptr;
    const String wanted = framed(name);
    for (const CodePageRow* row = kCodePageRows; row->codePage; ++row)
        if (framed(String(row->aliases)).find(wanted) >= 0)
            return row;
    return nullptr;
}

bool isDigit(unit u) { return u >= '0' && u <= '9'; }

// The number that starts at `from`; past 32 bits it is no page at all.
bool readNumber(const String& text, i32 from, u32& page) {
    u64 value = 0;
    for (i32 i = from; i < text.length() && isDigit(text[i]); ++i) {
        value = value * 10 + u64(text[i] - '0');
        if (value > 0xFFFFFFFFu)
            return false;
    }
    page = u32(value);
    return true;
}

// "CP" and a digit, or "WINDOWS-" and a digit with more after it, name a page
// by number; anything else is looked up by name.
enum class PageSpelling { kName, kNumber, kTooLarge };

PageSpelling spelledPage(const String& name, u32& page) {
    i32 from = -1;
    if (name.length() >= 3 && name.compare("CP", 2) == 0 && isDigit(name[2]))
        from = 2;
    else if (name.length() > 9 && name.compare("WINDOWS-", 8) == 0 && isDigit(name[8]))
        from = 8;
    if (from < 0)
        return PageSpelling::kName;
    return readNumber(name, from, page) ? PageSpelling::kNumber : PageSpelling::kTooLarge;
}

String decimal(u32 n) {
    char digits[12];
    i32 at = sizeof digits;
    digits[--at] = 0;
    do {
        digits[--at] = char('0' + n % 10);
        n /= 10;
    } while (n);
    return String(digits + at);
}

// The canonical name of a page, which every code-page encoder carries.
String pageName(u32 page) {
    String s("CP");
    s += decimal(page);
    return s;
}

// Upper case with '_' read as '-', for one name or a whole alias list.
String normalizeList(const String& text) {
    String s(text);
    s.toUpper();
    s.replaceAll(unit('_'), unit('-'));
    return s;
}

// A leading "X-" does not count in one name.
String dropExperimental(const String& name) {
    return name.length() >= 2 && name.compare("X-", 2) == 0 ? name.substr(2) : name;
}

String normalizeName(const String& name) { return dropExperimental(normalizeList(name)); }

// Maps a status the layer reports to the encoder's; a result that does not
// fit the room delivers nothing.
i32 finishConversion(const CodePageResult& r, u32& inCount, u32& outCount, bool hasOutput) {
    const u64 room = hasOutput ? outCount : 0;
    i32 status = 0;
    switch (r.stop) {
        case CodePageStop::kDone: status = r.substituted ? Err::kCharConversion : 0; break;
        case CodePageStop::kInvalid: status = Err::kCharConversion; break;
        case CodePageStop::kIncomplete: status = Err::kPartialCharacter; break;
        case CodePageStop::kNoConverter: status = Err::kCannotConvert; break;
    }
    if (r.stop == CodePageStop::kNoConverter || r.produced > room) {
        inCount = 0;
        outCount = 0;
        return r.stop == CodePageStop::kDone ? Err::kPartialCharacter : status;
    }
    inCount = r.consumed;
    outCount = u32(r.produced);
    return status;
}

}  // namespace

UniversalEncoder::UniversalEncoder(u32 codePage, u32 width, const String& names)
    : names(names), data(new EncoderData) {
    this->width = width;
    data->codePage = codePage;
    if (!refusesFlags(codePage))
        data->toUnicodeFlags = kCodePagePrecomposed | kCodePageFailOnInvalid;
}

UniversalEncoder::~UniversalEncoder() { delete data; }

// Case and '_' are normalised for callers other than the registry; a leading
// "X-" is not, since the registry has dropped it already and may not twice.
Encoder* UniversalEncoder::create(const String& text) {
    const String name = normalizeList(text);
    if (name.isEmpty())
        return currentEncoder();
    u32 page = 0;
    const CodePageRow* row = nullptr;
    switch (spelledPage(name, page)) {
        case PageSpelling::kTooLarge:
            return nullptr;
        case PageSpelling::kNumber:
            row = rowOfPage(page);
            break;
        case PageSpelling::kName:
            row = rowOfName(name);
            if (!row)
                return nullptr;
            page = row->codePage;
            break;
    }
    if (!platformCodePageKnown(page))
        return nullptr;
    String names(row ? row->aliases : "");
    if (!names.isEmpty())
        names += ',';
    names += pageName(page);
    names += ",WINDOWS-";
    names += decimal(page);
    return new UniversalEncoder(page, row ? row->width : 0, names);
}

void UniversalEncoder::getNames(String& out) const { out = names; }

i32 UniversalEncoder::getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const {
    unitCount = 0;
    if (!bytes || byteCount <= 0)
        return 0;
    CodePageResult r = platformCodePageToUnicode(data->codePage, data->toUnicodeFlags, bytes,
                                                 u32(byteCount), nullptr, 0);
    if (r.stop != CodePageStop::kDone)
        return Err::kCannotConvert;
    unitCount = countOrNone(r.produced);
    return 0;
}

i32 UniversalEncoder::getByteCount(const unit* units, i32 unitCount, u32& byteCount) const {
    byteCount = 0;
    if (!units || unitCount <= 0)
        return 0;
    CodePageResult r = platformCodePageFromUnicode(data->codePage, data->fromUnicodeFlags, units,
                                                   u32(unitCount), nullptr, 0);
    if (r.stop == CodePageStop::kIncomplete) {
        byteCount = countOrNone(r.produced);
        return Err::kPartialCharacter;
    }
    if (r.stop != CodePageStop::kDone)
        return Err::kCharConversion;
    byteCount = countOrNone(r.produced);
    return 0;
}

i32 UniversalEncoder::decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const {
    if (!bytes || byteCount == 0) {
        byteCount = unitCount = 0;
        return 0;
    }
    CodePageResult r = platformCodePageToUnicode(data->codePage, data->toUnicodeFlags, bytes,
                                                 byteCount, out, out ? unitCount : 0);
    return finishConversion(r, byteCount, unitCount, out != nullptr);
}

i32 UniversalEncoder::encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const {
    if (!units || unitCount == 0) {
        unitCount = byteCount = 0;
        return 0;
    }
    CodePageResult r = platformCodePageFromUnicode(data->codePage, data->fromUnicodeFlags, units,
                                                   unitCount, out, out ? byteCount : 0);
    return finishConversion(r, unitCount, byteCount, out != nullptr);
}

// ---------------------------------------------------------------------------
// The registry

namespace {

struct EncoderRegistry : Root {
    THashTable<Encoder> names;          // normalised alias -> encoder
    TSimpleArray<Encoder> list;         // owned, in registration order
    // Owned too: encoders a later one took every name from. A file or a
    // thread may still hold one, so they live as long as the registry.
    TSimpleArray<Encoder> retired;
    Encoder* ascii = nullptr;
    Encoder* binary = nullptr;
    Encoder* utf8 = nullptr;
    Encoder* ucs4 = nullptr;
    Encoder* system = nullptr;          // made on first use
};

EncoderRegistry* registry = nullptr;

bool owns(const Encoder* e) {
    return registry->list.find(e) >= 0 || registry->retired.find(e) >= 0;
}

// `loser` has no name left: `winner` stands in for it wherever the registry
// points at it.
void retire(Encoder* loser, Encoder* winner) {
    EncoderRegistry& r = *registry;
    r.retired.add(loser);
    r.list.remove(loser);
    for (Encoder** slot : {&r.system, &r.ascii, &r.binary})
        if (*slot == loser)
            *slot = winner;
    if (ThreadData* t = ThreadData::find(); t && t->encoder == loser)
        t->encoder = winner;
}

// Called under the registry guard. Throws with `e` not taken when it cannot
// be listed; once listed, the registry owns it.
void registerLocked(Encoder* e) {
    EncoderRegistry& r = *registry;
    if (r.list.find(e) < 0) {
        r.list.add(e);
        i32 at = r.retired.find(e);
        if (at >= 0)
            r.retired.removeAt(at);
    }
    String aliases;
    e->getNames(aliases);
    aliases = normalizeList(aliases);
    TSimpleArray<Encoder> previous;
    for (i32 from = 0; from <= aliases.length();) {
        i32 comma = aliases.find(unit(','), from);
        if (comma < 0)
            comma = aliases.length();
        const String name = dropExperimental(aliases.substr(from, comma - from));
        from = comma + 1;
        if (name.isEmpty())
            continue;
        Encoder* old = r.names.get(name);
        r.names.put(name, e);
        if (old && old != e && previous.find(old) < 0)
            previous.add(old);
    }
    for (i32 i = 0; i < previous.getCount(); ++i) {
        Encoder* old = previous.get(i);
        if (!r.names.findByValue(old) && r.list.find(old) >= 0)
            retire(old, e);
    }
}

// Registers an encoder made here; one that could not be listed is deleted.
Encoder* adopt(Encoder* e) {
    try {
        registerLocked(e);
    } catch (...) {
        if (!owns(e))
            delete e;
        throw;
    }
    return e;
}

// Steps of a lookup under the guard: the name table, then a code-page encoder.
Encoder* findOrBuildLocked(const String& key) {
    if (Encoder* e = registry->names.get(key))
        return e;
    Encoder* made = UniversalEncoder::create(key);
    if (!made)
        return nullptr;
    // Each page is built once: another spelling of its number ("CP01252")
    // finds the encoder that the page's own name has.
    const u32 page = static_cast<UniversalEncoder*>(made)->codePage();
    if (Encoder* known = registry->names.get(pageName(page))) {
        delete made;
        return known;
    }
    return adopt(made);
}

}  // namespace

void initEncoders(bool start) {
    if (!start) {
        if (!registry)
            return;
        if (ThreadData* t = ThreadData::find())
            t->encoder = nullptr;
        for (const TSimpleArray<Encoder>* owned : {&registry->list, &registry->retired})
            for (i32 i = 0; i < owned->getCount(); ++i)
                delete owned->get(i);
        delete registry;
        registry = nullptr;
        return;
    }
    if (registry)
        return;
    registry = new EncoderRegistry;
    try {
        EncoderRegistry& r = *registry;
        r.ascii = adopt(new AsciiEncoder);
        r.binary = adopt(new BinaryEncoder);
        adopt(new CP1252Encoder);
        adopt(new ISO88591Encoder);
        adopt(new UCS2Encoder);
        adopt(new UCS2beEncoder);
        adopt(new UCS2leEncoder);
        r.ucs4 = adopt(new UCS4Encoder);
        adopt(new UCS4beEncoder);
        adopt(new UCS4leEncoder);
        r.utf8 = adopt(new UTF8Encoder);
        adopt(new MacRomanEncoder);
    } catch (...) {
        initEncoders(false);
        throw;
    }
}

void registerEncoder(Encoder* encoder) {
    if (!encoder || !registry)
        return;
    GlobalLockGuard guard(kEncoderLock);
    registerLocked(encoder);
}

Encoder* findEncoder(const String& name) {
    if (!registry)
        return nullptr;
    const String key = normalizeName(name);
    // Never registered: the current encoder may be one the caller owns.
    if (key.isEmpty())
        return currentEncoder();
    {
        GlobalLockGuard guard(kEncoderLock);
        if (Encoder* e = registry->names.get(key))
            return e;
    }
    GlobalLockGuard guard(kEncoderLock);
    if (Encoder* e = findOrBuildLocked(key))
        return e;
    // Last, any listed encoder may know the name.
    for (i32 i = 0; i < registry->list.getCount(); ++i) {
        Encoder* offered = registry->list.get(i)->createEncoder(key);
        if (!offered)
            continue;
        if (!owns(offered))
            adopt(offered);
        registry->names.put(key, offered);
        return offered;
    }
    return nullptr;
}

Encoder* findEncoder(const char* name) { return registry ? findEncoder(String(name)) : nullptr; }

Encoder* asciiEncoder() { return registry ? registry->ascii : nullptr; }

Encoder* binaryEncoder() { return registry ? registry->binary : nullptr; }

Encoder* utf8Encoder() {
    if (registry && registry->utf8)
        return registry->utf8;
    // For URI and system text before the registry has its own, and after it ends.
    static UTF8Encoder early;
    return &early;
}

Encoder* systemEncoder() {
    if (!registry)
        return nullptr;
    GlobalLockGuard guard(kEncoderLock);
    if (registry->system)
        return registry->system;
    // Conversions made meanwhile use ASCII.
    ThreadData* t = ThreadData::get();
    Encoder* const saved = t->encoder;
    registry->system = registry->ascii;
    t->encoder = registry->ascii;
    try {
        if (Encoder* e = findOrBuildLocked(normalizeName(getAnsiCodePageName())))
            registry->system = e;
    } catch (...) {
        registry->system = nullptr;     // try again next time
        t->encoder = saved;
        throw;
    }
    t->encoder = saved;
    return registry->system;
}

Encoder* currentEncoder() {
    if (!registry)
        return nullptr;
    if (InitTerm::isStartingUp())
        return registry->ascii;
    ThreadData* t = ThreadData::get();
    if (!t->encoder)
        t->encoder = systemEncoder();
    return t->encoder;
}

void setCurrentEncoder(Encoder* encoder) {
    if (registry)
        ThreadData::get()->encoder = encoder;
}

}  // namespace LxCore
