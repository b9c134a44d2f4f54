// An allocator for tests: counts its calls, records the last size asked for,
// and fails a given number of requests.
#pragma once
#include <cstdlib>

#include "core/Heap.h"

namespace LxCore {

class TestAllocator : public Allocator {
public:
    int failures = 0;           // requests still to fail
    int blockRequests = 0;
    int reallocs = 0;
    int frees = 0;
    int trims = 0;
    u64 lastSize = 0;
    u64 bytesRequested = 0;     // by every block request and reallocation: a count of work

    void* alloc(u64 size) override { return allocBlock(size); }
    void* allocBlock(u64 size) override {
        blockRequests++;
        lastSize = size;
        bytesRequested += size;
        return fail() ? nullptr : std::malloc(size);
    }
    void free(void* p) override {
        frees++;
        std::free(p);
    }
    void* realloc(void* p, u64 size) override {
        reallocs++;
        lastSize = size;
        bytesRequested += size;
        return fail() ? nullptr : std::realloc(p, size);
    }
    void trim() override { trims++; }

private:
    bool fail() { return failures > 0 && failures-- > 0; }
};

// Installs a test allocator for one scope.
class UsingAllocator {
public:
    explicit UsingAllocator(Allocator* allocator) { setAllocatorForTests(allocator); }
    ~UsingAllocator() { setAllocatorForTests(nullptr); }
    UsingAllocator(const UsingAllocator&) = delete;
    UsingAllocator& operator=(const UsingAllocator&) = delete;
};

}  // namespace LxCore
