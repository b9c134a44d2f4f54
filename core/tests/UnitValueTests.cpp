#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/InitTerm.h"
#include "core/UnitValue.h"
#include "core/tests/LiveTestSupport.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

constexpr u32 kInch = kUnitInch;
constexpr u32 kCm = kUnitCentimeter;
constexpr u32 kMile = 0x6D696C65;
constexpr u32 kPx = kUnitPixel;
constexpr u32 kPercent = kUnitPercent;

class UnitValueTest : public ::testing::Test {
protected:
    CoreStarted core;
    void TearDown() override { UnitValue::setDefaultBase(UnitValue(kInch, 1.0 / 72)); }
};

TEST_F(UnitValueTest, ConversionsThroughTheRegistry) {
    f64 out = 0;
    EXPECT_EQ(UnitConverter::convertUnits(kInch, 1, kCm, &out), 0);
    EXPECT_DOUBLE_EQ(out, 2.54);
    EXPECT_EQ(UnitConverter::convertUnits(kUnitMeter, 1, kMile, &out), 0);
    EXPECT_DOUBLE_EQ(out, 1 / 1609.344);
    out = 7;
    EXPECT_EQ(UnitConverter::convertUnits(kPx, 1, kInch, &out), 44);
    u32 base = 0;
    EXPECT_EQ(UnitConverter::getBaseUnit(kInch, &base), 0);
    EXPECT_EQ(base, kUnitMeter);
    EXPECT_EQ(UnitConverter::getBaseUnit(kUnitMeter, &base), 0);
    EXPECT_EQ(UnitConverter::getBaseUnit(kPx, &base), 44);
    u32 unit = 0;
    EXPECT_EQ(UnitConverter::findUnitByName(String("Traditional Points"), &unit), 0);
    EXPECT_EQ(unit, 0x8150548Cu);
    EXPECT_EQ(UnitConverter::findUnitByName(String("%"), &unit), 0);
    EXPECT_EQ(unit, kPercent);
    String name;
    EXPECT_EQ(UnitConverter::getUnitText(kCm, kUnitPlural, name), 0);
    EXPECT_EQ(text(name), "centimeters");
    EXPECT_EQ(UnitConverter::getUnitText(kCm, 4, name), 1);
    EXPECT_EQ(UnitConverter::getUnitText(kUnitNone, 1, name), 44);
    EXPECT_EQ(UnitConverter::registerConverter(nullptr, 0, nullptr), 8);
}

