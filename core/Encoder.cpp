#include "core/Encoder.h"

#include "core/String.h"

namespace LxCore {

namespace {

// Core error numbers the conversions report.
constexpr i32 kInternalError = -33;
constexpr i32 kConversionError = 37;
constexpr i32 kPartialCharacter = 38;

bool isHighSurrogate(u32 u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(u32 u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Length of the UTF-8 sequence a lead byte announces; 0 when the byte cannot
// lead (a continuation byte, 0xFE, 0xFF).
u32 utf8SequenceLength(u8 b) {
    if (b < 0x80) return 1;
    if (b < 0xC0) return 0;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    if (b < 0xF8) return 4;
    if (b < 0xFC) return 5;
    if (b < 0xFE) return 6;
    return 0;
}

// Indexed by sequence length: the payload bits of the lead byte and the
// smallest value that needs that many bytes (anything less is overlong).
constexpr u8 kLeadMask[7] = {0, 0x7F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
constexpr u32 kMinValue[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x200000};

u32 utf8Length(u32 cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

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

i32 Encoder::decode(const char*, u32&, unit*, u32&) const { return kInternalError; }

i32 Encoder::encode(const unit*, u32&, char*, u32&) const { return kInternalError; }

// ---------------------------------------------------------------------------
// UTF-8

void UTF8Encoder::getNames(String& out) const {
    out = "UTF-8,UTF8,UNICODE-1-1-UTF-8,UNICODE-2-0-UTF-8,UNICODE-2-0-UTF-8";
}

// Steps by lead bytes only: a quick upper bound that sizes the output.
i32 UTF8Encoder::getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const {
    u32 count = 0;
    i32 status = 0;
    for (i32 i = 0; i < byteCount;) {
        u32 len = utf8SequenceLength(u8(bytes[i]));
        if (len == 0 || len > 4) {
            status = kConversionError;
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
                status = kPartialCharacter;
                break;
            }
            if (!isLowSurrogate(units[i + 1])) {
                status = kConversionError;
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
        u32 len = utf8SequenceLength(in[i]);
        if (len == 0) {
            status = kConversionError;
            break;
        }
        if (inLength - i < len) {
            status = kPartialCharacter;
            break;
        }
        u32 value = in[i] & kLeadMask[len];
        bool bad = false;
        for (u32 k = 1; k < len; ++k) {
            u8 c = in[i + k];
            bad |= (c & 0xC0) != 0x80;
            value = (value << 6) | (c & 0x3F);
        }
        if (bad || value < kMinValue[len] || value > 0x10FFFF) {
            out[o++] = 0xFFFD;
            i += len;
            status = kConversionError;
            break;
        }
        if (value >= 0x10000) {
            if (room - o < 2) {
                status = kPartialCharacter;
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

i32 UTF8Encoder::encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const {
    const u32 inLength = unitCount, room = byteCount;
    u32 i = 0, o = 0;
    i32 status = 0;
    while (i < inLength) {
        u32 cp = units[i], step = 1;
        if (isLowSurrogate(cp)) {
            status = kConversionError;
            break;
        }
        if (isHighSurrogate(cp)) {
            if (i + 1 >= inLength) {
                status = kPartialCharacter;
                break;
            }
            if (!isLowSurrogate(units[i + 1])) {
                status = kConversionError;
                break;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            step = 2;
        }
        u32 len = utf8Length(cp);
        if (room - o < len) break;  // no room: stop where we are, not an error
        u8* p = reinterpret_cast<u8*>(out + o);
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
        o += len;
        i += step;
    }
    unitCount = i;
    byteCount = o;
    return status;
}

// ---------------------------------------------------------------------------
// Seams until the encoder registry exists.

Encoder* currentEncoder() { return nullptr; }

Encoder* utf8Encoder() {
    static UTF8Encoder encoder;
    return &encoder;
}

}  // namespace LxCore
