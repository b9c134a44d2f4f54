#include "objects/Specifier.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/tests/TestNames.h"
#include "objects/InterAppStream.h"
#include "objects/tests/TellwirePeer.h"
#include "objects/tests/TestConnector.h"
#include "objects/tests/TestContext.h"

using LxObjects::LoString;
using Specifier = LxObjects::Tellwire::Specifier;
using TestConnectors::InstalledApps;
using TestConnectors::str;

namespace {

struct PartsCase {
    const char* text;
    const char* name;
    const char* instance;
    const char* version;
    const char* locale;
    const char* engine;
};

const PartsCase kParts[] = {
    {"app-10.0-en_us", "app", "", "10.0", "en_us", ""},
    {"app_2-10.0#main", "app", "2", "10.0", "", "main"},
    {"app-en_us", "app", "", "", "en_us", ""},
    {"App-1.0", "app", "", "1.0", "", ""},
    {"app_3#x", "app", "3", "", "", "x"},
    {"app#x_3", "app", "", "", "", "x_3"},
    {"app-abc", "app", "", "", "abc", ""},
    {"app_2-10.0-en_us#main", "app", "2", "10.0", "en_us", "main"},
    {"app", "app", "", "", "", ""},
    {"", "", "", "", "", ""},
    {"app-", "app", "", "", "", ""},
    {"app_", "app", "", "", "", ""},
    {"app-10", "app", "", "10", "", ""},
    {"app-10.0-", "app", "", "10.0", "", ""},
    {"app-10.0-en-us", "app", "", "10.0", "en-us", ""},
    {"app--x", "app", "", "", "-x", ""},
    // '-' and '_' after the '#' belong to the engine.
    {"app#x-1.0", "app", "", "", "", "x-1.0"},
    {"app-1.0#a#b", "app", "", "1.0", "", "a#b"},
    {"app-en_us_x", "app", "", "", "en_us_x", ""},
    {"_3-1.0", "", "3", "1.0", "", ""},
    {"app_99999999999999999999999-1.0", "app", "99999999999999999999999", "1.0", "", ""},
};

// Failures show a case as its text and the parts it should give.
void PrintTo(const PartsCase& c, std::ostream* out)
{
    *out << '"' << c.text << "\" -> name \"" << c.name << "\", instance \"" << c.instance << "\", version \""
         << c.version << "\", locale \"" << c.locale << "\", engine \"" << c.engine << '"';
}

class SpecifierParts : public ::testing::TestWithParam<PartsCase> {};

TEST_P(SpecifierParts, TakesTheTextApart)
{
    const PartsCase& c = GetParam();
    Specifier specifier(c.text, false);
    LoString out("stale");
    specifier.getName(out);
    EXPECT_EQ(str(out), c.name);
    specifier.getInstance(out);
    EXPECT_EQ(str(out), c.instance);
    specifier.getVersion(out);
    EXPECT_EQ(str(out), c.version);
    specifier.getLocale(out);
    EXPECT_EQ(str(out), c.locale);
    specifier.getEngine(out);
    EXPECT_EQ(str(out), c.engine);
}

// Named by the text taken apart (the default name would print the row's
// pointers, which differ per run).
INSTANTIATE_TEST_SUITE_P(Grammar, SpecifierParts, ::testing::ValuesIn(kParts),
                         [](const auto& info) { return TestNames::caseName(info.param.text); });

TEST(Specifier, LowerCasesAsciiOnly)
{
    EXPECT_EQ(str(Specifier("App_X-10.0-EN_US#Main", false)), "app_x-10.0-en_us#main");
    // Bytes of UTF-8 stay as they are whatever the host's character locale.
    EXPECT_EQ(str(Specifier("\xC3\x84pp-1.0", false)), "\xC3\x84pp-1.0");
}

TEST(Specifier, LengthLimit)
{
    std::string text(255, 'a');
    EXPECT_EQ(str(Specifier(text.c_str(), false)), text);
    text += 'a';
    EXPECT_TRUE(Specifier(text.c_str(), false).isEmpty());
    EXPECT_TRUE(Specifier(std::string(100000, 'a').c_str(), false).isEmpty());
    EXPECT_TRUE(Specifier(nullptr, false).isEmpty());
    EXPECT_TRUE(Specifier(nullptr, true).isEmpty());
}

// A line break in a target would end its header line in the message text.
TEST(Specifier, ControlCharactersMakeItInvalid)
{
    for (const char* text : {"app\n-1.0", "app-1.0\r", "app#x\ty", "\x7f"})
        EXPECT_TRUE(Specifier(text, false).isEmpty()) << text;
    EXPECT_EQ(str(Specifier("app/..%$ x-1.0", false)), "app/..%$ x-1.0");
}

TEST(Specifier, SettersRebuildTheText)
{
    Specifier specifier("app_2-10.0-en_us#main", false);
    EXPECT_TRUE(specifier.setInstance(""));
    EXPECT_EQ(str(specifier), "app-10.0-en_us#main");
    EXPECT_TRUE(specifier.setInstance("7"));
    EXPECT_EQ(str(specifier), "app_7-10.0-en_us#main");
    EXPECT_TRUE(specifier.setEngine(""));
    EXPECT_EQ(str(specifier), "app_7-10.0-en_us");
    EXPECT_TRUE(specifier.setEngine("Thread"));
    EXPECT_EQ(str(specifier), "app_7-10.0-en_us#thread");

    Specifier bare("app", false);
    EXPECT_TRUE(bare.setEngine("ping"));
    EXPECT_EQ(str(bare), "app#ping");
}

// A part that would not read back as itself, or a text grown too long,
// leaves the specifier as it was.
TEST(Specifier, SettersRefuseWhatWouldNotReadBack)
{
    Specifier specifier("app-10.0", false);
    EXPECT_FALSE(specifier.setInstance("1-2"));
    EXPECT_FALSE(specifier.setInstance("1#2"));
    EXPECT_FALSE(specifier.setEngine("x\ny"));
    EXPECT_FALSE(specifier.setEngine(std::string(300, 'e').c_str()));
    EXPECT_EQ(str(specifier), "app-10.0");
    EXPECT_TRUE(specifier.setEngine(std::string(200, 'e').c_str()));
    EXPECT_EQ(specifier.length(), 209);
}

// ---- with installed applications -------------------------------------------

class Normalization : public InstalledApps {
protected:
    void SetUp() override
    {
        InstalledApps::SetUp();
        for (const char* s : {"app-9.0-en_us", "app-10.0-de_de", "app-10.5-en_us", "ed-5.0"})
            connector->install(s);
    }
};

struct NormalCase {
    const char* given;
    const char* expected;
};

TEST_F(Normalization, CompletesFromTheInstalledList)
{
    const NormalCase cases[] = {
        {"app", "app-10.5-en_us"},
        {"APP", "app-10.5-en_us"},
        {"app-10", "app-10.5-en_us"},
        {"app-9", "app-9.0-en_us"},
        {"app-10.5", "app-10.5-en_us"},
        {"app-10.0", "app-10.0-de_de"},
        {"app_2-10", "app_2-10.5-en_us"},
        {"app-10.0-fr_fr", "app-10.0-fr_fr"},
        {"app-en_us", "app-en_us"},
        {"app-11", "app-11"},
        {"ed", "ed-5.0"},
        {"zed", "zed"},
        {"", ""},
        // Numbers beyond any version match nothing and harm nothing.
        {"app-99999999999999999999999999", "app-99999999999999999999999999"},
        {"app-1e400", "app-1e400"},
        {"app-1e400.5", "app-1e400.5"},
    };
    for (const NormalCase& c : cases)
        EXPECT_EQ(normalized(c.given), c.expected) << c.given;
}

// Every debug message's target goes through this: the engine appears once.
TEST_F(Normalization, EnginePartAppearsOnce)
{
    const NormalCase cases[] = {
        {"app-10.5-en_us#tvtk", "app-10.5-en_us#tvtk"},
        {"app-10.0-fr_fr#tvtk", "app-10.0-fr_fr#tvtk"},
        {"app#tvtk", "app-10.5-en_us#tvtk"},
        {"app-10#tvtk", "app-10.5-en_us#tvtk"},
        {"zed#tvtk", "zed#tvtk"},
        {"zed-1.0#tvtk", "zed-1.0#tvtk"},
    };
    for (const NormalCase& c : cases)
        EXPECT_EQ(normalized(c.given), c.expected) << c.given;
    // Normalising again changes nothing.
    EXPECT_EQ(normalized(normalized("app#tvtk").c_str()), "app-10.5-en_us#tvtk");
}

TEST_F(Normalization, OtherLocaleWhenNothingElseFits)
{
    connector->records.clear();
    connector->install("app-10.0-de_de");
    EXPECT_EQ(normalized("app-10"), "app-10.0-de_de");
    EXPECT_EQ(normalized("app"), "app-10.0-de_de");
}

// A newer version in another locale beats an older one in the user's.
TEST_F(Normalization, NewerOtherLocaleWins)
{
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(normalized("app"), "app-10.5-en_us");
    EXPECT_EQ(normalized("app-10.0"), "app-10.0-de_de");
}

TEST_F(Normalization, BareNamePrefersARunningInstance)
{
    hold("app-9.0-en_us#thread");
    EXPECT_EQ(normalized("app"), "app-9.0-en_us");
    EXPECT_EQ(normalized("app-10"), "app-10.5-en_us");  // a version is no bare name
    hold("app_3-10.0-de_de");
    EXPECT_EQ(normalized("app_3"), "app_3-10.0-de_de");
}

TEST_F(Normalization, WithoutConnectorTheTextStays)
{
    LxObjects::destroyGlobalConnector();
    EXPECT_EQ(normalized("App-10#x"), "app-10#x");
}

// Numbers read the same whatever numeric locale the host process set.
TEST_F(Normalization, NumbersIgnoreTheHostLocale)
{
    const char* found = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_NUMERIC, name)) {
            found = name;
            break;
        }
    }
    if (!found) {
        // Build one: the system lists none with a decimal comma.
        std::string folder = root + "/locales";
        mkdir(folder.c_str(), 0700);
        std::string command = "localedef -i de_DE -f UTF-8 " + folder + "/de_DE.UTF-8 >/dev/null 2>&1";
        if (std::system(command.c_str()) == -1)
            GTEST_SKIP() << "localedef cannot run";
        setenv("LOCPATH", folder.c_str(), 1);
        if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            found = "de_DE.UTF-8";
        unsetenv("LOCPATH");
    }
    if (!found)
        GTEST_SKIP() << "no decimal-comma locale";
    ASSERT_EQ(std::atof("10.5"), 10.0);  // the host's own reading
    EXPECT_EQ(normalized("app-10.0"), "app-10.0-de_de");
    Specifier specifier("app-10.0-en_us", false);
    EXPECT_TRUE(specifier.setVersion("-10.2"));
    EXPECT_EQ(str(specifier), "app-9.0-en_us");
    std::setlocale(LC_NUMERIC, "C");
}

