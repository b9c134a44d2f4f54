#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/Error.h"
#include "core/InitTerm.h"
#include "core/Localizer.h"
#include "core/String.h"
#include "core/ZStringLocalizer.h"
#include "core/tests/TestCallbacks.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

using LxObjects::ZStringLocalizer;

std::string utf16le(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    return bytes;
}

// Counts the questions for the running script.
class ScriptCallbacks : public TestCallbacks {
public:
    int scriptQuestions = 0;
    void getCurrentScriptFile(String& out) override {
        scriptQuestions++;
        TestCallbacks::getCurrentScriptFile(out);
    }
};

// Each test has its own folder, HOME and configuration folder, and the
// library started with the locale en_US.
class ZStringLocalizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = makeTemporaryFolder("tavrel-zstring");
        ASSERT_FALSE(root.empty());
        home = root + "/home";
        config = home + "/.config";
        std::filesystem::create_directories(config);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("LANG", "en_US.UTF-8", 1);
        InitTerm::init();
    }

    void TearDown() override {
        InitTerm::exit();
        removeTree(root);
    }

    // Writes bytes to a file under the test folder, making its folders.
    void write(const std::string& relative, const std::string& bytes) {
        std::filesystem::path path(root + "/" + relative);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    // The translation of a ZString by the localizer alone; the text itself
    // when it declines.
    static std::u16string ask(ZStringLocalizer& localizer, const char* text, const char* locale = "en_US",
                              const char* info = "") {
        String s(text);
        if (!localizer.translate(s, String(locale), String(info)))
            return u"(declined) " + str(s);
        return str(s);
    }

    SavedEnvironment environment{"HOME", "XDG_CONFIG_HOME", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::string root;
    std::string home;
    std::string config;
};

TEST_F(ZStringLocalizerTest, TextsThatAreNoZStringsAreLeftAlone) {
    ZStringLocalizer localizer("");
    String text("plain = text");
    EXPECT_TRUE(localizer.translate(text, "en_US", ""));
    EXPECT_EQ(str(text), u"plain = text");
}

TEST_F(ZStringLocalizerTest, TheDefaultTemplateFindsTheFileBesideTheScript) {
    write("proj/tools/build/build_en_US.dat",
          "$$$/a/b=Hallo Welt\n"
          "\"$$$/q=b\"\n"
          "  $$$/spaced \t=  kept as is  \r\n"
          "$$$/nothing\n"
          "ab\n"
          "\n"
          "$$$/dup=first\n"
          "$$$/dup=second\n"
          "$$$/eq=a=b\n"
          "$$$/last=no line break at the end");
    ScriptCallbacks callbacks;
    UsingCallbacks using_(&callbacks);
    callbacks.scriptFile = S(root + "/proj/tools/build.tvs");
    ZStringLocalizer localizer("");

    EXPECT_EQ(ask(localizer, "$$$/a/b=Hello world"), u"Hallo Welt");
    EXPECT_EQ(ask(localizer, "$$$/q=default"), u"b");
    EXPECT_EQ(ask(localizer, "$$$/spaced=default"), u"  kept as is");
    EXPECT_EQ(ask(localizer, "$$$/nothing=default"), u"");
    EXPECT_EQ(ask(localizer, "$$$/dup=default"), u"second");
    EXPECT_EQ(ask(localizer, "$$$/eq=default"), u"a=b");
    EXPECT_EQ(ask(localizer, "$$$/last"), u"no line break at the end");
    EXPECT_EQ(ask(localizer, "$$$/unknown=default"), u"(declined) $$$/unknown=default");
    EXPECT_EQ(ask(localizer, "$$$/ab=x"), u"(declined) $$$/ab=x");

    // Another locale is another file, here a missing one.
    EXPECT_EQ(ask(localizer, "$$$/a/b=Hello world", "de_DE"), u"(declined) $$$/a/b=Hello world");
}

TEST_F(ZStringLocalizerTest, TheFileIsReadOnceForOneCombination) {
    write("s/s/s_en_US.dat", "$$$/k=one\n");
    ScriptCallbacks callbacks;
    UsingCallbacks using_(&callbacks);
    callbacks.scriptFile = S(root + "/s/s.tvs");
    ZStringLocalizer localizer("");

    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"one");
    write("s/s/s_en_US.dat", "$$$/k=two\n");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"one");          // same combination: kept
    EXPECT_EQ(ask(localizer, "$$$/k=x", "en_US", "i"), u"two");   // info changed: read again
    write("s/s/s_en_US.dat", "$$$/k=three\n");
    EXPECT_EQ(ask(localizer, "$$$/k=x", "en_US", "i"), u"two");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"three");

    // Another script is another file; coming back reads the first again.
    write("t/t/t_en_US.dat", "$$$/k=tee\n");
    callbacks.scriptFile = S(root + "/t/t.tvs");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"tee");
    callbacks.scriptFile = S(root + "/s/s.tvs");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"three");

    // While no script runs, the last one stands.
    callbacks.scriptFile.clear();
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"three");
}

