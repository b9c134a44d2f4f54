// The recursive lock of the objects library and its holders. Every shared
// object of the facility is a LoLockable and is guarded through an
// ObjectLock on the stack for the span of each access.
#pragma once
#include "objects/LoHeap.h"

namespace LxObjects {

class LoLock : public LoHeap {
public:
    class LockData;

    LoLock();
    ~LoLock() override;
    LoLock(const LoLock&) = delete;
    LoLock& operator=(const LoLock&) = delete;

    // The thread that holds the lock may enter it again.
    void enter();
    void leave();

private:
    LockData* data_;
};

class LoLockable : public LoHeap {
public:
    LoLockable();
    ~LoLockable() override;
    LoLockable(const LoLockable&) = delete;
    LoLockable& operator=(const LoLockable&) = delete;

    LoLock* getLock() const { return lock_; }

private:
    LoLock* lock_;
};

class ObjectLock : public LoHeap {
public:
    explicit ObjectLock(const LoLockable& object);
    ~ObjectLock() override;
    ObjectLock(const ObjectLock&) = delete;
    ObjectLock& operator=(const ObjectLock&) = delete;

    // Guards live on the stack only.
    static void* operator new(std::size_t) = delete;

private:
    const LoLockable& object_;
};

}  // namespace LxObjects
