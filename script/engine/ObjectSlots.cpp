// The object heap, value cells, slot tables and element stores.
#include "script/engine/ObjectSlots.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "core/Heap.h"
#include "script/engine/Object.h"

namespace LxScript {

using LxCore::String;

// ---------------------------------------------------------------------------
// The object heap

#if defined(__SANITIZE_ADDRESS__)
// Under the address sanitizer every block is its own, so that a use after
// free is caught.
void* ObjectHeap::alloc(size_t size) { return LxCore::Heap::alloc(size); }
void ObjectHeap::free(void* p, size_t) { LxCore::Heap::free(p); }
size_t ObjectHeap::releaseFreeChunks() { return 0; }
#else
namespace {

constexpr size_t kChunkSize = 64 * 1024;
constexpr size_t kSizeClasses = ObjectHeap::kLargest / 8;

struct HeapState {
    void* free[kSizeClasses] = {};      // each block's first word links the next
    char* next = nullptr;               // unused room of the newest chunk
    char* end = nullptr;
    std::vector<void*> chunks;          // kept for reuse, never given back
};

// Never destroyed: blocks may be freed while the process exits.
HeapState& heapState() {
    static HeapState* state = new HeapState;
    return *state;
}

size_t classOf(size_t size) { return size == 0 ? 0 : (size - 1) / 8; }

void pushFree(HeapState& h, void* block, size_t sizeClass) {
    *static_cast<void**>(block) = h.free[sizeClass];
    h.free[sizeClass] = block;
}

void addChunk(HeapState& h) {
    void* chunk = LxCore::Heap::alloc(kChunkSize);
    try {
        h.chunks.push_back(chunk);
    } catch (...) {
        LxCore::Heap::free(chunk);
        throw;
    }
    // The rest of the chunk before (less than the block asked for) is a
    // free block too, so that every chunk but the newest is carved whole.
    if (const size_t rest = size_t(h.end - h.next))
        pushFree(h, h.next, classOf(rest));
    h.next = static_cast<char*>(chunk);
    h.end = h.next + kChunkSize;
}

}  // namespace

void* ObjectHeap::alloc(size_t size) {
    if (size > kLargest)
        return LxCore::Heap::alloc(size);
    const size_t sizeClass = classOf(size);
    HeapState& h = heapState();
    if (void* block = h.free[sizeClass]) {
        h.free[sizeClass] = *static_cast<void**>(block);
        return block;
    }
    const size_t bytes = (sizeClass + 1) * 8;
    if (size_t(h.end - h.next) < bytes)
        addChunk(h);
    void* block = h.next;
    h.next += bytes;
    return block;
}

void ObjectHeap::free(void* p, size_t size) {
    if (!p)
        return;
    if (size > kLargest) {
        LxCore::Heap::free(p);
        return;
    }
    pushFree(heapState(), p, classOf(size));
}

// The free bytes of each chunk are summed over the free lists; a chunk
// (not the newest, which is still being carved) whose bytes are all free
// loses its blocks from the lists and goes back. Linear in the free
// blocks, with a search among the chunks for each.
size_t ObjectHeap::releaseFreeChunks() {
    HeapState& h = heapState();
    const size_t count = h.chunks.size();
    if (count < 2)
        return 0;
    std::vector<char*> starts;
    std::vector<size_t> freeBytes;
    try {
        starts.reserve(count - 1);
        freeBytes.assign(count - 1, 0);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    for (size_t i = 0; i + 1 < count; i++)
        starts.push_back(static_cast<char*>(h.chunks[i]));
    std::sort(starts.begin(), starts.end());
    // The index of the chunk that holds a block; count - 1 for the newest.
    auto chunkOf = [&](void* block) {
        const char* at = static_cast<char*>(block);
        auto after = std::upper_bound(starts.begin(), starts.end(), at);
        if (after == starts.begin() || at >= *(after - 1) + kChunkSize)
            return count - 1;
        return size_t(after - starts.begin() - 1);
    };
    bool any = false;
    for (size_t c = 0; c < kSizeClasses; c++)
        for (void* block = h.free[c]; block; block = *static_cast<void**>(block)) {
            const size_t k = chunkOf(block);
            if (k < count - 1)
                any |= (freeBytes[k] += (c + 1) * 8) == kChunkSize;
        }
    if (!any)
        return 0;
    for (size_t c = 0; c < kSizeClasses; c++) {
        void** link = &h.free[c];
        while (void* block = *link) {
            const size_t k = chunkOf(block);
            if (k < count - 1 && freeBytes[k] == kChunkSize)
                *link = *static_cast<void**>(block);
            else
                link = static_cast<void**>(block);
        }
    }
    size_t kept = 0, released = 0;
    for (size_t i = 0; i + 1 < count; i++) {
        void* chunk = h.chunks[i];
        if (freeBytes[chunkOf(chunk)] == kChunkSize) {
            LxCore::Heap::free(chunk);
            released += kChunkSize;
        } else {
            h.chunks[kept++] = chunk;
        }
    }
    h.chunks[kept++] = h.chunks[count - 1];
    h.chunks.resize(kept);
    return released;
}
#endif

// ---------------------------------------------------------------------------
// Cells

SlotCell* SlotCell::allocate(u32 count) {
    return static_cast<SlotCell*>(ObjectHeap::alloc(size_t(count) * sizeof(SlotCell)));
}

void SlotCell::deallocate(SlotCell* cells, u32 count) {
    ObjectHeap::free(cells, size_t(count) * sizeof(SlotCell));
}

void SlotCell::adopt(const Variant& v) {
    switch (v.getType()) {
        case Variant::kUndefined:
            kind = kUndefined;
            bits = 0;
            return;
        case Variant::kNull:
            kind = kNull;
            bits = 0;
            return;
        case Variant::kBoolean:
            kind = kBoolean;
            bits = 0;
            boolean = v.toBoolean() ? 1 : 0;
            return;
        case Variant::kNumber:
            kind = kNumber;
            number = v.toNumber();
            return;
        case Variant::kString:
            if (const String* s = Variant::asString(v)) {
                new (text) String(*s);
                kind = kString;
                return;
            }
            break;
        case Variant::kScriptObject:
            if (Object* o = objectOf(v)) {
                o->addRef();
                o->addInternalRef();
                object = o;
                kind = kObject;
                return;
            }
            break;
        default:
            break;
    }
    boxed = new Variant(v);
    kind = kBoxed;
}

void SlotCell::store(const Variant& v) {
    if (kind == kNumber && v.getType() == Variant::kNumber) {
        number = v.toNumber();
        return;
    }
    SlotCell fresh;
    fresh.adopt(v);
    SlotCell old = *this;
    kind = fresh.kind;
    bits = fresh.bits;
    old.releaseValue(kEmpty);
}

void SlotCell::releaseValue(Kind becomes) {
    switch (kind) {
        case kString:
            kind = becomes;
            string().~String();
            break;
        case kObject: {
            Object* o = object;
            kind = becomes;
            bits = 0;
            o->dropInternalRef();
            o->dropRef();
            return;
        }
        case kBoxed: {
            Variant* held = boxed;
            kind = becomes;
            bits = 0;
            delete held;
            return;
        }
        default:
            kind = becomes;
            break;
    }
    bits = 0;
}

void SlotCell::load(Variant& out) const {
    switch (kind) {
        case kNull:
            out.setNull();
            return;
        case kBoolean:
            out.setBool(boolean != 0);
            return;
        case kNumber:
            out.setNumber(number);
            return;
        case kString:
            out.setString(string());
            return;
        case kObject:
            out.setObject(object);
            return;
        case kBoxed:
            out = *boxed;
            return;
        default:
            out.clear();
            return;
    }
}

Object* SlotCell::heldObject() const {
    if (kind == kObject)
        return object;
    if (kind == kBoxed)
        return objectOf(*boxed);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Slot tables

bool isOverloadable(DataPoolId s) {
    static constexpr u32 kMask = 1u << (8 - 8) | 1u << (10 - 8) | 1u << (11 - 8) | 1u << (12 - 8) |
                                 1u << (13 - 8) | 1u << (14 - 8) | 1u << (15 - 8) | 1u << (16 - 8) |
                                 1u << (17 - 8) | 1u << (18 - 8) | 1u << (19 - 8) | 1u << (20 - 8) |
                                 1u << (21 - 8) | 1u << (26 - 8) | 1u << (28 - 8) | 1u << (30 - 8) |
                                 1u << (31 - 8) | 1u << (32 - 8);
    return s >= 8 && s <= 32 && (kMask >> (s - 8) & 1) != 0;
}

namespace {

// Tables are made on whichever thread runs an engine; the count is shared.
std::atomic<u64> lastTableSerial{0};

}  // namespace

SlotTable::SlotTable(ObjectSpace& space)
    : space(&space), serial(lastTableSerial.fetch_add(1, std::memory_order_relaxed) + 1) {}

SlotTable::~SlotTable() {
    ObjectHeap::free(entries, size_t(capacity) * sizeof(Entry));
    ObjectHeap::free(hash, size_t(hashMask + 1) * sizeof(u32));
    if (SlotTable* p = parent) {
        parent = nullptr;
        p->forget(this);
        p->release();
    }
}

SlotTable* SlotTable::newRoot(ObjectSpace& space) {
    void* memory = ObjectHeap::alloc(sizeof(SlotTable));
    return new (memory) SlotTable(space);
}

void SlotTable::release() {
    if (--refs != 0)
        return;
    this->~SlotTable();
    ObjectHeap::free(this, sizeof(SlotTable));
}

void SlotTable::forget(SlotTable* child) {
    for (size_t i = 0; i < transitions.size(); i++) {
        if (transitions[i].second == child) {
            transitions[i] = transitions.back();
            transitions.pop_back();
            return;
        }
    }
}

void SlotTable::reserve(u32 wanted) {
    if (wanted <= capacity)
        return;
    const u32 grown = isShared() ? wanted : std::max(wanted, capacity < 4 ? 4 : capacity * 2);
    auto* fresh = static_cast<Entry*>(ObjectHeap::alloc(size_t(grown) * sizeof(Entry)));
    if (count)
        std::memcpy(fresh, entries, size_t(count) * sizeof(Entry));
    ObjectHeap::free(entries, size_t(capacity) * sizeof(Entry));
    entries = fresh;
    capacity = grown;
}

void SlotTable::tally(DataPoolId symbol, i32 direction) {
    if (isOverloadable(symbol))
        operators = u32(i32(operators) + direction);
}

// Half full at most; rebuilt whole when it would pass that.
void SlotTable::rebuildHash() {
    ObjectHeap::free(hash, size_t(hashMask + 1) * sizeof(u32));
    hash = nullptr;
    hashMask = 0;
    if (count <= kLinearLimit)
        return;
    u32 size = 16;
    while (size < count * 2)
        size *= 2;
    hash = static_cast<u32*>(ObjectHeap::alloc(size_t(size) * sizeof(u32)));
    std::memset(hash, 0, size_t(size) * sizeof(u32));
    hashMask = size - 1;
    for (u32 i = 0; i < count; i++)
        hashInsert(i);
}

void SlotTable::hashInsert(u32 index) {
    u32 h = SlotTable::mix(entries[index].symbol) & hashMask;
    while (hash[h] != 0)
        h = (h + 1) & hashMask;
    hash[h] = index + 1;
}

SlotTable* SlotTable::searchTransitions(DataPoolId symbol, u32 attributes) {
    if (count >= kMaxShared)
        return nullptr;
    const u64 key = transitionKey(symbol, attributes);
    // The transition taken last comes first: objects are mostly built in
    // runs of one shape. The order means nothing else.
    for (size_t i = 0; i < transitions.size(); i++) {
        if (transitions[i].first == key) {
            if (i)
                std::swap(transitions[i], transitions[0]);
            SlotTable* child = transitions[0].second;
            child->addRef();
            return child;
        }
    }
    if (transitions.size() >= kMaxTransitions)
        return nullptr;
    transitions.reserve(transitions.size() + 1);
    SlotTable* child = newRoot(*space);
    try {
        child->reserve(count + 1);
        if (count)
            std::memcpy(child->entries, entries, size_t(count) * sizeof(Entry));
        child->entries[count] = Entry{symbol, attributes};
        child->count = count + 1;
        child->operators = operators;
        child->tally(symbol, 1);
        child->rebuildHash();
    } catch (...) {
        child->release();
        throw;
    }
    child->parent = this;
    addRef();
    transitions.emplace_back(key, child);
    return child;
}

SlotTable* SlotTable::ownedCopy() const {
    SlotTable* copy = newRoot(*space);
    copy->shared = 0;
    try {
        copy->reserve(count);
        if (count)
            std::memcpy(copy->entries, entries, size_t(count) * sizeof(Entry));
        copy->count = count;
        copy->operators = operators;
        copy->removed = removed;
        copy->rebuildHash();
    } catch (...) {
        copy->release();
        throw;
    }
    return copy;
}

void SlotTable::append(DataPoolId symbol, u32 attributes) {
    reserve(count + 1);
    entries[count++] = Entry{symbol, attributes};
    tally(symbol, 1);
    if (count <= kLinearLimit)
        return;
    if (!hash || count * 2 > hashMask + 1) {
        try {
            rebuildHash();
        } catch (...) {
            tally(symbol, -1);
            count--;
            throw;
        }
        return;
    }
    hashInsert(count - 1);
}

void SlotTable::dropLast() {
    tally(entries[count - 1].symbol, -1);
    count--;
    try {
        rebuildHash();
    } catch (...) {
        // Without an index the entries are searched one by one.
    }
}

void SlotTable::compact(const std::vector<u8>& keep) {
    u32 kept = 0;
    operators = 0;
    for (u32 i = 0; i < count; i++) {
        if (!keep[i])
            continue;
        entries[kept++] = entries[i];
        tally(entries[i].symbol, 1);
    }
    count = kept;
    removed = 0;
    try {
        rebuildHash();
    } catch (...) {
        // Without an index the entries are searched one by one.
    }
}

// ---------------------------------------------------------------------------
// Element stores

namespace {

// Room past twice the elements held, so that a store filled with a gap
// now and then keeps growing.
constexpr u32 kGrowSlack = 64;
// Only integer ids (0 .. DataPool::kMaxInteger) name elements of the store.
constexpr u32 kMaxElements = u32(DataPool::kMaxInteger) + 1;
// A store whose cells outnumber its count this many times gives room back.
constexpr u32 kShrinkFactor = 4;

}  // namespace

u64 ElementStore::reach(u64 held) { return std::max<u64>(kDenseLimit, 2 * held + kGrowSlack); }

bool ElementStore::isStoreIndex(u32 index) { return index < kMaxElements; }

bool ElementStore::cover(u32 index) {
    if (index < count)
        return true;
    if (!isStoreIndex(index) || index >= spillLow || index >= reach(u64(live) + spilled + 1))
        return false;
    if (index >= capacity)
        reserve(index + 1);
    extendTo(index + 1);
    return true;
}

void ElementStore::reserve(u32 n) {
    if (n <= capacity)
        return;
    const u64 wanted = std::max<u64>(n, u64(capacity) + capacity / 2 + 4);
    const u32 grown = u32(std::min<u64>(wanted, kMaxElements));
    SlotCell* fresh;
    if (capacity * sizeof(SlotCell) > ObjectHeap::kLargest) {
        // Large stores move by the core heap's realloc: the pages travel
        // without a copy, and no second copy is ever resident.
        fresh = static_cast<SlotCell*>(LxCore::Heap::realloc(cells, size_t(grown) * sizeof(SlotCell)));
    } else {
        fresh = SlotCell::allocate(grown);
        if (count)
            std::memcpy(static_cast<void*>(fresh), cells, size_t(count) * sizeof(SlotCell));
        SlotCell::deallocate(cells, capacity);
    }
    cells = fresh;
    capacity = grown;
}

void ElementStore::extendTo(u32 n) {
    if (n <= count)
        return;
    std::memset(static_cast<void*>(cells + count), 0, size_t(n - count) * sizeof(SlotCell));
    count = n;
}

void ElementStore::noteSpilled(u32 index) {
    spilled++;
    spillLow = std::min(spillLow, index);
    spillHigh = std::max(spillHigh, index);
}

void ElementStore::shrinkTo(u32 newCount) {
    if (newCount < count)
        count = newCount;
    if (capacity <= kShrinkFactor * std::max<u32>(count, 8))
        return;
    const u32 fitted = count == 0 ? 0 : std::max<u32>(count, 8);
    SlotCell* fresh = nullptr;
    if (fitted) {
        try {
            fresh = SlotCell::allocate(fitted);
        } catch (const std::bad_alloc&) {
            return;     // the larger block serves as well
        }
        std::memcpy(static_cast<void*>(fresh), cells, size_t(count) * sizeof(SlotCell));
    }
    SlotCell::deallocate(cells, capacity);
    cells = fresh;
    capacity = fitted;
}

void ElementStore::clearAll() {
    for (u32 i = 0; i < count; i++)
        if (cells[i].holdsValue())
            cells[i].releaseValue(SlotCell::kEmpty);
}

}  // namespace LxScript
