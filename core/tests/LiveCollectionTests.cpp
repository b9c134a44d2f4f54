#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/LiveCollection.h"
#include "core/tests/LiveTestSupport.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class LiveCollectionTest : public ::testing::Test {
protected:
    CoreStarted core;
};

class FnListener : public Listener {
public:
    std::function<bool(LiveMessage&)> fn;
    bool onMessage(Message& message) override { return fn(static_cast<LiveMessage&>(message)); }
};

// Serves three items, each its index times ten.
class ItemProvider : public LiveComponent {
public:
    bool providesItems() override { return true; }
    i32 getLength(LiveObject&, u32& length) override {
        length = 3;
        return 0;
    }
    i32 getItem(LiveObject&, u32 index, Variant& result, Error*) override {
        if (index >= 3)
            return 41;
        result = Variant(i32(index * 10));
        return 0;
    }
};

TEST_F(LiveCollectionTest, WithoutProviderOrListenersItHasNothing) {
    Held<LiveCollection> bag(new LiveCollection(nullptr, 0, false));
    EXPECT_EQ(text(bag->getClassName()), "Collection");
    EXPECT_GE(bag->getLengthId(), kFirstSerialId);
    u32 length = 9;
    EXPECT_EQ(bag->getLength(length), 0);
    EXPECT_EQ(length, 0u);
    Error error;
    Variant item;
    EXPECT_EQ(bag->getItem(7, item, &error), 41);
    EXPECT_EQ(messageOf(error), "[7] is out of range");
    EXPECT_EQ(bag->putItem(7, Variant(1), nullptr), 41);
    EXPECT_EQ(bag->removeItem(7), 41);

    // setLength succeeds and writes the collection back into its container.
    Held<LiveObject> holder(new LiveObject("Holder", true));
    holder->addProperty(String("bag"), 1, 2);
    bag->setContainer(holder.get(), 1);
    EXPECT_EQ(bag->setLength(4), 0);
    Variant held;
    holder->get(1, held, nullptr);
    EXPECT_EQ(held.getLiveObject(), bag.get());

    // The provider serves, with the collection as object.
    Held<ItemProvider> provider(new ItemProvider);
    bag->addComponent(*provider);
    EXPECT_EQ(bag->getLength(length), 0);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(bag->getItem(2, item, nullptr), 0);
    EXPECT_EQ(item.toNumber(), 20);
    EXPECT_EQ(bag->get(bag->getLengthId(), item, nullptr), 0);
    EXPECT_EQ(item.toNumber(), 3);
}

TEST_F(LiveCollectionTest, TheLengthMemberByNameKindAndListing) {
    Held<LiveCollection> fixed(new LiveCollection("List", 0x6C656E67, true));
    Held<LiveCollection> open(new LiveCollection("List", 0, false));
    i32 id;
    u32 kind;
    EXPECT_EQ(fixed->findProperty(String("LENGTH"), id, kind, kCaseBlindClient), 0);
    EXPECT_EQ(id, 0x6C656E67);
    EXPECT_EQ(kind, kKindReadOnly);
    EXPECT_EQ(fixed->findProperty(String("LENGTH"), id, kind, kScriptClient), 2);
    EXPECT_EQ(open->findProperty(String("length"), id, kind, kScriptClient), 0);
    EXPECT_EQ(kind, kKindReadWrite);
    String name;
    fixed->getPropertyName(0x6C656E67, name, 0x40000);
    EXPECT_EQ(text(name), "Length");
    fixed->getPropertyName(0x6C656E67, name, 0x50000);
    EXPECT_EQ(text(name), "length");
    SimpleArray ids;
    fixed->getPropertyIDs(ids, kListReadWrite);
    EXPECT_EQ(ids.getCount(), 0);
    fixed->getPropertyIDs(ids, kListReadOnly);
    EXPECT_EQ(ids.getCount(), 1);
    EXPECT_EQ(fixed->putItem(0, Variant(1), nullptr), 46);
    EXPECT_EQ(fixed->setLength(2), 46);
    EXPECT_EQ(fixed->put(0x6C656E67, Variant(2), nullptr), 46);
    EXPECT_EQ(fixed->addProperty(String("x"), 1, 2), 55);
}

