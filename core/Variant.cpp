// Variant: construction, assignment, equality, ordering and the conversions
// to text, number, boolean and integer.
#include "core/Variant.h"

#include <cmath>
#include <limits>
#include <memory>
#include <new>

#include "core/Array.h"
#include "core/FileSpec.h"
#include "core/LiteralParser.h"
#include "core/LiveCollection.h"
#include "core/LiveObject.h"
#include "core/NumberText.h"
#include "core/Point.h"
#include "core/RegExp.h"
#include "core/ScriptObjectHooks.h"
#include "core/UnitValue.h"

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
// integer (signed, unsigned or both). Values in the 32-bit range, the common
// case, are told apart with comparisons alone.
u16 numberFlagsOf(f64 value) {
    constexpr u16 kComputed = Variant::kNumberFlagsComputed;
    if (value >= -2147483648.0 && value <= 4294967295.0) {  // NaN fails
        u16 f = kComputed | Variant::kFinite;
        if (value == 0 && std::signbit(value)) f |= Variant::kNegativeZero;
        if (f64(i64(value)) != value) return f;
        if (value > 2147483647.0) return f | Variant::kUInt32;
        return f | (value >= 0 ? Variant::kInt32 | Variant::kUInt32 : Variant::kInt32);
    }
    if (value != value) return kComputed | Variant::kNaN;
    if (value == kInfinityValue) return kComputed | Variant::kInfinity;
    if (value == -kInfinityValue) return kComputed | Variant::kNegativeInfinity;
    return kComputed | Variant::kFinite;
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

// Truncated toward zero and saturated to 32 bits; NaN gives 0.
i32 saturateToInt32(f64 value) {
    if (value != value) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<i32>::max();
    if (value <= -2147483648.0) return std::numeric_limits<i32>::min();
    return i32(value);
}

// The low 32 bits of the value truncated to 64 bits; 0 from 2^63 on.
i32 wrapInt32(f64 value) {
    if (!(std::fabs(value) < 9223372036854775808.0)) return 0;
    return i32(u32(u64(i64(value))));
}

// A live object's valueOf, taken under its lock and converted again. A
// result that is an object again nests the conversion; past 8 nested
// results there is none.
template <class T, class Convert>
T throughValueOf(LiveObject* live, T none, Convert convert) {
    if (!live) return none;
    ObjectBusy nesting(ObjectBusy::kConverting);
    if (!nesting.entered()) return none;
    Variant value;
    {
        LockableGuard guard(*live);
        live->valueOf(value);
    }
    return convert(value);
}

}  // namespace

// ---------------------------------------------------------------------------
// Held values
//
// Types 5 and 6 hold a reference to an object that lives elsewhere; types 7
// and up own a record of their own, copied with the Variant. A record that
// cannot be allocated leaves a null payload under its type. Records and live
// objects end through destroyInTurn, so values nested ten thousand deep end
// one after the other.

