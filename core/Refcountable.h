// Reference counting, cloning, locks and the global table of component locks.
#pragma once
#include "core/Heap.h"
#include "core/Types.h"

namespace LxCore {

class Lock;
namespace detail {
extern Lock* globalLockTable;   // null: one thread at a time, plain counts
u32 interlockedIncrement(u32* counter);
u32 interlockedDecrement(u32* counter);
}  // namespace detail

// Interlocked while the global lock table exists, plain otherwise. Every
// reference count of the core goes through these, so the plain case stays
// inline.
inline u32 atomicIncrement(u32* counter) {
    return detail::globalLockTable ? detail::interlockedIncrement(counter) : ++*counter;
}
inline u32 atomicDecrement(u32* counter) {
    return detail::globalLockTable ? detail::interlockedDecrement(counter) : --*counter;
}

// Native data that script objects and live objects own (handed over as
// Root*, which must point to one of these): the owner takes it with retain()
// and ends it with dispose(). Plain data is deleted; counted data
// (every Refcountable) gains and drops one reference.
class NativeData : public Root {
public:
    virtual ~NativeData() = default;
    virtual void retain() {}
    virtual void dispose() { delete this; }
};

class Refcountable : public NativeData {
public:
    explicit Refcountable(u32 initialCount = 1) : refCount(initialCount) {}
    Refcountable(const Refcountable&) : NativeData(), refCount(1) {}
    Refcountable& operator=(const Refcountable&) { return *this; }
    ~Refcountable() override = default;

    // Drops one reference; at 0 the object deletes itself and 0 is returned.
    virtual u32 release();
    void retain() override { addRef(); }
    void dispose() override { release(); }

    u32 addRef() { return atomicIncrement(&refCount); }
    u32 getRefCount() const { return refCount; }

protected:
    u32 refCount;
};

// Runs destroy(object) at once, unless another destroyInTurn is running on
// this thread: then it runs when that one has finished. Values whose end
// sets off further ends (arrays of arrays, objects holding objects) are so
// destroyed one after the other, never nested deeper than one level.
void destroyInTurn(void (*destroy)(void*), void* object) noexcept;

class Cloneable : public Root {
public:
    virtual ~Cloneable() = default;
    virtual void clone(Cloneable*& out) const = 0;
};

// A recursive lock: re-entered freely by its holder, blocking other threads.
class Lock : public Root {
public:
    Lock();                     // throws std::bad_alloc
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void enter();
    void leave();

private:
    struct Section;
    Section* section;           // on the core heap
};

// Holds a lock only once its owner makes one; until then locking does nothing.
class Lockable {
public:
    Lockable() = default;
    Lockable(const Lockable&) {}
    Lockable& operator=(const Lockable&) { return *this; }
    ~Lockable() { delete lockObject; }

    void lock() {
        if (lockObject)
            lockObject->enter();
    }
    void unlock() {
        if (lockObject)
            lockObject->leave();
    }

protected:
    void makeLock() {
        if (!lockObject)
            lockObject = new Lock;
    }

    Lock* lockObject = nullptr;
};

// Holds a Lockable's lock for a scope.
class LockableGuard {
public:
    explicit LockableGuard(Lockable& held) : held(held) { held.lock(); }
    ~LockableGuard() { held.unlock(); }
    LockableGuard(const LockableGuard&) = delete;
    LockableGuard& operator=(const LockableGuard&) = delete;

private:
    Lockable& held;
};

// Entries of the global lock table, one per component.
enum GlobalLockId : i32 {
    kAllocatorLock = 0,
    kBroadcasterLock = 2,
    kFileSystemLock = 3,
    kDialogLock = 4,
    kEncoderLock = 5,
    kClassRegistryLock = 6,     // live-object classes and units
    kLocalizerLock = 7,
    kDispatcherLock = 9,
    kGlobalLockCount = 10
};

// The address of the table pointer; the table itself (an array of
// kGlobalLockCount locks) is never made in this system, so it stays null.
Lock** getGlobalLockTable();

// Holds one entry of the global lock table for a scope; nothing without a table.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(GlobalLockId id);
    ~GlobalLockGuard();
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

private:
    Lock* held;
};

// Module start/end: the end deletes the lock table, when there is one.
void initLockTable(bool start);

// Owns one reference and drops it when it goes.
class RefcountablePtr {
public:
    explicit RefcountablePtr(Refcountable* held = nullptr) : object(held) {}
    ~RefcountablePtr();
    RefcountablePtr(const RefcountablePtr&) = delete;
    RefcountablePtr& operator=(const RefcountablePtr&) = delete;

    Refcountable* get() const { return object; }

private:
    Refcountable* object;
};

}  // namespace LxCore
