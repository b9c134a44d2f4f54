#include "objects/LoHeap.h"

#include <cstdlib>

namespace LxObjects {

LoHeap::~LoHeap() = default;

void* LoHeap::operator new(std::size_t size) noexcept
{
    return std::malloc(size);
}

void LoHeap::operator delete(void* block) noexcept
{
    std::free(block);
}

}  // namespace LxObjects
