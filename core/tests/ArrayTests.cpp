#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "core/Array.h"
#include "core/Heap.h"
#include "core/InitTerm.h"
#include "core/String.h"
#include "core/ThreadData.h"
#include "core/Variant.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"

namespace LxCore {

struct ArrayProbe {
    static ArrayData* data(const Array& a) { return a.d; }
};

namespace {

constexpr u32 kMax = 0xFFFFFFFF;

ArrayData& dataOf(const Array& a) { return *ArrayProbe::data(a); }
bool inSparse(const Array& a, u32 index) {
    const ArrayData& d = dataOf(a);
    return d.sparse && d.sparse->get(index) != nullptr;
}

std::string ascii(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); i++)
        out += s[i] < 128 ? char(s[i]) : '?';
    return out;
}

std::string textOf(const Array& a) {
    String out("old text");
    a.toString(out);
    return ascii(out);
}

std::string textOf(const Variant* v) { return v ? ascii(v->toString()) : "<missing>"; }

// Elements by name: "u" undefined, "null", "true", "NaN", 'text', or a number.
Variant valueOf(const std::string& item) {
    if (item == "u")
        return Variant();
    if (item == "null") {
        Variant v;
        v.setNull();
        return v;
    }
    if (item == "true")
        return Variant(true);
    if (item == "NaN")
        return Variant(std::numeric_limits<f64>::quiet_NaN());
    if (item[0] == '\'')
        return Variant(item.substr(1, item.size() - 2).c_str());
    return Variant(std::stod(item));
}

Array arrayOf(const std::vector<std::string>& items) {
    Array a;
    for (u32 i = 0; i < items.size(); i++)
        a[i] = valueOf(items[i]);
    return a;
}

// Elements 0 .. n-1 set to their index, as a script filling an array would.
Array counting(u32 n) {
    Array a;
    for (u32 i = 0; i < n; i++)
        a[i] = Variant(i32(i));
    return a;
}

class ArrayTest : public ::testing::Test {
protected:
    CoreStarted core;
    // Freed blocks go straight back, where the address sanitizer sees any
    // later use of them.
    ArrayTest() { Heap::setCacheSize(0); }
};

// ---------------------------------------------------------------------------
// Sizing

struct SizingCase {
    u32 length;
    u32 capacity;
    u32 denseLimit;
    u32 used;
    bool sparse;
};

TEST_F(ArrayTest, NewArraysAreSizedByLength) {
    const SizingCase cases[] = {
        {0, 8, 1024, 0, false},       {1, 8, 1024, 1, false},
        {5, 8, 1024, 5, false},       {8, 8, 1024, 8, false},
        {9, 16, 1024, 9, false},      {1000, 1024, 1024, 1000, false},
        {1025, 2048, 2048, 1025, false}, {4096, 4096, 4096, 4096, false},
        {4097, 16, 16, 16, true},     {kMax, 16, 16, 16, true},
    };
    for (const SizingCase& c : cases) {
        SCOPED_TRACE(c.length);
        Array a(c.length);
        const ArrayData& d = dataOf(a);
        EXPECT_EQ(a.length(), c.length);
        EXPECT_EQ(d.dense->capacity, c.capacity);
        EXPECT_EQ(d.denseLimit, c.denseLimit);
        EXPECT_EQ(d.dense->used, c.used);
        EXPECT_EQ(d.sparse != nullptr, c.sparse);
        if (c.length == 0)
            continue;
        // Small arrays hold undefined elements; the tail of a long one is missing.
        const Variant* last = a.get(c.length - 1);
        EXPECT_EQ(last != nullptr, !c.sparse);
        EXPECT_FALSE(a.has(c.length - 1));
        EXPECT_EQ(a[c.length - 1].getType(), Variant::kUndefined);
        EXPECT_EQ(a.get(c.length), nullptr);
    }
}

TEST_F(ArrayTest, EmptyArraysShareOneData) {
    Array a, b, c(0), d = counting(3);
    EXPECT_EQ(ArrayProbe::data(a), ArrayProbe::data(b));
    EXPECT_EQ(ArrayProbe::data(a), ArrayProbe::data(c));
    d.setLength(0);
    EXPECT_EQ(ArrayProbe::data(d), ArrayProbe::data(a));
    EXPECT_EQ(d.length(), 0u);
}

TEST(ArrayLifecycle, ArraysNeedTheStartedLibrary) {
    ASSERT_FALSE(InitTerm::isInitialized());
    EXPECT_THROW(Array(), std::bad_alloc);
    EXPECT_THROW(Array(3), std::bad_alloc);
}

