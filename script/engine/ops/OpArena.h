// The operations of one tree, made in one go by the code generator, come
// from the chunks of an arena instead of costing the core heap a block each
// (a check makes and frees hundreds of them at once, more than the heap's
// cache holds). The tree's root owns the arena and frees it once the tree is
// gone; deleting an operation of an arena only runs its destructor.
#pragma once
#include <cstddef>

#include "core/Heap.h"
#include "core/Types.h"

namespace LxScript {

#if defined(__SANITIZE_ADDRESS__)
#define TAVREL_OP_ARENA_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVREL_OP_ARENA_OFF 1
#endif
#endif

class OpArena : public LxCore::Root {
public:
    OpArena() = default;
    ~OpArena();
    OpArena(const OpArena&) = delete;
    OpArena& operator=(const OpArena&) = delete;

    // A block of at least `size` bytes, 8-byte aligned; throws std::bad_alloc.
    void* alloc(size_t size) {
        const size_t bytes = (size + kHeaderSize + kAlign - 1) & ~(kAlign - 1);
        if (size_t(end - next) < bytes)
            addChunk(bytes);
        auto* header = reinterpret_cast<LxCore::u64*>(next);
        *header = kArenaHeader;
        next += bytes;
        return header + 1;
    }

    // Whether an operation's block came from an arena. Blocks of the core
    // heap carry its header in the same place, whose allocator id is never
    // the one arena blocks carry.
    static bool holds(const void* block) {
        return (static_cast<const LxCore::u64*>(block)[-1] & kIdBits) == kArenaHeader;
    }

    // The arena new operations come from; null: the core heap.
    static OpArena* getCurrent() { return current; }

    // Makes an arena current for the life of the scope (the sanitizers see
    // every operation on its own: then it does nothing).
    class Scope {
    public:
        explicit Scope(OpArena* arena) : previous(current) {
#if !defined(TAVREL_OP_ARENA_OFF)
            current = arena;
#else
            (void)arena;
#endif
        }
        ~Scope() { current = previous; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        OpArena* previous;
    };

private:
    static constexpr size_t kHeaderSize = LxCore::Heap::kHeaderSize;
    static constexpr size_t kAlign = 8;
    // The core heap keeps allocator ids in the low four bits of its header,
    // below 11; an arena block's header is that field's highest value alone.
    static constexpr LxCore::u64 kIdBits = 15;
    static constexpr LxCore::u64 kArenaHeader = 15;
    // Chunks double from the first size up to the largest, so that a small
    // script keeps a little memory and a large one few chunks.
    static constexpr size_t kFirstChunk = 1024;
    static constexpr size_t kLargestChunk = 64 * 1024;
    static constexpr size_t kChunkHeader = 16;      // the link to the older chunk

    static inline OpArena* current = nullptr;

    void* chunk = nullptr;          // the newest; each links the one before
    LxCore::u8* next = nullptr;
    LxCore::u8* end = nullptr;
    size_t chunkSize = kFirstChunk;

    void addChunk(size_t bytes);
};

}  // namespace LxScript
