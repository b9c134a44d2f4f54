// Pointer vector of the objects library. It holds pointers and owns nothing
// but its array, which starts with 32 slots and doubles when full.
#pragma once
#include "objects/LoHeap.h"

namespace LxObjects {

class LoVectorBase : public LoHeap {
public:
    LoVectorBase();
    ~LoVectorBase() override;
    LoVectorBase(const LoVectorBase&) = delete;
    LoVectorBase& operator=(const LoVectorBase&) = delete;

    void append(void* item);
    // Null for an index outside 0..count-1.
    void* get(int index) const;
    // Returns the removed pointer (null outside the range); later items move down.
    void* removeAt(int index);
    // Removes the first item equal to item; false when there is none.
    bool remove(const void* item);
    int count() const { return count_; }
    int capacity() const { return capacity_; }

private:
    void** items_;
    int count_;
    int capacity_;
};

template <class T>
class LoVector : public LoVectorBase {
public:
    LoVector() = default;
    ~LoVector() override = default;

    void append(T* item) { LoVectorBase::append(item); }
    T* get(int index) const { return static_cast<T*>(LoVectorBase::get(index)); }
    T* removeAt(int index) { return static_cast<T*>(LoVectorBase::removeAt(index)); }
    bool remove(const T* item) { return LoVectorBase::remove(item); }
};

}  // namespace LxObjects
