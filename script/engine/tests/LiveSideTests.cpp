#include <gtest/gtest.h>

#include <string>

#include "core/LiveCollection.h"
#include "core/LiveObject.h"
#include "core/LiveProperty.h"
#include "script/engine/Arguments.h"
#include "script/engine/tests/ObjectFixtures.h"

namespace LxScript {
namespace {

using LxCore::Array;
using LxCore::fourCharCode;
using LxCore::LiveObject;
using LxCore::SimpleArray;
using LxCore::String;

// A native object with a value member "size", a read-only "label", a method
// "grow", and answers of its own for calls, texts and values.
class Gadget : public LiveObject {
public:
    enum : i32 { kSize = 1, kGrow = 2, kLabel = 3 };
    Gadget() : LiveObject("Gadget", false) {}

    double size = 1;
    int grows = 0;

    i32 findProperty(const String& name, i32& id, u32& kind, u32) override {
        for (const auto& m : members())
            if (name.compare(m.name) == 0) {
                id = m.id;
                kind = m.kind;
                return 0;
            }
        return 2;
    }
    u32 getPropertyKind(i32 id) override {
        for (const auto& m : members())
            if (m.id == id)
                return m.kind;
        return 16;
    }
    i32 getPropertyName(i32 id, String& name, u32) override {
        for (const auto& m : members())
            if (m.id == id) {
                name = m.name;
                return 0;
            }
        return 2;
    }
    i32 getPropertyIDs(SimpleArray& ids, u32) override {
        ids.add(kSize);
        ids.add(kLabel);
        return 0;
    }
    i32 get(i32 id, Variant& result, LxCore::Error*) override {
        if (id == kSize)
            result.setNumber(size);
        else if (id == kLabel)
            result.setString("fixed");
        else
            return 2;
        return 0;
    }
    i32 put(i32 id, const Variant& value, LxCore::Error*) override {
        if (id == kLabel)
            return 46;
        if (id != kSize)
            return 2;
        size = value.toNumber();
        return 0;
    }
    i32 call(i32 id, const Array& args, Variant& result, LxCore::Error*) override {
        if (id == kGrow) {
            grows++;
            size *= args[0].toNumber();
            result.setNumber(size);
            return 0;
        }
        if (id == LiveObjectFunction::kSelf) {
            result.setString("called");
            return 0;
        }
        return 24;
    }
    void toString(String& text) override { text = "a gadget"; }
    void valueOf(Variant& result) override { result.setNumber(size); }
    i32 clone(LiveObject*& out, bool) override {
        out = new Gadget;
        return 0;
    }
    i32 initialize(const Array& args, LxCore::Error*) override {
        if (args.length() > 0)
            size = args[0].toNumber();
        return 0;
    }

private:
    struct Member {
        const char* name;
        i32 id;
        u32 kind;
    };
    static const std::initializer_list<Member>& members() {
        static const std::initializer_list<Member> list = {
            {"size", kSize, 2}, {"grow", kGrow, 5}, {"label", kLabel, 1}};
        return list;
    }
};

void nothing(Arguments&) {}

const PropEntry kGlobalRows[] = {{nullptr, 0, 0, nullptr, nullptr}};
const PropEntry kErrorRows[] = {{"Error", 1, kMethod, nothing, nullptr}, {nullptr, 0, 0, nullptr, nullptr}};

class LiveSideTest : public ObjectTest {
protected:
    void SetUp() override {
        ObjectTest::SetUp();
        globalClass.reset(new Dispatcher("Global"));
        globalClass->registerProperties(0, kGlobalRows, "global");
        errorClass.reset(new Dispatcher("Error"));
        errorClass->registerProperties(0, kErrorRows, "Error");
        engine->registerDispatcher(errorClass.get(), false);
        engine->registerDispatcher(globalClass.get(), true);
        engine->initialize();
        ASSERT_TRUE(engine->isInitialized());
    }
    void TearDown() override {
        engine.reset();
        errorClass.reset();
        globalClass.reset();
        ObjectTest::TearDown();
    }

    // The script object of a live object, as the engine imports it.
    ObjectRef wrap(LiveObject& live) {
        Variant v;
        v.setLiveObject(live, 0);
        engine->importValue(v, true);
        return ObjectRef(objectOf(v));
    }

