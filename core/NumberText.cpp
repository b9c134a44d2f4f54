// Number text: formatNumber, parseNumber, parseInteger and parseDigits.
#include "core/NumberText.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>

#include "core/CharClass.h"

namespace LxCore {

namespace {

constexpr f64 kNaN = std::numeric_limits<f64>::quiet_NaN();
constexpr f64 kInfinity = std::numeric_limits<f64>::infinity();

constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// Larger precisions would only add zeros; the script methods stop at 100 too.
constexpr u32 kMaxDigits = 100;

// The decimals String::sprintf prints at most; the rest are padding zeros.
constexpr i32 kPrintedDecimals = 14;

// An exponent is read saturating at this; far beyond the length of any text
// a String can hold, so the digits' own shift can never bring a capped value
// back in range.
constexpr i64 kExponentCap = 1000000000000000;

// Dropped bits are counted up to this; a shift past 1024 leaves no finite value.
constexpr i32 kMaxBinaryShift = 2000;

// The powers of ten a double holds exactly.
constexpr i32 kExactPowerCount = 22;
constexpr f64 kExactPowers[kExactPowerCount + 1] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

void setAscii(String& out, const char* text, size_t n) {
    out.setLength(i32(n));
    if (n == 0) return;
    unit* p = out.getBuffer();
    for (size_t i = 0; i < n; ++i) p[i] = u8(text[i]);
}

void setAscii(String& out, const char* text) { setAscii(out, text, std::strlen(text)); }

bool isDigit(unit c) { return c >= '0' && c <= '9'; }

// 0..35, or -1 for anything that is a digit in no radix.
i32 digitValue(unit c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return -1;
}

// ---------------------------------------------------------------------------
// Formatting

// The integer part in radix 2..36. The widest, in radix 2, has 1024 digits.
void formatRadix(String& out, f64 value, u32 radix) {
    char text[1100];
    size_t n = sizeof text;
    f64 v = std::trunc(std::fabs(value));
    while (v >= 1 && n > 1) {
        f64 digit = std::fmod(v, f64(radix));  // exact, in [0, radix)
        text[--n] = kDigits[i32(digit)];
        v = std::floor((v - digit) / f64(radix));
    }
    if (n == sizeof text)
        text[--n] = '0';  // no integer part: no sign either
    else if (value < 0)
        text[--n] = '-';
    setAscii(out, text + n, sizeof text - n);
}

// Whole digits of |value| count against the budget of 15 significant digits.
i32 fixedPrecision(f64 magnitude, u32 digits) {
    i32 whole = magnitude >= 1 ? i32(std::trunc(std::log10(magnitude))) + 1 : 0;
    i32 p = 15 - whole;
    if (p > i32(digits)) p = i32(digits);
    // A spent budget means no fraction digits; a negative precision would
    // read as "none" and print six, cut instead of rounded.
    return p < 0 ? 0 : p;
}

// Whether magnitude x 10^q lies exactly halfway between two integers. For
// q >= 0 that is magnitude = j / 2^(q + 1) with j odd; for q < 0 an odd
// multiple of 5 x 10^(-q - 1), whose odd part no double holds beyond 10^22.
bool isHalfway(f64 magnitude, i32 q) {
    if (q >= 0) {
        const f64 scaled = std::ldexp(magnitude, q + 1);
        return scaled == std::trunc(scaled) && std::fmod(scaled, 2) == 1;
    }
    if (-q > kExactPowerCount) return false;
    const f64 step = kExactPowers[-q];
    return std::fmod(magnitude, step) == step / 2;  // all exact
}

// The fixed and exponential forms round an exact tie away from zero, where
// the C formatter rounds it to even. A tie at q decimals is printed from the
// next double away from zero instead: that lies past the tie and short of
// the next one, so it prints as the tie rounded away.
f64 awayFromTie(f64 value, i32 q) {
    if (!isHalfway(std::fabs(value), q)) return value;
    return std::nextafter(value, value < 0 ? -kInfinity : kInfinity);
}

// The decimal exponent of printed exponential text.
i32 printedExponent(const String& text) {
    i32 i = 0;
    while (i < text.length() && text[i] != 'e') ++i;
    bool negative = false;
    if (++i < text.length() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    i32 exponent = 0;
    for (; i < text.length() && isDigit(text[i]); ++i) exponent = exponent * 10 + (text[i] - '0');
    return negative ? -exponent : exponent;
}

// Reshapes the printed text: trailing zeros (automatic) or an exact fraction
// length (fixed, exponential), and an exponent without leading zeros.
void finishNumber(String& out, u32 digits, u32 mode) {
    char printed[512];
    const i32 n = out.length() < i32(sizeof printed) ? out.length() : i32(sizeof printed);
    for (i32 i = 0; i < n; ++i) printed[i] = char(out[i]);
    i32 cut = 0;
    while (cut < n && printed[cut] != 'e') ++cut;

    // Mantissa, trimmed; room for a '.' and the padding zeros.
    char text[sizeof printed + kMaxDigits + 8];
    i32 begin = 0, end = cut;
    while (begin < end && u8(printed[begin]) <= 32) ++begin;
    while (end > begin && u8(printed[end - 1]) <= 32) --end;
    i32 length = end - begin;
    std::memcpy(text, printed + begin, size_t(length));
    const char* point = static_cast<const char*>(std::memchr(text, '.', size_t(length)));
    if (mode == kFormatAutomatic) {
        if (point) {
            while (text[length - 1] == '0') --length;
            if (text[length - 1] == '.') --length;
        }
    } else if (digits > 0) {
        if (!point) {
            point = text + length;
            text[length++] = '.';
        }
        const i32 whole = i32(point - text) + 1;
        while (length < whole + i32(digits)) text[length++] = '0';
        length = whole + i32(digits);
    }

    // Exponent: no zeros after its sign, but at least one digit.
    if (cut < n) {
        text[length++] = 'e';
        i32 i = cut + 1;
        if (i < n && (printed[i] == '+' || printed[i] == '-')) text[length++] = printed[i++];
        while (i < n - 1 && printed[i] == '0') ++i;
        while (i < n) text[length++] = printed[i++];
    }
    setAscii(out, text, size_t(length));
}

// ---------------------------------------------------------------------------
// Parsing

bool trailingAllowed(const unit* p, const unit* end, u32 flags) {
    switch (flags & kParseTrailingMask) {
        case kParseWholeText: return p == end;
        case kParseToWhiteSpace: return p == end || isWhiteSpaceChar(*p);
        default: return true;
    }
}

const unit* skipWhiteSpace(const unit* p, const unit* end) {
    while (p < end && isWhiteSpaceChar(*p)) ++p;
    return p;
}

void storeRest(String* rest, const unit* p, const unit* end) {
    if (rest) *rest = String(p, i32(end - p));
}

// Steps over a leading sign. A sign with nothing but white space or the end
// after it reads as no number: false, with the rest stored.
bool readSign(const unit*& p, const unit* end, bool& negative, String* rest) {
    negative = false;
    if (*p != '+' && *p != '-') return true;
    negative = *p++ == '-';
    if (p != end && !isWhiteSpaceChar(*p)) return true;
    storeRest(rest, p, end);
    return false;
}

// The sign goes on at the end; NaN stays the plain NaN.
f64 applySign(f64 value, bool negative) {
    if (std::isnan(value)) return kNaN;
    return negative ? -value : value;
}

bool matchAscii(const unit*& p, const unit* end, const char* word) {
    const unit* q = p;
    for (; *word; ++word, ++q)
        if (q >= end || *q != unit(u8(*word))) return false;
    p = q;
    return true;
}

locale_t cNumericLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return locale;
}

// The significant digits of a decimal number, read once, left to right.
// The first kKeptDigits are kept; of the rest only whether one was not zero.
// That decides every rounding as all the digits would: a double, and a point
// halfway between two, has at most 768 significant digits, so none lies
// strictly between the kept digits and the kept digits plus one unit in
// their last place, and the kept digits followed by a 1 stand for the whole
// run. Reading stays linear however many digits come, and the conversion
// bounded.
class DecimalDigits {
public:
    // A digit before (whole) or after the point.
    void add(u32 digit, bool whole) {
        if (count == 0 && digit == 0) {
            if (!whole) --shift;  // a zero before the first significant digit
        } else if (count < kKeptDigits) {
            if (count < kFastDigits) leading = leading * 10 + digit;
            kept[count++] = char('0' + digit);
            if (!whole) --shift;
        } else {
            dropped |= digit != 0;
            if (whole) ++shift;
        }
    }

