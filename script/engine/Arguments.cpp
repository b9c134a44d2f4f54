// Argument arrays.
#include "script/engine/Arguments.h"

#include <new>

namespace LxScript {

TVVariantArray::TVVariantArray(u32 n) : count(n) {
    values = n <= kInline ? reinterpret_cast<Variant*>(room)
                          : static_cast<Variant*>(LxCore::Heap::alloc(u64(n) * sizeof(Variant)));
    for (u32 i = 0; i < n; i++)
        ::new (&values[i]) Variant;
}

TVVariantArray::~TVVariantArray() {
    for (u32 i = 0; i < count; i++)
        values[i].~Variant();
    if (values != reinterpret_cast<Variant*>(room))
        LxCore::Heap::free(values);
}

}  // namespace LxScript
