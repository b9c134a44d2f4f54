#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/String.h"
#include "core/Variant.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"
#include "script/composition/InitTerm.h"
#include "script/frontend/DataPool.h"

namespace LxScript {

struct DataPoolProbe {
    static DataPoolData& store() { return *DataPool::get().data; }
};

namespace {

using LxCore::String;
using LxCore::str;
using LxCore::Variant;

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class DataPoolTest : public ::testing::Test {
protected:
    void SetUp() override { InitTerm::init(); }
    void TearDown() override { InitTerm::exit(); }

    DataPool& pool = DataPool::get();
};

// The predefined ids, by first id of each run of texts.
struct PredefinedRun {
    int first;
    std::vector<std::string> texts;
};

const PredefinedRun kPredefinedRuns[] = {
    {0, {"", "typeof", "delete", "void", "++", "--", "++", "--", "~", "!", "+", "-"}},
    {12, {"*", "/", "%", "+", "-", "<<", ">>", ">>>", "<", "<=", ">", ">=", "in", "instanceof"}},
    {26, {"==", "!=", "===", "!==", "&", "|", "^", "&&", "||", "?:", ","}},
    {37, {"*=", "/=", "%=", "+=", "-=", "<<=", ">>=", ">>>=", "=", "&=", "|=", "^="}},
    {49, {"abstract", "boolean", "break", "byte", "case", "catch", "char", "class", "const",
          "continue", "debugger", "default", "delete", "do", "double", "else", "enum", "export",
          "extends", "false", "final", "finally", "float", "for", "function", "goto", "if"}},
    {76, {"implements", "import", "in", "instanceof", "int", "interface", "long", "native", "new",
          "null", "package", "private", "protected", "public", "return", "short", "static",
          "super", "switch", "synchronized", "this", "throw", "throws", "transient", "true",
          "try", "typeof", "var", "void", "volatile", "while", "with"}},
    {108, {".index", ".number", ".name", "callee", "arguments", "prototype", "toString",
           "valueOf", "length", "undefined", "number", "string", "object", "get", "getter",
           "set", "setter", "constructor", "__proto__", "[eval]", "[toplevel]", "anonymous",
           "-0", "$", "AND", "OR", "XOR", "Infinity", "NaN"}},
    {137, {"Array", "Boolean", "Date", "Error", "Function", "Math", "Number", "Object", "RegExp",
           "String", "LiveObject", "Reflection", "ReflectionInfo", "Dictionary", "XML",
           "XMLList", "each", "namespace", "xml"}},
};

TEST_F(DataPoolTest, PredefinedIdsReadBackTheirTexts) {
    int next = 0;
    for (const PredefinedRun& run : kPredefinedRuns) {
        ASSERT_EQ(run.first, next) << "the runs cover every id once";
        for (const std::string& text : run.texts) {
            int id = next++;
            bool upper = !text.empty() && text[0] >= 'A' && text[0] <= 'Z';
            EXPECT_EQ(str(pool.getSymbol(id)), widen(text)) << id;
            EXPECT_EQ(str(pool.getSymbol(id | DataPool::kUpperCaseTag)), widen(text)) << id;
            // Interning gives the id back, with the tag for an upper-case
            // first letter; a text that occurs twice gives the later id.
            int interned = pool.add(text.c_str());
            if (interned == id + (upper ? DataPool::kUpperCaseTag : 0))
                continue;
            EXPECT_GT(interned & DataPool::kPayloadMask, id) << text;
            EXPECT_EQ(str(pool.getSymbol(interned)), widen(text));
        }
    }
    EXPECT_EQ(next, DataPool::kLastPredefined + 1);
    const int fresh = pool.add("notYetInterned");
    EXPECT_GT(fresh, DataPool::kLastPredefined);
    EXPECT_EQ(str(pool.getSymbol(fresh + 1)), u"") << "nothing past the last id yet";
}

TEST_F(DataPoolTest, InterningKnownTexts) {
    const struct {
        const char* text;
        int id;
    } cases[] = {
        {"", 0},
        {"typeof", 102},
        {"delete", 61},
        {"void", 104},
        {"in", 78},
        {"instanceof", 79},
        {"+", 15},
        {"-", 16},
        {"++", 6},
        {"--", 7},
        {"prototype", 113},
        {"AND", 0x20000084},
        {"Infinity", 0x20000087},
        {"NaN", 0x20000088},
        {"Array", 0x20000089},
        {"Object", 0x20000090},
        {"XML", 0x20000097},
        {"XMLList", 0x20000098},
        {"xml", 155},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pool.add(c.text), c.id) << c.text;
        std::u16string wide = widen(c.text);
        EXPECT_EQ(pool.add(wide.c_str()), c.id) << c.text;
        EXPECT_EQ(pool.add(Variant(c.text)), c.id) << c.text;
    }
    EXPECT_EQ(str(pool.getSymbol(1)), u"typeof");
    EXPECT_EQ(str(pool.getSymbol(102)), u"typeof");
}

TEST_F(DataPoolTest, NewNamesGetLastingIds) {
    int widget = pool.add("Widget");
    EXPECT_EQ(widget & DataPool::kTagMask, DataPool::kUpperCaseTag);
    EXPECT_TRUE(DataPool::isUpperCase(widget));
    EXPECT_EQ(str(pool.getSymbol(widget)), u"Widget");
    EXPECT_EQ(pool.add(u"Widget"), widget);

    int lower = pool.add("widget");
    EXPECT_EQ(lower & DataPool::kTagMask, DataPool::kSymbolTag);
    EXPECT_FALSE(DataPool::isUpperCase(lower));
    EXPECT_NE(lower & DataPool::kPayloadMask, widget & DataPool::kPayloadMask);
    EXPECT_EQ(pool.add(Variant("widget")), lower);
    // Only 'A'..'Z' tags a name.
    EXPECT_FALSE(DataPool::isUpperCase(pool.add(u"\u00C4pfel")));
    EXPECT_FALSE(DataPool::isUpperCase(pool.add("_Private")));
}

// The scanner interns names with the hash it made on the way: the same ids
// as adding the texts, new names, keywords, upper-case tags, long texts,
// texts beyond ASCII and texts that only differ late alike.
TEST_F(DataPoolTest, NamesHashedByTheCallerGetTheIdsOfTheirTexts) {
    DataPool& pool = DataPool::get();
    const std::u16string names[] = {
        u"var", u"function", u"x", u"Array", u"AND", u"$", u"_a1", u"name_never_seen_before_1",
        u"name_never_seen_before_2", std::u16string(40, u'q') + u"1", std::u16string(40, u'q') + u"2",
        u"\u00e9t\u00e9", u"Zz",
    };
    for (int round = 0; round < 2; round++) {
        for (const std::u16string& name : names) {
            u32 hash = DataPool::kHashStart;
            for (char16_t c : name)
                hash = DataPool::hashStep(hash, c);
            const i32 length = i32(name.size());
            const DataPoolId byName = pool.addName(name.data(), length, hash);
            EXPECT_EQ(byName, pool.add(name.data(), length)) << round;
            EXPECT_EQ(pool.getSymbol(byName), String(name.data(), length)) << round;
        }
    }
}

TEST_F(DataPoolTest, IntegerLiteralsAndSymbols) {
    const struct {
        const char* text;
        int integer;        // -1: a symbol
    } cases[] = {
        {"0", 0},
        {"7", 7},
        {"42", 42},
        {"536870911", 536870911},
        {"536870912", -1},
        {"99999999999999999999", -1},
        {"4294967296", -1},     // wraps to 0 in 32 bits
        {"5368709120", -1},
        {"00", -1},
        {"007", -1},
        {"1e3", -1},
        {"+1", -1},
        {"-1", -1},
        {"1 ", -1},
        {" 1", -1},
        {"12a", -1},
    };
    for (const auto& c : cases) {
        std::u16string wide = widen(c.text);
        for (int id : {pool.add(c.text), pool.add(wide.c_str()), pool.add(Variant(c.text))}) {
            if (c.integer >= 0) {
                EXPECT_EQ(id, DataPool::kIntegerTag | c.integer) << c.text;
            } else {
                EXPECT_EQ(id & DataPool::kTagMask, DataPool::kSymbolTag) << c.text;
                EXPECT_GT(id, DataPool::kLastPredefined) << c.text;
            }
            EXPECT_EQ(str(pool.getSymbol(id)), wide) << c.text;
        }
    }
}

TEST_F(DataPoolTest, NumbersAndOtherValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        int id;             // 0: a new symbol of the text
        const char16_t* text;
    } cases[] = {
        {0.0, 0x60000000, u"0"},
        {-0.0, 0x60000000, u"0"},
        {5.0, 0x60000005, u"5"},
        {536870911.0, 0x7FFFFFFF, u"536870911"},
        {536870912.0, 0, u"536870912"},
        {3e9, 0, u"3000000000"},
        {0.5, 0, u"0.5"},
        {-1.0, 0, u"-1"},
        {nan, 0x20000088, u"NaN"},
        {inf, 0x20000087, u"Infinity"},
    };
    for (const auto& c : cases) {
        for (int id : {pool.add(c.value), pool.add(Variant(c.value))}) {
            if (c.id)
                EXPECT_EQ(id, c.id);
            else
                EXPECT_GT(id, DataPool::kLastPredefined);
            EXPECT_EQ(str(pool.getSymbol(id)), std::u16string(c.text));
        }
    }
    EXPECT_EQ(pool.add(LxCore::u32(5)), 0x60000005);
    EXPECT_EQ(pool.add(LxCore::u32(536870911)), 0x7FFFFFFF);
    int big = pool.add(LxCore::u32(536870912));
    EXPECT_EQ(big & DataPool::kTagMask, DataPool::kSymbolTag);
    EXPECT_EQ(str(pool.getSymbol(big)), u"536870912");
    EXPECT_EQ(pool.add(LxCore::u32(0xFFFFFFFF)), pool.add("4294967295"));

