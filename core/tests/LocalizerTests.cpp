#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/Array.h"
#include "core/Error.h"
#include "core/InitTerm.h"
#include "core/Localizer.h"
#include "core/String.h"
#include "core/Variant.h"
#include "core/tests/TestCallbacks.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class LocalizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        setLocale("en_US.UTF-8");
        InitTerm::init();
    }
    void TearDown() override { InitTerm::exit(); }

    // Only LANG is left set (null: none at all).
    static void setLocale(const char* lang) {
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        if (lang)
            setenv("LANG", lang, 1);
        else
            unsetenv("LANG");
    }

    // The locale variables, put back after each test.
    SavedEnvironment environment{"LC_ALL", "LC_MESSAGES", "LANG"};
};

// A localizer that records what it is asked and answers from its fields.
class Recorder : public Localizer {
public:
    Recorder(std::vector<std::string>* log, const char* name) : log(log), name(name) {}

    bool translate(String& text, const String& locale, const String& zstringInfo) override {
        log->push_back(name + ":translate");
        seenText = text;
        seenLocale = locale;
        seenInfo = zstringInfo;
        if (translation.empty())
            return false;
        text = translation.c_str();
        return true;
    }
    bool getLocale(String& out) override {
        log->push_back(name + ":getLocale");
        if (locale.empty())
            return false;
        out = locale.c_str();
        return true;
    }
    bool localizeText(String& text) override {
        log->push_back(name + ":localizeText");
        if (plainText.empty())
            return false;
        text = plainText.c_str();
        return true;
    }
    bool changeCase(String& text, bool toLower) override {
        log->push_back(name + ":changeCase");
        if (!handleCase)
            return false;
        text = toLower ? "lower" : "UPPER";
        return true;
    }
    i32 compare(const String&, const String&) override {
        log->push_back(name + ":compare");
        return order;
    }
    bool localizeError(i32 error, String& message) override {
        log->push_back(name + ":localizeError");
        seenError = error;
        seenText = message;
        if (errorText.empty())
            return false;
        message = errorText.c_str();
        return true;
    }

    std::vector<std::string>* log;
    std::string name;
    std::string translation;
    std::string locale;
    std::string plainText;
    std::string errorText;
    bool handleCase = false;
    i32 order = kNotHandled;
    String seenText;
    String seenLocale;
    String seenInfo;
    i32 seenError = 0;
};

// The entries of one hook; working out the locale asks getLocale too.
std::vector<std::string> only(const std::vector<std::string>& log, const std::string& hook) {
    std::vector<std::string> out;
    for (const std::string& entry : log)
        if (entry.size() > hook.size() && entry.compare(entry.size() - hook.size(), hook.size(), hook) == 0)
            out.push_back(entry);
    return out;
}

// ---------------------------------------------------------------------------
// ZStrings and escapes

TEST_F(LocalizerTest, WithoutALocalizerTheDefaultTextRemains) {
    String text("$$$/CT/Tavrel/UI/");
    text += "Alert=Script Alert";
    Localizer::resolveZString(text);
    EXPECT_EQ(str(text), u"Script Alert");

    String twoEquals("$$$/a=b=c");
    Localizer::resolveZString(twoEquals);
    EXPECT_EQ(str(twoEquals), u"b=c");

    // Without a default text nothing is cut.
    String keyOnly("$$$/a/b");
    Localizer::resolveZString(keyOnly);
    EXPECT_EQ(str(keyOnly), u"$$$/a/b");
}

TEST_F(LocalizerTest, EscapesAreDecoded) {
    struct Case {
        std::u16string in;
        std::u16string out;
    };
    const Case cases[] = {
        {u"^C x", u"\u00A9 x"},
        {u"a\\tb", u"a\tb"},
        {u"^x", u"^x"},            // no row: the caret stays
        {u"\\q", u"q"},            // no row: the character stands alone
        {u"\\\\", u"\\"},
        {u"^^n", u"^n"},           // the pair is taken together
        {u"^\\n", u"^\\"
                  u"n"},
        {u"end\\", u"end\\"},      // nothing after it: kept
        {u"end^", u"end^"},
        {u"\\n\\r\\t\\b", u"\n\r\t\b"},
        {u"^!^#^A^B^C^D^E^F^I^Q^R^S^T^V", u"\u00AC\u2318'\u2022\u00A9\u00B0\u00EA/\u2206\"\u00AE\u2211\u2122\\"},
        {u"^b^e^l^n^r^t^^^[^]^{^}", u"|\u00E9\\\n\r\t^\u201C\u201D\u2018\u2019"},
        {u"\\\U0001F600", u"\U0001F600"},   // the lead surrogate stands alone, the trail follows
    };
    for (const Case& c : cases) {
        String plain = make(c.in);
        Localizer::resolveZString(plain);
        EXPECT_EQ(str(plain), c.out) << std::string(c.in.begin(), c.in.end());

        String zstring = make(u"$$$/k=" + c.in);
        Localizer::resolveZString(zstring);
        EXPECT_EQ(str(zstring), c.out);
    }
}

