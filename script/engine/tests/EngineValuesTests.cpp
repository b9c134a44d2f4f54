// The engine's value services for native code, and scheduled tasks (scripts
// cannot schedule, so tasks are tested from here).
#include <cmath>
#include <vector>

#include "core/Dictionary.h"
#include "core/LiveObject.h"
#include "core/LivePropertyManager.h"
#include "core/Point.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

u32 fakeMs = 0;
u32 fakeClock() { return fakeMs; }

class ValuesTest : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        fakeMs = 1000 * 50;
        LxCore::setTickSourceForTests(fakeClock);
    }
    void TearDown() override {
        engine->clearTasks();
        RunTest::TearDown();
    }
    void advanceTicks(u32 ticks) { fakeMs += ticks * 50; }
    // Native functions on the global object for the tasks to call.
    template <class Fn>
    void define(const char* name, Fn fn) {
        class Native : public Function {
        public:
            Native(ObjectSpace& space, DataPoolId name, Fn fn) : Function(space, name), fn(fn) {}
            void call(Object*, const LxCore::BasicArray& args, Variant& result) override { fn(args, result); }
            Fn fn;
        };
        ObjectRef f = ObjectRef::adopt(new Native(engine->getObjects(), sym(name), fn));
        engine->getGlobalObject()->put(sym(name), Variant(f.get()), 0);
    }
    double number(const char* name) { return global(name).toNumber(); }
};

TEST_F(ValuesTest, NativeValuesImportAsScriptForms) {
    Variant point;
    {
        LxCore::Array xy;
        xy.getOrCreate(0).setNumber(3);
        xy.getOrCreate(1).setNumber(4);
        point.setArray(xy);
        point.convertTo(Variant::kPoint);
    }
    ASSERT_EQ(point.getType(), Variant::kPoint);
    engine->importValue(point, true);
    ASSERT_TRUE(objectOf(point));
    EXPECT_EQ(objectOf(point)->getLength(), 2u);
    Variant y;
    objectOf(point)->get(sym("1"), y, 0);
    EXPECT_EQ(y.toNumber(), 4.0);

    Variant kept = Variant();
    kept.setArray(LxCore::Array(3));
    engine->setDebugFlags(0x40000000);
    engine->importValue(kept, true);
    EXPECT_EQ(kept.getType(), Variant::kArray) << "flag 0x40000000 keeps native values";
    engine->setDebugFlags(0);
}

const LxCore::LivePropertyInfo kShapeRows[] = {
    {"x", 1, 0x62, "number\tAcross."},
    {nullptr, 0, 0, nullptr},
};

// An unbound "Dictionary" reference carrying a dictionary is made again as
// a Dictionary object over it, with the reference's id.
TEST_F(ValuesTest, ADictionaryReferenceImportsAsADictionaryObject) {
    auto* dictionary = new LxCore::Dictionary(LxCore::kScriptClient);
    dictionary->setName(LxCore::String("Shapes"));
    dictionary->addClass(kShapeRows, "Geometry", "Shape");
    ASSERT_TRUE(LxCore::Dictionary::registerDictionary(dictionary));
    Variant reference;
    reference.setObjectReference(12, LxCore::String("Dictionary"), dictionary);
    ASSERT_TRUE(engine->toObject(reference, true));
    Object* made = objectOf(reference);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->getObjectID(), 12);
    engine->getGlobalObject()->put(sym("d"), reference, 0);
    Variant groups;
    ASSERT_EQ(run("d.getGroups()[0] + ' ' + d.getClasses('Geometry')[0] + ' ' + (d instanceof Dictionary)", &groups), 0);
    EXPECT_EQ(text(groups), "Geometry Shape true");
    // Other data it carries is no dictionary: an empty one.
    LxCore::RefcountablePtr other(new LxCore::Refcountable);
    Variant unknown;
    unknown.setObjectReference(13, LxCore::String("Dictionary"), other.get());
    ASSERT_TRUE(engine->toObject(unknown, true));
    engine->getGlobalObject()->put(sym("e"), unknown, 0);
    ASSERT_EQ(run("(e instanceof Dictionary) + ' ' + typeof e.getGroups()", &groups), 0);
    EXPECT_EQ(text(groups), "true undefined");
    ASSERT_EQ(run("d = e = null"), 0);
    reference.clear();
    unknown.clear();
    engine->collectGarbage();
    LxCore::Dictionary::unregisterDictionary(dictionary);
    delete dictionary;
}