// ---------------------------------------------------------------------------
// Elements

struct WriteCase {
    u32 index;
    u32 capacity;
    u32 used;
    bool sparse;
};

TEST_F(ArrayTest, WritingAnElementPlacesItByIndex) {
    const WriteCase cases[] = {
        {0, 8, 1, false},
        {20, 32, 21, false},
        {1023, 1024, 1024, false},
        {1024, 8, 0, true},
        {2000, 8, 0, true},
        {kMax - 1, 8, 0, true},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.index);
        Array a;
        a[c.index] = Variant("x");
        EXPECT_EQ(a.length(), c.index + 1);
        EXPECT_EQ(dataOf(a).dense->capacity, c.capacity);
        EXPECT_EQ(dataOf(a).dense->used, c.used);
        EXPECT_EQ(inSparse(a, c.index), c.sparse);
        EXPECT_EQ(textOf(a.get(c.index)), "x");
        EXPECT_TRUE(a.has(c.index));
    }
}

TEST_F(ArrayTest, ElementsBeforeASparseOneAreMissing) {
    Array a;
    a[2000] = Variant(7);
    EXPECT_EQ(a.length(), 2001u);
    EXPECT_TRUE(inSparse(a, 2000));
    const Array& view = a;
    ThreadData::get()->scratchVariant = Variant("left over");
    for (u32 i : {0u, 1u, 1023u, 1024u, 1999u}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a.get(i), nullptr);
        EXPECT_FALSE(a.has(i));
        const Variant& element = view[i];
        EXPECT_EQ(&element, &ThreadData::get()->scratchVariant);
        EXPECT_EQ(element.getType(), Variant::kUndefined);
    }
    EXPECT_EQ(a.length(), 2001u);     // reading made nothing
}

TEST_F(ArrayTest, HasIsFalseForUndefinedElements) {
    Array a = arrayOf({"1", "u", "null", "''"});
    EXPECT_TRUE(a.has(0));
    EXPECT_FALSE(a.has(1));
    EXPECT_NE(a.get(1), nullptr);
    EXPECT_TRUE(a.has(2));
    EXPECT_TRUE(a.has(3));
    EXPECT_FALSE(a.has(4));
}

TEST_F(ArrayTest, CopiesShareDataUntilOneIsWritten) {
    const u32 indexes[] = {0, 2, 7, 1500, 9000};
    for (u32 index : indexes) {
        SCOPED_TRACE(index);
        Array first = counting(5);
        first[1200] = Variant("far");
        Array copy(first);
        EXPECT_EQ(ArrayProbe::data(copy), ArrayProbe::data(first));
        const Array& view = copy;
        EXPECT_EQ(textOf(&view[2]), "2");          // reading does not detach
        EXPECT_EQ(ArrayProbe::data(copy), ArrayProbe::data(first));

        copy[index] = Variant("new");
        EXPECT_NE(ArrayProbe::data(copy), ArrayProbe::data(first));
        EXPECT_EQ(textOf(copy.get(index)), "new");
        EXPECT_EQ(first.length(), 1201u);
        EXPECT_EQ(textOf(first.get(2)), "2");
        EXPECT_EQ(textOf(first.get(1200)), "far");
        EXPECT_EQ(textOf(copy.get(1200)), "far");
        EXPECT_EQ(textOf(first.get(0)), "0");
        EXPECT_EQ(first.get(9000), nullptr);
    }
}

TEST_F(ArrayTest, AssignmentSharesAndSelfAssignmentKeeps) {
    Array a = counting(3), b;
    b = a;
    EXPECT_EQ(ArrayProbe::data(b), ArrayProbe::data(a));
    u32 count = dataOf(a).refCount;
    Array& same = a;
    a = same;
    EXPECT_EQ(dataOf(a).refCount, count);
    b = Array();
    EXPECT_EQ(b.length(), 0u);
    EXPECT_EQ(textOf(a), "0,1,2");
}

