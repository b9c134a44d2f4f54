// Reference-counted, copy-on-write arrays of pointer-sized values, the base
// of the core's other containers and registries.
#pragma once
#include <cstdint>
#include "core/Heap.h"
#include "core/Types.h"

namespace LxCore {

// One shared array block on the core heap; the elements follow the header.
struct SimpleArrayBlock {
    u32 refCount;
    i32 count;
    u32 capacityWord;   // low 31 bits: capacity; bit 31: must not be shared
    u32 growBy;         // at least 1; capacities are multiples of it
    intptr_t reserved;  // always 0

    intptr_t* elements() { return reinterpret_cast<intptr_t*>(this + 1); }
    i32 capacity() const { return i32(capacityWord & 0x7FFFFFFF); }
};

class SimpleArray : public Root {
public:
    using Value = intptr_t;
    static constexpr i32 kMaxCount = 0x7FFFFFFF;

    SimpleArray();
    SimpleArray(const SimpleArray& other);
    SimpleArray& operator=(const SimpleArray& other);
    ~SimpleArray();         // the elements are not released

    bool operator==(const SimpleArray& other) const;

    i32 getCount() const { return block->count; }
    Value get(i32 index) const {        // 0 outside the array
        return index >= 0 && index < block->count ? block->elements()[index] : 0;
    }
    Value operator[](i32 index) const { return get(index); }

    // Every change detaches a shared block first; growth past kMaxCount
    // elements throws std::bad_alloc and leaves the array unchanged. A full
    // block that add, insert or append must grow at least doubles.
    void add(Value value);
    void insert(Value value, i32 index);            // index clamped to 0..count
    void append(const SimpleArray& other);
    void merge(const SimpleArray& other, bool keepNull);   // set union, in order
    void set(i32 index, Value value);               // nothing outside the array
    i32 find(Value value) const;                    // -1 when absent
    void remove(Value value);                       // the first equal element
    Value removeAt(i32 index);                      // below 0 acts as 0; 0 past the end
    void setGrowBy(i32 n);
    void setCount(i32 n);                           // new slots are 0
    void detach();
    void releaseAll();      // release() on every non-null element; the caller empties

private:
    SimpleArrayBlock* block;

    void adopt(SimpleArrayBlock* other);
    void growByOne();
    void growTo(i32 n);                         // n above the count
    void resize(i32 n, u64 capacity);           // n at least 1, capacity at least n
    friend struct SimpleArrayProbe;     // tests reach the block through it
};

// The typed form: elements are pointers to T.
template <class T>
class TSimpleArray : public SimpleArray {
public:
    void add(T* item) { SimpleArray::add(toValue(item)); }
    void insert(T* item, i32 index) { SimpleArray::insert(toValue(item), index); }
    void append(const TSimpleArray& other) { SimpleArray::append(other); }
    void merge(const TSimpleArray& other, bool keepNull) { SimpleArray::merge(other, keepNull); }
    void set(i32 index, T* item) { SimpleArray::set(index, toValue(item)); }
    i32 find(const T* item) const { return SimpleArray::find(toValue(item)); }
    void remove(const T* item) { SimpleArray::remove(toValue(item)); }
    T* removeAt(i32 index) { return toItem(SimpleArray::removeAt(index)); }
    T* get(i32 index) const { return toItem(SimpleArray::get(index)); }
    T* operator[](i32 index) const { return get(index); }

private:
    static Value toValue(const T* item) { return reinterpret_cast<Value>(item); }
    static T* toItem(Value value) { return reinterpret_cast<T*>(value); }
};

}  // namespace LxCore
