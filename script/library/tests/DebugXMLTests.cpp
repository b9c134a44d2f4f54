// The XML debug command protocol: requests parsed from markup, replies
// printed and read back, stops made by a scripted debugger hook.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/platform/MemoryReserve.h"
#include "core/Encoder.h"
#include "core/Dictionary.h"
#include "core/Error.h"
#include "core/File.h"
#include "core/FileSpec.h"
#include "core/LivePropertyManager.h"
#include "core/Point.h"
#include "core/XML.h"
#include "core/tests/TestSupport.h"
#include "script/composition/InitTerm.h"
#include "script/composition/jsEngine.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/library/debug/DebugAPI.h"
#include "script/library/debug/DebugXMLValues.h"

namespace LxScript {
namespace {

using LxCore::Error;
using LxCore::String;
using LxCore::XML;

// ASCII as it is, other units as \uXXXX.
std::string ascii(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); i++) {
        const unsigned c = s[i];
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
            out += escaped;
        }
    }
    return out;
}

String u16(const std::u16string& s) {
    return String(reinterpret_cast<const LxCore::unit*>(s.c_str()), i32(s.size()));
}

XML* parse(const String& markup) {
    Error error;
    i32 position = 0;
    return LxCore::parseXMLText(markup, position, error, true, true, true);
}

// A debugger hook that runs the test's code at each stop.
class ScriptedHook : public Debugger {
public:
    std::function<void()> onBreak;
    std::function<void()> onPoll;
    i32 breaks = 0;
    i32 polls = 0;
    void breakExecution(Engine&) override {
        breaks++;
        if (onBreak)
            onBreak();
    }
    void endOfRun(Engine&) override {}
    void poll(Engine&) override {
        polls++;
        if (onPoll)
            onPoll();
    }
};

class DebugXMLTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        engine.reset(new jsEngine);
        engine->initialize();
        engine->setName(String("main"));
        api = debugAPIOf(*engine);
        ASSERT_NE(api, nullptr);
    }
    void TearDown() override {
        engine->setDebugger(nullptr);
        engine.reset();
        InitTerm::exit();
    }

    // The reply to a request (null for none); errors holds what failed.
    XML* request(const String& markup, Error& errors, bool isStatic = false) {
        XML* parsed = parse(markup);
        EXPECT_NE(parsed, nullptr) << ascii(markup);
        if (!parsed)
            return nullptr;
        XML* reply = isStatic ? DebugAPI::executeStaticXML(*parsed, errors) : api->executeXML(*parsed, errors);
        parsed->release();
        return reply;
    }
    // The reply's markup, "" for none; errors must stay empty.
    std::string reply(const String& markup) {
        Error errors;
        XML* out = request(markup, errors);
        EXPECT_EQ(errors.getCode(), 0) << ascii(markup);
        if (!out)
            return std::string();
        String text;
        out->toXMLString(text, -1);
        out->release();
        return ascii(text);
    }
    std::string reply(const char* markup) { return reply(String(markup)); }
    // The error number a request fails with, and no reply.
    i32 failure(const String& markup, std::string* message = nullptr) {
        Error errors;
        XML* out = request(markup, errors);
        EXPECT_EQ(out, nullptr) << ascii(markup);
        if (out)
            out->release();
        if (message) {
            String text;
            errors.getMessage(text);
            *message = ascii(text);
        }
        return errors.getCode();
    }
    i32 run(const char* source) {
        engine->clearError();
        Variant result;
        engine->eval(String(source), &result, 0, 0, nullptr, nullptr);
        return engine->getError().getCode();
    }
    Property* slotOf(const char* objectName, const char* name) {
        Variant holder;
        engine->getGlobalObject()->get(DataPool::get().add(objectName), holder, 0);
        Object* object = objectOf(holder);
        return object ? object->findProperty(DataPool::get().add(name), kFindRemoved) : nullptr;
    }

    std::unique_ptr<jsEngine> engine;
    DebugAPI* api = nullptr;
};

// ---- The command list ----

TEST_F(DebugXMLTest, InfoListsTheTwentyCommandsOnceAndTwiceTheSame) {
    const std::string first = reply("<get-info/>");
    EXPECT_EQ(first, reply("<get-info/>"));
    const char* const names[] = {"get-properties", "eval", "get-breakpoints", "breakpoints", "get-profiling",
                                 "clear-profiling", "get-break", "get-frame", "set-frame", "continue",
                                 "break", "halt", "stepinto", "stepover", "stepout", "print",
                                 "get-dictionaries", "get-map", "get-package", "tofront"};
    std::string expected = "<info tvversion=\"4.5.5\" engine=\"main\">";
    for (i32 i = 0; i < 20; i++)
        expected += std::string("<command version=\"1\" static=\"") + (i >= 16 ? "true" : "false") + "\">" +
                    names[i] + "</command>";
    expected += "</info>";
    EXPECT_EQ(first, expected);
    // The static entry point names no engine.
    Error errors;
    XML* info = request(String("<get-info/>"), errors, true);
    ASSERT_NE(info, nullptr);
    String text;
    info->getString(String("@engine"), text);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(info->getChildCount(), 20);
    info->release();
}

TEST_F(DebugXMLTest, UnknownCommandsAreBadArguments) {
    std::string message;
    EXPECT_EQ(failure(String("<nonsense/>"), &message), 19);
    EXPECT_EQ(message, "Bad argument nonsense");
    EXPECT_EQ(failure(String("<Get-Info/>")), 19);
    // Engine commands are unknown to the static entry point.
    Error errors;
    EXPECT_EQ(request(String("<eval><source>1</source></eval>"), errors, true), nullptr);
    EXPECT_EQ(errors.getCode(), 19);
}