// Data that must not be shared is copied whenever a handle takes it, and so
// is data whose 30-bit count is full.
TEST_F(ArrayTest, UnshareableOrFullDataIsCopiedAtOnce) {
    Array a = counting(3);
    dataOf(a).refCount |= 0x40000000;
    Array b(a);
    EXPECT_NE(ArrayProbe::data(b), ArrayProbe::data(a));
    EXPECT_EQ(dataOf(b).refCount, 0x40000001u);
    EXPECT_TRUE(b.equals(a));

    Array c = counting(2);
    u32 saved = dataOf(c).refCount;
    dataOf(c).refCount = 0x3FFFFFFF;
    Array d(c);
    EXPECT_NE(ArrayProbe::data(d), ArrayProbe::data(c));
    EXPECT_EQ(dataOf(d).refCount, 1u);
    dataOf(c).refCount = saved;
}

// ---------------------------------------------------------------------------
// Length

struct LengthCase {
    u32 from;               // elements 0 .. from-1 written one by one
    u32 to;
    u32 used;
    u32 capacity;
    std::vector<u32> present;
    std::vector<u32> missing;
};

TEST_F(ArrayTest, SetLengthGrowsAndShrinks) {
    const LengthCase cases[] = {
        {5, 20, 20, 32, {0, 4, 5, 19}, {20}},
        {5, 2000, 5, 8, {0, 4}, {5, 100, 1999}},
        {5, 2, 2, 8, {0, 1}, {2, 3, 4}},
        {3000, 10, 10, 1024, {0, 9}, {10, 1500, 2999}},
        {5, 5, 5, 8, {0, 4}, {5}},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " to " + std::to_string(c.to));
        Array a = counting(c.from);
        a.setLength(c.to);
        EXPECT_EQ(a.length(), c.to);
        EXPECT_EQ(dataOf(a).dense->used, c.used);
        EXPECT_EQ(dataOf(a).dense->capacity, c.capacity);
        for (u32 i : c.present)
            EXPECT_NE(a.get(i), nullptr) << i;
        for (u32 i : c.missing)
            EXPECT_EQ(a.get(i), nullptr) << i;
    }
}

TEST_F(ArrayTest, ShrinkingDeletesSparseElementsForGood) {
    Array a = counting(3000);
    ASSERT_GT(dataOf(a).sparse->getCount(), 0);
    a.setLength(10);
    EXPECT_EQ(dataOf(a).sparse->getCount(), 0);
    a.setLength(3000);
    for (u32 i : {10u, 500u, 1023u, 1024u, 2999u})
        EXPECT_EQ(a.get(i), nullptr) << i;
    EXPECT_EQ(textOf(a.get(9)), "9");
}

TEST_F(ArrayTest, SetLengthOnSharedDataLeavesTheOtherCopy) {
    Array a = counting(3000);
    Array shorter(a), longer(a);
    shorter.setLength(5);
    longer.setLength(kMax);
    longer[kMax - 1] = Variant(1);
    EXPECT_EQ(a.length(), 3000u);
    EXPECT_EQ(textOf(a.get(2999)), "2999");
    EXPECT_EQ(shorter.length(), 5u);
    EXPECT_EQ(textOf(longer.get(2999)), "2999");
    EXPECT_EQ(a.get(kMax - 1), nullptr);
}

// ---------------------------------------------------------------------------
// Inserting slots

struct InsertCase {
    u32 index;
    u32 count;
    const char* text;
};

TEST_F(ArrayTest, InsertSlotsOpensEmptySlots) {
    const InsertCase cases[] = {
        {0, 2, "undefined,undefined,a,b"},
        {1, 1, "a,undefined,b"},
        {2, 3, "a,b,undefined,undefined,undefined"},
        {7, 2, "a,b,undefined,undefined"},    // past the end only the length grows
        {0, 0, "a,b"},
    };
    for (const InsertCase& c : cases) {
        SCOPED_TRACE(c.text);
        Array a = arrayOf({"'a'", "'b'"});
        a.insertSlots(c.index, c.count);
        EXPECT_EQ(textOf(a), c.text);
        EXPECT_EQ(a.length(), 2 + c.count);
        for (u32 i = c.index; i < c.index + c.count && i < a.length(); i++)
            EXPECT_FALSE(a.has(i)) << i;
    }
}

TEST_F(ArrayTest, InsertSlotsMovesElementsAcrossTheDenseLimit) {
    Array a = counting(1024);
    a[5000] = Variant("far");
    Array before(a);
    a.insertSlots(3, 10);
    EXPECT_EQ(a.length(), 5011u);
    EXPECT_EQ(textOf(a.get(2)), "2");
    for (u32 i = 3; i < 13; i++)
        EXPECT_FALSE(a.has(i)) << i;
    EXPECT_EQ(textOf(a.get(13)), "3");
    EXPECT_EQ(textOf(a.get(1033)), "1023");
    EXPECT_TRUE(inSparse(a, 1033));
    EXPECT_EQ(textOf(a.get(5010)), "far");
    EXPECT_EQ(a.get(5000), nullptr);
    // The copy that shared the data is untouched.
    EXPECT_EQ(before.length(), 5001u);
    EXPECT_EQ(textOf(before.get(3)), "3");
    EXPECT_EQ(textOf(before.get(5000)), "far");
}

