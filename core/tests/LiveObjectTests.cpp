#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/ErrorCodes.h"
#include "core/LiveCollection.h"
#include "core/LiveObject.h"
#include "core/Point.h"
#include "core/tests/LiveTestSupport.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class LiveObjectTest : public ::testing::Test {
protected:
    CoreStarted core;
};

// Answers the messages its function takes.
class FnListener : public Listener {
public:
    std::function<bool(Message&)> fn;
    bool onMessage(Message& message) override { return fn ? fn(message) : false; }
};

// A component that knows the kinds it is given; get answers the id, call 42.
class KindComponent : public LiveComponent {
public:
    std::map<i32, u32> kinds;
    std::map<std::string, i32> names;
    bool generic = false;
    int calls = 0;
    Variant lastPut;
    std::function<void(LiveObject&)> duringCall;

    u32 getPropertyKind(LiveObject&, i32 id) override {
        auto at = kinds.find(id);
        return at == kinds.end() ? kKindNone : at->second;
    }
    i32 findProperty(LiveObject&, const String& name, i32& id, u32& kind, u32) override {
        auto at = names.find(text(name));
        if (at == names.end())
            return 2;
        id = at->second;
        kind = kinds[id];
        return 0;
    }
    i32 getPropertyName(LiveObject&, i32 id, String& name, u32) override {
        for (auto& [n, i] : names)
            if (i == id) {
                name = n.c_str();
                return 0;
            }
        name.clear();
        return 2;
    }
    i32 getPropertyIDs(LiveObject&, SimpleArray& ids, u32) override {
        for (auto& [id, kind] : kinds)
            ids.add(id);
        return 0;
    }
    i32 get(LiveObject&, i32 id, Variant& result, Error*) override {
        result = Variant(id);
        return 0;
    }
    i32 put(LiveObject&, i32, const Variant& value, Error*) override {
        lastPut = value;
        return 0;
    }
    i32 call(LiveObject& target, i32, const Array&, Variant& result, Error*) override {
        calls++;
        if (duringCall)
            duringCall(target);
        result = Variant(42);
        return 0;
    }
    bool isGenericMethod(i32) override { return generic; }
};

std::set<i32> listed(LiveObject& object, u32 flags) {
    SimpleArray ids;
    EXPECT_EQ(object.getPropertyIDs(ids, flags), 0);
    std::set<i32> out;
    for (i32 i = 0; i < ids.getCount(); i++)
        out.insert(i32(ids.get(i)));
    EXPECT_EQ(out.size(), size_t(ids.getCount())) << "an id listed twice";
    return out;
}

constexpr u32 kListMembers = kListReadWrite | kListReadOnly | kListMethods | kScriptClient;

// ---------------------------------------------------------------------------
// Own members

