#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "core/HashTable.h"
#include "core/InitTerm.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"

namespace LxCore {

struct HashTableProbe {
    static i32 buckets(const THashTableBase& t) { return t.buckets.getCount(); }
    static i32 buckets(const IntHashTable& t) { return t.buckets.getCount(); }
    static i32& count(THashTableBase& t) { return t.count; }
};

namespace {

using Table = THashTable<int>;
using Entry = Table::Entry;

i32 bucketsOf(const THashTableBase& t) { return HashTableProbe::buckets(t); }
i32 bucketsOf(const IntHashTable& t) { return HashTableProbe::buckets(t); }

std::string text(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); i++)
        out += char(s[i]);
    return out;
}

String keyOf(const std::string& s) { return String(s.c_str()); }

std::vector<Entry*> entriesOf(const Table& table) {
    SimpleArray out;
    table.getEntries(out);
    std::vector<Entry*> entries;
    for (i32 i = 0; i < out.getCount(); i++)
        entries.push_back(reinterpret_cast<Entry*>(out[i]));
    return entries;
}

// forEach with a lambda that may capture.
using Visit = std::function<bool(Entry*)>;
void walk(Table& table, Visit visit) {
    table.forEach([](Entry* e, int**, void* data) { return (*static_cast<Visit*>(data))(e); },
                  &visit);
}

using IntVisit = std::function<bool(i64, void**)>;
void walk(IntHashTable& table, IntVisit visit) {
    table.forEach(
        [](i64 key, void** value, void* data) { return (*static_cast<IntVisit*>(data))(key, value); },
        &visit);
}

class HashTableTest : public ::testing::Test {
protected:
    CoreStarted core;
    int values[200] = {};

    int* value(int i) { return &values[i]; }

    // n keys: with a prefix of five or more units they all share one chain.
    std::vector<std::string> fill(Table& table, int n, const std::string& prefix) {
        std::vector<std::string> names;
        for (int i = 0; i < n; i++) {
            names.push_back(prefix + std::to_string(i));
            table.put(keyOf(names.back()), value(i));
        }
        return names;
    }
};

// The string table

TEST_F(HashTableTest, HashUpperCasesAtMostFiveUnits) {
    struct Case {
        const unit* key;
        u32 expected;
    } cases[] = {
        {nullptr, 0},
        {u"", 0},
        {u"a", 'A'},
        {u"A", 'A'},
        {u"ab", 'A' * 2 + 'B'},
        {u"abcde", 2041},             // ((((65·2+66)·2+67)·2+68)·2+69)
        {u"ABCDEzzzz", 2041},
        {u"\u00e9", 0xC9},            // through the character tables
        {u"\u00ff\u00ff\u00ff\u00ff\u00ff\u00ff", 0x178 * 31},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Table::hash(c.key), c.expected);
}

TEST_F(HashTableTest, FirstInsertionMakes16BucketsAndTheTenthGrows) {
    Table table;
    EXPECT_EQ(bucketsOf(table), 0);
    EXPECT_EQ(table.get("absent"), nullptr);
    EXPECT_EQ(table.findEntry("absent"), nullptr);
    fill(table, 1, "k");
    EXPECT_EQ(bucketsOf(table), 16);
    table.put("k1", value(1));
    table.put("k2", value(2));
    fill(table, 9, "k");                 // replaces k0..k2, adds up to k8
    EXPECT_EQ(table.getCount(), 9);
    EXPECT_EQ(bucketsOf(table), 16);     // the ninth saw 8 × 100 / 16 = 50
    table.put("k9", value(9));
    EXPECT_EQ(bucketsOf(table), 32);     // the tenth saw 9 × 100 / 16 = 56
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(table.get(keyOf("k" + std::to_string(i))), value(i));
}

TEST_F(HashTableTest, KeysWithOneFiveUnitPrefixShareABucket) {
    Table table;
    Entry* lower = table.put("abcdeX", value(1));
    Entry* upper = table.put("ABCDEY", value(2));
    EXPECT_EQ(lower->hash, upper->hash);
    EXPECT_EQ(upper->next, lower);       // one chain, newest first

    EXPECT_EQ(table.get("abcdex"), nullptr);
    EXPECT_FALSE(table.contains("abcdex"));
    EXPECT_EQ(table.get("abcdex", true), value(1));
    EXPECT_EQ(table.findEntry("ABCDEX", true), lower);
    EXPECT_EQ(table.get("abcde", true), nullptr);    // compared in full
}