TEST_F(ArrayTest, InsertSlotsOnAHugeSparseArrayMovesOnlyItsElements) {
    Array a;
    a[0] = Variant("first");
    a[4000000000u] = Variant("last");
    a.insertSlots(0, 5);
    EXPECT_EQ(a.length(), 4000000006u);
    EXPECT_EQ(textOf(a.get(5)), "first");
    EXPECT_EQ(textOf(a.get(4000000005u)), "last");
    EXPECT_EQ(a.get(4000000000u), nullptr);
}

// ---------------------------------------------------------------------------
// The index limit: no index arithmetic wraps

struct LimitCase {
    const char* name;
    u32 length;             // of a fresh Array(length) with element 0 set
    std::function<void(Array&)> change;
    bool refused;
    u32 lengthAfter;
};

TEST_F(ArrayTest, IndexesStopBelowTheLargestLength) {
    const LimitCase cases[] = {
        {"write at 2^32 - 1", 1, [](Array& a) { a.getOrCreate(kMax); }, true, 1},
        {"write at 2^32 - 2", 1, [](Array& a) { a[kMax - 1] = Variant(1); }, false, kMax},
        {"write past a full array", kMax, [](Array& a) { a[kMax]; }, true, kMax},
        {"insert into a full array", kMax, [](Array& a) { a.insertSlots(0, 1); }, true, kMax},
        {"insert nothing into a full array", kMax, [](Array& a) { a.insertSlots(0, 0); }, false, kMax},
        {"insert at 2^32 - 1", 1, [](Array& a) { a.insertSlots(kMax, 1); }, true, 1},
        {"insert at 2^32 - 2", 1, [](Array& a) { a.insertSlots(kMax - 1, 1); }, false, 2},
        {"length plus count past the limit", 10, [](Array& a) { a.insertSlots(0, kMax - 9); }, true, 10},
        {"length plus count at the limit", 10, [](Array& a) { a.insertSlots(0, kMax - 10); }, false, kMax},
        {"count past the limit at the end", 10, [](Array& a) { a.insertSlots(10, kMax); }, true, 10},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        Array a(c.length);
        a[0] = Variant("zero");
        if (c.refused) {
            EXPECT_THROW(c.change(a), std::bad_alloc);
            EXPECT_EQ(textOf(a.get(0)), "zero");
        } else {
            EXPECT_NO_THROW(c.change(a));
        }
        EXPECT_EQ(a.length(), c.lengthAfter);
    }
}

TEST_F(ArrayTest, TheLastElementMovesToTheLargestIndex) {
    Array a = counting(10);
    a.insertSlots(0, kMax - 10);
    EXPECT_EQ(a.length(), kMax);
    EXPECT_EQ(textOf(a.get(kMax - 1)), "9");
    EXPECT_EQ(textOf(a.get(kMax - 10)), "0");
    EXPECT_FALSE(a.has(0));
}

// ---------------------------------------------------------------------------
// Equality

struct EqualsCase {
    const char* name;
    std::function<Array()> left;
    std::function<Array()> right;
    bool equal;
};

Array sparseWith(u32 index, const char* item) {
    Array a;
    a[index] = valueOf(item);
    return a;
}

