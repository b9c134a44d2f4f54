// What the run, error and code-generator tests share: the engine library
// started with the concrete engine, an engine whose compile can hand out
// trees built by hand, and an operation that runs a test's own code.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "core/Clock.h"
#include "core/String.h"
#include "script/composition/InitTerm.h"
#include "script/composition/jsEngine.h"
#include "script/engine/Script.h"
#include "script/engine/Workspace.h"
#include "script/engine/ops/Literals.h"
#include "script/engine/ops/Statements.h"
#include "script/frontend/Node.h"

namespace LxScript {

inline DataPoolId sym(const char* text) { return DataPool::get().add(text); }

inline std::string text(const Variant& v) {
    LxCore::String s = v.toString();
    return std::string(s.chars(), s.chars() + s.length());
}

// Gives `allowed` blocks, then none: run a step with 0, 1, 2 ... blocks
// until it succeeds, and every allocation in it has failed once.
class RunningOutAllocator : public LxCore::Allocator {
public:
    int allowed = 0;
    void* alloc(u64 size) override { return allocBlock(size); }
    void* allocBlock(u64 size) override { return allowed-- > 0 ? std::malloc(size) : nullptr; }
    void free(void* p) override { std::free(p); }
    void* realloc(void* p, u64 size) override { return allowed-- > 0 ? std::realloc(p, size) : nullptr; }
    void trim() override {}
};

// Runs the test's code as an expression of the tree.
class TestOp : public jsOpcode {
public:
    using Body = std::function<Status(jsRunner&, Variant&)>;
    explicit TestOp(Body body) : body(std::move(body)) {}
    Status execute(jsRunner& runner, Variant& result) override { return body(runner, result); }

private:
    Body body;
};

// A top-level root whose only statement is the expression op.
inline jsOpFunction* scriptOf(jsOpcode* op, DataPoolId file = 0) {
    ScopeInfo* info = new ScopeInfo;
    info->flags = ScopeInfo::kScriptScope;
    info->file = file;
    auto* root = new jsOpFunction(info, -1);
    auto* list = new jsOpStatements;
    list->appendStatement(new jsOpExprStatement(op));
    root->setChild(list);
    return root;
}

// Compiles hand-built trees when one is waiting, source text otherwise.
class HandEngine : public jsEngine {
public:
    jsOpFunction* nextTree = nullptr;

    Script* compileSource(const LxCore::String& source, const LxCore::String* name,
                          const LxCore::String* parameters) override {
        if (jsOpFunction* root = nextTree) {
            nextTree = nullptr;
            return new jsScript(root);
        }
        return jsEngine::compileSource(source, name, parameters);
    }
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        engine.reset(new HandEngine);
        engine->initialize();
    }
    void TearDown() override {
        engine.reset();
        InitTerm::exit();
        LxCore::setTickSourceForTests(nullptr);
    }

    // Source text through eval; the pending code afterwards.
    i32 run(const char* source, Variant* result = nullptr, i32 timeout = 0, i32 flags = 0) {
        Variant scratch;
        engine->eval(LxCore::String(source), result ? result : &scratch, timeout, flags, nullptr, nullptr);
        return engine->getError().getCode();
    }
    // The test's code as the script, run through eval.
    i32 runOp(TestOp::Body body, i32 timeout = 0, Variant* result = nullptr) {
        engine->nextTree = scriptOf(new TestOp(std::move(body)));
        return run("hand-built", result, timeout);
    }
    Variant global(const char* name) {
        Variant value;
        engine->getGlobalObject()->get(sym(name), value, 0);
        return value;
    }

    std::unique_ptr<HandEngine> engine;
};

}  // namespace LxScript
