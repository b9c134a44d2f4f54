// Elements that scripts cannot make themselves: a read-only element keeps
// its value under every form of write, as any read-only slot does. And the
// memory an array's elements take, which scripts cannot see.
#include <algorithm>
#include <string>

#include "core/ErrorCodes.h"
#include "script/engine/Property.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

DataPoolId indexId(u32 index) { return DataPoolId(DataPool::kIntegerTag | i32(index)); }

class ElementTest : public RunTest {
protected:
    // a = [1, 2, 3] with a[1] read-only and 20.
    Object* arrayWithReadOnlyElement() {
        EXPECT_EQ(run("var a = [1, 2, 3];"), 0);
        Object* a = objectOf(global("a"));
        EXPECT_NE(a, nullptr);
        EXPECT_NE(a->elementStore(), nullptr);
        a->deleteProperty(indexId(1));
        a->put(indexId(1), Variant(20), kReadOnly);
        return a;
    }

    f64 number(const char* source) {
        Variant result;
        EXPECT_EQ(run(source, &result), 0) << source;
        return result.toNumber();
    }
};

TEST_F(ElementTest, AReadOnlyElementKeepsItsValueUnderEveryWrite) {
    Object* a = arrayWithReadOnlyElement();
    Property* slot = a->findOwnProperty(indexId(1), 0);
    ASSERT_NE(slot, nullptr);
    EXPECT_TRUE(slot->isReadOnly());
    EXPECT_EQ(number("a[1]"), 20);
    EXPECT_EQ(number("a[1] = 5; a[1]"), 20);
    EXPECT_EQ(number("a[1] += 1"), 21);
    EXPECT_EQ(number("a[1]"), 20);
    EXPECT_EQ(number("a[1]++"), 20);
    EXPECT_EQ(number("++a[1]"), 21);
    EXPECT_EQ(number("a[1]"), 20);
    EXPECT_EQ(number("a[0] += 1; a[2]++; a[0] + a[2]"), 6);
}

TEST_F(ElementTest, AReadOnlyElementNamedByEveryKeyForm) {
    arrayWithReadOnlyElement();
    EXPECT_EQ(number("a['1'] = 7; a[1.0] = 8; a[new Number(1)] = 9; a[1]"), 20);
    EXPECT_EQ(number("var i = 1; a[i] *= 3; a[i]"), 20);
}

TEST_F(ElementTest, AReadOnlyElementStaysSoWhereverItIsHeld) {
    ASSERT_EQ(run("var a = []; a[5000] = 1;"), 0);
    Object* a = objectOf(global("a"));
    ASSERT_NE(a, nullptr);
    a->deleteProperty(indexId(5000));
    a->put(indexId(5000), Variant(20), kReadOnly);
    ASSERT_EQ(a->elementStore()->count, 0u) << "held past the store";
    ASSERT_EQ(run("for (var i = 0; i < 5000; i++) a[i] = i; a[5001] = 0;"), 0);
    ASSERT_GT(a->elementStore()->count, 5000u) << "taken into the store";
    EXPECT_EQ(number("a[5000] = 5; a[5000] += 1; a[5000]"), 20);
    ASSERT_EQ(run("for (var i = 0; i < 5000; i++) if (i % 100) delete a[i];"), 0);
    ASSERT_EQ(a->elementStore()->count, 0u) << "given back to the table";
    EXPECT_EQ(number("a[5000] = 5; a[5000]++; a[5000]"), 20);
    EXPECT_EQ(number("a[4900] + a[5001]"), 4900);
}

// The bytes an array's elements take: the store's cells, and the entries
// of the table with their cells.
size_t elementBytes(Object& a) {
    return size_t(a.elementStore()->capacity) * sizeof(SlotCell) +
           size_t(a.slotTable()->size()) * (sizeof(SlotTable::Entry) + sizeof(SlotCell));
}

TEST_F(ElementTest, MemoryFollowsTheElementsHeldNotTheLargestIndex) {
    // a[n] = n for n = 1, 2, 4 ... up to the last: some thirty elements.
    constexpr size_t kFewKilobytes = 32 * 1024;
    const u64 lasts[] = {1u << 24, 2147483646};
    for (const u64 last : lasts) {
        ASSERT_EQ(run("var a = [];"), 0);
        Object* a = objectOf(global("a"));
        ASSERT_NE(a, nullptr);
        u64 n = 1;
        for (; n <= last; n *= 2) {
            const std::string write = "a[" + std::to_string(n) + "] = " + std::to_string(n);
            ASSERT_EQ(run(write.c_str()), 0);
            ASSERT_LE(elementBytes(*a), kFewKilobytes) << "after " << write;
        }
        const std::string check = "a.length == " + std::to_string(n / 2 + 1) + " && a[" + std::to_string(n / 2) +
                                  "] == " + std::to_string(n / 2) + " && !(3 in a)";
        EXPECT_EQ(number(check.c_str()), 1) << check;
    }
}

TEST_F(ElementTest, AStoreLeftMostlyHolesGivesItsRoomBack) {
    ASSERT_EQ(run("var a = []; for (var i = 0; i < 100000; i++) a[i] = i;"), 0);
    Object* a = objectOf(global("a"));
    ASSERT_NE(a, nullptr);
    const size_t full = elementBytes(*a);
    ASSERT_EQ(run("for (var i = 0; i < 100000; i++) if (i % 1000) delete a[i];"), 0);
    EXPECT_LE(elementBytes(*a), full / 10) << "a hundred elements left";
    ASSERT_EQ(run("a.length = 0;"), 0);
    EXPECT_EQ(a->elementStore()->capacity, 0u) << "none left";
}

}  // namespace
}  // namespace LxScript
