// The Function class: the constructor that compiles a function from text,
// apply and call, the text forms toString and toSource, and the
// properties arguments, length, arity and name of every function object.
#pragma once
#include "core/String.h"
#include "script/engine/Dispatcher.h"

namespace LxScript {

class Function;

class jsFunctionClass : public Dispatcher {
public:
    jsFunctionClass();
};

// The engine library makes one at its start.
Dispatcher* newFunctionClass(const char* className);

// apply() takes at most this many elements of its array-like argument.
constexpr LxCore::u32 kMaxApplyArguments = 1048576;

// A function's own text: its source for a script function, a stand-in body
// for native and compiled ones.
LxCore::String functionSource(Function& function);

// The source text on one line as far as that keeps its meaning: runs of
// four spaces become one and line ends spaces, except the line end after a
// "//" comment or directive line, and after any token a statement may end
// with, where a line end may end the statement. Strings and regular
// expressions stay as written. A text the scanner cannot read keeps its
// line ends.
LxCore::String compactSource(const LxCore::String& text);

}  // namespace LxScript