TEST_F(LiveObjectTest, OwnMembersFollowTheirKinds) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    ASSERT_EQ(foo->addProperty(String("ro"), 1, kKindReadOnly), 0);
    ASSERT_EQ(foo->addProperty(String("rw"), 2, kKindReadWrite), 0);
    ASSERT_EQ(foo->addProperty(String("m"), 3, kKindMethod), 0);
    ASSERT_EQ(foo->addProperty(String("cro"), 4, kKindCallableReadOnly), 0);
    Error error;
    Variant result;
    EXPECT_EQ(foo->get(3, result, &error), 2);
    EXPECT_EQ(messageOf(error), "m is undefined");
    struct Put {
        i32 id;
        i32 first, second;
    };
    // Read-only takes one write and then is read only; a callable read-only
    // member, once written, is no longer writable at all.
    for (Put p : {Put{1, 0, 46}, Put{2, 0, 0}, Put{4, 0, 2}}) {
        EXPECT_EQ(foo->put(p.id, Variant(1), nullptr), p.first) << p.id;
        EXPECT_EQ(foo->put(p.id, Variant(2), nullptr), p.second) << p.id;
    }
    Error readOnly;
    foo->put(1, Variant(3), &readOnly);
    EXPECT_EQ(messageOf(readOnly), "ro is read only");
    EXPECT_EQ(foo->get(1, result, nullptr), 0);
    EXPECT_EQ(result.toNumber(), 1);
    EXPECT_EQ(foo->call(2, Array(), result, nullptr), 24);
    EXPECT_EQ(foo->call(3, Array(), result, nullptr), 24);     // a record holds no code

    Held<LiveObject> fixed(new LiveObject("Fixed", false));
    EXPECT_EQ(fixed->addProperty(String("x"), 1, 2), 55);
    EXPECT_EQ(foo->addProperty(String("rw"), 9, 2), 40);
    EXPECT_EQ(foo->addProperty(String("RW"), 9, 2), 0);
    EXPECT_EQ(foo->addProperty(String("Ro"), 10, 2 | kCaseBlindClient), 40);

    i32 id;
    u32 kind;
    EXPECT_EQ(foo->findProperty(String("RO"), id, kind, kCaseBlindClient), 0);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(foo->findProperty(String("RO"), id, kind, kScriptClient), 2);
    EXPECT_EQ(kind, kKindNone);
    String name;
    EXPECT_EQ(foo->getPropertyName(4, name, kScriptClient), 0);
    EXPECT_EQ(text(name), "cro");
    EXPECT_EQ(foo->getPropertyName(0x1FF10000, name, kScriptClient), 0);
    EXPECT_EQ(text(name), "Foo");
    EXPECT_EQ(foo->getPropertyKind(0x1FF10000), kKindMethod);
    EXPECT_EQ(foo->getPropertyKind(4), kKindCallableReadOnly);
    EXPECT_EQ(foo->getPropertyKind(99), kKindNone);

    // Descriptions now name own members; indexes and operators as before.
    foo->describeProperty(name, 2, false);
    EXPECT_EQ(text(name), "rw");
    foo->describeProperty(name, 7, true);
    EXPECT_EQ(text(name), "[7]");
    foo->describeProperty(name, 0x1FF10104, false);
    EXPECT_EQ(text(name), "operator \"*\"()");
}

TEST_F(LiveObjectTest, FreshIdsSkipIdsTheObjectHolds) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    LiveBase::setNextSerial(kFirstSerialId + 5);
    ASSERT_EQ(foo->addProperty(String("taken"), kFirstSerialId + 5, 2), 0);
    i32 id = 0;
    ASSERT_EQ(foo->addProperty(String("fresh"), &id, 2), 0);
    EXPECT_EQ(id, kFirstSerialId + 6);
}

TEST_F(LiveObjectTest, ListingsRemovalAndReset) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    foo->addProperty(String("a"), 1, 2);
    foo->addProperty(String("b"), 2, 2 | kMemberListedReadOnly);
    foo->addProperty(String("hidden"), 3, 2 | kMemberHidden);
    foo->addProperty(String("fixed"), 4, 2 | kMemberFixed);
    EXPECT_EQ(listed(*foo, kListReadWrite), (std::set<i32>{1, 4}));
    EXPECT_EQ(listed(*foo, kListReadOnly), (std::set<i32>{2}));
    EXPECT_EQ(listed(*foo, kListReadWrite | kListHidden), (std::set<i32>{1, 3, 4}));
    // Ids already in the list stay once; the list is appended to.
    SimpleArray ids;
    ids.add(1);
    foo->getPropertyIDs(ids, kListReadWrite);
    EXPECT_EQ(ids.getCount(), 2);

    EXPECT_EQ(foo->removeProperty(4), 2);       // fixed
    EXPECT_EQ(foo->removeProperty(1), 0);
    EXPECT_EQ(foo->removeProperty(1), 2);
    EXPECT_EQ(listed(*foo, kListReadWrite | kListReadOnly | kListHidden), (std::set<i32>{2, 3, 4}));
    foo->removeProperties(false);
    EXPECT_EQ(listed(*foo, kListReadWrite | kListHidden), (std::set<i32>{4}));

    Held<LiveObject> flagged(new LiveObject("Flagged", true));
    flagged->addProperty(String("fixed"), 4, 2 | kMemberFixed);
    flagged->addProperty(String("*"), 0x1FF10104, 5);
    EXPECT_TRUE(flagged->hasOperators());
    flagged->reset();
    EXPECT_EQ(flagged->getFlags(), kLiveDynamic);
    EXPECT_FALSE(flagged->hasOperators());
    EXPECT_EQ(flagged->getPropertyKind(4), kKindNone);
}

