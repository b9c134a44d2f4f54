#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/Broadcaster.h"
#include "core/Heap.h"
#include "core/String.h"
#include "core/Variant.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

u32 idOf(const std::string& code) {
    u32 id = 0;
    for (char c : code)
        id = id << 8 | u8(c);
    return id;
}

std::string codeOf(u32 id) {
    std::string code;
    for (int shift = 24; shift >= 0; shift -= 8)
        code += char(id >> shift);
    return code;
}

using Log = std::vector<std::string>;

// Writes "name:code" for every message it gets, then does its action.
class TestListener : public Listener {
public:
    TestListener(std::string listenerName, Log& messages) : name(std::move(listenerName)), log(messages) {}

    std::string name;
    bool handles = false;
    std::function<void(Message&)> action;

    bool onMessage(Message& message) override {
        log.push_back(name + ":" + codeOf(message.getId()));
        if (action)
            action(message);
        return handles;
    }

private:
    Log& log;
};

class BroadcasterTest : public ::testing::Test {
protected:
    CoreStarted core;
    // Freed blocks go straight back, where the address sanitizer sees any
    // later use of them.
    BroadcasterTest() { Heap::setCacheSize(0); }
    Log log;
    std::map<std::string, std::unique_ptr<TestListener>> listeners;

    TestListener& listener(const std::string& name) {
        auto& slot = listeners[name];
        if (!slot)
            slot = std::make_unique<TestListener>(name, log);
        return *slot;
    }

    // "A+msg1" subscribes A to 'msg1', "A-msg1" removes it; "A!" makes A
    // answer handled.
    void apply(Broadcaster& b, const std::vector<std::string>& steps) {
        for (const std::string& step : steps) {
            TestListener& l = listener(step.substr(0, 1));
            if (step[1] == '!')
                l.handles = true;
            else if (step[1] == '+')
                b.addListener(&l, idOf(step.substr(2)));
            else
                b.removeListener(&l, idOf(step.substr(2)));
        }
    }
};

TEST(FourCharCode, PacksTheFirstCharacterHighest) {
    EXPECT_EQ(fourCharCode("ALL!"), 0x414C4C21u);
    EXPECT_EQ(Broadcaster::kDeleted, 0x44454C21u);
    EXPECT_EQ(fourCharCode("\x81mm\x8C"), 0x816D6D8Cu);
    EXPECT_TRUE(Broadcaster::isDeletionId(fourCharCode("DELE")));
    EXPECT_TRUE(Broadcaster::isDeletionId(fourCharCode("DELx")));
    EXPECT_FALSE(Broadcaster::isDeletionId(fourCharCode("DEAL")));
    EXPECT_FALSE(Broadcaster::isDeletionId(fourCharCode("ALL!")));
}

// ---------------------------------------------------------------------------
// Delivery

struct DeliveryCase {
    const char* name;
    std::vector<std::string> steps;
    const char* message;
    Log expected;
    bool handled;
};

