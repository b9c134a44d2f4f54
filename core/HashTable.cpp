// Hash tables: the string hash, the sizing rules, walks that survive changes,
// and the integer-keyed table.
#include "core/HashTable.h"

#include <algorithm>
#include <new>

#include "core/CharClass.h"

namespace LxCore {

void stepOverRemoved(HashWalk* walks, const void* entry, void* successor) {
    for (HashWalk* w = walks; w; w = w->outer) {
        if (w->current == entry)
            w->current = nullptr;
        if (w->next == entry)
            w->next = successor;
        w->removed = true;
    }
}

void abandonWalks(HashWalk* walks) {
    for (HashWalk* w = walks; w; w = w->outer) {
        w->current = nullptr;
        w->next = nullptr;
        w->removed = true;
    }
}

// Loads in 64 bits: count × 100 leaves 32 bits for large tables.
static bool overHalf(i32 count, i32 buckets) { return i64(count) * 100 / buckets > 50; }

i32 grownBucketCount(i32 count, i32 buckets) {
    if (buckets < 1)
        return buckets;
    return overHalf(count, buckets) && buckets <= kMaxHashBuckets / 2 ? buckets * 2 : buckets;
}

i32 settledBucketCount(i32 count, i32 buckets) {
    for (i32 grown = grownBucketCount(count, buckets); grown != buckets;
         grown = grownBucketCount(count, buckets))
        buckets = grown;
    return buckets;
}

// The String table

u32 THashTableBase::hash(const unit* key) {
    u32 h = 0;
    for (i32 i = 0; key && i < 5 && key[i]; i++) {
        unit c = key[i];
        c = c >= 'a' && c <= 'z' ? unit(c - 32) : toUpperChar(c);
        h = h * 2 + c;
    }
    return h;
}

u32 THashTableBase::hashAll(const unit* key) {
    u32 h = 2166136261u;            // FNV-1a
    for (; key && *key; key++) {
        unit c = *key;
        c = c >= 'a' && c <= 'z' ? unit(c - 32) : c < 128 ? c : toUpperChar(c);
        h = (h ^ c) * 16777619u;
    }
    return h;
}

i32 THashTableBase::bucketsForInsert() const {
    if (count >= SimpleArray::kMaxCount)
        throw std::bad_alloc();
    i32 n = buckets.getCount();
    if (n == 0)
        return kFirstBuckets;
    return walks ? n : grownBucketCount(count, n);
}

i32 THashTableBase::bucketsAfterRemoval() const {
    i32 n = buckets.getCount();
    if (n <= kFirstBuckets)
        return count == 0 ? 0 : n;
    return i64(count) * 100 / n < 30 ? std::max(n / 2, kFirstBuckets) : n;
}

// The integer table

struct IntHashTable::Entry : Root {
    Entry* next;
    i64 key;
    void* value;

