// The global functions and constants: NaN, Infinity, undefined, the URI and
// escape codecs, eval and uneval, the number tests and parsers, localize,
// and the engine's own helpers _c and __parse. One table every engine's
// global object takes its properties from.
#pragma once
#include "core/String.h"
#include "script/engine/Dispatcher.h"

namespace LxScript {

class jsGlobalClass : public Dispatcher {
public:
    jsGlobalClass();
    // NaN, Infinity and undefined, by row id.
    void get(Arguments& args) override;
};

// The engine library makes one at its start.
Dispatcher* newGlobalClass(const char* className);

// The codecs of escape() and unescape(), on UTF-16 units.
LxCore::String escapeText(const LxCore::String& text);
LxCore::String unescapeText(const LxCore::String& text);

}  // namespace LxScript
