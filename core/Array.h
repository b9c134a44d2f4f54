// Arrays of Variants: copy-on-write handles to shared data that keeps the
// first elements in a dense block and the rest of a long or sparse array in
// an integer-keyed hash table.
#pragma once
#include "core/HashTable.h"
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxCore {

// The read-only face of an array; the engine implements it too.
class BasicArray : public Root {
public:
    virtual ~BasicArray() = default;
    virtual u32 length() const = 0;
    virtual bool has(u32 index) const = 0;          // present and not undefined
    virtual const Variant* get(u32 index) const = 0;  // null when missing

    // A missing element reads as the thread record's scratch Variant, made
    // undefined first; valid until the next such read.
    const Variant& operator[](u32 index) const;
};

// The dense block: the used count and capacity, then `capacity` Variants,
// every one constructed (undefined where unused).
struct ArrayDenseBlock {
    u32 used;
    u32 capacity;

    Variant* slots() { return reinterpret_cast<Variant*>(this + 1); }
};

struct ArrayData : public Root {
    ArrayDenseBlock* dense = nullptr;
    IntHashTable* sparse = nullptr;     // index -> Variant made with new; null until needed
    u32 refCount = 1;                   // low 30 bits; bit 30: must not be shared
    u32 length = 0;
    u32 denseLimit = 0;                 // indexes below it live in the dense block
};

class Array : public BasicArray {
public:
    // Indexes stop at 2^32 - 2, so a length always fits 32 bits. Whatever
    // would need a longer array throws std::bad_alloc and changes nothing,
    // as does exhausted memory.
    static constexpr u32 kMaxLength = 0xFFFFFFFF;
    static constexpr u32 kMaxIndex = kMaxLength - 1;

    // Arrays exist only while the library is started: all of them share the
    // empty data its start makes (std::bad_alloc before that).
    Array();
    explicit Array(u32 length);                     // `length` undefined elements
    Array(const Array& other);                      // shares the other's data
    Array& operator=(const Array& other);
    ~Array() override;

    u32 length() const override;
    bool has(u32 index) const override;
    const Variant* get(u32 index) const override;

    using BasicArray::operator[];
    Variant& operator[](u32 index) { return getOrCreate(index); }
    // The element, made undefined when missing; the length grows past it.
    Variant& getOrCreate(u32 index);
    void setLength(u32 length);
    // Moves the elements from `index` up by `count` and lengthens the array
    // by `count`; the slots opened are empty.
    void insertSlots(u32 index, u32 count);
    // Same data, or same length and equal elements; missing counts as undefined.
    bool equals(const Array& other) const;
    // The elements' texts joined by ","; "[too many elements]" above 1000.
    void toString(String& out) const;
    // Appends a number element at index length().
    void appendNumber(f64 value);
    // Appends the values of a comma-separated text of value literals, read
    // one by one until the text is used up or one fails; that status, or 0.
    // Objects in it are built through the class registry for clientMask.
    i32 appendParsed(const String& text, u32 clientMask);
    // Both handles share one data.
    bool sharesDataWith(const Array& other) const { return d == other.d; }
    // Gives this handle data of its own, room made for `length` elements.
    void detach(u32 length);

private:
    ArrayData* d;

    void adopt(ArrayData* data);
    bool isShared() const;
    void makePrivate(u32 room, u32 keepBelow);
    u32 denseRoom(u32 n) const;
    void grow(u32 length);
    friend struct ArrayProbe;       // tests reach the data through it
};

// Module start/end: the shared empty data.
void initArray(bool start);

}  // namespace LxCore