// ---- Replies that always parse back ----

TEST_F(DebugXMLTest, AValueHoldingTheCDATAEndComesBackInTwoSections) {
    Error errors;
    XML* out = request(String("<eval><source>'a]]&gt;b'</source></eval>"), errors);
    ASSERT_NE(out, nullptr);
    XML* value = out->getChild(0);
    ASSERT_EQ(value->getChildCount(), 2);
    EXPECT_TRUE(value->getChild(0)->isCDATA());
    EXPECT_TRUE(value->getChild(1)->isCDATA());
    EXPECT_EQ(ascii(value->getChild(0)->getValue()), "a]]");
    EXPECT_EQ(ascii(value->getChild(1)->getValue()), ">b");
    String printed;
    out->toXMLString(printed, -1);
    out->release();
    XML* again = parse(printed);
    ASSERT_NE(again, nullptr);
    String text;
    again->getString(String("value"), text);
    EXPECT_EQ(ascii(text), "a]]>b");
    again->release();
}

TEST_F(DebugXMLTest, UnitsXMLCannotCarryBecomeReplacementCharacters) {
    // NUL, a lone surrogate, U+FFFE and a control unit; TAB, LF and CR stay.
    const struct {
        const char16_t* source;
        const char* text;
    } cases[] = {
        {u"'\\u0000\\uD800x'", "\\uFFFD\\uFFFDx"},
        {u"'\\uDC00\\uFFFE\\u0001\\uFFFF'", "\\uFFFD\\uFFFD\\uFFFD\\uFFFD"},
        {u"'\\uD83D\\uDE00'", "\\uD83D\\uDE00"},
        {u"'a\\tb\\nc\\rd'", "a\\u0009b\\u000Ac\\u000Dd"},
    };
    for (const auto& c : cases) {
        Error errors;
        String markup = u16(u"<eval><source>");
        markup += u16(c.source);
        markup += "</source></eval>";
        XML* out = request(markup, errors);
        ASSERT_NE(out, nullptr);
        String printed;
        out->toXMLString(printed, -1);
        out->release();
        // Through UTF-8 and back, as a front end reads it.
        const String decoded(printed.encode(LxCore::utf8Encoder()), LxCore::utf8Encoder());
        XML* again = parse(decoded);
        ASSERT_NE(again, nullptr) << ascii(printed);
        String text;
        again->getString(String("value"), text);
        EXPECT_EQ(ascii(text), c.text);
        again->release();
    }
}

// ---- get-properties ----

TEST_F(DebugXMLTest, ChangesAreReportedOnceEach) {
    ASSERT_EQ(run("var o = {a: 1, b: 2};"), 0);
    const char* const request = "<get-properties object=\"o\" all=\"false\" exclude=\"prototype\"/>";
    EXPECT_EQ(reply(request),
              "<properties object=\"o\" engine=\"main\">"
              "<property type=\"number\" name=\"a\" state=\"new\"><![CDATA[1]]></property>"
              "<property type=\"number\" name=\"b\" state=\"new\"><![CDATA[2]]></property>"
              "<property type=\"Object\" name=\"__proto__\" state=\"new\"><![CDATA[[object Object]]]></property>"
              "</properties>");
    EXPECT_EQ(reply(request), "<properties object=\"o\" engine=\"main\"/>");
    // A property an assignment makes has been written as well: "changed".
    ASSERT_EQ(run("o.a = 5; o.c = 3; delete o.b;"), 0);
    EXPECT_EQ(reply(request),
              "<properties object=\"o\" engine=\"main\">"
              "<property type=\"number\" name=\"a\" state=\"changed\"><![CDATA[5]]></property>"
              "<property type=\"undefined\" name=\"b\" state=\"deleted\"><![CDATA[undefined]]></property>"
              "<property type=\"number\" name=\"c\" state=\"changed\"><![CDATA[3]]></property></properties>");
    EXPECT_EQ(reply(request), "<properties object=\"o\" engine=\"main\"/>");
    // With all, every property, the unchanged ones with an empty state.
    EXPECT_EQ(reply("<get-properties object=\"o\" all=\"true\" exclude=\"prototype\"/>"),
              "<properties object=\"o\" engine=\"main\">"
              "<property type=\"number\" name=\"a\" state=\"\"><![CDATA[5]]></property>"
              "<property type=\"Object\" name=\"__proto__\" state=\"\"><![CDATA[[object Object]]]></property>"
              "<property type=\"number\" name=\"c\" state=\"\"><![CDATA[3]]></property></properties>");
}

// The properties of a listing as "name=state:value", in order.
std::string listed(const std::string& reply) {
    static const std::regex property("<property type=\"[^\"]*\" name=\"([^\"]*)\" state=\"([^\"]*)\">"
                                     "<!\\[CDATA\\[(.*?)\\]\\]></property>");
    std::string out;
    for (std::sregex_iterator it(reply.begin(), reply.end(), property), end; it != end; ++it)
        out += (out.empty() ? "" : " ") + (*it)[1].str() + "=" + (*it)[2].str() + ":" + (*it)[3].str();
    return out;
}

