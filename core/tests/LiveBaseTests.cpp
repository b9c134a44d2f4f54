#include <gtest/gtest.h>

#include <string>

#include "core/Broadcaster.h"
#include "core/LiveBase.h"
#include "core/LiveObject.h"
#include "core/LiveProperty.h"
#include "core/tests/LiveTestSupport.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class LiveBaseTest : public ::testing::Test {
protected:
    CoreStarted core;
};

TEST_F(LiveBaseTest, DescriptionsNameTheMemberOrTheClassAndId) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    struct Case {
        i32 id;
        bool isIndex;
        const char* text;
    };
    const Case cases[] = {
        {42, false, "{LiveObject(\"Foo\").property(42)}"},
        {-9999, false, "{LiveObject(\"Foo\").property(-9999)}"},
        {10000, false, "{LiveObject(\"Foo\").property(0x00002710)}"},
        {-10000, false, " {LiveObject(\"Foo\").property('\?\?\?\?')}"},
        {code("abcd"), false, " {LiveObject(\"Foo\").property('abcd')}"},
        {0x1FF10000, false, "Foo()"},
        {0x1FF10100, false, "operator \"~\"()"},
        {0x1FF10104, false, "operator \"*\"()"},
        {0x1FF10112, false, "operator \"==\"()"},
        {0x1FF10118, false, "operator \"^\"()"},
        {5, true, "[5]"},
        {70000, true, "[70000]"},
        {-1, true, "[4294967295]"},
        {code("abcd"), true, "[1633837924]"},
    };
    for (const Case& c : cases) {
        String out("stale");
        EXPECT_EQ(foo->describeProperty(out, c.id, c.isIndex), 0);
        EXPECT_EQ(text(out), c.text) << c.id;
    }
    // The four bytes of a code outside ASCII print one unit each.
    String out;
    foo->describeProperty(out, i32(0x816D6D8C), false);
    EXPECT_EQ(out[out.length() - 7], unit(0x81));
    EXPECT_EQ(out[out.length() - 4], unit(0x8C));

    // Without an object behind it only the forms without a name remain.
    Held<LiveComponent> component(new LiveComponent);
    EXPECT_EQ(component->describeProperty(out, 42, false), 0);
    EXPECT_EQ(text(out), "");
    component->describeProperty(out, 0x1FF10000, false);
    EXPECT_EQ(text(out), "LiveObject()");
    component->describeProperty(out, 7, true);
    EXPECT_EQ(text(out), "[7]");
}

TEST_F(LiveBaseTest, ErrorTextsFillThePlaceholderOnceAndTrim) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    String textOut;
    String argument("%1");
    EXPECT_EQ(foo->formatError(textOut, 2, &argument), 0);
    EXPECT_EQ(text(textOut), "%1 is undefined");
    EXPECT_EQ(foo->formatError(textOut, 45, nullptr), 0);
    EXPECT_EQ(text(textOut), "Object is invalid");
    EXPECT_EQ(foo->formatError(textOut, 2, nullptr), 0);
    EXPECT_EQ(text(textOut), "is undefined");
    EXPECT_EQ(foo->formatError(textOut, 46, code("abcd"), false), 0);
    EXPECT_EQ(text(textOut), "{LiveObject(\"Foo\").property('abcd')} is read only");
    EXPECT_EQ(foo->formatError(textOut, 41, 7, true), 0);
    EXPECT_EQ(text(textOut), "[7] is out of range");
}

TEST_F(LiveBaseTest, APlainComponentServesNothingAndNamesTheObjectAskedFor) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    Held<LiveComponent> component(new LiveComponent);
    Variant result(5);
    Array args;
    {
        Error error;
        EXPECT_EQ(component->get(*foo, 42, result, &error), 2);
        EXPECT_EQ(result.getType(), Variant::kUndefined);
        EXPECT_EQ(messageOf(error), "{LiveObject(\"Foo\").property(42)} is undefined");
    }
    {
        Error error;
        EXPECT_EQ(component->put(*foo, 0x1FF10000, Variant(1), &error), 2);
        EXPECT_EQ(messageOf(error), "Foo() is undefined");
    }
    {
        Error error;
        result = Variant(1);
        EXPECT_EQ(component->call(*foo, code("abcd"), args, result, &error), 2);
        EXPECT_EQ(result.getType(), Variant::kUndefined);
        EXPECT_EQ(messageOf(error), "{LiveObject(\"Foo\").property('abcd')} is undefined");
    }
    {
        Error error;
        EXPECT_EQ(component->getItem(*foo, 7, result, &error), 41);
        EXPECT_EQ(messageOf(error), "[7] is out of range");
        // The first error of a chain stays.
        EXPECT_EQ(foo->setPropertyError(46, 1, &error, false), 46);
        EXPECT_EQ(messageOf(error), "[7] is out of range");
        EXPECT_EQ(component->putItem(*foo, 8, Variant(1), nullptr), 41);
        EXPECT_EQ(foo->setPropertyError(0, 1, &error, false), 0);
    }
    u32 length = 9;
    EXPECT_EQ(component->getLength(*foo, length), 2);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(component->setLength(*foo, 3), 2);
    EXPECT_EQ(component->removeItem(*foo, 3), 0);
    EXPECT_FALSE(component->providesItems());
    EXPECT_FALSE(component->isGenericMethod(1));
    EXPECT_FALSE(component->hasOperators());
    i32 id = 5;
    u32 kind = 5;
    EXPECT_EQ(component->findProperty(*foo, String("x"), id, kind, 0x10000), 2);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(kind, kKindNone);
    EXPECT_EQ(component->getPropertyKind(*foo, 1), kKindNone);
    EXPECT_EQ(component->getServiceInfo(*foo, 1, 0x10000), nullptr);
}

