// String formatting and conversion: printf-style formatting over UTF-16,
// number text, script literals, URI coding, line breaks, case mapping and
// the byte conversions through encoders.
#include <clocale>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <new>

#include "core/CharClass.h"
#include "core/Encoder.h"
#include "core/ErrorCodes.h"
#include "core/Heap.h"
#include "core/String.h"
#include "core/ThreadData.h"

namespace LxCore {

namespace {

constexpr char kLowerDigits[] = "0123456789abcdef";
constexpr char kUpperDigits[] = "0123456789ABCDEF";

// A width is padding we must allocate, so a huge or hostile one is cut to
// this; a precision only ever limits output and merely saturates.
constexpr i32 kMaxFieldWidth = 0x10000;

// Encoders are fed at most this much at a time when they cannot count ahead.
constexpr u32 kChunk = 2048;

// Scratch buffers above this size are given back when a shorter text comes.
constexpr u32 kScratchKeep = 16384;

String::ZStringResolver gResolveZString = nullptr;
String::TextLocalizer gLocalizeText = nullptr;

int hexDigit(unit c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isLineEnd(unit c) { return c == 0 || c == 10 || c == 13 || c == 0x2028 || c == 0x2029; }

bool isUpperAscii(unit c) { return c >= 'A' && c <= 'Z'; }

// Core-heap bytes that go away with the scope.
class ByteBuffer {
public:
    explicit ByteBuffer(u64 n) : p(static_cast<char*>(Heap::alloc(n ? n : 1))) {}
    ~ByteBuffer() { Heap::free(p); }
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    char* get() const { return p; }

private:
    char* p;
};

void appendAscii(String& out, const char* text, i32 n) {
    i32 old = out.length();
    out.setLength(old + n);
    unit* p = out.getBuffer() + old;
    for (i32 i = 0; i < n; ++i) p[i] = u8(text[i]);
}

// Appends n copies of one unit in one step.
void appendRepeated(String& out, unit c, i32 n) {
    if (n <= 0) return;
    i32 old = out.length();
    out.setLength(old + n);
    unit* p = out.getBuffer() + old;
    for (i32 i = 0; i < n; ++i) p[i] = c;
}

// Decodes bytes through the encoder (null: the current one) onto the end.
void appendDecoded(String& out, const char* bytes, i32 n, i32 maxUnits = -1) {
    String text;
    text.decode(bytes, n, nullptr);
    if (maxUnits >= 0 && text.length() > maxUnits) text.setLength(maxUnits);
    out += text;
}

// ---------------------------------------------------------------------------
// vsprintf

struct FieldSpec {
    bool left = false;
    bool plus = false;
    bool zero = false;
    bool longArg = false;
    i32 width = 0;
    i32 precision = -1;  // none
};

// Decimal digits, saturating instead of overflowing.
i32 readCount(const unit*& f) {
    i64 n = 0;
    for (; *f >= '0' && *f <= '9'; ++f)
        if (n < INT_MAX) n = n * 10 + (*f - '0');
    return n > INT_MAX ? INT_MAX : i32(n);
}

void appendUnsigned(String& out, u32 value, u32 base, bool upper) {
    const char* digits = upper ? kUpperDigits : kLowerDigits;
    char text[32];
    i32 n = sizeof text;
    do {
        text[--n] = digits[value % base];
        value /= base;
    } while (value != 0);
    appendAscii(out, text + n, i32(sizeof text) - n);
}

// Pads the field that starts at 'start' out to the width. Zero padding goes
// after a leading sign and wins over left-justifying.
void padField(String& out, i32 start, const FieldSpec& spec) {
    i32 pad = spec.width - (out.length() - start);
    if (pad <= 0) return;
    String fill;
    if (spec.zero) {
        unit first = out[start];
        fill.fill('0', pad);
        out.insert(fill, first == '-' || first == '+' ? start + 1 : start);
    } else if (spec.left) {
        appendRepeated(out, ' ', pad);
    } else {
        fill.fill(' ', pad);
        out.insert(fill, start);
    }
}

void appendUnitString(String& out, const unit* s, i32 precision) {
    i32 n = 0;
    if (precision < 0) {
        n = i32(utf16Length(s));
    } else {
        while (n < precision && s[n]) ++n;  // never reads past the limit
    }
    out.append(s, n);
}

// The conversion letter after the flags, width, precision and modifier.
void formatOne(String& out, unit conversion, FieldSpec& spec, va_list* ap) {
    const bool upper = isUpperAscii(conversion);
    switch (conversion) {
        case 'd':
        case 'D': {
            i64 v = va_arg(*ap, int);
            if (v < 0)
                out += unit('-');
            else if (spec.plus)
                out += unit('+');
            appendUnsigned(out, u32(v < 0 ? -v : v), 10, false);
            break;
        }
        case 'u': case 'U':
        case 'o': case 'O':
        case 'x': case 'X':
        case 'b': case 'B': {
            u32 v = va_arg(*ap, unsigned);
            if (!spec.longArg) v &= 0xFFFF;
            unit c = unit(conversion | 0x20);
            u32 base = c == 'u' ? 10 : c == 'o' ? 8 : c == 'x' ? 16 : 2;
            appendUnsigned(out, v, base, upper);
            break;
        }
        case 'p':
        case 'P': {
            // The low 32 bits only, in a field of 16.
            u32 v = u32(reinterpret_cast<uintptr_t>(va_arg(*ap, void*)));
            appendUnsigned(out, v, 16, upper);
            spec.width = 16;
            break;
        }
        case 'c':
        case 'C': {
            int v = va_arg(*ap, int);
            if (spec.longArg) {
                if (unit(v) != 0) out += unit(v);
            } else {
                char b = char(v);
                if (b != 0) appendDecoded(out, &b, 1);
            }
            break;
        }
        case 's': {
            if (spec.longArg) {
                const unit* s = va_arg(*ap, const unit*);
                if (!s) s = u"(null)";
                appendUnitString(out, s, spec.precision);
            } else {
                const char* s = va_arg(*ap, const char*);
                if (!s) s = "(null)";
                appendDecoded(out, s, -1, spec.precision);
            }
            break;
        }
        case 'e': case 'E':
        case 'f': case 'F':
        case 'n': case 'N':
            out.appendDouble(va_arg(*ap, double), char(conversion), spec.precision,
                             spec.plus ? '+' : 0);
            break;
        case 'g':
        case 'G':
            out.appendDouble(va_arg(*ap, double), char(conversion), -1, spec.plus ? '+' : 0);
            break;
        default:
            break;
    }
}

bool isConversion(unit c) {
    static const char kLetters[] = "dDuUoOxXbBpPcCseEfFnNgG";
    return c != 0 && c < 128 && std::strchr(kLetters, char(c)) != nullptr;
}

void formatInto(String& out, const unit* f, va_list* ap) {
    while (*f) {
        if (*f != '%') {
            const unit* run = f;
            while (*f && *f != '%') ++f;
            out.append(run, i32(f - run));
            continue;
        }
        ++f;
        FieldSpec spec;
        for (;; ++f) {
            if (*f == '-')
                spec.left = true;
            else if (*f == '+')
                spec.plus = true;
            else
                break;
        }
        if (*f == '0') {
            spec.zero = true;
            ++f;
        }
        if (*f == '*') {
            ++f;
            i64 w = va_arg(*ap, int);
            if (w < 0) {  // as in C: a negative width left-justifies
                spec.left = true;
                w = -w;
            }
            spec.width = i32(w > kMaxFieldWidth ? kMaxFieldWidth : w);
        } else {
            i32 w = readCount(f);
            spec.width = w > kMaxFieldWidth ? kMaxFieldWidth : w;
        }
        if (*f == '.') {
            ++f;
            if (*f == '*') {
                ++f;
                int p = va_arg(*ap, int);
                spec.precision = p < 0 ? -1 : p;  // as in C: negative means none
            } else {
                spec.precision = readCount(f);
            }
        }
        if (*f == 'l') {
            spec.longArg = true;
            ++f;
        } else if (*f == 'L' || *f == 'h' || *f == 'H') {
            ++f;
        }
        const unit conversion = *f;
        if (conversion == 0) return;  // an unfinished conversion ends the text
        ++f;
        if (!isConversion(conversion)) {
            out += conversion;  // "%%" and anything unknown print as themselves
            continue;
        }
        i32 start = out.length();
        formatOne(out, conversion, spec, ap);
        padField(out, start, spec);
    }
}

// ---------------------------------------------------------------------------
// appendDouble

// The C locale whatever the host set, so the decimal point is always '.'.
locale_t cNumericLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return locale;
}

// Only conversions the C formatter reads as a double may reach it: "%n"
// would store through the argument.
char doubleConversion(char c) {
    switch (c) {
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': return c;
        case 'N': return 'F';
        default: return 'f';
    }
}

// '-' and '0' would only pad against the internal width of 17, so they are
// not handed on.
bool isDoubleFlag(unit c) { return c == '+' || c == ' ' || c == '#'; }

// Marks everything from the 18th character on (sign aside) as '0', so that a
// fixed text shows no more than 17 significant digits.
void limitFixedDigits(char* text, i32 n) {
    i32 from = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (n - from < 18) return;
    for (i32 i = from + 17; i < n; ++i)
        if (text[i] >= '0' && text[i] <= '9') text[i] = '0';
}

// ---------------------------------------------------------------------------
// Encoding and decoding

// Runs an encoder's decode; a 38 that only means "no room for the next
// character" while input remains is not an error for a caller that can
// give more room.
i32 decodeStep(const Encoder* e, const char* bytes, u32& in, unit* out, u32& room) {
    const u32 inLength = in, roomGiven = room;
    i32 status = e->decode(bytes, in, out, room);
    if (status == Err::kPartialCharacter && in < inLength && roomGiven - room < 2 && room > 0)
        status = 0;
    return status;
}

i32 encodeStep(const Encoder* e, const unit* units, u32& in, char* out, u32& room) {
    const u32 inLength = in, roomGiven = room;
    i32 status = e->encode(units, in, out, room);
    if (status == Err::kPartialCharacter && in < inLength && roomGiven - room < 4 && room > 0)
        status = 0;
    return status;
}

// The thread's scratch bytes for String::encode.
class Scratch {
public:
    Scratch() : t(ThreadData::get()) {}