// A function's variables are there from its start, undefined until
// assigned. Its code writes them through the activation's slots, past
// their properties, and the listing of changes still sees every write.
TEST_F(DebugXMLTest, AFunctionsVariablesListFromItsStartWithEachChange) {
    ScriptedHook hook;
    engine->setDebugger(&hook);
    std::vector<std::string> listings;
    hook.onBreak = [&] {
        listings.push_back(listed(reply(listings.empty() ? "<get-properties all=\"true\" exclude=\"Object,Function\"/>"
                                                         : "<get-properties exclude=\"Object,Function\"/>")));
        reply("<stepover/>");
    };
    reply("<eval file=\"t.tvs\" debug=\"1\"><source>function f(a) {\n  var n = NaN, b;\n  var c = 2;\n"
          "  c = 3; a = 4;\n  return n;\n}\nf(1);</source>"
          "<breakpoints><breakpoint file=\"t.tvs\" line=\"2\" enabled=\"true\"/></breakpoints></eval>");
    ASSERT_GE(listings.size(), 5u);
    // Any order of the names will do for the first listing.
    for (const char* local : {"a=new:1", "n=new:undefined", "b=new:undefined", "c=new:undefined"})
        EXPECT_NE((" " + listings[0] + " ").find(std::string(" ") + local + " "), std::string::npos) << listings[0];
    EXPECT_EQ(listings[1], "n=changed:NaN");
    EXPECT_EQ(listings[2], "c=changed:2");
    // A second write, and a parameter's; NaN is still what it was.
    const bool either = listings[3] == "a=changed:4 c=changed:3" || listings[3] == "c=changed:3 a=changed:4";
    EXPECT_TRUE(either) << listings[3];
    EXPECT_EQ(listings[4], "");
}

TEST_F(DebugXMLTest, MaxLeavesOutNumberedNamesFromItsValueOn) {
    ASSERT_EQ(run("var o = {x: 0, 0: 'a', 2: 'b', 3: 'c', 10: 'd', '3d': 'e', y9: 'f'};"), 0);
    const std::string out = reply("<get-properties object=\"o\" all=\"true\" max=\"3\" exclude=\"prototype\"/>");
    for (const char* kept : {"name=\"x\"", "name=\"0\"", "name=\"2\"", "name=\"y9\""})
        EXPECT_NE(out.find(kept), std::string::npos) << kept << " in " << out;
    for (const char* left : {"name=\"3\"", "name=\"10\"", "name=\"3d\""})
        EXPECT_EQ(out.find(left), std::string::npos) << left << " in " << out;
    // Absent, 20.
    const std::string all = reply("<get-properties object=\"[global]\" all=\"true\" exclude=\"builtin\"/>");
    EXPECT_EQ(all.find("value type=\"Workspace\""), std::string::npos);
}

TEST_F(DebugXMLTest, ExcludedTypesAndTheGlobalObject) {
    ASSERT_EQ(run("var o = {n: 1, s: 'x', f: function g() {}, u: undefined};"), 0);
    const std::string out =
        reply("<get-properties object=\"o\" all=\"true\" exclude=\"prototype, number ,Function,Object\"/>");
    EXPECT_EQ(out, "<properties object=\"o\" engine=\"main\">"
                   "<property type=\"string\" name=\"s\" state=\"new\"><![CDATA[x]]></property>"
                   "<property type=\"undefined\" name=\"u\" state=\"new\"><![CDATA[undefined]]></property>"
                   "</properties>");
    // The global object reports itself first as "this", unless built-ins are left out.
    const std::string global = reply("<get-properties object=\"[global]\" all=\"false\"/>");
    EXPECT_EQ(global.find("<properties object=\"$.global\" engine=\"main\"><value "), 0u) << global;
    EXPECT_NE(global.find("name=\"this\" readonly=\"true\""), std::string::npos);
    const std::string quiet = reply("<get-properties object=\"$.global\" all=\"false\" exclude=\"builtin\"/>");
    EXPECT_EQ(quiet.find("name=\"this\""), std::string::npos) << quiet;
}

TEST_F(DebugXMLTest, AFailingObjectExpressionHandsItsErrorOn) {
    std::string message;
    EXPECT_EQ(failure(String("<get-properties object=\"nosuch.x\"/>"), &message), 2);
    EXPECT_NE(message.find("nosuch"), std::string::npos) << message;
    // A value that is no object lists nothing.
    EXPECT_EQ(reply("<get-properties object=\"1 + 1\"/>"), "<properties object=\"1 + 1\" engine=\"main\"/>");
}

// Counts the outside accesses the engine announces.
class AccessCounter : public Callback {
public:
    i32 depth = 0;
    void engineNotify(Engine&, i32 code, i64 value) override {
        if (code == i32(LxCore::fourCharCode("accs")))
            depth += value ? 1 : -1;
    }
};

