#include "core/platform/PlatformThread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace LxCore {

u32 platformThreadId() { return u32(syscall(SYS_gettid)); }

// For the main thread the system reads its memory map to answer, so the
// answer is kept; a thread's stack never moves.
uintptr_t platformStackEnd() {
    thread_local uintptr_t end = 0;
    thread_local bool known = false;
    if (known)
        return end;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        void* low = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attributes, &low, &size) == 0)
            end = uintptr_t(low);
        pthread_attr_destroy(&attributes);
    }
    known = true;
    return end;
}

}  // namespace LxCore