TEST_F(Normalization, FindInstalledSpecifier)
{
    connector->install("app-10.0");
    LoString locale;
    EXPECT_TRUE(LxObjects::findInstalledSpecifier("app", "10.0", locale));
    EXPECT_EQ(str(locale), "");  // app-10.0-de_de is not in the user's locale
    locale.assign("de_de");
    EXPECT_TRUE(LxObjects::findInstalledSpecifier("app", "10.0", locale));
    EXPECT_EQ(str(locale), "de_de");
    locale.assign("fr_fr");
    EXPECT_FALSE(LxObjects::findInstalledSpecifier("app", "10.5", locale));
    EXPECT_EQ(str(locale), "");
}

TEST_F(Normalization, SetLocaleNeedsAnInstalledFit)
{
    Specifier specifier("app_2-10.0-en_us#main", false);
    EXPECT_TRUE(specifier.setLocale("DE_DE"));
    EXPECT_EQ(str(specifier), "app_2-10.0-de_de#main");
    EXPECT_FALSE(specifier.setLocale("fr_fr"));
    EXPECT_EQ(str(specifier), "app_2-10.0-de_de#main");
}

TEST_F(Normalization, SetVersion)
{
    Specifier specifier("app-9.0-en_us", false);
    EXPECT_TRUE(specifier.setVersion("10.5"));
    EXPECT_EQ(str(specifier), "app-10.5-en_us");
    EXPECT_FALSE(specifier.setVersion("10.0"));  // only in de_de
    EXPECT_EQ(str(specifier), "app-10.5-en_us");
    // A negative number asks for the highest version not above it.
    EXPECT_TRUE(specifier.setVersion("-10.2"));
    EXPECT_EQ(str(specifier), "app-9.0-en_us");
    EXPECT_TRUE(specifier.setVersion("-10.99"));
    EXPECT_EQ(str(specifier), "app-10.5-en_us");
    EXPECT_FALSE(specifier.setVersion("-8.99"));
    EXPECT_EQ(str(specifier), "app-10.5-en_us");
    EXPECT_TRUE(specifier.setVersion("-1e400"));  // no bound: the highest there is
    EXPECT_EQ(str(specifier), "app-10.5-en_us");
}

