#include <gtest/gtest.h>

#include <string>

#include "objects/Connector.h"
#include "objects/Specifier.h"
#include "objects/tests/TestConnector.h"
#include "objects/tests/TestContext.h"

using LxObjects::LoString;
using Specifier = LxObjects::Tellwire::Specifier;
using TestConnectors::InstalledApps;
using TestConnectors::str;

namespace {

TEST(VersionMajor, TextBeforeTheFirstDot)
{
    const char* cases[][2] = {{"10.5", "10"}, {"10", ""},    {".5", ""},     {"", ""},
                              {"1.2.3", "1"}, {"10.", "10"}, {"10.*", "10"}, {"x.y", "x"}};
    for (auto& c : cases)
        EXPECT_EQ(str(LxObjects::versionMajor(LoString(c[0]))), c[1]) << c[0];
}

// The Vandrel suite: paint and ed in four releases; ed 6.0 ships in two.
class Suites : public InstalledApps {
protected:
    void SetUp() override
    {
        InstalledApps::SetUp();
        for (const char* s : {"paint-9.0-en_us", "paint-10.0-en_us", "paint-10.5-en_us", "paint-11.0-en_us",
                              "ed-4.0-en_us", "ed-5.0-en_us", "ed-6.0-en_us", "viewer-1.0"})
            connector->install(s);
        connector->groups = {
            "vandrel/9/paint-9.0",    "vandrel/9/ed-4.0",  "vandrel/10/paint-10.*", "vandrel/10/ed-5.0",
            "vandrel/11/paint-11.0", "vandrel/11/ed-6.0", "vandrel/12/ed-6.0",     "morvane/1/ed-4.0",
            "malformed/ed-4.0",
        };
    }

    std::string groupOf(const char* specifier, std::string* set = nullptr)
    {
        LoString out("stale"), setOut("stale");
        connector->getGroupOf(out, LoString(specifier), &setOut);
        if (set)
            *set = str(setOut);
        return str(out);
    }

    std::string forSender(const char* sender, const char* target, const char* group = "vandrel")
    {
        LoString out("stale");
        connector->resolveForSender(out, LoString(sender), LoString(target), LoString(group));
        return str(out);
    }

    std::string inSet(const char* target, const char* group, const char* set)
    {
        LoString out("stale");
        connector->resolveInGroupSet(out, LoString(target), LoString(group), LoString(set));
        return str(out);
    }

