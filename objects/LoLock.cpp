#include "objects/LoLock.h"

#include <mutex>
#include <new>

namespace LxObjects {

class LoLock::LockData : public LoHeap {
public:
    std::recursive_mutex mutex;
};

LoLock::LoLock() : data_(new LockData)
{
    if (!data_)
        throw std::bad_alloc();
}

LoLock::~LoLock()
{
    delete data_;
}

void LoLock::enter()
{
    data_->mutex.lock();
}

void LoLock::leave()
{
    data_->mutex.unlock();
}

LoLockable::LoLockable() : lock_(new LoLock)
{
    if (!lock_)
        throw std::bad_alloc();
}

LoLockable::~LoLockable()
{
    delete lock_;
}

ObjectLock::ObjectLock(const LoLockable& object) : object_(object)
{
    object_.getLock()->enter();
}

ObjectLock::~ObjectLock()
{
    object_.getLock()->leave();
}

}  // namespace LxObjects