// A reference whose id names an object that wraps another live object than
// the one the reference carries is stale: -33, and nothing is made.
TEST_F(ValuesTest, AStaleLiveReferenceIsAnInternalError) {
    LxCore::RefcountablePtr first(new LxCore::LiveObject("Widget", false));
    LxCore::RefcountablePtr second(new LxCore::LiveObject("Widget", false));
    auto* firstLive = static_cast<LxCore::LiveObject*>(first.get());
    auto* secondLive = static_cast<LxCore::LiveObject*>(second.get());
    Variant wrapped;
    wrapped.setLiveObject(*firstLive, 0);
    engine->importValue(wrapped, true);
    ASSERT_TRUE(objectOf(wrapped));
    objectOf(wrapped)->setObjectID(40);
    LxCore::String className;
    objectOf(wrapped)->getClassName(className);

    Variant same;
    same.setObjectReference(40, className, firstLive);
    EXPECT_EQ(engine->resolveObject(same), objectOf(wrapped));
    Variant byId;
    byId.setObjectReference(40, className, nullptr);
    EXPECT_EQ(engine->resolveObject(byId), objectOf(wrapped));
    EXPECT_EQ(engine->getError().getCode(), 0);

    Variant stale;
    stale.setObjectReference(40, className, secondLive);
    EXPECT_EQ(engine->resolveObject(stale), nullptr);
    EXPECT_EQ(engine->getError().getCode(), -33);
    engine->clearError();
    engine->importValue(stale, true);
    EXPECT_EQ(stale.getType(), Variant::kUndefined) << "never left naming nothing";
    engine->clearError();
}

TEST_F(ValuesTest, CallMethodNeedsAnObjectAndAFunction) {
    ASSERT_EQ(run("var o = {n: 5, twice: function (x) { return 2 * x; }}"), 0);
    LxCore::Array args;
    args.getOrCreate(0).setNumber(21);
    Variant result;
    EXPECT_TRUE(engine->callMethod(global("o"), LxCore::String("twice"), args, &result, 0));
    EXPECT_EQ(result.toNumber(), 42.0);
    struct Row {
        Variant target;
        const char* name;
        i32 code;
    };
    const Row rows[] = {{global("o"), "n", 24}, {Variant(5.0), "twice", 21}, {global("o"), "none", 24}};
    for (const Row& row : rows) {
        engine->clearError();
        EXPECT_FALSE(engine->callMethod(row.target, LxCore::String(row.name), args, &result, 0));
        EXPECT_EQ(engine->getError().getCode(), row.code) << row.name;
    }
}

TEST_F(ValuesTest, PropertiesAndFunctionsFromNativeCode) {
    ASSERT_EQ(run("var o = {a: 1}; function add(x, y) { return x + y + this.a; }"), 0);
    Variant value;
    EXPECT_TRUE(engine->putProperty(global("o"), Variant("b"), Variant(2.0), 0));
    EXPECT_TRUE(engine->getProperty(global("o"), Variant("b"), &value, 0));
    EXPECT_EQ(value.toNumber(), 2.0);
    LxCore::Array args;
    args.getOrCreate(0).setNumber(3);
    args.getOrCreate(1).setNumber(4);
    Variant self = global("o");
    EXPECT_TRUE(engine->callFunction(global("add"), args, &value, 0, &self));
    EXPECT_EQ(value.toNumber(), 8.0);
    Variant notObject(1.0);
    EXPECT_FALSE(engine->callFunction(global("add"), args, &value, 0, &notObject));
    EXPECT_EQ(engine->getError().getCode(), 21);
}

// Elements at the top of the index range: no wrap, no four billion lookups.
TEST_F(ValuesTest, ElementsOfASparseRangeEndAtTheLength) {
    ASSERT_EQ(run("var a = {}; a[4294967293] = 'x'; a[5] = 'y'"), 0);
    Object* a = objectOf(global("a"));
    a->setLength(0xFFFFFFFF);
    LxCore::Array out;
    engine->getElements(global("a"), out, 0xFFFFFFF0u, 0x100);
    EXPECT_EQ(out.length(), 15u);
    EXPECT_EQ(out[13].toString(), LxCore::String("x"));
    EXPECT_EQ(out[0].getType(), Variant::kUndefined);
    engine->getElements(global("a"), out, 4, 3);
    EXPECT_EQ(out.length(), 3u);
    EXPECT_EQ(out[1].toString(), LxCore::String("y"));
}

TEST_F(ValuesTest, ProtectsAreCountedPerEngine) {
    ASSERT_EQ(run("var o = {}; o.self = o"), 0);
    Variant o = global("o");
    EXPECT_FALSE(engine->unprotectValue(o)) << "no protect to undo";
    EXPECT_TRUE(engine->protectValue(o));
    ASSERT_EQ(run("o = null"), 0);
    const u32 before = engine->getObjects().getObjectCount();
    engine->collectGarbage();
    EXPECT_EQ(engine->getObjects().getObjectCount(), before) << "a protected object stays";
    EXPECT_TRUE(engine->unprotectValue(o));
    EXPECT_FALSE(engine->unprotectValue(o));
    o.clear();
    engine->collectGarbage();
    EXPECT_EQ(engine->getObjects().getObjectCount(), before - 1);
    EXPECT_FALSE(engine->protectValue(Variant(1.0)));
}

// ---------------------------------------------------------------------------
// Tasks

