// Counted start and end of the core library: the first init starts its
// modules in a fixed order, the last exit ends them.
#pragma once

namespace LxCore {

class InitTerm {
public:
    // Only the call that raises the count to 1 does work. When a module
    // cannot start, those already started are ended again, the count goes
    // back to 0 and the exception passes on.
    static void init();
    // Only the call that lowers the count from 1 does work: it runs the
    // at-exit functions in registration order and ends the modules.
    static void exit();
    static bool isInitialized();
    // True from load, and during any first init, until that init is done;
    // meanwhile the process-wide defaults stand in for the thread record's
    // localizer and encoder.
    static bool isStartingUp();
    // Runs `function` at the last exit. Ignored for null and while the
    // library is not started.
    static void atExit(void (*function)());
};

}  // namespace LxCore