TEST_F(HashTableTest, KeysWithEmbeddedZerosAreComparedInFull) {
    Table table;
    const unit a[] = {'x', 0, 'a'};
    const unit b[] = {'x', 0, 'b'};
    table.put(String(a, 3), value(1));
    table.put(String(b, 3), value(2));
    table.put(String(), value(3));
    EXPECT_EQ(table.getCount(), 3);
    EXPECT_EQ(table.get(String(a, 3)), value(1));
    EXPECT_EQ(table.get(String(b, 3)), value(2));
    EXPECT_EQ(table.get("x"), nullptr);
    EXPECT_EQ(table.get(String()), value(3));
    EXPECT_EQ(table.remove(String()), value(3));
}

TEST_F(HashTableTest, CaseBlindPutRespellsAndReplaces) {
    Table table;
    Entry* entry = table.put("Name", value(1));
    EXPECT_EQ(table.put("NAME", value(2), true), entry);
    EXPECT_EQ(table.getCount(), 1);
    EXPECT_EQ(text(entry->key), "NAME");
    EXPECT_EQ(entry->value, value(2));

    table.put("name", value(3));         // case-sensitive: a second entry
    EXPECT_EQ(table.getCount(), 2);
    EXPECT_EQ(table.get("NAME"), value(2));
    EXPECT_EQ(table.get("name"), value(3));

    // "name" is first in the chain, but "NAME" is the entry spelled so.
    EXPECT_EQ(table.put("NAME", value(4), true), entry);
    EXPECT_EQ(table.getCount(), 2);
    EXPECT_EQ(table.get("name"), value(3));
    EXPECT_EQ(table.get("NAME"), value(4));
}

TEST_F(HashTableTest, RemovingTheLastEntryReleasesTheBuckets) {
    Table table;
    table.put("only", value(1));
    EXPECT_EQ(table.remove("absent"), nullptr);
    EXPECT_EQ(table.remove("ONLY"), nullptr);
    EXPECT_EQ(table.remove("ONLY", true), value(1));
    EXPECT_EQ(table.getCount(), 0);
    EXPECT_EQ(bucketsOf(table), 0);
    EXPECT_EQ(table.remove("only"), nullptr);
    table.put("again", value(2));
    EXPECT_EQ(bucketsOf(table), 16);
}

TEST_F(HashTableTest, ShrinksBelowThirtyPercent) {
    Table table;
    std::vector<std::string> names = fill(table, 21, "k");
    ASSERT_EQ(bucketsOf(table), 64);
    table.remove(keyOf(names[0]));
    EXPECT_EQ(bucketsOf(table), 64);     // 20 left: 2000 / 64 = 31
    table.remove(keyOf(names[1]));
    EXPECT_EQ(bucketsOf(table), 32);     // 19 left: 1900 / 64 = 29
    for (int i = 2; i < 21; i++)
        EXPECT_EQ(table.get(keyOf(names[i])), value(i));
}

TEST_F(HashTableTest, EntriesAndValueSearchFollowBucketOrder) {
    Table table;
    fill(table, 12, "k");
    table.put("twin", value(3));         // a second entry holding value 3

    SimpleArray out;
    out.add(99);
    table.getEntries(out);               // emptied first
    ASSERT_EQ(out.getCount(), 13);
    std::vector<Entry*> walked;
    walk(table, [&](Entry* e) {
        walked.push_back(e);
        return true;
    });
    EXPECT_EQ(walked, entriesOf(table));

    Entry* firstHolder = nullptr;
    for (Entry* e : walked)
        if (!firstHolder && e->value == value(3))
            firstHolder = e;
    EXPECT_EQ(table.findByValue(value(3)), firstHolder);
    EXPECT_EQ(table.findByValue(value(150)), nullptr);
    EXPECT_EQ(Table().findByValue(nullptr), nullptr);
}