TEST_F(ValuesTest, DelaysBecomeTicksOfFiftyMilliseconds) {
    struct Row {
        double delay;
        u32 ticks;
    };
    const Row rows[] = {{120, 2}, {0, 0}, {49, 0}, {-1, 10000000}, {NAN, 10000000}, {1e300, 10000000}};
    for (const Row& row : rows) {
        ASSERT_EQ(run("var ran = 0"), 0);
        ASSERT_NE(engine->schedule(LxCore::String("ran++"), row.delay, false), 0u);
        if (row.ticks > 0) {
            advanceTicks(row.ticks - 1);
            engine->runDueTasks();
            EXPECT_EQ(number("ran"), 0) << row.delay;
        }
        advanceTicks(1);
        engine->runDueTasks();
        EXPECT_EQ(number("ran"), 1) << row.delay;
        engine->clearTasks();
    }
}

TEST_F(ValuesTest, OneTaskRunsPerCallTheFirstListed) {
    ASSERT_EQ(run("var order = ''"), 0);
    const u32 first = engine->schedule(LxCore::String("order += 'a'"), 0, false);
    const u32 second = engine->schedule(LxCore::String("order += 'b'"), 0, false);
    EXPECT_EQ(second, first + 1);
    engine->runDueTasks();
    EXPECT_EQ(global("order").toString(), LxCore::String("a"));
    engine->runDueTasks();
    engine->runDueTasks();
    EXPECT_EQ(global("order").toString(), LxCore::String("ab"));
    EXPECT_EQ(engine->schedule(LxCore::String("order +="), 0, false), 0u) << "a compile error makes no task";
}

TEST_F(ValuesTest, ARepeatCountsFromItsStartAndKeepsItsPlace) {
    ASSERT_EQ(run("var ran = 0"), 0);
    define("slow", [this](const LxCore::BasicArray&, Variant&) { advanceTicks(3); });
    engine->schedule(LxCore::String("ran++; slow()"), 250, true);    // 5 ticks
    engine->schedule(LxCore::String("ran += 100"), 500, false);
    advanceTicks(5);
    engine->runDueTasks();
    EXPECT_EQ(number("ran"), 1);
    advanceTicks(1);    // the run took 3 ticks: 4 ticks after it began
    engine->runDueTasks();
    EXPECT_EQ(number("ran"), 1) << "not yet: due 5 ticks after the run began";
    advanceTicks(1);
    engine->runDueTasks();
    EXPECT_EQ(number("ran"), 2) << "the repeat runs first: it keeps its place";
    engine->runDueTasks();
    EXPECT_EQ(number("ran"), 102);
}

TEST_F(ValuesTest, ATaskThatCancelsItselfIsFreedOnce) {
    u32 id = 0;
    define("cancelMe", [&](const LxCore::BasicArray&, Variant&) { engine->cancelTask(id); });
    ASSERT_EQ(run("var ran = 0"), 0);
    id = engine->schedule(LxCore::String("ran++; cancelMe()"), 0, false);
    engine->runDueTasks();
    engine->runDueTasks();
    EXPECT_EQ(number("ran"), 1);
    id = engine->schedule(LxCore::String("ran++; cancelMe()"), 0, true);
    engine->runDueTasks();
    engine->runDueTasks();
    EXPECT_EQ(number("ran"), 2) << "a cancelled repeat runs no more";
}

TEST_F(ValuesTest, WhatATaskHoldsSurvivesCollections) {
    ASSERT_EQ(run("var seen = 0"), 0);
    LxCore::Array args;
    {
        Variant made;
        ASSERT_EQ(run("var t = {v: {w: 7}}; t.v.back = t; t", &made), 0);
        args.getOrCreate(0) = global("t");
        ASSERT_EQ(run("t = null"), 0);
    }
    Variant result;
    ASSERT_NE(engine->scheduleTask(LxCore::String("seen = 1"), 0, false, &args, &result), 0u);
    for (i32 i = 0; i < 5; i++) {
        ASSERT_EQ(run("for (var i = 0; i < 400; i++) { var a = {}; a.a = a; }"), 0);
        engine->collectGarbage();
    }
    Variant v, w;
    objectOf(args[0])->get(sym("v"), v, 0);
    ASSERT_TRUE(objectOf(v));
    objectOf(v)->get(sym("w"), w, 0);
    EXPECT_EQ(w.toNumber(), 7.0);
    engine->runDueTasks();
    EXPECT_EQ(engine->getError().getCode(), 0);
    EXPECT_EQ(number("seen"), 1);
}

TEST_F(ValuesTest, APendingErrorClearsTheTasks) {
    ASSERT_EQ(run("var ran = 0"), 0);
    engine->schedule(LxCore::String("ran++"), 0, false);
    engine->setError(1);
    engine->runDueTasks();
    engine->clearError();
    engine->runDueTasks();
    EXPECT_EQ(number("ran"), 0);
}

}  // namespace
}  // namespace LxScript
