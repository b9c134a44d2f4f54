// What the append suite (appends.tvs) cannot show: that s += x costs work in
// proportion to the text it builds, through every kind of reference, and
// that a live object's member still takes each sum through its own put.
//
// The work is counted as the bytes the core heap asks its allocator for:
// a text copied at every append makes that grow as the square of the
// appends, a text grown in place by doubling only in proportion.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "core/LiveObject.h"
#include "core/tests/TestAllocator.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

using LxCore::String;
using LxCore::u64;

class AppendTest : public RunTest {
protected:
    // The allocator stays until the library's end, which frees the
    // engine's blocks through it and then takes it out.
    void SetUp() override {
        RunTest::SetUp();
        LxCore::setAllocatorForTests(&counting);
    }

    // The bytes that grow(n) asks of the heap; grow gives back the length
    // of the text it built, n.
    u64 bytesToGrow(i32 n) {
        const std::string call = "grow(" + std::to_string(n) + ")";
        Variant length;
        counting.bytesRequested = 0;
        EXPECT_EQ(run(call.c_str(), &length), 0) << call;
        EXPECT_EQ(length.toNumber(), n) << call;
        return counting.bytesRequested;
    }

    LxCore::TestAllocator counting;     // its bytesRequested: the heap bytes asked for
};

// Appends in sequences of n and 2n: copying the text at each append makes
// the second cost four times the first, growing it in place twice.
TEST_F(AppendTest, AppendsThroughEveryReferenceCostLinearWork) {
    struct Kind {
        const char* name;
        const char* grow;       // defines grow(n)
    };
    const Kind kinds[] = {
        {"a local", "function grow(n) { var s = ''; for (var i = 0; i < n; i++) s += 'x'; return s.length; }"},
        {"a global",
         "var g; function grow(n) { g = ''; for (var i = 0; i < n; i++) g += 'x'; return g.length; }"},
        {"a closure's variable",
         "function grow(n) { var s = ''; function add() { s += 'x'; }"
         " for (var i = 0; i < n; i++) add(); return s.length; }"},
        {"a parameter", "function grow(n, s) { s = ''; for (var i = 0; i < n; i++) s += 'x'; return s.length; }"},
        {"an arguments element",
         "function add(n, s) { for (var i = 0; i < n; i++) arguments[1] += 'x'; return s.length; }"
         " function grow(n) { return add(n, ''); }"},
        {"a property",
         "function grow(n) { var o = {s: ''}; for (var i = 0; i < n; i++) o.s += 'x'; return o.s.length; }"},
        {"a property of this",
         "function Text() { this.s = ''; }"
         " Text.prototype.add = function (n) { for (var i = 0; i < n; i++) this.s += 'x'; };"
         " function grow(n) { var t = new Text(); t.add(n); return t.s.length; }"},
        {"a property by key",
         "function grow(n) { var o = {s: ''}, k = 's'; for (var i = 0; i < n; i++) o[k] += 'x'; return o.s.length; }"},
        {"an array element",
         "function grow(n) { var a = ['']; for (var i = 0; i < n; i++) a[0] += 'x'; return a[0].length; }"},
        {"an element of a global array",
         "var list; function grow(n) { list = ['']; for (var i = 0; i < n; i++) list[0] += 'x'; return list[0].length; }"},
        {"a name of a with scope",
         "function grow(n) { var o = {s: ''}; with (o) { for (var i = 0; i < n; i++) s += 'x'; } return o.s.length; }"},
        {"a text passed to calls",
         "function seen(t) { return t.length; }"
         " function grow(n) { var s = ''; for (var i = 0; i < n; i++) { s += 'x'; seen(s); s.charAt(0); }"
         " return s.length; }"},
    };
    constexpr i32 kAppends = 3000;
    for (const Kind& kind : kinds) {
        ASSERT_EQ(run(kind.grow), 0) << kind.name;
        bytesToGrow(kAppends);     // the sites' first runs make what they keep
        const u64 once = bytesToGrow(kAppends);
        const u64 twice = bytesToGrow(2 * kAppends);
        EXPECT_LT(twice, 3 * once) << kind.name << ": " << once << " bytes for " << kAppends << " appends, "
                                   << twice << " for twice as many";
    }
}

// A native object with one text member, "text", that counts its writes.
class Note : public LxCore::LiveObject {
public:
    static constexpr i32 kText = 1;
    static constexpr u32 kValueMember = 2;
    Note() : LiveObject("Note", false) {}

    String text = "a";
    int puts = 0;

    i32 findProperty(const String& name, i32& id, u32& kind, u32) override {
        if (name.compare("text") != 0)
            return 2;
        id = kText;
        kind = kValueMember;
        return 0;
    }
    u32 getPropertyKind(i32 id) override { return id == kText ? kValueMember : 16; }
    i32 getPropertyName(i32 id, String& name, u32) override {
        if (id != kText)
            return 2;
        name = "text";
        return 0;
    }
    i32 getPropertyIDs(LxCore::SimpleArray& ids, u32) override {
        ids.add(kText);
        return 0;
    }
    i32 get(i32 id, Variant& result, LxCore::Error*) override {
        if (id != kText)
            return 2;
        result.setString(text);
        return 0;
    }
    i32 put(i32 id, const Variant& value, LxCore::Error*) override {
        if (id != kText)
            return 2;
        puts++;
        text = value.toString();
        return 0;
    }
};

TEST_F(AppendTest, ALiveMemberTakesEachSumThroughItsPut) {
    auto* note = new Note;
    Variant wrapped;
    wrapped.setLiveObject(*note, 0);
    note->release();
    engine->importValue(wrapped, true);
    ASSERT_NE(objectOf(wrapped), nullptr);
    engine->getGlobalObject()->put(sym("note"), wrapped, 0);

    ASSERT_EQ(run("var kept = note.text; note.text += 'b'; note.text += 'c';"), 0);
    EXPECT_EQ(note->puts, 2);
    EXPECT_EQ(text(global("kept")), "a");
    Variant now;
    ASSERT_EQ(run("note.text", &now), 0);
    EXPECT_EQ(text(now), "abc");
}

}  // namespace
}  // namespace LxScript
