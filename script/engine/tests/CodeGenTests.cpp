// The code generator: the trees it builds for the shapes that have special
// operations, statement lines, function expressions that are dropped, deep
// inputs, and the Function constructor's text.
#include <string>

#include "core/CharClass.h"
#include "core/tests/TestAllocator.h"
#include "script/frontend/Parser.h"
#include "script/engine/CodeGen.h"
#include "script/engine/ops/Assignments.h"
#include "script/engine/ops/E4X.h"
#include "script/engine/ops/Exceptions.h"
#include "script/engine/ops/References.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

class CodeGenTest : public RunTest {
protected:
    // The script's root; null on an error (then the engine holds it).
    jsOpFunction* compile(const std::string& source) {
        release();
        script = engine->compile(LxCore::String(source.c_str()), nullptr);
        return script ? script->getRoot() : nullptr;
    }
    void release() {
        if (script)
            script->release();
        script = nullptr;
    }
    void TearDown() override {
        release();
        RunTest::TearDown();
    }
    // Statement i of the root's list.
    jsOpStatement* statement(i32 i) {
        auto* list = dynamic_cast<jsOpStatements*>(script->getRoot()->getChild());
        return list ? list->getStatement(i) : nullptr;
    }
    jsOpcode* expression(i32 i) {
        auto* s = dynamic_cast<jsOpExprStatement*>(statement(i));
        return s ? s->getExpression() : nullptr;
    }
    // The first statement of the first function declared at the top.
    jsOpStatement* firstInFunction() {
        auto* list = dynamic_cast<jsOpStatements*>(script->getRoot()->getChild());
        jsOpFunction* body = list ? list->getHoisted(0) : nullptr;
        auto* inner = body ? dynamic_cast<jsOpStatements*>(body->getChild()) : nullptr;
        return inner ? inner->getStatement(0) : nullptr;
    }

    Script* script = nullptr;
};

TEST_F(CodeGenTest, DeclarationsWithoutInitialisersGenerateNothing) {
    jsOpFunction* root = compile("var a, b;\nvar c;");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->getChild(), nullptr);
    EXPECT_EQ(root->getClosingLine(), -1);
}

TEST_F(CodeGenTest, ACompoundAssignmentToALocalTakesTheConstantAsItsRightSide) {
    ASSERT_NE(compile("function f() { var a = 0; a += 1; }"), nullptr);
    auto* list = dynamic_cast<jsOpStatements*>(script->getRoot()->getChild());
    auto* body = dynamic_cast<jsOpStatements*>(list->getHoisted(0)->getChild());
    ASSERT_NE(body, nullptr);
    auto* init = dynamic_cast<jsOpLocalAssign*>(dynamic_cast<jsOpExprStatement*>(body->getStatement(0))->getExpression());
    ASSERT_NE(init, nullptr);
    EXPECT_TRUE(init->discardsResult());    // a declaration's initialiser
    auto* add = dynamic_cast<jsOpLocalAssign*>(dynamic_cast<jsOpExprStatement*>(body->getStatement(1))->getExpression());
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->getSlot(), 0);
    EXPECT_TRUE(add->isCompound());
    EXPECT_FALSE(add->discardsResult());
    auto* binary = dynamic_cast<jsOpBinary*>(add->getValue());
    ASSERT_NE(binary, nullptr);
    EXPECT_EQ(binary->getOperator(), kOpAdd);
}

// Under the general-paths switch the tree reads no operand in its frame
// slot, so only the operations' own reads run; without it both sides of a
// sum of locals are read in place.
TEST_F(CodeGenTest, UnderTheGeneralSwitchNoOperandIsReadInItsFrameSlot) {
    for (const bool general : {false, true}) {
        engine->setGeneralPaths(general);
        ASSERT_NE(compile("function f(a, b) { a + b; }"), nullptr);
        auto* statement = dynamic_cast<jsOpExprStatement*>(firstInFunction());
        auto* sum = statement ? dynamic_cast<jsOpBinary*>(statement->getExpression()) : nullptr;
        ASSERT_NE(sum, nullptr);
        EXPECT_EQ(sum->getLeftOperand().getSlot() >= 0, !general) << general;
        EXPECT_EQ(sum->getRightOperand().getSlot() >= 0, !general) << general;
    }
}

