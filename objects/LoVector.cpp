#include "objects/LoVector.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace LxObjects {

namespace {

const int kFirstCapacity = 32;

void** newArray(int capacity)
{
    void** items = static_cast<void**>(std::malloc(sizeof(void*) * size_t(capacity)));
    if (!items)
        throw std::bad_alloc();
    return items;
}

}  // namespace

LoVectorBase::LoVectorBase() : items_(newArray(kFirstCapacity)), count_(0), capacity_(kFirstCapacity)
{
}

LoVectorBase::~LoVectorBase()
{
    std::free(items_);
}

void LoVectorBase::append(void* item)
{
    if (count_ == capacity_) {
        // Doubling keeps appends amortised constant time, however long the queue.
        if (capacity_ == INT_MAX)
            throw std::bad_alloc();
        int capacity = capacity_ > INT_MAX / 2 ? INT_MAX : capacity_ * 2;
        void** items = newArray(capacity);
        std::memcpy(items, items_, sizeof(void*) * size_t(count_));
        std::free(items_);
        items_ = items;
        capacity_ = capacity;
    }
    items_[count_++] = item;
}

void* LoVectorBase::get(int index) const
{
    return index >= 0 && index < count_ ? items_[index] : nullptr;
}

void* LoVectorBase::removeAt(int index)
{
    if (index < 0 || index >= count_)
        return nullptr;
    void* item = items_[index];
    std::memmove(items_ + index, items_ + index + 1, sizeof(void*) * size_t(count_ - index - 1));
    --count_;
    return item;
}

bool LoVectorBase::remove(const void* item)
{
    for (int i = 0; i < count_; ++i) {
        if (items_[i] == item) {
            removeAt(i);
            return true;
        }
    }
    return false;
}

}  // namespace LxObjects