TEST_F(LocalizerTest, LineFeedsReachTheLocalizerAsBackslashN) {
    std::vector<std::string> log;
    Recorder recorder(&log, "r");
    Localizer::registerLocalizer(&recorder);
    String text("$$$/k=one\ntwo");
    Localizer::resolveZString(text);
    EXPECT_EQ(str(recorder.seenText), u"$$$/k=one\\ntwo");
    EXPECT_EQ(str(text), u"one\ntwo");

    recorder.translation = "eins^nzwei ^C";
    text = "$$$/k=x";
    Localizer::resolveZString(text);
    EXPECT_EQ(str(text), u"eins\nzwei \u00A9");
}

TEST_F(LocalizerTest, TheCurrentIsAskedFirstThenTheRegisteredFromTheLast) {
    std::vector<std::string> log;
    Recorder first(&log, "first");
    Recorder second(&log, "second");
    Recorder current(&log, "current");
    Localizer::registerLocalizer(&first);
    Localizer::registerLocalizer(&second);
    Localizer::setCurrent(&current);
    EXPECT_EQ(Localizer::getCurrent(), &current);

    String text("$$$/k=default");
    Localizer::resolveZString(text);
    EXPECT_EQ(only(log, ":translate"), (std::vector<std::string>{"current:translate", "second:translate",
                                                                "first:translate"}));
    EXPECT_EQ(only(log, ":getLocale"), (std::vector<std::string>{"current:getLocale", "second:getLocale",
                                                                "first:getLocale"}));
    EXPECT_EQ(str(text), u"default");

    log.clear();
    second.translation = "from second";
    first.translation = "from first";
    text = "$$$/k=default";
    Localizer::resolveZString(text);
    EXPECT_EQ(only(log, ":translate"), (std::vector<std::string>{"current:translate", "second:translate"}));
    EXPECT_EQ(str(text), u"from second");

    // A text without "$$$" is offered to localizeText instead.
    log.clear();
    first.plainText = "plain from first";
    EXPECT_EQ(str(Localizer::localize("hello", nullptr)), u"plain from first");
    EXPECT_EQ(log, (std::vector<std::string>{"current:localizeText", "second:localizeText",
                                             "first:localizeText"}));

    Localizer::setCurrent(nullptr);
    EXPECT_NE(Localizer::getCurrent(), &current);
    EXPECT_NE(Localizer::getCurrent(), nullptr);
}

TEST_F(LocalizerTest, TheLocaleAndInfoComeFromTheHostHooks) {
    std::vector<std::string> log;
    Recorder recorder(&log, "r");
    Localizer::registerLocalizer(&recorder);
    String text("$$$/k=v");
    Localizer::resolveZString(text);
    EXPECT_EQ(str(recorder.seenLocale), u"en_US");   // no hooks: the own locale
    EXPECT_EQ(str(recorder.seenInfo), u"");

    TestCallbacks callbacks;
    UsingCallbacks using_(&callbacks);
    callbacks.info = "extra";
    text = "$$$/k=v";
    Localizer::resolveZString(text);
    EXPECT_EQ(str(recorder.seenLocale), u"en_US");   // an empty answer: the own locale
    EXPECT_EQ(str(recorder.seenInfo), u"extra");

    callbacks.locale = "de_DE";
    text = "$$$/k=v";
    Localizer::resolveZString(text);
    EXPECT_EQ(str(recorder.seenLocale), u"de_DE");
}

// ---------------------------------------------------------------------------
// Placeholders

