// The scriptable byte buffer, driven by member name as a script would.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <initializer_list>
#include <string>

#include "core/ByteArray.h"
#include "core/Encoder.h"
#include "core/LivePropertyManager.h"
#include "core/Variant.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class ByteArrayTest : public ::testing::Test {
protected:
    CoreStarted core;
    ByteArray* array = nullptr;

    void SetUp() override { array = make(); }
    void TearDown() override {
        if (array)
            array->release();
    }

    static ByteArray* make() {
        LiveObject* made = nullptr;
        EXPECT_EQ(LiveObject::createInstance(made, String("ByteArray"), kScriptClient), 0);
        return made ? static_cast<ByteArray*>(made->getInterface(kByteArrayInterface)) : nullptr;
    }

    static i32 call(ByteArray* on, const char* name, std::initializer_list<Variant> args, Variant* out = nullptr) {
        Array list;
        u32 i = 0;
        for (const Variant& v : args)
            list[i++] = v;
        Variant result;
        Error error;
        const i32 status = on->callMethod(String(name), list, result, &error);
        if (out)
            *out = result;
        return status;
    }
    i32 call(const char* name, std::initializer_list<Variant> args, Variant* out = nullptr) {
        return call(array, name, args, out);
    }

    i32 put(const char* name, const Variant& value) {
        i32 id;
        u32 kind;
        EXPECT_EQ(array->findProperty(String(name), id, kind, kScriptClient), 0) << name;
        Error error;
        return array->put(id, value, &error);
    }

    Variant get(const char* name) {
        i32 id;
        u32 kind;
        EXPECT_EQ(array->findProperty(String(name), id, kind, kScriptClient), 0) << name;
        Variant value;
        Error error;
        array->get(id, value, &error);
        return value;
    }

    std::string bytes() {
        std::string out;
        for (u32 i = 0; i < array->getByteLength(); i++) {
            Variant item;
            array->getItem(i, item, nullptr);
            char text[4];
            std::snprintf(text, sizeof text, "%02X", unsigned(item.toNumber()));
            out += (i ? " " : "") + std::string(text);
        }
        return out;
    }

    void clear() {
        put("length", Variant(0));
        put("position", Variant(0));
    }

    void write(std::initializer_list<int> values) {
        for (int v : values)
            EXPECT_EQ(call("writeByte", {Variant(v)}), 0);
    }
};

TEST_F(ByteArrayTest, ByteOrderPositionsAndText) {
    EXPECT_EQ(get("length").toNumber(), 0);
    EXPECT_EQ(get("position").toNumber(), 0);
    EXPECT_EQ(N(get("endian").toString()), "bigEndian");
    call("writeShort", {Variant(0x1234)});
    EXPECT_EQ(put("endian", Variant("littleEndian")), 0);
    call("writeShort", {Variant(0x1234)});
    EXPECT_EQ(bytes(), "12 34 34 12");
    EXPECT_EQ(put("endian", Variant("middle")), 20);

    // readInt with three bytes left fails and stays put.
    EXPECT_EQ(put("position", Variant(1)), 0);
    EXPECT_EQ(call("readInt", {}), 51);
    EXPECT_EQ(get("position").toNumber(), 1);

    // A position past the end is accepted; a write there grows the array.
    EXPECT_EQ(put("position", Variant(10)), 0);
    EXPECT_EQ(get("bytesAvailable").toNumber(), f64(u32(4 - 10)));
    call("writeByte", {Variant(0x1FF)});
    EXPECT_EQ(bytes(), "12 34 34 12 00 00 00 00 00 00 FF");

    // readUTF: a 16-bit length, then the text.
    clear();
    put("endian", Variant("bigEndian"));
    write({0, 3, 'a', 'b', 'c'});
    put("position", Variant(0));
    Variant text;
    EXPECT_EQ(call("readUTF", {}, &text), 0);
    EXPECT_EQ(N(text.toString()), "abc");
    EXPECT_EQ(get("position").toNumber(), 5);
    // A length past the end fails and leaves the position.
    clear();
    write({0, 9, 'a'});
    put("position", Variant(0));
    EXPECT_EQ(call("readUTF", {}), 51);
    EXPECT_EQ(get("position").toNumber(), 0);

    // Items: reading at the length fails, writing past it grows.
    Variant item;
    EXPECT_EQ(array->getItem(3, item, nullptr), 41);
    EXPECT_EQ(array->putItem(3 + 5, Variant(7), nullptr), 0);
    EXPECT_EQ(array->getByteLength(), 9u);
    EXPECT_EQ(bytes(), "00 09 61 00 00 00 00 00 07");

    // Texts.
    struct Case {
        std::initializer_list<int> data;
        std::u16string text;
    } texts[] = {
        {{0xEF, 0xBB, 0xBF, 0x41}, u"A"},
        {{0xFF, 0xFE, 0x41, 0x00}, std::u16string(u"\u00FF\u00FEA") + char16_t(0)},
        {{0xFF, 0xFE}, u""},
        {{0xC3, 0xA9, 0xF0, 0x41}, u"\u00E9\u00F0A"},
    };
    setCurrentEncoder(utf8Encoder());
    for (const Case& c : texts) {
        clear();
        write(c.data);
        String out;
        array->toString(out);
        EXPECT_EQ(str(out), c.text);
    }
    setCurrentEncoder(nullptr);

    // "DATA" keeps the bytes as they lie: two to a unit.
    clear();
    write({0x41, 0x42});
    put("position", Variant(0));
    EXPECT_EQ(call("readMultiByte", {Variant(2), Variant("DATA")}, &text), 0);
    const String data = text.toString();
    ASSERT_EQ(data.length(), 2);
    const unit both = data[0];
    EXPECT_EQ(reinterpret_cast<const u8*>(&both)[0], 0x41);
    EXPECT_EQ(reinterpret_cast<const u8*>(&both)[1], 0x42);
    EXPECT_EQ(data[1], 0);
}

