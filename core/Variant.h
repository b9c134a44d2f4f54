// The core's one value type: a tagged value that owns what it holds and keeps
// a lazily built text form beside it.
#pragma once
#include "core/Heap.h"
#include "core/ScriptObjectHooks.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

class Array;
class FileSpec;
class LiveObject;
class RegExp;
struct Point;
struct Rect;
class UnitValue;

class Variant : public Root {
public:
    // Types 0 to 4 are simple: nothing is held beyond the text.
    enum Type : u32 {
        kUndefined = 0,
        kNull = 1,
        kBoolean = 2,
        kNumber = 3,
        kString = 4,
        kScriptObject = 5,
        kLiveObject = 6,
        kPoint = 7,
        kRect = 8,
        kArray = 9,
        kFileSpec = 10,
        kRegExp = 11,
        kUnitValue = 12,
    };

    // Flag bits 0 to 8 describe the value and go with every change of it;
    // bits 9 to 15 belong to the Variant as a slot and survive every change.
    static constexpr u16 kFinite = 1;
    static constexpr u16 kInt32 = 2;               // integral, in the signed 32-bit range
    static constexpr u16 kUInt32 = 4;              // integral, in the unsigned 32-bit range
    static constexpr u16 kNaN = 8;
    static constexpr u16 kInfinity = 16;
    static constexpr u16 kNegativeInfinity = 32;
    static constexpr u16 kNegativeZero = 64;
    static constexpr u16 kNumberClassMask = 0x7F;  // 0: not computed yet
    static constexpr u16 kNumberFlagsComputed = 0x80;
    static constexpr u16 kTextCurrent = 0x100;     // the text is the number's decimal text
    static constexpr u16 kLockedReference = 0x200; // a held script object also counts a lock
    static constexpr u16 kValueFlags = 0x1FF;
    static constexpr u16 kSlotFlags = 0xFE00;

    // The class id of RegExp objects, whose internal value getRegExp reads.
    static constexpr u32 kRegExpClassID = 0x20000091;

    // What compare answers when either side is NaN.
    static constexpr i32 kUnordered = 0x7FFFFFFF;

    Variant() {}
    Variant(bool value);
    Variant(i32 value);
    Variant(f64 value);
    Variant(const String& value);
    Variant(const char* value);                    // Latin-1
    Variant(ScriptObject& object);
    explicit Variant(ScriptObject* object);        // null: null
    Variant(u32 id, const String& className, Root* data);  // an unbound object reference
    Variant(LiveObject& object, u32 id);           // its text starts as the class name
    Variant(const Variant& other);
    // A move takes everything, text included, and leaves the source
    // undefined; a move assignment of a simple value over a simple value
    // only copies it. Slot flags stay with their Variants, and so do the
    // lock counts they stand for.
    Variant(Variant&& other) noexcept;
    explicit Variant(const Variant* other);        // null: undefined
    // A script object goes in place; what is left then (a text, a record,
    // or whatever a finalize that reached this Variant left) goes in
    // destroy.
    ~Variant() {
        if (type < kScriptObject && !text)
            return;
        if (dropsInPlace())
            dropObjectInPlace(kUndefined, 0, Payload());
        if (type >= kScriptObject || text)
            destroy();
    }

    // Simple values over simple values (the interpreter's common case) are
    // copied in place, and so is a script object over a simple value or
    // another script object; everything else goes through assign.
    Variant& operator=(const Variant& source) {
        if (source.type < kString && type < kScriptObject) {
            setSimple(source.type, u16(source.flags & 0xFF), source.payload);
            return *this;
        }
        if (copiesObjectInPlace(source)) {
            copyObjectInPlace(source);
            return *this;
        }
        assign(source);
        return *this;
    }
    Variant& operator=(Variant&& source) noexcept {
        if (source.type < kString && type < kScriptObject) {
            setSimple(source.type, u16(source.flags & 0xFF), source.payload);
            return *this;
        }
        if (movesObjectInPlace(source)) {
            moveObjectInPlace(source);
            return *this;
        }
        return moveFrom(source);
    }
    void clear() {                                 // undefined; the text String stays for reuse
        if (type < kScriptObject)
            setSimple(kUndefined, 0, Payload());
        else
            releaseValue();
    }
    // Undefined, and the String kept for reuse lets its text go too when
    // others hold it: a value given back for good keeps no string's buffer
    // shared, so that the string's holder may still grow it in place.
    void clearAll() {
        clear();
        if (text && !text->isEmpty() && text->hasOtherHolders())
            text->clear();
    }
    bool operator==(const Variant& other) const;   // strict: no conversion
    bool operator!=(const Variant& other) const { return !(*this == other); }
    i32 compare(const Variant& other) const;       // -1, 0, 1 or kUnordered

    Type getType() const { return Type(type); }
    u16 getFlags() const { return flags; }
    // Turning kLockedReference on or off while a script object is held
    // raises or lowers its lock count to match.
    void setSlotFlags(u16 slotFlags) {
        if (object)
            setSlotFlagsHolding(slotFlags);
        else
            flags = u16((flags & kValueFlags) | (slotFlags & kSlotFlags));
    }