namespace {

struct RecordKind {
    void* (*copy)(const void* from);
    void (*destroy)(void* record);
};

template <class T>
void* copyRecord(const void* from) {
    if (!from) return nullptr;
    try {
        return new T(*static_cast<const T*>(from));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

template <class T>
void destroyRecord(void* record) {
    delete static_cast<T*>(record);
}

template <class T>
constexpr RecordKind kRecordOf = {copyRecord<T>, destroyRecord<T>};

// The record each owning type keeps; null for the types that own none.
const RecordKind* recordKind(u32 type) {
    switch (type) {
        case Variant::kPoint:
            return &kRecordOf<Point>;
        case Variant::kRect:
            return &kRecordOf<Rect>;
        case Variant::kArray:
            return &kRecordOf<Array>;
        case Variant::kFileSpec:
            return &kRecordOf<FileSpec>;
        case Variant::kRegExp:
            return &kRecordOf<RegExp>;
        case Variant::kUnitValue:
            return &kRecordOf<UnitValue>;
        default:
            return nullptr;
    }
}

void holdReference(ScriptObject& object) { ++object.counts.references; }

// Equality of two records of one type; a record that could not be made
// equals only another such.
bool sameRecord(u32 type, const void* a, const void* b) {
    if (!a || !b) return a == b;
    switch (type) {
        case Variant::kPoint: {
            const Point& p = *static_cast<const Point*>(a);
            const Point& q = *static_cast<const Point*>(b);
            return p.x == q.x && p.y == q.y;
        }
        case Variant::kRect: {
            const Rect& p = *static_cast<const Rect*>(a);
            const Rect& q = *static_cast<const Rect*>(b);
            return p.left == q.left && p.top == q.top && p.right == q.right && p.bottom == q.bottom;
        }
        case Variant::kArray:
            return static_cast<const Array*>(a)->equals(*static_cast<const Array*>(b));
        case Variant::kFileSpec:
            return *static_cast<const FileSpec*>(a) == *static_cast<const FileSpec*>(b);
        case Variant::kRegExp:
            return *static_cast<const RegExp*>(a) == *static_cast<const RegExp*>(b);
        case Variant::kUnitValue:
            return static_cast<const UnitValue*>(a)->equals(*static_cast<const UnitValue*>(b));
        default:
            return false;
    }
}

// The order of two records of one type, or kNoRecordOrder when the type
// orders by the general rule.
constexpr i32 kNoRecordOrder = 0x7FFFFFFE;

i32 orderRecords(u32 type, const void* a, const void* b) {
    switch (type) {
        case Variant::kPoint:
        case Variant::kRect:
        case Variant::kFileSpec:
        case Variant::kRegExp:
        case Variant::kUnitValue:
            break;
        default:
            return kNoRecordOrder;
    }
    if (!a || !b) return (a != nullptr) - (b != nullptr);
    switch (type) {
        case Variant::kPoint:
            return comparePoints(*static_cast<const Point*>(a), *static_cast<const Point*>(b));
        case Variant::kRect:
            return compareRects(*static_cast<const Rect*>(a), *static_cast<const Rect*>(b));
        case Variant::kRegExp:
            return static_cast<const RegExp*>(a)->getSource().compare(static_cast<const RegExp*>(b)->getSource());
        case Variant::kUnitValue:
            return static_cast<const UnitValue*>(a)->compare(*static_cast<const UnitValue*>(b));
        default: {
            const FileSpec& p = *static_cast<const FileSpec*>(a);
            const FileSpec& q = *static_cast<const FileSpec*>(b);
            if (p == q) return 0;
            String left, right;
            p.getResolvedPath(left);
            q.getResolvedPath(right);
            return left.compare(right);
        }
    }
}

}  // namespace

ScriptObjectHooks* Variant::objectHooks = nullptr;

ScriptObjectHooks::~ScriptObjectHooks() = default;

void ScriptObjectHooks::setCurrent(ScriptObjectHooks* hooks) { Variant::objectHooks = hooks; }

ScriptObjectHooks* ScriptObjectHooks::getCurrent() { return Variant::objectHooks; }

void Variant::finalizeObject(ScriptObject& object) { objectHooks->finalize(object); }

// A script object over a simple value, an unbound reference or another
// script object, with hooks installed: the old lock goes, the
// new reference and lock are taken and the Variant stands on them before
// the old reference goes, so a source inside the old object, or a finalize
// that reaches this Variant, finds it whole.
[[gnu::always_inline]] inline void Variant::holdObject(ScriptObject& held, Payload heldPayload, u32 heldID,
                                                      u16 valueFlags) {
    ScriptObject* const old = type == kScriptObject ? object : nullptr;
    const bool locked = (flags & kLockedReference) != 0;
    if (old && locked) lowerLockCount(old->counts.locks);
    ScriptObjectCounts& counts = held.counts;
    ++counts.references;
    if (locked) raiseLockCount(counts.locks);
    type = kScriptObject;
    flags = u16((flags & kSlotFlags) | valueFlags);
    payload = heldPayload;
    object = &held;
    id = heldID;
    if (old) dropReference(*old);
}

Variant::Held Variant::share(const Variant& source) {
    Held held;
    held.type = source.type;
    switch (source.type) {
        case kScriptObject:
            held.id = source.id;
            held.pointer = source.payload.pointer;
            if (source.object && objectHooks) {
                holdReference(*source.object);
                held.object = source.object;
            }
            break;
        case kLiveObject:
            held.id = source.id;
            held.pointer = source.payload.pointer;
            if (held.pointer) static_cast<LiveObject*>(held.pointer)->addRef();
            break;
        default:
            if (const RecordKind* kind = recordKind(source.type))
                held.pointer = kind->copy(source.payload.pointer);
            break;
    }
    return held;
}

void Variant::giveBack(const Held& value) {
    switch (value.type) {
        case kScriptObject:
            if (value.object && objectHooks) dropReference(*value.object);
            break;
        case kLiveObject:
            if (value.pointer) static_cast<LiveObject*>(value.pointer)->release();
            break;
        default:
            if (const RecordKind* kind = recordKind(value.type))
                if (value.pointer) destroyInTurn(kind->destroy, value.pointer);
            break;
    }
}

// The held value leaves the Variant; a locked reference gives its lock back
// at once, its reference count only in giveBack.
Variant::Held Variant::takeHeldValue() {
    const Held old{type, payload.pointer, object, id};
    if (object && (flags & kLockedReference) && objectHooks) lowerLockCount(object->counts.locks);
    payload.pointer = nullptr;
    object = nullptr;
    return old;
}

void Variant::install(const Held& value) {
    type = value.type;
    flags = u16(flags & kSlotFlags);
    payload.pointer = value.pointer;
    object = value.object;
    id = value.id;
    if (object && (flags & kLockedReference)) raiseLockCount(object->counts.locks);
}

void Variant::replaceWith(const Held& value) {
    const Held old = takeHeld();
    install(value);
    giveBack(old);
}

// ---------------------------------------------------------------------------
// Construction, assignment, release

Variant::Variant(bool value) : type(kBoolean) { payload.boolean = value ? 1 : 0; }

Variant::Variant(i32 value) : type(kNumber), flags(value >= 0 ? kInt32 | kUInt32 : kInt32) {
    payload.number = value;
}

Variant::Variant(f64 value) : type(kNumber) { payload.number = value; }

Variant::Variant(const String& value) : text(newText(value)), type(kString) {}

Variant::Variant(const char* value) : text(newText(String(value))), type(kString) {}

Variant::Variant(ScriptObject& object) { setObject(object); }

Variant::Variant(ScriptObject* object) { setObject(object); }

Variant::Variant(u32 id, const String& className, Root* data) {
    setObjectReference(id, className, data);
}

Variant::Variant(LiveObject& object, u32 objectID) : text(newText(object.getClassName())) {
    setLiveObject(object, objectID);
}

Variant::Variant(const Variant& other) { *this = other; }

Variant::Variant(Variant&& other) noexcept
    : payload(other.payload), id(other.id), object(other.object), text(other.text), type(other.type),
      flags(u16(other.flags & 0xFF)) {
    if (object && (other.flags & kLockedReference) && objectHooks) lowerLockCount(object->counts.locks);
    other.payload = Payload();
    other.id = 0;
    other.object = nullptr;
    other.text = nullptr;
    other.type = kUndefined;
    other.flags = u16(other.flags & kSlotFlags);
}

// Everything is taken from the source before the old value goes: the
// source may live inside it. A string's text changes places with this
// Variant's, so no text is copied.
Variant& Variant::moveFrom(Variant& source) noexcept {
    if (this == &source) return *this;
    const u32 newType = source.type;
    const Payload newPayload = source.payload;
    const u32 newID = source.id;
    ScriptObject* const held = source.object;
    const u16 valueFlags = u16(source.flags & 0xFF);
    if (newType == kString || (newType == kScriptObject && !held && source.text)) {
        String* const mine = text;
        text = source.text;
        source.text = mine;
    }
    if (held && (source.flags & kLockedReference) && objectHooks) lowerLockCount(held->counts.locks);
    source.payload = Payload();
    source.id = 0;
    source.object = nullptr;
    source.type = kUndefined;
    source.flags = u16(source.flags & kSlotFlags);

    const Held old = takeHeld();
    type = newType;
    flags = u16((flags & kSlotFlags) | valueFlags);
    payload = newPayload;
    object = held;
    id = newID;
    if (held && (flags & kLockedReference) && objectHooks) raiseLockCount(held->counts.locks);
    giveBack(old);
    return *this;
}

Variant::Variant(const Variant* other) {
    if (other) *this = *other;
}

void Variant::destroy() {
    releaseValue();
    if (text) deleteText(text);
}

// The source is read whole before the old value goes: it may live inside it.
// A script object over a simple value or another one on a locked slot (the
// unlocked ones are copied inline) takes no frame: the only call it may
// make, the finalize, comes last.
void Variant::assign(const Variant& source) {
    if (source.type == kScriptObject && source.object && type <= kScriptObject && objectHooks &&
        this != &source)
        holdObject(*source.object, source.payload, source.id, u16(source.flags & 0xFF));
    else
        assignHeld(source);
}

[[gnu::noinline]] void Variant::assignHeld(const Variant& source) {
    if (this == &source) return;
    // The text first: it can fail, and then nothing has changed. An unbound
    // reference's text is its class name.
    if (source.type == kString || (source.type == kScriptObject && !source.object && source.text))
        textString() = *source.text;
    const u16 valueFlags = source.flags & 0xFF;
    if (source.type < kScriptObject) {
        becomeSimple(source.type, valueFlags, source.payload);
        return;
    }
    const Held old = takeHeld();
    install(share(source));
    flags = u16(flags | valueFlags);
    giveBack(old);
}

// A script object given back takes no frame either.
void Variant::becomeSimpleFromHeld(u32 newType, u16 valueFlags, Payload value) {
    if (type == kScriptObject && objectHooks) {
        ScriptObject* const old = object;
        if (old && (flags & kLockedReference)) lowerLockCount(old->counts.locks);
        object = nullptr;
        setSimple(newType, valueFlags, value);
        if (old) dropReference(*old);
        return;
    }
    becomeSimpleFromRecord(newType, valueFlags, value);
}

[[gnu::noinline]] void Variant::becomeSimpleFromRecord(u32 newType, u16 valueFlags, Payload value) {
    const Held old = takeHeld();
    type = newType;
    flags = u16((flags & kSlotFlags) | valueFlags);
    payload = value;
    id = 0;
    giveBack(old);
}

void Variant::setSlotFlagsHolding(u16 slotFlags) {
    const u16 turned = u16((flags ^ slotFlags) & kLockedReference);
    flags = u16((flags & kValueFlags) | (slotFlags & kSlotFlags));
    if (!turned || !object || !objectHooks) return;
    u32& locks = object->counts.locks;
    if (flags & kLockedReference)
        raiseLockCount(locks);
    else
        lowerLockCount(locks);
}

String& Variant::textString() const {
    if (!text) text = newText(String());
    return *text;
}

// ---------------------------------------------------------------------------
// Setters


void Variant::setNaN() { becomeSimple(kNumber, kNumberFlagsComputed | kNaN, Payload{.number = kNaNValue}); }

void Variant::setInfinity() {
    becomeSimple(kNumber, kNumberFlagsComputed | kInfinity, Payload{.number = kInfinityValue});
}

void Variant::setNegativeInfinity() {
    becomeSimple(kNumber, kNumberFlagsComputed | kNegativeInfinity, Payload{.number = -kInfinityValue});
}

void Variant::setNegativeZero() {
    becomeSimple(kNumber, kNumberFlagsComputed | kNegativeZero, Payload{.number = -0.0});
}

void Variant::setString(const String& value) {
    textString() = value;
    becomeSimple(kString, 0);
}

void Variant::setString(const char* value) { setString(String(value)); }

void Variant::setString(const unit* value) { setString(String(value)); }

// A locked slot, a record or live object, or counts reached through the
// table's call.
void Variant::setObjectGenerally(ScriptObject& value) {
    if (type == kScriptObject && object == &value) return;
    if (type <= kScriptObject && objectHooks)
        holdObject(value, Payload(), 0, 0);
    else
        setObjectHeld(value);
}

[[gnu::noinline]] void Variant::setObjectHeld(ScriptObject& value) {
    if (!objectHooks) {
        setNull();
        return;
    }
    holdReference(value);
    replaceWith(Held{kScriptObject, nullptr, &value, 0});
}

void Variant::setObjectReference(u32 objectID, const String& className, Root* data) {
    textString() = className;
    replaceWith(Held{kScriptObject, data, nullptr, objectID});
}

// The new reference is taken before the old value goes.
void Variant::setLiveObject(LiveObject& value, u32 objectID) {
    value.addRef();
    replaceWith(Held{kLiveObject, &value, nullptr, objectID});
}

void Variant::setLiveObject(LiveObject* value, u32 objectID) {
    if (value)
        setLiveObject(*value, objectID);
    else
        setNull();
}

void Variant::setArray(const Array& value) {
    replaceWith(Held{kArray, copyRecord<Array>(&value)});
}

void Variant::setFileSpec(const FileSpec& value) {
    replaceWith(Held{kFileSpec, copyRecord<FileSpec>(&value)});
}

void Variant::setRegExp(const RegExp& value) {
    replaceWith(Held{kRegExp, copyRecord<RegExp>(&value)});
}

void Variant::setRect(const Rect& value) { replaceWith(Held{kRect, copyRecord<Rect>(&value)}); }

void Variant::setUnitValue(const UnitValue& value) {
    replaceWith(Held{kUnitValue, copyRecord<UnitValue>(&value)});
}

// ---------------------------------------------------------------------------
// Typed access

Point* Variant::getPoint() const {
    return type == kPoint ? static_cast<Point*>(payload.pointer) : nullptr;
}

Rect* Variant::getRect() const { return type == kRect ? static_cast<Rect*>(payload.pointer) : nullptr; }

Array* Variant::getArray() const {
    if (type == kArray) return static_cast<Array*>(payload.pointer);
    if (LiveObject* live = getLiveObject()) return static_cast<Array*>(live->getInterface(kArrayItemsInterface));
    return nullptr;
}

const FileSpec* Variant::getFileSpec() const {
    if (type == kFileSpec) return static_cast<const FileSpec*>(payload.pointer);
    if (type == kScriptObject && object && objectHooks) return objectHooks->getFileSpec(*object);
    return nullptr;
}

// A RegExp object stands for the regular expression of its internal value.
// Objects whose values lead round in a circle give none.
const RegExp* Variant::getRegExp() const {
    constexpr int kMaxHops = 64;
    const Variant* v = this;
    for (int hop = 0; hop <= kMaxHops; ++hop) {
        if (v->type == kRegExp) return static_cast<const RegExp*>(v->payload.pointer);
        if (v->type != kScriptObject || !v->object || !objectHooks || objectHooks->getClassID(*v->object) != kRegExpClassID)
            return nullptr;
        v = objectHooks->getInternalValue(*v->object);
        if (!v) return nullptr;
    }
    return nullptr;
}

LiveObject* Variant::getLiveObject() const {
    if (type == kLiveObject) return static_cast<LiveObject*>(payload.pointer);
    if (type == kScriptObject && object && objectHooks) return objectHooks->getLiveObject(*object);
    return nullptr;
}

UnitValue* Variant::getUnitValue() const {
    if (type == kUnitValue) return static_cast<UnitValue*>(payload.pointer);
    if (type == kLiveObject && payload.pointer)
        return static_cast<UnitValue*>(getLiveObject()->getInterface(kUnitValueInterface));
    return nullptr;
}

Root* Variant::getNativeData() const {
    if (type == kLiveObject) return payload.pointer ? getLiveObject()->getNativeData() : nullptr;
    if (type != kScriptObject) return nullptr;
    if (object) return objectHooks ? objectHooks->getNativeData(*object) : nullptr;
    return static_cast<Root*>(payload.pointer);
}

void Variant::setNativeData(Root* data) {
    if (type == kLiveObject && payload.pointer) getLiveObject()->setNativeData(data);
    if (type != kScriptObject) return;
    if (!object)
        payload.pointer = data;
    else if (objectHooks)
        objectHooks->setNativeData(*object, data);
}

bool Variant::isObjectReference() const {
    return type == kScriptObject && !object && payload.pointer;
}

bool Variant::isValidObject() const {
    if (type == kLiveObject) return payload.pointer && getLiveObject()->isValid();
    return type == kScriptObject && object && objectHooks && objectHooks->isValid(*object);
}

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
            return payload.number == other.payload.number;  // NaN never equal, +0 == -0
        case kString:
            return *text == *other.text;
        case kScriptObject:
            return sameObject(other);
        case kLiveObject:
            if (!payload.pointer || !other.payload.pointer) return payload.pointer == other.payload.pointer;
            return getLiveObject()->equals(*other.getLiveObject());
        default:
            return sameRecord(type, payload.pointer, other.payload.pointer);
    }
}

