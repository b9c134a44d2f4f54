// The compiled-script text: the writer's items byte for byte, documents
// read back into trees that run and write again alike, and the reader
// refusing hostile text with an error code (also under a mutation run).
#include <random>
#include <string>
#include <vector>

#include "core/tests/TestAllocator.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/tests/RunFixtures.h"

namespace LxScript {
namespace {

using LxCore::String;

std::string narrow(const String& s) { return std::string(s.chars(), s.chars() + s.length()); }

constexpr const char* kHeader = "@TVSBIN@TV@2.0@";

class CompiledTextTest : public RunTest {
protected:
    // The document body a writer leaves after the given writes.
    template <class Writes>
    std::string written(Writes writes) {
        String out;
        {
            CompiledScriptWriter writer(out);
            writes(writer);
        }
        return narrow(out).substr(15);
    }

    // The compiled text of source, or "" with the engine's error.
    std::string compiled(const char* source) {
        Script* script = engine->compile(String(source), nullptr);
        if (!script)
            return "";
        String out;
        EXPECT_EQ(script->writeBinary(out), 0);
        script->release();
        return narrow(out);
    }

    // The reader's code for text; a tree read is freed.
    i32 readCode(const std::string& text) {
        const String source(text.c_str());
        BinaryScriptReader reader(source);
        jsOpFunction* root = nullptr;
        const i32 code = reader.read(root, String("doc"));
        EXPECT_EQ(code == 0, root != nullptr);
        delete root;
        return code;
    }