    void setNull() { becomeSimple(kNull, 0); }
    void setBool(bool value) { becomeSimple(kBoolean, 0, Payload{.boolean = u8(value ? 1 : 0)}); }
    void setNumber(f64 value) {
        if (type < kScriptObject)
            setSimple(kNumber, 0, Payload{.number = value});
        else
            becomeSimple(kNumber, 0, Payload{.number = value});
    }
    void setInt(i32 value) { becomeSimple(kNumber, kInt32, Payload{.number = f64(value)}); }
    void setUInt(u32 value) {
        becomeSimple(kNumber, value <= 0x7FFFFFFF ? kInt32 | kUInt32 : kUInt32, Payload{.number = f64(value)});
    }
    void setNaN();
    void setInfinity();
    void setNegativeInfinity();
    void setNegativeZero();
    void setString(const String& value);
    void setString(const char* value);             // Latin-1
    void setString(const unit* value);             // up to the terminating 0

    // Values that hold a resource. Each builds the new value before it gives
    // the old one back, so the source may live inside the old value. Without
    // installed script-object hooks the object setters make the Variant null.
    void setObject(ScriptObject& value) {
        if (holdsInPlace()) {
            if (type != kScriptObject || object != &value)
                holdObjectInPlace(value, Payload(), 0, 0);
        } else {
            setObjectGenerally(value);
        }
    }
    void setObject(ScriptObject* value) {         // null: null
        if (value)
            setObject(*value);
        else
            setNull();
    }
    void setObjectReference(u32 id, const String& className, Root* data);
    void setLiveObject(LiveObject& object, u32 id);
    void setLiveObject(LiveObject* object, u32 id);    // null: null
    void setArray(const Array& value);
    void setFileSpec(const FileSpec& value);
    void setRegExp(const RegExp& value);
    void setRect(const Rect& value);
    void setUnitValue(const UnitValue& value);

    // Typed access: null (false) for any other type, and null too when the
    // record could not be allocated.
    ScriptObject* getObject() const {             // a bound script object
        return type == kScriptObject ? object : nullptr;
    }
    u32 getID() const { return id; }               // an object reference's or live object's id
    Point* getPoint() const;
    Rect* getRect() const;
    Array* getArray() const;
    const FileSpec* getFileSpec() const;           // also a File or Folder object's
    const RegExp* getRegExp() const;               // also a RegExp object's value
    LiveObject* getLiveObject() const;             // also a script object's attached one
    UnitValue* getUnitValue() const;               // also a live object's 'unVA'
    Root* getNativeData() const;
    void setNativeData(Root* data);
    bool isObjectReference() const;                // type 5, no object, a data pointer
    bool isValidObject() const;

    // The class of the value toNumber gives.
    bool isFinite() const;                         // negative zero included
    bool isNaN() const;
    bool isNegativeZero() const;
    void updateNumberClass() const;
    void updateNumberFlags() const;

    // Conversions. The text form lives in the Variant: a number's decimal
    // text is built once and kept until the value changes.
    void makeString(u32 radix) const;
    const String* getText() const { return text; }  // as makeString left it; null until made
    static const String* asString(const Variant& value);
    // A string's own text, for its holder to change in place (an append
    // that lets go of it first); null for any other type.
    String* stringText() { return type == kString ? &textString() : nullptr; }
    String toString() const;
    void toString(String& out) const;
    const String* toNumberString(i32 mode, i32 digits) const;
    f64 toNumber() const { return type == kNumber ? payload.number : convertToNumber(); }
    bool toBoolean() const { return type == kBoolean ? payload.boolean != 0 : convertToBoolean(); }
    i32 toInt(i32 min, i32 max) const;             // saturated, then clamped
    i32 toInt() const;                             // wraps to 32 bits
    void convertTo(u32 newType);

private:
    union Payload {
        f64 number;
        u8 boolean;
        void* pointer;                             // the held value of types 5 and up
    };

    // A value of type 5 and up on its way in or out of a Variant. The old
    // value is given back only once the Variant stands on its new one, so a
    // source inside the old value, or a finalize that reaches this Variant,
    // finds it whole.
    struct Held {
        u32 type = kUndefined;
        void* pointer = nullptr;                   // the record, live object or reference data
        ScriptObject* object = nullptr;            // a bound script object
        u32 id = 0;
    };

    Payload payload = {};
    u32 id = 0;                                    // live object: its id; object reference: the object id
    ScriptObject* object = nullptr;                // a held script object
    mutable String* text = nullptr;                // a string's value; else the cached text form
    u32 type = kUndefined;
    mutable u16 flags = 0;

    // The installed script-object hooks; null while none are, and then no
    // Variant holds a script object.
    static ScriptObjectHooks* objectHooks;
    friend class ScriptObjectHooks;