    // The digits times 10^exponent, rounded once to the nearest double.
    f64 value(i64 exponent) const {
        if (count == 0) return 0;
        const i64 scale = shift + exponent;  // the power of ten of the last kept digit
        const i64 order = scale + count;     // the number lies in [10^(order-1), 10^order)
        if (order > kOrderLimit) return kInfinity;
        if (order < -kOrderLimit) return 0;
        // Both operands exact, so one operation rounds once.
        if (count <= kFastDigits && !dropped && leading <= kExactInteger && scale >= -kExactPowerCount &&
            scale <= kExactPowerCount) {
            const f64 m = f64(leading);
            return scale < 0 ? m / kExactPowers[-scale] : m * kExactPowers[scale];
        }
        char text[kKeptDigits + 32];
        std::memcpy(text, kept, size_t(count));
        i32 n = count;
        if (dropped) text[n++] = '1';
        std::snprintf(text + n, sizeof text - size_t(n), "e%lld",
                      static_cast<long long>(dropped ? scale - 1 : scale));
        // The C library's reading rounds correctly at any length.
        locale_t c = cNumericLocale();
        return c ? strtod_l(text, nullptr, c) : std::strtod(text, nullptr);
    }

private:
    static constexpr i32 kKeptDigits = 800;
    static constexpr i32 kFastDigits = 19;  // fit a u64
    static constexpr u64 kExactInteger = u64(1) << 53;
    // Beyond 10^400 every number is infinite, below 10^-400 zero.
    static constexpr i64 kOrderLimit = 400;

