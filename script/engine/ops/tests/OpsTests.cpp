// What the script suites cannot show: error numbers and messages, fatal
// errors against try statements, deadlines in recursion, trees deeper than
// the stack budget, source forms and the compiled-text fields.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "core/ErrorCodes.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Function.h"
#include "script/engine/ops/Call.h"
#include "script/engine/ops/Exceptions.h"
#include "script/engine/ops/References.h"
#include "core/tests/TestAllocator.h"
#include "script/engine/ops/Literals.h"
#include "script/engine/ops/Statements.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

using LxCore::String;
namespace Err = LxCore::Err;

std::string message(Engine& engine) {
    String s;
    engine.getError().getMessage(s);
    return std::string(s.chars(), s.chars() + s.length());
}

// halt(): stops the run from inside a script, as a debugger command would.
class HaltFunction : public Function {
public:
    explicit HaltFunction(ObjectSpace& space) : Function(space, DataPool::get().add("halt")) {}
    void call(Object*, const LxCore::BasicArray&, Variant& result) override {
        result.clear();
        static_cast<RealEngine&>(getSpace().getEngine()).halt();
    }
};

class OpsTest : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        const ObjectRef halt = ObjectRef::adopt(new HaltFunction(engine->getObjects()));
        engine->getGlobalObject()->put(sym("halt"), Variant(halt.get()), 0);
    }
    bool isUndefined(const char* name) { return global(name).getType() == Variant::kUndefined; }
};

TEST_F(OpsTest, ErrorsCarryTheirNumberAndTheCalleesText) {
    struct Case {
        const char* source;
        i32 code;
        const char* message;
    };
    const Case cases[] = {
        {"nope()", 24, "nope is not a function"},
        {"var o = {a: {}}; o.a.b()", 24, "o.a.b is not a function"},
        {"var n = 1; n()", 24, "n is not a function"},
        {"new 5", 22, "5 does not have a constructor"},
        {"var u; new u", 22, "u does not have a constructor"},
        {"'x' in 5", 21, "5 is not an object"},
        {"with (null) { x = 1 }", 21, "null is not an object"},
        {"for (var k in void 0) {}", 21, "undefined is not an object"},
        // A callee that is no reference is its own holder first.
        {"(void 0)()", 21, "undefined is not an object"},
        {"throw 'boom'", 54, "Uncaught JavaScript exception: boom"},
        // A default value that fails does not replace the thrown value.
        {"throw {toString: function () { throw 'inner' }}", 54, "Uncaught JavaScript exception: [object Object]"},
        // Whatever the finally block raises wins.
        {"try { throw 1 } finally { throw 2 }", 54, "Uncaught JavaScript exception: 2"},
        {"try { throw 1 } finally { nope() }", 24, "nope is not a function"},
        {"try { throw 3 } catch (e if nope()) {}", 24, "nope is not a function"},
        {"this.g = 0; for (g = 0; g < 3; g++) delete this.g", 2, "g is undefined"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.source), c.code) << c.source;
        EXPECT_EQ(message(*engine), c.message) << c.source;
        engine->clearError();
    }
}

TEST_F(OpsTest, FatalErrorsPassEveryTryAndSkipFinally) {
    // Halted: no catch clause sees it, no finally block runs.
    EXPECT_EQ(run("var c = 0; try { halt() } catch (e) { c = 1 } finally { c = 2 }"), Err::kExecutionHalted);
    EXPECT_EQ(text(global("c")), "0");
    engine->clearError();
    // A deadline met inside a try block, a catch body and a finally block.
    EXPECT_EQ(run("var t = 0; try { while (true); } catch (e) { t = 1 } finally { t = 2 }", nullptr, 100), Err::kEngineTimeout);
    EXPECT_EQ(text(global("t")), "0");
    engine->clearError();
    EXPECT_EQ(run("var k = 0; try { throw 1 } catch (e) { while (true); } finally { k = 1 }", nullptr, 100), Err::kEngineTimeout);
    EXPECT_EQ(text(global("k")), "0");
    engine->clearError();
    EXPECT_EQ(run("try { throw 1 } finally { while (true); } var after = 1", nullptr, 100), Err::kEngineTimeout);
    EXPECT_TRUE(isUndefined("after"));
    EXPECT_EQ(engine->tryDepthWord(), 0u);
}