TEST_F(HashTableTest, CopiesHaveEntriesOfTheirOwn) {
    Table source;
    source.put("abc", value(1));
    source.put("ABC", value(2));         // told apart when copied, too
    fill(source, 10, "k");

    Table copy(source);
    EXPECT_EQ(copy.getCount(), 12);
    EXPECT_NE(copy.findEntry("abc"), source.findEntry("abc"));
    Table assigned;
    assigned.put("old", value(50));
    assigned = source;
    assigned = assigned;
    source.clear();

    for (Table* t : {&copy, &assigned}) {
        EXPECT_EQ(t->getCount(), 12);
        EXPECT_EQ(t->get("abc"), value(1));
        EXPECT_EQ(t->get("ABC"), value(2));
        EXPECT_EQ(t->get("k9"), value(9));
        EXPECT_FALSE(t->contains("old"));
    }
    copy.remove("abc");
    EXPECT_EQ(assigned.get("abc"), value(1));
}

TEST_F(HashTableTest, WalkDeletesWhereTheCallbackAnswersFalse) {
    Table table;
    fill(table, 8, "k");
    walk(table, [&](Entry* e) { return e->value != value(2) && e->value != value(5); });
    EXPECT_EQ(table.getCount(), 6);
    EXPECT_FALSE(table.contains("k2"));
    EXPECT_FALSE(table.contains("k5"));

    walk(table, [](Entry*) { return false; });
    EXPECT_EQ(table.getCount(), 0);
    EXPECT_EQ(bucketsOf(table), 0);      // shrunk as a removal would

    fill(table, 21, "k");
    ASSERT_EQ(bucketsOf(table), 64);
    walk(table, [](Entry*) { return false; });
    EXPECT_EQ(table.getCount(), 0);
    EXPECT_EQ(bucketsOf(table), 32);     // one shrink step per walk
}

TEST_F(HashTableTest, WalkValuePointerReplacesTheValue) {
    Table table;
    fill(table, 3, "k");
    table.forEach(
        [](Entry*, int** v, void* data) {
            *v = static_cast<int*>(data);
            return true;
        },
        value(100));
    EXPECT_EQ(table.get("k0"), value(100));
    EXPECT_EQ(table.get("k2"), value(100));
}

// Changes made from inside a walk: the walk visits only live entries, each at
// most once, and never touches a freed one (the sanitizers watch).
class StringWalkTest : public HashTableTest {
protected:
    Table table;
    std::map<std::string, int> visits;

    void walkChecked(const std::function<bool(Entry*)>& action) {
        walk(table, [&](Entry* e) {
            EXPECT_EQ(table.findEntry(e->key), e) << "a removed entry was visited";
            visits[text(e->key)]++;
            return action(e);
        });
        for (const auto& [name, n] : visits)
            EXPECT_EQ(n, 1) << name;
    }
};

const char* const kPrefixes[] = {"entry", "k"};   // one chain, spread

TEST_F(StringWalkTest, CallbackRemovesItsOwnEntry) {
    for (const char* prefix : kPrefixes) {
        visits.clear();
        fill(table, 40, prefix);
        bool answer = false;
        walkChecked([&](Entry* e) {
            table.remove(e->key);
            answer = !answer;
            return answer;                  // false after removing: nothing more to do
        });
        EXPECT_EQ(visits.size(), 40u);
        EXPECT_EQ(table.getCount(), 0);
        EXPECT_EQ(bucketsOf(table), 64);    // 128 buckets, one shrink step
        table.clear();
    }
}

TEST_F(StringWalkTest, CallbackRemovesOtherEntries) {
    for (const char* prefix : kPrefixes) {
        visits.clear();
        std::vector<std::string> names = fill(table, 40, prefix);
        walkChecked([&](Entry* e) {
            std::string name = text(e->key);
            int i = std::stoi(name.substr(std::string(prefix).size()));
            table.remove(keyOf(names[i ^ 1]));
            return true;
        });
        EXPECT_EQ(visits.size(), 20u);
        EXPECT_EQ(table.getCount(), 20);
        for (int i = 0; i < 40; i += 2)
            EXPECT_NE(table.contains(keyOf(names[i])), table.contains(keyOf(names[i + 1])));
        table.clear();
    }
}

TEST_F(StringWalkTest, CallbackRemovesEverythingElse) {
    for (const char* prefix : kPrefixes) {
        visits.clear();
        std::vector<std::string> names = fill(table, 30, prefix);
        walkChecked([&](Entry* e) {
            for (const std::string& name : names)
                if (name != text(e->key))
                    table.remove(keyOf(name));
            return true;
        });
        EXPECT_EQ(visits.size(), 1u);
        EXPECT_EQ(table.getCount(), 1);
        table.clear();
    }
}