// Each way out of a listing lowers the suppression again and ends the
// outside access: later errors still break into the debugger.
TEST_F(DebugXMLTest, ErrorsStillStopAfterAFailingListing) {
    ScriptedHook hook;
    engine->setDebugger(&hook);
    AccessCounter accesses;
    engine->setCallback(&accesses);
    ASSERT_EQ(run("var o = {a: 1}; o.__proto__ = {b: 2};"), 0);
    EXPECT_EQ(failure(String("<get-properties object=\"nosuch.x\"/>")), 2);
    // An invalid object on the way (a prototype) ends the listing with 45.
    Variant holder;
    engine->getGlobalObject()->get(DataPool::get().add("o"), holder, 0);
    objectOf(holder)->getPrototype()->invalidate();
    std::string message;
    EXPECT_EQ(failure(String("<get-properties object=\"o\" all=\"false\"/>"), &message), 45);
    EXPECT_EQ(message, "Object is invalid");
    // The discarded reply reported nothing: the change is still to come.
    Property* a = slotOf("o", "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getState(), kStateCreated);
    EXPECT_EQ(accesses.depth, 0);
    Error errors;
    XML* out = request(String("<eval debug=\"1\"><source>var z = 1;\nnosuchFunction();</source></eval>"), errors);
    ASSERT_NE(out, nullptr);
    out->release();
    EXPECT_EQ(hook.breaks, 1);
    engine->setCallback(nullptr);
}

// ---- Breakpoints and flags ----

TEST_F(DebugXMLTest, BreakpointLinesCountFromOne) {
    EXPECT_EQ(reply("<breakpoints flags=\"65535\"><breakpoint file=\"t.tvs\" line=\"1\" hits=\"2\" enabled=\"1\"/>"
                    "<breakpoint file=\"t.tvs\" line=\"0\" count=\"4\" enabled=\"no\">x &gt; 1</breakpoint>"
                    "<breakpoint file=\"u.tvs\" line=\"4294967297\" enabled=\"true\"/><other/></breakpoints>"),
              "");
    LxCore::TSimpleArray<BreakpointInfo> list;
    api->getBreakpoints(list);
    ASSERT_EQ(list.getCount(), 3);
    const struct {
        i32 line, hits, count;
        u8 enabled;
        const char* condition;
    } expected[] = {{0, 2, 0, 1, ""}, {0, 0, 4, 0, "x > 1"}, {0, 0, 0, 1, ""}};
    for (i32 i = 0; i < 3; i++) {
        const BreakpointInfo& b = *list.get(i);
        EXPECT_EQ(b.line, expected[i].line) << i;
        EXPECT_EQ(b.hits, expected[i].hits) << i;
        EXPECT_EQ(b.count, expected[i].count) << i;
        EXPECT_EQ(b.enabled, expected[i].enabled) << i;
        EXPECT_EQ(ascii(b.condition), expected[i].condition) << i;
        delete list.get(i);
    }
    // The debug level went to 1; only the debugger's flag bits were taken.
    EXPECT_EQ(engine->getDebugLevel(), 1);
    EXPECT_EQ(engine->getDebugFlags() & 0xFFFF, 0x403u);
    EXPECT_EQ(reply("<get-breakpoints/>"),
              "<breakpoints flags=\"1027\" engine=\"main\">"
              "<breakpoint file=\"t.tvs\" line=\"1\" hits=\"2\" count=\"0\"/>"
              "<breakpoint file=\"t.tvs\" line=\"1\" hits=\"0\" count=\"4\"><![CDATA[x > 1]]></breakpoint>"
              "<breakpoint file=\"u.tvs\" line=\"1\" hits=\"0\" count=\"0\"/></breakpoints>");
}

TEST_F(DebugXMLTest, StepCommandsSetProfilingAndFlags) {
    engine->setProfilingLevel(2);
    engine->setDebugFlags(0x10403);
    EXPECT_EQ(reply("<stepinto/>"), "");
    EXPECT_EQ(engine->getProfilingLevel(), 0);
    EXPECT_EQ(engine->getDebugFlags(), 0x10000u);
    const struct {
        const char* profiling;
        i32 level;
    } cases[] = {{"3", 3}, {"-2", 2}, {"9", 4}, {"-2147483648", 4}, {"2147483648", 0}, {"x", 0}};
    for (const auto& c : cases) {
        String markup("<stepover flags=\"-1\" profiling=\"");
        markup += c.profiling;
        markup += "\"/>";
        EXPECT_EQ(reply(markup), "");
        EXPECT_EQ(engine->getProfilingLevel(), c.level) << c.profiling;
        EXPECT_EQ(engine->getDebugFlags(), 0x10403u);
    }
    // A step's breakpoints replace the engine's; break and halt take none.
    EXPECT_EQ(reply("<continue><breakpoints><breakpoint file=\"a.tvs\" line=\"3\"/></breakpoints></continue>"), "");
    EXPECT_EQ(reply("<break><breakpoints/></break>"), "");
    LxCore::TSimpleArray<BreakpointInfo> list;
    api->getBreakpoints(list);
    ASSERT_EQ(list.getCount(), 1);
    EXPECT_EQ(list.get(0)->line, 2);
    delete list.get(0);
}

// ---- Frames and stops ----

TEST_F(DebugXMLTest, NoFrameNoReplyNoError) {
    EXPECT_EQ(reply("<get-frame/>"), "");
    EXPECT_EQ(reply("<set-frame frame=\"2\"/>"), "");
    EXPECT_EQ(reply("<get-break/>"), "<break flags=\"0\" engine=\"main\"><stack/><profiling/></break>");
}

TEST_F(DebugXMLTest, AStopInAFunctionShowsItsFrame) {
    ScriptedHook hook;
    engine->setDebugger(&hook);
    std::string brk, frame, outer, properties, setFrame, after;
    hook.onBreak = [&] {
        brk = reply("<get-break/>");
        frame = reply("<get-frame/>");
        outer = reply("<get-frame frame=\"1\"/>");
        properties = reply("<get-frame all=\"true\" exclude=\"prototype\"/>");
        setFrame = reply("<set-frame frame=\"1\"/>");
        after = ascii(String()) + std::to_string(api->getContextLevel());
    };
    const std::string out = reply(
        "<eval file=\"t.tvs\" debug=\"1\"><source>function f(a) {\n  var b = a + 1;\n  return b;\n}\n"
        "f(3);\n1;</source><breakpoints><breakpoint file=\"t.tvs\" line=\"2\" enabled=\"true\"/></breakpoints></eval>");
    EXPECT_EQ(hook.breaks, 1);
    EXPECT_EQ(out, "<evalresult engine=\"main\"><value type=\"number\"><![CDATA[1]]></value><profiling/></evalresult>");
    EXPECT_NE(brk.find("<stack><frameinfo><![CDATA[[t.tvs]]]></frameinfo><frameinfo><![CDATA[f(3)]]></frameinfo></stack>"),
              std::string::npos)
        << brk;
    EXPECT_NE(brk.find("<frame file=\"t.tvs\" line=\"2\" type=\"script\" name=\"f\">"), std::string::npos) << brk;
    EXPECT_EQ(frame.find("<frame file=\"t.tvs\" line=\"2\" type=\"script\" name=\"f\" engine=\"main\">"
                         "<param><![CDATA[3]]></param><source><![CDATA["),
              0u)
        << frame;
    EXPECT_EQ(outer.find("<frame file=\"t.tvs\" line=\"5\" type=\"script\" engine=\"main\"><source>"), 0u) << outer;
    EXPECT_NE(properties.find("<value type=\"global\" name=\"this\" readonly=\"true\">"), std::string::npos)
        << properties;
    EXPECT_NE(properties.find("<property type=\"number\" name=\"a\" state=\"new\"><![CDATA[3]]></property>"),
              std::string::npos)
        << properties;
    EXPECT_EQ(setFrame.find("<frame file=\"t.tvs\" line=\"5\""), 0u) << setFrame;
    EXPECT_EQ(after, "1");
    // The levels the evaluation set are undone.
    EXPECT_EQ(engine->getDebugLevel(), 0);
}

TEST_F(DebugXMLTest, ResetWhileStoppedIsRefusedAndRunsNothing) {
    ScriptedHook hook;
    engine->setDebugger(&hook);
    i32 code = 0;
    std::string message;
    hook.onBreak = [&] { code = failure(String("<eval reset=\"true\"><source>marker = 2;</source></eval>"), &message); };
    reply("<eval debug=\"2\"><source>var marker = 1;\nmarker;</source></eval>");
    EXPECT_EQ(hook.breaks, 1);
    EXPECT_EQ(code, 19);
    EXPECT_EQ(message, "Bad argument reset");
    Variant marker;
    engine->getGlobalObject()->get(DataPool::get().add("marker"), marker, 0);
    EXPECT_EQ(marker.toInt(), 1);
    // Idle, a reset is fine.
    EXPECT_EQ(reply("<eval reset=\"true\"><source>typeof marker</source></eval>"),
              "<evalresult engine=\"main\"><value type=\"string\"><![CDATA[undefined]]></value><profiling/></evalresult>");
}

TEST_F(DebugXMLTest, AnEvaluationWhileStoppedLeavesTheStoppedError) {
    ScriptedHook hook;
    engine->setDebugger(&hook);
    std::string evaluated, brk;
    hook.onBreak = [&] {
        evaluated = reply("<eval><source>nosuch2</source></eval>");
        brk = reply("<get-break/>");
    };
    const std::string out = reply("<eval debug=\"1\"><source>nosuch1;\n'went on';</source></eval>");
    EXPECT_EQ(hook.breaks, 1);
    EXPECT_NE(evaluated.find("<error id=\"2\""), std::string::npos) << evaluated;
    EXPECT_NE(evaluated.find("nosuch2 is undefined"), std::string::npos) << evaluated;
    EXPECT_NE(brk.find("nosuch1 is undefined"), std::string::npos) << brk;
    EXPECT_NE(out.find("<error id=\"2\""), std::string::npos) << out;
    EXPECT_EQ(out.find("went on"), std::string::npos) << out;
}

// ---- eval ----

TEST_F(DebugXMLTest, EvalReportsErrorsAndReadsFiles) {
    const std::string out = reply("<eval file=\"e.tvs\"><source>var q = 1;\nq.x.y;</source></eval>");
    EXPECT_EQ(out.find("<evalresult engine=\"main\"><error id=\""), 0u) << out;
    EXPECT_NE(out.find("file=\"e.tvs\" line=\"2\""), std::string::npos) << out;
    EXPECT_EQ(engine->getError().getCode(), 0);
    EXPECT_EQ(failure(String("<eval file=\"/nonexistent/x.tvs\"/>")), 48);
    // Properties come along when asked for.
    EXPECT_EQ(reply("<eval all=\"true\" object=\"p\" exclude=\"prototype,Object\"><source>var p = {k: 'v'}; 7</source></eval>"),
              "<evalresult engine=\"main\"><value type=\"number\"><![CDATA[7]]></value>"
              "<properties object=\"p\"><property type=\"string\" name=\"k\" state=\"new\"><![CDATA[v]]></property>"
              "</properties><profiling/></evalresult>");
}

// An XML parse error names what went wrong below its line, in the reply too.
TEST_F(DebugXMLTest, AnXMLParseErrorSaysWhatWentWrong) {
    const std::string out = reply("<eval><source>new XML('&lt;a>&lt;b>&lt;/a>')</source></eval>");
    EXPECT_EQ(out.find("<evalresult engine=\"main\"><error id=\"62\""), 0u) << out;
    EXPECT_NE(out.find(">XML error in line 1\\u000A- Mismatched tag</error>"), std::string::npos) << out;
}

// ---- Values of every kind ----

TEST_F(DebugXMLTest, ValuesAreTypedByKindAndClass) {
    const struct {
        const char* source;
        const char* value;
    } cases[] = {
        {"undefined", "<value type=\"undefined\"><![CDATA[undefined]]></value>"},
        {"null", "<value type=\"null\"><![CDATA[null]]></value>"},
        {"2 &gt; 1", "<value type=\"boolean\"><![CDATA[true]]></value>"},
        {"0.5", "<value type=\"number\"><![CDATA[0.5]]></value>"},
        {"[1, 2]", "<value type=\"Array\"><![CDATA[1,2]]></value>"},
        {"(function g(a) { return a; })", "<value type=\"Function\"><![CDATA[g()]]></value>"},
        {"({toString: function () { return 'mine'; }})", "<value type=\"Object\"><![CDATA[mine]]></value>"},
        {"({toString: function () { throw 'bad'; }})", "<value type=\"error\"><![CDATA["},
    };
    for (const auto& c : cases) {
        String markup("<eval><source>");
        markup += c.source;
        markup += "</source></eval>";
        const std::string out = reply(markup);
        EXPECT_NE(out.find(c.value), std::string::npos) << c.source << ": " << out;
    }
    // Kinds scripts do not make: their type names; a reference by its class.
    LxCore::Variant rect;
    rect.setRect(LxCore::Rect());
    LxCore::Variant reference(7u, String("Thing"), nullptr);
    const struct {
        const LxCore::Variant* value;
        const char* type;
    } kinds[] = {{&rect, "rect"}, {&reference, "Thing"}};
    for (const auto& k : kinds) {
        XML* element = DebugXML::valueElement(*engine, *k.value, nullptr);
        ASSERT_NE(element, nullptr);
        String type;
        element->getString(String("@type"), type);
        EXPECT_EQ(ascii(type), k.type);
        element->release();
    }
}

// ---- Files, output and dictionaries ----

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/debugxmlXXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempFolder() {
        for (const std::string& f : files)
            std::remove(f.c_str());
        rmdir(path.c_str());
    }
    std::string write(const char* name, const std::string& bytes) {
        const std::string file = path + "/" + name;
        std::ofstream(file, std::ios::binary) << bytes;
        files.push_back(file);
        return file;
    }
    std::string path;
    std::vector<std::string> files;
};

