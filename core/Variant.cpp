// Variant: construction, assignment, equality, ordering and the conversions
// to text, number, boolean and integer.
#include "core/Variant.h"

#include <cmath>
#include <limits>
#include <new>

#include "core/NumberText.h"
#include "core/Point.h"

namespace LxCore {

namespace {

constexpr f64 kNaNValue = std::numeric_limits<f64>::quiet_NaN();
constexpr f64 kInfinityValue = std::numeric_limits<f64>::infinity();

// The toNumber of a string: the number, then white space or the end.
constexpr u32 kStringNumberFlags = kParseToWhiteSpace | kParseNoOctal;

String* newText(const String& value) {
    void* memory = Heap::alloc(sizeof(String));
    try {
        return new (memory) String(value);
    } catch (...) {
        Heap::free(memory);
        throw;
    }
}

void deleteText(String* text) {
    text->~String();
    Heap::free(text);
}

// The full number flags of a value: its class, and whether it is a 32-bit
// integer (signed, unsigned or both).
u16 numberFlagsOf(f64 value) {
    u16 f = u16(classifyDouble(&value)) | Variant::kNumberFlagsComputed;
    if (f & Variant::kNegativeZero) f |= Variant::kFinite;
    if (!(f & Variant::kFinite) || std::trunc(value) != value) return f;
    if (value >= -2147483648.0 && value <= 2147483647.0)
        f |= value >= 0 ? Variant::kInt32 | Variant::kUInt32 : Variant::kInt32;
    else if (value >= 0 && value <= 4294967295.0)
        f |= Variant::kUInt32;
    return f;
}

// The number an integer conversion starts from, and its flags: a number's
// own, kept current, or those of what any other value converts to.
f64 numberAndFlags(const Variant& v, u16& f) {
    if (v.getType() == Variant::kNumber) {
        v.updateNumberFlags();
        f = v.getFlags();
        return v.toNumber();
    }
    const f64 value = v.toNumber();
    f = numberFlagsOf(value);
    return value;
}

// Plain digits, no printf: the text of most numbers a script makes.
void writeInt32(String& out, i32 value) {
    unit digits[12];
    i32 n = sizeof digits / sizeof digits[0];
    digits[--n] = 0;
    u32 magnitude = value < 0 ? 0u - u32(value) : u32(value);
    do {
        digits[--n] = unit('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[--n] = '-';
    out = digits + n;
}

// Finite values are truncated toward zero and saturated to 32 bits.
i32 saturateInt32(f64 value) {
    if (value >= 2147483647.0) return std::numeric_limits<i32>::max();
    if (value <= -2147483648.0) return std::numeric_limits<i32>::min();
    return i32(value);
}

// The low 32 bits of the value truncated to 64 bits; 0 from 2^63 on.
i32 wrapInt32(f64 value) {
    if (!(std::fabs(value) < 9223372036854775808.0)) return 0;
    return i32(u32(u64(i64(value))));
}

bool sameSign(f64 a, f64 b) { return std::signbit(a) == std::signbit(b); }

// Finite in the broad sense: any of the classes a finite value gets.
constexpr u16 kAnyFinite = Variant::kFinite | Variant::kInt32 | Variant::kUInt32 |
                           Variant::kNegativeZero;

}  // namespace

// ---------------------------------------------------------------------------
// Construction, assignment, release

Variant::Variant() {}

Variant::Variant(bool value) : type(kBoolean) { payload.boolean = value ? 1 : 0; }

Variant::Variant(i32 value) : type(kNumber), flags(value >= 0 ? kInt32 | kUInt32 : kInt32) {
    payload.number = value;
}

Variant::Variant(f64 value) : type(kNumber) { payload.number = value; }

Variant::Variant(const String& value) : text(newText(value)), type(kString) {}

Variant::Variant(const char* value) : text(newText(String(value))), type(kString) {}

Variant::Variant(const Variant& other) { *this = other; }

Variant::Variant(const Variant* other) {
    if (other) *this = *other;
}

Variant::~Variant() {
    releaseValue();
    if (text) deleteText(text);
}

Variant& Variant::operator=(const Variant& source) {
    if (this == &source) return *this;
    // The text first: it is the one step that can fail, and then nothing has changed.
    if (source.type == kString) textString() = *source.text;
    releaseValue();
    type = source.type;
    flags = u16((source.flags & 0xFF) | (flags & kSlotFlags));
    if (type == kBoolean)
        payload.boolean = source.payload.boolean;
    else if (type == kNumber)
        payload.number = source.payload.number;
    return *this;
}

void Variant::clear() { becomeSimple(kUndefined, 0); }

void Variant::becomeSimple(u32 newType, u16 valueFlags) {
    releaseValue();
    type = newType;
    flags = u16((flags & kSlotFlags) | valueFlags);
}

// What types 5 and up hold is given back here once they can be held; simple
// values hold nothing beyond the text, which stays for reuse.
void Variant::releaseValue() {
    if (type < kScriptObject) return;
    payload.pointer = nullptr;
    object = nullptr;
}

String& Variant::textString() const {
    if (!text) text = newText(String());
    return *text;
}

// ---------------------------------------------------------------------------
// Setters

void Variant::setNull() { becomeSimple(kNull, 0); }

void Variant::setBool(bool value) {
    becomeSimple(kBoolean, 0);
    payload.boolean = value ? 1 : 0;
}

void Variant::setNumber(f64 value) {
    becomeSimple(kNumber, 0);
    payload.number = value;
}

void Variant::setInt(i32 value) {
    becomeSimple(kNumber, kInt32);
    payload.number = value;
}

void Variant::setUInt(u32 value) {
    becomeSimple(kNumber, value <= 0x7FFFFFFF ? kInt32 | kUInt32 : kUInt32);
    payload.number = value;
}

void Variant::setNaN() {
    becomeSimple(kNumber, kNumberFlagsComputed | kNaN);
    payload.number = kNaNValue;
}

void Variant::setInfinity() {
    becomeSimple(kNumber, kNumberFlagsComputed | kInfinity);
    payload.number = kInfinityValue;
}

void Variant::setNegativeInfinity() {
    becomeSimple(kNumber, kNumberFlagsComputed | kNegativeInfinity);
    payload.number = -kInfinityValue;
}

void Variant::setNegativeZero() {
    becomeSimple(kNumber, kNumberFlagsComputed | kNegativeZero);
    payload.number = -0.0;
}

void Variant::setString(const String& value) {
    textString() = value;
    becomeSimple(kString, 0);
}

void Variant::setString(const char* value) { setString(String(value)); }

void Variant::setString(const unit* value) { setString(String(value)); }

// ---------------------------------------------------------------------------
// Number classes

void Variant::updateNumberClass() const {
    if (type != kNumber) return;
    f64 value = payload.number;
    flags = u16((flags & kSlotFlags) | classifyDouble(&value));
}

void Variant::updateNumberFlags() const {
    if (type != kNumber || (flags & kNumberFlagsComputed)) return;
    flags = u16((flags & 0xFF00) | numberFlagsOf(payload.number));
}

u16 Variant::numberClass() const {
    if (!(flags & kNumberClassMask)) updateNumberClass();
    return flags & kNumberClassMask;
}

bool Variant::isFinite() const {
    f64 value = toNumber();
    i32 c = classifyDouble(&value);
    return c == kFinite || c == kNegativeZero;
}

bool Variant::isNaN() const {
    f64 value = toNumber();
    return classifyDouble(&value) == kNaN;
}

bool Variant::isNegativeZero() const {
    f64 value = toNumber();
    return classifyDouble(&value) == kNegativeZero;
}

// ---------------------------------------------------------------------------
// Equality and order

bool Variant::operator==(const Variant& other) const {
    if (type != other.type) return false;
    switch (type) {
        case kUndefined:
        case kNull:
            return true;
        case kBoolean:
            return payload.boolean == other.payload.boolean;
        case kNumber:
            numberClass();
            other.numberClass();
            return payload.number == other.payload.number;  // NaN never equal, +0 == -0
        case kString:
            return *text == *other.text;
        default:
            return false;
    }
}

i32 Variant::compare(const Variant& other) const {
    if (type == other.type) {
        switch (type) {
            case kUndefined:
            case kNull:
                return 0;
            case kBoolean:
                return i32(payload.boolean) - i32(other.payload.boolean);
            case kString:
                return text->compare(*other.text);
            default:
                break;
        }
    }
    if (type == kUndefined) return -1;
    if (other.type == kUndefined) return 1;

    // Null, booleans and numbers are numbers already; anything else becomes
    // one only against them, and two such values compare as text.
    auto numeric = [](u32 t) { return t == kNull || t == kBoolean || t == kNumber; };
    if (!numeric(type) && !numeric(other.type))
        return asString(*this)->compare(*asString(other));
    auto reduce = [](const Variant& v, f64& value) -> u16 {
        switch (v.type) {
            case kNull:
                value = 0;
                return kInt32 | kUInt32;
            case kBoolean:
                value = v.payload.boolean;
                return kInt32 | kUInt32;
            case kNumber:
                value = v.payload.number;
                return v.numberClass();
            default:
                value = v.toNumber();
                return u16(classifyDouble(&value));
        }
    };
    f64 left, right;
    u16 leftClass = reduce(*this, left), rightClass = reduce(other, right);
    if ((leftClass | rightClass) & kNaN) return kUnordered;
    if ((leftClass | rightClass) & kAnyFinite) {
        f64 difference = left - right;
        return difference > 0 ? 1 : difference < 0 ? -1 : 0;
    }
    if (sameSign(left, right)) return 0;
    return left < 0 ? -1 : 1;
}

// ---------------------------------------------------------------------------
// Text

void Variant::makeString(u32 radix) const {
    switch (type) {
        case kUndefined:
            textString() = u"undefined";  // units: the buffer is reused
            break;
        case kNull:
            textString() = u"null";
            break;
        case kBoolean:
            textString() = payload.boolean ? u"true" : u"false";
            break;
        case kNumber:
            if (radix == 10 || radix == 0) {
                if (flags & kTextCurrent) return;
                updateNumberFlags();
                if (flags & kInt32)
                    writeInt32(textString(), i32(payload.number));
                else
                    formatNumber(textString(), payload.number, 10, 15, kFormatAutomatic);
                flags |= kTextCurrent;
            } else {
                flags &= u16(~kTextCurrent);
                formatNumber(textString(), payload.number, radix, 15, kFormatAutomatic);
            }
            break;
        default:
            break;  // a string's text is its value
    }
}

const String* Variant::asString(const Variant& value) {
    if (value.type != kString) value.makeString(10);
    return &value.textString();
}

String Variant::toString() const { return *asString(*this); }

void Variant::toString(String& out) const { out = *asString(*this); }

const String* Variant::toNumberString(i32 mode, i32 digits) const {
    if (type != kNumber) {
        makeString(10);
        return &textString();
    }
    flags &= u16(~kTextCurrent);
    u32 d = digits < 0 ? 0 : digits > 100 ? 100 : u32(digits);
    u32 m = mode < 0 ? 0 : mode > 2 ? 2 : u32(mode);
    formatNumber(textString(), payload.number, 10, d, m);
    return text;
}

// ---------------------------------------------------------------------------
// Number, boolean, integer

f64 Variant::toNumber() const {
    switch (type) {
        case kNull:
            return 0;
        case kBoolean:
            return payload.boolean;
        case kNumber:
            return payload.number;
        case kString:
            return parseNumber(*text, kStringNumberFlags);
        default:
            return kNaNValue;
    }
}

bool Variant::toBoolean() const {
    switch (type) {
        case kBoolean:
            return payload.boolean != 0;
        case kNumber:
            return !(numberClass() & kNaN) && payload.number != 0;  // NaN, +0 and -0 are false
        case kString:
            return !text->isEmpty();
        default:
            return asString(*this)->compare("true") == 0;
    }
}

i32 Variant::toInt(i32 min, i32 max) const {
    u16 f = 0;
    const f64 value = numberAndFlags(*this, f);
    i32 result;
    if (f & kNaN)
        result = 0;
    else if (f & kInfinity)
        result = std::numeric_limits<i32>::max();
    else if (f & kNegativeInfinity)
        result = std::numeric_limits<i32>::min();
    else
        result = saturateInt32(value);
    if (result > max) result = max;
    if (result < min) result = min;
    return result;
}

i32 Variant::toInt() const {
    u16 f = 0;
    const f64 value = numberAndFlags(*this, f);
    if (f & (kNaN | kInfinity | kNegativeInfinity)) return 0;
    if ((f & kUInt32) || !(f & kInt32)) return wrapInt32(value);
    return i32(value);
}

// ---------------------------------------------------------------------------
// Conversion in place

void Variant::convertTo(u32 newType) {
    if (newType == type) return;
    switch (newType) {
        case kUndefined:
            clear();
            break;
        case kNull:
        case kScriptObject:  // no script object comes out of a conversion
        case kLiveObject:    // nor a live object out of a simple value
            setNull();
            break;
        case kBoolean:
            setBool(toBoolean());
            break;
        case kNumber:
            setNumber(toNumber());
            break;
        case kString:
            makeString(10);  // the text form is the new value
            becomeSimple(kString, 0);
            break;
        default:
            break;  // points, rects, arrays, files, regexps and unit values come with their types
    }
}

}  // namespace LxCore