// Two bound objects are the same object; otherwise the ids and then the
// class names decide, so a reference names the object it was taken from.
bool Variant::sameObject(const Variant& other) const {
    if (object && other.object) return object == other.object;
    auto idOf = [](const Variant& v) { return v.object ? objectHooks->getObjectID(*v.object) : v.id; };
    if (!objectHooks && (object || other.object)) return false;
    if (idOf(*this) != idOf(other)) return false;
    auto classNameOf = [](const Variant& v, String& out) {
        if (v.object)
            objectHooks->getClassName(*v.object, out);
        else if (v.text)
            out = *v.text;
    };
    String left, right;
    classNameOf(*this, left);
    classNameOf(other, right);
    return left == right;
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
            default: {
                const i32 order = orderRecords(type, payload.pointer, other.payload.pointer);
                if (order != kNoRecordOrder) return order;
                break;
            }
        }
    }
    if (type == kUndefined) return -1;
    if (other.type == kUndefined) return 1;

    // Null, booleans and numbers are numbers already; anything else becomes
    // one only against them, and two such values compare as text.
    auto numeric = [](u32 t) { return t == kNull || t == kBoolean || t == kNumber; };
    if (!numeric(type) && !numeric(other.type))
        return asString(*this)->compare(*asString(other));
    // The doubles' own order: infinities of one sign are equal, -0 equals
    // +0, and NaN is unordered. No number class is needed for that.
    const f64 left = toNumber(), right = other.toNumber();
    if (left != left || right != right) return kUnordered;
    return left < right ? -1 : left > right ? 1 : 0;
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
        case kScriptObject:
            // An unbound reference's text is its class name already.
            if (object && objectHooks)
                objectHooks->getClassName(*object, textString());
            else
                textString();
            break;
        case kString:
            break;  // the text is the value
        case kLiveObject: {
            String& out = textString();
            out.clear();
            if (LiveObject* live = getLiveObject()) {
                LockableGuard guard(*live);
                live->toString(out);
            }
            break;
        }
        default:
            recordText(textString());
            break;
    }
}