TEST_F(Normalization, IsInstalled)
{
    EXPECT_TRUE(Specifier("app-10.5-en_us", false).isInstalled());
    EXPECT_TRUE(Specifier("APP_3-10.5-en_us#main", false).isInstalled());
    EXPECT_FALSE(Specifier("app-11.0-en_us", false).isInstalled());
    EXPECT_FALSE(Specifier("", false).isInstalled());
}

// ---- the running test -----------------------------------------------------------

class RunningTest : public Normalization {
protected:
    bool running(const char* text) { return LxObjects::isTargetRunning(Specifier(text, false)); }
};

TEST_F(RunningTest, NobodyAnswers)
{
    EXPECT_FALSE(running(""));
    EXPECT_FALSE(running("app-10.5-en_us"));
    EXPECT_FALSE(running("app-10.5-en_us#main"));
}

TEST_F(RunningTest, HolderOfTheThreadMailboxOrTheEndpoint)
{
    hold("app-10.5-en_us#thread");
    EXPECT_TRUE(running("app-10.5-en_us"));
    EXPECT_FALSE(running("app-10.5-en_us#main"));  // an engine is asked directly
    hold("app-10.5-en_us#main");
    EXPECT_TRUE(running("app-10.5-en_us#main"));
    hold("ed-5.0");
    EXPECT_TRUE(running("ed-5.0"));
}

