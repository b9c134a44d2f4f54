#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <string>

#include "core/Broadcaster.h"
#include "core/LivePropertyManager.h"
#include "core/TypeInfo.h"
#include "core/tests/LiveTestSupport.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

constexpr u32 kListAll = kListHidden | kListUnlisted | kListReadWrite | kListReadOnly | kListMethods;

// Names and ids unique; rows for one client, the other, both and all.
const LivePropertyInfo kRows[] = {
    {"", 0, 5, "Widget,size:number"},
    {"length", code("leng"), 1, "number"},
    {"name", code("name"), 2 | 0x10000, "string"},
    {"secret", code("secr"), 2 | 0x20000, "string"},
    {"shared", code("shar"), 7 | 0x30000, "any"},
    {"run", code("run "), 5, "undefined,prompt:string"},
    {"hidden", code("hidn"), 2 | kMemberHidden, "number"},
    {"times", 0x1FF10104, 5 | kMemberUnlisted, "Widget,other:Widget"},
    {nullptr, 0, 0, nullptr},
};

const char* const kNames[] = {"length", "LENGTH", "name", "secret", "shared", "run",
                              "hidden", "times",  "",     "nothing"};

// Every answer of the manager to one client mask, as text; listings as sets.
std::string answers(LivePropertyManager& m, u32 mask) {
    std::string out;
    for (const char* name : kNames) {
        i32 id;
        u32 kind;
        i32 status = m.findProperty(String(name), id, kind, mask);
        out += std::string(name) + "=" + std::to_string(status) + "/" + std::to_string(id) + "/" +
               std::to_string(kind) + " ";
        std::unique_ptr<PropServiceInfo, void (*)(PropServiceInfo*)> info(
            m.getServiceInfo(String(name), mask), [](PropServiceInfo* p) { if (p) p->release(); });
        out += info ? "described " : "- ";
    }
    for (const LivePropertyInfo* row = kRows; row->name; row++) {
        String name;
        i32 status = m.getPropertyName(row->id, name, mask);
        out += std::to_string(row->id) + ":" + std::to_string(status) + text(name) + "/" +
               std::to_string(m.getPropertyKind(row->id)) + " ";
        PropServiceInfo* info = m.getServiceInfo(row->id, mask);
        out += info ? "described " : "- ";
        if (info)
            info->release();
    }
    for (u32 request : {kListAll, kListReadWrite, kListReadOnly | kListMethods, kListMethods | kListUnlisted}) {
        SimpleArray ids;
        EXPECT_EQ(m.getPropertyIDs(ids, request | mask), 0);
        std::set<i32> set;
        for (i32 i = 0; i < ids.getCount(); i++)
            set.insert(i32(ids.get(i)));
        out += "[";
        for (i32 id : set)
            out += std::to_string(id) + ",";
        out += "]";
    }
    PropServiceInfo* ctor = m.getConstructorInfo(mask);
    out += ctor ? " ctor" : " no ctor";
    if (ctor)
        ctor->release();
    return out;
}

class PropertyManagerTest : public ::testing::Test {
protected:
    CoreStarted core;
};