    std::string read(Object& o, const char* name) {
        Variant v;
        o.get(sym(name), v, 0);
        return text(v);
    }

    Object* global() { return engine->getGlobalObject(); }

    std::unique_ptr<Dispatcher> globalClass, errorClass;
};

TEST_F(LiveSideTest, MembersBecomeProperties) {
    auto* gadget = new Gadget;
    ObjectRef o = wrap(*gadget);
    gadget->release();      // the script object holds it now
    ASSERT_TRUE(o);
    EXPECT_EQ(text(Variant(o->displayName())), "Gadget");
    EXPECT_EQ(wrap(*gadget).get(), o.get()) << "one script object per live object";

    EXPECT_EQ(read(*o, "size"), "1");
    o->put(sym("size"), Variant(5), 0);
    EXPECT_EQ(gadget->size, 5);
    gadget->size = 7;
    EXPECT_EQ(read(*o, "size"), "7") << "read natively each time";
    o->put(sym("label"), Variant(9), 0);
    EXPECT_EQ(read(*o, "label"), "fixed");
    EXPECT_EQ(errorCode(), 0) << "a read-only member's 46 is ignored";

    EXPECT_EQ(o->put(sym("extra"), Variant(1), 0), nullptr) << "no new members on this object";
    EXPECT_EQ(errorCode(), 0);
    engine->setEffectiveDebugFlags(0x100);
    o->put(sym("extra"), Variant(1), 0);
    EXPECT_EQ(errorCode(), 55) << "strict mode";
    engine->setEffectiveDebugFlags(0);
    engine->clearError();
    EXPECT_EQ(read(*o, "missing"), "undefined");
    EXPECT_EQ(errorCode(), 0);

    Variant grow, result;
    o->get(sym("grow"), grow, kFindCallable);
    ASSERT_NE(objectOf(grow), nullptr);
    TVVariantArray args(1);
    args.at(0) = Variant(2);
    objectOf(grow)->call(o.get(), args, result);
    EXPECT_EQ(result.toNumber(), 14);
    EXPECT_EQ(gadget->grows, 1);
    objectOf(grow)->call(newObject().get(), args, result);
    EXPECT_EQ(errorCode(), 55) << "a method used on an object without its live object";
    engine->clearError();

    o->call(nullptr, args, result);
    EXPECT_EQ(text(result), "called");
    Variant primitive;
    EXPECT_TRUE(o->getDefaultValue(primitive, 0));
    EXPECT_EQ(primitive.toNumber(), 14);
    EXPECT_TRUE(o->getDefaultValue(primitive, 1));
    EXPECT_EQ(text(primitive), "a gadget");

    SimpleArray ids;
    o->getPropertyIDs(ids, kListForIn);
    EXPECT_EQ(names(ids), "size label");

    gadget->invalidate();
    EXPECT_FALSE(o->isValid()) << "the live object's invalidation reaches the script object";
    EXPECT_EQ(o->getLiveObject(), nullptr);
}

TEST_F(LiveSideTest, MessagesFromTheLiveObject) {
    auto* dynamic = new LiveObject("Host", true);
    ObjectRef o = wrap(*dynamic);
    dynamic->release();
    ObjectRef method = native("twice", [](Arguments& a) { a.result->setNumber(a.arg(0).toNumber() * 2); });
    o->put(sym("twice"), Variant(method.get()), 0);
    o->put(sym("plain"), Variant(1), 0);

    LxCore::DataMessage asked(fourCharCode("loCi"));
    asked.getData()->setString("twice");
    o->onMessage(asked);
    EXPECT_TRUE(asked.getData()->toBoolean());
    asked.getData()->setString("plain");
    o->onMessage(asked);
    EXPECT_EQ(asked.getData()->getType(), Variant::kUndefined);

    LxCore::Error error;
    Array args(1);
    args.getOrCreate(0) = Variant(21);
    LxCore::LiveMessage invoke(*dynamic, fourCharCode("loIn"), 0, args, &error);
    invoke.getData()->setString("twice");
    o->onMessage(invoke);
    EXPECT_EQ(invoke.status, 0);
    EXPECT_EQ(invoke.getData()->toNumber(), 42);
    invoke.getData()->setString("plain");
    o->onMessage(invoke);
    EXPECT_EQ(invoke.status, 24);
    EXPECT_EQ(error.getCode(), 24);
    EXPECT_EQ(errorCode(), 0) << "the engine's error stays clear";

    LxCore::Message layout(fourCharCode("loFo"));
    o->onMessage(layout);
    EXPECT_TRUE(o->findProperty(sym("plain"), kFindOwn)->getAttributes() & kRefreshId);
}

TEST_F(LiveSideTest, CollectionElements) {
    Array items(3);
    for (u32 i = 0; i < 3; i++)
        items.getOrCreate(i) = Variant(i32(i + 1));
    auto* array = new LxCore::LiveArray(items, "Items", 0, false);
    ObjectRef o = wrap(*array);
    array->release();
    EXPECT_EQ(read(*o, "1"), "2");
    o->put(sym("1"), Variant(5), 0);
    Variant item;
    array->getItem(1, item, nullptr);
    EXPECT_EQ(item.toNumber(), 5);
    EXPECT_EQ(o->getLength(), 3u);
    SimpleArray ids;
    o->getIDs(o.get(), ids, kListForIn | kListDontEnum);
    EXPECT_NE(names(ids).find("length"), std::string::npos);
}

// The embedding's class objects, named on the global object.
class ClassHooks : public Callback {
public:
    LiveObject* classObject = nullptr;
    u32 flags = 0;
    LiveObject* getClassObject(Engine&, const String& name, u32& id) override {
        id = flags;
        return name.compare("Hooked") == 0 ? classObject : nullptr;
    }
    bool isValidClassName(Engine&, const String& name) override {
        return name.compare("Declared") == 0;
    }
};

TEST_F(LiveSideTest, ClassObjectsOnTheGlobalObject) {
    auto* factory = new Gadget;
    ASSERT_EQ(LiveObject::registerClass(*factory, 0x10000), 0);
    factory->release();
    Variant ctor;
    global()->get(sym("Gadget"), ctor, 0);
    ASSERT_NE(objectOf(ctor), nullptr);
    Property* slot = global()->findProperty(sym("Gadget"), kFindOwn);
    EXPECT_EQ(slot->getAttributes() & 7, 7u);
    Variant again;
    global()->get(sym("Gadget"), again, 0);
    EXPECT_EQ(objectOf(again), objectOf(ctor)) << "made once";
    Variant made;
    TVVariantArray args(1);
    args.at(0) = Variant(4);
    engine->newObject(made, sym("Gadget"), &args, objectOf(ctor));
    ASSERT_NE(objectOf(made), nullptr);
    auto* instance = dynamic_cast<Gadget*>(objectOf(made)->getLiveObject());
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->size, 4) << "a clone, initialised with the arguments";
    LiveObject::unregisterClass(String("Gadget"));

