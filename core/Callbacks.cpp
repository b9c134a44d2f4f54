#include "core/Callbacks.h"

namespace LxCore {

namespace {

Callbacks* installed = nullptr;

}  // namespace

Callbacks::~Callbacks() = default;

bool Callbacks::pollWork(u32) { return true; }

bool WorkMeter::report() {
    // Once stopped, every add comes here and answers false at once.
    if (stopped) {
        left = 0;
        return false;
    }
    const u32 units = u32(i64(kWorkPollUnits) - left);
    left = i32(kWorkPollUnits);
    Callbacks* callbacks = Callbacks::getCurrent();
    if (!callbacks || callbacks->pollWork(units))
        return true;
    stopped = true;
    left = 0;
    return false;
}

void Callbacks::setCurrent(Callbacks* callbacks) { installed = callbacks; }

Callbacks* Callbacks::getCurrent() { return installed; }

}  // namespace LxCore
