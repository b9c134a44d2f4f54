#include "objects/platform/Sync.h"

#include <chrono>
#include <sched.h>
#include <unistd.h>

namespace LxObjects::Platform {

void AutoResetEvent::set()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        set_ = true;
    }
    signal_.notify_one();
}

bool AutoResetEvent::wait(uint32_t ms)
{
    std::unique_lock<std::mutex> guard(mutex_);
    auto isSet = [this] { return set_; };
    if (ms == kInfinite)
        signal_.wait(guard, isSet);
    else if (!signal_.wait_for(guard, std::chrono::milliseconds(ms), isSet))
        return false;
    set_ = false;
    return true;
}

void yieldProcessor()
{
    sched_yield();
}

uint32_t currentThreadId()
{
    return uint32_t(gettid());
}

}  // namespace LxObjects::Platform
