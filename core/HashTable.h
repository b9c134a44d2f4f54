// Chained hash tables with SimpleArray bucket heads: THashTable<T> keyed by
// String under a case-blind hash, IntHashTable keyed by 64-bit integers.
// Both hold one pointer per key and never own what it points to.
//
// A table may be changed from inside its own forEach callback: entries can be
// added, removed or the table cleared. Buckets are not resized while a walk
// runs, and a walk steps over every entry removed under it, so it never visits
// a freed entry; resizing waits for the end of the outermost walk.
#pragma once
#include <algorithm>
#include <new>

#include "core/Heap.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

// One walk in progress over a table; walks may nest, the innermost first.
struct HashWalk {
    void* current = nullptr;    // the entry given to the callback; null once removed
    void* next = nullptr;       // the entry the walk visits after it
    HashWalk* outer = nullptr;
    bool removed = false;       // an entry went during this walk
};

// Before an entry is freed: every walk that would visit it moves on to its
// successor, and a walk whose callback holds it learns that it is gone.
void stepOverRemoved(HashWalk* walks, const void* entry, void* successor);
// A cleared table: every walk stops at the end of its bucket.
void abandonWalks(HashWalk* walks);

// Chains both tables keep alike: bucket heads are entry pointers in a
// SimpleArray, and each entry links the next by `next`.
template <class Entry>
Entry* chainHead(const SimpleArray& buckets, i32 b) {
    return reinterpret_cast<Entry*>(buckets.get(b));
}

// Takes e out of the chain of bucket b, for the caller to free; every walk
// steps over it.
template <class Entry>
void unchain(SimpleArray& buckets, i32 b, Entry* e, HashWalk* walks) {
    Entry* prev = nullptr;
    for (Entry* at = chainHead<Entry>(buckets, b); at && at != e; at = at->next)
        prev = at;
    if (prev)
        prev->next = e->next;
    else
        buckets.set(b, reinterpret_cast<SimpleArray::Value>(e->next));
    stepOverRemoved(walks, e, e->next);
}

// Frees every entry and releases the buckets; every walk stops.
template <class Entry>
void freeChains(SimpleArray& buckets, HashWalk* walks) {
    for (i32 b = 0; b < buckets.getCount(); b++) {
        for (Entry* e = chainHead<Entry>(buckets, b); e;) {
            Entry* next = e->next;
            delete e;
            e = next;
        }
    }
    buckets.setCount(0);
    abandonWalks(walks);
}

// Moves every entry into `size` new buckets, `bucketOf(entry, size)` giving
// its place. Throws std::bad_alloc with the buckets unchanged.
template <class Entry, class BucketOf>
void rechain(SimpleArray& buckets, i32 size, BucketOf bucketOf) {
    SimpleArray fresh;
    fresh.setCount(size);       // the only step that may fail
    for (i32 b = 0; b < buckets.getCount(); b++) {
        for (Entry* e = chainHead<Entry>(buckets, b); e;) {
            Entry* next = e->next;
            const i32 to = bucketOf(e, size);
            e->next = chainHead<Entry>(fresh, to);
            fresh.set(to, reinterpret_cast<SimpleArray::Value>(e));
            e = next;
        }
    }
    buckets = fresh;
}

// Bucket counts stop at 2^30, so doubling never overflows.
constexpr i32 kMaxHashBuckets = 1 << 30;
// Twice the buckets when the load is above 50 %, else the buckets given.
i32 grownBucketCount(i32 count, i32 buckets);
// Doubled as often as needed to bring the load to 50 % or below.
i32 settledBucketCount(i32 count, i32 buckets);

// The untyped part of every THashTable.
class THashTableBase : public Root {
public:
    static constexpr i32 kFirstBuckets = 16;

    // Of at most the first five units, upper-cased; an empty or null key gives 0.
    static u32 hash(const unit* key);
    // Of every unit, upper-cased: for tables of many names sharing a prefix.
    static u32 hashAll(const unit* key);

    i32 getCount() const { return count; }

protected:
    i32 count = 0;
    SimpleArray buckets;            // entry pointers; empty until the first insertion
    HashWalk* walks = nullptr;

    THashTableBase() = default;
    THashTableBase(const THashTableBase&) = delete;
    THashTableBase& operator=(const THashTableBase&) = delete;

