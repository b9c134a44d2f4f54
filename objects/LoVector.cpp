#include "objects/LoVector.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace LxObjects {

namespace {

const int kStep = 32;

void** newArray(int capacity)
{
    void** items = static_cast<void**>(std::malloc(sizeof(void*) * size_t(capacity)));
    if (!items)
        throw std::bad_alloc();
    return items;
}

}  // namespace

LoVectorBase::LoVectorBase() : items_(newArray(kStep)), count_(0), capacity_(kStep)
{
}

LoVectorBase::~LoVectorBase()
{
    std::free(items_);
}

void LoVectorBase::append(void* item)
{
    if (count_ == capacity_) {
        if (capacity_ > INT_MAX - kStep)
            throw std::bad_alloc();
        void** items = newArray(capacity_ + kStep);
        std::memcpy(items, items_, sizeof(void*) * size_t(count_));
        std::free(items_);
        items_ = items;
        capacity_ += kStep;
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
