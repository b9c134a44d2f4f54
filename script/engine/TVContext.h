// The script context the engine keeps in the core's thread record. The
// record owns it and deletes it through this destructor; the engine library
// fills in the rest.
#pragma once
#include "core/Heap.h"

namespace LxScript {

class TVContext : public LxCore::Root {
public:
    virtual ~TVContext() = default;
};

}  // namespace LxScript