TEST_F(ArrayTest, EqualsComparesElementsWithMissingAsUndefined) {
    const EqualsCase cases[] = {
        {"same values", [] { return arrayOf({"1", "'a'", "true"}); },
         [] { return arrayOf({"1", "'a'", "true"}); }, true},
        {"one value differs", [] { return arrayOf({"1", "2"}); }, [] { return arrayOf({"1", "3"}); }, false},
        {"lengths differ", [] { return arrayOf({"1"}); }, [] { return arrayOf({"1", "u"}); }, false},
        {"no conversion", [] { return arrayOf({"1"}); }, [] { return arrayOf({"'1'"}); }, false},
        {"NaN is never equal", [] { return arrayOf({"NaN"}); }, [] { return arrayOf({"NaN"}); }, false},
        {"new undefined elements", [] { return Array(3); }, [] { return arrayOf({"u", "u", "u"}); }, true},
        {"missing against undefined",
         [] { return sparseWith(2000, "1"); },
         [] {
             Array a = sparseWith(2000, "1");
             a[1999] = Variant();
             a[3] = Variant();
             return a;
         },
         true},
        {"sparse values differ", [] { return sparseWith(5000, "1"); }, [] { return sparseWith(5000, "2"); }, false},
        {"an element on one side only",
         [] {
             Array a;
             a.setLength(6001);
             return a;
         },
         [] { return sparseWith(6000, "'x'"); }, false},
        {"huge and empty", [] { return Array(kMax); }, [] { return Array(kMax); }, true},
        {"huge with one element",
         [] { return Array(kMax); },
         [] {
             Array a(kMax);
             a[kMax - 1] = Variant(0);
             return a;
         },
         false},
    };
    for (const EqualsCase& c : cases) {
        SCOPED_TRACE(c.name);
        Array left = c.left(), right = c.right();
        EXPECT_EQ(left.equals(right), c.equal);
        EXPECT_EQ(right.equals(left), c.equal);
    }
}

TEST_F(ArrayTest, ArraysSharingDataAreEqualWhateverTheyHold) {
    Array a = arrayOf({"NaN"});
    Array b(a);
    EXPECT_TRUE(a.equals(b));
}

// ---------------------------------------------------------------------------
// Text

Array repeated(u32 n) {
    Array a;
    for (u32 i = 0; i < n; i++)
        a[i] = Variant(7);
    return a;
}

std::string repeatedText(const std::string& text, u32 n) {
    std::string out;
    for (u32 i = 0; i < n; i++)
        out += text;
    return out;
}

std::string joined(u32 n) { return "7" + repeatedText(",7", n - 1); }

struct TextCase {
    const char* name;
    std::function<Array()> make;
    std::string text;
};

TEST_F(ArrayTest, ToStringJoinsTheElementTexts) {
    const TextCase cases[] = {
        {"empty", [] { return Array(); }, ""},
        {"simple values", [] { return arrayOf({"1", "'a b'", "true", "null", "u", "0.5"}); },
         "1,a b,true,null,undefined,0.5"},
        {"new elements", [] { return Array(3); }, "undefined,undefined,undefined"},
        {"number text", [] { return arrayOf({"0.30000000000000004", "1e21", "-0"}); }, "0.3,1e+21,0"},
        {"missing elements",
         [] {
             Array a(5000);
             a.setLength(18);
             a[0] = Variant(1);
             return a;
         },
         "1" + repeatedText(",undefined", 17)},
        {"a thousand elements", [] { return repeated(1000); }, joined(1000)},
        {"one more", [] { return repeated(1001); }, "[too many elements]"},
        {"huge", [] { return Array(kMax); }, "[too many elements]"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(textOf(c.make()), c.text);
    }
}

// ---------------------------------------------------------------------------
// Exhausted memory changes nothing

struct FailureCase {
    const char* name;
    bool shared;
    std::function<void(Array&)> change;
};

TEST_F(ArrayTest, ExhaustedMemoryLeavesTheArrayAsItWas) {
    const FailureCase cases[] = {
        {"write into shared data", true, [](Array& a) { a[1] = Variant(9); }},
        {"write a new sparse element", false, [](Array& a) { a[7000] = Variant(9); }},
        {"write past the dense block", false, [](Array& a) { a[900] = Variant(9); }},
        {"insert slots", false, [](Array& a) { a.insertSlots(0, 3); }},
        {"grow the dense block", false, [](Array& a) { a.setLength(1000); }},
        {"grow past the dense limit", false, [](Array& a) { a.setLength(2000); }},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestAllocator allocator;
        UsingAllocator use(&allocator);     // resizing asks the block's own allocator
        Array a = counting(20);
        Array other;
        if (c.shared)
            other = a;
        ArrayData* before = ArrayProbe::data(a);
        allocator.failures = 1000000;
        EXPECT_THROW(c.change(a), std::bad_alloc);
        allocator.failures = 0;
        EXPECT_EQ(ArrayProbe::data(a), before);
        EXPECT_EQ(a.length(), 20u);
        EXPECT_EQ(textOf(a.get(1)), "1");
        EXPECT_EQ(textOf(a.get(19)), "19");
        EXPECT_EQ(dataOf(a).sparse, nullptr);
    }
}

}  // namespace
}  // namespace LxCore