    static bool sameKey(const String& a, const String& b, bool ignoreCase) {
        return ignoreCase ? a.compareIgnoreCase(b) == 0 : a == b;
    }
    // Buckets wanted before one more insertion: the first ones, or growth
    // unless a walk runs; throws std::bad_alloc when the count cannot grow.
    i32 bucketsForInsert() const;
    // Buckets wanted after a removal: 0 releases the array.
    i32 bucketsAfterRemoval() const;

    friend struct HashTableProbe;       // tests reach the buckets through it
};

template <class T, u32 (*HashOf)(const unit*) = THashTableBase::hash>
class THashTable : public THashTableBase {
public:
    struct Entry : Root {
        String key;
        Entry* next;
        u32 hash;
        T* value;

        Entry(const String& k, Entry* n, u32 h, T* v) : key(k), next(n), hash(h), value(v) {}
    };
    // Answering false deletes the entry.
    using Callback = bool (*)(Entry* entry, T** value, void* data);

    THashTable() = default;
    // Copies get entries of their own: keys copied, same values.
    THashTable(const THashTable& other) { putAll(other); }
    THashTable& operator=(const THashTable& other) {
        if (this != &other) {
            THashTable copy(other);     // a failure leaves this table as it was
            clear();
            take(copy);
        }
        return *this;
    }
    ~THashTable() { clear(); }

    void clear() {
        freeChains<Entry>(buckets, walks);
        count = 0;
    }

    // Insert or replace; an existing entry found case-blind takes the key's
    // spelling. An entry spelled exactly so comes first, so that respelling
    // never hides another entry behind a twin key.
    Entry* put(const String& key, T* value, bool ignoreCase = false) {
        Entry* e = findEntry(key, false);
        if (!e && ignoreCase)
            e = findEntry(key, true);
        if (e) {
            if (ignoreCase)
                e->key = key;
            e->value = value;
            return e;
        }
        i32 n = buckets.getCount();
        i32 wanted = bucketsForInsert();
        if (n == 0)
            buckets.setCount(wanted);
        else if (wanted != n)
            rehash(u32(wanted));
        u32 h = HashOf(key.chars());
        i32 b = bucketOf(h);
        e = new Entry(key, head(b), h, value);
        buckets.set(b, toValue(e));
        count++;
        return e;
    }

    T* get(const String& key, bool ignoreCase = false) const {
        Entry* e = findEntry(key, ignoreCase);
        return e ? e->value : nullptr;
    }

    bool contains(const String& key, bool ignoreCase = false) const {
        return findEntry(key, ignoreCase) != nullptr;
    }

    Entry* findEntry(const String& key, bool ignoreCase = false) const {
        if (buckets.getCount() == 0)
            return nullptr;
        for (Entry* e = head(bucketOf(HashOf(key.chars()))); e; e = e->next)
            if (sameKey(e->key, key, ignoreCase))
                return e;
        return nullptr;
    }

    // The entry after `previous` (from findEntry or this) with the same key:
    // walks every spelling of a key when asked case-blind.
    Entry* findNextEntry(const Entry* previous, const String& key, bool ignoreCase) const {
        for (Entry* e = previous->next; e; e = e->next)
            if (sameKey(e->key, key, ignoreCase))
                return e;
        return nullptr;
    }

    // The removed value, or null when there was no such key.
    T* remove(const String& key, bool ignoreCase = false) {
        Entry* e = findEntry(key, ignoreCase);
        if (!e)
            return nullptr;
        T* value = e->value;
        unlink(e);
        shrink();
        return value;
    }

    Entry* findByValue(const T* value) const {
        for (i32 b = 0; b < buckets.getCount(); b++)
            for (Entry* e = head(b); e; e = e->next)
                if (e->value == value)
                    return e;
        return nullptr;
    }

    // Every entry, in bucket and chain order; valid until the table changes.
    void getEntries(SimpleArray& out) const {
        out.setCount(0);
        out.setCount(count);
        i32 i = 0;
        for (i32 b = 0; b < buckets.getCount(); b++)
            for (Entry* e = head(b); e; e = e->next)
                out.set(i++, toValue(e));
    }

    void forEach(Callback callback, void* data) {
        WalkScope scope(*this);
        HashWalk& walk = scope.walk;
        for (i32 b = 0; b < buckets.getCount(); b++) {
            walk.next = head(b);
            while (Entry* e = static_cast<Entry*>(walk.next)) {
                walk.current = e;
                walk.next = e->next;
                // The callback may have removed the entry itself.
                if (!callback(e, &e->value, data) && walk.current)
                    unlink(e);
            }
        }
    }

