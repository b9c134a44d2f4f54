// Copies, moves and releases of held values: after each, every script
// object's counts are those of its holders, whether the counts are reached
// through the table's call or at its offset.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/Point.h"
#include "core/String.h"
#include "core/Variant.h"
#include "core/tests/FakeScriptObjects.h"
#include "core/tests/TestSupport.h"

using namespace LxCore;

namespace {

constexpr u32 kMark = 0x40000000;  // the collector's bit in the lock word

enum Kind { kUndefinedValue, kNumberValue, kStringValue, kObjectA, kObjectB, kReference, kRectValue };
constexpr Kind kKinds[] = {kUndefinedValue, kNumberValue, kStringValue, kObjectA,
                           kObjectB,        kReference,   kRectValue};

bool holdsSomething(Kind k) { return k != kUndefinedValue && k != kNumberValue; }

std::string ascii(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); ++i) out += s[i] < 128 ? char(s[i]) : '?';
    return out;
}

class VariantCopyTest : public ::testing::Test {
protected:
    CoreStarted core;
    FakeScriptObjects hooks;
    FakeObject a, b;

    void SetUp() override {
        a.className = "A";
        b.className = "B";
        a.counts.locks = kMark;  // a marked object keeps its mark through every change
    }

    void make(Variant& v, Kind k) {
        switch (k) {
            case kUndefinedValue: v.clear(); break;
            case kNumberValue: v.setNumber(3.5); break;
            case kStringValue: v.setString("text"); break;
            case kObjectA: v.setObject(a.handle()); break;
            case kObjectB: v.setObject(b.handle()); break;
            case kReference: v.setObjectReference(9, String("Layer"), nullptr); break;
            case kRectValue: v.setRect(Rect(1, 2, 3, 4)); break;
        }
    }

    // The value as the tests compare it: its type and what it shows.
    std::string describe(const Variant& v) {
        std::string kind = std::to_string(v.getType()) + ":";
        if (v.getType() == Variant::kScriptObject && v.getObject())
            return kind + (v.getObject() == &a.handle() ? "A" : v.getObject() == &b.handle() ? "B" : "?");
        return kind + ascii(*Variant::asString(v));
    }

    // Each object's counts are its maker's reference and those of the
    // Variants that hold it, locks for the locked ones.
    void expectCountsOf(const std::vector<const Variant*>& holders, const std::string& what) {
        for (FakeObject* o : {&a, &b}) {
            u32 references = 1, locks = 0;
            for (const Variant* v : holders)
                if (v->getObject() == &o->handle()) {
                    ++references;
                    if (v->getFlags() & Variant::kLockedReference) ++locks;
                }
            EXPECT_EQ(o->counts.references, references) << ascii(o->className) << " " << what;
            EXPECT_EQ(o->counts.locks & kLockCountMask, locks) << what;
            EXPECT_EQ(o->finalized, 0) << what;
        }
        EXPECT_EQ(a.counts.locks & kMark, kMark) << what;
    }
};

enum Op { kCopy, kMove, kMoveConstruct, kSelfCopy, kSelfMove, kSetObject, kSetNull };
constexpr Op kOps[] = {kCopy, kMove, kMoveConstruct, kSelfCopy, kSelfMove, kSetObject, kSetNull};