TEST_F(DebugXMLTest, EvalReadsFilesByTheirByteOrderMark) {
    TempFolder folder;
    const struct {
        const char* name;
        std::string bytes;
        const char* value;
    } cases[] = {
        {"plain.tvs", "'caf\xC3\xA9'", "caf\\u00E9"},
        {"marked.tvs", std::string("\xFF\xFE'\0x\0'\0", 8), "x"},
    };
    for (const auto& c : cases) {
        const std::string file = folder.write(c.name, c.bytes);
        const std::string out = reply(String(("<eval file=\"" + file + "\"/>").c_str()));
        EXPECT_NE(out.find(std::string("<![CDATA[") + c.value + "]]>"), std::string::npos) << out;
    }
}

// Only a regular file of bounded size is read: a device, a pipe (which
// would wait for a writer), a folder or a file over the bound is refused
// at once, by an error that names it.
TEST_F(DebugXMLTest, EvalReadsOnlyRegularScriptFilesOfBoundedSize) {
    TempFolder folder;
    const std::string normal = folder.write("normal.tvs", "6 * 7");
    const std::string sparse = folder.write("sparse.tvs", "");
    ASSERT_EQ(truncate(sparse.c_str(), off_t(LxCore::kMaxScriptFileBytes) + 1), 0);
    const std::string fifo = folder.path + "/fifo.tvs";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string sub = folder.path + "/folder.tvs";
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    folder.files.insert(folder.files.end(), {fifo, sub});
    const struct {
        std::string file;
        i32 status;
        std::string message;
    } cases[] = {
        {"/dev/zero", 52, "/dev/zero is not a regular file"},
        {fifo, 52, fifo + " is not a regular file"},
        {sub, 52, sub + " is not a regular file"},
        {sparse, 41, sparse + " is out of range"},
        {folder.path + "/missing.tvs", 48, "File or folder does not exist"},
    };
    for (const auto& c : cases) {
        std::string message;
        EXPECT_EQ(failure(String(("<eval file=\"" + c.file + "\" timeout=\"2000\"/>").c_str()), &message), c.status)
            << c.file;
        EXPECT_EQ(message, c.message);
    }
    EXPECT_NE(reply(String(("<eval file=\"" + normal + "\" timeout=\"2000\"/>").c_str())).find("<![CDATA[42]]>"),
              std::string::npos);
}