    std::string withHint(const char* target, const char* hint)
    {
        return str(LxObjects::resolveWithHint(LoString(target), LoString(hint)));
    }
};

TEST_F(Suites, GroupOf)
{
    struct Case {
        const char* specifier;
        const char* group;
        const char* set;
    } cases[] = {
        {"paint-11.0-en_us", "vandrel", "11"},
        {"ed-6.0-en_us", "vandrel", "12"},      // the numerically greater set
        {"ed-4.0", "vandrel", "9"},             // 9 beats the other group's 1
        {"paint-10.5-en_us", "vandrel", "10"},  // through the member 10.*
        {"paint-10.0", "vandrel", "10"},
        {"paint", "vandrel", "11"},             // normalised first
        {"viewer-1.0", "", ""},
        {"zed-1.0", "", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        std::string set;
        EXPECT_EQ(groupOf(c.specifier, &set), c.group) << c.specifier;
        EXPECT_EQ(set, c.set) << c.specifier;
    }
    LoString out;
    connector->getGroupOf(out, LoString("paint-11.0"), nullptr);
    EXPECT_EQ(str(out), "vandrel");
}

// Sets are numbers: 10 comes after 9, and one that reads as 0 never wins.
TEST_F(Suites, SetsCompareAsNumbers)
{
    connector->groups = {"s/10/x-1.0", "s/9/x-1.0", "t/0/y-1.0", "t/none/y-1.0", "u/nan/z-1.0"};
    std::string set;
    EXPECT_EQ(groupOf("x-1.0", &set), "s");
    EXPECT_EQ(set, "10");
    EXPECT_EQ(groupOf("y-1.0"), "");
    EXPECT_EQ(groupOf("z-1.0"), "");
    // Without a version the key is name-1.0.
    EXPECT_EQ(groupOf("x"), "s");
}

TEST_F(Suites, NoGroupEntries)
{
    connector->groups.clear();
    EXPECT_EQ(groupOf("paint-11.0-en_us"), "");
    EXPECT_EQ(forSender("paint-10.5-en_us", "ed"), "ed-6.0-en_us");
    EXPECT_EQ(inSet("ed", "vandrel", "10"), "ed-6.0-en_us");
}

TEST_F(Suites, ResolveForSender)
{
    struct Case {
        const char* sender;
        const char* target;
        const char* expected;
    } cases[] = {
        // The sender's own release decides, though ed 6.0 is installed.
        {"paint-10.5-en_us", "ed", "ed-5.0-en_us"},
        {"paint-9.0-en_us", "ed", "ed-4.0-en_us"},
        {"paint-11.0-en_us", "ed", "ed-6.0-en_us"},
        {"paint-10.7", "ed", "ed-5.0-en_us"},
        // Older than every member: the last-listed member of the target.
        {"paint-8.0-en_us", "ed", "ed-6.0-en_us"},
        {"zed-1.0", "ed", "ed-6.0-en_us"},
        // A sender without a version is no newer than any member.
        {"paint", "ed", "ed-6.0-en_us"},
        {"ed-4.0", "paint", "paint-9.0-en_us"},
        {"ed-5.0-en_us", "paint", "paint-10.5-en_us"},
        // Not in the group: the target itself.
        {"paint-10.5-en_us", "viewer", "viewer-1.0"},
        {"paint-10.5-en_us", "nothing", ""},
        {"", "ed", "ed-6.0-en_us"},
        {"paint-10.5-en_us", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(forSender(c.sender, c.target), c.expected) << c.sender << " -> " << c.target;
    EXPECT_EQ(forSender("paint-10.5-en_us", "ed", "morvane"), "ed-4.0-en_us");
}

TEST_F(Suites, ResolveInGroupSet)
{
    EXPECT_EQ(inSet("ed", "vandrel", "10"), "ed-5.0-en_us");
    EXPECT_EQ(inSet("paint", "vandrel", "10"), "paint-10.5-en_us");  // the wildcard member
    EXPECT_EQ(inSet("ed", "vandrel", "99"), "ed-6.0-en_us");
    EXPECT_EQ(inSet("ed", "nobody", "10"), "ed-6.0-en_us");
    connector->groups.push_back("vandrel/13/ed-7.0");  // listed but not installed
    EXPECT_EQ(inSet("ed", "vandrel", "13"), "ed-6.0-en_us");
}

TEST_F(Suites, WildcardPrefersARunningInstance)
{
    EXPECT_EQ(withHint("paint", "paint-10.*"), "paint-10.5-en_us");
    hold("paint-10.0-en_us#thread");
    EXPECT_EQ(withHint("paint", "paint-10.*"), "paint-10.0-en_us");
    // A running instance of another major version does not count.
    EXPECT_EQ(withHint("paint", "paint-11.*"), "paint-11.0-en_us");
}

TEST_F(Suites, WildcardTakesTheHighestVersionBelow)
{
    connector->records.clear();
    connector->install("paint-9.0-en_us");
    EXPECT_EQ(withHint("paint", "paint-10.*"), "paint-9.0-en_us");
    EXPECT_EQ(withHint("paint", "paint-8.*"), "");
}

TEST_F(Suites, ResolveWithHint)
{
    struct Case {
        const char* target;
        const char* hint;
        const char* expected;
    } cases[] = {
        {"ed-5.0", "", "ed-5.0-en_us"},
        {"ed", "ed-4.0", "ed-4.0-en_us"},
        {"ED", "", "ed-6.0-en_us"},
        {"paint", "paint-12.0", ""},  // neither installed nor a wildcard
        {"paint", "paint-.*", ""},
        {"paint", "paint-1e400.*", "paint-11.0-en_us"},
        {"paint", "paint-99999999999999999999.*", "paint-11.0-en_us"},
        {"", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(withHint(c.target, c.hint), c.expected) << c.target << " / " << c.hint;
}

// ---- normalisation within the own application's suite ---------------------

class OwnSuite : public Suites {
protected:
    // The own application is the current context's main endpoint.
    void useContext(const char* own) { TestContexts::useContext(own); }

    std::string normalizedNoGroups(const char* text)
    {
        Specifier specifier(text, false);
        LxObjects::normalizeSpecifier(&specifier, false);
        return str(specifier);
    }
};

TEST_F(OwnSuite, BareNameFromTheOwnRelease)
{
    useContext("paint-10.5-en_us");
    EXPECT_EQ(normalized("ed"), "ed-5.0-en_us");
    EXPECT_EQ(normalized("ed_2#main"), "ed_2-5.0-en_us#main");
    EXPECT_EQ(normalizedNoGroups("ed"), "ed-6.0-en_us");
    EXPECT_EQ(normalized("ed-6"), "ed-6.0-en_us");  // a version is no bare name
    EXPECT_EQ(normalized("viewer"), "viewer-1.0");
}

TEST_F(OwnSuite, OwnApplicationOutsideEverySuite)
{
    useContext("viewer-1.0");
    EXPECT_EQ(normalized("ed"), "ed-6.0-en_us");
}

// An own specifier without a version is normalised on the way, which must
// not ask the suites again and again.
TEST_F(OwnSuite, OwnBareSpecifierEndsTheRecursion)
{
    useContext("paint");
    EXPECT_EQ(normalized("ed"), "ed-6.0-en_us");
    useContext("ed");
    EXPECT_EQ(normalized("paint"), "paint-11.0-en_us");
}

TEST_F(OwnSuite, SupportsTVTKFollowsTheSuite)
{
    connector->records.clear();
    TestConnectors::TWConnectorAppInfo ed5 = TestConnectors::record("ed-5.0-en_us", "/opt/ed5");
    ed5.supportsTVTK = true;
    connector->records.push_back(ed5);
    connector->install("ed-6.0-en_us");
    connector->install("paint-10.5-en_us");
    connector->resetTable();
    useContext("paint-10.5-en_us");
    EXPECT_TRUE(connector->supportsTVTK(LoString("ed")));
    useContext("");
    EXPECT_FALSE(connector->supportsTVTK(LoString("ed")));
}

}  // namespace