TEST_F(ZStringLocalizerTest, AMissingFileIsLookedForAtEveryCall) {
    ScriptCallbacks callbacks;
    UsingCallbacks using_(&callbacks);
    callbacks.scriptFile = S(root + "/m/m.tvs");
    ZStringLocalizer localizer("");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"(declined) $$$/k=x");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"(declined) $$$/k=x");
    write("m/m/m_en_US.dat", "$$$/k=found\n");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"found");

    // Also after a file was loaded for the same locale and info.
    callbacks.scriptFile = S(root + "/n/n.tvs");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"(declined) $$$/k=x");
    write("n/n/n_en_US.dat", "$$$/k=late\n");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"late");

    // A folder where the file should be is no file.
    callbacks.scriptFile = S(root + "/f/f.tvs");
    std::filesystem::create_directories(root + "/f/f/f_en_US.dat");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"(declined) $$$/k=x");
}

TEST_F(ZStringLocalizerTest, WithoutARunningScriptTheDefaultTemplateNamesNoFile) {
    ZStringLocalizer localizer("");
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"(declined) $$$/k=x");
    ScriptCallbacks callbacks;
    UsingCallbacks using_(&callbacks);
    EXPECT_EQ(ask(localizer, "$$$/k=x"), u"(declined) $$$/k=x");
    EXPECT_GT(callbacks.scriptQuestions, 0);
}

TEST_F(ZStringLocalizerTest, TheScriptIsAskedForOnlyWhenTheTemplateNamesIt) {
    write("loc/tavrel-en_US.dat", "$$$/k=fixed\n");
    ScriptCallbacks callbacks;
    UsingCallbacks using_(&callbacks);
    callbacks.scriptFile = S(root + "/s/s.tvs");

    ZStringLocalizer fixed(S(root + "/loc/tavrel-{LOCALE}.dat"));
    EXPECT_EQ(ask(fixed, "$$$/k=x"), u"fixed");
    EXPECT_EQ(callbacks.scriptQuestions, 0);

    // A script change does not reload a template that does not name it.
    write("loc/tavrel-en_US.dat", "$$$/k=changed\n");
    callbacks.scriptFile = S(root + "/t/t.tvs");
    EXPECT_EQ(ask(fixed, "$$$/k=x"), u"fixed");
    EXPECT_EQ(callbacks.scriptQuestions, 0);

    write("s/lang/en.dat", "$$$/k=by path\n");
    ZStringLocalizer byPath("{FILEPATH}/lang/{LANGUAGE}.dat");
    callbacks.scriptFile = S(root + "/s/s.tvs");
    EXPECT_EQ(ask(byPath, "$$$/k=x"), u"by path");
    EXPECT_EQ(callbacks.scriptQuestions, 1);
}

TEST_F(ZStringLocalizerTest, PlaceholdersAreFilled) {
    write("home/.config/tavrel/de-DE-beta-de_DE.dat", "$$$/k=user data\n");
    ZStringLocalizer userData("{USERDATA}/tavrel/{LANGUAGE}-{REGION}-{ZSTRINGINFO}-{LOCALE}.dat");
    EXPECT_EQ(ask(userData, "$$$/k=x", "de_DE", "beta"), u"user data");

    // A value is never read for placeholders itself.
    write("{LOCALE}/{LOCALE}/{LOCALE}_en_US.dat", "$$$/k=braces\n");
    ScriptCallbacks callbacks;
    UsingCallbacks using_(&callbacks);
    callbacks.scriptFile = S(root + "/{LOCALE}/{LOCALE}.tvs");
    ZStringLocalizer braces("");
    EXPECT_EQ(ask(braces, "$$$/k=x"), u"braces");

    // Unknown placeholders stay as they are.
    write("x/{OTHER}-en_US.dat", "$$$/k=other\n");
    ZStringLocalizer other(S(root + "/x/{OTHER}-{LOCALE}.dat"));
    EXPECT_EQ(ask(other, "$$$/k=x"), u"other");
}

