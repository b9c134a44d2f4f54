// The slot stack's chunks.
#include "script/engine/SlotStack.h"

#include <new>

namespace LxScript {

struct SlotStack::Chunk : public LxCore::Root {
    Chunk* previous = nullptr;
    Chunk* next = nullptr;
    u32 capacity = 0;
    Variant* values = nullptr;

    explicit Chunk(u32 n) : capacity(n) {
        values = static_cast<Variant*>(LxCore::Heap::alloc(u64(n) * sizeof(Variant)));
        for (u32 i = 0; i < n; i++)
            ::new (&values[i]) Variant;
    }
    ~Chunk() {
        for (u32 i = 0; i < capacity; i++)
            values[i].~Variant();
        LxCore::Heap::free(values);
    }
    Chunk(const Chunk&) = delete;
    Chunk& operator=(const Chunk&) = delete;
};

SlotStack::~SlotStack() {
    Chunk* chunk = current;
    while (chunk && chunk->previous)
        chunk = chunk->previous;
    while (chunk) {
        Chunk* next = chunk->next;
        delete chunk;
        chunk = next;
    }
}

// The rest of the current chunk stays unused until the stack comes back to
// it; a block larger than a chunk gets a chunk of its size.
Variant* SlotStack::takeFromNextChunk(u32 count) {
    Chunk* next = current ? current->next : nullptr;
    if (next && next->capacity < count) {
        // Too small for this block: replaced, with whatever followed it.
        for (Chunk* c = next; c;) {
            Chunk* after = c->next;
            delete c;
            c = after;
        }
        current->next = next = nullptr;
    }
    if (!next) {
        next = new Chunk(count > kChunkValues ? count : kChunkValues);
        next->previous = current;
        if (current)
            current->next = next;
    }
    current = next;
    base = next->values;
    top = base + count;
    end = base + next->capacity;
    return base;
}

void SlotStack::returnToChunkOf(Variant* block) {
    if (!current)
        return;
    Chunk* chunk = current;
    while (chunk && !(block >= chunk->values && block <= chunk->values + chunk->capacity))
        chunk = chunk->previous;
    if (!chunk) {
        // An empty block taken before the first chunk was made: everything
        // goes back, and the chunks stay for the next calls.
        for (chunk = current; chunk->previous;)
            chunk = chunk->previous;
        block = chunk->values;
    }
    current = chunk;
    base = chunk->values;
    top = block;
    end = base + chunk->capacity;
}

}  // namespace LxScript
