// One step of a message pump (a delivery, a reply, a mailbox read, the
// queued sends): nothing a step throws may end the pump, or the process
// with it. Out of memory, the step gives up the memory reserve and is tried
// once more in the room that leaves; a step that fails again is dropped.
#pragma once
#include <new>

#include "base/platform/MemoryReserve.h"

namespace LxObjects {

// True when the step ran to its end.
template <class Step>
bool runPumpStep(Step&& step) noexcept
{
    try {
        step();
        return true;
    } catch (const std::bad_alloc&) {
        if (!LxBase::MemoryReserve::release())
            return false;
    } catch (...) {
        return false;
    }
    try {
        step();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace LxObjects
