// Compact storage of script objects: the heap their small blocks come from,
// the 16-byte value cell a slot keeps instead of a full Property, the slot
// tables (names and attributes in creation order) that objects built alike
// share, and the dense element store of arrays.
//
// A slot lives in a cell. A plain slot keeps its value in the cell itself;
// a slot that must be a Property (a native member, an alias of a local, a
// live object's member, a watched slot, or any slot someone asked a
// Property* for) keeps a pointer to it there, for the rest of the object's
// life. The cell also carries the slot's creation ordinal and state, so
// that listings and the debugger see compact slots as they see Properties.
#pragma once
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"
#include "script/frontend/DataPool.h"

namespace LxScript {

using LxCore::f64;
using LxCore::i32;
using LxCore::u16;
using LxCore::u32;
using LxCore::u64;
using LxCore::u8;
using LxCore::Variant;

class Object;
class ObjectSpace;
class Property;

// Blocks of up to kLargest bytes in size classes of 8, carved from chunks
// that are kept for reuse: no header per block, and no search of a general
// heap for the many small blocks of objects and their cells. Larger blocks
// go to the core heap. The caller passes the size back when it frees.
// Engines run on one thread at a time, like the core heap's caches.
class ObjectHeap {
public:
    static constexpr size_t kLargest = 256;

    static void* alloc(size_t size);       // throws std::bad_alloc
    static void free(void* p, size_t size);
    // Gives the chunks none of whose blocks is in use back to the core
    // heap, so that what a script's objects held serves any need once they
    // are gone (after a reset). The bytes given back; 0 also when there is
    // no memory to sort the chunks in.
    static size_t releaseFreeChunks();
};

// The value of one slot, or the Property that holds it.
class SlotCell {
public:
    enum Kind : u8 {
        kEmpty = 0,         // no slot here (an element hole); all-zero memory reads so
        kRemoved,           // a removed slot kept for revival: no value
        kUndefined,
        kNull,
        kBoolean,
        kNumber,
        kString,
        kObject,            // a bound script object: one reference and one internal reference
        kBoxed,             // any other value, in a Variant of its own
        kSlot,              // a Property holds the slot
    };

    Kind kind;
    u8 state;               // the Property states: 1 created, 2 written, 3 removed
    u16 reserved;
    u32 ordinal;            // creation order within the object
    union {
        u64 bits;
        f64 number;
        u8 boolean;
        Object* object;
        Variant* boxed;
        Property* slot;
        alignas(LxCore::String) unsigned char text[sizeof(LxCore::String)];
    };

    // A value of its own, no Property.
    bool holdsValue() const { return kind >= kUndefined && kind <= kBoxed; }
    bool isSlot() const { return kind == kSlot; }
    bool isPresent() const { return kind >= kUndefined; }

    // The value as a Variant; undefined for an empty or removed cell.
    void load(Variant& out) const;
    // A new value: kind and payload from v, the old payload released after,
    // so that v may live in the old value. Ordinal and state stay.
    void store(const Variant& v);
    // A cell holding v (kind and payload only).
    static SlotCell of(const Variant& v) {
        SlotCell c;
        c.adopt(v);
        c.state = 0;
        c.reserved = 0;
        c.ordinal = 0;
        return c;
    }
    // Gives back what the cell holds (not a Property) and leaves kind as
    // given; ordinal and state stay.
    void releaseValue(Kind becomes);
    // The bound script object the value holds, or null.
    Object* heldObject() const;
    // A number cell's value without a Variant.
    bool isNumber() const { return kind == kNumber; }

    LxCore::String& string() { return *std::launder(reinterpret_cast<LxCore::String*>(text)); }
    const LxCore::String& string() const {
        return *std::launder(reinterpret_cast<const LxCore::String*>(text));
    }

    static SlotCell* allocate(u32 count);               // uninitialised
    static void deallocate(SlotCell* cells, u32 count);

private:
    // Builds this cell's payload from v without looking at the old one.
    void adopt(const Variant& v);
};

static_assert(sizeof(SlotCell) == 16, "a cell is two words");

// The names of an object's slots in creation order with their attributes.
// Objects that add the same names with the same attributes in the same order
// share one table: each table keeps the tables made from it by one more
// name (its transitions), and a table with a holder is never changed. An
// object that deletes a name, or that grows past kMaxShared names, or whose
// table has too many transitions, gets a table of its own that it changes
// in place (owned). A name's place in the table is the place of its cell.
class SlotTable {
public:
    struct Entry {
        DataPoolId symbol;
        u32 attributes;     // the slot's attributes; kSlotBacked: the cell holds a Property
    };

    // Marks entries whose cell holds a Property from the start (native
    // members, aliases of locals, live members): part of the transition key,
    // so that a plain slot never takes such an entry's attributes.
    static constexpr u32 kSlotBacked = 0x40000000;
    static constexpr u32 kMaxShared = 64;
    static constexpr u32 kMaxTransitions = 64;

    // The empty, shared table objects of a space start from (one reference
    // for the caller).
    static SlotTable* newRoot(ObjectSpace& space);

    void addRef() { refs++; }
    void release();