// Between the blocks of a long script file the hook is polled, as while a
// script runs: a <halt/> it takes in (the error it sets) or the eval's
// deadline ends the read, and leaves no error on the engine.
TEST_F(DebugXMLTest, AHaltOrTheDeadlineEndsTheReadingOfAScriptFile) {
    TempFolder folder;
    const std::string file = folder.write("long.tvs", std::string(size_t(1) << 20, ' ') + "5");
    ScriptedHook hook;
    engine->setDebugger(&hook);
    const struct {
        const char* name;
        std::function<void()> onPoll;
        const char* timeout;
        i32 status;
    } rows[] = {
        {"halt", [&] { engine->setError(LxCore::Err::kExecutionHalted); }, "0", -34},
        {"deadline", [] { usleep(20000); }, "1", -35},
        {"neither", nullptr, "0", 0},
    };
    for (const auto& r : rows) {
        hook.onPoll = r.onPoll;
        hook.polls = 0;
        const String markup(("<eval file=\"" + file + "\" timeout=\"" + r.timeout + "\"/>").c_str());
        if (r.status != 0)
            EXPECT_EQ(failure(markup), r.status) << r.name;
        else
            EXPECT_NE(reply(markup).find("<![CDATA[5]]>"), std::string::npos) << r.name;
        EXPECT_GT(hook.polls, 0) << r.name;
        EXPECT_EQ(engine->getError().getCode(), 0) << r.name;
    }
}

