// Counted start and end of the core library: the first init starts its
// modules in a fixed order, the last exit ends them.
#pragma once

namespace LxCore {

class InitTerm {
public:
    static void init();
    static void exit();
    static bool isInitialized();
};

}  // namespace LxCore
