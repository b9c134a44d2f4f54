// Row flags of the native class tables (PropEntry::flags). They are the low
// attribute bits of the slot a row becomes: a slot takes a row's flags
// within kRowAttributeBits and adds its own bits above (Property.h).
#pragma once
#include "core/Types.h"

namespace LxScript {

using LxCore::u32;

constexpr u32 kReadOnly = 0x1;              // writes are dropped (strict mode reports them)
constexpr u32 kDontEnum = 0x2;              // for-in and plain listings leave it out
constexpr u32 kDontDelete = 0x4;            // delete refuses it
constexpr u32 kNativeValue = 0x8;           // the native getter and setter run on every access, not once
constexpr u32 kStatic = 0x10;               // a member of the class object, not of instances
constexpr u32 kMethod = 0x20;               // reads as a function object that calls the handler
constexpr u32 kArgsToNumber = 0x40;         // object arguments become primitives (hint 0) before the call
constexpr u32 kArgsToString = 0x80;         // object arguments become primitives (hint 1, string)
constexpr u32 kThisToNumber = 0x100;        // the this value becomes a primitive (hint 0)
constexpr u32 kThisToString = 0x200;        // the this value becomes a primitive (hint 1, string)
constexpr u32 kInstancesOnly = 0x400;       // a this of another class is refused with error 26
constexpr u32 kWithdrawn = 0x800;           // hides a parent's row of the same name: not found, not listed
constexpr u32 kHidden = 0x1000;             // listed only when the listing asks for hidden members
constexpr u32 kKeepCached = 0x2000;         // the cached native value survives a collection
constexpr u32 kPutThroughLink = 0x4000;     // a changed object value is written back into its holder
constexpr u32 kRowAttributeBits = 0x7FFF;   // what a slot takes over from its row

// The usual combinations.
constexpr u32 kStaticMethod = kStatic | kMethod;            // a function of the class object
constexpr u32 kInstanceMethod = kMethod | kInstancesOnly;   // a method of the class's own instances
constexpr u32 kHiddenMethod = kHidden | kMethod;            // constructors, call entries, internal functions
constexpr u32 kFixedValue = kDontEnum | kDontDelete | kNativeValue;  // length and its like
constexpr u32 kReadOnlyValue = kFixedValue | kReadOnly;     // ... that scripts cannot write

}  // namespace LxScript