// A component that answers from a class table.
const LivePropertyInfo kTableRows[] = {
    {"width", 1, 2, "number"},
    {"*", 0x1FF10104, 5, "number,other:number"},
    {nullptr, 0, 0, nullptr},
};

class TableComponent : public LiveComponent {
public:
    TableComponent() : table(kTableRows) { propertyManager = &table; }

private:
    LivePropertyManager table;
};

TEST_F(LiveBaseTest, AComponentAnswersFromItsTable) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    Held<TableComponent> component(new TableComponent);
    i32 id;
    u32 kind;
    EXPECT_EQ(component->findProperty(*foo, String("width"), id, kind, 0x10000), 0);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(kind, 2u);
    String name;
    EXPECT_EQ(component->getPropertyName(*foo, 0x1FF10104, name, 0x10000), 0);
    EXPECT_EQ(text(name), "*");
    EXPECT_TRUE(component->hasOperators());
    SimpleArray ids;
    EXPECT_EQ(component->getPropertyIDs(*foo, ids, kListReadWrite | 0x10000), 0);
    EXPECT_EQ(ids.getCount(), 1);
    PropServiceInfo* info = component->getServiceInfo(*foo, 0x1FF10104, 0x10000);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->getParamCount(), 1u);
    info->release();
}

TEST_F(LiveBaseTest, MemberRecordsKeepTheirFlagsAndValues) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    LiveProperty once(*foo, String("once"), 1, 1);
    EXPECT_EQ(once.flags, 1u | kMemberWritableOnce);
    EXPECT_EQ(once.put(Variant(1)), 0);
    EXPECT_EQ(once.put(Variant(2)), 46);
    Variant value;
    EXPECT_EQ(once.get(value), 0);
    EXPECT_EQ(value.toNumber(), 1);

    LiveProperty plain(*foo, String("plain"), 2, 0);
    EXPECT_EQ(plain.getKind(), 2u);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(plain.put(Variant(i)), 0);
    value = Variant(7);
    EXPECT_EQ(plain.call(Array(), value), 24);
    EXPECT_EQ(value.getType(), Variant::kUndefined);

    plain.order = 4;
    plain.word1 = 11;
    plain.word2 = 12;
    plain.next = &once;
    LiveProperty copy(plain);
    EXPECT_EQ(copy.owner, foo.get());
    EXPECT_EQ(text(copy.name), "plain");
    EXPECT_EQ(copy.order, 4);
    EXPECT_EQ(copy.id, 2);
    EXPECT_EQ(copy.flags, 2u);
    EXPECT_EQ(copy.word1, 11u);
    EXPECT_EQ(copy.word2, 12u);
    EXPECT_EQ(copy.next, nullptr);
    EXPECT_TRUE(copy.equals(plain));
    EXPECT_EQ(copy.compare(plain), 0);
    EXPECT_FALSE(copy.equals(once));
}

TEST_F(LiveBaseTest, MessagesCarryTheirRequest) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    SimpleArray ids;
    LiveMessage list(*foo, kMsgEnumerate, &ids);
    EXPECT_EQ(list.getId(), fourCharCode("loEn"));
    EXPECT_EQ(list.ids, &ids);
    EXPECT_EQ(list.requestFlags, 0x10000u);
    EXPECT_EQ(list.status, 0);

    Array args;
    args.getOrCreate(0) = Variant(3);
    Error error;
    LiveMessage call(*foo, kMsgCall, 9, args, &error);
    EXPECT_EQ(call.object, foo.get());
    EXPECT_EQ(call.id, 9);
    EXPECT_EQ(call.args.length(), 1u);
    EXPECT_EQ(call.error, &error);

    LiveMessage get(*foo, kMsgGet, 4, nullptr);
    EXPECT_EQ(get.id, 4);
    EXPECT_EQ(get.args.length(), 0u);
    EXPECT_EQ(get.getData()->getType(), Variant::kUndefined);
}

TEST_F(LiveBaseTest, FreshIdsStayBelowTheReservedIds) {
    LiveBase::setNextSerial(kLastSerialId - 1);
    EXPECT_EQ(LiveBase::nextSerial(), 0x1FEFFFFE);
    EXPECT_EQ(LiveBase::nextSerial(), 0x1FEFFFFF);
    EXPECT_EQ(LiveBase::nextSerial(), 0x1F800000);
    EXPECT_EQ(LiveBase::nextSerial(), 0x1F800001);
}

TEST_F(LiveBaseTest, AShellObjectHasItsClassName) {
    Held<LiveObject> unnamed(new LiveObject(nullptr, false));
    EXPECT_EQ(text(unnamed->getClassName()), "Object");
    EXPECT_EQ(unnamed->getInterface(kObjectInterface), unnamed.get());
    EXPECT_EQ(unnamed->getFlags() & 1, 0u);
    Held<LiveObject> dynamic(new LiveObject("Foo", true));
    EXPECT_EQ(dynamic->getFlags() & 1, 1u);
    EXPECT_EQ(text(dynamic->getClassName()), "Foo");
}

}  // namespace
}  // namespace LxCore
