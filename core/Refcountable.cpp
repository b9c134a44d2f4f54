// Reference counts, locks and the global lock table.
#include "core/Refcountable.h"

#include <atomic>
#include <mutex>
#include <new>

namespace LxCore {

namespace {

Lock* globalLockTable = nullptr;

}  // namespace

u32 atomicIncrement(u32* counter) {
    if (globalLockTable)
        return std::atomic_ref<u32>(*counter).fetch_add(1) + 1;
    return ++*counter;
}

u32 atomicDecrement(u32* counter) {
    if (globalLockTable)
        return std::atomic_ref<u32>(*counter).fetch_sub(1) - 1;
    return --*counter;
}

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
