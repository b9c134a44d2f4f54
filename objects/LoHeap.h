// Root of every class of the objects library: plain malloc/free allocation.
#pragma once
#include <cstddef>

namespace LxObjects {

class LoHeap {
public:
    LoHeap() = default;
    virtual ~LoHeap();

    // A failed allocation gives a null object; callers test for it.
    static void* operator new(std::size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};

}  // namespace LxObjects
