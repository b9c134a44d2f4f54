// The collector from native code: the trigger and the host's consent, holds,
// what native holders keep alive, releaseObject, and host code that throws
// out of a sweep.
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "script/engine/Property.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

// Counts the collections the engine asks for; refuses when told to.
class ConsentCounter : public Callback {
public:
    bool garbageCollecting(Engine& engine) override {
        asked++;
        i32 depth = 0;
        for (RuntimeEnv* f = static_cast<RealEngine&>(engine).getCurrentFrame(); f; f = f->previous)
            depth++;
        deepest = std::max(deepest, depth);
        return consent;
    }
    i32 asked = 0;
    i32 deepest = 0;        // frames running at the deepest ask
    bool consent = true;
};

class CollectorTest : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        engine->setCallback(&hooks);
        engine->collectGarbage();
        hooks.asked = 0;
    }
    void TearDown() override {
        held.clear();
        engine->setCallback(nullptr);
        RunTest::TearDown();
    }

    ObjectSpace& space() { return engine->getObjects(); }
    u32 count() { return space().getObjectCount(); }
    // n fresh objects kept by the test.
    void make(i32 n) {
        for (i32 i = 0; i < n; i++)
            held.push_back(ObjectRef::adopt(new Object(space())));
    }
    // Two objects pointing at each other, held by nothing else.
    void makeCycle() {
        ObjectRef a = ObjectRef::adopt(new Object(space()));
        ObjectRef b = ObjectRef::adopt(new Object(space()));
        a->put(sym("other"), Variant(b.get()), 0);
        b->put(sym("other"), Variant(a.get()), 0);
    }

    ConsentCounter hooks;
    std::vector<ObjectRef> held;
};

TEST_F(CollectorTest, MoreThan300NewObjectsTrigger) {
    make(300);
    engine->maybeCollectGarbage();
    EXPECT_EQ(hooks.asked, 0) << "300 new objects do not trigger";
    make(1);
    engine->maybeCollectGarbage();
    EXPECT_EQ(hooks.asked, 1) << "the 301st does";
    engine->maybeCollectGarbage();
    EXPECT_EQ(hooks.asked, 1) << "the baseline moved";
}

TEST_F(CollectorTest, ARefusalKeepsEverythingAndIsAskedAgain) {
    hooks.consent = false;
    const u32 before = count();
    makeCycle();
    make(300);
    engine->maybeCollectGarbage();
    engine->maybeCollectGarbage();
    EXPECT_EQ(hooks.asked, 2);
    EXPECT_EQ(count(), before + 302);
    hooks.consent = true;
    engine->maybeCollectGarbage();
    EXPECT_EQ(hooks.asked, 3);
    EXPECT_EQ(count(), before + 300) << "the cycle goes once the host agrees";
}

TEST_F(CollectorTest, Flag64CollectsAtEveryTriggerUnlessHeld) {
    engine->setRunFlags(RealEngine::kCollectAtEveryTrigger);
    const u32 before = count();
    makeCycle();
    engine->maybeCollectGarbage();
    EXPECT_EQ(hooks.asked, 1);
    EXPECT_EQ(count(), before);
    engine->maybeCollectGarbage();
    EXPECT_EQ(hooks.asked, 2);

    EXPECT_TRUE(engine->holdCollection(true));
    engine->maybeCollectGarbage();
    EXPECT_EQ(hooks.asked, 2) << "a hold stops collections at every trigger";
    make(301);
    engine->maybeCollectGarbage();
    EXPECT_EQ(hooks.asked, 3) << "but not the trigger after 300 new objects";
    EXPECT_FALSE(engine->holdCollection(false));
    EXPECT_FALSE(engine->holdCollection(false)) << "an unmatched release changes nothing";
    engine->maybeCollectGarbage();
    EXPECT_EQ(hooks.asked, 4);
    engine->setRunFlags(0);
}

// A recursion that makes objects on its way down and runs no loop: only the
// trigger at calls sees them before the way back.
TEST_F(CollectorTest, CallsTriggerToo) {
    ASSERT_EQ(run("function down(n) { return n == 0 ? 0 : down(n - 1, [{}, {}, {}, {}, {}, {}, {}]) }"), 0);
    hooks.asked = 0;
    ASSERT_EQ(run("down(120)"), 0);
    EXPECT_GE(hooks.asked, 1);
    EXPECT_GT(hooks.deepest, 40) << "asked deep in the recursion";
}

