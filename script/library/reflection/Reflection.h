// Reflection for scripts: a "Reflection" object describes a script object
// (its reflect property) or a class of a dictionary; a "Dictionary" object
// lists a dictionary's groups and classes; a "ReflectionInfo" object
// describes one member or one argument of a member.
//
// The described script object is held in the Reflection or ReflectionInfo
// object's internal value, so the collector sees that reference and clearing
// the object drops it; the native data holds only the dictionary and names.
#pragma once
#include "core/String.h"
#include "core/Variant.h"
#include "script/engine/Dispatcher.h"

namespace LxCore {
class Dictionary;
}  // namespace LxCore

namespace LxScript {

class Object;

Dispatcher* newReflectionClass(const char* className);
Dispatcher* newReflectionInfoClass(const char* className);
Dispatcher* newDictionaryClass(const char* className);

// A new "Reflection" object describing object (for reflect).
void makeReflectionObject(Variant& result, Object& object);
// A new "Dictionary" object over dictionary (not owned; null: an empty one).
void makeDictionaryObject(Variant& result, LxCore::Dictionary* dictionary);
// A new "ReflectionInfo" object: the member of the object's (or the
// dictionary's) class, or its argument at argumentIndex (-1: the member).
void makeReflectionInfo(Variant& result, Object* object, LxCore::Dictionary* dictionary,
                        const LxCore::String& className, const LxCore::String& memberName, bool isStatic,
                        bool secondType, i32 argumentIndex);

}  // namespace LxScript
