// Synchronisation services of the objects library: auto-reset events,
// yielding and thread ids.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace LxObjects::Platform {

class AutoResetEvent {
public:
    static const uint32_t kInfinite = 0xFFFFFFFF;

    void set();
    // True when the event was set within ms milliseconds (consuming it).
    bool wait(uint32_t ms);

private:
    std::mutex mutex_;
    std::condition_variable signal_;
    bool set_ = false;
};

// Gives the processor to another ready thread once.
void yieldProcessor();

// The calling thread's operating-system id.
uint32_t currentThreadId();

}  // namespace LxObjects::Platform
