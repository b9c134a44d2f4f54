// The core heap and the allocator table behind it.
#include "core/Heap.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "core/InitTerm.h"
#include "core/Refcountable.h"
#include "core/ThreadData.h"

namespace LxCore {

namespace {

constexpr i32 kAllocatorSlots = 11;
constexpr i32 kTestAllocatorId = 1;
constexpr u64 kIdMask = 15;

// Largest request whose block size neither wraps nor exceeds what any object
// may span; anything above fails before an allocator is asked.
constexpr u64 kMaxRequest = u64(PTRDIFF_MAX) - 23;

Allocator* allocators[kAllocatorSlots];
i32 currentId = 0;

u64 blockSizeFor(u64 n) {
    if (n > kMaxRequest)
        throw std::bad_alloc();
    return (n + 23) & ~u64(15);
}

u64& headerOf(void* block) { return *static_cast<u64*>(block); }
void* blockOf(void* p) { return static_cast<u8*>(p) - Heap::kHeaderSize; }
void* userOf(void* block) { return static_cast<u8*>(block) + Heap::kHeaderSize; }
void*& linkOf(void* block) { return *static_cast<void**>(userOf(block)); }

HeapCache::SizeClass* cacheClassFor(ThreadData* record, u64 blockSize) {
    u64 index = (blockSize - 1) / 16;
    if (!record || index >= u64(Heap::kCacheClasses))
        return nullptr;
    return &record->heapCache.classes[index];
}

// A block goes back to the allocator that made it. A header naming no
// allocator cannot be trusted, so the block is left alone.
void releaseBlock(void* block) {
    u64 id = headerOf(block) & kIdMask;
    if (id < u64(kAllocatorSlots) && allocators[id])
        allocators[id]->free(block);
}

}  // namespace

void* Heap::alloc(u64 n) {
    if (!InitTerm::isInitialized())
        throw std::bad_alloc();
    u64 size = blockSizeFor(n);

    HeapCache::SizeClass* sizeClass = cacheClassFor(ThreadData::find(), size);
    if (sizeClass && sizeClass->first) {
        void* block = sizeClass->first;
        sizeClass->first = linkOf(block);
        sizeClass->count--;
        return userOf(block);
    }

    Allocator* allocator = Allocator::getCurrent();
    if (!allocator)
        throw std::bad_alloc();
    void* block = allocator->allocBlock(size);
    if (!block) {
        allocator->trim();
        block = allocator->allocBlock(size);
        if (!block)
            throw std::bad_alloc();
    }
    headerOf(block) = size | u64(currentId);
    return userOf(block);
}

void Heap::free(void* p) {
    if (!p || !InitTerm::isInitialized())
        return;
    void* block = blockOf(p);
    u64 size = headerOf(block) & ~kIdMask;

    // The heap never makes the thread record: after its teardown at exit a
    // release must not bring it back.
    ThreadData* record = ThreadData::find();
    HeapCache::SizeClass* sizeClass = cacheClassFor(record, size);
    if (sizeClass && record->heapCache.budget != 0 && sizeClass->count < sizeClass->max) {
        linkOf(block) = sizeClass->first;
        sizeClass->first = block;
        sizeClass->count++;
        return;
    }
    releaseBlock(block);
}

void* Heap::realloc(void* p, u64 n) {
    if (!InitTerm::isInitialized())
        throw std::bad_alloc();
    if (!p)
        return nullptr;
    u64 size = blockSizeFor(n);
    void* block = blockOf(p);
    u64 header = headerOf(block);
    if ((header & ~kIdMask) == size)
        return p;

    u64 id = header & kIdMask;
    Allocator* allocator = id < u64(kAllocatorSlots) ? allocators[id] : nullptr;
    if (!allocator)
        throw std::bad_alloc();
    void* moved = allocator->realloc(block, size);
    if (!moved) {
        allocator->trim();
        moved = allocator->realloc(block, size);
        if (!moved)
            throw std::bad_alloc();
    }
    headerOf(moved) = size | id;
    return userOf(moved);
}

void Heap::setCacheSize(i32 bytes) { ThreadData::get()->heapCache.setBudget(bytes); }

i32 Heap::getCacheSize() { return ThreadData::get()->heapCache.budget; }

void Heap::flushThreadCache() {
    if (ThreadData* record = ThreadData::find())
        record->heapCache.flush();
}

void HeapCache::flush() {
    for (SizeClass& sizeClass : classes) {
        void* block = sizeClass.first;
        while (block) {
            void* next = linkOf(block);
            releaseBlock(block);
            block = next;
        }
        sizeClass.first = nullptr;
        sizeClass.count = 0;
    }
}

void HeapCache::setBudget(i32 bytes) {
    if (bytes < 0)
        bytes = 0;
    flush();
    budget = bytes;
    for (i32 i = 0; i < Heap::kCacheClasses; i++)
        classes[i].max = bytes / (Heap::kCacheClasses * 16 * (i + 1));
}

Allocator* Allocator::getCurrent() {
    GlobalLockGuard guard(kAllocatorLock);
    return allocators[currentId];
}

void* DefaultAllocator::alloc(u64 size) { return std::malloc(size); }
void* DefaultAllocator::allocBlock(u64 size) { return std::malloc(size); }
void DefaultAllocator::free(void* p) { std::free(p); }
void* DefaultAllocator::realloc(void* p, u64 size) { return std::realloc(p, size); }

void* DefaultAllocator::operator new(size_t n) {
    if (void* p = std::malloc(n))
        return p;
    throw std::bad_alloc();
}

void DefaultAllocator::operator delete(void* p) { std::free(p); }

void initAllocators(bool start) {
    if (start) {
        allocators[0] = new DefaultAllocator;
        currentId = 0;
        return;
    }
    for (i32 id = 0; id < kAllocatorSlots && allocators[id]; id++)
        allocators[id]->trim();
    delete allocators[0];
    // Any other entry was lent by a test and is not ours to delete.
    for (Allocator*& allocator : allocators)
        allocator = nullptr;
    currentId = 0;
}

void setAllocatorForTests(Allocator* allocator) {
    Heap::flushThreadCache();
    allocators[kTestAllocatorId] = allocator;
    currentId = allocator ? kTestAllocatorId : 0;
}

}  // namespace LxCore
