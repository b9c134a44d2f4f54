// The slot stack hands out blocks in strict nesting and keeps its chunks.
#include "script/engine/SlotStack.h"

#include "core/InitTerm.h"

#include <gtest/gtest.h>

namespace LxScript {
namespace {

// Chunks come from the core's heap.
class SlotStackTest : public ::testing::Test {
protected:
    void SetUp() override { LxCore::InitTerm::init(); }
    void TearDown() override { LxCore::InitTerm::exit(); }
};

// An empty block taken before any chunk exists (a call without arguments
// at the outermost level) must give back to the start, not lose the chunks.
TEST_F(SlotStackTest, AnEmptyFirstBlockGivesBackToTheStart) {
    SlotStack stack;
    Variant* none = stack.take(0);
    Variant* slots = stack.take(5);
    slots[0].setNumber(1);
    Variant* inner = stack.take(3);
    stack.giveBack(inner, 3);
    stack.giveBack(slots, 5);
    stack.giveBack(none, 0);
    Variant* again = stack.take(5);
    EXPECT_EQ(again, slots) << "the first chunk is taken again";
    EXPECT_EQ(again[0].getType(), Variant::kUndefined);
    // A block larger than a chunk goes after the first one, and giving both
    // back returns to the first chunk's start.
    Variant* large = stack.take(3000);
    stack.giveBack(large, 3000);
    stack.giveBack(again, 5);
    EXPECT_EQ(stack.take(5), slots);
}

// Blocks that do not fit move to the next chunk and come back in order;
// a block larger than a chunk gets one of its own size.
TEST_F(SlotStackTest, BlocksAcrossChunksComeBackInOrder) {
    SlotStack stack;
    Variant* first = stack.take(2000);
    Variant* second = stack.take(100);
    Variant* large = stack.take(5000);
    large[4999].setNumber(2);
    stack.giveBack(large, 5000);
    stack.giveBack(second, 100);
    Variant* again = stack.take(100);
    EXPECT_EQ(again, second) << "the second chunk is kept";
    stack.giveBack(again, 100);
    stack.giveBack(first, 2000);
    EXPECT_EQ(stack.take(1), first);
}

}  // namespace
}  // namespace LxScript
