// What the built-in classes share to write values as source text and to
// print objects: string literals that eval reads back unchanged, property
// keys, the object-literal serializer behind Object.prototype.toSource and
// uneval, the source text of any value, and the default string conversion
// of a script object with its localisation lookup.
//
// Source work nests (an object holding an array holding the object, a
// localisation table naming itself), and every level may run script. All
// of it on one thread counts against one depth, kMaxSourceDepth, kept in
// the thread's script context by SourceNesting; past it, or near the stack
// limit, the work stops with error 27 and keeps the text written so far.
#pragma once
#include "core/String.h"
#include "core/Variant.h"
#include "script/engine/Engine.h"
#include "script/frontend/DataPool.h"

namespace LxScript {

class Object;
class RealEngine;
class TVContext;

// Objects within objects (and arrays, and localisation tables) a thread's
// source work may enter at once.
constexpr u32 kMaxSourceDepth = 50;

// One level of source work for a scope. ok() is false, and error 27 raised
// on the engine, when the thread is at kMaxSourceDepth or its stack near
// the limit; the depth goes back on every way out of the scope.
class SourceNesting {
public:
    explicit SourceNesting(Engine& engine);
    ~SourceNesting();
    SourceNesting(const SourceNesting&) = delete;
    SourceNesting& operator=(const SourceNesting&) = delete;

    bool ok() const { return entered; }

private:
    TVContext* context;
    bool entered = false;
};

// text as a double-quoted string literal that the scanner reads back as the
// same units: backslash, quote and control units escaped (letters where
// there are some), U+2028 and U+2029 too; other non-ASCII units only when
// asked.
void appendQuoted(LxCore::String& out, const LxCore::String& text, bool escapeNonAscii);

// An identifier that is no reserved word: what a literal may write bare.
bool isPlainName(const LxCore::String& text);

// A property name as an object-literal key: bare when it is an array index
// or an identifier that is no reserved word, else quoted (non-ASCII
// escaped).
void appendPropertyKey(LxCore::String& out, DataPoolId name);

// The source text of a value: a string quoted; an object the text of its
// "toSource" method (its quoted string conversion when "toSource" is no
// function); anything else its string conversion. False, with the error
// pending, when the method or a conversion failed.
bool appendValueSource(RealEngine& engine, const LxCore::Variant& value, LxCore::String& out,
                       bool escapeNonAscii);

// "{key:value, ...}" of an object's enumerable properties: the object
// itself as "this", nested plain objects written the same way, other values
// by appendValueSource. An object with a native side is "{}". Each
// property is a unit of the engine's pollWork. False, with the text written
// so far, when the depth or a nested value failed or the work was stopped.
bool appendObjectSource(RealEngine& engine, Object& object, LxCore::String& out);

// What a script object prints as: "[object Class]", or, while the engine
// localises or a localize() call runs, the text of its property for the
// current locale when it has one. False, with an error pending, when a
// conversion failed or the localisation lookup nested too deep.
bool defaultObjectText(RealEngine& engine, Object& object, LxCore::String& out);

}  // namespace LxScript