    // Ignored while a walk runs; n is kept within 1 .. kMaxHashBuckets.
    // Throws std::bad_alloc with the table unchanged.
    void rehash(u32 n) {
        if (walks)
            return;
        const i32 size = i32(std::clamp<u32>(n, 1, kMaxHashBuckets));
        rechain<Entry>(buckets, size,
                       [](const Entry* e, i32 total) { return i32(e->hash % u32(total)); });
    }

private:
    class WalkScope {
    public:
        explicit WalkScope(THashTable& t) : table(t) {
            walk.outer = table.walks;
            table.walks = &walk;
        }
        ~WalkScope() {
            table.walks = walk.outer;
            if (walk.outer)
                walk.outer->removed |= walk.removed;
            else
                table.settle(walk.removed);
        }
        WalkScope(const WalkScope&) = delete;
        WalkScope& operator=(const WalkScope&) = delete;

        HashWalk walk;

    private:
        THashTable& table;
    };

    static SimpleArray::Value toValue(Entry* e) { return reinterpret_cast<SimpleArray::Value>(e); }
    Entry* head(i32 b) const { return chainHead<Entry>(buckets, b); }
    i32 bucketOf(u32 h) const { return i32(h % u32(buckets.getCount())); }

    void putAll(const THashTable& other) {
        for (i32 b = 0; b < other.buckets.getCount(); b++)
            for (Entry* e = other.head(b); e; e = e->next)
                put(e->key, e->value, false);
    }

    void take(THashTable& other) {
        buckets = other.buckets;
        count = other.count;
        other.buckets.setCount(0);
        other.count = 0;
    }

    void unlink(Entry* e) {
        unchain(buckets, bucketOf(e->hash), e, walks);
        delete e;
        count--;
    }

    // Resizing is optional, so a failure to resize keeps the buckets as they are.
    void shrink() noexcept {
        if (walks)
            return;
        i32 wanted = bucketsAfterRemoval();
        if (wanted == 0)
            buckets.setCount(0);
        else if (wanted != buckets.getCount())
            tryRehash(wanted);
    }

    // After the outermost walk: growth held back by it, then the shrink of a removal.
    void settle(bool removed) noexcept {
        i32 n = buckets.getCount();
        if (n == 0)
            return;
        i32 grown = settledBucketCount(count, n);
        if (grown != n)
            tryRehash(grown);
        else if (removed)
            shrink();
    }

    void tryRehash(i32 n) noexcept {
        try {
            rehash(u32(n));
        } catch (const std::bad_alloc&) {
        }
    }
};

// Integer-keyed table; the bucket of a key is (key & 0x7FFFFFFF) mod buckets.
class IntHashTable : public Root {
public:
    static constexpr i32 kFirstBuckets = 32;
    // Answering false deletes the entry.
    using Callback = bool (*)(i64 key, void** value, void* data);

    IntHashTable() = default;
    IntHashTable(const IntHashTable& other);        // entries of its own
    IntHashTable& operator=(const IntHashTable& other);
    ~IntHashTable();

    i32 getCount() const { return count; }
    void clear();
    void put(i64 key, void* value);
    void* get(i64 key) const;                       // null also when absent
    void* remove(i64 key);                          // never shrinks the buckets
    i64 findKey(const void* value) const;           // -1 when no entry holds it
    void forEach(Callback callback, void* data);
    void getKeys(SimpleArray& out) const;           // every key, bucket order
    void getValues(SimpleArray& out) const;         // distinct non-null values
    void rehash(i32 n);                             // ignored while a walk runs

private:
    struct Entry;

    i32 count = 0;
    SimpleArray buckets;
    HashWalk* walks = nullptr;

    Entry* head(i32 b) const;
    i32 bucketOf(i64 key) const;
    Entry* find(i64 key) const;
    void unlink(Entry* e);
    void putAll(const IntHashTable& other);
    void endWalk(HashWalk& walk) noexcept;

    friend struct HashTableProbe;
};

// Walk callback for integer-keyed tables whose values are SimpleArrays made
// with new: deletes the array and keeps the entry with a null value.
bool deleteArrayValue(i64 key, void** value, void* data);

}  // namespace LxCore
