#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/ErrorCodes.h"
#include "core/LiteralParser.h"
#include "core/LiveCollection.h"
#include "core/LiveObject.h"
#include "core/tests/LiveTestSupport.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class LiteralParserTest : public ::testing::Test {
protected:
    CoreStarted core;
};

// A value as text: arrays in brackets, objects as {class: name=value,...}
// in the order their members were added.
std::string show(const Variant& v) {
    switch (v.getType()) {
        case Variant::kArray: {
            std::string out = "[";
            const Array& items = *v.getArray();
            for (u32 i = 0; i < items.length(); i++)
                out += (i ? "," : "") + show(items[i]);
            return out + "]";
        }
        case Variant::kLiveObject: {
            LiveObject& object = *v.getLiveObject();
            std::string out = "{" + text(object.getClassName()) + ":";
            SimpleArray ids;
            object.getPropertyIDs(ids, kListReadWrite | kListReadOnly | kScriptClient);
            for (i32 i = 0; i < ids.getCount(); i++) {
                String name;
                Variant value;
                object.getPropertyName(i32(ids.get(i)), name, kScriptClient);
                object.get(i32(ids.get(i)), value, nullptr);
                out += (i ? "," : "") + text(name) + "=" + show(value);
            }
            return out + "}";
        }
        case Variant::kString:
            return "'" + text(v.toString()) + "'";
        default:
            return text(v.toString());
    }
}

TEST_F(LiteralParserTest, ValuesOfTheNotation) {
    struct Case {
        const char* text;
        i32 status;
        const char* value;
        const char* rest;       // what parseListItem leaves
    };
    const Case cases[] = {
        {"1, 2", 0, "1", " 2"},
        {"{a: 1, b: 'x'}", 0, "{Object:a=1,b='x'}", ""},
        {"{'quoted name': [1, [2]], \"d\": \"q\\\"\"}", 0,
         "{Object:quoted name=[1,[2]],d='q\"'}", ""},
        {"{a: [1] b: 2}", 0, "{Object:a=[1],b=2}", ""},
        {"[{a: 1} 'x', [] 'y']", 0, "[{Object:a=1},'x',[],'y']", ""},
        {"[]", 0, "[]", ""},
        {"[1,]", 0, "[1]", ""},
        {"[1,", 0, "[1]", ""},
        {"[1, 2", 25, "undefined", ""},
        {"true", 0, "true", ""},
        {"false,", 0, "false", ""},
        {"null", 0, "null", ""},
        {" 12 ", 0, "12", ""},
        {"0x1F, 7", 0, "31", " 7"},
        {"Point", 0, "NaN", ""},
        {"Point {x: 1}", 21, "undefined", ""},
        {"{'bad: 1}", 25, "undefined", ""},
        {"{a 1}", 25, "undefined", ""},
        {"{1: 2}", 8, "undefined", ""},
        {"[1 2]", 0, "[1]", ""},      // a word converts as a string does: "1 2" is 1
        {"[{a: 1} 2]", 25, "undefined", ""},
        {"{a: 1", 25, "undefined", ""},
        {"'unterminated", 25, "undefined", ""},
        {"", 8, "undefined", ""},
        {"   ", 8, "undefined", ""},
    };
    for (const Case& c : cases) {
        String rest(c.text);
        Variant out;
        EXPECT_EQ(parseListItem(rest, out, kScriptClient), c.status) << c.text;
        if (c.status == 0) {
            EXPECT_EQ(show(out), c.value) << c.text;
            EXPECT_EQ(text(rest), c.rest) << c.text;
        }
    }
}

