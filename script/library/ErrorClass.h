// The Error class and the error classes of the core's error table
// (TypeError, RangeError, ...): one table serves them all, and all share
// the Error prototype. An Error object carries the number, message, file
// name, 1-based line, source and position of an error: of the engine's
// pending error when there is one (a caught runtime error), else of the
// innermost running script with a file name.
#pragma once
#include "script/engine/Dispatcher.h"

namespace LxScript {

class jsErrorClass : public Dispatcher {
public:
    jsErrorClass();
};

// The engine library makes one at its start.
Dispatcher* newErrorClass(const char* className);

}  // namespace LxScript
