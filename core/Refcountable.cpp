// Reference counts, locks and the global lock table.
#include "core/Refcountable.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

namespace LxCore {

namespace detail {

Lock* globalLockTable = nullptr;

u32 interlockedIncrement(u32* counter) { return std::atomic_ref<u32>(*counter).fetch_add(1) + 1; }
u32 interlockedDecrement(u32* counter) { return std::atomic_ref<u32>(*counter).fetch_sub(1) - 1; }

}  // namespace detail

using detail::globalLockTable;

u32 Refcountable::release() {
    u32 count = atomicDecrement(&refCount);
    if (count == 0)
        delete this;
    return count;
}

struct Lock::Section {
    std::recursive_mutex mutex;
};

Lock::Lock() : section(new (Heap::alloc(sizeof(Section))) Section) {}

Lock::~Lock() {
    section->~Section();
    Heap::free(section);
    section = nullptr;
}

void Lock::enter() { section->mutex.lock(); }
void Lock::leave() { section->mutex.unlock(); }

Lock** getGlobalLockTable() { return &globalLockTable; }

GlobalLockGuard::GlobalLockGuard(GlobalLockId id)
    : held(globalLockTable ? &globalLockTable[id] : nullptr) {
    if (held)
        held->enter();
}

GlobalLockGuard::~GlobalLockGuard() {
    if (held)
        held->leave();
}

void initLockTable(bool start) {
    if (start)
        return;
    delete[] globalLockTable;
    globalLockTable = nullptr;
}

namespace {

// The destructions waiting while one runs: a stack on the C runtime's heap,
// which ends as the run ends.
struct Doomed {
    void (*destroy)(void*);
    void* object;
};

struct DoomedQueue {
    Doomed* items = nullptr;
    size_t count = 0;
    size_t capacity = 0;
    bool running = false;

    bool push(Doomed item) noexcept {
        if (count == capacity) {
            size_t grown = capacity ? capacity * 2 : 64;
            void* more = std::realloc(items, grown * sizeof(Doomed));
            if (!more)
                return false;
            items = static_cast<Doomed*>(more);
            capacity = grown;
        }
        items[count++] = item;
        return true;
    }
};

thread_local DoomedQueue doomed;

}  // namespace

void destroyInTurn(void (*destroy)(void*), void* object) noexcept {
    if (doomed.running) {
        // Without room to wait it is destroyed at once, one level deeper.
        if (!doomed.push({destroy, object}))
            destroy(object);
        return;
    }
    doomed.running = true;
    destroy(object);
    while (doomed.count > 0) {
        Doomed next = doomed.items[--doomed.count];
        next.destroy(next.object);
    }
    std::free(doomed.items);
    doomed = DoomedQueue();
}

RefcountablePtr::~RefcountablePtr() {
    if (!object)
        return;
    try {
        object->release();
    } catch (...) {
        // A destructor must not throw; the reference is gone either way.
    }
}

}  // namespace LxCore
