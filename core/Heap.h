// The core heap: 16-byte size classes, a per-thread-record cache of small
// blocks, and an allocator table behind it.
#pragma once
#include "core/Types.h"

namespace LxCore {

// Class-level allocation of every core and engine object goes to the core heap.
class Heap {
public:
    static void* alloc(u64 n);              // throws std::bad_alloc
    static void free(void* p);              // null, or library not started: ignored
    static void* realloc(void* p, u64 n);   // throws std::bad_alloc; null p gives null
    static void setCacheSize(i32 bytes);
    static i32 getCacheSize();
    static void flushThreadCache();

    static void* operator new(size_t n) { return alloc(n); }
    static void* operator new[](size_t n) { return alloc(n); }
    static void operator delete(void* p) { free(p); }
    static void operator delete[](void* p) { free(p); }
};

class Root : public Heap {};

class Allocator : public Root {
public:
    virtual ~Allocator() = default;
    virtual void* alloc(u64 size) = 0;
    virtual void* allocBlock(u64 size) = 0;
    virtual void free(void* p) = 0;
    virtual void* realloc(void* p, u64 size) = 0;
    virtual void trim() = 0;

    static Allocator* getCurrent();
};

}  // namespace LxCore