TEST_F(LiteralParserTest, AnObjectsMembersAreReadWriteAndItsClassDynamic) {
    String rest("{a: 1}");
    Variant out;
    ASSERT_EQ(parseListItem(rest, out, kScriptClient), 0);
    LiveObject& object = *out.getLiveObject();
    EXPECT_EQ(object.getRefCount(), 1u);
    EXPECT_EQ(object.getFlags() & kLiveDynamic, kLiveDynamic);
    i32 id;
    u32 kind;
    ASSERT_EQ(object.findProperty(String("a"), id, kind, kScriptClient), 0);
    EXPECT_EQ(kind, kKindReadWrite);
    EXPECT_GE(id, kFirstSerialId);
}

// A registered class is built by name; its fixed members are set, and a
// class that takes no new members refuses unknown names.
TEST_F(LiteralParserTest, ClassNamesBuildRegisteredObjects) {
    class Point : public LiveObject {
    public:
        explicit Point(bool dynamic) : LiveObject("Point", dynamic) {
            addProperty(String("x"), 1, 2);
        }
    };
    Held<Point> factory(new Point(true));
    ASSERT_EQ(LiveObject::registerClass(*factory, kScriptClient), 0);
    String rest("Point {x: 3}, Point{x: 4, y: 5}");
    Variant out;
    ASSERT_EQ(parseListItem(rest, out, kScriptClient), 0);
    EXPECT_EQ(show(out), "{Point:x=3}");
    ASSERT_EQ(parseListItem(rest, out, kScriptClient), 0);
    EXPECT_EQ(show(out), "{Point:x=4,y=5}");
    rest = "Point {x: 1}";
    EXPECT_EQ(parseListItem(rest, out, 0x20000), 21);

    class Closed : public LiveObject {
    public:
        Closed() : LiveObject("Closed", false) {}
    };
    Held<Closed> closed(new Closed);
    ASSERT_EQ(LiveObject::registerClass(*closed, kScriptClient), 0);
    rest = "Closed {x: 1}";
    EXPECT_EQ(parseListItem(rest, out, kScriptClient), 55);
    LiveObject::unregisterClass(String("Point"));
    LiveObject::unregisterClass(String("Closed"));
}

TEST_F(LiteralParserTest, ArraysFromText) {
    struct Case {
        const char* text;
        i32 status;
        const char* items;
    };
    const Case cases[] = {
        {"{a: 1, b: [1, 2]}, 'x'", 0, "[{Object:a=1,b=[1,2]},'x']"},
        {"1, 2, 3", 0, "[1,2,3]"},
        {"1,", 0, "[1]"},
        {"", 0, "[]"},
        {"  ", 0, "[]"},
        {"]", 8, "[]"},
        {"a}b", 8, "[NaN]"},
        {"1, [2, {3: 4}]", 8, "[1]"},
        {"1, {a: [1, 2}", 25, "[1]"},
    };
    for (const Case& c : cases) {
        Array array;
        EXPECT_EQ(array.appendParsed(String(c.text), kScriptClient), c.status) << c.text;
        Variant value;
        value.setArray(array);
        EXPECT_EQ(show(value), c.items) << c.text;
    }
    // A string converts to an array the same way.
    Variant converted("{a: 1, b: [1, 2]}, 'x'");
    converted.convertTo(Variant::kArray);
    EXPECT_EQ(show(converted), "[{Object:a=1,b=[1,2]},'x']");
}

TEST_F(LiteralParserTest, NestingDeeperThanTheLimitIsAStackOverrun) {
    std::string deep(100000, '[');
    Array array;
    EXPECT_EQ(array.appendParsed(String(deep.c_str()), kScriptClient), Err::kStackOverrun);
    std::string objects;
    for (int i = 0; i < 1000; i++)
        objects += "{a: ";
    EXPECT_EQ(array.appendParsed(String(objects.c_str()), kScriptClient), Err::kStackOverrun);
    std::string fits = std::string(kMaxLiteralDepth - 1, '[') + std::string(kMaxLiteralDepth - 1, ']');
    EXPECT_EQ(array.appendParsed(String(fits.c_str()), kScriptClient), 0);
}

}  // namespace
}  // namespace LxCore
