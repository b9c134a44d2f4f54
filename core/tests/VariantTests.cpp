#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "core/String.h"
#include "core/Variant.h"
#include "core/tests/TestSupport.h"

using namespace LxCore;

namespace {

constexpr f64 kNaN = std::numeric_limits<f64>::quiet_NaN();
constexpr f64 kInf = std::numeric_limits<f64>::infinity();

class VariantTest : public ::testing::Test {
protected:
    CoreStarted core;
};

std::string ascii(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); ++i) out += s[i] < 128 ? char(s[i]) : '?';
    return out;
}

std::string textOf(const Variant& v) { return ascii(*Variant::asString(v)); }

// A Variant of each simple kind, by name, for the tables below.
Variant make(const char* kind) {
    std::string k = kind;
    if (k == "undefined") return Variant();
    if (k == "null") {
        Variant v;
        v.setNull();
        return v;
    }
    if (k == "true") return Variant(true);
    if (k == "false") return Variant(false);
    if (k == "NaN") return Variant(kNaN);
    if (k == "Infinity") return Variant(kInf);
    if (k == "-Infinity") return Variant(-kInf);
    if (k == "-0") return Variant(-0.0);
    if (k[0] == '\'') return Variant(k.substr(1, k.size() - 2).c_str());
    return Variant(std::strtod(k.c_str(), nullptr));
}

