// A method called on a primitive string (text.charCodeAt(i)) without the
// String object the call would otherwise make for the text, where that
// object could not be seen: the method is a built-in that takes its this
// with the string hint, and the object's toString is the built-in one, so
// the method would see the text anyway.
#pragma once
#include "script/engine/Object.h"

namespace LxScript {

class DispatcherFunction;
class RealEngine;

// The built-in method that text.name() reaches through the String object
// made for the text, when it takes the text itself as this; null otherwise.
// Finding it runs no script and makes nothing a wrapper's lookup would not.
DispatcherFunction* builtInTextMethod(RealEngine& engine, DataPoolId symbol);

}  // namespace LxScript