    Entry(Entry* n, i64 k, void* v) : next(n), key(k), value(v) {}
};

namespace {

SimpleArray::Value toValue(const void* p) { return reinterpret_cast<SimpleArray::Value>(p); }

i32 intBucket(i64 key, i32 buckets) { return i32(u32(key & 0x7FFFFFFF) % u32(buckets)); }

}  // namespace

IntHashTable::IntHashTable(const IntHashTable& other) { putAll(other); }

IntHashTable& IntHashTable::operator=(const IntHashTable& other) {
    if (this == &other)
        return *this;
    IntHashTable copy(other);       // a failure leaves this table as it was
    clear();
    buckets = copy.buckets;
    count = copy.count;
    copy.buckets.setCount(0);
    copy.count = 0;
    return *this;
}

IntHashTable::~IntHashTable() { clear(); }

IntHashTable::Entry* IntHashTable::head(i32 b) const { return chainHead<Entry>(buckets, b); }

i32 IntHashTable::bucketOf(i64 key) const { return intBucket(key, buckets.getCount()); }

IntHashTable::Entry* IntHashTable::find(i64 key) const {
    if (buckets.getCount() == 0)
        return nullptr;
    for (Entry* e = head(bucketOf(key)); e; e = e->next)
        if (e->key == key)
            return e;
    return nullptr;
}

void IntHashTable::putAll(const IntHashTable& other) {
    for (i32 b = 0; b < other.buckets.getCount(); b++)
        for (Entry* e = other.head(b); e; e = e->next)
            put(e->key, e->value);
}

void IntHashTable::clear() {
    freeChains<Entry>(buckets, walks);
    count = 0;
}

void IntHashTable::put(i64 key, void* value) {
    if (Entry* e = find(key)) {
        e->value = value;
        return;
    }
    if (count >= SimpleArray::kMaxCount)
        throw std::bad_alloc();
    i32 n = buckets.getCount();
    if (n == 0) {
        buckets.setCount(kFirstBuckets);
    } else if (!walks) {
        i32 wanted = grownBucketCount(count, n);
        if (wanted != n)
            rehash(wanted);
    }
    i32 b = bucketOf(key);
    Entry* e = new Entry(head(b), key, value);
    buckets.set(b, toValue(e));
    count++;
}

void* IntHashTable::get(i64 key) const {
    Entry* e = find(key);
    return e ? e->value : nullptr;
}

void IntHashTable::unlink(Entry* e) {
    unchain(buckets, bucketOf(e->key), e, walks);
    delete e;
    count--;
}

void* IntHashTable::remove(i64 key) {
    Entry* e = find(key);
    if (!e)
        return nullptr;
    void* value = e->value;
    unlink(e);
    return value;
}

i64 IntHashTable::findKey(const void* value) const {
    for (i32 b = 0; b < buckets.getCount(); b++)
        for (Entry* e = head(b); e; e = e->next)
            if (e->value == value)
                return e->key;
    return -1;
}

void IntHashTable::forEach(Callback callback, void* data) {
    HashWalk walk;
    walk.outer = walks;
    walks = &walk;
    try {
        for (i32 b = 0; b < buckets.getCount(); b++) {
            walk.next = head(b);
            while (Entry* e = static_cast<Entry*>(walk.next)) {
                walk.current = e;
                walk.next = e->next;
                // The callback may have removed the entry itself.
                if (!callback(e->key, &e->value, data) && walk.current)
                    unlink(e);
            }
        }
    } catch (...) {
        endWalk(walk);
        throw;
    }
    endWalk(walk);
}

// Growth held back by the walks is made up after the outermost one.
void IntHashTable::endWalk(HashWalk& walk) noexcept {
    walks = walk.outer;
    if (walks) {
        walks->removed |= walk.removed;
        return;
    }
    i32 n = buckets.getCount();
    i32 wanted = settledBucketCount(count, n);
    if (wanted == n)
        return;
    try {
        rehash(wanted);
    } catch (const std::bad_alloc&) {
    }
}

void IntHashTable::getKeys(SimpleArray& out) const {
    out.setCount(count);
    i32 i = 0;
    for (i32 b = 0; b < buckets.getCount(); b++)
        for (Entry* e = head(b); e; e = e->next)
            out.set(i++, SimpleArray::Value(e->key));
}

void IntHashTable::getValues(SimpleArray& out) const {
    out.setCount(0);
    IntHashTable seen;      // keeps this linear for large tables
    for (i32 b = 0; b < buckets.getCount(); b++) {
        for (Entry* e = head(b); e; e = e->next) {
            if (!e->value || seen.get(toValue(e->value)))
                continue;
            seen.put(toValue(e->value), e->value);
            out.add(toValue(e->value));
        }
    }
}

void IntHashTable::rehash(i32 n) {
    if (walks)
        return;
    const i32 size = std::clamp(n, 1, kMaxHashBuckets);
    rechain<Entry>(buckets, size, [](const Entry* e, i32 total) { return intBucket(e->key, total); });
}

bool deleteArrayValue(i64, void** value, void*) {
    if (value) {
        delete static_cast<SimpleArray*>(*value);
        *value = nullptr;
    }
    return true;
}

}  // namespace LxCore