TEST_F(BroadcasterTest, DeliversToTheIdsListenersThenToEveryIdsListeners) {
    const DeliveryCase cases[] = {
        {"nobody subscribed", {}, "msg1", {}, false},
        {"one listener", {"A+msg1"}, "msg1", {"A:msg1"}, false},
        {"another id", {"A+msg2"}, "msg1", {}, false},
        {"every id after the id's listeners", {"B+ALL!", "A+msg1"}, "msg1", {"A:msg1", "B:msg1"}, false},
        {"handled stops", {"B+ALL!", "A+msg1", "A!"}, "msg1", {"A:msg1"}, true},
        {"every id alone", {"B+ALL!"}, "othr", {"B:othr"}, false},
        {"handled by every id", {"B+ALL!", "B!"}, "othr", {"B:othr"}, true},
        {"order of subscription", {"C+msg1", "A+msg1", "B+msg1"}, "msg1", {"C:msg1", "A:msg1", "B:msg1"}, false},
        {"stops at the first that handles", {"A+msg1", "B+msg1", "C+msg1", "B!"}, "msg1",
         {"A:msg1", "B:msg1"}, true},
        {"once per list", {"A+ALL!", "A+msg1"}, "msg1", {"A:msg1", "A:msg1"}, false},
        {"every id cancels the others", {"A+msg1", "A+ALL!"}, "msg1", {"A:msg1"}, false},
        {"subscribed twice, held once", {"A+msg1", "A+msg1"}, "msg1", {"A:msg1"}, false},
        {"removed", {"A+msg1", "B+msg1", "A-msg1"}, "msg1", {"B:msg1"}, false},
        {"removed everywhere", {"A+msg1", "A+msg2", "B+msg1", "A-ALL!"}, "msg1", {"B:msg1"}, false},
        {"an empty list passes on", {"A+msg1", "B+ALL!", "A-msg1"}, "msg1", {"B:msg1"}, false},
    };
    for (const DeliveryCase& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        listeners.clear();
        Broadcaster b;
        apply(b, c.steps);
        EXPECT_EQ(b.broadcast(idOf(c.message)), c.handled);
        EXPECT_EQ(log, c.expected);
    }
}

struct HasListenersCase {
    std::vector<std::string> steps;
    const char* id;
    bool expected;
};

TEST_F(BroadcasterTest, HasListenersCountsTheIdAndEveryId) {
    const HasListenersCase cases[] = {
        {{}, "msg1", false},
        {{"A+msg1"}, "msg1", true},
        {{"A+msg1"}, "msg2", false},
        {{"A+msg1", "A-msg1"}, "msg1", false},
        {{"B+ALL!"}, "msg2", true},
        {{"B+ALL!", "B-ALL!"}, "msg2", false},
        {{"A+msg1", "A-ALL!"}, "msg1", false},
    };
    for (const HasListenersCase& c : cases) {
        Broadcaster b;
        apply(b, c.steps);
        EXPECT_EQ(b.hasListeners(idOf(c.id)), c.expected) << c.id << " after " << c.steps.size();
    }
}

TEST_F(BroadcasterTest, TheMessageNamesItsSenderOnlyDuringTheDelivery) {
    Broadcaster b;
    DataMessage message(idOf("data"));
    EXPECT_EQ(message.getSender(), nullptr);
    EXPECT_EQ(message.getData()->getType(), Variant::kUndefined);
    TestListener& a = listener("A");
    a.action = [&](Message& m) {
        EXPECT_EQ(m.getSender(), &b);
        m.getData()->setString("answer");
    };
    b.addListener(&a, idOf("data"));
    EXPECT_FALSE(b.send(message));
    EXPECT_EQ(message.getSender(), nullptr);
    EXPECT_EQ(message.getData()->toString(), String("answer"));

    Message plain(idOf("data"));
    EXPECT_EQ(plain.getData(), nullptr);
}

TEST_F(BroadcasterTest, NullListenersAndUnknownRemovalsAreIgnored) {
    Broadcaster b;
    b.removeListener(&listener("A"), idOf("msg1"));
    b.addListener(nullptr, idOf("msg1"));
    b.addListener(nullptr, Broadcaster::kAllIds);
    EXPECT_FALSE(b.hasListeners(idOf("msg1")));
    b.removeListener(nullptr, idOf("msg1"));
    b.removeListener(&listener("A"), idOf("msg1"));
    EXPECT_FALSE(b.broadcast(idOf("msg1")));
    EXPECT_TRUE(log.empty());
}

TEST_F(BroadcasterTest, ACopyStartsWithoutListeners) {
    Broadcaster b;
    b.addListener(&listener("A"), idOf("msg1"));
    Broadcaster copy(b);
    EXPECT_FALSE(copy.hasListeners(idOf("msg1")));
    copy = b;
    EXPECT_FALSE(copy.broadcast(idOf("msg1")));
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(b.hasListeners(idOf("msg1")));
}