// Every kind over every kind, locked or not on either side, by each way a
// value changes.
TEST_F(VariantCopyTest, EveryChangeKeepsTheCountsOfTheHolders) {
    for (Kind to : kKinds)
        for (Kind from : kKinds)
            for (u16 toSlot : {u16(0), Variant::kLockedReference})
                for (u16 fromSlot : {u16(0), Variant::kLockedReference})
                    for (Op op : kOps) {
                        const std::string what = "op " + std::to_string(op) + " from " + std::to_string(from) +
                                                 "/" + std::to_string(fromSlot) + " to " + std::to_string(to) +
                                                 "/" + std::to_string(toSlot);
                        {
                            Variant dest, source;
                            dest.setSlotFlags(toSlot);
                            source.setSlotFlags(fromSlot);
                            make(dest, to);
                            make(source, from);
                            const std::string destWas = describe(dest), sourceWas = describe(source);
                            Variant made;
                            Variant& alias = dest;
                            switch (op) {
                                case kCopy:
                                    dest = source;
                                    EXPECT_EQ(describe(dest), sourceWas) << what;
                                    EXPECT_EQ(describe(source), sourceWas) << what;
                                    break;
                                case kMove:
                                    dest = std::move(source);
                                    EXPECT_EQ(describe(dest), sourceWas) << what;
                                    if (holdsSomething(from)) {
                                        EXPECT_EQ(source.getType(), Variant::kUndefined) << what;
                                    }
                                    break;
                                case kMoveConstruct: {
                                    Variant taken(std::move(source));
                                    EXPECT_EQ(describe(taken), sourceWas) << what;
                                    EXPECT_EQ(taken.getFlags() & Variant::kSlotFlags, 0) << what;
                                    EXPECT_EQ(source.getType(), Variant::kUndefined) << what;
                                    expectCountsOf({&dest, &source, &taken}, what);
                                    made = std::move(taken);
                                    EXPECT_EQ(describe(made), sourceWas) << what;
                                    break;
                                }
                                case kSelfCopy:
                                    dest = alias;
                                    EXPECT_EQ(describe(dest), destWas) << what;
                                    break;
                                case kSelfMove:
                                    dest = std::move(alias);
                                    EXPECT_EQ(describe(dest), destWas) << what;
                                    break;
                                case kSetObject:
                                    dest.setObject(b.handle());
                                    EXPECT_EQ(describe(dest), "5:B") << what;
                                    break;
                                case kSetNull:
                                    dest.setNull();
                                    EXPECT_EQ(dest.getType(), Variant::kNull) << what;
                                    break;
                            }
                            EXPECT_EQ(dest.getFlags() & Variant::kSlotFlags, toSlot) << what;
                            EXPECT_EQ(source.getFlags() & Variant::kSlotFlags, fromSlot) << what;
                            expectCountsOf({&dest, &source, &made}, what);
                        }
                        expectCountsOf({}, what);
                    }
}

// The source lives inside the object whose last holder it replaces: the new
// reference is taken before the old object goes, and the object's finalize
// finds the holder already on its new value.
TEST_F(VariantCopyTest, ASourceInsideTheLastHolderOfTheOldObjectOutlivesIt) {
    for (bool moved : {false, true})
        for (u16 slot : {u16(0), Variant::kLockedReference})
            for (Kind inside : {kObjectA, kStringValue, kRectValue, kNumberValue}) {  // kObjectA: inner
                const std::string what =
                    std::to_string(moved) + "/" + std::to_string(slot) + "/" + std::to_string(inside);
                FakeObject inner;       // held only by the outer object's value
                inner.counts.references = 0;
                FakeObject outer;       // held only by v
                outer.counts.references = 0;
                if (inside == kObjectA)
                    outer.internalValue.setObject(inner.handle());
                else
                    make(outer.internalValue, inside);
                auto shown = [&](const Variant& value) {
                    return value.getObject() == &inner.handle() ? std::string("inner") : describe(value);
                };
                const std::string expected = shown(outer.internalValue);

                Variant v;
                v.setSlotFlags(slot);
                v.setObject(outer.handle());
                std::string seenAtFinalize;
                outer.onFinalize = [&] {
                    seenAtFinalize = shown(v);
                    outer.internalValue.clear();  // the object lets go of what it holds
                };
                if (moved)
                    v = std::move(outer.internalValue);
                else
                    v = outer.internalValue;

                EXPECT_EQ(outer.finalized, 1) << what;
                EXPECT_EQ(outer.counts.locks, 0u) << what;
                EXPECT_EQ(seenAtFinalize, expected) << what;
                EXPECT_EQ(inner.finalized, 0) << what;
                if (inside == kObjectA) {
                    EXPECT_EQ(v.getObject(), &inner.handle()) << what;
                    EXPECT_EQ(inner.counts.references, 1u) << what;
                    EXPECT_EQ(inner.counts.locks, slot ? 1u : 0u) << what;
                    v.clear();
                    EXPECT_EQ(inner.finalized, 1) << what;
                    EXPECT_EQ(inner.counts.locks, 0u) << what;
                } else {
                    EXPECT_EQ(shown(v), expected) << what;
                }
            }
}

