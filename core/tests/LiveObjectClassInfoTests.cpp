#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "core/LiveCollection.h"
#include "core/LiveObjectClassInfo.h"
#include "core/UnitValue.h"
#include "core/XML.h"
#include "core/tests/LiveTestSupport.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class ClassInfoTest : public ::testing::Test {
protected:
    CoreStarted core;
};

constexpr u32 kListAll = kListReadWrite | kListReadOnly | kListMethods;

std::set<std::string> namesOf(ClassInfo& info, u32 flags) {
    StringList names;
    EXPECT_EQ(info.getServiceNames(names, flags), 0);
    std::set<std::string> out;
    for (i32 i = 0; i < names.getCount(); i++)
        out.insert(text(*names.get(i)));
    freeStrings(names);
    return out;
}

std::string markup(XML* node) {
    String out;
    node->toXMLString(out, -1);
    node->release();
    return text(out);
}

TEST_F(ClassInfoTest, ALiveObjectDescribesItsMembers) {
    LiveObject* foo = new LiveObject("Foo", true);
    foo->addProperty(String("count"), 1, kKindReadWrite);
    foo->put(1, Variant(3), nullptr);
    foo->addProperty(String("items"), 2, kKindReadWrite);
    auto* items = new LiveArray(Array(), nullptr, 0, false);
    foo->put(2, Variant(*items, 0), nullptr);
    items->release();
    foo->addProperty(String("run"), 3, kKindMethod);

    Held<ClassInfo> info(foo->getClassInfo());
    ASSERT_NE(info.get(), nullptr);
    EXPECT_EQ(foo->getClassInfo(), info.get());     // cached
    info->release();
    String name;
    info->getName(name);
    EXPECT_EQ(text(name), "Foo");
    EXPECT_EQ(info->getKind(), 1u);
    EXPECT_EQ(namesOf(*info, kListAll), (std::set<std::string>{"count", "items", "run"}));
    SimpleArray ids;
    EXPECT_EQ(info->getServiceIDs(ids, kListAll), 0);
    EXPECT_EQ(ids.getCount(), 3);

    ServiceInfo* count = info->getServiceInfoByName(String("count"));
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->getID(), 1);
    EXPECT_EQ(count->getKind(), kKindReadWrite);
    EXPECT_EQ(count->getCategory(), 1u);
    EXPECT_EQ(count->getClients(), kScriptClient);
    count->getName(name);
    EXPECT_EQ(text(name), "count");
    TypeInfo* countType = count->getDataType();
    EXPECT_EQ(countType->getType(), u32(Variant::kNumber));

    // While the first is held a second description is new; once released,
    // the one held by the class description is reused for the next id.
    ServiceInfo* items2 = info->getServiceInfo(2);
    EXPECT_NE(items2, count);
    EXPECT_TRUE(items2->getDataType()->isArray());
    String className;
    items2->getDataType()->getClassName(className);
    EXPECT_EQ(text(className), "Collection");
    items2->release();
    ServiceInfo* run = info->getServiceInfo(3);
    EXPECT_EQ(run, items2);
    EXPECT_EQ(run->getID(), 3);
    EXPECT_EQ(run->getDataType()->getType(), kTypeAny);     // a method
    String typeName;
    run->getDataType()->getTypeName(typeName);
    EXPECT_EQ(text(typeName), "any");
    ParamInfo* first = run->getParamInfo(0);
    ParamInfo* second = run->getParamInfo(1);
    first->getName(name);
    EXPECT_EQ(text(name), "arg1");
    second->getName(name);
    EXPECT_EQ(text(name), "arg2");
    EXPECT_NE(first, second);
    second->release();
    ParamInfo* third = run->getParamInfo(2);
    EXPECT_EQ(third, second);       // reused once free
    third->release();
    first->release();
    run->release();

    // The object dies: the descriptions answer 45 and null, names stay,
    // types read "any".
    Held<ClassInfo> keep(foo->getClassInfo());
    foo->release();
    String unchanged("kept");
    keep->getName(unchanged);
    EXPECT_EQ(text(unchanged), "kept");
    StringList names;
    EXPECT_EQ(keep->getServiceNames(names, kListAll), 45);
    EXPECT_EQ(keep->getServiceIDs(ids, kListAll), 45);
    EXPECT_EQ(keep->getServiceInfo(1), nullptr);
    EXPECT_EQ(keep->getServiceInfoByName(String("count")), nullptr);
    EXPECT_EQ(countType->getType(), kTypeAny);
    EXPECT_EQ(count->getName(name), 45);
    count->release();
}

