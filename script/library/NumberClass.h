// Number: the constructor, the number constants and the formatting methods.
#pragma once
#include "script/engine/Dispatcher.h"

namespace LxScript {

class jsNumberClass : public Dispatcher {
public:
    jsNumberClass();
    // The constants, by row id.
    void get(Arguments& args) override;
};

// The class object the engine library makes at its start.
Dispatcher* newNumberClass(const char* className);

}  // namespace LxScript
