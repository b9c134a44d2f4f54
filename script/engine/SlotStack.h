// The slot blocks of running activations: a call's arguments and an
// activation's locals and parameters live here rather than in heap blocks of
// their own. Blocks are taken and given back in strict nesting, as frames
// are, from chunks kept for the next call; a block never moves while held.
//
// The values here are held from outside the object graph (no slot flag): the
// collector treats what a running frame holds as reachable.
#pragma once
#include "core/Array.h"
#include "core/Heap.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxScript {

using LxCore::u32;
using LxCore::u64;
using LxCore::Variant;

class SlotStack {
public:
    SlotStack() = default;
    ~SlotStack();
    SlotStack(const SlotStack&) = delete;
    SlotStack& operator=(const SlotStack&) = delete;

    // count undefined Variants in a row; throws std::bad_alloc.
    Variant* take(u32 count) {
        if (u64(end - top) >= count) {
            Variant* block = top;
            top += count;
            return block;
        }
        return takeFromNextChunk(count);
    }
    // Gives back the block taken last (and whatever was taken after it):
    // its values become undefined, with no slot flags, and hold no text: a
    // string passed to a call is its caller's alone again once it returns.
    void giveBack(Variant* block, u32 count) {
        for (u32 i = 0; i < count; i++) {
            block[i].clearAll();
            block[i].setSlotFlags(0);
        }
        if (block >= base && block <= end)
            top = block;
        else
            returnToChunkOf(block);
    }

private:
    struct Chunk;
    // Values a chunk holds, unless one block needs more.
    static constexpr u32 kChunkValues = 2048;

    Variant* takeFromNextChunk(u32 count);
    void returnToChunkOf(Variant* block);

    Chunk* current = nullptr;
    Variant* base = nullptr;        // the current chunk's first value
    Variant* top = nullptr;
    Variant* end = nullptr;
};

// A block of the slot stack for the life of a scope, seen as a call's
// argument array.
class SlotArray : public LxCore::BasicArray {
public:
    SlotArray(SlotStack& stack, u32 count) : stack(stack), values(stack.take(count)), count(count) {}
    ~SlotArray() override { stack.giveBack(values, count); }
    SlotArray(const SlotArray&) = delete;
    SlotArray& operator=(const SlotArray&) = delete;

    u32 length() const override { return count; }
    bool has(u32 i) const override { return i < count; }
    const Variant* get(u32 i) const override { return i < count ? &values[i] : nullptr; }
    Variant* data() const { return values; }

private:
    SlotStack& stack;
    Variant* values;
    u32 count;
};

}  // namespace LxScript
