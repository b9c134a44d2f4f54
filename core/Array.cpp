// Arrays of Variants: sizing, copy-on-write, element access, length changes,
// slot insertion, equality and the text form.
#include "core/Array.h"

#include <algorithm>
#include <new>

#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/ThreadData.h"

namespace LxCore {

namespace {

constexpr u32 kCountMask = 0x3FFFFFFF;
constexpr u32 kNoShareBit = 0x40000000;
constexpr u32 kFirstCapacity = 8;
constexpr u32 kSmallDenseLimit = 1024;
constexpr u32 kLargestDense = 4096;     // longer new arrays keep their tail in the table
constexpr u32 kLargeDenseSlots = 16;
constexpr u32 kMaxTextElements = 1000;

ArrayData* sharedEmpty = nullptr;

// 8, or the power of two reached by doubling from 8 that holds n slots. Dense
// limits are at most 4096, so n stays small.
u32 denseCapacityFor(u32 n) {
    u32 capacity = kFirstCapacity;
    while (capacity < n)
        capacity *= 2;
    return capacity;
}

u64 denseBytes(u32 capacity) { return sizeof(ArrayDenseBlock) + u64(capacity) * sizeof(Variant); }

// Variants are constructed with the global placement form: Root's own
// operator new would hide it.
void constructSlots(ArrayDenseBlock* block, u32 from, u32 to) {
    for (u32 i = from; i < to; i++)
        ::new (&block->slots()[i]) Variant;
}

ArrayDenseBlock* newDenseBlock(u32 capacity) {
    auto* block = static_cast<ArrayDenseBlock*>(Heap::alloc(denseBytes(capacity)));
    block->used = 0;
    block->capacity = capacity;
    constructSlots(block, 0, capacity);
    return block;
}

void destroyDenseBlock(ArrayDenseBlock* block) {
    if (!block)
        return;
    for (u32 i = 0; i < block->capacity; i++)
        block->slots()[i].~Variant();
    Heap::free(block);
}

// Variants hold no pointers into themselves, so the block may move.
void reserveDense(ArrayData& d, u32 n) {
    if (n <= d.dense->capacity)
        return;
    u32 capacity = denseCapacityFor(n);
    auto* block = static_cast<ArrayDenseBlock*>(Heap::realloc(d.dense, denseBytes(capacity)));
    constructSlots(block, block->capacity, capacity);
    block->capacity = capacity;
    d.dense = block;
}

bool deleteElement(i64, void** value, void*) {
    delete static_cast<Variant*>(*value);
    return false;
}

bool deleteElementFrom(i64 index, void** value, void* length) {
    if (u64(index) < *static_cast<u32*>(length))
        return true;
    return deleteElement(index, value, nullptr);
}

void destroyData(ArrayData* d) {
    if (d->sparse) {
        d->sparse->forEach(deleteElement, nullptr);
        delete d->sparse;
    }
    destroyDenseBlock(d->dense);
    delete d;
}

void releaseData(ArrayData* d) {
    if ((atomicDecrement(&d->refCount) & kCountMask) == 0)
        destroyData(d);
}

// Frees data that is still being built when a step fails.
class DataGuard {
public:
    explicit DataGuard(ArrayData* data) : d(data) {}
    ~DataGuard() {
        if (d)
            destroyData(d);
    }
    DataGuard(const DataGuard&) = delete;
    DataGuard& operator=(const DataGuard&) = delete;

