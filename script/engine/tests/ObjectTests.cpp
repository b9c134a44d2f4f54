#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "core/tests/TestSupport.h"
#include "script/engine/TVContext.h"
#include "script/engine/tests/ObjectFixtures.h"

namespace LxScript {
namespace {

using LxCore::SimpleArray;

void putValue(Object& o, const char* name, const Variant& v) { o.put(sym(name), v, 0); }

// ---- listings ----

TEST_F(ObjectTest, ListingsKeepCreationOrderAndFilter) {
    ObjectRef o = newObject();
    putValue(*o, "a", Variant(1));
    putValue(*o, "b", Variant(2));
    putValue(*o, "c", Variant(3));
    // Three names in one chain: each lookup of the last moves it to the front.
    putValue(*o, "16", Variant(4));
    putValue(*o, "32", Variant(5));
    putValue(*o, "48", Variant(6));
    o->createProperty(sym("hidden"), Variant(7), kDontEnum);
    o->createProperty(sym("fixed"), Variant(8), kReadOnly);
    ObjectRef method = native("m", [](Arguments&) {});
    putValue(*o, "m", Variant(method.get()));

    EXPECT_TRUE(o->deleteProperty(sym("b")));
    putValue(*o, "b", Variant(9));
    for (const char* name : {"48", "32", "16", "48"}) {
        Variant v;
        ASSERT_NE(o->get(sym(name), v, 0), nullptr) << name;
    }

    struct Row {
        u32 filter;
        const char* listed;
    };
    const Row rows[] = {
        {kListForIn, "a c 16 32 48 fixed b"},
        {kListForIn | kListDontEnum, "a c 16 32 48 hidden fixed b __proto__"},
        {kListMethods, "m"},
        {kListReadOnly, "fixed"},
        {kListWritable | kListOwnOnly, "a c 16 32 48 b"},
        {kListMethods | kListReadOnly | kListWritable | kListDontEnum,
         "a c 16 32 48 hidden fixed m b __proto__"},
    };
    for (const Row& row : rows) {
        SimpleArray ids;
        o->getPropertyIDs(ids, row.filter);
        EXPECT_EQ(names(ids), row.listed) << std::hex << row.filter;
    }
    SimpleArray ids;
    o->getIDs(o.get(), ids, kListForIn | kListRemoved);
    EXPECT_EQ(names(ids), "a c 16 32 48 fixed b") << "b was revived in place";
}

TEST_F(ObjectTest, ListingAfterManyRevivalsFollowsLiveSlots) {
    ObjectRef o = newObject();
    putValue(*o, "first", Variant(1));
    for (int i = 0; i < 100000; i++) {
        o->deleteProperty(sym("again"));
        putValue(*o, "again", Variant(i));
    }
    putValue(*o, "last", Variant(2));
    SimpleArray ids;
    o->getPropertyIDs(ids, kListForIn);
    EXPECT_EQ(names(ids), "first again last");
}

TEST_F(ObjectTest, DistinctNamesSetAndDeletedLeaveTheLookupPath) {
    ObjectRef o = newObject();
    char name[16];
    for (int i = 0; i < 20000; i++) {
        std::snprintf(name, sizeof name, "k%d", i);
        putValue(*o, name, Variant(i));
        EXPECT_TRUE(o->deleteProperty(sym(name)));
    }
    u32 onPath = 0;
    o->forEachCell([&](DataPoolId, const SlotCell&) { onPath++; });
    EXPECT_LE(onPath, 17u) << "removed slots are taken off the chains";
    Variant v;
    EXPECT_EQ(o->get(sym("k19999"), v, 0), nullptr);
    o->freeRemovedSlots();
    EXPECT_EQ(o->getRemovedSlotCount(), 0u) << "freed while no script runs";
}

TEST_F(ObjectTest, ObjectListingsFilterAndNameReferrers) {
    ObjectRef a = newObject(), b = newObject(), c = newObject();
    a->setClassID(Sym::kArray);
    a->setNameID(sym("aNameOfMoreThanSixteen"));
    putValue(*b, "x", Variant(a.get()));
    putValue(*b, "y", Variant(a.get()));
    putValue(*c, "z", Variant(a.get()));
    auto line = [](Object& o, const char* rest) {
        char address[16];
        std::snprintf(address, sizeof address, "%08x", unsigned(uintptr_t(&o)));
        return std::string(address) + rest;
    };
    // Ring order is newest first: c, then b.
    const std::string expected = "\nAddress  L Refs Prop Class      Name\n" +
                                 line(*a, "      4    3 Array      aNameOfMoreThanS \n") +
                                 " referenced by:\n" +
                                 line(*c, "      1    0 Object     Object            z\n") +
                                 line(*b, "      1    0 Object     Object            x y\n") + "\n";
    EXPECT_EQ(text(Variant(space().listObjects(LxCore::String("Array")))), expected);
    EXPECT_EQ(text(Variant(space().summarizeObjects(LxCore::String("Array")))), "1");
    EXPECT_EQ(text(Variant(space().summarizeObjects(LxCore::String()))), "\n    2 Object\n    1 Array");
}

// ---- indexes and length ----

TEST_F(ObjectTest, IndexNamesSetTheLength) {
    struct Row {
        std::vector<const char*> put;
        u32 length;
    };
    const Row rows[] = {
        {{"5"}, 6},
        {{"0", "1", "x"}, 2},
        {{"2147483648"}, 2147483649u},
        {{"4294967294"}, 4294967295u},
        {{"4294967295"}, 0},        // not an index: no wrap to 0 either
        {{"07"}, 0},
        {{"-0"}, 1},
    };
    for (const Row& row : rows) {
        ObjectRef a = newObject();
        a->setClassID(Sym::kArray);
        for (const char* n : row.put)
            putValue(*a, n, Variant(1));
        EXPECT_EQ(a->getStoredLength(), row.length) << row.put.front();
    }
}

TEST_F(ObjectTest, ClearingPropertiesRecomputesTheLength) {
    ObjectRef a = newObject();
    a->setClassID(Sym::kArray);
    putValue(*a, "9", Variant(1));
    a->createProperty(sym("3"), Variant(2), kReadOnly);
    a->createProperty(sym("6"), Variant(3), kDontDelete);
    EXPECT_EQ(a->getStoredLength(), 10u);
    a->clearProperties(0);
    EXPECT_EQ(a->getStoredLength(), 7u) << "read-only 3 and don't-delete 6 stay";
    a->clearProperties(2);
    EXPECT_EQ(a->getStoredLength(), 4u) << "only read-only 3 stays";
    SimpleArray ids;
    a->getPropertyIDs(ids, kListForIn | kListDontEnum);
    EXPECT_EQ(names(ids), "3 length __proto__");
}

// ---- holders ----

// The core holds an object by the counts it carries in its first base, which
// starts where the object does: a plain object, an array and a function come
// back whole from a Variant, and a locked holder counts a lock beside the
// reference.
TEST_F(ObjectTest, VariantsHoldEveryKindOfObjectByItsCounts) {
    static_assert(std::is_base_of_v<LxCore::ScriptObject, Object>);
    ObjectRef array = ObjectRef::adopt(Object::make(space(), Sym::kArray));
    const ObjectRef kinds[] = {newObject(), array, native("f", [](Arguments&) {})};
    for (const ObjectRef& o : kinds) {
        ASSERT_TRUE(o);
        EXPECT_EQ(static_cast<void*>(static_cast<LxCore::ScriptObject*>(o.get())), static_cast<void*>(o.get()));
        const u32 references = o->getRefCount();
        {
            Variant held(*o);
            Variant locked;
            locked.setSlotFlags(Variant::kLockedReference);
            locked = held;
            EXPECT_EQ(objectOf(held), o.get());
            EXPECT_EQ(objectOf(locked), o.get());
            EXPECT_EQ(o->getRefCount(), references + 2);
            EXPECT_EQ(o->getInternalCount(), 1u);
        }
        EXPECT_EQ(o->getRefCount(), references);
        EXPECT_EQ(o->getInternalCount(), 0u);
    }
}

// ---- prototypes ----

TEST_F(ObjectTest, PrototypeCyclesAreRefused) {
    ObjectRef a = newObject(), b = newObject(), c = newObject();
    Object* original = c->getPrototype();
    EXPECT_TRUE(a->setPrototype(b.get()));
    EXPECT_TRUE(b->setPrototype(c.get()));
    EXPECT_FALSE(c->setPrototype(a.get()));
    EXPECT_EQ(c->getPrototype(), original);
    EXPECT_FALSE(a->setPrototype(a.get()));
    EXPECT_EQ(a->getPrototype(), b.get());

    Variant v;
    EXPECT_EQ(a->get(sym("missing"), v, 0), nullptr);
    EXPECT_EQ(a->findOperator(15), nullptr);
    SimpleArray ids;
    a->getPropertyIDs(ids, kListForIn);
    EXPECT_EQ(ids.getCount(), 0);
}

TEST_F(ObjectTest, InheritedReadsAndShadowingWrites) {
    ObjectRef proto = newObject(), o = newObject();
    putValue(*proto, "x", Variant(1));
    proto->createProperty(sym("ro"), Variant(2), kReadOnly);
    o->setPrototype(proto.get());
    Variant v;
    EXPECT_NE(o->get(sym("x"), v, 0), nullptr);
    EXPECT_EQ(v.toNumber(), 1);
    putValue(*o, "x", Variant(5));
    EXPECT_EQ(proto->get(sym("x"), v, 0)->getOwner(), proto.get());
    EXPECT_EQ(v.toNumber(), 1) << "the write shadows";
    putValue(*o, "ro", Variant(9));
    o->get(sym("ro"), v, 0);
    EXPECT_EQ(v.toNumber(), 2) << "an inherited read-only slot takes nothing";
    EXPECT_EQ(o->findProperty(sym("ro"), kFindOwn), nullptr);
}

TEST_F(ObjectTest, RefPropertyThroughAPrototypeReadsUndefined) {
    ObjectRef holder = newObject(), o = newObject();
    holder->createRefProperty(sym("0"), 0, 0);
    o->setPrototype(holder.get());
    Variant v(5);
    Property* p = o->get(sym("0"), v, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->getOwner(), holder.get());
    EXPECT_EQ(v.getType(), Variant::kUndefined);
}

TEST_F(ObjectTest, ValidityDoesNotDependOnTheReferenceCount) {
    ObjectRef o = newObject();
    for (int i = 0; i < 1100000; i++)
        o->addRef();
    EXPECT_TRUE(o->isValid());
    for (int i = 0; i < 1100000; i++)
        o->dropRef();
    EXPECT_EQ(o->getRefCount(), 1u);
    o->invalidate();
    EXPECT_FALSE(o->isValid());
    Variant v;
    EXPECT_EQ(o->get(sym("x"), v, 0), nullptr);
    EXPECT_EQ(errorCode(), 45);
}

// ---- default values ----

TEST_F(ObjectTest, DefaultValueTriesBothMethods) {
    static Variant valueOfAnswer, toStringAnswer;
    ObjectRef o = newObject();
    ObjectRef valueOf = native("valueOf", [](Arguments& a) { *a.result = valueOfAnswer; });
    ObjectRef toString = native("toString", [](Arguments& a) { *a.result = toStringAnswer; });
    putValue(*o, "valueOf", Variant(valueOf.get()));
    putValue(*o, "toString", Variant(toString.get()));

    ObjectRef other = newObject();
    struct Row {
        Variant valueOf, toString;
        u8 hint;
        const char* result;     // null: error 23
    };
    const Row rows[] = {
        {Variant(3), Variant("s"), 0, "3"},
        {Variant(3), Variant("s"), 1, "s"},
        {Variant(other.get()), Variant("s"), 0, "s"},
        {Variant(other.get()), Variant(other.get()), 0, nullptr},
    };
    for (const Row& row : rows) {
        engine->clearError();
        valueOfAnswer = row.valueOf;
        toStringAnswer = row.toString;
        Variant result;
        bool ok = o->getDefaultValue(result, row.hint);
        if (row.result) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(text(result), row.result);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(errorCode(), 23);
        }
    }
    valueOfAnswer.clear();
    toStringAnswer.clear();
}

// ---- long chains ----

// Recursion through valueOf: each call asks the same object again.
void recurseValueOf(Arguments& a) {
    Variant again;
    objectOf(*a.thisValue)->getDefaultValue(again, 0);
    *a.result = again;
}

TEST_F(ObjectTest, LongChainsOnASmallStack) {
    constexpr int kLength = 1000000;
    const u32 before = space().getObjectCount();
    LxCore::runOnStack(256 * 1024, [&] {
        const DataPoolId next = sym("next");
        ObjectRef first = newObject();
        Object* last = first.get();
        for (int i = 0; i < kLength; i++) {
            ObjectRef n = newObject();
            last->put(next, Variant(n.get()), 0);
            last = n.get();
        }
        first->mark();
        u32 marked = 0;
        Object* o = space().getRingHead();
        for (u32 n = space().getObjectCount(); n > 0; n--, o = o->ringNextObject()) {
            marked += o->isMarked();
            o->clearMark();
        }
        EXPECT_EQ(marked, u32(kLength + 1));

        ObjectRef keep(last);
        first->dropReferences(last, nullptr);
        EXPECT_EQ(last->getRefCount(), 1u) << "the slot that held it is gone";
        keep = ObjectRef();

        first = ObjectRef();    // the whole chain is released and destroyed
        EXPECT_EQ(space().getObjectCount(), before);

        ObjectRef deep = newObject();
        ObjectRef valueOf = native("valueOf", recurseValueOf);
        putValue(*deep, "valueOf", Variant(valueOf.get()));
        Variant result;
        EXPECT_FALSE(deep->getDefaultValue(result, 0));
        EXPECT_EQ(errorCode(), 27) << "the limit lies inside the thread's stack";
        engine->clearError();
        EXPECT_EQ(TVContext::get().getStackLimit(), 0u) << "the limit is put back";
    });
}

TEST_F(ObjectTest, LongPrototypeChainsOnASmallStack) {
    constexpr int kLength = 1000000;
    const u32 before = space().getObjectCount();
    LxCore::runOnStack(256 * 1024, [&] {
        ObjectRef last = newObject();
        for (int i = 0; i < kLength; i++) {
            ObjectRef n = newObject();
            ASSERT_TRUE(n->setPrototype(last.get()));
            last = n;
        }
        EXPECT_EQ(space().getObjectCount(), before + u32(kLength + 1));
        space().sweep();
        EXPECT_EQ(space().getObjectCount(), before + u32(kLength + 1)) << "held from outside, all stay";
        last = ObjectRef();     // the whole chain is released and destroyed
        EXPECT_EQ(space().getObjectCount(), before);
    });
}

TEST_F(ObjectTest, TeardownDestroysCyclesAndChains) {
    // Held from outside when the engine goes (the first reference of each).
    Object* a = new Object(space());
    Object* b = new Object(space());
    putValue(*a, "b", Variant(b));
    putValue(*b, "a", Variant(a));
    Object* tail = b;
    for (int i = 0; i < 10000; i++) {
        ObjectRef n = newObject();
        putValue(*tail, "next", Variant(n.get()));
        tail = n.get();
    }
    engine.reset();
}

// Chunks of the object heap whose blocks are all free go back to the core
// heap (what a reset leaves behind serves any need then); a block in use
// keeps its chunk.
TEST_F(ObjectTest, WhollyFreeChunksOfTheObjectHeapGoBack) {
    if (LxCore::kSanitizedBuild)
        GTEST_SKIP() << "under the address sanitizer every block is its own";
    constexpr size_t kSize = 232;               // a class few objects use
    constexpr size_t kChunk = 64 * 1024;
    std::vector<void*> blocks;
    for (int i = 0; i < 2000; i++)              // some seven chunks' worth
        blocks.push_back(ObjectHeap::alloc(kSize));
    void* kept = blocks[1000];
    for (void* block : blocks)
        if (block != kept)
            ObjectHeap::free(block, kSize);
    EXPECT_GE(ObjectHeap::releaseFreeChunks(), 4 * kChunk);
    std::memset(kept, 0x5A, kSize);             // its chunk is still there
    ObjectHeap::free(kept, kSize);
    EXPECT_GE(ObjectHeap::releaseFreeChunks(), kChunk);
    EXPECT_EQ(ObjectHeap::releaseFreeChunks(), 0u);
}

// ---- watch handlers ----

struct WatchCall {
    std::string name, old, value;
};
std::vector<WatchCall> watchCalls;
Variant watchAnswer;
bool unwatchInHandler = false;

void watcher(Arguments& a) {
    watchCalls.push_back({text(a.arg(0)), text(a.arg(1)), text(a.arg(2))});
    if (unwatchInHandler)
        objectOf(*a.thisValue)->unwatch(sym("x"));
    *a.result = watchAnswer;
}

TEST_F(ObjectTest, WatchHandlers) {
    ObjectRef handler = native("watcher", watcher, 3);
    ObjectRef second = native("watcher", watcher, 3);
    auto reset = [] {
        watchCalls.clear();
        watchAnswer.clear();
        unwatchInHandler = false;
    };
    auto value = [](Object& o) {
        Variant v;
        o.get(sym("x"), v, 0);
        return text(v);
    };
    const DataPoolId x = sym("x");

    reset();
    ObjectRef o = newObject();
    o->watch(x, handler->asFunction());
    putValue(*o, "x", Variant(5));
    EXPECT_EQ(value(*o), "5") << "undefined keeps the value";
    ASSERT_EQ(watchCalls.size(), 1u) << "a new slot goes through the handler too";
    EXPECT_EQ(watchCalls[0].name, "x");
    EXPECT_EQ(watchCalls[0].value, "5");

    watchAnswer = Variant(7);
    putValue(*o, "x", Variant(6));
    EXPECT_EQ(value(*o), "7");
    EXPECT_EQ(watchCalls.back().old, "5");

    o->unwatch(x);
    watchCalls.clear();
    putValue(*o, "x", Variant(8));
    EXPECT_EQ(value(*o), "8");
    EXPECT_TRUE(watchCalls.empty());
    EXPECT_FALSE(o->findProperty(x, 0)->getAttributes() & kWatched);

    reset();
    o->watch(x, handler->asFunction());
    o->watch(x, second->asFunction());      // replaces the first, which is let go
    putValue(*o, "x", Variant(9));
    EXPECT_EQ(watchCalls.size(), 1u);
    o->unwatch(x);

    reset();
    ObjectRef self = native("watcher", watcher, 3);
    Object* selfPointer = self.get();
    o->watch(x, selfPointer->asFunction());
    self = ObjectRef();     // only the watch holds it now
    unwatchInHandler = true;
    putValue(*o, "x", Variant(10));
    EXPECT_EQ(value(*o), "10");
    EXPECT_EQ(watchCalls.size(), 1u);
    putValue(*o, "x", Variant(11));
    EXPECT_EQ(watchCalls.size(), 1u) << "unwatched from inside";

    reset();
    ObjectRef proto = newObject(), child = newObject();
    putValue(*proto, "x", Variant(1));
    proto->watch(x, handler->asFunction());
    child->setPrototype(proto.get());
    child->unwatch(x);
    EXPECT_TRUE(proto->findProperty(x, 0)->getAttributes() & kWatched);
    putValue(*proto, "x", Variant(2));
    EXPECT_EQ(watchCalls.size(), 1u) << "the prototype's watch stays";
    reset();
}

}  // namespace
}  // namespace LxScript
