// Long prototype chains cost the same per link whatever their length: the
// walks that are no name lookup (the cycle test of a new prototype, the
// marking of chains the space remembers) are counted, for n and 2n links.
#include <string>

#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

class PrototypeChainTest : public RunTest {
protected:
    // The chain steps a script walked that builds n links with loop.
    u64 stepsFor(const char* loop, int n) {
        ObjectSpace& space = engine->getObjects();
        const u64 before = space.chainSteps;
        const std::string source = "var o = {}; for (var i = 0; i < " + std::to_string(n) + "; i++) {" +
                                   loop + "} o.__proto__ === Object.prototype";
        Variant result;
        EXPECT_EQ(run(source.c_str(), &result), 0) << loop;
        EXPECT_FALSE(result.toBoolean()) << "the chain was built: " << loop;
        return space.chainSteps - before;
    }
};

TEST_F(PrototypeChainTest, EachLinkCostsTheSameWhateverTheLength) {
    constexpr int kLinks = 2000;
    // A few links are walked per new link, whatever the chain's length.
    constexpr u64 kStepsPerLink = 64;
    const char* loops[] = {
        // new with a constructor whose prototype is the last link
        "var F = function () {}; F.prototype = o; o = new F();",
        // __proto__ set on a fresh object
        "var n = {}; n.__proto__ = o; o = n;",
        // each new link compared with the last and asked for a name none has
        "var F = function () {}; F.prototype = o; var p = new F();"
        " if (p == o || p.missing) throw 1; o = p;",
    };
    for (const char* loop : loops) {
        const u64 n = stepsFor(loop, kLinks), twice = stepsFor(loop, 2 * kLinks);
        // A walk of the chain per link would give kLinks * kLinks / 2, and
        // four times that for twice the links.
        EXPECT_LE(n, u64(kStepsPerLink * kLinks)) << loop;
        EXPECT_LE(twice, 3 * n + kStepsPerLink) << loop;
    }
}

TEST_F(PrototypeChainTest, ACycleThroughALongChainIsRefused) {
    // The root was a prototype once and is none now: it is asked again.
    Variant result;
    ASSERT_EQ(run("var root = {}, o = root; for (var i = 0; i < 5000; i++) { var n = {}; n.__proto__ = o; o = n; }"
                  "var again = {}; again.__proto__ = root; again.__proto__ = null;"
                  "try { root.__proto__ = o; 'set' } catch (e) { e.number }",
                  &result),
              0);
    EXPECT_EQ(result.toNumber(), 19);
    ASSERT_EQ(run("root.__proto__ === Object.prototype && again.__proto__ === null", &result), 0);
    EXPECT_TRUE(result.toBoolean()) << "the prototypes stay";
    ASSERT_EQ(run("var loose = {}; loose.__proto__ = o; loose.__proto__ === o", &result), 0);
    EXPECT_TRUE(result.toBoolean()) << "an object no one inherits from joins any chain";
}

}  // namespace
}  // namespace LxScript