// The text of an owned record; none for a record that could not be made.
void Variant::recordText(String& out) const {
    out.clear();
    const void* record = payload.pointer;
    if (!record) return;
    switch (type) {
        case kPoint: {
            const Point& p = *static_cast<const Point*>(record);
            out.sprintf("%ld:%ld", long(saturateToInt32(p.x)), long(saturateToInt32(p.y)));
            break;
        }
        case kRect: {
            const Rect& r = *static_cast<const Rect*>(record);
            out.sprintf("%ld:%ld-%ld:%ld", long(saturateToInt32(r.left)), long(saturateToInt32(r.top)),
                        long(saturateToInt32(r.right)), long(saturateToInt32(r.bottom)));
            break;
        }
        case kArray: {
            // Arrays nested too deep to print show as an object.
            ObjectBusy nesting(ObjectBusy::kPrinting);
            if (!nesting.entered()) {
                out = "[object Array]";
                break;
            }
            String elements;
            static_cast<const Array*>(record)->toString(elements);
            out = '[';
            out += elements;
            out += ']';
            break;
        }
        case kFileSpec:
            out = "[object File]";
            break;
        case kRegExp:
            out = static_cast<const RegExp*>(record)->getSource();
            break;
        case kUnitValue:
            static_cast<const UnitValue*>(record)->toString(out);
            break;
        default:
            break;
    }
}