TEST_F(OpsTest, TheTryDepthFallsOnEveryWayOut) {
    const char* sources[] = {
        "try { } finally { }",
        "try { throw 1 } catch (e) { }",
        "try { throw 3 } catch (e if nope()) { }",     // a failing condition
        "try { try { throw 1 } finally { throw 2 } } catch (e) { }",
        "function f() { try { return 1 } finally { } } f()",
    };
    for (const char* source : sources) {
        run(source);
        EXPECT_EQ(engine->tryDepthWord(), 0u) << source;
        engine->clearError();
    }
}

TEST_F(OpsTest, RecursionMeetsDeadlinesAndTheStackLimit) {
    // Recursion without loops meets no loop's check: each body checks.
    EXPECT_EQ(run("function f(n) { return n ? f(n - 1) + f(n - 1) : 0 } f(40)", nullptr, 500), Err::kEngineTimeout);
    engine->clearError();
    EXPECT_EQ(run("function g() { return g() } g()"), Err::kStackOverrun);
    engine->clearError();
    // 27 is catchable; the run goes on.
    EXPECT_EQ(run("var caught = 0; function h() { h() } try { h() } catch (e) { caught = 1 }"), 0);
    EXPECT_EQ(text(global("caught")), "1");
}

// A chain of nested expressions of every recursive kind, far deeper than
// the stack budget, ends in error 27.
jsOpcode* deepExpression(i32 depth) {
    jsOpcode* op = new jsOpConstant(Variant(1));
    for (i32 i = 0; i < depth; i++) {
        switch (i % 6) {
            case 0: op = new jsOpUnary(kOpMinus, op); break;
            case 1: op = new jsOpBinary(kOpAdd, op, Variant(1), 4); break;
            case 2: op = new jsOpLogAndOr(kOpAnd, op, Variant(true), 0); break;
            case 3: op = new jsOpTernary(op, new jsOpConstant(Variant(1)), nullptr); break;
            case 4: {
                auto* list = new jsOpList(true);
                list->append(op);
                op = list;
                break;
            }
            default: {
                // id(op): the argument, then a call of a script function.
                auto* args = new jsOpList(false);
                args->append(op);
                op = new jsOpCall(new jsOpVariable(sym("id"), false), args, false);
                break;
            }
        }
    }
    return op;
}

TEST_F(OpsTest, TreesDeeperThanTheStackBudgetEndInStackOverrun) {
    ASSERT_EQ(run("function id(x) { return x }"), 0);
    engine->nextTree = scriptOf(deepExpression(20000));
    EXPECT_EQ(run("deep expression"), Err::kStackOverrun);
    engine->clearError();

    // Nested statements: blocks, ifs, loops, try and with.
    jsOpStatement* statement = new jsOpExprStatement(new jsOpConstant(Variant(1)));
    for (i32 i = 0; i < 20000; i++) {
        switch (i % 5) {
            case 0: {
                auto* list = new jsOpStatements;
                list->appendStatement(statement);
                statement = list;
                break;
            }
            case 1: statement = new jsOpIf(new jsOpConstant(Variant(true)), statement, nullptr); break;
            case 2: statement = new jsOpDo(new jsOpConstant(Variant(false)), statement); break;
            case 3: statement = new jsOpTry(statement, nullptr); break;
            default: statement = new jsOpWith(new jsOpObject(Sym::kObject), statement); break;
        }
    }
    ScopeInfo* info = new ScopeInfo;
    info->flags = ScopeInfo::kScriptScope;
    auto* root = new jsOpFunction(info, -1);
    root->setChild(statement);
    engine->nextTree = root;
    // 27 is catchable: the innermost try takes it, and having no catch
    // clause, raises it again as its pending exception.
    EXPECT_EQ(run("deep statements"), 54);
    EXPECT_EQ(engine->tryDepthWord(), 0u);
}

