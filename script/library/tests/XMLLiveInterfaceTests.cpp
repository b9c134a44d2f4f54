// E4X values through the engine's 'live' interface: the node behind a
// value and a value around a node, each side keeping its own references;
// and printing past a String's length.
#include "core/Dictionary.h"
#include "core/LiveObject.h"
#include "core/XML.h"
#include "script/frontend/DataPool.h"
#include "script/library/GlobalDialogs.h"
#include "script/library/e4x/XMLObject.h"
#include "script/library/tests/LibraryTestEngine.h"

namespace LxScript {
namespace {

using LxCore::String;
using LxCore::Variant;
using LxCore::XML;

class XMLLiveInterfaceTest : public LibraryTest {
protected:
    LiveObjectAPI& live() { return *static_cast<LiveObjectAPI*>(engine->getAPI(API::kLiveObject)); }

    // The value of a script expression, as the engine gives it.
    Variant value(const char* source) {
        Variant result;
        engine->eval(String(source), &result, 0, 0, nullptr, nullptr);
        EXPECT_EQ(engine->getError().getCode(), 0) << source;
        return result;
    }
};

TEST_F(XMLLiveInterfaceTest, ValuesWithoutXMLGiveNoNode) {
    for (const Variant& v : {Variant(1.0), Variant(String("<a/>")), Variant(), value("({})")})
        EXPECT_EQ(live().getXML(v), nullptr);
}

TEST_F(XMLLiveInterfaceTest, GetXMLAddsAReference) {
    const Variant x = value("<a><b/></a>");
    XML* node = live().getXML(x);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->getName(), String("a"));
    const u32 held = node->getRefCount();
    XML* again = live().getXML(x);
    EXPECT_EQ(again, node);
    EXPECT_EQ(node->getRefCount(), held + 1);
    again->release();
    node->release();
}

TEST_F(XMLLiveInterfaceTest, MakeXMLObjectOfAListGivesAnXMLListAndTakesItsOwnReference) {
    XML* list = new XML(XML::kList);
    list->insert(new XML(String("a")), XML::kAppend, true);
    list->insert(new XML(String("b")), XML::kAppend, true);
    ASSERT_EQ(list->getRefCount(), 1u);
    {
        Variant made;
        live().makeXMLObject(*list, made);
        LxCore::LiveObject* object = made.getLiveObject();
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object->getClassName(), String("XMLList"));
        EXPECT_EQ(list->getRefCount(), 2u);     // the wrapper's own
        XML* back = live().getXML(made);
        EXPECT_EQ(back, list);
        back->release();

        // The script sees the list.
        engine->importValue(made, true);
        engine->getGlobalObject()->put(DataPool::get().add("given"), made, 0);
        std::u16string out;
        EXPECT_EQ(run(u"given.length() + ' ' + given[1].localName() + ' ' + (typeof given)", &out), 0);
        EXPECT_EQ(out, u"2 b xml");
        engine->getGlobalObject()->put(DataPool::get().add("given"), Variant(), 0);
    }
    engine->collectGarbage();
    EXPECT_EQ(list->getRefCount(), 1u);         // the caller's, untouched
    list->release();
}

TEST_F(XMLLiveInterfaceTest, MakeXMLObjectOfAnElementGivesAnXML) {
    XML* element = new XML(String("e"));
    Variant made;
    live().makeXMLObject(*element, made);
    ASSERT_NE(made.getLiveObject(), nullptr);
    EXPECT_EQ(made.getLiveObject()->getClassName(), String("XML"));
    made.clear();
    EXPECT_EQ(element->getRefCount(), 1u);
    element->release();
}

// A default xml namespace set by a script ends with its run.
TEST_F(XMLLiveInterfaceTest, ADefaultNamespaceEndsWithTheRun) {
    std::u16string out;
    EXPECT_EQ(run(u"default xml namespace = 'http://u'; new QName('a').uri", &out), 0);
    EXPECT_EQ(out, u"http://u");
    EXPECT_EQ(run(u"new QName('a').uri", &out), 0);
    EXPECT_EQ(out, u"");
}

// The class descriptions a default dictionary takes.
TEST_F(XMLLiveInterfaceTest, TheClassTableDescribesQNameNamespaceAndXML) {
    LxCore::Dictionary dictionary(0x10000);
    dictionary.addClasses(getXMLClassTable());
    struct Row { const char* cls; const char* member; } const rows[] = {
        {"QName", "localName"}, {"Namespace", "prefix"}, {"XML", "appendChild"}, {"XML", "xpath"}};
    for (const Row& row : rows) {
        LxCore::ClassInfo* info = dictionary.getClass(String(row.cls));
        ASSERT_NE(info, nullptr) << row.cls;
        LxCore::ServiceInfo* member = info->getServiceInfoByName(String(row.member));
        EXPECT_NE(member, nullptr) << row.cls << "." << row.member;
        if (member)
            member->release();
        info->release();
    }
    EXPECT_EQ(getXMLClassTable()[3].table, nullptr);
}

// Any integer indent is taken; a text that would pass a String's length
// ends the script with the fatal out-of-memory error, never an overflow.
TEST_F(XMLLiveInterfaceTest, AHugeIndentIsOutOfMemoryNotAnOverflow) {
    std::u16string out;
    EXPECT_EQ(run(u"XML.prettyIndent = 2147483647; XML.prettyIndent", &out), 0);
    EXPECT_EQ(out, u"2147483647");
    EXPECT_EQ(run(u"XML.prettyIndent = 2147483647; <a><b/></a>.toXMLString()"), -28);
}

}  // namespace
}  // namespace LxScript