TEST_F(DebugXMLTest, PrintWritesTheChildrenToTheStream) {
    EXPECT_EQ(reply("<print>dropped</print>"), "");
    TempFolder folder;
    const std::string file = folder.write("out.txt", "");
    LxCore::File stream{LxCore::FileSpec(String(file.c_str()), false)};
    ASSERT_EQ(stream.open(String("w")), 0);
    api->setOutputStream(&stream);
    EXPECT_EQ(reply("<print>one &amp;<b x=\"1\">two</b></print>"), "");
    api->setOutputStream(nullptr);
    stream.close();
    std::ifstream in(file, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    EXPECT_EQ(all.str(), "one &amp;<b x=\"1\">two</b>");
}

const LxCore::LivePropertyInfo kShapeRows[] = {
    {"x", 1, 0x62, "number\tThe x coordinate."},
    {nullptr, 0, 0, nullptr},
};

// Limits the address space to what is in use and a little more; false when
// it cannot.
bool leaveLittleAddressSpace(long spareKb) {
    long kb = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (std::sscanf(line.c_str(), "VmSize: %ld kB", &kb) == 1)
            break;
    const rlim_t bytes = rlim_t(kb + spareKb) * 1024;
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = bytes;
    return kb > 0 && setrlimit(RLIMIT_AS, &limit) == 0;
}

// A command whose own work runs out of memory fails with -28 and its
// text, and the memory held back for the answer is given up. Run in a
// child with little address space left; a sanitized build cannot be held
// to a limit.
TEST_F(DebugXMLTest, ACommandThatRunsOutOfMemoryFailsWithItsText) {
    if (LxCore::kSanitizedBuild)
        GTEST_SKIP() << "an address-space limit cannot hold a sanitized build";
    XML* request = parse(String(("<print><a>" + std::string(size_t(16) << 20, 'x') + "</a></print>").c_str()));
    ASSERT_NE(request, nullptr);
    LxCore::File stream{LxCore::FileSpec(String("/dev/null"), false)};
    ASSERT_EQ(stream.open(String("w")), 0);
    api->setOutputStream(&stream);
    auto child = [&] {
        LxBase::MemoryReserve::take(0);
        if (!leaveLittleAddressSpace(16 * 1024))
            return 2;
        Error errors;
        XML* out = api->executeXML(*request, errors);
        String message;
        errors.getMessage(message);
        const bool failed = !out && errors.getCode() == -28 && ascii(message) == "Out of memory";
        return failed && !LxBase::MemoryReserve::isHeld() ? 0 : 1;
    };
    EXPECT_EXIT(_exit(child()), ::testing::ExitedWithCode(0), "");
    api->setOutputStream(nullptr);
    request->release();
}

TEST_F(DebugXMLTest, DictionariesAnswerWithoutAnEngine) {
    auto* d = new LxCore::Dictionary(LxCore::kScriptClient);
    d->setName(String("Shapes"));
    d->addClass(kShapeRows, "Geometry\tShapes", "Point\tA point");
    ASSERT_TRUE(LxCore::Dictionary::registerDictionary(d));
    const std::string list = reply("<get-dictionaries/>");
    EXPECT_EQ(list.find("<dictionaries>"), 0u) << list;
    EXPECT_NE(list.find(">Shapes</dictionary>"), std::string::npos) << list;
    EXPECT_EQ(reply("<get-map dictname=\"Shapes\" prefix=\"help/\"/>").find("<map "), 0u);
    EXPECT_EQ(reply("<get-dictionary dictname=\"Shapes\"/>").find("<map "), 0u);
    const std::string whole = reply("<get-package dictname=\"Shapes\"/>");
    EXPECT_EQ(whole.find("<dictionary><map "), 0u) << whole;
    EXPECT_NE(whole.find("<package><classdef"), std::string::npos) << whole;
    EXPECT_EQ(reply("<get-package dictname=\"Shapes\" group=\"Geometry\"/>").find("<package><classdef"), 0u);
    EXPECT_EQ(reply("<get-package dictname=\"Shapes\"><element>Point</element></get-package>").find("<package><classdef"),
              0u);
    std::string message;
    EXPECT_EQ(failure(String("<get-package dictname=\"Shapes\"><element>Point</element><element>Line</element>"
                             "</get-package>"),
                      &message),
              2);
    EXPECT_EQ(message, "Line is undefined");
    for (const char* command : {"get-map", "get-dictionary", "get-package"})
        EXPECT_EQ(failure(String((std::string("<") + command + " dictname=\"None\"/>").c_str())), -36) << command;
    // Served statically too; tofront does nothing on this platform.
    Error errors;
    XML* map = request(String("<get-map dictname=\"Shapes\"/>"), errors, true);
    ASSERT_NE(map, nullptr);
    map->release();
    EXPECT_EQ(request(String("<tofront id=\"12345\"/>"), errors, true), nullptr);
    EXPECT_EQ(errors.getCode(), 0);
    LxCore::Dictionary::unregisterDictionary(d);
    delete d;
}

// ---- Run control and profiling through the service ----

// The line attribute of the reply's "frame" element.
std::string frameLine(const std::string& reply) {
    const size_t at = reply.find("<frame ");
    const size_t line = reply.find("line=\"", at);
    if (at == std::string::npos || line == std::string::npos)
        return "?";
    return reply.substr(line + 6, reply.find('"', line + 6) - line - 6);
}

TEST_F(DebugXMLTest, StepsWalkThroughACall) {
    ScriptedHook hook;
    engine->setDebugger(&hook);
    const char* const steps[] = {"<stepinto/>", "<stepover/>", "<stepout/>", "<continue/>"};
    std::vector<std::string> lines;
    hook.onBreak = [&] {
        const std::string b = reply("<get-break/>");
        lines.push_back(frameLine(b) + (b.find("name=\"f\"") != std::string::npos ? " f" : ""));
        reply(steps[std::min<size_t>(lines.size() - 1, 3)]);
    };
    const std::string out = reply(
        "<eval file=\"t.tvs\" debug=\"1\"><source>function f(a) {\n  var b = a + 1;\n  return b;\n}\n"
        "f(3);\nvar after = 'done';</source>"
        "<breakpoints><breakpoint file=\"t.tvs\" line=\"5\" enabled=\"true\"/></breakpoints></eval>");
    // Into f (where its first line hook is the engine's), over to the next
    // line of f, out to the line after the call.
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "5");
    EXPECT_TRUE(lines[1] == "1 f" || lines[1] == "2 f") << lines[1];
    EXPECT_EQ(lines[2], std::to_string(std::atoi(lines[1].c_str()) + 1) + " f");
    EXPECT_EQ(lines[3], "6");
    EXPECT_EQ(out, "<evalresult engine=\"main\"><value type=\"undefined\"><![CDATA[undefined]]></value>"
                   "<profiling/></evalresult>");
}