// The old object's finalize, run by each change that drops its last
// holder, finds that holder already on its new value.
TEST_F(VariantCopyTest, TheFinalizeOfTheOldObjectFindsTheNewValue) {
    enum Change { kCopyObject, kMoveObject, kCopyNumber, kSetNumber, kSetNull, kClear, kDestroy };
    struct Row {
        Change change;
        const char* seen;   // the holder's value as the finalize sees it
    };
    const Row rows[] = {{kCopyObject, "5:B"}, {kMoveObject, "5:B"}, {kCopyNumber, "3:3.5"}, {kSetNumber, "3:2"},
                        {kSetNull, "1:null"}, {kClear, "0:undefined"}, {kDestroy, "0:undefined"}};
    for (const Row& row : rows)
        for (u16 slot : {u16(0), Variant::kLockedReference})
            for (bool withText : {false, true}) {
                const std::string what =
                    std::to_string(row.change) + "/" + std::to_string(slot) + "/" + std::to_string(withText);
                FakeObject outer;  // held only by v
                outer.counts.references = 0;
                Variant source, number;
                source.setObject(b.handle());
                number.setNumber(3.5);
                std::string seen;
                {
                    alignas(Variant) unsigned char place[sizeof(Variant)];
                    Variant& v = *::new (place) Variant;
                    v.setSlotFlags(slot);
                    if (withText) v.setString("a text kept for reuse");
                    v.setObject(outer.handle());
                    outer.onFinalize = [&] {
                        seen = describe(v);
                        EXPECT_EQ(outer.counts.locks, 0u) << what;
                    };
                    switch (row.change) {
                        case kCopyObject: v = source; break;
                        case kMoveObject: v = std::move(source); break;
                        case kCopyNumber: v = number; break;
                        case kSetNumber: v.setNumber(2); break;
                        case kSetNull: v.setNull(); break;
                        case kClear: v.clear(); break;
                        case kDestroy: break;
                    }
                    if (row.change == kDestroy) {
                        v.~Variant();
                    } else {
                        EXPECT_EQ(describe(v), row.seen) << what;
                        EXPECT_EQ(v.getFlags() & Variant::kSlotFlags, slot) << what;
                        v.~Variant();
                    }
                }
                EXPECT_EQ(outer.finalized, 1) << what;
                EXPECT_EQ(seen, row.seen) << what;
                expectCountsOf({&source}, what);
            }
}

// A copy or move of a Variant onto itself, the only holder of its object,
// neither finalizes it nor changes its counts.
TEST_F(VariantCopyTest, ASelfChangeOfTheOnlyHolderKeepsItsObject) {
    for (u16 slot : {u16(0), Variant::kLockedReference})
        for (bool moved : {false, true}) {
            const std::string what = std::to_string(slot) + "/" + std::to_string(moved);
            FakeObject only;
            only.counts.references = 0;
            {
                Variant v;
                v.setSlotFlags(slot);
                v.setObject(only.handle());
                Variant& alias = v;
                if (moved)
                    v = std::move(alias);
                else
                    v = alias;
                EXPECT_EQ(v.getObject(), &only.handle()) << what;
                EXPECT_EQ(only.counts.references, 1u) << what;
                EXPECT_EQ(only.counts.locks, slot ? 1u : 0u) << what;
                EXPECT_EQ(only.finalized, 0) << what;
            }
            EXPECT_EQ(only.finalized, 1) << what;
            EXPECT_EQ(only.counts.locks, 0u) << what;
        }
}

// Values moved about in a container (a sort's swaps) keep their counts.
TEST_F(VariantCopyTest, SwapsAndMovesInAContainerKeepTheCounts) {
    {
        std::vector<Variant> values(4);
        values[0].setObject(a.handle());
        values[1].setString("s");
        values[2].setObject(b.handle());
        values[3].setNumber(2);
        values[2].setSlotFlags(Variant::kLockedReference);
        std::swap(values[0], values[2]);  // the lock stays with its slot
        EXPECT_EQ(values[0].getObject(), &b.handle());
        EXPECT_EQ(values[2].getObject(), &a.handle());
        EXPECT_EQ(a.counts.locks & kLockCountMask, 1u);
        EXPECT_EQ(b.counts.locks, 0u);
        std::swap(values[1], values[3]);
        EXPECT_EQ(describe(values[1]), "3:2");
        EXPECT_EQ(describe(values[3]), "4:s");
        values.reserve(64);  // the elements move to a new store
        std::vector<const Variant*> holders;
        for (const Variant& v : values) holders.push_back(&v);
        expectCountsOf(holders, "after the move");
    }
    expectCountsOf({}, "after the release");
}

}  // namespace