// Gives `allowed` blocks, then none.
class RunningOutAllocator : public LxCore::TestAllocator {
public:
    int allowed = 0;
    void* allocBlock(u64 size) override { return allowed-- > 0 ? std::malloc(size) : nullptr; }
    void* realloc(void* p, u64 size) override { return allowed-- > 0 ? std::realloc(p, size) : nullptr; }
};

// The code generator hands pointers over inside the call: a builder whose
// list cannot grow deletes what it was given (the sanitizer sees a leak).
TEST_F(OpsTest, BuildersKeepNothingWhenTheirListCannotGrow) {
    auto constant = [] { return new jsOpConstant(Variant(1)); };
    auto statement = [&] { return new jsOpExprStatement(constant()); };
    // Each case makes its operations freely, then lets the builder have
    // `n` more blocks.
    struct Case {
        const char* builder;
        std::function<void(RunningOutAllocator&, int n)> build;
    };
    const Case cases[] = {
        {"list", [&](RunningOutAllocator& r, int n) {
             jsOpList list(true);
             jsOpcode* c = constant();
             r.allowed = n;
             list.append(c);
             list.append(nullptr);
         }},
        {"statements", [&](RunningOutAllocator& r, int n) {
             jsOpStatements list;
             jsOpStatement* s = statement();
             r.allowed = n;
             list.appendStatement(s);
         }},
        {"hoisted", [&](RunningOutAllocator& r, int n) {
             jsOpStatements list;
             auto* info = new ScopeInfo;
             jsOpFunction* f = new jsOpFunction(info, 1);
             r.allowed = n;
             list.appendHoisted(f);
         }},
        {"switch", [&](RunningOutAllocator& r, int n) {
             jsOpSwitch choice(constant());
             auto* group = new jsOpList(true);
             jsOpStatement* s = statement();
             r.allowed = n;
             choice.appendCase(group, s);
         }},
        {"object", [&](RunningOutAllocator& r, int n) {
             jsOpObject object(Sym::kObject);
             jsOpcode* c = constant();
             const DataPoolId name = sym("p");
             r.allowed = n;
             object.append(name, c);
         }},
        {"try", [&](RunningOutAllocator& r, int n) {
             jsOpTry attempt(nullptr, nullptr);
             jsOpcode* c = constant();
             jsOpStatement* s = statement();
             const DataPoolId name = sym("e");
             r.allowed = n;
             attempt.appendCatch(name, c, s);
         }},
    };
    const i32 cacheSize = LxCore::Heap::getCacheSize();
    LxCore::Heap::setCacheSize(0);
    for (const Case& c : cases) {
        bool built = false;
        int failures = 0;
        for (int allowed = 0; allowed < 50 && !built; allowed++) {
            RunningOutAllocator running;
            running.allowed = 1 << 20;
            LxCore::UsingAllocator scope(&running);
            try {
                c.build(running, allowed);
                built = true;
            } catch (const std::bad_alloc&) {
                failures++;
            }
        }
        EXPECT_TRUE(built) << c.builder;
        EXPECT_GT(failures, 0) << c.builder;
    }
    LxCore::Heap::setCacheSize(cacheSize);
}

