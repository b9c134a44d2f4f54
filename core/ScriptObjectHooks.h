// What the core knows of a script object that a Variant holds: its counts,
// which the engine's object carries as its first base, and the operations
// of an interface the engine installs at its start and removes at its exit.
// The core knows nothing else of the object's layout.
#pragma once
#include "core/Heap.h"
#include "core/Listener.h"
#include "core/Types.h"

namespace LxCore {

class FileSpec;
class LiveObject;
class String;
class Variant;

// The two counts a holder changes.
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

// The core's part of a script object. Holders change the counts at every
// copy, so they are reached through a plain pointer to this base; only the
// engine turns that pointer into its own object. A script object hears the
// broadcasts of the live objects it is tied to: with the listener's table
// first, this base starts where the engine's object does, and the engine's
// conversion costs nothing.
class ScriptObject : public Listener {
public:
    ScriptObjectCounts counts{1, 0};   // the maker holds the first reference
};

class ScriptObjectHooks : public Root {
public:
    virtual ~ScriptObjectHooks() = 0;
    // The reference count has dropped to 0: the engine's release of the
    // object. The core does not touch the object afterwards.
    virtual void finalize(ScriptObject& object) = 0;

    virtual u32 getObjectID(ScriptObject& object) = 0;
    virtual u32 getClassID(ScriptObject& object) = 0;      // 0x20000091 for a RegExp object
    virtual bool isValid(ScriptObject& object) = 0;
    virtual void getClassName(ScriptObject& object, String& out) = 0;
    // The primitive default value: hint 1 string, 0 number. False when the
    // object gives none.
    virtual bool getDefaultValue(ScriptObject& object, Variant& out, i32 hint) = 0;
    // A RegExp object's regular-expression value lives here; null when none.
    virtual const Variant* getInternalValue(ScriptObject& object) = 0;

    virtual LiveObject* getLiveObject(ScriptObject& object) = 0;   // attached, or null; no reference taken
    virtual Root* getNativeData(ScriptObject& object) = 0;
    virtual void setNativeData(ScriptObject& object, Root* data) = 0;  // deletes the data attached before
    // The file specification of a File or Folder object's native data, or
    // null: native data carries no run-time type the core could test.
    virtual const FileSpec* getFileSpec(ScriptObject& object) = 0;

    // The installed object; null removes it. The caller keeps ownership and
    // keeps it alive while it is installed. Without one no Variant can hold a
    // script object: the object setters then make the Variant null.
    static void setCurrent(ScriptObjectHooks* hooks);
    static ScriptObjectHooks* getCurrent();
};

}  // namespace LxCore
