// SimpleArray: blocks are shared between copies and copied before a change.
#include "core/SimpleArray.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/Refcountable.h"

namespace LxCore {

namespace {

constexpr u32 kNoShareBit = 0x80000000;

// Every empty array shares this block; its own reference keeps it from ever
// being freed.
SimpleArrayBlock emptyBlock = {1, 0, 0, 8, 0};

u64 bytesFor(u64 capacity) { return sizeof(SimpleArrayBlock) + capacity * sizeof(intptr_t); }

SimpleArrayBlock* newBlock(u32 capacityWord, u32 growBy) {
    void* memory = Heap::alloc(bytesFor(capacityWord & ~kNoShareBit));
    return new (memory) SimpleArrayBlock{1, 0, capacityWord, growBy, 0};
}

SimpleArrayBlock* share(SimpleArrayBlock* block) {
    atomicIncrement(&block->refCount);
    return block;
}

void drop(SimpleArrayBlock* block) {
    if (atomicDecrement(&block->refCount) == 0 && block != &emptyBlock)
        Heap::free(block);
}

bool isShared(const SimpleArrayBlock* block) {
    return block->refCount > 1 || block == &emptyBlock;
}

// n raised to a multiple of the block's grow step, within kMaxCount.
u64 steppedCapacity(const SimpleArrayBlock* block, u64 n) {
    u64 step = std::max(block->growBy, 1u);
    return std::min((n - 1 + step) / step * step, u64(SimpleArray::kMaxCount));
}

// A copy made because the block may not be shared is an ordinary array again.
SimpleArrayBlock* copyOrShare(SimpleArrayBlock* block) {
    if (!(block->capacityWord & kNoShareBit))
        return share(block);
    SimpleArrayBlock* copy = newBlock(u32(block->capacity()), block->growBy);
    copy->count = block->count;
    std::memcpy(copy->elements(), block->elements(), u64(block->count) * sizeof(intptr_t));
    return copy;
}

}  // namespace

SimpleArray::SimpleArray() : block(share(&emptyBlock)) {}

SimpleArray::SimpleArray(const SimpleArray& other) : block(copyOrShare(other.block)) {}

SimpleArray& SimpleArray::operator=(const SimpleArray& other) {
    if (block != other.block)
        adopt(copyOrShare(other.block));
    return *this;
}

SimpleArray::~SimpleArray() { drop(block); }

void SimpleArray::adopt(SimpleArrayBlock* other) {
    SimpleArrayBlock* old = block;
    block = other;
    drop(old);
}

bool SimpleArray::operator==(const SimpleArray& other) const {
    if (block == other.block)
        return true;
    return block->count == other.block->count &&
           std::memcmp(block->elements(), other.block->elements(),
                       u64(block->count) * sizeof(intptr_t)) == 0;
}

void SimpleArray::growByOne() {
    i32 n = block->count;
    if (n == kMaxCount)
        throw std::bad_alloc();
    if (n >= block->capacity()) {
        growTo(n + 1);
    } else {
        detach();
        block->count = n + 1;
    }
}

void SimpleArray::add(Value value) {
    growByOne();
    block->elements()[block->count - 1] = value;
}

void SimpleArray::insert(Value value, i32 index) {
    i32 n = block->count;
    index = std::clamp(index, 0, n);
    growByOne();
    intptr_t* elements = block->elements();
    std::memmove(elements + index + 1, elements + index, u64(n - index) * sizeof(intptr_t));
    elements[index] = value;
}

void SimpleArray::append(const SimpleArray& other) {
    SimpleArray source(other);      // keeps the elements if other is this array
    i32 n = block->count;
    i32 m = source.block->count;
    if (m == 0)
        return;
    if (i64(n) + m > kMaxCount)
        throw std::bad_alloc();
    growTo(n + m);
    std::memcpy(block->elements() + n, source.block->elements(), u64(m) * sizeof(intptr_t));
}

void SimpleArray::merge(const SimpleArray& other, bool keepNull) {
    SimpleArray source(other);
    for (i32 i = 0; i < source.block->count; i++) {
        Value value = source.block->elements()[i];
        if ((value || keepNull) && find(value) < 0)
            add(value);
    }
}

void SimpleArray::set(i32 index, Value value) {
    if (index < 0 || index >= block->count)
        return;
    detach();
    block->elements()[index] = value;
}

i32 SimpleArray::find(Value value) const {
    const intptr_t* elements = block->elements();
    for (i32 i = 0; i < block->count; i++)
        if (elements[i] == value)
            return i;
    return -1;
}

void SimpleArray::remove(Value value) {
    i32 index = find(value);
    if (index >= 0)
        removeAt(index);
}

SimpleArray::Value SimpleArray::removeAt(i32 index) {
    i32 n = block->count;
    index = std::max(index, 0);
    if (index >= n)
        return 0;
    Value value = block->elements()[index];
    if (n == 1) {
        adopt(share(&emptyBlock));
        return value;
    }
    detach();
    intptr_t* elements = block->elements();
    std::memmove(elements + index, elements + index + 1, u64(n - index - 1) * sizeof(intptr_t));
    block->count = n - 1;
    return value;
}

void SimpleArray::setGrowBy(i32 n) {
    detach();
    block->growBy = u32(std::max(n, 1));
}

void SimpleArray::setCount(i32 n) {
    if (n < 1) {
        if (block != &emptyBlock)
            adopt(share(&emptyBlock));
        return;
    }
    if (n == block->count)
        return;
    resize(n, steppedCapacity(block, u64(n)));
}

// Additions: a full block at least doubles, so that adding one element at a
// time costs amortised constant time whatever the grow step; a block with
// room keeps its capacity.
void SimpleArray::growTo(i32 n) {
    u64 capacity = u64(block->capacity());
    if (u64(n) > capacity)
        capacity = steppedCapacity(block, std::max(u64(n), 2 * capacity));
    resize(n, capacity);
}

void SimpleArray::resize(i32 n, u64 capacity) {
    i32 old = block->count;
    if (i32(capacity) == block->capacity()) {
        detach();
    } else if (!isShared(block)) {
        void* memory = Heap::realloc(block, bytesFor(capacity));
        block = static_cast<SimpleArrayBlock*>(memory);
        block->capacityWord = u32(capacity) | (block->capacityWord & kNoShareBit);
    } else {
        SimpleArrayBlock* copy = newBlock(u32(capacity), block->growBy);
        copy->count = old;
        u64 keep = std::min(u64(old), capacity);
        std::memcpy(copy->elements(), block->elements(), keep * sizeof(intptr_t));
        adopt(copy);
    }
    if (n > old)
        std::memset(block->elements() + old, 0, u64(n - old) * sizeof(intptr_t));
    block->count = n;
}

void SimpleArray::detach() {
    if (!isShared(block))
        return;
    SimpleArrayBlock* copy = newBlock(block->capacityWord, block->growBy);
    copy->count = block->count;
    std::memcpy(copy->elements(), block->elements(), u64(block->count) * sizeof(intptr_t));
    adopt(copy);
}

void SimpleArray::releaseAll() {
    if (block->count == 0)
        return;
    detach();
    // Indexes, not a saved pointer: a release may change this array.
    for (i32 i = 0; i < block->count; i++)
        if (Value value = block->elements()[i])
            reinterpret_cast<Refcountable*>(value)->release();
}

}  // namespace LxCore