// ---------------------------------------------------------------------------
// Components and listeners

TEST_F(LiveObjectTest, ComponentsServeLastAttachedFirst) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    Held<KindComponent> first(new KindComponent);
    Held<KindComponent> second(new KindComponent);
    first->kinds = {{10, kKindReadWrite}, {11, kKindMethod}, {12, kKindCallableReadOnly},
                    {13, kKindReadWrite}};
    first->names = {{"ten", 10}, {"thirteen", 13}};
    second->kinds = {{13, kKindSuppressed}, {14, kKindReadOnly}};
    EXPECT_EQ(foo->addComponent(*first), 0);
    EXPECT_EQ(foo->addComponent(*first), 0);        // once
    EXPECT_EQ(first->getRefCount(), 2u);
    foo->addComponent(*second);

    Variant result;
    EXPECT_EQ(foo->get(10, result, nullptr), 0);
    EXPECT_EQ(result.toNumber(), 10);
    EXPECT_EQ(foo->get(11, result, nullptr), 2);    // a method
    EXPECT_EQ(foo->get(13, result, nullptr), 2);    // suppressed by the later one
    EXPECT_EQ(foo->put(13, Variant(1), nullptr), 2);
    EXPECT_EQ(foo->put(14, Variant(1), nullptr), 46);
    EXPECT_EQ(foo->put(12, Variant(1), nullptr), 46);
    EXPECT_EQ(foo->put(10, Variant(5), nullptr), 0);
    EXPECT_EQ(first->lastPut.toNumber(), 5);
    EXPECT_EQ(foo->call(10, Array(), result, nullptr), 24);
    EXPECT_EQ(foo->call(11, Array(), result, nullptr), 0);
    EXPECT_EQ(result.toNumber(), 42);
    EXPECT_EQ(foo->getPropertyKind(13), kKindNone);
    EXPECT_EQ(listed(*foo, kListMembers).count(13), 0u);
    EXPECT_EQ(listed(*foo, kListMembers).count(10), 1u);
    i32 id;
    u32 kind;
    EXPECT_EQ(foo->findProperty(String("ten"), id, kind, kScriptClient), 0);
    EXPECT_EQ(id, 10);
    EXPECT_EQ(foo->findComponentFor(14, nullptr), second.get());
    EXPECT_EQ(foo->findComponentFor(10, nullptr), first.get());
    EXPECT_EQ(foo->findComponentFor(13, nullptr), second.get());     // 17 counts as known
    EXPECT_EQ(foo->findComponentFor(13, second.get()), first.get());

    // A method of the component works only on its own class, unless generic.
    Held<LiveObject> other(new LiveObject("Other", true));
    Error error;
    EXPECT_EQ(foo->invoke(*other, 11, Array(), result, &error), 26);
    EXPECT_EQ(messageOf(error), "{LiveObject(\"Foo\").property(11)} cannot work with instances of this class");
    first->generic = true;
    EXPECT_EQ(foo->invoke(*other, 11, Array(), result, nullptr), 0);

    EXPECT_EQ(foo->removeComponent(*first), 0);
    EXPECT_EQ(first->getRefCount(), 1u);
    EXPECT_EQ(foo->removeComponent(*first), 0);
}

// A component that finds a name hidden by a later one reports 2.
TEST_F(LiveObjectTest, ASuppressingComponentHidesTheNameFromLaterOnes) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    Held<KindComponent> knows(new KindComponent);
    Held<KindComponent> hides(new KindComponent);
    knows->kinds = {{20, kKindReadWrite}};
    knows->names = {{"x", 20}};
    hides->kinds = {{20, kKindSuppressed}};
    hides->names = {{"x", 20}};
    foo->addComponent(*knows);
    foo->addComponent(*hides);
    i32 id;
    u32 kind;
    EXPECT_EQ(foo->findProperty(String("x"), id, kind, kScriptClient), 2);
}

