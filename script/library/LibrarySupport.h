// What the built-in class tables share: the running engine of a handler,
// the object a method works on, error raising, and the internal-value
// handler of String, Number and Boolean.
#pragma once
#include "core/ErrorCodes.h"
#include "core/String.h"
#include "core/Variant.h"
#include "script/engine/Dispatcher.h"
#include "script/engine/Object.h"
#include "script/engine/RealEngine.h"

namespace LxScript {

namespace Err = LxCore::Err;

// Handlers run only inside the concrete engine.
inline RealEngine& engineOf(const Arguments& args) { return *static_cast<RealEngine*>(args.engine); }

inline bool errorPending(const Arguments& args) { return args.engine->getError().getCode() != 0; }

// The script object `this` names, or null for a primitive.
inline Object* thisObject(const Arguments& args) {
    return args.thisValue ? objectOf(*args.thisValue) : nullptr;
}

inline void raise(const Arguments& args, i32 code, const LxCore::String& text) {
    args.engine->setError(code, text, -1, false);
}

// Error 41 with the number as "%lg" writes it.
void raiseOutOfRange(const Arguments& args, LxCore::f64 value);

// The internal value of this (toString and valueOf of the wrapper classes);
// a primitive this is its own value.
void internalValueHandler(Arguments& args);
const Variant& internalValueOf(const Arguments& args);

}  // namespace LxScript