TEST_F(CodeGenTest, CountingLoopsAreRecognisedByTheirHeader) {
    struct Row {
        const char* source;
        bool counting;
    };
    const Row rows[] = {
        {"for (i = 0; i < n; i++) ;", true},
        {"for (i = 10; i > 0; i -= 2) ;", true},
        {"for (var i = 0; i <= 5; i += 1) ;", true},
        {"for (i = 0; j < n; i++) ;", false},        // another name in the test
        {"for (i = 0; i < n; j++) ;", false},        // another name in the update
        {"for (i = x; i < n; i++) ;", false},        // no number to start from
        {"for (i = 0; i == n; i++) ;", false},       // no relational test
    };
    for (const Row& row : rows) {
        ASSERT_NE(compile(std::string("var i, j, n = 3, x = 0;\n") + row.source), nullptr) << row.source;
        jsOpStatement* loop = statement(1);
        EXPECT_EQ(dynamic_cast<jsOpSimpleFor*>(loop) != nullptr, row.counting) << row.source;
        EXPECT_EQ(dynamic_cast<jsOpFor*>(loop) != nullptr, !row.counting) << row.source;
    }
}

TEST_F(CodeGenTest, ConstantLoopConditions) {
    ASSERT_NE(compile("while (true) { break; }"), nullptr);
    EXPECT_NE(dynamic_cast<jsOpWhile*>(statement(0)), nullptr);
    ASSERT_NE(compile("while (false) { x(); }"), nullptr);
    EXPECT_EQ(script->getRoot()->getChild(), nullptr);
}

TEST_F(CodeGenTest, ASecondStatementOnALineCarriesTheLineNegated) {
    ASSERT_NE(compile("\na = 1; b = 2;\nc = 3;"), nullptr);
    EXPECT_EQ(statement(0)->getLine(), 1);
    EXPECT_EQ(statement(1)->getLine(), -1);
    EXPECT_EQ(statement(2)->getLine(), 2);
    EXPECT_TRUE(Script::isValidLine(*script, 1));
    EXPECT_FALSE(Script::isValidLine(*script, 0));
    EXPECT_FALSE(Script::isValidLine(*script, -1));
}

TEST_F(CodeGenTest, DeleteOfADeclaredLocalIsFalse) {
    ASSERT_NE(compile("function f(p) { var v; delete v; }"), nullptr);
    auto* s = dynamic_cast<jsOpExprStatement*>(firstInFunction());
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->getExpression()->isConstant());
    EXPECT_EQ(text(static_cast<jsOpConstant*>(s->getExpression())->getValue()), "false");
}

TEST_F(CodeGenTest, AFunctionExpressionThatIsDroppedLeavesNoDeclarationBehind) {
    // The with statement's empty body drops the object expression with the
    // function made in it; the statement search must not reach it.
    ASSERT_NE(compile("var a = 1;\nwith (function () { return 2; }) {}\nvar f = function () {};"), nullptr);
    for (i32 line = -1; line < 4; line++)
        script->getRoot()->findStatement(line);
    EXPECT_NE(script->getRoot()->findStatement(2), nullptr);
}

TEST_F(CodeGenTest, DeepInputsEndInAResultOrAStackOverrun) {
    struct Row {
        const char* name;
        std::string source;
    };
    std::string sum = "var a = 1; a";
    for (i32 i = 0; i < 200000; i++)
        sum += "+a";
    std::string chain = "var x = 0;";
    for (i32 i = 0; i < 20000; i++)
        chain += "if (x == " + std::to_string(i) + ") x = 1; else ";
    chain += "x = 2;";
    std::string blocks(20000, '{');
    blocks += std::string(20000, '}');
    std::string calls;
    for (i32 i = 0; i < 5000; i++)
        calls += "(function () { return ";
    calls += "1";
    for (i32 i = 0; i < 5000; i++)
        calls += "; })()";
    const Row rows[] = {{"sum", sum}, {"else-if chain", chain}, {"blocks", blocks}, {"functions", calls}};
    for (const Row& row : rows) {
        engine->clearError();
        Variant result;
        const i32 code = run(row.source.c_str(), &result);
        EXPECT_TRUE(code == 0 || code == 27) << row.name << ": " << code;
    }
}

TEST_F(CodeGenTest, TheFunctionConstructorsText) {
    const LxCore::String parameters("a, b");
    Script* made = engine->compileSource(LxCore::String(""), nullptr, &parameters);
    ASSERT_NE(made, nullptr);
    const LxCore::String& source = made->getSource();
    EXPECT_EQ(std::string(source.chars(), source.chars() + source.length()), "function anonymous(a, b) {\n}\n");
    made->release();
    // A "}" would end the function early and run the rest: refused.
    const LxCore::String body("} x = 1; {");
    EXPECT_EQ(engine->compileSource(body, nullptr, &parameters), nullptr);
    EXPECT_EQ(engine->getError().getCode(), 8);
    engine->clearError();
    const LxCore::String closing("a) { x = 1; } function y(");
    EXPECT_EQ(engine->compileSource(LxCore::String(""), nullptr, &closing), nullptr);
    EXPECT_EQ(engine->getError().getCode(), 8);
}

