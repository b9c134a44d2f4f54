// Array: the constructor, length, the generic element methods (each works on
// any object as this) and the per-thread source-listing switch __120__.
//
// Limits on the walks: an object whose length far exceeds the elements it
// holds (more than twice their count plus kSparseSlack) is walked by its
// existing indexes, where holes stay holes; every element loop and every
// comparison of sort is a unit of the engine's pollWork, so a timeout or
// halt stops it.
#pragma once
#include "core/Array.h"
#include "script/engine/Dispatcher.h"
#include "script/engine/Object.h"

namespace LxScript {

class RealEngine;

class jsArrayClass : public Dispatcher {
public:
    jsArrayClass();
};

constexpr LxCore::u32 kSparseSlack = 1000;

// Fills a new array from values: "length" first, then each value, resolved
// by the engine, at its index. Without the literal flag a single number is
// the length instead (error 41 when it is none: not negative and integral
// below 2^32), as new Array(n) has it.
void fillArray(RealEngine& engine, Object& array, const LxCore::BasicArray& values, bool literal);

// A new Array of values in result, for a built-in's answer. Unlike the
// engine's newArray it opens no entry of its own, so the running script's
// deadline holds while a long list is filled; when the work is stopped
// result is left as it was.
void newArrayOf(RealEngine& engine, const LxCore::BasicArray& values, Variant& result);

// The class object the engine library makes at its start.
Dispatcher* newArrayClass(const char* className);

}  // namespace LxScript
