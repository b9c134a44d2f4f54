// Thread identity from the operating system.
#pragma once
#include "core/Types.h"

namespace LxCore {

// The calling thread's system-wide id; never 0.
u32 platformThreadId();

}  // namespace LxCore