TEST_F(UnitValueTest, TextsParseAndFormat) {
    struct Case {
        const char* text;
        i32 status;
        f64 value;
        u32 unit;
        const char* formatted;
    };
    const Case cases[] = {
        {"12 cm", 0, 12, kCm, "12 cm"},
        {"3 inches", 0, 3, kInch, "3 in"},
        {" 2.5 MM ", 0, 2.5, 0x814D4D8C, "2.5 mm"},
        {"50 %", 0, 50, kPercent, "50 %"},
        {"10px", 0, 10, kPx, "10 px"},
        {"12", 0, 12, kUnitNone, "12.000000 <no type>"},
        {"3 in 5", 8, 0, 0, nullptr},
        {"3 furlongs", 44, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        UnitValue value;
        EXPECT_EQ(UnitValue::parse(String(c.text), value), c.status) << c.text;
        if (c.status != 0)
            continue;
        EXPECT_EQ(value.value, c.value) << c.text;
        EXPECT_EQ(value.unit, c.unit) << c.text;
        String out;
        value.toString(out);
        EXPECT_EQ(text(out), c.formatted);
    }
    String out;
    UnitValue(kUnitNone, 5).toString(out);
    EXPECT_EQ(text(out), "5.000000 <no type>");
    UnitValue(kUnitAny, 5).toString(out);
    EXPECT_EQ(text(out), "5.000000 <any type>");
    EXPECT_EQ(UnitValue(String("3 furlongs")).unit, kUnitNone);
}

TEST_F(UnitValueTest, RelativeUnitsConvertThroughTheirBase) {
    UnitValue pixels(kPx, 10);
    ASSERT_TRUE(pixels.convert(kInch));
    EXPECT_DOUBLE_EQ(pixels.value, 10.0 / 72);
    EXPECT_EQ(pixels.unit, kInch);

    UnitValue half(kPercent, 50);
    half.baseUnit = kCm;
    half.baseValue = 10;
    UnitValue out;
    ASSERT_TRUE(half.as(kCm, out));
    EXPECT_DOUBLE_EQ(out.value, 5);
    EXPECT_EQ(half.unit, kPercent);         // as leaves the source alone
    UnitValue five(kCm, 5);
    five.baseUnit = kCm;
    five.baseValue = 10;
    ASSERT_TRUE(five.convert(kPercent));
    EXPECT_DOUBLE_EQ(five.value, 50);

    UnitValue any(kUnitAny, 3);
    f64 untouched = 9;
    EXPECT_EQ(any.getValueIn(kCm, &untouched), 44);
    EXPECT_EQ(untouched, 9);
    // Pixels are relative: 72 to the inch of the default base.
    UnitValue inches(kInch, 2);
    ASSERT_TRUE(inches.convert(kPx));
    EXPECT_DOUBLE_EQ(inches.value, 144);
    // Against a base in pixels, lengths are out of reach.
    UnitValue::setDefaultBase(UnitValue(kPx, 5));
    UnitValue dots(kPx, 3);
    EXPECT_FALSE(dots.convert(kCm));
    EXPECT_EQ(dots.value, 3);
    EXPECT_EQ(dots.unit, kPx);
}

TEST_F(UnitValueTest, ComparisonsAndTheirUnorderedCases) {
    EXPECT_EQ(UnitValue(kInch, 1).compare(UnitValue(kInch, 2)), -1);
    EXPECT_EQ(UnitValue(kUnitMeter, 1).compare(UnitValue(kCm, 100)), 0);
    EXPECT_TRUE(UnitValue(kUnitMeter, 1).equals(UnitValue(kCm, 100)));
    EXPECT_EQ(UnitValue(kInch, 1).compare(UnitValue(kCm, 2)), 1);
    // Pixels through the thread's default base of one point.
    EXPECT_EQ(UnitValue(kCm, 1).compare(UnitValue(kPx, 1)), 1);
    // NaN is unordered, in one unit too.
    UnitValue nan(kCm, NAN);
    EXPECT_EQ(nan.compare(UnitValue(kCm, 5)), UnitValue::kUnordered);
    EXPECT_FALSE(nan.equals(nan));
    Variant a, b;
    a.setUnitValue(nan);
    b.setUnitValue(UnitValue(kCm, 5));
    EXPECT_FALSE(a == b);
    EXPECT_EQ(a.compare(b), Variant::kUnordered);
    // A default base in pixels has no base unit: tried once, then unordered.
    UnitValue::setDefaultBase(UnitValue(kPx, 5));
    EXPECT_EQ(UnitValue(kPx, 1).compare(UnitValue(kCm, 1)), UnitValue::kUnordered);
    UnitValue sum;
    UnitValue base;
    EXPECT_NE(UnitValue(kPx, 1).getBaseValue(base), 0);
}

TEST_F(UnitValueTest, VariantsHoldUnitValues) {
    Variant v;
    v.setUnitValue(UnitValue(kCm, 12));
    EXPECT_EQ(v.getType(), Variant::kUnitValue);
    EXPECT_EQ(text(v.toString()), "12 cm");
    EXPECT_EQ(v.toNumber(), 12);
    EXPECT_TRUE(v.toBoolean());
    Variant copy(v);
    EXPECT_TRUE(copy == v);
    EXPECT_EQ(copy.getUnitValue()->unit, kCm);
    Variant text("3 in");
    text.convertTo(Variant::kUnitValue);
    EXPECT_EQ(text.getUnitValue()->unit, kInch);
    EXPECT_EQ(v.compare(text), 1);
    Variant number(5);
    number.convertTo(Variant::kUnitValue);
    EXPECT_EQ(number.getUnitValue()->unit, kUnitNone);
    EXPECT_EQ(number.getUnitValue()->value, 5);
    v.convertTo(Variant::kLiveObject);
    ASSERT_EQ(v.getType(), Variant::kLiveObject);
    EXPECT_EQ(LxCore::text(v.getLiveObject()->getClassName()), "UnitValue");
    EXPECT_EQ(v.getUnitValue()->value, 12);
    v.convertTo(Variant::kUnitValue);
    EXPECT_EQ(v.getType(), Variant::kUnitValue);
    EXPECT_EQ(v.getUnitValue()->unit, kCm);
}

// ---------------------------------------------------------------------------
// The class

Variant callOn(LiveObject& object, i32 id, std::initializer_list<Variant> args, i32 expected = 0) {
    Array list;
    for (const Variant& a : args)
        list.getOrCreate(list.length()) = a;
    Variant result;
    EXPECT_EQ(object.call(id, list, result, nullptr), expected) << std::hex << id;
    return result;
}

LiveObject* makeUnitValue(const char* textValue) {
    LiveObject* made = nullptr;
    EXPECT_EQ(LiveObject::createInstance(made, String("UnitValue"), 0x10000), 0);
    Array args;
    args.getOrCreate(0) = Variant(textValue);
    EXPECT_EQ(made->initialize(args, nullptr), 0);
    return made;
}

TEST_F(UnitValueTest, TheClassByNameWithItsMembers) {
    Held<LiveObject> twelve(makeUnitValue("12 cm"));
    ASSERT_NE(dynamic_cast<UnitValueObject*>(twelve.get()), nullptr);
    Variant result;
    EXPECT_EQ(twelve->get(1, result, nullptr), 0);
    EXPECT_EQ(text(result.toString()), "cm");
    Error error;
    EXPECT_EQ(twelve->put(1, Variant("in"), &error), 46);
    EXPECT_EQ(messageOf(error), "type is read only");
    EXPECT_EQ(twelve->put(2, Variant(24), nullptr), 0);
    twelve->get(2, result, nullptr);
    EXPECT_EQ(result.toNumber(), 24);
    twelve->get(3, result, nullptr);
    EXPECT_EQ(text(result.toString()), "0.01388888888889 in");
    Variant base;
    base.setUnitValue(UnitValue(kCm, 10));
    EXPECT_EQ(twelve->put(3, base, nullptr), 0);
    twelve->get(3, result, nullptr);
    EXPECT_EQ(text(result.toString()), "10 cm");
    EXPECT_EQ(twelve->put(3, Variant(), nullptr), 0);
    Variant null;
    null.setNull();
    EXPECT_EQ(twelve->put(3, null, nullptr), 0);

    // convert and as by call; names found by the class's table.
    i32 id;
    u32 kind;
    ASSERT_EQ(twelve->findProperty(String("as"), id, kind, 0x10000), 0);
    EXPECT_DOUBLE_EQ(callOn(*twelve, id, {Variant("in")}).toNumber(), 24 / 2.54);
    EXPECT_TRUE(std::isnan(callOn(*twelve, id, {Variant("furlong")}).toNumber()));
    EXPECT_TRUE(callOn(*twelve, 4, {Variant("mm")}).toBoolean());
    EXPECT_EQ(text(Variant(*twelve, 0).toString()), "240 mm");
    EXPECT_FALSE(callOn(*twelve, 4, {Variant("furlong")}).toBoolean());

    // Two arguments: a number and a unit name.
    Held<LiveObject> pair(new UnitValueObject);
    Array args;
    args.getOrCreate(0) = Variant(3);
    args.getOrCreate(1) = Variant("*");
    EXPECT_EQ(pair->initialize(args, nullptr), 0);
    pair->get(1, result, nullptr);
    EXPECT_EQ(text(result.toString()), "*");
    args.getOrCreate(1) = Variant("furlong");
    EXPECT_EQ(pair->initialize(args, nullptr), 44);
    Held<LiveObject> empty(new UnitValueObject);
    empty->get(2, result, nullptr);
    EXPECT_TRUE(std::isnan(result.toNumber()));
    empty->get(1, result, nullptr);
    EXPECT_EQ(text(result.toString()), "?");
    String emptyText;
    empty->toString(emptyText);
    EXPECT_EQ(text(emptyText), "Invalid unit value");
    EXPECT_EQ(empty->call(0x1FF10107, Array(), result, nullptr), 45);
}

TEST_F(UnitValueTest, Operators) {
    Held<LiveObject> ten(makeUnitValue("10 cm"));
    Variant inch;
    inch.setUnitValue(UnitValue(kInch, 1));
    Variant zeroCm;
    zeroCm.setUnitValue(UnitValue(kCm, 0));
    struct Case {
        i32 id;
        Variant operand;
        bool reversed;
        const char* result;
    };
    const Case cases[] = {
        {0x1FF10107, Variant(5), false, "15 cm"},          // +
        {0x1FF10108, Variant(5), true, "-5 cm"},           // 5 - x
        {0x1FF10107, inch, false, "12.54 cm"},
        {0x1FF10108, inch, true, "-2.93700787401575 in"},  // 1 in - 10 cm, in inches
        {0x1FF10107, Variant("x"), false, "undefined"},    // the caller concatenates
        {0x1FF10107, Variant(NAN), false, "NaN"},
        {0x1FF10104, Variant(3), false, "30 cm"},          // *
        {0x1FF10104, inch, false, "25.4"},                 // unit operand: a number
        {0x1FF10105, Variant(4), false, "2.5 cm"},         // /
        {0x1FF10105, Variant(0), false, "Infinity cm"},
        {0x1FF10105, Variant(4), true, "0.4 cm"},
        {0x1FF10105, zeroCm, true, "0"},                   // 0 / 10
        {0x1FF10106, Variant(3), false, "1 cm"},           // %
        {0x1FF10106, Variant(0), false, "NaN cm"},
        {0x1FF1010C, Variant(11), false, "true"},          // <
        {0x1FF1010C, inch, false, "false"},
        {0x1FF1010D, Variant(10), false, "true"},          // <=
        {0x1FF10112, Variant(10), false, "true"},          // ==
        {0x1FF10114, inch, false, "false"},                // ===
        {0x1FF1010C, Variant(11), true, "false"},
        {0x1FF10112, Variant("x"), false, "undefined"},
        {0x1FF1010C, Variant("x"), false, "undefined"},
        {0x1FF1010C, Variant(NAN), false, "undefined"},
    };
    for (const Case& c : cases) {
        Variant result = callOn(*ten, c.id, {c.operand, Variant(c.reversed)});
        EXPECT_EQ(text(result.toString()), c.result) << std::hex << c.id << " " << text(c.operand.toString());
    }
    EXPECT_EQ(text(callOn(*ten, 0x1FF10100, {}).toString()), "-11 cm");   // ~
    EXPECT_EQ(text(callOn(*ten, 0x1FF10101, {}).toString()), "false");    // !
    EXPECT_EQ(text(callOn(*ten, 0x1FF10108, {}).toString()), "-10 cm");   // unary -
    // 0 / 0 and NaN / 0 are NaN.
    Held<LiveObject> zero(makeUnitValue("0 cm"));
    EXPECT_EQ(text(callOn(*zero, 0x1FF10105, {Variant(0), Variant(false)}).toString()), "NaN cm");
    Held<LiveObject> nan(makeUnitValue("NaN cm"));
    EXPECT_EQ(text(callOn(*nan, 0x1FF10105, {Variant(0), Variant(false)}).toString()), "NaN cm");
    // A default base in pixels: pixels and lengths never meet, and nothing crashes.
    UnitValue::setDefaultBase(UnitValue(kPx, 5));
    Held<LiveObject> onePx(makeUnitValue("1 px"));
    Variant oneCm;
    oneCm.setUnitValue(UnitValue(kCm, 1));
    EXPECT_EQ(text(callOn(*onePx, 0x1FF10107, {oneCm, Variant(false)}).toString()), "NaN");
    EXPECT_EQ(text(callOn(*onePx, 0x1FF1010C, {oneCm, Variant(false)}).toString()), "false");
}

TEST_F(UnitValueTest, TheClassObjectKeepsTheDefaultBase) {
    LiveObject* factory = LiveObject::findClass(String("UnitValue"), 0x10000);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->getFlags() & kLiveFactory, kLiveFactory);
    Variant base;
    base.setUnitValue(UnitValue(kCm, 2));
    EXPECT_EQ(factory->put(3, base, nullptr), 0);
    Variant result;
    factory->get(3, result, nullptr);
    EXPECT_EQ(text(result.toString()), "2 cm");
    Variant null;
    null.setNull();
    EXPECT_EQ(factory->put(3, null, nullptr), 0);
    UnitValue current;
    UnitValue::getDefaultBase(current);
    EXPECT_EQ(current.unit, kInch);
    EXPECT_DOUBLE_EQ(current.value, 1.0 / 72);
    // Called as a function it constructs.
    Variant made = callOn(*factory, 0x1FF10000, {Variant("4 ft")});
    EXPECT_EQ(text(made.toString()), "4 ft");
}

TEST(UnitValueLifetime, UnitsWorkAgainAfterARestart) {
    for (int round = 0; round < 2; round++) {
        CoreStarted core;
        f64 out = 0;
        EXPECT_EQ(UnitConverter::convertUnits(kInch, 1, kCm, &out), 0);
        EXPECT_DOUBLE_EQ(out, 2.54);
        Held<LiveObject> made(makeUnitValue("12 cm"));
        EXPECT_EQ(text(Variant(*made, 0).toString()), "12 cm");
    }
}

}  // namespace
}  // namespace LxCore