TEST_F(LocalizerTest, PlaceholdersTakeTheArgumentsText) {
    Array args;
    args.getOrCreate(0) = Variant("A");
    args.getOrCreate(1) = Variant(3.5);
    args.getOrCreate(2) = Variant(true);
    args.getOrCreate(3) = Variant(1e21);
    args.getOrCreate(5) = Variant(i32(-7));   // 5 stays missing
    Variant null;
    null.setNull();
    args.getOrCreate(10) = null;
    struct Case {
        const char* in;
        std::u16string out;
    };
    const Case cases[] = {
        {"%1 of %2", u"A of 3.5"},
        {"%3 %4", u"true 1e+21"},
        {"[%5][%6]", u"[undefined][-7]"},
        {"%11", u"null"},
        {"%010", u"undefined"},      // the whole number: 10, a missing element
        {"%0 and %12", u" and "},    // out of range: nothing
        {"100%%", u"100%"},
        {"%x %", u"%x %"},
        {"%%1", u"%1"},
        {"%99999999999999999999999", u""},
        {"$$$/k=%1^C", u"A\u00A9"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(str(Localizer::localize(c.in, &args)), c.out) << c.in;

    Array one;
    one.getOrCreate(0) = Variant("A");
    EXPECT_EQ(str(Localizer::localize("%1 of %2", &one)), u"A of ");
    EXPECT_EQ(str(Localizer::localize("%1 of %2", nullptr)), u" of ");
}

TEST_F(LocalizerTest, TheStringSeamsAreFilled) {
    String out;
    i32 pos = 0;
    EXPECT_TRUE(String("'$$$/a/b=te^Cxt'").parseLiteral(out, pos));
    EXPECT_EQ(str(out), u"te\u00A9xt");

    Array args;
    args.getOrCreate(0) = Variant(i32(42));
    String text("$$$/a=answer %1");
    text.localize(&args);
    EXPECT_EQ(str(text), u"answer 42");
}

// ---------------------------------------------------------------------------
// Errors

TEST_F(LocalizerTest, ErrorTextsAreLocalised) {
    String text;
    errorTextForCode(5, text);
    EXPECT_EQ(str(text), u"Unterminated comment");

    std::vector<std::string> log;
    Recorder recorder(&log, "r");
    Localizer::registerLocalizer(&recorder);
    recorder.translation = "Kommentar ohne Ende";
    text.clear();
    errorTextForCode(5, text);
    EXPECT_EQ(str(text), u"Kommentar ohne Ende");
    EXPECT_EQ(str(recorder.seenText), u"Kommentar ohne Ende");   // resolved before localizeError
    EXPECT_EQ(recorder.seenError, 5);

    recorder.translation.clear();
    recorder.errorText = "$$$/x=neu ^C";      // resolved again
    Error error;
    error.push(2, "x", nullptr, true);
    String message;
    error.getMessage(message);
    EXPECT_EQ(str(message), u"neu \u00A9");

    String plain("mine");
    recorder.errorText.clear();
    EXPECT_FALSE(Localizer::localizeErrorText(200, plain));
    EXPECT_EQ(str(plain), u"mine");
    recorder.errorText = "deins";
    EXPECT_TRUE(Localizer::localizeErrorText(200, plain));
    EXPECT_EQ(str(plain), u"deins");
}

// ---------------------------------------------------------------------------
// Locale names

TEST_F(LocalizerTest, LocaleNamesAreNormalised) {
    struct Case {
        const char* lang;
        const char* locale;
    };
    const Case cases[] = {
        {"de_DE.UTF-8", "de_DE"}, {nullptr, "en_US"},   {"C", "en_US"},     {"POSIX", "en_US"},
        {"C.UTF-8", "en_US"},     {"FR_ca", "fr_FR"},   {"pt_BR", "pt_BR"}, {"fa", "ar_AR"},
        {"xx", "xx_XX"},          {"da", "da_DK"},      {"en", "en_US"},    {"ja", "ja_JP"},
        {"ko", "ko_KR"},          {"zh", "zh_CN"},      {"zh_CN", "zh_CN"}, {"zh_HK", "zh_TW"},
        {"ar_EG", "ar_AE"},       {"de_AT@euro", "de_DE"}, {"es_MX", "es_ES"}, {"it_it", "it_IT"},
        {"ast_ES", "ast_ES"},     {"es_419", "es_419"},
    };
    for (const Case& c : cases) {
        InitTerm::exit();
        setLocale(c.lang);
        InitTerm::init();
        EXPECT_EQ(str(Localizer::getCurrentLocale()), std::u16string(c.locale, c.locale + strlen(c.locale)))
            << (c.lang ? c.lang : "(unset)");
    }

    // LC_ALL comes before LANG.
    InitTerm::exit();
    setLocale("fr_FR");
    setenv("LC_ALL", "ja_JP.eucJP", 1);
    InitTerm::init();
    EXPECT_EQ(str(Localizer::getCurrentLocale()), u"ja_JP");
}

TEST_F(LocalizerTest, TheLocaleIsKeptWhileTheLibraryRuns) {
    EXPECT_EQ(str(Localizer::getCurrentLocale()), u"en_US");
    setLocale("de_DE");
    EXPECT_EQ(str(Localizer::getCurrentLocale()), u"en_US");

    std::vector<std::string> log;
    Recorder recorder(&log, "r");
    Localizer::registerLocalizer(&recorder);
    recorder.locale = "sv_SE";
    EXPECT_EQ(str(Localizer::getCurrentLocale()), u"sv_SE");   // a localizer's answer wins

    InitTerm::exit();   // the next session reads the system again
    InitTerm::init();
    EXPECT_EQ(str(Localizer::getCurrentLocale()), u"de_DE");
}

// ---------------------------------------------------------------------------
// Case and order

TEST_F(LocalizerTest, CaseAndOrderFallBackToThePlainRules) {
    String upper = make(u"Stra\u00DFe \u00E4");
    upper.toUpper();
    EXPECT_EQ(str(Localizer::toLocaleCase(make(u"Stra\u00DFe \u00E4"), false)), str(upper));
    EXPECT_EQ(str(Localizer::toLocaleCase("AbC", true)), u"abc");
    EXPECT_LT(Localizer::localeCompare("a", "b"), 0);
    EXPECT_EQ(Localizer::localeCompare("a", "a"), 0);
    EXPECT_GT(Localizer::localeCompare("b", "a"), 0);

    std::vector<std::string> log;
    Recorder recorder(&log, "r");
    Localizer::registerLocalizer(&recorder);
    recorder.handleCase = true;
    recorder.order = 0;
    EXPECT_EQ(str(Localizer::toLocaleCase("AbC", true)), u"lower");
    EXPECT_EQ(str(Localizer::toLocaleCase("AbC", false)), u"UPPER");
    EXPECT_EQ(Localizer::localeCompare("a", "b"), 0);
}

// ---------------------------------------------------------------------------
// Lifetime across sessions of the library

TEST_F(LocalizerTest, ADeletedLocalizerIsForgotten) {
    std::vector<std::string> log;
    Recorder* registeredTwice = new Recorder(&log, "gone");
    Recorder staying(&log, "staying");
    Localizer::registerLocalizer(&staying);
    Localizer::registerLocalizer(registeredTwice);
    Localizer::registerLocalizer(registeredTwice);
    Localizer::setCurrent(registeredTwice);
    delete registeredTwice;
    EXPECT_NE(Localizer::getCurrent(), nullptr);

    String text("$$$/k=v");
    Localizer::resolveZString(text);
    EXPECT_EQ(only(log, ":translate"), std::vector<std::string>{"staying:translate"});
}

TEST_F(LocalizerTest, TheLastExitUnregistersEverything) {
    std::vector<std::string> log;
    Recorder recorder(&log, "r");
    recorder.translation = "translated";
    Localizer::registerLocalizer(&recorder);
    Localizer::setCurrent(&recorder);

    // An inner init and exit leave the registration alone.
    InitTerm::init();
    InitTerm::exit();
    String text("$$$/k=v");
    Localizer::resolveZString(text);
    EXPECT_EQ(str(text), u"translated");

    InitTerm::exit();
    EXPECT_NE(Localizer::getCurrent(), &recorder);
    Localizer::registerLocalizer(&recorder);    // ignored: nothing to register in
    Localizer::setCurrent(&recorder);
    EXPECT_NE(Localizer::getCurrent(), &recorder);
    InitTerm::init();

    log.clear();
    text = "$$$/k=v";
    Localizer::resolveZString(text);
    EXPECT_EQ(str(text), u"v");
    EXPECT_TRUE(log.empty());
    EXPECT_NE(Localizer::getCurrent(), &recorder);

    // Registered again, it works again.
    Localizer::registerLocalizer(&recorder);
    text = "$$$/k=v";
    Localizer::resolveZString(text);
    EXPECT_EQ(str(text), u"translated");
}

TEST(LocalizerNotStarted, TheDefaultAnswersOutsideTheLibrary) {
    ASSERT_FALSE(InitTerm::isInitialized());
    Localizer* before = Localizer::getCurrent();
    ASSERT_NE(before, nullptr);
    String text;
    EXPECT_FALSE(before->translate(text, text, text));
    EXPECT_EQ(before->compare(text, text), Localizer::kNotHandled);
    InitTerm::init();
    EXPECT_EQ(Localizer::getCurrent(), before);
    InitTerm::exit();
    EXPECT_EQ(Localizer::getCurrent(), before);
}

}  // namespace
}  // namespace LxCore