TEST_F(LiveObjectTest, ListenersServeMembersTheyAnnounce) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    FnListener listener;
    Variant stored(7);
    listener.fn = [&](Message& m) {
        auto& ask = static_cast<LiveMessage&>(m);
        switch (m.getId()) {
            case kMsgFindMember:
                if (text(ask.getData()->toString()) != "magic")
                    return false;
                ask.id = code("abcd");
                ask.getData()->setInt(kKindCallableReadWrite);
                return true;
            case kMsgGet:
                *ask.getData() = stored;
                return true;
            case kMsgPut:
                stored = *ask.getData();
                ask.status = 2;         // counts as done
                return true;
            case kMsgCall:
                ask.getData()->setInt(ask.args.length());
                return true;
            default:
                return false;
        }
    };
    for (u32 id : {kMsgFindMember, kMsgGet, kMsgPut, kMsgCall})
        foo->addListener(&listener, id);
    i32 id;
    u32 kind;
    EXPECT_EQ(foo->findProperty(String("magic"), id, kind, kScriptClient), 0);
    EXPECT_EQ(id, code("abcd"));
    EXPECT_EQ(kind, kKindCallableReadWrite);
    EXPECT_EQ(foo->findProperty(String("plain"), id, kind, kScriptClient), 2);
    // Listed only with bit 27: the record is hidden.
    EXPECT_EQ(listed(*foo, kListMembers).count(code("abcd")), 0u);
    EXPECT_EQ(listed(*foo, kListMembers | kListHidden).count(code("abcd")), 1u);

    Variant result;
    EXPECT_EQ(foo->get(code("abcd"), result, nullptr), 0);
    EXPECT_EQ(result.toNumber(), 7);
    EXPECT_EQ(foo->put(code("abcd"), Variant(8), nullptr), 0);
    EXPECT_EQ(stored.toNumber(), 8);
    Array args(3);
    EXPECT_EQ(foo->call(code("abcd"), args, result, nullptr), 0);
    EXPECT_EQ(result.toNumber(), 3);
    Held<LiveObject> other(new LiveObject("Other", true));
    EXPECT_EQ(foo->invoke(*other, code("abcd"), args, result, nullptr), 0);
    foo->removeListener(&listener, Broadcaster::kAllIds);
    // Nobody answers now.
    EXPECT_EQ(foo->get(code("abcd"), result, nullptr), 2);
    EXPECT_EQ(foo->call(code("abcd"), args, result, nullptr), 24);
    EXPECT_EQ(foo->invoke(*other, code("abcd"), args, result, nullptr), 26);
}

// Listeners and components that change the object while it serves them.
TEST_F(LiveObjectTest, ChangesDuringAMemberCallAreSafe) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    FnListener listener;
    listener.fn = [&](Message& m) {
        auto& ask = static_cast<LiveMessage&>(m);
        if (m.getId() == kMsgFindMember) {
            ask.id = 77;
            ask.getData()->setInt(kKindReadWrite);
            return true;
        }
        ask.object->removeProperty(77);     // the member goes while it is read
        ask.getData()->setInt(5);
        return true;
    };
    foo->addListener(&listener, kMsgFindMember);
    foo->addListener(&listener, kMsgGet);
    i32 id;
    u32 kind;
    ASSERT_EQ(foo->findProperty(String("gone"), id, kind, kScriptClient), 0);
    Variant result;
    EXPECT_EQ(foo->get(77, result, nullptr), 0);
    EXPECT_EQ(result.toNumber(), 5);
    EXPECT_EQ(foo->getPropertyKind(77), kKindNone);
    foo->removeListener(&listener, Broadcaster::kAllIds);

    auto* leaving = new KindComponent;
    leaving->kinds = {{30, kKindMethod}};
    leaving->duringCall = [leaving](LiveObject& object) { object.removeComponent(*leaving); };
    foo->addComponent(*leaving);
    leaving->release();                     // the object holds the only reference
    EXPECT_EQ(foo->call(30, Array(), result, nullptr), 0);
    EXPECT_EQ(result.toNumber(), 42);
    EXPECT_EQ(foo->call(30, Array(), result, nullptr), 24);
}