TEST_F(StringWalkTest, CallbackAddsEntries) {
    for (const char* prefix : kPrefixes) {
        visits.clear();
        fill(table, 8, prefix);
        int added = 0;
        walk(table, [&](Entry* e) {
            if (visits[text(e->key)]++ || text(e->key).rfind("new", 0) == 0)
                return true;
            for (int i = 0; i < 20; i++)
                table.put(keyOf("new" + std::to_string(added++)), value(100));
            return true;
        });
        for (int i = 0; i < 8; i++)
            EXPECT_EQ(visits[prefix + std::to_string(i)], 1);
        EXPECT_EQ(table.getCount(), 8 + added);
        // The growth held back during the walk is made up after it.
        EXPECT_LE(i64(table.getCount()) * 100 / bucketsOf(table), 50);
        EXPECT_EQ(table.get("new0"), value(100));
        EXPECT_EQ(table.get(keyOf(prefix + std::string("7"))), value(7));
        table.clear();
    }
}

TEST_F(StringWalkTest, CallbackClearsOrReplacesTheTable) {
    fill(table, 20, "k");
    walkChecked([&](Entry*) {
        table.clear();
        return false;
    });
    EXPECT_EQ(visits.size(), 1u);
    EXPECT_EQ(table.getCount(), 0);

    Table other;
    fill(other, 5, "other");
    fill(table, 20, "k");
    walk(table, [&](Entry*) {
        table = other;
        return true;
    });
    EXPECT_EQ(table.getCount(), 5);
    EXPECT_EQ(table.get("other4"), value(4));
}

TEST_F(StringWalkTest, NestedWalkRemovesEverything) {
    fill(table, 9, "entry");
    walkChecked([&](Entry* outer) {
        walk(table, [&](Entry* inner) { return inner == outer; });   // keeps only its caller
        return false;
    });
    EXPECT_EQ(visits.size(), 1u);
    EXPECT_EQ(table.getCount(), 0);
    EXPECT_EQ(bucketsOf(table), 0);
}

TEST_F(HashTableTest, FailedGrowthLeavesTheTableAsItWas) {
    Table table;
    fill(table, 9, "k");
    TestAllocator allocator;
    UsingAllocator installed(&allocator);
    String k9("k9"), k10("k10");            // made before any request fails
    allocator.failures = 2;                 // the request and its retry
    EXPECT_THROW(table.put(k9, value(9)), std::bad_alloc);
    EXPECT_EQ(table.getCount(), 9);
    EXPECT_EQ(bucketsOf(table), 16);
    EXPECT_FALSE(table.contains(k9));
    EXPECT_EQ(table.get("k8"), value(8));

    table.put(k9, value(9));
    EXPECT_EQ(bucketsOf(table), 32);
    allocator.failures = 2;                 // now the entry itself
    EXPECT_THROW(table.put(k10, value(10)), std::bad_alloc);
    EXPECT_EQ(table.getCount(), 10);
    EXPECT_FALSE(table.contains(k10));
    table.clear();
}

TEST_F(HashTableTest, FailedShrinkStillRemoves) {
    Table table;
    std::vector<std::string> names = fill(table, 20, "k");
    ASSERT_EQ(bucketsOf(table), 64);
    String first = keyOf(names[0]), second = keyOf(names[1]);
    TestAllocator allocator;
    UsingAllocator installed(&allocator);
    allocator.failures = 2;
    EXPECT_EQ(table.remove(first), value(0));       // would shrink to 32
    EXPECT_EQ(table.getCount(), 19);
    EXPECT_EQ(bucketsOf(table), 64);
    EXPECT_FALSE(table.contains(first));
    table.remove(second);                           // memory again: shrinks
    EXPECT_EQ(bucketsOf(table), 32);
    table.clear();
}

TEST_F(HashTableTest, RehashKeepsItsSizeInRange) {
    Table table;
    fill(table, 5, "k");
    table.rehash(0);
    EXPECT_EQ(bucketsOf(table), 1);
    EXPECT_EQ(table.get("k4"), value(4));

    TestAllocator allocator;
    UsingAllocator installed(&allocator);
    allocator.failures = 2;
    EXPECT_THROW(table.rehash(0xFFFFFFFF), std::bad_alloc);
    const u64 bytes = sizeof(SimpleArrayBlock) + u64(kMaxHashBuckets) * sizeof(intptr_t);
    EXPECT_EQ(allocator.lastSize, (bytes + Heap::kHeaderSize + 15) & ~u64(15));
    EXPECT_EQ(bucketsOf(table), 1);
    EXPECT_EQ(table.getCount(), 5);
    table.clear();
}