TEST_F(ClassInfoTest, TheUnitValueClassDescribesItselfAndItsClassObject) {
    LiveObject* made = nullptr;
    ASSERT_EQ(LiveObject::createInstance(made, String("UnitValue"), kScriptClient), 0);
    Held<LiveObject> value(made);
    Held<ClassInfo> info(value->getClassInfo());
    // The class's members are hidden from enumerations.
    EXPECT_EQ(namesOf(*info, kListAll), (std::set<std::string>{}));
    std::set<std::string> all = namesOf(*info, kListAll | kListHidden);
    EXPECT_EQ(all.size(), 16u);
    EXPECT_EQ(all.count("as") + all.count("==="), 2u);
    ServiceInfo* as = info->getServiceInfoByName(String("as"));
    ASSERT_NE(as, nullptr);
    EXPECT_EQ(as->getParamCount(), 1u);
    ParamInfo* unitName = as->getParamInfo(0);
    String name;
    unitName->getName(name);
    EXPECT_EQ(text(name), "unitName");
    unitName->release();
    as->release();
    // Static services are the class object's; its constructor is none here.
    ServiceInfo* base = info->getStaticServiceInfoByName(String("baseUnit"));
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->getID(), 3);
    base->release();
    EXPECT_EQ(info->getStaticServiceInfoByName(String("value")), nullptr);
    EXPECT_EQ(info->getServiceInfoByName(String("UnitValue")), nullptr);

    // Asked of the class object itself, every query ends.
    LiveObject* factory = LiveObject::findClass(String("UnitValue"), kScriptClient);
    Held<ClassInfo> classInfo(factory->getClassInfo());
    ServiceInfo* own = classInfo->getStaticServiceInfo(3);
    ASSERT_NE(own, nullptr);
    own->release();
    own = classInfo->getStaticServiceInfoByName(String("baseUnit"));
    ASSERT_NE(own, nullptr);
    own->release();
    EXPECT_EQ(classInfo->getServiceInfoByName(String("UnitValue")), nullptr);
    EXPECT_EQ(classInfo->getStaticServiceInfoByName(String("UnitValue")), nullptr);

    std::string classdef = markup(ClassInfo::toXML(*info));
    EXPECT_NE(classdef.find("<classdef name=\"UnitValue\" dynamic=\"true\">"), std::string::npos)
        << classdef;
    EXPECT_NE(classdef.find("<method name=\"as\">"), std::string::npos) << classdef;
    EXPECT_NE(classdef.find("<property name=\"type\" rwaccess=\"readonly\">"), std::string::npos)
        << classdef;
}

// A class description given by hand, for the writer.
class FakeService : public ServiceInfo {
public:
    FakeService(const char* name, u32 kind) : name(name), kind(kind) {}
    u32 getClients() const override { return kScriptClient; }
    u32 getCategory() const override { return 1; }
    i32 getName(String& out) const override {
        out = name;
        return 0;
    }
    void getDescription(u8 which, String& out) const override {
        out = which == 0 ? "Short." : "";
    }
    i32 getID() const override { return 1; }
    u32 getKind() const override { return kind; }
    TypeInfo* getDataType() override { return type.get(); }
    TypeInfo* getPropertyDataType() override { return propertyType.get(); }
    u32 getParamCount() const override { return kind == kKindReadWrite ? 0 : 1; }
    ParamInfo* getParamInfo(u32) override { return nullptr; }
    bool getSampleFile(String&) const override { return false; }
    bool getSampleText(String&) const override { return false; }

private:
    const char* name;
    u32 kind;
    std::unique_ptr<TypeInfo> type{parseTypeInfo(String("number;0;10;5"), -1, nullptr, nullptr,
                                                  nullptr, nullptr)};
    std::unique_ptr<TypeInfo> propertyType{parseTypeInfo(String("string"), -1, nullptr, nullptr,
                                                          nullptr, nullptr)};
};