// ---------------------------------------------------------------------------
// Listeners that change the lists while they are walked

struct ChangeCase {
    const char* name;
    // What A does when it first gets 'msg1'.
    std::function<void(Broadcaster&)> action;
    Log expected;
};

class ListChangeTest : public BroadcasterTest {
public:
    Listener* named(const char* name) { return &listener(name); }
};

TEST_F(ListChangeTest, NoListenerIsSkippedOrCalledTwice) {
    const u32 msg1 = idOf("msg1");
    const ChangeCase cases[] = {
        {"removes itself",
         [&](Broadcaster& b) { b.removeListener(named("A"), msg1); },
         {"A:msg1", "B:msg1", "C:msg1", "E:msg1"}},
        {"removes itself everywhere",
         [&](Broadcaster& b) { b.removeListener(named("A"), Broadcaster::kAllIds); },
         {"A:msg1", "B:msg1", "C:msg1", "E:msg1"}},
        {"removes one it has not reached",
         [&](Broadcaster& b) { b.removeListener(named("C"), msg1); },
         {"A:msg1", "B:msg1", "E:msg1"}},
        {"removes one it has passed, and itself",
         [&](Broadcaster& b) {
             b.removeListener(named("Z"), msg1);
             b.removeListener(named("A"), msg1);
         },
         {"A:msg1", "B:msg1", "C:msg1", "E:msg1"}},
        {"removes everyone everywhere",
         [&](Broadcaster& b) {
             for (const char* name : {"Z", "A", "B", "C", "E"})
                 b.removeListener(named(name), Broadcaster::kAllIds);
         },
         {"A:msg1"}},
        {"adds one",
         [&](Broadcaster& b) { b.addListener(named("D"), msg1); },
         {"A:msg1", "B:msg1", "C:msg1", "D:msg1", "E:msg1"}},
        {"moves itself to the end",
         [&](Broadcaster& b) {
             b.removeListener(named("A"), msg1);
             b.addListener(named("A"), msg1);
         },
         {"A:msg1", "B:msg1", "C:msg1", "E:msg1"}},
        {"moves to every id",
         [&](Broadcaster& b) { b.addListener(named("A"), Broadcaster::kAllIds); },
         {"A:msg1", "B:msg1", "C:msg1", "E:msg1", "A:msg1"}},
        {"sends another message",
         [&](Broadcaster& b) { b.broadcast(idOf("msg2")); },
         {"A:msg1", "B:msg2", "E:msg2", "B:msg1", "C:msg1", "E:msg1"}},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        listeners.clear();
        Broadcaster b;
        apply(b, {"Z+msg1", "A+msg1", "B+msg1", "C+msg1", "B+msg2", "E+ALL!"});
        bool once = false;
        listener("A").action = [&](Message&) {
            if (!once) {
                once = true;
                c.action(b);
            }
        };
        log.clear();
        b.broadcast(msg1);
        // Z, subscribed first, has always had its call before A's change.
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front(), "Z:msg1");
        log.erase(log.begin());
        EXPECT_EQ(log, c.expected);
    }
}

TEST_F(BroadcasterTest, ListenersLeavingOnTheDeletionNoticeAllGetIt) {
    auto* b = new Broadcaster;
    const int n = 50;
    std::vector<std::unique_ptr<TestListener>> many;
    for (int i = 0; i < n; i++) {
        many.push_back(std::make_unique<TestListener>("L" + std::to_string(i), log));
        TestListener* l = many.back().get();
        l->action = [b, l](Message& m) {
            if (m.getId() == Broadcaster::kDeleted)
                b->removeListener(l, Broadcaster::kDeleted);
        };
        b->addListener(l, Broadcaster::kDeleted);
    }
    delete b;
    ASSERT_EQ(log.size(), size_t(n));
    for (int i = 0; i < n; i++)
        EXPECT_EQ(log[i], "L" + std::to_string(i) + ":DEL!");
}

