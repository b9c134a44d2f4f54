// Dictionaries: groups and classes with titles, attached dictionaries, the
// help map, and the registry's ownership.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Dictionary.h"
#include "core/LivePropertyManager.h"
#include "core/XML.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

const LivePropertyInfo kPointRows[] = {
    {"x", 1, 0x62, "number\tThe x coordinate."},
    {nullptr, 0, 0, nullptr},
};
const LivePropertyInfo kMoreRows[] = {
    {"y", 2, 0x62, "number\tThe y coordinate."},
    {nullptr, 0, 0, nullptr},
};

std::vector<std::string> texts(StringList& list) {
    std::vector<std::string> out;
    for (i32 i = 0; i < list.getCount(); i++)
        out.push_back(N(*list.get(i)));
    freeStrings(list);
    return out;
}

std::vector<std::string> groupsOf(Dictionary& d) {
    StringList list;
    d.getGroups(list);
    return texts(list);
}

std::vector<std::string> classesOf(Dictionary& d, const char* group) {
    StringList list;
    d.getClasses(S(group), list);
    return texts(list);
}

TEST(Dictionary, GroupsClassesAndTitles) {
    CoreStarted core;
    Dictionary d(kScriptClient);
    d.setName(S("Core"));
    d.addClass(kPointRows, "Geometry\tShapes", "Point\tA point");
    d.addClass(kMoreRows, "Geometry", "Point");
    d.addClass(kPointRows, "Other", "Circle");
    EXPECT_EQ(groupsOf(d), (std::vector<std::string>{"Geometry\tShapes", "Other"}));
    EXPECT_EQ(classesOf(d, "Geometry"), (std::vector<std::string>{"Point\tA point"}));
    EXPECT_EQ(classesOf(d, "All"), (std::vector<std::string>{"Point\tA point", "Circle"}));
    EXPECT_TRUE(classesOf(d, "").empty());
    EXPECT_TRUE(classesOf(d, "Nothing").empty());

    // A listed name finds the class; the second rows joined the first.
    ClassInfo* point = d.getClass(S("Point\tA point"));
    ASSERT_NE(point, nullptr);
    SimpleArray ids;
    point->getServiceIDs(ids, kScriptClient | kListHidden | kListReadWrite | kListReadOnly | kListMethods);
    EXPECT_EQ(ids.getCount(), 2);
    String description;
    point->getDescription(true, description);
    EXPECT_EQ(N(description), "A point");
    point->release();

    XML* classdef = d.getClassXML(S("Point"));
    ASSERT_NE(classdef, nullptr);
    EXPECT_EQ(N(classdef->getName()), "classdef");
    classdef->release();
    EXPECT_EQ(d.getClassXML(S("Nothing")), nullptr);

    const String prefix = S("#/");
    XML* map = d.toXML(&prefix);
    String printed;
    map->toXMLString(printed, -1);
    EXPECT_EQ(N(printed),
              "<map name=\"Core\" default=\"true\"><topicref navtitle=\"Shapes\">"
              "<topicref navtitle=\"Point\" href=\"#/Point\"/></topicref>"
              "<topicref navtitle=\"Other\"><topicref navtitle=\"Circle\" href=\"#/Circle\"/></topicref></map>");
    map->release();
}

TEST(Dictionary, AttachedDictionariesAreAskedFirstAndNeverTwice) {
    CoreStarted core;
    Dictionary root(kScriptClient);
    root.addClass(kPointRows, "Geometry", "Point\tMine");
    auto* child = new Dictionary(kScriptClient);
    child->addClass(kMoreRows, "Geometry\tShapes", "Point\tTheirs");
    child->addClass(kMoreRows, "Extra", "Line");
    ASSERT_TRUE(root.attach(child));
    ClassInfo* point = root.getClass(S("Point"));
    String description;
    point->getDescription(true, description);
    EXPECT_EQ(N(description), "Theirs");
    point->release();
    EXPECT_EQ(groupsOf(root), (std::vector<std::string>{"Geometry\tShapes", "Extra"}));

    // Refused: itself, a second parent, a cycle, a registered one.
    auto* other = new Dictionary(kScriptClient);
    EXPECT_FALSE(root.attach(&root));
    EXPECT_FALSE(other->attach(child));
    auto* grandchild = new Dictionary(kScriptClient);
    ASSERT_TRUE(child->attach(grandchild));
    EXPECT_FALSE(grandchild->attach(&root));
    other->setName(S("other"));
    ASSERT_TRUE(Dictionary::registerDictionary(other));
    EXPECT_FALSE(root.attach(other));
    EXPECT_EQ(Dictionary::find(S("other")), other);
    delete other;       // leaves the registry on its way
    EXPECT_EQ(Dictionary::find(S("other")), nullptr);
}

TEST(Dictionary, ModuleEndDeletesEachRegisteredOnce) {
    CoreStarted core;
    auto* early = new Dictionary(kScriptClient);
    early->setName(S("early"));
    auto* kept = new Dictionary(kScriptClient);
    kept->setName(S("kept"));
    kept->attach(new Dictionary(kScriptClient));
    ASSERT_TRUE(Dictionary::registerDictionary(early));
    ASSERT_TRUE(Dictionary::registerDictionary(kept));
    EXPECT_FALSE(Dictionary::registerDictionary(kept));
    Dictionary::setMainDictionary(early);
    delete early;
    EXPECT_EQ(Dictionary::getMainDictionary(), nullptr);
    Dictionary::setMainDictionary(kept);
    EXPECT_EQ(Dictionary::getRegistry()->getCount(), 1);
    // The end of the core deletes "kept" and what hangs on it.
}

TEST(Dictionary, LongChainsOfAttachedGoWithoutRecursion) {
    CoreStarted core;
    auto* top = new Dictionary(kScriptClient);
    Dictionary* at = top;
    for (int i = 0; i < 100000; i++) {
        auto* next = new Dictionary(kScriptClient);
        ASSERT_TRUE(at->attach(next));
        at = next;
    }
    delete top;
}

}  // namespace
}  // namespace LxCore