TEST_F(CollectorTest, HoldsNest) {
    EXPECT_TRUE(engine->holdCollection(true));
    EXPECT_TRUE(engine->holdCollection(true));
    EXPECT_TRUE(engine->holdCollection(false));
    EXPECT_FALSE(engine->holdCollection(false));
    EXPECT_FALSE(engine->isCollectionHeld());
}

// Native holders: a Variant, an error's value, and what they reach.
TEST_F(CollectorTest, WhatNativeCodeHoldsSurvivesWithWhatItReaches) {
    Variant native;
    {
        ObjectRef a = ObjectRef::adopt(new Object(space()));
        ObjectRef b = ObjectRef::adopt(new Object(space()));
        a->put(sym("other"), Variant(b.get()), 0);
        b->put(sym("other"), Variant(a.get()), 0);
        b->put(sym("v"), Variant(7.0), 0);
        native.setObject(a.get());
    }
    {
        Variant thrownValue;
        ASSERT_EQ(run("var t = {x: {y: 8}}; t.x.t = t", &thrownValue), 0);
        Variant t = global("t");
        ASSERT_EQ(run("t = null"), 0);
        engine->setError(54);
        ASSERT_TRUE(engine->attachErrorValue(t));
    }
    for (i32 i = 0; i < 5; i++) {
        makeCycle();
        engine->collectGarbage();
    }
    Variant other, v;
    objectOf(native)->get(sym("other"), other, 0);
    ASSERT_TRUE(objectOf(other));
    objectOf(other)->get(sym("v"), v, 0);
    EXPECT_EQ(v.toNumber(), 7.0);
    // The record's value, read in place (a copy of the list would not share it).
    const Variant* thrown = const_cast<LxCore::ErrorRecord*>(engine->getError().getRecord())->getData();
    ASSERT_TRUE(thrown && objectOf(*thrown));
    Variant x, y;
    objectOf(*thrown)->get(sym("x"), x, 0);
    ASSERT_TRUE(objectOf(x));
    objectOf(x)->get(sym("y"), y, 0);
    EXPECT_EQ(y.toNumber(), 8.0);
}

TEST_F(CollectorTest, ReleaseObjectDropsTheGlobalsReferencesAndSweeps) {
    ASSERT_EQ(run("var a = {}; a.self = a; var b = {keep: a}"), 0);
    const u32 before = count();
    Variant a = global("a");
    engine->releaseObject(a);
    EXPECT_EQ(a.getType(), Variant::kUndefined);
    EXPECT_EQ(global("a").getType(), Variant::kUndefined);
    EXPECT_EQ(count(), before - 1) << "b's own object stays, a goes";

    Variant self;
    self.setObjectReference(u32(kGlobalObjectId), LxCore::String("global"), nullptr);
    const u32 all = count();
    engine->releaseObject(self);
    EXPECT_EQ(count(), all) << "the global object is never let go";
}

// Host code whose clear throws in the middle of a sweep.
class ThrowingNative : public LxCore::NativeData {
public:
    void dispose() override {
        delete this;
        throw std::runtime_error("host");
    }
};

TEST_F(CollectorTest, AHostClearThatThrowsLeavesLaterReleasesDestroying) {
    const u32 before = count();
    {
        ObjectRef a = ObjectRef::adopt(new Object(space()));
        ObjectRef b = ObjectRef::adopt(new Object(space()));
        a->put(sym("other"), Variant(b.get()), 0);
        b->put(sym("other"), Variant(a.get()), 0);
        a->setNativeData(new ThrowingNative);
    }
    EXPECT_THROW(engine->collectGarbage(), std::runtime_error);
    EXPECT_FALSE(space().isCollecting());
    EXPECT_FALSE(engine->isCollectionHeld());
    {
        ObjectRef::adopt(new Object(space()));
    }
    engine->collectGarbage();
    EXPECT_EQ(count(), before) << "releases destroy again and the next sweep ends the rest";
}

}  // namespace
}  // namespace LxScript