TEST_F(HashTableTest, CountCannotPassTheLargest) {
    Table table;
    table.put("one", value(1));
    HashTableProbe::count(table) = SimpleArray::kMaxCount;
    EXPECT_THROW(table.put("two", value(2)), std::bad_alloc);
    table.put("one", value(3));          // replacing needs no room
    HashTableProbe::count(table) = 1;
    EXPECT_EQ(table.get("one"), value(3));
    EXPECT_FALSE(table.contains("two"));
}

TEST_F(HashTableTest, SizingRulesDoNotOverflow) {
    EXPECT_EQ(grownBucketCount(SimpleArray::kMaxCount, kMaxHashBuckets), kMaxHashBuckets);
    EXPECT_EQ(grownBucketCount(SimpleArray::kMaxCount, kMaxHashBuckets / 2), kMaxHashBuckets);
    EXPECT_EQ(grownBucketCount(30000000, 1 << 20), 1 << 21);
    EXPECT_EQ(settledBucketCount(SimpleArray::kMaxCount, 16), kMaxHashBuckets);
    EXPECT_EQ(settledBucketCount(100, 16), 256);
}

// The integer table

TEST_F(HashTableTest, IntTableMakes32BucketsAndGrowsPastHalf) {
    IntHashTable table;
    EXPECT_EQ(table.get(1), nullptr);
    EXPECT_EQ(table.remove(1), nullptr);
    table.put(0, value(0));
    EXPECT_EQ(bucketsOf(table), 32);
    for (int i = 1; i < 17; i++)
        table.put(i, value(i));
    EXPECT_EQ(bucketsOf(table), 32);     // the 17th saw 16 × 100 / 32 = 50
    table.put(17, value(17));
    EXPECT_EQ(bucketsOf(table), 64);
    table.put(17, value(50));
    EXPECT_EQ(table.getCount(), 18);
    EXPECT_EQ(table.get(17), value(50));
}

TEST_F(HashTableTest, IntKeysDifferingInHighBitsShareABucketButNotAnEntry) {
    IntHashTable table;
    const i64 keys[] = {5, 5 + (i64(1) << 31), 5 + (i64(1) << 40), INT64_MIN + 5, -1};
    for (int i = 0; i < 5; i++)
        table.put(keys[i], value(i));
    EXPECT_EQ(table.getCount(), 5);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(table.get(keys[i]), value(i));
    EXPECT_EQ(table.get(6), nullptr);
    EXPECT_EQ(table.remove(keys[1]), value(1));
    EXPECT_EQ(table.get(keys[1]), nullptr);
    EXPECT_EQ(table.get(keys[2]), value(2));
    EXPECT_EQ(table.findKey(value(3)), INT64_MIN + 5);
    EXPECT_EQ(table.findKey(value(4)), -1);      // the key -1 itself
    EXPECT_EQ(table.findKey(value(9)), -1);
}

TEST_F(HashTableTest, IntRemovalNeverShrinks) {
    IntHashTable table;
    for (int i = 0; i < 40; i++)
        table.put(i, value(i));
    i32 buckets = bucketsOf(table);
    for (int i = 0; i < 40; i++)
        EXPECT_EQ(table.remove(i), value(i));
    EXPECT_EQ(table.getCount(), 0);
    EXPECT_EQ(bucketsOf(table), buckets);
    table.clear();
    EXPECT_EQ(bucketsOf(table), 0);
}

TEST_F(HashTableTest, IntKeysAndDistinctValues) {
    IntHashTable table;
    table.put(1, value(1));
    table.put(2, value(2));
    table.put(33, value(1));             // bucket 1 again, ahead of key 1
    table.put(4, nullptr);

    SimpleArray keys;
    keys.add(77);
    keys.add(78);
    keys.add(79);
    keys.add(80);
    keys.add(81);
    table.getKeys(keys);
    EXPECT_EQ(keys.getCount(), 4);
    std::vector<i64> got;
    for (i32 i = 0; i < keys.getCount(); i++)
        got.push_back(keys[i]);
    EXPECT_EQ(got, (std::vector<i64>{33, 1, 2, 4}));

    SimpleArray values;
    values.add(7);
    table.getValues(values);
    ASSERT_EQ(values.getCount(), 2);
    EXPECT_EQ(values[0], reinterpret_cast<SimpleArray::Value>(value(1)));
    EXPECT_EQ(values[1], reinterpret_cast<SimpleArray::Value>(value(2)));

    IntHashTable().getKeys(keys);
    EXPECT_EQ(keys.getCount(), 0);
}

