// Thread identity and stack bounds from the operating system.
#pragma once
#include <cstdint>

#include "core/Types.h"

namespace LxCore {

// The calling thread's system-wide id; never 0.
u32 platformThreadId();

// The lowest address of the calling thread's stack (stacks grow down), read
// once per thread; 0 when the system cannot tell.
uintptr_t platformStackEnd();

}  // namespace LxCore
