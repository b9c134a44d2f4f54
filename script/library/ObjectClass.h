// The Object class: its constructor, the methods every script object
// inherits, Object.isValid, and the special properties __proto__,
// __count__, __class__ and reflect. Its toSource and toString are the
// shared writers of SourceText.h.
#pragma once
#include "core/Variant.h"
#include "script/engine/Dispatcher.h"

namespace LxScript {

class jsObjectClass : public Dispatcher {
public:
    jsObjectClass();
};

// The engine library makes one at its start.
Dispatcher* newObjectClass(const char* className);

// The class of the wrapper object of a boolean, number or string; 0 for
// any other value.
DataPoolId wrapperClassOf(const LxCore::Variant& value);

}  // namespace LxScript