TEST_F(LiveObjectTest, InvalidObjectsAnswer45AndAnnounceTheChange) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    FnListener listener;
    std::string heard;
    listener.fn = [&](Message& m) {
        heard += m.getId() == kMsgInvalidated ? "w" : "r";
        return false;
    };
    foo->addListener(&listener, kMsgInvalidated);
    foo->addListener(&listener, kMsgValidated);
    foo->addProperty(String("a"), 1, 2);
    foo->invalidate();
    foo->invalidate();
    Error error;
    Variant result;
    EXPECT_EQ(foo->get(1, result, &error), 45);
    EXPECT_EQ(messageOf(error), "Object is invalid");
    i32 id;
    u32 kind;
    EXPECT_EQ(foo->findProperty(String("a"), id, kind, kScriptClient), 45);
    EXPECT_EQ(foo->addProperty(String("b"), 2, 2), 45);
    foo->validate();
    EXPECT_EQ(heard, "wr");
    EXPECT_EQ(foo->get(1, result, nullptr), 0);
    foo->removeListener(&listener, Broadcaster::kAllIds);
}

// ---------------------------------------------------------------------------
// Cloning and the registry

// A class whose clone method is given by a function.
class Cloning : public LiveObject {
public:
    std::function<i32(Variant&)> cloneMethod;
    explicit Cloning(const char* name) : LiveObject(name, true) { setClassId(0x7001); }
    i32 call(i32 id, const Array& args, Variant& result, Error* error) override {
        if (id == kCloneMethodId && cloneMethod)
            return cloneMethod(result);
        return LiveObject::call(id, args, result, error);
    }
};

TEST_F(LiveObjectTest, ClonesCopyStateAndRefuseEmptyAnswers) {
    Held<Cloning> source(new Cloning("Widget"));
    Held<KindComponent> component(new KindComponent);
    source->addComponent(*component);
    *static_cast<Variant*>(source->getInterface(kValueInterface)) = Variant(12);
    source->addProperty(String("a"), 1, 2);
    source->put(1, Variant(3), nullptr);
    source->addProperty(String("b"), 2, 2);

    LiveObject* copy = nullptr;
    ASSERT_EQ(source->clone(copy, true), 0);    // no clone method: a plain object
    Held<LiveObject> held(copy);
    EXPECT_EQ(text(copy->getClassName()), "Widget");
    EXPECT_EQ(copy->getFlags(), source->getFlags());
    EXPECT_EQ(static_cast<Variant*>(copy->getInterface(kValueInterface))->toNumber(), 12);
    EXPECT_EQ(component->getRefCount(), 3u);
    Variant value;
    EXPECT_EQ(copy->get(1, value, nullptr), 0);
    EXPECT_EQ(value.toNumber(), 3);
    EXPECT_EQ(listed(*copy, kListReadWrite), (std::set<i32>{1, 2}));

    LiveObject* shallow = nullptr;
    ASSERT_EQ(source->clone(shallow, false), 0);
    EXPECT_EQ(shallow->getPropertyKind(1), kKindNone);
    shallow->release();

    source->cloneMethod = [](Variant& result) {
        result = Variant(1);
        return 0;
    };
    LiveObject* none = reinterpret_cast<LiveObject*>(1);
    EXPECT_EQ(source->clone(none, true), 21);
    EXPECT_EQ(none, nullptr);
    // A clone method answering with the source itself copies nothing onto it.
    source->cloneMethod = [&](Variant& result) {
        result.setLiveObject(source.get(), 0);
        return 0;
    };
    LiveObject* self = nullptr;
    ASSERT_EQ(source->clone(self, true), 0);
    EXPECT_EQ(self, source.get());
    self->release();
    EXPECT_EQ(source->get(1, value, nullptr), 0);
    EXPECT_EQ(value.toNumber(), 3);
    EXPECT_EQ(component->getRefCount(), 3u);
}