TEST_F(ByteArrayTest, SumsNeverWrap) {
    ByteArray* other = make();
    write({1, 2, 3, 4, 5, 6, 7, 8});
    put("position", Variant(0));
    call(other, "writeByte", {Variant(9)});
    const f64 huge = 4294967295.0;
    struct Case {
        const char* what;
        std::function<i32()> run;
        i32 status;
    } cases[] = {
        {"putItem 0xFFFFFFFF", [&] { return array->putItem(0xFFFFFFFF, Variant(1), nullptr); }, 41},
        {"position NaN", [&] { return put("position", Variant(NAN)); }, 41},
        {"position -1", [&] { return put("position", Variant(-1)); }, 41},
        {"position 2^31", [&] { return put("position", Variant(2147483648.0)); }, 41},
        {"length -1", [&] { return put("length", Variant(-1)); }, 41},
        {"length 2^32-1", [&] { return put("length", Variant(huge)); }, 41},
        {"writeInt at 2^31-2", [&] {
             put("position", Variant(2147483646.0));
             const i32 status = call("writeInt", {Variant(1)});
             put("position", Variant(0));
             return status;
         }, 41},
        {"readBytes offset 0x7FFFFFF8", [&] { return call("readBytes", {Variant(*other, 0), Variant(2147483640.0), Variant(8)}); }, 41},
        {"readBytes count 2^32-1", [&] { return call("readBytes", {Variant(*other, 0), Variant(0), Variant(huge)}); }, 41},
        {"readBytes past the end", [&] { return call("readBytes", {Variant(*other, 0), Variant(0), Variant(9)}); }, 51},
        {"writeBytes count 2^32-1", [&] { return call("writeBytes", {Variant(*other, 0), Variant(0), Variant(huge)}); }, 41},
        {"writeBytes offset past the source", [&] { return call("writeBytes", {Variant(*other, 0), Variant(2), Variant(0)}); }, 41},
        {"readUTFBytes 2^32-1", [&] { return call("readUTFBytes", {Variant(huge)}); }, 41},
        {"readUTFBytes past the end", [&] { return call("readUTFBytes", {Variant(9)}); }, 51},
        {"readMultiByte NaN", [&] { return call("readMultiByte", {Variant(NAN), Variant("DATA")}); }, 41},
        {"readBytes into a number", [&] { return call("readBytes", {Variant(1)}); }, 20},
    };
    for (const Case& c : cases) {
        const std::string before = bytes();
        EXPECT_EQ(c.run(), c.status) << c.what;
        EXPECT_EQ(bytes(), before) << c.what;
        EXPECT_EQ(get("position").toNumber(), 0) << c.what;
    }
    // An odd cut loses its byte for good: growing again reads 0.
    put("length", Variant(3));
    put("length", Variant(4));
    EXPECT_EQ(bytes(), "01 02 03 00");
    // One array into itself: the bytes move as by memmove.
    EXPECT_EQ(call("readBytes", {Variant(*array, 0), Variant(2), Variant(2)}), 0);
    EXPECT_EQ(bytes(), "01 02 01 02");
    other->release();
}

TEST_F(ByteArrayTest, ClassObjectGetsAndSetsTheData) {
    LiveObject* factory = LiveObject::findClass(String("ByteArray"), kScriptClient);
    ASSERT_NE(factory, nullptr);
    write({0x41, 0x42, 0x43});
    Variant data;
    Array args;
    args[0] = Variant(*array, 0);
    Error error;
    ASSERT_EQ(factory->callMethod(String("getBytes"), args, data, &error), 0);
    ASSERT_EQ(data.toString().length(), 2);
    args[1] = Variant(data.toString().substr(0, 1));
    EXPECT_EQ(factory->callMethod(String("setBytes"), args, data, &error), 0);
    EXPECT_EQ(bytes(), "41 42");
    Array notArray;
    notArray[0] = Variant(3);
    EXPECT_EQ(factory->callMethod(String("getBytes"), notArray, data, &error), 20);
}

}  // namespace
}  // namespace LxCore
