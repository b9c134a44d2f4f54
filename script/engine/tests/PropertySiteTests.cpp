// Property sites answered from remembered cells: slots read and written in
// place stay in their cells, and a read-only slot in its cell refuses a
// write the way a Property does.
#include "core/ErrorCodes.h"
#include "script/engine/Property.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

namespace Err = LxCore::Err;

class PropertySiteTest : public RunTest {
protected:
    Object* object(const char* name) { return objectOf(global(name)); }

    // The own cell of the name, or null.
    static const SlotCell* cellOf(Object& o, const char* name) {
        const SlotCell* found = nullptr;
        const DataPoolId wanted = sym(name);
        o.forEachCell([&](DataPoolId symbol, const SlotCell& c) {
            if (symbol == wanted)
                found = &c;
        });
        return found;
    }
};

TEST_F(PropertySiteTest, ReadsAndWritesThroughSitesLeaveSlotsInTheirCells) {
    ASSERT_EQ(run("function P(x) { this.x = x; this.y = 0; }"
                  "P.prototype.get = function () { return this.x; };"
                  "function r(o) { return o.x; } function w(o, v) { o.x = v; }"
                  "var o = new P(1), sum = 0;"
                  "for (var i = 0; i < 5; i++) { w(o, i); sum += r(o) + o.get(); }"),
              0);
    EXPECT_EQ(text(global("sum")), "20");
    Object* o = object("o");
    ASSERT_NE(o, nullptr);
    const SlotCell* x = cellOf(*o, "x");
    ASSERT_NE(x, nullptr);
    EXPECT_FALSE(x->isSlot());
    EXPECT_EQ(x->kind, SlotCell::kNumber);
    EXPECT_EQ(x->number, 4);
    EXPECT_EQ(x->state, kStateWritten);
    const SlotCell* y = cellOf(*o, "y");
    ASSERT_NE(y, nullptr);
    EXPECT_FALSE(y->isSlot());
}

TEST_F(PropertySiteTest, AReadOnlySlotInItsCellKeepsItsValue) {
    ASSERT_EQ(run("var o = {}; function w(o, v) { o.ro = v; return o.ro; }"), 0);
    Object* o = object("o");
    ASSERT_NE(o, nullptr);
    o->put(sym("ro"), Variant(1.0), kPutDefine | kReadOnly);
    const SlotCell* ro = cellOf(*o, "ro");
    ASSERT_NE(ro, nullptr);
    ASSERT_FALSE(ro->isSlot());
    Variant result;
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(run("w(o, 5)", &result), 0);
        EXPECT_EQ(text(result), "1");
    }
    // Strict mode reports the write.
    EXPECT_EQ(run("$.strict = true; w(o, 6);"), Err::kReadOnly);
    engine->clearError();
    ASSERT_EQ(run("$.strict = false; o.ro", &result), 0);
    EXPECT_EQ(text(result), "1");
}

TEST_F(PropertySiteTest, ASlotWrittenThroughASiteIsWatchedOnceAWatchIsSet) {
    ASSERT_EQ(run("var o = {}, seen = 0; o.x = 0;"
                  "function w(o, v) { o.x = v; }"
                  "w(o, 1); w(o, 2);"
                  "o.watch('x', function (n, a, b) { seen++; return b; });"
                  "w(o, 3); w(o, 4); o.unwatch('x'); w(o, 5);"),
              0);
    EXPECT_EQ(text(global("seen")), "2");
    Variant result;
    ASSERT_EQ(run("o.x", &result), 0);
    EXPECT_EQ(text(result), "5");
}

// With the general-paths switch no site remembers anything (property,
// name and add sites alike) and the answers are the same; without it the
// same script fills those caches.
TEST_F(PropertySiteTest, TheGeneralSwitchLeavesEverySiteCacheEmpty) {
    const char* source =
        "function P(x) { this.x = x; this.y = x; } P.prototype.get = function () { return this.x; };"
        "var g = 0, a = [1, 2, 3];"
        "function f() { var s = 0; for (var i = 0; i < 20; i++) {"
        " var o = new P(i); s += o.get() + o.y + a[i % 3] + g; g++; a[i % 3] += 1; } return s; }"
        "f() + ',' + a";
    Variant fast, general;
    ASSERT_EQ(run(source, &fast), 0);
    EXPECT_GT(engine->getCacheFills(), 0u);
    TearDown();
    SetUp();
    engine->setGeneralPaths(true);
    ASSERT_EQ(run(source, &general), 0);
    EXPECT_EQ(engine->getCacheFills(), 0u);
    EXPECT_EQ(text(general), text(fast));
}

}  // namespace
}  // namespace LxScript