TEST_F(LiveObjectTest, TheRegistryConstructsByName) {
    Held<Cloning> first(new Cloning("Widget"));
    first->addProperty(String("size"), 1, 2);
    first->put(1, Variant(9), nullptr);
    ASSERT_EQ(LiveObject::registerClass(*first, 0x10000), 0);
    EXPECT_EQ(first->getRefCount(), 2u);
    EXPECT_EQ(LiveObject::findClass(String("Widget"), 0x30000), first.get());
    EXPECT_EQ(LiveObject::findClass(String("Widget"), 0x20000), nullptr);
    LiveObject* made = nullptr;
    EXPECT_EQ(LiveObject::createInstance(made, String("Widget"), 0x20000), 22);
    EXPECT_EQ(LiveObject::createInstance(made, String("Nothing"), 0x10000), 22);
    ASSERT_EQ(LiveObject::createInstance(made, String("Widget"), 0x10000), 0);
    Variant value;
    EXPECT_EQ(made->get(1, value, nullptr), 0);
    EXPECT_EQ(value.toNumber(), 9);
    made->release();

    // A second factory of the name takes the name and the id; the first goes.
    Held<Cloning> second(new Cloning("Widget"));
    ASSERT_EQ(LiveObject::registerClass(*second, 0x10000), 0);
    EXPECT_EQ(first->getRefCount(), 1u);
    EXPECT_EQ(LiveObject::findClass(String("Widget"), 0x10000), second.get());
    // Another class under the same class id, and gone again.
    Held<Cloning> third(new Cloning("Gadget"));
    ASSERT_EQ(LiveObject::registerClass(*third, 0x10000), 0);
    LiveObject::unregisterClass(String("Gadget"));
    EXPECT_EQ(third->getRefCount(), 1u);
    LiveObject::unregisterClass(String("Widget"));
    EXPECT_EQ(second->getRefCount(), 1u);
    EXPECT_EQ(LiveObject::findClass(String("Widget"), 0x10000), nullptr);
    LiveObject::unregisterClass(String("Widget"));

    // A factory whose clone drops the registration still makes its object.
    Held<Cloning> fleeting(new Cloning("Fleeting"));
    fleeting->cloneMethod = [](Variant&) {
        LiveObject::unregisterClass(String("Fleeting"));
        return 24;
    };
    ASSERT_EQ(LiveObject::registerClass(*fleeting, 0x10000), 0);
    ASSERT_EQ(LiveObject::createInstance(made, String("Fleeting"), 0x10000), 0);
    EXPECT_EQ(text(made->getClassName()), "Fleeting");
    made->release();
    // Left registered, the library's end releases it.
    ASSERT_EQ(LiveObject::registerClass(*first, 0x10000), 0);
}

// ---------------------------------------------------------------------------
// Container, conversions, Variants

TEST_F(LiveObjectTest, AContainerSeesEachChangeOnce) {
    Held<LiveObject> outer(new LiveObject("Outer", true));
    outer->addProperty(String("inner"), 1, 2);
    Held<LiveObject> inner(new LiveObject("Inner", true));
    inner->addProperty(String("x"), 5, 2);
    inner->setContainer(outer.get(), 1);
    EXPECT_EQ(inner->put(5, Variant(1), nullptr), 0);
    Variant held;
    outer->get(1, held, nullptr);
    EXPECT_EQ(held.getLiveObject(), inner.get());

    // Its own container: one write-back, no loop.
    Held<LiveObject> self(new LiveObject("Self", true));
    self->addProperty(String("me"), 1, 2);
    self->setContainer(self.get(), 1);
    EXPECT_EQ(self->put(1, Variant(3), nullptr), 0);
    self->get(1, held, nullptr);
    EXPECT_EQ(held.getLiveObject(), self.get());
    self->setContainer(nullptr, 0);
    self->put(1, Variant(0), nullptr);      // no longer holding itself
    held.clear();

    // Two objects holding each other write back once each.
    Held<LiveObject> a(new LiveObject("A", true));
    Held<LiveObject> b(new LiveObject("B", true));
    a->addProperty(String("peer"), 1, 2);
    b->addProperty(String("peer"), 1, 2);
    a->setContainer(b.get(), 1);
    b->setContainer(a.get(), 1);
    EXPECT_EQ(a->put(1, Variant(0), nullptr), 0);
    a->setContainer(nullptr, 0);
    b->setContainer(nullptr, 0);
    a->put(1, Variant(0), nullptr);
    b->put(1, Variant(0), nullptr);

    // A chain too long to write back: 27 from the deepest write-back. Each
    // link answers a put with its own write-back's status.
    class Link : public LiveObject {
    public:
        Link() : LiveObject("Link", true) {}
        i32 put(i32, const Variant&, Error* error) override { return updateContainer(error); }
    };
    std::vector<LiveObject*> chain;
    for (int i = 0; i < 200; i++) {
        auto* link = new Link;
        if (!chain.empty())
            chain.back()->setContainer(link, 1);
        chain.push_back(link);
    }
    EXPECT_EQ(chain.front()->updateContainer(nullptr), Err::kStackOverrun);
    EXPECT_EQ(chain[100]->updateContainer(nullptr), 0);
    for (LiveObject* link : chain)
        link->release();

    // When the container dies the link goes.
    LiveObject* dying = new LiveObject("Dying", true);
    inner->setContainer(dying, 3);
    dying->release();
    EXPECT_EQ(inner->getContainer(), nullptr);
    EXPECT_EQ(inner->put(5, Variant(2), nullptr), 0);
}