    Variant typeError;
    global()->get(sym("TypeError"), typeError, 0);
    ASSERT_NE(objectOf(typeError), nullptr);
    EXPECT_EQ(text(Variant(objectOf(typeError)->asFunction()->toDisplayString(false))), "TypeError()");

    ClassHooks hooks;
    engine->setCallback(&hooks);
    Variant declared;
    global()->get(sym("Declared"), declared, 0);
    ASSERT_NE(objectOf(declared), nullptr);
    EXPECT_TRUE(objectOf(declared)->asFunction()->isPlaceholder());
    Variant none;
    EXPECT_EQ(global()->get(sym("Unknown"), none, 0), nullptr);

    auto* first = new Gadget;
    hooks.classObject = first;
    hooks.flags = 3;    // a function, resolved again on every read
    Variant hooked;
    global()->get(sym("Hooked"), hooked, 0);
    ASSERT_NE(objectOf(hooked), nullptr);
    EXPECT_EQ(objectOf(hooked)->getLiveObject(), first);
    auto* second = new Gadget;
    hooks.classObject = second;
    global()->get(sym("Hooked"), hooked, 0);    // the first read after making it
    global()->get(sym("Hooked"), hooked, 0);
    EXPECT_EQ(objectOf(hooked)->getLiveObject(), second) << "resolved again";
    engine->setCallback(nullptr);
    hooked.clear();
    first->release();
    second->release();
}

}  // namespace
}  // namespace LxScript