bool same(f64 a, f64 b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return a == b && std::signbit(a) == std::signbit(b);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and flags

TEST_F(VariantTest, ConstructorsAndSettersGiveTheirTypesAndFlags) {
    Variant v;
    EXPECT_EQ(v.getType(), Variant::kUndefined);
    EXPECT_EQ(Variant(true).getType(), Variant::kBoolean);
    EXPECT_EQ(Variant(1.5).getType(), Variant::kNumber);
    EXPECT_EQ(Variant(1.5).getFlags(), 0);
    EXPECT_EQ(Variant(-5).getFlags(), 2);
    EXPECT_EQ(Variant(5).getFlags(), 6);
    EXPECT_EQ(Variant(0).getFlags(), 6);
    EXPECT_EQ(Variant("abc").getType(), Variant::kString);

    const struct {
        void (*set)(Variant&);
        u16 flags;
    } setters[] = {
        {[](Variant& x) { x.setUInt(0x80000000u); }, 4},
        {[](Variant& x) { x.setUInt(0x7FFFFFFFu); }, 6},
        {[](Variant& x) { x.setInt(-1); }, 2},
        {[](Variant& x) { x.setInt(7); }, 2},
        {[](Variant& x) { x.setNumber(7); }, 0},
        {[](Variant& x) { x.setNaN(); }, 0x88},
        {[](Variant& x) { x.setInfinity(); }, 0x90},
        {[](Variant& x) { x.setNegativeInfinity(); }, 0xA0},
        {[](Variant& x) { x.setNegativeZero(); }, 0xC0},
        {[](Variant& x) { x.setNull(); }, 0},
        {[](Variant& x) { x.setBool(true); }, 0},
        {[](Variant& x) { x.setString("s"); }, 0},
    };
    for (const auto& s : setters) {
        Variant x(12.5);
        x.makeString(10);  // value bits set, text current
        s.set(x);
        EXPECT_EQ(x.getFlags(), s.flags);
    }
    Variant special;
    special.setNegativeZero();
    EXPECT_TRUE(std::signbit(special.toNumber()));
    special.setNaN();
    EXPECT_TRUE(std::isnan(special.toNumber()));
    special.setNegativeInfinity();
    EXPECT_EQ(special.toNumber(), -kInf);
}

TEST_F(VariantTest, UpdateNumberFlagsComputesTheFullClass) {
    const struct {
        f64 value;
        u16 flags;
    } cases[] = {
        {2147483648.0, 0x85},
        {-0.0, 0xC7},
        {0.0, 0x87},
        {1.5, 0x81},
        {-1, 0x83},
        {-2147483648.0, 0x83},
        {-2147483649.0, 0x81},
        {2147483647.0, 0x87},
        {4294967295.0, 0x85},
        {4294967296.0, 0x81},
        {1e300, 0x81},
        {kNaN, 0x88},
        {kInf, 0x90},
        {-kInf, 0xA0},
    };
    for (const auto& c : cases) {
        Variant v(c.value);
        v.updateNumberFlags();
        EXPECT_EQ(v.getFlags(), c.flags) << c.value;
    }
    Variant text("12");
    text.updateNumberFlags();
    EXPECT_EQ(text.getFlags(), 0);  // only numbers have number flags
}

TEST_F(VariantTest, UpdateNumberClassStoresTheBasicClass) {
    const struct {
        f64 value;
        u16 flags;
    } cases[] = {{-0.0, 64}, {3, 1}, {kNaN, 8}, {kInf, 16}, {-kInf, 32}};
    for (const auto& c : cases) {
        Variant v(c.value);
        v.setSlotFlags(0x400);
        v.updateNumberClass();
        EXPECT_EQ(v.getFlags(), c.flags | 0x400) << c.value;
    }
}

TEST_F(VariantTest, SlotFlagsSurviveEveryChangeOfValue) {
    Variant v(3);
    v.setSlotFlags(Variant::kLockedReference | 0x8000);
    const u16 slot = Variant::kLockedReference | 0x8000;
    EXPECT_EQ(v.getFlags(), slot | 6);
    v.setNumber(1.5);
    EXPECT_EQ(v.getFlags(), slot);
    v.makeString(10);
    EXPECT_EQ(v.getFlags(), slot | 0x81 | Variant::kTextCurrent);
    v.setString("x");
    EXPECT_EQ(v.getFlags(), slot);
    v.clear();
    EXPECT_EQ(v.getFlags(), slot);

    Variant source(7);
    source.setSlotFlags(0x4000);
    v = source;
    EXPECT_EQ(v.getFlags(), slot | 6);
    v.convertTo(Variant::kString);
    EXPECT_EQ(v.getFlags(), slot);
}

TEST_F(VariantTest, AssignmentCopiesValueBitsButNotTheTextCache) {
    Variant source(2.5);
    source.makeString(10);
    ASSERT_EQ(source.getFlags(), 0x81 | Variant::kTextCurrent);
    Variant copy;
    copy = source;
    EXPECT_EQ(copy.getFlags(), 0x81);
    EXPECT_EQ(textOf(copy), "2.5");

    Variant text("old text");
    text = source;  // the text String stays but no longer counts as current
    EXPECT_EQ(text.getType(), Variant::kNumber);
    EXPECT_EQ(textOf(text), "2.5");
}

TEST_F(VariantTest, CopiesShareStringBuffers) {
    String s("shared");
    Variant v(s);
    EXPECT_TRUE(Variant::asString(v)->sharesBufferWith(s));
    Variant copy(v);
    EXPECT_TRUE(Variant::asString(copy)->sharesBufferWith(s));
    Variant assigned(1);
    assigned = v;
    EXPECT_TRUE(Variant::asString(assigned)->sharesBufferWith(s));
    assigned = assigned;
    EXPECT_EQ(textOf(assigned), "shared");
    assigned.setString("other");
    EXPECT_EQ(textOf(v), "shared");
}

TEST_F(VariantTest, PointerAndTextConstructors) {
    Variant null(static_cast<const Variant*>(nullptr));
    EXPECT_EQ(null.getType(), Variant::kUndefined);
    Variant source("abc");
    Variant fromPointer(&source);
    EXPECT_TRUE(fromPointer == source);

    Variant latin("\xE9t\xE9");
    const String* t = Variant::asString(latin);
    ASSERT_EQ(t->length(), 3);
    EXPECT_EQ((*t)[0], 0xE9);

    Variant wide;
    const unit units[] = {u'a', u'b', 0, u'c'};
    wide.setString(units);
    EXPECT_EQ(textOf(wide), "ab");
    wide.setString(static_cast<const char*>(nullptr));
    EXPECT_EQ(wide.getType(), Variant::kString);
    EXPECT_TRUE(Variant::asString(wide)->isEmpty());
}

// ---------------------------------------------------------------------------
// Equality and order

TEST_F(VariantTest, EqualityIsStrict) {
    const struct {
        const char* left;
        const char* right;
        bool equal;
    } cases[] = {
        {"undefined", "undefined", true}, {"null", "null", true},     {"undefined", "null", false},
        {"true", "true", true},           {"true", "false", false},   {"true", "1", false},
        {"1", "1", true},                 {"0", "-0", true},          {"NaN", "NaN", false},
        {"Infinity", "Infinity", true},   {"Infinity", "-Infinity", false},
        {"1", "'1'", false},              {"'a'", "'a'", true},       {"'a'", "'b'", false},
        {"''", "''", true},               {"''", "undefined", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(make(c.left) == make(c.right), c.equal) << c.left << " == " << c.right;
        EXPECT_EQ(make(c.right) == make(c.left), c.equal) << c.right << " == " << c.left;
    }
    Variant nan(kNaN);
    EXPECT_FALSE(nan == nan);
    EXPECT_TRUE(nan != nan);
    Variant n(3);
    EXPECT_TRUE(Variant(3.0) == n);
}

TEST_F(VariantTest, CompareOrdersMixedValues) {
    const i32 U = Variant::kUnordered;
    const struct {
        const char* left;
        const char* right;
        i32 expected;
    } cases[] = {
        {"undefined", "undefined", 0}, {"undefined", "null", -1},   {"null", "undefined", 1},
        {"undefined", "5", -1},        {"5", "undefined", 1},       {"'a'", "undefined", 1},
        {"null", "null", 0},           {"null", "false", 0},        {"null", "1", -1},
        {"true", "false", 1},          {"false", "true", -1},       {"true", "1", 0},
        {"'10'", "9", 1},              {"9", "'10'", -1},           {"'abc'", "1", U},
        {"NaN", "1", U},               {"1", "NaN", U},             {"NaN", "NaN", U},
        {"1", "2", -1},                {"2", "1", 1},               {"0", "-0", 0},
        {"-Infinity", "Infinity", -1}, {"Infinity", "Infinity", 0}, {"-Infinity", "-Infinity", 0},
        {"Infinity", "-Infinity", 1},  {"Infinity", "5", 1},        {"-Infinity", "-1e308", -1},
        {"1e308", "-1e308", 1},        {"'  7 '", "7", 0},          {"'true'", "true", U},
    };
    for (const auto& c : cases)
        EXPECT_EQ(make(c.left).compare(make(c.right)), c.expected) << c.left << " <=> " << c.right;
    EXPECT_GT(make("'b'").compare(make("'a'")), 0);
    EXPECT_LT(make("'a'").compare(make("'ab'")), 0);
    EXPECT_EQ(make("'a'").compare(make("'a'")), 0);
}

// ---------------------------------------------------------------------------
// Text

TEST_F(VariantTest, TextFormsOfSimpleValues) {
    const struct {
        Variant value;
        const char* text;
    } cases[] = {
        {Variant(), "undefined"},
        {make("null"), "null"},
        {Variant(true), "true"},
        {Variant(false), "false"},
        {Variant(0.1 + 0.2), "0.3"},
        {Variant(-2147483647 - 1), "-2147483648"},
        {Variant(-2147483648.0), "-2147483648"},
        {Variant(2147483647), "2147483647"},
        {Variant(2147483648.0), "2147483648"},
        {Variant(4294967296.0), "4294967296"},
        {Variant(-0.0), "0"},
        {Variant(1e21), "1e+21"},
        {Variant(1e-7), "1e-7"},
        {Variant(kNaN), "NaN"},
        {Variant(-kInf), "-Infinity"},
        {Variant(DBL_MAX), "1.7976931348623157e+308"},
        {Variant("text"), "text"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(textOf(c.value), c.text);
        EXPECT_EQ(ascii(c.value.toString()), c.text);
        String out("previous");
        c.value.toString(out);
        EXPECT_EQ(ascii(out), c.text);
    }
}

TEST_F(VariantTest, RadixTextIsBuiltEveryTimeAndDecimalTextOnce) {
    Variant v(255);
    v.makeString(16);
    EXPECT_EQ(ascii(*v.getText()), "ff");
    EXPECT_EQ(v.getFlags() & Variant::kTextCurrent, 0);
    v.makeString(10);
    EXPECT_EQ(ascii(*v.getText()), "255");
    EXPECT_NE(v.getFlags() & Variant::kTextCurrent, 0);
    v.makeString(36);
    EXPECT_EQ(ascii(*v.getText()), "73");
    EXPECT_EQ(textOf(v), "255");

    const struct {
        f64 value;
        u32 radix;
        const char* text;
    } cases[] = {
        {-255.75, 16, "-ff"}, {1e21, 16, "3635c9adc5dea00000"}, {5, 2, "101"},
        {255, 1, "NaN"},      {255, 37, "NaN"},                 {kNaN, 16, "NaN"},
        {-0.0, 8, "0"},       {0.1 + 0.2, 0, "0.3"},
    };
    for (const auto& c : cases) {
        Variant n(c.value);
        n.makeString(c.radix);
        EXPECT_EQ(ascii(*n.getText()), c.text) << c.value << " radix " << c.radix;
    }
}

TEST_F(VariantTest, DecimalTextIsKeptUntilTheValueChanges) {
    Variant v(1.25);
    EXPECT_EQ(v.getText(), nullptr);
    const String* first = Variant::asString(v);
    EXPECT_EQ(ascii(*first), "1.25");
    EXPECT_EQ(Variant::asString(v), first);  // one text String for the Variant's life
    const unit* units = first->chars();
    Variant::asString(v);
    EXPECT_EQ(Variant::asString(v)->chars(), units);  // not rebuilt
    v.setNumber(-3.5);
    EXPECT_EQ(v.getFlags() & Variant::kTextCurrent, 0);
    EXPECT_EQ(textOf(v), "-3.5");
    v.setInt(-3);
    EXPECT_EQ(textOf(v), "-3");
    v.setBool(false);
    EXPECT_EQ(textOf(v), "false");
    EXPECT_EQ(Variant::asString(v), first);
}

TEST_F(VariantTest, ToNumberStringGivesTheFixedAndExponentialForms) {
    const struct {
        f64 value;
        i32 mode;
        i32 digits;
        const char* text;
    } cases[] = {
        {1.5, 1, 3, "1.500"},
        {1.5, 2, 2, "1.50e+0"},
        {1500, 2, 1, "1.5e+3"},
        {1500, 0, 15, "1500"},
        {1500, 7, 1, "1.5e+3"},     // modes above 2 count as 2
        {1500.5, -4, 15, "1500.5"}, // below 0 as 0
        {1.25, 1, -3, "1"},         // digits below 0 as 0
        {-0.0, 1, 2, "0.00"},
    };
    for (const auto& c : cases) {
        Variant v(c.value);
        EXPECT_EQ(ascii(*v.toNumberString(c.mode, c.digits)), c.text) << c.value;
    }
    Variant v(1.5);
    EXPECT_EQ(ascii(*v.toNumberString(1, 150)), ascii(*v.toNumberString(1, 100)));
    EXPECT_EQ(v.toNumberString(1, 100)->length(), 102);
    EXPECT_EQ(textOf(v), "1.5");  // the decimal text comes back after a fixed form
    Variant s("abc");
    EXPECT_EQ(ascii(*s.toNumberString(1, 2)), "abc");
    Variant b(true);
    EXPECT_EQ(ascii(*b.toNumberString(1, 2)), "true");
}

// ---------------------------------------------------------------------------
// Number, boolean, integer

TEST_F(VariantTest, ToNumberOfSimpleValues) {
    const struct {
        const char* value;
        f64 number;
    } cases[] = {
        {"undefined", kNaN}, {"null", 0},           {"true", 1},         {"false", 0},
        {"-0", -0.0},        {"'  12 '", 12},       {"'12 abc'", 12},    {"'12abc'", kNaN},
        {"''", 0},           {"'   '", 0},          {"'0x1F'", 31},      {"'010'", 10},
        {"'-'", kNaN},       {"'1e'", kNaN},        {"'Infinity'", kInf}, {"'1e999'", kInf},
        {"'5e-324'", 5e-324}, {"'-0'", -0.0},
    };
    for (const auto& c : cases) EXPECT_PRED2(same, make(c.value).toNumber(), c.number) << c.value;
}

TEST_F(VariantTest, NumberClassQueriesLookAtTheNumberValue) {
    EXPECT_TRUE(make("-0").isFinite());
    EXPECT_TRUE(make("-0").isNegativeZero());
    EXPECT_FALSE(make("0").isNegativeZero());
    EXPECT_TRUE(make("'-0'").isNegativeZero());
    EXPECT_TRUE(make("'abc'").isNaN());
    EXPECT_TRUE(make("undefined").isNaN());
    EXPECT_FALSE(make("Infinity").isFinite());
    EXPECT_FALSE(make("Infinity").isNaN());
    EXPECT_TRUE(make("null").isFinite());
    EXPECT_TRUE(make("'12'").isFinite());
}

TEST_F(VariantTest, ToBooleanOfSimpleValues) {
    const struct {
        const char* value;
        bool truth;
    } cases[] = {
        {"undefined", false}, {"null", false}, {"true", true},   {"false", false},
        {"0", false},         {"-0", false},   {"NaN", false},   {"1", true},
        {"-1", true},         {"Infinity", true}, {"5e-324", true}, {"''", false},
        {"'false'", true},    {"'0'", true},   {"' '", true},
    };
    for (const auto& c : cases) EXPECT_EQ(make(c.value).toBoolean(), c.truth) << c.value;
}

TEST_F(VariantTest, ToIntWithBoundsSaturatesThenClamps) {
    const struct {
        const char* value;
        i32 min;
        i32 max;
        i32 expected;
    } cases[] = {
        {"3e9", 0, 255, 255},
        {"-3e9", 0, 255, 0},
        {"NaN", 0, 255, 0},
        {"NaN", 5, 255, 5},
        {"Infinity", 0, 255, 255},
        {"-Infinity", -10, 10, -10},
        {"12.9", 0, 255, 12},
        {"-12.9", -100, 100, -12},
        {"'300'", 0, 255, 255},
        {"'abc'", -5, 5, 0},
        {"true", 0, 255, 1},
        {"null", 0, 255, 0},
        {"undefined", 0, 255, 0},
        {"7", 10, 5, 10},  // the lower bound is applied last
        {"1e300", INT32_MIN, INT32_MAX, INT32_MAX},
        {"-1e300", INT32_MIN, INT32_MAX, INT32_MIN},
        {"Infinity", INT32_MIN, INT32_MAX, INT32_MAX},
        {"-Infinity", INT32_MIN, INT32_MAX, INT32_MIN},
        {"2147483647.9", INT32_MIN, INT32_MAX, INT32_MAX},
        {"-2147483648.9", INT32_MIN, INT32_MAX, INT32_MIN},
        {"-0", -1, 1, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(make(c.value).toInt(c.min, c.max), c.expected) << c.value << " in " << c.min << ".."
                                                                 << c.max;
}

TEST_F(VariantTest, ToIntWrapsToThirtyTwoBits) {
    const struct {
        const char* value;
        i32 expected;
    } cases[] = {
        {"4294967295", -1},
        {"2147483648", INT32_MIN},
        {"4294967296", 0},
        {"4294967297", 1},
        {"-1", -1},
        {"-2147483649", 2147483647},
        {"1e10", 1410065408},
        {"-1e10", -1410065408},
        {"9.2e18", -1650982912},
        {"9223372036854775808", 0},  // 2^63 and beyond give 0
        {"-9223372036854775808", 0},
        {"1e300", 0},
        {"NaN", 0},
        {"Infinity", 0},
        {"-Infinity", 0},
        {"3.7", 3},
        {"-3.7", -3},
        {"-0", 0},
        {"'12'", 12},
        {"'4294967295'", -1},
        {"'abc'", 0},
        {"true", 1},
        {"null", 0},
        {"undefined", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(make(c.value).toInt(), c.expected) << c.value;
    Variant u;
    u.setUInt(0xFFFFFFFFu);
    EXPECT_EQ(u.toInt(), -1);
    Variant s;
    s.setInt(INT32_MIN);
    EXPECT_EQ(s.toInt(), INT32_MIN);
}

// ---------------------------------------------------------------------------
// Conversion in place

TEST_F(VariantTest, ConvertToSimpleTypes) {
    const struct {
        const char* value;
        u32 type;
        const char* text;
    } cases[] = {
        {"1.5", Variant::kString, "1.5"},
        {"0.1", Variant::kString, "0.1"},
        {"true", Variant::kString, "true"},
        {"undefined", Variant::kString, "undefined"},
        {"null", Variant::kString, "null"},
        {"'12'", Variant::kNumber, "12"},
        {"'abc'", Variant::kNumber, "NaN"},
        {"true", Variant::kNumber, "1"},
        {"undefined", Variant::kNumber, "NaN"},
        {"0", Variant::kBoolean, "false"},
        {"'x'", Variant::kBoolean, "true"},
        {"''", Variant::kBoolean, "false"},
        {"5", Variant::kNull, "null"},
        {"5", Variant::kUndefined, "undefined"},
        {"'a'", Variant::kScriptObject, "null"},
        {"7", Variant::kLiveObject, "null"},
    };
    for (const auto& c : cases) {
        Variant v = make(c.value);
        v.convertTo(c.type);
        u32 expectedType = c.type == Variant::kScriptObject || c.type == Variant::kLiveObject
                               ? u32(Variant::kNull)
                               : c.type;
        EXPECT_EQ(v.getType(), expectedType) << c.value;
        EXPECT_EQ(textOf(v), c.text) << c.value;
    }
}

TEST_F(VariantTest, ConvertToTheSameTypeChangesNothing) {
    Variant v(2.5);
    v.makeString(10);
    u16 flags = v.getFlags();
    v.convertTo(Variant::kNumber);
    EXPECT_EQ(v.getFlags(), flags);
    Variant s(" 12 ");
    s.convertTo(Variant::kString);
    EXPECT_EQ(textOf(s), " 12 ");
    s.convertTo(Variant::kNumber);
    EXPECT_EQ(s.toNumber(), 12);
    EXPECT_EQ(s.getFlags(), 0);
    EXPECT_EQ(textOf(s), "12");  // the old text is no number text
    Variant bad(1);
    bad.convertTo(999);
    EXPECT_EQ(bad.getType(), Variant::kNumber);
}

TEST_F(VariantTest, NumberToStringConversionKeepsTheDecimalText) {
    Variant v(0.1 + 0.2);
    v.convertTo(Variant::kString);
    EXPECT_EQ(v.getType(), Variant::kString);
    EXPECT_EQ(textOf(v), "0.3");
    EXPECT_EQ(v.toNumber(), 0.3);
}
