// What scripts alone cannot show of the $ object and reflection: the
// embedding's level guard, halting a sleep, the output stream, evalFile's
// include path, and an engine destroyed while reflections hold objects.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "base/platform/EnvironmentLock.h"
#include "core/Dictionary.h"
#include "core/File.h"
#include "core/LivePropertyManager.h"
#include "core/FileSpec.h"
#include "core/platform/Environment.h"
#include "core/tests/TestSupport.h"
#include "script/composition/InitTerm.h"
#include "script/composition/jsEngine.h"
#include "script/engine/DispatcherDictionary.h"
#include "script/library/debug/DebugAPI.h"
#include "script/library/dollar/DollarClass.h"
#include "script/library/reflection/Reflection.h"

namespace LxScript {
namespace {

using LxCore::String;

std::string textOf(const Variant& v) {
    const String s = v.toString();
    std::string out;
    for (i32 i = 0; i < s.length(); i++)
        out += char(s[i]);
    return out;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

void writeWhole(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

class DollarTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        engine.reset(new jsEngine);
        engine->initialize();
    }
    void TearDown() override {
        engine.reset();
        InitTerm::exit();
    }
    i32 run(const char* source, Variant* result = nullptr) {
        Variant scratch;
        engine->eval(String(source), result ? result : &scratch, 0, 0, nullptr, nullptr);
        return engine->getError().getCode();
    }
    std::string value(const char* source) {
        Variant result;
        EXPECT_EQ(run(source, &result), 0) << source;
        engine->clearError();
        return textOf(result);
    }

    std::unique_ptr<jsEngine> engine;
};

TEST_F(DollarTest, TheEmbeddingsGuardKeepsTheLevel) {
    engine->setDebugFlags(0x800);
    engine->setEffectiveDebugFlags(0x800);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(run("$.flags = 0; $.level = 1; $.level = 0; $.level"), 0);
    const std::string alerts = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(engine->getDebugLevel(), 0);
    EXPECT_NE(engine->getEffectiveDebugFlags() & 0x800, 0u) << "$.flags = 0 lifted the guard";
    EXPECT_NE(alerts.find("Attempt to set $.level to 1 without permission!"), std::string::npos) << alerts;
    EXPECT_EQ(alerts.find("to 0 without"), std::string::npos) << "a level below 1 is ignored silently";
    EXPECT_EQ(value("$.flags & 0x800"), "2048");
}

// The steps $.sleep takes, in milliseconds; the halt comes (from another
// thread, as a front end's does) during the step numbered haltInStep.
std::vector<u32> sleptSteps;
size_t haltInStep = 0;
jsEngine* sleeper = nullptr;

void recordedStep(u32 ms) {
    sleptSteps.push_back(ms);
    if (sleptSteps.size() == haltInStep)
        std::thread([] { sleeper->halt(); }).join();
}

// The sleep waits in steps of 100 ms and checks for a halt after each.
TEST_F(DollarTest, HaltEndsASleep) {
    const struct {
        const char* source;
        size_t haltInStep;      // 0: none
        std::vector<u32> steps;
        i32 code;
    } rows[] = {
        {"$.sleep(250); 1", 0, {100, 100, 50}, 0},
        {"$.sleep(100); 1", 0, {100}, 0},
        {"$.sleep(0); 1", 0, {}, 0},
        {"$.sleep(5000); 1", 2, {100, 100}, -34},
        {"$.sleep(250); 1", 1, {100}, -34},
    };
    sleeper = engine.get();
    setSleepStepForTests(recordedStep);
    for (const auto& r : rows) {
        engine->clearError();
        sleptSteps.clear();
        haltInStep = r.haltInStep;
        EXPECT_EQ(run(r.source), r.code) << r.source;
        EXPECT_EQ(sleptSteps, r.steps) << r.source << ", halted in step " << r.haltInStep;
    }
    setSleepStepForTests(nullptr);
}

class TextHook : public Debugger {
public:
    std::string written;
    void breakExecution(Engine&) override {}
    void endOfRun(Engine&) override {}
    void poll(Engine&) override {}
    void writeText(Engine&, const String& text) override { written += textOf(Variant(text)); }
};

TEST_F(DollarTest, WritelnGoesToTheHookElseToTheOutputStream) {
    TextHook hook;
    engine->setDebugger(&hook);
    EXPECT_EQ(run("$.writeln('a', 1); $.write('b\\nc')"), 0);
    EXPECT_EQ(hook.written, "a1\r\nb\r\nc");
    engine->setDebugger(nullptr);

    const std::string folder = LxCore::makeTemporaryFolder("dollar-out");
    const std::string path = folder + "/out.txt";
    LxCore::File stream(LxCore::FileSpec(String(path.c_str()), true));
    ASSERT_EQ(stream.open(String("w")), 0);
    DebugAPI* debug = debugAPIOf(*engine);
    ASSERT_NE(debug, nullptr);
    debug->setOutputStream(&stream);
    EXPECT_EQ(run("$.writeln('hi')"), 0);
    EXPECT_EQ(readWhole(path), "hi\r\n") << "flushed at once";
    debug->setOutputStream(nullptr);
    stream.close();
    EXPECT_EQ(run("$.writeln('dropped')"), 0);
    LxCore::removeTree(folder);
}

// The script's folder reaches includes only through the path's first
// element, whose ':', ';' and '%' must survive the path's reader.
TEST_F(DollarTest, EvalFileFindsIncludesBesideTheScriptAndRestoresThePath) {
    const std::string root = LxCore::makeTemporaryFolder("dollar-eval");
    const std::string folder = root + "/a:b;c%41";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((folder + "/sub").c_str(), 0700), 0);
    writeWhole(folder + "/main.tvs", "#include \"sub/g.tvs\"\nfromBeside + 1;\n");
    writeWhole(folder + "/sub/g.tvs", "#include \"beside.tvs\"\n");
    writeWhole(folder + "/beside.tvs", "var fromBeside = 41;\n");
    writeWhole(folder + "/throws.tvs", "throw 'no';\n");
    writeWhole(folder + "/fails.tvs", "var = ;\n");
    writeWhole(folder + "/rich.tvs", "{\\rtf1 text}");

