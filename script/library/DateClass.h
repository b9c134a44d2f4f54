// The Date class: constructor, Date.parse, Date.UTC, Date.now, the local and
// UTC getters and setters, the text forms, and the class-level switches of
// daylight saving (__usdst__, dstStart, dstEnd). Each Date object carries a
// jsDateTime record as its native data.
#pragma once
#include "core/Variant.h"
#include "script/engine/Dispatcher.h"
#include "script/library/DateTime.h"

namespace LxScript {

class jsDateClass : public Dispatcher {
public:
    // Also reads the platform's standard offset, once for the library's life.
    jsDateClass();
};

Dispatcher* newDateClass(const char* className);

// The record of a Date object, or null for any other value.
jsDateTime* dateRecordOf(const Variant& value);

}  // namespace LxScript