TEST_F(BroadcasterTest, AListenerMayDestroyTheBroadcaster) {
    auto* b = new Broadcaster;
    apply(*b, {"A+msg1", "B+msg1", "C+ALL!", "D+DEL!"});
    listener("A").action = [&](Message& m) {
        if (m.getId() == idOf("msg1"))
            delete b;
    };
    EXPECT_FALSE(b->broadcast(idOf("msg1")));
    // The notices go out from inside A's call; then the delivery ends.
    EXPECT_EQ(log, (Log{"A:msg1", "C:DELE", "D:DEL!", "C:DEL!"}));
}

TEST_F(BroadcasterTest, AnExceptionFromAListenerPassesToTheSender) {
    Broadcaster b;
    apply(b, {"A+msg1", "A+msg3", "B+msg1", "C+ALL!"});
    listener("A").action = [&](Message&) {
        b.removeListener(&listener("A"), Broadcaster::kAllIds);    // empties the list of 'msg3'
        throw std::runtime_error("listener failed");
    };
    Message message(idOf("msg1"));
    EXPECT_THROW(b.send(message), std::runtime_error);
    EXPECT_EQ(message.getSender(), nullptr);
    EXPECT_EQ(log, (Log{"A:msg1"}));
    // The broadcaster is whole: its lists were tidied when the delivery ended.
    log.clear();
    EXPECT_FALSE(b.broadcast(idOf("msg1")));
    EXPECT_FALSE(b.broadcast(idOf("msg3")));
    EXPECT_EQ(log, (Log{"B:msg1", "C:msg1", "C:msg3"}));
}

// ---------------------------------------------------------------------------
// The deletion notice

struct DeletionCase {
    const char* name;
    std::vector<std::string> steps;
    Log expected;
};

TEST_F(BroadcasterTest, ADyingBroadcasterTellsItsDeletionListeners) {
    const DeletionCase cases[] = {
        {"nobody", {}, {}},
        {"other ids only", {"A+msg1"}, {}},
        {"the final notice", {"A+DEL!"}, {"A:DEL!"}},
        {"the first notice", {"A+DELE"}, {"A:DELE"}},
        {"both, in order", {"A+DEL!", "B+DELE"}, {"B:DELE", "A:DEL!"}},
        {"every id", {"A+ALL!"}, {"A:DELE", "A:DEL!"}},
        {"unsubscribed again", {"A+DEL!", "A-DEL!"}, {}},
        {"subscribed twice, removed once", {"A+DEL!", "A+DEL!", "A-DEL!"}, {}},
        {"removed everywhere", {"A+DEL!", "A+DELx", "A-ALL!"}, {}},
        {"moved to every id", {"A+DEL!", "A+ALL!"}, {"A:DELE", "A:DEL!"}},
        {"another deletion id", {"A+DELx", "B+DELE"}, {"B:DELE"}},
    };
    for (const DeletionCase& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        listeners.clear();
        {
            Broadcaster b;
            apply(b, c.steps);
        }
        EXPECT_EQ(log, c.expected);
    }
}

TEST_F(BroadcasterTest, AListenerJoiningEveryIdDuringTheFirstNoticeHearsBoth) {
    auto* b = new Broadcaster;
    apply(*b, {"B+DELE"});
    listener("B").action = [&](Message&) { b->addListener(&listener("C"), Broadcaster::kAllIds); };
    delete b;
    EXPECT_EQ(log, (Log{"B:DELE", "C:DELE", "C:DEL!"}));
}

TEST_F(BroadcasterTest, AThrowingDeletionListenerDoesNotStopTheOtherNotice) {
    {
        Broadcaster b;
        apply(b, {"A+DELE", "B+DEL!"});
        listener("A").action = [](Message&) { throw std::runtime_error("no"); };
    }
    EXPECT_EQ(log, (Log{"A:DELE", "B:DEL!"}));
}

}  // namespace
}  // namespace LxCore
