// The core heap: 16-byte size classes, a per-thread-record cache of small
// blocks, and an allocator table behind it.
#pragma once
#include <cstddef>
#include "core/Types.h"

namespace LxCore {

// Class-level allocation of every core and engine object goes to the core heap.
// Each block starts with an 8-byte header (block size | allocator id); callers
// get the address just past it.
class Heap {
public:
    static constexpr u64 kHeaderSize = 8;
    static constexpr i32 kCacheClasses = 20;                // 16 .. 320 bytes
    static constexpr u64 kMaxCachedBlock = 16 * kCacheClasses;
    static constexpr i32 kDefaultCacheSize = 102400;

    static void* alloc(u64 n);              // throws std::bad_alloc
    static void free(void* p);              // null, or library not started: ignored
    static void* realloc(void* p, u64 n);   // throws std::bad_alloc; null p gives null
    static void setCacheSize(i32 bytes);    // negative means 0; 0 turns caching off
    static i32 getCacheSize();
    static void flushThreadCache();

    static void* operator new(size_t n) { return alloc(n); }
    static void* operator new[](size_t n) { return alloc(n); }
    static void operator delete(void* p) { free(p); }
    static void operator delete[](void* p) { free(p); }
};

class Root : public Heap {};

// Small freed blocks kept for reuse, one list per size class; it lives in the
// thread record.
struct HeapCache {
    struct SizeClass {
        i32 max;        // blocks this class may hold
        i32 count;      // blocks it holds
        void* first;    // block header; the link sits in the 8 bytes after it
    };

    i32 budget = 0;     // bytes; 0 means no caching
    SizeClass classes[Heap::kCacheClasses] = {};

    void flush();                   // every cached block back to its allocator
    void setBudget(i32 bytes);      // flushes, then sizes each class's maximum
};

class Allocator : public Root {
public:
    virtual ~Allocator() = default;
    virtual void* alloc(u64 size) = 0;
    virtual void* allocBlock(u64 size) = 0;   // the request the heap makes
    virtual void free(void* p) = 0;
    virtual void* realloc(void* p, u64 size) = 0;
    virtual void trim() = 0;                  // give memory back after a failed request

    static Allocator* getCurrent();
};

// The C runtime's malloc, free and realloc. It is made with the C runtime too,
// since the heap it serves cannot hold it.
class DefaultAllocator : public Allocator {
public:
    u8 outOfMemory = 0;    // read by the engine's bad_alloc handlers

    void* alloc(u64 size) override;
    void* allocBlock(u64 size) override;
    void free(void* p) override;
    void* realloc(void* p, u64 size) override;
    void trim() override {}

    static void* operator new(size_t n);
    static void operator delete(void* p);
};

// Module start/end: the allocator table with the default allocator at id 0.
void initAllocators(bool start);

// For tests only: makes `allocator` current under id 1; null makes the default
// allocator current again and clears id 1. The thread cache is flushed on both
// changes so that no cached block outlives its allocator; blocks the test
// allocator made must be freed before it is removed.
void setAllocatorForTests(Allocator* allocator);

}  // namespace LxCore