    Variant null;
    null.setNull();
    EXPECT_EQ(pool.add(null), DataPool::kNull);
    EXPECT_EQ(pool.add(Variant()), 117);
    EXPECT_EQ(pool.add(Variant(true)), DataPool::kTrue);
    EXPECT_EQ(pool.add(Variant(false)), DataPool::kFalse);
    EXPECT_EQ(pool.add(LxCore::unit('+')), 0x4000002B);
}

TEST_F(DataPoolTest, TaggedIdsCarryTheirText) {
    const struct {
        int id;
        const char16_t* text;
    } cases[] = {
        {int(0x80002f2f), u"//"},
        {int(0x8000003d), u"="},
        {int(0x803d3e3e), u">>="},
        {0x40000000 + '+', u"+"},
        {0x40000000 + 0x263A, u"\u263A"},
        {0x60000000, u"0"},
        {0x6000002A, u"42"},
        {0x7FFFFFFF, u"536870911"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(str(pool.getSymbol(c.id)), std::u16string(c.text)) << std::hex << c.id;
    // Indexes past the count read as the empty text, whatever the tag.
    EXPECT_EQ(str(pool.getSymbol(0x1FFFFFFF)), u"");
    EXPECT_EQ(str(pool.getSymbol(0x3FFFFFFF)), u"");
    EXPECT_EQ(str(pool.getSymbol(int(0xE0000071))), u"prototype") << "unused tags read as symbols";
}

TEST_F(DataPoolTest, Values) {
    Variant v;
    pool.getValue(68, v);
    EXPECT_EQ(v.getType(), Variant::kBoolean);
    EXPECT_FALSE(v.toBoolean());
    pool.getValue(85, v);
    EXPECT_EQ(v.getType(), Variant::kNull);
    pool.getValue(100, v);
    EXPECT_EQ(v.getType(), Variant::kBoolean);
    EXPECT_TRUE(v.toBoolean());
    pool.getValue(117, v);
    EXPECT_EQ(v.getType(), Variant::kString);
    EXPECT_EQ(str(v.toString()), u"undefined");
    pool.getValue(0x6000002A, v);
    EXPECT_EQ(v.getType(), Variant::kNumber);
    EXPECT_EQ(v.toNumber(), 42);
    pool.getValue(0x40000041, v);
    EXPECT_EQ(v.getType(), Variant::kString);
    EXPECT_EQ(str(v.toString()), u"A");
    pool.getValue(int(0x80002f2f), v);
    EXPECT_EQ(str(v.toString()), u"//");
    pool.getValue(pool.add("1e3"), v);
    EXPECT_EQ(v.getType(), Variant::kString) << "a symbol's value is its text";
}

TEST_F(DataPoolTest, NumbersOfIds) {
    EXPECT_EQ(pool.getNumber(pool.add("1e3")), 1000);
    EXPECT_EQ(pool.getNumber(pool.add("-2.5")), -2.5);
    EXPECT_TRUE(std::isnan(pool.getNumber(pool.add("abc"))));
    EXPECT_EQ(pool.getNumber(0), 0) << "the empty text";
    EXPECT_EQ(pool.getNumber(0x60000007), 7);
    EXPECT_EQ(pool.getNumber(0x40000041), 65);
    EXPECT_EQ(pool.getNumber(pool.add("Infinity")), 0) << "upper-case symbols";
    EXPECT_EQ(pool.getNumber(int(0x80002f2f)), 0);
    EXPECT_EQ(pool.getNumber(int(0xA0000005)), 5);

    EXPECT_EQ(pool.getInteger(0x6000002A), 42);
    EXPECT_EQ(pool.getInteger(pool.add("-5")), -5);
    EXPECT_EQ(pool.getInteger(pool.add("abc")), 0);
    EXPECT_EQ(pool.getInteger(pool.add("4294967297")), 1) << "wraps to 32 bits";
    EXPECT_EQ(pool.getUInteger(pool.add("-1")), 0xFFFFFFFFu);
    EXPECT_EQ(pool.getInteger(DataPool::kTrue), 1);
}

TEST_F(DataPoolTest, NumberAndIntegerTests) {
    const struct {
        const char* text;
        bool number, integer, uinteger;
    } cases[] = {
        {"1e3", true, false, false},
        {".5", true, false, false},
        {"-1", true, false, false},
        {"+Infinity", true, false, false},
        {"0x1F", true, false, false},
        {"1.5", true, false, false},
        {"012", true, false, false},
        {"2147483647", true, true, true},
        {"2147483648", true, false, true},
        {"4294967295", true, false, true},
        {"4294967296", true, false, false},
        {"abc", false, false, false},
        {"1x", false, false, false},
        {"", false, false, false},
    };
    for (const auto& c : cases) {
        int id = pool.add(c.text);
        EXPECT_EQ(pool.isNumber(id), c.number) << c.text;
        EXPECT_EQ(pool.isInteger(id), c.integer) << c.text;
        EXPECT_EQ(pool.isUInteger(id), c.uinteger) << c.text;
    }
    int fortyTwo = pool.add("42");
    EXPECT_TRUE(pool.isNumber(fortyTwo));
    EXPECT_TRUE(pool.isInteger(fortyTwo));
    EXPECT_TRUE(pool.isInteger(DataPool::kMinusZero));
    EXPECT_TRUE(pool.isUInteger(DataPool::kMinusZero));
    EXPECT_FALSE(pool.isInteger(116)) << "length";
    EXPECT_FALSE(pool.isNumber(pool.add("Infinity"))) << "tagged: a number only as an integer";
    EXPECT_FALSE(pool.isNumber(0x40000031));
}

TEST_F(DataPoolTest, TextsWithZeroUnitsKeepTheirLength) {
    const char16_t units[] = {u'a', 0, u'b'};
    String text(units, 3);
    int id = pool.add(Variant(text));
    EXPECT_NE(id, pool.add("a"));
    EXPECT_EQ(str(pool.getSymbol(id)), std::u16string(units, 3));
    EXPECT_EQ(pool.add(Variant(text)), id);
}

TEST_F(DataPoolTest, NullTextsAreTheEmptyText) {
    EXPECT_EQ(pool.add(static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(pool.add(static_cast<const LxCore::unit*>(nullptr)), 0);
}

// Each case first fills the buffer so that the text does not fit.
TEST_F(DataPoolTest, BufferGrowsInPages) {
    const struct {
        LxCore::u32 units;
        LxCore::u64 growth;
    } cases[] = {
        {1, 4096}, {1000, 4096}, {2047, 4096}, {2048, 8192}, {4000, 8192}, {5000, 12288},
    };
    DataPoolData& store = DataPoolProbe::store();
    int caseNumber = 0;
    for (const auto& c : cases) {
        LxCore::u64 need = LxCore::u64(c.units) * 2 + 2;
        if (store.capacity - store.used >= need) {
            std::u16string filler = u"filler" + widen(std::to_string(caseNumber));
            filler.resize((store.capacity - store.used - need) / 2, u'f');
            pool.add(filler.c_str());
        }
        ASSERT_LT(store.capacity - store.used, need);
        LxCore::u64 before = store.capacity;
        std::u16string text = u"k" + widen(std::to_string(caseNumber++));
        text.resize(c.units, u'y');
        int id = pool.add(text.c_str());
        EXPECT_EQ(store.capacity - before, c.growth) << c.units;
        EXPECT_EQ(str(pool.getSymbol(id)), text);
    }
}

TEST_F(DataPoolTest, ManySymbols) {
    constexpr int kCount = 200000;
    std::vector<int> ids;
    ids.reserve(kCount);
    // The library's start interns names of its own (the built-in classes').
    const int first = int(DataPoolProbe::store().count);
    for (int i = 0; i < kCount; i++)
        ids.push_back(pool.add(("name" + std::to_string(i)).c_str()));
    for (int i = 0; i < kCount; i++) {
        ASSERT_EQ(ids[i], first + i);
        ASSERT_EQ(pool.add(("name" + std::to_string(i)).c_str()), ids[i]);
    }
    EXPECT_EQ(str(pool.getSymbol(ids[kCount - 1])), u"name199999");
    EXPECT_EQ(pool.add("typeof"), 102) << "the predefined ids hold";
}

TEST_F(DataPoolTest, SymbolIdsNeverReachTheTagBits) {
    DataPoolData& store = DataPoolProbe::store();
    LxCore::u32 count = store.count;
    store.maxSymbols = count + 1;
    int last = pool.add("lastOne");
    EXPECT_EQ(LxCore::u32(last), count);
    EXPECT_THROW(pool.add("oneTooMany"), std::bad_alloc);
    EXPECT_EQ(store.count, count + 1);
    EXPECT_EQ(pool.add("lastOne"), last) << "known texts are still found";
    EXPECT_EQ(pool.add("17"), 0x60000011) << "integers need no symbol";
    store.maxSymbols = DataPoolData::kMaxSymbols;
    EXPECT_EQ(LxCore::u32(pool.add("oneTooMany")), count + 1);
}

TEST_F(DataPoolTest, FailedGrowthChangesNothing) {
    DataPoolData& store = DataPoolProbe::store();
    std::u16string big(20000, u'z');
    LxCore::u32 count = store.count;
    LxCore::u64 used = store.used;
    LxCore::u64 capacity = store.capacity;
    {
        LxCore::TestAllocator failing;
        failing.failures = 1000;
        LxCore::UsingAllocator scope(&failing);
        EXPECT_THROW(pool.add(big.c_str()), std::bad_alloc);
    }
    EXPECT_EQ(store.count, count);
    EXPECT_EQ(store.used, used);
    EXPECT_EQ(store.capacity, capacity);
    EXPECT_EQ(LxCore::u32(pool.add(big.c_str())), count);
    EXPECT_EQ(str(pool.getSymbol(int(count))), big);
}

// The core stays up throughout, so that only the pool comes and goes.
TEST(DataPoolLife, UseOutsideTheLibraryIsAClearError) {
    LxCore::CoreStarted core;
    DataPool& pool = DataPool::get();
    EXPECT_THROW(pool.add("name"), std::logic_error);
    EXPECT_THROW(pool.getSymbol(113), std::logic_error);

    InitTerm::init();
    int first = pool.add("firstSession");
    EXPECT_GT(first, DataPool::kLastPredefined);
    InitTerm::exit();

    EXPECT_THROW(pool.add(u"name"), std::logic_error);
    EXPECT_THROW(pool.getSymbol(first), std::logic_error);
    EXPECT_THROW(pool.isNumber(first), std::logic_error);
    // Ids that carry their value need no store.
    EXPECT_EQ(pool.add("42"), 0x6000002A);
    EXPECT_EQ(str(pool.getSymbol(0x6000002A)), u"42");
    EXPECT_EQ(str(pool.getSymbol(int(0x80002f2f))), u"//");
    EXPECT_TRUE(pool.isInteger(0x6000002A));

    InitTerm::init();
    EXPECT_EQ(str(pool.getSymbol(first)), u"") << "a new session starts a new pool";
    EXPECT_EQ(pool.add("secondSession"), first);
    EXPECT_EQ(pool.add("typeof"), 102);
    InitTerm::exit();
}

}  // namespace
}  // namespace LxScript