TEST_F(OpsTest, SourceForms) {
    auto name = [](const char* n) { return new jsOpVariable(sym(n), false); };
    struct Case {
        jsOpcode* op;
        const char* source;
    };
    auto* args = new jsOpList(false);
    args->append(name("x"));
    auto* elements = new jsOpList(false);
    elements->append(new jsOpConstant(Variant(1)));
    elements->append(new jsOpConstant(Variant("x")));
    auto* object = new jsOpObject(Sym::kObject);
    object->append(sym("a"), new jsOpConstant(Variant(1)));
    object->append(sym("b"), name("c"));
    ScopeInfo* info = new ScopeInfo;
    info->name = sym("f");
    const Case cases[] = {
        {new jsOpConstant(Variant("s")), "\"s\""},
        {new jsOpConstant(Variant(2.5)), "2.5"},
        {new jsOpBinary(kOpAdd, name("a"), Variant(1), 4), "a+1"},
        {new jsOpBinary(kOpShiftRightUnsigned, Variant("s"), 5, name("b")), "\"s\">>>b"},
        {new jsOpBinary(kOpSubtract, nullptr, name("b")), "b"},
        {new jsOpLogAndOr(kOpOr, name("a"), name("b")), "a||b"},
        {new jsOpUnary(kOpMinus, name("a")), "-a"},
        {new jsOpUnary(kOpNot, name("a")), "!a"},
        {new jsOpUnaryRef(kOpTypeof, name("a")), "typeof a"},
        {new jsOpUnaryRef(kOpDelete, name("a")), "delete a"},
        {new jsOpVoid(name("a")), "void (a)"},
        {new jsOpCall(name("f"), args, false), "f()"},
        {new jsOpArray(elements), "[1,\"x\"]"},
        {object, "{a:1,b:c}"},
        {new jsOpRegExp(String("a+"), String("gi")), "/a+/gi"},
        {new jsOpFunctionDecl(new jsOpFunction(info, 3)), "function f(){}"},
        {new jsOpTernary(name("a"), name("b"), name("c")), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text(Variant(c.op->sourceText())), c.source);
        delete c.op;
    }
}

TEST_F(OpsTest, OlderFilesOperatorCodesAreMapped) {
    const std::pair<i32, i32> unary[] = {{15, 10}, {16, 11}, {102, 1}, {61, 2}, {104, 3}, {8, 8}, {9, 9}};
    for (const auto& m : unary)
        EXPECT_EQ(jsOpUnary::mapStoredOperator(m.first), m.second);
    EXPECT_EQ(jsOpBinary::mapStoredOperator(78), 24);
    EXPECT_EQ(jsOpBinary::mapStoredOperator(79), 25);
    EXPECT_EQ(jsOpBinary::mapStoredOperator(15), 15);
    // Unary + - ~ answer operator methods; typeof read from an old file not.
    jsOpUnary plus(15, new jsOpConstant(Variant(1)));
    jsOpUnary typeOf(102, new jsOpConstant(Variant(1)));
    EXPECT_TRUE(plus.isOverloadable());
    EXPECT_FALSE(typeOf.isOverloadable());
    // ">" answers through "<=" and negates; "in" converts nothing.
    jsOpBinary greater(kOpGreater, nullptr, nullptr);
    EXPECT_EQ(greater.getOverloadId(), kOpLessEqual);
    EXPECT_TRUE(greater.isNegated());
}

// The fields each class writes, after the header, derived by hand from the
// format's item encodings.
TEST_F(OpsTest, WrittenFields) {
    auto written = [](jsOpcode* op) {
        String out;
        {
            CompiledScriptWriter writer(out);
            writer.writeNode(op);
        }
        delete op;
        const std::string all = text(Variant(out));
        return all.substr(15);
    };
    // 'F', number 'd', 5 'F'.
    EXPECT_EQ(written(new jsOpConstant(Variant(5))), "FdF");
    // 'h', the symbol "-" defined as index 1 ('z', length 'B', unit 45
    // 'hN', index 'B'), then the operand.
    EXPECT_EQ(written(new jsOpUnary(kOpMinus, new jsOpConstant(Variant(1)))), "hzBhNBFdB");
    // 'C', the symbol "+", no left node, the right node, the left constant
    // 2, no right constant.
    EXPECT_EQ(written(new jsOpBinary(kOpAdd, Variant(2), 4, new jsOpConstant(Variant(1)))),
              "CzBhLBnFdBdCn");
    // 'R', count 2, two nodes (the second none), the comma flag.
    auto* list = new jsOpList(true);
    list->append(new jsOpConstant(Variant(true)));
    list->append(nullptr);
    EXPECT_EQ(written(list), "RCFctnt");
}

}  // namespace
}  // namespace LxScript