const String* Variant::asString(const Variant& value) {
    if (value.type != kString) value.makeString(10);
    return &value.textString();
}

// A bound script object's text is that of its default value with the string
// hint; a value that is itself an object gives that object's class name.
bool Variant::defaultValueText(String& out) const {
    if (type != kScriptObject || !object || !objectHooks) return false;
    Variant value;
    objectHooks->getDefaultValue(*object, value, 1);
    out = *asString(value);
    return true;
}

String Variant::toString() const {
    if (defaultValueText(textString())) return *text;
    return *asString(*this);
}

void Variant::toString(String& out) const {
    if (!defaultValueText(out)) out = *asString(*this);
}

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

f64 Variant::convertToNumber() const {
    switch (type) {
        case kNull:
            return 0;
        case kBoolean:
            return payload.boolean;
        case kNumber:
            return payload.number;
        case kString:
            return parseNumber(*text, kStringNumberFlags);
        case kScriptObject:
            return objectNumber();
        case kLiveObject:
            return throughValueOf(getLiveObject(), kNaNValue,
                                  [](const Variant& value) { return value.toNumber(); });
        case kFileSpec:
        case kRegExp:
            return parseNumber(*asString(*this), kStringNumberFlags);
        case kUnitValue:
            return payload.pointer ? static_cast<const UnitValue*>(payload.pointer)->value : kNaNValue;
        default:
            return kNaNValue;
    }
}