TEST_F(PropertyManagerTest, EveryClientGetsTheSameAnswersBeforeAndAfterTheSwitch) {
    LivePropertyManager m(kRows);
    const u32 masks[] = {0x10000, 0x20000, 0x40000, 0x50000};
    std::string before[4];
    for (int i = 0; i < 4; i++)
        before[i] = answers(m, masks[i]);

    LivePropertyInfo extra = {"extra", code("xtra"), 2 | 0x80000, "string"};
    m.addProperty(extra);
    ASSERT_EQ(m.getStaticTable(), nullptr);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(answers(m, masks[i]), before[i]) << "mask " << std::hex << masks[i];

    // What they are: the 0x20000-only row is neither found nor listed for the
    // script client; "LENGTH" is found only by exactly 0x40000.
    i32 id;
    u32 kind;
    EXPECT_EQ(m.findProperty(String("secret"), id, kind, 0x10000), 2);
    EXPECT_EQ(m.findProperty(String("secret"), id, kind, 0x20000), 0);
    EXPECT_EQ(m.findProperty(String("LENGTH"), id, kind, 0x40000), 0);
    EXPECT_EQ(id, code("leng"));
    EXPECT_EQ(m.findProperty(String("LENGTH"), id, kind, 0x50000), 2);
    EXPECT_EQ(m.findProperty(String(""), id, kind, 0x10000), 2);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(kind, kKindNone);
    EXPECT_EQ(m.getPropertyKind(code("none")), kKindNone);
    EXPECT_EQ(m.findProperty(String("extra"), id, kind, 0x80000), 0);
    EXPECT_EQ(m.findProperty(String("extra"), id, kind, 0x10000), 2);
}

TEST_F(PropertyManagerTest, ListingsFollowTheRequestBits) {
    LivePropertyManager m(kRows);
    auto list = [&](u32 request) {
        SimpleArray ids;
        m.getPropertyIDs(ids, request);
        std::set<i32> out;
        for (i32 i = 0; i < ids.getCount(); i++)
            out.insert(i32(ids.get(i)));
        return out;
    };
    // Kinds 6 and 7 are listed whatever kinds the request names.
    EXPECT_EQ(list(kListReadWrite | 0x10000), (std::set<i32>{code("name"), code("shar")}));
    EXPECT_EQ(list(kListReadWrite | kListHidden | 0x20000),
              (std::set<i32>{code("secr"), code("hidn"), code("shar")}));
    EXPECT_EQ(list(kListReadOnly | 0x10000), (std::set<i32>{code("leng"), code("shar")}));
    EXPECT_EQ(list(kListMethods | 0x10000), (std::set<i32>{0, code("run "), code("shar")}));
    EXPECT_EQ(list(kListMethods | kListUnlisted | 0x10000),
              (std::set<i32>{0, code("run "), code("shar"), 0x1FF10104}));
}

TEST_F(PropertyManagerTest, TheHashFormKeepsOneOwnerPerSignatureAndTheLastNameWins) {
    LivePropertyManager m(kRows);
    // A second row of an id already there: its client bits join the id; a
    // name added again moves to the new id.
    m.addProperty({"name", code("nam2"), 2, "number"});
    m.addProperty({"alias", code("leng"), 1 | 0x20000, "string"});
    i32 id;
    u32 kind;
    EXPECT_EQ(m.findProperty(String("name"), id, kind, 0x10000), 0);
    EXPECT_EQ(id, code("nam2"));
    String name;
    EXPECT_EQ(m.getPropertyName(code("name"), name, 0x10000), 2);    // no name left for it
    EXPECT_EQ(m.getPropertyKind(code("name")), 2u);
    EXPECT_EQ(m.getPropertyName(code("leng"), name, 0x10000), 0);
    EXPECT_EQ(text(name), "length");
    EXPECT_EQ(m.getPropertyName(code("leng"), name, 0x20000), 0);
    EXPECT_TRUE(text(name) == "length" || text(name) == "alias");
    PropServiceInfo* info = m.getServiceInfo(String("alias"), 0x20000);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->getDataType()->getType(), u32(Variant::kString));
    info->release();
    // Case-blind, the first spelling in table order wins.
    m.addProperty({"Length", code("lenG"), 2, nullptr});
    EXPECT_EQ(m.findProperty(String("LENGTH"), id, kind, 0x40000), 0);
    EXPECT_EQ(id, code("leng"));
    EXPECT_EQ(m.findProperty(String("Length"), id, kind, 0x10000), 0);
    EXPECT_EQ(id, code("lenG"));
}