    ObjectSpace& getSpace() const { return *space; }
    u32 size() const { return count; }
    bool isShared() const { return shared != 0; }
    // No two tables of the process's life have the same serial: a cache
    // that keeps one never takes a later table at the same address for
    // this one, and needs no reference to it.
    u64 getSerial() const { return serial; }
    const Entry& at(u32 i) const { return entries[i]; }
    Entry& at(u32 i) { return entries[i]; }
    // The entry named symbol, or -1. O(1) past kLinearLimit names. Inline:
    // every property access asks it.
    i32 find(DataPoolId symbol) const {
        if (!hash) {
            for (u32 i = 0; i < count; i++)
                if (entries[i].symbol == symbol)
                    return i32(i);
            return -1;
        }
        for (u32 h = mix(symbol) & hashMask;; h = (h + 1) & hashMask) {
            const u32 e = hash[h];
            if (e == 0)
                return -1;
            if (entries[e - 1].symbol == symbol)
                return i32(e - 1);
        }
    }
    u32 getOperatorCount() const { return operators; }
    u32 getIndexCount() const { return indexes; }
    // Owned tables: removed entries still on the lookup path.
    u32 getRemovedCount() const { return removed; }
    void countRemoved(i32 delta) { removed = u32(i32(removed) + delta); }

    // A shared table: the table with one more entry (one reference for the
    // caller); null when the caller should take an owned copy instead.
    SlotTable* extended(DataPoolId symbol, u32 attributes) {
        // Inline: the transition taken last, which the search keeps first.
        if (!transitions.empty() && transitions.front().first == transitionKey(symbol, attributes)) {
            SlotTable* next = transitions.front().second;
            next->addRef();
            return next;
        }
        return searchTransitions(symbol, attributes);
    }
    // An owned copy of this table's entries (one reference for the caller).
    SlotTable* ownedCopy() const;
    // Owned tables only.
    void append(DataPoolId symbol, u32 attributes);
    void dropLast();
    // Owned: keeps the entries whose keep[i] is true, in order.
    void compact(const std::vector<u8>& keep);

private:
    explicit SlotTable(ObjectSpace& space);
    ~SlotTable();
    SlotTable(const SlotTable&) = delete;
    SlotTable& operator=(const SlotTable&) = delete;

    static constexpr u32 kLinearLimit = 8;

    static u64 transitionKey(DataPoolId symbol, u32 attributes) { return u64(u32(symbol)) << 32 | attributes; }
    SlotTable* searchTransitions(DataPoolId symbol, u32 attributes);

    static u32 mix(DataPoolId s) {
        u32 h = u32(s);
        h ^= h >> 15;
        h *= 0x2C1B3C6Du;
        h ^= h >> 12;
        return h;
    }

    void reserve(u32 wanted);
    void tally(DataPoolId symbol, i32 direction);
    void rebuildHash();
    void hashInsert(u32 index);
    void forget(SlotTable* child);

    ObjectSpace* space;
    SlotTable* parent = nullptr;        // counted; the table this one extends
    u32 refs = 1;
    u32 count = 0;
    u32 capacity = 0;
    u32 operators = 0;                  // entries named by an overloadable operator
    u32 indexes = 0;                    // entries named by an array index
    u32 removed = 0;
    u32 hashMask = 0;
    u8 shared = 1;
    Entry* entries = nullptr;
    u32* hash = nullptr;                // entry index + 1 per bucket, 0 empty
    std::vector<std::pair<u64, SlotTable*>> transitions;   // not counted
    u64 serial;
};

// Operator symbols 8 .. 32 that objects may define methods for.
bool isOverloadable(DataPoolId symbol);

// The elements of an array in one block of cells, index by index: no
// symbol per element, no lookup. The block stays dense: it grows to an
// index only while it would hold at least about half as many elements as
// cells (kDenseLimit cells are always allowed), so that its memory follows
// the elements held, never the largest index. An element past that lies in
// the object's table (it is spilled), and the store never grows up to the
// lowest spilled index, so that an index lives in one place only. Once the
// store could hold the spilled elements densely they come back into it
// (Object::absorbSpilled); a store left mostly holes by removals gives its
// elements to the table (Object::spillSparseStore).
struct ElementStore {
    static constexpr u32 kDenseLimit = 1024;
    static constexpr u32 kNoSpill = 0xFFFFFFFF;

    SlotCell* cells = nullptr;
    u32 count = 0;          // cells 0 .. count - 1 are initialised (holes are kEmpty)
    u32 capacity = 0;
    u32 live = 0;           // cells with a live slot
    u32 removed = 0;        // removed slots still on the lookup path
    u32 spilled = 0;        // table entries naming an element, live or removed
    u32 spillLow = kNoSpill;    // the lowest index among them: count never passes it
    u32 spillHigh = 0;      // the highest index among them (at least)

    // The cells a store may span when it holds `held` elements.
    static u64 reach(u64 held);
    // Whether an index is one the store can hold at all (an integer id's).
    static bool isStoreIndex(u32 index);
    // Room up to index (count grows to index + 1, new cells empty) when
    // the store may span it with one more element; false otherwise.
    bool cover(u32 index);
    // Capacity for n cells; count stays. Throws std::bad_alloc.
    void reserve(u32 n);
    // Empty cells from count up to n - 1, within the capacity.
    void extendTo(u32 n);
    void noteSpilled(u32 index);
    void clearAll();        // releases every value; Properties are the caller's
    // Drops the cells from newCount on (empty ones) and the room a much
    // smaller store no longer needs.
    void shrinkTo(u32 newCount);
};

}  // namespace LxScript