    ArrayData* operator->() const { return d; }
    ArrayData& operator*() const { return *d; }
    ArrayData* release() {
        ArrayData* kept = d;
        d = nullptr;
        return kept;
    }

private:
    ArrayData* d;
};

// Empty data with room for `room` dense slots below the given limit.
ArrayData* newData(u32 denseLimit, u32 room) {
    DataGuard d(new ArrayData);
    d->denseLimit = denseLimit;
    d->dense = newDenseBlock(denseCapacityFor(std::min(room, denseLimit)));
    return d.release();
}

// New data of length n: small arrays are dense throughout, long ones keep a
// few dense slots and put the rest in the table as elements are set.
ArrayData* makeData(u32 n) {
    bool large = n > kLargestDense;
    u32 capacity = large ? kLargeDenseSlots : denseCapacityFor(n);
    DataGuard d(newData(large ? kLargeDenseSlots : std::max(capacity, kSmallDenseLimit), capacity));
    if (large)
        d->sparse = new IntHashTable;
    d->dense->used = large ? kLargeDenseSlots : n;
    d->length = n;
    return d.release();
}

const Variant* elementAt(const ArrayData& d, u32 index) {
    if (index >= d.length)
        return nullptr;
    if (index < d.denseLimit)
        return index < d.dense->used ? &d.dense->slots()[index] : nullptr;
    return d.sparse ? static_cast<const Variant*>(d.sparse->get(index)) : nullptr;
}

// The slot of element `index` in private data, made undefined when missing;
// the length is left to the caller.
Variant& slotAt(ArrayData& d, u32 index) {
    if (index < d.denseLimit) {
        if (index >= d.dense->used) {
            reserveDense(d, index + 1);
            d.dense->used = index + 1;
        }
        return d.dense->slots()[index];
    }
    if (!d.sparse)
        d.sparse = new IntHashTable;
    if (auto* element = static_cast<Variant*>(d.sparse->get(index)))
        return *element;
    auto* element = new Variant;
    try {
        d.sparse->put(index, element);
    } catch (...) {
        delete element;
        throw;
    }
    return *element;
}

// What a private copy takes over from its source: the elements below
// `keepBelow`, those from `shiftFrom` on moved up by `shift`.
struct CopyPlan {
    u32 room;           // dense slots wanted
    u32 length;         // the copy's length
    u32 keepBelow;
    u32 shiftFrom = 0xFFFFFFFF;
    u32 shift = 0;
};

// Every element lands where its new index belongs, so nothing is lost when
// the source's dense and sparse parts are laid out otherwise. The source is
// left as it was, also when a step fails.
ArrayData* copyData(const ArrayData& source, const CopyPlan& plan) {
    u32 used = std::min({source.dense->used, source.length, plan.keepBelow});
    DataGuard copy(newData(source.denseLimit, std::max(plan.room, used)));
    copy->refCount = 1 | (source.refCount & kNoShareBit);
    copy->length = plan.length;
    if (source.sparse)
        copy->sparse = new IntHashTable;
    auto place = [&](u32 index, const Variant& element) {
        if (index < plan.keepBelow)
            slotAt(*copy, index >= plan.shiftFrom ? index + plan.shift : index) = element;
    };
    for (u32 i = 0; i < used; i++)
        place(i, source.dense->slots()[i]);
    if (source.sparse) {
        SimpleArray keys;
        source.sparse->getKeys(keys);
        for (i32 i = 0; i < keys.getCount(); i++) {
            auto index = u32(keys[i]);
            place(index, *static_cast<const Variant*>(source.sparse->get(index)));
        }
    }
    return copy.release();
}

// A counted reference to the data; data that must not be shared, or whose
// count is full, is copied instead.
ArrayData* shareData(ArrayData* d) {
    if ((d->refCount & kNoShareBit) || (d->refCount & kCountMask) == kCountMask)
        return copyData(*d, {d->length, d->length, d->length});
    atomicIncrement(&d->refCount);
    return d;
}

ArrayData* emptyData() {
    if (!sharedEmpty)
        throw std::bad_alloc();     // the library is not started
    return shareData(sharedEmpty);
}

// Whether every element present in `a` equals its partner in `b`, missing
// partners counting as undefined. Only present elements are visited, so a
// huge sparse length costs nothing.
bool matchesPartners(const ArrayData& a, const ArrayData& b) {
    Variant undefinedValue;
    auto partner = [&](u32 index) -> const Variant& {
        const Variant* element = elementAt(b, index);
        return element ? *element : undefinedValue;
    };
    u32 used = std::min(a.dense->used, a.length);
    for (u32 i = 0; i < used; i++)
        if (a.dense->slots()[i] != partner(i))
            return false;
    if (!a.sparse)
        return true;
    SimpleArray keys;
    a.sparse->getKeys(keys);
    for (i32 i = 0; i < keys.getCount(); i++) {
        auto index = u32(keys[i]);
        if (*static_cast<const Variant*>(a.sparse->get(index)) != partner(index))
            return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// BasicArray

const Variant& BasicArray::operator[](u32 index) const {
    if (const Variant* element = get(index))
        return *element;
    Variant& scratch = ThreadData::get()->scratchVariant;
    scratch.clear();
    return scratch;
}

// ---------------------------------------------------------------------------
// Handles

Array::Array() : d(emptyData()) {}

Array::Array(u32 length) : d(length == 0 ? emptyData() : makeData(length)) {}

Array::Array(const Array& other) : BasicArray(other), d(shareData(other.d)) {}

Array& Array::operator=(const Array& other) {
    if (d != other.d)
        adopt(shareData(other.d));
    return *this;
}

Array::~Array() { releaseData(d); }

void Array::adopt(ArrayData* data) {
    ArrayData* old = d;
    d = data;
    releaseData(old);
}

bool Array::isShared() const { return (d->refCount & kCountMask) > 1; }

void Array::detach(u32 length) { makePrivate(length, d->length); }

void Array::makePrivate(u32 room, u32 keepBelow) {
    if (isShared())
        adopt(copyData(*d, {room, d->length, keepBelow}));
}

// Dense room worth making for n elements: none when they pass the dense limit.
u32 Array::denseRoom(u32 n) const { return n <= d->denseLimit ? n : 0; }

// ---------------------------------------------------------------------------
// Elements

u32 Array::length() const { return d->length; }

const Variant* Array::get(u32 index) const { return elementAt(*d, index); }

bool Array::has(u32 index) const {
    const Variant* element = get(index);
    return element && element->getType() != Variant::kUndefined;
}

// A reference into shared data would change every copy, so shared data is
// detached before any element is handed out for writing.
Variant& Array::getOrCreate(u32 index) {
    if (index > kMaxIndex)
        throw std::bad_alloc();
    makePrivate(denseRoom(index + 1), d->length);
    Variant& element = slotAt(*d, index);
    if (index >= d->length)
        grow(index + 1);    // the slot exists, so this cannot fail
    return element;
}

void Array::grow(u32 length) {
    if (length > d->denseLimit) {
        if (!d->sparse)
            d->sparse = new IntHashTable;
    } else {
        reserveDense(*d, length);
        d->dense->used = length;
    }
    d->length = length;
}

void Array::setLength(u32 length) {
    if (length == d->length)
        return;
    if (length == 0) {
        adopt(emptyData());
        return;
    }
    makePrivate(denseRoom(length), std::min(length, d->length));
    if (length > d->length) {
        grow(length);
        return;
    }
    ArrayDenseBlock* dense = d->dense;
    for (u32 i = length; i < dense->used; i++)
        dense->slots()[i].clear();
    dense->used = std::min(dense->used, length);
    if (d->sparse)
        d->sparse->forEach(deleteElementFrom, &length);
    d->length = length;
}

void Array::insertSlots(u32 index, u32 count) {
    if (count == 0)
        return;
    u32 length = d->length;
    // Both the opened slots and the moved elements must stay within the
    // largest index; giving fewer slots than asked would let the caller
    // overwrite the elements it meant to move.
    if (u64(index) + count > kMaxLength || u64(length) + count > kMaxLength)
        throw std::bad_alloc();
    if (index >= length) {      // nothing moves
        makePrivate(denseRoom(length + count), length);
        grow(length + count);
        return;
    }
    adopt(copyData(*d, {length + count, length + count, length, index, count}));
}

void Array::appendNumber(f64 value) { getOrCreate(d->length).setNumber(value); }

// ---------------------------------------------------------------------------
// Equality and text

bool Array::equals(const Array& other) const {
    if (d == other.d)
        return true;
    if (d->length != other.d->length)
        return false;
    return matchesPartners(*d, *other.d) && matchesPartners(*other.d, *d);
}

// A missing element prints as undefined does, so the text does not depend
// on how the elements are laid out.
void Array::toString(String& out) const {
    if (d->length > kMaxTextElements) {
        out = "[too many elements]";
        return;
    }
    String text;
    Variant undefinedValue;
    for (u32 i = 0; i < d->length; i++) {
        if (i > 0)
            text += ',';
        const Variant* element = get(i);
        const Array* inner = element ? element->getArray() : nullptr;
        if (inner && inner->sharesDataWith(*this))
            text += "[this]";
        else
            text += *Variant::asString(element ? *element : undefinedValue);
    }
    out = text;
}

// ---------------------------------------------------------------------------
// Module

void initArray(bool start) {
    if (start) {
        if (!sharedEmpty)
            sharedEmpty = newData(kSmallDenseLimit, kFirstCapacity);
        return;
    }
    // Arrays that outlive the library keep their reference; the last frees it.
    if (sharedEmpty)
        releaseData(sharedEmpty);
    sharedEmpty = nullptr;
}

}  // namespace LxCore