TEST_F(CodeGenTest, UnnamedScriptsGetConsecutiveNumbers) {
    Script* first = engine->compile(LxCore::String("1"), nullptr);
    Script* second = engine->compile(LxCore::String("2"), nullptr);
    ASSERT_TRUE(first && second);
    const LxCore::String a = first->getName();
    const LxCore::String b = second->getName();
    EXPECT_EQ(LxCore::utf16ToInt(b.chars()), LxCore::utf16ToInt(a.chars()) + 1);
    first->release();
    second->release();
}

TEST_F(CodeGenTest, SourceTextsOfReferencesAndAssignments) {
    struct Row {
        const char* source;
        const char* text;
    };
    const Row rows[] = {
        {"o.x", "o.x"},
        {"o[\"a\\\"b\"]", "o[\"a\\\"b\"]"},    // quoted, the inner quote escaped
        {"o[\"not an identifier\"]", "o[\"not an identifier\"]"},
        {"o[12]", "o[12]"},                             // numbers go unquoted
        {"o[k]", "o[k]"},
        {"this", "this"},
        {"x += 1", "x+=1"},
        {"o.p = \"s\"", "o.p=\"s\""},
        {"x++", "x++"},
        {"--o.n", "--o.n"},
    };
    for (const Row& row : rows) {
        ASSERT_NE(compile(std::string("var o, k; ") + row.source), nullptr) << row.source;
        jsOpcode* e = expression(0);
        ASSERT_NE(e, nullptr) << row.source;
        const LxCore::String made = e->sourceText();
        EXPECT_EQ(std::string(made.chars(), made.chars() + made.length()), row.text);
    }
}

TEST_F(CodeGenTest, AnXMLLiteralKeepsItsMarkupAndContentParts) {
    ASSERT_NE(compile("var k; <a>{k}</a>;"), nullptr);
    auto* literal = dynamic_cast<jsOpXMLConstant*>(expression(0));
    ASSERT_NE(literal, nullptr);
    ASSERT_EQ(literal->length(), 3);
    EXPECT_EQ(literal->kindAt(0), 0);
    EXPECT_EQ(literal->kindAt(1), 3);
    EXPECT_EQ(literal->kindAt(2), 0);
}

TEST_F(CodeGenTest, RunningOutOfMemoryWhileGeneratingGivesNoTree) {
    const LxCore::String source(
        "var a = 1, o = {p: [1, 2]};\n"
        "function f(x) { for (var i = 0; i < x; i++) a += i; return function () { return a; }; }\n"
        "try { o.p[0] = f(3)(); } catch (e) { a = -1; } finally { a++; }\n"
        "switch (a) { case 1: a = 2; break; default: a = 3; }\n"
        // Enough operations that the tree's arena grows chunk by chunk.
        "var s = 'x' + a, r = /b+/g, l = [a, o, f, s, r], t = {q: l, w: {e: s}};\n"
        "while (a < 10) { if (a % 2) { a += 3; continue; } a = a * 2 - 1; }\n"
        "do { l.push(o.p[1] ? f(a) : typeof s); } while (l.length < 20 && !t.w.e);\n");
    LxCore::Error errors;
    jsParser parser(engine.get(), sym("oom"), source, errors);
    std::unique_ptr<ScopeNode> tree(parser.parse());
    ASSERT_EQ(errors.getCode(), 0);
    const i32 cacheSize = LxCore::Heap::getCacheSize();
    LxCore::Heap::setCacheSize(0);
    bool made = false;
    int allowed = 0;
    for (; allowed < 2000 && !made; allowed++) {
        RunningOutAllocator running;
        running.allowed = allowed;
        jsOpFunction* root = nullptr;
        i32 error = 0;
        {
            LxCore::UsingAllocator scope(&running);
            jsCodeGen generator(*tree);
            root = generator.generate();
            error = generator.getError();
            if (root)
                delete root;
        }
        made = root != nullptr;
        if (!made) {
            ASSERT_EQ(error, -28) << "after " << allowed << " blocks";
        }
    }
    LxCore::Heap::setCacheSize(cacheSize);
    EXPECT_TRUE(made);
    EXPECT_GT(allowed, 50) << "the tree takes many blocks, each of which may fail";
}

}  // namespace
}  // namespace LxScript