    char kept[kKeptDigits];
    i32 count = 0;
    bool dropped = false;  // a digit past the kept ones was not zero
    u64 leading = 0;       // the first kFastDigits kept digits as an integer
    i64 shift = 0;
};

// The decimal form: digits, one '.', an optional exponent. p is left at the
// first unread unit; NaN when no digit came or an 'e' had none.
f64 readDecimal(const unit*& p) {
    DecimalDigits digits;
    bool point = false, anyDigit = false;
    for (;; ++p) {
        unit c = *p;
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!isDigit(c)) break;
        anyDigit = true;
        digits.add(u32(c - '0'), !point);
    }
    if (!anyDigit) return kNaN;

    i64 exponent = 0;
    if (*p == 'e' || *p == 'E') {
        const unit* q = p + 1;
        bool negative = false;
        if (*q == '+' || *q == '-') negative = *q++ == '-';
        // No exponent digits: the number ends before the "e" ("5em" is 5).
        if (!isDigit(*q)) return digits.value(0);
        for (; isDigit(*q); ++q) {
            exponent = exponent * 10 + (*q - '0');
            if (exponent > kExponentCap) exponent = kExponentCap;
        }
        p = q;
        if (negative) exponent = -exponent;
    }
    return digits.value(exponent);
}

// A run of decimal digits, rounded once.
f64 readDecimalDigits(const unit*& p) {
    DecimalDigits digits;
    for (; isDigit(*p); ++p) digits.add(u32(*p - '0'), true);
    return digits.value(0);
}

// Digits of a radix that is a power of two, rounded once: the leading bits
// exactly; past them only their count and whether any was set, which goes
// into the lowest kept bit, far below the 53 that stay.
f64 readBinaryDigits(const unit*& p, u32 radix) {
    i32 bitsPerDigit = 0;
    while ((1u << bitsPerDigit) < radix) ++bitsPerDigit;
    const u64 full = u64(1) << (64 - bitsPerDigit);  // one more digit would not fit
    u64 bits = 0;
    i32 droppedBits = 0;
    bool dropped = false;
    for (;; ++p) {
        const i32 d = digitValue(*p);
        if (d < 0 || u32(d) >= radix) break;
        if (bits < full) {
            bits = (bits << bitsPerDigit) | u64(d);
        } else {
            dropped |= d != 0;
            if (droppedBits < kMaxBinaryShift) droppedBits += bitsPerDigit;
        }
    }
    if (dropped) bits |= 1;
    return std::ldexp(f64(bits), droppedBits);
}

// Other radices: exact while the integer fits 63 bits, then approximated,
// as the language allows for them.
f64 readOtherDigits(const unit*& p, u32 radix) {
    const i64 limit = std::numeric_limits<i64>::max();
    i64 exact = 0;
    f64 held = 0;            // once the integer would overflow
    i64 dropped = -1;        // digits counted after the overflow; -1: none
    for (;; ++p) {
        const i32 d = digitValue(*p);
        if (d < 0 || u32(d) >= radix) break;
        if (dropped >= 0) {
            ++dropped;
        } else if (exact > (limit - d) / i64(radix)) {
            held = f64(exact) * f64(radix);
            dropped = 0;
        } else {
            exact = exact * i64(radix) + d;
        }
    }
    if (dropped < 0) return f64(exact);  // rounds to nearest, ties to even
    return dropped == 0 ? held : held * std::pow(f64(radix), f64(dropped));
}

}  // namespace

