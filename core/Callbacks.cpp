#include "core/Callbacks.h"

namespace LxCore {

namespace {

Callbacks* installed = nullptr;

}  // namespace

Callbacks::~Callbacks() = default;

bool Callbacks::pollWork(u32) { return true; }

bool WorkMeter::report() {
    if (stopped)
        return false;
    const u32 units = pending;
    pending = 0;
    Callbacks* callbacks = Callbacks::getCurrent();
    if (!callbacks || callbacks->pollWork(units))
        return true;
    // Every later add comes here and answers false at once.
    stopped = true;
    pending = kWorkPollUnits;
    return false;
}

void Callbacks::setCurrent(Callbacks* callbacks) { installed = callbacks; }

Callbacks* Callbacks::getCurrent() { return installed; }

}  // namespace LxCore