TEST_F(PropertyManagerTest, DescriptionsComeFromTheSignature) {
    struct Case {
        const char* signature;
        u32 params;
        u32 resultType;
        const char* paramNames;     // "name:type," for each parameter
    };
    const Case cases[] = {
        {"undefined,prompt:string", 1, 0, "prompt:string,"},
        {"number", 0, 3, ""},
        {"x:number", 1, kTypeAny, "x:number,"},
        {"x:number,y:string", 2, kTypeAny, "x:number,y:string,"},
        {"bool\tConvert.,unitName:string\tThe unit name.", 1, 2, "unitName:string,"},
        {"Widget,number,string", 2, 5, "arg1:number,arg2:string,"},
        {nullptr, 0, kTypeUnknown, ""},
        {"", 0, kTypeUnknown, ""},
    };
    for (const Case& c : cases) {
        const LivePropertyInfo rows[] = {{"m", 7, 5, c.signature}, {nullptr, 0, 0, nullptr}};
        LivePropertyManager m(rows);
        PropServiceInfo* info = m.getServiceInfo(String("m"), 0x10000);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->getParamCount(), c.params) << (c.signature ? c.signature : "null");
        EXPECT_EQ(info->getDataType()->getType(), c.resultType);
        EXPECT_EQ(info->getKind(), 5u);
        EXPECT_EQ(info->getID(), 7);
        std::string params;
        for (u32 i = 0; i < info->getParamCount(); i++) {
            ParamInfo* p = info->getParamInfo(i);
            ASSERT_NE(p, nullptr);
            String name, type;
            p->getName(name);
            p->getDataType()->getTypeName(type);
            params += text(name) + ":" + text(type) + ",";
            p->release();
        }
        EXPECT_EQ(params, c.paramNames);
        EXPECT_EQ(info->getParamInfo(info->getParamCount()), nullptr);
        info->release();
    }
    // The constructor row is described as a method named after its type.
    LivePropertyManager m(kRows);
    PropServiceInfo* ctor = m.getConstructorInfo(0x10000);
    ASSERT_NE(ctor, nullptr);
    String name;
    ctor->getName(name);
    EXPECT_EQ(text(name), "Widget");
    EXPECT_EQ(ctor->getKind(), 5u);
    ctor->release();
}