// valueOf and toString members that answer with the object itself.
class SelfConverting : public LiveObject {
public:
    SelfConverting() : LiveObject("Foo", true) {
        addProperty(String("valueOf"), 1, kKindMethod);
        addProperty(String("toString"), 2, kKindMethod);
    }
    i32 call(i32 id, const Array& args, Variant& result, Error* error) override {
        if (id == 1 || id == 2) {
            result.setLiveObject(*this, 0);
            return 0;
        }
        return LiveObject::call(id, args, result, error);
    }
};

TEST_F(LiveObjectTest, VariantsHoldLiveObjects) {
    Held<LiveObject> foo(new LiveObject("Foo", true));
    {
        Variant a(*foo, 5);
        EXPECT_EQ(a.getType(), Variant::kLiveObject);
        EXPECT_EQ(foo->getRefCount(), 2u);
        Variant b(a);
        EXPECT_EQ(foo->getRefCount(), 3u);
        EXPECT_EQ(b.toInt(0, 10), 5);
        EXPECT_TRUE(a == b);
        EXPECT_TRUE(a.toBoolean());
        EXPECT_TRUE(a.isValidObject());
        EXPECT_EQ(text(a.toString()), "[object Foo]");
        EXPECT_TRUE(std::isnan(a.toNumber()));
        b.setNull();
        EXPECT_EQ(foo->getRefCount(), 2u);
        // Equal by the object's equals: same class, same components, no container.
        Held<LiveObject> twin(new LiveObject("Foo", true));
        EXPECT_TRUE(a == Variant(*twin, 0));
        EXPECT_FALSE(a == Variant(*Held<LiveObject>(new LiveObject("Bar", true)), 0));
    }
    EXPECT_EQ(foo->getRefCount(), 1u);
    *static_cast<Variant*>(foo->getInterface(kValueInterface)) = Variant(4);
    EXPECT_EQ(Variant(*foo, 0).toNumber(), 4);
    EXPECT_EQ(Variant(*foo, 0).toInt(), 4);

    Variant result;
    Held<SelfConverting> self(new SelfConverting);
    Variant selfValue(*self, 0);
    EXPECT_TRUE(std::isnan(selfValue.toNumber()));
    EXPECT_EQ(selfValue.toInt(), 0);
    EXPECT_EQ(text(selfValue.toString()), "[object Foo]");
    String direct;
    self->toString(direct);
    EXPECT_EQ(text(direct), "[object Foo]");

    // A valueOf that calls valueOf by name again: the status says so.
    class Recursing : public LiveObject {
    public:
        Recursing() : LiveObject("Deep", true) { addProperty(String("valueOf"), 1, kKindMethod); }
        i32 call(i32 id, const Array& args, Variant& result, Error* error) override {
            return callMethod(String("valueOf"), args, result, error);
        }
    };
    Held<Recursing> deep(new Recursing);
    Error error;
    EXPECT_EQ(deep->callMethod(String("valueOf"), result, &error), Err::kStackOverrun);
    EXPECT_EQ(messageOf(error), "Stack overrun");
    EXPECT_TRUE(std::isnan(Variant(*deep, 0).toNumber()));
    EXPECT_EQ(deep->callMethod(String("nothing"), result, &error), 2);
}