TEST_F(ZStringLocalizerTest, ScriptNamesAreTakenAsTheyStand) {
    ScriptCallbacks callbacks;
    UsingCallbacks using_(&callbacks);
    ZStringLocalizer localizer("");
    struct Case {
        std::string script;
        std::string file;
    };
    const Case cases[] = {
        {"my dir/\xC3\xA4/50%41 x.tvs", "my dir/\xC3\xA4/50%41 x/50%41 x_en_US.dat"},
        {"p/archive.tar.gz", "p/archive.tar/archive.tar_en_US.dat"},
        {"p/.hidden", "p/.hidden/.hidden_en_US.dat"},
        {"p/noext", "p/noext/noext_en_US.dat"},
        {"p/#hash?.tvs", "p/#hash?/#hash?_en_US.dat"},
    };
    for (const Case& c : cases) {
        write(c.file, "$$$/k=" + c.script + "\n");
        callbacks.scriptFile = S(root + "/" + c.script);
        String text("$$$/k=x");
        EXPECT_TRUE(localizer.translate(text, "en_US", "")) << c.script;
        EXPECT_EQ(str(text), str(S(c.script)));
    }
}

TEST_F(ZStringLocalizerTest, TheFileEncodingIsDetected) {
    ScriptCallbacks callbacks;
    UsingCallbacks using_(&callbacks);
    callbacks.scriptFile = S(root + "/e/e.tvs");
    ZStringLocalizer localizer("");
    struct Case {
        const char* locale;
        std::string bytes;
    };
    const Case cases[] = {
        {"de_DE", "\xEF\xBB\xBF$$$/k=Gr\xC3\xBC\xC3\x9F" "e\r\n"},               // UTF-8 mark
        {"fr_FR", "$$$/k=Gr\xC3\xBC\xC3\x9F" "e\n"},                            // UTF-8 found
        {"es_ES", "$$$/k=Gr\xFC\xDF" "e\n"},                                    // CP1252
        {"it_IT", utf16le(u"\uFEFF$$$/k=Gr\u00FC\u00DFe\n")},
    };
    for (const Case& c : cases) {
        write(std::string("e/e/e_") + c.locale + ".dat", c.bytes);
        EXPECT_EQ(ask(localizer, "$$$/k=x", c.locale), u"Gr\u00FC\u00DFe") << c.locale;
    }
}

TEST_F(ZStringLocalizerTest, ResolvesThroughTheLocalizerServices) {
    write("s/s/s_de_DE.dat",
          "$$$/CT/Tavrel/UI/Alert=Skript-Hinweis ^C\n"
          "$$$/two=erste\\nzweite %1\n"
          "$$$/CT/Tavrel/Errors/Err5=Kommentar ohne Ende\n");
    ScriptCallbacks callbacks;
    UsingCallbacks using_(&callbacks);
    callbacks.scriptFile = S(root + "/s/s.tvs");
    callbacks.locale = "de_DE";
    ZStringLocalizer localizer("");
    Localizer::registerLocalizer(&localizer);

    String text("$$$/CT/Tavrel/UI/Alert=Script Alert");
    Localizer::resolveZString(text);
    EXPECT_EQ(str(text), u"Skript-Hinweis \u00A9");
    text = "$$$/two=first\nsecond %1";      // the line break matches "\n" in the file
    Localizer::resolveZString(text);
    EXPECT_EQ(str(text), u"erste\nzweite %1");
    text = "$$$/missing=Fallback";
    Localizer::resolveZString(text);
    EXPECT_EQ(str(text), u"Fallback");
    errorTextForCode(5, text);
    EXPECT_EQ(str(text), u"Kommentar ohne Ende");

    // Without a locale from the host, the library's own.
    callbacks.locale.clear();
    text = "$$$/CT/Tavrel/UI/Alert=Script Alert";
    Localizer::resolveZString(text);
    EXPECT_EQ(str(text), u"Script Alert");
}

// The host's way through a cleanup and a new session in one process: the
// localizer goes before the library ends and is made anew after the next
// start.
ZStringLocalizer* hostLocalizer = nullptr;

void deleteHostLocalizer() {
    delete hostLocalizer;
    hostLocalizer = nullptr;
}

TEST_F(ZStringLocalizerTest, AHostLocalizerLivesOneSessionOfTheLibrary) {
    write("loc/tavrel-en_US.dat", "$$$/k=loaded\n");
    const String fileTemplate = S(root + "/loc/tavrel-{LOCALE}.dat");
    for (int session = 0; session < 3; session++) {
        hostLocalizer = new ZStringLocalizer(fileTemplate);
        Localizer::registerLocalizer(hostLocalizer);
        InitTerm::atExit(deleteHostLocalizer);
        String text("$$$/k=default");
        Localizer::resolveZString(text);
        EXPECT_EQ(str(text), u"loaded") << session;
        InitTerm::exit();
        EXPECT_EQ(hostLocalizer, nullptr);
        InitTerm::init();
        text = "$$$/k=default";
        Localizer::resolveZString(text);
        EXPECT_EQ(str(text), u"default") << session;
    }
}

}  // namespace
}  // namespace LxCore