    // The engine's release of an object whose last reference went.
    [[gnu::cold]] static void finalizeObject(ScriptObject& object);
    // Reference counts are the engine's plain integers; a count already at
    // 0 is not taken below it.
    static void dropReference(ScriptObject& object) {
        u32& references = object.counts.references;
        if (references != 0 && --references == 0)
            finalizeObject(object);
    }

    // A bound script object over a simple value, an unbound reference or
    // another script object, on a Variant that counts no lock: a reference
    // count raised, the fields stored, the old reference dropped.
    bool holdsInPlace() const {
        return type <= kScriptObject && !(flags & kLockedReference) && objectHooks;
    }
    bool copiesObjectInPlace(const Variant& source) const {
        return source.type == kScriptObject && source.object && holdsInPlace();
    }
    // The new reference is taken before the old one goes, so a source inside
    // the old object, or a finalize that reaches this Variant, finds it
    // whole; a copy onto itself raises the count before it drops it.
    void holdObjectInPlace(ScriptObject& held, Payload heldPayload, u32 heldID, u16 valueFlags) {
        ScriptObject* const old = type == kScriptObject ? object : nullptr;
        ++held.counts.references;
        type = kScriptObject;
        flags = u16((flags & kSlotFlags) | valueFlags);
        payload = heldPayload;
        object = &held;
        id = heldID;
        if (old)
            dropReference(*old);
    }
    // The source is read whole first.
    void copyObjectInPlace(const Variant& source) {
        holdObjectInPlace(*source.object, source.payload, source.id, u16(source.flags & 0xFF));
    }
    // The same for a move from a Variant that counts no lock either: the
    // reference changes holders and no count changes.
    bool movesObjectInPlace(const Variant& source) const {
        return copiesObjectInPlace(source) && !(source.flags & kLockedReference) && this != &source;
    }
    // The source is emptied and this Variant stands on its value before
    // the old reference goes.
    void moveObjectInPlace(Variant& source) {
        ScriptObject* const held = source.object;
        const Payload heldPayload = source.payload;
        const u32 heldID = source.id;
        const u16 valueFlags = u16(source.flags & 0xFF);
        source.payload = Payload();
        source.id = 0;
        source.object = nullptr;
        source.type = kUndefined;
        source.flags = u16(source.flags & kSlotFlags);
        ScriptObject* const old = type == kScriptObject ? object : nullptr;
        type = kScriptObject;
        flags = u16((flags & kSlotFlags) | valueFlags);
        payload = heldPayload;
        object = held;
        id = heldID;
        if (old)
            dropReference(*old);
    }
    // A script object, or an unbound reference, given up on a Variant that
    // counts no lock.
    bool dropsInPlace() const {
        return type == kScriptObject && !(flags & kLockedReference) && objectHooks;
    }
    // The Variant stands on its new value before the old reference goes.
    void dropObjectInPlace(u32 newType, u16 valueFlags, Payload value) {
        ScriptObject* const old = object;
        object = nullptr;
        setSimple(newType, valueFlags, value);
        if (old)
            dropReference(*old);
    }

    void assign(const Variant& source);
    void assignHeld(const Variant& source);
    Variant& moveFrom(Variant& source) noexcept;
    void holdObject(ScriptObject& held, Payload heldPayload, u32 heldID, u16 valueFlags);
    void setObjectGenerally(ScriptObject& value);
    void setObjectHeld(ScriptObject& value);
    void destroy();
    f64 convertToNumber() const;
    bool convertToBoolean() const;
    // A simple value over a simple value: nothing to give back.
    void setSimple(u32 newType, u16 valueFlags, Payload value) {
        type = newType;
        flags = u16((flags & kSlotFlags) | valueFlags);
        payload = value;
        id = 0;
    }
    String& textString() const;                    // made on first need
    // Nothing to give back below type 5: the common case stays inline.
    void becomeSimple(u32 newType, u16 valueFlags, Payload value = {}) {
        if (type < kScriptObject)
            setSimple(newType, valueFlags, value);
        else if (dropsInPlace())
            dropObjectInPlace(newType, valueFlags, value);
        else
            becomeSimpleFromHeld(newType, valueFlags, value);
    }
    void becomeSimpleFromHeld(u32 newType, u16 valueFlags, Payload value);
    void becomeSimpleFromRecord(u32 newType, u16 valueFlags, Payload value);
    void releaseValue() { becomeSimple(kUndefined, 0); }
    Held takeHeld() { return type < kScriptObject ? Held() : takeHeldValue(); }
    Held takeHeldValue();
    void setSlotFlagsHolding(u16 slotFlags);
    void install(const Held& value);
    void replaceWith(const Held& value);
    bool sameObject(const Variant& other) const;
    void recordText(String& out) const;
    bool defaultValueText(String& out) const;
    f64 objectNumber() const;
    LiveObject* newLiveObjectFrom() const;
    i32 objectID() const;
    void* convertedRecord(u32 newType) const;
    Array* newArrayFrom() const;
    static Held share(const Variant& source);     // a reference taken, or a record copied
    static void giveBack(const Held& value);
};

}  // namespace LxCore