TEST_F(LiveObjectTest, RectsTravelThroughLiveArrays) {
    Variant value;
    value.setRect(Rect(1, 2, 3, 4));
    value.convertTo(Variant::kLiveObject);
    ASSERT_EQ(value.getType(), Variant::kLiveObject);
    LiveObject* live = value.getLiveObject();
    EXPECT_EQ(text(live->getClassName()), "Collection");
    EXPECT_EQ(live->getRefCount(), 1u);
    u32 length = 0;
    static_cast<LiveCollection*>(live->getInterface(kCollectionInterface))->getLength(length);
    EXPECT_EQ(length, 4u);
    i32 id;
    u32 kind;
    EXPECT_EQ(live->findProperty(String("length"), id, kind, kScriptClient), 0);
    EXPECT_EQ(kind, kKindReadWrite);
    EXPECT_EQ(text(value.toString()), "1,2,3,4");
    value.convertTo(Variant::kArray);
    ASSERT_EQ(value.getType(), Variant::kArray);
    EXPECT_EQ(value.getArray()->length(), 4u);
    value.convertTo(Variant::kRect);
    const Rect* r = value.getRect();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->left, 1);
    EXPECT_EQ(r->top, 2);
    EXPECT_EQ(r->right, 3);
    EXPECT_EQ(r->bottom, 4);
    Variant plain(5);
    plain.convertTo(Variant::kLiveObject);
    EXPECT_EQ(plain.getType(), Variant::kNull);
}

TEST_F(LiveObjectTest, MembersFromEveryPlaceByIdAndNamesInATable) {
    static const LivePropertyInfo rows[] = {{"width", code("widt"), 2, "number"},
                                            {nullptr, 0, 0, nullptr}};
    class Shape : public LiveObject {
    public:
        Shape() : LiveObject("Shape", true), table(rows) { propertyManager = &table; }
        LivePropertyManager table;
    };
    Held<Shape> shape(new Shape);
    Held<KindComponent> component(new KindComponent);
    component->kinds = {{code("colr"), kKindReadWrite}};
    component->names = {{"color", code("colr")}};
    shape->addComponent(*component);
    FnListener listener;
    listener.fn = [](Message& m) {
        auto& ask = static_cast<LiveMessage&>(m);
        if (m.getId() == kMsgFindMember) {
            ask.id = code("lstn");
            ask.getData()->setInt(1);
        } else {
            ask.getData()->setString("heard");
        }
        return true;
    };
    shape->addListener(&listener, kMsgFindMember);
    shape->addListener(&listener, kMsgGet);
    shape->addProperty(String("own"), code("own "), 2);
    shape->put(code("own "), Variant("mine"), nullptr);

    struct Case {
        const char* name;
        i32 id;
        const char* value;      // null: not served
    };
    for (Case c : {Case{"own", code("own "), "mine"}, Case{"width", code("widt"), nullptr},
                   Case{"color", code("colr"), nullptr}, Case{"heardOf", code("lstn"), "heard"}}) {
        i32 id;
        u32 kind;
        ASSERT_EQ(shape->findProperty(String(c.name), id, kind, kScriptClient), 0) << c.name;
        EXPECT_EQ(id, c.id);
        if (c.value) {
            Variant value;
            EXPECT_EQ(shape->get(id, value, nullptr), 0);
            EXPECT_EQ(text(value.toString()), c.value);
        }
        String name;
        EXPECT_EQ(shape->getPropertyName(id, name, kScriptClient | kListHidden), 0);
    }
    Variant color;
    EXPECT_EQ(shape->get(code("colr"), color, nullptr), 0);
    EXPECT_EQ(color.toInt(), code("colr"));
    shape->removeListener(&listener, Broadcaster::kAllIds);
}

TEST_F(LiveObjectTest, NoExceptionLeavesAMemberOperation) {
    class Throwing : public KindComponent {
    public:
        i32 get(LiveObject&, i32, Variant&, Error*) override { throw std::bad_alloc(); }
        i32 put(LiveObject&, i32, const Variant&, Error*) override { throw 5; }
    };
    Held<LiveObject> foo(new LiveObject("Foo", true));
    Held<Throwing> component(new Throwing);
    component->kinds = {{1, kKindReadWrite}};
    foo->addComponent(*component);
    Variant result(3);
    Error error;
    EXPECT_EQ(foo->get(1, result, &error), -28);
    EXPECT_EQ(result.getType(), Variant::kUndefined);
    EXPECT_EQ(foo->put(1, Variant(1), nullptr), -29);
}

}  // namespace
}  // namespace LxCore
