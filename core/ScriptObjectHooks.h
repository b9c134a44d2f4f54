// What the core does to a script object that a Variant holds, through a
// table the engine installs at its start and removes at its exit. The core
// knows nothing of the object's layout; every field and operation it needs is
// reached through one of the entries below.
#pragma once
#include "core/Types.h"

namespace LxScript {
class Object;
}  // namespace LxScript

namespace LxCore {

class FileSpec;
class LiveObject;
class Root;
class String;
class Variant;

// The two counts a holder changes. The engine keeps them side by side in its
// object, so one call hands both over.
struct ScriptObjectCounts {
    u32 references;     // every holder; the object is finalized when it drops to 0
    u32 locks;          // holders inside the engine (Variant flag 0x200): low 30 bits
                        // count, bit 30 is the collector's mark
};

// The lock count lives in the low 30 bits of its word; bit 30 is the
// collector's mark. Both tests look at the low 30 bits only, so a mark set
// between a raise and its lower changes neither, and the count never carries
// into the mark. Every raise and lower, in the core and in the engine, goes
// through these two.
constexpr u32 kLockCountMask = 0x3FFFFFFF;

inline void raiseLockCount(u32& word) {
    if ((word & kLockCountMask) != kLockCountMask)
        ++word;
}

inline void lowerLockCount(u32& word) {
    if ((word & kLockCountMask) != 0)
        --word;
}

struct ScriptObjectHooks {
    using Object = LxScript::Object;

    // The object's counts; they stay at this address for the object's life.
    ScriptObjectCounts& (*counts)(Object& object);
    // The reference count has dropped to 0: the engine's release of the
    // object. The core does not touch the object afterwards.
    void (*finalize)(Object& object);

    u32 (*getObjectID)(Object& object);
    u32 (*getClassID)(Object& object);      // 0x20000091 for a RegExp object
    bool (*isValid)(Object& object);
    void (*getClassName)(Object& object, String& out);
    // The primitive default value: hint 1 string, 0 number. False when the
    // object gives none.
    bool (*getDefaultValue)(Object& object, Variant& out, i32 hint);
    // A RegExp object's regular-expression value lives here; null when none.
    const Variant* (*getInternalValue)(Object& object);

    LiveObject* (*getLiveObject)(Object& object);   // attached, or null; no reference taken
    Root* (*getNativeData)(Object& object);
    void (*setNativeData)(Object& object, Root* data);  // deletes the data attached before
    // The file specification of a File or Folder object's native data, or
    // null: native data carries no run-time type the core could test.
    const FileSpec* (*getFileSpec)(Object& object);

    // Where counts() finds them, from the object's start: holders change
    // the counts at every copy, so they are reached without a call. 0: ask
    // counts().
    u32 countsOffset;
};

// The table in force; null removes it. The caller keeps the table alive
// while it is installed. Without a table no Variant can hold a script
// object: the object setters then make the Variant null.
void setScriptObjectHooks(const ScriptObjectHooks* hooks);
const ScriptObjectHooks* getScriptObjectHooks();

}  // namespace LxCore
