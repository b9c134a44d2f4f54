#include "core/platform/PlatformThread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace LxCore {

u32 platformThreadId() { return u32(syscall(SYS_gettid)); }

}  // namespace LxCore
