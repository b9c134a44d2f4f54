// Counted start and end of the engine library: the data pool, the class
// objects every engine shares, and the engine's hooks into the core.
#pragma once
#include "core/Types.h"

namespace LxCore {
class Lock;
}  // namespace LxCore

namespace LxScript {

class InitTerm {
public:
    // Only the call that raises the count to 1 does work; it also holds one
    // start of the core library until the last exit. When a step fails, the
    // steps already done are undone, the count goes back and the exception
    // passes on.
    static void init();
    // Only the call that lowers the count from 1 does work: the at-exit
    // functions run in registration order, then every step is undone.
    static void exit();
    // The core library is started and so is this one.
    static bool isInitialized();
    // Runs `function` at the last exit. Ignored for null and while the
    // library is not started.
    static void atExit(void (*function)());
    // The core's lock-table pointer, as kept at start; null while stopped.
    static LxCore::Lock** getLockTable();
};

}  // namespace LxScript
