// Elements that scripts cannot make themselves: a read-only element keeps
// its value under every form of write, as any read-only slot does.
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

}  // namespace
}  // namespace LxScript
