// The RegExp class: constructor, compile, exec, test, the text forms and the
// class-level properties of the last match ($1..$9, lastMatch, ...) and of
// the switches that change every match (RegExp.global, .ignoreCase,
// .multiline). Also the entries String's pattern methods call.
#pragma once
#include "core/RegExp.h"
#include "core/String.h"
#include "core/Variant.h"
#include "script/engine/Dispatcher.h"
#include "script/engine/Object.h"

namespace LxScript {

class RealEngine;
class reGlobals;

class jsRegExpClass : public Dispatcher {
public:
    jsRegExpClass();

    // The class-level properties, by the id of their row.
    void get(Arguments& args) override;
    void put(Arguments& args) override;
};

Dispatcher* newRegExpClass(const char* className);

// The engine's accessor for the pattern of a value: a regular-expression
// value's, or the one a RegExp object holds; else null. Copy the handle
// before running script: a compile() in that script replaces the object's.
const LxCore::RegExp* patternOf(const Variant& value);
// The engine's match globals, made on first use.
reGlobals& regExpGlobals(RealEngine& engine);

// String.prototype's pattern methods over a RegExp object (the caller makes
// one from its arguments when needed). Each raises what goes wrong (27 for a
// pattern that runs away; the replacer's own error, a deadline or a halt are
// the engine's already) and then leaves result untouched. match: an Array or null; search: a number (NaN without
// a pattern); replace: the new text (empty without a pattern); split: an
// Array.
void patternMatch(RealEngine& engine, Object& regexp, const LxCore::String& text,
                  Variant& result);
void patternSearch(RealEngine& engine, Object& regexp, const LxCore::String& text,
                   Variant& result);
// replacer: a function called for each match, or null for the "$" forms of
// replacement.
void patternReplace(RealEngine& engine, Object& regexp, const LxCore::String& text,
                    const LxCore::String& replacement, Object* replacer, Variant& result);
void patternSplit(RealEngine& engine, Object& regexp, const LxCore::String& text, LxCore::u32 limit,
                  Variant& result);

}  // namespace LxScript