TEST_F(DebugXMLTest, HaltWhileStoppedEndsTheRun) {
    ScriptedHook hook;
    engine->setDebugger(&hook);
    hook.onBreak = [&] { EXPECT_EQ(reply("<halt/>"), ""); };
    const std::string out = reply("<eval debug=\"2\"><source>var x = 1;\nx = 2;</source></eval>");
    EXPECT_EQ(hook.breaks, 1);
    EXPECT_EQ(out.find("<evalresult engine=\"main\"><error id=\"-34\""), 0u) << out;
    EXPECT_NE(out.find(">Execution halted</error>"), std::string::npos) << out;
}

TEST_F(DebugXMLTest, ProfilingGroupsRecordsByFileAndFunction) {
    const i32 a = i32(DataPool::get().add("a.tvs"));
    const i32 b = i32(DataPool::get().add("b.tvs"));
    const i32 f = i32(DataPool::get().add("f"));
    // Top-level code of two files (function 0), and a function of one.
    engine->findProfilerRecord(b, 0, 0)->hits = 2;
    engine->findProfilerRecord(a, 4, f)->hits = 1;
    engine->findProfilerRecord(a, 0, 0)->hits = 3;
    engine->findProfilerRecord(a, 1, 0)->time = 7;
    engine->setProfilingLevel(2);
    EXPECT_EQ(reply("<get-profiling/>"),
              "<profiling engine=\"main\">"
              "<file name=\"a.tvs\"><function>"
              "<data line=\"1\" time=\"0\" hits=\"3\"/><data line=\"2\" time=\"7\" hits=\"0\"/></function>"
              "<function name=\"f\"><data line=\"5\" time=\"0\" hits=\"1\"/></function></file>"
              "<file name=\"b.tvs\"><function><data line=\"1\" time=\"0\" hits=\"2\"/></function></file>"
              "</profiling>");
    // Levels without time leave it out; erase empties the records.
    engine->setProfilingLevel(1);
    EXPECT_NE(reply("<get-profiling erase=\"true\"/>").find("<data line=\"1\" hits=\"2\"/>"), std::string::npos);
    EXPECT_EQ(engine->getProfilerRecords(), nullptr);
    EXPECT_EQ(reply("<get-profiling/>"), "<profiling engine=\"main\"/>");
    engine->findProfilerRecord(a, 0, 0);
    EXPECT_EQ(reply("<clear-profiling/>"), "");
    EXPECT_EQ(engine->getProfilerRecords(), nullptr);
}

TEST_F(DebugXMLTest, EvalProfilesItsRunAtTheClampedLevel) {
    const std::string out = reply(
        "<eval file=\"p.tvs\" profiling=\"-2147483648\"><source>function g() {}\ng();\ng();</source></eval>");
    EXPECT_NE(out.find("<profiling><file name=\"p.tvs\">"), std::string::npos) << out;
    // Negative: the records went with the reply; the level is back.
    EXPECT_EQ(engine->getProfilerRecords(), nullptr);
    EXPECT_EQ(engine->getProfilingLevel(), 0);
    const std::string kept = reply("<eval file=\"p.tvs\" profiling=\"1\"><source>function g() {}\ng();</source></eval>");
    EXPECT_NE(kept.find("<function name=\"g\"><data line=\"1\" hits=\"1\"/>"), std::string::npos) << kept;
    EXPECT_NE(engine->getProfilerRecords(), nullptr);
}

}  // namespace
}  // namespace LxScript