TEST_F(HashTableTest, IntCopiesHaveEntriesOfTheirOwn) {
    IntHashTable source;
    for (int i = 0; i < 20; i++)
        source.put(i, value(i));
    IntHashTable copy(source);
    IntHashTable assigned;
    assigned.put(99, value(99));
    assigned = source;
    assigned = assigned;
    source.clear();
    for (IntHashTable* t : {&copy, &assigned}) {
        EXPECT_EQ(t->getCount(), 20);
        EXPECT_EQ(t->get(19), value(19));
        EXPECT_EQ(t->get(99), nullptr);
    }
    copy.remove(3);
    EXPECT_EQ(assigned.get(3), value(3));
}

TEST_F(HashTableTest, IntWalkDeletesWithoutShrinking) {
    IntHashTable table;
    for (int i = 0; i < 40; i++)
        table.put(i, value(i));
    i32 buckets = bucketsOf(table);
    walk(table, [](i64 key, void**) { return key % 4 != 0; });
    EXPECT_EQ(table.getCount(), 30);
    EXPECT_EQ(table.get(4), nullptr);
    EXPECT_EQ(table.get(5), value(5));
    walk(table, [](i64, void**) { return false; });
    EXPECT_EQ(table.getCount(), 0);
    EXPECT_EQ(bucketsOf(table), buckets);
}

TEST_F(HashTableTest, IntWalkSurvivesChanges) {
    // Keys i << 31 all fall into bucket 0; keys i spread. Added keys are negative.
    for (int shift : {31, 0}) {
        IntHashTable table;
        for (int i = 0; i < 40; i++)
            table.put(i64(i) << shift, value(i));
        std::map<i64, int> visits;
        int step = 0;
        i64 added = 0;
        walk(table, [&](i64 key, void**) {
            EXPECT_EQ(visits[key]++, 0) << key;
            EXPECT_NE(table.get(key), nullptr) << "a removed entry was visited";
            if (key < 0)
                return true;
            i64 partner = (i64((key >> shift) ^ 1)) << shift;
            switch (step++ % 3) {
            case 0:
                table.remove(partner);
                return true;
            case 1:
                table.remove(key);
                return false;
            default:
                for (int i = 0; i < 10; i++)
                    table.put(--added, value(100));
                return true;
            }
        });
        EXPECT_EQ(table.get(added), value(100));
        EXPECT_LE(i64(table.getCount()) * 100 / bucketsOf(table), 50);

        walk(table, [&](i64, void**) {
            walk(table, [](i64, void**) { return false; });
            table.put(-5, value(5));
            return true;
        });
        EXPECT_EQ(table.getCount(), 1);
        EXPECT_EQ(table.get(-5), value(5));

        walk(table, [&](i64, void**) {
            table.clear();
            return false;
        });
        EXPECT_EQ(table.getCount(), 0);
    }
}

TEST_F(HashTableTest, IntFailedGrowthLeavesTheTableAsItWas) {
    IntHashTable table;
    for (int i = 0; i < 17; i++)
        table.put(i, value(i));
    TestAllocator allocator;
    UsingAllocator installed(&allocator);
    allocator.failures = 2;
    EXPECT_THROW(table.put(17, value(17)), std::bad_alloc);
    EXPECT_EQ(table.getCount(), 17);
    EXPECT_EQ(bucketsOf(table), 32);
    EXPECT_EQ(table.get(16), value(16));
    table.clear();
}

TEST_F(HashTableTest, DeleteArrayValueKeepsTheEntries) {
    IntHashTable table;
    for (int i = 0; i < 10; i++) {
        SimpleArray* listeners = new SimpleArray;
        for (int j = 0; j <= i; j++)
            listeners->add(j);
        table.put(i * 7, listeners);
    }
    table.put(100, nullptr);
    table.forEach(deleteArrayValue, nullptr);
    EXPECT_EQ(table.getCount(), 11);
    SimpleArray values;
    table.getValues(values);
    EXPECT_EQ(values.getCount(), 0);
}

}  // namespace
}  // namespace LxCore
