// String: the constructor, String.fromCharCode, the text methods, the
// pattern entry points (match, replace, search, split), the HTML wrappers,
// character access by index and length. Positions count UTF-16 units.
#pragma once
#include "script/engine/Dispatcher.h"

namespace LxScript {

class jsStringClass : public Dispatcher {
public:
    jsStringClass();
};

// The class object the engine library makes at its start.
Dispatcher* newStringClass(const char* className);

}  // namespace LxScript
