#include "core/Callbacks.h"

namespace LxCore {

namespace {

Callbacks* installed = nullptr;

}  // namespace

Callbacks::~Callbacks() = default;

void Callbacks::setCurrent(Callbacks* callbacks) { installed = callbacks; }

Callbacks* Callbacks::getCurrent() { return installed; }

}  // namespace LxCore
