// The operations' arena: chunks from the core heap, freed together.
#include "script/engine/ops/OpArena.h"

#include <algorithm>

namespace LxScript {

OpArena::~OpArena() {
    while (chunk) {
        void* older = *static_cast<void**>(chunk);
        LxCore::Heap::free(chunk);
        chunk = older;
    }
}

// The rest of the newest chunk stays unused; a block larger than the next
// chunk size gets a chunk of its own size.
void OpArena::addChunk(size_t bytes) {
    const size_t size = std::max(chunkSize, bytes + kChunkHeader);
    void* fresh = LxCore::Heap::alloc(size);
    *static_cast<void**>(fresh) = chunk;
    chunk = fresh;
    next = static_cast<LxCore::u8*>(fresh) + kChunkHeader;
    end = static_cast<LxCore::u8*>(fresh) + size;
    chunkSize = std::min(chunkSize * 2, kLargestChunk);
}

}  // namespace LxScript