class FakeClass : public ClassInfo {
public:
    explicit FakeClass(const char* superclass) : superclass(superclass) {}
    void getSuperClassName(String& out) const override { out = superclass; }
    u32 getClients() const override { return kScriptClient; }
    u32 getKind() const override { return 1; }
    void getName(String& out) const override { out = "Gadget"; }
    void getDescription(bool longText, String& out) const override {
        out = longText ? "All about gadgets." : "";
    }
    i32 getServiceNames(StringList& out, u32 flags) override {
        if (flags & kStaticServices)
            return 0;
        for (const char* n : {"both", "readable", "prototype", "constructor", "plain"})
            appendString(out, String(n));
        return 0;
    }
    i32 getServiceIDs(SimpleArray&, u32) override { return 0; }
    ServiceInfo* getServiceInfoByName(const String& name) override {
        if (name.compare("both") == 0)
            return new FakeService("both", kKindCallableReadWrite);
        if (name.compare("readable") == 0)
            return new FakeService("readable", kKindCallableReadOnly);
        if (name.compare("plain") == 0)
            return new FakeService("plain", kKindReadWrite);
        return new FakeService(name.compare("prototype") == 0 ? "prototype" : "constructor",
                               name.compare("prototype") == 0 ? kKindReadWrite : kKindMethod);
    }
    ServiceInfo* getServiceInfo(i32) override { return nullptr; }
    ServiceInfo* getStaticServiceInfoByName(const String&) override { return nullptr; }
    ServiceInfo* getStaticServiceInfo(i32) override { return nullptr; }
    bool getSampleFile(String& out) const override {
        out = "gadget.tvs";
        return true;
    }
    bool getSampleText(String&) const override { return false; }

private:
    const char* superclass;
};

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

TEST_F(ClassInfoTest, ClassdefsLinkTheirSuperclassAndWriteCallablePropertiesTwice) {
    FakeClass* mine = new FakeClass("MyBase");
    std::string xml = markup(ClassInfo::toXML(*mine));
    mine->release();
    EXPECT_NE(xml.find("<superclass href=\"#/MyBase\">MyBase</superclass>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<shortdesc>All about gadgets.</shortdesc>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<elements type=\"constructor\"/>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<example href=\"gadget.tvs\"/>"), std::string::npos) << xml;
    EXPECT_EQ(count(xml, "name=\"both\""), 2u) << xml;
    EXPECT_EQ(count(xml, "name=\"readable\""), 2u) << xml;
    EXPECT_NE(xml.find("<property name=\"readable\" rwaccess=\"readonly\">"), std::string::npos) << xml;
    EXPECT_EQ(count(xml, "prototype"), 0u) << xml;
    EXPECT_EQ(count(xml, "\"constructor\">"), 0u) << xml;
    EXPECT_EQ(count(xml, "<elements type=\"instance\">"), 2u) << xml;
    EXPECT_EQ(count(xml, "<elements type=\"class\">"), 0u) << xml;
    // The property side of a callable property has its own type; ranges and
    // defaults are written.
    EXPECT_NE(xml.find("<datatype><type>string</type></datatype>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<datatype><type>number</type><min>0</min><max>10</max><value>5</value>"
                       "</datatype>"),
              std::string::npos)
        << xml;

    FakeClass* object = new FakeClass("Object");
    xml = markup(ClassInfo::toXML(*object));
    object->release();
    EXPECT_NE(xml.find("<superclass>Object</superclass>"), std::string::npos) << xml;
    FakeClass* lower = new FakeClass("myBase");
    xml = markup(ClassInfo::toXML(*lower));
    lower->release();
    EXPECT_NE(xml.find("<superclass>myBase</superclass>"), std::string::npos) << xml;
}

TEST_F(ClassInfoTest, ParametersWithDefaultsAreOptional) {
    const LivePropertyInfo rows[] = {
        {"resize", 1, 5, "undefined,width:number;;;10\tThe width.,height:any;;;undefined"},
        {nullptr, 0, 0, nullptr},
    };
    LivePropertyManager table(rows);
    PropServiceInfo* resize = table.getServiceInfo(1, kScriptClient);
    ASSERT_NE(resize, nullptr);
    std::string xml = markup(ServiceInfo::toXMLList(*resize));
    resize->release();
    EXPECT_NE(xml.find("<parameter name=\"width\" optional=\"true\"><shortdesc>The width.</shortdesc>"
                       "<datatype><type>number</type><value>10</value></datatype></parameter>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<parameter name=\"height\" optional=\"true\"><datatype><type>any</type>"
                       "</datatype></parameter>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<datatype><type>any</type></datatype></method>"), std::string::npos) << xml;
}

}  // namespace
}  // namespace LxCore
