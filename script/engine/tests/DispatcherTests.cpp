#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/platform/PlatformThread.h"
#include "script/engine/Arguments.h"
#include "script/engine/DispInfo.h"
#include "script/engine/DispatcherDictionary.h"
#include "script/engine/TVContext.h"
#include "script/engine/tests/ObjectFixtures.h"

namespace LxScript {
namespace {

using LxCore::Array;
using LxCore::SimpleArray;
using LxCore::String;

// What the test class's handlers saw.
struct Seen {
    std::vector<std::string> calls;     // "name:mode"
    Variant lastArgument;
    Variant lastThis;
    Variant constructAnswer;            // what the constructor leaves in result
    void reset() {
        calls.clear();
        lastArgument.clear();
        lastThis.clear();
        constructAnswer.clear();
    }
} seen;

std::string modeText(u32 mode) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((mode >> shift) & 0xFF);
    return out;
}

void record(Arguments& a) {
    seen.calls.push_back(text(*a.name) + ":" + modeText(a.mode));
    seen.lastThis = *a.thisValue;
    seen.lastArgument = a.arg(0);
}

void widgetConstructor(Arguments& a) {
    record(a);
    *a.result = seen.constructAnswer;
}

void answerTwice(Arguments& a) {
    record(a);
    a.result->setNumber(a.arg(0).toNumber() * 2);
}

void staticVersion(Arguments& a) { a.result->setNumber(3); }

// Indexes below 3 exist; each reads as ten times its index.
void indexEntry(Arguments& a) {
    const u32 index = u32(a.name->toNumber());
    if (index >= 3)
        return;
    if (a.mode == Arguments::kTest || a.mode == Arguments::kGet)
        a.result->setNumber(index * 10);
}

void nothing(Arguments&) {}

// The native side of the classes these tests register.
const PropEntry kObjectRows[] = {
    {"Object", 0, kMethod, nothing, nullptr},
    {"toString", 0, kMethod, [](Arguments& a) { a.result->setString("[object]"); }, nullptr},
    {nullptr, 0, 0, nullptr, nullptr},
};
const PropEntry kFunctionRows[] = {
    {"Function", 0, kMethod, nothing, nullptr},
    {nullptr, 0, 0, nullptr, nullptr},
};
const PropEntry kGlobalRows[] = {
    {"globalMethod", 0, kMethod, record, nullptr},
    {nullptr, 0, 0, nullptr, nullptr},
};
const PropEntry kBaseRows[] = {
    {"inherited", 1, kMethod, record, nullptr},
    {"shadowed", 0, kMethod, record, nullptr},
    {"instanceValue", 7, kNativeValue, nullptr, nullptr},
    {nullptr, 0, 0, nullptr, nullptr},
};
const PropEntry kWidgetRows[] = {
    {"Widget", 1, kMethod, widgetConstructor, "Widget,size:number"},
    {"describe", 1, kMethod | kArgsToString, record, "string,what:string"},
    {"poke", 0, kMethod | kInstancesOnly, record, nullptr},
    {"twice", 1, kMethod | kArgsToNumber | kThisToNumber, answerTwice, nullptr},
    {"VERSION", 0, kStatic | kReadOnly, staticVersion, nullptr},
    {".index", 0, 0, indexEntry, nullptr},
    {"+", 1, kMethod, record, nullptr},
    {"shadowed", 0, kWithdrawn, nullptr, nullptr},
    {"describe", 9, kMethod, nothing, nullptr},    // a second registration: the first stays
    {nullptr, 0, 0, nullptr, nullptr},
};

// An engine with Object, Function, a global class, a Base class and the
// Widget class that inherits Base's rows.
class DispatcherTest : public ObjectTest {
protected:
    void SetUp() override {
        ObjectTest::SetUp();
        seen.reset();
        objectClass.reset(new Dispatcher("Object"));
        objectClass->registerProperties(0, kObjectRows, "Object");
        functionClass.reset(new Dispatcher("Function"));
        functionClass->registerProperties(0, kFunctionRows, "Function");
        globalClass.reset(new Dispatcher("Global"));
        globalClass->registerProperties(0, kGlobalRows, "global");
        base.reset(new Dispatcher("Base"));
        base->registerProperties(0, kBaseRows, "Base");
        widget.reset(new Dispatcher("Widget"));
        widget->registerProperties(0, kWidgetRows, "Widget");
        EXPECT_TRUE(widget->subClass(*base));
    }
    void TearDown() override {
        seen.reset();
        engine.reset();             // the engine first: its objects use the rows
        widget.reset();
        base.reset();
        globalClass.reset();
        functionClass.reset();
        objectClass.reset();
        ObjectTest::TearDown();
    }