// A bound object's default value with the number hint, converted again; the
// object id when it gives none (or only another object). An unbound
// reference is its id.
f64 Variant::objectNumber() const {
    if (!object || !objectHooks) return id;
    Variant value;
    if (!objectHooks->getDefaultValue(*object, value, 0) || value.type == kScriptObject)
        return objectHooks->getObjectID(*object);
    return value.toNumber();
}

bool Variant::convertToBoolean() const {
    switch (type) {
        case kBoolean:
            return payload.boolean != 0;
        case kNumber:
            return payload.number != 0 && payload.number == payload.number;  // NaN, +0 and -0 are false
        case kString:
            return !text->isEmpty();
        case kScriptObject:
        case kLiveObject:
            return true;
        case kUnitValue:
            return toNumber() != 0;
        default:
            return asString(*this)->compare("true") == 0;
    }
}

// A script object's id, or the id an unbound reference or a live object
// keeps.
i32 Variant::objectID() const {
    if (object) return objectHooks ? i32(objectHooks->getObjectID(*object)) : 0;
    return i32(id);
}

i32 Variant::toInt(i32 min, i32 max) const {
    if (type == kScriptObject || type == kLiveObject) return objectID();  // not clamped
    // Saturation takes NaN to 0 and the infinities to the ends: no class needed.
    i32 result = saturateToInt32(toNumber());
    if (result > max) result = max;
    if (result < min) result = min;
    return result;
}

