// An engine that defers its global state to the first entry that needs it
// (the syntax check's) must, when it runs after all, be the engine an eager
// one is: the same class objects, prototypes, order and attributes, the same
// objects for the collector to count, and the errors its compiles left.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/String.h"
#include "script/composition/InitTerm.h"
#include "script/composition/jsEngine.h"
#include "script/engine/Script.h"

namespace LxScript {
namespace {

using LxCore::String;

std::string textOf(const Variant& v) {
    const String s = v.toString();
    return std::string(s.chars(), s.chars() + s.length());
}

// What a script can see of the global state.
const char* const kProbe =
    "var names = ['Object', 'Function', 'Array', 'String', 'Number', 'Boolean', 'Date', 'RegExp', 'Error',\n"
    "    'Math', 'Reflection', 'ReflectionInfo', 'Dictionary', 'XML', 'QName', 'Namespace', 'XMLList', '$',\n"
    "    'isNaN', 'parseInt', 'eval'];\n"
    "var out = [];\n"
    "for (var i = 0; i < names.length; i++) {\n"
    "    var name = names[i], value = this[name];\n"
    "    out.push(name + ':' + typeof value);\n"
    "    if (value && typeof value.prototype == 'object') {\n"
    "        var p = value.prototype, own = [];\n"
    "        for (var k in p) own.push(k);\n"
    "        out.push(own.join(','), p.constructor === value, p.hasOwnProperty('toString'));\n"
    "    }\n"
    "}\n"
    "var all = [];\n"
    "for (var k in this) all.push(k);\n"
    "out.push(all.join(','), delete this.Array, typeof Array, [1, 2].join('-'), 'ab'.toUpperCase(),\n"
    "    new Error('e').message, /a/.test('a'), Math.max(1, 2), Function.prototype === Object.constructor.prototype);\n"
    "out.join(';')";

class DeferredSetUp : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        eagerEngine.reset(new jsEngine);
        deferredEngine.reset(new jsEngine);
        deferredEngine->deferGlobalState();
    }
    void TearDown() override {
        eagerEngine.reset();
        deferredEngine.reset();
        InitTerm::exit();
    }

    std::string run(jsEngine& engine) {
        Variant result;
        engine.eval(String(kProbe), &result, 0, 0, nullptr, nullptr);
        return textOf(result) + "#" + std::to_string(engine.getError().getCode());
    }

    std::unique_ptr<jsEngine> eagerEngine, deferredEngine;
};

TEST_F(DeferredSetUp, AnEngineThatRunsAfterItsCompilesHasTheWholeGlobalState) {
    jsEngine& eager = *eagerEngine;
    jsEngine& deferred = *deferredEngine;
    for (jsEngine* engine : {&eager, &deferred}) {
        Script* script = engine->compile(String("var early = [1, 2];"), nullptr);
        ASSERT_NE(script, nullptr);
        script->release();
    }
    EXPECT_FALSE(deferred.isInitialized());
    EXPECT_TRUE(eager.isInitialized());
    const std::string seen = run(eager);
    EXPECT_NE(seen.find("Array:function"), std::string::npos) << seen;
    EXPECT_EQ(run(deferred), seen);
    EXPECT_EQ(deferred.getObjects().getObjectCount(), eager.getObjects().getObjectCount());
}

TEST_F(DeferredSetUp, ACompilesErrorOutlivesTheSetUpThatComesAfter) {
    jsEngine& eager = *eagerEngine;
    jsEngine& deferred = *deferredEngine;
    for (jsEngine* engine : {&eager, &deferred}) {
        ASSERT_NE(engine->getAPI(API::kParser), nullptr);
        EXPECT_EQ(engine->compile(String("var a = 1;\nvar b = ;\n"), nullptr), nullptr);
        ASSERT_NE(engine->getAPI(API::kDebug), nullptr);
        EXPECT_TRUE(engine->isInitialized());
    }
    EXPECT_NE(eager.getError().getCode(), 0);
    EXPECT_EQ(deferred.getError().getCode(), eager.getError().getCode());
    EXPECT_EQ(deferred.getErrorInfo().line, eager.getErrorInfo().line);
    EXPECT_EQ(deferred.getErrorInfo().column, eager.getErrorInfo().column);
    EXPECT_EQ(run(deferred), run(eager));
}

}  // namespace
}  // namespace LxScript