    void registerAll() {
        for (Dispatcher* d : {objectClass.get(), functionClass.get(), base.get(), widget.get()})
            engine->registerDispatcher(d, false);
        engine->registerDispatcher(globalClass.get(), true);
        engine->initialize();
        ASSERT_TRUE(engine->isInitialized()) << errorCode();
    }

    Object* global() { return engine->getGlobalObject(); }

    ObjectRef globalValue(const char* name) {
        Variant v;
        global()->get(sym(name), v, 0);
        return ObjectRef(objectOf(v));
    }

    ObjectRef newWidget() {
        ObjectRef ctor = globalValue("Widget");
        Variant made;
        TVVariantArray args(1);
        args.at(0) = Variant(5);
        engine->newObject(made, sym("Widget"), &args, ctor.get());
        return ObjectRef(objectOf(made));
    }

    Variant callMethod(Object& self, const char* name, const Variant& argument) {
        Variant f, result;
        self.get(sym(name), f, kFindCallable);
        TVVariantArray args(1);
        args.at(0) = argument;
        if (Object* callee = objectOf(f))
            callee->call(&self, args, result);
        return result;
    }

    std::unique_ptr<Dispatcher> objectClass, functionClass, globalClass, base, widget;
};

// ---- the table ----

TEST_F(DispatcherTest, RowsAndParents) {
    const DataPoolId w = sym("Widget"), b = sym("Base");
    const PropInfo* describe = widget->findProperty(w, sym("describe"), nullptr, false, false);
    ASSERT_NE(describe, nullptr);
    EXPECT_EQ(describe->id, 1) << "the first registration of a name wins";
    EXPECT_STREQ(describe->signature, "string,what:string");

    EXPECT_NE(base->findProperty(b, sym("shadowed"), nullptr, false, false), nullptr);
    EXPECT_EQ(widget->findProperty(w, sym("shadowed"), nullptr, false, false), nullptr)
        << "a withdrawn row hides the parent's";
    LxCore::TSimpleArray<const PropInfo> rows;
    widget->getProperties(w, 0, rows);
    std::string listed;
    for (i32 i = 0; i < rows.getCount(); i++)
        listed += text(rows.get(i)->symbol) + " ";
    EXPECT_EQ(listed, "inherited instanceValue describe poke twice VERSION + ");

    EXPECT_NE(widget->findProperty(w, sym("inherited"), nullptr, false, true), nullptr)
        << "a static miss goes on in the parent's instance rows";
    EXPECT_NE(widget->findProperty(w, sym("VERSION"), nullptr, false, true), nullptr);
    EXPECT_EQ(widget->findProperty(w, sym("VERSION"), nullptr, false, false), nullptr);
    EXPECT_NE(widget->findProperty(w, w, nullptr, true, false), nullptr) << "constructor row";
    EXPECT_NE(widget->findProperty(w, Sym::kIndexEntry, nullptr, true, false), nullptr);
    EXPECT_TRUE(widget->hasDotProperties(w));
    EXPECT_TRUE(widget->hasOperators(w));
    EXPECT_FALSE(base->hasOperators(b));

    Dispatcher two("Two");
    two.addClass("First");
    two.addClass("Second");
    two.addClass("First");
    EXPECT_EQ(two.getClassCount(), 2);
    EXPECT_TRUE(two.getClass(5).isEmpty());
    EXPECT_EQ(two.getClassID(-1), 0);
    EXPECT_EQ(two.getClassID(1), sym("Second"));

    EXPECT_FALSE(base->subClass(*widget)) << "Base -> Widget -> Base";
    EXPECT_FALSE(widget->subClass(*widget));
    EXPECT_EQ(base->getParent(), nullptr);
    EXPECT_EQ(widget->getParent(), base.get());
}

// The misses the object model remembers (a dispatcher's, an inherited
// walk's) end with the change that makes the name found: a row registered
// later, a slot on a prototype, a slot deleted and written again, a
// prototype swapped in; an operator row counts from its registration.
TEST_F(DispatcherTest, RememberedMissesEndWithTheChange) {
    registerAll();
    ObjectRef proto = newObject();
    ObjectRef o = newObject();
    ASSERT_TRUE(o->setPrototype(proto.get()));
    const DataPoolId late = sym("lateRow"), slot = sym("lateSlot"), other = sym("otherSlot");

    EXPECT_EQ(o->findProperty(late, 0), nullptr);
    EXPECT_EQ(o->findProperty(late, 0), nullptr) << "asked again: the remembered miss";
    const PropEntry lateRows[] = {{"lateRow", 0, kMethod, nothing, nullptr}, {nullptr, 0, 0, nullptr, nullptr}};
    objectClass->registerProperties(0, lateRows, "Object");
    EXPECT_NE(o->findProperty(late, 0), nullptr) << "a row registered later";

    EXPECT_EQ(o->findProperty(slot, 0), nullptr);
    proto->put(slot, Variant(1), 0);
    EXPECT_NE(o->findProperty(slot, 0), nullptr) << "a slot on the prototype";
    EXPECT_TRUE(proto->deleteProperty(slot));
    EXPECT_EQ(o->findProperty(slot, 0), nullptr) << "deleted";
    proto->put(slot, Variant(2), 0);
    Variant v;
    EXPECT_TRUE(o->getValue(slot, v, 0)) << "written again";
    EXPECT_EQ(v.toNumber(), 2);

    EXPECT_EQ(o->findProperty(other, 0), nullptr);
    ObjectRef holder = newObject();
    holder->put(other, Variant(3), 0);
    ASSERT_TRUE(o->setPrototype(holder.get()));
    EXPECT_NE(o->findProperty(other, 0), nullptr) << "a prototype swapped in";

    EXPECT_FALSE(o->hasOperators());
    EXPECT_FALSE(o->offersOperators()) << "asked again: the remembered answer";
    const PropEntry operatorRows[] = {{"==", 1, kMethod, record, nullptr}, {nullptr, 0, 0, nullptr, nullptr}};
    objectClass->registerProperties(0, operatorRows, "Object");
    EXPECT_FALSE(o->remembersNoOperators()) << "the row ends the remembered answer";
    EXPECT_TRUE(o->offersOperators()) << "an operator row registered later, asked inline";
    EXPECT_TRUE(o->hasOperators()) << "an operator row registered later";
    EXPECT_NE(o->findOperator(kOpEqual), nullptr);
}

// ---- class descriptions ----

std::string joined(LxCore::StringList& names) {
    std::string out;
    for (i32 i = 0; i < names.getCount(); i++)
        out += (out.empty() ? "" : " ") + text(Variant(*names.get(i)));
    LxCore::freeStrings(names);
    return out;
}

std::string textOf(const String& s) { return text(Variant(s)); }

TEST_F(DispatcherTest, ClassDescriptionsFollowTheRows) {
    EXPECT_EQ(widget->getClassInfo(String("Nothing")), nullptr);
    LxCore::ClassInfo* info = widget->getClassInfo(String("Widget"));
    ASSERT_NE(info, nullptr);
    String out;
    info->getName(out);
    EXPECT_EQ(textOf(out), "Widget");
    info->getSuperClassName(out);
    EXPECT_EQ(textOf(out), "Base");

    LxCore::StringList names;
    info->getServiceNames(names, 0x80000000 | 0x08010000);
    EXPECT_EQ(joined(names), "inherited describe poke twice +") << "withdrawn and static rows stay out";
    info->getServiceNames(names, 0x60000000 | 0x08010000);
    EXPECT_EQ(joined(names), "instanceValue");
    info->getServiceNames(names, 0x60000000 | 0x08010000 | 0x01000000);
    EXPECT_EQ(joined(names), "VERSION");

    LxCore::ServiceInfo* describe = info->getServiceInfoByName(String("describe"));
    ASSERT_NE(describe, nullptr);
    EXPECT_EQ(describe->getKind(), 5u);
    EXPECT_EQ(describe->getParamCount(), 1u);
    describe->getDataType()->getTypeName(out);
    EXPECT_EQ(textOf(out), "string");
    LxCore::ParamInfo* what = describe->getParamInfo(0);
    ASSERT_NE(what, nullptr);
    what->getName(out);
    EXPECT_EQ(textOf(out), "what");
    EXPECT_EQ(describe->getParamInfo(1), nullptr);
    what->release();
    describe->release();

    auto* value = static_cast<DispServiceInfo*>(info->getServiceInfoByName(String("instanceValue")));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->getKind(), 2u);
    EXPECT_EQ(value->getAccess(), 1u) << "a native value";
    value->release();
    EXPECT_EQ(info->getServiceInfoByName(String("shadowed")), nullptr);
    EXPECT_EQ(info->getServiceInfoByName(String("VERSION")), nullptr);
    LxCore::ServiceInfo* version = info->getStaticServiceInfoByName(String("VERSION"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->getKind(), 1u);
    version->release();
    info->release();
}

TEST_F(DispatcherTest, TheDictionaryOfDispatchersListsEachClassOnce) {
    Dispatcher other("Other");
    other.addClass("Widget");
    other.addClass("Gadget");
    DispatcherDictionary dictionary;
    LxCore::StringList names;
    dictionary.getGroups(names);
    const std::string groups = " " + joined(names) + " ";
    EXPECT_NE(groups.find(" Widget Other "), std::string::npos) << groups;
    dictionary.getClasses(String("Other"), names);
    EXPECT_EQ(joined(names), "Widget Gadget");
    dictionary.getClasses(String("All"), names);
    const std::string all = " " + joined(names) + " ";
    EXPECT_EQ(all.find(" Widget "), all.rfind(" Widget ")) << all;
    EXPECT_NE(all.find(" Gadget "), std::string::npos) << all;

    LxCore::ClassInfo* info = dictionary.getClass(String("Widget"));
    ASSERT_NE(info, nullptr);
    String super;
    info->getSuperClassName(super);
    EXPECT_EQ(textOf(super), "Base") << "the first dispatcher that serves the class";
    info->release();
    EXPECT_EQ(dictionary.getClass(String("Nothing")), nullptr);
}

TEST_F(DispatcherTest, CallsByName) {
    Variant self, name, result;
    self.setObjectReference(0, String("Widget"), nullptr);
    Arguments a;
    a.engine = engine.get();
    a.thisValue = &self;
    a.name = &name;
    a.mode = Arguments::kCall;
    a.result = &result;
    widget->call(a, "Widget");
    ASSERT_EQ(seen.calls.size(), 1u);
    EXPECT_EQ(seen.calls[0], "Widget:call") << "the class name means the constructor";
    widget->call(a, "inherited");
    EXPECT_EQ(seen.calls.size(), 2u);
    widget->call(a, "noSuchMember");
    EXPECT_EQ(errorCode(), 24);
    EXPECT_EQ(seen.calls.size(), 2u);
}

TEST_F(DispatcherTest, EnumerableRows) {
    registerAll();
    ObjectRef w = newWidget();
    SimpleArray ids;
    widget->getEnumerableProperties(Variant(w.get()), ids, i32(kListForIn));
    EXPECT_EQ(names(ids), "instanceValue");
    widget->getEnumerableProperties(Variant(w.get()), ids, i32(kListMethods));
    EXPECT_EQ(names(ids), "inherited describe poke twice +");
    widget->getEnumerableProperties(Variant(w.get()), ids, i32(kListReadOnly | kListStatic));
    EXPECT_EQ(names(ids), "VERSION");
    objectClass->getEnumerableProperties(Variant(w.get()), ids, i32(kListMethods | kListNoBuiltIn));
    EXPECT_EQ(ids.getCount(), 0) << "the Object class lists nothing without built-ins";
}

// ---- class objects ----

TEST_F(DispatcherTest, ClassObjectsConstructAndCall) {
    registerAll();
    ObjectRef ctor = globalValue("Widget");
    ASSERT_TRUE(ctor && ctor->asFunction());
    EXPECT_EQ(ctor->getStoredLength(), 1u) << "a method's length is its id";
    ASSERT_EQ(seen.calls.size(), 1u) << "the prototype was constructed once";
    EXPECT_EQ(seen.calls[0], "Widget:ctor");

    Variant version;
    ctor->get(sym("VERSION"), version, 0);
    EXPECT_EQ(version.toNumber(), 3) << "a static value on the class object";

    seen.reset();
    ObjectRef w = newWidget();
    ASSERT_TRUE(w);
    EXPECT_EQ(text(seen.lastArgument), "5");
    EXPECT_EQ(w->getClassID(), sym("Widget"));
    EXPECT_EQ(w->getPrototype(), ctor->asFunction()->getPrototypeObject());
    EXPECT_EQ(w->getPrototype()->getObjectID(), kPrototypeId);

    EXPECT_EQ(callMethod(*w, "twice", Variant(21)).toNumber(), 42);
    callMethod(*w, "inherited", Variant(1));
    EXPECT_EQ(seen.calls.back(), "inherited:call") << "a parent's row";
    Variant first, second;
    w->get(sym("twice"), first, 0);
    w->get(sym("twice"), second, 0);
    EXPECT_EQ(objectOf(first), objectOf(second)) << "one function object per method slot";

    Variant element;
    EXPECT_NE(w->get(sym("2"), element, 0), nullptr);
    EXPECT_EQ(element.toNumber(), 20) << ".index answers";
    EXPECT_EQ(w->get(sym("7"), element, 0), nullptr) << "its probe said no";
    EXPECT_NE(w->findOperator(15), nullptr) << "the + row";

    Variant plain;
    Object* object = globalValue("Object").get();
    ASSERT_NE(object, nullptr);
    engine->newObject(plain, Sym::kObject, nullptr, nullptr);
    Variant s;
    objectOf(plain)->get(sym("toString"), s, 0);
    EXPECT_NE(objectOf(s), nullptr) << "plain objects reach the Object rows";
    EXPECT_EQ(objectOf(plain)->getPrototype()->getPrototype(), nullptr);
}

TEST_F(DispatcherTest, NativeCallsCheckAndConvert) {
    registerAll();
    ObjectRef w = newWidget(), plain = newObject();
    ObjectRef poke = ObjectRef(objectOf([&] {
        Variant v;
        w->get(sym("poke"), v, 0);
        return v;
    }()));
    seen.reset();
    Variant result;
    Array none;
    poke->call(plain.get(), none, result);
    EXPECT_EQ(errorCode(), 26);
    String message;
    engine->getError().getMessage(message);
    EXPECT_EQ(text(Variant(message)), "Widget.poke() cannot work with instances of this class");
    EXPECT_TRUE(seen.calls.empty()) << "the handler was not called";
    engine->clearError();
    poke->call(w.get(), none, result);
    EXPECT_EQ(seen.calls.size(), 1u);

    // An object argument of a kArgsToString row arrives as its string.
    ObjectRef argument = newObject();
    ObjectRef toString = native("toString", [](Arguments& a) { a.result->setString("as text"); });
    argument->put(sym("toString"), Variant(toString.get()), 0);
    callMethod(*w, "describe", Variant(argument.get()));
    EXPECT_EQ(seen.lastArgument.getType(), Variant::kString);
    EXPECT_EQ(text(seen.lastArgument), "as text");

    // A conversion that throws, of an argument or of this: no handler call.
    ObjectRef thrower = newObject();
    ObjectRef valueOf = native("valueOf", [](Arguments& a) {
        a.engine->setError(54, String("thrown"), -1, true);
    });
    thrower->put(sym("valueOf"), Variant(valueOf.get()), 0);
    seen.reset();
    callMethod(*w, "twice", Variant(thrower.get()));
    EXPECT_EQ(errorCode(), 54);
    EXPECT_TRUE(seen.calls.empty()) << "argument conversion threw";
    engine->clearError();
    w->put(sym("valueOf"), Variant(valueOf.get()), 0);
    callMethod(*w, "twice", Variant(1));
    EXPECT_EQ(errorCode(), 54);
    EXPECT_TRUE(seen.calls.empty()) << "this conversion threw";
    engine->clearError();
}

// A script function: it has code, so its prototype is always a plain object.
class ScriptLikeFunction : public Function {
public:
    ScriptLikeFunction(ObjectSpace& s, DataPoolId name) : Function(s, name) { code = this; }
};

TEST_F(DispatcherTest, FunctionPrototypes) {
    registerAll();
    ObjectRef f = ObjectRef::adopt(new Function(space(), sym("f")));
    Function* fn = f->asFunction();
    Object* proto = fn->getPrototypeObject();
    ASSERT_NE(proto, nullptr);
    EXPECT_EQ(fn->getPrototypeObject(), proto) << "one object";
    Variant ctor;
    proto->get(Sym::kConstructor, ctor, 0);
    EXPECT_EQ(objectOf(ctor), f.get());
    SimpleArray ids;
    f->getPropertyIDs(ids, kListForIn);
    EXPECT_EQ(names(ids), "") << "not enumerable";
    f->getPropertyIDs(ids, kListForIn | kListDontEnum);
    EXPECT_EQ(names(ids), "prototype constructor __proto__") << "constructor: Function.prototype's";

    Object* widgetPrototype = globalValue("Widget")->asFunction()->getPrototypeObject();
    ObjectRef script = ObjectRef::adopt(new ScriptLikeFunction(space(), sym("Widget")));
    Object* own = script->asFunction()->getPrototypeObject();
    EXPECT_NE(own, widgetPrototype);
    EXPECT_EQ(own->getObjectID(), 0);
    EXPECT_EQ(widgetPrototype->getObjectID(), kPrototypeId) << "the class prototype keeps its id";
    EXPECT_EQ(widgetPrototype->getDispatcher(), widget.get());
    ObjectRef w = newWidget();
    EXPECT_EQ(callMethod(*w, "twice", Variant(4)).toNumber(), 8) << "a method not read before";

    EXPECT_EQ(text(Variant(fn->toDisplayString(true))), "function f()");
    fn->setInferredName(sym("onClick"));
    EXPECT_EQ(text(Variant(fn->toDisplayString(false))), "onClick()");
}

// ---- engine state ----

TEST_F(DispatcherTest, StackBudget) {
    engine->setStackBudget(1000);
    EXPECT_EQ(engine->getStackBudget(), 32768);
    engine->setStackBudget(1 << 30);
    EXPECT_EQ(engine->getStackBudget(), 1 << 30);
    TVContext& context = TVContext::get();
    const uintptr_t saved = context.getStackLimit();
    engine->setStackLimit();
    EXPECT_GE(context.getStackLimit(), LxCore::platformStackEnd() + TVContext::kStackReserve)
        << "the limit lies inside the thread's stack";
    context.setStackLimit(saved);
}

TEST_F(DispatcherTest, InitialisationRetriesAndRefusesWhileRunning) {
    engine->initialize();
    EXPECT_FALSE(engine->isInitialized());
    EXPECT_EQ(errorCode(), 1) << "no default dispatcher";
    engine->registerDispatcher(nullptr, true);
    registerAll();
    EXPECT_EQ(errorCode(), 0);

    ObjectRef held = globalValue("Widget");
    engine->pretendRunning(true);
    engine->initialize();
    EXPECT_EQ(errorCode(), 19);
    EXPECT_EQ(globalValue("Widget").get(), held.get()) << "nothing was torn down";
    engine->pretendRunning(false);
    engine->clearError();
    held = ObjectRef();
    seen.reset();   // a reset destroys every object, held or not
    engine->initialize();
    EXPECT_TRUE(engine->isInitialized());
}

// A handler that makes its own instances answers an unbound reference.
struct Made : LxCore::NativeData {
    static int alive;
    Made() { alive++; }
    ~Made() override { alive--; }
};
int Made::alive = 0;

TEST_F(DispatcherTest, UnboundReferenceConstructorRunsOnce) {
    registerAll();
    auto* native = new Made;
    seen.reset();
    seen.constructAnswer.setObjectReference(42, String("Widget"), native);
    ObjectRef w = newWidget();
    ASSERT_TRUE(w);
    EXPECT_EQ(seen.calls.size(), 1u) << "the handler ran once";
    EXPECT_EQ(w->getObjectID(), 42);
    EXPECT_EQ(w->getNativeData(), native);
    EXPECT_EQ(w->getPrototype(), globalValue("Widget")->asFunction()->getPrototypeObject());
    Variant reference;
    reference.setObjectReference(42, String("Widget"), nullptr);
    EXPECT_EQ(engine->resolveObject(reference), w.get());
    seen.constructAnswer.clear();
    w = ObjectRef();
    EXPECT_EQ(Made::alive, 0) << "the object owned the native data";
}

TEST_F(DispatcherTest, CloneCopiesTheClassTable) {
    registerAll();
    Engine::Factory previous = Engine::setFactory(TestRealEngine::make);
    Engine* copy = nullptr;
    ASSERT_EQ(engine->clone(&copy), 0);
    auto* real = dynamic_cast<TestRealEngine*>(copy);
    ASSERT_NE(real, nullptr);
    EXPECT_EQ(real->getDispatcher(String("Widget")), widget.get());
    EXPECT_EQ(real->getDispatcher(String()), globalClass.get());
    real->initialize();
    EXPECT_TRUE(real->isInitialized());
    seen.reset();   // it holds the copy's Widget prototype
    delete copy;
    Engine::setFactory(previous);
}

}  // namespace
}  // namespace LxScript