TEST_F(PropertyManagerTest, HelpTextsReadAsTheGrammarSays) {
    struct Case {
        const char* help;
        i32 index;
        const char* name;
        u32 type;
        const char* className;
        const char* shortDesc;
        f64 min, max;
        bool range;
        const char* defaultText;    // null: none
        bool array;
    };
    const f64 inf = INFINITY;
    const Case cases[] = {
        {"bool\tConvert this instance to a different unit.,unitName:string\tThe unit name.", -1, "",
         2, "", "Convert this instance to a different unit.", -inf, inf, false, nullptr, false},
        {"bool\tConvert this instance to a different unit.,unitName:string\tThe unit name.", 0,
         "unitName", 4, "", "The unit name.", -inf, inf, false, nullptr, false},
        {"x:number;0;100;50", -1, "", kTypeAny, "", "", -inf, inf, false, nullptr, false},
        {"x:number;0;100;50", 0, "x", 3, "", "", 0, 100, true, "50", false},
        {"number;;10", -1, "", 3, "", "", -inf, 10, true, nullptr, false},
        {"number;5", -1, "", 3, "", "", 5, inf, true, nullptr, false},
        {"string;;;hello", -1, "", 4, "", "", -inf, inf, false, "hello", false},
        {"number;;;-1", -1, "", 3, "", "", -inf, inf, false, "-1", false},
        {"any;;;true;[]", -1, "", kTypeAny, "", "", -inf, inf, false, "true", true},
        {"Folder", -1, "", 5, "Folder", "", -inf, inf, false, nullptr, false},
        {"widget", -1, "", kTypeAny, "", "", -inf, inf, false, nullptr, false},
        {"int,uint,Object", 0, "arg1", 3, "", "", -inf, inf, false, nullptr, false},
        {"int,uint,Object", 1, "arg2", 5, "", "", -inf, inf, false, nullptr, false},
        {"a:number,b:string", 3, "arg4", kTypeUnknown, "", "", -inf, inf, false, nullptr, false},
        {"undefined, p : boolean \t short \t long", 0, "p", 2, "", "short", -inf, inf, false,
         nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.help) + " #" + std::to_string(c.index));
        String name, shortDesc, desc;
        std::unique_ptr<SimpleTypeInfo> t(
            parseTypeInfo(String(c.help), c.index, &name, &shortDesc, &desc, nullptr));
        EXPECT_EQ(text(name), c.name);
        EXPECT_EQ(t->getType(), c.type);
        String className;
        t->getClassName(className);
        EXPECT_EQ(text(className), c.className);
        EXPECT_EQ(text(shortDesc), c.shortDesc);
        EXPECT_EQ(text(t->getText(0)), c.shortDesc);
        f64 min, max;
        EXPECT_EQ(t->getRange(&min, &max), c.range);
        EXPECT_EQ(min, c.min);
        EXPECT_EQ(max, c.max);
        Variant given;
        EXPECT_EQ(t->getDefault(given), c.defaultText != nullptr);
        if (c.defaultText) {
            EXPECT_EQ(text(given.toString()), c.defaultText);
        }
        EXPECT_EQ(t->isArray(), c.array);
    }
    // Typed defaults and the alternative result type.
    Variant given;
    std::unique_ptr<SimpleTypeInfo> t(parseTypeInfo(String("number;;;-1"), -1, nullptr, nullptr,
                                                    nullptr, nullptr));
    t->getDefault(given);
    EXPECT_EQ(given.getType(), Variant::kNumber);
    TypeInfo* alt = nullptr;
    t.reset(parseTypeInfo(String("number/string\tEither"), -1, nullptr, nullptr, nullptr, &alt));
    EXPECT_EQ(t->getType(), 3u);
    ASSERT_NE(alt, nullptr);
    EXPECT_EQ(alt->getType(), 4u);
    delete alt;
    EXPECT_STREQ(getTypeName(127), "unknown");
    EXPECT_STREQ(getTypeName(13), "unknown");
    EXPECT_STREQ(getTypeName(126), "any");
    EXPECT_STREQ(getTypeName(12), "unitvalue");
}

TEST_F(PropertyManagerTest, AnOperatorRowSetsHasOperators) {
    const LivePropertyInfo divide[] = {{"a", 1, 2, nullptr}, {"/", 0x1FF10105, 5, nullptr},
                                       {nullptr, 0, 0, nullptr}};
    const LivePropertyInfo plain[] = {{"a", 1, 2, nullptr}, {nullptr, 0, 0, nullptr}};
    EXPECT_TRUE(LivePropertyManager(divide).hasOperators());
    LivePropertyManager m(plain);
    EXPECT_FALSE(m.hasOperators());
    m.addProperty({"b", 2, 2, nullptr});
    EXPECT_FALSE(m.hasOperators());
    m.addProperty({"", 0x1FF10118, 5, nullptr});
    EXPECT_TRUE(m.hasOperators());
}

TEST(OperatorTexts, EveryOperatorIdHasItsSymbol) {
    EXPECT_STREQ(operatorText(0x1FF10100), "~");
    EXPECT_STREQ(operatorText(0x1FF10104), "*");
    EXPECT_STREQ(operatorText(0x1FF10112), "==");
    EXPECT_STREQ(operatorText(0x1FF10118), "^");
    EXPECT_EQ(operatorText(0x1FF10119), nullptr);
    EXPECT_EQ(operatorText(0x1FF100FF), nullptr);
    for (i32 id = kFirstOperatorId; id <= kLastOperatorId; id++)
        EXPECT_NE(operatorText(id), nullptr);
}

}  // namespace
}  // namespace LxCore
