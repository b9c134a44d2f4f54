// Variants that hold something: script objects and references to them,
// points, rects, arrays and file specifications.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "core/Array.h"
#include "core/FileSpec.h"
#include "core/Point.h"
#include "core/RegExp.h"
#include "core/String.h"
#include "core/Variant.h"
#include "core/tests/FakeScriptObjects.h"
#include "core/tests/TestSupport.h"

using namespace LxCore;

namespace {

constexpr f64 kNaN = std::numeric_limits<f64>::quiet_NaN();
constexpr f64 kInf = std::numeric_limits<f64>::infinity();

class VariantHeldTest : public ::testing::Test {
protected:
    CoreStarted core;
    FakeScriptObjects hooks;
};

std::string ascii(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); ++i) out += s[i] < 128 ? char(s[i]) : '?';
    return out;
}

std::string textOf(const Variant& v) { return ascii(*Variant::asString(v)); }

Array numbers(std::initializer_list<f64> values) {
    Array a;
    for (f64 x : values) a.appendNumber(x);
    return a;
}

Variant arrayValue(const Array& a) {
    Variant v;
    v.setArray(a);
    return v;
}

Variant pointValue(f64 x, f64 y) {
    Variant v = arrayValue(numbers({0, 0}));
    v.convertTo(Variant::kPoint);
    v.getPoint()->x = x;
    v.getPoint()->y = y;
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------
// Script objects

TEST_F(VariantHeldTest, HoldingAnObjectKeepsItsCountsBalanced) {
    FakeObject o;
    {
        Variant plain(o.handle());
        EXPECT_EQ(plain.getType(), Variant::kScriptObject);
        EXPECT_EQ(plain.getObject(), &o.handle());
        EXPECT_EQ(o.counts.references, 2u);

        Variant locked;
        locked.setSlotFlags(Variant::kLockedReference);
        locked = plain;
        EXPECT_EQ(o.counts.references, 3u);
        EXPECT_EQ(o.counts.locks, 1u);
        locked.setObject(o.handle());  // the same object: nothing happens
        EXPECT_EQ(o.counts.references, 3u);
        EXPECT_EQ(o.counts.locks, 1u);

        Variant copy(locked);  // a copy without the flag counts no lock
        EXPECT_EQ(o.counts.references, 4u);
        EXPECT_EQ(o.counts.locks, 1u);
        EXPECT_EQ(copy.getFlags() & Variant::kLockedReference, 0);

        locked.setNumber(1);
        EXPECT_EQ(o.counts.references, 3u);
        EXPECT_EQ(o.counts.locks, 0u);
        EXPECT_EQ(locked.getFlags(), Variant::kLockedReference);

        // Turning the flag on and off while holding keeps the lock count true.
        copy.setSlotFlags(Variant::kLockedReference);
        EXPECT_EQ(o.counts.locks, 1u);
        copy.setSlotFlags(0);
        EXPECT_EQ(o.counts.locks, 0u);
    }
    EXPECT_EQ(o.counts.references, 1u);
    EXPECT_EQ(o.finalized, 0);
}

TEST_F(VariantHeldTest, TheLastReferenceFinalizesOnce) {
    FakeObject o;
    o.counts.references = 0;  // only Variants hold it
    Variant a(o.handle());
    Variant b(a);
    b.setSlotFlags(Variant::kLockedReference);  // b now counts a lock too
    a.clear();
    EXPECT_EQ(o.finalized, 0);
    b = Variant(2);
    EXPECT_EQ(o.finalized, 1);
    EXPECT_EQ(o.counts.references, 0u);
    EXPECT_EQ(o.counts.locks, 0u);
    b.clear();
    EXPECT_EQ(o.finalized, 1);

    // A finalize that clears the very Variant being released finds it
    // already empty.
    FakeObject p;
    p.counts.references = 0;
    Variant* holder = new Variant(p.handle());
    p.onFinalize = [&] {
        holder->clear();
        delete holder;
        holder = nullptr;
    };
    holder->setNull();
    EXPECT_EQ(p.finalized, 1);
    EXPECT_EQ(holder, nullptr);
}

TEST_F(VariantHeldTest, LockCountsLookAtTheirLowThirtyBitsOnly) {
    const u32 mark = 0x40000000;
    const struct {
        u32 before, raised, lowered;
    } cases[] = {
        {0, 1, 0},
        {5, 6, 4},
        {mark | 5, mark | 6, mark | 4},
        {mark, mark | 1, mark},                   // nothing to lower under the mark
        {kLockCountMask, kLockCountMask, kLockCountMask - 1},  // the cap
        {mark | kLockCountMask, mark | kLockCountMask, mark | (kLockCountMask - 1)},
    };
    for (const auto& c : cases) {
        u32 word = c.before;
        raiseLockCount(word);
        EXPECT_EQ(word, c.raised) << std::hex << c.before;
        word = c.before;
        lowerLockCount(word);
        EXPECT_EQ(word, c.lowered) << std::hex << c.before;
    }

    // A mark set between a Variant's raise and its lower leaves the count true.
    FakeObject o;
    {
        Variant v;
        v.setSlotFlags(Variant::kLockedReference);
        v.setObject(o.handle());
        o.counts.locks |= mark;
    }
    EXPECT_EQ(o.counts.locks, mark);
}

TEST_F(VariantHeldTest, ObjectsAndReferencesCompareByObjectIdAndClass) {
    FakeObject a, b;
    a.id = 7;
    a.className = "Window";
    b.id = 7;
    b.className = "Window";
    const Variant boundA(a.handle()), boundA2(a.handle()), boundB(b.handle());
    const Variant ref(7, String("Window"), nullptr), ref2(7, String("Window"), nullptr);
    const Variant otherClass(7, String("Panel"), nullptr), otherId(8, String("Window"), nullptr);
    const struct {
        const Variant& left;
        const Variant& right;
        bool equal;
    } cases[] = {
        {boundA, boundA2, true},   {boundA, boundB, false},     // bound: the same object only
        {ref, ref2, true},         {ref, otherClass, false},    {ref, otherId, false},
        {boundA, ref, true},       {ref, boundB, true},         {boundA, otherClass, false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.left == c.right, c.equal);
}

TEST_F(VariantHeldTest, ObjectsConvertThroughTheirHooks) {
    FakeObject o;
    o.id = 42;
    o.className = "Thing";
    Variant v(o.handle());
    EXPECT_EQ(textOf(v), "Thing");
    EXPECT_TRUE(v.toBoolean());
    EXPECT_EQ(v.toNumber(), 42);  // no default value: the id
    EXPECT_EQ(v.toInt(), 42);
    EXPECT_EQ(v.toInt(0, 10), 42);  // an id is not clamped
    EXPECT_EQ(ascii(v.toString()), "undefined");

    o.defaultValue = Variant("12");
    EXPECT_EQ(v.toNumber(), 12);
    EXPECT_EQ(ascii(v.toString()), "12");
    String out;
    v.toString(out);
    EXPECT_EQ(ascii(out), "12");
    EXPECT_TRUE(v.isValidObject());
    o.valid = false;
    EXPECT_FALSE(v.isValidObject());

    Root data;
    v.setNativeData(&data);
    EXPECT_EQ(o.nativeData, &data);
    EXPECT_EQ(v.getNativeData(), &data);
    EXPECT_FALSE(v.isObjectReference());

    FileSpec spec(String("/tmp/some-file"), true);
    EXPECT_EQ(v.getFileSpec(), nullptr);
    o.fileSpec = &spec;
    EXPECT_EQ(v.getFileSpec(), &spec);

    v.convertTo(Variant::kString);
    EXPECT_EQ(textOf(v), "Thing");
    EXPECT_EQ(o.counts.references, 1u);
}

TEST_F(VariantHeldTest, UnboundReferencesKeepIdClassAndData) {
    Root data;
    Variant ref(9, String("Layer"), &data);
    EXPECT_EQ(ref.getType(), Variant::kScriptObject);
    EXPECT_EQ(ref.getObject(), nullptr);
    EXPECT_TRUE(ref.isObjectReference());
    EXPECT_FALSE(ref.isValidObject());
    EXPECT_EQ(ref.getNativeData(), &data);
    EXPECT_EQ(textOf(ref), "Layer");
    EXPECT_EQ(ref.toNumber(), 9);
    EXPECT_EQ(ref.toInt(), 9);

    Variant copy;
    copy = ref;
    EXPECT_EQ(textOf(copy), "Layer");
    EXPECT_EQ(copy.getNativeData(), &data);
    EXPECT_TRUE(copy == ref);
    copy.setNativeData(nullptr);
    EXPECT_FALSE(copy.isObjectReference());
    EXPECT_EQ(ref.getNativeData(), &data);
}

TEST_F(VariantHeldTest, WithoutHooksNoObjectIsHeld) {
    FakeObject o;
    ScriptObjectHooks::setCurrent(nullptr);
    Variant v(o.handle());
    EXPECT_EQ(v.getType(), Variant::kNull);
    EXPECT_EQ(o.counts.references, 1u);
}

// ---------------------------------------------------------------------------
// Points, rects, arrays, files

TEST_F(VariantHeldTest, PointsAndRectsConvertToAndFromArrays) {
    Variant p = pointValue(3, 4);
    EXPECT_EQ(textOf(p), "3:4");
    p.convertTo(Variant::kArray);
    EXPECT_EQ(textOf(p), "[3,4]");

    Variant r = arrayValue(numbers({1, 2, 3, 4}));
    r.convertTo(Variant::kRect);
    ASSERT_NE(r.getRect(), nullptr);
    EXPECT_EQ(textOf(r), "1:2-3:4");
    r.convertTo(Variant::kArray);
    EXPECT_EQ(textOf(r), "[1,2,3,4]");

    // Missing elements count as 0; other values give (0, 0).
    Variant shortArray = arrayValue(numbers({7.9}));
    shortArray.convertTo(Variant::kRect);
    EXPECT_EQ(textOf(shortArray), "7:0-0:0");
    Variant text("1,2");
    text.convertTo(Variant::kPoint);
    EXPECT_EQ(textOf(text), "0:0");

    EXPECT_TRUE(std::isnan(pointValue(1, 2).toNumber()));
    EXPECT_FALSE(pointValue(1, 2).toBoolean());
}

TEST_F(VariantHeldTest, CoordinatesSaturateInTheirText) {
    EXPECT_EQ(textOf(pointValue(kNaN, 1e20)), "0:2147483647");
    Variant r;
    r.setRect(Rect(kNaN, 1e20, -1e20, kInf));
    EXPECT_EQ(textOf(r), "0:2147483647--2147483648:2147483647");
    r.setRect(Rect(-1.9, 2.9, -kInf, 0));
    EXPECT_EQ(textOf(r), "-1:2--2147483648:0");
}

TEST_F(VariantHeldTest, HeldRecordsCompareByValue) {
    Variant r1, r2, rNaN;
    r1.setRect(Rect(0, 0, 5, 5));
    r2.setRect(Rect(0, 0, 6, 6));
    rNaN.setRect(Rect(kNaN, 0, 5, 5));
    const struct {
        Variant left, right;
        bool equal;
        i32 order;
    } cases[] = {
        {pointValue(1, 1), pointValue(1, 1), true, 0},
        {pointValue(1, 1), pointValue(2, 2), false, 1},
        {pointValue(2, 2), pointValue(1, 1), false, -1},
        {r1, r1, true, 0},
        {r1, r2, false, 1},
        {rNaN, rNaN, false, 0},
        {arrayValue(numbers({1, 2})), arrayValue(numbers({1, 2})), true, 0},
        {arrayValue(numbers({1, 2})), arrayValue(numbers({1, 3})), false, -1},  // by text
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.left == c.right, c.equal) << textOf(c.left) << " " << textOf(c.right);
        const i32 order = c.left.compare(c.right);
        EXPECT_EQ((order > 0) - (order < 0), c.order) << textOf(c.left) << " " << textOf(c.right);
    }
}

TEST_F(VariantHeldTest, CopiesOwnTheirRecords) {
    Variant a = pointValue(1, 2);
    Variant b(a);
    b.getPoint()->x = 9;
    EXPECT_EQ(textOf(a), "1:2");
    EXPECT_EQ(textOf(b), "9:2");

    Array elements = numbers({5});
    Variant v = arrayValue(elements);
    v.getArray()->appendNumber(6);  // copy-on-write: the source stays
    EXPECT_EQ(elements.length(), 1u);
    EXPECT_EQ(textOf(v), "[5,6]");
}

TEST_F(VariantHeldTest, AValueMayBeAssignedFromInsideItself) {
    // The sources below live in the value they replace.
    Array inner = numbers({1, 2});
    Array outer;
    outer[0].setArray(inner);
    outer[1].setRect(Rect(1, 2, 3, 4));
    Variant v = arrayValue(outer);
    outer = Array();
    inner = Array();

    Variant w(v);
    w = (*w.getArray())[1];
    EXPECT_EQ(textOf(w), "1:2-3:4");
    v.setArray(*(*v.getArray())[0].getArray());
    EXPECT_EQ(textOf(v), "[1,2]");
    v = (*v.getArray())[0];
    EXPECT_EQ(textOf(v), "1");
}

TEST_F(VariantHeldTest, FileSpecsOrderByTheirResolvedPaths) {
    Variant a, b, a2;
    a.setFileSpec(FileSpec(String("/tmp/a-file"), true));
    b.setFileSpec(FileSpec(String("/tmp/b-file"), true));
    a2.setFileSpec(FileSpec(String("/tmp/a-file"), true));
    EXPECT_EQ(textOf(a), "[object File]");
    EXPECT_TRUE(a == a2);
    EXPECT_FALSE(a == b);
    EXPECT_EQ(a.compare(a2), 0);
    EXPECT_LT(a.compare(b), 0);
    EXPECT_GT(b.compare(a), 0);
    EXPECT_TRUE(std::isnan(a.toNumber()));

    Variant path("/tmp/c-file");
    path.convertTo(Variant::kFileSpec);
    ASSERT_NE(path.getFileSpec(), nullptr);
    String native;
    path.getFileSpec()->getNativePath(native);
    EXPECT_EQ(ascii(native), "/tmp/c-file");
}

Variant regExpValue(const char* source, u32 flags = 0) {
    Variant v;
    v.setRegExp(compileRegExp(String(source), flags));
    return v;
}

TEST_F(VariantHeldTest, RegExpsShareTheirPatternAndCompareBySourceAndFlags) {
    Variant five("5");
    five.convertTo(Variant::kRegExp);
    ASSERT_NE(five.getRegExp(), nullptr);
    EXPECT_EQ(ascii(five.getRegExp()->getSource()), "5");
    EXPECT_EQ(textOf(five), "5");
    EXPECT_EQ(five.toNumber(), 5);
    EXPECT_FALSE(five.toBoolean());

    const Variant a = regExpValue("a"), b = regExpValue("b");
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a == regExpValue("a"));
    EXPECT_FALSE(a == regExpValue("a", kRegExpIgnoreCase));
    EXPECT_LT(a.compare(b), 0);
    EXPECT_EQ(a.compare(regExpValue("a")), 0);

    Variant* first = new Variant(a);
    Variant second(*first);
    EXPECT_EQ(&first->getRegExp()->data(), &a.getRegExp()->data());
    delete first;
    CapturePair pair[1];
    EXPECT_TRUE(execRegExp(*second.getRegExp(), String("xa"), 0, pair));

    // A RegExp object gives the expression of its internal value; the
    // conversion shares it.
    FakeObject object, other;
    object.classID = other.classID = Variant::kRegExpClassID;
    object.internalValue = b;
    Variant held(object.handle());
    ASSERT_NE(held.getRegExp(), nullptr);
    EXPECT_EQ(&held.getRegExp()->data(), &b.getRegExp()->data());
    held.convertTo(Variant::kRegExp);
    EXPECT_EQ(&held.getRegExp()->data(), &b.getRegExp()->data());
    EXPECT_EQ(object.counts.references, 1u);

    // Objects whose values point at each other give none.
    object.internalValue = Variant(other.handle());
    other.internalValue = Variant(object.handle());
    EXPECT_EQ(Variant(object.handle()).getRegExp(), nullptr);
    object.classID = 0x20000090;
    EXPECT_EQ(Variant(object.handle()).getRegExp(), nullptr);
    object.internalValue.clear();
    other.internalValue.clear();
}

TEST_F(VariantHeldTest, AnArrayHoldingItselfPrintsThis) {
    Array a = numbers({1});
    a[1].setArray(a);  // a's data now holds itself
    String text;
    a.toString(text);
    EXPECT_EQ(ascii(text), "1,[this]");
    // Writing through a[1] now would copy the data first; the cycle is cut
    // in place so that the data can go.
    const_cast<Variant*>(a.get(1))->clear();
}