    char* bytes() const { return t->scratchBytes; }

    // Room for n bytes and the four terminating zeros; content not kept.
    // A big buffer is traded for a smaller one when a shorter text comes.
    void prepare(u64 n) {
        u64 need = n + 4;
        u64 size = u64(t->scratchSize);
        if (need <= size && (size <= kScratchKeep || need >= size)) return;
        u64 want = need > kScratchKeep ? need : (size > kScratchKeep ? kScratchKeep : need);
        replace(want);
    }

    // Room for n bytes and the zeros, keeping what is written.
    void grow(u64 n) {
        u64 need = n + 4;
        u64 size = u64(t->scratchSize);
        if (need <= size) return;
        u64 want = size * 2 > need ? size * 2 : need;
        if (want > u64(INT_MAX)) want = need;
        if (want > u64(INT_MAX)) throw std::bad_alloc();
        t->scratchBytes = static_cast<char*>(t->scratchBytes ? Heap::realloc(t->scratchBytes, want)
                                                              : Heap::alloc(want));
        t->scratchSize = i32(want);
    }

    const char* finish(u32 n) {
        std::memset(t->scratchBytes + n, 0, 4);
        t->scratchLength = n;
        return t->scratchBytes;
    }

private:
    ThreadData* t;

    void replace(u64 want) {
        if (want > u64(INT_MAX)) throw std::bad_alloc();
        char* p = static_cast<char*>(Heap::alloc(want));
        Heap::free(t->scratchBytes);
        t->scratchBytes = p;
        t->scratchSize = i32(want);
    }
};

// ---------------------------------------------------------------------------
// URI coding

bool keepAscii(const char* keep, u8 b) {
    return keep && b >= 1 && b <= 127 && std::strchr(keep, char(b)) != nullptr;
}

bool keepUnit(const unit* keep, u8 b) {
    return keep && b >= 1 && b <= 127 && utf16FindChar(keep, b) != nullptr;
}

bool isUriAlnum(u8 b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

template <typename Keep>
bool encodeUriWith(String& s, Keep keeps) {
    const Encoder* utf8 = utf8Encoder();
    const u32 n = u32(s.length());
    if (n == 0) return true;
    u32 count = 0;
    if (utf8->getByteCount(s.chars(), i32(n), count) != 0 || count == kEncoderNoCount) return false;
    ByteBuffer bytes(count);
    u32 in = n, room = count;
    if (utf8->encode(s.chars(), in, bytes.get(), room) != 0 || in != n) return false;

    u64 length = 0;
    for (u32 i = 0; i < room; ++i) length += keeps(u8(bytes.get()[i])) ? 1 : 3;
    if (length > u64(String::kMaxLength)) throw std::bad_alloc();
    String result;
    result.allocate(i32(length));
    unit* p = result.getBuffer();
    for (u32 i = 0; i < room; ++i) {
        u8 b = u8(bytes.get()[i]);
        if (keeps(b)) {
            *p++ = b;
        } else {
            *p++ = '%';
            *p++ = unit(kUpperDigits[b >> 4]);
            *p++ = unit(kUpperDigits[b & 15]);
        }
    }
    s = result;
    return true;
}

// Appends a run of escaped bytes decoded as UTF-8. Bytes the decoder cannot
// take are skipped, each stretch of them leaving one '?', so that one bad
// byte does not swallow the text around it.
void appendUriRun(String& out, const char* bytes, u32 n) {
    const Encoder* utf8 = utf8Encoder();
    bool afterGap = false;
    for (u32 i = 0; i < n;) {
        i32 old = out.length();
        u32 in = n - i, room = n - i;  // UTF-8 never gives more units than bytes
        out.setLength(old + i32(room));
        utf8->decode(bytes + i, in, out.getBuffer() + old, room);
        out.setLength(old + i32(room));
        if (room > 0) afterGap = false;
        i += in;
        if (in == 0) {
            if (!afterGap) out += unit('?');
            afterGap = true;
            ++i;
        }
    }
}

// ---------------------------------------------------------------------------
// Line breaks

constexpr i32 kCrLf = 1, kCr = 2, kLf = 3;

// The platform's own style: the system reads and writes files with CR LF.
constexpr i32 kPlatformLineFeed = kCrLf;

// ---------------------------------------------------------------------------
// Case

// Maps every unit; the buffer is made private only when one changes.
bool mapUnits(String& s, unit (*map)(unit)) {
    const i32 n = s.length();
    for (i32 i = 0; i < n; ++i) {
        if (map(s.chars()[i]) == s.chars()[i]) continue;
        unit* p = s.getBuffer();
        for (; i < n; ++i) p[i] = map(p[i]);
        return true;
    }
    return false;
}

}  // namespace

// ===========================================================================

void String::setLocalizationHooks(ZStringResolver resolve, TextLocalizer localize) {
    gResolveZString = resolve;
    gLocalizeText = localize;
}

void String::sprintf(const char* format, ...) {
    String wide(format);
    va_list args;
    va_start(args, format);
    try {
        vsprintf(wide.chars(), args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

void String::vsprintf(const unit* format, va_list args) {
    // Built aside, so that an argument may be this string's own text.
    String out;
    if (format) {
        va_list ap;
        va_copy(ap, args);
        try {
            formatInto(out, format, &ap);
        } catch (...) {
            va_end(ap);
            throw;
        }
        va_end(ap);
    }
    *this = out;
}

void String::appendDouble(f64 value, char conversion, i32 precision, unit flag) {
    const char c = doubleConversion(conversion);
    char format[24];
    i32 n = 0;
    format[n++] = '%';
    if (isDoubleFlag(flag)) format[n++] = char(flag);
    if (precision >= 0)
        std::snprintf(format + n, sizeof format - n, "17.%d%c", precision < 14 ? precision : 14, c);
    else
        std::snprintf(format + n, sizeof format - n, "%c", c);

    // The widest text, a fixed form of the largest double, is about 330 characters.
    char text[512];
    locale_t c_locale = cNumericLocale();
    locale_t old = c_locale ? uselocale(c_locale) : locale_t(0);
    int length = std::snprintf(text, sizeof text, format, value);
    if (old) uselocale(old);
    if (length < 0) return;
    if (length >= i32(sizeof text)) length = sizeof text - 1;

    char* p = text;
    while (*p == ' ') ++p;
    length -= i32(p - text);
    if (c == 'f' || c == 'F') limitFixedDigits(p, length);
    appendAscii(*this, p, length);
}

String String::toSource(bool escapeNonAscii) const {
    String out;
    out += unit('"');
    const unit* s = chars();
    const i32 n = length();
    char escape[8];
    for (i32 i = 0; i < n; ++i) {
        unit c = s[i];
        const char* letter = nullptr;
        switch (c) {
            case 8: letter = "\\b"; break;
            case 9: letter = "\\t"; break;
            case 10: letter = "\\n"; break;
            case 12: letter = "\\f"; break;
            case 13: letter = "\\r"; break;
            case '"': letter = "\\\""; break;
            case '\\': letter = "\\\\"; break;
            default: break;
        }
        if (letter) {
            appendAscii(out, letter, 2);
        } else if (c < 32 || c == 127) {
            std::snprintf(escape, sizeof escape, "\\x%02X", unsigned(c));
            appendAscii(out, escape, 4);
        } else if (c > 127 && escapeNonAscii) {
            std::snprintf(escape, sizeof escape, "\\u%04X", unsigned(c));
            appendAscii(out, escape, 6);
        } else {
            out += c;
        }
    }
    out += unit('"');
    return out;
}

i32 String::parseHex(i32 pos, i32 maxDigits, u32& value) const {
    value = 0;
    if (maxDigits < 1) return pos;
    if (pos < 0) return kHexNotDigit;
    const unit* s = chars();
    const i32 n = length();
    for (i32 i = 0; i < maxDigits; ++i, ++pos) {
        if (pos >= n) return kHexEndOfText;
        int digit = hexDigit(s[pos]);
        if (digit < 0) return kHexNotDigit;
        value = value * 16 + u32(digit);
    }
    return pos;
}

bool String::parseLiteral(String& out, i32& pos) const {
    // Read aside: out may be this very string.
    String text;
    const unit* s = chars();
    const i32 n = length();
    if (pos < 0) pos = 0;
    auto next = [&]() -> unit { return pos < n ? s[pos++] : unit(0); };
    // CR LF is one line end.
    auto endLine = [&](unit c) {
        if (c == 13 && pos < n && s[pos] == 10) ++pos;
    };

    if (pos < n) {
        unit quote = 0;
        unit c = next();
        if (c == '"' || c == '\'') {
            quote = c;
            c = next();
        }
        for (;; c = next()) {
            if (isLineEnd(c)) {
                endLine(c);
                out = text;
                return quote == 0;
            }
            if (c == quote) break;
            if (c != '\\') {
                text += c;
                continue;
            }
            c = next();
            switch (c) {
                case 'b': text += unit(8); break;
                case 'f': text += unit(12); break;
                case 'n': text += unit(10); break;
                case 'r': text += unit(13); break;
                case 't': text += unit(9); break;
                case 'v': text += unit(11); break;
                case '0': case '1': case '2': case '3':
                case '4': case '5': case '6': case '7': {
                    u32 v = c - '0';
                    const bool threeDigits = v <= 3;
                    if (pos < n && s[pos] >= '0' && s[pos] <= '7') {
                        v = v * 8 + (s[pos++] - '0');
                        if (threeDigits && pos < n && s[pos] >= '0' && s[pos] <= '7')
                            v = v * 8 + (s[pos++] - '0');
                    }
                    text += unit(v);
                    break;
                }
                case 'x': case 'X': case 'u': case 'U': {
                    u32 v = 0;
                    i32 after = parseHex(pos, c == 'U' ? 8 : c == 'u' ? 4 : 2, v);
                    if (after == kHexEndOfText) {  // the text ends inside the digits
                        pos = n;
                        out = text;
                        return false;
                    }
                    if (after < 0) {
                        while (pos < n && hexDigit(s[pos]) >= 0) ++pos;
                        ++pos;  // past the unit that is not a digit
                        out = text;
                        return false;
                    }
                    pos = after;
                    if (v > 0x10FFFF) {
                        out = text;
                        return false;
                    }
                    if (v > 0xFFFF) {
                        v -= 0x10000;
                        text += unit(0xD800 + (v >> 10));
                        text += unit(0xDC00 + (v & 0x3FF));
                    } else {
                        text += unit(v);
                    }
                    break;
                }
                default:
                    if (isLineEnd(c))
                        endLine(c);  // line continuation
                    else
                        text += c;
                    break;
            }
        }
    }
    if (text.length() >= 3 && text[0] == '$' && text[1] == '$' && text[2] == '$' && gResolveZString)
        gResolveZString(text);
    out = text;
    return true;
}

bool String::extractLiteral(String& out) {
    i32 pos = 0;
    String text;
    bool ok = parseLiteral(text, pos);
    erase(0, pos);
    out = text;
    return ok;
}

bool String::encodeURI(const char* keep) {
    return encodeUriWith(*this, [keep](u8 b) { return isUriAlnum(b) || keepAscii(keep, b); });
}

bool String::encodeURI(const unit* keep) {
    return encodeUriWith(*this, [keep](u8 b) { return isUriAlnum(b) || keepUnit(keep, b); });
}

bool String::decodeURI() {
    const unit* s = chars();
    const i32 n = length();
    i32 escapes = 0;
    for (i32 i = 0; i < n; ++i) {
        if (s[i] != '%') continue;
        if (i + 2 >= n || hexDigit(s[i + 1]) < 0 || hexDigit(s[i + 2]) < 0) return false;
        ++escapes;
        i += 2;
    }
    if (escapes == 0) return true;

    ByteBuffer run{u64(escapes)};
    String out;
    for (i32 i = 0; i < n;) {
        if (s[i] != '%') {
            i32 start = i;
            while (i < n && s[i] != '%') ++i;
            out.append(s + start, i - start);
            continue;
        }
        u32 count = 0;
        for (; i < n && s[i] == '%'; i += 3)
            run.get()[count++] = char(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]));
        appendUriRun(out, run.get(), count);
    }
    *this = out;
    return true;
}

i32 String::convertLineFeeds(i32 mode) {
    const unit* s = chars();
    const i32 n = length();
    i32 crlf = 0, cr = 0, lf = 0;
    for (i32 i = 0; i < n; ++i) {
        if (s[i] == 13) {
            if (i + 1 < n && s[i + 1] == 10) {
                ++crlf;
                ++i;
            } else {
                ++cr;
            }
        } else if (s[i] == 10) {
            ++lf;
        }
    }
    const i32 breaks = crlf + cr + lf;
    if (mode == 0) mode = kPlatformLineFeed;
    if (breaks == 0 || mode < kCrLf || mode > kLf) return breaks;
    const i32 already = mode == kCrLf ? crlf : mode == kCr ? cr : lf;
    if (already == breaks) return breaks;

    const i32 breakLength = mode == kCrLf ? 2 : 1;
    const i64 newLength = i64(n) - 2 * crlf - cr - lf + i64(breaks) * breakLength;
    if (newLength > kMaxLength) throw std::bad_alloc();
    String out;
    out.allocate(i32(newLength));
    unit* p = out.getBuffer();
    for (i32 i = 0; i < n; ++i) {
        unit c = s[i];
        if (c != 13 && c != 10) {
            *p++ = c;
            continue;
        }
        if (c == 13 && i + 1 < n && s[i + 1] == 10) ++i;
        if (mode == kLf) {
            *p++ = 10;
        } else {
            *p++ = 13;
            if (mode == kCrLf) *p++ = 10;
        }
    }
    *this = out;
    return breaks;
}

i32 getPlatformLineFeed() { return kPlatformLineFeed; }

bool String::toLower() { return mapUnits(*this, toLowerChar); }

bool String::toUpper() { return mapUnits(*this, toUpperChar); }

u32 String::decode(const char* bytes, i32 length, Encoder* encoder) {
    if (bytes && length < 0) {
        size_t n = std::strlen(bytes);
        length = n > size_t(kMaxLength) ? kMaxLength : i32(n);
    }
    if (!bytes || length <= 0) {
        clear();
        return 0;
    }
    const Encoder* e = encoder ? encoder : currentEncoder();
    String text;
    if (!e) {  // no encoder yet: Latin-1, each byte one unit
        text.allocate(length);
        unit* p = text.getBuffer();
        for (i32 i = 0; i < length; ++i) p[i] = u8(bytes[i]);
        *this = text;
        return 0;
    }

    const u32 total = u32(length);
    u32 done = 0;
    i32 status = 0;
    u32 count = 0;
    if (e->getCharCount(bytes, length, count) == 0 && count != kEncoderNoCount && count > 0 &&
        count <= u32(kMaxLength)) {
        text.setLength(i32(count));
        u32 in = total, room = count;
        status = decodeStep(e, bytes, in, text.getBuffer(), room);
        text.setLength(i32(room));
        done = in;
    }
    while (status == 0 && done < total) {
        const i32 old = text.length();
        text.setLength(old + i32(kChunk));
        u32 in = total - done, room = kChunk;
        status = decodeStep(e, bytes + done, in, text.getBuffer() + old, room);
        text.setLength(old + i32(room));
        done += in;
        if (in == 0 && room == 0) break;  // the encoder makes no progress
    }
    *this = text;
    return u32(status);
}

u32 String::encode(const char*& bytes, u32& length, Encoder* encoder) const {
    const Encoder* e = encoder ? encoder : currentEncoder();
    const unit* s = chars();
    const u32 n = u32(this->length());
    Scratch scratch;
    u32 produced = 0;
    i32 status = 0;
    if (!e) {  // no encoder yet: Latin-1, '?' for what it cannot hold
        scratch.prepare(n);
        char* p = scratch.bytes();
        for (u32 i = 0; i < n; ++i) {
            if (s[i] > 0xFF) status = Err::kCharConversion;
            p[i] = s[i] > 0xFF ? '?' : char(s[i]);
        }
        produced = n;
    } else {
        u32 count = 0, done = 0;
        if (e->getByteCount(s, i32(n), count) == 0 && count != kEncoderNoCount) {
            scratch.prepare(count);
            u32 in = n, room = count;
            status = encodeStep(e, s, in, scratch.bytes(), room);
            done = in;
            produced = room;
        } else {
            scratch.prepare(kChunk);
        }
        while (status == 0 && done < n) {
            scratch.grow(u64(produced) + kChunk);
            u32 in = n - done, room = kChunk;
            status = encodeStep(e, s + done, in, scratch.bytes() + produced, room);
            done += in;
            produced += room;
            if (in == 0 && room == 0) break;  // the encoder makes no progress
        }
    }
    bytes = scratch.finish(produced);
    length = produced;
    return u32(status);
}

const char* String::encode(Encoder* encoder) const {
    const char* bytes = nullptr;
    u32 length = 0;
    encode(bytes, length, encoder);
    return bytes;
}

void String::localize(const Array* args) {
    if (gLocalizeText) gLocalizeText(*this, args);
}

}  // namespace LxCore