    // Writes what text reads as.
    std::string rewritten(const std::string& text) {
        const String source(text.c_str());
        BinaryScriptReader reader(source);
        jsOpFunction* root = nullptr;
        if (reader.read(root, String("doc")) != 0)
            return "error";
        jsScript script(root);
        String out;
        EXPECT_EQ(script.writeBinary(out), 0);
        return narrow(out);
    }
};

// ---------------------------------------------------------------------------
// The writer

TEST_F(CompiledTextTest, ItemsAreWrittenByteForByte) {
    const Variant ab(String("ab"));
    const Variant empty(String(""));
    const DataPoolId x = sym("x");
    struct Case {
        const char* what;
        std::function<void(CompiledScriptWriter&)> writes;
        const char* text;
    } cases[] = {
        {"5", [](CompiledScriptWriter& w) { w.writeInteger(5); }, "F"},
        {"300", [](CompiledScriptWriter& w) { w.writeInteger(300); }, "2hMB"},
        {"65536 (its last zero flushed at the end)", [](CompiledScriptWriter& w) { w.writeInteger(65536); }, "40ABA"},
        {"-1", [](CompiledScriptWriter& w) { w.writeInteger(-1); }, "yB"},
        {"-2^31 without y", [](CompiledScriptWriter& w) { w.writeInteger(i32(0x80000000)); }, "40BkA"},
        {"65535", [](CompiledScriptWriter& w) { w.writeInteger(65535); }, "2nfnf"},
        {"3.0 as an integer", [](CompiledScriptWriter& w) { w.writeNumber(3.0); }, "D"},
        {"1.5", [](CompiledScriptWriter& w) { w.writeNumber(1.5); }, "80EnYhf"},
        {"-0", [](CompiledScriptWriter& w) { w.writeNumber(-0.0); }, "80FkA"},
        {"the string \"ab\"", [&](CompiledScriptWriter& w) { w.writeConstant(&ab); }, "eCjBjC"},
        {"the empty string", [&](CompiledScriptWriter& w) { w.writeConstant(&empty); }, "eA"},
        {"a symbol, twice", [&](CompiledScriptWriter& w) { w.writeSymbol(x), w.writeSymbol(x); }, "zBjYBB"},
        {"three zero integers", [](CompiledScriptWriter& w) { for (int i = 0; i < 3; i++) w.writeInteger(0); }, "0B"},
        {"28 zero bytes", [](CompiledScriptWriter& w) { for (int i = 0; i < 28; i++) w.writeByte(0); }, "0ZA"},
        {"zeros before a letter", [](CompiledScriptWriter& w) { w.writeByte(0), w.writeByte(0), w.writeBool(true); },
         "0At"},
        {"26 and 100", [](CompiledScriptWriter& w) { w.writeByte(26), w.writeByte(100), w.writeByte(255); }, "gajEnf"},
        {"no constant", [](CompiledScriptWriter& w) { w.writeConstant(nullptr); }, "n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(written(c.writes), c.text) << c.what;
}

TEST_F(CompiledTextTest, ALineFeedFollowsEveryEightiethCharacter) {
    const std::string body = written([](CompiledScriptWriter& w) {
        for (int i = 0; i < 200; i++)
            w.writeBool(true);
    });
    // The header fills 15 of the first line's 80 characters.
    ASSERT_EQ(body.size(), 200u + 2u);
    EXPECT_EQ(body.find('\n'), 65u);
    EXPECT_EQ(body.find('\n', 66), 65u + 80u);
}

TEST_F(CompiledTextTest, ValuesTheFormatCannotHoldAreError32) {
    ASSERT_EQ(run("var o = {}"), 0);
    const Variant object = global("o");
    String out;
    CompiledScriptWriter writer(out);
    EXPECT_THROW(writer.writeConstant(&object), i32);
}

// Two scripts derived by hand from the format's table.
TEST_F(CompiledTextTest, SmallScriptsGiveTheirHandDerivedTexts) {
    struct Case {
        const char* source;
        const char* text;
    } cases[] = {
        // M, line -1, its body: b, line -1, no child, no labels and no
        // functions (a run of two zeros), one statement: J at line 0 with
        // no child or labels, holding B: the variable x (symbol 1, no
        // attribute), no value node, the constant number 1, not compound.
        // Then the root's labels, map, parameters, A and B (five zeros),
        // its name (the empty symbol 2), flags 1 (top level), line -1.
        {"x = 1", "MyBbyBn0ABJAnABjzBjYBfndBf0DzACByB"},
        // The root's list hoists one function: M at line 0 whose list
        // returns V (a, symbol 1) from slot 0; its map holds a as
        // parameter 0 (0x20000000), one parameter, A and B 0, named f
        // (symbol 2), flags and closing line 0; the root list has no
        // statements, and eight zeros run up to the root's name.
        {"function f(a) { return a; }", "MyBbyBnABMAbyBn0ABZAnAVzBjBBf0ABB40BhAB0AzBjGC0GzADByB"},
        // for (;;) {} is l at line 0 with no body, no labels and no
        // condition: a loop without end, not an empty root list.
        {"for (;;) {}", "MyBbyBn0ABlAnAn0DzABByB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compiled(c.source), std::string(kHeader) + c.text) << c.source;
}

// ---------------------------------------------------------------------------
// Reading back

TEST_F(CompiledTextTest, ATreeReadBackRunsAndWritesTheSameText) {
    const char* scripts[] = {
        "var a = [1, , 'x', -0, 1.5, null, true]; var o = {p: a, q: /a+b/gi}; o.p.length",
        "function f(n) { var s = 0; for (var i = 0; i < n; i++) { if (i % 2) continue; s += i; } return s; } f(10)",
        "var r = ''; outer: for (var k in {a: 1, b: 2}) { switch (k) { case 'a': r += 1; break; default: r += 2; "
        "break outer; } } r",
        "var t; try { throw 5; } catch (e) { t = e; } finally { t++; } t",
        "var g = function h(x) { return x ? h(x - 1) + 1 : 0; }; g(3) + (typeof g) + (delete g.p) + void 0",
        "var w = {v: 1}; with (w) { v = 2; } var d = 0; do { d++; } while (d < 3); while (d > 0) d--; "
        "w.v * 10 + d + (1 in [1, 2]) + ('a' < 'b' ? 1 : 0)",
        "const c = 4; function k() { const l = 2; var m = arguments.length; return l + m; } c + k(1, 2) + (c && 1)",
        "var u = 1; u += 2; u <<= 1; u--; --u; -u + ~u + !u + +u",
        "var e = 0, f; for (;;) if (++e > 2) break; for (f = 0;; f++) { if (f == 3) break; } e * 10 + f",
    };
    for (const char* source : scripts) {
        Variant direct, viaText;
        ASSERT_EQ(run(source, &direct), 0) << source;
        const std::string doc = compiled(source);
        ASSERT_FALSE(doc.empty()) << source;
        // A fresh engine: the first run's constants would clash.
        engine.reset(new HandEngine);
        engine->initialize();
        ASSERT_TRUE(engine->eval(String(doc.c_str()), &viaText, 0, 0, nullptr, nullptr)) << source;
        EXPECT_EQ(text(direct), text(viaText)) << source;
        // A read tree carries the compiled mark in every scope; from the
        // first rewrite on the text stays as it is.
        const std::string again = rewritten(doc);
        EXPECT_EQ(rewritten(again), again) << source;
    }
}

TEST_F(CompiledTextTest, OnlyTheCompiledMarkChangesWhenAReadTreeIsWritten) {
    Script* script = engine->compile(String("function f(a) { return a + 1; } f(1)"), nullptr);
    ASSERT_NE(script, nullptr);
    // With the mark set in both scopes first, reading and writing again
    // gives the very same text.
    jsOpFunction* root = script->getRoot();
    root->getScopeInfo()->flags |= 0x40000;
    auto* list = static_cast<jsOpStatements*>(root->getChild());
    ASSERT_EQ(list->getHoistedCount(), 1);
    list->getHoisted(0)->getScopeInfo()->flags |= 0x40000;
    String out;
    ASSERT_EQ(script->writeBinary(out), 0);
    script->release();
    EXPECT_EQ(rewritten(narrow(out)), narrow(out));
}

TEST_F(CompiledTextTest, CompiledScriptsReportThemselvesCompiled) {
    const std::string text = compiled("1 + 1");
    Script* script = engine->compile(String(text.c_str()), nullptr);
    ASSERT_NE(script, nullptr);
    EXPECT_TRUE(script->isCompiled());
    EXPECT_EQ(narrow(script->getSource()), "[compiled code]");
    script->release();
}

// A 2.0 root around one expression statement: the statement list
// (no functions, one statement), then an empty top-level scope.
std::string document(const std::string& expression, const char* header = kHeader) {
    return std::string(header) + "MyBbyBnAABJyBnA" + expression + "AAAAAzACByB";
}

TEST_F(CompiledTextTest, Version1DocumentsLackTheAttributeAndForEachFlags) {
    ASSERT_EQ(run("var x = 7;"), 0);
    Variant value;
    ASSERT_TRUE(engine->eval(String(document("jzBjYBf").c_str()), &value, 0, 0, nullptr, nullptr));
    EXPECT_EQ(text(value), "7");
    ASSERT_TRUE(engine->eval(String(document("jzBjYB", "@TVSBIN@TV@1.0@").c_str()), &value, 0, 0, nullptr, nullptr));
    EXPECT_EQ(text(value), "7");
    EXPECT_EQ(readCode(document("jzBjYB")), 8) << "2.0 needs the flag";
    EXPECT_EQ(readCode(document("jzBjYBf", "@TVSBIN@TV@1.0@")), 8) << "1.0 has none";
    EXPECT_EQ(readCode(document("jzBjYBf", "@TVSBIN@TV@2.1@")), 0);

    // for (x in o), the loop variable and the object as variables, no
    // local slot, x as the name; 2.0 adds the attribute flags and "each".
    auto loop = [](const char* header, const std::string& statement) {
        return std::string(header) + "MyBbyBnAAB" + statement + "AAAAAzADByB";
    };
    const std::string v1 = loop("@TVSBIN@TV@1.0@", "LyBnAjzBjYBjzBjPCyBB");
    const std::string v2 = loop(kHeader, "LyBnAjzBjYBfjzBjPCfyBBf");
    for (const std::string& doc : {v1, v2}) {
        ASSERT_EQ(run("var o = {a: 1, b: 2}, x = 0;"), 0);
        ASSERT_TRUE(engine->eval(String(doc.c_str()), &value, 0, 0, nullptr, nullptr)) << doc;
        EXPECT_EQ(text(global("x")), "b") << doc;
    }
    EXPECT_EQ(readCode(loop("@TVSBIN@TV@1.0@", "LyBnAjzBjYBfjzBjPCfyBBf")), 8);
}

TEST_F(CompiledTextTest, LineBreaksAnywhereChangeNothing) {
    const std::string text = compiled("var q = {a: [1.5, 'zz']}; for (var i = 0; i < 300; i++) q.a[0] += i; q.a[0]");
    std::string spaced = text.substr(0, 15);
    for (size_t i = 15; i < text.size(); i++)
        spaced += (i % 2 ? "\r\n" : "\n") + std::string(1, text[i]);
    EXPECT_EQ(rewritten(spaced), rewritten(text));
}

TEST_F(CompiledTextTest, OnlyTheThreeExactHeadersMarkCompiledText) {
    const char* notCompiled[] = {"@TVSBIN@TV@2.0", "@tvsbin@TV@2.0@M", "@TVSBIN@TV@3.0@M", " @TVSBIN@TV@2.0@M"};
    for (const char* text : notCompiled) {
        const String source(text);
        EXPECT_FALSE(BinaryScriptReader(source).isBinaryScript()) << text;
    }
    const String source("@TVSBIN@TV@2.1@");
    BinaryScriptReader reader(source);
    EXPECT_TRUE(reader.isBinaryScript());
    EXPECT_EQ(reader.getVersion(), 21);
}

// ---------------------------------------------------------------------------
// Hostile text

TEST_F(CompiledTextTest, HostileTextGetsAnErrorCode) {
    const std::string deep(1 << 20, 'k');
    const std::string open = std::string(kHeader) + "MyBbyBnAABJyBnA";
    // "typeof" and "&&" defined as symbols 1.
    const std::string typeofSymbol = "zGjUjZjQjFjPjGB", andSymbol = "zChGhGB";
    struct Case {
        const char* what;
        std::string text;
        i32 code;
    } cases[] = {
        {"good", document("FdB"), 0},
        {"cut short", open, 51},
        {"a million nested voids", document(deep + "FdB"), 27},
        {"no root", std::string(kHeader) + "n", 8},
        {"a root of another class", std::string(kHeader) + "FdB", 8},
        {"not a letter", document("["), 8},
        {"an empty XML literal", document("oA"), 0},
        {"an XML literal count past the text", open + "o4nfnfnfhfFdBA", 51},
        {"a negative XML literal count", document("oyB"), 8},
        {"an XML literal part kind past 3", document("oBFdBE"), 8},
        {"an XML literal part given as none", document("oBnA"), 8},
        {"a predicate without an object", document("rAfnFdB"), 8},
        {"a predicate without a condition", document("rAfFdBn"), 8},
        {"descendants without an object", document("qAfnnn"), 8},
        {"an XML typeof without an operand", document("s" + typeofSymbol + "n"), 8},
        {"a function where an expression stands", document("MyBnAAAAAAzACAyB"), 8},
        {"a negative list count", document("RyBf"), 8},
        {"a false list count", open + "R4nfnfnfhfnnnn", 51},
        {"a NaN integer", document("R8AAAAAAnYnf"), 8},
        {"an integer past 2^32", document("R8AAAAAAnQiB"), 8},
        {"a boolean among pending zeros", document("R0Cf"), 8},
        {"an operator of another class", document("C" + andSymbol + "FdBFdBnn"), 8},
        {"typeof of a reference", document("i" + typeofSymbol + "jzBjYCf"), 0},
        {"typeof of no reference", document("i" + typeofSymbol + "FdB"), 8},
        {"a missing right operand", document("CzBhLBFdBnnn"), 8},
        {"an assignment with no value", document("BjzBjYBfnnf"), 8},
        {"a compound assignment of a constant", document("BjzBjYBfndBt"), 8},
        {"a slot in top-level code", document("VzBjYBfA"), 8},
        {"a negative slot", document("VzBjYBfyC"), 8},
        {"a ternary missing its else", document("dFdBFdBn"), 8},
        {"a call with no callee", document("EnnF"), 8},
        {"a list where a variable stands", document("PRAfBf"), 8},
        {"a declaration without a function", document("NyBnAn"), 8},
        {"a constant type letter past strings", document("Ff"), 8},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readCode(c.text), c.code) << c.what;
}

// A statement entry of another class is dropped with the function
// expressions inside it: none stays registered with the list, whose
// statement search walks them.
TEST_F(CompiledTextTest, ADroppedEntryTakesItsFunctionExpressionsAlong) {
    // function f() {} with an empty body, not top level.
    const std::string function = "MyBbyBnAAAAAAAAzBjGBAA";
    const std::string doc = std::string(kHeader) + "MyBbyBnAAC" + "kNyBnA" + function + "JyBnAFdB" +
                            "AAAAAzACByB";
    const String source(doc.c_str());
    BinaryScriptReader reader(source);
    jsOpFunction* root = nullptr;
    ASSERT_EQ(reader.read(root, String("doc")), 0);
    EXPECT_EQ(root->findStatement(7), nullptr);
    delete root;
    Variant value;
    ASSERT_TRUE(engine->eval(source, &value, 0, 0, nullptr, nullptr));
    EXPECT_EQ(text(value), "1");
}

// Functions: layouts and slots are checked against each other, and an
// 'M' stands only where a function belongs.
TEST_F(CompiledTextTest, SlotsStayInsideTheirFunctionsLayout) {
    // function f(a) { return a; } as a hoisted entry, with the parameter's
    // slot given; the statement list holds no statements.
    auto withFunction = [](const std::string& slot, const std::string& counts) {
        return std::string(kHeader) + "MyBbyBnAB" + "MyBbyBnAAB" + "ZyBnA" + "VzBjBBf" + slot + "A" +
               "BB40BhA" + counts + "zBjGC" + "AA" + "A" + "AAAAA" + "zAD" + "B" + "yB";
    };
    EXPECT_EQ(readCode(withFunction("A", "BAA")), 0) << "slot 0 of one parameter";
    EXPECT_EQ(readCode(withFunction("B", "BAA")), 8) << "slot 1 of one";
    EXPECT_EQ(readCode(withFunction("4kBkWkYA", "BAA")), 0) << "the arguments slot";
    EXPECT_EQ(readCode(withFunction("A", "40ABAAA")), 8) << "a count past 65,535";
}

TEST_F(CompiledTextTest, RunningOutOfMemoryWhileReadingGivesNoTree) {
    const std::string doc = compiled(
        "var o = {p: [1, 'two']}; function f(x) { for (var i = 0; i < x; i++) o.p[0] += i; return o; }\n"
        "try { f(3).q = /r/g; } catch (e) { o = null; } finally { o.p.length; }\n"
        "switch (o.p[0]) { case 4: break; default: o = 1; }");
    ASSERT_FALSE(doc.empty());
    const String source(doc.c_str()), name("doc");
    const i32 cacheSize = LxCore::Heap::getCacheSize();
    LxCore::Heap::setCacheSize(0);
    bool made = false;
    int allowed = 0;
    for (; allowed < 4000 && !made; allowed++) {
        RunningOutAllocator running;
        running.allowed = allowed;
        i32 code;
        {
            LxCore::UsingAllocator scope(&running);
            BinaryScriptReader reader(source);
            jsOpFunction* root = nullptr;
            code = reader.read(root, name);
            delete root;
        }
        made = code == 0;
        if (!made) {
            ASSERT_EQ(code, -28) << "after " << allowed << " blocks";
        }
    }
    LxCore::Heap::setCacheSize(cacheSize);
    EXPECT_TRUE(made);
    EXPECT_GT(allowed, 50) << "the tree takes many blocks, each of which may fail";
}

// Mutations of valid texts: cuts, flips, splices, deep nesting, huge
// counts, bad slots and operators. Only error codes come back, and what
// still reads runs without harm.
TEST_F(CompiledTextTest, MutatedTextsGiveOnlyErrorCodes) {
    const char* sources[] = {
        "function f(n) { var s = 0; for (var i = 0; i < n; i++) { if (i % 2) continue; s += i; } return s; } f(10)",
        "var o = {a: [1, 'b', /c/g]}; try { o.a[0]++; throw o; } catch (e) { with (e) a = null; } finally { o = 1 }",
        "var r = ''; for (var k in {a: 1}) switch (k) { case 'a': r += typeof k; break; default: delete r.x; }",
        "var g = function (x) { return x && -x || void x; }; do { g(1); } while (false); g instanceof Object",
    };
    const char* inserts[] = {"yB", "4nfnfnfnf", "8AAAAAAnYnf", "kkkkkkkkkkkkkkkk", "0Z", "zEjBjCjDjEjFB",
                             "R4nfnfnfhf", "VzBjYBf2nfnf", "n", "MyBnA"};
    std::mt19937 random(20261210);
    int readCount = 0;
    for (const char* source : sources) {
        const std::string text = compiled(source);
        ASSERT_FALSE(text.empty());
        for (int round = 0; round < 400; round++) {
            std::string mutated = text;
            const size_t at = 15 + random() % (mutated.size() - 15);
            switch (random() % 5) {
                case 0:
                    mutated.resize(at);
                    break;
                case 1:
                    mutated[at] = char(' ' + random() % 95);
                    break;
                case 2: {
                    const size_t from = 15 + random() % (text.size() - 15);
                    mutated.insert(at, text.substr(from, random() % 40));
                    break;
                }
                case 3:
                    mutated.erase(at, random() % 8);
                    break;
                default:
                    mutated.insert(at, inserts[random() % (sizeof inserts / sizeof *inserts)]);
                    break;
            }
            const i32 code = readCode(mutated);
            readCount += code == 0;
            EXPECT_TRUE(code == 0 || code == 8 || code == 27 || code == 51) << code << " for " << mutated;
            // What reads also runs, to a result or an error; a short
            // deadline ends endless loops.
            if (code == 0 && readCount <= 200) {
                Variant result;
                engine->eval(String(mutated.c_str()), &result, 20, 0, nullptr, nullptr);
                engine->clearError();
            }
        }
    }
    EXPECT_GT(readCount, 0) << "some mutations still read";
}

}  // namespace
}  // namespace LxScript