TEST_F(RunningTest, LaunchedProcessThatLives)
{
    ASSERT_TRUE(connector->setProcessId(LoString("app-9.0-en_us"), LxObjects::u32(getpid())));
    EXPECT_TRUE(running("app-9.0-en_us"));
    EXPECT_FALSE(running("app-9.0-en_us#main"));
}

// The probes are messages a holder receives: a "ping" to the thread
// mailbox, else a "Tavrel" to the target itself.
TEST_F(RunningTest, ProbesReachTheHolder)
{
    TestPeers::TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "app-10.5-en_us"}), "ok");
    EXPECT_TRUE(running("app-10.5-en_us"));
    TestPeers::Report probe = peer.next("app-10.5-en_us");
    ASSERT_EQ(probe.messages.size(), 1u);
    EXPECT_EQ(probe.messages[0]["type"], "Tavrel");
    EXPECT_EQ(probe.messages[0]["target"], "app-10.5-en_us");
    // Without a context the sender is "Unknown" and the time in milliseconds.
    std::string sender = probe.messages[0]["sender"];
    EXPECT_EQ(sender.rfind("Unknown", 0), 0u) << sender;
    EXPECT_EQ(sender.substr(sender.size() - 7), "#Tavrel");
    EXPECT_GT(sender.size(), 22u);
    EXPECT_EQ(probe.messages[0]["serial"], "0");
    EXPECT_EQ(probe.messages[0]["digest"], "");

    ASSERT_EQ(peer.command({"hold", "app-10.5-en_us#thread"}), "ok");
    EXPECT_TRUE(running("app-10.5-en_us"));
    probe = peer.next("app-10.5-en_us#thread");
    ASSERT_EQ(probe.messages.size(), 1u);
    EXPECT_EQ(probe.messages[0]["type"], "ping");
    EXPECT_EQ(probe.messages[0]["h.ECHO_REQUEST"], "");  // a probe asks nothing
    EXPECT_FALSE(peer.next("app-10.5-en_us", 200).got) << "the thread mailbox answered first";

    // An engine is asked directly.
    EXPECT_FALSE(running("app-10.5-en_us#main"));
    EXPECT_FALSE(peer.next("app-10.5-en_us#thread", 200).got);
}

TEST_F(RunningTest, OwnSpecifierFromTheContext)
{
    LxObjects::TellwireContext* context = TestContexts::useContext("me-1.0");
    LxObjects::openPingStream(LoString("me-1.0"));
    TestPeers::TellwirePeer peer;
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.command({"hold", "ed-5.0#thread"}), "ok");

    EXPECT_TRUE(running("me-1.0"));
    EXPECT_TRUE(running("ed-5.0"));
    LxObjects::u32 after = context->nextSerialNumber();
    TestPeers::Report probe = peer.next("ed-5.0#thread");
    ASSERT_EQ(probe.messages.size(), 1u);
    EXPECT_EQ(probe.messages[0]["serial"], std::to_string(after - 1));
    // me-1.0#ping is this process's ping mailbox: the probe takes another name.
    std::string sender = probe.messages[0]["sender"];
    EXPECT_EQ(sender.rfind("me-1.0_", 0), 0u) << sender;
    EXPECT_EQ(sender.substr(sender.size() - 5), "#ping");
    EXPECT_TRUE(LxObjects::sendToTarget("x", "x", "ping", 0));
}

}  // namespace
