// Boolean: the constructor and the text forms of truth values.
#pragma once
#include "script/engine/Dispatcher.h"

namespace LxScript {

class jsBooleanClass : public Dispatcher {
public:
    jsBooleanClass();
};

// The class object the engine library makes at its start.
Dispatcher* newBooleanClass(const char* className);

}  // namespace LxScript
