// Room held back for the moment memory runs out. A process that keeps
// serving requests takes one block while memory is plentiful and gives it
// up when it meets the end of memory (an allocation that failed, a script
// that reported "Out of memory"), so that the answer to that and the
// requests after it, the one that frees what a script holds among them,
// find room. Lying unused, the block costs address space, not pages.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdlib>

namespace LxBase {

class MemoryReserve {
public:
    // A few replies and the requests that end or reset a script, with room
    // for the C runtime to map a heap extension of its own (a megabyte or
    // more at a time) once the block is gone.
    static constexpr size_t kBytes = size_t(8) << 20;

    // Takes the block when it is not held and can be had with spare bytes
    // left free beside it; true when it is held afterwards. A spare of 0
    // takes it whenever it fits: before a script runs, so that the script
    // cannot use it up. A spare of kBytes takes it only once memory has
    // come back: taken at once it would leave the requests that follow an
    // exhaustion as short of memory as before.
    static bool take(size_t spare) noexcept {
        if (slot().load(std::memory_order_acquire))
            return true;
        void* room = spare ? std::malloc(spare) : nullptr;
        void* block = spare && !room ? nullptr : std::malloc(kBytes);
        std::free(room);
        if (!block)
            return false;
        void* none = nullptr;
        if (!slot().compare_exchange_strong(none, block, std::memory_order_acq_rel))
            std::free(block);  // another thread took one meanwhile
        return true;
    }

    // Gives the block up; true when it was held.
    static bool release() noexcept {
        void* block = slot().exchange(nullptr, std::memory_order_acq_rel);
        std::free(block);
        return block != nullptr;
    }

    static bool isHeld() noexcept { return slot().load(std::memory_order_acquire) != nullptr; }

private:
    static std::atomic<void*>& slot() noexcept {
        static std::atomic<void*> block{nullptr};
        return block;
    }
};

}  // namespace LxBase