    // The saved path is put back as it was, JSINCLUDE not appended again.
    LxCore::SavedEnvironment saved({"JSINCLUDE"});
    setenv("JSINCLUDE", "/from/the/environment", 1);
    engine->setIncludePath(String("/kept/one"));
    const std::string before = textOf(Variant(engine->getIncludePath()));
    auto call = [&](const std::string& file) {
        Variant result;
        engine->clearError();
        // The path as a URI: the folder's '%' would otherwise read as an escape.
        String uri;
        LxCore::pathToURI(uri, String(file.c_str()), false);
        const std::string source = "$.evalFile(\"" + textOf(Variant(uri)) + "\")";
        engine->eval(String(source.c_str()), &result, 0, 0, nullptr, nullptr);
        return std::make_pair(engine->getError().getCode(), textOf(result));
    };
    const auto ok = call(folder + "/main.tvs");
    EXPECT_EQ(ok.first, 0);
    EXPECT_EQ(ok.second, "42");
    EXPECT_EQ(textOf(Variant(engine->getIncludePath())), before);
    EXPECT_EQ(call(folder + "/throws.tvs").first, 54);
    EXPECT_EQ(textOf(Variant(engine->getIncludePath())), before);
    const i32 failed = call(folder + "/fails.tvs").first;
    EXPECT_NE(failed, 0);
    EXPECT_NE(failed, 54) << "a syntax error, not a throw";
    EXPECT_EQ(textOf(Variant(engine->getIncludePath())), before);
    EXPECT_EQ(call(folder + "/rich.tvs").first, 52);
    EXPECT_EQ(call(folder + "/missing.tvs").first, 48);
    EXPECT_EQ(textOf(Variant(engine->getIncludePath())), before);
    EXPECT_EQ(before, "/kept/one");
    LxCore::removeTree(root);
}

TEST_F(DollarTest, AnEngineGoesWhileReflectionsHoldItsObjects) {
    ASSERT_EQ(run("var o = { f: function (a, b) {} }; o"), 0);
    Variant o;
    engine->getGlobalObject()->get(DataPool::get().add("o"), o, 0);
    ASSERT_NE(objectOf(o), nullptr);
    Variant r;
    makeReflectionObject(r, *objectOf(o));
    ASSERT_NE(objectOf(r), nullptr);
    objectOf(o)->put(DataPool::get().add("r"), r, 0);
    engine->getGlobalObject()->put(DataPool::get().add("r"), r, 0);
    EXPECT_EQ(value("r.name"), "Object");
    EXPECT_EQ(value("r.find('f').arguments[1].name"), "arg2");
    r.clear();
    o.clear();
    engine.reset();
}

// Reflections made by script, one held by the object it describes (a
// cycle), one by the global object, go with the engine.
TEST_F(DollarTest, AnEngineGoesWhileScriptReflectionsHoldItsObjects) {
    EXPECT_EQ(value("var o = { f: function (a) {} }; o.r = o.reflect; var r = o.reflect; "
                    "var a = r.find('f').arguments; r.name + a.length"),
              "Object1");
    engine.reset();
}

// Native classes described through the dictionary of the dispatchers.
TEST_F(DollarTest, TheDispatchersDictionaryReflectsNativeClasses) {
    auto* d = new DispatcherDictionary;
    d->setName(String("Classes"));
    ASSERT_TRUE(LxCore::Dictionary::registerDictionary(d));
    const struct {
        const char* source;
        const char* wanted;
    } rows[] = {
        {"var d = $.getDictionary('Classes'); d.getGroups().join(',').indexOf('JavaScript') >= 0", "true"},
        {"var all = ',' + d.getClasses().join(',') + ','; all.indexOf(',Math,') >= 0", "true"},
        {"all.indexOf(',$,') >= 0 && all.indexOf(',Reflection,') >= 0", "true"},
        // Math's and $'s members are rows of the class itself: static.
        {"var m = d.getClass('Math'); m.name", "Math"},
        {"m.find('max')", "null"},
        {"m.find('max', true).type + ' ' + m.find('max', true).dataType", "method number"},
        {"m.find('max', true).parent", "null"},
        {"m.find('nothing', true)", "null"},
        {"[m.methods.length, m.properties.length].join()", "0,0"},
        {"m.staticMethods.length > 10 && m.staticMethods[0].type", "method"},
        {"var s = d.getClass('$'); s.find('version', true).type + ' ' + s.find('version', true).description",
         "readonly The Tavrel version"},
        {"var g = s.find('getenv', true).arguments[0]; g.name + ':' + g.dataType + ':' + g.type", "name:string:argument"},
        {"s.find('evalFile', true).arguments.length", "2"},
        {"s.staticProperties[0].name + ' ' + s.staticProperties[0].type", "error readwrite"},
        {"d.getClass('NoSuchClass')", "null"},
        {"/classdef/.test(s.toXML())", "true"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(value(row.source), row.wanted) << row.source;
    LxCore::Dictionary::unregisterDictionary(d);
    delete d;
}

const LxCore::LivePropertyInfo kPointRows[] = {
    {"x", 1, 0x62, "number\tThe x coordinate."},
    {"move", 2, 0x65, "undefined\tMoves the point.,dx:number\tAcross.,dy:number\tDown."},
    {nullptr, 0, 0, nullptr},
};

// A registered dictionary answers through Dictionary and Reflection objects.
TEST_F(DollarTest, DictionaryClassesReflect) {
    auto* d = new LxCore::Dictionary(LxCore::kScriptClient);
    d->setName(String("Shapes"));
    d->addClass(kPointRows, "Geometry\tShapes", "Point\tA point");
    ASSERT_TRUE(LxCore::Dictionary::registerDictionary(d));
    const struct {
        const char* source;
        const char* wanted;
    } rows[] = {
        {"var d = $.getDictionary('Shapes'); d.getGroups()[0]", "Geometry\tShapes"},
        {"d.getClasses()[0]", "Point\tA point"},
        {"d.getClasses('Geometry')[0]", "Point\tA point"},
        {"d.getClass('Nothing')", "null"},
        {"var p = d.getClass('Point'); p.name", "Point"},
        {"p.find('x').type + ' ' + p.find('x').dataType", "readwrite number"},
        {"p.find('x').description", "The x coordinate."},
        {"p.find('x').parent", "null"},
        {"var m = p.find('move'); m.type", "method"},
        {"m.arguments[1].name + ' ' + m.arguments[1].type + ' ' + m.arguments[1].description", "dy argument Down."},
        {"p.find('y')", "null"},
        {"p.properties[0].name + p.methods[0].name", "xmove"},
        {"/<map/.test(d.toXML())", "true"},
        {"/classdef/.test(p.toXML())", "true"},
        {"$.getDictionary('None').getGroups()", "undefined"},
        {"$.dictionary.getClass('Point')", "null"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(value(row.source), row.wanted) << row.source;
    LxCore::Dictionary::unregisterDictionary(d);
    delete d;
}

TEST(Environment, RoundTripAndNamesThatNameNothing) {
    LxCore::CoreStarted core;
    LxCore::SavedEnvironment saved({"TVS_ENV_ONE", "A"});
    String out;
    EXPECT_TRUE(LxCore::setEnvironmentVariable(String("TVS_ENV_ONE"), String("x y")));
    EXPECT_TRUE(LxCore::getEnvironmentVariable(String("TVS_ENV_ONE"), out));
    EXPECT_EQ(textOf(Variant(out)), "x y");
    EXPECT_FALSE(LxCore::setEnvironmentVariable(String("A=B"), String("x")));
    EXPECT_EQ(LxBase::environmentValue("A"), "");
    const LxCore::unit withZero[] = {'A', 0, 'B'};
    EXPECT_FALSE(LxCore::setEnvironmentVariable(String(withZero, 3), String("x")));
    EXPECT_FALSE(LxCore::getEnvironmentVariable(String(withZero, 3), out));
    EXPECT_FALSE(LxCore::setEnvironmentVariable(String(), String("x")));
    EXPECT_FALSE(LxCore::getEnvironmentVariable(String("A=B"), out));
}

// Writers and readers side by side: every reader copies under the lock.
TEST(Environment, WritersBesideReaders) {
    LxCore::CoreStarted core;
    LxCore::SavedEnvironment saved({"TVS_ENV_RACE"});
    std::thread writer([] {
        for (int i = 0; i < 2000; i++)
            LxCore::setEnvironmentVariable(String("TVS_ENV_RACE"), String(i % 2 ? "short" : "a much longer value"));
    });
    size_t seen = 0;
    for (int i = 0; i < 2000; i++)
        seen += LxBase::environmentValue("TVS_ENV_RACE").size();
    writer.join();
    EXPECT_GT(seen + 1, 0u);
}

TEST(OSVersion, NamesLinuxAndTheKernel) {
    LxCore::CoreStarted core;
    const std::string os = textOf(Variant(LxCore::getOSVersionString()));
    ASSERT_EQ(os.rfind("Linux", 0), 0u) << os;
    size_t at = 5;
    if (os.compare(at, 3, "/64") == 0)
        at += 3;
    ASSERT_EQ(os[at], ' ') << os;
    long major = -1, minor = -1;
    EXPECT_EQ(std::sscanf(os.c_str() + at + 1, "%ld.%ld ", &major, &minor), 2) << os;
}

}  // namespace
}  // namespace LxScript