void formatNumber(String& out, f64 value, u32 radix, u32 digits, u32 mode) {
    if (std::isnan(value)) return setAscii(out, "NaN");
    if (std::isinf(value)) return setAscii(out, value > 0 ? "Infinity" : "-Infinity");
    // Fifteen digits would round it past the largest double.
    if (value == DBL_MAX) return setAscii(out, "1.7976931348623157e+308");
    if (value == -DBL_MAX) return setAscii(out, "-1.7976931348623157e+308");
    if (value == 0) value = 0.0;  // negative zero prints as zero in every form

    if (radix != 0 && radix != 10) {
        if (radix < 2 || radix > 36) return setAscii(out, "NaN");
        return formatRadix(out, value, radix);
    }

    if (digits > kMaxDigits) digits = kMaxDigits;
    if (mode > kFormatExponential) mode = kFormatExponential;
    const f64 magnitude = std::fabs(value);
    if (mode == kFormatAutomatic && magnitude < 1e21 && std::trunc(value) == value) {
        if (magnitude >= 1e9)
            out.sprintf("%.0f", value);
        else
            out.sprintf("%ld", i32(value));  // |value| < 1e9: fits
        return;
    }
    if (mode == kFormatAutomatic) {
        if (magnitude >= 1e-6 && magnitude < 1e21)
            out.sprintf("%20.*f", fixedPrecision(magnitude, digits), value);
        else
            out.sprintf("%20.*e", i32(digits), value);
    } else if (mode == kFormatFixed) {
        const i32 decimals = fixedPrecision(magnitude, digits);
        out.sprintf("%20.*f", decimals, awayFromTie(value, std::min(decimals, kPrintedDecimals)));
    } else {
        // A print that carried into a new power of ten rounded away already.
        out.sprintf("%20.*e", i32(digits), value);
        const i32 decimals = std::min(i32(digits), kPrintedDecimals);
        const f64 away = awayFromTie(value, decimals - printedExponent(out));
        if (away != value) out.sprintf("%20.*e", i32(digits), away);
    }
    finishNumber(out, digits, mode);
}

const unit* parseDigits(const unit* text, f64* value, u32* radix, u32 flags) {
    if (!text || *text == 0) {
        *value = kNaN;
        *radix = 10;
        return text;
    }
    const unit* p = text;
    u32 used = 10;
    if (p[0] == '0') {  // p[1] exists: at worst it is the terminating 0
        used = (flags & kParseNoOctal) ? 10 : 8;
        if ((p[1] == 'x' || p[1] == 'X') && !(flags & kParseNoHex)) {
            used = 16;
            p += 2;
        } else if (p[1] == '8' || p[1] == '9') {
            used = 10;
        }
    }
    if (*radix != 0 && *radix != used) {
        used = *radix;
        p = text;
    }
    *radix = used;
    if (used < 2 || used > 36) {
        *value = kNaN;
        return text;
    }

    // Decimal and the powers of two round once over all their digits.
    const unit* start = p;
    if (used == 10)
        *value = readDecimalDigits(p);
    else if ((used & (used - 1)) == 0)
        *value = readBinaryDigits(p, used);
    else
        *value = readOtherDigits(p, used);
    if (p == start) *value = kNaN;
    return p;
}

f64 parseNumber(const String& text, u32 flags, String* rest) {
    const unit* const end = text.chars() + text.length();
    const unit* p = skipWhiteSpace(text.chars(), end);
    if (p == end) {
        if (rest) rest->clear();
        return 0;
    }
    bool negative = false;
    if (!readSign(p, end, negative, rest)) return kNaN;
    f64 value;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        u32 radix = 16;
        p = parseDigits(p, &value, &radix, flags);
    } else if (matchAscii(p, end, "Infinity")) {
        value = kInfinity;
    } else if (matchAscii(p, end, "NaN")) {
        value = kNaN;
    } else {
        value = readDecimal(p);
    }
    if (!trailingAllowed(p, end, flags)) value = kNaN;
    storeRest(rest, p, end);
    return applySign(value, negative);
}

f64 parseInteger(const String& text, u32 radix, u32 flags, String* rest) {
    const unit* const end = text.chars() + text.length();
    const unit* p = skipWhiteSpace(text.chars(), end);
    if (p == end) {
        if (rest) rest->clear();
        return 0;
    }
    if (radix != 0 && (radix < 2 || radix > 36)) {
        if (rest) *rest = text;
        return kNaN;
    }
    bool negative = false;
    if (!readSign(p, end, negative, rest)) return kNaN;
    f64 value;
    p = parseDigits(p, &value, &radix, flags);
    if (!trailingAllowed(p, end, flags)) value = kNaN;
    storeRest(rest, p, end);
    return applySign(value, negative);
}

}  // namespace LxCore
