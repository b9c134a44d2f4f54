// The workers compile in engines that never build their global state: their
// reports and compiled texts must be those of an engine that did.
#include <gtest/gtest.h>

#include <memory>

#include "core/InitTerm.h"
#include "modules/node-addon/source/TVDWorkers.h"
#include "script/composition/InitTerm.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"

namespace LxScript {
namespace {

using LxCore::String;

class Workers : public ::testing::Test {
protected:
    void SetUp() override {
        LxCore::InitTerm::init();
        InitTerm::init();
    }
    void TearDown() override {
        InitTerm::exit();
        LxCore::InitTerm::exit();
    }

    // What the check reports from an engine set up as every other is.
    static String eagerReport(const String& text, const String& file) {
        std::unique_ptr<Engine> engine(Engine::createEngine(0));
        auto& real = static_cast<RealEngine&>(*engine);
        real.initialize();
        if (Script* script = real.compile(text, &file)) {
            script->release();
            return String();
        }
        const LxCore::ErrorRecord* newest = engine->getError().getRecord();
        return checkSyntaxReport(engine->getError(), newest->line, engine->getErrorInfo().column, newest->length,
                                 newest->fileName);
    }

    static String eagerCompiled(const String& text, const String& file) {
        std::unique_ptr<Engine> engine(Engine::createEngine(0));
        auto& real = static_cast<RealEngine&>(*engine);
        real.initialize();
        String out;
        if (Script* script = real.compile(text, &file)) {
            script->writeBinary(out);
            script->release();
        }
        return out;
    }
};

TEST_F(Workers, ReportsAndCompiledTextsAreThoseOfASetUpEngine) {
    const String file("/s/a.tvs");
    const char* const texts[] = {
        "var a = 1;\nvar b = ;\n",                      // the parser's error
        "if (a) { b = [1, 2;\n}\n",                      // and another
        "a = @;",
        "for (;;) { continue x; }",                     // the code generator's
        "x = 'unterminated",
        "function f(a, b) { var c = /ab+c/g; return [a, {b: c}]; }\nvar d = f(1, 2) ? 1 : 0;\n",
        "var x = <a b='1'>{y}<c/></a>; var n = x.@b + x..c.length();\n",  // E4X literals and paths
        "default xml namespace = 'urn:a'; var l = <><b/></>;\n",
        "#target \"x\"\nvar s = 'a'.charCodeAt(0) + Math.PI;\n",         // a directive, built-in names
        "var r = /[/;\n",                                                 // a pattern checked when it runs
        "",
    };
    int reports = 0, compiledTexts = 0;
    for (const char* text : texts) {
        const String source(text);
        const String report = checkSyntax(source, file, String());
        EXPECT_EQ(report, eagerReport(source, file)) << text;
        reports += !report.isEmpty();
        String error;
        const String compiled = compileToText(source, file, String(), error);
        if (error.isEmpty()) {
            EXPECT_EQ(compiled, eagerCompiled(source, file)) << text;
            compiledTexts += !compiled.isEmpty();
        }
    }
    EXPECT_EQ(reports, 5);
    EXPECT_EQ(compiledTexts, 6);
}

}  // namespace
}  // namespace LxScript