i32 Variant::toInt() const {
    if (type == kScriptObject) return objectID();
    if (type == kLiveObject)
        return throughValueOf(getLiveObject(), 0, [](const Variant& value) { return value.toInt(); });
    // Inside the signed range truncation is the wrap; NaN and the
    // infinities fail the test and wrap to 0.
    const f64 value = toNumber();
    if (value > -2147483649.0 && value < 2147483648.0) return i32(value);
    return wrapInt32(value);
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
            setNull();
            break;
        case kLiveObject:
            if (LiveObject* made = newLiveObjectFrom())
                replaceWith(Held{kLiveObject, made, nullptr, 0});
            else
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
        case kPoint:
        case kRect:
        case kArray:
        case kFileSpec:
        case kRegExp:
        case kUnitValue:
            replaceWith(Held{newType, convertedRecord(newType)});
            break;
        default:
            break;
    }
}

// The record of another type that this value converts to; null when it
// cannot be allocated.
void* Variant::convertedRecord(u32 newType) const {
    try {
        switch (newType) {
            case kPoint:
            case kRect: {
                // Elements missing from the array count as undefined: 0.
                f64 c[4] = {};
                if (const Array* array = getArray())
                    for (u32 i = 0; i < (newType == kPoint ? 2u : 4u); i++)
                        c[i] = (*array)[i].toInt();
                if (newType == kPoint) return new Point(c[0], c[1]);
                return new Rect(c[0], c[1], c[2], c[3]);
            }
            case kArray:
                return newArrayFrom();
            case kFileSpec:
                if (const FileSpec* spec = getFileSpec()) return new FileSpec(*spec);
                return new FileSpec(*asString(*this), false);
            case kRegExp:
                if (const RegExp* re = getRegExp()) return new RegExp(*re);
                return new RegExp(compileRegExp(*asString(*this), 0));
            case kUnitValue:
                // A string is parsed; a live object gives its own; anything
                // else is a number without a unit.
                if (type == kString) return new UnitValue(*text);
                if (const UnitValue* held = getUnitValue()) return new UnitValue(*held);
                return new UnitValue(kUnitNone, toNumber());
            default:
                return nullptr;
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Arrays, points and rects become a live array over the elements, unit
// values a "UnitValue" object; other values none.
LiveObject* Variant::newLiveObjectFrom() const {
    try {
        if (type == kUnitValue)
            return payload.pointer ? new UnitValueObject(*getUnitValue()) : nullptr;
        std::unique_ptr<Array> owned;
        const Array* items = type == kArray ? getArray() : nullptr;
        if (type == kPoint || type == kRect) {
            owned.reset(newArrayFrom());
            items = owned.get();
        }
        if (!items) return nullptr;
        return new LiveArray(*items, nullptr, 0, false);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

Array* Variant::newArrayFrom() const {
    if (type == kLiveObject) {
        const Array* items = getArray();
        return items ? new Array(*items) : nullptr;
    }
    Array* array = new Array;
    try {
        if (const Point* p = type == kPoint ? getPoint() : nullptr) {
            array->appendNumber(p->x);
            array->appendNumber(p->y);
        } else if (const Rect* r = type == kRect ? getRect() : nullptr) {
            array->appendNumber(r->left);
            array->appendNumber(r->top);
            array->appendNumber(r->right);
            array->appendNumber(r->bottom);
        } else if (type != kUndefined && type != kPoint && type != kRect) {
            array->appendParsed(*asString(*this), kScriptClient);
        }
    } catch (...) {
        delete array;
        throw;
    }
    return array;
}

}  // namespace LxCore