TEST_F(LiveCollectionTest, ListenersAnswerItemRequests) {
    Held<LiveCollection> bag(new LiveCollection("Bag", 0, false));
    FnListener listener;
    std::string heard;
    listener.fn = [&](LiveMessage& ask) {
        heard += std::to_string(ask.id) + ";";
        if (ask.getId() == kMsgGetLength)
            ask.getData()->setInt(5);
        return true;
    };
    // Only removals are answered: puts find nobody.
    bag->addListener(&listener, kMsgRemoveItem);
    EXPECT_EQ(bag->removeItem(4), 0);
    EXPECT_EQ(bag->putItem(4, Variant(1), nullptr), 41);
    bag->addListener(&listener, kMsgGetLength);
    u32 length;
    EXPECT_EQ(bag->getLength(length), 0);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(heard, "4;0;");
    bag->removeListener(&listener, Broadcaster::kAllIds);
}

TEST_F(LiveCollectionTest, LiveArraysKeepTheirItems) {
    Array initial;
    initial.getOrCreate(0) = Variant(5);
    Held<LiveArray> array(new LiveArray(initial, "Array", 0, false));
    EXPECT_EQ(array->putItem(10, Variant(1), nullptr), 0);
    u32 length;
    array->getLength(length);
    EXPECT_EQ(length, 11u);
    EXPECT_EQ(initial.length(), 1u);        // the given array is not changed
    Error error;
    EXPECT_EQ(array->putItem(0xFFFFFFFF, Variant(1), &error), 41);
    EXPECT_EQ(messageOf(error), "[4294967295] is out of range");
    array->getLength(length);
    EXPECT_EQ(length, 11u);
    Variant item;
    EXPECT_EQ(array->getItem(3, item, nullptr), 0);
    EXPECT_EQ(item.getType(), Variant::kUndefined);
    EXPECT_EQ(static_cast<Array*>(array->getInterface(kArrayItemsInterface))->length(), 11u);
    EXPECT_EQ(array->getInterface(kArrayObjectInterface), array.get());
    EXPECT_EQ(array->getInterface(kCollectionInterface), array.get());
    array->reset();
    array->getLength(length);
    EXPECT_EQ(length, 0u);
}

TEST_F(LiveCollectionTest, TextsOfLiveArrays) {
    String out;
    Array many(1001);
    Held<LiveArray> big(new LiveArray(many, "Array", 0, false));
    big->toString(out);
    EXPECT_EQ(text(out), "[too many elements]");

    Held<LiveArray> gaps(new LiveArray(Array(), "Array", 0, false));
    gaps->putItem(0, Variant(1), nullptr);
    gaps->putItem(2, Variant(3), nullptr);
    gaps->toString(out);
    EXPECT_EQ(text(out), "1,,3");

    // Itself as an item, and A in B in A: each array printing shows as an object.
    Held<LiveArray> self(new LiveArray(Array(), "Array", 0, false));
    self->putItem(0, Variant(5), nullptr);
    Variant selfValue(*self, 0);
    self->putItem(1, selfValue, nullptr);
    self->toString(out);
    EXPECT_EQ(text(out), "5,[object Array]");
    Held<LiveArray> a(new LiveArray(Array(), "A", 0, false));
    Held<LiveArray> b(new LiveArray(Array(), "B", 0, false));
    a->putItem(0, Variant(*b, 0), nullptr);
    b->putItem(0, Variant(*a, 0), nullptr);
    a->toString(out);
    EXPECT_EQ(text(out), "[object A]");
    b->toString(out);
    EXPECT_EQ(text(out), "[object B]");
    // Cycles would keep each other: broken by hand.
    self->setLength(0);
    a->setLength(0);
    b->setLength(0);

    Held<LiveArray> broken(new LiveArray(Array(), "Array", 0, false));
    broken->invalidate();
    broken->toString(out);
    EXPECT_EQ(text(out), "[Invalid Object]");
}

// Live arrays nested a hundred thousand deep, with plain arrays between
// them, print without running out of stack and end one after the other.
TEST_F(LiveCollectionTest, DeepNestingPrintsAndFrees) {
    Variant inner(1);
    for (int i = 0; i < 100000; i++) {
        Array items;
        items.getOrCreate(0) = inner;
        if (i % 2) {
            inner.setArray(items);
        } else {
            auto* level = new LiveArray(items, "Level", 0, false);
            inner.setLiveObject(*level, 0);
            level->release();
        }
    }
    String out = inner.toString();
    EXPECT_GT(out.length(), 100);
    EXPECT_LT(out.length(), 10000);
    EXPECT_NE(text(out).find("[object"), std::string::npos);
    inner.clear();

    Variant plain(2);
    for (int i = 0; i < 100000; i++) {
        Array items;
        items.getOrCreate(0) = plain;
        plain.setArray(items);
    }
    EXPECT_NE(text(plain.toString()).find("[object Array]"), std::string::npos);
}

}  // namespace
}  // namespace LxCore
